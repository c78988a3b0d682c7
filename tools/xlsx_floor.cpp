// The floor of a workbook conversion, for the benchmarks: the library alone
// writing the cells a workbook of the recording holds. The rows are made,
// the points the charts draw chosen and the texts escaped in memory first
// (not timed); then libxlsxwriter, in constant-memory mode, writes them in
// the converter's order (the data rows, and the chart's points as their
// buckets are complete) and closes the workbook. Prints the seconds that
// took.
//
//   xlsx_floor REC OUT.xlsx

#include <xlsxwriter.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "convert/convert.h"
#include "error.h"
#include "table/date_time.h"
#include "xlsx/cell_text.h"
#include "xlsx/plot_rows.h"

namespace {

using namespace tlq;

struct Date {
  double serial;
};
using FloorCell = std::variant<std::monostate, double, std::string, Date>;

// A chart's hidden sheet: its rows, and per row the data rows written
// before it.
struct Plot {
  std::string sheet;
  std::vector<size_t> columns;  // in the table
  std::vector<std::vector<FloorCell>> rows;
  std::vector<size_t> after;
};

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<FloorCell>> rows;
  std::vector<Plot> plots;
};

// The cells as the converter makes them, and the charts' points as it
// chooses them (each written once the next is known).
Table readTable(const std::string& path) {
  RecordingTable recording(path, {});
  Table table;
  table.columns = recording.columns();
  const TableColumns& columns = recording.tableColumns();
  for (Chart chart : {Chart::inclino1, Chart::inclino2, Chart::elasto, Chart::force}) {
    Plot plot{std::string("plot ") + chartInfo(chart).name, {}, {}, {}};
    for (size_t c = 0; c < columns.size(); ++c)
      if (columnInfo(columns[c]).chart == chart) plot.columns.push_back(c);
    if (!plot.columns.empty()) table.plots.push_back(std::move(plot));
  }
  TimeStampZones zones = recording.timeStampZones({});
  const bool timeAxis = zones.anyDateTime();
  struct Choosing {
    PlotRows rows;
    std::optional<PlotPoint> before, pending;
  };
  std::vector<Choosing> choosing;
  for (const Plot& plot : table.plots)
    choosing.push_back({PlotRows(plot.columns.size(), plotBucketLines(recording.recording().entries())), {}, {}});
  auto plotRow = [&](size_t k, const PlotPoint& p, const PlotPoint* next) {
    Plot& plot = table.plots[k];
    const size_t n = plot.columns.size();
    std::vector<FloorCell>& row = plot.rows.emplace_back(1 + 2 * n);
    plot.after.push_back(table.rows.size());
    row[0] = timeAxis ? FloorCell(Date{p.time}) : FloorCell(static_cast<double>(p.line));
    const std::optional<PlotPoint>& before = choosing[k].before;
    for (size_t v = 0; v < n; ++v) {
      if (std::isnan(p.values[v])) continue;
      row[1 + v] = p.values[v];
      bool alone = !(before && !std::isnan(before->values[v])) && !(next && !std::isnan(next->values[v]));
      if (alone) row[1 + n + v] = p.values[v];
    }
  };
  auto taker = [&](size_t k) {
    return [&, k](const PlotPoint& p) {
      Choosing& c = choosing[k];
      if (c.pending) plotRow(k, *c.pending, &p);
      c.before = std::move(c.pending);
      c.pending = p;
    };
  };
  std::string escaped;
  recording.convertRows(&zones, {}, [&](RowBlock& rows) {
    for (size_t r = 0; r < rows.rows(); ++r) {
      std::vector<FloorCell>& row = table.rows.emplace_back(rows.columns());
      double time = NAN;
      for (size_t c = 0; c < rows.columns(); ++c) {
        const Cell& cell = rows.cell(r, c);
        if (cell.kind == CellKind::number && std::isfinite(cell.number)) {
          row[c] = cell.number;
        } else if (cell.kind == CellKind::text && cell.size > 0) {
          cellText(rows.textOf(cell), escaped);
          row[c] = escaped;
        } else if (cell.kind == CellKind::dateTime) {
          row[c] = Date{cell.number};
          time = cell.number;
        }
      }
      if (timeAxis && std::isnan(time)) continue;
      for (size_t k = 0; k < table.plots.size(); ++k) {
        PlotPoint point;
        point.line = table.rows.size();
        point.time = time;
        for (size_t v = 0; v < table.plots[k].columns.size(); ++v)
          if (const double* value = std::get_if<double>(&row[table.plots[k].columns[v]]); value && *value != -999.0)
            point.values[v] = *value;
        choosing[k].rows.add(point, taker(k));
      }
    }
  });
  for (size_t k = 0; k < table.plots.size(); ++k) {
    choosing[k].rows.finish(taker(k));
    if (choosing[k].pending) plotRow(k, *choosing[k].pending, nullptr);
  }
  return table;
}

void writeRow(lxw_worksheet* sheet, lxw_row_t r, const std::vector<FloorCell>& row, lxw_format* date) {
  for (size_t c = 0; c < row.size(); ++c) {
    lxw_col_t col = static_cast<lxw_col_t>(c);
    if (const double* v = std::get_if<double>(&row[c]))
      worksheet_write_number(sheet, r, col, *v, nullptr);
    else if (const std::string* s = std::get_if<std::string>(&row[c]))
      worksheet_write_string(sheet, r, col, s->c_str(), nullptr);
    else if (const Date* d = std::get_if<Date>(&row[c]))
      worksheet_write_number(sheet, r, col, d->serial, date);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: xlsx_floor REC OUT.xlsx\n", stderr);
    return 2;
  }
  try {
    Table table = readTable(argv[1]);
    auto start = std::chrono::steady_clock::now();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    std::string folder = std::string(argv[2]).substr(0, std::string(argv[2]).find_last_of('/') + 1);
    std::string tmpdir = folder.empty() ? "." : folder;  // beside the workbook, as the converter has it
    options.tmpdir = tmpdir.data();
    lxw_workbook* book = workbook_new_opt(argv[2], &options);
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd hh:mm:ss.000");
    // The sheets' temporary files buffered as the converter buffers them.
    std::vector<std::unique_ptr<char[]>> buffers;
    auto addSheet = [&](const char* name) {
      lxw_worksheet* sheet = workbook_add_worksheet(book, name);
      buffers.push_back(std::make_unique<char[]>(64 << 10));
      if (sheet->optimize_tmpfile) std::setvbuf(sheet->optimize_tmpfile, buffers.back().get(), _IOFBF, 64 << 10);
      return sheet;
    };
    lxw_worksheet* data = addSheet("data");
    std::vector<lxw_worksheet*> plots;
    for (const Plot& plot : table.plots) plots.push_back(addSheet(plot.sheet.c_str()));
    for (size_t c = 0; c < table.columns.size(); ++c)
      worksheet_write_string(data, 0, static_cast<lxw_col_t>(c), table.columns[c].c_str(), nullptr);
    // In the converter's order: the data rows, and each point the charts
    // draw once it is chosen.
    std::vector<size_t> next(table.plots.size(), 0);
    for (size_t r = 0; r <= table.rows.size(); ++r) {
      for (size_t k = 0; k < table.plots.size(); ++k)
        for (const Plot& plot = table.plots[k]; next[k] < plot.rows.size() && plot.after[next[k]] == r; ++next[k])
          writeRow(plots[k], static_cast<lxw_row_t>(next[k] + 1), plot.rows[next[k]], date);
      if (r < table.rows.size()) writeRow(data, static_cast<lxw_row_t>(r + 1), table.rows[r], date);
    }
    if (lxw_error e = workbook_close(book)) {
      std::fprintf(stderr, "xlsx_floor: %s\n", lxw_strerror(e));
      return 1;
    }
    std::printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
  } catch (const Error& e) {
    std::fprintf(stderr, "xlsx_floor: %s\n", e.message().c_str());
    return 1;
  }
}
