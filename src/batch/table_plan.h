// The tables of a batch's recordings, before and after they are written:
// where they go (as findRecordings named them, beside the recordings or
// below --out), the clashes of their parts with other recordings and their
// tables, --update's decision that a table is up to date, and the stale
// parts an earlier split into more parts left (listed, and removed where
// that is safe).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "batch/find_recordings.h"
#include "batch/table_proof.h"
#include "platform/folders.h"

namespace tlq {

// What of a batch's options decides its tables: their kind, their parts,
// their separators, and what --update and --delete-stale-parts ask.
struct TableSettings {
  char listSeparator = ',';
  char decimalSeparator = '.';
  uint64_t splitRows = 0;         // data lines per part of a table; 0: not split
  bool update = false;            // a table newer than its recording is kept as it is
  bool workbooks = false;         // tables are workbooks (item.table names them), never split
  bool deleteStaleParts = false;  // stale parts are removed where that is safe, not only listed
};

// A file named as a part of a table beyond its last part now (left by an
// earlier split into more parts, or so named by someone else): listed, and
// removed only when asked and safe.
struct StalePart {
  std::string path;
  bool removed = false;  // with deleteStaleParts
  std::string kept;      // with deleteStaleParts: why it stayed ("it is a link", ...)
};

class TablePlan {
 public:
  TablePlan(std::vector<BatchItem> items, const TableSettings& settings);
  ~TablePlan();

  const std::vector<BatchItem>& items() const { return items_; }
  const TableSettings& settings() const { return settings_; }

  // With `update`: the item's table is as a commit of this program put it
  // in from the recording as it is now, with this batch's options, and
  // whole (provenParts): its parts are the first and those that bear its
  // commit's time, every one of them there. Fills `tables` with them when
  // so.
  bool upToDate(size_t i, std::vector<std::string>& tables) const;

  // What a table of the item's recording as it is (`recording`) is made
  // from, as its commit's time proves it (stampCommit).
  TableBasis basisOf(const PathInfo& recording) const;

  // Raises IoError when `part`, a part of the item's table other than the
  // first, is another recording's table or another recording: writing it
  // would destroy that.
  void refuseClash(size_t i, const std::string& part) const;

  // The files named as parts of the item's table beyond its last one,
  // `parts`: each listed, and with deleteStaleParts removed, unless it is a
  // link, read-only, does not begin with the table's `header`, or is not
  // this program's untouched file: a part of the table's commit that this
  // one replaced (`older`, its first part before the commit), or one that
  // commit left (sameCommit, leftByCommit). Called under the table's lock,
  // right after its commit, whose first part is `newer`: an untouched part
  // that stays is marked as left by it.
  std::vector<StalePart> staleParts(size_t i, size_t parts, const std::string& header, const PathInfo& older,
                                    const PathInfo& newer) const;

  // For a plan (--dry-run): the stale parts a table that is not split would
  // leave; `removed` where deleteStaleParts would remove it, if its first line
  // is the header (only a conversion knows that).
  std::vector<StalePart> plannedStaleParts(size_t i) const;

  // The file of this batch that `path` (through a link at its end) would
  // overwrite: a recording, a table, or a part of a table (by its name, or
  // a part that is a link to it); "" for none.
  std::string wouldOverwrite(const std::string& path) const;

 private:
  struct FolderNames;
  struct NamedPart {
    uint64_t part;
    std::string path;
    bool link;
  };

  std::shared_ptr<const FolderNames> namesIn(const std::string& folder) const;
  std::vector<NamedPart> partsNamedAfter(size_t i) const;
  bool ownedByARecording(size_t i, const std::string& part) const;
  std::vector<StalePart> stalePartsOf(size_t i, size_t parts, const std::string* header, const PathInfo& older,
                                      const PathInfo* newer) const;

  std::vector<BatchItem> items_;
  TableSettings settings_;
  // Each folder's names, listed once when first needed (from any worker).
  mutable std::mutex namesMutex_;
  mutable std::map<std::string, std::shared_ptr<const FolderNames>> names_;
  // The items' recordings and tables, by the places they name (links at
  // their ends followed), first in path order.
  std::map<std::string, size_t> recordingPlaces_, tablePlaces_;
};

}  // namespace tlq
