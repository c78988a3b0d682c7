// A workbook's data: the sheets "data", "data 2", ..., a row per data line
// under a bold, frozen header with a filter, the columns as wide as what
// they hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table/rows.h"
#include "xlsx/book.h"

namespace tlq {

class DataSheets {
 public:
  // Starts the sheet "data" with the header `names`; `sheetRows` data rows
  // a sheet.
  DataSheets(Book& book, std::vector<std::string> names, uint64_t sheetRows);

  // Writes row `row` of `rows` as the next data line.
  void put(const RowBlock& rows, size_t row);

  // Sets the last sheet's filter and widths.
  void finish();

  uint64_t lines() const { return lines_; }

 private:
  void startSheet();
  void endSheet();

  Book& book_;
  std::vector<std::string> names_;
  uint64_t sheetRows_;
  lxw_worksheet* sheet_ = nullptr;
  std::string sheetName_;
  size_t sheets_ = 0;
  uint64_t row_ = 0, lines_ = 0;
  std::vector<double> widths_;
};

}  // namespace tlq
