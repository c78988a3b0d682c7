// The two binary inclinometer frame families, carried as base64.
//
// A frame is a 2-byte big-endian header, a body whose 16-bit fields are
// little-endian, and a little-endian CRC-16/XMODEM of the body in the last two
// bytes. Every byte read is bounds-checked and raises an IndexError
// "index N not in 0 .. L-1" (or "index out of bounds, the container is empty").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tlq {

// A dq7 frame (header FF FF) decoded. Field order is the JSON member order.
struct Dq7Inclino {
  double A_deg = 0;
  double B_deg = 0;
  int64_t A0L = 0, A0H = 0;
  int64_t B0L = 0, B0H = 0;
  int64_t FL = 0, FH = 0;
  int64_t CAL_A = 0;
  int64_t CAL_B = 0;
  bool CRC_OK = false;
  std::string_view RAW_B64;  // the payload as passed to the parser; a view of it
};

// An rk frame (header F0 01) decoded. Field order is the JSON member order.
struct RkInclino {
  int64_t ACCX = 0;
  int64_t ACCY = 0;
  int64_t MUR_OVERFLOWS = 0;
  int64_t UART_OVERFLOWS = 0;
  int64_t RS_ERRORS = 0;
  int64_t STATUS = 0;
  bool CRC_OK = false;
  std::string_view RAW_B64;  // the payload as passed to the parser; a view of it
  double X_deg = 0;
  double Y_deg = 0;
};

// Byte-level reads on a decoded frame, at zero-based offset p.
uint8_t byteAt(std::string_view frame, size_t p);
std::pair<int64_t, int64_t> unpack24BitsFrom3Bytes(std::string_view frame, size_t p);
int64_t unpackShort(std::string_view frame, size_t p);
int64_t unpackUnsignedShort(std::string_view frame, size_t p);
int64_t unpackSignedShort(std::string_view frame, size_t p);

// CRC-16/XMODEM (poly 0x1021, init 0, no reflection, no final xor).
uint16_t crc16Xmodem(std::string_view bytes);

// True when the stored CRC (last two bytes, little-endian) matches the CRC
// of bytes 2 to length - 3.
bool dq7_check_crc(std::string_view frame);
bool rk_check_crc(std::string_view frame);

Dq7Inclino parse_dq7_inclino(std::string_view payload);
RkInclino parse_rk_inclino(std::string_view payload);

// Appends the record as compact JSON text: members in field order, no
// whitespace, floats as "%.16g" with the ".0" rule.
void toJson(const Dq7Inclino& record, std::string& out);
void toJson(const RkInclino& record, std::string& out);

// Appends the same text as one CSV field: in double quotes, every double
// quote in it doubled (the text always holds some).
void toCsvField(const Dq7Inclino& record, std::string& out);
void toCsvField(const RkInclino& record, std::string& out);

}  // namespace tlq
