// The terminal the program may run in, and the user's interrupt.
#pragma once

#include <atomic>
#include <cstdio>
#include <string_view>

namespace tlq {

// True when the stream goes to a terminal (under Windows, a console).
bool isTerminal(std::FILE* stream);

// True for a run with no terminal of its own, which reaches the person
// through windows: under Windows the desktop program (tlqconverter.exe, not
// its console twin tlqconverter.com); elsewhere a start from the desktop (no
// standard stream on a terminal, and a graphical session).
bool startedFromDesktop();

// Under Windows, the desktop program started from a console: makes its
// standard output and error reach that console where they are not
// redirected, so that a few lines (help, version, a usage error) show there.
// Does nothing elsewhere, or when there is no such console.
void attachParentConsole();

// Writes UTF-8 text to the stream at once. A Windows console is handed it
// as wide text, so that its code page does not garble names beyond ASCII;
// everything else (a file, a pipe) gets the UTF-8 bytes.
void writeText(std::FILE* stream, std::string_view text);

// While it lives, the user's interrupt (Ctrl-C, and SIGTERM and SIGHUP
// outside Windows; the console's control events under Windows) sets `flag` instead
// of ending the program, so that the program can stop cleanly. Further
// interrupts change nothing, also once the guard is gone when one had come
// (the first decides how the program ends); a signal that the program was
// started with ignored stays ignored. One at a time.
class InterruptGuard {
 public:
  explicit InterruptGuard(std::atomic<bool>& flag);
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // The exit code that tells the caller why the program stopped: 130 after
  // Ctrl-C (SIGINT), 143 after SIGTERM, 129 after SIGHUP, by the first that
  // came; 0 when none has come.
  int exitCode() const;

  // Tells a console that is closing that the program has cleaned up (under
  // Windows the system ends the program once the handler returns).
  static void done();
};

}  // namespace tlq
