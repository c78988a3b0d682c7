#include "xlsx/workbook.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;

const TableColumns kColumns(false, false);  // timestamp, inclino1 raw, x, y, force raw, kg

// Files this process holds open (Linux); -1 where that cannot be told.
int openFiles() {
#ifdef __linux__
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
#else
  return -1;
#endif
}

RowBlock rowOf(const std::string& raw, double x = 1.0) {
  RowBlock rows(kColumns.size());
  rows.beginRow();
  rows.setText(0, "2024-05-03T10:00:00Z");
  rows.setText(1, raw);
  rows.setNumber(2, x);
  rows.setNumber(3, -999.0);
  rows.keepRow();
  return rows;
}

WorkbookSettings settingsIn(const testing::TempDir& dir) {
  WorkbookSettings settings;
  settings.tmpdir = dir.path();
  settings.samples = 2;
  return settings;
}

TEST(TableWorkbook, AWorkbookGivenUpWritesNothingAndClosesItsFiles) {
  testing::TempDir dir;
  const int before = openFiles();
  for (int i = 0; i < 50; ++i) {  // as a batch of failing recordings would
    TableWorkbook book(dir.file("w.xlsx"), "w.xlsx", kColumns, settingsIn(dir));
    book.put(rowOf("X=1 Y=2"));
  }
  EXPECT_EQ(openFiles(), before);
  EXPECT_FALSE(testing::fileExists(dir.file("w.xlsx")));
  EXPECT_EQ(fs::directory_iterator(fs::u8path(dir.path())), fs::directory_iterator());  // nothing of the library's
}

// A cell holds 32,767 characters as a spreadsheet counts them (UTF-16
// units); a longer text is refused, not cut, and so is one the library
// counts longer with its escapes. Either way the message says where.
TEST(TableWorkbook, ATextACellCannotHoldIsRefusedWithItsPlace) {
  testing::TempDir dir;
  auto failure = [&](const std::string& raw) {
    TableWorkbook book(dir.file("w.xlsx"), "w.xlsx", kColumns, settingsIn(dir));
    book.put(rowOf("short"));
    return testing::failureOf([&] { book.put(rowOf(raw)); });
  };
  EXPECT_EQ(failure(std::string(32768, 'x')),
            "ValueError: row 3 of sheet \"data\", column inclino1_raw: a text of 32768 characters does not fit a "
            "cell (at most 32767): w.xlsx");
  // A character beyond U+FFFF counts twice.
  std::string astral;
  for (int i = 0; i < 16384; ++i) astral += "\xF0\x9F\x98\x80";
  EXPECT_EQ(failure(astral), "ValueError: row 3 of sheet \"data\", column inclino1_raw: a text of 32768 characters "
                             "does not fit a cell (at most 32767): w.xlsx");
  EXPECT_EQ(failure(std::string(32767, 'x')), "no error");
  // Within the limit, but written with escapes that the library counts: the
  // same failure for each character that takes one, with the text's own
  // length and the limit.
  std::string literal;
  for (int i = 0; i < 4000; ++i) literal += "_x0041_";
  const std::vector<std::pair<std::string, std::string>> escaped = {
      {std::string(5000, '\0'), "5000 characters takes 35000"},
      {[] { std::string t; for (int i = 0; i < 5000; ++i) t += "\xEF\xBF\xBF"; return t; }(), "5000 characters takes 35000"},
      {[] { std::string t; for (int i = 0; i < 5000; ++i) t += "\xEF\xBF\xBE"; return t; }(), "5000 characters takes 35000"},
      {literal, "28000 characters takes 52000"}};
  for (const auto& [raw, what] : escaped)
    EXPECT_EQ(failure(raw), "ValueError: row 3 of sheet \"data\", column inclino1_raw: a text of " + what +
                                " with the escapes of what a workbook cannot hold as it is, and a cell is written "
                                "with at most 32767: w.xlsx");
  // The library's own escapes are made after it counts: within the limit.
  EXPECT_EQ(failure(std::string(32000, '\x01')), "no error");
  EXPECT_EQ(failure(std::string(32767, '\x1F')), "no error");
}

TEST(TableWorkbook, AFileThatCannotBeMadeIsAnErrorWithTheSystemsReason) {
  testing::TempDir dir;
  TableWorkbook book(dir.file("missing/w.xlsx"), "w.xlsx", kColumns, settingsIn(dir));
  book.put(rowOf("x"));
  try {
    book.finish({});
    ADD_FAILURE() << "no failure";
  } catch (const IoError& e) {
    EXPECT_EQ(e.message(), "cannot write: w.xlsx");
    EXPECT_FALSE(e.reason().empty());  // the system's, as it told the library
  }
  EXPECT_FALSE(testing::fileExists(dir.file("missing/w.xlsx")));
}

// Also those of a sheet without a cell (the chart sheet of a small table):
// the library alone would keep it open as long as the process runs.
TEST(TableWorkbook, FinishedItIsAWorkbookAndTheTemporaryFilesAreGone) {
  testing::TempDir dir;
  const int before = openFiles();
  {
    TableWorkbook book(dir.file("w.xlsx"), "w.xlsx", kColumns, settingsIn(dir));
    book.put(rowOf("X=1 Y=2"));
    EXPECT_EQ(book.lines(), 1u);
    book.finish({"r.tlq", 10, 0, 1, 0, "tlqconverter", "0"});
  }
  EXPECT_EQ(openFiles(), before);
  EXPECT_EQ(testing::workbookProblems(dir.file("w.xlsx")), "");
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(fs::u8path(dir.path()))) ++files;
  EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace tlq
