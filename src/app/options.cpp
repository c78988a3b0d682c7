#include "app/options.h"

#include <set>

#include "app/batch_text.h"
#include "error.h"
#include "table/quality.h"
#include "text.h"

#ifndef TLQ_VERSION
#error "TLQ_VERSION is set by the build"
#endif

namespace tlq {

namespace {

uint64_t rowsOf(const std::string& text) {
  if (std::optional<uint64_t> n = parseCount(text)) return *n;
  throw UsageError("--split-rows needs a whole number from 1 on, not \"" + displayText(text) + "\"");
}

constexpr std::string_view kListMarks = "!#$%&'()*+,-./:;<=>?@[\\]^`{|}~";
constexpr std::string_view kDecimalMarks = "!#$%&'()*,./:;<=>?@[\\]^`{|}~";

}  // namespace

std::string separatorProblem(const std::string& option, const std::string& value, bool decimal) {
  std::string_view marks = decimal ? kDecimalMarks : kListMarks;
  bool blank = !decimal && (value == " " || value == "\t");
  if (value.size() == 1 && (blank || marks.find(value[0]) != std::string_view::npos)) return "";
  return option + " needs one character: " + (decimal ? "one of " : "a space, a tab or one of ") + std::string(marks) +
         ", not \"" + displayText(value) + "\"";
}

int64_t intervalOption(const std::string& value) {
  if (std::optional<int64_t> n = parseIntervalNanoseconds(value)) return *n;
  throw UsageError("--interval takes seconds above 0 (digits, \".\" before decimals), not \"" + displayText(value) +
                   "\"");
}

TimeWindow windowOf(const std::optional<std::string>& from, const std::optional<std::string>& to) {
  auto bound = [](const char* option, const std::optional<std::string>& text) -> std::optional<IsoDateTime> {
    if (!text) return std::nullopt;
    if (std::optional<IsoDateTime> time = parseWindowBound(*text)) return time;
    throw UsageError(std::string(option) + " needs a date and time as 2026-03-01, 2026-03-01T08:00 or " +
                     "2026-03-01T08:00:00.000+02:00, not \"" + displayText(*text) + "\"");
  };
  return TimeWindow(bound("--from", from), bound("--to", to));
}

std::string sameSeparators(char c) {
  return "the list and the decimal separator need to differ, not \"" + displayText(std::string(1, c)) + "\" for both";
}

void refuseForCheck(const BatchOptions& options) {
  const char* refused = !options.outDir.empty()   ? "--out"
                        : options.workbooks        ? "--xlsx"
                        : options.splitRows > 0    ? "--split-rows"
                        : options.update           ? "--update"
                        : options.dryRun           ? "--dry-run"
                        : options.deleteStaleParts ? "--delete-stale-parts"
                                                   : nullptr;
  if (refused) throw UsageError(std::string(refused) + " does not go with --check (it writes no table)");
}

BatchOptions parseBatchArguments(const std::vector<std::string>& args, const char* mode) {
  BatchOptions options;
  std::set<std::string> given;
  bool pathsOnly = false;
  std::optional<std::string> from, to;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (pathsOnly || arg.empty() || arg[0] != '-' || arg == "-") {
      options.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      pathsOnly = true;
      continue;
    }
    // "--name", "--name VALUE" or "--name=VALUE".
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    const bool flag = name == "--update" || name == "--dry-run" || name == "--xlsx" || name == "--delete-stale-parts" ||
                      name == "--quiet" || name == "--salvage";
    if (!flag && name != "--out" && name != "--split-rows" && name != "--log" && name != "--list-separator" &&
        name != "--decimal-separator" && name != "--interval" && name != "--from" && name != "--to")
      throw UsageError("unknown option \"" + displayText(arg) + "\"");
    if (!given.insert(name).second) throw UsageError(name + " is given twice");
    if (flag) {
      if (eq != std::string::npos) throw UsageError(name + " takes no value");
      (name == "--update"               ? options.update
       : name == "--xlsx"               ? options.workbooks
       : name == "--delete-stale-parts" ? options.deleteStaleParts
       : name == "--quiet"              ? options.quiet
       : name == "--salvage"            ? options.salvage
                                        : options.dryRun) = true;
      continue;
    }
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw UsageError(name + " needs a value");
    }
    if (name == "--out") {
      if (value.empty()) throw UsageError("--out needs a folder");
      options.outDir = value;
    } else if (name == "--log") {
      if (value.empty()) throw UsageError("--log needs a file");
      options.logFile = value;
    } else if (name == "--from" || name == "--to") {
      (name == "--from" ? from : to) = value;
    } else if (name == "--split-rows") {
      options.splitRows = rowsOf(value);
    } else if (name == "--interval") {
      options.intervalNanoseconds = intervalOption(value);
    } else {
      // As the regional settings give it: one byte, one that keeps the table readable.
      const bool decimal = name == "--decimal-separator";
      if (std::string problem = separatorProblem(name, value, decimal); !problem.empty()) throw UsageError(problem);
      (decimal ? options.decimalSeparator : options.listSeparator) = value[0];
    }
  }
  options.window = windowOf(from, to);
  if (options.window.active() && options.update)
    throw UsageError("--update does not go with --from or --to (an older table may hold another window)");
  if (options.listSeparator && options.listSeparator == options.decimalSeparator)
    throw UsageError(sameSeparators(*options.listSeparator));
  if (options.workbooks && options.splitRows > 0)
    throw UsageError("--split-rows does not go with --xlsx (a workbook goes on over further sheets)");
  if (options.workbooks && options.deleteStaleParts)
    throw UsageError("--delete-stale-parts does not go with --xlsx (a workbook has no parts)");
  if (options.paths.empty()) throw UsageError(std::string(mode) + " needs a recording or a folder");
  return options;
}

std::string versionText() { return "tlqconverter " TLQ_VERSION "\n"; }

std::string usageHint() {
  return "Usage: tlqconverter --batch [--xlsx] [--out DIR] [--split-rows N] [--update] [--dry-run]\n"
         "                          [--delete-stale-parts] [--log FILE] [--list-separator C]\n"
         "                          [--decimal-separator C] [--quiet] [--interval SECONDS]\n"
         "                          [--from T] [--to T] [--salvage] [--] PATH...\n"
         "       tlqconverter --check [--quiet] [--log FILE] [--interval SECONDS] [--from T]\n"
         "                            [--to T] [--salvage] [--] PATH...\n"
         "Try \"tlqconverter --help\" for more.\n";
}

std::string helpText() {
  return "Usage:\n"
         "  tlqconverter [--salvage] [--interval SECONDS] [--xlsx] [--from T] [--to T]\n"
         "               [RECORDING]\n"
         "  tlqconverter --batch [--xlsx] [--out DIR] [--split-rows N] [--update]\n"
         "                       [--delete-stale-parts] [--dry-run] [--quiet] [--log FILE]\n"
         "                       [--from T] [--to T] [--interval SECONDS] [--salvage]\n"
         "                       [--list-separator C] [--decimal-separator C] [--] PATH...\n"
         "  tlqconverter --merge OUT.csv|OUT.xlsx [--split-rows N] [--from T] [--to T]\n"
         "                       [--interval SECONDS] [--dry-run] [--quiet] [--log FILE]\n"
         "                       [--list-separator C] [--decimal-separator C] [--salvage]\n"
         "                       [--] PATH...\n"
         "  tlqconverter --check [--quiet] [--log FILE] [--interval SECONDS] [--from T]\n"
         "                       [--to T] [--salvage] [--] PATH...\n"
         "  tlqconverter --install | --uninstall [--current-user]\n"
         "  tlqconverter --help | --version\n"
         "\n"
         "Converts field recordings (.tlq) into CSV tables that a spreadsheet opens\n"
         "directly: one line per sample with its time stamp, each sensor's raw payload\n"
         "and its decoded values, in the list and decimal separators of the regional\n"
         "settings.\n"
         "\n"
         "  RECORDING        writes the table beside the recording (RECORDING with the\n"
         "                   extension .csv, replacing a file of that name) and opens it\n"
         "                   in the spreadsheet program. Without RECORDING, a file\n"
         "                   dialog asks for one. A failure ends in an error report in\n"
         "                   the temporary folder, which is opened too.\n"
         "\n"
         "  --xlsx RECORDING writes a workbook instead (RECORDING with the extension\n"
         "                   .xlsx) and opens it. Sheet \"data\" has the table's columns\n"
         "                   as typed cells: numbers as numbers, time stamps in ISO 8601\n"
         "                   as date-times, a bold, frozen header with a filter. The\n"
         "                   time stamps' zone is decided from all of them: one offset,\n"
         "                   the times as written and the header names it; several\n"
         "                   (summer time), all in UTC. Rows beyond 1,048,575 go on\n"
         "                   \"data 2\", \"data 3\", ... Sheet \"recording\" tells where\n"
         "                   the table comes from; sheet \"chart\" plots each sensor\n"
         "                   against time (readings of -999.0 left out; a recording of\n"
         "                   more than 1,000 samples as each reading's minimum and\n"
         "                   maximum per bucket of samples). The workbook is written\n"
         "                   whole or not at all; while it is made, its temporary files\n"
         "                   beside it take about 7 times the recording's size.\n"
         "\n"
         "  --batch PATH...  converts many recordings at once. Each PATH is a recording\n"
         "                   or a folder, searched with its subfolders for files whose\n"
         "                   names end in .tlq (links to folders are not followed);\n"
         "                   under Windows, * and ? in a PATH match names.\n"
         "                   Each table is written whole or not at all: a failure keeps\n"
         "                   every file of an older table as it was, writes an error\n"
         "                   report and the batch goes on. An older table keeps its\n"
         "                   permissions; a read-only one is refused; a table that is a\n"
         "                   link is written where it leads. Every name of a recording\n"
         "                   (links too) gets its own table. A table reaches the disk\n"
         "                   before it goes in, under a lock on its folder that another\n"
         "                   batch over the same folder waits for (30 s at most, then\n"
         "                   that recording fails). No spreadsheet is opened.\n"
         "                   At the end a summary lists the failures (with the system's\n"
         "                   reason), the recordings that dropped entries for a failed\n"
         "                   CRC, the stale parts, and the totals.\n"
         "                   Ctrl-C stops the batch: the tables already written stay.\n"
         "    --xlsx           writes workbooks (as --xlsx RECORDING does) instead of CSV\n"
         "                     tables; not with --split-rows.\n"
         "    --out DIR        writes the tables below DIR, each at the recording's path\n"
         "                     below the PATH it was found in (a PATH that is a file puts\n"
         "                     its table straight into DIR); folders are made as needed.\n"
         "    --split-rows N   writes a table of more than N data lines in parts of N\n"
         "                     lines, each with the header line: NAME.csv,\n"
         "                     NAME_part2.csv, NAME_part3.csv, ... A spreadsheet shows\n"
         "                     at most 1,048,576 rows: --split-rows 1048575 gives parts\n"
         "                     it opens whole. Files named as parts beyond a table's\n"
         "                     last one (an earlier split into more parts) are listed\n"
         "                     as stale and kept, unless a recording owns the name.\n"
         "    --delete-stale-parts\n"
         "                     removes the stale parts it lists, but only those still\n"
         "                     as this program left them (their time of last change\n"
         "                     tells): never one changed since, a file of the user's,\n"
         "                     one whose first line is not the table's header, a link\n"
         "                     or a read-only file; not with --xlsx.\n"
         "    --update         converts only recordings whose table is not as this run\n"
         "                     would write it: missing, a part missing or changed, made\n"
         "                     from another state of the recording or with other\n"
         "                     options (split, separators). The files of a table bear\n"
         "                     one time of last change that proves this; a table that\n"
         "                     cannot prove itself (written by hand or by a single\n"
         "                     conversion, or on FAT or exFAT) is converted again.\n"
         "    --dry-run        finds the recordings and prints the table each would\n"
         "                     get, or why it would fail where that is known before\n"
         "                     reading it, and the stale parts; writes nothing.\n"
         "    --quiet          shows no window, no message box and no progress line, and\n"
         "                     opens no file, also from the desktop: for a timer or an\n"
         "                     autostart script (the summary still goes to standard\n"
         "                     output; the exit code tells the outcome). A systemd user\n"
         "                     timer: ~/.config/systemd/user/tlq-batch.service holds\n"
         "                       [Service]\n"
         "                       Type=oneshot\n"
         "                       ExecStart=/usr/bin/tlqconverter --batch --update \\\n"
         "                         --quiet %h/recordings\n"
         "                     and tlq-batch.timer beside it\n"
         "                       [Timer]\n"
         "                       OnCalendar=*-*-* 19:00\n"
         "                       Persistent=true\n"
         "                       [Install]\n"
         "                       WantedBy=timers.target\n"
         "                     then \"systemctl --user enable --now tlq-batch.timer\"\n"
         "                     converts the evening's recordings, and \"journalctl\n"
         "                     --user -u tlq-batch\" shows the summaries.\n"
         "    --log FILE       writes a line per recording (UTF-8 with a byte-order\n"
         "                     mark, separated as the tables are): its tables,\n"
         "                     outcome, data lines, entries dropped for a failed CRC,\n"
         "                     bytes read, seconds, a failure's kind, message and\n"
         "                     report, its stale parts, and its quality (below).\n"
         "    --list-separator C, --decimal-separator C\n"
         "                     the separators of the tables, in place of those of the\n"
         "                     regional settings: a space, a tab or a punctuation mark\n"
         "                     (not \" or _; no sign for the decimal separator), one\n"
         "                     character each, not the same.\n"
         "    --interval SECONDS\n"
         "                     the interval the gaps are measured against (a positive\n"
         "                     decimal with \".\"), in place of the median; also for the\n"
         "                     single conversion and --check.\n"
         "    --from T, --to T only the data lines whose time stamp is at or after T\n"
         "                     (--from) and before T (--to); lines without one are\n"
         "                     left out. T: 2026-03-01, 2026-03-01T08:00, ...T08:00:00,\n"
         "                     ...T08:00:00.000, with or without Z or +hh:mm; with a\n"
         "                     zone it is an instant for stamps that have one, else\n"
         "                     the times are compared as written. Also with a single\n"
         "                     RECORDING, with --merge and with --check (which then\n"
         "                     measures only those lines); not with --update. The\n"
         "                     summary and the log count the lines left out.\n"
         "    --salvage        converts a recording whose text ends early or breaks (the\n"
         "                     logger lost power, a copy broke off) up to its last\n"
         "                     complete entry before the fault, instead of failing:\n"
         "                     the summary says \"salvaged: PATH: N entries before the\n"
         "                     fault (MESSAGE); the rest is lost\", the log's outcome is\n"
         "                     \"salvaged\", a workbook's sheet \"recording\" has a row\n"
         "                     \"salvaged\". An entry that is complete but not a valid\n"
         "                     entry, or a fault before the \"data\" array, still fails.\n"
         "                     The recording is not changed. Such a table proves\n"
         "                     nothing to --update, which converts it again. Also with\n"
         "                     a single RECORDING (first), --merge and --check (where\n"
         "                     it is a finding).\n"
         "    --               ends the options: every argument after it is a PATH.\n"
         "\n"
         "  --merge OUT.csv|OUT.xlsx PATH...\n"
         "                   writes the recordings that --batch would find as ONE\n"
         "                   table OUT: CSV for .csv, a workbook as --xlsx writes one\n"
         "                   for .xlsx (in any case; the sheet recording lists each\n"
         "                   recording merged; stamps of several offsets in UTC).\n"
         "                   First the column recording (the path below its PATH, /\n"
         "                   between folders), then the columns of a table with every\n"
         "                   sensor group any of them has; each field as the\n"
         "                   recording's own table has it.\n"
         "                   Recordings go by their first time stamp (UTC where zoned;\n"
         "                   those without one last, in path order). A line equal to\n"
         "                   one an earlier recording wrote (a download holding the\n"
         "                   last one's entries again) is left out and counted. OUT\n"
         "                   is written whole or not at all: a recording that fails\n"
         "                   fails the merge (exit code 2) and an older OUT is kept.\n"
         "                   --split-rows (CSV), --from, --to, --interval (the finding\n"
         "                   lines per recording), --dry-run (the order and OUT),\n"
         "                   --log (plus: repeated lines left out), --quiet, --salvage\n"
         "                   and the separators apply; --out, --update, --xlsx and\n"
         "                   --delete-stale-parts do not. Example, a\n"
         "                   campaign folder with a subfolder per site and a recording\n"
         "                   per download:\n"
         "                     tlqconverter --merge bridge.csv --from 2026-03-01 \\\n"
         "                       Bridge-2026\n"
         "\n"
         "  --check PATH...  finds recordings as --batch does, reads and measures each,\n"
         "                   and writes no table: prints the findings and the totals.\n"
         "                   --log, --quiet, --interval and --salvage as for --batch\n"
         "                   (the log's outcome \"checked\"); --out, --xlsx,\n"
         "                   --split-rows, --update, --dry-run and --delete-stale-parts\n"
         "                   are refused; --from and --to measure only the lines in\n"
         "                   the window. Exit code\n"
         "                   0 no finding, 1 a finding, 2 a recording could not be read\n"
         "                   or a usage error, 130/143/129 on signals.\n"
         "\n"
         "Quality, measured in every conversion from its rows: the interval (median of\n"
         "the positive differences between consecutive time stamps, in UTC where they\n"
         "have a zone, or --interval); gaps (more than 1.5 intervals; round(difference /\n"
         "interval) - 1 samples missing, at least 1) and the longest; time stamps not\n"
         "after the one before (the line of the first); lines without a time stamp;\n"
         "unreadable readings per sensor (inclino1, inclino2, elasto, force: no number\n"
         "in a value column, or an inclinometer's -999.0 pair). A finding is a gap, a\n"
         "stamp not after the one before, an unreadable reading or an entry dropped for\n"
         "a failed CRC (and, with --salvage, a recording salvaged): the summary, and\n"
         "the single conversion on a terminal, show a line each (gaps:, order:,\n"
         "unreadable:, salvaged:), the totals count the recordings with findings, and\n"
         "--log has the columns interval s, gaps, samples missing,\n"
         "longest gap s, longest gap at, stamps not after the one before, first not\n"
         "after at line, lines without a time stamp, unreadable inclino1, unreadable\n"
         "inclino2, unreadable elasto, unreadable force (empty where none applies).\n"
         "\n"
         "  --install        adds the \"Open with Excel\" and \"Open as workbook\" verbs to\n"
         "                   the recording file type and \"Check recordings\" (--check) to\n"
         "                   folders (HKEY_CLASSES_ROOT). When that is refused (a\n"
         "                   standard user), it adds them for the user alone\n"
         "                   (HKEY_CURRENT_USER\\Software\\Classes) and says so.\n"
         "    --current-user   adds them for the user alone at once.\n"
         "  --uninstall      removes them again, from both places (with --current-user,\n"
         "                   the user's only).\n"
         "  --help           shows this text.\n"
         "  --version        shows the version.\n"
         "\n"
         "Environment: TLQCONVERTER_THREADS sets the threads a conversion uses (a batch\n"
         "uses at most the processor's threads). TLQCONVERTER_SHEET_ROWS lowers the\n"
         "data rows per sheet of a workbook, TLQCONVERTER_LOCK_WAIT the seconds a\n"
         "table waits for its folder's lock, TLQCONVERTER_QUIET_SECONDS the seconds a\n"
         "conversion runs before it shows its progress (for tests).\n"
         "\n"
         "A conversion that takes longer than a second shows its progress (a dialog\n"
         "from the desktop, a line on a terminal), a workbook's compression as a phase\n"
         "of its own; Cancel or Ctrl-C stops it without a report. A failure from the\n"
         "desktop is told in a message before the report opens.\n"
         "\n"
         "Exit codes (--check: see above): 0 done; 2 a conversion, a recording of a\n"
         "batch or a switch failed (also when not even the error report could be\n"
         "written: both are told), or a usage error; 1 no random source to name files\n"
         "with; 130 stopped (Ctrl-C, or Cancel); 143 by SIGTERM; 129 its terminal was\n"
         "closed.\n";
}

}  // namespace tlq
