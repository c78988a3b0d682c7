#include "test_support.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "sensors/frames.h"

#ifdef _WIN32
#include "platform/registry.h"
#include "platform/win32_text.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace tlq::testing {

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 rng(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = std::filesystem::temp_directory_path() / ("tlqtest-" + std::to_string(rng() % 1000000000));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(std::filesystem::u8path(path), std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string regexEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

bool fileExists(const std::string& path) { return std::filesystem::exists(std::filesystem::u8path(path)); }

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
#ifdef _WIN32
  const wchar_t* old = ::_wgetenv(widen(name).c_str());
  had_ = old != nullptr;
  if (old) old_ = narrow(old);
  ::_wputenv_s(widen(name).c_str(), widen(value ? value : "").c_str());
#else
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (old) old_ = old;
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
#endif
}

ScopedEnv::~ScopedEnv() {
#ifdef _WIN32
  ::_wputenv_s(widen(name_).c_str(), widen(had_ ? old_ : "").c_str());
#else
  if (had_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
#endif
}

#ifdef _WIN32

namespace {
const wchar_t* const kInternational = L"Control Panel\\International";
}

// A value of the user's regional settings as it was before the test.
struct SeparatorStore::Saved {
  std::wstring name;
  bool existed = false;
  DWORD type = 0;
  std::string bytes;
};

SeparatorStore::SeparatorStore(const TempDir&, RegionalValue list, RegionalValue decimal) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kInternational, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot open the regional settings");
  for (auto& [name, value] : {std::pair{L"sList", &list}, std::pair{L"sDecimal", &decimal}}) {
    Saved s;
    s.name = name;
    DWORD size = 0;
    s.existed = ::RegQueryValueExW(key, name, nullptr, &s.type, nullptr, &size) == ERROR_SUCCESS;
    if (s.existed) {
      s.bytes.resize(size);
      ::RegQueryValueExW(key, name, nullptr, &s.type, reinterpret_cast<BYTE*>(s.bytes.data()), &size);
    }
    saved_.push_back(std::move(s));
    if (auto* text = std::get_if<std::string>(value)) {
      std::string data = utf8ToUtf16le(*text) + std::string(2, '\0');
      ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    } else if (auto* number = std::get_if<uint32_t>(value)) {
      ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(number), sizeof *number);
    } else {
      ::RegDeleteValueW(key, name);
    }
  }
  ::RegCloseKey(key);
}

SeparatorStore::~SeparatorStore() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kInternational, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  for (const Saved& s : saved_) {
    if (s.existed)
      ::RegSetValueExW(key, s.name.c_str(), 0, s.type, reinterpret_cast<const BYTE*>(s.bytes.data()),
                       static_cast<DWORD>(s.bytes.size()));
    else
      ::RegDeleteValueW(key, s.name.c_str());
  }
  ::RegCloseKey(key);
}

namespace {

// One argument as the C runtime splits it again.
std::wstring quoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"\r\n") == std::wstring::npos) return arg;
  std::wstring q = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    q += c;
  }
  q.append(2 * backslashes, L'\\');
  return q + L"\"";
}

HANDLE inheritableFile(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return ::CreateFileW(widen(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &sa, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

namespace {

// A child started: its process, and the files its output goes to.
struct Started {
  TempDir io;
  PROCESS_INFORMATION pi{};
};

// The child inherits `env` on top of this process's environment.
void launch(const std::string& line, const std::map<std::string, std::string>& env, Started& started) {
  std::wstring commandLine = widen(line);
  // One start at a time (the waits side by side): the child's environment is
  // this process's for the moment, and a child inherits every inheritable
  // handle, another start's too.
  static std::mutex starting;
  std::lock_guard startingLock(starting);
  std::vector<ScopedEnv> settings;
  settings.reserve(env.size());
  for (const auto& [k, v] : env) settings.emplace_back(k.c_str(), v.c_str());
  writeFile(started.io.file("in"), "");
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inheritableFile(started.io.file("in"), false);
  si.hStdOutput = inheritableFile(started.io.file("out"), true);
  si.hStdError = inheritableFile(started.io.file("err"), true);
  BOOL ok = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &started.pi);
  ::CloseHandle(si.hStdInput);
  ::CloseHandle(si.hStdOutput);
  ::CloseHandle(si.hStdError);
  if (!ok) throw std::runtime_error("cannot start " + line);
}

ProcessResult finish(Started& started) {
  ::WaitForSingleObject(started.pi.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(started.pi.hProcess, &code);
  ::CloseHandle(started.pi.hProcess);
  ::CloseHandle(started.pi.hThread);
  started.pi = {};
  ProcessResult result;
  result.exitCode = static_cast<int>(code);
  result.out = readFile(started.io.file("out"));
  result.err = readFile(started.io.file("err"));
  return result;
}

// Before the environment changes: the change may move the temporary folder.
ProcessResult start(const std::string& line, const std::map<std::string, std::string>& env) {
  Started started;
  launch(line, env, started);
  return finish(started);
}

}  // namespace

struct RunningProcess::Io {
  Started started;
};

RunningProcess::RunningProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                               bool)
    : io_(std::make_unique<Io>()) {
  std::wstring commandLine;
  for (const std::string& a : argv) commandLine += (commandLine.empty() ? L"" : L" ") + quoteArgument(widen(a));
  launch(narrow(commandLine), env, io_->started);
  pid_ = static_cast<int>(io_->started.pi.dwProcessId);
}

RunningProcess::~RunningProcess() {
  if (pid_ > 0) wait();
}

void RunningProcess::kill() {
  if (pid_ > 0) ::TerminateProcess(io_->started.pi.hProcess, 137);
}

ProcessResult RunningProcess::wait() {
  pid_ = -1;
  return finish(io_->started);
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
  std::wstring commandLine;
  for (const std::string& a : argv) commandLine += (commandLine.empty() ? L"" : L" ") + quoteArgument(widen(a));
  return start(narrow(commandLine), env);
}

ProcessResult runCommandLine(const std::string& line) { return start(line, {}); }

#else  // POSIX

struct SeparatorStore::Saved {};

namespace {

std::string storeText(const RegionalValue& list, const RegionalValue& decimal) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\International]\r\n";
  auto value = [&](const char* name, const RegionalValue& v) {
    text.append("\"").append(name).append("\"=");
    if (auto* s = std::get_if<std::string>(&v)) {
      text.append("\"").append(*s).append("\"");
    } else if (auto* n = std::get_if<uint32_t>(&v)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x", *n);
      text.append(buf);
    } else {
      text.append("-");
    }
    text.append("\r\n");
  };
  value("sList", list);
  value("sDecimal", decimal);
  return text;
}

}  // namespace

SeparatorStore::SeparatorStore(const TempDir& dir, RegionalValue list, RegionalValue decimal) {
  std::string path = dir.file("registry.reg");
  writeFile(path, storeText(list, decimal));
  env_.emplace("TLQCONVERTER_REGISTRY", path.c_str());
}

SeparatorStore::~SeparatorStore() = default;

struct RunningProcess::Io {
  TempDir dir;
  int terminal = -1;  // the pseudo-terminal's master side, when standard error is one
  std::string terminalOutput;
  std::thread reader;
};

RunningProcess::RunningProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                               bool errorOnTerminal)
    : io_(std::make_unique<Io>()) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string_view kv(*e);
    size_t eq = kv.find('=');
    merged[std::string(kv.substr(0, eq))] = std::string(kv.substr(eq + 1));
  }
  for (const auto& [k, v] : env) merged[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : merged) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (std::string& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);

  std::string terminalName;
  if (errorOnTerminal) {
    io_->terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (io_->terminal < 0 || ::grantpt(io_->terminal) != 0 || ::unlockpt(io_->terminal) != 0)
      throw std::runtime_error("no pseudo-terminal");
    terminalName = ::ptsname(io_->terminal);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, io_->dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errorOnTerminal ? terminalName.c_str() : io_->dir.file("err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0600);
  int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  if (errorOnTerminal) {
    io_->reader = std::thread([io = io_.get()] {
      char buf[4096];
      ssize_t n;
      while ((n = ::read(io->terminal, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) io->terminalOutput.append(buf, static_cast<size_t>(n));
    });
  }
}

RunningProcess::~RunningProcess() {
  if (pid_ > 0) wait();
}

void RunningProcess::kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

ProcessResult RunningProcess::wait() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  ProcessResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(io_->dir.file("out"));
  if (io_->terminal >= 0) {
    // The child has gone: what it wrote is there to read, then the terminal
    // reports that its other side is closed.
    io_->reader.join();
    ::close(io_->terminal);
    io_->terminal = -1;
    result.err = io_->terminalOutput;
  } else {
    result.err = readFile(io_->dir.file("err"));
  }
  return result;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
  return RunningProcess(argv, env).wait();
}

#endif

std::string base64Encode(std::string_view bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? alphabet[v >> (18 - 6 * k) & 63] : '=';
  }
  return out;
}

std::string sealFrame(std::string frame, int crcDelta) {
  auto crc = static_cast<uint16_t>(crc16Xmodem(std::string_view(frame).substr(2)) + crcDelta);
  frame += static_cast<char>(crc & 0xFF);
  frame += static_cast<char>(crc >> 8);
  return frame;
}

std::string recordingOf(int lines, int dropped, int failAt) {
  std::string badCrc = base64Encode(sealFrame(std::string("\xF0\x01", 2) + std::string(13, '\0'), 1));
  std::string json = "{\"data\":[";
  for (int i = 0; i < lines + dropped; ++i) {
    json += i ? ",\n" : "\n";
    std::string n = std::to_string(i % 100 + 100).substr(1);
    if (i == failAt)
      json += R"({"inclino":{"raw":"8AAA"}})";
    else if (i < 2 * dropped && i % 2 == 1)
      json += R"({"inclino":{"raw":")" + badCrc + R"("}})";
    else
      json += R"({"inclino":{"raw":"X=+01.2)" + n + R"(\r\nY=-12.346","timestamp":"10:00:)" + n +
              R"("},"force":{"raw":"\u0002- 1)" + n + R"(N\u0003"}})";
  }
  return json + "]}";
}

std::string workbookProblems(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return "";
#else
  static constexpr const char* kRead =
      "import sys, zipfile, openpyxl\n"
      "bad = zipfile.ZipFile(sys.argv[1]).testzip()\n"
      "if bad: sys.exit('a damaged member: ' + bad)\n"
      "book = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
      "for sheet in book.worksheets:\n"
      "    for row in sheet.iter_rows(values_only=True): pass\n";
  ProcessResult r = runProcess({"/usr/bin/python3", "-c", kRead, path});
  return r.exitCode == 0 ? "" : "exit code " + std::to_string(r.exitCode) + ": " + r.err;
#endif
}

std::string fullPath(const std::string& path) {
  return utf8(std::filesystem::absolute(std::filesystem::u8path(path)).make_preferred());
}

std::string samplePath() { return std::string(TLQ_SOURCE_DIR) + "/examples/sample.tlq"; }

int sourceLine(const std::string& file, std::string_view text) {
  std::string source = readFile(std::string(TLQ_SOURCE_DIR) + "/src/" + file);
  int found = 0, line = 1;
  for (size_t at = 0; at <= source.size();) {
    size_t end = source.find('\n', at);
    if (end == std::string::npos) end = source.size();
    if (std::string_view(source).substr(at, end - at).find(text) != std::string_view::npos) {
      if (found) throw std::runtime_error(file + " holds \"" + std::string(text) + "\" more than once");
      found = line;
    }
    at = end + 1;
    ++line;
  }
  if (!found) throw std::runtime_error(file + " does not hold \"" + std::string(text) + "\"");
  return found;
}

std::vector<std::string> traceEntries(std::string_view text) {
  std::vector<std::string> entries;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(at, end - at));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t close = line.find(") ");
    if (close != std::string::npos && line.find(' ') == close + 1) {
      size_t op = line.find_first_not_of(' ', close + 1);
      line = line.substr(0, close + 1) + " " + line.substr(op);
    }
    entries.push_back(line);
    at = end + 1;
  }
  return entries;
}

std::string entryAt(const std::string& file, std::string_view text, const std::string& op) {
  size_t slash = file.find_last_of('/');
  return file.substr(slash == std::string::npos ? 0 : slash + 1) + "(" + std::to_string(sourceLine(file, text)) + ") " +
         op;
}

}  // namespace tlq::testing
