#include "app/registration.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "platform/console.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace tlq {

namespace {

// Keys opened by one operation, closed in reverse order on every way out.
class OpenKeys {
 public:
  ~OpenKeys() {
    for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) close(*it);
  }
  RegKey open(RegKey parent, std::string_view subkey) {
    keys_.push_back(createOrOpen(parent, subkey, kKeyWrite));
    return keys_.back();
  }

 private:
  std::vector<RegKey> keys_;
};

void printFailure(const Error& e) {
  std::string line = "[" + std::string(e.kindName()) + "]: " + e.message() + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

// The program the verbs start: the desktop program, also when its console
// twin (tlqconverter.com, beside it) runs the switch.
std::string desktopProgram() {
  std::string program = getAppFilename();
#ifdef _WIN32
  if (program.size() > 4 && asciiUpper(std::string_view(program).substr(program.size() - 4)) == ".COM")
    program.replace(program.size() - 3, 3, "exe");
#endif
  return program;
}

#ifdef _WIN32
// True for a program in a folder of the user's own (below the profile or the
// user's local application data, where a "just for me" setup puts it). Such
// a program is there for that user only, and so are its verbs: the machine's
// would give every other user a program they cannot start, and one that is
// gone once its user removes it.
bool inUsersFolder(const std::string& program) {
  auto comparable = [](std::string path) {
    for (char& c : path)
      if (c == '/') c = '\\';
    while (path.ends_with("\\")) path.pop_back();
    return asciiUpper(path);
  };
  const std::string at = comparable(program);
  for (const char* name : {"LOCALAPPDATA", "USERPROFILE"}) {
    std::optional<std::string> folder = getEnv(name);
    if (!folder || folder->empty()) continue;
    std::string base = comparable(*folder);
    if (!base.empty() && at.starts_with(base + "\\")) return true;
  }
  return false;
}
#endif

// Writes the file type and its verbs below `classes`: HKEY_CLASSES_ROOT, or
// the user's classes.
void writeVerbs(RegKey classes, const std::string& program) {
  OpenKeys keys;
  RegKey type = keys.open(classes, progId);
  writeString(type, "", "Treloqa file");
  RegKey shell = keys.open(type, "shell");
  RegKey verb = keys.open(shell, appName);
  writeString(verb, "", "Open with Excel");
  writeString(verb, "Icon", joinPath(getAppDir(), "treloqview.exe,0"));
  RegKey command = keys.open(verb, "command");
  // The program path is quoted, so that a path with blanks cannot start
  // another program.
  writeString(command, "", "\"" + program + "\" \"%1\"");
  RegKey workbookVerb = keys.open(shell, workbookVerbName);
  writeString(workbookVerb, "", "Open as workbook");
  writeString(workbookVerb, "Icon", joinPath(getAppDir(), "treloqview.exe,0"));
  RegKey workbookCommand = keys.open(workbookVerb, "command");
  writeString(workbookCommand, "", "\"" + program + "\" --xlsx \"%1\"");
  // Every folder: its recordings checked (--check), nothing written; from
  // Explorer the desktop program tells the result in a message box.
  RegKey checkVerb = keys.open(classes, checkVerbKey);
  writeString(checkVerb, "", "Check recordings");
  RegKey checkCommand = keys.open(checkVerb, "command");
  writeString(checkCommand, "", "\"" + program + "\" --check \"%1\"");
}

bool keyExists(const std::string& path) {
  RegKey key = regOpen(path, RegMode::read);
  regClose(key);
  return key != 0;
}

// Deletes those of our verbs that are there below `classes` of `root` ("" or
// the user's classes and a backslash; the reading layer knows the root as
// `rootName`); true when there were any.
bool removeVerbs(RegKey root, std::string_view rootName, const std::string& classes) {
  const std::string typeShell = classes + progId + "\\shell\\";
  std::vector<std::string> present;
  for (const std::string& verb : {typeShell + appName, typeShell + workbookVerbName, classes + checkVerbKey})
    if (keyExists(std::string(rootName) + "\\" + verb)) present.push_back(verb);
  if (present.empty()) return false;
  for (const std::string& verb : present) {
    OpenKeys keys;
    size_t cut = verb.rfind('\\');
    delTree(keys.open(root, verb.substr(0, cut)), verb.substr(cut + 1));
  }
  return true;
}

}  // namespace

bool regInstall(bool currentUser) {
  try {
    TLQ_OP("regInstall");
    std::string program = desktopProgram();
    std::string refused;  // the system's words when HKEY_CLASSES_ROOT refused the verbs
    bool usersOwn = false;  // the program is in a folder of the user's own
#ifdef _WIN32
    usersOwn = !currentUser && inUsersFolder(program);
    currentUser = currentUser || usersOwn;
#endif
    if (!currentUser) {
      try {
        writeVerbs(kClassesRoot, program);
      } catch (const RegAccessDenied& e) {
        TraceFrame::forgetUnwound();
        refused = e.message();
      }
    }
    if (currentUser || !refused.empty()) {
      OpenKeys keys;
      writeVerbs(keys.open(kCurrentUser, userClasses), program);
    }
    registerDesktopFileType(program);
    if (!refused.empty()) {
      attachParentConsole();
      writeText(stderr, "tlqconverter: HKEY_CLASSES_ROOT refused the verbs (" + refused +
                            "): they are registered for this user only, under HKEY_CURRENT_USER\\" + userClasses +
                            "\n");
    }
    if (usersOwn) {
      attachParentConsole();
      writeText(stderr, "tlqconverter: " + getAppDir() +
                            " is this user's own folder: the verbs are registered for this user only, under "
                            "HKEY_CURRENT_USER\\" + std::string(userClasses) + "\n");
    }
    return true;
  } catch (const Error& e) {
    TraceFrame::forgetUnwound();
    printFailure(e);
    return false;
  } catch (const std::exception& e) {
    printFailure(libraryFailure(e));
    return false;
  }
}

bool regUninstall(bool currentUser) {
  try {
    TLQ_OP("regUninstall");
    bool userHad = removeVerbs(kCurrentUser, "HKEY_CURRENT_USER", std::string(userClasses) + "\\");
    if (!currentUser) {
      try {
        if (!removeVerbs(kClassesRoot, "HKEY_CLASSES_ROOT", "") && !userHad) {
          // Nothing registered anywhere: removing the verb fails, and says so.
          OpenKeys keys;
          delTree(keys.open(keys.open(kClassesRoot, progId), "shell"), appName);
        }
      } catch (const RegAccessDenied&) {
        if (!userHad) throw;
        TraceFrame::forgetUnwound();  // the machine's verbs are not this user's to remove
      }
    }
    unregisterDesktopFileType();
    return true;
  } catch (const Error& e) {
    TraceFrame::forgetUnwound();
    printFailure(e);
    return false;
  } catch (const std::exception& e) {
    printFailure(libraryFailure(e));
    return false;
  }
}

}  // namespace tlq
