#define PCRE2_CODE_UNIT_WIDTH 8
#include "pattern.h"

#include <pcre2.h>

#include <new>
#include <optional>
#include <string>

#include "error.h"
#include "platform/thread_pointer.h"

namespace tlq {

namespace {

// The innermost scratch of this thread. A plain pointer: a thread-local
// object with a destructor would be destroyed at thread exit, which some
// runtimes (MinGW's) do after its storage is gone.
using Innermost = ThreadPointer<PatternScratch, PatternScratch>;

// The JIT's stack for the matches of a scratch, as large as the one it
// would otherwise make on the machine stack for each match (a frame of
// 32 KB, whose pages Windows has a probe touch one by one every time).
constexpr size_t kJitStack = 32 << 10;

}  // namespace

Pattern::Pattern(std::string_view pattern) {
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(context, PCRE2_NEWLINE_LF);
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  // Anchoring is a compile option rather than a match option so that the
  // JIT can run the match (it does not take PCRE2_ANCHORED at match time);
  // either way the match starts at the first byte only.
  code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                        PCRE2_ANCHORED, &errorCode, &errorOffset, context);
  pcre2_compile_context_free(context);
  if (!code_) {
    PCRE2_UCHAR text[256];
    pcre2_get_error_message(errorCode, text, sizeof text);
    throw ValueError("cannot compile pattern " + std::string(pattern) + ": " +
                     reinterpret_cast<const char*>(text));
  }
}

Pattern::~Pattern() {
  pcre2_code_free(jit_.load());
  pcre2_code_free(code_);
}

// The compiled copy once there is one. The thread whose match is the
// kMatchesBeforeJit-th makes it, while the others go on in the interpreter;
// where there is no JIT the interpreter runs for good.
const pcre2_code* Pattern::codeForMatch() const {
  if (const pcre2_code* jit = jit_.load(std::memory_order_acquire)) return jit;
  if (matches_.fetch_add(1, std::memory_order_relaxed) + 1 == kMatchesBeforeJit) {
    pcre2_code* copy = pcre2_code_copy(code_);
    if (copy && pcre2_jit_compile(copy, PCRE2_JIT_COMPLETE) == 0) {
      jit_.store(copy, std::memory_order_release);
      return copy;
    }
    pcre2_code_free(copy);
  }
  return code_;
}

PatternScratch::PatternScratch() : PatternScratch(true) {}

PatternScratch::PatternScratch(bool jitStack)
    : data_(pcre2_match_data_create(Pattern::Match::kMaxGroups, nullptr)),
      context_(jitStack ? pcre2_match_context_create(nullptr) : nullptr),
      jitStack_(jitStack ? pcre2_jit_stack_create(kJitStack, kJitStack, nullptr) : nullptr),
      outer_(Innermost::get()) {
  if (!data_ || (jitStack && (!context_ || !jitStack_))) {
    release();
    throw std::bad_alloc();
  }
  if (jitStack) pcre2_jit_stack_assign(context_, nullptr, jitStack_);
  Innermost::set(this);
}

PatternScratch::~PatternScratch() {
  Innermost::set(outer_);
  release();
}

void PatternScratch::release() {
  pcre2_jit_stack_free(jitStack_);
  pcre2_match_context_free(context_);
  pcre2_match_data_free(data_);
}

Pattern::Match Pattern::match(std::string_view subject) const {
  // Where the thread holds no scratch, one for this match alone: its data,
  // and the machine stack for the JIT.
  std::optional<PatternScratch> own;
  PatternScratch* scratch = Innermost::get();
  if (!scratch) scratch = &own.emplace(false);
  pcre2_match_data* data = scratch->data_;
  Match result;
  const char* bytes = subject.data() ? subject.data() : "";
  // The count of pairs set: the highest group that took part, plus one. The
  // compiled copy is called directly, past the checks of pcre2_match that
  // a fixed pattern and a subject with a length cannot fail.
  const pcre2_code* code = codeForMatch();
  auto subjectBytes = reinterpret_cast<PCRE2_SPTR>(bytes);
  int set = code == code_ ? pcre2_match(code, subjectBytes, subject.size(), 0, 0, data, nullptr)
                          : pcre2_jit_match(code, subjectBytes, subject.size(), 0, 0, data, scratch->context_);
  if (set >= 0) {
    result.matched_ = true;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    for (int n = 0; n < set && n < Match::kMaxGroups; ++n) {
      if (ovector[2 * n] == PCRE2_UNSET) continue;
      result.groups_[n] = subject.substr(ovector[2 * n], ovector[2 * n + 1] - ovector[2 * n]);
    }
  }
  return result;
}

}  // namespace tlq
