#include "xlsx/workbook.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kColumns = {"timestamp", "inclino1_raw", "inclino1_x", "inclino1_y", "force_raw",
                                           "force_kg"};

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

TEST(TableWorkbook, AWorkbookGivenUpWritesNothingAndClosesItsFiles) {
  testing::TempDir dir;
  const int before = openFiles();
  for (int i = 0; i < 50; ++i) {  // as a batch of failing recordings would
    TableWorkbook book(dir.file("w.xlsx"), "w.xlsx", kColumns, {});
    book.putLine("\"2024-05-03T10:00:00Z\",\"X=1 Y=2\",1.0,2.0,\"5\",5.0");
    book.putLine(",,-999.0,-999.0,,");
  }
  EXPECT_EQ(openFiles(), before);
  EXPECT_FALSE(testing::fileExists(dir.file("w.xlsx")));
}

TEST(TableWorkbook, WhatCannotBeWrittenIsAnError) {
  testing::TempDir dir;
  {
    TableWorkbook book(dir.file("w.xlsx"), "w.xlsx", kColumns, {});
    // A cell holds 32,767 characters at most: a longer text is refused, not cut.
    std::string line = "\"t\",\"" + std::string(32768, 'x') + "\",1.0,2.0,,";
    EXPECT_EQ(testing::failureOf([&] { book.putLine(line); }),
              "ValueError: a text of 32768 characters does not fit a cell (at most 32767): w.xlsx");
  }
  // A folder that is not there: the library cannot make the file.
  TableWorkbook book(dir.file("missing/w.xlsx"), "w.xlsx", kColumns, {});
  book.putLine("\"t\",\"x\",1.0,2.0,,");
  try {
    book.finish({});
    ADD_FAILURE() << "no failure";
  } catch (const IoError& e) {
    EXPECT_EQ(e.message(), "cannot write: w.xlsx");
    EXPECT_FALSE(e.reason().empty());  // the system's, as it told the library
  }
  EXPECT_FALSE(testing::fileExists(dir.file("missing/w.xlsx")));
}

TEST(TableWorkbook, FinishedItIsAWorkbook) {
  testing::TempDir dir;
  TableWorkbook book(dir.file("w.xlsx"), "w.xlsx", kColumns, {});
  book.putLine("\"2024-05-03T10:00:00Z\",\"X=1 Y=2\",1.0,2.0,\"5\",5.0");
  EXPECT_EQ(book.lines(), 1u);
  book.finish({"r.tlq", 10, 0, 1, 0, "tlqconverter", "0"});
  EXPECT_TRUE(testing::readFile(dir.file("w.xlsx")).starts_with("PK\x03\x04"));
}

}  // namespace
}  // namespace tlq
