// A fixed Perl-compatible pattern, compiled once and matched anchored at the
// first byte of the subject.
#pragma once

#include <cstddef>
#include <string_view>

typedef struct pcre2_real_code_8 pcre2_code_8;
typedef struct pcre2_real_match_data_8 pcre2_match_data_8;

namespace tlq {

class Pattern {
 public:
  // Compiles with the newline convention set to LF and no other option
  // (no case folding, no multi-line mode, no UTF): "." matches every byte but
  // LF and "$" matches at the end or before a single final LF. A pattern that
  // does not compile raises a ValueError.
  explicit Pattern(std::string_view pattern);
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // True when the pattern matches at the first byte of `subject`; the match
  // need not reach the end unless the pattern says so. Afterwards group(n)
  // views capture group n of `subject` (empty when it did not take part).
  bool match(std::string_view subject);
  std::string_view group(int n) const;

 private:
  pcre2_code_8* code_ = nullptr;
  pcre2_match_data_8* matchData_ = nullptr;
  std::string_view subject_;
};

}  // namespace tlq
