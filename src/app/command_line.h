// The command line: split the way Windows programs split it, and read once.
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

// The process's arguments, computed once on first use: paramStr(0) is the
// program, paramCount() the number of arguments after it.
int paramCount();
std::string paramStr(int i);
// Arguments 1 to paramCount().
std::vector<std::string> commandLineParams();

}  // namespace tlq
