#include "app/options.h"

#include <gtest/gtest.h>

#include "app/batch_text.h"
#include "test_support.h"

namespace tlq {
namespace {

TEST(BatchOptions, OptionsAmongThePaths) {
  BatchOptions o = parseBatchArguments({"--out", "o", "a", "--split-rows=7", "-", "--", "--out", "-x"});
  EXPECT_EQ(o.outDir, "o");
  EXPECT_EQ(o.splitRows, 7u);
  EXPECT_EQ(o.paths, (std::vector<std::string>{"a", "-", "--out", "-x"}));
  o = parseBatchArguments({"--out=o p", "--split-rows", "1048575", ""});
  EXPECT_EQ(o.outDir, "o p");
  EXPECT_EQ(o.splitRows, 1048575u);
  EXPECT_EQ(o.paths, std::vector<std::string>{""});
  EXPECT_FALSE(o.update || o.dryRun || o.listSeparator || o.decimalSeparator);
  o = parseBatchArguments({"--update", "a", "--dry-run", "--log=l.csv", "--list-separator", ";",
                           "--decimal-separator=,"});
  EXPECT_TRUE(o.update && o.dryRun);
  EXPECT_FALSE(o.quiet);
  EXPECT_TRUE(parseBatchArguments({"a", "--quiet"}).quiet);
  EXPECT_EQ(testing::failureOf([] { parseBatchArguments({"--quiet=yes", "a"}); }), "UsageError: --quiet takes no value");
  EXPECT_EQ(testing::failureOf([] { parseBatchArguments({"--quiet", "--quiet", "a"}); }),
            "UsageError: --quiet is given twice");
  EXPECT_EQ(o.logFile, "l.csv");
  EXPECT_EQ(o.listSeparator, ';');
  EXPECT_EQ(o.decimalSeparator, ',');
  EXPECT_EQ(o.paths, std::vector<std::string>{"a"});
}

TEST(BatchOptions, UsageErrorsSayWhatIsWrong) {
  auto failure = [](std::vector<std::string> args) {
    return testing::failureOf([&] { parseBatchArguments(args); });
  };
  EXPECT_EQ(failure({}), "UsageError: --batch needs a recording or a folder");
  EXPECT_EQ(failure({"--"}), "UsageError: --batch needs a recording or a folder");
  EXPECT_EQ(failure({"--outdir", "x"}), "UsageError: unknown option \"--outdir\"");
  EXPECT_EQ(failure({"x", "--out"}), "UsageError: --out needs a value");
  EXPECT_EQ(failure({"--out=", "x"}), "UsageError: --out needs a folder");
  EXPECT_EQ(failure({"--out", "a", "--out=b", "x"}), "UsageError: --out is given twice");
  for (const char* n : {"0", "-1", "+3", "3x", "", "18446744073709551616"})
    EXPECT_EQ(failure({"--split-rows", n, "x"}),
              "UsageError: --split-rows needs a whole number from 1 on, not \"" + std::string(n) + "\"");
  EXPECT_EQ(failure({"--update=yes", "x"}), "UsageError: --update takes no value");
  EXPECT_EQ(failure({"--dry-run", "--dry-run", "x"}), "UsageError: --dry-run is given twice");
  EXPECT_EQ(failure({"x", "--log"}), "UsageError: --log needs a value");
  EXPECT_EQ(failure({"--log=", "x"}), "UsageError: --log needs a file");
  // Only what keeps a table readable: a space, a tab or a punctuation mark
  // but the quote and "_"; no sign as the decimal separator; never one for both.
  const std::string list = "UsageError: --list-separator needs one character: a space, a tab or one of "
                           "!#$%&'()*+,-./:;<=>?@[\\]^`{|}~, not \"";
  for (const char* c : {"", ";;", "\xc3\xa4", "\"", "\r", "\n", "x", "0", "_"})
    EXPECT_EQ(failure({"--list-separator", c, "x"}), list + displayText(c) + "\"");
  const std::string decimal = "UsageError: --decimal-separator needs one character: one of "
                              "!#$%&'()*,./:;<=>?@[\\]^`{|}~, not \"";
  for (const char* c : {"", " ", "\t", "-", "+", "e"})
    EXPECT_EQ(failure({"--decimal-separator=" + std::string(c), "x"}), decimal + displayText(c) + "\"");
  for (const char* c : {" ", "\t", "|", "-", "\\", "~"})
    EXPECT_EQ(parseBatchArguments({"--list-separator", c, "x"}).listSeparator, c[0]);
  EXPECT_EQ(failure({"--list-separator=;", "--decimal-separator=;", "x"}),
            "UsageError: the list and the decimal separator need to differ, not \";\" for both");
  EXPECT_EQ(failure({"--bad\x1b[2J", "x"}), "UsageError: unknown option \"--bad\\x1b[2J\"");
  EXPECT_TRUE(parseBatchArguments({"--delete-stale-parts", "x"}).deleteStaleParts);
  EXPECT_EQ(failure({"--xlsx", "--delete-stale-parts", "x"}),
            "UsageError: --delete-stale-parts does not go with --xlsx (a workbook has no parts)");
  for (std::vector<std::string> args : {std::vector<std::string>{"--xlsx", "--split-rows", "5", "x"},
                                        std::vector<std::string>{"--split-rows=5", "x", "--xlsx"}})
    EXPECT_EQ(failure(args),
              "UsageError: --split-rows does not go with --xlsx (a workbook goes on over further sheets)");
  EXPECT_EQ(failure({"--xlsx=1", "x"}), "UsageError: --xlsx takes no value");
  EXPECT_TRUE(parseBatchArguments({"x", "--xlsx"}).workbooks);
  EXPECT_FALSE(parseBatchArguments({"x"}).workbooks);
}

TEST(BatchText, ProgressLine) {
  EXPECT_EQ(progressLine(0, 1000, 0, 150'000'000, 0.1), "0/1000 recordings, 0.0/150.0 MB");
  EXPECT_EQ(progressLine(12, 1000, 34'500'000, 150'000'000, 0.5),
            "12/1000 recordings, 34.5/150.0 MB, 69.0 MB/s, 0:02 left");
  EXPECT_EQ(progressLine(1, 2, 1'000'000, 8'000'000'000, 1), "1/2 recordings, 1.0/8000.0 MB, 1.0 MB/s, 2:13:19 left");
  EXPECT_EQ(progressLine(2, 2, 5, 5, 3), "2/2 recordings, 0.0/0.0 MB, 0.0 MB/s, 0:00 left");
}

TEST(BatchText, MergeProgressLine) {
  EXPECT_EQ(mergeProgressLine("planning", 0, 10, 0, 50'000'000, 0.1, std::nullopt), "planning: 0/10 recordings, 0.0/50.0 MB");
  EXPECT_EQ(mergeProgressLine("planning", 3, 10, 15'000'000, 50'000'000, 0.5, 12.2),
            "planning: 3/10 recordings, 15.0/50.0 MB, 30.0 MB/s, 0:13 left");
  EXPECT_EQ(mergeProgressLine("merging", 9, 10, 50'000'000, 50'000'000, 2, 0.5),
            "merging: 9/10 recordings, 50.0/50.0 MB, finishing");
  EXPECT_EQ(mergeProgressLine("merging", 10, 10, 50'000'000, 50'000'000, 2, std::nullopt),
            "merging: 10/10 recordings, 50.0/50.0 MB, 25.0 MB/s");
}

TEST(BatchText, Summary) {
  BatchTotals t{.converted = 1, .failed = 0, .notConverted = 0, .lines = 1, .dropped = 1, .bytesRead = 1'250'000,
                .seconds = 0.126, .cancelled = false};
  EXPECT_EQ(totalsLine(t),
            "1 recording converted, 0 failed, 1 line written, 1 entry dropped for a failed CRC, 1.2 MB read in 0.13 s");
  t = {.converted = 3, .failed = 2, .notConverted = 5, .lines = 20, .dropped = 0, .bytesRead = 0, .seconds = 61,
       .cancelled = true};
  EXPECT_EQ(totalsLine(t), "cancelled: 3 recordings converted, 2 failed, 5 not converted, 20 lines written, "
                           "0 entries dropped for a failed CRC, 0.0 MB read in 61.00 s");
  EXPECT_EQ(summaryMessage(t, 10), "The conversion was cancelled.\n\n3 of 10 recordings converted, 2 failed, "
                                   "5 not converted.\n20 lines written, 0 entries dropped for a failed CRC.\n"
                                   "0.0 MB read in 61.00 s.");
  EXPECT_EQ(summaryMessage({}, 0), "No recordings (*.tlq) were found.");
  EXPECT_EQ(failureLine("d/r.tlq", "IOError", "cannot open: d/r.tlq", "", "/tmp/rep.txt", ""),
            "failed: d/r.tlq: IOError: cannot open: d/r.tlq (report: /tmp/rep.txt)");
  EXPECT_EQ(failureLine("d/r.tlq", "IOError", "cannot write string to file", "No space left on device", "/t/r.txt", ""),
            "failed: d/r.tlq: IOError: cannot write string to file (No space left on device) (report: /t/r.txt)");
  EXPECT_EQ(failureLine("r", "KeyError", "key not found: data", "", "", "unable to find temp directory"),
            "failed: r: KeyError: key not found: data (no report: unable to find temp directory)");
  t = {.converted = 2, .failed = 0, .notConverted = 0, .upToDate = 998};
  EXPECT_EQ(totalsLine(t), "2 recordings converted, 998 up to date, 0 failed, 0 lines written, "
                           "0 entries dropped for a failed CRC, 0.0 MB read in 0.00 s");
  t = {.converted = 2, .staleKept = 1, .staleRemoved = 3};
  EXPECT_EQ(totalsLine(t), "2 recordings converted, 0 failed, 1 stale part not removed, 3 stale parts removed, "
                           "0 lines written, 0 entries dropped for a failed CRC, 0.0 MB read in 0.00 s");
  EXPECT_EQ(summaryMessage(t, 2), "The recordings were converted.\n\n2 of 2 recordings converted, 0 failed, "
                                  "1 stale part not removed, 3 stale parts removed.\n0 lines written, 0 entries "
                                  "dropped for a failed CRC.\n0.0 MB read in 0.00 s.");
  t = {.cancelled = true, .searchCut = true};
  EXPECT_EQ(summaryMessage(t, 0), "The conversion was cancelled.\n\nThe search for recordings was cut short: only "
                                  "those found are counted.\n\n0 of 0 recordings converted, 0 failed.\n0 lines "
                                  "written, 0 entries dropped for a failed CRC.\n0.0 MB read in 0.00 s.");
}

TEST(BatchText, NamesShownEscaped) {
  EXPECT_EQ(displayText("M\xc3\xa4rz \xcf\x89/\xe6\x95\xb0.tlq"), "M\xc3\xa4rz \xcf\x89/\xe6\x95\xb0.tlq");
  EXPECT_EQ(displayText("a\nb\tc\rd"), "a\\nb\\tc\\rd");
  EXPECT_EQ(displayText("\x1b[2J\x1b]0;x\x07\x7f"), "\\x1b[2J\\x1b]0;x\\x07\\x7f");
  // C1 controls, stray and overlong bytes, a surrogate, a sequence cut short.
  EXPECT_EQ(displayText("\xc2\x9b\xc2\xa0"), "\\xc2\\x9b\xc2\xa0");
  EXPECT_EQ(displayText("\xff\xc0\xaf\xed\xa0\x80\xe6\x95"), "\\xff\\xc0\\xaf\\xed\\xa0\\x80\\xe6\\x95");
  // A backslash in a name, where it is no path separator, is doubled: no
  // name then looks like another.
#ifdef _WIN32
  EXPECT_EQ(displayText("C:\\data\\new\\x.tlq"), "C:\\data\\new\\x.tlq");
#else
  EXPECT_EQ(displayText("a\\nb\\x1b"), "a\\\\nb\\\\x1b");
  EXPECT_NE(displayText("a\\nb"), displayText("a\nb"));
#endif
}

TEST(BatchText, TextMadeValidUtf8) {
  EXPECT_EQ(utf8Text("M\xc3\xa4rz\n\x1b\\x"), "M\xc3\xa4rz\n\x1b\\x");  // exact where it is UTF-8
  EXPECT_EQ(utf8Text("`\xe2` \xff\xc0\xaf\xe6\x95"), "`\\xe2` \\xff\\xc0\\xaf\\xe6\\x95");
}

TEST(BatchText, LogFieldsQuotedAsRfc4180) {
  EXPECT_EQ(logField("d/a b.tlq"), "d/a b.tlq");
  EXPECT_EQ(logField("a,b"), "\"a,b\"");
  EXPECT_EQ(logField("say \"x\"\nnext"), "\"say \"\"x\"\"\nnext\"");
  EXPECT_EQ(logField("a,b", ';'), "a,b");
  EXPECT_EQ(logField("a;b", ';'), "\"a;b\"");
}

}  // namespace
}  // namespace tlq
