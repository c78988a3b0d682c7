// The ".reg" store: any bytes as a store give keys and values (lines that
// make no sense are passed over) whose text reads back the same; a store
// made by the writing layer reads back the same keys and values.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>

#include "fuzz_check.h"
#include "platform/reg_file.h"
#include "platform/registry.h"

namespace {

using namespace tlq;

// A name the format can hold: no control characters; in a key, no
// backslash (it separates the parts) and no "]".
std::string name(FuzzedDataProvider& in, bool forKey) {
  std::string s = in.ConsumeRandomLengthString(12);
  std::erase_if(s, [&](char c) {
    return static_cast<unsigned char>(c) < 0x20 || (forKey && (c == '\\' || c == ']'));
  });
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    // Any bytes: what was read is written and read back unchanged.
    std::string text = in.ConsumeRemainingBytesAsString();
    std::string once = RegStore::parse(text).serialize();
    FUZZ_CHECK(RegStore::parse(once).serialize() == once);
    return 0;
  }

  // Values set through the writing layer.
  RegStore store;
  std::map<std::pair<std::string, std::string>, RegValue> latest;  // by upper-cased key and name
  while (in.remaining_bytes() > 0) {
    std::string key = "HKEY_CURRENT_USER\\Software";
    for (int parts = in.ConsumeIntegralInRange(1, 3); parts > 0; --parts) {
      std::string part = name(in, true);
      if (part.empty()) part = "k";
      key += "\\" + part;
    }
    RegValue value;
    value.name = name(in, false);
    switch (in.ConsumeIntegralInRange(0, 2)) {
      case 0:
        value.type = 1;
        value.bytes = utf8ToUtf16le(in.ConsumeRandomLengthString(40));
        value.bytes.append(2, '\0');
        break;
      case 1:
        value.type = 4;
        value.bytes = in.ConsumeBytesAsString(4);
        value.bytes.resize(4, '\0');
        break;
      default:
        value.type = in.ConsumeIntegralInRange<uint32_t>(0, 11);
        value.bytes = in.ConsumeRandomLengthString(40);
        break;
    }
    latest[{asciiUpper(key), asciiUpper(value.name)}] = value;
    store.setValue(key, value);
  }
  RegStore back = RegStore::parse(store.serialize());
  for (const auto& [where, value] : latest) {
    const RegValue* got = back.findValue(where.first, where.second);
    FUZZ_CHECK(got != nullptr);
    FUZZ_CHECK(got->type == value.type);
    FUZZ_CHECK(got->bytes == value.bytes);
    FUZZ_CHECK(!got->removed);
  }
  return 0;
}
