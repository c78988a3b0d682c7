// What a workbook's zip holds, read back from the file once the library has
// closed it. The library writes each part into a temporary file of its own
// without looking at its writes, then zips whatever landed there: on a disk
// that fills meanwhile, a sheet's part loses rows while the zip, written
// after the row files are freed, is sound and the library reports success.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tlq {

// A sheet's part in the zip and the bytes of rows it was given (its row
// file's size once the library's last row is in it).
struct SheetRows {
  std::string part;  // "xl/worksheets/sheet1.xml"
  uint64_t rows = 0;
};

// Why the zip at `file` (a UTF-8 path) is not whole, or nothing: a sheet of
// `sheets` that is missing, or whose part (by the zip's central directory)
// holds fewer bytes than its head up to the rows, its rows and the tags that
// close them; any other part that does not end with its root element's end
// tag, or whose bytes do not match its checksum; a file that cannot be read
// as a zip.
std::optional<std::string> cutPart(const std::string& file, const std::vector<SheetRows>& sheets);

}  // namespace tlq
