// A test helper: holds a file open as a spreadsheet holds the workbook it
// shows (reading it, sharing reads alone, so that nothing renames over it or
// writes it) until its standard input ends:
//
//   hold_file PATH
//
// Writes "held" once it holds the file. Exit code 1 when it cannot open it.
#include "platform/win32_text.h"  // windows.h first

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 1;
  HANDLE h = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  char c;
  while (std::fread(&c, 1, 1, stdin) == 1) {
  }
  ::CloseHandle(h);
  return 0;
}
