// The time axis of a chart: from the data's first time to its last, with
// major ticks at round steps (seconds, minutes, 5, 10, 15 or 30 minutes,
// hours, days) chosen for about 6 to 10 labels, and the date in the labels
// when the data spans midnight.
#pragma once

#include <string>

namespace tlq {

struct TimeAxis {
  double min = 0, max = 0;  // day numbers: the first and last tick
  double majorUnit = 0;     // days between two ticks
  std::string format;       // the labels' number format
};

// For times from `first` to `last` (day numbers, first <= last).
TimeAxis timeAxisFor(double first, double last);

}  // namespace tlq
