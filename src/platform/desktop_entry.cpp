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

constexpr std::string_view kFoldersName = "Convert recordings to CSV";
constexpr std::string_view kFoldersComment = "Convert every recording (.tlq) in the folders into a CSV table beside it";
constexpr std::string_view kCheckName = "Check recordings";
constexpr std::string_view kCheckComment =
    "Check every recording (.tlq) in the folders for gaps, time stamps out of order and unreadable readings; "
    "nothing is written";

// An entry offered for files of a type (NoDisplay: not in the menus).
std::string entryText(std::string_view name, std::string_view comment, const std::string& exec,
                      std::string_view mimeType, std::string_view more = "") {
  return "[Desktop Entry]\nType=Application\nName=" + std::string(name) + "\nComment=" + std::string(comment) +
         "\nExec=" + exec + "\nMimeType=" + std::string(mimeType) + ";\nNoDisplay=true\nTerminal=false\n" +
         std::string(more);
}

// The text in single quotes for a POSIX shell.
std::string shellQuoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

// On Linux the table opens in the user's spreadsheet program: the entry says
// so (the Windows verb keeps its own name). KDE takes the entry of the
// highest preference for a type where the user chose none.
std::string desktopEntryText(const std::string& program) {
  return entryText("Open as Spreadsheet Table",
                   "Convert the recording into a CSV table and open it in the spreadsheet program",
                   execArgument(program) + " %f", kRecordingMimeType, "InitialPreference=9\n");
}

std::string workbookEntryText(const std::string& program) {
  return entryText("Open as workbook", "Convert the recording into a workbook with charts and open it",
                   execArgument(program) + " --xlsx %f", kRecordingMimeType);
}

std::string menuEntryText(const std::string& program) {
  return "[Desktop Entry]\nType=Application\nName=Convert field recordings\nGenericName=Recording converter\n"
         "Comment=Convert a field recording (.tlq) into a CSV table and open it in the spreadsheet program\n"
         "Keywords=tlqconverter;tlq;Treloqa;recording;measurement;convert;CSV;spreadsheet;workbook;\n"
         "Exec=" + execArgument(program) + "\nTerminal=false\nCategories=Utility;\n";
}

// Dolphin and Konqueror (KDE Frameworks 5.85 and later read this folder; a
// user's file must be executable).
std::string kdeServiceMenuText(const std::string& program) {
  return "[Desktop Entry]\nType=Service\nMimeType=inode/directory;\nActions=tlqconverterBatch;tlqconverterCheck;\n"
         "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n\n[Desktop Action tlqconverterBatch]\nName=" +
         std::string(kFoldersName) + "\nExec=" + execArgument(program) + " --batch %F\n\n"
         "[Desktop Action tlqconverterCheck]\nName=" + std::string(kCheckName) + "\nExec=" + execArgument(program) +
         " --check %F\n";
}

namespace {

// Nemo (Cinnamon's file manager), for one folder or more.
std::string nemoAction(std::string_view name, std::string_view comment, const std::string& program,
                       std::string_view option) {
  return "[Nemo Action]\nActive=true\nName=" + std::string(name) + "\nComment=" + std::string(comment) +
         "\nExec=" + execArgument(program) + " " + std::string(option) + " %F\nSelection=notnone\nExtensions=dir;\n";
}

}  // namespace

std::string nemoActionText(const std::string& program) {
  return nemoAction(kFoldersName, kFoldersComment, program, "--batch");
}

std::string nemoCheckActionText(const std::string& program) {
  return nemoAction(kCheckName, kCheckComment, program, "--check");
}

// GNOME's file manager lists its scripts under "Scripts" for any selection;
// it starts one in the current folder with the names chosen (a recording
// chosen is converted too).
std::string nautilusScriptText(const std::string& program) {
  return "#!/bin/sh\n# " + std::string(kFoldersComment) + " (tlqconverter --install wrote this).\nexec " +
         shellQuoted(program) + " --batch -- \"$@\"\n";
}

std::string nautilusCheckScriptText(const std::string& program) {
  return "#!/bin/sh\n# " + std::string(kCheckComment) + " (tlqconverter --install wrote this).\nexec " +
         shellQuoted(program) + " --check -- \"$@\"\n";
}

bool isOurDesktopEntry(std::string_view id) {
  for (const char* file : {kTableEntryFile, kWorkbookEntryFile, kMenuEntryFile, kEarlierEntryFiles[0],
                           kEarlierEntryFiles[1]})
    if (std::string_view(file).substr(std::string_view("applications/").size()) == id) return true;
  return false;
}

std::optional<std::string> withoutOurAssociations(std::string_view text) {
  std::string out;
  bool changed = false, inLists = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(at, end - at);
    at = end;
    std::string_view body = line;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
    std::string_view ending = line.substr(body.size());
    if (body.starts_with("[")) {
      inLists = body == "[Default Applications]" || body == "[Added Associations]" || body == "[Removed Associations]";
      out += line;
      continue;
    }
    size_t equals = body.find('=');
    if (!inLists || body.starts_with("#") || equals == std::string_view::npos) {
      out += line;
      continue;
    }
    // The key as written (with any blanks around "="), then the list.
    size_t valueAt = equals + 1;
    while (valueAt < body.size() && (body[valueAt] == ' ' || body[valueAt] == '\t')) ++valueAt;
    std::string_view list = body.substr(valueAt);
    std::string kept;
    bool dropped = false;
    for (size_t from = 0; from < list.size();) {
      size_t semicolon = list.find(';', from);
      size_t stop = semicolon == std::string_view::npos ? list.size() : semicolon;
      std::string_view id = list.substr(from, stop - from);
      if (isOurDesktopEntry(id)) {
        dropped = true;
      } else if (!id.empty()) {
        kept += std::string(kept.empty() ? "" : ";") + std::string(id);
      }
      from = stop + 1;
    }
    if (!dropped) {
      out += line;
      continue;
    }
    changed = true;
    if (kept.empty()) continue;  // it named ours alone
    out += std::string(body.substr(0, valueAt)) + kept + (list.ends_with(";") ? ";" : "") + std::string(ending);
  }
  if (!changed) return std::nullopt;
  return out;
}

}  // namespace tlq
