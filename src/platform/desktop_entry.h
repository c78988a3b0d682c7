// The files that make a Linux desktop know recordings: a MIME type for
// "*.tlq", desktop entries that convert one and open its table or its
// workbook, a menu entry that asks for a recording, and the folders' actions
// "Convert recordings to CSV" and "Check recordings" where file managers take
// actions. Written per user by --install, and shipped in the Debian package.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tlq {

inline constexpr const char* kRecordingMimeType = "application/x-treloqa-recording";

// The files' names, below the data folder (~/.local/share, /usr/share).
// The table's entry sorts before the workbook's: where no default is set,
// the desktop takes the first entry its cache lists for a type, in the
// order of the names.
inline constexpr const char* kTableEntryFile = "applications/tlqconverter.desktop";
inline constexpr const char* kWorkbookEntryFile = "applications/tlqconverter.workbook.desktop";
inline constexpr const char* kMenuEntryFile = "applications/tlqconverter-menu.desktop";
inline constexpr const char* kKdeServiceMenuFile = "kio/servicemenus/tlqconverter-batch.desktop";
inline constexpr const char* kNemoActionFile = "nemo/actions/tlqconverter-batch.nemo_action";
inline constexpr const char* kNemoCheckActionFile = "nemo/actions/tlqconverter-check.nemo_action";
// A user's alone (GNOME's file manager has no folder of scripts for all).
inline constexpr const char* kNautilusScriptFile = "nautilus/scripts/Convert recordings to CSV";
inline constexpr const char* kNautilusCheckScriptFile = "nautilus/scripts/Check recordings";
// Entries of earlier versions, removed by --install and --uninstall: the
// folders' entry declared folders, which made it their default.
inline constexpr const char* kEarlierEntryFiles[] = {"applications/tlqconverter-workbook.desktop",
                                                     "applications/tlqconverter-batch.desktop"};

// The shared MIME-info package that names the type.
std::string mimeInfoText();

// The table's entry, "Open as Spreadsheet Table", the default for
// recordings; `program` is the program's path (quoted where the desktop
// entry format needs it) or its bare name.
std::string desktopEntryText(const std::string& program);

// The second entry for recordings, "Open as workbook": the recording as a
// workbook, opened.
std::string workbookEntryText(const std::string& program);

// The entry the menus show, "Convert field recordings": the program without
// an argument, which asks for a recording in a file dialog. It declares no
// type, so it is never a default.
std::string menuEntryText(const std::string& program);

// The folders' actions, "Convert recordings to CSV" (a batch over the
// folders chosen) and "Check recordings" (--check of them, nothing written),
// as each file manager takes them: a KDE service menu (both actions in one),
// a Nemo action each, a script each of GNOME's file manager. None of them is
// an application entry, so none becomes the default for folders.
std::string kdeServiceMenuText(const std::string& program);
std::string nemoActionText(const std::string& program);
std::string nemoCheckActionText(const std::string& program);
std::string nautilusScriptText(const std::string& program);
std::string nautilusCheckScriptText(const std::string& program);

// True for the name of a desktop entry that is ours, of this version or an
// earlier one ("tlqconverter.desktop", ...).
bool isOurDesktopEntry(std::string_view id);

// A mimeapps.list without our entries: each of them taken out of the lists
// of its sections of associations and defaults, a line that named ours
// alone left out, every other byte as it was. Nothing when no line names
// ours.
std::optional<std::string> withoutOurAssociations(std::string_view text);

}  // namespace tlq
