// What the fuzz targets share: a check that stops the run with a message,
// the documented failures of the decoders, and a base64 encoder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <string_view>

#include "error.h"

namespace tlq::fuzz {

// Like assert, but also in release builds, and with what was expected.
#define FUZZ_CHECK(condition)                                                        \
  do {                                                                                \
    if (!(condition)) ::tlq::fuzz::fail(__FILE__, __LINE__, #condition);             \
  } while (0)

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
  std::abort();
}

// The failures a decoder may raise: a bad base64 character, a frame too
// short for its fields, a wrong header.
inline bool isDocumentedDecoderFailure(const Error& e) {
  std::string_view m = e.message();
  switch (e.kind()) {
    case ErrorKind::value:
      return m.starts_with("Invalid base64 format character `");
    case ErrorKind::index:
      return m.starts_with("index ") || m == "index out of bounds, the container is empty";
    case ErrorKind::assertion:
      return m == "tlqconverter(135, 5) `header == 65535` " || m == "tlqconverter(190, 5) `header == 61441` ";
    default:
      return false;
  }
}

// The standard (or URL-safe) base64 text of `bytes`, with "=" padding if
// asked, and CR LF after every `lineLength` groups of four (0: none).
inline std::string encodeBase64(std::string_view bytes, bool urlSafe = false, size_t lineLength = 0, bool pad = true) {
  const char* alphabet = urlSafe ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
                                 : "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = 0;
    size_t n = std::min<size_t>(3, bytes.size() - i);
    for (size_t k = 0; k < n; ++k) v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + k])) << (16 - 8 * k);
    for (size_t k = 0; k < n + 1; ++k) out += alphabet[v >> (18 - 6 * k) & 63];
    if (pad) out.append(3 - n, '=');
    if (lineLength && i / 3 % lineLength == lineLength - 1) out += "\r\n";
  }
  return out;
}

}  // namespace tlq::fuzz
