#include "app/dispatch.h"

#include <cstdio>
#include <new>
#include <string>

#include "app/batch_mode.h"
#include "app/batch_text.h"
#include "app/command_line.h"
#include "app/failure_message.h"
#include "app/options.h"
#include "app/registration.h"
#include "app/report.h"
#include "app/single_mode.h"
#include "convert/convert.h"
#include "convert/convert_workbook.h"
#include "error.h"
#include "platform/console.h"
#include "platform/shell.h"

namespace tlq {

namespace {

bool isHelpSwitch(const std::string& arg) {
#ifdef _WIN32
  if (arg == "/?") return true;
#endif
  return arg == "--help" || arg == "-h";
}

// After --xlsx a recording is due: a switch there ("--batch", "--help", ...)
// is a usage error, not a recording's name.
int switchAfterXlsx(const std::string& arg) {
  attachParentConsole();
  writeText(stderr, "tlqconverter: --xlsx takes a recording, not the switch \"" + displayText(arg) +
                        "\"\nUsage: tlqconverter --xlsx [RECORDING]\n"
                        "       tlqconverter --batch --xlsx [OPTION]... PATH...\n"
                        "Try \"tlqconverter --help\" for more.\n");
  return exitFailed;
}

int lastResort(const Error& failure) {
  showLastResort(traceText(failure) + "Error: unhandled exception: " + failure.message() + " [" +
                 std::string(failure.kindName()) + "]\n");
  return exitNoReport;
}

// Writes the report; when even that fails, the last resort shows the second
// failure (raised while `main` is active, which its trace shows).
int report(const Error& failure, const std::string& param) {
  try {
    // From the desktop a message says what failed before the report (for
    // support) opens; a command line has standard error to show it.
    const bool desktop = startedFromDesktop();
    std::string path = dumpTrace(formatTrace(failure), param, !desktop);
    if (desktop) {
      showMessage("tlqconverter", failureMessage(failure, param), true);
      osOpenFile(path);
    }
#ifdef _WIN32
    if (!desktop)  // the desktop program of Windows has no standard error
#endif
      writeText(stderr, "tlqconverter: " + withReason(failure.message(), failure.reason()) + " (report: " + path + ")\n");
    return exitFailed;
  } catch (const Error& e) {
    return lastResort(e);
  } catch (const std::exception& e) {
    return lastResort(libraryFailure(e));
  }
}

}  // namespace

int runMain() {
  std::string param;
  // Active until the report is written, so that a failure of the report
  // shows it too.
  TLQ_OP("main");
  try {
    bool workbook = paramCount() >= 1 && TLQ_AT(paramStr(1)) == "--xlsx";
    if (paramCount() == (workbook ? 1 : 0)) {
      param = TLQ_AT(openFileDialog("", {{"Treloqa (*.tlq)", "*.tlq"}}));
      if (param.empty()) return exitOk;  // cancelled
    } else if (workbook) {
      param = TLQ_AT(paramStr(2));
      if (param.starts_with("-")) return switchAfterXlsx(param);
    } else {
      param = TLQ_AT(paramStr(1));
      if (isHelpSwitch(param) || param == "--version") {
        attachParentConsole();
        writeText(stdout, param == "--version" ? versionText() : helpText());
        return exitOk;
      }
      if (param == "--batch") {
        std::vector<std::string> args = commandLineParams();
        return TLQ_AT(runBatch(std::vector<std::string>(args.begin() + 1, args.end())));
      }
    }
    if (!workbook && (param == "--install" || param == "--uninstall")) {
      bool currentUser = paramCount() >= 2 && TLQ_AT(paramStr(2)) == "--current-user";
      bool done = param == "--install" ? TLQ_AT(regInstall(currentUser)) : TLQ_AT(regUninstall(currentUser));
      return done ? exitOk : exitFailed;
    }
    SingleRun run = TLQ_AT(convertWithProgress(param, workbook));
    if (run.stopped) return run.stopped;  // the person asked: no report
    // A terminal is told where the table went (no program may open it); the
    // desktop sees it opened.
    if (isTerminal(stderr)) writeText(stderr, writtenLine(run, workbook));
    TLQ_AT(osOpenFile(run.table));
    return exitOk;
  } catch (const Error& e) {
    return TLQ_AT(report(e, param));
  } catch (const std::exception& e) {
    Error failure = libraryFailure(e);  // before main's line moves on to the report
    return TLQ_AT(report(failure, param));
  }
}

}  // namespace tlq
