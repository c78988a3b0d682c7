// Base64 as the instruments' payloads use it: the standard and the URL-safe
// alphabets mixed, trailing "=", CR, LF and blanks ignored, and CR, LF and
// blanks skipped before each group of four characters.
#pragma once

#include <string>
#include <string_view>

namespace tlq::base64 {

// Decodes `text` into `out` (replacing its contents). An invalid character
// raises a ValueError "Invalid base64 format character `c` (ord N) at
// location I." with its zero-based index.
void decode(std::string_view text, std::string& out);

// The most bytes `size` characters decode to.
constexpr size_t decodedCapacity(size_t size) { return size / 4 * 3 + 2; }

// Decodes into `out`, which holds decodedCapacity(text.size()) bytes, and
// returns the count written; raises as above.
size_t decode(std::string_view text, char* out);

inline std::string decode(std::string_view text) {
  std::string out;
  decode(text, out);
  return out;
}

}  // namespace tlq::base64
