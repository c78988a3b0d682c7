#include "inclino.h"

#include <limits>
#include <optional>

#include "error.h"
#include "sensors/base64.h"
#include "sensors/pattern.h"
#include "text.h"

namespace tlq {

InclinoType detectInclinoType(std::string_view payload) {
  if (payload.starts_with("//")) return InclinoType::inclinoDq7;
  if (payload.starts_with("8A")) return InclinoType::inclinoRk;
  return InclinoType::inclinoText;
}

std::pair<double, double> parseMeasInclino(std::string_view payload) {
  static const Pattern xLine(R"(^X=([+-]\d\d\.\d\d\d)\r\n.+$)");
  static const Pattern yLine(R"(^.+\r\nY=([+-]\d\d\.\d\d\d)$)");

  std::optional<base64::Decoded> decoded;
  std::string_view text = payload;
  if (payload.starts_with("WD")) {  // base64 of a leading "X": the one step here that can fail, in its frame
    TLQ_OP("parseMeasInclino");
    text = TLQ_AT(decoded.emplace(payload)).bytes();
  }
  Pattern::Match xMatch = xLine.match(text), yMatch = yLine.match(text);
  double x = xMatch ? parseDecimal(xMatch.group(1)) : std::numeric_limits<double>::quiet_NaN();
  if (!yMatch) return {-999.0, -999.0};
  return {x, parseDecimal(yMatch.group(1))};
}

}  // namespace tlq
