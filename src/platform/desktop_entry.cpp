#include "platform/desktop_entry.h"

#include <string_view>

namespace tlq {

namespace {

// An argument of the Exec key: quoted when it holds a reserved character,
// then escaped once more for the desktop entry's own string rules.
std::string execArgument(const std::string& arg) {
  if (arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return arg;
  std::string q = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') q += '\\';
    q += c;
  }
  q += '"';
  // The desktop entry's own string escaping doubles every backslash.
  std::string escaped;
  for (char c : q) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

std::string mimeInfoText() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
         "  <mime-type type=\"" + std::string(kRecordingMimeType) + "\">\n"
         "    <comment>Treloqa file</comment>\n"
         "    <sub-class-of type=\"application/json\"/>\n"
         "    <glob pattern=\"*.tlq\"/>\n"
         "  </mime-type>\n"
         "</mime-info>\n";
}

namespace {

// An entry offered for files of a type (NoDisplay: not in the menus).
std::string entryText(std::string_view name, std::string_view comment, const std::string& exec,
                      std::string_view mimeType) {
  return "[Desktop Entry]\nType=Application\nName=" + std::string(name) + "\nComment=" + std::string(comment) +
         "\nExec=" + exec + "\nMimeType=" + std::string(mimeType) + ";\nNoDisplay=true\nTerminal=false\n";
}

}  // namespace

// On Linux the table opens in the user's spreadsheet program: the entry says
// so (the Windows verb keeps its own name).
std::string desktopEntryText(const std::string& program) {
  return entryText("Open as Spreadsheet Table",
                   "Convert the recording into a CSV table and open it in the spreadsheet program",
                   execArgument(program) + " %f", kRecordingMimeType);
}

std::string workbookEntryText(const std::string& program) {
  return entryText("Open as workbook", "Convert the recording into a workbook with charts and open it",
                   execArgument(program) + " --xlsx %f", kRecordingMimeType);
}

// Offered for folders (never the default for them): the Windows setup
// program's folder verb.
std::string batchEntryText(const std::string& program) {
  return entryText("Convert recordings to CSV",
                   "Convert every recording (.tlq) in the folders into a CSV table beside it",
                   execArgument(program) + " --batch %F", "inode/directory");
}

}  // namespace tlq
