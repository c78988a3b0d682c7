// The shell verbs of the recording file type, "Open with Excel" and "Open as
// workbook", and the folders' verb "Check recordings".
#pragma once

namespace tlq {

// The file type's programmatic identifier and the verb's key name.
inline constexpr const char* progId = "OstrelTlqFile";
inline constexpr const char* appName = "tlqconverter";
// The second verb's key, beside the first: "Open as workbook".
inline constexpr const char* workbookVerbName = "tlqconverter.xlsx";
// The folders' verb that checks the recordings in a folder, beside the
// setup program's "Convert recordings to CSV" (Directory\shell\tlqconverter.batch).
inline constexpr const char* checkVerbKey = "Directory\\shell\\tlqconverter.check";
// Where the user's own file types live (below HKEY_CURRENT_USER), which
// Windows shows under HKEY_CLASSES_ROOT beside the machine's.
inline constexpr const char* userClasses = "Software\\Classes";

// Adds the verbs (the file type's and the folders') under HKEY_CLASSES_ROOT;
// when the system refuses that (access denied: a standard user), or with
// `currentUser`, under the user's classes instead, which a console is told.
// Under Windows a program in a folder of the user's own (below the profile
// or %LOCALAPPDATA%, where a "just for me" setup puts it) registers for that
// user only, as with `currentUser`, and a console is told so too. The verbs
// always start the desktop program (under Windows tlqconverter.exe, also
// when its console twin runs this). A failure is printed on standard output as
// "[kind]: message" and ends the operation; false then.
bool regInstall(bool currentUser);
// Removes the verbs from the user's classes and from HKEY_CLASSES_ROOT (with
// `currentUser` from the user's classes only), nothing else; as above.
bool regUninstall(bool currentUser);

}  // namespace tlq
