#include "reader/entry_check.h"

#include <bit>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "reader/json_text.h"
#include "reader/recording.h"
#include "text.h"

namespace tlq {
namespace {

// Containers nested deeper than this inside an entry go to the full parser.
constexpr int kMaxNesting = 16;

// Numbers longer than this go to the full parser: shorter ones are plainly
// within a double's range.
constexpr ptrdiff_t kMaxNumberLength = 20;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The first byte from `p` on that ends a run of plain string text: a quote,
// a backslash, a control character, or a byte of a multibyte character.
const char* findStringStop(const char* p, const char* end) {
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\'), space = _mm_set1_epi8(' ');
  for (; end - p >= 16; p += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed bytes: those of 0x80 and above are negative, so below a space.
    __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                _mm_cmplt_epi8(v, space));
    if (int mask = _mm_movemask_epi8(stop)) return p + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  for (; p != end; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
  }
  return p;
}

class Checker {
 public:
  Checker(std::string_view text, size_t at)
      : begin_(text.data()), p_(text.data() + at), end_(text.data() + text.size()) {}

  size_t offset() const { return static_cast<size_t>(p_ - begin_); }

  bool entry(EntryFacts& facts) { return take('{') && object(1, &facts); }

 private:
  // The members of an object whose "{" is read, up to its "}"; with `facts`,
  // those of an entry.
  bool object(int depth, EntryFacts* facts) {
    skipSpace();
    if (take('}')) return true;
    do {
      skipSpace();
      if (!key(facts) || !value(depth)) return false;
      skipSpace();
    } while (take(','));
    return take('}');
  }

  // A member's key and its colon; in an entry, its facts noted. An entry's
  // keys are most often those of its sensors, deeper ones those of fields.
  bool key(EntryFacts* facts) {
    const auto& keys = facts ? kSensorKeys : kFieldKeys;
    std::string_view name;
    if (int known = matchPlainKey(p_, end_, keys); known >= 0) {
      name = keys[known];
      p_ += name.size() + 3;
    } else {
      const char* start = p_ + 1;
      bool escaped = false;
      if (!take('"') || !string(escaped)) return false;
      if (facts && escaped) return false;  // an entry's keys are compared as written
      name = {start, static_cast<size_t>(p_ - 1 - start)};
      skipSpace();
      if (!take(':')) return false;
    }
    if (facts) {
      facts->anyMember = true;
      facts->inclino2 = facts->inclino2 || name == "inclino2";
      facts->dlen = facts->dlen || name == "dlen";
    }
    return true;
  }

  bool array(int depth) {
    skipSpace();
    if (take(']')) return true;
    do {
      if (!value(depth)) return false;
      skipSpace();
    } while (take(','));
    return take(']');
  }

  // Any value, after the space before it.
  bool value(int depth) {
    skipSpace();
    if (p_ == end_) return false;
    bool escaped = false;
    switch (*p_++) {
      case '"': return string(escaped);
      case '{': return depth < kMaxNesting && object(depth + 1, nullptr);
      case '[': return depth < kMaxNesting && array(depth + 1);
      case 't': return word("rue");
      case 'f': return word("alse");
      case 'n': return word("ull");
      default: --p_; return number();
    }
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)? and what may follow it; an exponent is left
  // to the parser.
  bool number() {
    const char* start = p_;
    if (p_ != end_ && *p_ == '-') ++p_;
    if (p_ == end_ || !isDigit(*p_)) return false;
    if (*p_++ != '0')
      while (p_ != end_ && isDigit(*p_)) ++p_;
    if (p_ != end_ && *p_ == '.') {
      const char* fraction = ++p_;
      while (p_ != end_ && isDigit(*p_)) ++p_;
      if (p_ == fraction) return false;
    }
    // A digit here follows a leading zero.
    if (p_ != end_ && (isDigit(*p_) || *p_ == 'e' || *p_ == 'E')) return false;
    return p_ - start <= kMaxNumberLength;
  }

  // Past the closing quote of a string whose opening quote is read.
  bool string(bool& escaped) {
    for (;;) {
      p_ = findStringStop(p_, end_);
      if (p_ == end_) return false;
      auto c = static_cast<unsigned char>(*p_++);
      if (c == '"') return true;
      if (c == '\\') {
        escaped = true;
        if (!escape()) return false;
      } else if (c < 0x20) {
        return false;
      } else if (c >= 0x80) {  // the rest of a character beyond ASCII
        size_t n = utf8Length(p_ - 1, end_);
        if (n == 0) return false;
        p_ += n - 1;
      }
    }
  }

  // An escape whose backslash is read; a surrogate is left to the parser.
  bool escape() {
    if (p_ == end_) return false;
    switch (*p_++) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't': return true;
      case 'u': {
        if (end_ - p_ < 4) return false;
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) code = code << 4 | hexDigitValue(*p_++);
        return code <= 0xFFFF && (code < 0xD800 || code >= 0xE000);
      }
      default: return false;
    }
  }

  // The rest of "true", "false" or "null", its first letter read.
  bool word(std::string_view rest) {
    if (static_cast<size_t>(end_ - p_) < rest.size() || std::string_view(p_, rest.size()) != rest) return false;
    p_ += rest.size();
    return true;
  }

  void skipSpace() {
    while (p_ != end_ && isJsonSpace(*p_)) ++p_;
  }

  bool take(char c) {
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
};

}  // namespace

size_t checkEntry(std::string_view text, size_t at, EntryFacts& facts) {
  if (at >= text.size()) return kEntryNotChecked;
  facts = EntryFacts();
  Checker checker(text, at);
  return checker.entry(facts) ? checker.offset() : kEntryNotChecked;
}

}  // namespace tlq
