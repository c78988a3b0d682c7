// The desktop: the file-open dialog, opening a file with the program the
// user's system associates with its type, the file-type registration beyond
// the registry, and the last-resort message.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tlq {

// (display name, pattern) pairs, e.g. ("Treloqa (*.tlq)", "*.tlq").
using FileFilters = std::vector<std::pair<std::string, std::string>>;

// The path the user chose, or empty text when they cancelled (or no dialog
// could be shown). "All Files (*.*)" follows the filters given.
std::string openFileDialog(const std::string& title, const FileFilters& filters);

// Asks the desktop to open the file with its associated program; does not
// wait and reports nothing.
void osOpenFile(const std::string& path);

// Registers (or removes) the recording file type with the desktop beyond the
// registry keys: nothing under Windows, where those keys are the
// registration; the freedesktop MIME type and desktop entry elsewhere.
// Raises OsError when a file cannot be written.
void registerDesktopFileType(const std::string& program);
void unregisterDesktopFileType();

// A message for the person at the desktop: a message box under Windows,
// which waits for OK; zenity (else kdialog) elsewhere, waited for alike.
// Nothing is shown where no window can be.
void showMessage(const std::string& title, const std::string& text, bool warning);

// The message of a failure that could not even be reported: a message box
// under Windows, standard error elsewhere.
void showLastResort(const std::string& text);

}  // namespace tlq
