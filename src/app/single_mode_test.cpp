// A single conversion that takes long, as a person meets it: the progress
// on a terminal and from the desktop (a stub standing in for zenity), a stop
// by Ctrl-C or Cancel, and what cannot be replaced found before the work.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "app/program_fixture.h"
#include "convert/convert.h"
#include "error.h"
#include "test_support.h"

#ifndef _WIN32
#include <signal.h>
#else
#include "platform/win32_text.h"
#endif

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

// A conversion stopped by the person leaves no CSV that looks whole.
TEST(SingleConversion, ACancelledCsvIsRemoved) {
  testing::TempDir dir;
  testing::SeparatorStore store(dir, ",", ".");
  std::string recording = dir.file("r.tlq");
  writeFile(recording, testing::recordingOf(5000));
  std::atomic<bool> cancel{true};
  ConversionControl control;
  control.cancel = &cancel;
  EXPECT_THROW(mainConvert(recording, control, nullptr), ConversionCancelled);
  EXPECT_FALSE(testing::fileExists(dir.file("r.csv")));
}

#ifndef _WIN32
// Files of ours in the folder: temporary files, tables.
std::vector<std::string> namesIn(const std::string& folder, const std::string& start) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(fs::u8path(folder)))
    if (testing::utf8(e.path().filename()).starts_with(start)) found.push_back(testing::utf8(e.path().filename()));
  return found;
}

// Long enough on one thread that both phases of a workbook show (the
// progress from the start, not after a second): the conversion and the
// compression.
class LongConversion : public Program {
 protected:
  void SetUp() override {
    Program::SetUp();
    recording = dir.file("run 7.tlq");
    writeFile(recording, testing::recordingOf(150000, 40));
  }
  std::map<std::string, std::string> env(std::map<std::string, std::string> more = {}) {
    more.emplace("TMP", tmp);
    more.emplace("PATH", bin + ":/usr/bin:/bin");
    more.emplace("TLQ_PROBE_LOG", openerLog);
    more.emplace("TLQCONVERTER_THREADS", "1");
    more.emplace("TLQCONVERTER_QUIET_SECONDS", "0");  // the progress at once
    more.emplace("DISPLAY", "");
    more.emplace("WAYLAND_DISPLAY", "");
    return more;
  }
  // Waits until the workbook's own file grows: the library compresses.
  // (Beside it, the library's folder for its own files.)
  void untilCompressing() {
    for (int i = 0; i < 3000; ++i) {
      for (const std::string& name : namesIn(dir.path(), "tlqconverter_")) {
        std::error_code error;
        if (name.ends_with(".tmp") && fs::file_size(fs::u8path(dir.file(name)), error) > 0 && !error) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::string recording;
};

TEST_F(LongConversion, OnATerminalAProgressLineForEachPhaseAndTheDroppedEntries) {
  testing::RunningProcess converting({TLQ_CONSOLE_PROGRAM, "--xlsx", recording}, env(), true);
  auto r = converting.wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string err = r.err;
  EXPECT_NE(err.find("\rrun 7.tlq: converting, "), std::string::npos) << err;
  EXPECT_NE(err.find("\rrun 7.tlq: compressing the workbook, "), std::string::npos) << err;
  // The compression's bar below its end, however far the estimate is off
  // (the conversion's may show the whole recording read: the time left then
  // is the compression's).
  std::regex line(R"(\rrun 7\.tlq: compressing the workbook, ([0-9.]+)/([0-9.]+) MB[^\r]*)");
  for (auto it = std::sregex_iterator(err.begin(), err.end(), line); it != std::sregex_iterator(); ++it)
    EXPECT_LT(std::stod((*it)[1]), std::stod((*it)[2])) << (*it)[0];
  EXPECT_EQ(err.find("0:00 left"), std::string::npos) << err;
  const std::string written = "\rWorkbook written to: " + dir.file("run 7.xlsx") +
                              " (150000 rows, 40 entries dropped for a failed CRC)\r\n";
  EXPECT_TRUE(err.ends_with(written)) << err.substr(err.size() > 200 ? err.size() - 200 : 0);
}

// On a terminal a conversion says where its table went, in one line (a
// machine may have no program that opens it); a pipe and the desktop get
// nothing new.
TEST_F(Program, ATerminalIsToldWhereTheTableWent) {
  testing::SeparatorStore store(dir, ",", ".");
  fs::create_directories(fs::u8path(dir.file("März")));
  std::string recording = dir.file("März/run 1.tlq");
  std::map<std::string, std::string> env = {{"TMP", tmp},
                                            {"PATH", bin + ":/usr/bin:/bin"},
                                            {"TLQ_PROBE_LOG", dir.file("opened on a terminal.log")},
                                            {"DISPLAY", ""},
                                            {"WAYLAND_DISPLAY", ""}};
  struct Case {
    std::vector<std::string> args;
    std::string recording, line;
  };
  for (const Case& c : std::vector<Case>{
           {{}, testing::recordingOf(12, 3),
            "CSV written to: " + dir.file("März/run 1.csv") + " (12 lines, 3 entries dropped for a failed CRC)"},
           {{}, testing::recordingOf(1), "CSV written to: " + dir.file("März/run 1.csv") + " (1 line)"},
           {{"--xlsx"}, testing::recordingOf(5, 1),
            "Workbook written to: " + dir.file("März/run 1.xlsx") + " (5 rows, 1 entry dropped for a failed CRC)"}}) {
    SCOPED_TRACE(c.line);
    writeFile(recording, c.recording);
    std::vector<std::string> args = {TLQ_CONSOLE_PROGRAM};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(recording);
    auto onTerminal = testing::RunningProcess(args, env, true).wait();
    EXPECT_EQ(onTerminal.exitCode, 0) << onTerminal.err;
    EXPECT_EQ(onTerminal.err, c.line + "\r\n");
    EXPECT_EQ(onTerminal.out, "");
    auto piped = testing::RunningProcess(args, env).wait();
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out, "");
  }
  // From the desktop: the table opened, as before, and no line.
  env["DISPLAY"] = ":42";
  env["TLQ_PROBE_LOG"] = openerLog;
  auto desktop = testing::RunningProcess({TLQ_CONVERTER_EXE, recording}, env).wait();
  EXPECT_EQ(desktop.exitCode, 0) << desktop.err;
  EXPECT_EQ(desktop.err, "");
  EXPECT_EQ(opened(), dir.file("März/run 1.csv") + "\n");
}

// From the desktop: the progress dialog (zenity), titled with the
// recording's name, a phase at a time; Cancel stops the conversion, writes
// no report and keeps the older workbook.
TEST_F(LongConversion, FromTheDesktopTheDialogShowsThePhasesAndCancelStops) {
  writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + dir.file("zenity.log") +
                                 "'\ncase \"$1\" in --progress)\n  if [ -n \"$CANCEL\" ]; then head -n 3 >/dev/null; exit 1; fi\n"
                                 "  cat >>'" + dir.file("zenity.in") + "' ;;\nesac\n");
  fs::permissions(fs::u8path(bin + "/zenity"), fs::perms::owner_all);
  auto r = testing::runProcess({TLQ_CONVERTER_EXE, "--xlsx", recording}, env({{"DISPLAY", ":42"}}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(readFile(dir.file("zenity.log")).starts_with("--progress --title=run 7.tlq ")) << readFile(dir.file("zenity.log"));
  std::string fed = readFile(dir.file("zenity.in"));
  EXPECT_NE(fed.find("# Converting the recording, then compressing the workbook, "), std::string::npos) << fed;
  EXPECT_NE(fed.find("# Compressing the workbook, "), std::string::npos) << fed;
  EXPECT_EQ(fed.find("\n100\n"), std::string::npos) << "the bar at its end before the end";

  writeFile(dir.file("run 7.xlsx"), "an older workbook");
  auto cancelled = testing::runProcess({TLQ_CONVERTER_EXE, "--xlsx", recording}, env({{"DISPLAY", ":42"}, {"CANCEL", "1"}}));
  EXPECT_EQ(cancelled.exitCode, 130) << cancelled.err;
  EXPECT_EQ(readFile(dir.file("run 7.xlsx")), "an older workbook");
  EXPECT_EQ(namesIn(dir.path(), "tlqconverter_"), std::vector<std::string>());
  EXPECT_TRUE(reports().empty());
}

// Ctrl-C while the recording is converted, and while the library
// compresses the workbook (which cannot be interrupted: the program ends at
// once): exit code 130 within a fraction of a second, no report, the older
// workbook as it was, nothing of ours left.
TEST_F(LongConversion, CtrlCStopsItInEitherPhase) {
  for (bool compressing : {false, true}) {
    SCOPED_TRACE(compressing ? "compressing" : "converting");
    writeFile(dir.file("run 7.xlsx"), "an older workbook");
    testing::RunningProcess converting({TLQ_CONSOLE_PROGRAM, "--xlsx", recording}, env(), true);
    if (compressing)
      untilCompressing();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto sent = std::chrono::steady_clock::now();
    ::kill(converting.pid(), SIGINT);
    auto r = converting.wait();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(900));
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_EQ(readFile(dir.file("run 7.xlsx")), "an older workbook");
    EXPECT_EQ(namesIn(dir.path(), "tlqconverter_"), std::vector<std::string>());
    EXPECT_TRUE(reports().empty());
  }
}

#endif

// A single conversion refused before the work: exit code 2, the report's
// trace ends where the workbook is asked for, not at the commit.
void expectRefusedBeforeTheWork(const testing::ProcessResult& r, const std::vector<std::string>& reports) {
  EXPECT_EQ(r.exitCode, 2);
  ASSERT_EQ(reports.size(), 1u);
  std::vector<std::string> trace = testing::traceEntries(readFile(reports[0]));
  EXPECT_EQ(trace.back(), testing::entryAt("convert/convert_workbook.cpp", "TLQ_AT(requireReplaceable(xlsxPath))",
                                           "mainConvertWorkbook"));
}

// A workbook that cannot be replaced fails at once, before the recording is
// converted: the report's trace ends where it is asked, not at the commit.
TEST_F(Program, AWorkbookThatCannotBeReplacedFailsBeforeTheWork) {
  std::string recording = dir.file("r.tlq");
  writeFile(recording, testing::recordingOf(50));
  fs::create_directory(fs::u8path(dir.file("r.xlsx")));  // a folder in its place
  writeFile(dir.file("r.xlsx/keep"), "kept");
  auto r = run({"--xlsx", recording}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot open: " + dir.file("r.xlsx") + " (")) << r.err;
  expectRefusedBeforeTheWork(r, reports());
  EXPECT_EQ(readFile(dir.file("r.xlsx/keep")), "kept");
}

#ifdef _WIN32
// A workbook the spreadsheet holds (open for reading, sharing reads alone)
// cannot be renamed over: that is found at once, before the work, with the
// system's reason, and the workbook stays as it was.
TEST_F(Program, AHeldWorkbookFailsAtOnce) {
  std::string recording = dir.file("held.tlq");
  writeFile(recording, testing::recordingOf(50));
  writeFile(dir.file("held.xlsx"), "an older workbook");
  HANDLE held = ::CreateFileW(widePath(dir.file("held.xlsx")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  auto r = run({"--xlsx", recording}, {}, TLQ_CONSOLE_PROGRAM);
  ::CloseHandle(held);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: cannot open: " + dir.file("held.xlsx") + " (" +
                                systemMessage(ERROR_SHARING_VIOLATION) + ") (report: "))
      << r.err;
  expectRefusedBeforeTheWork(r, reports());
  EXPECT_EQ(readFile(dir.file("held.xlsx")), "an older workbook");
}
#endif

#ifdef _WIN32
// A console window is told where the table went, in one line, as a terminal
// is elsewhere; a pipe gets nothing new. The console is one of its own,
// read back from its screen (console_screen), which wine has only with a
// display: without one, the pipe alone is tested here, and
// scripts/test-batch-windows.sh runs this again in a virtual display.
TEST_F(Program, AConsoleIsToldWhereTheTableWent) {
  testing::SeparatorStore store(dir, ",", ".");
  fs::create_directories(fs::u8path(dir.file("M\xc3\xa4rz")));
  const std::string recording = dir.file("M\xc3\xa4rz/run 1.tlq");
  testing::ScopedEnv reports("TMP", tmp.c_str());
  testing::ScopedEnv probe("TLQ_PROBE_LOG", openerLog.c_str());
  struct Case {
    std::vector<std::string> args;
    std::string recording, line;
  };
  bool screens = true;
  for (const Case& c : std::vector<Case>{
           {{}, testing::recordingOf(12, 3),
            "CSV written to: " + dir.file("M\xc3\xa4rz/run 1.csv") + " (12 lines, 3 entries dropped for a failed CRC)"},
           {{}, testing::recordingOf(1), "CSV written to: " + dir.file("M\xc3\xa4rz/run 1.csv") + " (1 line)"},
           {{"--xlsx"}, testing::recordingOf(5, 1),
            "Workbook written to: " + dir.file("M\xc3\xa4rz/run 1.xlsx") + " (5 rows, 1 entry dropped for a failed CRC)"}}) {
    SCOPED_TRACE(c.line);
    writeFile(recording, c.recording);
    std::vector<std::string> args = c.args;
    args.push_back(recording);
    auto piped = run(args, {}, TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out, "");
    if (!screens) continue;

    const std::string screen = dir.file("screen.txt");
    std::wstring inner = L"\"" + widen(TLQ_CONSOLE_PROGRAM) + L"\"";
    for (const std::string& arg : args) inner += L" \"" + widen(arg) + L"\"";
    std::wstring escaped;
    for (wchar_t ch : inner) escaped += ch == L'"' ? std::wstring(L"\\\"") : std::wstring(1, ch);
    std::wstring command =
        L"\"" + widen(TLQ_CONSOLE_SCREEN_EXE) + L"\" \"" + widen(screen) + L"\" 65001 \"" + escaped + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                                 nullptr, &startup, &process));
    ::WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    if (code == 101 && !getEnv("TLQ_REQUIRE_CONSOLE")) {
      screens = false;  // no console screen here (wine without a display)
      continue;
    }
    EXPECT_EQ(code, 0u);
    std::string shown = readFile(screen);
    EXPECT_NE(shown.find(c.line + "\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("tlqconverter: "), std::string::npos) << shown;  // no finding, nothing else
  }
  if (!screens) GTEST_SKIP() << "the pipe tested; no console screen here (wine without a display)";
}
#endif

}  // namespace
}  // namespace tlq
