// What the sheets of one workbook share: the library's workbook, its
// formats, and how a failure of the library is told. For the writer's own
// parts (workbook.cpp, data_sheets.cpp, charts.cpp, recording_sheet.cpp).
#pragma once

#include <xlsxwriter.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tlq {

inline constexpr const char* kDateTimeFormat = "yyyy-mm-dd hh:mm:ss.000";
// The widest column made to fit (a raw frame is long).
inline constexpr double kMaxWidth = 60;

class Book {
 public:
  Book(const std::string& file, const std::string& shown, const std::string& tmpdir);
  // Gives up a workbook that was not closed: no file is written.
  ~Book();
  Book(const Book&) = delete;
  Book& operator=(const Book&) = delete;

  lxw_workbook* workbook() const { return workbook_; }
  lxw_format* bold() const { return bold_; }
  lxw_format* dateTime() const { return dateTime_; }
  const std::string& shown() const { return shown_; }

  // Raises IoError "cannot write: " + the workbook's name, with the
  // library's reason, for anything but LXW_NO_ERROR.
  void check(lxw_error error) const;
  lxw_worksheet* addSheet(const std::string& name);

  // Where a cell is, for a message about it.
  struct Place {
    const char* sheet;
    lxw_row_t row;
    const char* column;
  };
  // Writes a text cell (none for an empty text); returns its width in
  // characters. Raises ValueError naming the place and the limit for a text
  // longer than a cell holds (in UTF-16 units, as a spreadsheet counts),
  // and for one within it that the library refuses for its escapes.
  size_t writeText(lxw_worksheet* sheet, lxw_col_t col, const Place& place, std::string_view text);

  // Puts each sheet's last row, which the library holds back, into its
  // temporary file, and raises IoError "cannot write: " + the workbook's
  // name with the system's reason when a sheet's temporary file could not be
  // written (a full disk): the library does not look.
  void checkSheetFiles() const;

  // What the library's last step will take: it reads the sheets' rows back
  // and compresses them into the file, telling nothing meanwhile.
  struct Closing {
    uint64_t bytes = 0;   // the file's size, about, once written
    double seconds = 0;   // about, measured on a sample of the rows
  };

  // Writes the file and frees the workbook; raises as check() does, with the
  // system's reason where the system failed. The library reports success
  // for parts it could write only in part, so the file is read back: a
  // sheet's part that holds fewer bytes than its rows, or any other part
  // cut short, fails it too. Tells `closing`, if any, what that will take
  // before it starts.
  void close(const std::function<void(const Closing&)>& closing = {});

 private:
  Closing measureClosing() const;

  std::string file_, shown_, tmpdir_;
  lxw_workbook* workbook_ = nullptr;
  lxw_format *bold_ = nullptr, *dateTime_ = nullptr;
  std::string scratch_;
  // The sheets' temporary files' buffers, kept until the files are closed.
  static constexpr size_t kSheetBuffer = 64 << 10;
  // What the close needs on the disk beyond the largest sheet's rows: the
  // heads and ends of the sheets and the small parts, and the zip's own.
  static constexpr uint64_t kClosingRoom = 1 << 20;
  std::vector<std::unique_ptr<char[]>> buffers_;
};

}  // namespace tlq
