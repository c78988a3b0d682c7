// Rows of typed cells: what the conversion makes of a recording's entries,
// and what the CSV lines and the workbook's sheets are both written from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tlq {

enum class CellKind : uint8_t { empty, number, text, dateTime };

struct Cell {
  CellKind kind = CellKind::empty;
  // A text already in the form of one CSV field: in double quotes, its
  // quotes doubled (a frame's record, made so for a CSV table, where
  // quoting it afresh would cost a tenth of the conversion).
  bool csvField = false;
  size_t size = 0;    // text, date-time: the length of its text
  size_t at = 0;      // text, date-time: where its text starts in the block's text
  double number = 0;  // number: the value (not a number where there is none); date-time: its day number
};

// Consecutive rows of a table, each one cell per column, their texts kept in
// one buffer; and the entries left out between them for a failed CRC.
class RowBlock {
 public:
  explicit RowBlock(size_t columns = 0) : columns_(columns) {}

  size_t columns() const { return columns_; }
  size_t rows() const { return rows_; }
  uint64_t dropped = 0;
  uint64_t outside = 0;  // rows left out by a time window

  // Starts a row of empty cells; a row begun before and not kept is
  // forgotten.
  void beginRow() {
    cells_.resize(rows_ * columns_);
    text_.resize(keptText_);
    cells_.resize((rows_ + 1) * columns_);
  }
  // The row begun is the block's last row.
  void keepRow() {
    ++rows_;
    keptText_ = text_.size();
  }

  // Cells of the row begun.
  void setNumber(size_t column, double value) {
    Cell& c = open(column);
    c.kind = CellKind::number;
    c.number = value;
  }
  void setText(size_t column, std::string_view text) {
    size_t start = text_.size();
    text_.append(text);
    setTextFrom(column, start);
  }
  // A text written in place: what was appended to text() since `start`.
  std::string& text() { return text_; }
  void setTextFrom(size_t column, size_t start, bool csvField = false) {
    Cell& c = open(column);
    c.kind = CellKind::text;
    c.csvField = csvField;
    c.at = start;
    c.size = text_.size() - start;
  }
  // A time stamp that is also a date-time with the day number `serial`.
  void setDateTime(size_t column, std::string_view text, double serial) {
    setText(column, text);
    Cell& c = open(column);
    c.kind = CellKind::dateTime;
    c.number = serial;
  }

  const Cell& cell(size_t row, size_t column) const { return cells_[row * columns_ + column]; }
  std::string_view textOf(const Cell& c) const { return {text_.data() + c.at, c.size}; }
  size_t textBytes() const { return text_.size(); }

  // Forgets the rows from `row` on, whose texts begin at `textFrom`.
  void truncate(size_t row, size_t textFrom) {
    rows_ = row;
    cells_.resize(rows_ * columns_);
    text_.resize(textFrom);
    keptText_ = textFrom;
  }

  void clear() {
    cells_.clear();
    text_.clear();
    rows_ = 0;
    keptText_ = 0;
    dropped = 0;
    outside = 0;
  }

 private:
  Cell& open(size_t column) { return cells_[rows_ * columns_ + column]; }

  size_t columns_;
  size_t rows_ = 0;
  size_t keptText_ = 0;
  std::vector<Cell> cells_;
  std::string text_;
};

}  // namespace tlq
