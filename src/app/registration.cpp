#include "app/registration.h"

#include <cstdio>
#include <string>
#include <vector>

#include "error.h"
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
  RegKey open(RegKey parent, const char* subkey) {
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

}  // namespace

bool regInstall() {
  try {
    TLQ_OP("regInstall");
    OpenKeys keys;
    RegKey type = keys.open(kClassesRoot, progId);
    writeString(type, "", "Treloqa file");
    RegKey shell = keys.open(type, "shell");
    RegKey verb = keys.open(shell, appName);
    writeString(verb, "", "Open with Excel");
    writeString(verb, "Icon", joinPath(getAppDir(), "treloqview.exe,0"));
    RegKey command = keys.open(verb, "command");
    // The program path is quoted, so that a path with blanks cannot start
    // another program.
    writeString(command, "", "\"" + getAppFilename() + "\" \"%1\"");
    RegKey workbookVerb = keys.open(shell, workbookVerbName);
    writeString(workbookVerb, "", "Open as workbook");
    writeString(workbookVerb, "Icon", joinPath(getAppDir(), "treloqview.exe,0"));
    RegKey workbookCommand = keys.open(workbookVerb, "command");
    writeString(workbookCommand, "", "\"" + getAppFilename() + "\" --xlsx \"%1\"");
    registerDesktopFileType(getAppFilename());
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

bool regUninstall() {
  try {
    TLQ_OP("regUninstall");
    OpenKeys keys;
    RegKey type = keys.open(kClassesRoot, progId);
    RegKey shell = keys.open(type, "shell");
    delTree(shell, appName);
    // An installation by an earlier version has no second verb: made, so
    // that removing it cannot fail for that.
    close(createOrOpen(shell, workbookVerbName, kKeyWrite));
    delTree(shell, workbookVerbName);
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
