#include "sensors/pattern.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tlq {
namespace {

// Whether each subject matched, and its groups.
std::string outcomes(const Pattern& pattern, const std::vector<std::string>& subjects) {
  std::string all;
  for (const std::string& s : subjects) {
    Pattern::Match m = pattern.match(s);
    all += m ? "+" : "-";
    for (int g = 0; g < Pattern::Match::kMaxGroups; ++g) all += "[" + std::string(m.group(g)) + "]";
    all += "\n";
  }
  return all;
}

const std::vector<std::string> kSubjects = {
    "\x02-  15.61M\x03", "+  7.56M\x03\x02", " 12N\x03\x02", "+ 1708N\x03\x02", "x", "", "-\n 1.00N\x03\x02",
    "+  12.3N\x03\x02", std::string("\0 1.00N\x03\x02", 10), "+\t\t99.99M\x03\x02tail"};

// The interpreter runs the first matches and a compiled copy the later ones
// (where there is a JIT): both give the same outcome for every subject.
TEST(Pattern, MatchesAlikeBeforeAndAfterTheJitTakesOver) {
  Pattern pattern(R"(^(.)\s+(\d+\.\d\d)[NM]\x03\x02)");
  std::string first = outcomes(pattern, kSubjects);
  EXPECT_NE(first.find("[+  7.56M\x03\x02][+][7.56]"), std::string::npos) << first;
  for (uint64_t i = 0; i < Pattern::kMatchesBeforeJit; ++i) pattern.match("x");
  EXPECT_EQ(outcomes(pattern, kSubjects), first);
}

// Threads crossing the switch at once, with a scratch of their own or
// without, all see the same outcomes (and the thread sanitizer sees no race
// in how the compiled copy is published), and end cleanly.
TEST(Pattern, ThreadsShareOnePattern) {
  Pattern pattern(R"(^A=(\d+) .+$)");
  std::vector<std::string> subjects = {"A=44476 33 B=55570", "A=1 x", "A=x 1", "A=12 \n"};
  std::string expected = outcomes(Pattern(R"(^A=(\d+) .+$)"), subjects);
  std::vector<std::string> seen(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t)
    threads.emplace_back([&, t] {
      std::optional<PatternScratch> scratch;
      if (t % 2 == 0) scratch.emplace();
      for (uint64_t i = 0; i < Pattern::kMatchesBeforeJit; ++i) seen[t] = outcomes(pattern, subjects);
    });
  for (std::thread& t : threads) t.join();
  for (const std::string& s : seen) EXPECT_EQ(s, expected);
}

TEST(Pattern, ScratchesNest) {
  Pattern pattern(R"(^A=(\d+) .+$)");
  PatternScratch outer;
  EXPECT_EQ(pattern.match("A=7 x").group(1), "7");
  {
    PatternScratch inner;
    EXPECT_EQ(pattern.match("A=8 x").group(1), "8");
  }
  EXPECT_EQ(pattern.match("A=9 x").group(1), "9");  // the outer one again, not the freed inner one
}

}  // namespace
}  // namespace tlq
