#include "test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sensors/frames.h"

extern char** environ;

namespace tlq::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tlqtest-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (old) old_ = old;
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

namespace {

std::string storeText(const char* list, const char* decimal) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\International]\r\n";
  auto value = [&](const char* name, const char* v) {
    text.append("\"").append(name).append("\"=");
    if (v)
      text.append("\"").append(v).append("\"");
    else
      text.append("-");
    text.append("\r\n");
  };
  value("sList", list);
  value("sDecimal", decimal);
  return text;
}

std::string storeFor(const TempDir& dir, const char* list, const char* decimal) {
  std::string path = dir.file("registry.reg");
  writeFile(path, storeText(list, decimal));
  return path;
}

}  // namespace

SeparatorStore::SeparatorStore(const TempDir& dir, const char* list, const char* decimal)
    : env_("TLQCONVERTER_REGISTRY", storeFor(dir, list, decimal).c_str()) {}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
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

  TempDir io;
  std::string outPath = io.file("out"), errPath = io.file("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ProcessResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

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

std::string samplePath() { return std::string(TLQ_SOURCE_DIR) + "/examples/sample.tlq"; }

}  // namespace tlq::testing
