// A whole conversion of a generated recording, in process, on one thread
// and on two.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "convert/convert.h"
#include "platform/file.h"

namespace {

void BM_MainConvert(benchmark::State& state) {
  namespace fs = std::filesystem;
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
  std::string command = std::string(TLQ_GEN_RECORDING) + " --entries " + std::to_string(state.range(0)) + " " +
                        recording;
  if (std::system(command.c_str()) != 0) {
    state.SkipWithError("gen_recording failed");
    return;
  }
  std::string threads = std::to_string(state.range(1));
  ::setenv("TLQCONVERTER_THREADS", threads.c_str(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(tlq::mainConvert(recording));
  ::unsetenv("TLQCONVERTER_THREADS");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(fs::file_size(recording)));
  fs::remove_all(dir);
}
// Entries, threads: the sequential path against two workers, side by side.
BENCHMARK(BM_MainConvert)->Args({20000, 1})->Args({20000, 2})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
