#include "platform/reg_file.h"

#include <algorithm>
#include <charconv>

#include "platform/registry.h"

namespace tlq {
namespace {

bool sameName(std::string_view a, std::string_view b) { return asciiUpper(a) == asciiUpper(b); }

std::string_view trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// The file's text as UTF-8.
std::string decodeText(std::string_view raw) {
  if (raw.starts_with("\xFF\xFE")) return utf16leToUtf8(raw.substr(2));
  if (raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
  return std::string(raw);
}

// Logical lines: a line ending in a backslash goes on in the next one (hex
// data is wrapped that way).
std::vector<std::string> logicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  bool continued = false;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (continued)
      current += trim(line);
    else
      current = trim(line);
    continued = current.ends_with('\\') && current.find("=hex") != std::string::npos;
    if (continued) {
      current.pop_back();
      continue;
    }
    lines.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

// A quoted string at the start of `s` with \\ and \" escapes; the position
// after the closing quote, or npos.
size_t readQuoted(std::string_view s, std::string& out) {
  if (s.empty() || s[0] != '"') return std::string_view::npos;
  out.clear();
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[++i];
    } else if (s[i] == '"') {
      return i + 1;
    } else {
      out += s[i];
    }
  }
  return std::string_view::npos;
}

bool readHexBytes(std::string_view s, std::string& out) {
  out.clear();
  while (!s.empty()) {
    size_t comma = s.find(',');
    std::string_view item = trim(s.substr(0, comma));
    s = comma == std::string_view::npos ? std::string_view() : s.substr(comma + 1);
    if (item.empty()) continue;
    unsigned v = 0;
    auto r = std::from_chars(item.data(), item.data() + item.size(), v, 16);
    if (r.ec != std::errc() || r.ptr != item.data() + item.size() || v > 0xFF) return false;
    out += static_cast<char>(v);
  }
  return true;
}

bool readData(std::string_view s, RegValue& value) {
  if (s == "-") {
    value.removed = true;
    return true;
  }
  if (s.starts_with('"')) {
    std::string text;
    if (readQuoted(s, text) != s.size()) return false;
    value.type = 1;
    value.bytes = utf8ToUtf16le(text);
    value.bytes.append(2, '\0');
    return true;
  }
  if (s.starts_with("dword:")) {
    s.remove_prefix(6);
    uint32_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    value.type = 4;
    value.bytes.clear();
    for (int i = 0; i < 4; ++i) value.bytes += static_cast<char>(v >> (8 * i) & 0xFF);
    return true;
  }
  if (s.starts_with("hex:")) {
    value.type = 3;
    return readHexBytes(s.substr(4), value.bytes);
  }
  if (s.starts_with("hex(")) {
    size_t close = s.find("):");
    if (close == std::string_view::npos) return false;
    auto r = std::from_chars(s.data() + 4, s.data() + close, value.type, 16);
    if (r.ec != std::errc() || r.ptr != s.data() + close) return false;
    return readHexBytes(s.substr(close + 2), value.bytes);
  }
  return false;
}

std::string quote(std::string_view s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') q += '\\';
    q += c;
  }
  return q + '"';
}

std::string valueText(const RegValue& v) {
  if (v.removed) return "-";
  std::string_view b = v.bytes;
  if (v.type == 1 && b.size() >= 2 && b.size() % 2 == 0 && b.ends_with(std::string_view("\0\0", 2))) {
    std::string text = utf16leToUtf8(b.substr(0, b.size() - 2));
    // A line break cannot stand inside a line: such strings are written as
    // hex(1), like anything else that does not read back the same.
    if (text.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos &&
        utf8ToUtf16le(text) == b.substr(0, b.size() - 2))
      return quote(text);
  }
  static constexpr char hex[] = "0123456789abcdef";
  if (v.type == 4 && b.size() == 4) {
    std::string t = "dword:";
    for (int i = 3; i >= 0; --i) {
      auto byte = static_cast<uint8_t>(b[static_cast<size_t>(i)]);
      t += hex[byte >> 4];
      t += hex[byte & 0xF];
    }
    return t;
  }
  std::string t = "hex:";
  if (v.type != 3) {
    char buf[16];
    t = "hex(" + std::string(buf, std::to_chars(buf, buf + sizeof buf, v.type, 16).ptr) + "):";
  }
  for (size_t i = 0; i < b.size(); ++i) {
    auto byte = static_cast<uint8_t>(b[i]);
    if (i > 0) t += ',';
    t += hex[byte >> 4];
    t += hex[byte & 0xF];
  }
  return t;
}

}  // namespace

std::string canonicalKeyPath(std::string_view path) {
  std::optional<RegPath> parsed = parseRegPath(path);
  if (!parsed || !parsed->computer.empty()) return {};
  std::string key(regRootName(parsed->root));
  std::string_view sub = parsed->subkey;
  while (sub.ends_with('\\')) sub.remove_suffix(1);
  if (sub.starts_with('\\') || sub.find("\\\\") != std::string_view::npos) return {};  // a key has a name
  if (!sub.empty()) key += '\\' + std::string(sub);
  return key;
}

RegStore RegStore::parse(std::string_view raw) {
  RegStore store;
  std::string key;  // the current section; empty when it is not usable
  for (const std::string& line : logicalLines(decodeText(raw))) {
    std::string_view l = line;
    if (l.empty() || l.starts_with(';')) continue;
    if (l.starts_with('[') && l.ends_with(']')) {
      std::string_view inner = l.substr(1, l.size() - 2);
      bool remove = inner.starts_with('-');
      key = canonicalKeyPath(remove ? inner.substr(1) : inner);
      if (key.empty()) continue;
      if (remove) {
        store.deleteTree(key);
        key.clear();
      } else {
        store.createKey(key);
      }
      continue;
    }
    if (key.empty()) continue;
    RegValue value;
    size_t at = 0;
    if (l.starts_with('@')) {
      at = 1;
    } else {
      at = readQuoted(l, value.name);
      if (at == std::string_view::npos) continue;
    }
    std::string_view rest = trim(l.substr(at));
    if (!rest.starts_with('=')) continue;
    if (readData(trim(rest.substr(1)), value)) store.setValue(key, std::move(value));
  }
  return store;
}

std::string RegStore::serialize() const {
  std::string text = "Windows Registry Editor Version 5.00\r\n";
  for (const auto& [id, key] : keys_) {
    text += "\r\n[" + key.path + "]\r\n";
    for (const RegValue& v : key.values)
      text += (v.name.empty() ? std::string("@") : quote(v.name)) + "=" + valueText(v) + "\r\n";
  }
  return text;
}

bool RegStore::hasKey(std::string_view keyPath) const {
  std::string id = asciiUpper(canonicalKeyPath(keyPath));
  return !id.empty() && (id.find('\\') == std::string::npos || keys_.contains(id));
}

void RegStore::createKey(std::string_view keyPath) {
  std::string path = canonicalKeyPath(keyPath);
  if (path.empty()) return;
  // Like the registry, a key exists only below existing parents.
  for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
    std::string parent = path.substr(0, cut);
    if (parent.find('\\') != std::string::npos) keys_.try_emplace(asciiUpper(parent), Key{parent, {}});
  }
  keys_.try_emplace(asciiUpper(path), Key{path, {}});
}

bool RegStore::deleteTree(std::string_view keyPath, bool keepKey) {
  std::string id = asciiUpper(canonicalKeyPath(keyPath));
  if (id.empty() || !hasKey(keyPath)) return false;
  std::string prefix = id + '\\';
  std::erase_if(keys_, [&](const auto& entry) {
    return entry.first.starts_with(prefix) || (!keepKey && entry.first == id);
  });
  if (keepKey && keys_.contains(id)) keys_[id].values.clear();
  return true;
}

const RegValue* RegStore::findValue(std::string_view keyPath, std::string_view name) const {
  auto it = keys_.find(asciiUpper(canonicalKeyPath(keyPath)));
  if (it == keys_.end()) return nullptr;
  for (const RegValue& v : it->second.values)
    if (sameName(v.name, name)) return &v;
  return nullptr;
}

void RegStore::setValue(std::string_view keyPath, RegValue value) {
  createKey(keyPath);
  auto it = keys_.find(asciiUpper(canonicalKeyPath(keyPath)));
  if (it == keys_.end()) return;
  for (RegValue& v : it->second.values) {
    if (sameName(v.name, value.name)) {
      v = std::move(value);
      return;
    }
  }
  it->second.values.push_back(std::move(value));
}

}  // namespace tlq
