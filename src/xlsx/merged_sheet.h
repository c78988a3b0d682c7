// The sheet "recording" of a merge's workbook: a row for each recording
// merged, in merge order, under a header row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "table/date_time.h"
#include "xlsx/book.h"
#include "xlsx/recording_sheet.h"

namespace tlq {

// What one recording gave the merge.
struct MergedSheetRow {
  std::string recording;         // its field "recording"
  std::optional<StampCell> first;  // the time stamps of its first and last line written
  std::optional<StampCell> last;
  uint64_t lines = 0;     // data lines written
  uint64_t repeated = 0;  // lines left out as an earlier recording's
  uint64_t dropped = 0;   // entries left out for a failed CRC
};

// The stamps are date-times in the zone the data sheets show (`zones`),
// where they are ones.
void writeMergedSheet(Book& book, const std::vector<MergedSheetRow>& rows, const TimeStampZones& zones);

}  // namespace tlq
