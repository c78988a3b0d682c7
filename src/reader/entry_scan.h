// A quick reader for the entries of "data" in the second pass.
//
// The first pass has validated the whole text, so an entry can be read with
// a plain scan instead of a full parser. The scan takes only the shapes
// recordings hold (keys without escapes; strings with any escape but a
// surrogate pair; numbers a double holds as written) and leaves every other
// entry to the full parser, which then reads it exactly as before. It reads nothing
// outside the text, whatever the bytes: a file that changes while it is read
// must not make it fault.
#pragma once

#include <cstddef>
#include <string_view>

#include "reader/recording.h"

namespace tlq {

// Reads the entry that starts at `at` in `text` into `entry` (all but its
// index, which the caller sets). Returns where the entry ends, just past its
// closing brace, or `kEntryNotScanned` when the full parser must read it.
inline constexpr size_t kEntryNotScanned = static_cast<size_t>(-1);
size_t scanEntry(std::string_view text, size_t at, RecordingEntry& entry);

}  // namespace tlq
