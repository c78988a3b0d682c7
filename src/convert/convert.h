// The conversion of one recording into its CSV table.
#pragma once

#include <string>

namespace tlq {

// Writes the CSV table of the recording at `path` beside it (the same path
// with the extension "csv") and returns that path. On failure the error
// propagates; a CSV file already created is closed and keeps the lines
// written so far.
std::string mainConvert(const std::string& path);

}  // namespace tlq
