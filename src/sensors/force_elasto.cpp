#include "force_elasto.h"

#include <limits>

#include "error.h"
#include "sensors/pattern.h"
#include "text.h"

namespace tlq {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct ForceForm {
  Pattern pattern;
  bool newtons;  // two decimals, converted to kilograms
};

}  // namespace

// No step of these two fails (the patterns are fixed texts, the match data
// the caller's), so they have no frame in the trace: every sample would pay
// for it.
double parseForce(std::string_view raw) {
  // Tried in this order; the first match decides. Group 1 is the sign
  // character, group 2 the value. The third form also takes every line the
  // fifth does, so the fifth never decides; the order is kept all the same.
  static const ForceForm forms[] = {
      {Pattern(R"(^\x02(.)\s+(\d+\.\d\d)[NM]\x03)"), true},
      {Pattern(R"(^(.)\s+(\d+\.\d\d)[NM]\x03\x02)"), true},
      {Pattern(R"(^(.)\s+(\d+)[NM].+)"), false},
      {Pattern(R"(^\x02(.)\s+(\d+)[NM]\x03)"), false},
      {Pattern(R"(^(.)\s+(\d+)[NM]\x03\x02)"), false},
  };
  for (const ForceForm& form : forms) {
    Pattern::Match m = form.pattern.match(raw);
    if (!m) continue;
    double value = parseDecimal(m.group(2));
    if (form.newtons) value = value * 1000.0 / 9.8084;
    return m.group(1) == "-" ? -value : value;
  }
  return kNaN;
}

std::pair<double, double> parseElasto(std::string_view raw) {
  static const Pattern aPart(R"(^A=(\d+) .+$)");
  static const Pattern bPart(R"(.+ B=(\d+)$)");
  Pattern::Match a = aPart.match(raw), b = bPart.match(raw);
  return {a ? parseDecimal(a.group(1)) : kNaN, b ? parseDecimal(b.group(1)) : kNaN};
}

}  // namespace tlq
