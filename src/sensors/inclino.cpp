#include "inclino.h"

#include <limits>
#include <string>

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
  TLQ_OP("parseMeasInclino");
  // Patterns keep the state of their last match: one pair per thread.
  static thread_local Pattern xLine(R"(^X=([+-]\d\d\.\d\d\d)\r\n.+$)");
  static thread_local Pattern yLine(R"(^.+\r\nY=([+-]\d\d\.\d\d\d)$)");
  static thread_local std::string decoded;

  std::string_view text = payload;
  if (payload.starts_with("WD")) {  // base64 of a leading "X"
    base64::decode(payload, decoded);
    text = decoded;
  }
  double x = std::numeric_limits<double>::quiet_NaN();
  if (xLine.match(text)) x = parseDecimal(xLine.group(1));
  if (!yLine.match(text)) return {-999.0, -999.0};
  return {x, parseDecimal(yLine.group(1))};
}

}  // namespace tlq
