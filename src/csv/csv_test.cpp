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
  CsvFormat f = newCsvFormat({"a", "b", "c", "d", "e", "f"}, ';', ',');
  RowBlock rows(6);
  rows.beginRow();
  rows.setText(0, "x;y");
  rows.setNumber(2, 2.5);
  rows.setNumber(3, std::numeric_limits<double>::quiet_NaN());  // no value
  rows.setDateTime(4, "2024-05-03T10:00:00", 45415.5);         // written as its text
  rows.keepRow();
  rows.beginRow();
  rows.keepRow();
  std::string line;
  makeLine(f, rows, 0, line);
  EXPECT_EQ(line, "\"x;y\";;2,5;;2024-05-03T10:00:00;");
  line.clear();
  makeLine(f, rows, 1, line);
  EXPECT_EQ(line, ";;;;;");
}

// A row begun and not kept leaves nothing: not its cells, not its text.
TEST(RowBlock, ARowNotKeptIsForgotten) {
  RowBlock rows(2);
  rows.beginRow();
  rows.setText(0, "first");
  rows.keepRow();
  rows.beginRow();
  size_t start = rows.text().size();
  rows.text() += "half";
  rows.setTextFrom(1, start);
  rows.beginRow();  // the entry failed: its row starts again
  rows.text() += "second";
  rows.setTextFrom(1, start);
  rows.keepRow();
  ASSERT_EQ(rows.rows(), 2u);
  EXPECT_EQ(rows.textOf(rows.cell(0, 0)), "first");
  EXPECT_EQ(rows.cell(1, 0).kind, CellKind::empty);
  EXPECT_EQ(rows.textOf(rows.cell(1, 1)), "second");
  EXPECT_EQ(rows.textBytes(), std::string("firstsecond").size());
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
