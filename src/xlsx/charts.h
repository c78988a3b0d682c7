// A workbook's charts: a line chart per sensor with readings, drawn from a
// hidden sheet of the points chosen for it ("plot inclino1", ...; see
// plot_rows.h), on the sheet "chart".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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
  // else along the line number. The rows hold `firstColumn` columns of
  // their own ahead of the table's. Adds the hidden sheets.
  Charts(Book& book, const TableColumns& columns, uint64_t samples, bool timeAxis, std::optional<int> zone,
         size_t firstColumn = 0);

  // Takes data line `line` (from 1): row `row` of `rows`, and its time
  // stamp's day number (NaN where it is not a date-time).
  void add(uint64_t line, double time, const RowBlock& rows, size_t row);

  // Writes the points, the line broken at each gap that ends at one of
  // `gapEnds` (data lines, ascending), and then the charts, on the sheet
  // "chart"; none when no reading can be drawn.
  void finish(const std::vector<uint64_t>& gapEnds = {});

 private:
  struct Series {
    size_t column;  // in the rows
    Column id;
    bool seen = false;   // a reading is plotted
    bool alone = false;  // one of them has no neighbour
  };
  // One chart's points, on a hidden sheet of its own: the x (time or
  // line), its series' values, then the values that have no neighbour
  // (drawn as markers); an empty row at a gap. The points are kept until
  // the end, when the gaps are known: at most kPlotBuckets buckets' few.
  struct Plot {
    Chart chart;
    std::vector<Series> series;
    std::string sheetName;
    lxw_worksheet* sheet;
    PlotRows chosen;
    std::vector<PlotPoint> points;
    lxw_row_t rows = 0;
    double firstX = INFINITY, lastX = -INFINITY;
  };

  void write(Plot& plot, const PlotPoint& point, const PlotPoint* before, const PlotPoint* after);
  void writeCharts();

  Book& book_;
  bool timeAxis_;
  std::optional<int> zone_;
  uint64_t bucketLines_;
  std::vector<Plot> plots_;
};

}  // namespace tlq
