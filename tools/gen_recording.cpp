// Writes recordings like the measuring software does: the bundled sample
// (every payload form, a few frames that fail their CRC, and the odd cases
// a field crew's files hold) or large ones for benchmarks.
//
//   gen_recording --sample OUT.tlq
//   gen_recording --entries N [--seed S] [--start I] [--all-tilts] [--fail-at K] OUT.tlq
//
// --start I: the first entry is the I-th (from 0) of the seed's endless
// recording: its stamp 0.2 s x I after 2026-11-17T09:00, and every entry
// drawn from the seed and its own place alone, so that recordings of one
// seed that overlap hold the same entries where they overlap, as the
// downloads of one logger do. (The walk of --all-tilts goes on from entry to
// entry all the same.)
// --all-tilts: the second inclinometer is an rk unit throughout, and every rk
// frame takes its accelerations from a walk through all 65,536 values, so
// that about 26,300 entries meet each of them (as X or Y) at least once.
// --fail-at K: entry K (from 0) holds an rk frame with a wrong header, on
// which the conversion fails after writing the lines before it.

#include <cstdint>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "sensors/frames.h"

namespace {

std::string base64(std::string_view bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                 static_cast<uint8_t>(bytes[i + 2]);
    for (int k = 3; k >= 0; --k) out += alphabet[v >> (6 * k) & 63];
  }
  size_t left = bytes.size() - i;
  if (left > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | (left == 2 ? static_cast<uint8_t>(bytes[i + 1]) << 8 : 0);
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    out += left == 2 ? alphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

void putShort(std::string& frame, size_t at, uint16_t v) {
  frame[at] = static_cast<char>(v & 0xFF);
  frame[at + 1] = static_cast<char>(v >> 8);
}

void putPair(std::string& frame, size_t at, uint16_t first, uint16_t second) {
  frame[at] = static_cast<char>(first & 0xFF);
  frame[at + 1] = static_cast<char>((first >> 8 & 0x0F) | (second & 0x0F) << 4);
  frame[at + 2] = static_cast<char>(second >> 4);
}

// Appends the CRC of the body; `corrupt` flips a bit of it.
std::string sealed(std::string frame, bool corrupt) {
  uint16_t crc = tlq::crc16Xmodem(std::string_view(frame).substr(2));
  if (corrupt) crc ^= 0x0100;
  frame += static_cast<char>(crc & 0xFF);
  frame += static_cast<char>(crc >> 8);
  return base64(frame);
}

class Generator {
 public:
  explicit Generator(uint32_t seed, bool allTilts = false) : rng_(seed), allTilts_(allTilts) {}

  // The draws of the entry at `place` from now on: the seed's and the
  // place's alone.
  void drawFor(uint32_t seed, int64_t place) {
    std::seed_seq seq{seed, static_cast<uint32_t>(place), static_cast<uint32_t>(place >> 32)};
    rng_.seed(seq);
  }

  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }

  std::string textInclino(bool asBase64) {
    char buf[64];
    int x = uniform(-15000, 15000), y = uniform(-15000, 15000);
    std::snprintf(buf, sizeof buf, "X=%c%02d.%03d\r\nY=%c%02d.%03d", x < 0 ? '-' : '+', std::abs(x) / 1000,
                  std::abs(x) % 1000, y < 0 ? '-' : '+', std::abs(y) / 1000, std::abs(y) % 1000);
    return asBase64 ? base64(buf) : buf;
  }

  std::string dq7(bool corrupt) {
    std::string frame(18, '\0');
    frame[0] = frame[1] = '\xFF';
    putPair(frame, 2, static_cast<uint16_t>(uniform(1800, 2300)), static_cast<uint16_t>(uniform(1800, 2300)));
    putPair(frame, 5, static_cast<uint16_t>(uniform(1800, 2300)), static_cast<uint16_t>(uniform(1800, 2300)));
    putPair(frame, 8, static_cast<uint16_t>(uniform(0, 4095)), static_cast<uint16_t>(uniform(0, 4095)));
    frame[11] = static_cast<char>(uniform(0, 255));
    putShort(frame, 12, static_cast<uint16_t>(uniform(4800, 5200)));
    putShort(frame, 14, static_cast<uint16_t>(uniform(4800, 5200)));
    frame.resize(16 + 2 * static_cast<size_t>(uniform(0, 1)));  // some units send two spare bytes
    return sealed(frame, corrupt);
  }

  std::string rk(bool corrupt) {
    std::string frame(15, '\0');
    frame[0] = '\xF0';
    frame[1] = '\x01';
    for (size_t i = 2; i < 7; ++i) frame[i] = static_cast<char>(uniform(0, 255));
    putShort(frame, 7, acceleration());
    putShort(frame, 9, acceleration());
    frame[11] = static_cast<char>(chance(0.05) ? uniform(1, 3) : 0);
    frame[12] = static_cast<char>(chance(0.05) ? 1 : 0);
    frame[13] = static_cast<char>(chance(0.05) ? uniform(1, 9) : 0);
    frame[14] = static_cast<char>(chance(0.5) ? 1 : 0);
    return sealed(frame, corrupt);
  }

  // Small tilts as in the field, or the next step of a walk through every
  // 16-bit value (an odd step meets each once in 65,536).
  uint16_t acceleration() {
    if (!allTilts_) return static_cast<uint16_t>(static_cast<int16_t>(uniform(-4000, 4000)));
    walk_ = static_cast<uint16_t>(walk_ + 40503);
    return walk_;
  }

  bool allTilts() const { return allTilts_; }

  std::string inclino(int form, bool corrupt) {
    switch (form) {
      case 0: return textInclino(false);
      case 1: return textInclino(true);
      case 2: return dq7(corrupt);
      default: return rk(corrupt);
    }
  }

  // The force meter's display line in one of its framings.
  std::string force(int form) {
    char sign = chance(0.2) ? '-' : chance(0.5) ? '+' : ' ';
    char unit = chance(0.8) ? 'N' : 'M';
    char buf[64];
    // Kilonewtons with two decimals on the framed display, kilograms as
    // whole numbers on the older one.
    int whole = form < 2 || form == 4 ? uniform(0, 24) : uniform(0, 2500), cents = uniform(0, 99);
    switch (form) {
      case 0: std::snprintf(buf, sizeof buf, "\x02%c  %d.%02d%c\x03", sign, whole, cents, unit); break;
      case 1: std::snprintf(buf, sizeof buf, "%c  %d.%02d%c\x03\x02", sign, whole, cents, unit); break;
      case 2: std::snprintf(buf, sizeof buf, "%c %d%c\x03\x02", sign, whole, unit); break;
      case 3: std::snprintf(buf, sizeof buf, "\x02%c %d%c\x03", sign, whole, unit); break;
      default: std::snprintf(buf, sizeof buf, "%c  %d.%d%c", sign, whole, cents % 10, unit); break;
    }
    return buf;
  }

  std::string elasto(double& a, double& b) {
    int ra = uniform(1000, 60000), rb = uniform(1000, 60000);
    a = ra * 0.0125;
    b = rb * 0.0125;
    return "A=" + std::to_string(ra) + " " + std::to_string(uniform(0, 99)) + " B=" + std::to_string(rb);
  }

 private:
  std::mt19937 rng_;
  bool allTilts_;
  uint16_t walk_ = 0;
};

std::string quoted(std::string_view s) {
  std::string q = "\"";
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      q += '\\';
      q += c;
    } else if (c == '\r') {
      q += "\\r";
    } else if (c == '\n') {
      q += "\\n";
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      q += buf;
    } else {
      q += c;
    }
  }
  return q + '"';
}

// The stamp `tenthsOfSecond` after 2026-11-17T09:00, on the days after it too.
std::string timestamp(long tenthsOfSecond) {
  char buf[64];
  long s = tenthsOfSecond / 10 + 9 * 3600;
  const std::chrono::year_month_day day{std::chrono::sys_days{std::chrono::year{2026} / 11 / 17} +
                                        std::chrono::days{s / 86400}};
  s %= 86400;
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%ld00", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()), s / 3600, s / 60 % 60, s % 60,
                tenthsOfSecond % 10);
  return buf;
}

// One ordinary sample: every sensor present, forms varying.
std::string sample(Generator& g, long i, bool sampleFile) {
  bool corrupt1 = g.chance(sampleFile ? 0.08 : 0.01);
  bool corrupt2 = g.chance(sampleFile ? 0.08 : 0.01);
  if (sampleFile && i == 2) {
    corrupt1 = false;  // a dq7 frame on both, the second one failing its
    corrupt2 = true;   // CRC: kept, with CRC_OK false in its raw column
  }
  std::string e = "{\"inclino\":{\"raw\":" + quoted(g.inclino(static_cast<int>(i % 4), corrupt1)) +
                  ",\"timestamp\":" + quoted(timestamp(i * 2)) + "}";
  int form2 = g.allTilts() ? 3 : static_cast<int>((i / 4 + i) % 4);
  e += ",\"inclino2\":{\"raw\":" + quoted(g.inclino(form2, corrupt2)) + "}";
  e += ",\"force\":{\"raw\":" + quoted(g.force(static_cast<int>(i % (sampleFile ? 5 : 4)))) + "}";
  double a = 0, b = 0;
  std::string line = g.elasto(a, b);
  char vals[80];
  std::snprintf(vals, sizeof vals, ",\"val1\":%.4f,\"val2\":%.4f", a, b);
  e += ",\"dlen\":{\"raw\":" + quoted(line) + vals + "}}";
  return e;
}

// The odd cases of real files, one each, placed among the samples.
const char* const kSpecials[] = {
    R"({})",
    R"({"inclino":{"timestamp":"2026-11-17T09:00:00.500"},"force":{"raw":" 12N\u0003\u0002"}})",
    R"({"inclino":{"raw":"X=+01.234\r\nY=-00.567\r\n","timestamp":"2026-11-17T09:00:01.000"}})",
    R"({"inclino":{"raw":"X=1.234\r\nY=-00.567","timestamp":12345}})",
    R"({"inclino":{"raw":"X=+01.234\r\nY=-00.567\n","timestamp":"2026-11-17T09:00:01.500"},"inclino2":{}})",
    R"({"force":{"raw":"\u0002- 150N\u0003"},"dlen":{"raw":"A=123 x B=456","val1":12,"val2":12.0}})",
    R"({"inclino":{"raw":"","timestamp":"Nord; \"Pfeiler 3\""},"dlen":{"raw":"A=77 only","val1":1e-05,"val2":-3}})",
    R"({"inclino":{"raw":"WD0=","timestamp":"2026-11-17T09:00:02.000"},"force":{"raw":"ERR"}})",
};

}  // namespace

int main(int argc, char** argv) {
  long entries = 0, failAt = -1, start = -1;
  uint32_t seed = 20261117;
  bool sampleFile = false, allTilts = false;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--sample")) sampleFile = true;
    else if (!std::strcmp(argv[i], "--entries") && i + 1 < argc) entries = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = static_cast<uint32_t>(std::atol(argv[++i]));
    else if (!std::strcmp(argv[i], "--start") && i + 1 < argc) start = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--all-tilts")) allTilts = true;
    else if (!std::strcmp(argv[i], "--fail-at") && i + 1 < argc) failAt = std::atol(argv[++i]);
    else out = argv[i];
  }
  if (!out || (!sampleFile && entries <= 0) || (start >= 0 && sampleFile)) {
    std::fputs("usage: gen_recording --sample OUT.tlq | --entries N [--seed S] [--start I] [--all-tilts] [--fail-at K] "
               "OUT.tlq\n",
               stderr);
    return 2;
  }
  if (sampleFile) entries = 40;

  FILE* f = std::fopen(out, "wb");
  if (!f) {
    std::perror(out);
    return 1;
  }
  Generator g(seed, allTilts);
  std::fputs("{\"format\":3,\"device\":{\"serial\":\"TQ-0412\",\"firmware\":\"2.7.1\"},"
              "\"site\":\"Messfeld S\\u00fcd\",\"data\":[\n",
              f);
  size_t special = 0, specialCount = sampleFile ? sizeof kSpecials / sizeof *kSpecials : 0;
  for (long i = 0; i < entries; ++i) {
    if (i > 0) std::fputs(",\n", f);
    bool placeSpecial = special < specialCount && i % 5 == 3;
    if (start >= 0) g.drawFor(seed, start + i);
    std::string e = placeSpecial ? kSpecials[special++] : sample(g, start >= 0 ? start + i : i, sampleFile);
    if (i == failAt) e = R"({"inclino":{"raw":"8AIAAAAAAAAAAAAAAAAAAA==","timestamp":"2026-11-17T23:59:59.900"}})";
    std::fwrite(e.data(), 1, e.size(), f);
  }
  std::fputs("\n]}\n", f);
  return std::fclose(f) == 0 ? 0 : 1;
}
