// The lexical pieces of JSON text that the readers of a recording share.
#pragma once

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

}  // namespace tlq
