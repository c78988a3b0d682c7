// The read-back of a workbook's zip: a real workbook, made by the library,
// zipped again with one part cut as a full disk cuts it.
#include "xlsx/zip_parts.h"

#include <gtest/gtest.h>
#include <unzip.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tlq {
namespace {

using testing::TempDir;

// The parts of a zip, by name, in their order.
std::vector<std::pair<std::string, std::string>> partsOf(const std::string& file) {
  std::vector<std::pair<std::string, std::string>> parts;
  unzFile zip = unzOpen64(file.c_str());
  EXPECT_NE(zip, nullptr);
  if (!zip) return parts;
  for (int step = unzGoToFirstFile(zip); step == UNZ_OK; step = unzGoToNextFile(zip)) {
    char name[512];
    unzGetCurrentFileInfo64(zip, nullptr, name, sizeof name, nullptr, 0, nullptr, 0);
    unzOpenCurrentFile(zip);
    std::string bytes;
    char buffer[4096];
    for (int got; (got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(got));
    unzCloseCurrentFile(zip);
    parts.emplace_back(name, bytes);
  }
  unzClose(zip);
  return parts;
}

void zipParts(const std::string& file, const std::vector<std::pair<std::string, std::string>>& parts) {
  zipFile zip = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr);
  for (const auto& [name, bytes] : parts) {
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                    Z_DEFAULT_COMPRESSION, 0),
              ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())), ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
  }
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

class ZipParts : public ::testing::Test {
 protected:
  void SetUp() override {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(made.c_str(), &options);
    ASSERT_NE(book, nullptr);
    lxw_worksheet* sheet = workbook_add_worksheet(book, "data");
    for (lxw_row_t row = 0; row < 3000; ++row) {
      worksheet_write_number(sheet, row, 0, row * 0.5, nullptr);
      worksheet_write_string(sheet, row, 1, "Messung", nullptr);
    }
    workbook_add_worksheet(book, "empty");
    ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
    parts = partsOf(made);
    ASSERT_EQ(parts.size() > 4, true);
    for (const auto& [name, bytes] : parts)
      if (name == "xl/worksheets/sheet1.xml") {
        size_t start = bytes.find("<sheetData>") + 11, end = bytes.rfind("</sheetData>");
        rows = end - start;
      }
    ASSERT_GT(rows, 100000u);
  }

  TempDir dir;
  std::string made = dir.file("made.xlsx"), file = dir.file("again.xlsx");
  std::vector<std::pair<std::string, std::string>> parts;
  uint64_t rows = 0;
};

TEST_F(ZipParts, AWholeWorkbookPasses) {
  EXPECT_EQ(cutPart(made, {{"xl/worksheets/sheet1.xml", rows}}), std::nullopt);
  zipParts(file, parts);  // zipped again by minizip: the same parts
  EXPECT_EQ(cutPart(file, {{"xl/worksheets/sheet1.xml", rows}}), std::nullopt);
}

// Rows lost in the middle of the sheet's copy, its head and end intact, as
// the library leaves them when a write fails and a later one succeeds. A
// loss shorter than the sheet's end beyond its closing tags (a hundred
// bytes or so) cannot be told by the size; writes fail a block at a time.
TEST_F(ZipParts, ASheetThatLostRowsFails) {
  std::string sheet;
  for (const auto& [name, bytes] : parts)
    if (name == "xl/worksheets/sheet1.xml") sheet = bytes;
  const uint64_t head = sheet.find("<sheetData>") + 11, least = head + rows + 24;
  const uint64_t end = sheet.size() - head - rows;  // "</sheetData>" to "</worksheet>"
  for (uint64_t lost : {end - 23, uint64_t(4096), uint64_t(100000)}) {
    SCOPED_TRACE(lost);
    auto cut = parts;
    for (auto& [name, bytes] : cut)
      if (name == "xl/worksheets/sheet1.xml") bytes.erase(bytes.size() / 2, lost);
    zipParts(file, cut);
    EXPECT_EQ(cutPart(file, {{"xl/worksheets/sheet1.xml", rows}}).value_or("whole"),
              "its part xl/worksheets/sheet1.xml holds " + std::to_string(sheet.size() - lost) +
                  " bytes of at least " + std::to_string(least));
  }
}

TEST_F(ZipParts, AnyOtherPartCutShortFails) {
  for (const auto& [which, whole] : parts) {
    if (which == "xl/worksheets/sheet1.xml") continue;
    SCOPED_TRACE(which);
    auto cut = parts;
    for (auto& [name, bytes] : cut)
      if (name == which) bytes.resize(bytes.size() - 3);
    zipParts(file, cut);
    EXPECT_EQ(cutPart(file, {{"xl/worksheets/sheet1.xml", rows}}).value_or("whole"), "its part " + which + " was cut short");
  }
}

TEST_F(ZipParts, AMissingSheetOrNoZipFails) {
  auto without = parts;
  std::erase_if(without, [](const auto& part) { return part.first == "xl/worksheets/sheet1.xml"; });
  zipParts(file, without);
  EXPECT_EQ(cutPart(file, {{"xl/worksheets/sheet1.xml", rows}}).value_or("whole"),
            "its part xl/worksheets/sheet1.xml is missing");
  testing::writeFile(file, testing::readFile(made).substr(0, 2000));
  EXPECT_EQ(cutPart(file, {{"xl/worksheets/sheet1.xml", rows}}).value_or("whole"), "it cannot be read back as a zip");
}

// The library writes a number's digits with the C library's printf: under
// Windows with mingw-w64's own, as glibc writes them (two exponent digits at
// least), in the cells and in a chart's axis alike, so that the same table
// gives the same workbook everywhere.
TEST(WorkbookDigits, AsGlibcWritesThemInCellsAndCharts) {
  TempDir dir;
  const std::string file = dir.file("digits.xlsx");
  lxw_workbook* book = workbook_new(file.c_str());
  ASSERT_NE(book, nullptr);
  lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
  const double values[] = {1.0 / 86400, 1e22, 1e-300, 4.9406564584124654e-324, 0.1, 123456.7, -2.5e-7};
  for (int i = 0; i < 7; ++i) worksheet_write_number(sheet, static_cast<lxw_row_t>(i), 0, values[i], nullptr);
  lxw_chart* chart = workbook_add_chart(book, LXW_CHART_SCATTER_STRAIGHT);
  chart_add_series(chart, "=Sheet1!$A$1:$A$7", "=Sheet1!$A$1:$A$7");
  chart_axis_set_major_unit(chart->x_axis, 1.0 / 86400);
  worksheet_insert_chart(sheet, 0, 2, chart);
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
  std::string cells, axis;
  for (const auto& [name, bytes] : partsOf(file)) {
    if (name == "xl/worksheets/sheet1.xml") cells = bytes;
    if (name == "xl/charts/chart1.xml") axis = bytes;
  }
  for (const char* digits : {"<v>1.157407407407407E-05</v>", "<v>1E+22</v>", "<v>1E-300</v>",
                             "<v>4.940656458412465E-324</v>", "<v>0.1</v>", "<v>123456.7</v>", "<v>-2.5E-07</v>"})
    EXPECT_NE(cells.find(digits), std::string::npos) << digits << "\n" << cells;
  EXPECT_NE(axis.find("<c:majorUnit val=\"1.157407407407407E-05\"/>"), std::string::npos) << axis;
}

}  // namespace
}  // namespace tlq
