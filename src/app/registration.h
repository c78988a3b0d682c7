// The "Open with Excel" shell verb of the recording file type.
#pragma once

namespace tlq {

// The file type's programmatic identifier and the verb's key name.
inline constexpr const char* progId = "OstrelTlqFile";
inline constexpr const char* appName = "tlqconverter";

// Adds (removes) the verb. A failure is printed on standard output as
// "[kind]: message" and ends the operation; false then.
bool regInstall();
bool regUninstall();

}  // namespace tlq
