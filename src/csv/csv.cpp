#include "csv.h"

#include <algorithm>
#include <cstring>

#include "error.h"
#include "platform/registry.h"
#include "text.h"

namespace tlq {

namespace {

constexpr const char* kInternational = "HKEY_CURRENT_USER\\Control Panel\\International";

char separator(const char* valueName) {
  RegData value = regRead(kInternational, valueName);
  const std::string& data = value.data();
  if (data.empty()) throw IndexError("index out of bounds, the container is empty");
  return data[0];
}

}  // namespace

char getListSeparator() {
  TLQ_OP("getListSeparator");
  return TLQ_AT(separator("sList"));
}

char getDecimalSeparator() {
  TLQ_OP("getDecimalSeparator");
  return TLQ_AT(separator("sDecimal"));
}

CsvFormat newCsvFormat(std::vector<std::string> header) {
  char list = getListSeparator();
  char decimal = getDecimalSeparator();
  return newCsvFormat(std::move(header), list, decimal);
}

CsvFormat newCsvFormat(std::vector<std::string> header, char listSeparator,
                       char decimalSeparator) {
  return CsvFormat{std::move(header), listSeparator, decimalSeparator};
}

std::string makeHeader(const CsvFormat& format) {
  std::string line;
  for (size_t i = 0; i < format.header.size(); ++i) {
    if (i > 0) line += format.listSeparator;
    line += format.header[i];
  }
  return line;
}

namespace {

// True when no number's text can hold a character that must be quoted: the
// decimal separator is none of them, and the list separator none of the
// other characters of a number ("-1.5e-05", "inf").
bool numbersArePlain(const CsvFormat& format) {
  auto special = [&](char c) { return c == format.listSeparator || c == '"' || c == '\r' || c == '\n'; };
  constexpr std::string_view kNumberCharacters = "0123456789+-einf";
  return !special(format.decimalSeparator) && kNumberCharacters.find(format.listSeparator) == std::string_view::npos;
}

// `text` as one field: in quotes, its quotes doubled, when a separator or a
// line break would split it or a quote would be taken for the field's own.
void putQuoted(const CsvFormat& format, std::string_view text, Appender& out) {
  const char* end = text.data() + text.size();
  if (findAnyOf(text.data(), end, format.listSeparator, '"', '\r', '\n') == end) {
    out.put(text);
    return;
  }
  out.put('"');
  const char* run = text.data();  // the characters not yet copied
  for (const char* p = run; p != end; ++p) {
    if (*p != '"') continue;
    out.put({run, static_cast<size_t>(p - run + 1)});  // up to and including the quote,
    out.put('"');                                      // which is doubled
    run = p + 1;
  }
  out.put({run, static_cast<size_t>(end - run)});
  out.put('"');
}

// A number's text, written in place and kept as it is when `plain`.
void putNumber(const CsvFormat& format, double number, bool plain, Appender& out) {
  char* text = out.room(kFloatTextRoom);
  size_t size = formatFloatInto(text, number);
  if (size == 3 && text[0] == 'n') return;  // not a number: an empty field
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '.') {  // at most one, and near the start
      text[i] = format.decimalSeparator;
      break;
    }
  }
  if (plain) {
    out.commit(size);
    return;
  }
  char copy[kFloatTextRoom];  // quoted only when a separator would split it
  std::memcpy(copy, text, size);
  putQuoted(format, {copy, size}, out);
}

}  // namespace

namespace {

// One cell as its field.
inline void putCell(const CsvFormat& format, const RowBlock& rows, const Cell& cell, bool plainNumbers,
                    Appender& line) {
  switch (cell.kind) {
    case CellKind::empty: break;
    case CellKind::number: putNumber(format, cell.number, plainNumbers, line); break;
    case CellKind::text:
      if (cell.csvField) {
        line.put(rows.textOf(cell));
        break;
      }
      [[fallthrough]];
    case CellKind::dateTime: putQuoted(format, rows.textOf(cell), line); break;
  }
}

}  // namespace

void makeLine(const CsvFormat& format, const RowBlock& rows, size_t row, std::string& out) {
  const bool plainNumbers = numbersArePlain(format);
  Appender line(out);
  for (size_t i = 0; i < format.header.size(); ++i) {
    if (i > 0) line.put(format.listSeparator);
    if (i >= rows.columns()) continue;
    putCell(format, rows, rows.cell(row, i), plainNumbers, line);
  }
  line.flush();
}

void makeLine(const CsvFormat& format, const RowBlock& rows, size_t row, const std::vector<size_t>& from,
              std::string& out) {
  const bool plainNumbers = numbersArePlain(format);
  Appender line(out);
  for (size_t i = 0; i < format.header.size(); ++i) {
    if (i > 0) line.put(format.listSeparator);
    if (i >= from.size() || from[i] >= rows.columns()) continue;
    putCell(format, rows, rows.cell(row, from[i]), plainNumbers, line);
  }
  line.flush();
}

void quoteString(const CsvFormat& format, std::string_view text, std::string& out) {
  Appender appender(out);
  putQuoted(format, text, appender);
  appender.flush();
}

void localizeFloat(const CsvFormat& format, double number, std::string& out) {
  Appender appender(out);
  putNumber(format, number, false, appender);
  appender.flush();
}

}  // namespace tlq
