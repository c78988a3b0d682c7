#include "platform/split_command_line.h"

#include <gtest/gtest.h>

namespace tlq {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateArguments) {
  EXPECT_EQ(splitCommandLine(R"(prog a  b	c)"), (Args{"prog", "a", "b", "c"}));
  EXPECT_EQ(splitCommandLine(" \t\r\n prog \r\n"), (Args{"prog"}));
  EXPECT_EQ(splitCommandLine(""), Args{});
}

TEST(SplitCommandLine, QuotesAndDoubledQuotes) {
  EXPECT_EQ(splitCommandLine(R"(prog "C:\my files\run 1.tlq")"), (Args{"prog", R"(C:\my files\run 1.tlq)"}));
  EXPECT_EQ(splitCommandLine(R"(prog "x"y)"), (Args{"prog", "x", "y"}));  // a closing quote ends the argument
  EXPECT_EQ(splitCommandLine(R"(prog "a""b" c)"), (Args{"prog", "a\"b", "c"}));
  EXPECT_EQ(splitCommandLine(R"(prog "" x)"), (Args{"prog", "", "x"}));
  EXPECT_EQ(splitCommandLine(R"(prog ab"c d")"), (Args{"prog", "abc d"}));
  EXPECT_EQ(splitCommandLine(R"(prog "open)"), (Args{"prog", "open"}));
}

TEST(SplitCommandLine, BackslashesBeforeQuotes) {
  EXPECT_EQ(splitCommandLine(R"(prog \\\"x)"), (Args{"prog", R"(\"x)"}));  // three and a quote
  EXPECT_EQ(splitCommandLine(R"(prog \\"a b")"), (Args{"prog", R"(\a b)"}));  // two: one, then quoting
  EXPECT_EQ(splitCommandLine(R"(prog C:\dir\ x)"), (Args{"prog", R"(C:\dir\)", "x"}));
  EXPECT_EQ(splitCommandLine(R"(prog "C:\dir\\")"), (Args{"prog", R"(C:\dir\)"}));
}

TEST(SplitCommandLine, CarriageReturnInsideAnArgumentIsKept) {
  EXPECT_EQ(splitCommandLine("prog a\rb"), (Args{"prog", "a\rb"}));
}

}  // namespace
}  // namespace tlq
