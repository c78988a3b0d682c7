// The text-form decoders: the inclinometer's text form (plain or base64),
// the force meter's display line and the elastometer's line. Any input gives
// finite numbers, the documented sentinels or not-a-number, or for a base64
// text payload the documented base64 failure.
#include <cmath>
#include <string>

#include "fuzz_check.h"
#include "sensors/force_elasto.h"
#include "sensors/inclino.h"

namespace {

bool finiteOrNan(double v) { return std::isfinite(v) || std::isnan(v); }

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

  FUZZ_CHECK(finiteOrNan(parseForce(text)));
  auto [a, b] = parseElasto(text);
  FUZZ_CHECK(finiteOrNan(a));
  FUZZ_CHECK(finiteOrNan(b));
  return 0;
}
