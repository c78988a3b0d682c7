// Wording of a JSON parse error: where the parser stopped, as line and
// column, and what the grammar expected there.
#pragma once

#include <string>
#include <string_view>

namespace tlq {

enum class JsonFault {
  syntax,         // the byte at `offset` does not fit the grammar
  incomplete,     // the text ends too early
  tooDeep,        // nesting beyond `maxDepth`
  badSurrogate,   // a \u escape that is not part of a valid surrogate pair
  trailingText,   // something follows the complete document
};

// "invalid JSON at line 3, column 14: expected ',' or '}', found 'x'".
// Lines and columns count from 1; columns count characters, not bytes.
// `offset` is the byte the parser stopped at; `text` before it is a valid
// beginning of a JSON text.
std::string describeJsonError(std::string_view text, size_t offset, JsonFault fault, size_t maxDepth);

}  // namespace tlq
