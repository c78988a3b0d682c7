// The conversion of one recording into its CSV table.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "convert/recording.h"

namespace tlq {

// Writes the CSV table of the recording at `path` beside it (the same path
// with the extension "csv") and returns that path. On failure the error
// propagates; a CSV file already created is closed and keeps the lines
// written so far.
std::string mainConvert(const std::string& path);

// The ranges of entries a conversion on `threads` workers (2 or more) shares
// out: pieces small enough to share out evenly and to keep few in memory.
std::vector<EntryRange> conversionRanges(const Recording& recording, unsigned threads);

// Lines gathered on one thread before they are written.
inline constexpr size_t kLinesPerWrite = 64 << 10;

}  // namespace tlq
