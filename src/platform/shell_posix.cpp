// The desktop outside Windows: zenity or kdialog for the dialog (a prompt on
// a terminal without them), xdg-open (open on macOS) for opening files, and
// the freedesktop MIME database, desktop entries and file managers' actions
// for the file type and for folders.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

#include "error.h"
#include "platform/child_posix.h"
#include "platform/desktop_entry.h"
#include "platform/file.h"
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

// A file a file manager runs or trusts only when it is executable.
void writeExecutable(const std::string& path, const std::string& text) {
  replaceFile(path, text);
  if (::chmod(path.c_str(), 0755) != 0) throw OsError(std::strerror(errno));
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
  writeExecutable(data + "/" + kNautilusScriptFile, nautilusScriptText(program));
  runChild({"update-mime-database", data + "/mime"}, nullptr, false);
  runChild({"update-desktop-database", data + "/applications"}, nullptr, false);
  runChild({"xdg-mime", "default", "tlqconverter.desktop", kRecordingMimeType}, nullptr, false);
}

void unregisterDesktopFileType() {
  std::string data = dataHome();
  for (const char* file : {kTableEntryFile, kWorkbookEntryFile, kMenuEntryFile, kKdeServiceMenuFile, kNemoActionFile,
                           kNautilusScriptFile})
    removeFile(data + "/" + file);
  for (const char* earlier : kEarlierEntryFiles) removeFile(data + "/" + earlier);
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
