// Command-line entry: converts the recording named by the first argument.
#include <cstdio>
#include <exception>
#include <string>

#include "convert/convert.h"
#include "error.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "platform/win32_text.h"
#endif

namespace {

int run(int argc, const std::string& path) {
  if (argc < 2) {
    std::fputs("usage: tlqconverter RECORDING.tlq\n", stderr);
    return 2;
  }
  try {
    tlq::mainConvert(path);
    return 0;
  } catch (const tlq::Error& e) {
    std::string line = "[" + std::string(e.kindName()) + "]: " + e.message() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "[Error]: %s\n", e.what());
  }
  return 1;
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16; inside the program every text is UTF-8. The
// standard streams are binary: a line ends in a bare line feed.
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return run(argc, argc > 1 ? tlq::narrow(argv[1]) : std::string());
}
#else
int main(int argc, char** argv) { return run(argc, argc > 1 ? argv[1] : ""); }
#endif
