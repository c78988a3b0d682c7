// Base64 decoding: never a byte read or written out of bounds; exactly the
// documented alphabet and breaks are accepted; the standard and the URL-safe
// encodings of any bytes decode back to those bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>

#include "fuzz_check.h"
#include "sensors/base64.h"

namespace {

bool inAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
         c == '-' || c == '_';
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tlq;
  FuzzedDataProvider in(data, size);
  std::string text = in.ConsumeRandomLengthString(4096);

  // Any text: into a buffer of exactly the promised capacity.
  size_t capacity = base64::decodedCapacity(text.size());
  auto out = std::make_unique<char[]>(capacity);
  bool allInAlphabet = std::all_of(text.begin(), text.end(), inAlphabet);
  try {
    size_t n = base64::decode(text, out.get());
    FUZZ_CHECK(n <= capacity);
    if (allInAlphabet) FUZZ_CHECK(n == text.size() / 4 * 3 + (text.size() % 4 >= 2 ? text.size() % 4 - 1 : 0));
  } catch (const Error& e) {
    FUZZ_CHECK(e.kind() == ErrorKind::value);
    FUZZ_CHECK(!allInAlphabet);
    // The character named is there, and is not one of the alphabet.
    std::string_view m = e.message();
    size_t at = m.rfind(" at location ");
    FUZZ_CHECK(at != std::string_view::npos);
    size_t location = std::stoul(std::string(m.substr(at + 13)));
    FUZZ_CHECK(location < text.size());
    FUZZ_CHECK(!inAlphabet(text[location]));
    FUZZ_CHECK(m.starts_with("Invalid base64 format character `" + std::string(1, text[location]) + "` (ord " +
                             std::to_string(static_cast<uint8_t>(text[location])) + ")"));
  }

  // Encoded bytes come back.
  std::string bytes = in.ConsumeRandomLengthString(4096);
  bool urlSafe = in.ConsumeBool(), pad = in.ConsumeBool();
  size_t lineLength = in.ConsumeIntegralInRange<size_t>(0, 30);
  std::string encoded = fuzz::encodeBase64(bytes, urlSafe, lineLength, pad);
  FUZZ_CHECK(base64::decode(encoded) == bytes);
  return 0;
}
