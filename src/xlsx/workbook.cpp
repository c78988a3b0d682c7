#include "xlsx/workbook.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "csv/csv.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "xlsx/date_time.h"

namespace tlq {

namespace {

// A reading the instrument did not give: left out of the charts.
constexpr double kNoReading = -999.0;
// Lines held back, at most, until a time stamp says which zone the header
// names.
constexpr size_t kHeldLines = 1000;
// The widest column made to fit (a raw frame is long).
constexpr double kMaxWidth = 60;
constexpr int kMaxCellText = 32767;
constexpr const char* kDateTimeFormat = "yyyy-mm-dd hh:mm:ss.000";

struct ChartGroup {
  const char* title;
  const char* axis;
  const char* columns[2];
};
constexpr ChartGroup kChartGroups[] = {
    {"Inclinometer 1", "angle (\u00b0)", {"inclino1_x", "inclino1_y"}},
    {"Inclinometer 2", "angle (\u00b0)", {"inclino2_x", "inclino2_y"}},
    {"Elastometer", "displacement (\u00b5m)", {"elasto_a_um", "elasto_b_um"}},
    {"Force", "force (kg)", {"force_kg", nullptr}},
};

// Columns of the hidden sheet the charts read: the line's number, its time
// stamp where it is a date-time, then the plotted values.
constexpr lxw_col_t kPlotLine = 0, kPlotTime = 1, kPlotFirstValue = 2;

size_t displayLength(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// "_xHHHH_" at `i`: how the workbook format writes a character by its code.
bool escapeAt(const std::string& text, size_t i) {
  return i + 7 <= text.size() && text[i] == '_' && text[i + 1] == 'x' &&
         std::all_of(text.begin() + i + 2, text.begin() + i + 6, isHex) && text[i + 6] == '_';
}

// The text as a cell holds it. A text that holds such an escape literally
// has its '_' escaped, so that a reader does not take it for a character,
// and a NUL (where the library's strings end) is written as its escape. The
// library escapes the other control characters itself.
const char* cellText(const std::string& text, std::string& scratch) {
  bool plain = text.find('\0') == std::string::npos;
  for (size_t at = text.find("_x"); plain && at != std::string::npos; at = text.find("_x", at + 1))
    plain = !escapeAt(text, at);
  if (plain) return text.c_str();
  scratch.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\0')
      scratch += "_x0000_";
    else if (escapeAt(text, i))
      scratch += "_x005F_";
    else
      scratch += text[i];
  }
  return scratch.c_str();
}

std::string sheetName(size_t index) { return index == 0 ? "data" : "data " + std::to_string(index + 1); }

}  // namespace

class TableWorkbook::Writer {
 public:
  Writer(const std::string& file, const std::string& shownPath, std::vector<std::string> columns,
         const WorkbookSettings& settings)
      : shown_(shownPath), settings_(settings), columns_(std::move(columns)) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    std::string folder = folderOf(file);  // its temporary files beside the workbook's (it keeps a copy)
    if (folder.empty()) folder = ".";
    options.tmpdir = folder.data();
    book_ = workbook_new_opt(file.c_str(), &options);
    if (!book_) throw IoError("cannot open: " + shown_);
    bold_ = workbook_add_format(book_);
    format_set_bold(bold_);
    dateTime_ = workbook_add_format(book_);
    format_set_num_format(dateTime_, kDateTimeFormat);
    auto timestamp = std::find(columns_.begin(), columns_.end(), "timestamp");
    timestampColumn_ = timestamp == columns_.end() ? kNone : static_cast<size_t>(timestamp - columns_.begin());
    if (settings_.charts) {
      for (const ChartGroup& group : kChartGroups)
        for (const char* name : group.columns) {
          auto it = name ? std::find(columns_.begin(), columns_.end(), name) : columns_.end();
          if (it == columns_.end()) continue;
          plotted_.push_back({&group, static_cast<size_t>(it - columns_.begin()),
                              static_cast<lxw_col_t>(kPlotFirstValue + plotted_.size()), false});
        }
    }
  }

  // A workbook given up: the library frees it but leaves its sheets'
  // temporary files open (it closes them only when it writes the file).
  ~Writer() {
    if (!book_) return;
    lxw_worksheet* sheet = nullptr;
    LXW_FOREACH_WORKSHEET(sheet, book_) {
      if (sheet->optimize_tmpfile) std::fclose(sheet->optimize_tmpfile);
      sheet->optimize_tmpfile = sheet->file = nullptr;
    }
    lxw_workbook_free(book_);
  }

  uint64_t lines() const { return lines_; }

  void putLine(std::string_view line) {
    if (!zoneDecided_) {
      holdUntilTheZoneIsKnown(line);
      return;
    }
    writeLine(line);
  }

  void finish(const RecordingFacts& facts) {
    TLQ_OP("finishWorkbook");
    if (!zoneDecided_) decideZone(std::nullopt);
    if (!sheet_) startSheet();
    endSheet();
    writeRecordingSheet(facts);
    if (plot_ && lines_ > 0) writeCharts();
    lxw_doc_properties properties{};
    properties.created = static_cast<time_t>(settings_.created);
    check(workbook_set_properties(book_, &properties));
    lxw_workbook* book = std::exchange(book_, nullptr);
    lxw_error error = workbook_close(book);  // frees it
    if (error == LXW_ERROR_CREATING_XLSX_FILE || error == LXW_ERROR_CREATING_TMPFILE) {
      std::string reason = lastSystemError();  // what the system said to the library
      throw IoError("cannot write: " + shown_).withReason(reason);
    }
    check(error);
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  struct Plotted {
    const ChartGroup* group;  // the chart it is drawn in
    size_t column;           // in the table
    lxw_col_t plotColumn;    // on the hidden sheet
    bool seen;               // a reading is plotted
  };

  // A time stamp's cell: a date-time where it is one in the header's zone.
  struct Stamp {
    std::string text;
    std::optional<double> serial;
  };

  void check(lxw_error error) const {
    if (error != LXW_NO_ERROR) throw IoError("cannot write: " + shown_).withReason(lxw_strerror(error));
  }

  void holdUntilTheZoneIsKnown(std::string_view line) {
    readTypedLine(line, fields_);
    if (timestampColumn_ < fields_.size() && fields_[timestampColumn_].kind == TypedField::Kind::text &&
        !fields_[timestampColumn_].text.empty()) {
      std::optional<IsoDateTime> stamp = parseIsoDateTime(fields_[timestampColumn_].text);
      decideZone(stamp ? stamp->offsetMinutes : std::nullopt);
      writeLine(line);
      return;
    }
    held_.emplace_back(line);
    if (held_.size() == kHeldLines) decideZone(std::nullopt);
  }

  void decideZone(std::optional<int> zone) {
    zone_ = zone;
    zoneDecided_ = true;
    std::vector<std::string> held = std::move(held_);
    for (const std::string& line : held) writeLine(line);
  }

  std::string header(size_t column) const {
    if (column == timestampColumn_ && zone_) return columns_[column] + " (" + zoneName(*zone_) + ")";
    return columns_[column];
  }

  void startSheet() {
    std::string name = sheetName(sheets_);
    sheet_ = workbook_add_worksheet(book_, name.c_str());
    if (!sheet_) throw IoError("cannot open: " + shown_);
    if (sheets_ == 0 && !plotted_.empty()) {
      plot_ = workbook_add_worksheet(book_, "plot");
      if (!plot_) throw IoError("cannot open: " + shown_);
      worksheet_hide(plot_);
    }
    ++sheets_;
    row_ = 0;
    widths_.assign(columns_.size(), 0);
    for (size_t c = 0; c < columns_.size(); ++c) {
      std::string name = header(c);
      check(worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(c), name.c_str(), bold_));
      widths_[c] = static_cast<double>(displayLength(name)) + 3;  // room for the filter's button
    }
    worksheet_freeze_panes(sheet_, 1, 0);
  }

  void endSheet() {
    lxw_col_t last = static_cast<lxw_col_t>(columns_.size() - 1);
    check(worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(row_), last));
    for (size_t c = 0; c < columns_.size(); ++c)
      check(worksheet_set_column(sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                 std::min(widths_[c] + 1, kMaxWidth), nullptr));
  }

  void fit(size_t column, size_t length) { widths_[column] = std::max(widths_[column], static_cast<double>(length)); }

  // Writes a text cell (none for an empty text); returns its length in
  // characters.
  size_t writeText(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const std::string& text) {
    if (text.empty()) return 0;
    size_t length = displayLength(text);
    if (length > kMaxCellText)
      throw ValueError("a text of " + std::to_string(length) + " characters does not fit a cell (at most " +
                       std::to_string(kMaxCellText) + "): " + shown_);
    check(worksheet_write_string(sheet, row, col, cellText(text, scratch_), nullptr));
    return length;
  }

  // A time stamp's day number where it is a date-time in the header's zone.
  std::optional<double> serialOf(const TypedField& field) const {
    if (field.kind != TypedField::Kind::text) return std::nullopt;
    std::optional<IsoDateTime> time = parseIsoDateTime(field.text);
    if (!time || time->offsetMinutes != zone_) return std::nullopt;
    return time->serial;
  }

  // Writes a time stamp's cell; returns its width in characters.
  size_t writeStamp(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const std::string& text,
                    std::optional<double> serial) {
    if (!serial) return writeText(sheet, row, col, text);
    check(worksheet_write_number(sheet, row, col, *serial, dateTime_));
    return 23;  // as the format shows it
  }

  void writeLine(std::string_view line) {
    if (!sheet_ || row_ == settings_.sheetRows) {
      if (sheet_) endSheet();
      startSheet();
    }
    const lxw_row_t row = static_cast<lxw_row_t>(++row_);
    ++lines_;
    readTypedLine(line, fields_);
    values_.assign(columns_.size(), std::nullopt);
    std::optional<double> serial;
    for (size_t c = 0; c < fields_.size() && c < columns_.size(); ++c) {
      const TypedField& field = fields_[c];
      const lxw_col_t col = static_cast<lxw_col_t>(c);
      if (c == timestampColumn_) {
        serial = serialOf(field);
        if (!field.text.empty()) {  // for the recording's sheet
          if (!firstStamp_) firstStamp_ = Stamp{field.text, serial};
          lastStamp_.text = field.text;  // in place: no allocation a row
          lastStamp_.serial = serial;
        }
        fit(c, writeStamp(sheet_, row, col, field.text, serial));
        continue;
      }
      switch (field.kind) {
        case TypedField::Kind::empty: break;
        case TypedField::Kind::text: fit(c, writeText(sheet_, row, col, field.text)); break;
        case TypedField::Kind::number: {
          double value = 0;
          const char* end = field.text.data() + field.text.size();
          auto [stop, ec] = std::from_chars(field.text.data(), end, value);
          if (ec == std::errc() && stop == end && std::isfinite(value)) {
            check(worksheet_write_number(sheet_, row, col, value, nullptr));
            values_[c] = value;
          } else {  // an infinity: the text the table shows
            writeText(sheet_, row, col, field.text);
          }
          fit(c, field.text.size());
          break;
        }
      }
    }
    if (plot_ && sheets_ == 1) writePlotRow(row, serial);
  }

  void writePlotRow(lxw_row_t row, std::optional<double> serial) {
    check(worksheet_write_number(plot_, row, kPlotLine, static_cast<double>(row), nullptr));
    if (serial) {
      check(worksheet_write_number(plot_, row, kPlotTime, *serial, dateTime_));
      anyDate_ = true;
      firstSerial_ = std::min(firstSerial_, *serial);
      lastSerial_ = std::max(lastSerial_, *serial);
    }
    for (Plotted& p : plotted_) {
      const std::optional<double>& value = values_[p.column];
      if (!value || *value == kNoReading) continue;  // a gap, not a spike
      check(worksheet_write_number(plot_, row, p.plotColumn, *value, nullptr));
      p.seen = true;
    }
  }

  void writeRecordingSheet(const RecordingFacts& facts) {
    lxw_worksheet* sheet = workbook_add_worksheet(book_, "recording");
    if (!sheet) throw IoError("cannot open: " + shown_);
    lxw_row_t row = 0;
    auto label = [&](const char* text) { check(worksheet_write_string(sheet, row, 0, text, bold_)); };
    auto number = [&](const char* text, double value) {
      label(text);
      check(worksheet_write_number(sheet, row++, 1, value, nullptr));
    };
    auto text = [&](const char* name, const std::string& value) {
      label(name);
      writeText(sheet, row++, 1, value);
    };
    auto stamp = [&](const char* name, const Stamp& value) {
      label(name);
      writeStamp(sheet, row++, 1, value.text, value.serial);
    };
    text("recording", facts.path);
    number("size (bytes)", static_cast<double>(facts.size));
    label("modified (UTC)");
    check(worksheet_write_number(sheet, row++, 1, serialOfUnixNanoseconds(facts.modifiedNanoseconds), dateTime_));
    number("samples", static_cast<double>(facts.samples));
    number("data lines", static_cast<double>(lines_));
    number("dropped (failed CRC)", static_cast<double>(facts.dropped));
    stamp("first time stamp", firstStamp_.value_or(Stamp()));
    stamp("last time stamp", lastStamp_);
    text("program", facts.program);
    text("version", facts.version);
    check(worksheet_set_column(sheet, 0, 0, 22, nullptr));
    check(worksheet_set_column(sheet, 1, 1, std::clamp(static_cast<double>(displayLength(facts.path)) + 2, 25.0, kMaxWidth),
                               nullptr));
  }

  void writeCharts() {
    lxw_worksheet* sheet = nullptr;
    const lxw_row_t last = static_cast<lxw_row_t>(lines_);
    const lxw_col_t x = anyDate_ ? kPlotTime : kPlotLine;
    std::string xName = anyDate_ ? (zone_ ? "time (" + zoneName(*zone_) + ")" : std::string("time")) : "line";
    lxw_row_t at = 1;
    for (const ChartGroup& group : kChartGroups) {
      std::vector<const Plotted*> series;
      for (const Plotted& p : plotted_)
        if (p.seen && p.group == &group) series.push_back(&p);
      if (series.empty()) continue;
      if (!sheet) {
        if (!(sheet = workbook_add_worksheet(book_, "chart"))) throw IoError("cannot open: " + shown_);
        worksheet_set_landscape(sheet);  // printed a chart's width to a page
        worksheet_fit_to_pages(sheet, 1, 0);
      }
      lxw_chart* chart = workbook_add_chart(book_, LXW_CHART_SCATTER_STRAIGHT);
      if (!chart) throw IoError("cannot write: " + shown_);
      for (const Plotted* p : series) {
        lxw_chart_series* s = chart_add_series(chart, nullptr, nullptr);
        if (!s) throw IoError("cannot write: " + shown_);
        chart_series_set_categories(s, "plot", 1, x, last, x);
        chart_series_set_values(s, "plot", 1, p->plotColumn, last, p->plotColumn);
        chart_series_set_name_range(s, "data", 0, static_cast<lxw_col_t>(p->column));
      }
      chart_title_set_name(chart, group.title);
      chart_axis_set_name(chart->x_axis, xName.c_str());
      chart_axis_set_name(chart->y_axis, group.axis);
      // Below the plot and left of it, wherever the other axis crosses.
      chart_axis_set_label_position(chart->x_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
      chart_axis_set_label_position(chart->y_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
      if (anyDate_) chart_axis_set_num_format(chart->x_axis, lastSerial_ - firstSerial_ < 1 ? "hh:mm:ss" : "yyyy-mm-dd hh:mm");
      chart_show_blanks_as(chart, LXW_CHART_BLANKS_AS_GAP);
      chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
      lxw_chart_options options{};
      options.x_scale = 2;
      options.y_scale = 1.4;
      check(worksheet_insert_chart_opt(sheet, at, 1, chart, &options));
      at += 23;
    }
  }

  std::string shown_;
  WorkbookSettings settings_;
  std::vector<std::string> columns_;
  lxw_workbook* book_ = nullptr;
  lxw_format *bold_ = nullptr, *dateTime_ = nullptr;
  lxw_worksheet *sheet_ = nullptr, *plot_ = nullptr;
  size_t sheets_ = 0;
  uint64_t row_ = 0, lines_ = 0;
  size_t timestampColumn_ = kNone;
  bool zoneDecided_ = false;
  std::optional<int> zone_;
  std::vector<std::string> held_;
  std::vector<TypedField> fields_;
  std::vector<std::optional<double>> values_;
  std::vector<double> widths_;
  std::vector<Plotted> plotted_;
  bool anyDate_ = false;
  double firstSerial_ = INFINITY, lastSerial_ = -INFINITY;
  std::optional<Stamp> firstStamp_;
  Stamp lastStamp_;  // empty while there is none
  std::string scratch_;
};

TableWorkbook::TableWorkbook(const std::string& file, const std::string& shownPath, std::vector<std::string> columns,
                             const WorkbookSettings& settings)
    : writer_(std::make_unique<Writer>(file, shownPath, std::move(columns), settings)) {}

TableWorkbook::~TableWorkbook() = default;

void TableWorkbook::putLine(std::string_view line) { writer_->putLine(line); }

void TableWorkbook::finish(const RecordingFacts& facts) { writer_->finish(facts); }

uint64_t TableWorkbook::lines() const { return writer_->lines(); }

}  // namespace tlq
