// The whole conversion, from a recording file to its CSV file. Any bytes as
// a recording give a CSV or one of the documented failures, leave the
// recording as it was and no file open; the parallel path, forced with tiny
// ranges on four threads, gives the same bytes, the same partial file and
// the same failure as the sequential one.
#include <dirent.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "convert/convert.h"
#include "fuzz_check.h"

namespace {

using namespace tlq;

struct Outcome {
  std::optional<std::string> csv;
  std::string failure;  // kind, message and trace; empty on success
};

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

size_t openFiles() {
  size_t n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

bool documented(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::io:
    case ErrorKind::value:
    case ErrorKind::key:
    case ErrorKind::jsonParse:
    case ErrorKind::index:
    case ErrorKind::assertion:
      return true;
    default:
      return false;
  }
}

Outcome convert(const std::string& recording, const std::string& csv, const char* threads) {
  ::setenv("TLQCONVERTER_THREADS", threads, 1);
  std::filesystem::remove(csv);
  Outcome outcome;
  try {
    FUZZ_CHECK(mainConvert(recording) == csv);
  } catch (const Error& e) {
    FUZZ_CHECK(documented(e.kind()));
    outcome.failure = std::string(e.kindName()) + ": " + e.message();
    for (const TraceEntry& t : e.trace()) outcome.failure += "\n" + t.unit + ":" + std::to_string(t.line) + " " + t.op;
  }
  outcome.csv = readFile(csv);
  return outcome;
}

struct Place {
  std::string dir, recording, csv;
  Place() {
    char pattern[] = "/tmp/tlq_fuzz_XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern) != nullptr);
    dir = pattern;
    recording = dir + "/r.tlq";
    csv = dir + "/r.csv";
    std::string store = dir + "/store.reg";
    writeFile(store, "[HKEY_CURRENT_USER\\Control Panel\\International]\r\n\"sList\"=\";\"\r\n\"sDecimal\"=\",\"\r\n");
    ::setenv("TLQCONVERTER_REGISTRY", store.c_str(), 1);
  }
  ~Place() { std::filesystem::remove_all(dir); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Place place;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  writeFile(place.recording, bytes);
  size_t filesBefore = openFiles();

  Outcome sequential = convert(place.recording, place.csv, "1");
  Outcome parallel = convert(place.recording, place.csv, "4");
  FUZZ_CHECK(sequential.csv == parallel.csv);
  FUZZ_CHECK(sequential.failure == parallel.failure);
  FUZZ_CHECK(readFile(place.recording) == std::string(bytes));
  FUZZ_CHECK(openFiles() == filesBefore);
  return 0;
}
