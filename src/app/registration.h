// The shell verbs of the recording file type: "Open with Excel" and "Open as
// workbook".
#pragma once

namespace tlq {

// The file type's programmatic identifier and the verb's key name.
inline constexpr const char* progId = "OstrelTlqFile";
inline constexpr const char* appName = "tlqconverter";
// The second verb's key, beside the first: "Open as workbook".
inline constexpr const char* workbookVerbName = "tlqconverter.xlsx";

// Adds (removes) the verbs. A failure is printed on standard output as
// "[kind]: message" and ends the operation; false then.
bool regInstall();
bool regUninstall();

}  // namespace tlq
