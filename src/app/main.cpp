// Process start-up: the random generator is seeded, then the run begins.
#include <cstdio>

#include "app/dispatch.h"
#include "platform/system.h"
#include "platform/temp_files.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

int start(int argc, char** argv) {
  tlq::setProcessArguments(argc, argv);
  if (!tlq::seedRandom()) {
    std::fputs("Failed to initializes baseState in random module as sysrand.urandom doesn't work.\n", stderr);
    return tlq::exitNoReport;
  }
  return tlq::runMain();
}

}  // namespace

#ifdef _WIN32
// A GUI program: the arguments come from GetCommandLineW. The standard
// streams (seen only when redirected) are binary: lines end in a bare LF.
int wmain() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return start(0, nullptr);
}
#else
int main(int argc, char** argv) { return start(argc, argv); }
#endif
