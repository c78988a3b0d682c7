// The second pass's quick entry scan against the full parser. Any bytes
// given to the scan alone keep it inside them. Any bytes that are a valid
// recording give, read both ways, the same entries field for field (the
// numbers bit for bit), and the same error when the document's shape is
// wrong.
#include <bit>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "reader/entry_scan.h"
#include "reader/recording.h"

namespace {

std::string dump(const tlq::RecordingEntry& e) {
  std::string s = std::to_string(e.index) + (e.isObject ? "{" : "-");
  for (const tlq::SensorObject* sensor : {&e.inclino, &e.inclino2, &e.force, &e.dlen}) {
    s += std::to_string(static_cast<int>(sensor->shape));
    for (const tlq::JsonField* f : {&sensor->raw, &sensor->timestamp, &sensor->val1, &sensor->val2}) {
      s += std::to_string(static_cast<int>(f->type)) + std::to_string(f->textOf().size()) + ":";
      s += f->textOf();
      s += std::to_string(std::bit_cast<uint64_t>(f->numberOf())) + ",";
    }
  }
  return s + "\n";
}

// The entries read one way, or the failure.
std::string readAll(std::string_view text, tlq::EntryReader reader) {
  std::string all;
  try {
    tlq::readEntries(text, [&](const tlq::RecordingEntry& e) { all += dump(e); }, reader);
  } catch (const tlq::Error& e) {
    return all + "failed: " + std::to_string(static_cast<int>(e.kind())) + e.what();
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  // The scan on any bytes, from every place an entry might start.
  tlq::RecordingEntry entry;
  for (size_t at = 0; at < size; ++at) {
    if (text[at] != '{') continue;
    size_t end = tlq::scanEntry(text, at, entry);
    FUZZ_CHECK(end == tlq::kEntryNotScanned || (end > at && end <= size && text[end - 1] == '}'));
  }

  try {
    tlq::validateJson(text);
  } catch (const tlq::Error&) {
    return 0;
  }
  FUZZ_CHECK(readAll(text, tlq::EntryReader::quick) == readAll(text, tlq::EntryReader::fullParser));
  return 0;
}
