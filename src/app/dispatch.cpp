#include "app/dispatch.h"

#include <cstdio>
#include <new>
#include <string>

#include "app/batch_mode.h"
#include "app/batch_text.h"
#include "app/command_line.h"
#include "app/failure_message.h"
#include "app/merge_mode.h"
#include "app/options.h"
#include "app/quality_text.h"
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

// A usage error of the single conversion's command line.
int singleUsageFailure(const std::string& message) {
  attachParentConsole();
  writeText(stderr, "tlqconverter: " + message +
                        "\nUsage: tlqconverter [--salvage] [--interval SECONDS] [--xlsx] [--from T] [--to T]\n"
                        "                    [RECORDING]\n"
                        "Try \"tlqconverter --help\" for more.\n");
  return exitFailed;
}

// "--salvage" before a switch that converts nothing, or before a mode
// that takes it among its own options.
std::string salvageMisplaced(const std::string& arg) {
  if (arg == "--batch" || arg == "--check" || arg == "--merge")
    return "--salvage goes after " + arg + ", among its options";
  if (arg == "--install" || arg == "--uninstall" || arg == "--version" || isHelpSwitch(arg))
    return "--salvage does not go with " + arg + " (it converts no recording)";
  return "--salvage takes a recording, not the switch \"" + displayText(arg) + "\"";
}

int lastResort(const Error& failure) {
  showLastResort(traceText(failure) + "Error: unhandled exception: " + failure.message() + " [" +
                 std::string(failure.kindName()) + "]\n");
  return exitNoReport;
}

// When the report itself cannot be written (the disk that failed the table
// is full, and so is the temporary folder): the failure still comes first,
// then why there is no report, and the last resort's trace of that second
// failure (raised while `main` is active, which the trace shows).
int reportUnwritten(const Error& failure, const std::string& param, const Error& unwritten) {
  const std::string why = "the error report could not be written: " + withReason(unwritten.message(), unwritten.reason());
  if (startedFromDesktop()) {
    showMessage("tlqconverter", failureMessage(failure, param) + "\n\n" + why, true);
    return exitFailed;
  }
  writeText(stderr, "tlqconverter: " + withReason(failure.message(), failure.reason()) + "\ntlqconverter: " + why + "\n");
  lastResort(unwritten);
  return exitFailed;
}

// Writes the report; when even that fails, reportUnwritten.
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
    return reportUnwritten(failure, param, e);
  } catch (const std::exception& e) {
    return reportUnwritten(failure, param, libraryFailure(e));
  }
}

}  // namespace

int runMain() {
  std::string param;
  // Active until the report is written, so that a failure of the report
  // shows it too.
  TLQ_OP("main");
  try {
    // "--salvage" first: a recording whose text broke is converted up to
    // the fault.
    int first = 1;
    const bool salvage = paramCount() >= 1 && TLQ_AT(paramStr(1)) == "--salvage";
    if (salvage) first = 2;
    // "--interval SECONDS" before the rest: the single conversion's gaps
    // measured against it.
    std::optional<int64_t> interval;
    if (paramCount() >= first && TLQ_AT(paramStr(first)) == "--interval") {
      if (paramCount() < first + 1) return singleUsageFailure("--interval needs a value");
      try {
        interval = intervalOption(TLQ_AT(paramStr(first + 1)));
      } catch (const UsageError& e) {
        return singleUsageFailure(e.message());
      }
      first += 2;
    }
    bool workbook = paramCount() >= first && TLQ_AT(paramStr(first)) == "--xlsx";
    if (workbook) ++first;
    // "--from T" and "--to T" before the recording: only its lines in that window.
    std::optional<std::string> from, to;
    while (paramCount() >= first + 1 && (TLQ_AT(paramStr(first)) == "--from" || TLQ_AT(paramStr(first)) == "--to")) {
      std::optional<std::string>& bound = TLQ_AT(paramStr(first)) == "--from" ? from : to;
      if (bound) return singleUsageFailure(TLQ_AT(paramStr(first)) + " is given twice");
      bound = TLQ_AT(paramStr(first + 1));
      first += 2;
    }
    TimeWindow window;
    if (from || to) {
      try {
        window = windowOf(from, to);
      } catch (const UsageError& e) {
        return singleUsageFailure(e.message());
      }
      if (paramCount() >= first && TLQ_AT(paramStr(first)).starts_with("-"))
        return singleUsageFailure("--from and --to take a recording, not \"" + displayText(TLQ_AT(paramStr(first))) +
                                  "\"");
    }
    if (paramCount() == first - 1) {
      param = TLQ_AT(openFileDialog("", {{"Treloqa (*.tlq)", "*.tlq"}}));
      if (param.empty()) return exitOk;  // cancelled
    } else if (workbook) {
      param = TLQ_AT(paramStr(first));
      if (param.starts_with("-")) return switchAfterXlsx(param);
    } else if (first > 1) {
      param = TLQ_AT(paramStr(first));
      if (param.starts_with("-") && !interval) return singleUsageFailure(salvageMisplaced(param));
      if (param.starts_with("-"))
        return singleUsageFailure("--interval takes a recording after its value, not the switch \"" +
                                  displayText(param) + "\"");
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
      if (param == "--check") {
        std::vector<std::string> args = commandLineParams();
        return TLQ_AT(runCheck(std::vector<std::string>(args.begin() + 1, args.end())));
      }
      if (param == "--merge") {
        std::vector<std::string> args = commandLineParams();
        return TLQ_AT(runMerge(std::vector<std::string>(args.begin() + 1, args.end())));
      }
    }
    if (!workbook && (param == "--install" || param == "--uninstall")) {
      bool currentUser = paramCount() >= 2 && TLQ_AT(paramStr(2)) == "--current-user";
      bool done = param == "--install" ? TLQ_AT(regInstall(currentUser)) : TLQ_AT(regUninstall(currentUser));
      return done ? exitOk : exitFailed;
    }
    SingleRun run = TLQ_AT(convertWithProgress(param, workbook, &window, interval, salvage));
    if (run.stopped) return run.stopped;  // the person asked: no report
    // A terminal is told the findings of the recording's quality, what a
    // stopped run had left and was removed, and where the table went (no
    // program may open it); the desktop sees it opened.
    if (isTerminal(stderr)) {
      if (run.counts.salvaged) writeText(stderr, "tlqconverter: " + salvagedLine(param, *run.counts.salvaged) + "\n");
      for (const std::string& line : findingLines(displayText(param), run.counts.quality))
        writeText(stderr, "tlqconverter: " + line + "\n");
      for (const std::string& path : run.counts.swept)
        writeText(stderr, "tlqconverter: removed: " + displayText(path) + " (left by a run that was stopped)\n");
      writeText(stderr, writtenLine(run, workbook));
    }
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
