#include "app/report.h"

#include <gtest/gtest.h>

#include "error.h"
#include "platform/system.h"
#include "test_support.h"

namespace tlq {
namespace {

TEST(QuoteShellWindows, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(quoteShellWindows("plain"), "plain");
  EXPECT_EQ(quoteShellWindows(""), "\"\"");
  EXPECT_EQ(quoteShellWindows("a b"), "\"a b\"");
  EXPECT_EQ(quoteShellWindows("a\tb"), "\"a\tb\"");
  EXPECT_EQ(quoteShellWindows(R"(C:\dir\)"), R"(C:\dir\)");
  EXPECT_EQ(quoteShellWindows(R"(C:\my dir\)"), R"("C:\my dir\\")");
  EXPECT_EQ(quoteShellWindows(R"(say "hi")"), R"("say \"hi\"")");
  EXPECT_EQ(quoteShellWindows(R"(a\"b)"), R"(a\\\"b)");
  EXPECT_EQ(quoteShellWindows(R"(a\b)"), R"(a\b)");
}

TEST(ErrorReport, PrefixLines) {
  std::string prefix = getErrorReportPrefix();
  std::string expected = "Please send this error report to " TLQ_SUPPORT_EMAIL "\r\n" + std::string(55, '-') +
                         "\r\n\r\nCMD: " + getAppFilename();
  EXPECT_EQ(prefix.substr(0, expected.size()), expected);
  EXPECT_TRUE(prefix.ends_with("\r\n"));
}

TEST(ErrorReport, FileLayout) {
  testing::TempDir dir;
  testing::ScopedEnv tmp("TMP", dir.path().c_str());
  Error failure = [] {
    TraceFrame main("tlqconverter.cpp", 12, "main");
    TraceFrame convert("convert.cpp", 34, "mainConvert");
    return Error(IoError("cannot open: x"));
  }();
  std::string path = dumpTrace(formatTrace(failure), "C:\\rec\\Höhe.tlq", false);
  std::string name = path.substr(dir.path().size() + 1);
  ASSERT_EQ(name.size(), 19u + 8u + 4u) << name;
  EXPECT_TRUE(name.starts_with("tlqconverter_error_"));
  EXPECT_TRUE(name.ends_with(".txt"));
  EXPECT_EQ(testing::readFile(path), getErrorReportPrefix() +
                                         "\r\n"
                                         "param: C:\\rec\\Höhe.tlq\r\n"
                                         "tlqconverter.cpp(12)     main\r\n"
                                         "convert.cpp(34)          mainConvert\r\n");
}

TEST(ErrorReport, EmptyParamAndTrace) {
  testing::TempDir dir;
  testing::ScopedEnv tmp("TMP", dir.path().c_str());
  std::string path = dumpTrace("", "", false);
  EXPECT_EQ(testing::readFile(path), getErrorReportPrefix() + "\r\nparam: \r\n");
}

}  // namespace
}  // namespace tlq
