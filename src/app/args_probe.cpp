// Test helper: shows the arguments as the program sees them, one per line:
// on standard output, or appended to the file $TLQ_PROBE_LOG (arguments
// after the program only) when it is set. With a log it stands in for the
// desktop's opener (xdg-open, or a Windows file association).
#include <cstdio>
#include <string>

#include "platform/system.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  tlq::setProcessArguments(argc, argv);
  std::vector<std::string> args = tlq::processArguments();
  std::optional<std::string> log = tlq::getEnv("TLQ_PROBE_LOG");
  if (log && !log->empty()) {
    std::string lines;
    for (size_t i = 1; i < args.size(); ++i) lines += args[i] + "\n";
    // Written and renamed in one go, so that a reader never sees half a line.
    std::string part = *log + ".part";
    FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) return 1;
    std::fwrite(lines.data(), 1, lines.size(), f);
    std::fclose(f);
    return std::rename(part.c_str(), log->c_str()) == 0 ? 0 : 1;
  }
  for (const std::string& arg : args) std::printf("%s\n", arg.c_str());
  return 0;
}
