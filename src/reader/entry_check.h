// A quick check of the entries of "data" in the first pass.
//
// The first pass must find every fault in the JSON text, but the full parser
// spends most of its time handing over events that the first pass ignores.
// An entry of the shapes recordings hold is checked here instead, with the
// few facts the first pass keeps. The check accepts only text the full
// parser accepts; whatever it is unsure of (an escaped key among the entry's
// members, a surrogate escape, a number with an exponent or many digits,
// deep nesting, and every fault) it leaves to the full parser, which then
// decides and words the error. It reads nothing outside the text.
#pragma once

#include <cstddef>
#include <string_view>

namespace tlq {

// What the first pass keeps of an entry that is an object.
struct EntryFacts {
  bool anyMember = false;  // it has members (its first one places it)
  bool inclino2 = false;   // a member "inclino2"
  bool dlen = false;       // a member "dlen"
};

// Checks the entry that starts with "{" at `at` in `text`. Returns where it
// ends, just past its closing brace, or `kEntryNotChecked` when the full
// parser must read it.
inline constexpr size_t kEntryNotChecked = static_cast<size_t>(-1);
size_t checkEntry(std::string_view text, size_t at, EntryFacts& facts);

}  // namespace tlq
