// The system's progress dialog, for a long task started from the desktop:
// a title, two lines of text, a bar, the time left, and Cancel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tlq {

class ProgressDialog {
 public:
  // Shows the dialog: IProgressDialog under Windows, zenity elsewhere.
  // Where none can be shown (no display, no zenity) nothing is, and the
  // other calls do nothing. With `callerTellsTime` the time left is the
  // caller's (update's `left`) everywhere, not the dialog's own estimate from
  // the bar's pace (Windows').
  explicit ProgressDialog(const std::string& title, bool callerTellsTime = false);
  ~ProgressDialog();
  ProgressDialog(const ProgressDialog&) = delete;
  ProgressDialog& operator=(const ProgressDialog&) = delete;

  bool shown() const { return state_ != nullptr; }

  // The bar at `done` of `total`, and the lines of text: what is being done,
  // and on what (a path, shortened to fit where the dialog does that), and
  // the time left as the caller estimates it ("0:20"), shown where the
  // dialog does not estimate it itself from the bar's pace (zenity, or with
  // callerTellsTime).
  void update(uint64_t done, uint64_t total, const std::string& what, const std::string& path,
              const std::string& left = "");

  // A new phase begins, with a bar of its own: the pace of the old one
  // says nothing of its time left.
  void restartClock();

  // True once the person has pressed Cancel (or closed the dialog).
  bool cancelled();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tlq
