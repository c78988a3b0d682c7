#include "csv/csv.h"

#include <gtest/gtest.h>

#include <limits>
#ifndef _WIN32
#include <locale.h>
#endif

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

std::string number(char list, char decimal, double v) {
  std::string out;
  localizeFloat(newCsvFormat({}, list, decimal), v, out);
  return out;
}

std::string quoted(char list, std::string_view text) {
  std::string out;
  quoteString(newCsvFormat({}, list, '.'), text, out);
  return out;
}

TEST(LocalizeFloat, UsesTheDecimalSeparator) {
  EXPECT_EQ(number(';', ',', 12.5), "12,5");
  EXPECT_EQ(number(';', ',', 3.0), "3,0");
  EXPECT_EQ(number(';', ',', 1e-05), "1e-05");
  EXPECT_EQ(number(';', ',', 1.5e-07), "1,5e-07");
  EXPECT_EQ(number(',', '.', -0.567), "-0.5669999999999999");
}

TEST(LocalizeFloat, NotANumberIsEmptyInfinitiesStay) {
  EXPECT_EQ(number(';', ',', std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_EQ(number(';', ',', std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(number(';', ',', -std::numeric_limits<double>::infinity()), "-inf");
}

TEST(LocalizeFloat, NumberHoldingTheListSeparatorIsQuoted) {
  EXPECT_EQ(number(',', ',', 1.25), "\"1,25\"");
  EXPECT_EQ(number(',', ',', 3.0), "\"3,0\"");
  EXPECT_EQ(number(',', ',', 1e-05), "1e-05");  // no separator in it: unquoted
  // A decimal separator no reader could tell from the field's end (found by
  // the CSV line fuzz target).
  EXPECT_EQ(number(';', '"', 1.25), "\"1\"\"25\"");
  EXPECT_EQ(number(';', '\n', 1.25), "\"1\n25\"");
}

TEST(QuoteString, QuotesOnlyWhatWouldBreakTheField) {
  EXPECT_EQ(quoted(';', "plain text"), "plain text");
  EXPECT_EQ(quoted(';', " padded "), " padded ");
  EXPECT_EQ(quoted(';', "a;b"), "\"a;b\"");
  EXPECT_EQ(quoted(';', "a,b"), "a,b");
  EXPECT_EQ(quoted(';', "say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(quoted(';', "line\r\nbreak"), "\"line\r\nbreak\"");
  EXPECT_EQ(quoted(';', "lf\nonly"), "\"lf\nonly\"");
  EXPECT_EQ(quoted(';', ""), "");
}

TEST(MakeLine, FieldsInHeaderOrderAndEmptyWhereMissing) {
  CsvFormat f = newCsvFormat({"a", "b", "c", "d", "e"}, ';', ',');
  CsvRow row(5);
  row.set(0, makeField("x;y"));
  row.set(2, makeField(2.5));
  row.set(3, makeField(int64_t{-42}));
  std::string line;
  makeLine(f, row, line);
  EXPECT_EQ(line, "\"x;y\";;2,5;-42;");

  row.clear();
  line.clear();
  makeLine(f, row, line);
  EXPECT_EQ(line, ";;;;");
}

TEST(MakeLine, TextSlotsAreReusedAfterClear) {
  CsvFormat f = newCsvFormat({"a", "b"}, ',', '.');
  CsvRow row(2);
  row.text(0) = "first";
  row.clear();
  row.text(1) += "second";
  std::string line;
  makeLine(f, row, line);
  EXPECT_EQ(line, ",second");
}

// A typed line tells text from numbers by its quotes, and reads back what
// it was made of.
TEST(TypedLine, TextQuotedNumbersNotAndBothReadBack) {
  CsvFormat format = typedCsvFormat({"a", "b", "c", "d", "e", "f", "g"});
  CsvRow row(7);
  row.setText(0, "12.5");  // text that looks like a number stays text
  row.setNumber(1, -0.25);
  row.setNumber(2, std::numeric_limits<double>::quiet_NaN());
  row.setNumber(3, std::numeric_limits<double>::infinity());
  row.text(4) = "say \"hi\",\r\nthere";
  row.setText(6, "");
  std::string line;
  makeLine(format, row, line);
  EXPECT_EQ(line, "\"12.5\",-0.25,,inf,\"say \"\"hi\"\",\r\nthere\",,\"\"");

  std::vector<TypedField> fields;
  readTypedLine(line, fields);
  using K = TypedField::Kind;
  std::vector<std::pair<K, std::string>> got;
  for (const TypedField& f : fields) got.emplace_back(f.kind, f.text);
  EXPECT_EQ(got, (std::vector<std::pair<K, std::string>>{{K::text, "12.5"},
                                                         {K::number, "-0.25"},
                                                         {K::empty, ""},
                                                         {K::number, "inf"},
                                                         {K::text, "say \"hi\",\r\nthere"},
                                                         {K::empty, ""},
                                                         {K::text, ""}}));
  readTypedLine("", fields);  // one empty field; the buffers are reused
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].kind, K::empty);
  readTypedLine("\"a,b\",1", fields);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].text, "a,b");
}

TEST(MakeHeader, NamesAreNeverQuoted) {
  EXPECT_EQ(makeHeader(newCsvFormat({"timestamp", "a;b", "q\""}, ';', ',')), "timestamp;a;b;q\"");
  EXPECT_EQ(makeHeader(newCsvFormat({}, ';', ',')), "");
}

class Separators : public ::testing::Test {
 protected:
  testing::TempDir dir;
};

TEST_F(Separators, ReadFromTheStore) {
  testing::SeparatorStore store(dir, ";;", ",");
  EXPECT_EQ(getListSeparator(), ';');  // only the first character counts
  EXPECT_EQ(getDecimalSeparator(), ',');
  CsvFormat f = newCsvFormat({"x"});
  EXPECT_EQ(f.listSeparator, ';');
  EXPECT_EQ(f.decimalSeparator, ',');
}

TEST_F(Separators, NonAsciiGivesItsFirstByte) {
  testing::SeparatorStore store(dir, "\xC2\xA6", "\xD9\xAB");
  EXPECT_EQ(getListSeparator(), '\xC2');
  EXPECT_EQ(getDecimalSeparator(), '\xD9');
}

TEST_F(Separators, MissingValueIsAFieldError) {
  testing::SeparatorStore store(dir, nullptr, ",");
  EXPECT_EQ(testing::failureOf(getListSeparator),
            "FieldError: field 'data' is not accessible for type 'RegData' using 'kind = REG_ERROR'");
  EXPECT_EQ(getDecimalSeparator(), ',');
}

TEST_F(Separators, EmptyValueIsAnIndexError) {
  testing::SeparatorStore store(dir, ";", "");
  EXPECT_EQ(testing::failureOf(getDecimalSeparator), "IndexError: index out of bounds, the container is empty");
}

TEST_F(Separators, NumericValueIsAFieldError) {
  testing::SeparatorStore store(dir, uint32_t{0x3b}, std::string(","));
  EXPECT_EQ(testing::failureOf(getListSeparator),
            "FieldError: field 'data' is not accessible for type 'RegData' using 'kind = REG_DWORD'");
}

#ifndef _WIN32
TEST_F(Separators, LocaleAnswersWhatTheStoreDoesNotHold) {
  testing::ScopedEnv store("TLQCONVERTER_REGISTRY", dir.file("absent.reg").c_str());
  testing::ScopedEnv lcAll("LC_ALL", nullptr);
  testing::ScopedEnv lcNumeric("LC_NUMERIC", nullptr);
  {
    testing::ScopedEnv lang("LANG", "C.UTF-8");
    EXPECT_EQ(getDecimalSeparator(), '.');
    EXPECT_EQ(getListSeparator(), ',');
  }
  locale_t german = ::newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
  if (!german) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  ::freelocale(german);
  testing::ScopedEnv lang("LANG", "de_DE.UTF-8");
  EXPECT_EQ(getDecimalSeparator(), ',');
  EXPECT_EQ(getListSeparator(), ';');
  testing::ScopedEnv numeric("LC_NUMERIC", "C");  // LC_NUMERIC comes before LANG
  EXPECT_EQ(getDecimalSeparator(), '.');
  testing::ScopedEnv all("LC_ALL", "de_DE.UTF-8");  // and LC_ALL before both
  EXPECT_EQ(getDecimalSeparator(), ',');
}

#endif  // _WIN32

}  // namespace
}  // namespace tlq
