// The progress dialog outside Windows: zenity, fed a line for each change.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/child_posix.h"
#include "platform/console.h"
#include "platform/progress_dialog.h"

namespace tlq {

namespace {

// zenity reads its text as Pango markup.
std::string markupOf(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\n': out += ' '; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

struct ProgressDialog::State {
  FedChild child;
  struct sigaction previousPipeAction {};
  bool ended = false, cancelled = false;
  int percent = -1;
  std::string text;

  // Writes a line; false when zenity is gone.
  bool send(const std::string& line) {
    for (size_t at = 0; at < line.size();) {
      ssize_t n = ::write(child.input, line.data() + at, line.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }
};

// zenity tells no time of its own: the caller's, always.
ProgressDialog::ProgressDialog(const std::string& title, bool) {
  if (!startedFromDesktop()) return;
  auto state = std::make_unique<State>();
  // zenity may go (Cancel) while a line is on its way: no signal for that.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &state->previousPipeAction);
  std::optional<FedChild> child = startFedChild(
      {"zenity", "--progress", "--title=" + title, "--text=" + markupOf(title), "--percentage=0", "--auto-close",
       "--time-remaining", "--width=520"});
  if (!child) {
    ::sigaction(SIGPIPE, &state->previousPipeAction, nullptr);
    return;
  }
  state->child = *child;
  state_ = std::move(state);
}

ProgressDialog::~ProgressDialog() {
  if (!state_) return;
  ::close(state_->child.input);  // zenity ends at the end of its input
  int code = 0;
  for (int wait = 0; !state_->ended && !childEnded(state_->child.pid, false, code); ++wait) {
    if (wait == 20) {  // a second: no longer
      ::kill(state_->child.pid, SIGTERM);
      childEnded(state_->child.pid, true, code);
      break;
    }
    ::usleep(50000);
  }
  ::sigaction(SIGPIPE, &state_->previousPipeAction, nullptr);
}

void ProgressDialog::update(uint64_t done, uint64_t total, const std::string& what, const std::string& path,
                            const std::string& left) {
  if (!state_ || state_->ended) return;
  std::string text = "# " + markupOf(what + (left.empty() ? "" : ", " + left + " left") + ": " + path) + "\n";
  if (text != state_->text && state_->send(text)) state_->text = text;
  // Below 100 until the very end, which closes the dialog.
  int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
  if (percent >= 100 && done < total) percent = 99;
  if (percent != state_->percent && state_->send(std::to_string(percent) + "\n")) state_->percent = percent;
}

void ProgressDialog::restartClock() {}  // the caller tells the time left

bool ProgressDialog::cancelled() {
  if (!state_) return false;
  int code = 0;
  if (!state_->ended && childEnded(state_->child.pid, false, code)) {
    state_->ended = true;
    state_->cancelled = code != 0 || state_->percent < 100;  // closed or cancelled before the end
  }
  return state_->cancelled;
}

}  // namespace tlq
