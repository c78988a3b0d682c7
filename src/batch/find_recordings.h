// The recordings a batch converts: found in files and folders named on the
// command line, each with the path of its table.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tlq {

struct BatchItem {
  std::string path;   // the recording, as found: a PATH, or a PATH joined with the names below it
  std::string table;  // its table (the first part, when tables are split)
  uint64_t size = 0;  // bytes, when it was found
  // Its path below the PATH it was found in (its name, when the PATH is the
  // recording itself), with the system's separator between folders.
  std::string relative;
  // Why it cannot be converted, found before trying: a folder that could not
  // be read (listed in place of what it holds), a table that an earlier
  // recording writes too, or a table that is another recording. Raised as
  // IoError in place of the conversion, with `reason` where the system
  // gave one.
  std::string problem, reason;
  // The places the recording and its table name (placeKey, links at their
  // ends followed): two items clash when they share one.
  std::string recordingPlace, tablePlace;
};

struct FindOptions {
  std::string outDir;            // tables go below it, not beside the recordings
  std::string extension = "csv";  // of the tables' names
  bool expandWildcards = false;  // '*' and '?' in a PATH are expanded here (Windows)
  const std::atomic<bool>* cancel = nullptr;  // once set, the search ends soon with what it found
  std::vector<std::string>* cutShort = nullptr;  // gets the PATHs whose search the cancel cut short
};

// Every PATH is a recording, or a folder searched with its subfolders for
// names ending in ".tlq" in any case (links to folders are not followed;
// other files are passed over). A PATH that does not exist, or a pattern
// that matches nothing, is kept, to fail as a recording that cannot be
// opened. A recording reached twice (the same folder and name, however
// spelled) is taken once, where it was first reached; other names of one
// file (links) are recordings of their own. The result is in path order.
//
// With an out folder, a table keeps the recording's path below the PATH it
// was found under (a PATH that is a file puts its table straight into the
// folder); for a pattern, below the folder that precedes its first wildcard.
std::vector<BatchItem> findRecordings(const std::vector<std::string>& paths, const FindOptions& options);

// True when `name` matches `pattern`, where '*' stands for any run of
// characters and '?' for any one (of a UTF-8 text); letter case is ignored
// for ASCII letters when `ignoreCase`.
bool wildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase);

// True when `a` and `b` differ in the letter case of ASCII letters at most.
bool equalIgnoringCase(std::string_view a, std::string_view b);

// Orders paths component by component, so that a folder's recordings stay
// together whatever its name is followed by.
bool pathOrder(const std::string& a, const std::string& b);

}  // namespace tlq
