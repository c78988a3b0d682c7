#include "xlsx/recording_sheet.h"

#include <algorithm>

#include "text.h"
#include "xlsx/cell_text.h"
#include "xlsx/quality_sheets.h"

namespace tlq {

namespace {

// "UTC+01:00, UTC+02:00 (shown in UTC)".
std::string zonesText(const TimeStampZones& zones) {
  std::string text;
  for (int offset : zones.offsets()) text += (text.empty() ? "" : ", ") + zoneName(offset);
  if (zones.offsets().size() > 1) text += " (shown in UTC)";
  return text;
}

// The row "salvaged" of a recording whose text broke: how many entries came
// before the fault, and the fault.
void salvagedRow(Book& book, lxw_worksheet* sheet, lxw_row_t& row, const RecordingFacts& facts) {
  if (facts.salvaged.empty()) return;
  book.check(worksheet_write_string(sheet, row, 0, "salvaged", book.bold()));
  book.writeText(sheet, 1, {"recording", row++, "salvaged"}, utf8Text(facts.salvaged));
}

}  // namespace

void writeRecordingSheet(Book& book, const RecordingFacts& facts, const RowFacts& rows) {
  lxw_worksheet* sheet = book.addSheet("recording");
  lxw_row_t row = 0;
  auto label = [&](const char* text) { book.check(worksheet_write_string(sheet, row, 0, text, book.bold())); };
  auto number = [&](const char* name, double value) {
    label(name);
    book.check(worksheet_write_number(sheet, row++, 1, value, nullptr));
  };
  auto text = [&](const char* name, const std::string& value) {
    label(name);
    book.writeText(sheet, 1, {"recording", row++, name}, value);
  };
  auto stamp = [&](const char* name, const StampCell& value) {
    if (!value.serial) return text(name, value.text);
    label(name);
    book.check(worksheet_write_number(sheet, row++, 1, *value.serial, book.dateTime()));
  };
  // A name that is not UTF-8 as the summary shows it.
  const std::string path = utf8Text(facts.path);
  text("recording", path);
  number("size (bytes)", static_cast<double>(facts.size));
  label("modified (UTC)");
  book.check(worksheet_write_number(sheet, row++, 1, serialOfUnixNanoseconds(facts.modifiedNanoseconds),
                                    book.dateTime()));
  number("samples", static_cast<double>(facts.samples));
  number("data lines", static_cast<double>(rows.lines));
  number("dropped (failed CRC)", static_cast<double>(facts.dropped));
  salvagedRow(book, sheet, row, facts);
  stamp("first time stamp", rows.first.value_or(StampCell()));
  stamp("last time stamp", rows.last);
  if (rows.zones && !rows.zones->offsets().empty()) text("time stamp zones", zonesText(*rows.zones));
  if (rows.zones && rows.zones->zonedAsText() > 0)
    number("zoned stamps kept as text", static_cast<double>(rows.zones->zonedAsText()));
  text("program", facts.program);
  text("version", facts.version);
  if (facts.quality) {
    static const TimeStampZones kNoZones;
    static const std::vector<std::string> kNoNames;
    writeQualitySection(book, sheet, row + 1, *facts.quality, rows.names ? *rows.names : kNoNames,
                        rows.zones ? *rows.zones : kNoZones);
  }
  // The longest label, "stamps not after the one before", in full.
  book.check(worksheet_set_column(sheet, 0, 0, facts.quality ? 31 : 22, nullptr));
  book.check(worksheet_set_column(
      sheet, 1, 1, std::clamp(static_cast<double>(characterCount(path)) + 2, 25.0, kMaxWidth), nullptr));
}

}  // namespace tlq
