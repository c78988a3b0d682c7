// A batch to run every day over an archive: no older table lost or changed
// behind the user's back, only what changed converted again, and a result
// for every recording. The console program in real processes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "app/batch_fixture.h"
#include "test_support.h"

#ifdef _WIN32
#include "platform/folders.h"
#include "platform/win32_text.h"
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::fileExists;
using testing::readFile;
using testing::recordingOf;
using testing::writeFile;

class BatchTrust : public BatchRun {
 protected:
  // Every file below `folder`, by its path below it, with its contents.
  std::map<std::string, std::string> contents(const std::string& folder) {
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(fs::u8path(folder)))
      if (!fs::is_directory(e.symlink_status()))
        all[testing::utf8(fs::relative(e.path(), fs::u8path(folder)))] =
            fs::is_symlink(e.symlink_status()) ? "-> " + testing::utf8(fs::read_symlink(e.path())) : readFile(testing::utf8(e.path()));
    return all;
  }

  // Files of ours left behind: temporary tables and older ones moved aside.
  std::vector<std::string> leftovers() {
    std::vector<std::string> found = filesNamed(".tmp");
    for (const std::string& f : filesNamed(".old")) found.push_back(f);
    return found;
  }

  std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      all.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    return all;
  }
};

// A split table goes in whole: when one of its parts cannot be replaced,
// every file of the older table stays exactly as it was.
TEST_F(BatchTrust, ASplitTableGoesInWholeOrTheOlderOneStays) {
  std::string rec = put("s/a.tlq", recordingOf(40));
  writeFile(dir.file("s/a.csv"), "older part 1\r\n");
  writeFile(dir.file("s/a_part2.csv"), "older part 2\r\n");
  fs::create_directory(fs::u8path(dir.file("s/a_part3.csv")));
  auto before = contents(dir.file("s"));
  auto r = batch({"--split-rows", "10", dir.file("s")});
  EXPECT_EQ(r.exitCode, 2) << r.out;
  std::string part3 = below(dir.file("s"), "a_part3.csv");
  EXPECT_NE(r.out.find("failed: " + below(dir.file("s"), "a.tlq") + ": IOError: cannot open: " + part3 + " ("),
            std::string::npos)
      << r.out;
  EXPECT_EQ(contents(dir.file("s")), before);
  EXPECT_EQ(leftovers(), std::vector<std::string>());

  // With the folder gone, every part goes in.
  fs::remove(fs::u8path(dir.file("s/a_part3.csv")));
  r = batch({"--split-rows", "10", dir.file("s")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  std::string whole = singleTable(rec), joined;
  for (const char* part : {"a.csv", "a_part2.csv", "a_part3.csv", "a_part4.csv"}) {
    std::string text = readFile(dir.file(std::string("s/") + part));
    joined += joined.empty() ? text : text.substr(text.find("\r\n") + 2);
  }
  EXPECT_EQ(joined, whole);
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// A table name as long as the file system allows: the temporary names fit
// beside it.
TEST_F(BatchTrust, TheLongestTableNameIsWritten) {
  std::string name(251, 'n');  // "<251>.csv" is 255 bytes
  std::string rec = put("long/" + name + ".tlq", recordingOf(3));
  auto r = batch({dir.file("long")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(readFile(dir.file("long/" + name + ".csv")), singleTable(rec));
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

TEST_F(BatchTrust, AnOutFolderThatIsAFileIsAUsageError) {
  put("r.tlq", recordingOf(2));
  writeFile(dir.file("out"), "a file");
  auto r = batch({"--out", dir.file("out"), dir.file("r.tlq")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("tlqconverter: --out is not a folder: " + dir.file("out") + "\nUsage: ")) << r.err;
  EXPECT_TRUE(reports().empty());
}

// --update converts only what changed; --dry-run says what a run would do
// and writes nothing.
TEST_F(BatchTrust, UpdateConvertsOnlyWhatChanged) {
  std::string a = put("u/a.tlq", recordingOf(5)), b = put("u/b.tlq", recordingOf(6));
  auto r = batch({"--update", dir.file("u")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("2 recordings converted, 0 failed")) << r.out;

  writeFile(dir.file("u/a.csv"), "kept, since it is newer\r\n");
  fs::last_write_time(fs::u8path(b), fs::last_write_time(fs::u8path(dir.file("u/b.csv"))) + std::chrono::seconds(5));
  auto plan = batch({"--update", "--dry-run", "--log", dir.file("nolog.csv"), dir.file("u")});
  EXPECT_EQ(plan.exitCode, 0);
  EXPECT_EQ(plan.out, "up to date: " + below(dir.file("u"), "a.tlq") + "\nwould write: " + below(dir.file("u"), "b.csv") +
                          " from " + below(dir.file("u"), "b.tlq") + "\n");
  EXPECT_FALSE(fileExists(dir.file("nolog.csv")));

  r = batch({"--update", dir.file("u")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 1 up to date, 0 failed, 6 lines written")) << r.out;
  EXPECT_EQ(readFile(dir.file("u/a.csv")), "kept, since it is newer\r\n");
  EXPECT_EQ(readFile(dir.file("u/b.csv")), singleTable(b));

  // A split table with a part missing between others is converted again.
  r = batch({"--split-rows", "2", dir.file("u/a.tlq")});
  fs::remove(fs::u8path(dir.file("u/a_part2.csv")));
  r = batch({"--update", "--split-rows", "2", dir.file("u/a.tlq")});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed")) << r.out;
  EXPECT_TRUE(fileExists(dir.file("u/a_part2.csv")));
}

TEST_F(BatchTrust, DryRunWritesNothing) {
  put("d/a.tlq", recordingOf(5));
  put("d/sub/b.tlq", "{");
  auto before = contents(dir.file("d"));
  auto r = batch({"--dry-run", "--out", dir.file("o/p"), "--split-rows", "2", dir.file("d"), dir.file("none.tlq")});
  EXPECT_EQ(r.exitCode, 0) << r.out;  // what fails only when it is read is not known yet
  const std::string parts = " (and _part2, _part3, ... beyond 2 lines) from ";
  EXPECT_EQ(r.out, "would write: " + below(dir.file("o/p"), "a.csv") + parts + below(dir.file("d"), "a.tlq") + "\n" +
                       "would write: " + below(dir.file("o/p"), "sub/b.csv") + parts + below(dir.file("d"), "sub/b.tlq") +
                       "\n" + "would write: " + below(dir.file("o/p"), "none.csv") + parts + dir.file("none.tlq") + "\n");
  EXPECT_FALSE(fs::exists(fs::u8path(dir.file("o"))));
  EXPECT_EQ(contents(dir.file("d")), before);
  EXPECT_TRUE(reports().empty());

  // A clash is known before anything is read.
  put("d/sub/b.csv", recordingOf(1));
  r = batch({"--dry-run", dir.file("d/sub/b.csv"), dir.file("d/sub")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "would write: " + dir.file("d/sub/b.csv") + " from " + dir.file("d/sub/b.csv") + "\n" +
                       "would fail: " + below(dir.file("d/sub"), "b.tlq") + ": cannot open: " +
                       below(dir.file("d/sub"), "b.csv") + " (it is the recording " + dir.file("d/sub/b.csv") + ")\n");
}

// Parts that an earlier run with a smaller N left beyond the new table are
// removed and listed, unless a recording owns that name.
TEST_F(BatchTrust, PartsLeftByAnEarlierRunAreRemoved) {
  std::string rec = put("p/long.tlq", recordingOf(200));
  put("q/long.tlq", recordingOf(200));
  put("q/LONG_PART4.TLQ", recordingOf(1));  // owns long_part4.csv, converted or not
  for (const char* folder : {"p", "q"}) {
    auto r = batch({"--split-rows", "50", dir.file(folder + std::string("/long.tlq"))});
    ASSERT_EQ(r.exitCode, 0) << r.out;
  }
  auto r = batch({"--split-rows", "150", dir.file("p"), dir.file("q/long.tlq")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  auto all = lines(r.out);
  ASSERT_EQ(all.size(), 4u) << r.out;
  EXPECT_EQ(all[0], "removed: " + below(dir.file("p"), "long_part3.csv") + " (a part left by an earlier run)");
  EXPECT_EQ(all[1], "removed: " + below(dir.file("p"), "long_part4.csv") + " (a part left by an earlier run)");
  EXPECT_EQ(all[2], "removed: " + dir.file("q/long_part3.csv") + " (a part left by an earlier run)");
  EXPECT_FALSE(fileExists(dir.file("p/long_part3.csv")));
  EXPECT_TRUE(fileExists(dir.file("q/long_part4.csv")));
  EXPECT_EQ(dataLines(readFile(dir.file("p/long.csv"))) + dataLines(readFile(dir.file("p/long_part2.csv"))), 200u);

  // One file again, without --split-rows: the second part goes as well.
  r = batch({dir.file("p")});
  EXPECT_TRUE(r.out.starts_with("removed: " + below(dir.file("p"), "long_part2.csv"))) << r.out;
  EXPECT_EQ(readFile(dir.file("p/long.csv")), singleTable(rec));
}

// --log: one line per recording, as a spreadsheet reads it.
TEST_F(BatchTrust, TheLogHasALinePerRecording) {
  std::string a = put("l/a, b.tlq", recordingOf(4, 1));
  std::string b = put("l/b.tlq", "{");
  std::string c = put("l/c.tlq", recordingOf(25));
  std::string log = dir.file("logs/batch.csv");
  auto r = batch({"--log", log, "--split-rows", "10", dir.file("l")});
  EXPECT_EQ(r.exitCode, 2) << r.out;
  auto all = lines(readFile(log));
  ASSERT_EQ(all.size(), 6u) << readFile(log);  // the tables of c on lines of their own, in one field
  EXPECT_EQ(all[0], "recording,tables,outcome,data lines,entries dropped for a failed CRC,bytes read,seconds,"
                    "error kind,error message,report\r");
  std::string size = std::to_string(fs::file_size(fs::u8path(a)));
  EXPECT_TRUE(std::regex_match(all[1], std::regex("\"" + testing::regexEscaped(below(dir.file("l"), "a, b.tlq")) +
                                                  "\",\"" + testing::regexEscaped(below(dir.file("l"), "a, b.csv")) +
                                                  "\",converted,4,1," + size + ",[0-9]+\\.[0-9]{3},,,\r")))
      << all[1];
  EXPECT_TRUE(std::regex_match(all[2], std::regex(testing::regexEscaped(below(dir.file("l"), "b.tlq")) +
                                                  ",,failed,0,0,1,[0-9.]+,JsonParseError,"
                                                  "[^\r]+,[^,\r]+tlqconverter_error_[A-Za-z0-9]{8}\\.txt\r")))
      << all[2];
  EXPECT_EQ(all[3], below(dir.file("l"), "c.tlq") + ",\"" + below(dir.file("l"), "c.csv"));
  EXPECT_EQ(all[4], below(dir.file("l"), "c_part2.csv"));
  EXPECT_TRUE(all[5].starts_with(below(dir.file("l"), "c_part3.csv") + "\",converted,25,0,")) << all[5];

  // A log that would overwrite a table or a recording is refused.
  for (const char* name : {"c.csv", "c.tlq"}) {
    r = batch({"--log", dir.file(std::string("l/") + name), dir.file("l")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.starts_with("tlqconverter: --log would overwrite ")) << r.err;
  }
  EXPECT_EQ(readFile(c), recordingOf(25));

  // A log that cannot be written: the tables are made, and the failure said.
  r = batch({"--split-rows", "10", "--log", dir.file("l/c.tlq/log.csv"), dir.file("l/c.tlq")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed")) << r.out;
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot write the log: " + dir.file("l/c.tlq/log.csv") + " (")) << r.err;
}

TEST_F(BatchTrust, SeparatorsForTheRun) {
  std::string rec = put("r.tlq", recordingOf(5, 1));
  auto r = batch({"--list-separator", "\t", "--decimal-separator", ".", rec});  // not the settings' ";" and ","
  EXPECT_EQ(r.exitCode, 0) << r.out;
  testing::TempDir other;
  testing::SeparatorStore tabs(other, "\t", ".");
  EXPECT_EQ(readFile(dir.file("r.csv")), singleTable(rec));
  r = batch({"--list-separator", "ab", rec});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: --list-separator needs one character, not \"ab\"\n")) << r.err;
}

// A recording deeper than 260 characters (a synced company folder with
// project, site and date levels): the single conversion and the batch.
TEST_F(BatchTrust, LongPaths) {
  std::string deep = "p";
  for (int level = 0; deep.size() < 300; ++level) deep += "/Projekt Standort 2026-05-0" + std::to_string(level % 10);
  std::string rec = put(deep + "/r.tlq", recordingOf(3, 1));
  ASSERT_GT(rec.size(), 300u);
  auto single = run({rec});
  EXPECT_EQ(single.exitCode, 0) << single.out << single.err;
  std::string csv = rec.substr(0, rec.size() - 3) + "csv";
  std::string expected = readFile(csv);
  EXPECT_EQ(expected, singleTable(rec));
  fs::remove(fs::u8path(csv));
  auto r = batch({"--split-rows", "2", dir.file("p")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  std::string part2 = rec.substr(0, rec.size() - 4) + "_part2.csv";
  EXPECT_EQ(readFile(csv) + readFile(part2).substr(readFile(part2).find("\r\n") + 2), expected);
#ifndef _WIN32  // the C++ library's folder walk stops at 260 characters there
  EXPECT_EQ(leftovers(), std::vector<std::string>());
#endif
}

#ifdef _WIN32
// The table open in the spreadsheet (held without sharing delete): the
// older table stays whole, nothing of ours is left, and the summary says why.
TEST_F(BatchTrust, ATableHeldOpenStaysWhole) {
  put("h/a.tlq", recordingOf(30));
  for (const char* part : {"h/a.csv", "h/a_part2.csv", "h/a_part3.csv"}) writeFile(dir.file(part), part);
  auto before = contents(dir.file("h"));
  for (const char* held : {"h/a.csv", "h/a_part2.csv"}) {
    SCOPED_TRACE(held);
    HANDLE h = ::CreateFileW(widen(dir.file(held)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    auto r = held == std::string("h/a.csv") ? batch({dir.file("h")}) : batch({"--split-rows", "10", dir.file("h")});
    ::CloseHandle(h);
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.out.find(": IOError: cannot open: " + below(dir.file("h"), std::string(held).substr(2)) + " (" +
                         systemMessage(ERROR_SHARING_VIOLATION) + ") (report: "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(contents(dir.file("h")), before);
    EXPECT_EQ(leftovers(), std::vector<std::string>());
  }
}

// A console window shows names beyond ASCII as they are, whatever its code
// page; a pipe gets UTF-8.
TEST_F(BatchTrust, AConsoleShowsNamesBeyondAscii) {
  std::string rec = put("M\xc3\xa4rz \xcf\x89/kaputt \xe6\x95\xb0\xe6\x8d\xae.tlq", "{");
  std::string screen = dir.file("screen.txt");
  std::wstring inner = L"\"" + widen(TLQ_CONSOLE_PROGRAM) + L"\" --batch \"" + widen(dir.file("M\xc3\xa4rz \xcf\x89")) + L"\"";
  std::wstring escaped;
  for (wchar_t c : inner) escaped += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
  std::wstring command = L"\"" + widen(TLQ_CONSOLE_SCREEN_EXE) + L"\" \"" + widen(screen) + L"\" 437 \"" + escaped + L"\"";
  testing::ScopedEnv reports("TMP", tmp.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                               &startup, &process));
  ::WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  if (code == 101 && !getEnv("TLQ_REQUIRE_CONSOLE")) GTEST_SKIP() << "no console screen here (wine without a display)";
  EXPECT_EQ(code, 2u);
  std::string shown = readFile(screen), listed = below(dir.file("M\xc3\xa4rz \xcf\x89"), nameOf(rec));
  EXPECT_NE(shown.find("failed: " + listed + ": JsonParseError: "), std::string::npos) << shown;
  auto piped = batch({dir.file("M\xc3\xa4rz \xcf\x89")});
  EXPECT_TRUE(piped.out.starts_with("failed: " + listed + ": JsonParseError: ")) << piped.out;
}

// An older table's attributes stay; a read-only one is refused; two
// spellings of one name, in another letter case, are one recording.
TEST_F(BatchTrust, AttributesAndLetterCase) {
  std::string a = put("w/a.tlq", recordingOf(3));
  put("w/b.tlq", recordingOf(3));
  writeFile(dir.file("w/a.csv"), "older");
  writeFile(dir.file("w/b.csv"), "read-only");
  ::SetFileAttributesW(widen(dir.file("w/a.csv")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  ::SetFileAttributesW(widen(dir.file("w/b.csv")).c_str(), FILE_ATTRIBUTE_READONLY);
  std::string upper = dir.file("W/A.TLQ");
  auto r = batch({a, upper, dir.file("w/b.tlq")});
  ::SetFileAttributesW(widen(dir.file("w/b.csv")).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(r.exitCode, 2) << r.out;
  EXPECT_NE(r.out.find("IOError: cannot open: " + dir.file("w/b.csv") + " (" + systemMessage(ERROR_ACCESS_DENIED) + ")"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("1 recording converted, 1 failed"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(dir.file("w/a.csv")), singleTable(a));
  EXPECT_EQ(::GetFileAttributesW(widen(dir.file("w/a.csv")).c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(readFile(dir.file("w/b.csv")), "read-only");
}
#endif

#ifndef _WIN32
// Two recordings whose tables are one file through a link to a folder: the
// second fails before anything is written, split parts too.
TEST_F(BatchTrust, ClashesThroughALinkedFolder) {
  std::string x1 = put("c/x.tlq", recordingOf(3)), x2 = put("c/x.TLQ", recordingOf(4));
  fs::create_directory_symlink(fs::u8path(dir.file("c")), fs::u8path(dir.file("b")));
  auto r = batch({dir.file("c/x.tlq"), dir.file("b/x.TLQ")});  // b/x.TLQ comes first in path order
  EXPECT_EQ(r.exitCode, 2) << r.out;
  EXPECT_TRUE(r.out.starts_with("failed: " + x1 + ": IOError: cannot open: " + dir.file("c/x.csv") +
                                " (it is the table of " + dir.file("b/x.TLQ") + " too)"))
      << r.out;
  EXPECT_EQ(readFile(dir.file("c/x.csv")), singleTable(x2));

  // A part of one table that is another recording's table.
  put("c/y.tlq", recordingOf(30));
  std::string y2 = put("c/y_part2.TLQ", recordingOf(2));
  fs::remove(fs::u8path(dir.file("c/y_part2.csv")));
  r = batch({"--split-rows", "10", dir.file("c/y.tlq"), dir.file("b/y_part2.TLQ")});
  EXPECT_EQ(r.exitCode, 2) << r.out;
  EXPECT_NE(r.out.find("failed: " + dir.file("c/y.tlq") + ": IOError: cannot open: " + dir.file("c/y_part2.csv") +
                       " (it is the table of " + dir.file("b/y_part2.TLQ") + ")"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(readFile(dir.file("c/y_part2.csv")), singleTable(y2));
  EXPECT_FALSE(fileExists(dir.file("c/y.csv")));
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// Every name a user sees gets its table: links to a recording and hard
// links each their own, whatever the folder's order.
TEST_F(BatchTrust, EachNameOfARecordingGetsItsTable) {
  std::string a = put("n/a.tlq", recordingOf(3));
  fs::create_symlink("a.tlq", fs::u8path(dir.file("n/sym.tlq")));
  fs::create_symlink("a.tlq", fs::u8path(dir.file("n/zz.tlq")));
  put("m/other.tlq", recordingOf(1));
  fs::create_hard_link(fs::u8path(a), fs::u8path(dir.file("m/hard.tlq")));
  auto r = batch({dir.file("n"), dir.file("m"), dir.file("n/./a.tlq")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("5 recordings converted, 0 failed")) << r.out;
  for (const char* table : {"n/a.csv", "n/sym.csv", "n/zz.csv", "m/hard.csv"})
    EXPECT_EQ(readFile(dir.file(table)), singleTable(a)) << table;
}

// An older table keeps what it was beyond its contents: its permission
// bits, and a link stays a link with its target replaced.
TEST_F(BatchTrust, AnOlderTableKeepsItsModeAndLinks) {
  std::string a = put("k/a.tlq", recordingOf(3)), b = put("k/b.tlq", recordingOf(4));
  writeFile(dir.file("k/a.csv"), "older");
  ::chmod(dir.file("k/a.csv").c_str(), 0600);
  fs::create_directories(fs::u8path(dir.file("elsewhere")));
  writeFile(dir.file("elsewhere/b table.csv"), "older");
  fs::create_symlink("../elsewhere/b table.csv", fs::u8path(dir.file("k/b.csv")));
  auto r = batch({dir.file("k")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("k/a.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(readFile(dir.file("k/a.csv")), singleTable(a));
  EXPECT_TRUE(fs::is_symlink(fs::u8path(dir.file("k/b.csv"))));
  EXPECT_EQ(readFile(dir.file("elsewhere/b table.csv")), singleTable(b));
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// Names with control characters are shown escaped; the log keeps them.
TEST_F(BatchTrust, NamesWithControlCharactersAreShownEscaped) {
  std::string odd = put("e/new\nline \x1b[2J\x1b]0;title\x07.tlq", "{");
  auto r = batch({"--log", dir.file("log.csv"), dir.file("e")});
  EXPECT_EQ(r.exitCode, 2);
  auto all = lines(r.out);
  ASSERT_EQ(all.size(), 2u) << r.out;
  EXPECT_TRUE(all[0].starts_with("failed: " + dir.file("e/new\\nline \\x1b[2J\\x1b]0;title\\x07.tlq") + ": JsonParseError: "))
      << all[0];
  EXPECT_NE(readFile(dir.file("log.csv")).find("\"" + odd + "\",,failed,"), std::string::npos);
}

// The system's reason for a failure beside its message: a name too long.
TEST_F(BatchTrust, FailuresSayTheSystemsReason) {
  std::string rec = put("r.tlq", recordingOf(2));
  auto r = batch({"--out", dir.file(std::string(300, 'o')), rec});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.out.find(": IOError: cannot open: " + dir.file(std::string(300, 'o') + "/r.csv") +
                       " (File name too long) (report: "),
            std::string::npos)
      << r.out;
}

// Ordinary users: a read-only table is refused, as the single conversion
// refuses it, and nothing of it changes.
TEST_F(BatchTrust, AReadOnlyTableIsRefused) {
  put("ro/a.tlq", recordingOf(3));
  writeFile(dir.file("ro/a.csv"), "read-only");
  ::chmod(dir.file("ro/a.csv").c_str(), 0444);
  std::vector<std::string> user;
  if (::geteuid() == 0) {  // as root, nothing is read-only: run as nobody
    if (!fileExists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv to run as another user";
    user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const std::string& path : {dir.path(), tmp, dir.file("ro")}) ::chmod(path.c_str(), 0777);
  }
  user.insert(user.end(), {TLQ_CONSOLE_PROGRAM, "--batch", dir.file("ro")});
  auto r = testing::runProcess(user, {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("failed: " + dir.file("ro/a.tlq") + ": IOError: cannot open: " + dir.file("ro/a.csv") +
                                " (Permission denied) (report: "))
      << r.out << r.err;
  EXPECT_EQ(readFile(dir.file("ro/a.csv")), "read-only");
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// True once the process catches `signal` (its handler is in place), or
// with "SigIgn", ignores it.
bool handles(int pid, int signal, const std::string& which = "SigCgt") {
  std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find(which + ":\t");
  if (at == std::string::npos) return false;
  unsigned long long mask = std::stoull(status.substr(at + which.size() + 2, 16), nullptr, 16);
  return mask >> (signal - 1) & 1;
}

// A signal during the search of a large tree stops the batch with its
// summary; more signals while it stops change nothing.
TEST_F(BatchTrust, SignalsFromTheStartAndWhileStopping) {
  for (int i = 0; i < 3000; ++i) fs::create_directories(fs::u8path(dir.file("wide/f" + std::to_string(i) + "/g")));
  put("wide/r.tlq", recordingOf(2));
  testing::RunningProcess searching({TLQ_CONSOLE_PROGRAM, "--batch", dir.file("wide"), dir.file("wide"), dir.file("wide")},
                                    {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  for (int i = 0; i < 20000 && !handles(searching.pid(), SIGTERM); ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ::kill(searching.pid(), SIGTERM);
  auto r = searching.wait();
  EXPECT_EQ(r.exitCode, 143) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("cancelled: ")) << r.out;

  std::string big = recordingOf(60000);
  for (int i = 0; i < 10; ++i) put("big/r" + std::to_string(i) + ".tlq", big);
  testing::RunningProcess converting({TLQ_CONSOLE_PROGRAM, "--batch", dir.file("big")},
                                     {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  // Once it converts (its handlers in place, a temporary table begun).
  for (int i = 0; i < 4000 && !(handles(converting.pid(), SIGINT) && !filesNamed(".tmp", dir.file("big")).empty());
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  for (int k = 0; k < 20; ++k) {
    ::kill(converting.pid(), k % 2 ? SIGTERM : SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  r = converting.wait();
  EXPECT_EQ(r.exitCode, 130) << r.out << r.err;  // the first decides
  EXPECT_TRUE(r.out.starts_with("cancelled: ")) << r.out;
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// A batch started with SIGINT ignored (a script's background job) is not
// stopped by it.
TEST_F(BatchTrust, AnIgnoredInterruptStaysIgnored) {
  for (int i = 0; i < 10; ++i) put("i/r" + std::to_string(i) + ".tlq", recordingOf(20000));
  testing::RunningProcess batch({"/bin/sh", "-c", "trap '' INT; exec \"$0\" \"$@\"", TLQ_CONSOLE_PROGRAM, "--batch",
                                 dir.file("i")},
                                {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  // Once the program runs (its handlers in place, SIGINT still ignored).
  for (int i = 0; i < 2000 && !(handles(batch.pid(), SIGTERM) && handles(batch.pid(), SIGINT, "SigIgn")); ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  for (int i = 0; i < 400 && filesNamed(".csv", dir.file("i")).empty(); ++i) {
    ::kill(batch.pid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  auto r = batch.wait();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("10 recordings converted, 0 failed")) << r.out;
}
#endif

}  // namespace
}  // namespace tlq
