// The floor of a workbook conversion, for the benchmarks: the library alone
// writing the cells a workbook of the recording holds. The table's lines are
// made and read into cells in memory first (not timed); then libxlsxwriter,
// in constant-memory mode, writes them, the data rows and the rows the
// charts read, and closes the workbook. Prints the seconds that took.
//
//   xlsx_floor REC OUT.xlsx

#include <xlsxwriter.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "convert/convert.h"
#include "csv/csv.h"
#include "error.h"
#include "xlsx/date_time.h"

namespace {

using namespace tlq;

struct Date {
  double serial;
};
using Cell = std::variant<std::monostate, double, std::string, Date>;

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows, plotRows;
};

// The cells as the converter makes them: numbers, texts, date-times in the
// first time stamp's zone, and the charts' values without -999.0.
Table readTable(const std::string& path) {
  RecordingTable recording(path, {});
  Table table;
  table.columns = recording.columns();
  std::vector<size_t> plotted;
  for (const char* name : {"inclino1_x", "inclino1_y", "inclino2_x", "inclino2_y", "elasto_a_um", "elasto_b_um",
                           "force_kg"})
    for (size_t c = 0; c < table.columns.size(); ++c)
      if (table.columns[c] == name) plotted.push_back(c);
  std::vector<TypedField> fields;
  std::optional<std::optional<int>> zone;
  recording.convert(typedCsvFormat(table.columns), {}, [&](LineBlock& lines) {
    size_t from = 0;
    for (size_t end : lines.ends) {
      readTypedLine(std::string_view(lines.text).substr(from, end - 2 - from), fields);
      from = end;
      std::vector<Cell>& row = table.rows.emplace_back(fields.size());
      std::vector<Cell>& plot = table.plotRows.emplace_back(2 + plotted.size());
      plot[0] = static_cast<double>(table.rows.size());
      for (size_t c = 0; c < fields.size(); ++c) {
        const TypedField& f = fields[c];
        if (f.kind == TypedField::Kind::text && c == 0 && !f.text.empty()) {
          std::optional<IsoDateTime> t = parseIsoDateTime(f.text);
          if (!zone) zone = t ? t->offsetMinutes : std::nullopt;
          if (t && t->offsetMinutes == *zone) {
            row[c] = plot[1] = Date{t->serial};
            continue;
          }
        }
        if (f.kind == TypedField::Kind::text) {
          row[c] = f.text;
        } else if (f.kind == TypedField::Kind::number) {
          double v = 0;
          std::from_chars(f.text.data(), f.text.data() + f.text.size(), v);
          row[c] = v;
        }
      }
      for (size_t k = 0; k < plotted.size(); ++k)
        if (const double* v = std::get_if<double>(&row[plotted[k]]); v && *v != -999.0) plot[2 + k] = *v;
    }
  });
  return table;
}

void writeRow(lxw_worksheet* sheet, lxw_row_t r, const std::vector<Cell>& row, lxw_format* date) {
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
    lxw_workbook* book = workbook_new_opt(argv[2], &options);
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd hh:mm:ss.000");
    lxw_worksheet* data = workbook_add_worksheet(book, "data");
    lxw_worksheet* plot = workbook_add_worksheet(book, "plot");
    for (size_t c = 0; c < table.columns.size(); ++c)
      worksheet_write_string(data, 0, static_cast<lxw_col_t>(c), table.columns[c].c_str(), nullptr);
    // In the converter's order: each data row, then the row the charts read.
    for (size_t r = 0; r < table.rows.size(); ++r) {
      writeRow(data, static_cast<lxw_row_t>(r + 1), table.rows[r], date);
      writeRow(plot, static_cast<lxw_row_t>(r + 1), table.plotRows[r], date);
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
