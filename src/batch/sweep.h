// Files of ours that a run left when it was stopped before it could remove
// them (killed, a crash, a power cut): a table's temporary files, and the
// older parts of a table in several parts, moved aside while it went in.
// They are known as ours by their names and as abandoned because no live
// run holds them (FileHold), and removed by a later run that puts a table
// into their folder, under that folder's lock.
#pragma once

#include <string>
#include <vector>

#include "platform/folders.h"

namespace tlq {

// "tlqconverter_" and 8 letters: the start of every such file's name.
inline constexpr size_t kScratchLetters = 8;
bool isScratchName(const std::string& name, const char* suffix);

// The name in the folder of `part` (a table's part where it goes, links
// followed) that its older file is moved aside to while the new table goes
// in: "tlqconverter_", 8 letters made from the part's own name and
// `attempt` (from 0 to kAsideAttempts - 1, for a name already taken), ".old".
// A later run thus tells which table a left-over older part belonged to.
std::string asidePath(const std::string& part, int attempt);
inline constexpr int kAsideAttempts = 16;

// The folder for the workbook library's own temporary files, beside a
// workbook's temporary file (a scratch ".tmp") and named after it (".dir").
// The library removes each of its files as soon as it has made it (under
// Windows when it closes it), so a run killed in the instant between leaves
// one: in this folder, which a later run tells as ours by its name and as
// abandoned by the temporary file it belongs to being gone. Made for as long
// as this object lives, then removed; the library is done with it by then.
class LibraryFolder {
 public:
  explicit LibraryFolder(const std::string& temporary);
  ~LibraryFolder();
  LibraryFolder(const LibraryFolder&) = delete;
  LibraryFolder& operator=(const LibraryFolder&) = delete;

  // Where the library makes its files: the folder, or the temporary file's
  // own folder where it could not be made.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool made_ = false;
};

// Removes the library folder of the workbook whose temporary file is
// `temporary`, with the library's files in it: for a run that ends at once,
// without unwinding.
void removeLibraryFolderOf(const std::string& temporary);

// Under the lock on `folder` (TableLock): the first call for a folder in
// this process lists it and removes each temporary file of ours that no
// live run holds, and each library folder whose temporary file is gone,
// with the library's files in it; later calls do nothing. Returns the paths
// removed.
std::vector<std::string> sweepTemporaryFiles(const std::string& folder);

// Under the lock on their folder, once the table whose parts go to `parts`
// (links followed) is whole: removes the older parts that a stopped run had
// moved aside from those names, where no run holds them. Returns the paths
// removed.
std::vector<std::string> sweepAsides(const std::vector<std::string>& parts);

// A listing of `folder` that a caller made anyway (the search for
// recordings): the sweeps take what it found instead of listing it again.
// Nothing when the folder was looked at before.
void noteListing(const std::string& folder, const std::vector<FolderEntry>& entries);

// Whether a stopped run left older parts moved aside in `folder`, as the
// folder was when it was first looked at: the only case in which a table
// that is not written again is worth a sweepAsides.
bool asidesLeftIn(const std::string& folder);

}  // namespace tlq
