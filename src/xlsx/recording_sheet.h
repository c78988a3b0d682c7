// The sheet "recording": what the workbook was made of.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "table/date_time.h"
#include "xlsx/book.h"
#include "xlsx/workbook.h"

namespace tlq {

// A time stamp's cell: a date-time where it is one.
struct StampCell {
  std::string text;
  std::optional<double> serial;
};

// What the rows told.
struct RowFacts {
  uint64_t lines = 0;
  std::optional<StampCell> first;
  StampCell last;  // empty while there is none
  const TimeStampZones* zones = nullptr;
  const std::vector<std::string>* names = nullptr;  // the table's columns
};

// The facts, one a row, and below them the quality of the data where
// `facts` has it (writeQualitySection).
void writeRecordingSheet(Book& book, const RecordingFacts& facts, const RowFacts& rows);

}  // namespace tlq
