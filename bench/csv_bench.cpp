// Field rendering and line assembly, and number text against the standard
// library's own formatting.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>
#include <vector>

#include "csv/csv.h"
#include "text.h"

namespace {

using namespace tlq;

const CsvFormat kFormat = newCsvFormat({"timestamp", "inclino1_raw", "inclino1_x", "inclino1_y", "force_raw",
                                        "force_kg"},
                                       ';', ',');

void BM_QuoteStringPlain(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    quoteString(kFormat, "2026-11-17T09:00:00.600", out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_QuoteStringPlain);

void BM_QuoteStringQuoted(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    quoteString(kFormat, R"(Nord; "Pfeiler 3"; "Feld 12")", out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_QuoteStringQuoted);

// Values as a recording gives them: angles, forces, counts.
std::vector<double> values() {
  std::vector<double> v;
  for (int i = 0; i < 1024; ++i) {
    v.push_back(i % 3 == 0 ? (i * 7919 % 180000 - 90000) / 1000.0
                : i % 3 == 1 ? (i * 104729 % 250000) / 100.0 * 1000.0 / 9.8084
                             : static_cast<double>(i * 13 % 60000));
  }
  return v;
}

void BM_LocalizeFloat(benchmark::State& state) {
  std::vector<double> v = values();
  std::string out;
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    localizeFloat(kFormat, v[i++ & 1023], out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_LocalizeFloat);

void BM_FormatFloat(benchmark::State& state) {
  std::vector<double> v = values();
  char buf[kFloatTextRoom];
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(formatFloat(buf, v[i++ & 1023]));
}
BENCHMARK(BM_FormatFloat);

// What formatFloat replaced: the standard library's exact "%.16g".
void BM_ToCharsPrecision16(benchmark::State& state) {
  std::vector<double> v = values();
  char buf[32];
  size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(std::to_chars(buf, buf + sizeof buf, v[i++ & 1023], std::chars_format::general, 16).ptr);
}
BENCHMARK(BM_ToCharsPrecision16);

void BM_MakeLine(benchmark::State& state) {
  RowBlock row(6);
  std::string out;
  for (auto _ : state) {
    row.clear();
    row.beginRow();
    row.setText(0, "2026-11-17T09:00:00.600");
    row.setText(1, "X=-04.372 Y=-06.960");
    row.setNumber(2, -4.372);
    row.setNumber(3, -6.96);
    row.setText(4, "\x02+  12.37\x03");
    row.setNumber(5, 1261.16);
    row.keepRow();
    out.clear();
    makeLine(kFormat, row, 0, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MakeLine);

}  // namespace
