// Helpers for tests: temporary folders, files, processes, frames.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "error.h"

namespace tlq::testing {

// "Kind: message" of the error that `f` raises, or "no error".
template <typename F>
std::string failureOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return std::string(e.kindName()) + ": " + e.message();
  }
  return "no error";
}

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// A path's text in UTF-8.
inline std::string utf8(const std::filesystem::path& p) {
  auto s = p.u8string();
  return std::string(s.begin(), s.end());
}

void writeFile(const std::string& path, std::string_view bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// Text that a std::regex matches as it stands.
std::string regexEscaped(std::string_view text);

// Sets an environment variable for the life of the object, then restores it
// (the name and value in UTF-8, under Windows too).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);  // nullptr unsets
  ~ScopedEnv();

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

// A separator value as the regional settings hold it: absent, text, or a
// number (REG_DWORD).
using RegionalValue = std::variant<std::monostate, std::string, uint32_t>;

// The list and decimal separators the program reads, set for the life of the
// object: a ".reg" store selected through $TLQCONVERTER_REGISTRY on POSIX,
// the user's own "Control Panel\International" key under Windows (its old
// values are put back afterwards).
class SeparatorStore {
 public:
  SeparatorStore(const TempDir& dir, RegionalValue list, RegionalValue decimal);
  // nullptr leaves the value out.
  SeparatorStore(const TempDir& dir, const char* list, const char* decimal)
      : SeparatorStore(dir, text(list), text(decimal)) {}
  ~SeparatorStore();
  SeparatorStore(const SeparatorStore&) = delete;
  SeparatorStore& operator=(const SeparatorStore&) = delete;

 private:
  static RegionalValue text(const char* v) { return v ? RegionalValue(std::string(v)) : RegionalValue(); }
  struct Saved;
  std::vector<Saved> saved_;
  std::optional<ScopedEnv> env_;
};

struct ProcessResult {
  int exitCode = -1;
  std::string out, err;
};

// Runs a program with arguments (no shell), with extra environment settings.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {});

// A program started and not yet waited for (waited for when destroyed).
class RunningProcess {
 public:
  // With `errorOnTerminal` (POSIX), its standard error is a pseudo-terminal,
  // whose output becomes the result's `err`.
  RunningProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                 bool errorOnTerminal = false);
  ~RunningProcess();
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  int pid() const { return pid_; }
  // Ends it at once, as a crash or the task manager does (SIGKILL;
  // TerminateProcess under Windows).
  void kill();
  ProcessResult wait();

 private:
  struct Io;
  std::unique_ptr<Io> io_;
  int pid_ = -1;
};

#ifdef _WIN32
// Starts a program with exactly this command line.
ProcessResult runCommandLine(const std::string& commandLine);
#endif

std::string base64Encode(std::string_view bytes);

// A frame: the header and body given, then the CRC-16/XMODEM of the body
// (bytes 2 on), little-endian; `crcDelta` is added to the CRC to spoil it.
std::string sealFrame(std::string frame, int crcDelta = 0);

// A recording of `lines` samples that become lines (text inclinometer and
// force readings) and `dropped` more, among the first ones, whose rk frame
// fails its CRC; with `failAt`, the entry of that index is an rk frame with a
// wrong header, on which the conversion fails.
std::string recordingOf(int lines, int dropped = 0, int failAt = -1);

// What a real reader finds wrong with the workbook at `path`: "" when
// openpyxl opens it and reads every cell of every sheet and every member
// of its zip checks out, else what it said. Under Windows, where no such
// reader runs beside the tests, always "" (the Windows suite compares its
// workbooks with the Linux program's instead).
std::string workbookProblems(const std::string& path);

// A program's full path as the system names it to the program itself.
std::string fullPath(const std::string& path);

// The bundled sample recording.
std::string samplePath();

// The number of the line of src/`file` that holds `text` (the only one
// that does): where the source says a trace entry must point.
int sourceLine(const std::string& file, std::string_view text);

// The entries of a trace text ("unit(line)  op" lines, CR LF or LF):
// "unit(line) op" each, the padding taken out; a line of another form
// (a message after the trace) as it stands.
std::vector<std::string> traceEntries(std::string_view text);

// "unit(line) op" with the line of src/`file` that holds `text`.
std::string entryAt(const std::string& file, std::string_view text, const std::string& op);

// Pseudo-random 64-bit words from integer arithmetic alone (splitmix64), so
// that every platform and standard library draws the same sequence.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = state_ += 0x9E3779B97F4A7C15u;
    z = (z ^ z >> 30) * 0xBF58476D1CE4E5B9u;
    z = (z ^ z >> 27) * 0x94D049BB133111EBu;
    return z ^ z >> 31;
  }
  // Uniform in 0 .. n - 1 (the slight bias does not matter here).
  uint64_t below(uint64_t n) { return next() % n; }

 private:
  uint64_t state_;
};

// FNV-1a over a sequence of results: the bytes of texts, the bit patterns of
// doubles. Tests pin a digest so that a platform giving other bits fails.
class Digest {
 public:
  void add(std::string_view bytes) {
    for (char c : bytes) hash_ = (hash_ ^ static_cast<uint8_t>(c)) * 0x100000001B3u;
  }
  void add(double value) {
    uint64_t bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) hash_ = (hash_ ^ (bits >> 8 * i & 0xFF)) * 0x100000001B3u;
  }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325u;
};

}  // namespace tlq::testing
