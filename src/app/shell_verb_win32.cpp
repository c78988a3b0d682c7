// A test helper: runs a verb on a file or folder through the shell, as
// Explorer does when the user picks it, and waits for the program it starts:
//
//   shell_verb VERB PATH [CLASS-KEY]
//
// CLASS-KEY, below HKEY_CURRENT_USER (such as Software\Classes\Directory),
// is the type's key where the shell would not find it itself: wine's
// HKEY_CLASSES_ROOT leaves out the user's classes, which Windows shows there.
// Exit code: the program's; 100 when the shell could not run the verb.
#include "platform/win32_text.h"  // windows.h first

#include <shellapi.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) return 100;
  SHELLEXECUTEINFOW run{};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  run.lpVerb = argv[1];
  run.lpFile = argv[2];
  run.nShow = SW_SHOWNORMAL;
  HKEY type = nullptr;
  if (argc == 4) {
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, argv[3], 0, KEY_READ, &type) != ERROR_SUCCESS) return 100;
    run.fMask |= SEE_MASK_CLASSKEY;
    run.hkeyClass = type;
  }
  bool started = ::ShellExecuteExW(&run) && run.hProcess;
  if (type) ::RegCloseKey(type);
  if (!started) return 100;
  ::WaitForSingleObject(run.hProcess, 120000);
  DWORD exitCode = 100;
  ::GetExitCodeProcess(run.hProcess, &exitCode);
  ::CloseHandle(run.hProcess);
  return static_cast<int>(exitCode);
}
