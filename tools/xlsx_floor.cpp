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

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<FloorCell>> rows, plotRows;
  std::vector<size_t> plotAfter;  // per plot row: the data rows written before it
};

// The cells as the converter makes them, and the charts' points as it
// chooses them (each written once the next is known).
Table readTable(const std::string& path) {
  RecordingTable recording(path, {});
  Table table;
  table.columns = recording.columns();
  const TableColumns& columns = recording.tableColumns();
  std::vector<size_t> plotted;
  for (size_t c = 0; c < columns.size(); ++c)
    if (columnInfo(columns[c]).chart != Chart::none) plotted.push_back(c);
  TimeStampZones zones = recording.timeStampZones({});
  PlotRows choose(plotted.size(), plotBucketLines(recording.recording().entries()));
  std::optional<PlotPoint> before, pending;
  auto plotRow = [&](const PlotPoint& p, const PlotPoint* next) {
    std::vector<FloorCell>& row = table.plotRows.emplace_back(2 + 2 * plotted.size());
    table.plotAfter.push_back(table.rows.size());
    row[0] = static_cast<double>(p.line);
    if (!std::isnan(p.time)) row[1] = Date{p.time};
    for (size_t k = 0; k < plotted.size(); ++k) {
      if (std::isnan(p.values[k])) continue;
      row[2 + k] = p.values[k];
      bool alone = !(before && !std::isnan(before->values[k])) && !(next && !std::isnan(next->values[k]));
      if (alone) row[2 + plotted.size() + k] = p.values[k];
    }
  };
  auto take = [&](const PlotPoint& p) {
    if (pending) plotRow(*pending, &p);
    before = std::move(pending);
    pending = p;
  };
  std::string escaped;
  recording.convertRows(&zones, {}, [&](RowBlock& rows) {
    for (size_t r = 0; r < rows.rows(); ++r) {
      std::vector<FloorCell>& row = table.rows.emplace_back(rows.columns());
      PlotPoint point;
      point.line = table.rows.size();
      for (size_t c = 0; c < rows.columns(); ++c) {
        const Cell& cell = rows.cell(r, c);
        if (cell.kind == CellKind::number && std::isfinite(cell.number)) {
          row[c] = cell.number;
        } else if (cell.kind == CellKind::text && cell.size > 0) {
          cellText(rows.textOf(cell), escaped);
          row[c] = escaped;
        } else if (cell.kind == CellKind::dateTime) {
          row[c] = Date{cell.number};
          point.time = cell.number;
        }
      }
      for (size_t k = 0; k < plotted.size(); ++k)
        if (const double* v = std::get_if<double>(&row[plotted[k]]); v && *v != -999.0) point.values[k] = *v;
      if (!zones.anyDateTime() || !std::isnan(point.time)) choose.add(point, take);
    }
  });
  choose.finish(take);
  if (pending) plotRow(*pending, nullptr);
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
    lxw_worksheet* data = workbook_add_worksheet(book, "data");
    lxw_worksheet* plot = workbook_add_worksheet(book, "plot");
    for (size_t c = 0; c < table.columns.size(); ++c)
      worksheet_write_string(data, 0, static_cast<lxw_col_t>(c), table.columns[c].c_str(), nullptr);
    // In the converter's order: the data rows, and each point the charts
    // draw once it is chosen.
    size_t p = 0;
    for (size_t r = 0; r <= table.rows.size(); ++r) {
      for (; p < table.plotRows.size() && table.plotAfter[p] == r; ++p)
        writeRow(plot, static_cast<lxw_row_t>(p + 1), table.plotRows[p], date);
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
