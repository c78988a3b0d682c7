// A table written whole or not at all: into temporary files beside its
// final names (beside what a name that is a link leads to), put in place
// only once all of it is written, and split into parts of a number of lines
// when asked. Every part goes in, or the older table stays as it was.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "platform/file.h"
#include "platform/file_hold.h"
#include "platform/folder_lock.h"

namespace tlq {

// The name of part `part` (from 1) of the table `csvPath`: the path itself
// for the first, "NAME_part2.csv", "NAME_part3.csv", ... for the others.
std::string tablePartPath(const std::string& csvPath, uint64_t part);

// Dates a table that a failed conversion left (its lines up to the
// failure) two seconds before the recording's time of last change, so that
// no --update takes it for the recording's whole table (two seconds: FAT
// keeps times in steps of two). Nothing when the recording is gone.
void datePartialTable(const std::string& table, const std::string& recording);

// How long a table waits for the lock on its folder: TLQCONVERTER_LOCK_WAIT
// seconds (a whole number, for tests), else 30 seconds.
std::chrono::milliseconds tableLockWait();

// The lock on the folder of the table `table` names (FolderLock), under
// which its files are put in place: another run of the program never puts
// in files of the same table at the same time. Raises IoError "cannot open:
// " + `table` when another holds it longer than tableLockWait().
class TableLock {
 public:
  explicit TableLock(const std::string& table);

 private:
  FolderLock lock_;
};

// Raises IoError "cannot open: " + `table`, with the system's reason, where
// a finished table could not be put in its place (where its name leads): a
// folder that takes no file, a folder or a read-only file of that name, a
// file another program holds. Asked before the work, so that it fails at
// once; the commit checks again.
void requireReplaceable(const std::string& table);

class TableFiles {
 public:
  // `header` is the header line with its "\r\n"; each part starts with it.
  // `splitRows` data lines at most per part; 0 for one file, however long.
  // The first temporary file is made at once: raises IoError "cannot open: "
  // + `csvPath` when its folder takes no file. Temporary names are short
  // ("tlqconverter_" and 8 letters, ".tmp"), so that they fit wherever the
  // final name fits.
  TableFiles(std::string csvPath, std::string header, uint64_t splitRows);
  // Removes the temporary files that were not put in place.
  ~TableFiles();
  TableFiles(const TableFiles&) = delete;
  TableFiles& operator=(const TableFiles&) = delete;

  // Writes lines, starting a new part where one is full. Raises IoError
  // "cannot write string to file".
  void put(const LineBlock& lines);

  // Closes the last part; afterwards parts() is final.
  void finish();

  // For a table that another writer makes (a workbook): closes the one
  // part's temporary file, still empty, and gives its name to be written
  // over. commit() puts what is there in place.
  std::string finishForWriter();

  // The final names of the parts written, in order.
  const std::vector<std::string>& parts() const { return finals_; }

  // Makes every part's data durable before it goes in, so that a crash of
  // the system cannot leave an empty or short part under its name, newer
  // than its recording. Raises IoError "cannot write string to file" with
  // the system's reason.
  void makeDurable();

  // Puts every part in place, over any file of its name, keeping what the
  // older file was beyond its contents (its permission bits): the parts made
  // durable first, then put in under the lock on the table's folder
  // (TableLock), then the folders' new names made durable. Under the lock
  // it first removes what stopped runs left in the parts' folders (swept()). Raises IoError
  // "cannot open: " + the part's name, with the system's reason, when one
  // cannot be replaced (a folder, a read-only file, a file held open): then
  // the older files are all as they were. With several parts, the older
  // ones are moved aside first (asidePath) and put back on any failure, and
  // the new ones go in from the last to the first; an older part that cannot
  // be put back stays where it was moved, and the error's reason names it.
  void commit();

  // The step of commit() that puts the parts in place, for a caller that
  // holds the TableLock and makes the folders durable itself (syncFolder on
  // each of folders()) once it is done.
  void commitLocked();

  // For a conversion that failed: what was written of the table (its lines
  // up to the failure) goes in as it is, dated as datePartialTable dates it,
  // so that no --update takes it for the recording's whole table; unless a
  // write of the table failed (a full disk): then nothing goes in and an
  // older table stays as it was. Raises nothing: the failure that brought
  // it here is the one to tell.
  void commitPartial(const std::string& recording);

  // The files of ours that runs stopped before they could remove them left
  // in the parts' folders, removed by the commit (see batch/sweep.h).
  const std::vector<std::string>& swept() const { return swept_; }

  // The folders the parts go into.
  std::vector<std::string> folders() const;

 private:
  void write(const LineBlock& lines);
  void startPart();
  void sweep();
  std::string putBack(size_t asideUpTo, size_t inFrom);

  std::string csvPath_, header_;
  uint64_t splitRows_, linesInPart_ = 0;
  std::unique_ptr<OutputFile> file_;
  std::vector<std::string> temps_, finals_;
  std::vector<std::string> targets_;  // where each part goes: where a name that is a link leads
  std::vector<std::string> asides_;  // per part: where its older file was moved, or ""
  // Held while they are ours, so that no other run takes them for left over.
  std::vector<FileHold> holds_, asideHolds_;
  std::vector<std::string> swept_;
  bool committed_ = false, durable_ = false;
  bool torn_ = false;  // a write of the parts failed: what they hold is not known
};

}  // namespace tlq
