// Registry access: the reading layer, by full textual key path.
//
// Under Windows these talk to the registry. Elsewhere the registry is a
// ".reg" text file (see reg_file.h), and the regional settings that the
// file does not hold come from the user's locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error.h"

namespace tlq {

// The registry's value types, by their type codes, and REG_ERROR for a
// failed read.
enum class RegKind : uint8_t {
  REG_NONE,
  REG_SZ,
  REG_EXPAND_SZ,
  REG_BINARY,
  REG_DWORD,
  REG_DWORD_BIG_ENDIAN,
  REG_LINK,
  REG_MULTI_SZ,
  REG_RESOURCE_LIST,
  REG_FULL_RESOURCE_DESCRIPTOR,
  REG_RESOURCE_REQUIREMENTS_LIST,
  REG_QWORD,
  REG_ERROR,
};

std::string_view regKindName(RegKind kind);

// One value read from the registry: a 32-bit number (REG_DWORD,
// REG_DWORD_BIG_ENDIAN), a 64-bit number (REG_QWORD), nothing (REG_ERROR),
// or bytes (every other kind; UTF-8 text for the string kinds).
class RegData {
 public:
  RegData() = default;  // REG_ERROR
  static RegData bytes(RegKind kind, std::string data);
  static RegData dword(RegKind kind, uint32_t value);
  static RegData qword(uint64_t value);

  RegKind kind() const { return kind_; }
  // Raise a FieldError "field 'data' is not accessible for type 'RegData'
  // using 'kind = REG_DWORD'" (and so on) when the kind holds no such field.
  const std::string& data() const;
  uint32_t dword() const;
  uint64_t qword() const;

 private:
  RegKind kind_ = RegKind::REG_ERROR;
  uint64_t number_ = 0;
  std::string data_;
};

using RegKey = std::uintptr_t;  // 0 means no key
enum class RegMode { read, write, create };

// Opens (read, write) or creates (create) the key named by `path`, such as
// "HKCU\Control Panel\International" or "\\host\HKLM\Software"; 0 on any
// failure. Root names are taken in any letter case; a name ending in "64"
// asks for the 64-bit view.
RegKey regOpen(std::string_view path, RegMode mode);

// The value `name` ("" for the default value) of the key `path`; REG_ERROR
// on any failure. Raises only a RangeError for a type code above 12.
RegData regRead(std::string_view path, std::string_view name);

// Closes a key from regOpen; never raises.
void regClose(RegKey key);

// Writing layer: keys opened one level at a time. Each operation raises an
// OsError whose message is the system's text for what failed.

// The writing layer's failure when the system refuses a write for want of
// rights (access denied), as Windows refuses a standard user keys under
// HKEY_CLASSES_ROOT that are the machine's: told apart, so that the caller
// can write where the user may.
class RegAccessDenied : public OsError {
 public:
  explicit RegAccessDenied(std::string message, std::source_location where = std::source_location::current())
      : OsError(std::move(message), where) {}
};

// The predefined roots.
constexpr RegKey kClassesRoot = 0x80000000;
constexpr RegKey kCurrentUser = 0x80000001;
constexpr RegKey kLocalMachine = 0x80000002;
constexpr RegKey kUsers = 0x80000003;
constexpr RegKey kCurrentConfig = 0x80000005;

constexpr uint32_t kKeyRead = 0x20019;   // KEY_READ
constexpr uint32_t kKeyWrite = 0x20006;  // KEY_WRITE

// Creates the subkey under `parent`, or opens it when it exists. Under
// HKEY_CLASSES_ROOT itself this raises RegAccessDenied while the environment
// variable TLQCONVERTER_DENY_CLASSES_ROOT is set (not empty): the tests' way
// to be a standard user.
RegKey createOrOpen(RegKey parent, std::string_view subkey, uint32_t access);
// Sets a REG_SZ value; "" names the key's default value.
void writeString(RegKey key, std::string_view name, std::string_view value);
// Deletes the subkey with all its subkeys and values; an empty name clears
// the key itself of its subkeys and values. A missing subkey is an error.
void delTree(RegKey key, std::string_view subkey);
// Releases a key; 0 and the roots are ignored. Never raises.
void close(RegKey key);

// ---- Shared by the platform implementations -------------------------------

enum class RegRoot { classesRoot, currentUser, localMachine, users, currentConfig };

struct RegPath {
  std::string computer;  // "\\name" for a remote registry, else empty
  RegRoot root = RegRoot::currentUser;
  std::string subkey;    // may be empty: the root itself
  bool view64 = false;
};

// True while TLQCONVERTER_DENY_CLASSES_ROOT is set (see createOrOpen).
bool classesRootDenied();

// Splits a full key path; nothing when the root name is not known.
std::optional<RegPath> parseRegPath(std::string_view path);

// The root's full name, e.g. "HKEY_CURRENT_USER".
std::string_view regRootName(RegRoot root);

// A value as the registry stores it (type code and bytes, strings in
// UTF-16LE) made into a record. A type code above 12 raises a RangeError
// "value out of range".
RegData regDataFromValue(uint32_t type, std::string_view bytes);

// The text with ASCII letters in upper case: how key paths and value names
// compare.
std::string asciiUpper(std::string_view text);

// UTF-16LE bytes to UTF-8; unpaired surrogates become U+FFFD. An odd last
// byte is ignored.
std::string utf16leToUtf8(std::string_view bytes);
std::string utf8ToUtf16le(std::string_view text);

}  // namespace tlq
