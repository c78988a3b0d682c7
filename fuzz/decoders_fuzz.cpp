// The text-form decoders: the inclinometer's text form (plain or base64),
// the force meter's display line and the elastometer's line. Any input gives
// finite numbers, the documented sentinels or not-a-number, or for a base64
// text payload the documented base64 failure. A force or elastometer value
// written with hundreds of digits is past a double's range and reads as an
// infinity, as from an ordinary float parser.
#include <cmath>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "sensors/force_elasto.h"
#include "sensors/inclino.h"

namespace {

bool finiteOrNan(double v) { return std::isfinite(v) || std::isnan(v); }

// True when `text` holds a run of digits long enough to pass a double's
// range, also once scaled from newtons.
bool holdsHugeNumber(std::string_view text) {
  size_t run = 0;
  for (char c : text) {
    run = c >= '0' && c <= '9' ? run + 1 : 0;
    if (run >= 300) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tlq;
  std::string_view text(reinterpret_cast<const char*>(data), size);

  InclinoType type = detectInclinoType(text);
  FUZZ_CHECK(type == InclinoType::inclinoText || type == InclinoType::inclinoDq7 || type == InclinoType::inclinoRk);
  try {
    auto [x, y] = parseMeasInclino(text);
    FUZZ_CHECK(finiteOrNan(x));
    FUZZ_CHECK(finiteOrNan(y));
    if (y == -999.0) FUZZ_CHECK(x == -999.0);  // an unreadable Y line gives both sentinels
  } catch (const Error& e) {
    FUZZ_CHECK(e.kind() == ErrorKind::value && e.message().starts_with("Invalid base64 format character `"));
    FUZZ_CHECK(text.starts_with("WD"));
  }

  bool huge = holdsHugeNumber(text);
  FUZZ_CHECK(finiteOrNan(parseForce(text)) || huge);
  auto [a, b] = parseElasto(text);
  FUZZ_CHECK(finiteOrNan(a) || huge);
  FUZZ_CHECK(finiteOrNan(b) || huge);
  return 0;
}
