// CSV text with the list and decimal separators of the user's regional
// settings, as a spreadsheet on the same machine reads it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "table/rows.h"

namespace tlq {

struct CsvFormat {
  std::vector<std::string> header;
  char listSeparator = ',';
  char decimalSeparator = '.';
};

// The first byte of "sList" / "sDecimal" under
// "HKEY_CURRENT_USER\Control Panel\International". A missing value or one of
// a numeric kind raises the FieldError of RegData::data(); an empty one the
// IndexError "index out of bounds, the container is empty".
char getListSeparator();
char getDecimalSeparator();

// Reads the list separator, then the decimal separator.
CsvFormat newCsvFormat(std::vector<std::string> header);
CsvFormat newCsvFormat(std::vector<std::string> header, char listSeparator, char decimalSeparator);

// The column names joined by the list separator, never quoted.
std::string makeHeader(const CsvFormat& format);

// Appends row `row` of `rows` as one line (no line ending) to `out`: a
// field per column of the format, in its order; an empty cell is an empty
// field, a date-time the text it was made of.
void makeLine(const CsvFormat& format, const RowBlock& rows, size_t row, std::string& out);
// The same with field i made of the block's column `from[i]`: an empty
// field where that is no column of the block (TableColumns::kAbsent).
void makeLine(const CsvFormat& format, const RowBlock& rows, size_t row, const std::vector<size_t>& from,
              std::string& out);

// Text as one field: in double quotes, inner quotes doubled, when it holds
// the list separator, a double quote, CR or LF; unchanged otherwise.
void quoteString(const CsvFormat& format, std::string_view text, std::string& out);

// A number as "%.16g" (with ".0" where it would read as an integer) and the
// decimal separator for ".". Not-a-number is an empty field. A number whose
// text then holds the list separator, a double quote, CR or LF (a decimal
// separator set to one of them) is put in double quotes, to stay one field.
void localizeFloat(const CsvFormat& format, double number, std::string& out);

}  // namespace tlq
