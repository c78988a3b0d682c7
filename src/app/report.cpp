#include "app/report.h"

#include "app/command_line.h"
#include "error.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/temp_files.h"

#ifndef TLQ_SUPPORT_EMAIL
#error "TLQ_SUPPORT_EMAIL is set by the build"
#endif

namespace tlq {

std::string quoteShellWindows(std::string_view arg) {
  bool quote = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
  std::string out = quote ? "\"" : "";
  size_t held = 0;  // backslashes not written yet
  for (char c : arg) {
    if (c == '\\') {
      ++held;
    } else if (c == '"') {
      out.append(2 * held, '\\');
      out += "\\\"";
      held = 0;
    } else {
      out.append(held, '\\');
      out += c;
      held = 0;
    }
  }
  out.append(held, '\\');
  if (quote) {
    out.append(held, '\\');
    out += '"';
  }
  return out;
}

std::string getFullCommandLine() {
  std::string line = getAppFilename();
  for (const std::string& arg : commandLineParams()) line += " " + quoteShellWindows(arg);
  return line;
}

std::string getErrorReportPrefix() {
  return "Please send this error report to " TLQ_SUPPORT_EMAIL "\r\n" + std::string(55, '-') + "\r\n\r\nCMD: " +
         getFullCommandLine() + "\r\n";
}

std::string dumpTrace(const std::string& trace, const std::string& param, bool open) {
  TLQ_OP("dumpTrace");
  TempFile report = TLQ_AT(mkstemp("tlqconverter_error_", ".txt", ""));
  try {
    TLQ_AT(report.file->write(getErrorReportPrefix() + "\r\n"));
    TLQ_AT(report.file->write("param: " + param + "\r\n"));
    TLQ_AT(report.file->write(trace));
    TLQ_AT(report.file->close());
  } catch (const Error&) {
    // A report cut short (a full disk) would only mislead: it goes, and the
    // failure with it.
    report.file.reset();
    removeFile(report.path);
    throw;
  }
  if (open) TLQ_AT(osOpenFile(report.path));
  return report.path;
}

}  // namespace tlq
