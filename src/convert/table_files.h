// A table written whole or not at all: into temporary files beside its
// final names (beside what a name that is a link leads to), put in place
// only once all of it is written, and split into parts of a number of lines
// when asked. Every part goes in, or the older table stays as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "platform/file.h"

namespace tlq {

// The name of part `part` (from 1) of the table `csvPath`: the path itself
// for the first, "NAME_part2.csv", "NAME_part3.csv", ... for the others.
std::string tablePartPath(const std::string& csvPath, uint64_t part);

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

  // Puts every part in place, over any file of its name, keeping what the
  // older file was beyond its contents (its permission bits). Raises IoError
  // "cannot open: " + the part's name, with the system's reason, when one
  // cannot be replaced (a folder, a read-only file, a file held open): then
  // the older files are all as they were. With several parts, the older
  // ones are moved aside first and put back on any failure.
  void commit();

 private:
  void startPart();
  void putBack(size_t asideUpTo, size_t inUpTo);

  std::string csvPath_, header_;
  uint64_t splitRows_, linesInPart_ = 0;
  std::unique_ptr<OutputFile> file_;
  std::vector<std::string> temps_, finals_;
  std::vector<std::string> targets_;  // where each part goes: where a name that is a link leads
  std::vector<std::string> asides_;  // per part: where its older file was moved, or ""
  bool committed_ = false;
};

}  // namespace tlq
