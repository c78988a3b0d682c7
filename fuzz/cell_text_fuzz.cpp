// A cell's text: whatever UTF-8 a recording holds, the text handed to the
// library holds no NUL, U+FFFE or U+FFFF, and a reader that turns every
// "_xHHHH_" back into its character gets the text itself; its lengths are
// those of the text itself.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "text.h"
#include "xlsx/cell_text.h"

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// What a reader makes of the escapes, for the characters they can name here.
std::string unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool escape = i + 7 <= text.size() && text[i] == '_' && text[i + 1] == 'x' && isHex(text[i + 2]) &&
                  isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]) && text[i + 6] == '_';
    if (!escape) {
      out += text[i++];
      continue;
    }
    unsigned code = std::stoul(text.substr(i + 2, 4), nullptr, 16);
    if (code < 0x80)
      out += static_cast<char>(code);
    else  // U+FFFE, U+FFFF: EF BF BE, EF BF BF
      out += std::string("\xEF\xBF") + static_cast<char>(0x80 | (code & 0x3F));
    i += 7;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  // A recording's texts are UTF-8 (its JSON is checked).
  for (size_t i = 0; i < text.size();) {
    size_t n = tlq::utf8Length(text.data() + i, text.data() + text.size());
    if (n == 0) return 0;
    i += n;
  }
  std::string out;
  tlq::TextLength length = tlq::cellText(text, out);
  FUZZ_CHECK(out.find('\0') == std::string::npos);
  FUZZ_CHECK(out.find("\xEF\xBF\xBE") == std::string::npos && out.find("\xEF\xBF\xBF") == std::string::npos);
  FUZZ_CHECK(unescaped(out) == text);
  size_t characters = 0, utf16 = 0;
  for (size_t i = 0; i < text.size();) {
    size_t n = tlq::utf8Length(text.data() + i, text.data() + text.size());
    ++characters;
    utf16 += n == 4 ? 2 : 1;
    i += n;
  }
  FUZZ_CHECK(length.characters == characters);
  FUZZ_CHECK(length.utf16 == utf16);
  return 0;
}
