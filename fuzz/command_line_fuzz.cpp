// Command lines: arguments quoted the way the report's "CMD:" line quotes
// them (the Windows convention) and joined by blanks split back into the
// same arguments. The splitter also takes CR and LF between arguments for
// blanks, so an argument that begins with one is out of this property's
// reach: the quoting leaves it bare, as the Windows rule does.
//
// Then the batch's arguments: either a usage error with a message, or
// options that, written back as "--out=DIR --split-rows=N --update
// --dry-run --log=FILE --list-separator=C --decimal-separator=C -- PATH...",
// read the same, with every path one of the arguments, in their order.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "app/options.h"
#include "app/report.h"
#include "error.h"
#include "fuzz_check.h"
#include "platform/split_command_line.h"

namespace {

void checkBatchArguments(const std::vector<std::string>& args) {
  using namespace tlq;
  BatchOptions options;
  try {
    options = parseBatchArguments(args);
  } catch (const UsageError& e) {
    FUZZ_CHECK(!e.message().empty());
    return;
  }
  FUZZ_CHECK(!options.paths.empty());
  size_t at = 0;
  for (const std::string& path : options.paths) {
    while (at < args.size() && args[at] != path) ++at;
    FUZZ_CHECK(at < args.size());
    ++at;
  }
  std::vector<std::string> again;
  if (!options.outDir.empty()) again.push_back("--out=" + options.outDir);
  if (options.splitRows) again.push_back("--split-rows=" + std::to_string(options.splitRows));
  if (options.update) again.push_back("--update");
  if (options.dryRun) again.push_back("--dry-run");
  if (!options.logFile.empty()) again.push_back("--log=" + options.logFile);
  if (options.listSeparator) again.push_back("--list-separator=" + std::string(1, *options.listSeparator));
  if (options.decimalSeparator) again.push_back("--decimal-separator=" + std::string(1, *options.decimalSeparator));
  again.push_back("--");
  again.insert(again.end(), options.paths.begin(), options.paths.end());
  BatchOptions read = parseBatchArguments(again);
  FUZZ_CHECK(read.outDir == options.outDir && read.splitRows == options.splitRows && read.paths == options.paths);
  FUZZ_CHECK(read.update == options.update && read.dryRun == options.dryRun && read.logFile == options.logFile);
  FUZZ_CHECK(read.listSeparator == options.listSeparator && read.decimalSeparator == options.decimalSeparator);
}

}  // namespace

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
  checkBatchArguments(std::vector<std::string>(args.begin() + 1, args.end()));
  return 0;
}
