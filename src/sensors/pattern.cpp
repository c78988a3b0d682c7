#define PCRE2_CODE_UNIT_WIDTH 8
#include "pattern.h"

#include <pcre2.h>

#include <cstdlib>
#include <string>

#include "error.h"

namespace tlq {

namespace {

// PCRE2 wants its match data from an allocator. Each match takes it from a
// block on the caller's stack instead of the heap (what does not fit, such
// as the interpreter's frames where there is no JIT, comes from the heap and
// goes back to it), so matching needs no state kept between calls.
class StackArena {
 public:
  static void* allocate(size_t size, void* arena) { return static_cast<StackArena*>(arena)->take(size); }
  static void release(void* p, void* arena) {
    if (!static_cast<StackArena*>(arena)->owns(p)) std::free(p);
  }

 private:
  void* take(size_t size) {
    size = (size + 15) & ~size_t{15};
    if (size > sizeof block_ - used_) return std::malloc(size);
    void* p = block_ + used_;
    used_ += size;
    return p;
  }
  bool owns(const void* p) const { return p >= block_ && p < block_ + sizeof block_; }

  alignas(16) unsigned char block_[512];
  size_t used_ = 0;
};

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
  pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);  // where there is no JIT, the interpreter runs
}

Pattern::~Pattern() { pcre2_code_free(code_); }

Pattern::Match Pattern::match(std::string_view subject) const {
  StackArena arena;
  pcre2_general_context* memory = pcre2_general_context_create(StackArena::allocate, StackArena::release, &arena);
  pcre2_match_data* data = pcre2_match_data_create(Match::kMaxGroups, memory);
  Match result;
  const char* bytes = subject.data() ? subject.data() : "";
  // The count of pairs set: the highest group that took part, plus one.
  int set = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(bytes), subject.size(), 0, 0, data, nullptr);
  if (set >= 0) {
    result.matched_ = true;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    for (int n = 0; n < set && n < Match::kMaxGroups; ++n) {
      if (ovector[2 * n] == PCRE2_UNSET) continue;
      result.groups_[n] = subject.substr(ovector[2 * n], ovector[2 * n + 1] - ovector[2 * n]);
    }
  }
  pcre2_match_data_free(data);
  pcre2_general_context_free(memory);
  return result;
}

}  // namespace tlq
