// What a person who started a conversion from the desktop reads when it
// fails: what failed and why in their words, and what to do about it. The
// error report, for support, stays as it is.
#pragma once

#include <string>

#include "error.h"

namespace tlq {

// The message box's text for `failure` of the conversion of `recording`:
// "tlqconverter could not write «Messung 1.xlsx»: another program has it
// open (sharing violation). Close it there and try again."
std::string failureMessage(const Error& failure, const std::string& recording);

}  // namespace tlq
