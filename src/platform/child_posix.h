// Other programs the desktop offers outside Windows (dialogs, the opener),
// started from PATH with no terminal of theirs.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tlq {

// True in a graphical session ($DISPLAY or $WAYLAND_DISPLAY set), where the
// desktop's programs can show windows.
bool graphicalSession();

// Starts the program with no input, its output going to `out` (or nowhere).
// Waits for it and gives its exit code, unless `detach`. Nothing when it
// cannot start.
std::optional<int> runChild(const std::vector<std::string>& argv, std::string* out, bool detach);

// A program reading what its starter writes to `input`.
struct FedChild {
  pid_t pid = -1;
  int input = -1;
};
std::optional<FedChild> startFedChild(const std::vector<std::string>& argv);

// True when the child has ended; `exitCode` then holds its exit code (-1
// for a signal). Waits for that when `wait`.
bool childEnded(pid_t pid, bool wait, int& exitCode);

}  // namespace tlq
