#include "batch/find_recordings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/folders.h"
#include "platform/system.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;

class FindRecordings : public ::testing::Test {
 protected:
  std::string put(const std::string& relative, const std::string& text = "{}") {
    std::string path = dir.file(relative);
    fs::create_directories(fs::u8path(path).parent_path());
    testing::writeFile(path, text);
    return path;
  }
  // A relative path in the system's spelling.
  static std::string native(std::string relative) {
#ifdef _WIN32
    for (char& c : relative)
      if (c == '/') c = '\\';
#endif
    return relative;
  }
  // A path below the test's folder as found below dir.file(first folder).
  std::string at(const std::string& relative) { return dir.path() + "/" + native(relative); }
  static std::vector<std::string> pathsOf(const std::vector<BatchItem>& items) {
    std::vector<std::string> paths;
    for (const BatchItem& item : items) paths.push_back(item.path);
    return paths;
  }

  testing::TempDir dir;
};

TEST_F(FindRecordings, FoldersAreSearchedWithTheirSubfolders) {
  put("d/b.tlq");
  put("d/A.TLQ", "1234");
  put("d/sub folder/Höhe.Tlq");
  put("d/sub/deeper/c.tlq");
  put("d/c.tlqx");
  put("d/ctlq");
  put("d/notes.txt");
  put("d/folder.tlq/inside.tlq");  // a folder of that name is searched, not taken
  auto items = findRecordings({dir.file("d")}, {});
  EXPECT_EQ(pathsOf(items), (std::vector<std::string>{at("d/A.TLQ"), at("d/b.tlq"), at("d/folder.tlq/inside.tlq"),
                                                       at("d/sub/deeper/c.tlq"), at("d/sub folder/Höhe.Tlq")}));
  EXPECT_EQ(items[0].table, at("d/A.csv"));
  EXPECT_EQ(items[0].size, 4u);
  for (const BatchItem& item : items) EXPECT_EQ(item.problem, "") << item.path;
}

#ifndef _WIN32
TEST_F(FindRecordings, LinksToFoldersAreNotFollowedLinksToFilesAre) {
  put("real/r.tlq");
  put("d/x.tlq");
  fs::create_directory_symlink(dir.file("real"), dir.file("d/linked"));
  fs::create_symlink(dir.file("real/r.tlq"), dir.file("d/link.tlq"));
  fs::create_symlink(dir.file("nothing"), dir.file("d/dangling.tlq"));
  auto items = findRecordings({dir.file("d")}, {});
  // The dangling link is kept, to fail when it is opened.
  EXPECT_EQ(pathsOf(items), (std::vector<std::string>{dir.file("d/dangling.tlq"), dir.file("d/link.tlq"),
                                                       dir.file("d/x.tlq")}));
  // A link named as a PATH is followed.
  EXPECT_EQ(pathsOf(findRecordings({dir.file("d/linked")}, {})), std::vector<std::string>{dir.file("d/linked/r.tlq")});
}

// The system takes "link/.." to the parent of the link's target: that
// folder, named so beside its own name, is one folder, its recordings taken
// once, and a table there is one file whichever way it is named.
TEST_F(FindRecordings, DotDotAfterALinkIsWhereTheLinkLeads) {
  put("tree/r.tlq");
  put("tree/sub/s.tlq");
  fs::create_directories(dir.file("a"));
  fs::create_directory_symlink("../tree/sub", dir.file("a/link"));
  auto items = findRecordings({dir.file("tree"), dir.file("a/link/.."), dir.file("a/link/../r.tlq")}, {});
  EXPECT_EQ(pathsOf(items), (std::vector<std::string>{dir.file("tree/r.tlq"), dir.file("tree/sub/s.tlq")}));
  EXPECT_EQ(placeKey(dir.file("a/link/../r.csv")), placeKey(dir.file("tree/r.csv")));
  EXPECT_EQ(placeKey(dir.file("a/link/../sub/../r.csv")), placeKey(dir.file("tree/r.csv")));
  EXPECT_NE(placeKey(dir.file("a/link/../r.csv")), placeKey(dir.file("a/r.csv")));
  // Below a folder that is not there yet, ".." is taken by name.
  EXPECT_EQ(placeKey(dir.file("a/link/../new/deeper/../../r.csv")), placeKey(dir.file("tree/r.csv")));
  EXPECT_EQ(placeKey(dir.file("a/link/../new/x.csv")), placeKey(dir.file("tree/./new//x.csv")));
}
#endif

// One folder and name, however spelled, is one recording; another name of
// the same file (a hard link) is a recording of its own, with its own table.
TEST_F(FindRecordings, ARecordingReachedTwiceIsTakenOnceWhereFirstReached) {
  std::string r = put("d/r.tlq");
  put("d/s.tlq");
  std::error_code ec;
  fs::create_hard_link(fs::u8path(r), fs::u8path(dir.file("d/hard.tlq")), ec);  // one file, two names
  auto items = findRecordings({r, dir.file("d"), dir.file("d/../d/r.tlq")}, {.outDir = dir.file("out")});
  std::vector<std::string> expected = {r, at("d/s.tlq")};
  if (!ec) expected.insert(expected.begin(), at("d/hard.tlq"));
  EXPECT_EQ(pathsOf(items), expected);
  EXPECT_EQ(items[ec ? 0 : 1].table, joinPath(dir.file("out"), "r.csv"));  // where first reached: a PATH that is a file
  for (const BatchItem& item : items) EXPECT_EQ(item.problem, "") << item.path;
}

TEST_F(FindRecordings, MissingPathsAreKeptToFail) {
  auto items = findRecordings({dir.file("none.tlq"), ""}, {});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].path, "");
  EXPECT_EQ(items[1].path, dir.file("none.tlq"));
  EXPECT_EQ(items[1].table, dir.file("none.csv"));
}

TEST_F(FindRecordings, TablesBelowTheOutFolderKeepThePathBelowThePath) {
  put("in/a.tlq");
  put("in/x/y/b.tlq");
  std::string loose = put("other/c.tlq");
  auto items = findRecordings({dir.file("in"), loose}, {.outDir = dir.file("out")});
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].table, joinPath(dir.file("out"), "a.csv"));
  EXPECT_EQ(items[1].table, joinPath(joinPath(joinPath(dir.file("out"), "x"), "y"), "b.csv"));
  EXPECT_EQ(items[2].table, joinPath(dir.file("out"), "c.csv"));
}

TEST_F(FindRecordings, WildcardsAreExpandedWhereAsked) {
  put("d/2026-01/r1.tlq");
  put("d/2026-02/R2.TLQ");
  put("d/2026-02/sub/r3.tlq");
  put("d/2025-12/r4.tlq");
  put("d/2026-03");  // a file that is no recording, matched by the last wildcard
  put("d/2026-01/notes.txt");
  FindOptions options{.outDir = dir.file("out"), .expandWildcards = true};
  auto items = findRecordings({dir.file("d/2026-*")}, options);
  // The folder before the first wildcard as the pattern spells it.
  std::string d = dir.file("d/");
  EXPECT_EQ(pathsOf(items), (std::vector<std::string>{d + native("2026-01/r1.tlq"), d + native("2026-02/R2.TLQ"),
                                                       d + native("2026-02/sub/r3.tlq")}));
  // Below the folder before the first wildcard.
  EXPECT_EQ(items[2].table, joinPath(joinPath(joinPath(dir.file("out"), "2026-02"), "sub"), "r3.csv"));
  EXPECT_EQ(pathsOf(findRecordings({dir.file("d/*/r?.tlq")}, options)),
            (std::vector<std::string>{d + native("2025-12/r4.tlq"), d + native("2026-01/r1.tlq"),
                                      d + native("2026-02/R2.TLQ")}));
  // A pattern that matches nothing is kept, to fail; without expansion a
  // star is a name like any other.
  EXPECT_EQ(pathsOf(findRecordings({dir.file("d/*.none")}, options)), std::vector<std::string>{dir.file("d/*.none")});
  EXPECT_EQ(pathsOf(findRecordings({dir.file("d/2026-*")}, {})), std::vector<std::string>{dir.file("d/2026-*")});
}

TEST_F(FindRecordings, ATableThatIsAnotherRecordingsOrAnotherRecordingFails) {
  std::string d = put("d/x.tlq");
  std::string e = put("e/x.tlq");
  auto items = findRecordings({e, d}, {.outDir = dir.file("out")});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].problem, "");  // the first in path order
  EXPECT_EQ(items[1].problem,
            "cannot open: " + joinPath(dir.file("out"), "x.csv") + " (it is the table of " + d + " too)");

  std::string named = put("d/x.csv", "a recording named like a table");
  items = findRecordings({d, named}, {});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].problem, "");  // its table is itself: the conversion refuses that
  EXPECT_EQ(items[1].problem, "cannot open: " + named + " (it is the recording " + named + ")");
}

TEST(Wildcards, MatchLikeTheCommandPrompt) {
  EXPECT_TRUE(wildcardMatch("*.tlq", "run 1.tlq", false));
  EXPECT_FALSE(wildcardMatch("*.tlq", "run 1.TLQ", false));
  EXPECT_TRUE(wildcardMatch("*.tlq", "run 1.TLQ", true));
  EXPECT_TRUE(wildcardMatch("r?n*", "run", true));
  EXPECT_TRUE(wildcardMatch("H?he*", "Höhe 2", false));  // one character, two bytes
  EXPECT_FALSE(wildcardMatch("H??he", "Höhe", false));
  EXPECT_TRUE(wildcardMatch("*a*b*", "xxaxxbxx", false));
  EXPECT_FALSE(wildcardMatch("*a*b", "xxaxxbxxc", false));
  EXPECT_TRUE(wildcardMatch("*", "", false));
  EXPECT_FALSE(wildcardMatch("?", "", false));
}

TEST(PathOrder, GoesFolderByFolder) {
  EXPECT_TRUE(pathOrder("d/a/z.tlq", "d/a b.tlq"));  // "a" before "a b"
  EXPECT_TRUE(pathOrder("d/B.tlq", "d/a.tlq"));      // bytes: upper case first
  EXPECT_FALSE(pathOrder("d/a.tlq", "d/a.tlq"));
  EXPECT_TRUE(pathOrder("d", "d/a"));
}

}  // namespace
}  // namespace tlq
