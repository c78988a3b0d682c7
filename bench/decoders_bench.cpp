// One sample's decoding steps, each on its own.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "csv/csv.h"
#include "sensors/force_elasto.h"
#include "sensors/frames.h"
#include "sensors/inclino.h"
#include "sensors/pattern.h"
#include "sensors/tilt.h"
#include "text.h"

namespace {

using namespace tlq;

void BM_ParseDq7(benchmark::State& state) {
  const std::string payload = "//+554ZzV41OpuN4mROcE8vr";
  std::string json;
  for (auto _ : state) {
    Dq7Inclino r = parse_dq7_inclino(payload);
    json.clear();
    toJson(r, json);
    benchmark::DoNotOptimize(json.data());
  }
}
BENCHMARK(BM_ParseDq7);

void BM_ParseRk(benchmark::State& state) {
  const std::string payload = "8AHZRofly1P5nQ8AAAAATKo=";
  std::string json;
  for (auto _ : state) {
    RkInclino r = parse_rk_inclino(payload);
    json.clear();
    toJson(r, json);
    benchmark::DoNotOptimize(json.data());
  }
}
BENCHMARK(BM_ParseRk);

// The first use of each acceleration value: the correctly rounded arcsine
// against the C library's (the frame parser keeps its results).
void BM_ArcsineCorrectlyRounded(benchmark::State& state) {
  int acc = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(asinCorrectlyRounded(acc * 0.000030517578125));
    acc = acc * 5 % 32749;
  }
}
BENCHMARK(BM_ArcsineCorrectlyRounded);

void BM_ArcsineLibrary(benchmark::State& state) {
  int acc = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::asin(acc * 0.000030517578125));
    acc = acc * 5 % 32749;
  }
}
BENCHMARK(BM_ArcsineLibrary);

void BM_ParseMeasInclino(benchmark::State& state) {
  PatternScratch scratch;  // as a converter holds one
  const std::string plain = "X=-04.372\r\nY=-06.960";
  for (auto _ : state) benchmark::DoNotOptimize(parseMeasInclino(plain));
}
BENCHMARK(BM_ParseMeasInclino);

void BM_ParseForce(benchmark::State& state) {
  PatternScratch scratch;  // as a converter holds one
  const std::string line = "\x02-  12.37N\x03";
  for (auto _ : state) benchmark::DoNotOptimize(parseForce(line));
}
BENCHMARK(BM_ParseForce);

void BM_ParseElasto(benchmark::State& state) {
  PatternScratch scratch;  // as a converter holds one
  const std::string line = "A=44476 33 B=55570";
  for (auto _ : state) benchmark::DoNotOptimize(parseElasto(line));
}
BENCHMARK(BM_ParseElasto);

void BM_RoundAndLocalize(benchmark::State& state) {
  CsvFormat format = newCsvFormat({}, ';', ',');
  std::string out;
  double v = -4.3721234;
  for (auto _ : state) {
    out.clear();
    localizeFloat(format, roundTo3(v), out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_RoundAndLocalize);

}  // namespace
