// Recordings cut short or broken, salvaged: the table of the complete
// entries before the fault, on one thread and on several, from real files.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "reader/recording.h"
#include "test_support.h"

namespace tlq {
namespace {

using testing::failureOf;
using testing::readFile;
using testing::writeFile;

// Entries of the shapes recordings hold: stamps, escapes, numbers (one with
// an exponent, which the quick readers leave to the parser), an elastometer
// in the middle, a second inclinometer only in the last.
const std::vector<std::string> kEntries = {
    R"({"inclino":{"raw":"X=+01.234\r\nY=-00.567","timestamp":"2026-11-17T09:00:00"},"force":{"raw":"\u0002+  12.25N\u0003"}})",
    R"({"inclino":{"raw":"X=+01.334\r\nY=-00.667","timestamp":"2026-11-17T09:01:00.5+01:00"},"force":{"raw":"\u0002+  13.5N\u0003"}})",
    R"({"dlen":{"raw":"A=123 x B=456","val1":123,"val2":-4.5e1},"force":{"raw":"\u0002-  1.25N\u0003"}})",
    R"({"inclino":{"raw":"X=+00.001\r\nY=+00.002","timestamp":"2026-11-17T09:03:00"}})",
    R"({"inclino":{"raw":"X=-02.000\r\nY=+01.500","timestamp":"2026-11-17T09:04:00"},"inclino2":{"raw":"X=+00.100\r\nY=+00.200"}})",
};

// A recording of the first `count` entries, with a member before "data" and
// one after it.
std::string recordingOf(size_t count, std::vector<size_t>* ends = nullptr) {
  std::string json = "{\"device\":\"logger \\u00e9 7\",\"data\":[\n";
  for (size_t i = 0; i < count; ++i) {
    json += (i ? ",\n" : "") + kEntries[i];
    if (ends) ends->push_back(json.size());  // just past its closing brace
  }
  return json + "\n],\"closed\":true}\n";
}

class Salvaged : public ::testing::Test {
 protected:
  // The CSV table of `json` as a file; with `salvage`, what it told.
  std::string tableOf(const std::string& json, bool salvage, unsigned threads,
                      std::optional<tlq::Salvage>* told = nullptr) {
    const std::string path = dir.file("cut.tlq");
    writeFile(path, json);
    ConversionControl control;
    control.threads = threads;
    control.salvage = salvage;
    ConversionCounts counts;
    std::string table = readFile(mainConvert(path, control, &counts));
    EXPECT_EQ(readFile(path), json);  // the recording as it was
    if (told) *told = counts.salvaged;
    return table;
  }

  // The table of a whole recording of the first `count` entries.
  const std::string& wholeTable(size_t count) {
    auto [at, fresh] = whole.try_emplace(count);
    if (fresh) {
      const std::string path = dir.file("whole.tlq");
      writeFile(path, recordingOf(count));
      at->second = readFile(mainConvert(path));
    }
    return at->second;
  }

  testing::TempDir dir;
  std::map<size_t, std::string> whole;
};

// Cut at every byte: before the "data" array's "[" the error is the one
// without salvage; from there on, the table of the entries whose closing
// brace lies before the cut, on one thread and on three alike.
TEST_F(Salvaged, EveryCutGivesTheTableOfTheCompleteEntriesBeforeIt) {
  std::vector<size_t> ends;
  const std::string full = recordingOf(kEntries.size(), &ends);
  const size_t array = full.find('[');
  for (size_t cut = 0; cut + 1 < full.size(); ++cut) {  // the last byte is a line feed
    const std::string json = full.substr(0, cut);
    SCOPED_TRACE("cut at " + std::to_string(cut) + ": " + json.substr(json.size() < 30 ? 0 : json.size() - 30));
    if (cut <= array) {
      std::string plain = failureOf([&] { tableOf(json, false, 1); });
      EXPECT_TRUE(plain.starts_with("JsonParseError: invalid JSON at line ")) << plain;
      EXPECT_EQ(failureOf([&] { tableOf(json, true, 1); }), plain);
      EXPECT_EQ(failureOf([&] { tableOf(json, true, 3); }), plain);
      continue;
    }
    size_t complete = 0;
    while (complete < ends.size() && ends[complete] <= cut) ++complete;
    std::optional<tlq::Salvage> told;
    const std::string fault = failureOf([&] { tableOf(json, false, 1); });
    ASSERT_TRUE(fault.starts_with("JsonParseError: ")) << fault;
    EXPECT_EQ(tableOf(json, true, 1, &told), wholeTable(complete));
    ASSERT_TRUE(told.has_value());
    EXPECT_EQ(told->entries, complete);
    EXPECT_EQ("JsonParseError: " + told->fault, fault);  // the fault as the conversion reports it
    EXPECT_EQ(tableOf(json, true, 3, &told), wholeTable(complete));
    ASSERT_TRUE(told.has_value());
    EXPECT_EQ(told->entries, complete);
  }
  // Whole, nothing is salvaged.
  std::optional<tlq::Salvage> told;
  EXPECT_EQ(tableOf(full, true, 1, &told), wholeTable(kEntries.size()));
  EXPECT_FALSE(told.has_value());
}

// A recording large enough for the parallel path and for thinned marks
// (about 5,000 entries), cut at a few places: every thread count gives the
// table of a recording of the complete entries.
TEST_F(Salvaged, ALargeRecordingGivesTheSameTableOnEveryThreadCount) {
  auto ofEntries = [](size_t count, std::vector<size_t>* ends = nullptr) {
    std::string json = "{\"data\":[\n";
    for (size_t i = 0; i < count; ++i) {
      json += (i ? ",\n" : "") + kEntries[i % 4];
      if (ends) ends->push_back(json.size());
    }
    return json + "\n]}";
  };
  std::vector<size_t> ends;
  const std::string full = ofEntries(5000, &ends);
  ASSERT_GT(full.size(), kParallelFrom);
  for (size_t cut : {full.size() / 3 + 7, full.size() / 2, full.size() - 40, full.size() - 2}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    size_t complete = 0;
    while (complete < ends.size() && ends[complete] <= cut) ++complete;
    const std::string path = dir.file("whole.tlq");
    writeFile(path, ofEntries(complete));
    const std::string expected = readFile(mainConvert(path));
    const std::string json = full.substr(0, cut);
    for (unsigned threads : {0u, 1u, 2u, 5u}) {
      std::optional<tlq::Salvage> told;
      EXPECT_EQ(tableOf(json, true, threads, &told), expected) << threads << " threads";
      ASSERT_TRUE(told.has_value());
      EXPECT_EQ(told->entries, complete);
    }
  }
}

// A "data" key written with escapes places no entry: the entries are read
// in a walk of the text before the fault, and only the complete ones.
TEST_F(Salvaged, AnEscapedDataKeyIsWalkedUpToTheFault) {
  std::vector<size_t> ends;
  std::string full = recordingOf(kEntries.size(), &ends);
  const size_t key = full.find("\"data\"");
  full.replace(key, 6, "\"d\\u0061ta\"");  // 5 bytes longer
  for (size_t& end : ends) end += 5;
  for (size_t complete = 0; complete < ends.size(); ++complete)
    for (size_t cut : {ends[complete] - 1, ends[complete], ends[complete] + 1}) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      std::optional<tlq::Salvage> told;
      const size_t taken = cut >= ends[complete] ? complete + 1 : complete;
      EXPECT_EQ(tableOf(full.substr(0, cut), true, 1, &told), wholeTable(taken));
      ASSERT_TRUE(told.has_value());
      EXPECT_EQ(told->entries, taken);
      EXPECT_EQ(tableOf(full.substr(0, cut), true, 3), wholeTable(taken));
    }
  // A broken byte after a complete entry that is a number: not handed over.
  std::string json = "{\"d\\u0061ta\":[\n" + kEntries[0] + ",\n" + kEntries[1] + ",\n7\xFF";
  std::optional<tlq::Salvage> told;
  EXPECT_EQ(tableOf(json, true, 1, &told), wholeTable(2));
  EXPECT_EQ(told->entries, 2u);
}

// A byte that cannot stand anywhere in JSON text, at every place from the
// array on: the entries that ended before it.
TEST_F(Salvaged, ABrokenByteKeepsTheEntriesThatEndedBeforeIt) {
  std::vector<size_t> ends;
  const std::string full = recordingOf(kEntries.size(), &ends);
  for (size_t at = full.find('[') + 1; at < full.size(); ++at) {
    std::string json = full;
    json[at] = '\xFF';
    SCOPED_TRACE("broken at " + std::to_string(at));
    size_t complete = 0;
    while (complete < ends.size() && ends[complete] <= at) ++complete;
    std::optional<tlq::Salvage> told;
    EXPECT_EQ(tableOf(json, true, 1, &told), wholeTable(complete));
    ASSERT_TRUE(told.has_value());
    EXPECT_EQ(told->entries, complete);
    EXPECT_EQ(tableOf(json, true, 2), wholeTable(complete));
  }
}

// A number cut short reads as a whole number, but its entry has not ended:
// "12" of "123" is not taken.
TEST_F(Salvaged, AnEntryCutInsideANumberIsNotTaken) {
  const std::string full = recordingOf(3);
  const std::string json = full.substr(0, full.find("\"val1\":123") + 9);
  ASSERT_TRUE(json.ends_with(":12"));
  std::optional<tlq::Salvage> told;
  EXPECT_EQ(tableOf(json, true, 1, &told), wholeTable(2));
  ASSERT_TRUE(told.has_value());
  EXPECT_EQ(told->entries, 2u);
  EXPECT_EQ(salvageText(*told), "2 entries before the fault (" + told->fault + "); the rest is lost");
  EXPECT_EQ(salvageText({1, "F"}), "1 entry before the fault (F); the rest is lost");
  // Cut inside a string: the entry is not taken either.
  const std::string inString = full.substr(0, full.find("A=123") + 3);
  EXPECT_EQ(tableOf(inString, true, 1, &told), wholeTable(2));
  // An entry that is a number, cut: not taken as one that is no object.
  EXPECT_EQ(tableOf(full.substr(0, full.find("[") + 1) + "\n12", true, 1, &told), wholeTable(0));
  EXPECT_EQ(told->entries, 0u);
}

// An entry that is complete but no valid entry is not salvaged past: the
// conversion fails on it as it fails on a whole recording that holds it.
TEST_F(Salvaged, AnInvalidEntryBeforeTheFaultStillFails) {
  std::string json = "{\"data\":[\n" + kEntries[0] + ",\n" + R"({"dlen":{"raw":"A=1 x B=2","val2":1}})" + ",\n" +
                     kEntries[1] + ",\n" + kEntries[2].substr(0, 20);
  EXPECT_EQ(failureOf([&] { tableOf(json, true, 1); }), "KeyError: key not found: val1");
  EXPECT_EQ(failureOf([&] { tableOf(json, true, 3); }), "KeyError: key not found: val1");
  json = "{\"data\":[\n" + kEntries[0] + ",\n5,\n" + kEntries[1].substr(0, 30);
  EXPECT_EQ(failureOf([&] { tableOf(json, true, 1); }), "ValueError: data[1] is not a JSON object");
  // "data" that is no array, broken after: the error as without salvage.
  json = "{\"data\":{\"x\":";
  EXPECT_EQ(failureOf([&] { tableOf(json, true, 1); }), failureOf([&] { tableOf(json, false, 1); }));
}

// The recording read with salvage, its scans and entries as a whole
// recording of those entries has them.
TEST_F(Salvaged, TheRecordingIsAsOneOfItsCompleteEntries) {
  const std::string full = recordingOf(kEntries.size());
  const std::string path = dir.file("r.tlq");
  writeFile(path, full.substr(0, full.find("\"inclino2\":{\"ra") + 15));  // cut after the second inclinometer's key
  Recording recording(path, {}, true);
  ASSERT_TRUE(recording.salvaged().has_value());
  EXPECT_EQ(recording.entries(), 4u);
  EXPECT_FALSE(recording.hasInclino2());
  EXPECT_TRUE(recording.hasElasto());
  size_t visited = 0;
  recording.forEachEntry([&](const RecordingEntry& entry) { EXPECT_EQ(entry.index, visited++); });
  EXPECT_EQ(visited, 4u);
  EXPECT_EQ(failureOf([&] { Recording(path, {}, false); }), "JsonParseError: " + recording.salvaged()->fault);
}

}  // namespace
}  // namespace tlq
