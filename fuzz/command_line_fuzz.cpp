// Command lines: arguments quoted the way the report's "CMD:" line quotes
// them (the Windows convention) and joined by blanks split back into the
// same arguments. The splitter also takes CR and LF between arguments for
// blanks, so an argument that begins with one is out of this property's
// reach: the quoting leaves it bare, as the Windows rule does.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "app/report.h"
#include "fuzz_check.h"
#include "platform/split_command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tlq;
  FuzzedDataProvider in(data, size);
  std::vector<std::string> args = {"C:\\Program Files\\tlqconverter\\tlqconverter.exe"};
  std::string line = "\"" + args[0] + "\"";
  while (in.remaining_bytes() > 0) {
    std::string arg = in.ConsumeRandomLengthString(32);
    if (arg.find('\0') != std::string::npos || arg.starts_with('\r') || arg.starts_with('\n')) continue;
    args.push_back(arg);
    line += " " + quoteShellWindows(arg);
  }
  FUZZ_CHECK(splitCommandLine(line) == args);
  return 0;
}
