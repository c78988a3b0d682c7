#include "xlsx/charts.h"

#include <string>

#include "error.h"
#include "table/date_time.h"

namespace tlq {

namespace {

// A reading the instrument did not give: left out of the charts.
constexpr double kNoReading = -999.0;

// Columns of the hidden sheet: the line's number, its time where it has
// one, the plotted values, then the values that have no neighbour (drawn as
// markers).
constexpr lxw_col_t kPlotLine = 0, kPlotTime = 1, kPlotFirstValue = 2;

// A chart's rows on the chart sheet; each is printed on a page of its own.
constexpr lxw_row_t kChartRows = 23;

// The line colours of a chart's two series, and of their markers.
constexpr lxw_color_t kSeriesColours[] = {0x4472C4, 0xED7D31};

std::string withUnit(const ChartInfo& chart, const char* unit) {
  return std::string(chart.quantity) + (*unit ? std::string(" (") + unit + ")" : std::string());
}

}  // namespace

Charts::Charts(Book& book, const TableColumns& columns, uint64_t samples, bool timeAxis, std::optional<int> zone)
    : book_(book),
      timeAxis_(timeAxis),
      zone_(zone),
      bucketLines_(plotBucketLines(samples)),
      rows_(0, 1) {
  for (size_t c = 0; c < columns.size(); ++c)
    if (Chart chart = columnInfo(columns[c]).chart; chart != Chart::none) plotted_.push_back({c, columns[c], chart});
  rows_ = PlotRows(plotted_.size(), bucketLines_);
  if (plotted_.empty()) return;
  plot_ = book_.addSheet("plot");
  worksheet_hide(plot_);
}

void Charts::add(uint64_t line, double time, const RowBlock& rows, size_t row) {
  if (!plot_ || (timeAxis_ && std::isnan(time))) return;  // no place on a time axis
  PlotPoint point;
  point.line = line;
  point.time = time;
  for (size_t k = 0; k < plotted_.size(); ++k) {
    const Cell& cell = rows.cell(row, plotted_[k].column);
    if (cell.kind == CellKind::number && std::isfinite(cell.number) && cell.number != kNoReading)  // a gap, not a spike
      point.values[k] = cell.number;
  }
  rows_.add(point, [this](const PlotPoint& p) { take(p); });
}

void Charts::take(const PlotPoint& point) {
  if (pending_) writePoint(*pending_, before_ ? &*before_ : nullptr, &point);
  before_ = std::move(pending_);
  pending_ = point;
}

void Charts::writePoint(const PlotPoint& point, const PlotPoint* before, const PlotPoint* after) {
  const lxw_row_t row = ++plotRows_;
  book_.check(worksheet_write_number(plot_, row, kPlotLine, static_cast<double>(point.line), nullptr));
  if (!std::isnan(point.time)) {
    book_.check(worksheet_write_number(plot_, row, kPlotTime, point.time, book_.dateTime()));
    firstTime_ = std::min(firstTime_, point.time);
    lastTime_ = std::max(lastTime_, point.time);
  }
  const auto n = static_cast<lxw_col_t>(plotted_.size());
  for (lxw_col_t k = 0; k < n; ++k) {
    double v = point.values[k];
    if (std::isnan(v)) continue;
    Plotted& p = plotted_[k];
    book_.check(worksheet_write_number(plot_, row, kPlotFirstValue + k, v, nullptr));
    p.seen = true;
    bool alone = !(before && !std::isnan(before->values[k])) && !(after && !std::isnan(after->values[k]));
    if (!alone) continue;
    book_.check(worksheet_write_number(plot_, row, kPlotFirstValue + n + k, v, nullptr));
    p.alone = true;
  }
}

void Charts::finish() {
  if (!plot_) return;
  TLQ_OP("writeCharts");
  rows_.finish([this](const PlotPoint& p) { take(p); });
  if (pending_) writePoint(*pending_, before_ ? &*before_ : nullptr, nullptr);
  pending_.reset();
  if (plotRows_ > 0) TLQ_AT(writeCharts());
}

void Charts::writeCharts() {
  lxw_worksheet* sheet = nullptr;
  const lxw_row_t last = plotRows_;
  const bool time = timeAxis_ && firstTime_ <= lastTime_;
  const lxw_col_t x = time ? kPlotTime : kPlotLine;
  const std::string xName = time ? (zone_ ? "time (" + zoneName(*zone_) + ")" : std::string("time")) : "line";
  const auto n = static_cast<lxw_col_t>(plotted_.size());
  std::vector<lxw_row_t> breaks;
  lxw_row_t at = 1;
  for (Chart group : {Chart::inclino1, Chart::inclino2, Chart::elasto, Chart::force}) {
    std::vector<lxw_col_t> series;
    for (lxw_col_t k = 0; k < n; ++k)
      if (plotted_[k].chart == group && plotted_[k].seen) series.push_back(k);
    if (series.empty()) continue;
    if (!sheet) {
      sheet = book_.addSheet("chart");
      worksheet_set_landscape(sheet);  // printed a chart's width to a page
      worksheet_fit_to_pages(sheet, 1, 0);
      if (bucketLines_ > 1) {
        std::string note = "The charts show every reading's minimum and maximum per " + std::to_string(bucketLines_) +
                           " samples.";
        book_.check(worksheet_write_string(sheet, 0, 1, note.c_str(), nullptr));
        at = 2;
      }
    } else {
      breaks.push_back(at);  // a page of its own
    }
    lxw_chart* chart = workbook_add_chart(book_.workbook(), LXW_CHART_SCATTER_STRAIGHT);
    if (!chart) throw IoError("cannot write: " + book_.shown());
    std::vector<int16_t> unlisted;  // the markers' series, not in the legend
    auto addSeries = [&](lxw_col_t valueColumn, const Plotted& p, lxw_color_t colour, bool markers) {
      lxw_chart_series* s = chart_add_series(chart, nullptr, nullptr);
      if (!s) throw IoError("cannot write: " + book_.shown());
      chart_series_set_categories(s, "plot", 1, x, last, x);
      chart_series_set_values(s, "plot", 1, valueColumn, last, valueColumn);
      chart_series_set_name_range(s, "data", 0, static_cast<lxw_col_t>(p.column));
      lxw_chart_line line{};
      line.color = colour;
      if (!markers) {
        chart_series_set_line(s, &line);
        return;
      }
      line.none = LXW_TRUE;
      chart_series_set_line(s, &line);
      chart_series_set_marker_type(s, LXW_CHART_MARKER_CIRCLE);
      chart_series_set_marker_size(s, 5);
      lxw_chart_fill fill{};
      fill.color = colour;
      lxw_chart_line edge{};
      edge.color = colour;
      chart_series_set_marker_fill(s, &fill);
      chart_series_set_marker_line(s, &edge);
    };
    for (size_t i = 0; i < series.size(); ++i)
      addSeries(kPlotFirstValue + series[i], plotted_[series[i]], kSeriesColours[i % 2], false);
    for (size_t i = 0; i < series.size(); ++i) {
      if (!plotted_[series[i]].alone) continue;
      unlisted.push_back(static_cast<int16_t>(series.size() + unlisted.size()));
      addSeries(kPlotFirstValue + n + series[i], plotted_[series[i]], kSeriesColours[i % 2], true);
    }
    const ChartInfo& info = chartInfo(group);
    chart_title_set_name(chart, info.title);
    chart_axis_set_name(chart->x_axis, xName.c_str());
    std::string yName = withUnit(info, columnInfo(plotted_[series[0]].id).unit);
    chart_axis_set_name(chart->y_axis, yName.c_str());
    // Below the plot and left of it, wherever the other axis crosses.
    chart_axis_set_label_position(chart->x_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
    chart_axis_set_label_position(chart->y_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
    if (time) chart_axis_set_num_format(chart->x_axis, lastTime_ - firstTime_ < 1 ? "hh:mm:ss" : "yyyy-mm-dd hh:mm");
    chart_show_blanks_as(chart, LXW_CHART_BLANKS_AS_GAP);
    chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
    if (!unlisted.empty()) {
      unlisted.push_back(-1);
      book_.check(chart_legend_delete_series(chart, unlisted.data()));
    }
    lxw_chart_options options{};
    options.x_scale = 2;
    options.y_scale = 1.4;
    book_.check(worksheet_insert_chart_opt(sheet, at, 1, chart, &options));
    at += kChartRows;
  }
  if (!breaks.empty()) {
    breaks.push_back(0);
    book_.check(worksheet_set_h_pagebreaks(sheet, breaks.data()));
  }
}

}  // namespace tlq
