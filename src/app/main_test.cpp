// The program as a user starts it: real processes, real files, the opener
// replaced by a probe that logs what it was asked to open.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <filesystem>
#include <thread>

#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/system.h"
// After the registry's names: it brings windows.h, whose macros would take them.
#include "app/program_fixture.h"
#include "test_support.h"

#ifdef _WIN32
#include "platform/win32_text.h"
#else
#include <locale.h>
#include <sys/stat.h>
#endif

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runProcess;
using testing::writeFile;

// What the last resort shows when no report can be made: main, still
// active, and the report's own failure.
struct LastResort {
  static std::vector<std::string> expected() {
    return {testing::entryAt("app/dispatch.cpp", "TLQ_AT(report(e, param))", "main"),
            testing::entryAt("app/report.cpp", "TLQ_AT(mkstemp(\"tlqconverter_error_\"", "dumpTrace"),
            testing::entryAt("platform/temp_files.cpp", "throw IoError(\"Unable to create temporary file\")", "mkstemp"),
            "Error: unhandled exception: Unable to create temporary file [IOError]"};
  }
};

// A failure deep inside: every operation of the trace names the line of the
// call that is active in it, on one thread and on several, in the single
// conversion and in a batch.
TEST_F(Program, TraceNamesTheLineOfEachActiveCall) {
  testing::SeparatorStore store(dir, ",", ".");
  std::string json = "{\"data\":[";
  for (int i = 0; i < 20000; ++i)
    json += (i ? ",\n" : "\n") + std::string(i == 15000 ? R"({"inclino":{"raw":"WD!!"}})"
                                                         : R"({"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"t"}})");
  std::string recording = dir.file("deep.tlq");
  writeFile(recording, json + "]}");
  std::vector<std::string> inside = {
      testing::entryAt("reader/recording.cpp", "TLQ_AT(walkEntries(", "forEachEntry"),
      testing::entryAt("convert/convert.cpp", "TLQ_AT(putInclino(raw->textOf(), columns_.inclino1", "convertEntry"),
      testing::entryAt("sensors/inclino.cpp", "TLQ_AT(decoded.emplace(payload))", "parseMeasInclino"),
      testing::entryAt("sensors/base64.cpp", "throw ValueError(message);", "decode")};
  auto traceOf = [&](const testing::ProcessResult& r) {
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    std::vector<std::string> files = reports();
    if (files.size() != 1) return std::vector<std::string>{"reports: " + std::to_string(files.size())};
    std::string text = readFile(files[0]);
    fs::remove(fs::u8path(files[0]));
    return testing::traceEntries(text.substr(text.find("\r\nparam: ") + 2));
  };
  std::vector<std::string> single = {"param: " + recording,
                                     testing::entryAt("app/dispatch.cpp", "TLQ_AT(convertWithProgress(param, workbook, &window, interval, salvage))", "main"),
                                     testing::entryAt("convert/convert.cpp", "TLQ_AT(table.convert(format, control,", "mainConvert")};
  single.insert(single.end(), inside.begin(), inside.end());
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(traceOf(run({recording}, {{"TLQCONVERTER_THREADS", threads}})), single);
  }
  std::vector<std::string> batch = {"param: " + recording,
                                    testing::entryAt("app/dispatch.cpp", "TLQ_AT(runBatch(", "main"),
                                    testing::entryAt("app/batch_mode.cpp", "TLQ_AT(batch.run(cancel, finished, tick))", "runBatch"),
                                    testing::entryAt("batch/batch.cpp", "TLQ_AT(table->convert(format, control, take))",
                                                     "convertRecording")};
  batch.insert(batch.end(), inside.begin(), inside.end());
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(traceOf(run({"--batch", recording}, {{"TLQCONVERTER_THREADS", threads}}, TLQ_CONSOLE_PROGRAM)), batch);
  }
}

TEST_F(Program, ConvertsTheRecordingAndOpensTheCsv) {
  testing::SeparatorStore store(dir, ";", ",");
  std::string folder = dir.file("Mess daten");
  fs::create_directory(fs::u8path(folder));
  std::string recording = folder + "/Messung Höhe 1.tlq";
  writeFile(recording, R"({"data":[{"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"Süd"}}]})");
  auto r = run({recording});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string csv = folder + "/Messung Höhe 1.csv";
  EXPECT_EQ(readFile(csv),
            "timestamp;inclino1_raw;inclino1_x;inclino1_y;force_raw;force_kg\r\n"
            "Süd;X=+01.235 Y=-12.346;1,235;-12,346;;\r\n");
  EXPECT_EQ(fs::u8path(opened().substr(0, opened().find('\n'))), fs::u8path(csv));
}

TEST_F(Program, ConvertsTheSample) {
  testing::SeparatorStore store(dir, ",", ".");
  std::string copy = dir.file("sample.tlq");
  writeFile(copy, readFile(testing::samplePath()));
  auto r = run({copy});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("sample.csv")),
            readFile(std::string(TLQ_SOURCE_DIR) + "/examples/sample.expected-comma-point.csv"));
}

#ifndef _WIN32
// Without separators in the store, the program takes them from the locale:
// it must be linked so that the C library can load one.
TEST_F(Program, TheLocaleGivesTheSeparatorsTheStoreLacks) {
  locale_t german = ::newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
  if (!german) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  ::freelocale(german);
  std::string recording = dir.file("r.tlq");
  writeFile(recording, R"({"data":[{"inclino":{"raw":"X=+01.235\r\nY=-12.346"}}]})");
  auto r = run({recording}, {{"TLQCONVERTER_REGISTRY", dir.file("absent.reg")}, {"LC_ALL", "de_DE.UTF-8"}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("r.csv")),
            "timestamp;inclino1_raw;inclino1_x;inclino1_y;force_raw;force_kg\r\n"
            ";X=+01.235 Y=-12.346;1,235;-12,346;;\r\n");
}
#endif

#ifndef _WIN32
// Started from the desktop (no terminal, a graphical session): a message
// says what failed, in the user's words, and the report opens once it is
// read. A stub stands in for zenity and logs what it was asked to show.
TEST_F(Program, FromTheDesktopAMessageSaysWhatFailedBeforeTheReport) {
  testing::writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + dir.file("zenity.log") +
                                          "'\nsleep 0.3\nprintf read >>'" + dir.file("zenity.log") + "'\n");
  fs::permissions(fs::u8path(bin + "/zenity"), fs::perms::owner_all);
  std::string recording = dir.file("run 7.tlq");
  testing::writeFile(recording, "{\"data\":[\n{}");
  auto r = run({recording}, {{"DISPLAY", ":42"}});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(testing::readFile(dir.file("zenity.log")),
            "--warning --no-markup --title=tlqconverter --text=\u00abrun 7.tlq\u00bb is not a complete recording: "
            "invalid JSON at line 2, column 3: expected ',' or ']', found end of input.\nread");
  ASSERT_EQ(reports().size(), 1u);
  EXPECT_EQ(opened(), reports()[0] + "\n");  // after the message was read
}
#endif

TEST_F(Program, FailureEndsInAnOpenedReport) {
  std::string missing = dir.file("missing.tlq");
  auto r = run({missing, "second word", ""});
  EXPECT_EQ(r.exitCode, 2);
  auto files = reports();
  ASSERT_EQ(files.size(), 1u);
  std::string report = files[0];
#ifndef _WIN32
  // The system's reason, as the batch gives it.
  EXPECT_EQ(r.err, "tlqconverter: cannot open: " + missing + " (No such file or directory) (report: " + report + ")\n");
#endif
  std::string text = readFile(report);
  std::string head = "Please send this error report to " TLQ_SUPPORT_EMAIL "\r\n" + std::string(55, '-') +
                     "\r\n\r\nCMD: " + testing::fullPath(TLQ_CONVERTER_EXE) + " " + missing +
                     " \"second word\" \"\"\r\n\r\nparam: " + missing + "\r\n";
  EXPECT_EQ(text.substr(0, head.size()), head);
  // The operations active when the file could not be opened, names in
  // column 26, every line ended by CR LF.
#ifdef _WIN32
  const char* fileUnit = "file_win32\\.cpp";
#else
  const char* fileUnit = "file_posix\\.cpp";
#endif
  std::string trace = text.substr(head.size());
  std::regex lines(std::string("dispatch\\.cpp\\(\\d+\\) +main\r\n"
                               "convert\\.cpp\\(\\d+\\) +mainConvert\r\n") +
                   fileUnit + "\\(\\d+\\) +readFile\r\n");
  EXPECT_TRUE(std::regex_match(trace, lines)) << trace;
  for (size_t at = 0; at < trace.size(); at = trace.find("\r\n", at) + 2) {
    EXPECT_EQ(trace[at + 24], ' ') << trace.substr(at);
    EXPECT_NE(trace[at + 25], ' ') << trace.substr(at);
  }
  EXPECT_EQ(fs::u8path(opened().substr(0, opened().find('\n'))), fs::u8path(report));
}

TEST_F(Program, SwitchesAreExactAndAnEmptyArgumentIsAPath) {
  auto r = run({"--INSTALL"});
  EXPECT_EQ(r.exitCode, 2);
  ASSERT_EQ(reports().size(), 1u);
  EXPECT_NE(readFile(reports()[0]).find("\r\nparam: --INSTALL\r\n"), std::string::npos);
  fs::remove(fs::u8path(reports()[0]));

  auto empty = run({""});
  EXPECT_EQ(empty.exitCode, 2);
  ASSERT_EQ(reports().size(), 1u);
  std::string text = readFile(reports()[0]);
  EXPECT_NE(text.find(testing::fullPath(TLQ_CONVERTER_EXE) + " \"\"\r\n\r\nparam: \r\n"), std::string::npos) << text;
}

TEST_F(Program, NoArgumentAndNoDialogIsAQuietCancel) {
  auto r = run({});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(reports().empty());
  EXPECT_EQ(opened(false), "");
}

TEST_F(Program, ReportGoesToTheFirstUsableTemporaryFolder) {
  std::string temp = dir.file("temp2");
  fs::create_directory(fs::u8path(temp));
  auto r = run({dir.file("missing.tlq")}, {{"TMP", dir.file("no such folder")}, {"TEMP", temp}});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(reports().empty());
  ASSERT_EQ(std::distance(fs::directory_iterator(fs::u8path(temp)), fs::directory_iterator()), 1);
}

#ifndef _WIN32
// In a graphical session the dialog is zenity's; a stub answers for the user.
TEST_F(Program, DialogPathIsConvertedLikeAnArgument) {
  testing::SeparatorStore store(dir, ",", ".");
  std::string recording = dir.file("chosen run.tlq");
  writeFile(recording, R"({"data":[{"force":{"raw":"-  150N.."}}]})");
  writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" > \"" + dir.file("zenity.args") +
                                 "\"\nprintf '%s\\n' '" + recording + "'\n");
  fs::permissions(bin + "/zenity", fs::perms::owner_all);
  auto r = run({}, {{"DISPLAY", ":42"}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("chosen run.csv")), "timestamp,inclino1_raw,inclino1_x,inclino1_y,force_raw,force_kg\r\n"
                                                 ",,,,-  150..,-150.0\r\n");
  EXPECT_EQ(readFile(dir.file("zenity.args")),
            "--file-selection --title=Open --file-filter=Treloqa (*.tlq) | *.tlq --file-filter=All Files (*.*) | *\n");
}

// /proc is a folder in which nobody, root included, can make a file.
TEST_F(Program, ReportThatCannotBeWrittenIsTheLastResort) {
  if (!fs::is_directory("/proc")) GTEST_SKIP() << "no /proc";
  auto r = run({dir.file("missing.tlq")}, {{"TMP", "/proc"}});
  EXPECT_EQ(r.exitCode, 2);
  // The failure first, then why no report tells more, then the trace of
  // that second failure, raised while main was still active.
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot open: " + dir.file("missing.tlq") +
                                " (No such file or directory)\ntlqconverter: the error report could not be written: "
                                "Unable to create temporary file\n"))
      << r.err;
  std::vector<std::string> entries = testing::traceEntries(r.err);
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(entries.begin() + 2, entries.end()), LastResort::expected()) << r.err;
  EXPECT_EQ(opened(false), "");
}

// Out of memory: a recording too large for the address space the program
// may use (a sparse file: no disk is filled) cannot be mapped, and reading it
// into memory fails. The report still names where: the operations the
// failure closed on its way, each with its line.
TEST_F(Program, OutOfMemoryNamesWhereItArose) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need the address space that the limit takes away";
#endif
  std::string recording = dir.file("huge.tlq");
  writeFile(recording, "");
  fs::resize_file(fs::u8path(recording), 300 << 20);
  auto r = testing::runProcess({"/bin/sh", "-c", "ulimit -v 200000; exec \"$0\" \"$1\"", TLQ_CONVERTER_EXE, recording},
                               {{"TMP", tmp}, {"PATH", bin + ":/usr/bin:/bin"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
                                {"TLQ_PROBE_LOG", openerLog}});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_TRUE(r.err.starts_with("tlqconverter: out of memory (report: ")) << r.err;
  ASSERT_EQ(reports().size(), 1u);
  std::string text = readFile(reports()[0]);
  EXPECT_EQ(testing::traceEntries(text.substr(text.find("\r\nparam: ") + 2)),
            (std::vector<std::string>{"param: " + recording,
                                      testing::entryAt("app/dispatch.cpp", "TLQ_AT(convertWithProgress(param, workbook, &window, interval, salvage))", "main"),
                                      testing::entryAt("convert/convert.cpp", "TLQ_AT(RecordingTable(path, control))",
                                                       "mainConvert"),
                                      testing::entryAt("platform/file_posix.cpp", "TLQ_AT(readAll(fd, copy_))",
                                                       "readFile")}));
}

// A pipe, a device or a folder in place of a recording: "cannot open" at
// once, with its report; a pipe must not wait for a writer.
TEST_F(Program, OnlyARegularFileIsARecording) {
  std::string fifo = dir.file("f.tlq");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/null"), dir.path()}) {
    auto r = run({path});
    EXPECT_EQ(r.exitCode, 2) << path;
    ASSERT_EQ(reports().size(), 1u) << path;
    EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot open: " + path + " (")) << path << ": " << r.err;
    EXPECT_NE(r.err.find(" (report: "), std::string::npos) << r.err;
    fs::remove(fs::u8path(reports()[0]));
  }
}

// Another program cuts the recording short while it is converted, at
// several moments: the conversion ends, never by a signal, either whole or
// with the file error and its report, and the CSV holds no line made from
// the lost bytes.
TEST_F(Program, RecordingCutShortDuringTheConversion) {
  std::string json = "{\"data\":[";
  const int entries = 200000;
  for (int i = 0; i < entries; ++i)
    json += (i ? ",\n" : "\n") + std::string(R"({"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"t"}})");
  json += "]}";
  const std::string line = "t,X=+01.235 Y=-12.346,1.235,-12.346,,\r\n";
  for (int delay : {0, 2, 5, 10, 20, 40, 80}) {
    std::string recording = dir.file("cut" + std::to_string(delay) + ".tlq");
    writeFile(recording, json);
    for (const char* threads : {"1", "2"}) {
      std::thread cutter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        testing::runProcess({"/usr/bin/truncate", "-s", "100000", recording});
      });
      auto r = run({recording}, {{"TLQCONVERTER_THREADS", threads}});
      cutter.join();
      SCOPED_TRACE(std::to_string(delay) + " ms, threads " + threads);
      std::string csvPath = dir.file("cut" + std::to_string(delay) + ".csv");
      std::string header = "timestamp,inclino1_raw,inclino1_x,inclino1_y,force_raw,force_kg\r\n";
      std::string csv = testing::fileExists(csvPath) ? readFile(csvPath) : header;  // none when cut before
      fs::remove(fs::u8path(csvPath));
      ASSERT_TRUE(csv.starts_with(header)) << csv.substr(0, 200);
      size_t lines = (csv.size() - header.size()) / line.size();
      EXPECT_EQ(csv.size(), header.size() + lines * line.size());
      for (size_t i = 0; i < lines; ++i)
        ASSERT_EQ(csv.compare(header.size() + i * line.size(), line.size(), line), 0)
            << r.exitCode << r.err << csv.substr(header.size() + i * line.size(), 200);
      if (r.exitCode == 0) {
        EXPECT_EQ(lines, size_t{entries});
      } else {
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_LT(lines, size_t{entries});
        EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot read: " + recording +
                                      " (the file changed while it was read) (report: ") ||
                    r.err.starts_with("tlqconverter: invalid JSON"))  // cut before it was opened
            << r.err;
        ASSERT_EQ(reports().size(), 1u);
        fs::remove(fs::u8path(reports()[0]));
      }
      writeFile(recording, json);
    }
  }
}

// A full disk, made real by a limit on the size of files the program may
// write (with the signal that would kill it ignored, so that writes fail
// as on a full disk): the CSV fails with its report, and with no room for
// the report either, the last resort speaks.
TEST_F(Program, FullDiskForTheCsvAndForTheReport) {
  testing::SeparatorStore store(dir, ",", ".");
  std::string recording = dir.file("full.tlq");
  writeFile(recording, readFile(testing::samplePath()));
  // Only the program is limited: its messages pass through a pipe, and its
  // exit code follows them.
  auto limited = [&](int kilobytes) {
    auto r = runProcess({"/bin/sh", "-c",
                         "trap '' XFSZ; { (ulimit -f " + std::to_string(kilobytes) +
                             "; exec \"$0\" \"$1\"); echo \" exit $?\"; } 2>&1 | cat",
                         TLQ_CONVERTER_EXE, recording},
                        {{"TMP", tmp}, {"PATH", bin + ":/usr/bin:/bin"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
                         {"TLQ_PROBE_LOG", openerLog}});
    size_t at = r.out.rfind(" exit ");
    if (at != std::string::npos) {
      r.exitCode = std::stoi(r.out.substr(at + 6));
      r.err = r.out.substr(0, at);
    }
    return r;
  };
  auto r = limited(4);  // the sample's CSV takes about 10 KB; a report, less than one
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot write string to file (File too large) (report: ")) << r.err;
  ASSERT_EQ(reports().size(), 1u);
  EXPECT_NE(readFile(reports()[0]).find("\r\nparam: " + recording + "\r\n"), std::string::npos);
  // Lines cut short by the disk are no table (the last number could look
  // whole and be wrong): none goes in, and no temporary file stays.
  EXPECT_FALSE(fs::exists(fs::u8path(dir.file("full.csv"))));
  for (const auto& entry : fs::directory_iterator(fs::u8path(dir.path())))
    EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
  fs::remove(fs::u8path(reports()[0]));

  // The report cannot be written either: the failure is still told first,
  // then why there is no report.
  r = limited(0);
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot write string to file (File too large)\n"
                                "tlqconverter: the error report could not be written: cannot write string to file "
                                "(File too large)\n"))
      << r.err;
  EXPECT_NE(r.err.find("Error: unhandled exception: cannot write string to file [IOError]"), std::string::npos)
      << r.err << r.out;
  EXPECT_TRUE(reports().empty());  // not an empty one left behind
}

// A recording of one long string (64 MB here; 1 GB was tried by hand) goes
// through whole.
TEST_F(Program, OneLongString) {
  testing::SeparatorStore store(dir, ",", ".");
  std::string stamp(64 << 20, 's');
  std::string recording = dir.file("long.tlq");
  writeFile(recording, R"({"data":[{"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":")" + stamp + "\"}}]}");
  auto r = run({recording});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("long.csv")),
            "timestamp,inclino1_raw,inclino1_x,inclino1_y,force_raw,force_kg\r\n" + stamp +
                ",X=+01.235 Y=-12.346,1.235,-12.346,,\r\n");
}

TEST_F(Program, CancelledDialogEndsQuietly) {
  writeFile(bin + "/zenity", "#!/bin/sh\nexit 1\n");
  fs::permissions(bin + "/zenity", fs::perms::owner_all);
  auto r = run({}, {{"DISPLAY", ":42"}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(reports().empty());
  EXPECT_EQ(opened(false), "");
}
#endif

#ifdef _WIN32
TEST_F(Program, NoTemporaryFolderIsTheLastResort) {
  std::string none = dir.file("none");
  std::map<std::string, std::string> env = {{"TMP", none}, {"TEMP", none}, {"LOCALAPPDATA", none}, {"USERPROFILE", none}};
  auto r = run({dir.file("missing.tlq")}, env);
  EXPECT_EQ(r.exitCode, 2);  // after a message box, which returns at once without a display
  EXPECT_TRUE(reports().empty());
  // The console twin says the failure, then why there is no report, then
  // the report's own failure with main still active.
  r = run({dir.file("missing.tlq")}, env, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("\ntlqconverter: the error report could not be written: unable to find temp directory\n"),
            std::string::npos)
      << r.err;
  std::vector<std::string> expected = LastResort::expected();
  expected[2] = testing::entryAt("platform/temp_files.cpp", "TLQ_AT(getTempDir())", "mktempUnsafe");
  expected.insert(expected.begin() + 2, testing::entryAt("platform/temp_files.cpp",
                                                         "std::string path = TLQ_AT(mktempUnsafe(", "mkstemp"));
  expected.insert(expected.begin() + 4, testing::entryAt("platform/temp_files.cpp",
                                                         "throw IoError(\"unable to find temp directory\")", "getTempDir"));
  expected.back() = "Error: unhandled exception: unable to find temp directory [IOError]";
  std::vector<std::string> entries = testing::traceEntries(r.err);
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(entries.begin() + 2, entries.end()), expected) << r.err;
}

TEST(CommandLine, SplitFromTheRealCommandLine) {
  auto r = testing::runCommandLine("\"" + std::string(TLQ_ARGS_PROBE_EXE) +
                                   "\" \"a b\" x\\\"y \"\" c\\\\\"d e\" \"q\"\"q\"");
  EXPECT_EQ(r.out, std::string(TLQ_ARGS_PROBE_EXE) + "\na b\nx\"y\n\nc\\d e\nq\"q\n");
}
#endif

// The file type's verb: registry keys (a ".reg" store outside Windows) and,
// outside Windows, the desktop's MIME type and entry. Keys are named from
// where they are kept: `machine` (where HKEY_CLASSES_ROOT's writes go) or
// `user` (the user's classes, which Windows shows under HKEY_CLASSES_ROOT
// too).
class Registration : public Program {
 protected:
  const std::string user = "HKEY_CURRENT_USER\\Software\\Classes\\";
#ifdef _WIN32
  const std::string machine = "HKEY_LOCAL_MACHINE\\Software\\Classes\\";

  void SetUp() override {
    Program::SetUp();
    removeTypes();
  }
  void TearDown() override {
    removeTypes();
    Program::TearDown();
  }
  void removeTypes() {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"OstrelTlqFile");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\OstrelTlqFile");
    for (const wchar_t* verb : {L"Directory\\shell\\tlqconverter.check", L"Directory\\shell\\tlqtest.other"}) {
      ::RegDeleteTreeW(HKEY_CLASSES_ROOT, verb);
      ::RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + std::wstring(verb)).c_str());
    }
  }

  // The key at a full path, opened for reading; nullptr when it is not there.
  static HKEY openKey(const std::string& path) {
    size_t cut = path.find('\\');
    std::string root = path.substr(0, cut);
    HKEY base = root == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                : root == "HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE
                                               : HKEY_CLASSES_ROOT;
    HKEY k = nullptr;
    if (::RegOpenKeyExW(base, widen(path.substr(cut + 1)).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return nullptr;
    return k;
  }
  std::optional<std::string> value(const std::string& key, const std::string& name, const std::string& classes = {}) {
    HKEY k = openKey((classes.empty() ? machine : classes) + key);
    if (!k) return std::nullopt;
    wchar_t buf[1024];
    DWORD size = sizeof buf, type = 0;
    LSTATUS rc = ::RegQueryValueExW(k, widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    ::RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return narrow(std::wstring_view(buf, size / 2 - 1));
  }
  bool keyExists(const std::string& key, const std::string& classes = {}) {
    HKEY k = openKey((classes.empty() ? machine : classes) + key);
    if (k) ::RegCloseKey(k);
    return k != nullptr;
  }
  // Another program's verb among the user's own.
  void addUserVerb(const std::string& key) {
    HKEY k = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, widen("Software\\Classes\\" + key).c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &k, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(k);
  }
  std::map<std::string, std::string> env() { return {}; }
  std::string missingText() { return systemMessage(ERROR_FILE_NOT_FOUND); }
  std::string deniedText() { return systemMessage(ERROR_ACCESS_DENIED); }
#else
  const std::string machine = "HKEY_CLASSES_ROOT\\";

  RegStore store() { return RegStore::parse(testing::fileExists(storeFile) ? readFile(storeFile) : ""); }
  std::optional<std::string> value(const std::string& key, const std::string& name, const std::string& classes = {}) {
    RegStore all = store();
    const RegValue* v = all.findValue((classes.empty() ? machine : classes) + key, name);
    if (!v) return std::nullopt;
    return regDataFromValue(v->type, v->bytes).data();
  }
  bool keyExists(const std::string& key, const std::string& classes = {}) {
    return store().hasKey((classes.empty() ? machine : classes) + key);
  }
  void addUserVerb(const std::string& key) {
    RegStore all = store();
    all.createKey(user + key);
    fs::create_directories(fs::u8path(storeFile).parent_path());
    writeFile(storeFile, all.serialize());
  }
  // Everything the switches write stays in the test's folder.
  std::map<std::string, std::string> env() {
    return {{"TLQCONVERTER_REGISTRY", storeFile}, {"XDG_DATA_HOME", data}, {"XDG_CONFIG_HOME", dir.file("config")}};
  }
  std::string missingText() { return "No such file or directory"; }
  std::string deniedText() { return "Permission denied"; }

  std::string storeFile = dir.file("config/registry.reg");
  std::string data = dir.file("data");
#endif
  // As Windows treats a standard user: HKEY_CLASSES_ROOT refuses writes.
  std::map<std::string, std::string> standardUser() {
    auto e = env();
    e.emplace("TLQCONVERTER_DENY_CLASSES_ROOT", "1");
    return e;
  }

  // The verbs below `classes` start the desktop program: the file type's
  // and the folders' "Check recordings".
  void expectVerbs(const std::string& classes) {
    std::string exe = testing::fullPath(TLQ_CONVERTER_EXE);
    std::string exeDir = testing::utf8(fs::u8path(exe).parent_path());
    EXPECT_EQ(value("OstrelTlqFile", "", classes), "Treloqa file");
    EXPECT_TRUE(keyExists("OstrelTlqFile\\shell", classes));
    EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter", "", classes), "Open with Excel");
    EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter", "Icon", classes), joinPath(exeDir, "treloqview.exe,0"));
    EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter\\command", "", classes), "\"" + exe + "\" \"%1\"");
    EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter.xlsx", "", classes), "Open as workbook");
    EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter.xlsx\\command", "", classes), "\"" + exe + "\" --xlsx \"%1\"");
    EXPECT_EQ(value("Directory\\shell\\tlqconverter.check", "", classes), "Check recordings");
    EXPECT_EQ(value("Directory\\shell\\tlqconverter.check\\command", "", classes), "\"" + exe + "\" --check \"%1\"");
  }
  bool hasVerbs(const std::string& classes) {
    return keyExists("OstrelTlqFile\\shell\\tlqconverter", classes) ||
           keyExists("OstrelTlqFile\\shell\\tlqconverter.xlsx", classes) ||
           keyExists("Directory\\shell\\tlqconverter.check", classes);
  }
};

TEST_F(Registration, InstallWritesTheVerb) {
  // Twice, the second time by the console twin (under Windows
  // tlqconverter.com): the verbs still start the desktop program.
  for (const char* program : {TLQ_CONVERTER_EXE, TLQ_CONSOLE_PROGRAM}) {
    auto r = run({"--install"}, env(), program);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    expectVerbs(machine);
  }
  EXPECT_FALSE(keyExists("OstrelTlqFile", user));
#ifndef _WIN32
  std::string exe = testing::fullPath(TLQ_CONVERTER_EXE);
  std::string workbook = readFile(data + "/applications/tlqconverter.workbook.desktop");
  EXPECT_NE(workbook.find("Exec=" + exe + " --xlsx %f\n"), std::string::npos) << workbook;
  EXPECT_NE(workbook.find("Name=Open as workbook\n"), std::string::npos);
  std::string entry = readFile(data + "/applications/tlqconverter.desktop");
  EXPECT_NE(entry.find("Exec=" + exe + " %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("MimeType=application/x-treloqa-recording;\n"), std::string::npos);
  EXPECT_NE(entry.find("Name=Open as Spreadsheet Table\n"), std::string::npos);  // what happens on Linux
  EXPECT_NE(readFile(data + "/mime/packages/tlqconverter.xml").find("<glob pattern=\"*.tlq\"/>"), std::string::npos);
  // The menu's entry: shown, the program without an argument (its file
  // dialog), found by what users search for; no type, so no default.
  std::string menu = readFile(data + "/applications/tlqconverter-menu.desktop");
  EXPECT_NE(menu.find("\nName=Convert field recordings\n"), std::string::npos) << menu;
  EXPECT_NE(menu.find("\nExec=" + exe + "\n"), std::string::npos) << menu;
  EXPECT_NE(menu.find("\nComment=Convert a field recording (.tlq) into a CSV table"), std::string::npos) << menu;
  EXPECT_NE(menu.find("\nCategories=Utility;\n"), std::string::npos) << menu;
  EXPECT_EQ(menu.find("NoDisplay"), std::string::npos) << menu;
  EXPECT_EQ(menu.find("MimeType"), std::string::npos) << menu;
  // The folders' action, where file managers take actions; no application
  // entry declares folders.
  for (const char* action : {"kio/servicemenus/tlqconverter-batch.desktop", "nemo/actions/tlqconverter-batch.nemo_action"}) {
    std::string text = readFile(data + "/" + action);
    EXPECT_NE(text.find("\nName=Convert recordings to CSV\n"), std::string::npos) << action << "\n" << text;
    EXPECT_NE(text.find("\nExec=" + exe + " --batch %F\n"), std::string::npos) << action << "\n" << text;
  }
  // And "Check recordings" beside it: KDE's as a second action of the same
  // menu, Nemo's in a file of its own.
  std::string kde = readFile(data + "/kio/servicemenus/tlqconverter-batch.desktop");
  EXPECT_NE(kde.find("\nActions=tlqconverterBatch;tlqconverterCheck;\n"), std::string::npos) << kde;
  EXPECT_NE(kde.find("\n[Desktop Action tlqconverterCheck]\nName=Check recordings\nExec=" + exe + " --check %F\n"),
            std::string::npos)
      << kde;
  std::string nemo = readFile(data + "/nemo/actions/tlqconverter-check.nemo_action");
  EXPECT_NE(nemo.find("\nName=Check recordings\n"), std::string::npos) << nemo;
  EXPECT_NE(nemo.find("\nExec=" + exe + " --check %F\nSelection=notnone\nExtensions=dir;\n"), std::string::npos) << nemo;
  std::string checkScript = data + "/nautilus/scripts/Check recordings";
  EXPECT_EQ(readFile(checkScript), "#!/bin/sh\n# Check every recording (.tlq) in the folders for gaps, time stamps out of "
                                   "order and unreadable readings; nothing is written (tlqconverter --install wrote "
                                   "this).\nexec '" + exe + "' --check -- \"$@\"\n");
  EXPECT_NE(fs::status(fs::u8path(checkScript)).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_FALSE(testing::fileExists(data + "/applications/tlqconverter-batch.desktop"));
  for (const auto& e : fs::directory_iterator(fs::u8path(data + "/applications")))
    EXPECT_EQ(readFile(testing::utf8(e.path())).find("inode/directory"), std::string::npos) << e.path();
  std::string script = data + "/nautilus/scripts/Convert recordings to CSV";
  EXPECT_EQ(readFile(script), "#!/bin/sh\n# Convert every recording (.tlq) in the folders into a CSV table beside it "
                              "(tlqconverter --install wrote this).\nexec '" + exe + "' --batch -- \"$@\"\n");
  // A file manager runs the script, and KDE reads a user's service menu,
  // only when it is executable.
  EXPECT_NE(fs::status(fs::u8path(script)).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_NE(fs::status(fs::u8path(data + "/kio/servicemenus/tlqconverter-batch.desktop")).permissions() &
                fs::perms::owner_exec,
            fs::perms::none);
#endif
}

#ifndef _WIN32
// The defaults as xdg-mime finds them (the generic desktop's rules: the
// user's lists, then the caches of the user's entries before the system's),
// with a file manager's entry for folders in the system's applications.
class DesktopDefaults : public Registration {
 protected:
  void SetUp() override {
    Registration::SetUp();
    if (!testing::fileExists("/usr/bin/xdg-mime") || !testing::fileExists("/usr/bin/update-desktop-database"))
      GTEST_SKIP() << "xdg-utils and desktop-file-utils are needed (scripts/install-deps.sh installs them)";
    std::string apps = system + "/applications";
    fs::create_directories(fs::u8path(apps));
    writeFile(apps + "/org.gnome.Nautilus.desktop",
              "[Desktop Entry]\nType=Application\nName=Files\nExec=nautilus --new-window %U\n"
              "MimeType=inode/directory;application/x-gnome-saved-search;\n");
    ASSERT_EQ(runProcess({"/usr/bin/update-desktop-database", apps}).exitCode, 0);
  }
  std::map<std::string, std::string> desktop() {
    auto e = env();
    for (const char* name : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID",
                             "DBUS_SESSION_BUS_ADDRESS"})
      e.emplace(name, "");
    e.emplace("XDG_DATA_DIRS", system);
    e.emplace("XDG_CONFIG_DIRS", dir.file("etc-xdg"));
    e.emplace("HOME", dir.file("home"));
    return e;
  }
  std::string defaultFor(const std::string& type) {
    auto r = runProcess({"/bin/sh", "-c", "xdg-mime query default \"$0\"", type}, desktop());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
  std::string system = dir.file("system");
};

// Folders stay the file manager's before, after --install and after
// --uninstall; recordings are the table's after --install.
TEST_F(DesktopDefaults, FoldersStayTheFileManagersAndRecordingsOpenAsTheTable) {
  EXPECT_EQ(defaultFor("inode/directory"), "org.gnome.Nautilus.desktop\n");
  // An earlier version's folders' entry took folders over; --install
  // replaces it.
  fs::create_directories(fs::u8path(data + "/applications"));
  writeFile(data + "/applications/tlqconverter-batch.desktop",
            "[Desktop Entry]\nType=Application\nName=Convert recordings to CSV\nExec=tlqconverter --batch %F\n"
            "MimeType=inode/directory;\nNoDisplay=true\n");
  ASSERT_EQ(runProcess({"/usr/bin/update-desktop-database", data + "/applications"}).exitCode, 0);
  EXPECT_EQ(defaultFor("inode/directory"), "tlqconverter-batch.desktop\n");
  auto r = run({"--install"}, desktop());
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(defaultFor("inode/directory"), "org.gnome.Nautilus.desktop\n");
  EXPECT_EQ(defaultFor("application/x-treloqa-recording"), "tlqconverter.desktop\n");
  r = run({"--uninstall"}, desktop());
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(defaultFor("inode/directory"), "org.gnome.Nautilus.desktop\n");
  EXPECT_EQ(defaultFor("application/x-treloqa-recording"), "");
}

// --uninstall takes our entries out of the user's lists of defaults and
// associations (also those the file manager added), and nothing else: the
// lists of the session's desktops and the older place too, a list that is a
// link stays one, its permissions as they were.
TEST_F(DesktopDefaults, UninstallTakesOnlyOurEntriesOutOfTheLists) {
  const std::string dotfiles = dir.file("dotfiles/mimeapps.list"), config = dir.file("config/mimeapps.list");
  fs::create_directories(fs::u8path(dir.file("config")));
  writeFile(config, "# mine\r\n[Default Applications]\r\ntext/plain=org.gnome.gedit.desktop\r\n");
  auto r = run({"--install"}, desktop());
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_EQ(defaultFor("application/x-treloqa-recording"), "tlqconverter.desktop\n");
  // The list kept elsewhere, as some keep their settings.
  fs::create_directories(fs::u8path(dir.file("dotfiles")));
  fs::rename(fs::u8path(config), fs::u8path(dotfiles));
  fs::create_symlink(fs::u8path(dotfiles), fs::u8path(config));
  fs::permissions(fs::u8path(dotfiles), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                            fs::perms::others_read);
  // What a file manager adds when the user picks programs.
  std::string text = readFile(dotfiles);
  const std::string ours = "\napplication/x-treloqa-recording=tlqconverter.desktop\n";
  ASSERT_NE(text.find(ours), std::string::npos) << text;
  text.replace(text.find(ours), ours.size(), "\napplication/x-treloqa-recording=tlqconverter.desktop;viewer.desktop;\n");
  writeFile(system + "/applications/viewer.desktop", "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true %f\n");
  const std::string added =
      "\n[Added Associations]\napplication/x-treloqa-recording=tlqconverter.workbook.desktop;viewer.desktop;"
      "tlqconverter.desktop;\napplication/json=tlqconverter-workbook.desktop;\ntext/csv = libreoffice-calc.desktop;"
      "\nx-scheme-handler/tlqconverter.desktop=browser.desktop\n[Removed Associations]\ntext/x-tlq=tlqconverter.desktop\n";
  writeFile(dotfiles, text + added);
  const std::string kde = "[Default Applications]\napplication/x-treloqa-recording=tlqconverter.workbook.desktop;\n"
                          "[Other]\nkey=tlqconverter.desktop\n";
  writeFile(dir.file("config/kde-mimeapps.list"), kde);
  const std::string older = "[Added Associations]\r\napplication/x-treloqa-recording=tlqconverter-workbook.desktop\r\n";
  writeFile(data + "/applications/mimeapps.list", older);

  auto session = desktop();
  session["XDG_CURRENT_DESKTOP"] = "KDE";
  r = run({"--uninstall"}, session);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(fs::is_symlink(fs::u8path(config)));
  EXPECT_EQ(readFile(dotfiles),
            "# mine\r\n[Default Applications]\r\ntext/plain=org.gnome.gedit.desktop\r\n"
            "application/x-treloqa-recording=viewer.desktop;\n\n[Added Associations]\napplication/x-treloqa-recording=viewer.desktop;\n"
            "text/csv = libreoffice-calc.desktop;\nx-scheme-handler/tlqconverter.desktop=browser.desktop\n"
            "[Removed Associations]\n");
  EXPECT_EQ(fs::status(fs::u8path(dotfiles)).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(readFile(dir.file("config/kde-mimeapps.list")), "[Default Applications]\n[Other]\nkey=tlqconverter.desktop\n");
  EXPECT_EQ(readFile(data + "/applications/mimeapps.list"), "[Added Associations]\r\n");
  EXPECT_EQ(defaultFor("application/x-treloqa-recording"), "viewer.desktop\n");
}
#endif

// A standard user may not write the machine's classes: --install registers
// the verbs for the user and says so; --uninstall removes them there.
TEST_F(Registration, RefusedClassesRootRegistersForTheUser) {
  auto r = run({"--install"}, standardUser(), TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tlqconverter: HKEY_CLASSES_ROOT refused the verbs (" + deniedText() +
                       "): they are registered for this user only, under HKEY_CURRENT_USER\\Software\\Classes\n");
  expectVerbs(user);
  EXPECT_FALSE(keyExists("OstrelTlqFile"));  // nothing of the machine's
#ifndef _WIN32
  EXPECT_TRUE(testing::fileExists(data + "/applications/tlqconverter.desktop"));
#endif
  addUserVerb("OstrelTlqFile\\shell\\open");  // a viewer's, installed for the user
  addUserVerb("Directory\\shell\\tlqtest.other");  // another program's folder verb

  r = run({"--uninstall"}, standardUser());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(hasVerbs(user));
  EXPECT_TRUE(keyExists("OstrelTlqFile\\shell\\open", user));
  EXPECT_TRUE(keyExists("Directory\\shell\\tlqtest.other", user));
  EXPECT_EQ(value("OstrelTlqFile", "", user), "Treloqa file");
  EXPECT_FALSE(keyExists("OstrelTlqFile"));
#ifndef _WIN32
  EXPECT_FALSE(testing::fileExists(data + "/applications/tlqconverter.desktop"));
#endif

  // Nothing left to remove, and the machine's classes refused: one line.
  r = run({"--uninstall"}, standardUser());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "[OSError]: " + deniedText() + "\n");
  EXPECT_FALSE(keyExists("OstrelTlqFile"));
  EXPECT_TRUE(reports().empty());
}

// Both places at once: --current-user works on the user's classes alone,
// and --uninstall removes ours from both, nothing else.
TEST_F(Registration, VerbsForTheMachineAndForTheUser) {
  ASSERT_EQ(run({"--install"}, env()).exitCode, 0);
  auto r = run({"--install", "--current-user"}, env());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  expectVerbs(machine);
  expectVerbs(user);

  // A standard user cannot remove the machine's: his own go, and he is not
  // told of a failure that is not his.
  r = run({"--uninstall"}, standardUser());
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(hasVerbs(user));
  expectVerbs(machine);
  r = run({"--uninstall"}, standardUser());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "[OSError]: " + deniedText() + "\n");
  expectVerbs(machine);

  ASSERT_EQ(run({"--install", "--current-user"}, env()).exitCode, 0);
  r = run({"--uninstall", "--current-user"}, env());
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_FALSE(hasVerbs(user));
  expectVerbs(machine);
  r = run({"--uninstall", "--current-user"}, env());  // nothing of the user's: nothing to do
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");

  ASSERT_EQ(run({"--install", "--current-user"}, env()).exitCode, 0);
  r = run({"--uninstall"}, env());
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(hasVerbs(user));
  EXPECT_FALSE(hasVerbs(machine));
  EXPECT_EQ(value("OstrelTlqFile", ""), "Treloqa file");
  EXPECT_EQ(value("OstrelTlqFile", "", user), "Treloqa file");
}

#ifdef _WIN32
// A program in a folder of the user's own (where a "just for me" setup puts
// it, below %LOCALAPPDATA%) registers for that user only, also when an
// administrator's console runs --install there: the machine's verbs would
// give every user a program that only one may start, and that is gone when
// its user removes it.
TEST_F(Registration, ProgramInAUsersFolderRegistersForThatUserOnly) {
  std::string local = getEnv("LOCALAPPDATA").value_or("");
  ASSERT_FALSE(local.empty());
  const std::string folder = joinPath(local, "Programs\\tlqtest " + testing::utf8(fs::u8path(dir.path()).filename()));
  struct Removed {
    std::string folder;
    ~Removed() { fs::remove_all(fs::u8path(folder)); }
  } removed{folder};
  fs::create_directories(fs::u8path(folder));
  for (const char* program : {TLQ_CONVERTER_EXE, TLQ_CONSOLE_PROGRAM})
    fs::copy_file(fs::u8path(program), fs::u8path(folder) / fs::u8path(program).filename());
  const std::string exe = joinPath(folder, "tlqconverter.exe");

  auto r = run({"--install"}, env(), joinPath(folder, "tlqconverter.com"));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tlqconverter: " + folder +
                       " is this user's own folder: the verbs are registered for this user only, under "
                       "HKEY_CURRENT_USER\\Software\\Classes\n");
  EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter\\command", "", user), "\"" + exe + "\" \"%1\"");
  EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter.xlsx\\command", "", user), "\"" + exe + "\" --xlsx \"%1\"");
  EXPECT_EQ(value("Directory\\shell\\tlqconverter.check\\command", "", user), "\"" + exe + "\" --check \"%1\"");
  EXPECT_FALSE(keyExists("OstrelTlqFile"));  // nothing of the machine's
  EXPECT_FALSE(keyExists("Directory\\shell\\tlqconverter.check"));

  // The same program elsewhere still writes the machine's verbs.
  r = run({"--install"}, env());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  expectVerbs(machine);

  r = run({"--uninstall", "--current-user"}, env(), exe);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_FALSE(hasVerbs(user));
  expectVerbs(machine);
}
#endif

// After --xlsx a recording is due: a switch there is a usage error, with no
// report, no table and no key.
TEST_F(Registration, SwitchAfterXlsxIsAUsageError) {
  std::string folder = dir.file("recordings");
  fs::create_directories(fs::u8path(folder));
  writeFile(folder + "/a.tlq", "{\"data\":[]}");
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--batch", folder}, {"--help"}, {"-h"}, {"--install"}, {"--uninstall"}, {"--version"}, {"--xlsx", folder + "/a.tlq"}}) {
    args.insert(args.begin(), "--xlsx");
    auto r = run(args, env(), TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(r.exitCode, 2) << args[1];
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("tlqconverter: --xlsx takes a recording, not the switch \"" + args[1] + "\"\n"))
        << r.err;
    EXPECT_TRUE(r.err.ends_with("Try \"tlqconverter --help\" for more.\n")) << r.err;
    // The desktop program likewise (its words go to a console, where there is one).
    EXPECT_EQ(run(args, env()).exitCode, 2) << args[1];
  }
  EXPECT_TRUE(reports().empty());
  EXPECT_FALSE(testing::fileExists(folder + "/a.xlsx"));
  EXPECT_FALSE(testing::fileExists(folder + "/a.csv"));
  EXPECT_FALSE(keyExists("OstrelTlqFile"));
  EXPECT_EQ(opened(false), "");
}

TEST_F(Registration, UninstallRemovesTheVerbOnly) {
  ASSERT_EQ(run({"--install"}, env()).exitCode, 0);
  auto r = run({"--uninstall"}, env());
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(keyExists("OstrelTlqFile\\shell\\tlqconverter"));
  EXPECT_FALSE(keyExists("OstrelTlqFile\\shell\\tlqconverter.xlsx"));
  EXPECT_FALSE(keyExists("Directory\\shell\\tlqconverter.check"));
  EXPECT_TRUE(keyExists("OstrelTlqFile\\shell"));
  EXPECT_EQ(value("OstrelTlqFile", ""), "Treloqa file");
#ifndef _WIN32
  EXPECT_FALSE(testing::fileExists(data + "/applications/tlqconverter.desktop"));
  for (const char* file : {"applications/tlqconverter.workbook.desktop", "applications/tlqconverter-menu.desktop",
                           "kio/servicemenus/tlqconverter-batch.desktop", "nemo/actions/tlqconverter-batch.nemo_action",
                           "nemo/actions/tlqconverter-check.nemo_action", "nautilus/scripts/Convert recordings to CSV",
                           "nautilus/scripts/Check recordings"})
    EXPECT_FALSE(testing::fileExists(data + "/" + file)) << file;
#endif
  // An installation by an earlier version, without the second verb, is
  // removed all the same.
  ASSERT_EQ(run({"--install"}, env()).exitCode, 0);
#ifdef _WIN32
  ASSERT_EQ(::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"OstrelTlqFile\\shell\\tlqconverter.xlsx"), ERROR_SUCCESS);
#else
  RegStore older = store();
  older.deleteTree("HKEY_CLASSES_ROOT\\OstrelTlqFile\\shell\\tlqconverter.xlsx", false);
  writeFile(storeFile, older.serialize());
#endif
  r = run({"--uninstall"}, env());
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_FALSE(keyExists("OstrelTlqFile\\shell\\tlqconverter"));
  EXPECT_FALSE(keyExists("OstrelTlqFile\\shell\\tlqconverter.xlsx"));
}

// "Check recordings" as a user picks it on a folder, from the desktop: under
// Windows the verb through the shell (as Explorer runs it), elsewhere the
// script of GNOME's file manager. The folder is checked, nothing is written
// beside the recording, and with a finding the summary is opened after the
// message box (which shows nowhere here: no display, or zenity's stand-in).
TEST_F(Registration, TheFoldersCheckVerbFromTheDesktop) {
  std::string folder = dir.file("Messungen M\xc3\xa4rz");
#ifdef _WIN32
  std::replace(folder.begin(), folder.end(), '/', '\\');
#endif
  fs::create_directories(fs::u8path(folder) / "sub");
  const std::string rec = folder + "/sub/run 1.tlq";
  const std::string recording = testing::recordingOf(4, 1);  // an entry dropped for a failed CRC: a finding
  writeFile(rec, recording);
  auto e = env();
#ifdef _WIN32
  ASSERT_EQ(run({"--install", "--current-user"}, e).exitCode, 0);
  e.emplace("TMP", tmp);
  e.emplace("TLQ_PROBE_LOG", openerLog);
  auto r = runProcess({TLQ_SHELL_VERB_EXE, "tlqconverter.check", folder, "Software\\Classes\\Directory"}, e);
  const std::string shown = folder + "\\sub\\run 1.tlq";
#else
  ASSERT_EQ(run({"--install"}, e).exitCode, 0);
  // zenity's stand-in: its progress dialog reads what it is fed until the end.
  writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + dir.file("zenity.log") +
                                 "'\ncase \"$1\" in --progress) cat >/dev/null ;; esac\n");
  fs::permissions(fs::u8path(bin + "/zenity"), fs::perms::owner_all);
  e.emplace("DISPLAY", ":42");  // a graphical session, no terminal
  auto r = run({folder}, e, data + "/nautilus/scripts/Check recordings");
  const std::string shown = folder + "/sub/run 1.tlq";
  EXPECT_NE(readFile(dir.file("zenity.log"))
                .find("--info --no-markup --title=tlqconverter --text=Some recordings have findings.\n\n"
                      "1 of 1 recording checked, 1 with findings, 0 failed.\n"),
            std::string::npos)
      << readFile(dir.file("zenity.log"));
#endif
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  std::string opener = opened();
  ASSERT_NE(opener.find("tlqconverter_summary_"), std::string::npos) << opener;
  std::string summary = readFile(opener.substr(0, opener.find('\n')));
  EXPECT_TRUE(summary.starts_with("\xEF\xBB\xBF" "dropped: " + shown + ": 1 entry for a failed CRC\r\n"
                                  "1 recording checked, 1 with findings, 0 failed, "))
      << summary;
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 2) << summary;
  // Nothing beside the recording, which is as it was, and no report.
  std::vector<std::string> files;
  for (const auto& f : fs::recursive_directory_iterator(fs::u8path(folder))) files.push_back(testing::utf8(f.path().filename()));
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"run 1.tlq", "sub"}));
  EXPECT_EQ(readFile(rec), recording);
  for (const std::string& file : reports()) EXPECT_EQ(file.find("tlqconverter_error_"), std::string::npos) << file;
}

#ifndef _WIN32
// The store as other programs may leave it: a folder, a large file, text
// that makes no sense, or rewritten while --install writes it.
TEST_F(Registration, StoreInOddShapes) {
  fs::create_directories(fs::u8path(storeFile));  // a folder: it cannot be replaced
  auto r = run({"--install"}, env());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("[OSError]: ")) << r.out;
  fs::remove_all(fs::u8path(storeFile));

  // Junk and a large amount of it: read past, kept, and the verb added.
  std::string junk = "Windows Registry Editor Version 5.00\r\n\x01\x02 nonsense [ \"x\"=\r\n";
  for (int i = 0; i < 20000; ++i) junk += "[HKEY_CURRENT_USER\\Software\\Bulk\\K" + std::to_string(i) + "]\r\n\"v\"=dword:00000001\r\n";
  writeFile(storeFile, junk);
  r = run({"--install"}, env());
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(value("OstrelTlqFile\\shell\\tlqconverter", ""), "Open with Excel");
  EXPECT_TRUE(store().hasKey("HKEY_CURRENT_USER\\Software\\Bulk\\K19999"));
}

TEST_F(Registration, StoreRewrittenDuringInstall) {
  fs::create_directories(fs::u8path(dir.file("config")));
  const std::string other = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"v\"=\"1\"\r\n";
  writeFile(storeFile, other);
  std::atomic<bool> done = false;
  std::thread writer([&] {  // another program, replacing the store as fast as it can
    for (int i = 0; !done; ++i) {
      std::string temp = storeFile + ".other" + std::to_string(i % 2);
      writeFile(temp, other);
      fs::rename(fs::u8path(temp), fs::u8path(storeFile));
    }
  });
  for (int i = 0; i < 10; ++i) {
    auto r = run({"--install"}, env());
    EXPECT_EQ(r.exitCode, 0) << r.out;
    // Whichever wrote last, the file is one whole version.
    std::string text = readFile(storeFile);
    EXPECT_TRUE(text == other || RegStore::parse(text).hasKey("HKEY_CLASSES_ROOT\\OstrelTlqFile\\shell\\tlqconverter"))
        << text;
  }
  done = true;
  writer.join();
}
#endif

TEST_F(Registration, UninstallWithNothingRegisteredPrintsTheFailure) {
  auto r = run({"--uninstall"}, env());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "[OSError]: " + missingText() + "\n");
  EXPECT_TRUE(keyExists("OstrelTlqFile\\shell"));  // created on the way, and left
  EXPECT_EQ(value("OstrelTlqFile", ""), std::nullopt);
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace tlq
