// The desktop outside Windows: zenity or kdialog for the dialog (a prompt on
// a terminal without them), xdg-open (open on macOS) for opening files, and
// the freedesktop MIME database, desktop entries and file managers' actions
// for the file type and for folders.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <vector>

#include "error.h"
#include "platform/child_posix.h"
#include "platform/desktop_entry.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace tlq {

namespace {

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
    if (std::optional<int> rc = runChild(zenity, &out, false)) return *rc == 0 ? chosenPath(out) : "";

    std::string kdeFilter;
    for (const auto& [name, pattern] : filters) kdeFilter += pattern + "|" + name + "\n";
    kdeFilter += "*|All Files (*.*)";
    out.clear();
    if (std::optional<int> rc = runChild({"kdialog", "--getopenfilename", ".", kdeFilter}, &out, false))
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
  runChild({"open", path}, nullptr, true);
#else
  runChild({"xdg-open", path}, nullptr, true);
#endif
}

namespace {

std::string configHome() {
  std::optional<std::string> xdg = getEnv("XDG_CONFIG_HOME");
  if (xdg && !xdg->empty()) return *xdg;
  std::optional<std::string> home = getEnv("HOME");
  if (!home || home->empty()) throw OsError("HOME is not set");
  return *home + "/.config";
}

// A file a file manager runs or trusts only when it is executable.
void writeExecutable(const std::string& path, const std::string& text) {
  replaceFile(path, text);
  if (::chmod(path.c_str(), 0755) != 0) throw OsError(std::strerror(errno));
}

// The lists of defaults and associations that may name our entries: the
// user's own (XDG_CONFIG_HOME), those of the desktops the session names
// ("kde-mimeapps.list"), and the older place below the applications.
std::vector<std::string> mimeAppsLists(const std::string& data) {
  std::string config = configHome();
  std::vector<std::string> lists = {config + "/mimeapps.list"};
  std::string desktops = getEnv("XDG_CURRENT_DESKTOP").value_or("");
  for (size_t at = 0; at <= desktops.size();) {
    size_t colon = std::min(desktops.find(':', at), desktops.size());
    std::string name = desktops.substr(at, colon - at);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!name.empty() && name.find('/') == std::string::npos) lists.push_back(config + "/" + name + "-mimeapps.list");
    at = colon + 1;
  }
  lists.push_back(data + "/applications/mimeapps.list");
  return lists;
}

// Takes our entries out of a list, written in place of the file a link
// there names, with the permissions it had; a list without them is left
// alone.
void removeOurAssociations(const std::string& list) {
  std::string path = linkTarget(list);
  std::optional<std::string> text = readWholeFile(path);
  if (!text) return;
  std::optional<std::string> without = withoutOurAssociations(*text);
  if (!without) return;
  struct stat info {};
  bool had = ::stat(path.c_str(), &info) == 0;
  replaceFile(path, *without);
  if (had && ::chmod(path.c_str(), info.st_mode & 07777) != 0) throw OsError(std::strerror(errno));
}

}  // namespace

void registerDesktopFileType(const std::string& program) {
  std::string data = dataHome();
  replaceFile(data + "/mime/packages/tlqconverter.xml", mimeInfoText());
  for (const char* earlier : kEarlierEntryFiles) removeFile(data + "/" + earlier);
  replaceFile(data + "/" + kTableEntryFile, desktopEntryText(program));
  replaceFile(data + "/" + kWorkbookEntryFile, workbookEntryText(program));
  replaceFile(data + "/" + kMenuEntryFile, menuEntryText(program));
  writeExecutable(data + "/" + kKdeServiceMenuFile, kdeServiceMenuText(program));
  replaceFile(data + "/" + kNemoActionFile, nemoActionText(program));
  replaceFile(data + "/" + kNemoCheckActionFile, nemoCheckActionText(program));
  writeExecutable(data + "/" + kNautilusScriptFile, nautilusScriptText(program));
  writeExecutable(data + "/" + kNautilusCheckScriptFile, nautilusCheckScriptText(program));
  runChild({"update-mime-database", data + "/mime"}, nullptr, false);
  runChild({"update-desktop-database", data + "/applications"}, nullptr, false);
  runChild({"xdg-mime", "default", "tlqconverter.desktop", kRecordingMimeType}, nullptr, false);
}

void unregisterDesktopFileType() {
  std::string data = dataHome();
  for (const char* file : {kTableEntryFile, kWorkbookEntryFile, kMenuEntryFile, kKdeServiceMenuFile, kNemoActionFile,
                           kNemoCheckActionFile, kNautilusScriptFile, kNautilusCheckScriptFile})
    removeFile(data + "/" + file);
  for (const char* earlier : kEarlierEntryFiles) removeFile(data + "/" + earlier);
  for (const std::string& list : mimeAppsLists(data)) removeOurAssociations(list);
  runChild({"update-desktop-database", data + "/applications"}, nullptr, false);
}

// Waits until the person has read it, as a message box does: what comes
// after it (a report opened) comes then.
void showMessage(const std::string& title, const std::string& text, bool warning) {
  if (!graphicalSession()) return;
  if (runChild({"zenity", warning ? "--warning" : "--info", "--no-markup", "--title=" + title, "--text=" + text},
               nullptr, false))
    return;
  runChild({"kdialog", "--title", title, warning ? "--sorry" : "--msgbox", text}, nullptr, false);
}

void showLastResort(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace tlq
