// The desktop outside Windows: zenity or kdialog for the dialog (a prompt on
// a terminal without them), xdg-open (open on macOS) for opening files, and
// the freedesktop MIME database and desktop entries for the file type.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>

#include "error.h"
#include "platform/file.h"
#include "platform/desktop_entry.h"
#include "platform/shell.h"
#include "platform/system.h"

extern char** environ;

namespace tlq {

namespace {

// Starts a program found on PATH with its output going to `out` (or nowhere)
// and no input. Waits for it unless `detach`. Nothing when it cannot start.
std::optional<int> spawn(const std::vector<std::string>& argv, std::string* out, bool detach) {
  int pipeFds[2] = {-1, -1};
  if (out && ::pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out)
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (detach) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  std::vector<char*> args;
  std::vector<std::string> copy = argv;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (out) ::close(pipeFds[1]);
  if (rc != 0) {
    if (out) ::close(pipeFds[0]);
    return std::nullopt;
  }
  if (out) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) out->append(buf, static_cast<size_t>(n));
    ::close(pipeFds[0]);
  }
  if (detach) return 0;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool graphicalSession() {
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    std::optional<std::string> value = getEnv(v);
    if (value && !value->empty()) return true;
  }
  return false;
}

std::string chosenPath(std::string output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

std::string dataHome() {
  std::optional<std::string> xdg = getEnv("XDG_DATA_HOME");
  if (xdg && !xdg->empty()) return *xdg;
  std::optional<std::string> home = getEnv("HOME");
  if (!home || home->empty()) throw OsError("HOME is not set");
  return *home + "/.local/share";
}

}  // namespace

std::string openFileDialog(const std::string& title, const FileFilters& filters) {
  if (graphicalSession()) {
    std::vector<std::string> zenity = {"zenity", "--file-selection", "--title=" + (title.empty() ? "Open" : title)};
    for (const auto& [name, pattern] : filters) zenity.push_back("--file-filter=" + name + " | " + pattern);
    zenity.push_back("--file-filter=All Files (*.*) | *");
    std::string out;
    if (std::optional<int> rc = spawn(zenity, &out, false)) return *rc == 0 ? chosenPath(out) : "";

    std::string kdeFilter;
    for (const auto& [name, pattern] : filters) kdeFilter += pattern + "|" + name + "\n";
    kdeFilter += "*|All Files (*.*)";
    out.clear();
    if (std::optional<int> rc = spawn({"kdialog", "--getopenfilename", ".", kdeFilter}, &out, false))
      return *rc == 0 ? chosenPath(out) : "";
  }
  if (::isatty(0)) {
    std::cerr << (title.empty() ? "Recording to convert" : title) << ": " << std::flush;
    std::string line;
    if (std::getline(std::cin, line)) return chosenPath(line);
  }
  return "";
}

void osOpenFile(const std::string& path) {
#ifdef __APPLE__
  spawn({"open", path}, nullptr, true);
#else
  spawn({"xdg-open", path}, nullptr, true);
#endif
}

void registerDesktopFileType(const std::string& program) {
  std::string data = dataHome();
  replaceFile(data + "/mime/packages/tlqconverter.xml", mimeInfoText());
  replaceFile(data + "/applications/tlqconverter.desktop", desktopEntryText(program));
  spawn({"update-mime-database", data + "/mime"}, nullptr, false);
  spawn({"update-desktop-database", data + "/applications"}, nullptr, false);
  spawn({"xdg-mime", "default", "tlqconverter.desktop", kRecordingMimeType}, nullptr, false);
}

void unregisterDesktopFileType() {
  std::string data = dataHome();
  removeFile(data + "/applications/tlqconverter.desktop");
  spawn({"update-desktop-database", data + "/applications"}, nullptr, false);
}

void showLastResort(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace tlq
