#include "app/dispatch.h"

#include <cstdio>
#include <new>
#include <string>

#include "app/batch_mode.h"
#include "app/command_line.h"
#include "app/options.h"
#include "app/registration.h"
#include "app/report.h"
#include "convert/convert.h"
#include "error.h"
#include "platform/console.h"
#include "platform/shell.h"

namespace tlq {

namespace {

void print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

bool isHelpSwitch(const std::string& arg) {
#ifdef _WIN32
  if (arg == "/?") return true;
#endif
  return arg == "--help" || arg == "-h";
}

// Writes the report; when even that fails, the last resort shows the second
// failure.
int report(const Error& failure, const std::string& param) {
  try {
    std::string path = dumpTrace(formatTrace(failure), param, true);
    // A command line has standard error to show what happened (the desktop
    // program of Windows has none).
#ifdef _WIN32
    if (!startedFromDesktop())
#endif
      print(stderr, "tlqconverter: " + failure.message() + " (report: " + path + ")\n");
    return exitFailed;
  } catch (const Error& e) {
    showLastResort(traceText(e) + "Error: unhandled exception: " + e.message() + " [" + std::string(e.kindName()) +
                   "]\n");
    return exitNoReport;
  }
}

}  // namespace

int runMain() {
  std::string param;
  try {
    TLQ_OP("main");
    if (paramCount() == 0) {
      TLQ_LINE();
      param = openFileDialog("", {{"Treloqa (*.tlq)", "*.tlq"}});
      if (param.empty()) return exitOk;  // cancelled
    } else {
      TLQ_LINE();
      param = paramStr(1);
      if (isHelpSwitch(param) || param == "--version") {
        attachParentConsole();
        print(stdout, param == "--version" ? versionText() : helpText());
        return exitOk;
      }
      if (param == "--batch") {
        std::vector<std::string> args = commandLineParams();
        TLQ_LINE();
        return runBatch(std::vector<std::string>(args.begin() + 1, args.end()));
      }
    }
    if (param == "--install") return regInstall() ? exitOk : exitFailed;
    if (param == "--uninstall") return regUninstall() ? exitOk : exitFailed;
    TLQ_LINE();
    std::string csv = mainConvert(param);
    osOpenFile(csv);
    return exitOk;
  } catch (const Error& e) {
    return report(e, param);
  } catch (const std::bad_alloc&) {
    return report(OutOfMemoryError("out of memory"), param);
  } catch (const std::exception& e) {
    return report(UnexpectedError(e.what()), param);
  }
}

}  // namespace tlq
