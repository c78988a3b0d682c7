#include "sensors/inclino.h"

#include <gtest/gtest.h>

#include <cmath>

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

using testing::base64Encode;

TEST(DetectInclinoType, LooksAtTheFirstTwoCharactersOnly) {
  EXPECT_EQ(detectInclinoType("//8AAA"), InclinoType::inclinoDq7);
  EXPECT_EQ(detectInclinoType("//"), InclinoType::inclinoDq7);
  EXPECT_EQ(detectInclinoType("8AEAAA"), InclinoType::inclinoRk);
  EXPECT_EQ(detectInclinoType("8a"), InclinoType::inclinoText);
  EXPECT_EQ(detectInclinoType("/"), InclinoType::inclinoText);
  EXPECT_EQ(detectInclinoType(""), InclinoType::inclinoText);
  EXPECT_EQ(detectInclinoType("X=+01.234"), InclinoType::inclinoText);
  EXPECT_EQ(detectInclinoType("WD0="), InclinoType::inclinoText);
}

constexpr std::string_view kText = "X=+01.234\r\nY=-00.567";

TEST(ParseMeasInclino, PlainAndBase64TextGiveTheAngles) {
  auto [x, y] = parseMeasInclino(kText);
  EXPECT_EQ(x, 1.234);
  EXPECT_EQ(y, -0.567);
  std::string encoded = base64Encode(kText);
  ASSERT_TRUE(encoded.starts_with("WD"));
  EXPECT_EQ(parseMeasInclino(encoded), std::make_pair(1.234, -0.567));
}

TEST(ParseMeasInclino, FinalLineFeedIsAllowedButNotCrLf) {
  EXPECT_EQ(parseMeasInclino(std::string(kText) + "\n"), std::make_pair(1.234, -0.567));
  EXPECT_EQ(parseMeasInclino(std::string(kText) + "\r\n"), std::make_pair(-999.0, -999.0));
  EXPECT_EQ(parseMeasInclino(std::string(kText) + "\r\nZ=+00.000"), std::make_pair(-999.0, -999.0));
}

TEST(ParseMeasInclino, UnreadableXGivesNaNAndUnreadableYLosesBoth) {
  for (std::string_view badX : {"X=1.234", "X=+1.234", "X=+01.23", "x=+01.234"}) {
    auto [x, y] = parseMeasInclino(std::string(badX) + "\r\nY=-00.567");
    EXPECT_TRUE(std::isnan(x)) << badX;
    EXPECT_EQ(y, -0.567) << badX;
  }
  EXPECT_EQ(parseMeasInclino("X=+01.234\r\nY=-0.567"), std::make_pair(-999.0, -999.0));
  EXPECT_EQ(parseMeasInclino("X=+01.234\nY=-00.567"), std::make_pair(-999.0, -999.0));
  EXPECT_EQ(parseMeasInclino(""), std::make_pair(-999.0, -999.0));
}

TEST(ParseMeasInclino, Base64NotStartingWithXIsMatchedAsItStands) {
  std::string encoded = base64Encode("Y=-00.567\r\nX=+01.234");
  EXPECT_FALSE(encoded.starts_with("WD"));
  EXPECT_EQ(parseMeasInclino(encoded), std::make_pair(-999.0, -999.0));
}

TEST(ParseMeasInclino, InvalidBase64RaisesItsError) {
  try {
    parseMeasInclino("WD0=A");
    FAIL() << "no error";
  } catch (const ValueError& e) {
    EXPECT_EQ(e.message(), "Invalid base64 format character `=` (ord 61) at location 3.");
  }
}

TEST(ParseMeasInclino, CarriageReturnCountsAsAnyCharacter) {
  // "." matches CR: the Y pattern's ".+" takes the stray CR, while the X
  // pattern needs CR LF right after its value.
  auto [x, y] = parseMeasInclino("X=+01.234 \r\r\nY=-00.567");
  EXPECT_TRUE(std::isnan(x));
  EXPECT_EQ(y, -0.567);
}

}  // namespace
}  // namespace tlq
