#include "platform/desktop_entry.h"

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

// On Linux the table opens in the user's spreadsheet program: the entry says
// so (the Windows verb keeps its own name).
std::string desktopEntryText(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Open as Spreadsheet Table\n"
         "Comment=Convert the recording into a CSV table and open it in the spreadsheet program\n"
         "Exec=" + execArgument(program) + " %f\n"
         "MimeType=" + std::string(kRecordingMimeType) + ";\n"
         "NoDisplay=true\n"
         "Terminal=false\n";
}

// Offered for folders (never the default for them): the Windows setup
// program's folder verb.
std::string batchEntryText(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Convert recordings to CSV\n"
         "Comment=Convert every recording (.tlq) in the folders into a CSV table beside it\n"
         "Exec=" + execArgument(program) + " --batch %F\n"
         "MimeType=inode/directory;\n"
         "NoDisplay=true\n"
         "Terminal=false\n";
}

}  // namespace tlq
