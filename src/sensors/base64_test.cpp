#include "sensors/base64.h"

#include <gtest/gtest.h>

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

std::string errorOf(std::string_view text) {
  std::string failure = testing::failureOf([&] { base64::decode(text); });
  return failure.starts_with("ValueError: ") ? failure.substr(12) : failure;
}

TEST(Base64, DecodesStandardAndUrlSafeAlphabetsMixed) {
  EXPECT_EQ(base64::decode("TWFu"), "Man");
  EXPECT_EQ(base64::decode("+/+/"), "\xFB\xFF\xBF");
  EXPECT_EQ(base64::decode("-_-_"), "\xFB\xFF\xBF");
  EXPECT_EQ(base64::decode("+_-/"), "\xFB\xFF\xBF");
  EXPECT_EQ(base64::decode(""), "");
}

TEST(Base64, RemainderOfTwoOrThreeGivesOneOrTwoBytes) {
  EXPECT_EQ(base64::decode("WD0="), "X=");
  EXPECT_EQ(base64::decode("WD0"), "X=");
  EXPECT_EQ(base64::decode("WA=="), "X");
  EXPECT_EQ(base64::decode("WA"), "X");
  EXPECT_EQ(base64::decode("TWFuW"), "Man");  // a single character carries no byte
  EXPECT_EQ(base64::decode("TWFu!"), "Man");  // and is not looked at
}

TEST(Base64, TrailingPadAndBreaksAreStripped) {
  EXPECT_EQ(base64::decode("TWFu\r\n"), "Man");
  EXPECT_EQ(base64::decode("WD0= \r\n=="), "X=");
  EXPECT_EQ(base64::decode("===="), "");
}

TEST(Base64, BreaksAreSkippedBeforeEachGroup) {
  EXPECT_EQ(base64::decode("TWFu\r\nTWFu"), "ManMan");
  EXPECT_EQ(base64::decode("  TWFu TWFu"), "ManMan");
  // Breaks before a short remainder leave it a remainder.
  EXPECT_EQ(base64::decode("TWFu\r\nWA"), "ManX");
  // Inside a group they are characters like any other.
  EXPECT_EQ(errorOf("TW Fu"), "Invalid base64 format character ` ` (ord 32) at location 2.");
}

TEST(Base64, InvalidCharacterNamesItsPlace) {
  EXPECT_EQ(errorOf("WD0=A"), "Invalid base64 format character `=` (ord 61) at location 3.");
  EXPECT_EQ(errorOf("TWFu*WFu"), "Invalid base64 format character `*` (ord 42) at location 4.");
  EXPECT_EQ(errorOf("TW\tu"), "Invalid base64 format character `\t` (ord 9) at location 2.");
  EXPECT_EQ(errorOf("TWFuT\xC3\xA4"), "Invalid base64 format character `\xC3` (ord 195) at location 5.");
  // The first bad character of a group is the one reported.
  EXPECT_EQ(errorOf("T.*u"), "Invalid base64 format character `.` (ord 46) at location 1.");
}

}  // namespace
}  // namespace tlq
