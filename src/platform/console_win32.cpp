#include "platform/win32_text.h"  // windows.h first

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <string>

#include "platform/console.h"

namespace tlq {

namespace {

// The running program was built for the desktop (GUI) subsystem.
bool desktopProgram() {
  auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

bool redirected(DWORD which) {
  HANDLE h = ::GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

}  // namespace

bool isTerminal(std::FILE* stream) {
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

bool startedFromDesktop() { return desktopProgram(); }

void attachParentConsole() {
  if (!desktopProgram()) return;
  bool out = redirected(STD_OUTPUT_HANDLE), err = redirected(STD_ERROR_HANDLE);
  if ((out && err) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!out && std::freopen("CONOUT$", "w", stdout)) _setmode(_fileno(stdout), _O_BINARY);
  if (!err && std::freopen("CONOUT$", "w", stderr)) _setmode(_fileno(stderr), _O_BINARY);
}

void writeText(std::FILE* stream, std::string_view text) {
  std::fflush(stream);
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode)) {
    std::wstring wide = widen(text);
    for (size_t at = 0; at < wide.size();) {  // in pieces the console takes whole
      DWORD n = 0, piece = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 8192));
      if (!::WriteConsoleW(h, wide.data() + at, piece, &n, nullptr) || n == 0) break;
      at += n;
    }
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

namespace {

std::atomic<bool>* interrupted = nullptr;
std::atomic<int> exitAfter{0};
HANDLE cleanedUp = nullptr;

BOOL WINAPI onControl(DWORD event) {
  int none = 0;
  exitAfter.compare_exchange_strong(none, 130);
  interrupted->store(true);
  // Closing the console, logging off, shutting down: the system ends the
  // program when this returns, so wait (a few seconds at most) until it
  // has cleaned up.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    ::WaitForSingleObject(cleanedUp, 4000);
  return TRUE;
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& flag) {
  interrupted = &flag;
  exitAfter = 0;
  if (!cleanedUp) cleanedUp = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(cleanedUp);
  ::SetConsoleCtrlHandler(onControl, TRUE);
}

// Once an event has come, the handler stays (and changes nothing more):
// the first decides how the program ends, also on its way out.
InterruptGuard::~InterruptGuard() {
  static std::atomic<bool> afterwards{false};
  done();
  if (exitAfter.load() != 0) {
    interrupted = &afterwards;  // the flag goes with the guard
    return;
  }
  ::SetConsoleCtrlHandler(onControl, FALSE);
  interrupted = nullptr;
}

int InterruptGuard::exitCode() const { return exitAfter.load(); }

void InterruptGuard::done() {
  if (cleanedUp) ::SetEvent(cleanedUp);
}

}  // namespace tlq
