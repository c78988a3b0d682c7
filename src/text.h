// Number and text helpers shared by the decoders and the CSV output.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace tlq {

// The first byte from `p` on that equals one of `bytes`, or `end`. Eight
// bytes at a time: a byte equal to the one looked for is zero after the
// exclusive or, and the lowest byte whose high bit survives the subtraction
// below is the first zero.
template <class... Bytes>
inline const char* findAnyOf(const char* p, const char* end, Bytes... bytes) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t ones = 0x0101010101010101, highs = 0x8080808080808080;
    auto zeros = [](uint64_t w) { return (w - ones) & ~w; };
    for (; end - p >= 8; p += 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      uint64_t found = (zeros(word ^ (ones * static_cast<uint8_t>(bytes))) | ...) & highs;
      if (found) return p + std::countr_zero(found) / 8;
    }
  }
  while (p != end && ((*p != bytes) && ...)) ++p;
  return p;
}

// An ASCII letter in lower case; any other byte as it is.
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The length of the UTF-8 character that begins at `p` (before `end`): 1 to
// 4, or 0 where none does (a stray byte, an overlong form, a surrogate,
// nothing past U+10FFFF, one cut short).
inline size_t utf8Length(const char* p, const char* end) {
  auto lead = static_cast<unsigned char>(*p);
  if (lead < 0x80) return 1;
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range; the others' is 80..BF
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (end - p < static_cast<ptrdiff_t>(n)) return 0;
  for (size_t i = 1; i < n; ++i, low = 0x80, high = 0xBF) {
    auto c = static_cast<unsigned char>(p[i]);
    if (c < low || c > high) return 0;
  }
  return n;
}

// Appends to a string through a block of its own, so that each of the many
// short pieces of a line costs a copy rather than a call into the string.
// What was put reaches the string at flush(), which the owner calls when
// done (an appender dropped by an exception loses what it held).
// Copies `n` bytes. The short copies that lines are made of (fields, keys)
// are done in place: a call into the C library costs more than they do
// (and Windows' is slow for them).
inline void copyBytes(char* to, const char* from, size_t n) {
  auto twoOf = [&](auto word) {  // two copies of a word's size, which may overlap
    constexpr size_t k = sizeof word;
    decltype(word) head, tail;
    std::memcpy(&head, from, k);
    std::memcpy(&tail, from + n - k, k);
    std::memcpy(to, &head, k);
    std::memcpy(to + n - k, &tail, k);
  };
  if (n > 64) {
    std::memcpy(to, from, n);
  } else if (n > 16) {  // 16 bytes at a time, the last ones overlapping
    struct Chunk {
      char bytes[16];
    } chunk;
    for (size_t at = 0; at + 16 < n; at += 16) {
      std::memcpy(&chunk, from + at, 16);
      std::memcpy(to + at, &chunk, 16);
    }
    twoOf(chunk);
  } else if (n >= 8) {
    twoOf(uint64_t{});
  } else if (n >= 4) {
    twoOf(uint32_t{});
  } else if (n >= 2) {
    twoOf(uint16_t{});
  } else if (n == 1) {
    *to = *from;
  }
}

class Appender {
 public:
  static constexpr size_t kBlock = 1024;

  explicit Appender(std::string& out) : out_(out) {}
  Appender(const Appender&) = delete;
  Appender& operator=(const Appender&) = delete;

  void put(char c) {
    if (used_ == kBlock) flush();
    block_[used_++] = c;
  }
  void put(std::string_view s) {
    if (s.size() > kBlock - used_) {
      flush();
      if (s.size() > kBlock) {
        out_.append(s);
        return;
      }
    }
    copyBytes(block_ + used_, s.data(), s.size());
    used_ += s.size();
  }
  // Room for up to `n` (at most kBlock) bytes, written in place and then
  // kept with commit().
  char* room(size_t n) {
    if (n > kBlock - used_) flush();
    return block_ + used_;
  }
  void commit(size_t n) { used_ += n; }

  void flush() {
    out_.append(block_, used_);
    used_ = 0;
  }

 private:
  std::string& out_;
  size_t used_ = 0;
  char block_[kBlock];
};

// Appends `value` as printf's "%.16g" would (C locale), then ".0" when the
// text has neither a point nor a letter: 3 -> "3.0", 1e-05 -> "1e-05".
// Every not-a-number is "nan"; the infinities are "inf" and "-inf".
void appendFloat(std::string& out, double value);

// The same text written to `buf`; returns its length (at most 26). The
// rest of the room is scratch space.
inline constexpr size_t kFloatTextRoom = 48;
size_t formatFloat(char (&buf)[kFloatTextRoom], double value);
size_t formatFloatInto(char* buf, double value);  // `buf` holds kFloatTextRoom bytes

// The same text put into `out`.
inline void appendFloat(Appender& out, double value) {
  out.commit(formatFloatInto(out.room(kFloatTextRoom), value));
}

// `value` correctly rounded to three decimals, as "%.3f" followed by reading
// the text back. Not-a-number and the infinities pass through.
double roundTo3(double value);

// Reads digits with at most one point ("01.234", "150", "7.") of at most 15
// significant digits and 22 decimals into `value`, correctly rounded as by
// std::from_chars: such a decimal is an integer below 2^53 over a power of
// ten up to 10^22, both exact as doubles, and their quotient is rounded once.
// False, and `value` untouched, for any other text.
bool parseShortDecimal(std::string_view text, double& value);

// Reads a plain decimal number (optional sign, digits, optional fraction; no
// exponent) such as "+01.234" or "150". A value too large for a double is an
// infinity, as from an ordinary float parser.
double parseDecimal(std::string_view text);

// A count given as text (an option, a setting): decimal digits only, from 1
// up to 2^64 - 1; nothing for any other text.
std::optional<uint64_t> parseCount(std::string_view text);

// Text as valid UTF-8: each byte that is not part of a UTF-8 character
// written as "\xe2" (as the batch's summary shows it), the rest exactly as
// it is.
std::string utf8Text(std::string_view text);

// The path with its extension replaced by `extension`: scanning back from
// the last character, the first "." starts the extension and a "/" or "\"
// ends the search; the first character is never examined.
std::string tablePathFor(std::string_view path, std::string_view extension);
inline std::string csvPathFor(std::string_view path) { return tablePathFor(path, "csv"); }

}  // namespace tlq
