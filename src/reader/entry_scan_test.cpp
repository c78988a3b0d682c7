#include "reader/entry_scan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tlq {
namespace {

// Everything a reading gives of one entry, the numbers by their bits.
std::string dump(const RecordingEntry& e) {
  std::string s = std::to_string(e.index) + (e.isObject ? " {" : " -");
  const SensorObject* sensors[] = {&e.inclino, &e.inclino2, &e.force, &e.dlen};
  for (const SensorObject* sensor : sensors) {
    s += " " + std::to_string(static_cast<int>(sensor->shape)) + "(";
    for (const JsonField* f : {&sensor->raw, &sensor->timestamp, &sensor->val1, &sensor->val2}) {
      s += std::to_string(static_cast<int>(f->type)) + ":" + std::string(f->textOf()) + ":" +
           std::to_string(std::bit_cast<uint64_t>(f->numberOf())) + ",";
    }
    s += ")";
  }
  return s + "\n";
}

std::string readAll(std::string_view json, EntryReader reader) {
  std::string all;
  readEntries(json, [&](const RecordingEntry& e) { all += dump(e); }, reader);
  return all;
}

std::string recordingOf(std::string_view entries) { return "{\"data\":[" + std::string(entries) + "]}"; }

// The scan on its own: where it ends, or that it leaves the entry alone.
size_t scan(std::string_view entry) {
  RecordingEntry e;
  return scanEntry(entry, 0, e);
}

// Entries of every shape the quick scan reads, and of shapes it leaves to
// the full parser: both readings must give the same, bit for bit.
TEST(EntryScan, ReadsLikeTheFullParser) {
  const char* entries[] = {
      R"({"inclino":{"raw":"X=+01.234\r\nY=-00.500","timestamp":"2026-11-17T09:00:00.600"}})",
      R"({"force":{"raw":"\u0002+  12.37\u0003"},"dlen":{"raw":"A=1 x B=2","val1":12,"val2":-12.5e-1}})",
      R"({"inclino2":{"raw":"\"q\" \\ \/ \b\f\n\r\t \u00e4 \u20AC \u0000"}})",
      R"({"inclino":{"raw":"pair \ud83d\ude00"}})",
      R"({"inclino":{"r\u0061w":"escaped key"}})",
      R"({"incl\u0069no":{"raw":"escaped sensor"}})",
      R"({"dlen":{"val1":-0,"val2":-0.0}})",
      R"({"dlen":{"val1":123456789012345678,"val2":1234567890123456789}})",
      R"({"dlen":{"val1":-9223372036854775808,"val2":18446744073709551615}})",
      R"({"dlen":{"val1":123456789012345678901234567890,"val2":0.1000000000000000055511151231257827}})",
      R"({"dlen":{"val1":1e400,"val2":-1e400}})",
      R"({"dlen":{"val1":1e-400,"val2":5e-324}})",
      R"({"dlen":{"val1":1.7976931348623157e308,"val2":1E+2}})",
      R"({"dlen":{"val1":true,"val2":null,"raw":false,"timestamp":[1,{"raw":"x"}]}})",
      R"({"dlen":{"raw":{"a":"}]\"{["},"val1":{}}})",
      R"({"inclino":{"raw":"first","raw":"second"},"inclino":{"timestamp":"t"}})",
      R"({"force":"text","inclino2":[],"dlen":7,"inclino":null})",
      R"({"other":{"raw":"x","deep":[[[{"a":["]"]}]]]},"force":{"raw":"after"}})",
      " { \"inclino\" \t:\r\n { \"raw\" : \"spaced\" , \"val1\" : 1 } , \"x\" : [ ] } ",
      R"({"inclino2x":{"raw":"a"},"inclin":{"raw":"b"},"force":{"raw2":"c","va":1,"val1x":2,"val2":3}})",
      R"({"inclino":{"raw":"d"},"inclino2":{"raw":"e"},"inclino" :{"raw" :"f"}})",
      "{}",
      "[1,2]",
      "\"a string entry\"",
      "17",
  };
  std::string all;
  for (const char* entry : entries) {
    std::string json = recordingOf(entry);
    EXPECT_EQ(readAll(json, EntryReader::quick), readAll(json, EntryReader::fullParser)) << entry;
    all += std::string(all.empty() ? "" : ",") + entry;
  }
  std::string json = recordingOf(all);
  EXPECT_EQ(readAll(json, EntryReader::quick), readAll(json, EntryReader::fullParser));
}

TEST(EntryScan, ValuesAsTheFullParserGivesThem) {
  std::vector<RecordingEntry> read;
  readEntries(recordingOf(R"({"dlen":{"raw":"a\r\n\u0002","val1":-0,"val2":-0.0}})"),
              [&](const RecordingEntry& e) { read.push_back(e); });
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].dlen.raw.textOf(), "a\r\n\x02");
  EXPECT_FALSE(std::signbit(read[0].dlen.val1.number));  // an integer: -0 is 0
  EXPECT_TRUE(std::signbit(read[0].dlen.val2.number));
}

TEST(EntryScan, TakesTheUsualShapesAndLeavesTheRest) {
  std::string usual = R"({"inclino":{"raw":"X=+01.234\r\n","timestamp":"t"},"force":{"raw":"\u0002 1\u0003"},)"
                      R"("dlen":{"raw":"A=1 B=2","val1":12.5,"val2":-3},"other":[{"x":"}"}]})";
  EXPECT_EQ(scan(usual + ", {}"), usual.size());
  EXPECT_EQ(scan(" {} "), 3u);
  for (const char* left : {R"({"r\u0061w":1})", R"({"inclino":{"raw":"\ud83d\ude00"}})",
                           R"({"dlen":{"val1":1234567890123456789}})", R"({"dlen":{"val1":1e400}})", "[1]", "5"})
    EXPECT_EQ(scan(left), kEntryNotScanned) << left;
}

// Whatever the bytes (a file cut short reads as zeros), the scan stays
// inside the text and ends inside it or gives up. The text is copied to a
// buffer of its exact size, so that a read past it is caught under the
// address sanitizer.
TEST(EntryScan, StaysInsideAnyText) {
  std::string entry = R"({"inclino":{"raw":"X\r\n\u0002","val1":-1.5e3,"timestamp":[{"a":"\"}"}]},"x":true})";
  auto check = [](const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size());
    std::memcpy(copy.get(), text.data(), text.size());
    size_t end = scan({copy.get(), text.size()});
    EXPECT_TRUE(end == kEntryNotScanned || end <= text.size()) << text;
  };
  for (size_t n = 0; n <= entry.size(); ++n) check(entry.substr(0, n));
  for (size_t i = 0; i < entry.size(); ++i) {
    for (char c : {'\0', '"', '\\', '{', '}', '[', ']', ',', ':', 'u', '9'}) {
      std::string changed = entry;
      changed[i] = c;
      check(changed);
      check(changed.substr(0, i + 1));
    }
  }
}

}  // namespace
}  // namespace tlq
