// A run that is killed (a crash, a power cut, the task manager) loses the
// user nothing: the older table stays whole, and what the run had begun is
// removed by a later one, which tells the user so. The programs in real
// processes, killed at chosen points and at random ones.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "app/batch_fixture.h"
#include "batch/sweep.h"
#include "platform/file_hold.h"
#include "test_support.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::fileExists;
using testing::readFile;
using testing::recordingOf;
using testing::writeFile;

class KilledRun : public BatchRun {
 protected:
  // As run() starts the programs, on one thread (a slower conversion).
  std::map<std::string, std::string> env() {
    std::map<std::string, std::string> env = {{"TMP", tmp}, {"TLQ_PROBE_LOG", openerLog}, {"TLQCONVERTER_THREADS", "1"}};
#ifndef _WIN32
    env.emplace("PATH", bin + ":" + getEnv("PATH").value_or("/usr/bin:/bin"));
    env.emplace("DISPLAY", "");
    env.emplace("WAYLAND_DISPLAY", "");
#endif
    return env;
  }

  // Waits until a temporary table of ours in `folder` holds `bytes` or more.
  std::string growing(const std::string& folder, uintmax_t bytes) {
    for (int i = 0; i < 40000; ++i) {
      for (const std::string& f : filesNamed(".tmp", folder)) {
        std::error_code e;
        if (fs::file_size(fs::u8path(f), e) >= bytes && !e) return f;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    return "";
  }
};

// The single conversion writes its table beside it and puts it in place
// once complete: killed in the middle, the older table stays whole, and the
// next run in that folder removes the temporary file and says so.
TEST_F(KilledRun, ASingleConversionKeepsTheOlderTable) {
  std::string rec = put("x/r.tlq", recordingOf(200000));
  const std::string older = readFile(mainConvert(rec));
  std::string table = dir.file("x/r.csv");
  for (uintmax_t at : {uintmax_t(1), uintmax_t(1) << 20}) {  // its header only; a megabyte of lines
    SCOPED_TRACE(at);
    testing::RunningProcess converting({TLQ_CONVERTER_EXE, rec}, env());
    std::string temp = growing(dir.file("x"), at);
    ASSERT_NE(temp, "");
    converting.kill();
    converting.wait();
    EXPECT_EQ(readFile(table), older);
    ASSERT_TRUE(fileExists(temp));

    auto r = batch({dir.file("x")});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("removed: " + temp + " (left by a run that was stopped)\n"), std::string::npos) << r.out;
    EXPECT_EQ(leftovers(), std::vector<std::string>());
    EXPECT_EQ(readFile(table), older);
  }

#ifndef _WIN32
  // The single conversion sweeps too, and tells a terminal.
  testing::RunningProcess converting({TLQ_CONVERTER_EXE, rec}, env());
  std::string temp = growing(dir.file("x"), 1);
  ASSERT_NE(temp, "");
  converting.kill();
  converting.wait();
  testing::RunningProcess again({TLQ_CONVERTER_EXE, rec}, env(), true);
  auto r = again.wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("removed: " + temp + " (left by a run that was stopped)"), std::string::npos) << r.err;
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  EXPECT_EQ(readFile(table), older);
#endif
}

#ifndef _WIN32
// Stopped by the person (SIGTERM, Ctrl-C), the single conversion removes
// its own temporary file and nothing else: not a table that another run put
// in meanwhile under the same name.
TEST_F(KilledRun, AStoppedConversionRemovesOnlyItsOwnFile) {
  std::string rec = put("x/r.tlq", recordingOf(200000));
  std::string table = dir.file("x/r.csv");
  testing::RunningProcess converting({TLQ_CONVERTER_EXE, rec}, env());
  ASSERT_NE(growing(dir.file("x"), 1), "");
  writeFile(table, "another run's table\r\n");
  ::kill(converting.pid(), SIGTERM);
  auto r = converting.wait();
  EXPECT_EQ(r.exitCode, 143) << r.err;
  EXPECT_EQ(readFile(table), "another run's table\r\n");
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}
#endif

// The single conversion's table proves itself as the batch's do: --update
// keeps it while the recording and the options are the same, and converts
// again a partial one, or one of other separators.
TEST_F(KilledRun, ASingleConversionsTableIsUpToDateForTheBatch) {
  put("x/r.tlq", recordingOf(30));
  std::string rec = below(dir.path(), "x/r.tlq");
  auto r = run({rec});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = batch({"--update", rec});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << r.out;
  r = batch({"--update", "--decimal-separator", ".", rec});  // the store says ","
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed")) << r.out << r.err;
  r = run({"--xlsx", rec});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = batch({"--update", "--xlsx", rec});
  EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << r.out;
}

// Two single conversions of one recording at once (a double click twice):
// each puts a whole table in, one after the other.
TEST_F(KilledRun, TwoSingleConversionsAtOnceBothSucceed) {
  std::string rec = put("x/r.tlq", recordingOf(30000));
  const std::string whole = singleTable(rec);
  for (int round = 0; round < 3; ++round) {
    testing::RunningProcess first({TLQ_CONVERTER_EXE, rec}, env()), second({TLQ_CONVERTER_EXE, rec}, env());
    auto a = first.wait(), b = second.wait();
    EXPECT_EQ(a.exitCode, 0) << a.err;
    EXPECT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(readFile(dir.file("x/r.csv")), whole);
    EXPECT_EQ(leftovers(), std::vector<std::string>());
  }
}

// Only what is provably ours and provably abandoned goes: a temporary file
// that a live run holds stays, and so do a link, a folder and a user's file
// that merely look like ours.
TEST_F(KilledRun, OnlyAbandonedFilesOfOursAreSwept) {
  put("x/r.tlq", recordingOf(10));
  std::string rec = below(dir.path(), "x/r.tlq");  // as a user of the system spells it
  std::string held = below(dir.path(), "x/tlqconverter_aaaaaaaa.tmp");
  std::string abandoned = below(dir.path(), "x/tlqconverter_bbbbbbbb.tmp");
  put("x/tlqconverter_aaaaaaaa.tmp", "a live run's");
  put("x/tlqconverter_bbbbbbbb.tmp", "a killed run's");
  std::string other = put("x/tlqconverter_ccc.tmp", "the user's");
  std::string user = put("x/tlqconverter_dddddddd.txt", "the user's");
  std::string target = put("elsewhere/tlqconverter_eeeeeeee.tmp", "the user's");
#ifndef _WIN32
  fs::create_symlink(fs::u8path(target), fs::u8path(dir.file("x/tlqconverter_ffffffff.tmp")));
#endif
  fs::create_directory(fs::u8path(dir.file("x/tlqconverter_gggggggg.tmp")));
  FileHold hold(held);
  ASSERT_EQ(hold.state(), FileHold::State::held);

  auto r = batch({rec});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("removed: " + abandoned + " (left by a run that was stopped)\n"), std::string::npos) << r.out;
  EXPECT_FALSE(fileExists(abandoned));
  for (const std::string& kept : {held, other, user, target}) EXPECT_TRUE(fileExists(kept)) << kept;
#ifndef _WIN32
  EXPECT_TRUE(fs::is_symlink(fs::u8path(dir.file("x/tlqconverter_ffffffff.tmp"))));
#endif
  EXPECT_TRUE(fs::is_directory(fs::u8path(dir.file("x/tlqconverter_gggggggg.tmp"))));

  hold.release();  // its run has ended
  r = batch({rec});
  EXPECT_NE(r.out.find("removed: " + held + " (left by a run that was stopped)\n"), std::string::npos) << r.out;
  EXPECT_FALSE(fileExists(held));
}

// The older part a stopped run had moved aside while a table in parts went
// in is removed only once that table is whole again, and only that table's.
TEST_F(KilledRun, AnOlderPartMovedAsideGoesOnceItsTableIsWhole) {
  put("x/r.tlq", recordingOf(30));
  std::string rec = below(dir.path(), "x/r.tlq");
  std::string mine = asidePath(below(dir.path(), "x/r_part2.csv"), 0);
  std::string others = asidePath(below(dir.path(), "x/s_part2.csv"), 0);
  writeFile(mine, "an older part 2 of r\r\n");
  writeFile(others, "an older part 2 of s\r\n");
  auto r = batch({"--split-rows", "10", rec});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("removed: " + mine + " (left by a run that was stopped)\n"), std::string::npos) << r.out;
  EXPECT_FALSE(fileExists(mine));
  EXPECT_EQ(readFile(others), "an older part 2 of s\r\n");  // s is not whole: its older part is all there is

  // Left after the table went in (a run stopped just before it removed
  // it): an --update that finds the table whole removes it.
  writeFile(mine, "an older part 2 of r\r\n");
  r = batch({"--update", "--split-rows", "10", rec});
  EXPECT_NE(r.out.find("up to date"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("removed: " + mine + " (left by a run that was stopped)\n"), std::string::npos) << r.out;
  EXPECT_FALSE(fileExists(mine));
}

#ifndef _WIN32
// The property the rest serves: killed at any moment, a batch followed by a
// run to completion leaves every table as a fresh conversion makes it,
// every file of the user's as it was, and no file of ours.
TEST_F(KilledRun, KilledAtRandomThenRunAgainLeavesWholeTables) {
  std::vector<std::string> recordings;
  for (int i = 0; i < 6; ++i)
    recordings.push_back(put("t/" + std::string(i % 2 ? "a/" : "b/") + "r" + std::to_string(i) + ".tlq",
                             recordingOf(2000 + 9000 * i)));
  std::string notes = put("t/a/notes.txt", "the user's notes\n");
  std::mt19937 random(20261210);
  struct Mode {
    std::vector<std::string> args;
    const char* ext;
  };
  const Mode modes[] = {{{}, ".csv"}, {{"--split-rows", "4000"}, ".csv"}, {{"--xlsx"}, ".xlsx"}};
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.ext + std::to_string(mode.args.size()));
    std::vector<std::string> args = mode.args;
    args.push_back(dir.file("t"));
    auto r = batch(args);
    ASSERT_EQ(r.exitCode, 0) << r.out;
    // The fresh conversion's files, every part.
    std::map<std::string, std::string> fresh;
    for (const std::string& f : filesNamed(mode.ext, dir.file("t"))) fresh[f] = readFile(f);
    for (int round = 0; round < 6; ++round) {
      // Tables older than their recordings: --update converts them again.
      for (const auto& [path, text] : fresh)
        fs::last_write_time(fs::u8path(path), fs::last_write_time(fs::u8path(recordings[0])) - std::chrono::hours(1));
      std::vector<std::string> update = args;
      update.insert(update.begin(), "--update");
      update.insert(update.begin(), "--batch");
      testing::RunningProcess killed(
          [&] {
            std::vector<std::string> argv{TLQ_CONSOLE_PROGRAM};
            argv.insert(argv.end(), update.begin(), update.end());
            return argv;
          }(),
          env());
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 400000));
      killed.kill();
      killed.wait();
      update.erase(update.begin());
      r = batch(update);
      EXPECT_EQ(r.exitCode, 0) << r.out;
      std::map<std::string, std::string> now;
      for (const std::string& f : filesNamed(mode.ext, dir.file("t"))) now[f] = readFile(f);
      EXPECT_EQ(now, fresh) << "round " << round;
      EXPECT_EQ(leftovers(), std::vector<std::string>()) << "round " << round << "\n" << r.out;
      EXPECT_EQ(readFile(notes), "the user's notes\n");
    }
    for (const auto& [path, text] : fresh) fs::remove(fs::u8path(path));
  }
}
#endif

}  // namespace
}  // namespace tlq
