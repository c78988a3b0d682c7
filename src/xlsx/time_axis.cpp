#include "xlsx/time_axis.h"

#include <cmath>

namespace tlq {

namespace {

constexpr double kSecond = 1.0 / 86400;
// Round steps, in seconds.
constexpr double kSteps[] = {1,     2,     5,     10,    15,     30,     60,     120,    300,    600,    900,
                             1800,  3600,  7200,  10800, 21600,  43200,  86400,  172800, 604800, 1209600, 2592000};

}  // namespace

TimeAxis timeAxisFor(double first, double last) {
  const double span = (last - first) / kSecond;  // seconds
  double step = kSteps[sizeof kSteps / sizeof kSteps[0] - 1];
  for (double s : kSteps) {
    if (span / s <= 10) {  // at most ten steps, so about 6 to 10 labels
      step = s;
      break;
    }
  }
  TimeAxis axis;
  axis.majorUnit = step * kSecond;
  // On whole steps of the day: the first tick at or before the first time,
  // the last at or after the last one. A millisecond's slack keeps a time
  // that is a whole step from a step of its own.
  const double slack = 0.001 * kSecond;
  axis.min = std::floor((first + slack) / axis.majorUnit) * axis.majorUnit;
  axis.max = std::ceil((last - slack) / axis.majorUnit) * axis.majorUnit;
  if (axis.max <= axis.min) axis.max = axis.min + axis.majorUnit;
  const bool overMidnight = std::floor(last) > std::floor(first);
  if (step >= 86400)
    axis.format = "yyyy-mm-dd";
  else if (overMidnight)
    axis.format = step >= 60 ? "yyyy-mm-dd hh:mm" : "yyyy-mm-dd hh:mm:ss";
  else
    axis.format = step >= 60 ? "hh:mm" : "hh:mm:ss";
  return axis;
}

}  // namespace tlq
