#include "xlsx/cell_text.h"

#include <algorithm>

#include "text.h"

namespace tlq {

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// U+FFFE or U+FFFF at `p` (in UTF-8 no other character has these bytes).
bool nonCharacterAt(const char* p, const char* end) {
  return end - p >= 3 && p[0] == '\xEF' && p[1] == '\xBF' && (p[2] == '\xBE' || p[2] == '\xBF');
}

// A control character the library writes as "_xHHHH_" itself: U+0001 to
// U+001F but tab and line feed.
bool escapedByTheLibrary(char c) { return c >= '\x01' && c <= '\x1F' && c != '\t' && c != '\n'; }

// What is written for the character at `p` begins with '_': it is one, or
// one written as an escape (by us or by the library).
bool underscoreAt(const char* p, const char* end) {
  return *p == '_' || *p == '\0' || escapedByTheLibrary(*p) || nonCharacterAt(p, end);
}

// "_xHHHH" at `p`, and then what is written begins with '_': a reader would
// take "_xHHHH_" for a character written by its code, the way the workbook
// format escapes it.
bool escapeAt(const char* p, const char* end) {
  return end - p >= 7 && p[0] == '_' && p[1] == 'x' && std::all_of(p + 2, p + 6, isHex) && underscoreAt(p + 6, end);
}

}  // namespace

size_t characterCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

TextLength cellText(std::string_view text, std::string& out) {
  out.clear();
  TextLength length;
  const char* p = text.data();
  const char* end = p + text.size();
  for (;;) {
    const char* special = findAnyOf(p, end, '\0', '_', '\xEF');
    out.append(p, special);
    for (const char* c = p; c != special; ++c) {
      auto b = static_cast<unsigned char>(*c);
      length.characters += (b & 0xC0) != 0x80;
      length.utf16 += ((b & 0xC0) != 0x80) + (b >= 0xF0);
    }
    if (special == end) break;
    p = special;
    ++length.characters;  // each of these starts a character below U+10000
    ++length.utf16;
    if (*p == '\0') {
      out += "_x0000_";
      ++p;
    } else if (*p == '_') {
      out += escapeAt(p, end) ? "_x005F_" : "_";
      ++p;
    } else if (nonCharacterAt(p, end)) {
      out += p[2] == '\xBE' ? "_xFFFE_" : "_xFFFF_";
      p += 3;
    } else {  // the lead byte of another character
      out += *p++;
    }
  }
  return length;
}

}  // namespace tlq
