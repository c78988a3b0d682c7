// A conversion without its decoding, for the benchmarks: the recording is
// mapped and validated, and its entries read, as the converter does it, on
// as many threads, but every entry gets a line of a given size instead of its
// decoded one. With the size of an average CSV line, the file written has
// the CSV's size; the time taken is what a conversion costs before it
// decodes, formats or quotes anything.
//
//   read_write_only --line-bytes N [--threads T] REC OUT

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "convert/convert.h"
#include "convert/ordered_work.h"
#include "error.h"
#include "platform/file.h"
#include "reader/recording.h"

namespace {

int usage() {
  std::fputs("usage: read_write_only --line-bytes N [--threads T] REC OUT\n", stderr);
  return 2;
}

void run(const std::string& path, const std::string& outPath, size_t lineBytes, unsigned threads) {
  tlq::Recording recording(path, [&](size_t) { return threads; });
  std::string line(lineBytes - 2, 'x');
  line += "\r\n";
  tlq::OutputFile out(outPath);
  std::vector<tlq::EntryRange> ranges;
  if (threads > 1) ranges = tlq::conversionRanges(recording, threads);
  if (ranges.size() < 2) {
    std::string lines;
    recording.forEachEntry([&](const tlq::RecordingEntry&) {
      lines += line;
      if (lines.size() < tlq::kLinesPerWrite) return;
      out.write(lines);
      lines.clear();
    });
    out.write(lines);
  } else {
    tlq::runInOrder<std::string>(
        ranges.size(), threads, [&](size_t i, std::string& lines) {
          recording.forEachEntry([&](const tlq::RecordingEntry&) { lines += line; }, ranges[i]);
        },
        [&](std::string& lines) {
          out.write(lines);
          lines.clear();
        });
  }
  out.close();
}

}  // namespace

int main(int argc, char** argv) {
  size_t lineBytes = 0;
  unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (std::strcmp(argv[i], "--line-bytes") == 0)
      lineBytes = std::strtoul(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--threads") == 0)
      threads = static_cast<unsigned>(std::clamp(std::strtoul(argv[i + 1], nullptr, 10), 1ul, 256ul));
    else
      return usage();
  }
  if (argc - i != 2 || lineBytes < 2) return usage();
  try {
    run(argv[i], argv[i + 1], lineBytes, threads);
  } catch (const tlq::Error& e) {
    std::fprintf(stderr, "read_write_only: %s\n", e.what());
    return 1;
  }
  return 0;
}
