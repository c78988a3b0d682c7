// The log of a batch or a merge (--log), put on the disk.
#pragma once

#include <string>

namespace tlq {

// Writes the log as a table is written: whole or not at all, through a link
// at its name, as a new file is made (or keeping the older one's
// permissions), its folders made as needed.
void writeLog(const std::string& path, const std::string& text);

}  // namespace tlq
