// The command line, read once.
#pragma once

#include <string>
#include <vector>

namespace tlq {

// The process's arguments, computed once on first use: paramStr(0) is the
// program, paramCount() the number of arguments after it.
int paramCount();
std::string paramStr(int i);
// Arguments 1 to paramCount().
std::vector<std::string> commandLineParams();

}  // namespace tlq
