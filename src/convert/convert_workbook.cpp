#include "convert/convert_workbook.h"

#include <optional>

#include "batch/sweep.h"
#include "batch/table_files.h"
#include "batch/table_proof.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "text.h"
#include "xlsx/workbook.h"

#ifndef TLQ_VERSION
#error "TLQ_VERSION is set by the build"
#endif

namespace tlq {

uint64_t workbookSheetRows() {
  std::optional<std::string> text = getEnv("TLQCONVERTER_SHEET_ROWS");
  std::optional<uint64_t> n = text ? parseCount(*text) : std::nullopt;
  return n && *n <= kSheetRows ? *n : kSheetRows;
}

WorkbookCounts writeWorkbook(const std::string& path, const RecordingTable& table, const ConversionControl& control,
                             TableFiles& files) {
  TLQ_OP("writeWorkbook");
  const std::string& shown = files.parts().front();
  PathInfo info = pathInfo(path);
  WorkbookSettings settings;
  settings.sheetRows = workbookSheetRows();
  settings.samples = table.recording().entries();
  settings.created = unixNanoseconds(info.modified) / 1'000'000'000;
  // The zones of all the time stamps decide those of the first row.
  settings.zones = TLQ_AT(table.timeStampZones(control));
  std::string file = files.finishForWriter();
  // Gone with the workbook, before the caller puts it in place.
  LibraryFolder library(file);
  settings.tmpdir = library.path();
  TableWorkbook book = TLQ_AT(TableWorkbook(file, shown, table.tableColumns(), settings));
  WorkbookCounts counts;
  // The workers wait for the writer most of the time, each with a piece
  // done: pieces of 128 KB keep a workbook's memory below the CSV's.
  ConversionControl pieces = control;
  pieces.pieceBytes = 128 << 10;
  TLQ_AT(table.convertRows(&settings.zones, pieces, [&](RowBlock& rows) {
    book.put(rows);
    counts.dropped += rows.dropped;
    counts.outside += rows.outside;
  }));
  counts.lines = book.lines();
  counts.quality = table.quality().figures(control.intervalNanoseconds);
  // To the millisecond the sheet shows: Windows keeps a file's times to
  // 100 ns, Linux to the nanosecond, and the same file must give the same
  // workbook on both.
  int64_t modified = unixNanoseconds(info.modified);
  modified -= (modified % 1'000'000 + 1'000'000) % 1'000'000;
  RecordingFacts facts{path, info.size, modified, table.recording().entries(), counts.dropped,
                       "tlqconverter", TLQ_VERSION, counts.quality};
  if (const std::optional<Salvage>& salvaged = table.recording().salvaged()) facts.salvaged = salvageText(*salvaged);
  std::function<void(uint64_t, double)> closing;
  if (FinishingWork* finishing = control.finishing)
    closing = [&file, finishing](uint64_t bytes, double seconds) { finishing->start(file, bytes, seconds); };
  TLQ_AT(book.finish(facts, closing));
  return counts;
}

std::string mainConvertWorkbook(const std::string& path) { return mainConvertWorkbook(path, {}, nullptr); }

std::string mainConvertWorkbook(const std::string& path, const ConversionControl& control, ConversionCounts* counts) {
  TLQ_OP("mainConvertWorkbook");
  std::string xlsxPath = tablePathFor(path, "xlsx");
  RecordingTable table = TLQ_AT(RecordingTable(path, control));
  TLQ_AT(refuseToOverwrite(table.recording(), xlsxPath));
  TLQ_AT(requireReplaceable(xlsxPath));  // at once, not after the work
  TableFiles files = TLQ_AT(TableFiles(xlsxPath, "", 0));
  WorkbookCounts made = TLQ_AT(writeWorkbook(path, table, control, files));
  TLQ_AT(table.recording().requireUnreplaced());
  const PathInfo read = pathInfo(path);
  TLQ_AT(files.commit());
  // --update takes it for whole; a window's or a salvaged recording's is not
  if ((!control.window || !control.window->active()) && !table.recording().salvaged())
    stampCommit(files.parts(), {read.modified, read.size, 0, 0, 0, true});
  if (counts)
    *counts = {table.recording().entries(), made.lines, made.dropped, made.outside, files.swept(), made.quality,
               table.recording().salvaged()};
  return xlsxPath;
}

}  // namespace tlq
