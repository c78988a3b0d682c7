// A test helper: runs a command line in this program's console, switched to
// a code page, and writes what the console's screen then shows (as UTF-8,
// a line per row, trailing blanks cut) to a file:
//
//   console_screen OUT-FILE CODE-PAGE COMMAND-LINE
//
// Started with a console of its own (CREATE_NEW_CONSOLE), it shows what a
// person would read in a console window. Exit code: the command's, 100 when
// something of its own failed, 101 when the console has no screen to read
// (wine without a display).
#include "platform/win32_text.h"  // windows.h first

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 100;
  ::SetConsoleOutputCP(static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10)));
  HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (screen == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(screen, &info)) return 101;
  ::SetConsoleScreenBufferSize(screen, COORD{1000, 200});  // wide enough for a line not to wrap
  std::wstring command = argv[3];
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 100;
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = 100;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  if (!::GetConsoleScreenBufferInfo(screen, &info)) return 100;
  std::string text;
  std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    DWORD read = 0;
    if (!::ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &read))
      return 100;
    std::wstring line = row.substr(0, read);
    while (!line.empty() && line.back() == L' ') line.pop_back();
    text += tlq::narrow(line) + "\n";
  }
  FILE* out = ::_wfopen(argv[1], L"wb");
  if (!out) return 100;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
  return static_cast<int>(exitCode);
}
