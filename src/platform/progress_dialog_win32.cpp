#include "platform/win32_text.h"  // windows.h first

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/progress_dialog.h"

namespace tlq {

namespace {

// True when this session can show a window at all (a service, or wine
// without a display, cannot: the dialog would wait forever for its own).
bool windowsCanBeShown() {
  HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (!probe) return false;
  ::DestroyWindow(probe);
  return true;
}

}  // namespace

struct ProgressDialog::State {
  IProgressDialog* dialog = nullptr;
  bool comStarted = false;
  std::wstring path;  // the last path shown
  bool callerTellsTime = false;
};

ProgressDialog::ProgressDialog(const std::string& title, bool callerTellsTime) {
  if (!windowsCanBeShown()) return;
  auto state = std::make_unique<State>();
  state->comStarted = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (FAILED(::CoCreateInstance(CLSID_ProgressDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IProgressDialog,
                                reinterpret_cast<void**>(&state->dialog)))) {
    if (state->comStarted) ::CoUninitialize();
    return;
  }
  state->dialog->SetTitle(widen(title).c_str());
  state->callerTellsTime = callerTellsTime;
  DWORD flags = PROGDLG_NORMAL | PROGDLG_NOMINIMIZE | (callerTellsTime ? 0 : PROGDLG_AUTOTIME);
  if (FAILED(state->dialog->StartProgressDialog(nullptr, nullptr, flags, nullptr))) {
    state->dialog->Release();
    if (state->comStarted) ::CoUninitialize();
    return;
  }
  state_ = std::move(state);
}

ProgressDialog::~ProgressDialog() {
  if (!state_) return;
  state_->dialog->StopProgressDialog();
  state_->dialog->Release();
  if (state_->comStarted) ::CoUninitialize();
}

void ProgressDialog::update(uint64_t done, uint64_t total, const std::string& what, const std::string& path,
                            const std::string& left) {
  if (!state_) return;
  // The caller's time left beside what is done (line 3, the dialog's own
  // estimate's, stays empty without it: wine does not show it at all).
  std::string first = state_->callerTellsTime && !left.empty() ? what + ", about " + left + " left" : what;
  state_->dialog->SetLine(1, widen(first).c_str(), FALSE, nullptr);
  std::wstring widePath = widen(path);
  if (widePath != state_->path) {
    state_->dialog->SetLine(2, widePath.c_str(), TRUE, nullptr);  // shortened to fit
    state_->path = widePath;
  }
  state_->dialog->SetProgress64(done, total);
}

void ProgressDialog::restartClock() {
  if (state_) state_->dialog->Timer(PDTIMER_RESET, nullptr);
}

bool ProgressDialog::cancelled() { return state_ && state_->dialog->HasUserCancelled(); }

}  // namespace tlq
