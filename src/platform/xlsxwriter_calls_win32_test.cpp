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

// A workbook in constant memory, as the program makes it: its sheet's rows
// go to a temporary file from the first sheet on.
class Book {
 public:
  Book(const std::string& file, const char* tmpdir) : file_(file) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char*>(tmpdir);
    book_ = workbook_new_opt(file.c_str(), &options);
    if (book_) sheet_ = workbook_add_worksheet(book_, nullptr);
  }
  bool started() const { return sheet_ != nullptr; }

  // Writes a row of cells and the file; true when it is a zip.
  bool finish() {
    worksheet_write_number(sheet_, 0, 0, 1.5, nullptr);
    worksheet_write_string(sheet_, 0, 1, "März ω 数据", nullptr);
    bool closed = workbook_close(book_) == LXW_NO_ERROR;
    std::optional<std::string> bytes = readWholeFile(file_);
    return closed && bytes && bytes->starts_with("PK\x03\x04");
  }

 private:
  std::string file_;
  lxw_workbook* book_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
};

TEST(XlsxwriterCalls, WorkbooksAndTheirTemporaryFilesInFoldersOfAnyName) {
  testing::TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 300) deep += "\\Messreihe März 2026";
  for (const std::string& folder : {dir.file("Messungen März"), dir.file("Μετρήσεις ω"), dir.file("測定データ"), deep}) {
    SCOPED_TRACE(folder);
    ASSERT_TRUE(makeFolders(folder));
    Book book(folder + "\\run.xlsx", folder.c_str());
    ASSERT_TRUE(book.started());
    std::vector<std::string> scratch = namesIn(folder);  // the sheet's, in the folder given
    ASSERT_EQ(scratch.size(), 1u);
    EXPECT_TRUE(scratch[0].starts_with("tmp.")) << scratch[0];
    EXPECT_TRUE(book.finish());
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"run.xlsx"});  // the scratch files gone
  }
}

// Without a folder of its own (or when it cannot write there), the library
// takes TMP, then TEMP: such as a user's profile holds them.
TEST(XlsxwriterCalls, TheUsersTemporaryFolders) {
  testing::TempDir dir;
  std::string temp = dir.file("Users\\Jürgen 数据\\AppData\\Local\\Temp");
  std::string other = dir.file("Τεμπ");
  ASSERT_TRUE(makeFolders(temp));
  ASSERT_TRUE(makeFolders(other));
  std::string missing = dir.file("missing");
  for (const char* tmpdir : {static_cast<const char*>(nullptr), missing.c_str()}) {
    testing::ScopedEnv tmp("TMP", temp.c_str());
    Book book(dir.file("a.xlsx"), tmpdir);
    ASSERT_TRUE(book.started());
    EXPECT_EQ(namesIn(temp).size(), 1u);
    EXPECT_TRUE(book.finish());
    EXPECT_EQ(namesIn(temp), std::vector<std::string>());
  }
  testing::ScopedEnv tmp("TMP", missing.c_str());
  testing::ScopedEnv alsoTemp("TEMP", other.c_str());
  Book book(dir.file("b.xlsx"), nullptr);
  ASSERT_TRUE(book.started());
  EXPECT_EQ(namesIn(other).size(), 1u);
  EXPECT_TRUE(book.finish());
  EXPECT_EQ(namesIn(other), std::vector<std::string>());
}

}  // namespace
}  // namespace tlq
