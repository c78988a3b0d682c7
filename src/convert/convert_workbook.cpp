#include "convert/convert_workbook.h"

#include <optional>

#include "convert/table_files.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "text.h"
#include "xlsx/workbook.h"

#ifndef TLQ_VERSION
#error "TLQ_VERSION is set by the build"
#endif

namespace tlq {

namespace {

// Data rows per sheet: TLQCONVERTER_SHEET_ROWS, a whole number from 1 up to
// what a sheet holds, lowers it (for tests of many sheets).
uint64_t sheetRows() {
  std::optional<std::string> text = getEnv("TLQCONVERTER_SHEET_ROWS");
  std::optional<uint64_t> n = text ? parseCount(*text) : std::nullopt;
  return n && *n <= kSheetRows ? *n : kSheetRows;
}

}  // namespace

WorkbookCounts writeWorkbook(const std::string& path, const RecordingTable& table, const ConversionControl& control,
                             TableFiles& files) {
  TLQ_OP("writeWorkbook");
  const std::string& shown = files.parts().front();
  PathInfo info = pathInfo(path);
  WorkbookSettings settings;
  settings.sheetRows = sheetRows();
  // The charts read one sheet; the samples bound the rows.
  settings.charts = table.recording().entries() <= settings.sheetRows;
  settings.created = unixNanoseconds(info.modified) / 1'000'000'000;
  TableWorkbook book = TLQ_AT(TableWorkbook(files.finishForWriter(), shown, table.columns(), settings));
  WorkbookCounts counts;
  // The workers wait for the writer most of the time, each with a piece
  // done: pieces of 256 KB keep a workbook's memory below the CSV's.
  ConversionControl pieces = control;
  pieces.pieceBytes = 256 << 10;
  TLQ_AT(table.convert(typedCsvFormat(table.columns()), pieces, [&](LineBlock& lines) {
    size_t from = 0;
    for (size_t end : lines.ends) {
      book.putLine(std::string_view(lines.text).substr(from, end - 2 - from));  // without "\r\n"
      from = end;
    }
    counts.dropped += lines.dropped;
  }));
  counts.lines = book.lines();
  RecordingFacts facts{path, info.size, unixNanoseconds(info.modified),
                       table.recording().entries(), counts.dropped, "tlqconverter", TLQ_VERSION};
  TLQ_AT(book.finish(facts));
  return counts;
}

std::string mainConvertWorkbook(const std::string& path) {
  TLQ_OP("mainConvertWorkbook");
  std::string xlsxPath = tablePathFor(path, "xlsx");
  RecordingTable table = TLQ_AT(RecordingTable(path, {}));
  TLQ_AT(refuseToOverwrite(table.recording(), xlsxPath));
  TableFiles files = TLQ_AT(TableFiles(xlsxPath, "", 0));
  TLQ_AT(writeWorkbook(path, table, {}, files));
  TLQ_AT(table.recording().requireUnreplaced());
  TLQ_AT(files.commit());
  return xlsxPath;
}

}  // namespace tlq
