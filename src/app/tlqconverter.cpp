// Command-line entry: converts the recording named by the first argument.
#include <cstdio>
#include <exception>

#include "convert/convert.h"
#include "error.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: tlqconverter RECORDING.tlq\n", stderr);
    return 2;
  }
  try {
    tlq::mainConvert(argv[1]);
    return 0;
  } catch (const tlq::Error& e) {
    std::fprintf(stderr, "[%.*s]: %s\n", static_cast<int>(e.kindName().size()), e.kindName().data(),
                 e.message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "[Error]: %s\n", e.what());
  }
  return 1;
}
