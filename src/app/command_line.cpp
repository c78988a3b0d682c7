#include "app/command_line.h"

#include "error.h"
#include "platform/system.h"

namespace tlq {

namespace {
const std::vector<std::string>& arguments() {
  static const std::vector<std::string> args = processArguments();
  return args;
}
}  // namespace

int paramCount() { return arguments().empty() ? 0 : static_cast<int>(arguments().size()) - 1; }

std::string paramStr(int i) {
  TLQ_OP("paramStr");
  if (i < 0 || static_cast<size_t>(i) >= arguments().size())
    throw IndexError("index " + std::to_string(i) + " not in 0 .. " + std::to_string(arguments().size() - 1));
  return arguments()[static_cast<size_t>(i)];
}

std::vector<std::string> commandLineParams() {
  const auto& args = arguments();
  return args.empty() ? std::vector<std::string>() : std::vector<std::string>(args.begin() + 1, args.end());
}

}  // namespace tlq
