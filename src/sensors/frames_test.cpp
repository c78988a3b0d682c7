#include "sensors/frames.h"

#include <gtest/gtest.h>

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

using testing::base64Encode;
using testing::sealFrame;

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// A 16-byte dq7 frame: header, 12 body bytes, CRC.
std::string dq7Frame(std::string body12, int crcDelta = 0) {
  return base64Encode(sealFrame("\xFF\xFF" + body12, crcDelta));
}

// A 15-byte rk frame: header, 11 body bytes, CRC.
std::string rkFrame(std::string body11, int crcDelta = 0) {
  return base64Encode(sealFrame("\xF0\x01" + body11, crcDelta));
}

TEST(Crc16Xmodem, CheckValue) { EXPECT_EQ(crc16Xmodem("123456789"), 0x31C3); }

TEST(Dq7, ZeroBodyWithMatchingCrc) {
  Dq7Inclino r = parse_dq7_inclino(dq7Frame(std::string(12, '\0')));
  EXPECT_EQ(r.A_deg, 0.0);
  EXPECT_EQ(r.B_deg, 0.0);
  EXPECT_EQ(r.A0L + r.A0H + r.B0L + r.B0H + r.FL + r.FH + r.CAL_A + r.CAL_B, 0);
  EXPECT_TRUE(r.CRC_OK);
}

TEST(Dq7, UnpacksPairsAndComputesAngles) {
  // A0L = 3000, A0H = 1000, CAL_A = 5000: (3000 - 1000) * 5000 / 1e4 / 1e3 = 1.0
  std::string body = bytes({0xB8, 0x8B, 0x3E, 0xE8, 0x83, 0xBB, 0x34, 0x12, 0xAB, 0x00, 0x88, 0x13});
  std::string payload = dq7Frame(body);
  Dq7Inclino r = parse_dq7_inclino(payload);
  EXPECT_EQ(r.A0L, 3000);
  EXPECT_EQ(r.A0H, 1000);
  EXPECT_EQ(r.B0L, 1000);  // 0x3E8 the other way round: negative angle
  EXPECT_EQ(r.B0H, 3000);
  EXPECT_EQ(r.FL, 0x234);
  EXPECT_EQ(r.FH, 0xAB1);
  EXPECT_EQ(r.CAL_A, 5000);
  EXPECT_EQ(r.A_deg, 1.0);
  // In a 16-byte frame CAL_B is read from the CRC bytes.
  std::string frame = sealFrame("\xFF\xFF" + body);
  EXPECT_EQ(r.CAL_B, static_cast<uint8_t>(frame[14]) | static_cast<uint8_t>(frame[15]) << 8);
  EXPECT_EQ(r.B_deg, static_cast<double>(-2000 * r.CAL_B) / 10000.0 / 1000.0);
  EXPECT_TRUE(r.CRC_OK);
  EXPECT_EQ(r.RAW_B64, payload);
}

TEST(Dq7, TwoDivisionsNotOne) {
  // (1 - 0) * 1 = 1: 1 / 10000 / 1000 differs from 1 / 1e7 in the last bit.
  ASSERT_NE(1.0 / 10000.0 / 1000.0, 1.0 / 1e7);
  std::string body = bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0});
  EXPECT_EQ(parse_dq7_inclino(dq7Frame(body)).A_deg, 1.0 / 10000.0 / 1000.0);
}

TEST(Dq7, BadCrcStillGivesEveryField) {
  std::string body = bytes({0xB8, 0x8B, 0x3E, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x13});
  Dq7Inclino r = parse_dq7_inclino(dq7Frame(body, 1));
  EXPECT_FALSE(r.CRC_OK);
  EXPECT_EQ(r.A_deg, 1.0);
}

TEST(Dq7, AppendedBytesMoveTheCrc) {
  std::string frame = sealFrame("\xFF\xFF" + std::string(12, '\x01') + "\x07\x08");
  Dq7Inclino r = parse_dq7_inclino(base64Encode(frame));
  EXPECT_TRUE(r.CRC_OK);
  EXPECT_EQ(r.CAL_B, 0x0807);
}

TEST(Dq7, WrongSecondHeaderByteFailsTheAssertion) {
  std::string payload = base64Encode(sealFrame("\xFF\xFE" + std::string(12, '\0')));
  ASSERT_TRUE(payload.starts_with("//"));
  EXPECT_EQ(testing::failureOf([&] { parse_dq7_inclino(payload); }),
            "AssertionError: tlqconverter(135, 5) `header == 65535` ");
}

TEST(Dq7, ShortFramesFailAtTheFirstMissingByte) {
  EXPECT_EQ(testing::failureOf([] { parse_dq7_inclino(""); }), "IndexError: index out of bounds, the container is empty");
  EXPECT_EQ(testing::failureOf([] { parse_dq7_inclino(base64Encode("\xFF")); }), "IndexError: index 1 not in 0 .. 0");
  EXPECT_EQ(testing::failureOf([] { parse_dq7_inclino(base64Encode(std::string("\xFF\xFF\x00\x00", 4))); }),
            "IndexError: index 4 not in 0 .. 3");
  EXPECT_EQ(testing::failureOf([] { parse_dq7_inclino(base64Encode(std::string("\xFF\xFF", 2) + std::string(10, '\0'))); }),
            "IndexError: index 12 not in 0 .. 11");
  EXPECT_EQ(testing::failureOf([] { parse_dq7_inclino(base64Encode(std::string("\xFF\xFF", 2) + std::string(13, '\0'))); }),
            "IndexError: index 15 not in 0 .. 14");
}

TEST(Rk, SignedAccelerationsAndAngles) {
  std::string body = bytes({1, 2, 3, 4, 5, 0x00, 0x80, 0x00, 0x40, 9, 8, 0x05, 0x01});
  // body is 13 bytes here: two spare bytes before the CRC
  RkInclino r = parse_rk_inclino(base64Encode(sealFrame("\xF0\x01" + body)));
  EXPECT_EQ(r.ACCX, -32768);
  EXPECT_EQ(r.ACCY, 16384);
  EXPECT_EQ(r.X_deg, -90.0);
  EXPECT_EQ(r.Y_deg, 30.000000000000004);
  EXPECT_EQ(r.MUR_OVERFLOWS, 9);
  EXPECT_EQ(r.UART_OVERFLOWS, 8);
  EXPECT_EQ(r.RS_ERRORS, 5);
  EXPECT_EQ(r.STATUS, 261);
  EXPECT_TRUE(r.CRC_OK);
}

TEST(Rk, LargestPositiveAcceleration) {
  RkInclino r = parse_rk_inclino(rkFrame(bytes({0, 0, 0, 0, 0, 0xFF, 0x7F, 0, 0, 0, 0})));
  EXPECT_EQ(r.ACCX, 32767);
  EXPECT_NEAR(r.X_deg, 89.5524, 1e-4);
  EXPECT_EQ(r.Y_deg, 0.0);
}

TEST(Rk, StatusOverlapsRsErrorsInA15ByteFrame) {
  // Bytes 13 and 14 of a 15-byte frame are its CRC.
  std::string frame = sealFrame("\xF0\x01" + bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05}));
  RkInclino r = parse_rk_inclino(base64Encode(frame));
  EXPECT_EQ(r.UART_OVERFLOWS, 5);
  EXPECT_EQ(r.RS_ERRORS, static_cast<uint8_t>(frame[13]));
  EXPECT_EQ(r.STATUS, static_cast<uint8_t>(frame[13]) | static_cast<uint8_t>(frame[14]) << 8);
  EXPECT_TRUE(r.CRC_OK);
}

TEST(Rk, HeaderAndLengthFailures) {
  std::string wrong = base64Encode(sealFrame("\xF0\x02" + std::string(11, '\0')));
  ASSERT_TRUE(wrong.starts_with("8A"));
  EXPECT_EQ(testing::failureOf([&] { parse_rk_inclino(wrong); }), "AssertionError: tlqconverter(190, 5) `header == 61441` ");
  EXPECT_EQ(testing::failureOf([] { parse_rk_inclino(base64Encode("\xF0")); }), "IndexError: index 1 not in 0 .. 0");
  EXPECT_EQ(testing::failureOf([] { parse_rk_inclino(base64Encode(std::string("\xF0\x01", 2) + std::string(6, '\0'))); }),
            "IndexError: index 8 not in 0 .. 7");
  EXPECT_EQ(testing::failureOf([] { parse_rk_inclino(base64Encode(std::string("\xF0\x01", 2) + std::string(12, '\0'))); }),
            "IndexError: index 14 not in 0 .. 13");
  EXPECT_EQ(testing::failureOf([] { parse_rk_inclino("8A!!"); }),
            "ValueError: Invalid base64 format character `!` (ord 33) at location 2.");
}

TEST(ToJson, Dq7CompactText) {
  std::string body = bytes({0xB8, 0x8B, 0x3E, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x13});
  std::string payload = dq7Frame(body) + "\r\n";
  Dq7Inclino r = parse_dq7_inclino(payload);
  std::string text;
  toJson(r, text);
  EXPECT_EQ(text, "{\"A_deg\":1.0,\"B_deg\":0.0"
                  ",\"A0L\":3000,\"A0H\":1000,\"B0L\":0,\"B0H\":0,\"FL\":0,\"FH\":0,\"CAL_A\":5000,\"CAL_B\":" +
                      std::to_string(r.CAL_B) + ",\"CRC_OK\":true,\"RAW_B64\":\"" + dq7Frame(body) + "\\r\\n\"}");
}

TEST(ToJson, RkCompactTextAndEscapes) {
  RkInclino r;
  r.ACCX = -32768;
  r.ACCY = 16384;
  r.STATUS = 261;
  r.CRC_OK = false;
  r.RAW_B64 = "8A\"\\\x01 x";
  r.X_deg = -90.0;
  r.Y_deg = 1e-05;
  std::string text;
  toJson(r, text);
  EXPECT_EQ(text,
            "{\"ACCX\":-32768,\"ACCY\":16384,\"MUR_OVERFLOWS\":0,\"UART_OVERFLOWS\":0,\"RS_ERRORS\":0,"
            "\"STATUS\":261,\"CRC_OK\":false,\"RAW_B64\":\"8A\\\"\\\\\\u0001 x\",\"X_deg\":-90.0,\"Y_deg\":1e-05}");
}

}  // namespace
}  // namespace tlq
