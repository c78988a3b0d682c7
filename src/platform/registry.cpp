#include "platform/registry.h"

#include <array>

#include "error.h"
#include "platform/system.h"

namespace tlq {

namespace {

constexpr std::array<std::string_view, 13> kKindNames = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
    "REG_ERROR",
};

[[noreturn]] void notAccessible(std::string_view field, RegKind kind) {
  throw FieldError("field '" + std::string(field) + "' is not accessible for type 'RegData' using 'kind = " +
                   std::string(regKindName(kind)) + "'");
}

bool holdsBytes(RegKind k) {
  return k != RegKind::REG_DWORD && k != RegKind::REG_DWORD_BIG_ENDIAN && k != RegKind::REG_QWORD &&
         k != RegKind::REG_ERROR;
}

uint64_t littleEndian(std::string_view bytes, size_t count) {
  uint64_t v = 0;
  for (size_t i = std::min(count, bytes.size()); i-- > 0;)
    v = v << 8 | static_cast<uint8_t>(bytes[i]);
  return v;
}

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string asciiUpper(std::string_view text) {
  std::string u(text);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

std::string_view regKindName(RegKind kind) { return kKindNames[static_cast<size_t>(kind)]; }

RegData RegData::bytes(RegKind kind, std::string data) {
  RegData r;
  r.kind_ = kind;
  r.data_ = std::move(data);
  return r;
}

RegData RegData::dword(RegKind kind, uint32_t value) {
  RegData r;
  r.kind_ = kind;
  r.number_ = value;
  return r;
}

RegData RegData::qword(uint64_t value) {
  RegData r;
  r.kind_ = RegKind::REG_QWORD;
  r.number_ = value;
  return r;
}

const std::string& RegData::data() const {
  if (!holdsBytes(kind_)) notAccessible("data", kind_);
  return data_;
}

uint32_t RegData::dword() const {
  if (kind_ != RegKind::REG_DWORD && kind_ != RegKind::REG_DWORD_BIG_ENDIAN) notAccessible("dword", kind_);
  return static_cast<uint32_t>(number_);
}

uint64_t RegData::qword() const {
  if (kind_ != RegKind::REG_QWORD) notAccessible("qword", kind_);
  return number_;
}

bool classesRootDenied() {
  std::optional<std::string> deny = getEnv("TLQCONVERTER_DENY_CLASSES_ROOT");
  return deny && !deny->empty();
}

std::optional<RegPath> parseRegPath(std::string_view path) {
  RegPath result;
  if (path.starts_with("\\\\")) {
    path.remove_prefix(path.find_first_not_of('\\') == std::string_view::npos
                           ? path.size()
                           : path.find_first_not_of('\\'));
    size_t cut = path.find('\\');
    result.computer = "\\\\" + std::string(path.substr(0, cut));
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
  }
  size_t cut = path.find('\\');
  std::string root = asciiUpper(path.substr(0, cut));
  if (cut != std::string_view::npos) result.subkey = path.substr(cut + 1);
  result.view64 = root.ends_with("64");
  if (result.view64) root.resize(root.size() - 2);

  struct Alias {
    std::string_view full, shortName;
    RegRoot root;
  };
  static constexpr Alias kRoots[] = {
      {"HKEY_CLASSES_ROOT", "HKCR", RegRoot::classesRoot},
      {"HKEY_CURRENT_USER", "HKCU", RegRoot::currentUser},
      {"HKEY_LOCAL_MACHINE", "HKLM", RegRoot::localMachine},
      {"HKEY_USERS", "HKU", RegRoot::users},
      {"HKEY_CURRENT_CONFIG", "HKCC", RegRoot::currentConfig},
  };
  for (const Alias& a : kRoots) {
    if (root == a.full || root == a.shortName) {
      result.root = a.root;
      return result;
    }
  }
  return std::nullopt;
}

std::string_view regRootName(RegRoot root) {
  switch (root) {
    case RegRoot::classesRoot: return "HKEY_CLASSES_ROOT";
    case RegRoot::currentUser: return "HKEY_CURRENT_USER";
    case RegRoot::localMachine: return "HKEY_LOCAL_MACHINE";
    case RegRoot::users: return "HKEY_USERS";
    case RegRoot::currentConfig: return "HKEY_CURRENT_CONFIG";
  }
  return {};
}

RegData regDataFromValue(uint32_t type, std::string_view bytes) {
  if (type > 12) {
    TLQ_OP("regRead");
    throw RangeError("value out of range");
  }
  auto kind = static_cast<RegKind>(type);
  switch (kind) {
    case RegKind::REG_SZ:
    case RegKind::REG_EXPAND_SZ: {
      // The whole buffer is converted, so a value stored without its
      // terminating NUL keeps its last character; the text ends at the
      // first NUL.
      std::string text = utf16leToUtf8(bytes);
      text.resize(std::min(text.size(), text.find('\0')));
      return RegData::bytes(kind, std::move(text));
    }
    case RegKind::REG_MULTI_SZ: {
      std::string text = utf16leToUtf8(bytes);
      while (!text.empty() && text.back() == '\0') text.pop_back();
      return RegData::bytes(kind, std::move(text));
    }
    case RegKind::REG_DWORD:
      return RegData::dword(kind, static_cast<uint32_t>(littleEndian(bytes, 4)));
    case RegKind::REG_DWORD_BIG_ENDIAN: {
      uint32_t v = static_cast<uint32_t>(littleEndian(bytes, 4));
      return RegData::dword(kind, __builtin_bswap32(v));
    }
    case RegKind::REG_QWORD:
      return RegData::qword(littleEndian(bytes, 8));
    case RegKind::REG_ERROR:
      return RegData();  // a stored type 12 reads like a failed read
    default:
      return RegData::bytes(kind, std::string(bytes));
  }
}

std::string utf16leToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  size_t units = bytes.size() / 2;
  auto unit = [&](size_t i) -> uint32_t {
    return static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8;
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    appendUtf8(out, u);
  }
  return out;
}

std::string utf8ToUtf16le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (size_t i = 0; i < text.size();) {
    auto b = static_cast<uint8_t>(text[i]);
    int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    uint32_t cp = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
    bool ok = extra >= 0 && i + static_cast<size_t>(extra) < text.size();
    for (int k = 1; ok && k <= extra; ++k) {
      auto c = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
      ok = (c & 0xC0) == 0x80;
      cp = cp << 6 | (c & 0x3F);
    }
    if (!ok) {
      put(0xFFFD);
      ++i;
      continue;
    }
    i += static_cast<size_t>(extra) + 1;
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

}  // namespace tlq
