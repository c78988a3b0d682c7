#include "xlsx/charts.h"

#include <string>

#include "error.h"
#include "table/date_time.h"
#include "xlsx/time_axis.h"

namespace tlq {

namespace {

// What the inclinometer's decoder gives for both angles when it cannot read
// the Y line: no reading, left out of its chart. Elsewhere -999 is a
// value like any other (a force of -999 kg), and only not-a-number is none.
constexpr double kNoInclinoReading = -999.0;

bool isInclinometer(Chart chart) { return chart == Chart::inclino1 || chart == Chart::inclino2; }

// The x column of a chart's hidden sheet: its values follow.
constexpr lxw_col_t kX = 0;

// A chart's rows on the chart sheet; each is printed on a page of its own.
constexpr lxw_row_t kChartRows = 23;

// The line colours of a chart's two series, and of their markers.
constexpr lxw_color_t kSeriesColours[] = {0x4472C4, 0xED7D31};

std::string withUnit(const ChartInfo& chart, const char* unit) {
  return std::string(chart.quantity) + (*unit ? std::string(" (") + unit + ")" : std::string());
}

}  // namespace

Charts::Charts(Book& book, const TableColumns& columns, uint64_t samples, bool timeAxis, std::optional<int> zone,
               size_t firstColumn)
    : book_(book), timeAxis_(timeAxis), zone_(zone), bucketLines_(plotBucketLines(samples)) {
  for (Chart chart : {Chart::inclino1, Chart::inclino2, Chart::elasto, Chart::force}) {
    std::vector<Series> series;
    for (size_t c = 0; c < columns.size(); ++c)
      if (columnInfo(columns[c]).chart == chart) series.push_back({firstColumn + c, columns[c]});
    if (series.empty()) continue;
    std::string name = std::string("plot ") + chartInfo(chart).name;
    lxw_worksheet* sheet = book_.addSheet(name);
    worksheet_hide(sheet);
    const size_t n = series.size();
    plots_.push_back({chart, std::move(series), name, sheet, PlotRows(n, bucketLines_), {}});
  }
}

void Charts::add(uint64_t line, double time, const RowBlock& rows, size_t row) {
  if (timeAxis_ && std::isnan(time)) return;  // no place on a time axis
  for (Plot& plot : plots_) {
    PlotPoint point;
    point.line = line;
    point.time = time;
    bool noReading = isInclinometer(plot.chart);  // while every angle is the decoder's -999
    for (size_t k = 0; k < plot.series.size(); ++k) {
      const Cell& cell = rows.cell(row, plot.series[k].column);
      if (cell.kind == CellKind::number && std::isfinite(cell.number)) point.values[k] = cell.number;
      noReading = noReading && point.values[k] == kNoInclinoReading;
    }
    if (noReading) point.values.fill(NAN);  // a gap, not a spike
    plot.chosen.add(point, [&](const PlotPoint& p) { plot.points.push_back(p); });
  }
}

void Charts::write(Plot& plot, const PlotPoint& point, const PlotPoint* before, const PlotPoint* after) {
  const lxw_row_t row = ++plot.rows;
  if (point.line == 0) return;  // a gap: an empty row, which the chart shows as one
  const double x = timeAxis_ ? point.time : static_cast<double>(point.line);
  book_.check(worksheet_write_number(plot.sheet, row, kX, x, timeAxis_ ? book_.dateTime() : nullptr));
  plot.firstX = std::min(plot.firstX, x);
  plot.lastX = std::max(plot.lastX, x);
  const auto n = static_cast<lxw_col_t>(plot.series.size());
  for (lxw_col_t k = 0; k < n; ++k) {
    double v = point.values[k];
    if (std::isnan(v)) continue;
    Series& s = plot.series[k];
    book_.check(worksheet_write_number(plot.sheet, row, kX + 1 + k, v, nullptr));
    s.seen = true;
    bool alone = !(before && !std::isnan(before->values[k])) && !(after && !std::isnan(after->values[k]));
    if (!alone) continue;
    book_.check(worksheet_write_number(plot.sheet, row, kX + 1 + n + k, v, nullptr));
    s.alone = true;
  }
}

void Charts::finish(const std::vector<uint64_t>& gapEnds) {
  if (plots_.empty()) return;
  TLQ_OP("writeCharts");
  for (Plot& plot : plots_) {
    plot.chosen.finish([&](const PlotPoint& p) { plot.points.push_back(p); });
    const std::vector<PlotPoint> points = withGaps(plot.points, gapEnds);
    plot.points = {};
    for (size_t i = 0; i < points.size(); ++i)
      write(plot, points[i], i > 0 ? &points[i - 1] : nullptr, i + 1 < points.size() ? &points[i + 1] : nullptr);
  }
  TLQ_AT(writeCharts());
}

void Charts::writeCharts() {
  lxw_worksheet* sheet = nullptr;
  const std::string xName = timeAxis_ ? (zone_ ? "time (" + zoneName(*zone_) + ")" : std::string("time")) : "line";
  std::vector<lxw_row_t> breaks;
  lxw_row_t at = 1;
  for (Plot& plot : plots_) {
    std::vector<size_t> drawn;
    for (size_t k = 0; k < plot.series.size(); ++k)
      if (plot.series[k].seen) drawn.push_back(k);
    if (drawn.empty()) continue;
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
    const auto n = static_cast<lxw_col_t>(plot.series.size());
    const lxw_row_t last = plot.rows;
    auto addSeries = [&](lxw_col_t valueColumn, const Series& s, lxw_color_t colour, bool markers) {
      lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
      if (!series) throw IoError("cannot write: " + book_.shown());
      chart_series_set_categories(series, plot.sheetName.c_str(), 1, kX, last, kX);
      chart_series_set_values(series, plot.sheetName.c_str(), 1, valueColumn, last, valueColumn);
      chart_series_set_name_range(series, "data", 0, static_cast<lxw_col_t>(s.column));
      lxw_chart_line line{};
      line.color = colour;
      line.none = markers;
      chart_series_set_line(series, &line);
      if (!markers) return;
      chart_series_set_marker_type(series, LXW_CHART_MARKER_CIRCLE);
      chart_series_set_marker_size(series, 5);
      lxw_chart_fill fill{};
      fill.color = colour;
      lxw_chart_line edge{};
      edge.color = colour;
      chart_series_set_marker_fill(series, &fill);
      chart_series_set_marker_line(series, &edge);
    };
    for (size_t i = 0; i < drawn.size(); ++i)
      addSeries(kX + 1 + static_cast<lxw_col_t>(drawn[i]), plot.series[drawn[i]], kSeriesColours[i % 2], false);
    std::vector<int16_t> unlisted;  // the markers' series, not in the legend
    for (size_t i = 0; i < drawn.size(); ++i) {
      if (!plot.series[drawn[i]].alone) continue;
      unlisted.push_back(static_cast<int16_t>(drawn.size() + unlisted.size()));
      addSeries(kX + 1 + n + static_cast<lxw_col_t>(drawn[i]), plot.series[drawn[i]], kSeriesColours[i % 2], true);
    }
    const ChartInfo& info = chartInfo(plot.chart);
    chart_title_set_name(chart, info.title);
    chart_axis_set_name(chart->x_axis, xName.c_str());
    std::string yName = withUnit(info, columnInfo(plot.series[drawn[0]].id).unit);
    chart_axis_set_name(chart->y_axis, yName.c_str());
    // Below the plot and left of it, wherever the other axis crosses.
    chart_axis_set_label_position(chart->x_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
    chart_axis_set_label_position(chart->y_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
    if (timeAxis_) {
      // The data's span on round ticks, not the library's from midnight.
      TimeAxis axis = timeAxisFor(plot.firstX, plot.lastX);
      chart_axis_set_min(chart->x_axis, axis.min);
      chart_axis_set_max(chart->x_axis, axis.max);
      chart_axis_set_major_unit(chart->x_axis, axis.majorUnit);
      chart_axis_set_num_format(chart->x_axis, axis.format.c_str());
    }
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
