#include "app/log_file.h"

#include "batch/table_files.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"

namespace tlq {

void writeLog(const std::string& path, const std::string& text) {
  TLQ_OP("writeLog");
  std::string folder = folderOf(linkTarget(path));
  if (!folder.empty() && !makeFolders(folder)) {
    std::string reason = lastSystemError();
    throw IoError("cannot open: " + path).withReason(reason);
  }
  TableFiles file = TLQ_AT(TableFiles(path, "", 0));
  LineBlock block;
  block.text = text;
  TLQ_AT(file.put(block));
  TLQ_AT(file.commit());
}

}  // namespace tlq
