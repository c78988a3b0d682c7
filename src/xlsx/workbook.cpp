#include "xlsx/workbook.h"

#include <optional>

#include "error.h"
#include "xlsx/book.h"
#include "xlsx/charts.h"
#include "xlsx/data_sheets.h"
#include "xlsx/quality_sheets.h"
#include "xlsx/recording_sheet.h"

namespace tlq {

namespace {

std::vector<std::string> headerOf(const TableColumns& columns, const WorkbookSettings& settings) {
  std::vector<std::string> names = columns.names();
  size_t stamp = columns.at(Column::timestamp);
  if (stamp != TableColumns::kAbsent && settings.zones.zone())
    names[stamp] += " (" + zoneName(*settings.zones.zone()) + ")";
  names.insert(names.begin(), settings.leading.begin(), settings.leading.end());
  return names;
}

size_t stampColumnOf(const TableColumns& columns, const WorkbookSettings& settings) {
  size_t stamp = columns.at(Column::timestamp);
  return stamp == TableColumns::kAbsent ? stamp : settings.leading.size() + stamp;
}

}  // namespace

class TableWorkbook::Writer {
 public:
  Writer(const std::string& file, const std::string& shownPath, const TableColumns& columns,
         const WorkbookSettings& settings)
      : settings_(settings),
        book_(file, shownPath, settings.tmpdir),
        data_(book_, headerOf(columns, settings), settings.sheetRows),
        charts_(book_, columns, settings.samples, settings.zones.anyDateTime(), settings.zones.zone(),
                settings.leading.size()),
        names_(columns.names()),
        stampColumn_(stampColumnOf(columns, settings)) {}

  uint64_t lines() const { return data_.lines(); }

  void put(const RowBlock& rows) {
    for (size_t r = 0; r < rows.rows(); ++r) {
      data_.put(rows, r);
      double time = NAN;
      if (stampColumn_ != TableColumns::kAbsent) {
        const Cell& stamp = rows.cell(r, stampColumn_);
        if (stamp.kind == CellKind::dateTime) time = stamp.number;
        if (stamp.kind != CellKind::empty && stamp.size > 0) noteStamp(rows, stamp);
      }
      charts_.add(data_.lines(), time, rows, r);
    }
  }

  void finish(const RecordingFacts& facts, const std::function<void(uint64_t, double)>& closing) {
    TLQ_OP("finishWorkbook");
    data_.finish();
    TLQ_AT(writeRecordingSheet(book_, facts, {data_.lines(), firstStamp_, lastStamp_, &settings_.zones, &names_}));
    std::vector<uint64_t> gapEnds;
    if (facts.quality) {
      TLQ_AT(writeGapsSheet(book_, *facts.quality, settings_.zones));
      for (const QualityGap& gap : facts.quality->gapList) gapEnds.push_back(gap.toLine);
    }
    TLQ_AT(charts_.finish(gapEnds));
    TLQ_AT(close(closing));
  }

  void finish(const std::function<void(Book&)>& recordingSheet, const std::function<void(uint64_t, double)>& closing) {
    TLQ_OP("finishWorkbook");
    data_.finish();
    TLQ_AT(recordingSheet(book_));
    TLQ_AT(charts_.finish({}));
    TLQ_AT(close(closing));
  }

 private:
  void close(const std::function<void(uint64_t, double)>& closing) {
    lxw_doc_properties properties{};
    properties.created = static_cast<time_t>(settings_.created);
    book_.check(workbook_set_properties(book_.workbook(), &properties));
    // The last phase measured only for a caller that shows it.
    std::function<void(const Book::Closing&)> measured;
    if (closing) measured = [&](const Book::Closing& c) { closing(c.bytes, c.seconds); };
    book_.close(measured);
  }

  // For the recording's sheet: the first time stamp and the last.
  void noteStamp(const RowBlock& rows, const Cell& stamp) {
    lastStamp_.text.assign(rows.textOf(stamp));  // in place: no allocation a row
    lastStamp_.serial = stamp.kind == CellKind::dateTime ? std::optional<double>(stamp.number) : std::nullopt;
    if (!firstStamp_) firstStamp_ = lastStamp_;
  }

  WorkbookSettings settings_;
  Book book_;
  DataSheets data_;
  Charts charts_;
  std::vector<std::string> names_;  // the table's columns
  size_t stampColumn_;
  std::optional<StampCell> firstStamp_;
  StampCell lastStamp_;  // empty while there is none
};

TableWorkbook::TableWorkbook(const std::string& file, const std::string& shownPath, const TableColumns& columns,
                             const WorkbookSettings& settings)
    : writer_(std::make_unique<Writer>(file, shownPath, columns, settings)) {}

TableWorkbook::~TableWorkbook() = default;

void TableWorkbook::put(const RowBlock& rows) { writer_->put(rows); }

void TableWorkbook::finish(const RecordingFacts& facts, const std::function<void(uint64_t, double)>& closing) {
  writer_->finish(facts, closing);
}

void TableWorkbook::finishWithSheet(const std::function<void(Book&)>& recordingSheet,
                                    const std::function<void(uint64_t, double)>& closing) {
  writer_->finish(recordingSheet, closing);
}

uint64_t TableWorkbook::lines() const { return writer_->lines(); }

}  // namespace tlq
