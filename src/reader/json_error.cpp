#include "reader/json_error.h"

#include <cstdio>
#include <vector>

#include "reader/json_text.h"

namespace tlq {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// What the grammar allows next, found by walking the valid beginning of the
// text. Only the failure path runs this.
class GrammarState {
 public:
  // What was expected where the text goes wrong: at `offset`, where the
  // parser stopped, or inside a string at the first character that cannot
  // stand there (the parser stops near such a character, but not always on
  // it), which then moves `offset`.
  std::string expectedAt(std::string_view text, size_t& offset) {
    size_t i = 0;
    while (i < offset) {
      char c = text[i];
      if (isJsonSpace(c)) {
        ++i;
      } else if (c == '{' || c == '[') {
        stack_.push_back(c);
        state_ = c == '{' ? State::keyOrClose : State::valueOrClose;
        ++i;
      } else if (c == '}' || c == ']') {
        stack_.pop_back();
        state_ = State::afterValue;
        ++i;
      } else if (c == ',') {
        state_ = stack_.back() == '{' ? State::key : State::value;
        ++i;
      } else if (c == ':') {
        state_ = State::value;
        ++i;
      } else if (c == '"') {
        bool isKey = state_ == State::key || state_ == State::keyOrClose;
        if (!skipString(text, i, offset)) {
          offset = i;
          return stringExpectation(text, offset);
        }
        state_ = isKey ? State::colon : State::afterValue;
      } else if (c == '-' || isDigit(c)) {
        if (!skipNumber(text, i, offset)) return "a digit";
        state_ = State::afterValue;
      } else {  // true, false, null
        size_t len = c == 'f' ? 5 : 4;
        if (i + len > offset) return literalOf(c);
        i += len;
        state_ = State::afterValue;
      }
    }
    if (state_ == State::value || state_ == State::valueOrClose) {
      char c = offset < text.size() ? text[offset] : '\0';
      if (c == 't' || c == 'f' || c == 'n') return literalOf(c);
      if (c == '-' || isDigit(c)) return "a digit";
    }
    return stateExpectation();
  }

 private:
  enum class State { value, valueOrClose, key, keyOrClose, colon, afterValue };

  static std::string literalOf(char c) {
    return c == 't' ? "'true'" : c == 'f' ? "'false'" : "'null'";
  }

  std::string stateExpectation() const {
    switch (state_) {
      case State::value: return "a JSON value";
      case State::valueOrClose: return "a JSON value or ']'";
      case State::key: return "a member name in double quotes";
      case State::keyOrClose: return "a member name in double quotes or '}'";
      case State::colon: return "':'";
      case State::afterValue:
        if (stack_.empty()) return "end of input";
        return stack_.back() == '{' ? "',' or '}'" : "',' or ']'";
    }
    return "a JSON value";
  }

  // Skips a string that closes before `offset`: true, with `i` past it.
  // Else false, with `i` at `offset` or, when the string goes wrong before
  // or just after it, at the first character that cannot stand there: a
  // digit of a "\u" escape that is none, or what follows the escape of a
  // high surrogate where the escape of a low one must. escape_, hexLeft_ and
  // afterHighSurrogate_ say what was expected there.
  bool skipString(std::string_view text, size_t& i, size_t offset) {
    escape_ = false;
    hexLeft_ = 0;
    afterHighSurrogate_ = false;
    for (++i; i < text.size(); ++i) {
      char c = text[i];
      if (hexLeft_ > 0) {  // checked past `offset` too: the parser may stop before the digit it refuses
        if (hexDigitValue(c) > 15) return false;
        --hexLeft_;
        afterHighSurrogate_ = hexLeft_ == 0 && isHighSurrogate(text.substr(i - 3, 4));
        continue;
      }
      if (i >= offset) return false;
      if (escape_) {
        escape_ = false;
        if (c == 'u') {
          hexLeft_ = 4;
          afterHighSurrogate_ = false;
        } else if (afterHighSurrogate_) {
          escape_ = true;  // still in the escape that must complete the pair
          return false;
        }
      } else if (afterHighSurrogate_ && c != '\\') {
        return false;
      } else if (c == '\\') {
        escape_ = true;
      } else if (c == '"') {
        ++i;
        return true;
      }
    }
    return false;
  }

  std::string stringExpectation(std::string_view text, size_t offset) const {
    if (hexLeft_ > 0) return "a hexadecimal digit";
    if (afterHighSurrogate_) return "a \\u escape that completes a UTF-16 surrogate pair";
    if (escape_) return "an escape character (one of \" \\ / b f n r t u)";
    if (offset >= text.size()) return "'\"'";
    auto c = static_cast<unsigned char>(text[offset]);
    if (c < 0x20) return "a character of a string (control characters are written as escapes)";
    if (c >= 0x80) return "valid UTF-8";
    return "a character of a string";
  }

  // Skips a number that is complete before `offset`; false when it stops
  // where a digit is required.
  static bool skipNumber(std::string_view text, size_t& i, size_t offset) {
    auto digits = [&] {
      size_t start = i;
      while (i < offset && isDigit(text[i])) ++i;
      return i > start;
    };
    if (text[i] == '-') ++i;
    if (i >= offset) return false;
    if (text[i] == '0') ++i;
    else if (!digits()) return false;
    if (i < offset && text[i] == '.') {
      ++i;
      if (!digits()) return false;
    }
    if (i < offset && (text[i] == 'e' || text[i] == 'E')) {
      ++i;
      if (i < offset && (text[i] == '+' || text[i] == '-')) ++i;
      if (!digits()) return false;
    }
    return true;
  }

  static bool isHighSurrogate(std::string_view hex) {
    return (hex[0] == 'd' || hex[0] == 'D') && std::string_view("89abAB").find(hex[1]) != std::string_view::npos;
  }

  std::vector<char> stack_;
  State state_ = State::value;
  bool escape_ = false;
  int hexLeft_ = 0;
  bool afterHighSurrogate_ = false;
};

std::string found(std::string_view text, size_t offset) {
  if (offset >= text.size()) return "end of input";
  auto c = static_cast<unsigned char>(text[offset]);
  char buf[16];
  if (c >= 0x20 && c < 0x7F)
    std::snprintf(buf, sizeof buf, "'%c'", c);
  else
    std::snprintf(buf, sizeof buf, "byte 0x%02X", c);
  return buf;
}

}  // namespace

std::string describeJsonError(std::string_view text, size_t offset, JsonFault fault, size_t maxDepth) {
  if (offset > text.size()) offset = text.size();
  std::string expected;
  if (fault == JsonFault::syntax || fault == JsonFault::incomplete)
    expected = GrammarState().expectedAt(text, offset);  // which may move `offset` to the fault
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  std::string where = "invalid JSON at line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
  switch (fault) {
    case JsonFault::tooDeep:
      return where + "arrays and objects nested deeper than " + std::to_string(maxDepth) + " levels";
    case JsonFault::badSurrogate:
      return where + "expected a \\u escape that completes a UTF-16 surrogate pair";
    case JsonFault::trailingText:
      return where + "expected end of input, found " + found(text, offset);
    case JsonFault::syntax:
    case JsonFault::incomplete:
      break;
  }
  return where + "expected " + expected + ", found " + found(text, offset);
}

}  // namespace tlq
