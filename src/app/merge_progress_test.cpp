// The progress a merge shows as a user meets it: the console program in real
// processes, its line on a pseudo-terminal, its dialog through a stand-in
// zenity, nothing when piped or with --quiet.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "app/merge_fixture.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

#ifndef _WIN32
class MergeProgressRun : public MergeRun {
 protected:
  std::map<std::string, std::string> noDesktop() { return {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}; }
  testing::ProcessResult onTerminal(std::vector<std::string> args, std::map<std::string, std::string> env) {
    args.insert(args.begin(), {TLQ_CONSOLE_PROGRAM, "--merge"});
    return testing::RunningProcess(args, env, true).wait();
  }
};

// One line, rewritten in place through both passes and cleared at the end;
// its figures never beyond the totals.
TEST_F(MergeProgressRun, ALineOnATerminalThroughBothPasses) {
  for (int i = 0; i < 30; ++i) put("t/r" + std::to_string(100 + i) + ".tlq", campaign(i * 4000, 4000));
  std::string out = dir.file("campaign.csv");
  auto r = onTerminal({out, dir.file("t")}, noDesktop());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(r.out.find("30 recordings merged into " + out) != std::string::npos) << r.out;
  EXPECT_EQ(r.err.find('\n'), std::string::npos) << r.err;  // one line, cleared at the end
  EXPECT_TRUE(r.err.ends_with("\r")) << r.err;
  std::regex line(R"(\r(planning|merging): (\d+)/30 recordings, ([0-9.]+)/([0-9.]+) MB)");
  size_t planning = 0, merging = 0;
  bool merged = false;
  for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), line); it != std::sregex_iterator(); ++it) {
    const std::string pass = (*it)[1];
    EXPECT_FALSE(merged && pass == "planning") << "the plan after the write: " << (*it)[0];
    merged = merged || pass == "merging";
    ++(pass == "planning" ? planning : merging);
    EXPECT_LE(std::stoul((*it)[2]), 30u) << (*it)[0];
    EXPECT_LE(std::stod((*it)[3]), std::stod((*it)[4])) << (*it)[0];
  }
  EXPECT_GE(planning, 1u) << r.err;
  EXPECT_NE(r.err.find("\rmerging: 30/30 recordings, "), std::string::npos) << r.err;
  // The table is the one a merge without a terminal writes.
  std::string shown = readFile(out);
  auto piped = merge({out, dir.file("t")}, noDesktop());
  EXPECT_EQ(piped.exitCode, 0) << piped.out;
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(readFile(out), shown);
}

TEST_F(MergeProgressRun, QuietOrPipedShowsNothing) {
  for (int i = 0; i < 10; ++i) put("q/r" + std::to_string(i) + ".tlq", campaign(i * 4000, 4000));
  std::string out = dir.file("campaign.csv");
  auto quiet = onTerminal({"--quiet", out, dir.file("q")}, noDesktop());
  EXPECT_EQ(quiet.exitCode, 0) << quiet.out;
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(quiet.out.find("10 recordings merged into ") != std::string::npos) << quiet.out;
  auto dry = onTerminal({"--dry-run", out, dir.file("q")}, noDesktop());
  EXPECT_EQ(dry.exitCode, 0) << dry.out;
  EXPECT_EQ(dry.err, "");
}

// A workbook's last phase is the library's compression: the line says so,
// and names OUT.
TEST_F(MergeProgressRun, AWorkbookShowsItsCompression) {
  for (int i = 0; i < 4; ++i) put("w/r" + std::to_string(i) + ".tlq", campaign(i * 30000, 30000));
  std::string out = dir.file("campaign.xlsx");
  auto r = onTerminal({out, dir.file("w")}, noDesktop());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("\rmerging: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\rcampaign.xlsx: compressing the workbook"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), std::string::npos) << r.err;
  EXPECT_TRUE(r.err.ends_with("\r")) << r.err;
  EXPECT_TRUE(testing::fileExists(out));
}

// Started from the desktop: zenity's dialog (a stub stands in for it).
class MergeDesktop : public MergeProgressRun {
 protected:
  void SetUp() override {
    MergeProgressRun::SetUp();
    writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + dir.file("zenity.log") +
                                   "'\ncase \"$1\" in --progress)\n  [ -z \"$CANCEL\" ] || exit 1\n  cat >>'" +
                                   dir.file("zenity.in") + "' ;;\nesac\n");
    fs::permissions(bin + "/zenity", fs::perms::owner_all);
  }
  testing::ProcessResult fromDesktop(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    env.emplace("DISPLAY", ":42");
    return merge(args, env);
  }
};

TEST_F(MergeDesktop, TheDialogNamesThePassAndTheRecording) {
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back(put("n/r" + std::to_string(10 + i) + ".tlq", campaign(i * 4000, 20000)));
  std::string out = dir.file("campaign.csv");
  auto r = fromDesktop({out, dir.file("n")}, {{"TLQCONVERTER_THREADS", "1"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(readFile(dir.file("zenity.log")).starts_with("--progress --title=tlqconverter: merging recordings into CSV "))
      << readFile(dir.file("zenity.log"));
  std::string fed = readFile(dir.file("zenity.in"));
  std::regex text(R"(# (Planning|Merging) (\d+) of 12 recordings( into CSV)?(, [0-9:]+ left)?: ([^\n]*)\n)");
  size_t planning = 0, merging = 0;
  for (auto it = std::sregex_iterator(fed.begin(), fed.end(), text); it != std::sregex_iterator(); ++it) {
    const bool plan = (*it)[1] == "Planning";
    ++(plan ? planning : merging);
    EXPECT_EQ((*it)[3].matched, !plan) << (*it)[0];
    size_t k = std::stoul((*it)[2]);
    ASSERT_TRUE(k >= 1 && k <= 12) << (*it)[0];
    EXPECT_EQ((*it)[5].str(), names[k - 1]) << (*it)[0];  // in time order, which is path order here (recordings overlapping)
  }
  EXPECT_GE(planning, 1u) << fed;
  EXPECT_GE(merging, 2u) << fed;
  // The bar only rises, and ends at its end.
  std::regex percent(R"((^|\n)(\d+)(?=\n))");
  int last = -1;
  for (auto it = std::sregex_iterator(fed.begin(), fed.end(), percent); it != std::sregex_iterator(); ++it) {
    int p = std::stoi((*it)[2]);
    EXPECT_GE(p, last) << fed;
    last = p;
  }
  EXPECT_EQ(last, 100) << fed;
}

TEST_F(MergeDesktop, QuietShowsNoDialog) {
  for (int i = 0; i < 3; ++i) put("q/r" + std::to_string(i) + ".tlq", campaign(i * 1000, 1000));
  auto r = fromDesktop({"--quiet", dir.file("campaign.csv"), dir.file("q")});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_FALSE(testing::fileExists(dir.file("zenity.log"))) << readFile(dir.file("zenity.log"));
}

// Cancel pressed at once: the merge stops as Ctrl-C stops it.
TEST_F(MergeDesktop, CancelStopsTheMergeAndKeepsTheOlderOut) {
  for (const char* kind : {"csv", "xlsx"}) {
    SCOPED_TRACE(kind);
    fs::remove_all(fs::u8path(dir.file("big")));
    for (int i = 0; i < 20; ++i) put("big/r" + std::to_string(i) + ".tlq", campaign(i * 40000, 40000));
    fs::create_directories(fs::u8path(dir.file("out")));
    std::string out = dir.file(std::string("out/campaign.") + kind);
    writeFile(out, "older\r\n");
    auto r = fromDesktop({out, dir.file("big")}, {{"CANCEL", "1"}});
    EXPECT_EQ(r.exitCode, 130) << r.out;
    EXPECT_NE(r.out.find("cancelled: " + out + " not written (the older one is kept)"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(out), "older\r\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>());
    EXPECT_TRUE(filesNamed(".csv", dir.file("big")).empty());
  }
}
#endif

}  // namespace
}  // namespace tlq
