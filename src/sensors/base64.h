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

// The bytes a text decodes to (raising as above): held in place when they
// are few, as a frame's and a text payload's are, else on the heap.
class Decoded {
 public:
  explicit Decoded(std::string_view text);
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;

  std::string_view bytes() const { return bytes_; }

 private:
  char small_[64];
  std::string large_;
  std::string_view bytes_;
};

inline std::string decode(std::string_view text) {
  std::string out;
  decode(text, out);
  return out;
}

}  // namespace tlq::base64
