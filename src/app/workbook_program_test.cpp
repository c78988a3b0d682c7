// --xlsx as a user meets it: the single conversion and the batch in real
// processes, on real files. What the cells hold is read back by real readers
// (tools/reference/workbook_check.py and workbook_libreoffice.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
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
// as they are) that a real reader reads whole.
::testing::AssertionResult isWorkbook(const std::string& path) {
  if (!testing::fileExists(path)) return ::testing::AssertionFailure() << path << " is not there";
  std::string bytes = readFile(path);
  if (!bytes.starts_with("PK\x03\x04") || bytes.find("xl/worksheets/sheet1.xml") == std::string::npos)
    return ::testing::AssertionFailure() << path << " is no workbook";
  std::string problems = testing::workbookProblems(path);
  if (!problems.empty()) return ::testing::AssertionFailure() << path << ": " << problems;
  return ::testing::AssertionSuccess();
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

// A recording double-clicked twice: the two conversions of it at once each
// put a whole workbook in place, one after the other, and leave nothing of
// theirs.
TEST_F(WorkbookProgram, TwoConversionsOfOneRecordingAtOnce) {
  std::string recording = dir.file("Messung März.tlq");
  writeFile(recording, recordingOf(20000, 40));
  std::string xlsx = dir.file("Messung März.xlsx");
  std::string first;
  for (int round = 0; round < 3; ++round) {
    testing::ProcessResult results[2];
    std::thread second([&] { results[1] = run({"--xlsx", recording}); });
    results[0] = run({"--xlsx", recording});
    second.join();
    for (const testing::ProcessResult& r : results) EXPECT_EQ(r.exitCode, 0) << r.err;
    if (first.empty()) {
      ASSERT_TRUE(isWorkbook(xlsx));
      first = readFile(xlsx);
    }
    EXPECT_EQ(readFile(xlsx), first);  // the same recording, the same workbook
    EXPECT_EQ(scratchFiles(dir.path()), std::vector<std::string>());
  }
  for (const std::string& report : reports()) ADD_FAILURE() << readFile(report);
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

#ifndef _WIN32
// A name that is not UTF-8 (Latin-1, as an old archive has it) or holds a
// character the XML cannot: the workbook is valid, and the sheet about the
// recording names it as the summary shows it.
TEST_F(WorkbookProgram, AnyFileNameGivesAValidWorkbook) {
  for (std::string name : {std::string("mesure-\xe9t\xe9"), std::string("odd\xEF\xBF\xBF")}) {
    std::string recording = dir.file(name + ".tlq");
    writeFile(recording, recordingOf(5));
    auto r = run({"--xlsx", recording}, {}, TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(isWorkbook(dir.file(name + ".xlsx")));
  }
  auto r = testing::runProcess({"/usr/bin/python3", "-c",
                                "import sys, openpyxl\n"
                                "for name in sys.argv[1:]:\n"
                                "    print(openpyxl.load_workbook(name)['recording']['B1'].value)\n",
                                dir.file("mesure-\xe9t\xe9.xlsx"), dir.file("odd\xEF\xBF\xBF.xlsx")});
  EXPECT_EQ(r.out, dir.file("mesure-\\xe9t\\xe9.tlq") + "\n" + dir.file("odd_xFFFF_.tlq") + "\n") << r.err;
}
#endif

// A text within a cell's limit that the library refuses (its escapes
// counted) fails the single conversion and the batch alike, naming the row,
// the column and the limit.
TEST_F(WorkbookProgram, ATextTooLongForACellFailsAlikeInBothModes) {
  std::string raw = std::string(2, 'x') + std::string(6000, '\0');
  std::string json = "{\"data\":[{\"force\":{\"raw\":\"1N\"}},{\"force\":{\"raw\":\"";
  for (char c : raw) json += c ? std::string(1, c) : std::string("\\u0000");
  json += "\"}}]}";
  std::string recording = dir.file("long.tlq");
  writeFile(recording, json);
  const std::string message = "row 3 of sheet \"data\", column force_raw: a text of 6002 characters takes 42002 "
                              "with the escapes of what a workbook cannot hold as it is, and a cell is written with "
                              "at most 32767: " + dir.file("long.xlsx");
  auto single = run({"--xlsx", recording}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(single.exitCode, 2);
  EXPECT_TRUE(single.err.starts_with("tlqconverter: " + message + " (report: ")) << single.err;
  testing::SeparatorStore store(dir, ",", ".");
  auto batch = run({"--batch", "--xlsx", recording}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(batch.exitCode, 2);
  EXPECT_NE(batch.out.find(": ValueError: " + message + " (report: "), std::string::npos) << batch.out;
  EXPECT_FALSE(testing::fileExists(dir.file("long.xlsx")));
}

#ifdef __linux__
// A folder of `megabytes` on a file system of its own (a tmpfs, mounted in a
// mount namespace of the test's own, as a user namespace allows without
// privileges): `script` runs with it as "$1", then `args` as "$2"...; the
// mount goes with the namespace, so the script looks at what is left there
// itself and writes what it found to files outside.
testing::ProcessResult inSmallFolder(int megabytes, const std::string& folder, const std::string& script,
                                     const std::vector<std::string>& args, std::map<std::string, std::string> env) {
  std::vector<std::string> argv = {"/usr/bin/unshare", "--map-root-user", "--mount", "/bin/sh", "-c",
                                   "mount -t tmpfs -o size=" + std::to_string(megabytes) + "m tmpfs \"$1\" || exit 97\n" +
                                       script,
                                   "sh", folder};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing::runProcess(argv, env);
}

bool namespacesWork() {
  return testing::runProcess({"/usr/bin/unshare", "--map-root-user", "--mount", "/bin/true"}).exitCode == 0;
}

using WorkbookOnAFullDisk = WorkbookProgram;

// The issue's own: a temporary folder too small for the library's files.
// They go beside the workbook instead, and the workbook is whole.
TEST_F(WorkbookOnAFullDisk, ASmallTemporaryFolderIsNotUsed) {
  if (!namespacesWork()) GTEST_SKIP() << "no mount namespaces here";
  std::string recording = dir.file("big8.tlq");
  writeFile(recording, recordingOf(20000));
  writeFile(dir.file("big8.xlsx"), "an older workbook");
  std::string small = dir.file("small");
  fs::create_directory(fs::u8path(small));
  auto r = inSmallFolder(1, small, "TMPDIR=\"$1\" TMP=\"$1\" TEMP=\"$1\" exec \"$2\" --xlsx \"$3\"",
                         {TLQ_CONSOLE_PROGRAM, recording}, {{"PATH", bin + ":/usr/bin:/bin"}, {"DISPLAY", ""}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(isWorkbook(dir.file("big8.xlsx")));
  EXPECT_EQ(scratchFiles(dir.path()), std::vector<std::string>());
}

// A disk that fills while the workbook is made: the system's reason, the
// report, the older workbook as it was, nothing of ours left; in the single
// conversion and in the batch.
TEST_F(WorkbookOnAFullDisk, FailsWithTheSystemsReasonAndKeepsTheOlderWorkbook) {
  if (!namespacesWork()) GTEST_SKIP() << "no mount namespaces here";
  std::string recording = dir.file("big8.tlq");
  writeFile(recording, recordingOf(20000));
  writeFile(dir.file("old.xlsx"), "an older workbook");
  std::string full = dir.file("full");
  fs::create_directory(fs::u8path(full));
  // The recording is a link beside the workbook, which is in the small folder.
  const std::string check =
      "rc=$?\ncmp -s \"$4\" \"$1/big8.xlsx\" || echo changed >\"$5\"\n"
      "ls \"$1\" | grep -v -x -e big8.xlsx -e big8.tlq >>\"$5\"\nexit $rc\n";
  const std::string setup = "cp \"$4\" \"$1/big8.xlsx\" && ln -s \"$3\" \"$1/big8.tlq\" || exit 98\n";
  std::map<std::string, std::string> env = {{"PATH", bin + ":/usr/bin:/bin"}, {"DISPLAY", ""}, {"TMP", tmp}};
  std::string left = dir.file("left.txt");
  auto single = inSmallFolder(1, full, setup + "\"$2\" --xlsx \"$1/big8.tlq\"\n" + check,
                              {TLQ_CONSOLE_PROGRAM, recording, dir.file("old.xlsx"), left}, env);
  EXPECT_EQ(single.exitCode, 2) << single.err;
  EXPECT_TRUE(single.err.starts_with("tlqconverter: cannot write: " + full +
                                     "/big8.xlsx (No space left on device) (report: "))
      << single.err;
  EXPECT_EQ(readFile(left), "") << "the older workbook changed, or files were left";
  EXPECT_EQ(reports().size(), 1u);
  std::string report = reports().empty() ? "" : readFile(reports()[0]);

  auto batch = inSmallFolder(1, full, setup + "\"$2\" --batch --xlsx \"$1\"\n" + check,
                             {TLQ_CONSOLE_PROGRAM, recording, dir.file("old.xlsx"), left}, env);
  EXPECT_EQ(batch.exitCode, 2) << batch.out << batch.err;
  EXPECT_NE(batch.out.find("cannot write: " + full + "/big8.xlsx (No space left on device)"), std::string::npos)
      << batch.out;
  EXPECT_NE(batch.out.find("0 recordings converted, 1 failed"), std::string::npos) << batch.out;
  EXPECT_EQ(readFile(left), "");
}

// A disk of every size from one that fails at once to one that fits, in
// steps of half a megabyte: where the sheets' rows fit but their copy into
// the sheets' XML does not, the library cut a sheet short and said nothing.
// Each run either puts in the whole workbook (the same bytes as on a large
// disk) or fails with the system's reason and leaves the older workbook and
// nothing else; the single conversion and the batch alike.
TEST_F(WorkbookOnAFullDisk, EverySizeGivesTheWholeWorkbookOrTheOlderOne) {
  if (!namespacesWork()) GTEST_SKIP() << "no mount namespaces here";
  std::string recording = dir.file("r.tlq");
  writeFile(recording, recordingOf(20000));
  writeFile(dir.file("old.xlsx"), "an older workbook");
  std::string disk = dir.file("disk");
  fs::create_directory(fs::u8path(disk));
  // $1 the disk, $2 the program, $3 the recording, $4 the older workbook,
  // $5 what is run, $6 the whole workbook (made first, on a large disk).
  // One line a size: its kilobytes and "whole", "kept" or what went wrong.
  const std::string script =
      "umount \"$1\"\n"
      "run() {\n"
      "  mount -t tmpfs -o size=$1k tmpfs \"$d\" || exit 97\n"
      "  cp \"$old\" \"$d/r.xlsx\" && ln -s \"$rec\" \"$d/r.tlq\" || exit 98\n"
      "  if [ \"$mode\" = batch ]; then \"$prog\" --batch --xlsx \"$d\" >\"$d.out\" 2>&1; rc=$?\n"
      "  else \"$prog\" --xlsx \"$d/r.tlq\" >\"$d.out\" 2>&1; rc=$?; fi\n"
      "  left=$(ls \"$d\" | grep -v -x -e r.xlsx -e r.tlq | tr '\\n' ' ')\n"
      "  if [ -n \"$2\" ]; then cp \"$d/r.xlsx\" \"$2\"; fi\n"
      "  if [ $rc = 0 ] && cmp -s \"$d/r.xlsx\" \"$whole\" && [ -z \"$left\" ]; then verdict=whole\n"
      "  elif [ $rc = 2 ] && grep -q 'r.xlsx (No space left on device)' \"$d.out\" && cmp -s \"$d/r.xlsx\" \"$old\" &&\n"
      "       [ -z \"$left\" ]; then verdict=kept\n"
      "  else verdict=\"exit $rc, left: $left $(head -c 300 \"$d.out\")\"; fi\n"
      "  umount \"$d\"\n"
      "}\n"
      "d=\"$1\"; prog=\"$2\"; rec=\"$3\"; old=\"$4\"; mode=\"$5\"; whole=\"$6\"\n"
      "run 262144 \"$whole\"\n"
      "[ \"$verdict\" = whole ] || { echo \"large: $verdict\"; exit 0; }\n"
      "k=1024; fits=0\n"
      "while [ $fits -lt 3 ] && [ $k -le 262144 ]; do\n"
      "  run $k\n"
      "  echo \"$k $verdict\"\n"
      "  if [ \"$verdict\" = whole ]; then fits=$((fits + 1)); else fits=0; fi\n"
      "  k=$((k + 512))\n"
      "done\n";
  std::map<std::string, std::string> env = {{"PATH", bin + ":/usr/bin:/bin"}, {"DISPLAY", ""}, {"TMP", tmp}};
  for (const char* mode : {"single", "batch"}) {
    SCOPED_TRACE(mode);
    // The first of the script's mounts is only there to be unmounted.
    auto r = inSmallFolder(1, disk, script,
                           {TLQ_CONSOLE_PROGRAM, recording, dir.file("old.xlsx"), mode, dir.file("whole.xlsx")}, env);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    int kept = 0, whole = 0;
    std::string last;
    for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
      std::string line = r.out.substr(at, end - at);
      last = line.substr(line.find(' ') + 1);
      if (last == "kept") ++kept;
      else if (last == "whole") ++whole;
      else ADD_FAILURE() << line;
    }
    EXPECT_GT(kept, 10) << r.out;  // the disk was too small for many sizes
    EXPECT_EQ(last, "whole") << r.out;
    EXPECT_TRUE(isWorkbook(dir.file("whole.xlsx")));
  }
}

// From the desktop, a disk that fills while the table is written: the box
// names the table (the CSV as the workbook), not the recording, and says
// what to do; standard error keeps the message as it was.
TEST_F(WorkbookOnAFullDisk, FromTheDesktopTheBoxNamesTheTable) {
  if (!namespacesWork()) GTEST_SKIP() << "no mount namespaces here";
  std::string recording = dir.file("Messung 2.tlq");
  writeFile(recording, recordingOf(20000));
  const std::string shown = dir.file("zenity.log");
  writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + shown + "'\n");
  fs::permissions(fs::u8path(bin + "/zenity"), fs::perms::owner_all);
  std::string full = dir.file("full");
  fs::create_directory(fs::u8path(full));
  std::map<std::string, std::string> env = {
      {"PATH", bin + ":/usr/bin:/bin"}, {"DISPLAY", ":42"}, {"TMP", tmp}, {"TLQ_PROBE_LOG", openerLog},
      // No progress dialog, however slow the build (the stand-in ends at
      // once, which a progress dialog takes for Cancel).
      {"TLQCONVERTER_QUIET_SECONDS", "3600"}};
  const std::string reason = std::generic_category().message(ENOSPC);
  for (bool workbook : {false, true}) {
    const std::string table = workbook ? "Messung 2.xlsx" : "Messung 2.csv";
    fs::remove(fs::u8path(shown));
    auto r = inSmallFolder(1, full,
                           "ln -s \"$3\" \"$1/Messung 2.tlq\" || exit 98\n\"$2\" " +
                               std::string(workbook ? "--xlsx " : "") + "\"$1/Messung 2.tlq\" </dev/null\n",
                           {TLQ_CONVERTER_EXE, recording}, env);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    std::string clause = reason;
    clause[0] = static_cast<char>(std::tolower(clause[0]));
    EXPECT_EQ(testing::fileExists(shown) ? readFile(shown) : "",
              "--warning --no-markup --title=tlqconverter --text=tlqconverter could not write \u00ab" + table +
                  "\u00bb: the disk is full (" + clause + "). Make room there and try again.\n");
    const std::string message = workbook ? "cannot write: " + full + "/" + table : "cannot write string to file";
    EXPECT_TRUE(r.err.starts_with("tlqconverter: " + message + " (" + reason + ") (report: ")) << r.err;
  }
}
#endif

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
