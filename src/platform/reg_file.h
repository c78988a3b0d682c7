// A registry held in a text file of the Windows ".reg" format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Control Panel\International]
//   "sList"=";"
//   "sDecimal"=","
//   @="the default value"
//   "Count"=dword:0000002a
//   "Blob"=hex(b):2a,00,00,00,00,00,00,00
//   "Gone"=-
//
// Key paths and value names compare without regard to ASCII letter case.
// "name"=- records that the value is absent; [-KEY] deletes a key and its
// subkeys. The file may be UTF-8 or UTF-16LE with a byte-order mark.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tlq {

struct RegValue {
  std::string name;   // "" for the default value
  uint32_t type = 1;  // REG_SZ
  std::string bytes;  // as the registry stores them: strings in UTF-16LE with their NUL
  bool removed = false;
};

class RegStore {
 public:
  // Reads ".reg" text; lines it cannot make sense of are passed over.
  static RegStore parse(std::string_view text);
  // The text of the store in the same format, UTF-8.
  std::string serialize() const;

  // Key paths are full: "HKEY_CURRENT_USER\Control Panel". Roots always exist.
  bool hasKey(std::string_view keyPath) const;
  void createKey(std::string_view keyPath);
  // Deletes the key with all its subkeys; false when it did not exist. With
  // `keepKey` the key stays, emptied of its values and subkeys.
  bool deleteTree(std::string_view keyPath, bool keepKey = false);

  // The value, a removal record ("name"=-), or nullptr when the store says
  // nothing of it.
  const RegValue* findValue(std::string_view keyPath, std::string_view name) const;
  // Sets a value, creating its key.
  void setValue(std::string_view keyPath, RegValue value);

 private:
  struct Key {
    std::string path;
    std::vector<RegValue> values;
  };
  std::map<std::string, Key> keys_;  // by upper-cased path
};

// The canonical form of a full key path: its root spelled out
// ("HKCU\x" -> "HKEY_CURRENT_USER\x") and no trailing backslash; empty when
// the root is not known or a key on the way has an empty name ("HKCU\\x").
std::string canonicalKeyPath(std::string_view path);

}  // namespace tlq
