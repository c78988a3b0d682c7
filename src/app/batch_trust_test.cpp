// A batch to run every day over an archive: no older table lost or changed
// behind the user's back, only what changed converted again, and a result
// for every recording. The console program in real processes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "app/batch_fixture.h"
#include "app/batch_text.h"
#include "batch/table_files.h"
#include "platform/folder_lock.h"
#include "platform/folders.h"
#include "test_support.h"
#include "text.h"

#ifdef _WIN32
#include "platform/folders.h"
#include "platform/win32_text.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
  std::string c = put("u/c.tlq", recordingOf(7)), d = put("u/d.tlq", recordingOf(8));
  auto r = batch({"--update", dir.file("u")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("4 recordings converted, 0 failed")) << r.out;
  const std::string tableA = readFile(dir.file("u/a.csv"));

  // b changed since; c's table written over by hand (it is not what this
  // program wrote, though newer); d replaced by an older copy with its date.
  fs::last_write_time(fs::u8path(b), fs::last_write_time(fs::u8path(dir.file("u/b.csv"))) + std::chrono::seconds(5));
  writeFile(dir.file("u/c.csv"), "newer, but not this program's\r\n");
  fs::last_write_time(fs::u8path(d), fs::last_write_time(fs::u8path(d)) - std::chrono::hours(24));
  auto plan = batch({"--update", "--dry-run", "--log", dir.file("nolog.csv"), dir.file("u")});
  EXPECT_EQ(plan.exitCode, 0);
  std::string planned = "up to date: " + below(dir.file("u"), "a.tlq") + "\n";
  for (const char* name : {"b", "c", "d"})
    planned += "would write: " + below(dir.file("u"), std::string(name) + ".csv") + " from " +
               below(dir.file("u"), std::string(name) + ".tlq") + "\n";
  EXPECT_EQ(plan.out, planned);
  EXPECT_FALSE(fileExists(dir.file("nolog.csv")));

  r = batch({"--update", dir.file("u")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("3 recordings converted, 1 up to date, 0 failed, 21 lines written")) << r.out;
  EXPECT_EQ(readFile(dir.file("u/a.csv")), tableA);
  for (const std::string& rec : {b, c, d})
    EXPECT_EQ(readFile(rec.substr(0, rec.size() - 4) + ".csv"), singleTable(rec)) << rec;
  r = batch({"--update", dir.file("u")});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 4 up to date, 0 failed")) << r.out;

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
  auto r = batch({"--dry-run", "--out", dir.file("o/p"), "--split-rows", "2", dir.file("d")});
  EXPECT_EQ(r.exitCode, 0) << r.out;  // what fails only when it is read is not known yet
  const std::string parts = " (and _part2, _part3, ... beyond 2 lines) from ";
  EXPECT_EQ(r.out, "would write: " + below(dir.file("o/p"), "a.csv") + parts + below(dir.file("d"), "a.tlq") + "\n" +
                       "would write: " + below(dir.file("o/p"), "sub/b.csv") + parts + below(dir.file("d"), "sub/b.tlq") +
                       "\n");
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

// Files named as parts of a table beyond its last one (an earlier split
// into more parts, or a user's own file of that name) are listed, never
// removed unasked; a name that a recording owns is not even listed; nothing
// named after a workbook is looked at.
TEST_F(BatchTrust, StalePartsAreListedNotRemoved) {
  const std::string stale = " (a part of an earlier split into more parts; not removed)";
  std::string rec = put("p/long.tlq", recordingOf(200));
  ASSERT_EQ(batch({"--split-rows", "50", rec}).exitCode, 0);  // four parts
  std::string part4 = readFile(dir.file("p/long_part4.csv"));
  put("n/X.tlq", recordingOf(3));
  writeFile(dir.file("n/X_part2.csv"), "notes\r\n");
  auto r = batch({"--split-rows", "150", dir.file("p"), dir.file("n")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  auto all = lines(r.out);
  ASSERT_EQ(all.size(), 4u) << r.out;
  EXPECT_EQ(all[0], "stale: " + below(dir.file("n"), "X_part2.csv") + stale);
  EXPECT_EQ(all[1], "stale: " + below(dir.file("p"), "long_part3.csv") + stale);
  EXPECT_EQ(all[2], "stale: " + below(dir.file("p"), "long_part4.csv") + stale);
  EXPECT_TRUE(all[3].starts_with("2 recordings converted, 0 failed, 3 stale parts not removed, 203 lines written"))
      << all[3];
  EXPECT_EQ(readFile(dir.file("n/X_part2.csv")), "notes\r\n");
  EXPECT_EQ(readFile(dir.file("p/long_part4.csv")), part4);
  EXPECT_EQ(dataLines(readFile(dir.file("p/long.csv"))) + dataLines(readFile(dir.file("p/long_part2.csv"))), 200u);
  // A plan says the same where it knows the parts (a table not split).
  r = batch({"--dry-run", dir.file("n")});
  EXPECT_EQ(r.out, "would write: " + below(dir.file("n"), "X.csv") + " from " + below(dir.file("n"), "X.tlq") + "\n" +
                       "stale: " + below(dir.file("n"), "X_part2.csv") + stale + "\n");

  // Another tree's table in the same out folder, listed and kept; the table
  // of a recording beside, of whatever extension, not even listed.
  put("b/X_part2.tlq", recordingOf(2));
  put("a/X.tlq", recordingOf(20));
  ASSERT_EQ(batch({"--out", dir.file("out"), dir.file("b")}).exitCode, 0);
  std::string other = readFile(dir.file("out/X_part2.csv"));
  r = batch({"--out", dir.file("out"), dir.file("a")});
  EXPECT_TRUE(r.out.starts_with("stale: " + below(dir.file("out"), "X_part2.csv") + stale + "\n")) << r.out;
  EXPECT_EQ(readFile(dir.file("out/X_part2.csv")), other);
  put("d/data.json", recordingOf(30));
  put("d/data_part2.json", recordingOf(2));
  ASSERT_EQ(batch({dir.file("d/data_part2.json")}).exitCode, 0);
  std::string owned = readFile(dir.file("d/data_part2.csv"));
  r = batch({dir.file("d/data.json")});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 30 lines written")) << r.out;
  EXPECT_EQ(readFile(dir.file("d/data_part2.csv")), owned);

  // Workbooks have no parts.
  put("w/X.tlq", recordingOf(3));
  for (const char* name : {"w/X.xlsx_part2", "w/X_part2.xlsx", "w/X_part2.csv"}) writeFile(dir.file(name), name);
  r = batch({"--xlsx", dir.file("w")});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 3 lines written")) << r.out;
  for (const char* name : {"w/X.xlsx_part2", "w/X_part2.xlsx", "w/X_part2.csv"})
    EXPECT_EQ(readFile(dir.file(name)), name);

  // A part beyond a gap: listed once the table is converted again, and not
  // converted again by every --update after.
  std::string gap = put("g/r.tlq", recordingOf(4));
  ASSERT_EQ(batch({"--split-rows", "1", gap}).exitCode, 0);
  fs::remove(fs::u8path(dir.file("g/r_part2.csv")));
  r = batch({"--update", "--split-rows", "10", dir.file("g")});
  EXPECT_EQ(r.out.substr(0, r.out.find(", 4 lines")),
            "stale: " + below(dir.file("g"), "r_part3.csv") + stale + "\nstale: " + below(dir.file("g"), "r_part4.csv") +
                stale + "\n1 recording converted, 0 failed, 2 stale parts not removed")
      << r.out;
  r = batch({"--update", "--split-rows", "10", dir.file("g")});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed, 0 lines")) << r.out;
  EXPECT_EQ(readFile(dir.file("g/r.csv")), singleTable(gap));
}

// --delete-stale-parts removes what it lists, but never a file that is not
// a part of that table as this run writes it (its first line is not the
// header), a link, or a read-only file.
TEST_F(BatchTrust, DeleteStalePartsRemovesOnlyWhatIsSafe) {
  std::string rec = put("s/r.tlq", recordingOf(40));
  ASSERT_EQ(batch({"--split-rows", "5", rec}).exitCode, 0);  // eight parts
  writeFile(dir.file("s/r_part6.csv"), "mine\r\n");
  auto partPath = [&](int k) { return below(dir.file("s"), "r_part" + std::to_string(k) + ".csv"); };
#ifdef _WIN32
  ::SetFileAttributesW(widen(dir.file("s/r_part5.csv")).c_str(), FILE_ATTRIBUTE_READONLY);
#else
  ::chmod(dir.file("s/r_part5.csv").c_str(), 0444);
  std::string header = readFile(dir.file("s/r.csv")).substr(0, readFile(dir.file("s/r.csv")).find("\r\n") + 2);
  writeFile(dir.file("elsewhere.csv"), header + "kept\r\n");
  fs::remove(fs::u8path(dir.file("s/r_part7.csv")));
  fs::create_symlink("../elsewhere.csv", fs::u8path(dir.file("s/r_part7.csv")));
#endif
  const std::string what = " (a part of an earlier split into more parts";
  auto plan = batch({"--dry-run", "--delete-stale-parts", rec});
  EXPECT_TRUE(plan.out.starts_with("would write: ")) << plan.out;
  EXPECT_NE(plan.out.find("\nwould remove: " + partPath(2) + what + ", if its first line is the table's header)\n"),
            std::string::npos)
      << plan.out;
  EXPECT_NE(plan.out.find("\nstale: " + partPath(5) + what + "; not removed: it is read-only)\n"), std::string::npos)
      << plan.out;
  auto r = batch({"--delete-stale-parts", rec});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  std::string expected;
  for (int k = 2; k <= 8; ++k) {
    if (k == 5)
      expected += "stale: " + partPath(k) + what + "; not removed: it is read-only)\n";
    else if (k == 6)
      expected += "stale: " + partPath(k) + what + "; not removed: its first line is not the table's header)\n";
#ifndef _WIN32
    else if (k == 7)
      expected += "stale: " + partPath(k) + what + "; not removed: it is a link)\n";
#endif
    else
      expected += "removed: " + partPath(k) + what + ")\n";
  }
  EXPECT_EQ(r.out.substr(0, expected.size()), expected) << r.out;
#ifdef _WIN32
  EXPECT_TRUE(r.out.find("2 stale parts not removed, 5 stale parts removed") != std::string::npos) << r.out;
  ::SetFileAttributesW(widen(dir.file("s/r_part5.csv")).c_str(), FILE_ATTRIBUTE_NORMAL);
#else
  EXPECT_TRUE(r.out.find("3 stale parts not removed, 4 stale parts removed") != std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_symlink(fs::u8path(dir.file("s/r_part7.csv"))));
  EXPECT_EQ(readFile(dir.file("elsewhere.csv")), header + "kept\r\n");
#endif
  for (int k : {2, 3, 4, 8}) EXPECT_FALSE(fileExists(dir.file("s/r_part" + std::to_string(k) + ".csv"))) << k;
  EXPECT_EQ(readFile(dir.file("s/r_part6.csv")), "mine\r\n");
  EXPECT_TRUE(fileExists(dir.file("s/r_part5.csv")));
  EXPECT_EQ(readFile(dir.file("s/r.csv")), singleTable(rec));
}

// The log is checked against every file the run may write before anything
// is written: a part of a table (by its name, or a link to it) too.
TEST_F(BatchTrust, TheLogOverwritesNoPart) {
  put("l/X.tlq", recordingOf(12));
  auto r = batch({"--split-rows", "5", "--log", dir.file("l/X_part2.csv"), dir.file("l")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: --log would overwrite " + below(dir.file("l"), "X_part2.csv") + "\n"))
      << r.err;
  EXPECT_FALSE(fileExists(dir.file("l/X.csv")));
#ifndef _WIN32
  writeFile(dir.file("log.csv"), "an older log");
  fs::create_symlink("../log.csv", fs::u8path(dir.file("l/X_part3.csv")));
  r = batch({"--split-rows", "5", "--log", dir.file("log.csv"), dir.file("l")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: --log would overwrite " + below(dir.file("l"), "X_part3.csv") + "\n"))
      << r.err;
  EXPECT_EQ(readFile(dir.file("log.csv")), "an older log");
#endif
  EXPECT_FALSE(fileExists(dir.file("l/X.csv")));
}

// Another program holding the lock on a folder's tables too long: the
// recording fails and says why; the older table stays. Once it lets go, the
// table goes in.
TEST_F(BatchTrust, ALockHeldTooLongFailsTheRecording) {
  std::string rec = put("k/a.tlq", recordingOf(3));
  writeFile(dir.file("k/a.csv"), "older");
  {
    FolderLock held(dir.file("k"), std::chrono::milliseconds(0));
    ASSERT_TRUE(held.held());
    auto r = batch({dir.file("k")}, {{"TLQCONVERTER_LOCK_WAIT", "1"}});
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_TRUE(r.out.starts_with("failed: " + below(dir.file("k"), "a.tlq") + ": IOError: cannot open: " +
                                  below(dir.file("k"), "a.csv") +
                                  " (another program is putting tables into its folder: waited 1 s) (report: "))
        << r.out;
    EXPECT_EQ(readFile(dir.file("k/a.csv")), "older");
    EXPECT_EQ(leftovers(), std::vector<std::string>());
  }
  auto r = batch({dir.file("k")}, {{"TLQCONVERTER_LOCK_WAIT", "1"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(readFile(dir.file("k/a.csv")), singleTable(rec));
  EXPECT_FALSE(fileExists(dir.file("k/tlqconverter.lock")));
}

// A single conversion that fails leaves its lines (as it must), dated
// before the recording: --update converts it again and shows the failure.
// A split table with parts missing in a row is not whole.
TEST_F(BatchTrust, UpdateTakesNoPartialTableForWhole) {
  std::string rec = put("f/r.tlq", recordingOf(3000, 0, 2500));
  auto single = run({rec});
  EXPECT_EQ(single.exitCode, 2);
  ASSERT_EQ(dataLines(readFile(dir.file("f/r.csv"))), 2500u);
  EXPECT_LT(fs::last_write_time(fs::u8path(dir.file("f/r.csv"))), fs::last_write_time(fs::u8path(rec)));
  auto r = batch({"--update", dir.file("f")});
  EXPECT_EQ(r.exitCode, 2) << r.out;
  EXPECT_TRUE(r.out.starts_with("failed: " + below(dir.file("f"), "r.tlq") + ": AssertionError: ")) << r.out;

  std::string g = put("g/r.tlq", recordingOf(10));
  ASSERT_EQ(batch({"--split-rows", "2", g}).exitCode, 0);  // five parts
  fs::remove(fs::u8path(dir.file("g/r_part2.csv")));
  fs::remove(fs::u8path(dir.file("g/r_part3.csv")));
  r = batch({"--update", "--split-rows", "2", dir.file("g")});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 10 lines written")) << r.out;
  EXPECT_EQ(dataLines(readFile(dir.file("g/r_part3.csv"))), 2u);
}

// The parts of a split table as one text, each part's header taken off but
// the first's: the first `parts`, or all there are.
std::string joinedParts(const std::string& table, uint64_t parts = UINT64_MAX) {
  std::string joined;
  for (uint64_t k = 1; k <= parts && fileExists(tablePartPath(table, k)); ++k) {
    std::string text = readFile(tablePartPath(table, k));
    joined += k == 1 ? text : text.substr(text.find("\r\n") + 2);
  }
  return joined;
}

#ifndef _WIN32
// Two batches over one recording, one split and one not, the one not split
// committing last: its table was written before the other's parts, which
// stay beside it, newer than it. They are no part of it, for any run.
TEST_F(BatchTrust, PartsOfTwoRunsAreNeverOneTable) {
  std::string rec = put("m/rec.tlq", recordingOf(1000));
  const std::string whole = singleTable(rec);
  const std::map<std::string, std::string> env = {
      {"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"TLQCONVERTER_LOCK_WAIT", "60"}};
  std::optional<testing::RunningProcess> unsplit;
  {
    FolderLock held(dir.file("m"), std::chrono::milliseconds(0));
    ASSERT_TRUE(held.held());
    unsplit.emplace(std::vector<std::string>{TLQ_CONSOLE_PROGRAM, "--batch", rec}, env);
    // Once its table is written, it waits for the lock: stopped there.
    auto written = [&] {
      std::vector<std::string> temps = filesNamed(".tmp", dir.file("m"));
      return temps.size() == 1 && fs::file_size(fs::u8path(temps[0])) == whole.size();
    };
    for (int i = 0; i < 50000 && !written(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_TRUE(written());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(unsplit->pid(), SIGSTOP);
  }
  auto split = batch({"--split-rows", "400", rec});
  EXPECT_EQ(split.exitCode, 0) << split.out;
  ::kill(unsplit->pid(), SIGCONT);
  auto last = unsplit->wait();
  EXPECT_EQ(last.exitCode, 0) << last.out;
  ASSERT_EQ(readFile(dir.file("m/rec.csv")), whole);
  ASSERT_TRUE(fileExists(dir.file("m/rec_part3.csv")));

  // Not split, it is whole; split, it is converted again.
  auto r = batch({"--update", rec});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << r.out;
  r = batch({"--update", "--split-rows", "400", rec});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 1000 lines written")) << r.out;
  EXPECT_EQ(joinedParts(dir.file("m/rec.csv")), whole);
  r = batch({"--update", "--split-rows", "400", rec});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << r.out;
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}
#endif

// A split table whose last part is gone is not whole: converted again.
TEST_F(BatchTrust, ATableWhoseLastPartIsGoneIsConvertedAgain) {
  std::string rec = put("z/rec.tlq", recordingOf(3000));
  ASSERT_EQ(batch({"--split-rows", "1000", rec}).exitCode, 0);  // three full parts
  const std::string whole = joinedParts(dir.file("z/rec.csv"));
  ASSERT_EQ(whole, singleTable(rec));
  fs::remove(fs::u8path(dir.file("z/rec_part3.csv")));
  auto r = batch({"--update", "--split-rows", "1000", rec});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 3000 lines written")) << r.out;
  EXPECT_EQ(joinedParts(dir.file("z/rec.csv")), whole);

  // The same where the last part is short, and where the parts are the
  // first and one more.
  ASSERT_EQ(batch({"--split-rows", "1400", rec}).exitCode, 0);
  fs::remove(fs::u8path(dir.file("z/rec_part3.csv")));
  r = batch({"--update", "--split-rows", "1400", rec});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 3000 lines written")) << r.out;
  ASSERT_EQ(batch({"--split-rows", "2000", rec}).exitCode, 0);  // the third part stale now
  fs::remove(fs::u8path(dir.file("z/rec_part2.csv")));
  r = batch({"--update", "--split-rows", "2000", rec});
  EXPECT_NE(r.out.find("\n1 recording converted, 0 failed, 1 stale part not removed, 3000 lines written"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(joinedParts(dir.file("z/rec.csv"), 2), whole);
  r = batch({"--update", "--split-rows", "2000", rec});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << r.out;
}

// --delete-stale-parts removes a stale part only while it is this
// program's file as it left it: a part the user edited (its header kept) and
// the user's own file that begins with the table's header stay, listed.
TEST_F(BatchTrust, DeleteStalePartsKeepsWhatTheUserChanged) {
  std::string rec = put("e/r.tlq", recordingOf(40));
  ASSERT_EQ(batch({"--split-rows", "10", rec}).exitCode, 0);  // four parts
  std::string part3 = readFile(dir.file("e/r_part3.csv"));
  const std::string header = part3.substr(0, part3.find("\r\n") + 2);
  size_t value = part3.find(";-12,346");  // a value of the first data line
  ASSERT_NE(value, std::string::npos) << part3;
  part3.replace(value, 8, ";-12,000");
  part3 += "checked by hand, 12 May\r\n";
  writeFile(dir.file("e/r_part3.csv"), part3);
  const std::string mine = header + "my own notes\r\n";
  writeFile(dir.file("e/r_part5.csv"), mine);
  auto partPath = [&](int k) { return below(dir.file("e"), "r_part" + std::to_string(k) + ".csv"); };
  const std::string what = " (a part of an earlier split into more parts";
  const std::string kept = "; not removed: it was changed, or not written with the table)\n";

  auto plan = batch({"--dry-run", "--delete-stale-parts", rec});
  EXPECT_EQ(plan.out, "would write: " + dir.file("e/r.csv") + " from " + rec + "\n" + "would remove: " +
                          partPath(2) + what + ", if its first line is the table's header)\n" + "stale: " + partPath(3) +
                          what + kept + "would remove: " + partPath(4) + what +
                          ", if its first line is the table's header)\n" + "stale: " + partPath(5) + what + kept)
      << plan.out;
  auto r = batch({"--delete-stale-parts", rec});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out.substr(0, r.out.find("1 recording")),
            "removed: " + partPath(2) + what + ")\n" + "stale: " + partPath(3) + what + kept + "removed: " + partPath(4) +
                what + ")\n" + "stale: " + partPath(5) + what + kept)
      << r.out;
  EXPECT_EQ(readFile(dir.file("e/r_part3.csv")), part3);
  EXPECT_EQ(readFile(dir.file("e/r_part5.csv")), mine);
  EXPECT_FALSE(fileExists(dir.file("e/r_part2.csv")));
  EXPECT_FALSE(fileExists(dir.file("e/r_part4.csv")));
  EXPECT_EQ(readFile(dir.file("e/r.csv")), singleTable(rec));

  // The user's file stays however often the table is converted again.
  r = batch({"--delete-stale-parts", rec});
  EXPECT_EQ(readFile(dir.file("e/r_part5.csv")), mine);
  EXPECT_EQ(readFile(dir.file("e/r_part3.csv")), part3);

  // Parts that a run left, listed and kept, are still known as untouched
  // when they are to be removed later, also after runs in between.
  std::string later = put("e2/r.tlq", recordingOf(40));
  ASSERT_EQ(batch({"--split-rows", "10", later}).exitCode, 0);
  for (int k = 0; k < 2; ++k) {
    r = batch({later});
    EXPECT_NE(r.out.find("1 recording converted, 0 failed, 3 stale parts not removed"), std::string::npos) << r.out;
  }
  r = batch({"--delete-stale-parts", later});
  EXPECT_NE(r.out.find("1 recording converted, 0 failed, 3 stale parts removed"), std::string::npos) << r.out;
  for (int k = 2; k <= 4; ++k) EXPECT_FALSE(fileExists(dir.file("e2/r_part" + std::to_string(k) + ".csv"))) << k;
}

// --update takes the run's options: a table split otherwise, or with other
// separators, is converted again.
TEST_F(BatchTrust, UpdateTakesTheRunsOptions) {
  std::string rec = put("o/r.tlq", recordingOf(30));
  const std::string table = dir.file("o/r.csv");
  ASSERT_EQ(batch({"--split-rows", "20", rec}).exitCode, 0);  // two parts
  auto r = batch({"--update", "--split-rows", "20", rec});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << r.out;
  r = batch({"--update", "--split-rows", "25", rec});
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 30 lines written")) << r.out;
  EXPECT_EQ(dataLines(readFile(table)), 25u);
  r = batch({"--update", rec});
  EXPECT_TRUE(r.out.starts_with("stale: " + below(dir.file("o"), "r_part2.csv"))) << r.out;
  EXPECT_NE(r.out.find("1 recording converted, 0 failed, 1 stale part not removed, 30 lines written"), std::string::npos)
      << r.out;
  EXPECT_EQ(readFile(table), singleTable(rec));
  r = batch({"--update", rec});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << r.out;

  // The regional settings give ";" and ","; a run with others converts it
  // again, also where only the decimal separator differs (the header is the
  // same then).
  r = batch({"--update", "--list-separator", ",", "--decimal-separator", ".", rec});
  EXPECT_NE(r.out.find("1 recording converted, 0 failed"), std::string::npos) << r.out;
  EXPECT_TRUE(readFile(table).starts_with("timestamp,")) << readFile(table);
  r = batch({"--update", "--list-separator", ",", "--decimal-separator", ".", rec});
  EXPECT_NE(r.out.find("0 recordings converted, 1 up to date, 0 failed"), std::string::npos) << r.out;
  r = batch({"--update", "--decimal-separator", ".", rec});
  EXPECT_NE(r.out.find("1 recording converted, 0 failed"), std::string::npos) << r.out;
  const std::string pointed = readFile(table);
  EXPECT_TRUE(pointed.starts_with("timestamp;")) << pointed;
  r = batch({"--update", rec});
  EXPECT_NE(r.out.find("1 recording converted, 0 failed"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(table), singleTable(rec));
  EXPECT_NE(readFile(table), pointed);
  r = batch({"--update", rec});
  EXPECT_NE(r.out.find("0 recordings converted, 1 up to date, 0 failed"), std::string::npos) << r.out;
}

// --log: one line per recording, as a spreadsheet reads it.
TEST_F(BatchTrust, TheLogHasALinePerRecording) {
  std::string a = put("l/a; b.tlq", recordingOf(4, 1));
  std::string b = put("l/b.tlq", "{");
  std::string c = put("l/c.tlq", recordingOf(25));
  std::string log = dir.file("logs/batch.csv");
  auto r = batch({"--log", log, "--split-rows", "10", dir.file("l")});
  EXPECT_EQ(r.exitCode, 2) << r.out;
  // A byte-order mark, then the separators of the tables (";" and "," here).
  auto all = lines(readFile(log));
  ASSERT_EQ(all.size(), 6u) << readFile(log);  // the tables of c on lines of their own, in one field
  EXPECT_EQ(all[0], "\xEF\xBB\xBF" "recording;tables;outcome;data lines;entries dropped for a failed CRC;bytes read;"
                    "seconds;error kind;error message;report;stale parts;stale parts removed;interval s;gaps;"
                    "samples missing;longest gap s;longest gap at;stamps not after the one before;"
                    "first not after at line;lines without a time stamp;unreadable inclino1;unreadable inclino2;"
                    "unreadable elasto;unreadable force\r");
  std::string size = std::to_string(fs::file_size(fs::u8path(a)));
  EXPECT_TRUE(std::regex_match(all[1], std::regex("\"" + testing::regexEscaped(below(dir.file("l"), "a; b.tlq")) +
                                                  "\";\"" + testing::regexEscaped(below(dir.file("l"), "a; b.csv")) +
                                                  "\";converted;4;1;" + size + ";[0-9]+,[0-9]{3};;;;;;;;;;;0;;4;0;;;0\r")))
      << all[1];
  EXPECT_TRUE(std::regex_match(all[2], std::regex(testing::regexEscaped(below(dir.file("l"), "b.tlq")) +
                                                  ";;failed;0;0;1;[0-9,]+;JsonParseError;"
                                                  "[^\r]+;[^;\r]+tlqconverter_error_[A-Za-z0-9]{8}\\.txt;;;;;;;;;;;;;;\r")))
      << all[2];
  EXPECT_EQ(all[3], below(dir.file("l"), "c.tlq") + ";\"" + below(dir.file("l"), "c.csv"));
  EXPECT_EQ(all[4], below(dir.file("l"), "c_part2.csv"));
  EXPECT_TRUE(all[5].starts_with(below(dir.file("l"), "c_part3.csv") + "\";converted;25;0;")) << all[5];

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
  // Separators that would make a table unreadable are refused, saying which
  // are allowed; so is one character for both.
  const std::string list = "tlqconverter: --list-separator needs one character: a space, a tab or one of "
                           "!#$%&'()*+,-./:;<=>?@[\\]^`{|}~, not \"";
  for (std::string c : {"ab", "\"", "\r", "\n", "a", "Z", "7", "_", "\xe2\x82\xac", ""}) {
    r = batch({"--list-separator", c, rec});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.starts_with(list + displayText(c) + "\"\n")) << r.err;
  }
  r = batch({"--decimal-separator", "-", rec});
  EXPECT_TRUE(r.err.starts_with("tlqconverter: --decimal-separator needs one character: one of "
                                "!#$%&'()*,./:;<=>?@[\\]^`{|}~, not \"-\"\n"))
      << r.err;
  r = batch({"--list-separator", "|", "--decimal-separator=|", rec});
  EXPECT_TRUE(r.err.starts_with("tlqconverter: the list and the decimal separator need to differ, not \"|\" for both\n"))
      << r.err;
  r = batch({"--list-separator", ".", rec});  // the decimal separator of the regional settings
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: the list and the decimal separator need to differ, not \".\" for both "
                                "(one of them from the regional settings)\n"))
      << r.err;
  EXPECT_TRUE(reports().empty());
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

// A folder link and ".." after it name what the system opens there: on
// POSIX systems the parent of the link's target, under Windows (which takes
// ".." by name) the folder the link is in. Either way the log never lands
// on a recording, a table, a part or a workbook of the run, and a folder
// named twice so is searched once.
TEST_F(BatchTrust, ALinkAndDotDotNameWhatTheSystemOpens) {
  std::string r = put("tree/r.tlq", recordingOf(12)), s = put("tree/sub/s.tlq", recordingOf(3));
  fs::create_directories(fs::u8path(dir.file("a")));
  std::error_code ec;
  fs::create_directory_symlink(fs::u8path("../tree/sub"), fs::u8path(dir.file("a/link")), ec);
  if (ec) GTEST_SKIP() << "no links to folders here: " << ec.message();
  const std::string recording = readFile(r);
  std::string tree = dir.file("tree");
#ifdef _WIN32
  const std::string beside = dir.file("a");  // where a/link/.. leads
#else
  const std::string beside = tree;
#endif

  // "tree" and "a/link/.." (tree itself, or a folder of no recordings).
  auto run = batch({tree, dir.file("a/link/..")});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(run.out.starts_with("2 recordings converted, 0 failed, 15 lines written")) << run.out;
  EXPECT_EQ(readFile(dir.file("tree/r.csv")), singleTable(r));
  EXPECT_EQ(readFile(dir.file("tree/sub/s.csv")), singleTable(s));
  fs::remove(fs::u8path(dir.file("tree/r.csv")));
  fs::remove(fs::u8path(dir.file("tree/sub/s.csv")));

  // The log through the link onto what the run reads or writes.
  struct Case {
    std::vector<std::string> options;
    std::string log, overwritten;
  };
  std::vector<Case> cases = {
      {{}, "a/link/../../tree/r.tlq", below(tree, "r.tlq")},  // ".." after "..": tree on every system
      {{"--split-rows", "5"}, "a/link/../../tree/r_part2.csv", below(tree, "r_part2.csv")},
  };
  if (beside == tree) {
    cases.push_back({{}, "a/link/../r.tlq", below(tree, "r.tlq")});
    cases.push_back({{}, "a/link/../r.csv", below(tree, "r.csv")});
    cases.push_back({{"--split-rows", "5"}, "a/link/../r_part3.csv", below(tree, "r_part3.csv")});
    cases.push_back({{"--xlsx"}, "a/link/../r.xlsx", below(tree, "r.xlsx")});
    cases.push_back({{}, "a/link/../sub/s.tlq", below(tree, "sub/s.tlq")});
  }
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--log", dir.file(c.log), tree});
    run = batch(args);
    EXPECT_EQ(run.exitCode, 2) << c.log << ": " << run.out << run.err;
    EXPECT_TRUE(run.err.starts_with("tlqconverter: --log would overwrite " + c.overwritten + "\n")) << c.log << ": " << run.err;
    EXPECT_EQ(readFile(r), recording) << c.log;
    EXPECT_EQ(filesNamed(".csv", tree), std::vector<std::string>()) << c.log;
    EXPECT_EQ(filesNamed(".xlsx", tree), std::vector<std::string>()) << c.log;
  }

  // Where the system opens no file of the run, the log goes there.
  run = batch({"--log", dir.file("a/link/../log.csv"), tree});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_TRUE(readFile(below(beside, "log.csv")).starts_with("\xEF\xBB\xBF" "recording;"));
  EXPECT_EQ(readFile(r), recording);
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

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
  EXPECT_NE(readFile(dir.file("log.csv")).find("\"" + odd + "\";;failed;"), std::string::npos);
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
  put("locked/b.tlq", recordingOf(3));
  put("ok/c.tlq", recordingOf(3));
  std::vector<std::string> user;
  if (::geteuid() == 0) {  // as root, nothing is read-only: run as nobody
    if (!fileExists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv to run as another user";
    user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const std::string& path : {dir.path(), tmp, dir.file("ro"), dir.file("ok")}) ::chmod(path.c_str(), 0777);
  }
  ::chmod(dir.file("locked").c_str(), 0555);  // takes no file
  user.insert(user.end(), {TLQ_CONSOLE_PROGRAM, "--batch"});
  auto as = [&](std::vector<std::string> args) {
    args.insert(args.begin(), user.begin(), user.end());
    args.insert(args.end(), {dir.file("locked"), dir.file("none.tlq"), dir.file("ok"), dir.file("ro")});
    return testing::runProcess(args, {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  };
  // What fails for reasons known before a recording is read, the plan says.
  const std::vector<std::string> why = {
      below(dir.file("locked"), "b.tlq") + ": cannot open: " + below(dir.file("locked"), "b.csv") + " (Permission denied)",
      dir.file("none.tlq") + ": cannot open: " + dir.file("none.tlq") + " (No such file or directory)",
      below(dir.file("ro"), "a.tlq") + ": cannot open: " + below(dir.file("ro"), "a.csv") + " (Permission denied)"};
  auto plan = as({"--dry-run"});
  EXPECT_EQ(plan.exitCode, 2) << plan.out << plan.err;
  EXPECT_EQ(plan.out, "would fail: " + why[0] + "\nwould fail: " + why[1] + "\nwould write: " +
                          below(dir.file("ok"), "c.csv") + " from " + below(dir.file("ok"), "c.tlq") + "\nwould fail: " +
                          why[2] + "\n");
  auto r = as({});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  auto all = lines(r.out);
  ASSERT_EQ(all.size(), 4u) << r.out;
  for (size_t i = 0; i < 3; ++i) {
    size_t colon = why[i].find(": ");
    EXPECT_TRUE(all[i].starts_with("failed: " + why[i].substr(0, colon) + ": IOError: " + why[i].substr(colon + 2) +
                                   " (report: "))
        << all[i];
  }
  EXPECT_TRUE(all[3].starts_with("1 recording converted, 3 failed")) << all[3];
  ::chmod(dir.file("locked").c_str(), 0755);
  EXPECT_EQ(readFile(dir.file("ro/a.csv")), "read-only");
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// A file with no write permission is read-only to root too (who could open
// it): its table, its workbook and its stale part are kept alike, in the
// batch, its plan and the single conversion, by the file's mode alone.
TEST_F(BatchTrust, AReadOnlyTableIsRefusedByItsMode) {
  std::string a = put("m/a.tlq", recordingOf(12));
  for (const char* name : {"m/a.csv", "m/a.xlsx", "m/a_part2.csv"}) {
    writeFile(dir.file(name), "read-only");
    ::chmod(dir.file(name).c_str(), 0444);
  }
  const std::string why = " (Permission denied)";
  auto plan = batch({"--dry-run", dir.file("m")});
  EXPECT_EQ(plan.exitCode, 2) << plan.out;
  EXPECT_TRUE(plan.out.starts_with("would fail: " + below(dir.file("m"), "a.tlq") + ": cannot open: " +
                                   below(dir.file("m"), "a.csv") + why + "\n"))
      << plan.out;
  for (std::vector<std::string> options : {std::vector<std::string>{}, {"--xlsx"}}) {
    std::string table = below(dir.file("m"), options.empty() ? "a.csv" : "a.xlsx");
    options.push_back(dir.file("m"));
    auto r = batch(options);
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_TRUE(r.out.starts_with("failed: " + below(dir.file("m"), "a.tlq") + ": IOError: cannot open: " + table + why +
                                  " (report: "))
        << r.out;
    // The single conversion refuses it too.
    r = run(options.size() == 1 ? std::vector<std::string>{a} : std::vector<std::string>{"--xlsx", a}, {},
            TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot open: " + dir.file(options.size() == 1 ? "m/a.csv" : "m/a.xlsx") +
                                  why + " (report: "))
        << r.err;
  }
  for (const char* name : {"m/a.csv", "m/a.xlsx", "m/a_part2.csv"}) {
    EXPECT_EQ(readFile(dir.file(name)), "read-only") << name;
    struct stat st {};
    ASSERT_EQ(::stat(dir.file(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u) << name;
  }
  // Once the table may be written, the stale part stays, for the same reason.
  ::chmod(dir.file("m/a.csv").c_str(), 0644);
  auto r = batch({"--delete-stale-parts", dir.file("m")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("stale: " + below(dir.file("m"), "a_part2.csv")) &&
              r.out.find("; not removed: it is read-only)\n") != std::string::npos)
      << r.out;
  EXPECT_EQ(readFile(dir.file("m/a.csv")), singleTable(a));
  EXPECT_EQ(readFile(dir.file("m/a_part2.csv")), "read-only");
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// The log is UTF-8 throughout (a name or a message with bytes that are not
// is escaped, as the summary escapes them), made as any new file is made,
// and written through a link, as tables are.
TEST_F(BatchTrust, TheLogIsUtf8AndMadeAsAFileIs) {
  put("u/x\xff.tlq", recordingOf(1));
  // Its error holds the first byte of the euro sign alone.
  put("u/cut.tlq", "{\"data\":[{\"inclino\":{\"raw\":\"8A\xe2\x82\xac" "AA\"}}]}");
  put("u/M\xc3\xa4rz.tlq", recordingOf(2));
  mode_t mask = ::umask(027);
  auto r = batch({"--log", dir.file("logs/new.csv"), dir.file("u")});
  ::umask(mask);
  EXPECT_EQ(r.exitCode, 2) << r.out;
  std::string log = readFile(dir.file("logs/new.csv"));
  for (size_t i = 0; i < log.size();) {
    size_t n = utf8Length(log.data() + i, log.data() + log.size());
    ASSERT_GT(n, 0u) << "not UTF-8 at " << i << ": " << log;
    i += n;
  }
  std::string odd = below(dir.file("u"), "x\\xff.tlq") + ";" + below(dir.file("u"), "x\\xff.csv") + ";converted;";
  EXPECT_NE(log.find("\r\n" + odd), std::string::npos) << log;
  EXPECT_NE(log.find(";ValueError;Invalid base64 format character `\\xe2` (ord 226) at location 2.;"), std::string::npos)
      << log;
  EXPECT_NE(log.find("\r\n" + below(dir.file("u"), "M\xc3\xa4rz.tlq") + ";"), std::string::npos) << log;
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("logs/new.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  writeFile(dir.file("logs/kept.csv"), "an older log");
  fs::create_symlink("logs/kept.csv", fs::u8path(dir.file("link.csv")));
  r = batch({"--log", dir.file("link.csv"), dir.file("u/M\xc3\xa4rz.tlq")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(fs::is_symlink(fs::u8path(dir.file("link.csv"))));
  EXPECT_TRUE(readFile(dir.file("logs/kept.csv")).starts_with("\xEF\xBB\xBF" "recording;"))
      << readFile(dir.file("logs/kept.csv"));
}

// Whenever the first signal comes, it decides the exit code: here while the
// summary is written (a reader that does not take it yet).
TEST_F(BatchTrust, TheFirstSignalDecidesTheExitCode) {
  put("s/r.tlq", recordingOf(1));
  for (int k = 2; k <= 1000; ++k) writeFile(dir.file("s/r_part" + std::to_string(k) + ".csv"), "mine");
  std::string fifo = dir.file("out.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  testing::RunningProcess writing({"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"$FIFO\"", TLQ_CONSOLE_PROGRAM, "--batch",
                                   dir.file("s")},
                                  {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"FIFO", fifo}});
  // Once its summary (longer than the pipe holds) waits for the reader.
  auto waiting = [&] {
    std::string wchan = readFile("/proc/" + std::to_string(writing.pid()) + "/wchan");
    return wchan.find("pipe_write") != std::string::npos;
  };
  for (int i = 0; i < 20000 && !waiting(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(200));
  ASSERT_TRUE(waiting());
  ::kill(writing.pid(), SIGTERM);
  std::string out;
  ::fcntl(reader, F_SETFL, 0);
  char buf[65536];
  for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) != 0;)
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  ::close(reader);
  auto r = writing.wait();
  EXPECT_EQ(r.exitCode, 143) << out.substr(out.size() - 300);
  EXPECT_NE(out.find("1 recording converted, 0 failed, 999 stale parts not removed"), std::string::npos);
}

// The system calls `calls` that the program made in a run of the batch, as
// strace shows them (file descriptors with their paths), in order; nothing
// when there is no strace.
std::vector<std::string> tracedBatch(const testing::TempDir& dir, const std::string& tmp, const std::string& calls,
                                     std::vector<std::string> args) {
  if (!fileExists("/usr/bin/strace")) return {};
  std::string trace = dir.file("strace.txt");
  args.insert(args.begin(), {"/usr/bin/strace", "-f", "-qq", "-y", "-e", "trace=" + calls, "-o", trace,
                             TLQ_CONSOLE_PROGRAM, "--batch"});
  // A leak check does not work under a tracer (the sanitizer builds).
  std::string sanitizer = getEnv("ASAN_OPTIONS").value_or("");
  auto r = testing::runProcess(args, {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
                                      {"ASAN_OPTIONS", sanitizer + (sanitizer.empty() ? "" : ":") + "detect_leaks=0"}});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> lines;
  std::string text = readFile(trace);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  fs::remove(fs::u8path(trace));
  return lines;
}

// Several batches over one tree at once: each table is put in under the
// lock on its folder, so every table is one run's whole table, nothing of
// theirs is left, and no run fails for another.
TEST_F(BatchTrust, BatchesAtOnceGiveEveryTableWhole) {
  const int n = 90;
  std::vector<std::string> recordings, wholes;
  for (int i = 0; i < n; ++i) {
    std::string name = "t/d" + std::to_string(i % 3) + "/r" + std::to_string(i) + ".tlq";
    recordings.push_back(put(name, recordingOf(20 + i % 37)));
    wholes.push_back(singleTable(recordings.back()));
  }
  ASSERT_EQ(batch({"--split-rows", "7", dir.file("t")}).exitCode, 0);
  for (int together : {2, 3}) {
    SCOPED_TRACE(together);
    std::vector<std::unique_ptr<testing::RunningProcess>> runs;
    for (int k = 0; k < together; ++k)
      runs.push_back(std::make_unique<testing::RunningProcess>(
          std::vector<std::string>{TLQ_CONSOLE_PROGRAM, "--batch", "--split-rows", "5", dir.file("t")},
          std::map<std::string, std::string>{{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}));
    for (auto& run : runs) {
      auto r = run->wait();
      EXPECT_EQ(r.exitCode, 0) << r.out;
      EXPECT_TRUE(r.out.starts_with(std::to_string(n) + " recordings converted, 0 failed, ")) << r.out;
    }
    for (int i = 0; i < n; ++i) {
      std::string base = recordings[i].substr(0, recordings[i].size() - 4), joined;
      size_t parts = (20 + i % 37 + 4) / 5;
      for (size_t k = 1; k <= parts; ++k) {
        std::string text = readFile(k == 1 ? base + ".csv" : base + "_part" + std::to_string(k) + ".csv");
        EXPECT_EQ(dataLines(text), k < parts ? 5u : 20 + i % 37 - (parts - 1) * 5) << base << " part " << k;
        joined += k == 1 ? text : text.substr(text.find("\r\n") + 2);
      }
      EXPECT_EQ(joined, wholes[i]) << base;
      EXPECT_FALSE(fileExists(base + "_part" + std::to_string(parts + 1) + ".csv")) << base;
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>());
  }
  auto r = batch({"--update", "--split-rows", "5", dir.file("t")});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, " + std::to_string(n) + " up to date, 0 failed")) << r.out;

  // A batch killed (a crash) holds no lock: the next one goes on at once.
  testing::RunningProcess killed({TLQ_CONSOLE_PROGRAM, "--batch", dir.file("t")},
                                 {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ::kill(killed.pid(), SIGKILL);
  killed.wait();
  r = batch({"--split-rows", "5", dir.file("t")}, {{"TLQCONVERTER_LOCK_WAIT", "1"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
}

// A recording that another file is renamed over while it is converted: the
// table would hold the older content and look newer than the new file, so
// the recording fails, in the batch and in the single conversion (whose
// lines are dated before the recording), and --update converts it again.
TEST_F(BatchTrust, ARecordingReplacedWhileItIsReadFails) {
  std::string large = recordingOf(300000), small = recordingOf(3);
  std::string rec = put("x/r.tlq", large);
  const std::map<std::string, std::string> env = {
      {"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"TLQCONVERTER_THREADS", "1"},
      {"PATH", bin + ":" + getEnv("PATH").value_or("/usr/bin:/bin")}, {"TLQ_PROBE_LOG", openerLog}};
  const std::string changed = "cannot read: " + rec + " (the file changed while it was read)";
  for (bool single : {false, true}) {
    SCOPED_TRACE(single);
    writeFile(rec, large);
    fs::remove(fs::u8path(dir.file("x/r.csv")));
    testing::RunningProcess converting(single ? std::vector<std::string>{TLQ_CONVERTER_EXE, rec}
                                              : std::vector<std::string>{TLQ_CONSOLE_PROGRAM, "--batch", rec},
                                       env);
    // Once its table is begun: the recording has been opened.
    for (int i = 0; i < 20000 && filesNamed(".tmp", dir.file("x")).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    writeFile(dir.file("x/new.tlq"), small);
    fs::rename(fs::u8path(dir.file("x/new.tlq")), fs::u8path(rec));
    auto r = converting.wait();
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    if (single) {
      EXPECT_TRUE(r.err.starts_with("tlqconverter: " + changed + " (report: ")) << r.err;
      EXPECT_LT(fs::last_write_time(fs::u8path(dir.file("x/r.csv"))), fs::last_write_time(fs::u8path(rec)));
    } else {
      EXPECT_TRUE(r.out.starts_with("failed: " + rec + ": IOError: " + changed + " (report: ")) << r.out;
      EXPECT_FALSE(fileExists(dir.file("x/r.csv")));
    }
    r = batch({"--update", rec});
    EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 3 lines written")) << r.out;
    EXPECT_EQ(readFile(dir.file("x/r.csv")), singleTable(rec));
  }
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// A recording rewritten in place while it is read: its last entry, read by
// the first pass as it was, becomes a number before the conversion reads it
// again. The failure is the change, never what the change made of its text,
// on one thread and on several, in the batch and the single conversion.
TEST_F(BatchTrust, ARecordingRewrittenInPlaceWhileItIsReadFailsAsChanged) {
  const std::string large = recordingOf(400000);
  std::string rec = put("y/r.tlq", large);
  const size_t first = large.rfind('\n') + 1, end = large.rfind("]}");
  const std::string number = "0" + std::string(end - first - 1, ' ');  // of the same length: still JSON
  const std::string changed = "cannot read: " + rec + " (the file changed while it was read)";
  auto rewrite = [&](const std::string& text) {
    int fd = ::open(rec.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, text.data(), text.size(), static_cast<off_t>(first)), static_cast<ssize_t>(text.size()));
    ::close(fd);
  };
  for (int trial = 0; trial < 8; ++trial) {
    bool single = trial % 2 == 1;
    std::string threads = trial % 4 < 2 ? "1" : "2";
    SCOPED_TRACE("single " + std::to_string(single) + ", threads " + threads);
    rewrite(large.substr(first, end - first));
    // Dated well before, so that the change shows in its time of last change.
    fs::last_write_time(fs::u8path(rec), fs::file_time_type::clock::now() - std::chrono::hours(1));
    fs::remove(fs::u8path(dir.file("y/r.csv")));
    testing::RunningProcess converting(single ? std::vector<std::string>{TLQ_CONSOLE_PROGRAM, rec}
                                              : std::vector<std::string>{TLQ_CONSOLE_PROGRAM, "--batch", rec},
                                       {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
                                        {"TLQCONVERTER_THREADS", threads}});
    // Once its table is begun, the first pass is over; the conversion
    // reaches the last entry only after all the others.
    for (int i = 0; i < 20000 && filesNamed(".tmp", dir.file("y")).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    rewrite(number);
    auto r = converting.wait();
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_EQ((single ? r.err : r.out).find("is not a JSON object"), std::string::npos) << r.out << r.err;
    if (single)
      EXPECT_TRUE(r.err.starts_with("tlqconverter: " + changed + " (report: ")) << r.err;
    else
      EXPECT_TRUE(r.out.starts_with("failed: " + rec + ": IOError: " + changed + " (report: ")) << r.out;
  }
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// A crash of the system must not leave an empty or short table that looks
// newer than its recording: every file goes to the disk before it is renamed
// into place, and its folder's names after.
TEST_F(BatchTrust, TablesReachTheDiskBeforeTheyGoIn) {
  put("d/a.tlq", recordingOf(30));
  put("d/b.tlq", recordingOf(3));
  std::string folder = dir.file("d");
  auto calls = tracedBatch(dir, tmp, "openat,fsync,fdatasync,rename,renameat,renameat2",
                           {"--split-rows", "10", "--log", dir.file("d/log.csv"), folder});
  if (calls.empty()) GTEST_SKIP() << "no strace";
  std::set<std::string> synced;
  std::vector<std::string> renamedTo;
  size_t renames = 0, lastRename = 0, folderSynced = 0;
  const std::regex fsync(R"re(^\d+\s+f(data)?sync\(\d+<([^>]*)>)re");
  const std::regex rename(R"re(^\d+\s+rename(at2?)?\((AT_FDCWD(<[^>]*>)?, )?"([^"]*tlqconverter_[A-Za-z0-9]{8}\.tmp)", (AT_FDCWD(<[^>]*>)?, )?"([^"]*)")re");
  for (size_t i = 0; i < calls.size(); ++i) {
    std::smatch m;
    if (std::regex_search(calls[i], m, fsync)) {
      synced.insert(m[2]);
      if (m[2] == folder && renames > 0) folderSynced = i;
    } else if (std::regex_search(calls[i], m, rename)) {
      EXPECT_TRUE(synced.count(m[4])) << "renamed before it was synced: " << calls[i];
      renamedTo.push_back(nameOf(m[7]));
      ++renames;
      lastRename = i;
    }
  }
  EXPECT_EQ(renames, 5u);  // the three parts of a, b's table and the log
  // A table in parts goes in from its last part to its first: a crash in
  // between leaves no first part, and the next --update converts it again.
  auto at = [&](const char* name) { return std::find(renamedTo.begin(), renamedTo.end(), name) - renamedTo.begin(); };
  EXPECT_LT(at("a_part3.csv"), at("a_part2.csv"));
  EXPECT_LT(at("a_part2.csv"), at("a.csv"));
  EXPECT_GT(folderSynced, lastRename) << "the folder's names are not made durable after the renames";
}

// The files named as parts are found with one listing of each folder, not
// one per table.
TEST_F(BatchTrust, OneListingPerFolder) {
  for (int i = 0; i < 100; ++i) put("m/r" + std::to_string(i) + ".tlq", recordingOf(3));
  ASSERT_EQ(batch({"--split-rows", "1", dir.file("m")}).exitCode, 0);  // three parts each
  auto calls = tracedBatch(dir, tmp, "openat,getdents64", {dir.file("m")});
  if (calls.empty()) GTEST_SKIP() << "no strace";
  size_t listings = 0;
  for (const std::string& call : calls)
    listings += call.find("getdents64(") != std::string::npos &&
                call.find("<" + dir.file("m") + ">") != std::string::npos &&
                call.ends_with("= 0");  // each listing ends with an empty read
  EXPECT_LE(listings, 2u);  // the search, and the parts
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
  testing::RunningProcess searching({TLQ_CONSOLE_PROGRAM, "--batch", "--log", dir.file("log.csv"), dir.file("wide"),
                                     dir.file("wide/f1")},
                                    {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  for (int i = 0; i < 20000 && !handles(searching.pid(), SIGTERM); ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ::kill(searching.pid(), SIGTERM);
  auto r = searching.wait();
  EXPECT_EQ(r.exitCode, 143) << r.out << r.err;
  // The summary and the log say that the search was cut short, and where.
  const std::string cut = " (recordings not found yet are not counted)\n";
  EXPECT_TRUE(r.out.starts_with("search cut short: " + dir.file("wide") + cut + "search cut short: " +
                                dir.file("wide/f1") + cut + "cancelled: "))
      << r.out;
  EXPECT_NE(readFile(dir.file("log.csv")).find("\r\n" + dir.file("wide/f1") + ";;search cut short;0;0;0;;;;;;;;;;;;;;;;;;\r\n"),
            std::string::npos)
      << readFile(dir.file("log.csv"));
  // A plan stops as a run does, with the same exit codes.
  testing::RunningProcess planning({TLQ_CONSOLE_PROGRAM, "--batch", "--dry-run", dir.file("wide"), dir.file("wide/f1")},
                                   {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  for (int i = 0; i < 20000 && !handles(planning.pid(), SIGINT); ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ::kill(planning.pid(), SIGINT);
  r = planning.wait();
  EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("search cut short: " + dir.file("wide") + cut)) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\ncancelled: [01] of [01] recordings planned\n$"))) << r.out;

  std::string big = recordingOf(60000);
  for (int i = 0; i < 10; ++i) put("big/r" + std::to_string(i) + ".tlq", big);
  testing::RunningProcess converting({TLQ_CONSOLE_PROGRAM, "--batch", dir.file("big")},
                                     {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  // Once it converts (its handlers in place, a temporary table begun).
  for (int i = 0; i < 4000 && !(handles(converting.pid(), SIGINT) && !filesNamed(".tmp", dir.file("big")).empty());
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // All to the main thread: a signal for the process may go to any thread,
  // and one thread may take its signal later than another takes the next.
  for (int k = 0; k < 20; ++k) {
    ::syscall(SYS_tgkill, converting.pid(), converting.pid(), k % 2 ? SIGTERM : SIGINT);
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
