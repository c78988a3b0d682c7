// A table as a workbook: typed cells on sheets of the data, a sheet about
// the recording, and charts of the measurement.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "table/columns.h"
#include "table/date_time.h"
#include "table/quality.h"
#include "table/rows.h"

namespace tlq {

class Book;

// Rows a sheet holds below its header row.
inline constexpr uint64_t kSheetRows = 1'048'575;

struct WorkbookSettings {
  uint64_t sheetRows = kSheetRows;  // data rows per sheet; the rest go on "data 2", "data 3", ...
  uint64_t samples = 0;            // the recording's entries: at most as many data lines
  int64_t created = 0;             // the document's creation time, seconds since 1970 (UTC)
  // Where the library keeps its temporary files (they take some times the
  // table's size); "" for the system's temporary folder.
  std::string tmpdir;
  // The time stamps' zones, which the rows' date-times are in (the header
  // names the zone).
  TimeStampZones zones;
  // Text columns ahead of the table's (a merge's "recording"): the rows
  // handed over hold them first.
  std::vector<std::string> leading;
};

// What the "recording" sheet says beyond what the rows tell.
struct RecordingFacts {
  std::string path;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;  // since 1970-01-01 UTC
  uint64_t samples = 0;
  uint64_t dropped = 0;  // entries left out for a failed CRC
  std::string program, version;
  // The quality of the rows: a section of the sheet "recording", the sheet
  // "gaps", and the charts' line broken at each gap listed.
  std::optional<QualityFigures> quality = std::nullopt;
  std::string salvaged = {};  // what a recording cut short gave (salvageText); "" for a whole one
};

class TableWorkbook {
 public:
  // A workbook to be written to `file` once finished, with the table's
  // columns. Raises IoError "cannot open: " + `shownPath` when the library
  // cannot start it (its temporary files).
  TableWorkbook(const std::string& file, const std::string& shownPath, const TableColumns& columns,
                const WorkbookSettings& settings);
  // Discards a workbook that was not finished: no file is written.
  ~TableWorkbook();
  TableWorkbook(const TableWorkbook&) = delete;
  TableWorkbook& operator=(const TableWorkbook&) = delete;

  // Takes the next rows (made with the columns and the settings' zones).
  void put(const RowBlock& rows);

  // Writes the file. Raises IoError "cannot write: " + `shownPath` with the
  // system's or the library's reason; the workbook is discarded either way.
  // Before the library's last step, which reads the rows back and compresses
  // them into the file telling nothing meanwhile, `closing` learns about how
  // large the file will be and how long that will take.
  void finish(const RecordingFacts& facts,
              const std::function<void(uint64_t bytes, double seconds)>& closing = {});

  // The same with the sheet "recording" written by `recordingSheet` in
  // place of the one about a single recording (a merge's list).
  void finishWithSheet(const std::function<void(Book& book)>& recordingSheet,
                       const std::function<void(uint64_t bytes, double seconds)>& closing = {});

  uint64_t lines() const;

 private:
  class Writer;
  std::unique_ptr<Writer> writer_;
};

}  // namespace tlq
