#define PCRE2_CODE_UNIT_WIDTH 8
#include "pattern.h"

#include <pcre2.h>

#include <string>

#include "error.h"

namespace tlq {

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
  matchData_ = pcre2_match_data_create_from_pattern(code_, nullptr);
}

Pattern::~Pattern() {
  pcre2_match_data_free(matchData_);
  pcre2_code_free(code_);
}

bool Pattern::match(std::string_view subject) {
  subject_ = subject;
  const char* bytes = subject.data() ? subject.data() : "";
  int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(bytes), subject.size(), 0, 0,
                       matchData_, nullptr);
  if (rc < 0) subject_ = {};
  return rc >= 0;
}

std::string_view Pattern::group(int n) const {
  if (subject_.data() == nullptr || n < 0 ||
      static_cast<uint32_t>(n) >= pcre2_get_ovector_count(matchData_))
    return {};
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData_);
  PCRE2_SIZE begin = ovector[2 * n], end = ovector[2 * n + 1];
  if (begin == PCRE2_UNSET) return {};
  return subject_.substr(begin, end - begin);
}

}  // namespace tlq
