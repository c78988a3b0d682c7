// What one start of the program does.
#pragma once

namespace tlq {

// Exit codes.
enum ExitCode : int {
  exitOk = 0,            // converted and opened, a cancelled dialog, a switch done
  exitNoReport = 1,      // no random seed: nothing was done
  exitFailed = 2,        // the conversion failed (report written, or why not said) or a switch failed (line printed)
  exitCancelled = 130,   // the user stopped a batch
};

// Takes the first argument (or asks for a recording), then converts it,
// or runs "--install" / "--uninstall". Every failure ends in an error report
// that the desktop opens.
int runMain();

}  // namespace tlq
