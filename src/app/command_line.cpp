#include "app/command_line.h"

#include "error.h"
#include "platform/system.h"

namespace tlq {

std::vector<std::string> splitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  for (;;) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) return args;
    std::string arg;
    bool quoted = false;
    while (i < line.size()) {
      char c = line[i];
      if (c == '\\') {
        size_t n = 0;
        while (i < line.size() && line[i] == '\\') ++n, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
      } else if (c == '"') {
        ++i;
        if (!quoted) {
          quoted = true;
        } else if (i < line.size() && line[i] == '"') {
          arg += '"';
          ++i;
        } else {
          break;  // the closing quote ends the argument
        }
      } else if (!quoted && (c == ' ' || c == '\t')) {
        break;
      } else {
        arg += c;
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
}

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
