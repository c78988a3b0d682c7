#include "base64.h"

#include <array>
#include <cstdint>

#include "error.h"

namespace tlq::base64 {
namespace {

constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> makeTable() {
  std::array<uint8_t, 256> table{};
  table.fill(kInvalid);
  for (int i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<uint8_t>(i);
    table['a' + i] = static_cast<uint8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<uint8_t>(52 + i);
  table['+'] = table['-'] = 62;
  table['/'] = table['_'] = 63;
  return table;
}

constexpr std::array<uint8_t, 256> kTable = makeTable();

bool isBreak(char c) { return c == '\r' || c == '\n' || c == ' '; }

// Out of line, and the operation's frame only here, where it fails: the
// decoding of every sample pays for neither.
[[noreturn, gnu::cold, gnu::noinline]] void invalidCharacter(std::string_view text, size_t at) {
  TLQ_OP("decode");
  auto c = static_cast<unsigned char>(text[at]);
  std::string message = "Invalid base64 format character `" + std::string(1, text[at]) + "` (ord " +
                        std::to_string(c) + ") at location " + std::to_string(at) + ".";
  throw ValueError(message);  // on one line: the line the trace shows
}

uint32_t sextet(std::string_view text, size_t at) {
  uint8_t v = kTable[static_cast<unsigned char>(text[at])];
  if (v == kInvalid) invalidCharacter(text, at);
  return v;
}

// Decodes `n` (2 to 4) characters at `i` into n - 1 bytes, checking the
// characters strictly from left to right.
char* decodeGroup(std::string_view text, size_t i, size_t n, char* out) {
  uint32_t v = 0;
  for (size_t k = 0; k < n; ++k) v |= sextet(text, i + k) << (18 - 6 * k);
  for (size_t k = 0; k + 1 < n; ++k) *out++ = static_cast<char>(v >> (16 - 8 * k));
  return out;
}

}  // namespace

size_t decode(std::string_view text, char* out) {
  char* start = out;
  size_t end = text.size();
  while (end > 0 && (isBreak(text[end - 1]) || text[end - 1] == '=')) --end;

  size_t i = 0;
  while (end - i >= 4) {
    while (isBreak(text[i])) ++i;  // stops before `end`: text[end - 1] is no break
    if (end - i < 4) break;        // what the skipped breaks left is the remainder
    out = decodeGroup(text, i, 4, out);
    i += 4;
  }
  // A remainder of two or three characters gives one or two bytes; a single
  // character carries no whole byte and is ignored.
  if (end - i >= 2) out = decodeGroup(text, i, end - i, out);
  return static_cast<size_t>(out - start);
}

void decode(std::string_view text, std::string& out) {
  out.resize(decodedCapacity(text.size()));
  out.resize(decode(text, out.data()));
}

Decoded::Decoded(std::string_view text) {
  char* out = small_;
  if (decodedCapacity(text.size()) > sizeof small_) {
    large_.resize(decodedCapacity(text.size()));
    out = large_.data();
  }
  bytes_ = {out, decode(text, out)};
}

}  // namespace tlq::base64
