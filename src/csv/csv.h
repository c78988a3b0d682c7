// CSV text with the list and decimal separators of the user's regional
// settings, as a spreadsheet on the same machine reads it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tlq {

enum class CsvFieldKind : uint8_t { fieldFloat, fieldString, fieldInt };

struct CsvField {
  CsvFieldKind kind = CsvFieldKind::fieldString;
  double number = 0;  // fieldFloat
  int64_t integer = 0;  // fieldInt
  std::string text;   // fieldString
};

CsvField makeField(std::string_view text);
CsvField makeField(double number);
CsvField makeField(int64_t integer);

struct CsvFormat {
  std::vector<std::string> header;
  char listSeparator = ',';
  char decimalSeparator = '.';
  // Every text field in double quotes and no number, so that a reader tells
  // them apart (readTypedLine): the lines a workbook is made of.
  bool typed = false;
};

// The format of lines read back by readTypedLine: comma, decimal point, typed.
CsvFormat typedCsvFormat(std::vector<std::string> header);

// The first byte of "sList" / "sDecimal" under
// "HKEY_CURRENT_USER\Control Panel\International". A missing value or one of
// a numeric kind raises the FieldError of RegData::data(); an empty one the
// IndexError "index out of bounds, the container is empty".
char getListSeparator();
char getDecimalSeparator();

// Reads the list separator, then the decimal separator.
CsvFormat newCsvFormat(std::vector<std::string> header);
CsvFormat newCsvFormat(std::vector<std::string> header, char listSeparator, char decimalSeparator);

// One line's fields, one slot per column of the format; a slot left empty is
// written as an empty field. Cleared and refilled for every line, so that its
// text buffers are reused.
class CsvRow {
 public:
  explicit CsvRow(size_t columns) : slots_(columns) {}

  void clear() {
    for (Slot& s : slots_) s.present = false;
  }
  void set(size_t column, CsvField field);
  void setNumber(size_t column, double number);
  // A text field, emptied, to be filled in place.
  std::string& text(size_t column);
  // A text field that refers to `text`, which must stay valid until the line
  // is made.
  void setText(size_t column, std::string_view text);
  // A text field already in its CSV form (quoted where it must be), emptied,
  // to be filled in place; the line takes it as it stands.
  std::string& csvText(size_t column);

  size_t size() const { return slots_.size(); }

 private:
  friend void makeLine(const CsvFormat& format, const CsvRow& row, std::string& out);
  enum class Text : uint8_t { own, borrowed, csv };
  struct Slot {
    bool present = false;
    Text text = Text::own;
    CsvField field;
    std::string_view borrowed;
  };
  std::string& textSlot(size_t column, Text form);  // marked present, emptied
  std::vector<Slot> slots_;
};

// The column names joined by the list separator, never quoted.
std::string makeHeader(const CsvFormat& format);

// Appends one line (no line ending) to `out`.
void makeLine(const CsvFormat& format, const CsvRow& row, std::string& out);

// Text as one field: in double quotes, inner quotes doubled, when it holds
// the list separator, a double quote, CR or LF; unchanged otherwise.
void quoteString(const CsvFormat& format, std::string_view text, std::string& out);

// A number as "%.16g" (with ".0" where it would read as an integer) and the
// decimal separator for ".". Not-a-number is an empty field. A number whose
// text then holds the list separator, a double quote, CR or LF (a decimal
// separator set to one of them) is put in double quotes, to stay one field.
void localizeFloat(const CsvFormat& format, double number, std::string& out);

// One field of a line made in a typed format.
struct TypedField {
  enum class Kind : uint8_t { empty, number, text };
  Kind kind = Kind::empty;
  std::string text;  // a number's text, or the text itself (its quotes undone)
};

// Splits one line (without its line ending) made in typedCsvFormat() into
// `fields`, reusing their buffers: one per field, however many.
void readTypedLine(std::string_view line, std::vector<TypedField>& fields);

}  // namespace tlq
