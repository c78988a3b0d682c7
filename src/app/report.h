// The error report: a text file in the temporary folder that says how the
// program was started, with what input, and where the failure arose.
#pragma once

#include <string>
#include <string_view>

namespace tlq {

// An argument as the "CMD: " line shows it: in double quotes when it is
// empty or holds a blank, with backslashes before quotes doubled the way the
// Windows command line reads them back.
std::string quoteShellWindows(std::string_view arg);

// The program file's full path (never quoted), then each argument quoted.
std::string getFullCommandLine();

// Lines 1 to 4 of a report, each ended by CR LF.
std::string getErrorReportPrefix();

// Writes a report "tlqconverter_error_XXXXXXXX.txt" into the temporary folder
// and, when `open`, hands it to the desktop. Returns its path.
std::string dumpTrace(const std::string& trace, const std::string& param, bool open);

}  // namespace tlq
