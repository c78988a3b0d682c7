#include <signal.h>
#include <unistd.h>

#include "platform/child_posix.h"
#include "platform/console.h"

namespace tlq {

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool startedFromDesktop() { return !::isatty(0) && !::isatty(1) && !::isatty(2) && graphicalSession(); }

void attachParentConsole() {}

namespace {

std::atomic<bool>* interrupted = nullptr;
struct sigaction previous[2];
constexpr int kSignals[2] = {SIGINT, SIGTERM};

void onInterrupt(int signal) {
  if (interrupted->exchange(true)) {  // the second time: as if nobody listened
    ::signal(signal, SIG_DFL);
    ::raise(signal);
  }
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& flag) {
  interrupted = &flag;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &action, &previous[i]);
}

InterruptGuard::~InterruptGuard() {
  for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
  interrupted = nullptr;
}

void InterruptGuard::done() {}

}  // namespace tlq
