#include <signal.h>
#include <unistd.h>

#include "platform/child_posix.h"
#include "platform/console.h"

namespace tlq {

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool startedFromDesktop() { return !::isatty(0) && !::isatty(1) && !::isatty(2) && graphicalSession(); }

void attachParentConsole() {}

void writeText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

namespace {

std::atomic<bool>* interrupted = nullptr;
std::atomic<int> firstSignal{0};
// Ctrl-C, a request to end, and the terminal closed.
constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[3];
bool installed[3] = {false, false, false};

void onInterrupt(int signal) {
  int none = 0;
  firstSignal.compare_exchange_strong(none, signal);
  interrupted->store(true);
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& flag) {
  interrupted = &flag;
  firstSignal = 0;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  action.sa_flags = SA_RESTART;
  sigfillset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) {
    // A caller that ignores the signal (a script's background job) keeps it
    // ignored.
    installed[i] = ::sigaction(kSignals[i], nullptr, &previous[i]) == 0 && previous[i].sa_handler != SIG_IGN &&
                   ::sigaction(kSignals[i], &action, nullptr) == 0;
  }
}

// Once a signal has come, the others stay caught (and change nothing):
// the first decides how the program ends, also on its way out.
InterruptGuard::~InterruptGuard() {
  static std::atomic<bool> afterwards{false};
  if (firstSignal.load() != 0) {
    interrupted = &afterwards;  // the flag goes with the guard
    return;
  }
  for (int i = 0; i < 3; ++i)
    if (installed[i]) ::sigaction(kSignals[i], &previous[i], nullptr);
  interrupted = nullptr;
}

int InterruptGuard::exitCode() const {
  int signal = firstSignal.load();
  return signal == 0 ? 0 : 128 + signal;
}

void InterruptGuard::done() {}

}  // namespace tlq
