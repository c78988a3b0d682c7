#include "reader/entry_scan.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "reader/json_text.h"
#include "text.h"

namespace tlq {
namespace {

class Scanner {
 public:
  Scanner(std::string_view text, size_t at)
      : begin_(text.data()), p_(text.data() + at), end_(text.data() + text.size()) {}

  size_t offset() const { return static_cast<size_t>(p_ - begin_); }

  // The entry's members; false for a shape left to the full parser.
  bool entry(RecordingEntry& entry) {
    if (!take('{')) return false;
    SensorObject* const sensors[] = {&entry.inclino, &entry.inclino2, &entry.force, &entry.dlen};
    for (SensorObject* s : sensors) s->reset();
    return members(kSensorKeys, [&](int known) {
      if (known < 0) return skipValue();
      SensorObject& sensor = *sensors[known];
      sensor.reset();  // of members with equal names the last counts
      skipSpace();
      if (p_ == end_ || *p_ != '{') {
        sensor.shape = SensorObject::Shape::notObject;
        return skipValue();
      }
      sensor.shape = SensorObject::Shape::object;
      ++p_;
      return sensorMembers(sensor);
    });
  }

 private:
  bool sensorMembers(SensorObject& sensor) {
    JsonField* const fields[] = {&sensor.raw, &sensor.timestamp, &sensor.val1, &sensor.val2};
    return members(kFieldKeys, [&](int known) {
      if (known < 0) return skipValue();
      fields[known]->reset();
      return value(*fields[known]);
    });
  }

  // The members of an object whose "{" is read, up to and including its
  // "}"; `member` reads the value of each, given the index of its key among
  // `keys`, or -1 for another key.
  template <size_t N, class Member>
  bool members(const std::string_view (&keys)[N], Member&& member) {
    if (take('}')) return true;
    do {
      skipSpace();
      int known = matchPlainKey(p_, end_, keys);
      if (known >= 0) {
        p_ += keys[known].size() + 3;
      } else {
        std::string_view key;
        if (!take('"') || !plainString(key) || !take(':')) return false;
        known = static_cast<int>(std::find(keys, keys + N, key) - keys);
        if (known == static_cast<int>(N)) known = -1;
      }
      if (!member(known)) return false;
    } while (take(','));
    return take('}');
  }

  bool value(JsonField& field) {
    skipSpace();
    if (p_ == end_) return false;
    switch (*p_) {
      case '"': {
        ++p_;
        const char* body = p_;
        bool escaped = false;
        if (!skipString(escaped)) return false;
        std::string_view text(body, static_cast<size_t>(p_ - 1 - body));
        if (escaped) {
          if (!unescape(text, field.copy)) return false;
          text = field.copy;
        }
        field.type = JsonField::Type::string;
        field.text = text;
        return true;
      }
      case '{':
      case '[':
      case 't':
      case 'f':
      case 'n':
        field.type = JsonField::Type::other;
        return skipValue();
      default:
        field.type = JsonField::Type::number;
        return number(field.number);
    }
  }

  // A number as the full parser hands it over: an integer of up to 18
  // digits as its 64-bit value (so "-0" is +0), anything with a fraction or
  // an exponent correctly rounded. Longer integers and numbers beyond a
  // double's range are left to the full parser.
  bool number(double& out) {
    const char* start = p_;
    bool integer = true;
    while (p_ != end_ && ((*p_ >= '0' && *p_ <= '9') || *p_ == '-' || *p_ == '+' || *p_ == '.' ||
                          *p_ == 'e' || *p_ == 'E')) {
      integer = integer && *p_ != '.' && *p_ != 'e' && *p_ != 'E';
      ++p_;
    }
    if (integer) {
      bool negative = start != p_ && *start == '-';
      const char* digits = start + negative;
      if (p_ == digits || p_ - digits > 18) return false;
      int64_t n = 0;
      for (const char* d = digits; d != p_; ++d) {
        if (*d < '0' || *d > '9') return false;
        n = n * 10 + (*d - '0');
      }
      out = static_cast<double>(negative ? -n : n);
      return true;
    }
    bool negative = *start == '-';
    if (parseShortDecimal({start + negative, static_cast<size_t>(p_ - start - negative)}, out)) {
      if (negative) out = -out;
      return true;
    }
    auto [end, ec] = std::from_chars(start, p_, out);
    return ec == std::errc() && end == p_;
  }

  // A key or string without escapes, its opening quote read.
  bool plainString(std::string_view& text) {
    const char* body = p_;
    bool escaped = false;
    if (!skipString(escaped) || escaped) return false;
    text = {body, static_cast<size_t>(p_ - 1 - body)};
    return true;
  }

  // Past the closing quote of a string whose opening quote is read.
  bool skipString(bool& escaped) {
    escaped = false;
    for (;;) {
      p_ = findAnyOf(p_, end_, '"', '\\');
      if (p_ == end_) return false;
      if (*p_++ == '"') return true;
      escaped = true;
      if (p_++ == end_) return false;  // the escaped character
    }
  }

  // The escapes; a surrogate pair is left to the full parser. The text
  // only shrinks: an escape of two bytes gives one, one of six at most three.
  static bool unescape(std::string_view text, std::string& out) {
    out.resize(text.size());
    char* to = out.data();
    for (const char *p = text.data(), *end = p + text.size(); p != end;) {
      if (*p != '\\') {
        *to++ = *p++;
        continue;
      }
      if (end - p < 2) return false;
      char c = p[1];
      p += 2;
      switch (c) {
        case '"': *to++ = '"'; break;
        case '\\': *to++ = '\\'; break;
        case '/': *to++ = '/'; break;
        case 'b': *to++ = '\b'; break;
        case 'f': *to++ = '\f'; break;
        case 'n': *to++ = '\n'; break;
        case 'r': *to++ = '\r'; break;
        case 't': *to++ = '\t'; break;
        case 'u': {
          if (end - p < 4) return false;
          unsigned code = 0;
          for (int i = 0; i < 4; ++i) code = code << 4 | hexDigitValue(*p++);
          if (code > 0xFFFF || (code >= 0xD800 && code < 0xE000)) return false;  // a surrogate pair, or no hex
          to = putUtf8(code, to);
          break;
        }
        default: return false;
      }
    }
    out.resize(static_cast<size_t>(to - out.data()));
    return true;
  }

  static char* putUtf8(unsigned code, char* to) {
    if (code < 0x80) {
      *to++ = static_cast<char>(code);
    } else if (code < 0x800) {
      *to++ = static_cast<char>(0xC0 | code >> 6);
      *to++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *to++ = static_cast<char>(0xE0 | code >> 12);
      *to++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
      *to++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return to;
  }

  // Any value, nested ones included.
  bool skipValue() {
    skipSpace();
    size_t depth = 0;
    while (p_ != end_) {
      char c = *p_++;
      switch (c) {
        case '"': {
          bool escaped = false;
          if (!skipString(escaped)) return false;
          break;
        }
        case '{':
        case '[': ++depth; break;
        case '}':
        case ']':
          if (depth == 0) return false;
          --depth;
          break;
        default:
          if (depth > 0) break;
          // A number or a literal runs up to what follows it.
          while (p_ != end_ && !isJsonSpace(*p_) && *p_ != ',' && *p_ != '}' && *p_ != ']') ++p_;
          return true;
      }
      if (depth == 0) return true;
    }
    return false;
  }

  void skipSpace() {
    while (p_ != end_ && isJsonSpace(*p_)) ++p_;
  }

  bool take(char c) {
    skipSpace();
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
};

}  // namespace

size_t scanEntry(std::string_view text, size_t at, RecordingEntry& entry) {
  if (at >= text.size()) return kEntryNotScanned;
  Scanner scanner(text, at);
  return scanner.entry(entry) ? scanner.offset() : kEntryNotScanned;
}

}  // namespace tlq
