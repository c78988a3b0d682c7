// Folders and the names in them: what a path names, a folder's entries,
// making folders, and putting a finished file in place of another.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tlq {

enum class PathKind : uint8_t { missing, file, folder, other };

// The same for every name of one file (hard links, links, other spellings).
struct FileId {
  uint64_t device = 0, file = 0;
  auto operator<=>(const FileId&) const = default;
};

// What a path names, links followed.
struct PathInfo {
  PathKind kind = PathKind::missing;
  uint64_t size = 0;             // of a file
  std::optional<FileId> id;      // where the system tells it
  int64_t modified = 0;          // time of the last change to its contents, in the system's own ticks
};
PathInfo pathInfo(const std::string& path);

// A PathInfo::modified as nanoseconds since 1970-01-01 UTC.
int64_t unixNanoseconds(int64_t modified);

// `seconds` in the ticks of PathInfo::modified.
int64_t ticksOfSeconds(int64_t seconds);

// Sets the time of the last change to a file's contents (in the ticks of
// PathInfo::modified). False when it cannot.
bool setModified(const std::string& path, int64_t modified);

// Where a name leads: a symbolic link at the end of `path` followed, link
// after link, to the path it names (relative links read from the link's
// folder). `path` itself when it is no link, or where the system does not
// say (Windows).
std::string linkTarget(const std::string& path);

// The place a path names, whether or not a file is there: the identity of
// the deepest folder on the path that exists, as the system opens it, then
// the rest of the path below it (in one letter case where the system ignores
// it). Two paths give the same key when they name one place, whatever their
// spelling or the links among their folders ("link/.." included, which
// POSIX systems take to the parent of the link's target); a link at the end
// is not followed. A path that ends in ".." gives its folder's identity.
std::string placeKey(const std::string& path);

// placeKey for many paths, each folder looked at once.
class Places {
 public:
  std::string key(const std::string& path);

 private:
  std::string folderKey(const std::string& folder);
  std::map<std::string, std::string> folders_;  // a folder's comparable path, its key
};

// Before a finished file replaces the file at `path`: raises IoError
// "cannot open: " + `shownAs`, with the system's reason, where the single
// conversion could not write it either (a folder, a read-only file as
// isReadOnly tells it, also to root, no right to write); else makes `temp` keep what the older file was beyond
// its contents (its permission bits; under Windows its attributes). Nothing
// to do when `path` names no file.
void prepareReplacement(const std::string& path, const std::string& temp, const std::string& shownAs);

// What prepareReplacement refuses, without touching anything.
void refuseUnreplaceable(const std::string& path, const std::string& shownAs);

// Raises IoError "cannot open: " + `shownAs`, with the system's reason, when
// another program holds the file at `path` so that no file can be renamed
// over it (under Windows: open without sharing its deletion, as a
// spreadsheet holds a workbook it shows). Nothing where no file is, or where
// the system has no such holds (POSIX).
void refuseHeld(const std::string& path, const std::string& shownAs);

// True for a file that is read-only: no write permission at all, or none
// for this user (under Windows its read-only attribute).
bool isReadOnly(const std::string& path);

// Why no file can be made in `folder` (when it is missing: why it cannot be
// made), in the system's words; nothing when one can. Asks without making
// anything.
std::optional<std::string> whyNoFileIn(const std::string& folder);

// Makes the folder's entries durable (names made, renamed and removed in
// it), so that they survive a crash of the system. Under Windows renames
// are written through (renameReplacing, renameFresh): nothing to do there.
void syncFolder(const std::string& folder);

struct FolderEntry {
  std::string name;
  PathKind kind = PathKind::missing;  // links followed (missing for a dangling one)
  bool link = false;  // the entry is a symbolic link (under Windows: any reparse point)
};

// A folder's entries without "." and "..", in no particular order; nothing
// when the folder cannot be read.
std::optional<std::vector<FolderEntry>> listFolder(const std::string& path);

// Makes the folder and any of its parents that are missing. False when it
// cannot (a file in the way, no right to).
bool makeFolders(const std::string& path);

// Removes the folder at `path` when it is empty (never a link). False when
// it cannot (anything in it, no such folder).
bool removeEmptyFolder(const std::string& path);

// Renames `from` to `to` in one step, replacing a file of that name: the
// name shows either the old file or the new one, never neither nor half.
// False when it cannot (a folder of that name, the file locked). Under
// Windows the rename is written through before it returns.
bool renameReplacing(const std::string& from, const std::string& to);

// Renames `from` to `to` where no file of that name is: false when one is,
// or it cannot.
bool renameFresh(const std::string& from, const std::string& to);

// The folder part of a path ("" when it has none) and the name after it.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

// The path made absolute, with "." steps and doubled separators taken out
// and, where the system ignores letter case, in one case. A ".." step is
// taken out only where the system itself takes it by name (Windows, before
// the path reaches a link); a POSIX system takes it from where the path
// before it leads, so there it stays (placeKey resolves it).
std::string comparablePath(const std::string& path);

// A file's name in the one letter case in which the system compares names
// (as comparablePath): the name itself where letter case counts.
std::string nameKey(const std::string& name);

// True for the separators of the system's paths ('/', and '\\' under
// Windows).
bool isPathSeparator(char c);

}  // namespace tlq
