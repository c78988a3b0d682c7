// Inclinometer payloads: which form a payload has, and the text form.
#pragma once

#include <string_view>
#include <utility>

namespace tlq {

enum class InclinoType : int {
  inclinoText = 0,  // "X=±dd.ddd" CR LF "Y=±dd.ddd", plain or base64 ("WD...")
  inclinoDq7 = 1,   // base64 dq7 frame, "//..."
  inclinoRk = 2,    // base64 rk frame, "8A..."
};

// Looks at the first two characters only; never fails.
InclinoType detectInclinoType(std::string_view payload);

// The X and Y angles of a text-form payload. An unreadable X line gives a
// not-a-number x; an unreadable Y line gives (-999.0, -999.0). Raises the
// base64 error when a "WD" payload is not valid base64.
std::pair<double, double> parseMeasInclino(std::string_view payload);

}  // namespace tlq
