#include "frames.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <tuple>

#include "error.h"
#include "sensors/base64.h"
#include "sensors/tilt.h"
#include "text.h"

namespace tlq {

namespace {

// Out of line, so that the reads that do not fail stay short.
[[noreturn, gnu::cold, gnu::noinline]] void outOfBounds(std::string_view frame, size_t p) {
  TLQ_OP("byteAt");
  if (frame.empty()) throw IndexError("index out of bounds, the container is empty");
  throw IndexError("index " + std::to_string(p) + " not in 0 .. " + std::to_string(frame.size() - 1));
}

}  // namespace

uint8_t byteAt(std::string_view frame, size_t p) {
  if (p >= frame.size()) outOfBounds(frame, p);
  return static_cast<uint8_t>(frame[p]);
}

std::pair<int64_t, int64_t> unpack24BitsFrom3Bytes(std::string_view frame, size_t p) {
  int64_t b0 = byteAt(frame, p);
  int64_t b1 = byteAt(frame, p + 1);
  int64_t b2 = byteAt(frame, p + 2);
  return {b0 | (b1 & 0x0F) << 8, b2 << 4 | b1 >> 4};
}

int64_t unpackShort(std::string_view frame, size_t p) {
  int64_t low = byteAt(frame, p);
  int64_t high = byteAt(frame, p + 1);
  return low | high << 8;
}

int64_t unpackUnsignedShort(std::string_view frame, size_t p) { return unpackShort(frame, p); }

int64_t unpackSignedShort(std::string_view frame, size_t p) {
  int64_t v = unpackUnsignedShort(frame, p);
  return v > 32767 ? v - 65536 : v;
}

namespace {

// The CRC of every byte value, for a byte at a time instead of a bit.
constexpr std::array<uint16_t, 256> kCrcTable = [] {
  std::array<uint16_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    uint16_t crc = static_cast<uint16_t>(b << 8);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    table[b] = crc;
  }
  return table;
}();

}  // namespace

uint16_t crc16Xmodem(std::string_view bytes) {
  uint16_t crc = 0;
  for (char c : bytes) crc = static_cast<uint16_t>(crc << 8 ^ kCrcTable[(crc >> 8 ^ static_cast<uint8_t>(c)) & 0xFF]);
  return crc;
}

// Callers have read the fields first, so the frame holds at least 15 bytes.
bool dq7_check_crc(std::string_view frame) {
  size_t n = frame.size();
  int64_t low = byteAt(frame, n - 2);
  int64_t high = byteAt(frame, n - 1);
  return crc16Xmodem(frame.substr(2, n - 4)) == (high << 8 | low);
}

bool rk_check_crc(std::string_view frame) { return dq7_check_crc(frame); }

namespace {

// The header is big-endian, unlike the body.
int64_t header(std::string_view frame) {
  int64_t first = byteAt(frame, 0);
  int64_t second = byteAt(frame, 1);
  return first << 8 | second;
}

// Two successive divisions, as the instruments' software does them; a single
// division by 1e7 differs in the last bit for some values.
double dq7Angle(int64_t low, int64_t high, int64_t cal) {
  return static_cast<double>((low - high) * cal) / 10000.0 / 1000.0;
}

}  // namespace

Dq7Inclino parse_dq7_inclino(std::string_view payload) {
  TLQ_OP("parse_dq7_inclino");
  base64::Decoded decoded = TLQ_AT(base64::Decoded(payload));
  std::string_view frame = decoded.bytes();
  if (TLQ_AT(header(frame)) != 65535) throw AssertionError("tlqconverter(135, 5) `header == 65535` ");
  Dq7Inclino r;
  std::tie(r.A0L, r.A0H) = TLQ_AT(unpack24BitsFrom3Bytes(frame, 2));
  std::tie(r.B0L, r.B0H) = TLQ_AT(unpack24BitsFrom3Bytes(frame, 5));
  std::tie(r.FL, r.FH) = TLQ_AT(unpack24BitsFrom3Bytes(frame, 8));
  r.CAL_A = TLQ_AT(unpackShort(frame, 12));
  r.CAL_B = TLQ_AT(unpackShort(frame, 14));
  r.A_deg = dq7Angle(r.A0L, r.A0H, r.CAL_A);
  r.B_deg = dq7Angle(r.B0L, r.B0H, r.CAL_B);
  r.CRC_OK = TLQ_AT(dq7_check_crc(frame));
  r.RAW_B64 = payload;
  return r;
}

RkInclino parse_rk_inclino(std::string_view payload) {
  TLQ_OP("parse_rk_inclino");
  base64::Decoded decoded = TLQ_AT(base64::Decoded(payload));
  std::string_view frame = decoded.bytes();
  if (TLQ_AT(header(frame)) != 61441) throw AssertionError("tlqconverter(190, 5) `header == 61441` ");
  RkInclino r;
  r.ACCX = TLQ_AT(unpackSignedShort(frame, 7));
  r.ACCY = TLQ_AT(unpackSignedShort(frame, 9));
  r.MUR_OVERFLOWS = TLQ_AT(byteAt(frame, 11));
  r.UART_OVERFLOWS = TLQ_AT(byteAt(frame, 12));
  r.RS_ERRORS = TLQ_AT(byteAt(frame, 13));
  r.STATUS = TLQ_AT(unpackUnsignedShort(frame, 13));
  r.CRC_OK = TLQ_AT(rk_check_crc(frame));
  r.RAW_B64 = payload;
  r.X_deg = tiltDegrees(static_cast<int16_t>(r.ACCX));
  r.Y_deg = tiltDegrees(static_cast<int16_t>(r.ACCY));
  return r;
}

namespace {

// Writes compact JSON members, one call per member, in order. Inside a
// quoted CSV field (`kInCsv`) every double quote it writes is doubled.
template <bool kInCsv>
class JsonObjectWriter {
 public:
  explicit JsonObjectWriter(Appender& out) : out_(out) { out_.put('{'); }
  void close() { out_.put('}'); }

  template <size_t N>
  void member(const char (&key)[N], int64_t v) {
    name(key);
    char* room = out_.room(24);
    out_.commit(static_cast<size_t>(std::to_chars(room, room + 24, v).ptr - room));
  }
  template <size_t N>
  void member(const char (&key)[N], double v) {
    name(key);
    appendFloat(out_, v);
  }
  template <size_t N>
  void member(const char (&key)[N], bool v) {
    name(key);
    out_.put(v ? std::string_view("true") : std::string_view("false"));
  }
  template <size_t N>
  void member(const char (&key)[N], std::string_view v) {
    name(key);
    out_.put(kQuote);
    const char* run = v.data();  // characters not yet copied
    const char* end = v.data() + v.size();
    for (const char* p = run; p != end; ++p) {
      auto c = static_cast<unsigned char>(*p);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.put(std::string_view(run, static_cast<size_t>(p - run)));
      run = p + 1;
      switch (c) {
        case '"':
          out_.put('\\');
          out_.put(kQuote);
          break;
        case '\\': out_.put("\\\\"); break;
        case '\b': out_.put("\\b"); break;
        case '\f': out_.put("\\f"); break;
        case '\n': out_.put("\\n"); break;
        case '\r': out_.put("\\r"); break;
        case '\t': out_.put("\\t"); break;
        default: {
          static constexpr char hex[] = "0123456789ABCDEF";
          out_.put("\\u00");
          out_.put(hex[c >> 4]);
          out_.put(hex[c & 0x0F]);
        }
      }
    }
    out_.put(std::string_view(run, static_cast<size_t>(end - run)));
    out_.put(kQuote);
  }

 private:
  static constexpr std::string_view kQuote = kInCsv ? "\"\"" : "\"";

  // The separator, the quoted key and the colon.
  template <size_t N>
  void name(const char (&key)[N]) {
    char* p = out_.room(2 * kQuote.size() + N + 1);
    char* start = p;
    if (!first_) *p++ = ',';
    first_ = false;
    p = std::copy(kQuote.begin(), kQuote.end(), p);
    p = std::copy_n(key, N - 1, p);
    p = std::copy(kQuote.begin(), kQuote.end(), p);
    *p++ = ':';
    out_.commit(static_cast<size_t>(p - start));
  }

  Appender& out_;
  bool first_ = true;
};

template <bool kInCsv>
void write(const Dq7Inclino& r, Appender& out) {
  JsonObjectWriter<kInCsv> o(out);
  o.member("A_deg", r.A_deg);
  o.member("B_deg", r.B_deg);
  o.member("A0L", r.A0L);
  o.member("A0H", r.A0H);
  o.member("B0L", r.B0L);
  o.member("B0H", r.B0H);
  o.member("FL", r.FL);
  o.member("FH", r.FH);
  o.member("CAL_A", r.CAL_A);
  o.member("CAL_B", r.CAL_B);
  o.member("CRC_OK", r.CRC_OK);
  o.member("RAW_B64", r.RAW_B64);
  o.close();
}

template <bool kInCsv>
void write(const RkInclino& r, Appender& out) {
  JsonObjectWriter<kInCsv> o(out);
  o.member("ACCX", r.ACCX);
  o.member("ACCY", r.ACCY);
  o.member("MUR_OVERFLOWS", r.MUR_OVERFLOWS);
  o.member("UART_OVERFLOWS", r.UART_OVERFLOWS);
  o.member("RS_ERRORS", r.RS_ERRORS);
  o.member("STATUS", r.STATUS);
  o.member("CRC_OK", r.CRC_OK);
  o.member("RAW_B64", r.RAW_B64);
  o.member("X_deg", r.X_deg);
  o.member("Y_deg", r.Y_deg);
  o.close();
}

template <typename Record>
void writeJson(const Record& r, std::string& out) {
  Appender a(out);
  write<false>(r, a);
  a.flush();
}

template <typename Record>
void writeCsvField(const Record& r, std::string& out) {
  Appender a(out);
  a.put('"');
  write<true>(r, a);
  a.put('"');
  a.flush();
}

}  // namespace

void toJson(const Dq7Inclino& r, std::string& out) { writeJson(r, out); }
void toJson(const RkInclino& r, std::string& out) { writeJson(r, out); }
void toCsvField(const Dq7Inclino& r, std::string& out) { writeCsvField(r, out); }
void toCsvField(const RkInclino& r, std::string& out) { writeCsvField(r, out); }

}  // namespace tlq
