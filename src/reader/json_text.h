// The lexical pieces of JSON text that the readers of a recording share.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace tlq {

// Space, tab, line feed or carriage return: JSON's whitespace, and no other.
inline bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// 0 to 15 for a hexadecimal digit, 0x10000 for any other byte: the four
// digits of a "\uXXXX" escape shifted together stay above 0xFFFF when any
// one of them is not a digit.
inline unsigned hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0x10000;
}

// The index among `keys` of the key that `p` starts with, where it stands
// there quoted as written and straight before its colon: `"raw":`. -1 for
// anything else, which the reader then takes the long way. The keys hold
// no character that needs an escape, so a key matched is valid text; a
// match costs a comparison or two where the long way searches for the
// closing quote.
template <size_t N>
int matchPlainKey(const char* p, const char* end, const std::string_view (&keys)[N]) {
  for (size_t i = 0; i < N; ++i) {
    size_t size = keys[i].size();
    if (static_cast<size_t>(end - p) >= size + 3 && p[1] == keys[i][0] && p[0] == '"' &&
        std::memcmp(p + 1, keys[i].data(), size) == 0 && p[size + 1] == '"' && p[size + 2] == ':')
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace tlq
