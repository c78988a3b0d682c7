#include "xlsx/merged_sheet.h"

#include <algorithm>

#include "text.h"
#include "xlsx/cell_text.h"

namespace tlq {

void writeMergedSheet(Book& book, const std::vector<MergedSheetRow>& rows, const TimeStampZones& zones) {
  lxw_worksheet* sheet = book.addSheet("recording");
  const std::string zone = zones.zone() ? " (" + zoneName(*zones.zone()) + ")" : "";
  const std::vector<std::string> header = {"recording",  "first time stamp" + zone, "last time stamp" + zone,
                                           "data lines", "repeated lines left out", "dropped (failed CRC)"};
  for (size_t c = 0; c < header.size(); ++c)
    book.check(worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), header[c].c_str(), book.bold()));
  size_t widest = header[0].size();
  lxw_row_t row = 0;
  for (const MergedSheetRow& r : rows) {
    ++row;
    // A name that is not UTF-8 as the summary shows it.
    const std::string name = utf8Text(r.recording);
    widest = std::max(widest, characterCount(name));
    book.writeText(sheet, 0, {"recording", row, "recording"}, name);
    auto stamp = [&](lxw_col_t col, const std::optional<StampCell>& value) {
      if (!value) return;
      if (value->serial)
        book.check(worksheet_write_number(sheet, row, col, *value->serial, book.dateTime()));
      else
        book.writeText(sheet, col, {"recording", row, header[col].c_str()}, value->text);
    };
    stamp(1, r.first);
    stamp(2, r.last);
    book.check(worksheet_write_number(sheet, row, 3, static_cast<double>(r.lines), nullptr));
    book.check(worksheet_write_number(sheet, row, 4, static_cast<double>(r.repeated), nullptr));
    book.check(worksheet_write_number(sheet, row, 5, static_cast<double>(r.dropped), nullptr));
  }
  worksheet_freeze_panes(sheet, 1, 0);
  book.check(worksheet_set_column(sheet, 0, 0, std::clamp(static_cast<double>(widest) + 2, 12.0, kMaxWidth), nullptr));
  book.check(worksheet_set_column(sheet, 1, 2, 25, nullptr));
  book.check(worksheet_set_column(sheet, 3, 5, 24, nullptr));
}

}  // namespace tlq
