#include "convert/table_files.h"

#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "platform/temp_files.h"

namespace tlq {

std::string tablePartPath(const std::string& csvPath, uint64_t part) {
  if (part <= 1) return csvPath;
  size_t dot = csvPath.size() >= 4 && csvPath.ends_with(".csv") ? csvPath.size() - 4 : csvPath.size();
  return csvPath.substr(0, dot) + "_part" + std::to_string(part) + csvPath.substr(dot);
}

TableFiles::TableFiles(std::string csvPath, std::string header, uint64_t splitRows)
    : csvPath_(std::move(csvPath)), header_(std::move(header)), splitRows_(splitRows) {
  startPart();
}

TableFiles::~TableFiles() {
  file_.reset();
  for (size_t i = committed_; i < temps_.size(); ++i) removeFile(temps_[i]);
}

void TableFiles::startPart() {
  TLQ_OP("startPart");
  if (file_) TLQ_AT(file_->close());
  file_.reset();
  std::string finalPath = tablePartPath(csvPath_, finals_.size() + 1);
  // Beside the final name, so that the rename stays on one file system;
  // never over another file.
  std::string folder = folderOf(finalPath);
  if (folder.empty()) folder = ".";
  for (int attempt = 0; !file_; ++attempt) {
    std::string temp = joinPath(folder, randomName(nameOf(finalPath) + ".", 8, ".tmp"));
    try {
      file_ = std::make_unique<OutputFile>(temp, OutputFile::Create::fresh);
      temps_.push_back(temp);
    } catch (const IoError&) {
      if (attempt == 7) throw IoError("cannot open: " + finalPath);  // not a name taken meanwhile
      TraceFrame::forgetUnwound();
    }
  }
  finals_.push_back(finalPath);
  TLQ_AT(file_->write(header_));
  linesInPart_ = 0;
}

void TableFiles::put(const LineBlock& lines) {
  if (splitRows_ == 0) {
    file_->write(lines.text);
    return;
  }
  size_t from = 0;
  for (size_t i = 0; i < lines.ends.size();) {
    if (linesInPart_ == splitRows_) startPart();
    // As many lines as the part still takes.
    size_t take = static_cast<size_t>(std::min<uint64_t>(splitRows_ - linesInPart_, lines.ends.size() - i));
    size_t to = lines.ends[i + take - 1];
    file_->write(std::string_view(lines.text).substr(from, to - from));
    linesInPart_ += take;
    from = to;
    i += take;
  }
}

void TableFiles::finish() {
  if (file_) file_->close();
  file_.reset();
}

void TableFiles::commit() {
  TLQ_OP("commit");
  finish();
  for (; committed_ < temps_.size(); ++committed_) {
    if (!renameReplacing(temps_[committed_], finals_[committed_]))
      throw IoError("cannot open: " + finals_[committed_]);
  }
}

}  // namespace tlq
