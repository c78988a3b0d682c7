// A table written whole or not at all: into temporary files beside its
// final names, renamed into place only once all of it is written, and split
// into parts of a number of lines when asked.
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
  // + `csvPath` when its folder takes no file.
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

  // The final names of the parts written, in order.
  const std::vector<std::string>& parts() const { return finals_; }

  // Renames every part into place, in order, over any file of that name.
  // Raises IoError "cannot open: " + the part's name when one cannot be
  // replaced; the parts not yet in place are removed.
  void commit();

 private:
  void startPart();

  std::string csvPath_, header_;
  uint64_t splitRows_, linesInPart_ = 0;
  std::unique_ptr<OutputFile> file_;
  std::vector<std::string> temps_, finals_;
  size_t committed_ = 0;
};

}  // namespace tlq
