#include "reader/recording.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

std::string parseError(std::string_view json) {
  try {
    validateJson(json);
  } catch (const JsonParseError& e) {
    return e.message();
  }
  return "valid";
}

TEST(JsonValidation, ErrorsNameLineColumnAndExpectation) {
  EXPECT_EQ(parseError("{\"data\":[1,}"), "invalid JSON at line 1, column 12: expected a JSON value, found '}'");
  EXPECT_EQ(parseError("{\"data\":[{\"a\":1}\n  \"x\"]}"),
            "invalid JSON at line 2, column 3: expected ',' or ']', found '\"'");
  EXPECT_EQ(parseError("{\"a\" 1}"), "invalid JSON at line 1, column 6: expected ':', found '1'");
  EXPECT_EQ(parseError("{\"a\":1 \"b\":2}"), "invalid JSON at line 1, column 8: expected ',' or '}', found '\"'");
  EXPECT_EQ(parseError("{,}"), "invalid JSON at line 1, column 2: expected a member name in double quotes or '}', found ','");
  EXPECT_EQ(parseError("{\"a\":1,}"), "invalid JSON at line 1, column 8: expected a member name in double quotes, found '}'");
  EXPECT_EQ(parseError("[tru]"), "invalid JSON at line 1, column 2: expected 'true', found 't'");
  EXPECT_EQ(parseError("[01]"), "invalid JSON at line 1, column 3: expected ',' or ']', found '1'");
  EXPECT_EQ(parseError("[1.]"), "invalid JSON at line 1, column 4: expected a digit, found ']'");
  EXPECT_EQ(parseError("[-]"), "invalid JSON at line 1, column 3: expected a digit, found ']'");
}

TEST(JsonValidation, StringsAndEndOfInput) {
  EXPECT_EQ(parseError(""), "invalid JSON at line 1, column 1: expected a JSON value, found end of input");
  EXPECT_EQ(parseError("  \n "), "invalid JSON at line 2, column 2: expected a JSON value, found end of input");
  EXPECT_EQ(parseError("{\"data\":[\"abc"), "invalid JSON at line 1, column 14: expected '\"', found end of input");
  EXPECT_EQ(parseError("[\"a\\x\"]"),
            "invalid JSON at line 1, column 5: expected an escape character (one of \" \\ / b f n r t u), found 'x'");
  EXPECT_EQ(parseError("[\"\\u12G4\"]"), "invalid JSON at line 1, column 7: expected a hexadecimal digit, found 'G'");
  // Where the bad digit is, whatever follows it (the parser stops near it,
  // not always on it).
  for (const std::string& after : {std::string(), std::string("567890"), std::string(1000, 'x')})
    EXPECT_EQ(parseError("{\"data\":[{\"inclino\":{\"raw\":\"\\u12G4" + after + "\"}}]}"),
              "invalid JSON at line 1, column 33: expected a hexadecimal digit, found 'G'")
        << after.size();
  EXPECT_EQ(parseError("[\"a\tb\"]"),
            "invalid JSON at line 1, column 4: expected a character of a string (control characters are written "
            "as escapes), found byte 0x09");
  EXPECT_EQ(parseError("[1] x"), "invalid JSON at line 1, column 5: expected end of input, found 'x'");
  EXPECT_EQ(parseError("[1] \n\t "), "valid");
}

TEST(JsonValidation, Utf8IsChecked) {
  EXPECT_EQ(parseError("[\"\xC3\xA4\xC3\x28\"]"), "invalid JSON at line 1, column 4: expected valid UTF-8, found byte 0xC3");
  EXPECT_EQ(parseError("[\"\xED\xA0\x80\"]").substr(0, 35), "invalid JSON at line 1, column 3: e");  // encoded surrogate
  EXPECT_EQ(parseError("[\"\\ud800\"]"),
            "invalid JSON at line 1, column 9: expected a \\u escape that completes a UTF-16 surrogate pair, found '\"'");
  // Another escape after the first half of a pair: the pair is what is
  // missing, not a character to escape.
  EXPECT_EQ(parseError("[\"\\ud800\\n\"]"),
            "invalid JSON at line 1, column 10: expected a \\u escape that completes a UTF-16 surrogate pair, found 'n'");
  EXPECT_EQ(parseError("[\"\\ud83d\\ude00 \xF0\x9F\x98\x80\"]"), "valid");
  // Columns count characters.
  EXPECT_EQ(parseError("[\"äö\" x]"), "invalid JSON at line 1, column 7: expected ',' or ']', found 'x'");
}

// Files that are not what they claim: text in UTF-16, a NUL byte inside a
// string (as an escape it is a character like any other).
TEST(JsonValidation, ForeignTexts) {
  EXPECT_EQ(parseError(std::string("\xFF\xFE{\0}\0", 6)),
            "invalid JSON at line 1, column 1: expected a JSON value, found byte 0xFF");
  EXPECT_EQ(parseError(std::string("{\"data\":[\"a\0\"]}", 15)),
            "invalid JSON at line 1, column 12: expected a character of a string (control characters are written as "
            "escapes), found byte 0x00");
  EXPECT_EQ(parseError(R"({"data":["a\u0000"]})"), "valid");
}

TEST(JsonValidation, NumbersOfAnySizeAreValid) {
  EXPECT_EQ(parseError("[123456789012345678901234567890, -1e400, 1e-400, 0.5E+3]"), "valid");
  // Exponents beyond what the parser counts (about 2^31) too, also before
  // "data" and in the middle of a large document read in pieces.
  EXPECT_EQ(parseError("[1e2147483648, 0e9999999999999999999, -2.5E-00000000000000000000000000001234567890]"), "valid");
  std::string big = "{\"meta\":1e99999999999,\"data\":[";
  for (int i = 0; i < 20000; ++i) big += (i ? ",\n" : "\n") + std::string(i == 9999 ? "{\"x\":-1e2147483648}" : "{}");
  EXPECT_EQ(parseError(big + "]}"), "valid");
  EXPECT_EQ(parseError(big + "]"), "invalid JSON at line 20001, column 4: expected ',' or '}', found end of input");
  EXPECT_EQ(parseError("\xEF\xBB\xBF{\"data\":[]}"), "valid");  // a byte-order mark is passed over
  EXPECT_NE(parseError("[1, /* comment */ 2]"), "valid");
  EXPECT_NE(parseError("[1,2,]"), "valid");
  EXPECT_NE(parseError("[NaN]"), "valid");
}

struct DepthCase {
  size_t depth;
  std::string result;
};

void* parseNested(void* arg) {
  auto* c = static_cast<DepthCase*>(arg);
  std::string text(c->depth, '[');
  text += std::string(c->depth, ']');
  c->result = parseError(text);
  return nullptr;
}

// Runs on a thread with the 2 MiB stack that Windows gives a program.
std::string parseNestedOnSmallStack(size_t depth) {
  DepthCase c{depth, ""};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 2 << 20);
  pthread_t thread;
  EXPECT_EQ(pthread_create(&thread, &attr, parseNested, &c), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  return c.result;
}

TEST(JsonValidation, NestingIsLimitedBeforeTheStackIs) {
  EXPECT_EQ(parseNestedOnSmallStack(Recording::kMaxDepth), "valid");
  EXPECT_EQ(parseNestedOnSmallStack(Recording::kMaxDepth + 1),
            "invalid JSON at line 1, column 1001: arrays and objects nested deeper than 1000 levels");
  EXPECT_NE(parseNestedOnSmallStack(1000000), "valid");
}

class RecordingFile : public ::testing::Test {
 protected:
  // Each in a file of its own: a mapped file cannot be rewritten on Windows.
  Recording open(std::string_view json) {
    std::string path = dir.file("r" + std::to_string(++files) + ".tlq");
    testing::writeFile(path, json);
    return Recording(path);
  }

  // The entries' texts are views of the recording, which stays open for the
  // rest of the test.
  std::vector<RecordingEntry> entries(std::string_view json) {
    std::string path = dir.file("r" + std::to_string(++files) + ".tlq");
    testing::writeFile(path, json);
    kept.push_back(std::make_unique<Recording>(path));
    std::vector<RecordingEntry> all;
    kept.back()->forEachEntry([&](const RecordingEntry& e) { all.push_back(e); });
    return all;
  }

  testing::TempDir dir;
  int files = 0;
  std::vector<std::unique_ptr<Recording>> kept;
};

TEST_F(RecordingFile, MissingFileCannotBeOpened) {
  std::string path = dir.file("none.tlq");
  EXPECT_EQ(testing::failureOf([&] { Recording r(path); }), "IOError: cannot open: " + path);
  EXPECT_EQ(testing::failureOf([&] { Recording r(dir.path()); }), "IOError: cannot open: " + dir.path());
}

TEST_F(RecordingFile, ScansStopAtTheFirstHit) {
  Recording r = open(R"({"data":[{}, {"inclino2":null}, 5, {"dlen":{}}]})");
  EXPECT_TRUE(r.hasInclino2());
  EXPECT_EQ(testing::failureOf([&] { r.hasElasto(); }), "ValueError: data[2] is not a JSON object");
  Recording none = open(R"({"data":[{"inclino":{}}, {"force":{}}]})");
  EXPECT_FALSE(none.hasInclino2());
  EXPECT_FALSE(none.hasElasto());
}

TEST_F(RecordingFile, ShapeErrorsOfTheDocument) {
  EXPECT_EQ(testing::failureOf([&] { open("[1]").hasInclino2(); }), "ValueError: the recording is not a JSON object");
  EXPECT_EQ(testing::failureOf([&] { open(R"({"dat":[]})").hasInclino2(); }), "KeyError: key not found: data");
  EXPECT_EQ(testing::failureOf([&] { open(R"({"data":{}})").hasInclino2(); }), "ValueError: \"data\" is not a JSON array");
  // Of members with equal names the last counts.
  EXPECT_EQ(testing::failureOf([&] { open(R"({"data":[], "data":7})").hasElasto(); }),
            "ValueError: \"data\" is not a JSON array");
  EXPECT_TRUE(open(R"({"data":7, "d\u0061ta":[{"dlen":1}]})").hasElasto());
}

TEST_F(RecordingFile, EntriesCarryTheMembersRead) {
  auto all = entries(R"({"meta":{"data":[{"inclino":{"raw":"no"}}]},
    "data":[
      {"inclino":{"raw":"X\r\n","timestamp":17,"extra":[{"raw":"deep"}]},"other":{"raw":"x"}},
      [1,2],
      {"dlen":{"raw":"A=1 x B=2","val1":12,"val2":12.5e0},"force":"text","inclino2":{}},
      {"inclino":{"raw":"first","raw":"second"},"inclino":{"timestamp":"t"}},
      {"dlen":{"val1":"7","val2":null,"raw":true}, "force":{"raw":"\u0002 1N\u0003"}}
    ]})");
  ASSERT_EQ(all.size(), 5u);

  EXPECT_EQ(all[0].index, 0u);
  EXPECT_EQ(all[0].inclino.shape, SensorObject::Shape::object);
  EXPECT_EQ(all[0].inclino.raw.textOf(), "X\r\n");
  EXPECT_EQ(all[0].inclino.timestamp.type, JsonField::Type::number);
  EXPECT_EQ(all[0].inclino.timestamp.textOf(), "");
  EXPECT_EQ(all[0].inclino2.shape, SensorObject::Shape::absent);

  EXPECT_FALSE(all[1].isObject);
  EXPECT_EQ(all[1].index, 1u);

  EXPECT_EQ(all[2].dlen.val1.numberOf(), 12.0);
  EXPECT_EQ(all[2].dlen.val2.numberOf(), 12.5);
  EXPECT_EQ(all[2].force.shape, SensorObject::Shape::notObject);
  EXPECT_EQ(all[2].inclino2.shape, SensorObject::Shape::object);
  EXPECT_FALSE(all[2].inclino2.raw.present());
  EXPECT_EQ(all[2].inclino.shape, SensorObject::Shape::absent);  // nothing carried over

  EXPECT_FALSE(all[3].inclino.raw.present());  // the second "inclino" replaced the first
  EXPECT_EQ(all[3].inclino.timestamp.textOf(), "t");

  EXPECT_EQ(all[4].dlen.val1.numberOf(), 0.0);
  EXPECT_TRUE(all[4].dlen.val2.present());
  EXPECT_EQ(all[4].dlen.raw.type, JsonField::Type::other);
  EXPECT_EQ(all[4].force.raw.textOf(), "\x02 1N\x03");
}

TEST_F(RecordingFile, NumbersAreReadExactly) {
  auto all = entries(
      R"({"data":[{"dlen":{"raw":"","val1":0.1000000000000000055511151231257827,"val2":123456789012345678901234567890}}]})");
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].dlen.val1.number, 0.1);
  EXPECT_EQ(all[0].dlen.val2.number, 123456789012345678901234567890.0);
}

TEST_F(RecordingFile, LongEscapedStringsArriveWhole) {
  std::string payload(100000, 'a');
  for (size_t i = 0; i < payload.size(); i += 1000) payload[i] = 'b';
  std::string escaped;
  for (char c : payload) escaped += c == 'b' ? std::string("\\u0062") : std::string(1, c);
  auto all = entries(R"({"data":[{"force":{"raw":")" + escaped + R"("}}]})");
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].force.raw.textOf(), payload);
}

// What a walk shows of each entry, one line per entry.
std::string walkText(const Recording& r, const std::vector<EntryRange>& ranges) {
  std::string text;
  auto note = [&](const RecordingEntry& e) {
    text += std::to_string(e.index) + (e.isObject ? " {" : " -") + std::string(e.inclino.raw.textOf()) + "|" +
            std::string(e.force.raw.textOf()) + "|" + std::to_string(e.dlen.val1.numberOf()) + "\n";
  };
  if (ranges.empty()) r.forEachEntry(note);
  for (const EntryRange& range : ranges) r.forEachEntry(note, range);
  return text;
}

// Ranges follow each other from entry 0 to the last, none empty.
void expectContiguous(const std::vector<EntryRange>& ranges, size_t entries) {
  size_t next = 0;
  for (const EntryRange& range : ranges) {
    EXPECT_EQ(range.first, next);
    EXPECT_GT(range.count, 0u);
    next += range.count;
  }
  EXPECT_EQ(next, entries);
}

TEST_F(RecordingFile, RangesWalkLikeTheWholeDocument) {
  Recording r = open("{\"meta\":{\"data\":[{\"x\":1}]}, \"data\" :\n [ \t"
                     R"({"inclino":{"raw":"a,b"}},5 , {}, [1,{"force":{"raw":"no"}}],"text",)"
                     R"({ "d\u0061ta":[1], "force":{"raw":"\u0002x"}},{"\u0066orce":{"raw":"y"}},)"
                     R"({"dlen":{"raw":"","val1":1.5e1,"val2":0}},{"force":{"raw":"]},{"}} ]})");
  std::string whole = walkText(r, {});
  ASSERT_EQ(std::count(whole.begin(), whole.end(), '\n'), 9);
  for (size_t bytes : {size_t{1}, size_t{40}, size_t{1} << 20}) {
    std::vector<EntryRange> ranges = r.ranges(bytes);
    ASSERT_FALSE(ranges.empty());
    expectContiguous(ranges, 9);
    EXPECT_EQ(walkText(r, ranges), whole) << bytes;
  }
  EXPECT_EQ(r.ranges(1 << 20).size(), 1u);
  EXPECT_EQ(r.ranges(1).size(), 3u);  // entries without a plain first key join the range before
}

TEST_F(RecordingFile, RangesOfALongRecordingStayFew) {
  std::string json = R"({"data":[)";
  for (int i = 0; i < 10000; ++i) json += (i ? "," : "") + std::string(R"({"dlen":{"val1":)") + std::to_string(i) + "}}";
  json += "]}";
  Recording r = open(json);
  std::vector<EntryRange> ranges = r.ranges(1);
  EXPECT_LE(ranges.size(), 4096u);
  EXPECT_GE(ranges.size(), 2048u);
  expectContiguous(ranges, 10000);
  EXPECT_EQ(walkText(r, ranges), walkText(r, {}));
}

TEST_F(RecordingFile, RangesOnlyWhereTheFirstEntryIsPlaced) {
  EXPECT_TRUE(open(R"({"data":[]})").ranges(1).empty());
  // Entry 0 is placed by the "data" key or by its own first key.
  EXPECT_TRUE(open(R"({"d\u0061ta":[5,{"force":{}}]})").ranges(1).empty());
  Recording ownKey = open(R"({"d\u0061ta":[{"force":{"raw":"z"}},{"c":1}]})");
  expectContiguous(ownKey.ranges(1), 2);
  EXPECT_EQ(walkText(ownKey, ownKey.ranges(1)), "0 {|z|0.000000\n1 {||0.000000\n");
  // The last "data" counts, also for the ranges.
  Recording r = open(R"({"data":[{"a":1},{"b":2},{"c":3}], "data":[5, {"force":{"raw":"z"}}, {"c":1}]})");
  std::vector<EntryRange> ranges = r.ranges(1);
  expectContiguous(ranges, 3);
  EXPECT_EQ(walkText(r, ranges), "0 -||0.000000\n1 {|z|0.000000\n2 {||0.000000\n");
  EXPECT_TRUE(open(R"({"data":[{"a":1},{"b":2}], "d\u0061ta":[5,{"force":{"raw":"z"}}]})").ranges(1).empty());
}

// What a recording shows of itself, or the failure reading it raises.
std::string observed(const std::string& path, unsigned threads) {
  std::string seen;
  try {
    Recording r(path, [threads](size_t) { return threads; });
    seen += testing::failureOf([&] { seen += r.hasInclino2() ? "inclino2 " : "- "; });
    seen += testing::failureOf([&] { seen += r.hasElasto() ? "dlen " : "- "; });
    // Where the marks fall may differ; what the ranges walk may not.
    std::vector<EntryRange> ranges = r.ranges(1);
    seen += ranges.empty() ? "whole\n" : "ranges\n";
    seen += testing::failureOf([&] { seen += walkText(r, ranges); });
  } catch (const Error& e) {
    seen += std::string(e.kindName()) + ": " + e.message();
  }
  return seen;
}

TEST_F(RecordingFile, ValidationInPiecesAgreesWithTheWholeWalk) {
  std::string deep = std::string(995, '[') + std::string(995, ']');
  const std::string documents[] = {
      // Valid, with entries of every shape and members after "data".
      "{\"format\":3,\"data\":[\n{\"inclino\":{\"raw\":\"a\"}},\n5,\n  {\"inclino2\":{}},\n{\"dlen\":{\"val1\":1}},\n"
      "{},\n{\"force\":{\"raw\":\"\\u0002x\"}},\n[1,2],\n{\"dlen\":{\"val1\":2.5e0}}\n],\"site\":\"x\"}\n",
      // A line that looks like an entry's start inside an entry.
      "{\"data\":[\n{\"x\":[1,\n{\"a\":1},\n{\"b\":2}]},\n{\"force\":{\"raw\":\"f\"}},\n{\"y\":[\n{},\n{}]},\n{}\n]}",
      // Such lines after the array, and a second "data" that counts.
      "{\"data\":[\n{\"a\":1},\n{\"b\":2}\n],\"meta\":[\n{\"c\":1},\n{\"d\":2}]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2}\n],\"data\":[\n{\"inclino2\":{}},\n{\"dlen\":{}}]}",
      // Failures that name an entry in a later piece.
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"c\":3},\n{\"d\":4},\n7,\n{\"dlen\":{}},\n{\"inclino2\":{}}\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"c\":3},\n{\"d\":4},\n{\"e\":5},\n{\"dlen\":{}},\n\"x\"\n]}",
      // Broken in a later piece, between pieces, and at the end.
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"c\":3},\n{\"d\":4} {\"e\":5},\n{\"f\":6}\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"force\":{\"raw\":\"\xC3\x28\"}},\n{\"d\":4}\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2} {\"c\":3},\n{\"d\":4}\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"c\":3},\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"c\":3}\n] x}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"c\":3}\n]",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2}, // note\n{\"c\":3}\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":\"two\nlines\"},\n{\"c\":3}\n]}",
      // Nesting at the limit and past it, inside a later piece.
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"deep\":" + std::string(996, '[') + std::string(996, ']') + "}\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n{\"deep\":" + std::string(997, '[') + std::string(997, ']') + "}\n]}",
      "{\"data\":[\n{\"a\":1},\n{\"b\":2},\n" + deep + ",\n{\"c\":3}\n]}",
  };
  for (const std::string& json : documents) {
    std::string path = dir.file("r" + std::to_string(++files) + ".tlq");
    testing::writeFile(path, json);
    std::string whole = observed(path, 1);
    for (unsigned threads : {2u, 3u, 5u}) EXPECT_EQ(observed(path, threads), whole) << json.substr(0, 60) << " on " << threads;
  }
}

TEST_F(RecordingFile, ValidationInPiecesOfALongRecording) {
  std::string json = "{\"data\":[\n";
  for (int i = 0; i < 20000; ++i)
    json += (i ? ",\n" : "") + std::string(i % 7 == 3 ? R"({"inclino2":{"raw":"r"}})" : R"({"dlen":{"val1":)" + std::to_string(i) + "}}");
  json += "\n]}\n";
  std::string path = dir.file("long.tlq");
  testing::writeFile(path, json);
  std::string whole = observed(path, 1);
  EXPECT_TRUE(observed(path, 2) == whole);
  EXPECT_TRUE(observed(path, 8) == whole);
}

// Read again with what an earlier read found, a recording whose file is the
// version that read saw is not checked again; any change to the file, or
// another file, is.
TEST_F(RecordingFile, ReadAgainTheCheckedTextIsTakenOnlyForTheVersionChecked) {
  const std::string valid = R"({"data":[{"force":{"raw":"N+0012.50M"}},{"inclino2":{"raw":"r"}}]})";
  std::string broken = valid;
  broken.back() = ']';  // the same size, no longer JSON
  const std::string path = dir.file("again.tlq");
  // Whole seconds, which every system's clock of files keeps exactly.
  const auto when = std::filesystem::file_time_type(std::chrono::seconds(1'700'000'000));
  testing::writeFile(path, valid);
  std::filesystem::last_write_time(path, when);
  std::optional<Recording::Checked> checked;
  {
    Recording first(path);
    checked = first.checked();
  }
  ASSERT_TRUE(checked);
  auto entries = [](const Recording& r) {
    size_t n = 0;
    r.forEachEntry([&](const RecordingEntry&) { ++n; });
    return n;
  };
  {
    Recording again(path, {}, false, &*checked);
    EXPECT_EQ(again.entries(), 2u);
    EXPECT_EQ(entries(again), 2u);
    EXPECT_TRUE(again.hasInclino2());
  }
  // Changed with its time of last change put back: the same version, as far
  // as the system tells, so what was checked is taken.
  testing::writeFile(path, broken);
  std::filesystem::last_write_time(path, when);
  EXPECT_EQ(testing::failureOf([&] { Recording again(path, {}, false, &*checked); }), "no error");
  // A change the system tells, or another file, is read and checked again.
  std::filesystem::last_write_time(path, when + std::chrono::seconds(1));
  EXPECT_EQ(testing::failureOf([&] { Recording again(path, {}, false, &*checked); }),
            "JsonParseError: " + parseError(broken));
  const std::string other = dir.file("other.tlq");
  testing::writeFile(other, broken);
  std::filesystem::last_write_time(other, when);
  EXPECT_EQ(testing::failureOf([&] { Recording again(other, {}, false, &*checked); }),
            "JsonParseError: " + parseError(broken));
}

#ifndef _WIN32
// Another program cuts the recording short between the passes, or before the
// first one ends: a file error, never a signal or an error about its text.
TEST_F(RecordingFile, CutShortWhileRead) {
  std::string json = "{\"data\":[";
  for (int i = 0; i < 20000; ++i) json += (i ? ",\n" : "\n") + std::string(R"({"force":{"raw":"N+0012.50M"}})");
  json += "]}";
  std::string path = dir.file("cut.tlq");
  std::string changed = "IOError: cannot read: " + path + " (the file changed while it was read)";
  for (size_t cut : {size_t{100}, json.size() / 2}) {
    testing::writeFile(path, json);
    Recording recording(path);
    ASSERT_EQ(testing::runProcess({"/usr/bin/truncate", "-s", std::to_string(cut), path}).exitCode, 0);
    size_t seen = 0;
    EXPECT_EQ(testing::failureOf([&] {
                recording.forEachEntry([&](const RecordingEntry&) { ++seen; });
                recording.requireUnchanged();
              }),
              changed);
    EXPECT_LT(seen, 20000u);
  }
  // Cut short after it was mapped, before the first pass: the pass reads
  // zeros, and says the file changed.
  testing::writeFile(path, json);
  EXPECT_EQ(testing::failureOf([&] {
              Recording recording(path, [&](size_t) {
                testing::runProcess({"/usr/bin/truncate", "-s", "5000", path});
                return 1u;
              });
            }),
            changed);
}
#endif

}  // namespace
}  // namespace tlq
