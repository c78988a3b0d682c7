// The reading layer over the Windows registry.

#include "error.h"
#include "platform/registry.h"
#include "platform/win32_text.h"

namespace tlq {

namespace {

HKEY rootHandle(RegRoot root) {
  switch (root) {
    case RegRoot::classesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::currentUser: return HKEY_CURRENT_USER;
    case RegRoot::localMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::users: return HKEY_USERS;
    case RegRoot::currentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CURRENT_USER;
}

}  // namespace

RegKey regOpen(std::string_view path, RegMode mode) {
  std::optional<RegPath> p = parseRegPath(path);
  if (!p) return 0;
  HKEY root = rootHandle(p->root);
  HKEY connected = nullptr;  // a root this call opened, closed again at the end
  if (!p->computer.empty()) {
    if (::RegConnectRegistryW(widen(p->computer).c_str(), root, &connected) != ERROR_SUCCESS) return 0;
    root = connected;
  } else if (p->root == RegRoot::currentUser && ::RegOpenCurrentUser(0, &connected) == ERROR_SUCCESS) {
    root = connected;
  }
  REGSAM mask = (mode == RegMode::read ? KEY_READ : KEY_WRITE) | (p->view64 ? KEY_WOW64_64KEY : 0);
  std::wstring subkey = widen(p->subkey);
  HKEY result = nullptr;
  LSTATUS rc = mode == RegMode::create
                   ? ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, mask, nullptr, &result, nullptr)
                   : ::RegOpenKeyExW(root, subkey.c_str(), 0, mask, &result);
  if (connected) ::RegCloseKey(connected);
  return rc == ERROR_SUCCESS ? reinterpret_cast<RegKey>(result) : 0;
}

RegData regRead(std::string_view path, std::string_view name) {
  RegKey key = regOpen(path, RegMode::read);
  if (key == 0) return RegData();
  HKEY h = reinterpret_cast<HKEY>(key);
  std::wstring valueName = widen(name);
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(h, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    ::RegCloseKey(h);
    return RegData();
  }
  std::string bytes(size, '\0');
  if (::RegQueryValueExW(h, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
      ERROR_SUCCESS) {
    ::RegCloseKey(h);
    return RegData();
  }
  bytes.resize(size);
  ::RegCloseKey(h);
  return regDataFromValue(type, bytes);
}

void regClose(RegKey key) {
  if (key != 0) ::RegCloseKey(reinterpret_cast<HKEY>(key));
}

namespace {

// The roots' handle values are sign-extended on 64-bit Windows.
HKEY handleOf(RegKey key) {
  switch (key) {
    case kClassesRoot: return HKEY_CLASSES_ROOT;
    case kCurrentUser: return HKEY_CURRENT_USER;
    case kLocalMachine: return HKEY_LOCAL_MACHINE;
    case kUsers: return HKEY_USERS;
    case kCurrentConfig: return HKEY_CURRENT_CONFIG;
    default: return reinterpret_cast<HKEY>(key);
  }
}

void check(LSTATUS rc) {
  if (rc == ERROR_ACCESS_DENIED) throw RegAccessDenied(systemMessage(ERROR_ACCESS_DENIED));
  if (rc != ERROR_SUCCESS) throw OsError(systemMessage(static_cast<DWORD>(rc)));
}

}  // namespace

RegKey createOrOpen(RegKey parent, std::string_view subkey, uint32_t access) {
  TLQ_OP("createOrOpen");
  if (parent == kClassesRoot && classesRootDenied()) check(ERROR_ACCESS_DENIED);
  HKEY result = nullptr;
  DWORD disposition = 0;
  check(::RegCreateKeyExW(handleOf(parent), widen(subkey).c_str(), 0, nullptr, 0, access, nullptr, &result,
                          &disposition));
  return reinterpret_cast<RegKey>(result);
}

void writeString(RegKey key, std::string_view name, std::string_view value) {
  TLQ_OP("writeString");
  std::wstring data = widen(value);
  check(::RegSetValueExW(handleOf(key), widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

void delTree(RegKey key, std::string_view subkey) {
  TLQ_OP("delTree");
  std::wstring name = widen(subkey);
  check(::RegDeleteTreeW(handleOf(key), subkey.empty() ? nullptr : name.c_str()));
}

void close(RegKey key) {
  if (key != 0 && (key < kClassesRoot || key > kCurrentConfig)) ::RegCloseKey(handleOf(key));
}

}  // namespace tlq
