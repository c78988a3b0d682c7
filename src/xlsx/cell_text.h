// Text as a workbook's cell holds it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tlq {

// A cell holds this many characters at most, counted as a spreadsheet
// counts them: in UTF-16 units.
inline constexpr size_t kMaxCellText = 32767;

// The length of UTF-8 text in characters, as a column's width counts it.
size_t characterCount(std::string_view text);

// How long a text is: as a spreadsheet counts it (UTF-16 units), and in
// characters (what a column's width counts).
struct TextLength {
  size_t utf16 = 0;
  size_t characters = 0;
};

// The text as the library is to write it, in `out` (with a NUL after it);
// returns the length of `text` itself.
// What the workbook's XML cannot hold, or the library would cut (NUL,
// U+FFFE, U+FFFF), is written as the format's escape "_xHHHH_", which a
// reader turns back into the character; a text that holds such an escape
// literally has its '_' escaped ("_x005F_") where the next character is
// written with a '_' (itself, an escape of ours, or one of the control
// characters U+0001 to U+001F but tab and line feed, which the library
// escapes itself), so that it reads back as it is. `text` is UTF-8.
TextLength cellText(std::string_view text, std::string& out);

}  // namespace tlq
