#include "xlsx/data_sheets.h"

#include <algorithm>
#include <cmath>

#include "xlsx/cell_text.h"

namespace tlq {

namespace {

// The width of a date-time as its format shows it.
constexpr size_t kDateTimeWidth = 23;

// About the width a spreadsheet shows a number in (its general format keeps
// to eleven characters): sign, whole digits, a point and three decimals.
size_t numberWidth(double v) {
  double magnitude = std::fabs(v);
  size_t digits = 1;
  for (double power = 10; magnitude >= power && digits < 11; power *= 10) ++digits;
  return std::min<size_t>((v < 0) + digits + 4, 12);
}

}  // namespace

DataSheets::DataSheets(Book& book, std::vector<std::string> names, uint64_t sheetRows)
    : book_(book), names_(std::move(names)), sheetRows_(std::max<uint64_t>(sheetRows, 1)) {
  startSheet();
}

void DataSheets::startSheet() {
  sheetName_ = sheets_ == 0 ? "data" : "data " + std::to_string(sheets_ + 1);
  sheet_ = book_.addSheet(sheetName_);
  ++sheets_;
  row_ = 0;
  widths_.assign(names_.size(), 0);
  for (size_t c = 0; c < names_.size(); ++c) {
    book_.check(worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(c), names_[c].c_str(), book_.bold()));
    widths_[c] = static_cast<double>(characterCount(names_[c])) + 3;  // room for the filter's button
  }
  worksheet_freeze_panes(sheet_, 1, 0);
}

void DataSheets::endSheet() {
  lxw_col_t last = static_cast<lxw_col_t>(names_.size() - 1);
  book_.check(worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(row_), last));
  for (size_t c = 0; c < names_.size(); ++c)
    book_.check(worksheet_set_column(sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                     std::min(widths_[c] + 1, kMaxWidth), nullptr));
}

void DataSheets::finish() { endSheet(); }

void DataSheets::put(const RowBlock& rows, size_t row) {
  if (row_ == sheetRows_) {
    endSheet();
    startSheet();
  }
  const auto sheetRow = static_cast<lxw_row_t>(++row_);
  ++lines_;
  for (size_t c = 0; c < names_.size(); ++c) {
    const Cell& cell = rows.cell(row, c);
    const auto col = static_cast<lxw_col_t>(c);
    size_t width = 0;
    switch (cell.kind) {
      case CellKind::empty: break;
      case CellKind::number:
        if (std::isfinite(cell.number)) {
          book_.check(worksheet_write_number(sheet_, sheetRow, col, cell.number, nullptr));
          width = numberWidth(cell.number);
        } else if (std::isinf(cell.number)) {  // the text the table shows
          const char* text = cell.number < 0 ? "-inf" : "inf";
          book_.check(worksheet_write_string(sheet_, sheetRow, col, text, nullptr));
          width = 4;
        }
        break;
      case CellKind::text:
        width = book_.writeText(sheet_, col, {sheetName_.c_str(), sheetRow, names_[c].c_str()}, rows.textOf(cell));
        break;
      case CellKind::dateTime:
        book_.check(worksheet_write_number(sheet_, sheetRow, col, cell.number, book_.dateTime()));
        width = kDateTimeWidth;
        break;
    }
    widths_[c] = std::max(widths_[c], static_cast<double>(width));
  }
}

}  // namespace tlq
