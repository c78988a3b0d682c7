// The registry where there is none: a ".reg" file holds the keys, and the
// user's locale answers for the regional settings the file does not hold.

#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "error.h"
#include "platform/file.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace tlq {

namespace {

constexpr std::string_view kInternational = "HKEY_CURRENT_USER\\Control Panel\\International";

// The variable's value, or `fallback` when it is unset or empty.
std::string envOr(const char* name, std::string fallback) {
  std::optional<std::string> v = getEnv(name);
  return v && !v->empty() ? *v : fallback;
}

// $TLQCONVERTER_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/tlqconverter/registry.reg.
std::string storePath() {
  std::string path = envOr("TLQCONVERTER_REGISTRY", "");
  if (!path.empty()) return path;
  std::string home = envOr("HOME", "");
  std::string config = envOr("XDG_CONFIG_HOME", home.empty() ? "" : home + "/.config");
  return config.empty() ? "" : config + "/tlqconverter/registry.reg";
}

// The decimal point of the locale named by LC_ALL, LC_NUMERIC or LANG (the
// first that is set); "." when that locale is not installed.
std::string localeDecimalPoint() {
  std::string name = envOr("LC_ALL", envOr("LC_NUMERIC", envOr("LANG", "C")));
  locale_t loc = ::newlocale(LC_NUMERIC_MASK, name.c_str(), static_cast<locale_t>(0));
  if (!loc) return ".";
  std::string point = ::nl_langinfo_l(RADIXCHAR, loc);
  ::freelocale(loc);
  return point.empty() ? "." : point;
}

RegValue textValue(std::string_view name, std::string_view text) {
  RegValue v;
  v.name = name;
  v.bytes = utf8ToUtf16le(text);
  v.bytes.append(2, '\0');
  return v;
}

// What the store file holds; an empty store when there is none.
RegStore loadStoreFile() {
  std::string path = storePath();
  std::optional<std::string> text = path.empty() ? std::nullopt : readWholeFile(path);
  return RegStore::parse(text ? *text : std::string());
}

void saveStoreFile(const RegStore& store) {
  std::string path = storePath();
  if (path.empty()) throw OsError(std::strerror(ENOENT));
  replaceFile(path, store.serialize());
}

// The store as the program sees it: the file, with the locale's separators
// where the file says nothing of them (a "name"=- in the file still removes
// them).
RegStore loadStore() {
  RegStore store = loadStoreFile();
  bool noDecimal = !store.findValue(kInternational, "sDecimal");
  bool noList = !store.findValue(kInternational, "sList");
  if (noDecimal || noList) {
    std::string point = localeDecimalPoint();
    if (noDecimal) store.setValue(kInternational, textValue("sDecimal", point));
    if (noList) store.setValue(kInternational, textValue("sList", point == "," ? ";" : ","));
  }
  return store;
}

// Open keys, by handle: the canonical path of each.
std::map<RegKey, std::string>& openKeys() {
  static std::map<RegKey, std::string> keys;
  return keys;
}

RegKey remember(const std::string& path) {
  static RegKey next = 1;
  openKeys()[next] = path;
  return next++;
}

}  // namespace

RegKey regOpen(std::string_view path, RegMode mode) {
  std::string key = canonicalKeyPath(path);  // empty for an unknown root or a remote registry
  if (key.empty()) return 0;
  RegStore store = loadStore();
  if (!store.hasKey(key)) {
    if (mode != RegMode::create) return 0;
    // Only what the file holds is written back, not the locale's answers.
    RegStore stored = loadStoreFile();
    stored.createKey(key);
    try {
      saveStoreFile(stored);
    } catch (const OsError&) {
      TraceFrame::forgetUnwound();
      return 0;  // the reading layer reports nothing
    }
  }
  return remember(key);
}

RegData regRead(std::string_view path, std::string_view name) {
  std::string key = canonicalKeyPath(path);  // empty for an unknown root or a remote registry
  if (key.empty()) return RegData();
  RegStore store = loadStore();
  if (!store.hasKey(key)) return RegData();
  const RegValue* value = store.findValue(key, name);
  if (!value || value->removed) return RegData();
  return regDataFromValue(value->type, value->bytes);
}

void regClose(RegKey key) { openKeys().erase(key); }

namespace {

// The full path of an open key or a root.
std::string pathOf(RegKey key) {
  switch (key) {
    case kClassesRoot: return std::string(regRootName(RegRoot::classesRoot));
    case kCurrentUser: return std::string(regRootName(RegRoot::currentUser));
    case kLocalMachine: return std::string(regRootName(RegRoot::localMachine));
    case kUsers: return std::string(regRootName(RegRoot::users));
    case kCurrentConfig: return std::string(regRootName(RegRoot::currentConfig));
    default: break;
  }
  auto it = openKeys().find(key);
  if (it == openKeys().end()) throw OsError(std::strerror(EBADF));
  return it->second;
}

std::string childOf(RegKey parent, std::string_view subkey) {
  std::string path = pathOf(parent);
  if (!subkey.empty()) path += "\\" + std::string(subkey);
  return canonicalKeyPath(path);
}

}  // namespace

RegKey createOrOpen(RegKey parent, std::string_view subkey, uint32_t) {
  TLQ_OP("createOrOpen");
  if (parent == kClassesRoot && classesRootDenied()) throw RegAccessDenied(std::strerror(EACCES));
  std::string path = childOf(parent, subkey);
  RegStore store = loadStoreFile();
  if (!store.hasKey(path)) {
    store.createKey(path);
    saveStoreFile(store);
  }
  return remember(path);
}

void writeString(RegKey key, std::string_view name, std::string_view value) {
  TLQ_OP("writeString");
  std::string path = pathOf(key);
  RegStore store = loadStoreFile();
  store.setValue(path, textValue(name, value));
  saveStoreFile(store);
}

void delTree(RegKey key, std::string_view subkey) {
  TLQ_OP("delTree");
  std::string path = childOf(key, subkey);
  RegStore store = loadStoreFile();
  if (!store.deleteTree(path, subkey.empty())) throw OsError(std::strerror(ENOENT));
  saveStoreFile(store);
}

void close(RegKey key) { openKeys().erase(key); }

}  // namespace tlq
