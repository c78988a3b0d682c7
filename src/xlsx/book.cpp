#include "xlsx/book.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "error.h"
#include "platform/file.h"
#include "platform/system.h"
#include "text.h"
#include "xlsx/cell_text.h"
#include "xlsx/zip_parts.h"

namespace tlq {

namespace {

// What the C library said of the last call that failed on this thread, if
// anything (the library's files are the C library's).
std::string errnoReason(int error) { return error ? std::generic_category().message(error) : std::string(); }

}  // namespace

Book::Book(const std::string& file, const std::string& shown, const std::string& tmpdir)
    : file_(file), shown_(shown), tmpdir_(tmpdir) {
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  // Beside the workbook, where its rename needs the room anyway, not in a
  // temporary folder that may be small or full.
  options.tmpdir = tmpdir_.empty() ? nullptr : tmpdir_.data();
  workbook_ = workbook_new_opt(file.c_str(), &options);
  if (!workbook_) {
    std::string reason = errnoReason(errno);
    throw IoError("cannot open: " + shown_).withReason(reason);
  }
  bold_ = workbook_add_format(workbook_);
  format_set_bold(bold_);
  dateTime_ = workbook_add_format(workbook_);
  format_set_num_format(dateTime_, kDateTimeFormat);
}

// The library frees a workbook given up but leaves its sheets' temporary
// files open (it closes them only when it writes the file).
Book::~Book() {
  if (!workbook_) return;
  lxw_worksheet* sheet = nullptr;
  LXW_FOREACH_WORKSHEET(sheet, workbook_) {
    if (sheet->optimize_tmpfile) std::fclose(sheet->optimize_tmpfile);
    sheet->optimize_tmpfile = sheet->file = nullptr;
  }
  lxw_workbook_free(workbook_);
}

void Book::check(lxw_error error) const {
  if (error != LXW_NO_ERROR) throw IoError("cannot write: " + shown_).withReason(lxw_strerror(error));
}

lxw_worksheet* Book::addSheet(const std::string& name) {
  errno = 0;
  lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.c_str());
  if (!sheet) {
    std::string reason = errnoReason(errno);  // its temporary file could not be made
    throw IoError("cannot write: " + shown_).withReason(reason);
  }
  // The sheet's rows go to its temporary file a few dozen bytes at a time,
  // and are read back from it whole: a buffer of 64 KB instead of the C
  // library's 4 KB saves more than half of the calls to the system (25,000
  // instead of 59,000 for a 20 MB recording, the workbook 2 to 3% sooner;
  // 256 KB gained nothing more).
  if (sheet->optimize_tmpfile) {
    buffers_.push_back(std::make_unique<char[]>(kSheetBuffer));
    std::setvbuf(sheet->optimize_tmpfile, buffers_.back().get(), _IOFBF, kSheetBuffer);
  }
  return sheet;
}

size_t Book::writeText(lxw_worksheet* sheet, lxw_col_t col, const Place& place, std::string_view text) {
  if (text.empty()) return 0;
  auto where = [&] {
    return "row " + std::to_string(place.row + 1) + " of sheet \"" + place.sheet + "\", column " + place.column +
           ": a text of ";
  };
  // The text's own length, as a spreadsheet counts it, decides whether it
  // fits a cell.
  TextLength length = cellText(text, scratch_);
  if (length.utf16 > kMaxCellText)
    throw ValueError(where() + std::to_string(length.utf16) + " characters does not fit a cell (at most " +
                     std::to_string(kMaxCellText) + "): " + shown_);
  lxw_error error = worksheet_write_string(sheet, place.row, col, scratch_.c_str(), nullptr);
  // The library counts the text as it is handed over, with the escapes of
  // the characters the XML cannot hold (NUL, U+FFFE, U+FFFF, a literal
  // escape's '_'), not those it makes itself: whichever of them made it too
  // long, the same failure.
  if (error == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED)
    throw ValueError(where() + std::to_string(length.utf16) + " characters takes " +
                     std::to_string(characterCount(scratch_)) +
                     " with the escapes of what a workbook cannot hold as it is, and a cell is written with at most " +
                     std::to_string(kMaxCellText) + ": " + shown_);
  check(error);
  return length.characters;
}

void Book::checkSheetFiles() const {
  lxw_worksheet* sheet = nullptr;
  LXW_FOREACH_WORKSHEET(sheet, workbook_) {
    std::FILE* file = sheet->optimize_tmpfile;
    if (!file) continue;
    errno = 0;
    // The row last written is held in memory until the next begins: the
    // library would write it at the close, unchecked (it does nothing for a
    // row written already).
    if (sheet->optimize_row) lxw_worksheet_write_single_row(sheet);
    if (std::fflush(file) != 0 || std::ferror(file)) {
      std::string reason = errnoReason(errno);
      throw IoError("cannot write: " + shown_).withReason(reason.empty() ? "a write to its temporary file failed" : reason);
    }
  }
}

// The sheets' rows as the library holds them, and a sample of them
// compressed as it will compress them (zlib's deflate at its default level,
// without a header, as its zip layer writes a member): the sample's rate and
// ratio for all of them. The library also copies every row into the
// sheet's XML before it compresses that: about a seventh as long again as
// the compression alone (measured on recordings of 5 to 36 MB: the whole
// step took 1.13 to 1.19 times the rate of a 1 MB sample). A quarter of
// that sample costs a quarter of the time and errs, if at all, long: on 20
// and 60 MB recordings it foretold 1.7 to 1.9 s for 1.7 s, and 5.1 to 5.4 s
// for 5.1 s.
Book::Closing Book::measureClosing() const {
  constexpr size_t kSample = 256 << 10;
  uint64_t rows = 0;
  std::FILE* largest = nullptr;
  uint64_t largestSize = 0;
  lxw_worksheet* sheet = nullptr;
  LXW_FOREACH_WORKSHEET(sheet, workbook_) {
    if (!sheet->optimize_tmpfile) continue;
    uint64_t size = streamSize(sheet->optimize_tmpfile).value_or(0);
    rows += size;
    if (size > largestSize) {
      largest = sheet->optimize_tmpfile;
      largestSize = size;
    }
  }
  Closing closing{rows / 4 + 64 * 1024, 0.05};  // without a sample
  if (!largest) return closing;
  std::string sample(static_cast<size_t>(std::min<uint64_t>(largestSize, kSample)), '\0');
  std::rewind(largest);
  size_t got = std::fread(sample.data(), 1, sample.size(), largest);
  std::fseek(largest, 0, SEEK_END);  // where the library writes on
  if (got == 0) return closing;
  const auto start = std::chrono::steady_clock::now();
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return closing;
  std::string out(deflateBound(&z, static_cast<uLong>(got)), '\0');
  z.next_in = reinterpret_cast<Bytef*>(sample.data());
  z.avail_in = static_cast<uInt>(got);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  const double compressed = static_cast<double>(z.total_out);
  deflateEnd(&z);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double share = static_cast<double>(rows) / static_cast<double>(got);
  closing.bytes = static_cast<uint64_t>(compressed * share) + 64 * 1024;
  closing.seconds = seconds * share * 1.15;
  return closing;
}

void Book::close(const std::function<void(const Closing&)>& closing) {
  TLQ_OP("closeWorkbook");
  TLQ_AT(checkSheetFiles());
  if (closing) closing(measureClosing());
  // The library closes a sheet's temporary file when it copies its rows
  // into the workbook: a sheet without a cell (the charts' own) would keep
  // it open, and under Windows on the disk, as long as the process runs.
  lxw_worksheet* sheet = nullptr;
  LXW_FOREACH_WORKSHEET(sheet, workbook_) {
    if (sheet->dim_rowmin != LXW_ROW_MAX || !sheet->optimize_tmpfile) continue;
    std::fclose(sheet->optimize_tmpfile);
    sheet->optimize_tmpfile = sheet->file = nullptr;
  }
  // What each sheet's part must hold: the rows of its file, whole now.
  // The library names the parts of its sheets by their order.
  std::vector<SheetRows> sheets;
  int index = 0;
  LXW_FOREACH_WORKSHEET(sheet, workbook_) {
    ++index;
    if (!sheet->optimize_tmpfile) continue;
    std::optional<uint64_t> rows = streamSize(sheet->optimize_tmpfile);
    if (!rows) throw IoError("cannot write: " + shown_).withReason(errnoReason(errno));
    sheets.push_back({"xl/worksheets/sheet" + std::to_string(index) + ".xml", *rows});
  }
  // The library copies each sheet's rows into another temporary file, and
  // only then frees the rows' own: the largest sheet's rows once more (and
  // their head and the small parts) must be free on the disk, or a part is
  // cut short. Asking the system for that space first gives its own reason
  // at once (the parts are checked afterwards all the same: another
  // program can take the space meanwhile).
  uint64_t largest = 0;
  for (const SheetRows& s : sheets) largest = std::max(largest, s.rows);
  if (!tmpdir_.empty())
    if (std::optional<std::string> why = spaceFor(tmpdir_, largest + kClosingRoom))
      throw IoError("cannot write: " + shown_).withReason(*why);
  lxw_workbook* workbook = std::exchange(workbook_, nullptr);
  errno = 0;
  lxw_error error = workbook_close(workbook);  // frees it
  if (error == LXW_NO_ERROR) {
    // The last failure the system told the library of, if any (it went on
    // after it): a full disk, where a part was cut short.
    std::string reason = errnoReason(errno);
    std::optional<std::string> cut = cutPart(file_, sheets);
    if (cut) throw IoError("cannot write: " + shown_).withReason(reason.empty() ? *cut : reason);
    return;
  }
  // What the system said to the library: making a file, or writing one
  // (the zip layer's ZIP_ERRNO).
  std::string reason = error == LXW_ERROR_CREATING_XLSX_FILE || error == LXW_ERROR_CREATING_TMPFILE
                           ? lastSystemError()
                           : errnoReason(errno);
  throw IoError("cannot write: " + shown_).withReason(reason.empty() ? lxw_strerror(error) : reason);
}

}  // namespace tlq
