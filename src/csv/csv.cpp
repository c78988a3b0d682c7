#include "csv.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "error.h"
#include "platform/registry.h"
#include "text.h"

namespace tlq {

CsvField makeField(std::string_view text) {
  CsvField f;
  f.kind = CsvFieldKind::fieldString;
  f.text = text;
  return f;
}

CsvField makeField(double number) {
  CsvField f;
  f.kind = CsvFieldKind::fieldFloat;
  f.number = number;
  return f;
}

CsvField makeField(int64_t integer) {
  CsvField f;
  f.kind = CsvFieldKind::fieldInt;
  f.integer = integer;
  return f;
}

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

CsvFormat typedCsvFormat(std::vector<std::string> header) {
  CsvFormat format{std::move(header), ',', '.'};
  format.typed = true;
  return format;
}

void CsvRow::set(size_t column, CsvField field) {
  slots_[column].present = true;
  slots_[column].text = Text::own;
  slots_[column].field = std::move(field);
}

void CsvRow::setNumber(size_t column, double number) {
  Slot& s = slots_[column];
  s.present = true;
  s.field.kind = CsvFieldKind::fieldFloat;
  s.field.number = number;
}

std::string& CsvRow::textSlot(size_t column, Text form) {
  Slot& s = slots_[column];
  s.present = true;
  s.text = form;
  s.field.kind = CsvFieldKind::fieldString;
  s.field.text.clear();
  return s.field.text;
}

std::string& CsvRow::text(size_t column) { return textSlot(column, Text::own); }

std::string& CsvRow::csvText(size_t column) { return textSlot(column, Text::csv); }

void CsvRow::setText(size_t column, std::string_view text) {
  textSlot(column, Text::borrowed);
  slots_[column].borrowed = text;
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
void putQuoted(const CsvFormat& format, std::string_view text, Appender& out, bool always = false) {
  const char* end = text.data() + text.size();
  if (!always && findAnyOf(text.data(), end, format.listSeparator, '"', '\r', '\n') == end) {
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

void makeLine(const CsvFormat& format, const CsvRow& row, std::string& out) {
  const bool plainNumbers = numbersArePlain(format);
  Appender line(out);
  for (size_t i = 0; i < format.header.size(); ++i) {
    if (i > 0) line.put(format.listSeparator);
    if (i >= row.size() || !row.slots_[i].present) continue;
    const CsvRow::Slot& slot = row.slots_[i];
    const CsvField& f = slot.field;
    switch (f.kind) {
      case CsvFieldKind::fieldString:
        switch (slot.text) {
          case CsvRow::Text::own: putQuoted(format, f.text, line, format.typed); break;
          case CsvRow::Text::borrowed: putQuoted(format, slot.borrowed, line, format.typed); break;
          case CsvRow::Text::csv: line.put(f.text); break;
        }
        break;
      case CsvFieldKind::fieldFloat: putNumber(format, f.number, plainNumbers, line); break;
      case CsvFieldKind::fieldInt: {
        if (format.typed) {  // never quoted
          char* digits = line.room(24);
          line.commit(static_cast<size_t>(std::to_chars(digits, digits + 24, f.integer).ptr - digits));
          break;
        }
        char buf[24];
        // Quoted, like a number's text, only when it would not stay one field.
        putQuoted(format, {buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, f.integer).ptr - buf)}, line);
        break;
      }
    }
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

void readTypedLine(std::string_view line, std::vector<TypedField>& fields) {
  size_t n = 0;
  const char* p = line.data();
  const char* end = p + line.size();
  for (;;) {
    if (n == fields.size()) fields.emplace_back();
    TypedField& field = fields[n++];
    field.text.clear();
    if (p != end && *p == '"') {  // text: up to the quote that is not doubled
      field.kind = TypedField::Kind::text;
      for (++p;;) {
        const char* quote = findAnyOf(p, end, '"');
        field.text.append(p, quote);
        p = quote == end ? end : quote + 1;
        if (p == end || *p != '"') break;
        field.text += '"';
        ++p;
      }
    } else {
      const char* comma = findAnyOf(p, end, ',');
      field.text.assign(p, comma);
      field.kind = comma == p ? TypedField::Kind::empty : TypedField::Kind::number;
      p = comma;
    }
    if (p == end) break;
    ++p;  // the comma
  }
  fields.resize(n);
}

}  // namespace tlq
