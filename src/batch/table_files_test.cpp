#include "batch/table_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "platform/temp_files.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::fileExists;
using testing::readFile;

// Lines whose ends are given: a quoted field may hold a line feed of its own.
LineBlock blockOf(const std::vector<std::string>& lines) {
  LineBlock block;
  for (const std::string& line : lines) {
    block.text += line + "\r\n";
    block.ends.push_back(block.text.size());
  }
  return block;
}

const bool seeded = seedRandom();  // temporary names are drawn as the program draws them

size_t filesIn(const std::string& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(fs::u8path(folder)), fs::directory_iterator()));
}

TEST(TableFiles, PartNames) {
  EXPECT_EQ(tablePartPath("d/run 1.csv", 1), "d/run 1.csv");
  EXPECT_EQ(tablePartPath("d/run 1.csv", 2), "d/run 1_part2.csv");
  EXPECT_EQ(tablePartPath("d.x/r.csv", 12), "d.x/r_part12.csv");
}

TEST(TableFiles, WrittenWholeOrNotAtAll) {
  testing::TempDir dir;
  std::string csv = dir.file("r.csv");
  testing::writeFile(csv, "older\r\n");
  {
    TableFiles table(csv, "h\r\n", 0);
    table.put(blockOf({"a", "b"}));
    EXPECT_EQ(readFile(csv), "older\r\n");  // nothing in place yet
    EXPECT_EQ(filesIn(dir.path()), 2u);      // beside it, a temporary file
  }  // dropped without commit: the temporary file goes
  EXPECT_EQ(readFile(csv), "older\r\n");
  EXPECT_EQ(filesIn(dir.path()), 1u);

  TableFiles table(csv, "h\r\n", 0);
  table.put(blockOf({"a", "b"}));
  table.put(blockOf({"c"}));
  table.commit();
  EXPECT_EQ(readFile(csv), "h\r\na\r\nb\r\nc\r\n");
  EXPECT_EQ(table.parts(), std::vector<std::string>{csv});
  EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST(TableFiles, SplitAtLineEnds) {
  testing::TempDir dir;
  std::string csv = dir.file("r.csv");
  TableFiles table(csv, "h\r\n", 2);
  table.put(blockOf({"1", "\"2\r\nstill 2\"", "3"}));
  table.put(blockOf({"4"}));
  table.put(blockOf({"5", "6", "7"}));
  table.finish();
  ASSERT_EQ(table.parts().size(), 4u);
  EXPECT_FALSE(fileExists(dir.file("r_part2.csv")));  // only on commit
  table.commit();
  EXPECT_EQ(readFile(csv), "h\r\n1\r\n\"2\r\nstill 2\"\r\n");
  EXPECT_EQ(readFile(dir.file("r_part2.csv")), "h\r\n3\r\n4\r\n");
  EXPECT_EQ(readFile(dir.file("r_part3.csv")), "h\r\n5\r\n6\r\n");
  EXPECT_EQ(readFile(dir.file("r_part4.csv")), "h\r\n7\r\n");
  EXPECT_EQ(filesIn(dir.path()), 4u);
}

TEST(TableFiles, ExactlyFullPartsAndAnEmptyTable) {
  testing::TempDir dir;
  TableFiles full(dir.file("f.csv"), "h\r\n", 2);
  full.put(blockOf({"1", "2", "3", "4"}));
  full.commit();
  EXPECT_EQ(full.parts().size(), 2u);  // no empty third part
  TableFiles empty(dir.file("e.csv"), "h\r\n", 2);
  empty.commit();
  EXPECT_EQ(readFile(dir.file("e.csv")), "h\r\n");
}

TEST(TableFiles, AFolderThatTakesNoFile) {
  testing::TempDir dir;
  std::string csv = dir.file("missing folder/r.csv");
  EXPECT_EQ(testing::failureOf([&] { TableFiles(csv, "h\r\n", 0); }), "IOError: cannot open: " + csv);
}

// The older table is moved aside part by part; when one part cannot be
// moved (append-only: no rename, yet writable), the parts already moved go
// back.
#ifdef __linux__
TEST(TableFiles, AFailureHalfWayPutsTheOlderPartsBack) {
  testing::TempDir dir;
  std::string csv = dir.file("a.csv");
  std::vector<std::string> older = {csv, dir.file("a_part2.csv"), dir.file("a_part3.csv")};
  for (const std::string& part : older) testing::writeFile(part, "older " + part);
  int fd = ::open(older[2].c_str(), O_RDONLY);
  int flags = 0;
  bool appendOnly = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                    (flags |= FS_APPEND_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  if (!appendOnly) {
    if (fd >= 0) ::close(fd);
    GTEST_SKIP() << "append-only files need CAP_LINUX_IMMUTABLE and a file system that has them";
  }
  {
    TableFiles table(csv, "h\r\n", 1);
    table.put(blockOf({"1", "2", "3", "4"}));
    EXPECT_EQ(testing::failureOf([&] { table.commit(); }), "IOError: cannot open: " + older[2]);
  }
  flags &= ~FS_APPEND_FL;
  ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  ::close(fd);
  for (const std::string& part : older) EXPECT_EQ(readFile(part), "older " + part);
  EXPECT_FALSE(fileExists(dir.file("a_part4.csv")));
  EXPECT_EQ(filesIn(dir.path()), 3u);  // nothing of ours left
}
#endif

}  // namespace
}  // namespace tlq
