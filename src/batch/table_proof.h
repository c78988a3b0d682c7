// Which files are one table as one commit put them in. Every part of a
// commit gets one time of last change, the commit's, whose fraction of a
// second is made from what the table is: the recording as it was read, the
// options it was written with, the number of parts and each one's size. A
// table proves itself only where the file system keeps that time to 100 ns
// (NTFS, ext4, XFS, Btrfs, APFS, tmpfs); elsewhere (FAT, exFAT, HFS+) it
// proves nothing and is converted again, never taken for whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/folders.h"

namespace tlq {

// What a table is made from and how.
struct TableBasis {
  int64_t recordingModified = 0;  // PathInfo::modified of the recording as it was read
  uint64_t recordingSize = 0;
  uint64_t splitRows = 0;  // 0: not split
  char listSeparator = 0, decimalSeparator = 0;  // 0 for a workbook
  bool workbook = false;
};

// Gives every one of `parts` (the table's files in order, all in place) one
// time of last change that proves them one table made from `basis`: within
// the second before the latest of their times now, never later. False when
// a time could not be set; the table then proves nothing.
bool stampCommit(const std::vector<std::string>& parts, const TableBasis& basis);

// The belonging rule: `part` was put in by the same commit as the table's
// first part, `first`: both are files bearing one commit's time.
bool sameCommit(const PathInfo& part, const PathInfo& first);

// A part of the table's earlier commit that a later one left beside it
// (stale) and marked as its own with leaveStale: its time is one step of
// 100 ns before the later commit's time, `first`'s.
bool leftByCommit(const PathInfo& part, const PathInfo& first);

// Marks a stale part, one that sameCommit or leftByCommit found untouched,
// as left by the commit whose first part is `first`, so that a later run
// still knows it for this program's untouched file. False when it cannot.
bool leaveStale(const std::string& part, const PathInfo& first);

// For a table whose first part is `first` and whose files named as further
// parts are `named` (in the order of their part numbers, 2 on, with their
// numbers): the positions in `named` of the parts of its last commit, when
// they prove that they are all of it and that it was made from `basis`;
// nothing when they do not (a part missing or changed, other options,
// another recording, times the file system did not keep).
std::optional<std::vector<size_t>> provenParts(const PathInfo& first,
                                               const std::vector<std::pair<uint64_t, PathInfo>>& named,
                                               const TableBasis& basis);

}  // namespace tlq
