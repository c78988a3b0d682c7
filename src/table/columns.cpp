#include "table/columns.h"

namespace tlq {

namespace {

constexpr ColumnInfo kColumns[kColumnKinds] = {
    {"timestamp", "", Chart::none},
    {"inclino1_raw", "", Chart::none},
    {"inclino1_x", "\u00b0", Chart::inclino1},
    {"inclino1_y", "\u00b0", Chart::inclino1},
    {"inclino2_raw", "", Chart::none},
    {"inclino2_x", "\u00b0", Chart::inclino2},
    {"inclino2_y", "\u00b0", Chart::inclino2},
    {"elasto_raw", "", Chart::none},
    {"elasto_raw_a", "", Chart::none},
    {"elasto_raw_b", "", Chart::none},
    {"elasto_a_um", "\u00b5m", Chart::elasto},
    {"elasto_b_um", "\u00b5m", Chart::elasto},
    {"force_raw", "", Chart::none},
    {"force_kg", "kg", Chart::force},
};

constexpr ChartInfo kCharts[] = {
    {"", "", ""},
    {"Inclinometer 1", "angle", "inclino1"},
    {"Inclinometer 2", "angle", "inclino2"},
    {"Elastometer", "displacement", "elasto"},
    {"Force", "force", "force"},
};

}  // namespace

const ColumnInfo& columnInfo(Column column) { return kColumns[static_cast<size_t>(column)]; }

const ChartInfo& chartInfo(Chart chart) { return kCharts[static_cast<size_t>(chart)]; }

TableColumns::TableColumns(bool inclino2, bool elasto) {
  at_.fill(kAbsent);
  auto add = [&](std::initializer_list<Column> group) {
    for (Column c : group) {
      at_[static_cast<size_t>(c)] = list_.size();
      list_.push_back(c);
    }
  };
  add({Column::timestamp, Column::inclino1Raw, Column::inclino1X, Column::inclino1Y});
  if (inclino2) add({Column::inclino2Raw, Column::inclino2X, Column::inclino2Y});
  if (elasto)
    add({Column::elastoRaw, Column::elastoRawA, Column::elastoRawB, Column::elastoAUm, Column::elastoBUm});
  add({Column::forceRaw, Column::forceKg});
}

std::vector<std::string> TableColumns::names() const {
  std::vector<std::string> names;
  names.reserve(list_.size());
  for (Column c : list_) names.emplace_back(columnInfo(c).name);
  return names;
}

}  // namespace tlq
