#include "platform/win32_text.h"  // windows.h first

#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/shell.h"

namespace tlq {

std::string openFileDialog(const std::string& title, const FileFilters& filters) {
  std::string filter;
  for (const auto& [name, pattern] : filters) {
    filter += name;
    filter += '\0';
    filter += pattern;
    filter += '\0';
  }
  filter.append("All Files (*.*)\0*.*\0\0", 21);
  std::wstring wideFilter = widen(filter);
  std::wstring wideTitle = widen(title);
  std::wstring path(65536 + 1, L'\0');

  OPENFILENAMEW request{};
  request.lStructSize = sizeof request;  // 152 on 64-bit Windows
  request.lpstrFilter = wideFilter.c_str();
  request.lpstrFile = path.data();
  request.nMaxFile = 65536;
  request.lpstrTitle = wideTitle.c_str();
  request.Flags = OFN_EXPLORER;
  ::GetOpenFileNameW(&request);  // a cancel leaves the buffer empty
  return narrow(std::wstring_view(path.c_str()));
}

void osOpenFile(const std::string& path) {
  ::ShellExecuteW(nullptr, nullptr, widen(path).c_str(), nullptr, nullptr, SW_SHOW);
}

void registerDesktopFileType(const std::string&) {}
void unregisterDesktopFileType() {}

void showMessage(const std::string& title, const std::string& text, bool warning) {
  ::MessageBoxW(nullptr, widen(text).c_str(), widen(title).c_str(),
                MB_OK | MB_SETFOREGROUND | (warning ? MB_ICONWARNING : MB_ICONINFORMATION));
}

// The desktop program has a message box; its console twin, standard error.
void showLastResort(const std::string& text) {
  if (!startedFromDesktop()) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    return;
  }
  ::MessageBoxA(nullptr, text.c_str(), nullptr, 0);
}

}  // namespace tlq
