// --merge and --salvage as a user breaks them: OUT on a disk that fills at
// every point of its writing, merges killed at random moments and run
// again, two merges into one OUT at once, OUT reached through a link, ".."
// and names beyond ASCII. The console program in real processes, on real
// files; what is left on the disk is read back after each run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/merge_fixture.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

#ifndef _WIN32
// The files below `folder`, each as its path below it and what it holds
// (a link as "-> " and where it leads), the folders left out.
std::map<std::string, std::string> filesBelow(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(fs::u8path(folder))) {
    if (fs::is_directory(e.symlink_status())) continue;
    std::string name = testing::utf8(e.path().lexically_relative(fs::u8path(folder)));
    files[name] = fs::is_symlink(e.symlink_status()) ? "-> " + testing::utf8(fs::read_symlink(e.path()))
                                                     : readFile(testing::utf8(e.path()));
  }
  return files;
}

// A recording of `count` entries a second apart from 08:00 + `first` s,
// its text cut short in the middle of the entry `count` * 9 / 10: what a
// logger leaves when the power goes.
std::string cutShort(int first, int count) {
  std::string json = campaign(first, count);
  std::string at = "\"timestamp\":\"" + stampOf(first + count * 9 / 10, "") + "\"";
  return json.substr(0, json.find(at) + 20);
}

class MergeTrust : public MergeRun {
 protected:
  std::map<std::string, std::string> env() {
    return {{"TMP", tmp},
            {"TLQ_PROBE_LOG", openerLog},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""},
            {"PATH", bin + ":" + getEnv("PATH").value_or("/usr/bin:/bin")}};
  }
};

#ifdef __linux__
bool namespacesWork() {
  return testing::runProcess({"/usr/bin/unshare", "--map-root-user", "--mount", "/bin/true"}).exitCode == 0;
}

// Runs `command` (a shell command that writes into "$d") on a disk of its
// own, a tmpfs of `megabytes` at `disk`, mounted in a user and mount
// namespace of the test's own: first with room, then once for each of
// `rooms` ("KB" or "KB:INODES"), the disk filled up to leave that many
// kilobytes (in pages of 4 KB) and, when given, that many free inodes. Each
// time the disk starts as the folder `older` holds it, and `setup` (a shell
// command) runs on it. A line for each room: "KB[:INODES] whole" where the
// command ended with 0 and the disk holds what the run with room left,
// "KB[:INODES] kept" where it ended with 2, said "(No space left on device)"
// and where its report is, and the disk holds what it held before; else
// what went wrong. The run
// with room comes first, as "room whole", and leaves its files in `whole`.
// Files whose names end in ".tlq" (links to the recordings) and the filler
// are no OUT's.
std::string onAFullDisk(const std::string& disk, int megabytes, const std::string& older, const std::string& whole,
                        const std::string& setup, const std::string& command, const std::vector<std::string>& rooms,
                        const std::map<std::string, std::string>& env) {
  const std::string script =
      "d=\"$1\"; older=\"$2\"; whole=\"$3\"; shift 3\n"
      "same() { diff -r -x '*.tlq' -x tlq-filler \"$d\" \"$1\" >\"$d.diff\" 2>&1; }\n"
      "step() {\n"
      "  room=${1%:*}; inodes=${1#*:}; [ \"$inodes\" = \"$1\" ] && inodes=\n"
      "  mount -t tmpfs -o size=" + std::to_string(megabytes) + "m tmpfs \"$d\" || exit 97\n"
      "  cp -a \"$older\"/. \"$d\"/ || exit 98\n"
      "  " + setup + " || exit 98\n"
      "  if [ \"$room\" != room ]; then\n"
      "    free=$(( $(stat -f -c '%a*%S' \"$d\") - room * 1024 ))\n"
      "    [ $free -le 0 ] || fallocate -l $free \"$d/tlq-filler\" || exit 96\n"
      "    if [ -n \"$inodes\" ]; then\n"
      "      mount -o remount,nr_inodes=$(( $(stat -f -c '%c-%d' \"$d\") + inodes )) \"$d\" || exit 95\n"
      "    fi\n"
      "  fi\n"
      "  (" + command + ") >\"$d.out\" 2>&1; rc=$?\n"
      "  if [ \"$room\" = room ]; then cp -a \"$d\"/. \"$whole\"/; rm -f \"$whole\"/*.tlq; fi\n"
      "  if [ $rc = 0 ] && same \"$whole\"; then verdict=whole\n"
      "  elif [ $rc = 2 ] && grep -q '(No space left on device) (report: ' \"$d.out\" && same \"$older\"; then\n"
      "    verdict=kept\n"
      "  else verdict=\"exit $rc: $(head -c 600 \"$d.out\") $(head -c 600 \"$d.diff\")\"; fi\n"
      "  umount \"$d\"\n"
      "  echo \"$1 $verdict\"\n"
      "}\n"
      "step room\n"
      "for room in \"$@\"; do step \"$room\"; done\n";
  std::vector<std::string> argv = {"/usr/bin/unshare", "--map-root-user", "--mount", "/bin/sh", "-c", script, "sh",
                                   disk, older, whole};
  argv.insert(argv.end(), rooms.begin(), rooms.end());
  testing::ProcessResult r = testing::runProcess(argv, env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  return r.out;
}

// The verdicts of onAFullDisk's lines: how many kept the older OUT; a
// failure for each line that is neither whole nor kept, and unless the
// first and the last are whole.
int keptOf(const std::string& verdicts) {
  std::vector<std::string> lines = split(verdicts, "\n");
  if (lines.back().empty()) lines.pop_back();
  EXPECT_FALSE(lines.empty());
  int kept = 0;
  for (const std::string& line : lines) {
    const std::string verdict = line.substr(line.find(' ') + 1);
    if (verdict == "kept")
      ++kept;
    else if (verdict != "whole")
      ADD_FAILURE() << line;
  }
  if (!lines.empty()) {
    EXPECT_EQ(lines.front(), "room whole") << verdicts;
    EXPECT_TRUE(lines.back().ends_with(" whole")) << verdicts;
  }
  return kept;
}

std::string kilobytes(uint64_t bytes) { return std::to_string(bytes / 1024); }

class MergeOnAFullDisk : public MergeTrust {
 protected:
  void SetUp() override {
    MergeTrust::SetUp();
    if (!namespacesWork()) GTEST_SKIP() << "no mount namespaces here";
    fs::create_directories(fs::u8path(disk));
    fs::create_directories(fs::u8path(older));
    fs::create_directories(fs::u8path(whole));
  }

  // Overlapping downloads, OUT about 350 KB as CSV.
  void campaignOnTheSite() {
    put("site/a.tlq", campaign(0, 2000));
    put("site/b.tlq", campaign(1500, 2000));
    put("site/c.tlq", campaign(3500, 1000));
  }

  std::map<std::string, std::string> diskEnv() {
    std::map<std::string, std::string> all = env();
    all["prog"] = TLQ_CONSOLE_PROGRAM;
    all["site"] = dir.file("site");
    return all;
  }

  std::string disk = dir.file("disk"), older = dir.file("older"), whole = dir.file("whole");
};

// OUT's temporary file fails at its start (no inode for it, no page for its
// first bytes), in its middle, with its last page missing; it fits to the
// page and beyond. With --split-rows, the same in each part, and no inode
// for the second or the third part. Every time the whole OUT or the older
// one, every part of it, and nothing else.
TEST_F(MergeOnAFullDisk, EveryRoomGivesTheWholeCsvOrTheOlderOne) {
  campaignOnTheSite();
  const std::string out = dir.file("campaign.csv");
  auto r = merge({out, dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const uint64_t size = readFile(out).size();
  ASSERT_GT(size, 300u << 10);
  const uint64_t pages = (size + 4095) / 4096 * 4096;
  writeFile(older + "/campaign.csv", "older\r\n");
  std::vector<std::string> rooms = {"4096:0", "0", "4", kilobytes(size / 4), kilobytes(size / 2),
                                    kilobytes(size * 3 / 4), kilobytes(pages - 4096), kilobytes(pages),
                                    kilobytes(pages + 4096), "4096"};
  std::string verdicts = onAFullDisk(disk, 4, older, whole, "true", "\"$prog\" --merge \"$d/campaign.csv\" \"$site\"",
                                     rooms, diskEnv());
  EXPECT_EQ(keptOf(verdicts), 7) << verdicts;
  EXPECT_EQ(filesBelow(whole), (std::map<std::string, std::string>{{"campaign.csv", readFile(out)}}));

  // In three parts, over an older table of two.
  fs::remove_all(fs::u8path(whole));
  fs::create_directories(fs::u8path(whole));
  writeFile(older + "/campaign_part2.csv", "older part 2\r\n");
  r = merge({"--split-rows", "1600", out, dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  uint64_t first = readFile(out).size(), second = readFile(dir.file("campaign_part2.csv")).size();
  rooms = {"4096:0", "4096:1", "4096:2", kilobytes(first / 2), kilobytes(first + second / 2),
           kilobytes(size - 8192), kilobytes(size + 4 * 4096), "4096"};
  verdicts = onAFullDisk(disk, 4, older, whole, "true",
                         "\"$prog\" --merge \"$d/campaign.csv\" --split-rows 1600 \"$site\"", rooms, diskEnv());
  EXPECT_EQ(keptOf(verdicts), 6) << verdicts;
  std::map<std::string, std::string> parts;
  for (const char* name : {"campaign.csv", "campaign_part2.csv", "campaign_part3.csv"})
    parts[name] = readFile(dir.file(name));
  EXPECT_EQ(filesBelow(whole), parts);
}

// A workbook needs the room for its rows, their copy and the zip: the disk
// fills in each, from one with no inode for the library's files to one
// where the workbook fits; every time the whole workbook or the older one,
// and nothing else.
TEST_F(MergeOnAFullDisk, EveryRoomGivesTheWholeWorkbookOrTheOlderOne) {
  put("site/a.tlq", campaign(0, 700));
  put("site/b.tlq", campaign(600, 350, {true, true}));
  writeFile(older + "/campaign.xlsx", "an older workbook");
  std::vector<std::string> rooms = {"8192:0", "8192:1", "8192:2", "8192:3"};
  for (int k = 0; k <= 3072; k += 256) rooms.push_back(std::to_string(k));
  rooms.push_back("8192");
  std::string verdicts = onAFullDisk(disk, 12, older, whole, "true",
                                     "\"$prog\" --merge \"$d/campaign.xlsx\" \"$site\"", rooms, diskEnv());
  EXPECT_GT(keptOf(verdicts), 8) << verdicts;
  // The last steps fit.
  EXPECT_NE(verdicts.find("\n3072 whole\n"), std::string::npos) << verdicts;
  EXPECT_EQ(testing::workbookProblems(whole + "/campaign.xlsx"), "");
  // The same bytes as a merge on a disk with room elsewhere.
  auto r = merge({dir.file("campaign.xlsx"), dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(readFile(dir.file("campaign.xlsx")) == readFile(whole + "/campaign.xlsx"));
}

// --salvage changes nothing of it: a merge that takes a recording cut short
// into CSV or a workbook, and a single conversion of one into a workbook
// beside it, give the whole table or keep the older one at every room.
TEST_F(MergeOnAFullDisk, SalvagedRecordingsGiveTheWholeTableOrTheOlderOne) {
  put("site/a cut.tlq", cutShort(0, 3000));
  put("site/b.tlq", campaign(3000, 1500));
  writeFile(older + "/campaign.csv", "older\r\n");
  auto r = merge({"--salvage", dir.file("campaign.csv"), dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("salvaged: " + dir.file("site/a cut.tlq") + ": 2700 entries before the fault"),
            std::string::npos)
      << r.out;
  const uint64_t size = readFile(dir.file("campaign.csv")).size();
  std::vector<std::string> rooms = {"4096:0", "0", kilobytes(size / 2), kilobytes(size - 4096),
                                    kilobytes(size + 4096), "4096"};
  std::string verdicts = onAFullDisk(disk, 4, older, whole, "true",
                                     "\"$prog\" --merge \"$d/campaign.csv\" --salvage \"$site\"", rooms, diskEnv());
  EXPECT_EQ(keptOf(verdicts), 4) << verdicts;
  EXPECT_EQ(readFile(whole + "/campaign.csv"), readFile(dir.file("campaign.csv")));

  // Workbooks, of fewer lines.
  put("site/a cut.tlq", cutShort(0, 1000));
  put("site/b.tlq", campaign(1000, 400));
  fs::remove(fs::u8path(older + "/campaign.csv"));
  writeFile(older + "/campaign.xlsx", "an older workbook");
  rooms = {"8192:0", "8192:2"};
  for (int k = 0; k <= 2048; k += 256) rooms.push_back(std::to_string(k));
  rooms.push_back("8192");
  fs::remove_all(fs::u8path(whole));
  fs::create_directories(fs::u8path(whole));
  verdicts = onAFullDisk(disk, 12, older, whole, "true",
                         "\"$prog\" --merge \"$d/campaign.xlsx\" --salvage \"$site\"", rooms, diskEnv());
  EXPECT_GT(keptOf(verdicts), 6) << verdicts;
  EXPECT_EQ(testing::workbookProblems(whole + "/campaign.xlsx"), "");

  // The single conversion: its workbook beside the recording (a link to it
  // on the small disk).
  fs::remove_all(fs::u8path(whole));
  fs::create_directories(fs::u8path(whole));
  fs::rename(fs::u8path(older + "/campaign.xlsx"), fs::u8path(older + "/a cut.xlsx"));
  verdicts = onAFullDisk(disk, 12, older, whole, "ln -s \"$site/a cut.tlq\" \"$d/a cut.tlq\"",
                         "\"$prog\" --salvage --xlsx \"$d/a cut.tlq\"", rooms, diskEnv());
  EXPECT_GT(keptOf(verdicts), 6) << verdicts;
  EXPECT_EQ(testing::workbookProblems(whole + "/a cut.xlsx"), "");
}

// The single conversion's CSV beside a recording cut short, on a disk that
// fills: the older table stays as it was. (What reached the disk before it
// filled is no table: an empty file where nothing fit, a line cut in a
// number where part of it did.)
TEST_F(MergeOnAFullDisk, TheSingleConversionsCsvOnAFullDiskKeepsTheOlderTable) {
  put("site/a cut.tlq", cutShort(0, 3000));
  writeFile(older + "/a cut.csv", "older\r\n");
  auto r = run({"--salvage", dir.file("site/a cut.tlq")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const uint64_t size = readFile(dir.file("site/a cut.csv")).size();
  std::vector<std::string> rooms = {"4096:0", "0", "4", kilobytes(size / 2), kilobytes(size - 4096),
                                    kilobytes(size + 4096)};
  std::string verdicts = onAFullDisk(disk, 4, older, whole, "ln -s \"$site/a cut.tlq\" \"$d/a cut.tlq\"",
                                     "\"$prog\" --salvage \"$d/a cut.tlq\"", rooms, diskEnv());
  EXPECT_EQ(keptOf(verdicts), 5) << verdicts;
  EXPECT_EQ(readFile(whole + "/a cut.csv"), readFile(dir.file("site/a cut.csv")));
}
#endif  // __linux__

// What of ours `files` (below a folder) holds: temporary tables and older
// ones moved aside by their names, and the workbook library's folder for
// the files in it.
std::vector<std::string> oursIn(const std::map<std::string, std::string>& files) {
  std::vector<std::string> ours;
  for (const auto& [name, text] : files) {
    std::string top = testing::utf8(*fs::u8path(name).begin());
    if (top.starts_with("tlqconverter_") && (top == name || top.ends_with(".dir")) &&
        std::find(ours.begin(), ours.end(), top) == ours.end())
      ours.push_back(top);
    else if (testing::utf8(fs::u8path(name).filename()).starts_with("tlqconverter_"))
      ours.push_back(name);
  }
  return ours;
}

// `files` without those of ours.
std::map<std::string, std::string> without(std::map<std::string, std::string> files,
                                           const std::vector<std::string>& ours) {
  for (const std::string& name : ours)
    std::erase_if(files, [&](const auto& file) { return file.first == name || file.first.starts_with(name + "/"); });
  return files;
}

// The folders below `folder`.
std::vector<std::string> foldersBelow(const std::string& folder) {
  std::vector<std::string> folders;
  for (const auto& e : fs::recursive_directory_iterator(fs::u8path(folder)))
    if (fs::is_directory(e.symlink_status())) folders.push_back(testing::utf8(e.path()));
  return folders;
}

// Killed at random moments (while the recordings are read, while OUT is
// written, while it goes in), a merge leaves the older OUT or the whole new
// one: with --split-rows, where it was killed while the parts went in, no
// first part at all (which the same merge puts in again). The same merge
// run again puts in the whole OUT, removes what the killed one left and
// says so, and leaves nothing else beside OUT.
TEST_F(MergeTrust, KilledAtRandomThenMergedAgain) {
  for (int i = 0; i < 4; ++i) put("site/r" + std::to_string(i) + ".tlq", campaign(i * 9000, 10000));
  for (int i = 0; i < 3; ++i) put("small/r" + std::to_string(i) + ".tlq", campaign(i * 1800, 2000));
  std::mt19937 random(20261211);
  struct Mode {
    std::vector<std::string> args;
    std::string out, site;
  };
  const Mode modes[] = {{{}, "campaign.csv", "site"},
                        {{"--split-rows", "15000"}, "campaign.csv", "site"},
                        {{}, "campaign.xlsx", "small"}};
  const std::string folder = dir.file("out");
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.out + (mode.args.empty() ? "" : " " + mode.args[0]));
    std::vector<std::string> args = mode.args;
    args.push_back(folder + "/" + mode.out);
    args.push_back(dir.file(mode.site));
    fs::remove_all(fs::u8path(folder));
    const auto start = std::chrono::steady_clock::now();
    auto r = merge(args, {{"TLQCONVERTER_THREADS", "1"}});
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::map<std::string, std::string> fresh = filesBelow(folder);
    ASSERT_GE(fresh.size(), mode.args.empty() ? 1u : 3u);
    // The older OUT: a part fewer than the new one where it is split.
    std::map<std::string, std::string> older;
    for (const auto& [name, text] : fresh) older[name] = "older " + name + "\r\n";
    if (older.size() > 1) older.erase(std::prev(older.end()));
    std::vector<std::string> argv = {TLQ_CONSOLE_PROGRAM, "--merge"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::map<std::string, std::string> killedEnv = env();
    killedEnv["TLQCONVERTER_THREADS"] = "1";
    for (int round = 0; round < 5; ++round) {
      SCOPED_TRACE(round);
      fs::remove_all(fs::u8path(folder));
      fs::create_directories(fs::u8path(folder));
      for (const auto& [name, text] : older) writeFile(folder + "/" + name, text);
      testing::RunningProcess killed(argv, killedEnv);
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (took.count() + 1)));
      killed.kill();
      killed.wait();
      const std::map<std::string, std::string> after = filesBelow(folder);
      const std::vector<std::string> left = oursIn(after);
      const std::map<std::string, std::string> tables = without(after, left);
      const bool between = !mode.args.empty() && !tables.count(mode.out);
      EXPECT_TRUE(tables == older || tables == fresh || between) << ::testing::PrintToString(tables);

      auto again = merge(args);
      EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
      EXPECT_EQ(filesBelow(folder), fresh);
      EXPECT_EQ(foldersBelow(folder), std::vector<std::string>());
      for (const std::string& name : left)
        EXPECT_NE(again.out.find("removed: " + folder + "/" + name + " (left by a run that was stopped)\n"),
                  std::string::npos)
            << again.out;
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>());
  }
}

// Two merges into one OUT at once, of the same recordings or of others:
// both put in a whole OUT, one after the other, so that OUT is one of them
// whole, never a mix, and nothing of theirs is left.
TEST_F(MergeTrust, TwoMergesIntoOneOutAtOnce) {
  put("north/a.tlq", campaign(0, 4000));
  put("north/b.tlq", campaign(3000, 4000));
  put("south/c.tlq", campaign(9000, 6000, {true, false}));
  const std::string folder = dir.file("out");
  for (const char* name : {"campaign.csv", "campaign.xlsx"}) {
    SCOPED_TRACE(name);
    const std::string out = folder + "/" + name;
    std::map<std::string, std::string> fresh;
    for (const char* site : {"north", "south"}) {
      auto r = merge({out, dir.file(site)});
      ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
      fresh[site] = readFile(out);
    }
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(round);
      const char* first = "north";
      const char* second = round % 2 ? "south" : "north";
      testing::RunningProcess a({TLQ_CONSOLE_PROGRAM, "--merge", out, dir.file(first)}, env()),
          b({TLQ_CONSOLE_PROGRAM, "--merge", out, dir.file(second)}, env());
      auto ra = a.wait(), rb = b.wait();
      EXPECT_EQ(ra.exitCode, 0) << ra.out << ra.err;
      EXPECT_EQ(rb.exitCode, 0) << rb.out << rb.err;
      const std::string now = readFile(out);
      EXPECT_TRUE(now == fresh[first] || now == fresh[second]) << now.size() << " bytes, a mix";
      EXPECT_EQ(filesBelow(folder).size(), 1u) << ::testing::PrintToString(filesBelow(folder));
    }
    fs::remove(fs::u8path(out));
  }
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  EXPECT_TRUE(reports().empty());
}

// OUT named through a link is written where the link leads and the link
// stays a link (one that leads nowhere yet too); through ".." it is written
// where the system takes the name; a name beyond ASCII in a folder not made
// yet is made as it is spelled, and the summary names it so.
TEST_F(MergeTrust, OutIsWrittenWhereTheUserNamedIt) {
  put("site/Messung März.tlq", campaign(0, 300));
  put("site/b.tlq", campaign(300, 300));
  const std::string site = dir.file("site");
  for (const char* extension : {".csv", ".xlsx"}) {
    SCOPED_TRACE(extension);
    const std::string reference = dir.file(std::string("reference") + extension);
    auto r = merge({reference, site});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string whole = readFile(reference);
    fs::remove(fs::u8path(reference));
    fs::remove_all(fs::u8path(dir.file("links")));
    fs::remove_all(fs::u8path(dir.file("real")));
    fs::create_directories(fs::u8path(dir.file("links")));
    fs::create_directories(fs::u8path(dir.file("real")));

    // A link to an older OUT, a relative one as a user makes it.
    const std::string link = dir.file(std::string("links/campaign") + extension);
    const std::string target = dir.file(std::string("real/target") + extension);
    writeFile(target, "older");
    fs::create_symlink(fs::u8path(std::string("../real/target") + extension), fs::u8path(link));
    r = merge({link, site});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_symlink(fs::u8path(link)));
    EXPECT_EQ(filesBelow(dir.file("links")),
              (std::map<std::string, std::string>{{std::string("campaign") + extension,
                                                   std::string("-> ../real/target") + extension}}));
    EXPECT_EQ(filesBelow(dir.file("real")),
              (std::map<std::string, std::string>{{std::string("target") + extension, whole}}));

    // A link that leads to no file yet.
    const std::string dangling = dir.file(std::string("links/new") + extension);
    fs::create_symlink(fs::u8path(std::string("../real/new") + extension), fs::u8path(dangling));
    r = merge({dangling, site});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_symlink(fs::u8path(dangling)));
    EXPECT_EQ(readFile(dir.file(std::string("real/new") + extension)), whole);
    EXPECT_EQ(filesBelow(dir.file("links")).size(), 2u);

    // Through "..": "real/sub/../x" is "real/x".
    fs::create_directories(fs::u8path(dir.file("real/sub")));
    r = merge({dir.file(std::string("real/sub/../dotdot") + extension), site});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(readFile(dir.file(std::string("real/dotdot") + extension)), whole);
    EXPECT_EQ(filesBelow(dir.file("real/sub")), (std::map<std::string, std::string>{}));

    // Beyond ASCII, the folder made.
    const std::string named = dir.file(std::string("Messfeld Süd/kampagne ä") + extension);
    r = merge({named, site});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("2 recordings merged into " + named + ": 600 lines written"), std::string::npos) << r.out;
    EXPECT_EQ(filesBelow(dir.file("Messfeld Süd")),
              (std::map<std::string, std::string>{{std::string("kampagne ä") + extension, whole}}));
    fs::remove_all(fs::u8path(dir.file("Messfeld Süd")));
  }
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  EXPECT_TRUE(reports().empty());
}
#endif  // _WIN32

}  // namespace
}  // namespace tlq
