// A whole conversion of a generated recording, in process, on one thread
// and on two; and the second pass alone, with each way of reading entries.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "convert/convert.h"
#include "platform/file.h"
#include "reader/recording.h"

namespace {

namespace fs = std::filesystem;

// A generated recording of `entries` entries in a folder of its own, with a
// store of separators; empty when the generator fails.
std::string makeRecording(benchmark::State& state, int64_t entries) {
  fs::path dir = fs::temp_directory_path() / "tlq_bench";
  fs::create_directories(dir);
  std::string recording = (dir / "bench.tlq").string();
  std::string store = (dir / "store.reg").string();
  {
    tlq::OutputFile f(store);
    f.write("[HKEY_CURRENT_USER\\Control Panel\\International]\n\"sList\"=\";\"\n\"sDecimal\"=\",\"\n");
    f.close();
  }
  ::setenv("TLQCONVERTER_REGISTRY", store.c_str(), 1);
  std::string command = std::string(TLQ_GEN_RECORDING) + " --entries " + std::to_string(entries) + " " + recording;
  if (std::system(command.c_str()) != 0) {
    state.SkipWithError("gen_recording failed");
    return "";
  }
  return recording;
}

void BM_MainConvert(benchmark::State& state) {
  std::string recording = makeRecording(state, state.range(0));
  if (recording.empty()) return;
  fs::path dir = fs::path(recording).parent_path();
  std::string threads = std::to_string(state.range(1));
  ::setenv("TLQCONVERTER_THREADS", threads.c_str(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(tlq::mainConvert(recording));
  ::unsetenv("TLQCONVERTER_THREADS");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(fs::file_size(recording)));
  fs::remove_all(dir);
}
// Entries, threads: the sequential path against two workers, side by side.
BENCHMARK(BM_MainConvert)->Args({20000, 1})->Args({20000, 2})->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading every entry, as the conversion's second pass does: 0 the quick
// scan (with the full parser for the shapes it leaves), 1 the full parser.
void BM_ReadEntries(benchmark::State& state) {
  std::string recording = makeRecording(state, 20000);
  if (recording.empty()) return;
  {
    tlq::Recording r(recording);
    auto reader = state.range(0) == 0 ? tlq::EntryReader::quick : tlq::EntryReader::fullParser;
    size_t sum = 0;
    for (auto _ : state) {
      r.forEachEntry([&](const tlq::RecordingEntry& e) { sum += e.inclino.raw.textOf().size(); }, {}, reader);
      benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(r.size()));
  }
  fs::remove_all(fs::path(recording).parent_path());
}
BENCHMARK(BM_ReadEntries)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
