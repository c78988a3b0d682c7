// The conversion of one recording into a workbook.
#pragma once

#include <cstdint>
#include <string>

#include "convert/convert.h"

namespace tlq {

class TableFiles;

// Writes the workbook of the recording at `path` beside it (the same path
// with the extension "xlsx"), whole or not at all, and returns that path.
std::string mainConvertWorkbook(const std::string& path);
// The same with `control` (progress, cancel), counting into `counts`.
std::string mainConvertWorkbook(const std::string& path, const ConversionControl& control, ConversionCounts* counts);

// Data rows per sheet: TLQCONVERTER_SHEET_ROWS, a whole number from 1 up to
// what a sheet holds, lowers it (for tests of many sheets).
uint64_t workbookSheetRows();

struct WorkbookCounts {
  uint64_t lines = 0;    // data rows
  uint64_t dropped = 0;  // entries left out for a failed CRC
  QualityFigures quality = {};
  uint64_t outside = 0;  // lines left out by the time window
};

// Converts the table of the recording at `path` into the workbook that
// `files` (made for one part) holds, ready to be committed.
WorkbookCounts writeWorkbook(const std::string& path, const RecordingTable& table, const ConversionControl& control,
                             TableFiles& files);

}  // namespace tlq
