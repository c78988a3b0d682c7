// The force meter's display line and the elastometer's line.
#pragma once

#include <string_view>
#include <utility>

namespace tlq {

// The force in kilograms, or not-a-number when no known form matches.
// Lines with two decimals are in newtons and converted (x 1000 / 9.8084);
// whole numbers are taken as they are. A sign character "-" negates.
double parseForce(std::string_view raw);

// The raw A and B counts of "A=<digits> ... B=<digits>"; each is
// not-a-number when its part is not found.
std::pair<double, double> parseElasto(std::string_view raw);

}  // namespace tlq
