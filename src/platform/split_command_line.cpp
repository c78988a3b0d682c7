#include "platform/split_command_line.h"

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

}  // namespace tlq
