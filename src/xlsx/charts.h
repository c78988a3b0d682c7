// A workbook's charts: a line chart per sensor with readings, drawn from a
// hidden sheet "plot" of the points chosen (plot_rows.h), on the sheet
// "chart".
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "table/columns.h"
#include "table/rows.h"
#include "xlsx/book.h"
#include "xlsx/plot_rows.h"

namespace tlq {

class Charts {
 public:
  // For the plotted columns of `columns` of a table of at most `samples`
  // data lines. Along time when `timeAxis` (in `zone`, where there is one),
  // else along the line number. Adds the sheet "plot" when anything can be
  // plotted.
  Charts(Book& book, const TableColumns& columns, uint64_t samples, bool timeAxis, std::optional<int> zone);

  // Takes data line `line` (from 1): row `row` of `rows`, and its time
  // stamp's day number (NaN where it is not a date-time).
  void add(uint64_t line, double time, const RowBlock& rows, size_t row);

  // Writes the last points and then the charts, on the sheet "chart"; none
  // when no reading can be drawn.
  void finish();

 private:
  struct Plotted {
    size_t column;  // in the table
    Column id;
    Chart chart;
    bool seen = false;   // a reading is plotted
    bool alone = false;  // one of them has no neighbour
  };

  void take(const PlotPoint& point);
  void writePoint(const PlotPoint& point, const PlotPoint* before, const PlotPoint* after);
  void writeCharts();

  Book& book_;
  bool timeAxis_;
  std::optional<int> zone_;
  std::vector<Plotted> plotted_;
  lxw_worksheet* plot_ = nullptr;
  uint64_t bucketLines_;
  PlotRows rows_;
  // The last two points chosen: one is written once the next is known.
  std::optional<PlotPoint> before_, pending_;
  lxw_row_t plotRows_ = 0;
  double firstTime_ = INFINITY, lastTime_ = -INFINITY;
};

}  // namespace tlq
