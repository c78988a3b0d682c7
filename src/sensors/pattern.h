// A fixed Perl-compatible pattern, compiled once and matched anchored at the
// first byte of the subject. A pattern keeps no state of its matches (each
// match uses match data of its own thread), so one pattern serves every
// thread at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

typedef struct pcre2_real_code_8 pcre2_code_8;
typedef struct pcre2_real_match_data_8 pcre2_match_data_8;
typedef struct pcre2_real_match_context_8 pcre2_match_context_8;
typedef struct pcre2_real_jit_stack_8 pcre2_jit_stack_8;

namespace tlq {

// Match data and a JIT stack for every pattern matched on this thread while
// the scratch lives (a converter holds one), instead of those made for each
// match. Made, used and destroyed on one thread; scratches nest.
class PatternScratch {
 public:
  PatternScratch();
  // Without a JIT stack of its own (the JIT then makes one on the machine
  // stack for each match): for a scratch of one match.
  explicit PatternScratch(bool jitStack);
  ~PatternScratch();
  PatternScratch(const PatternScratch&) = delete;
  PatternScratch& operator=(const PatternScratch&) = delete;

 private:
  friend class Pattern;
  void release();

  pcre2_match_data_8* data_;
  pcre2_match_context_8* context_;
  pcre2_jit_stack_8* jitStack_;
  PatternScratch* outer_;
};

class Pattern {
 public:
  // The outcome of one match: whether it matched, and its capture groups as
  // views of the subject.
  class Match {
   public:
    static constexpr int kMaxGroups = 4;  // group 0 (the whole match) and 1 to 3

    explicit operator bool() const { return matched_; }
    // Capture group n; empty when it did not take part or does not exist.
    std::string_view group(int n) const { return n >= 0 && n < kMaxGroups ? groups_[n] : std::string_view(); }

   private:
    friend class Pattern;
    bool matched_ = false;
    std::string_view groups_[kMaxGroups];
  };

  // Compiles with the newline convention set to LF and no other option
  // (no case folding, no multi-line mode, no UTF): "." matches every byte but
  // LF and "$" matches at the end or before a single final LF. A pattern that
  // does not compile raises a ValueError. Matching starts in the interpreter;
  // after kMatchesBeforeJit matches a copy compiled to machine code takes
  // over where the platform has a JIT, so that a small recording does not
  // pay for compiling what it barely uses.
  explicit Pattern(std::string_view pattern);
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // Matches at the first byte of `subject`; the match need not reach the end
  // unless the pattern says so.
  Match match(std::string_view subject) const;

  static constexpr uint64_t kMatchesBeforeJit = 1024;

 private:
  const pcre2_code_8* codeForMatch() const;

  pcre2_code_8* code_ = nullptr;                       // for the interpreter
  mutable std::atomic<pcre2_code_8*> jit_ = nullptr;   // published once compiled
  mutable std::atomic<uint64_t> matches_ = 0;          // until then
};

}  // namespace tlq
