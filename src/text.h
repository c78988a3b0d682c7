// Number and text helpers shared by the decoders and the CSV output.
#pragma once

#include <string>
#include <string_view>

namespace tlq {

// Appends `value` as printf's "%.16g" would (C locale), then ".0" when the
// text has neither a point nor a letter: 3 -> "3.0", 1e-05 -> "1e-05".
// Every not-a-number is "nan"; the infinities are "inf" and "-inf".
void appendFloat(std::string& out, double value);

// The same text written to `buf`; returns its length (at most 26).
size_t formatFloat(char (&buf)[32], double value);

// `value` correctly rounded to three decimals, as "%.3f" followed by reading
// the text back. Not-a-number and the infinities pass through.
double roundTo3(double value);

// Reads a plain decimal number (optional sign, digits, optional fraction; no
// exponent) such as "+01.234" or "150". A value too large for a double is an
// infinity, as from an ordinary float parser.
double parseDecimal(std::string_view text);

// The path with its extension replaced by "csv": scanning back from the last
// character, the first "." starts the extension and a "/" or "\" ends the
// search; the first character is never examined.
std::string csvPathFor(std::string_view path);

}  // namespace tlq
