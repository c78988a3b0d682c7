#include "xlsx/quality_sheets.h"

#include <optional>

#include "table/columns.h"

namespace tlq {

namespace {

// A stamp's cell: a date-time where the data sheet has one, else its text.
void writeStamp(Book& book, lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const Book::Place& place,
                const IsoDateTime& time, const TimeStampZones& zones) {
  if (std::optional<double> serial = zones.serialOf(time))
    book.check(worksheet_write_number(sheet, row, col, *serial, book.dateTime()));
  else
    book.writeText(sheet, col, place, isoText(time));
}

}  // namespace

void writeQualitySection(Book& book, lxw_worksheet* sheet, lxw_row_t row, const QualityFigures& quality,
                         const std::vector<std::string>& names, const TimeStampZones& zones) {
  auto label = [&](const char* text) { book.check(worksheet_write_string(sheet, row, 0, text, book.bold())); };
  auto number = [&](const char* name, std::optional<double> value) {
    label(name);
    if (value) book.check(worksheet_write_number(sheet, row, 1, *value, nullptr));
    ++row;
  };
  auto count = [&](const char* name, std::optional<uint64_t> value) {
    number(name, value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt);
  };
  label("quality");
  ++row;
  number("interval s", quality.intervalSeconds);
  const bool interval = quality.intervalSeconds.has_value();
  // As the log: no gap is measured without an interval.
  count("gaps", interval ? std::optional<uint64_t>(quality.gaps) : std::nullopt);
  count("samples missing", interval ? std::optional<uint64_t>(quality.samplesMissing) : std::nullopt);
  number("longest gap s", quality.longestGapSeconds);
  label("longest gap at");
  if (quality.longestGapSeconds) {
    if (std::optional<double> serial = zones.serialOf(quality.longestGapAt))
      book.check(worksheet_write_number(sheet, row, 1, *serial, book.dateTime()));
    else
      book.writeText(sheet, 1, {"recording", row, "longest gap at"}, quality.longestGapAt);
  }
  ++row;
  count("stamps not after the one before", quality.notAfter);
  count("first not after at line", quality.firstNotAfterLine);
  count("lines without a time stamp", quality.withoutStamp);
  for (size_t g = 0; g < kSensorGroups; ++g) {
    const std::string name = std::string("unreadable ") + sensorGroupName(static_cast<SensorGroup>(g));
    count(name.c_str(), quality.unreadable[g]);
  }
  ++row;  // the values' ranges below a row of their own
  label("column");
  const char* heads[] = {"least", "greatest", "mean"};
  for (lxw_col_t c = 0; c < 3; ++c) book.check(worksheet_write_string(sheet, row, 1 + c, heads[c], book.bold()));
  ++row;
  for (const ColumnRange& range : quality.columns) {
    book.writeText(sheet, 0, {"recording", row, "A"}, names.at(range.column));
    if (range.readings > 0) {
      const double values[] = {range.least, range.greatest, range.mean};
      for (lxw_col_t c = 0; c < 3; ++c) book.check(worksheet_write_number(sheet, row, 1 + c, values[c], nullptr));
    }
    ++row;
  }
  book.check(worksheet_set_column(sheet, 2, 3, 14, nullptr));
}

void writeGapsSheet(Book& book, const QualityFigures& quality, const TimeStampZones& zones) {
  lxw_worksheet* sheet = book.addSheet("gaps");
  const char* heads[] = {"from", "to", "seconds", "samples missing"};
  for (lxw_col_t c = 0; c < 4; ++c) book.check(worksheet_write_string(sheet, 0, c, heads[c], book.bold()));
  worksheet_freeze_panes(sheet, 1, 0);
  lxw_row_t row = 0;
  for (const QualityGap& gap : quality.gapList) {
    ++row;
    writeStamp(book, sheet, row, 0, {"gaps", row, "from"}, gap.from, zones);
    writeStamp(book, sheet, row, 1, {"gaps", row, "to"}, gap.to, zones);
    book.check(worksheet_write_number(sheet, row, 2, static_cast<double>(gap.nanoseconds) / 1e9, nullptr));
    book.check(worksheet_write_number(sheet, row, 3, static_cast<double>(gap.samplesMissing), nullptr));
  }
  if (quality.gapsNotListed > 0) {
    const std::string more = std::to_string(quality.gapsNotListed) +
                             (quality.gapsNotListed == 1 ? " more gap, not listed" : " more gaps, not listed");
    book.check(worksheet_write_string(sheet, row + 1, 0, more.c_str(), nullptr));
  }
  book.check(worksheet_set_column(sheet, 0, 1, 25, nullptr));
  book.check(worksheet_set_column(sheet, 2, 3, 16, nullptr));
}

}  // namespace tlq
