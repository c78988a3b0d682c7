// libxlsxwriter's Windows build as the program uses it: its workbooks and
// temporary files in folders of any name and length, named in UTF-8
// (platform/xlsxwriter_calls_win32.h).
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/folders.h"
#include "test_support.h"

namespace tlq {
namespace {

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const FolderEntry& e : listFolder(folder).value_or(std::vector<FolderEntry>())) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

// Writes a workbook in constant memory at `file`, as the program does (its
// sheet's rows go to a temporary file from the first sheet on), with
// `tmpdir`: passes when the workbook is made, its temporary file was in
// `scratch` while it was written and none is left there.
::testing::AssertionResult scratchIn(const std::string& scratch, const std::string& file, const char* tmpdir) {
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = const_cast<char*>(tmpdir);
  lxw_workbook* book = workbook_new_opt(file.c_str(), &options);
  lxw_worksheet* sheet = book ? workbook_add_worksheet(book, nullptr) : nullptr;
  if (!sheet) return ::testing::AssertionFailure() << "no workbook begun";
  auto temporary = [&] {
    std::vector<std::string> names = namesIn(scratch);
    return std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.starts_with("tmp."); });
  };
  auto during = temporary();
  worksheet_write_number(sheet, 0, 0, 1.5, nullptr);
  worksheet_write_string(sheet, 0, 1, "März ω 数据", nullptr);
  bool closed = workbook_close(book) == LXW_NO_ERROR;
  std::optional<std::string> bytes = readWholeFile(file);
  if (!closed || !bytes || !bytes->starts_with("PK\x03\x04")) return ::testing::AssertionFailure() << "no workbook";
  if (during != 1) return ::testing::AssertionFailure() << during << " temporary files in " << scratch;
  if (temporary() != 0) return ::testing::AssertionFailure() << "temporary files left in " << scratch;
  return ::testing::AssertionSuccess();
}

TEST(XlsxwriterCalls, WorkbooksAndTheirTemporaryFilesInFoldersOfAnyName) {
  testing::TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 300) deep += "\\Messreihe März 2026";
  for (const std::string& folder : {dir.file("Messungen März"), dir.file("Μετρήσεις ω"), dir.file("測定データ"), deep}) {
    ASSERT_TRUE(makeFolders(folder)) << folder;
    EXPECT_TRUE(scratchIn(folder, folder + "\\run.xlsx", folder.c_str()));
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"run.xlsx"});
  }
}

// Without a folder of its own (or when it cannot write there), the library
// takes TMP, then TEMP: such as a user's profile holds them.
TEST(XlsxwriterCalls, TheUsersTemporaryFolders) {
  testing::TempDir dir;
  std::string temp = dir.file("Users\\Jürgen 数据\\AppData\\Local\\Temp");
  std::string other = dir.file("Τεμπ");
  std::string missing = dir.file("missing");
  ASSERT_TRUE(makeFolders(temp));
  ASSERT_TRUE(makeFolders(other));
  {
    testing::ScopedEnv tmp("TMP", temp.c_str());
    EXPECT_TRUE(scratchIn(temp, dir.file("a.xlsx"), nullptr));
    EXPECT_TRUE(scratchIn(temp, dir.file("b.xlsx"), missing.c_str()));
  }
  testing::ScopedEnv tmp("TMP", missing.c_str());
  testing::ScopedEnv alsoTemp("TEMP", other.c_str());
  EXPECT_TRUE(scratchIn(other, dir.file("c.xlsx"), nullptr));
}

}  // namespace
}  // namespace tlq
