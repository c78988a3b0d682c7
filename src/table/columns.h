// The columns a table can have: their names, the unit of their numbers and
// the chart that draws them, in one place for the CSV and the workbook.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tlq {

enum class Column : uint8_t {
  timestamp,
  inclino1Raw,
  inclino1X,
  inclino1Y,
  inclino2Raw,
  inclino2X,
  inclino2Y,
  elastoRaw,
  elastoRawA,
  elastoRawB,
  elastoAUm,
  elastoBUm,
  forceRaw,
  forceKg,
};
inline constexpr size_t kColumnKinds = 14;

// The charts of a workbook, in the order the chart sheet shows them.
enum class Chart : uint8_t { none, inclino1, inclino2, elasto, force };

struct ColumnInfo {
  const char* name;  // as the header shows it
  const char* unit;  // of its numbers, "" for none or for text
  Chart chart;       // that draws its readings
};

struct ChartInfo {
  const char* title;
  const char* quantity;  // the value axis shows "quantity (unit)"
  const char* name;      // short, for names made of it
};

const ColumnInfo& columnInfo(Column column);
const ChartInfo& chartInfo(Chart chart);

// The columns of one table, in order: always the first inclinometer's and
// the force's, the second inclinometer's and the elastometer's when the
// recording has them.
class TableColumns {
 public:
  static constexpr size_t kAbsent = static_cast<size_t>(-1);

  TableColumns(bool inclino2, bool elasto);

  size_t size() const { return list_.size(); }
  Column operator[](size_t i) const { return list_[i]; }
  // Where the column stands, or kAbsent.
  size_t at(Column column) const { return at_[static_cast<size_t>(column)]; }
  std::vector<std::string> names() const;

 private:
  std::vector<Column> list_;
  std::array<size_t, kColumnKinds> at_;
};

}  // namespace tlq
