// The desktop outside Windows: zenity or kdialog for the dialog (a prompt on
// a terminal without them), xdg-open (open on macOS) for opening files, and
// the freedesktop MIME database and desktop entries for the file type.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>

#include "error.h"
#include "platform/child_posix.h"
#include "platform/file.h"
#include "platform/desktop_entry.h"
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

void registerDesktopFileType(const std::string& program) {
  std::string data = dataHome();
  replaceFile(data + "/mime/packages/tlqconverter.xml", mimeInfoText());
  replaceFile(data + "/applications/tlqconverter.desktop", desktopEntryText(program));
  replaceFile(data + "/applications/tlqconverter-workbook.desktop", workbookEntryText(program));
  replaceFile(data + "/applications/tlqconverter-batch.desktop", batchEntryText(program));
  runChild({"update-mime-database", data + "/mime"}, nullptr, false);
  runChild({"update-desktop-database", data + "/applications"}, nullptr, false);
  runChild({"xdg-mime", "default", "tlqconverter.desktop", kRecordingMimeType}, nullptr, false);
}

void unregisterDesktopFileType() {
  std::string data = dataHome();
  removeFile(data + "/applications/tlqconverter.desktop");
  removeFile(data + "/applications/tlqconverter-workbook.desktop");
  removeFile(data + "/applications/tlqconverter-batch.desktop");
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
