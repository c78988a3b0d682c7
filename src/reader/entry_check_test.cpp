#include "reader/entry_check.h"

#include <gtest/gtest.h>

#include <boost/json/parser.hpp>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "reader/json_text.h"

namespace tlq {
namespace {

std::string factsText(size_t end, const EntryFacts& f) {
  return std::to_string(end) + (f.anyMember ? " members" : "") + (f.inclino2 ? " inclino2" : "") +
         (f.dlen ? " dlen" : "");
}

// The check of the entry at the start of `text`, copied to a buffer of its
// exact size so that a read past it is caught under the address sanitizer.
std::optional<std::string> checked(std::string_view text) {
  auto copy = std::make_unique<char[]>(text.size());
  std::memcpy(copy.get(), text.data(), text.size());
  EntryFacts facts;
  size_t end = checkEntry({copy.get(), text.size()}, 0, facts);
  if (end == kEntryNotChecked) return std::nullopt;
  while (end < text.size() && isJsonSpace(text[end])) ++end;  // as the parser goes on past it
  return factsText(end, facts);
}

// The full parser's reading of the value at the start of `text`, in the same
// terms, or nothing when it finds a fault.
std::optional<std::string> parsed(std::string_view text) {
  boost::json::parse_options options;
  options.max_depth = 100;
  boost::json::parser parser({}, options);
  boost::system::error_code ec;
  size_t end = parser.write_some(text.data(), text.size(), ec);
  if (ec) return std::nullopt;
  boost::json::value value = parser.release();
  if (!value.is_object()) return "not an object";
  const boost::json::object& entry = value.get_object();
  EntryFacts facts{!entry.empty(), entry.contains("inclino2"), entry.contains("dlen")};
  return factsText(end, facts);
}

// What the check takes, the parser reads the same; what it leaves, it
// leaves whole.
void expectAgrees(std::string_view text) {
  std::optional<std::string> check = checked(text);
  if (check) {
    EXPECT_EQ(check, parsed(text)) << text;
  }
}

TEST(EntryCheck, TakesTheUsualShapesAsTheParserReadsThem) {
  const char* entries[] = {
      R"({"inclino":{"raw":"X=-04.372\r\nY=-06.960","timestamp":"2026-11-17T09:00:00.000"},)"
      R"("inclino2":{"raw":"WD0rMDEuODc1DQpZPSsxMS40Mzk="},"force":{"raw":"\u0002-  15.61M\u0003"},)"
      R"("dlen":{"raw":"A=44476 33 B=55570","val1":555.9500,"val2":694.6250}})",
      R"({"force":{"raw":"Kraft \u00b0 \/ \"q\" \\ \b\f\n\r\t","val1":-0,"val2":0.5}})",
      "{\"inclino\":{\"raw\":\"UTF-8: \xC3\xA4 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF\"}}",
      R"({"other":[true,false,null,[],{},[[{"a":["]"]}]],-12.5,0,1234567890123456789],"x":"}"})",
      " {\t\"dlen\" :\r\n{ \"val1\" : 1 } , \"x\" : [ 1 , 2 ] } ",
      "{}",
      R"({"":""})",
  };
  for (const char* entry : entries) {
    std::string text = std::string(entry) + ",\n{}";
    std::string_view from(text);
    from.remove_prefix(from.find('{'));
    EXPECT_TRUE(checked(from).has_value()) << entry;
    expectAgrees(from);
  }
  EXPECT_EQ(checked(R"({"inclino":{},"inclino2":1,"dlen":{}})"), "37 members inclino2 dlen");
  EXPECT_EQ(checked(R"({"inclino":{"dlen":{}},"x":{"inclino2":1}})"), "42 members");
  EXPECT_EQ(checked(R"({"inclino2x":1,"dle":{},"dlenx":2,"inclino":{"dlen":3}})"), "55 members");
  EXPECT_EQ(checked(R"({"inclino2" :1,"dlen"  :2})"), "26 members inclino2 dlen");
  EXPECT_EQ(checked("{ }"), "3");
}

TEST(EntryCheck, LeavesDoubtsAndFaultsToTheParser) {
  const char* doubts[] = {
      // Valid, but left to the parser.
      R"({"dl\u0065n":{}})", R"({"raw":"\ud83d\ude00"})", R"({"v":1e5})", R"({"v":1.5E-3})",
      R"({"v":123456789012345678901})", R"({"a":[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]})",
      // Faults.
      "{\"raw\":\"tab\tinside\"}", "{\"raw\":\"\x80\"}", "{\"raw\":\"\xC0\xAF\"}", "{\"raw\":\"\xC3\"}",
      "{\"raw\":\"\xE0\x80\xAF\"}", "{\"raw\":\"\xED\xA0\x80\"}", "{\"raw\":\"\xF4\x90\x80\x80\"}",
      "{\"raw\":\"\xF5\x80\x80\x80\"}", R"({"raw":"\x"})", R"({"raw":"\u12G4"})", R"({"v":01})", R"({"v":-})",
      R"({"v":1.})", R"({"v":.5})", R"({"v":+1})", R"({"v":tru})", R"({"v":nul,"w":1})", R"({"v":1,})",
      R"({"v":[1,]})", R"({,"v":1})", R"({"v" 1})", R"({"v":1 "w":2})", R"({'v':1})", R"({"v"/**/:1})",
      R"({"v"://c
1})", "[1]", "\"entry\"", "5", "",
  };
  for (const char* text : doubts) EXPECT_EQ(checked(text), std::nullopt) << text;
}

// Every cut and every one-byte change of an entry: what the check takes,
// the parser reads the same, and nothing is read outside the text.
TEST(EntryCheck, AgreesWithTheParserOnAnyChange) {
  std::string entry = "{\"inclino\":{\"raw\":\"X\\r\\n\\u0002\xC3\xA4\",\"val1\":-1.5,\"timestamp\":[{\"a\":\"\\\"}\"}]},"
                      "\"dlen\":{\"v\":[true,null,0]},\"inclino2\":false}";
  ASSERT_TRUE(checked(entry).has_value());
  for (size_t n = 0; n <= entry.size(); ++n) expectAgrees(entry.substr(0, n));
  const char bytes[] = {'\0', '\t', '"', '\\', '{', '}', '[', ']', ',', ':', 'u', 'e', '0', '9', '-', '.',
                        ' ',  'n',  't', '/',  'D', '\x7F', '\x80', '\xBF', '\xC3', '\xED', '\xF4', '\xFF'};
  for (size_t i = 0; i < entry.size(); ++i) {
    for (char c : bytes) {
      std::string changed = entry;
      changed[i] = c;
      expectAgrees(changed);
      expectAgrees(changed.substr(0, i + 1));
    }
  }
}

}  // namespace
}  // namespace tlq
