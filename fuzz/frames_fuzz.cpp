// Both frame parsers: any payload gives a whole record or a documented
// failure; a frame whose CRC is put right always has CRC_OK; the compact JSON
// of a record parses back into the same members in the documented order, and
// its CSV field is that text quoted.
#include <boost/json.hpp>
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <string>

#include "fuzz_check.h"
#include "sensors/base64.h"
#include "sensors/frames.h"

namespace {

namespace json = boost::json;
using namespace tlq;

// The body of bytes 2 .. length - 3 sealed with its CRC, little-endian.
std::string sealed(std::string frame) {
  uint16_t crc = crc16Xmodem(std::string_view(frame).substr(2, frame.size() - 4));
  frame[frame.size() - 2] = static_cast<char>(crc & 0xFF);
  frame[frame.size() - 1] = static_cast<char>(crc >> 8);
  return frame;
}

// The JSON text has these members, in this order, with these values.
struct Member {
  const char* name;
  json::value value;
};

void checkJson(const std::string& text, const std::vector<Member>& expected) {
  // A payload from a recording is UTF-8; one from the fuzzer need not be.
  json::parse_options options;
  options.allow_invalid_utf8 = true;
  json::error_code ec;
  json::value parsed = json::parse(text, ec, {}, options);
  FUZZ_CHECK(!ec);
  FUZZ_CHECK(parsed.is_object());
  const json::object& object = parsed.as_object();
  FUZZ_CHECK(object.size() == expected.size());
  size_t i = 0;
  for (const auto& [key, value] : object) {
    const Member& m = expected[i++];
    FUZZ_CHECK(key == m.name);
    if (m.value.is_double()) {
      // 16 significant digits: within a unit of the 16th of the value.
      double want = m.value.as_double(), got = value.to_number<double>();
      FUZZ_CHECK(std::fabs(got - want) <= std::fabs(want) * 1e-15);
    } else {
      FUZZ_CHECK(value == m.value);
    }
  }
}

void checkCsvField(const std::string& json, const std::string& field) {
  std::string quoted = "\"";
  for (char c : json) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  FUZZ_CHECK(field == quoted + "\"");
}

// Parses `payload` with `parse`: a documented failure (with a right CRC,
// only a frame too short), or a record whose JSON has `members(record)`.
template <typename Parse, typename Members>
void checkFrame(std::string_view payload, bool crcPutRight, Parse parse, Members members) {
  decltype(parse(payload)) r;
  try {
    r = parse(payload);
  } catch (const Error& e) {
    FUZZ_CHECK(fuzz::isDocumentedDecoderFailure(e));
    FUZZ_CHECK(!crcPutRight || e.kind() == ErrorKind::index);
    return;
  }
  FUZZ_CHECK(!crcPutRight || r.CRC_OK);
  FUZZ_CHECK(r.RAW_B64 == payload);
  std::string text, field;
  toJson(r, text);
  toCsvField(r, field);
  checkJson(text, members(r));
  checkCsvField(text, field);
}

void checkDq7(std::string_view payload, bool crcPutRight) {
  checkFrame(payload, crcPutRight, parse_dq7_inclino, [](const Dq7Inclino& r) {
    return std::vector<Member>{{"A_deg", r.A_deg}, {"B_deg", r.B_deg}, {"A0L", r.A0L},     {"A0H", r.A0H},
                               {"B0L", r.B0L},     {"B0H", r.B0H},     {"FL", r.FL},       {"FH", r.FH},
                               {"CAL_A", r.CAL_A}, {"CAL_B", r.CAL_B}, {"CRC_OK", r.CRC_OK},
                               {"RAW_B64", json::string(r.RAW_B64)}};
  });
}

void checkRk(std::string_view payload, bool crcPutRight) {
  checkFrame(payload, crcPutRight, parse_rk_inclino, [](const RkInclino& r) {
    return std::vector<Member>{{"ACCX", r.ACCX},
                               {"ACCY", r.ACCY},
                               {"MUR_OVERFLOWS", r.MUR_OVERFLOWS},
                               {"UART_OVERFLOWS", r.UART_OVERFLOWS},
                               {"RS_ERRORS", r.RS_ERRORS},
                               {"STATUS", r.STATUS},
                               {"CRC_OK", r.CRC_OK},
                               {"RAW_B64", json::string(r.RAW_B64)},
                               {"X_deg", r.X_deg},
                               {"Y_deg", r.Y_deg}};
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  int mode = in.ConsumeIntegralInRange(0, 2);
  std::string rest = in.ConsumeRemainingBytesAsString();
  if (mode == 0) {  // any payload text
    checkDq7(rest, false);
    checkRk(rest, false);
  } else if (rest.size() >= 4) {  // any frame body, with a right header and CRC
    std::string frame = rest;
    frame[0] = mode == 1 ? '\xFF' : '\xF0';
    frame[1] = mode == 1 ? '\xFF' : '\x01';
    std::string payload = fuzz::encodeBase64(sealed(frame));
    if (mode == 1)
      checkDq7(payload, true);
    else
      checkRk(payload, true);
  }
  return 0;
}
