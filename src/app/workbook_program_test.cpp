// --xlsx as a user meets it: the single conversion and the batch in real
// processes, on real files. What the cells hold is read back by real readers
// (tools/reference/workbook_check.py and workbook_libreoffice.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/batch_fixture.h"
#include "app/program_fixture.h"
#include "convert/convert.h"
#include "platform/folders.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::recordingOf;
using testing::writeFile;

// A workbook: a zip holding the sheets (the names of its members are stored
// as they are).
bool isWorkbook(const std::string& path) {
  if (!testing::fileExists(path)) return false;
  std::string bytes = readFile(path);
  return bytes.starts_with("PK\x03\x04") && bytes.find("xl/worksheets/sheet1.xml") != std::string::npos;
}

std::vector<std::string> scratchFiles(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(fs::u8path(folder)))
    if (testing::utf8(e.path().filename()).starts_with("tlqconverter_")) found.push_back(testing::utf8(e.path()));
  return found;
}

// The names of the files in a folder, in order (read by the program's own
// listing, which takes long paths under Windows too).
std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const FolderEntry& e : listFolder(folder).value_or(std::vector<FolderEntry>()))
    if (e.kind == PathKind::file) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

using WorkbookProgram = Program;

TEST_F(WorkbookProgram, ConvertsTheRecordingAndOpensTheWorkbook) {
  std::string folder = dir.file("Mess daten");
  fs::create_directory(fs::u8path(folder));
  std::string recording = folder + "/Messung Höhe 1.tlq";
  writeFile(recording, recordingOf(30, 2));
  auto r = run({"--xlsx", recording});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string xlsx = folder + "/Messung Höhe 1.xlsx";
  EXPECT_TRUE(isWorkbook(xlsx));
  EXPECT_NE(readFile(xlsx).find("xl/charts/chart1.xml"), std::string::npos);
  EXPECT_EQ(fs::u8path(opened().substr(0, opened().find('\n'))), fs::u8path(xlsx));
  EXPECT_FALSE(testing::fileExists(folder + "/Messung Höhe 1.csv"));  // no CSV on the way
  EXPECT_EQ(scratchFiles(folder), std::vector<std::string>());
  EXPECT_TRUE(reports().empty());
}

// Decoded on the calling thread or on workers beside the writer: the same
// workbook, byte for byte (its creation time is the recording's).
TEST_F(WorkbookProgram, TheSameWorkbookOnOneThreadAndOnMany) {
  std::string recording = dir.file("r.tlq");
  writeFile(recording, recordingOf(20000, 40));
  std::string first;
  for (const char* threads : {"1", "4"}) {
    auto r = run({"--xlsx", recording}, {{"TLQCONVERTER_THREADS", threads}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string bytes = readFile(dir.file("r.xlsx"));
    if (first.empty())
      first = bytes;
    else
      EXPECT_TRUE(bytes == first) << "the workbook made on " << threads << " threads differs";
  }
}

// Folders of any name, one deeper than 260 characters, and a user's
// temporary folder whose name is not ASCII either: the workbooks are made
// and nothing else is left, by the single conversion and by the batch.
TEST_F(WorkbookProgram, FoldersOfAnyName) {
  std::string temp = dir.file("Users/Jürgen 数据/AppData/Local/Temp");
  std::string deep = dir.file("tief");
  while (deep.size() < 300) deep += "/Messreihe März 2026";
  std::vector<std::string> folders = {dir.file("Messungen März"), dir.file("Μετρήσεις ω"), dir.file("測定データ"), deep};
  fs::create_directories(fs::u8path(temp));
  const std::vector<std::string> made = {"run.tlq", "run.xlsx"};
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    fs::create_directories(fs::u8path(folder));
    writeFile(folder + "/run.tlq", recordingOf(30, 2));
    auto r = run({"--xlsx", folder + "/run.tlq"}, {{"TMP", temp}}, TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(isWorkbook(folder + "/run.xlsx"));
    EXPECT_EQ(namesIn(folder), made);
  }
  auto r = run({"--batch", "--xlsx", dir.path()}, {{"TMP", temp}}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("4 recordings converted, 0 failed"), std::string::npos) << r.out;
  for (const std::string& folder : folders) {
    EXPECT_TRUE(isWorkbook(folder + "/run.xlsx")) << folder;
    EXPECT_EQ(namesIn(folder), made) << folder;
  }
  EXPECT_EQ(namesIn(temp), std::vector<std::string>());  // no report either
}

// The same failure as the CSV's, with its report; the older workbook stays
// as it was and nothing of ours is left.
TEST_F(WorkbookProgram, AFailureKeepsTheOlderWorkbook) {
  testing::SeparatorStore store(dir, ",", ".");
  std::string recording = dir.file("half.tlq");
  writeFile(recording, recordingOf(3000, 0, 2500));
  writeFile(dir.file("half.xlsx"), "an older workbook");
  std::string copy = dir.file("copy/half.tlq");
  fs::create_directory(fs::u8path(dir.file("copy")));
  writeFile(copy, readFile(recording));
  std::string failure = testing::failureOf([&] { mainConvert(copy); });  // "Kind: message"
  std::string message = failure.substr(failure.find(": ") + 2);
  auto r = run({"--xlsx", recording}, {}, TLQ_CONSOLE_PROGRAM);  // the console program says it on standard error
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: " + message + " (report: ")) << r.err << "\n" << message;
  EXPECT_EQ(readFile(dir.file("half.xlsx")), "an older workbook");
  EXPECT_EQ(scratchFiles(dir.path()), std::vector<std::string>());
  ASSERT_EQ(reports().size(), 1u);
  EXPECT_EQ(fs::u8path(opened().substr(0, opened().find('\n'))), fs::u8path(reports()[0]));  // and opened
}

TEST_F(WorkbookProgram, WhatCannotBeReplacedIsRefused) {
  // A recording named like its workbook is never written over.
  std::string itself = dir.file("r.xlsx");
  writeFile(itself, recordingOf(3));
  auto r = run({"--xlsx", itself}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot open: " + itself + " (it is the recording itself)")) << r.err;
  EXPECT_EQ(readFile(itself), recordingOf(3));

  // A folder in the workbook's place stays, with what it holds.
  std::string recording = dir.file("f.tlq");
  writeFile(recording, recordingOf(3));
  fs::create_directory(fs::u8path(dir.file("f.xlsx")));
  writeFile(dir.file("f.xlsx/keep"), "kept");
  r = run({"--xlsx", recording}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot open: " + dir.file("f.xlsx") + " (")) << r.err;
  EXPECT_EQ(readFile(dir.file("f.xlsx/keep")), "kept");
  EXPECT_EQ(scratchFiles(dir.path()), std::vector<std::string>());
}

// Without a recording, the dialog asks for one (none here: a quiet end).
TEST_F(WorkbookProgram, NoRecordingAsksForOne) {
  auto r = run({"--xlsx"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(reports().empty());
}

using WorkbookBatch = BatchRun;

TEST_F(WorkbookBatch, WorkbooksWholeOrNotAtAllWithUpdateOutAndLog) {
  put("data/a.tlq", recordingOf(20, 1));
  put("data/sub/b.tlq", recordingOf(5));
  put("data/broken.tlq", recordingOf(3000, 0, 2500));
  put("data/broken.xlsx", "an older workbook");
  std::string log = dir.file("log.csv");
  auto r = batch({"--xlsx", "--log", log, dir.file("data")});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_TRUE(isWorkbook(dir.file("data/a.xlsx")));
  EXPECT_TRUE(isWorkbook(dir.file("data/sub/b.xlsx")));
  EXPECT_EQ(readFile(dir.file("data/broken.xlsx")), "an older workbook");
  EXPECT_EQ(filesNamed(".csv", dir.file("data")), std::vector<std::string>());
  EXPECT_EQ(filesNamed(".tmp"), std::vector<std::string>());
  EXPECT_NE(r.out.find("2 recordings converted, 1 failed, 25 lines written, 1 entry dropped"), std::string::npos)
      << r.out;
  std::string logText = readFile(log);
  EXPECT_NE(logText.find(below(dir.file("data"), "a.xlsx")), std::string::npos) << logText;

  // Only what changed: the workbooks not older than their recordings stay.
  auto again = batch({"--xlsx", "--update", dir.file("data/a.tlq"), dir.file("data/sub")});
  EXPECT_EQ(again.exitCode, 0) << again.out;
  EXPECT_NE(again.out.find("2 up to date"), std::string::npos) << again.out;

  // Below another folder; what a dry run says it would write.
  auto plan = batch({"--xlsx", "--dry-run", "--out", dir.file("out"), dir.file("data/sub")});
  EXPECT_NE(plan.out.find(below(dir.file("out"), "b.xlsx")), std::string::npos) << plan.out;
  auto out = batch({"--xlsx", "--out", dir.file("out"), dir.file("data/sub")});
  EXPECT_EQ(out.exitCode, 0) << out.out;
  EXPECT_TRUE(isWorkbook(dir.file("out/b.xlsx")));

  auto split = batch({"--xlsx", "--split-rows", "5", dir.file("data")});
  EXPECT_EQ(split.exitCode, 2);
  EXPECT_NE(split.err.find("--split-rows does not go with --xlsx"), std::string::npos) << split.err;
}

}  // namespace
}  // namespace tlq
