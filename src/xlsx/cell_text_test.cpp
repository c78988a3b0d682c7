#include "xlsx/cell_text.h"

#include <gtest/gtest.h>

namespace tlq {
namespace {

std::string asWritten(std::string_view text) {
  std::string out;
  cellText(text, out);
  return out;
}

// What the XML cannot hold, and what the library would cut, is escaped; a
// literal escape keeps its meaning; everything else is as it was.
TEST(CellText, EscapesWhatTheXmlCannotHoldAndKeepsLiteralEscapes) {
  EXPECT_EQ(asWritten("+ 13.00N\xEF\xBF\xBF"), "+ 13.00N_xFFFF_");  // U+FFFF
  EXPECT_EQ(asWritten("a\xEF\xBF\xBE" "b"), "a_xFFFE_b");               // U+FFFE
  EXPECT_EQ(asWritten(std::string("nul\0here", 8)), "nul_x0000_here");
  EXPECT_EQ(asWritten("a_x0041_b"), "a_x005F_x0041_b");
  EXPECT_EQ(asWritten("_x00e4_"), "_x005F_x00e4_");
  // Escapes that the text and an escape of ours would make together (found
  // by the fuzz target).
  EXPECT_EQ(asWritten(std::string("_xffff\0", 7)), "_x005F_xffff_x0000_");
  EXPECT_EQ(asWritten("_x0041\xEF\xBF\xBF"), "_x005F_x0041_xFFFF_");
  // Not escapes: kept as they are.
  EXPECT_EQ(asWritten("_x004_ _xGGGG_ a_b _x"), "_x004_ _xGGGG_ a_b _x");
  EXPECT_EQ(asWritten("\xEF\xBF\xBD \xEF\xBC\xA1 M\xC3\xA4rz \xE6\x95\xB0"), "\xEF\xBF\xBD \xEF\xBC\xA1 M\xC3\xA4rz \xE6\x95\xB0");
  EXPECT_EQ(asWritten("\x02+ 7.56\x03"), "\x02+ 7.56\x03");  // the library's own to escape
  EXPECT_EQ(asWritten(""), "");
}

// A literal escape before a character the library escapes itself (every
// control character but tab and line feed, CR among them) would read as an
// escape with it: its '_' is escaped; before tab and line feed it is not.
TEST(CellText, ALiteralEscapeBeforeACharacterTheLibraryEscapes) {
  for (char c = '\x01'; c <= '\x1F'; ++c) {
    SCOPED_TRACE(static_cast<int>(c));
    std::string text = std::string("_x0041") + c + "z";
    if (c == '\t' || c == '\n')
      EXPECT_EQ(asWritten(text), text);
    else
      EXPECT_EQ(asWritten(text), "_x005F_x0041" + std::string(1, c) + "z");
  }
  EXPECT_EQ(asWritten("_x00AB\r\nz"), "_x005F_x00AB\r\nz");
}

TEST(CellText, LengthsAsASpreadsheetCountsThem) {
  std::string out;
  TextLength length = cellText("\xF0\x9F\x98\x80_x0041_\xEF\xBF\xBF\xEF\xBC\xA1\xC3\xA4", out);
  EXPECT_EQ(length.characters, 11u);  // the text itself, not its escapes
  EXPECT_EQ(length.utf16, 12u);
  EXPECT_EQ(cellText(std::string(3, '\0'), out).utf16, 3u);
  EXPECT_EQ(cellText("M\xC3\xA4rz \xE6\x95\xB0", out).utf16, 6u);
  EXPECT_EQ(cellText("\xF0\x9F\x98\x80", out).utf16, 2u);  // a surrogate pair
  EXPECT_EQ(characterCount("\xF0\x9F\x98\x80 M\xC3\xA4rz"), 6u);
}

}  // namespace
}  // namespace tlq
