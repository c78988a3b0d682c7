// Splitting a full command line the way Windows programs split it. Pure
// text work, used by the Windows side of processArguments and tested
// everywhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tlq {

// Splits a full command line into arguments: blanks (space, tab, CR, LF)
// separate them; "..." quotes blanks; inside quotes "" is a literal quote and
// a single " ends the argument; n backslashes before a quote give n/2
// backslashes, and a literal quote when n is odd; other backslashes stand.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

}  // namespace tlq
