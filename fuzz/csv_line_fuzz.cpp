// CSV lines: split with an RFC 4180 reader using the file's separators, a
// row of typed cells rendered as a line gives back exactly its fields,
// whatever the text holds (separators, quotes, CR, LF), and every number
// stays one field; a date-time is its text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <string>
#include <vector>

#include "csv/csv.h"
#include "fuzz_check.h"

namespace {

using namespace tlq;

// Splits one line (no line ending of its own): fields separated by `list`; a
// field in double quotes may hold anything, "" standing for one quote.
std::vector<std::string> readRfc4180(std::string_view line, char list) {
  std::vector<std::string> fields(1);
  size_t i = 0;
  bool atStart = true;
  while (i < line.size()) {
    char c = line[i];
    if (atStart && c == '"') {
      ++i;
      for (;;) {
        FUZZ_CHECK(i < line.size());  // a quoted field is closed
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        fields.back() += line[i++];
      }
      FUZZ_CHECK(i == line.size() || line[i] == list);  // nothing after the closing quote
      atStart = false;
      continue;
    }
    if (c == list) {
      fields.emplace_back();
      atStart = true;
    } else {
      FUZZ_CHECK(c != '"' && c != '\r' && c != '\n');  // only inside quotes
      fields.back() += c;
      atStart = false;
    }
    ++i;
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // Any separators but the quote and the line ending, which no reader could
  // tell from the CSV's own.
  char list = in.ConsumeIntegral<char>(), decimal = in.ConsumeIntegral<char>();
  if (list == '"' || list == '\r' || list == '\n') return 0;
  size_t columns = in.ConsumeIntegralInRange<size_t>(1, 12);
  CsvFormat format = newCsvFormat(std::vector<std::string>(columns, "c"), list, decimal);

  RowBlock rows(columns);
  rows.beginRow();
  std::vector<std::string> expected(columns);
  for (size_t c = 0; c < columns; ++c) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0:  // left empty
        break;
      case 1: {
        std::string text = in.ConsumeRandomLengthString(64);
        rows.setText(c, text);
        expected[c] = text;
        break;
      }
      case 2: {
        std::string text = in.ConsumeRandomLengthString(64);
        rows.setDateTime(c, text, in.ConsumeFloatingPoint<double>());
        expected[c] = text;
        break;
      }
      default: {
        double v = in.ConsumeFloatingPoint<double>();
        if (in.ConsumeBool()) v = std::round(v * 1000) / 1000;
        rows.setNumber(c, v);
        std::string text;
        localizeFloat(format, v, text);
        if (text.starts_with('"')) {  // quoted to stay one field
          std::string inner;
          for (size_t i = 1; i + 1 < text.size(); ++i) inner += text[i] == '"' ? text[i++] : text[i];
          text = inner;
        }
        expected[c] = text;
        break;
      }
    }
  }
  rows.keepRow();
  std::string line;
  makeLine(format, rows, 0, line);
  std::vector<std::string> fields = readRfc4180(line, list);
  FUZZ_CHECK(fields == expected);  // the same count: a number is one field
  return 0;
}
