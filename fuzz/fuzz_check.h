// What the fuzz targets share: a check that stops the run with a message,
// and the documented failures of the decoders.
#pragma once

#include <cstdio>
#include <cstdlib>
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

}  // namespace tlq::fuzz
