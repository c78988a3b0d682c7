#include "batch/sweep.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_hold.h"
#include "platform/system.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;

// The workbook library's folder, as a run leaves it when it is killed while
// the library has a file there: a later run removes it once its temporary
// table is gone, never while the run that made it lives, and never with
// anything in it that is not the library's.
TEST(LibraryFolders, RemovedOnceTheirTemporaryTableIsGone) {
  testing::TempDir dir;
  const std::string left = dir.file("tlqconverter_aB3dE5gH.dir");   // its run was stopped
  const std::string live = dir.file("tlqconverter_Zy9xW8vU.dir");   // its run goes on
  const std::string other = dir.file("tlqconverter_Qq1Qq1Qq.dir");  // holds a file of somebody else's
  for (const std::string& folder : {left, live, other}) {
    fs::create_directory(fs::u8path(folder));
    writeFile(folder + "/tmp.k3JdQ0aZ9x", "");
  }
  writeFile(other + "/notes.txt", "mine");
  const std::string liveTable = dir.file("tlqconverter_Zy9xW8vU.tmp");
  writeFile(liveTable, "");
  FileHold hold(liveTable);
  fs::create_directory(fs::u8path(dir.file("tmp.folder")));  // not of ours by its name

  const std::vector<std::string> removed = sweepTemporaryFiles(dir.path());
  EXPECT_EQ(removed, std::vector<std::string>{joinPath(dir.path(), "tlqconverter_aB3dE5gH.dir")});  // as the sweep names it
  EXPECT_FALSE(fs::exists(fs::u8path(left)));
  EXPECT_TRUE(fs::exists(fs::u8path(live + "/tmp.k3JdQ0aZ9x")));
  EXPECT_TRUE(fs::exists(fs::u8path(other + "/notes.txt")));
  EXPECT_TRUE(fs::exists(fs::u8path(other + "/tmp.k3JdQ0aZ9x")));
  EXPECT_TRUE(fs::exists(fs::u8path(dir.file("tmp.folder"))));
}

// Made beside the temporary table, named after it, and gone with the
// object; where it cannot be made the library works in the table's folder.
TEST(LibraryFolders, MadeForAsLongAsTheWorkbookIsWritten) {
  testing::TempDir dir;
  const std::string table = dir.file("tlqconverter_Mn0pQr2s.tmp");
  {
    LibraryFolder library(table);
    EXPECT_EQ(library.path(), dir.file("tlqconverter_Mn0pQr2s.dir"));
    EXPECT_TRUE(fs::is_directory(fs::u8path(library.path())));
    writeFile(library.path() + "/tmp.Abc123Def4", "");  // as the library leaves one when killed
  }
  EXPECT_FALSE(fs::exists(fs::u8path(dir.file("tlqconverter_Mn0pQr2s.dir"))));
  writeFile(dir.file("tlqconverter_Mn0pQr2s.dir"), "a file in the way");
  LibraryFolder blocked(table);
  EXPECT_EQ(blocked.path(), dir.path());
}

}  // namespace
}  // namespace tlq
