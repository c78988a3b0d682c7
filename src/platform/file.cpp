#include "platform/file.h"

#include "error.h"

namespace tlq {

namespace {
constexpr size_t kBufferSize = 1 << 18;
}

OutputFile::OutputFile(const std::string& path, Create how) : handle_(file_ops::create(path, how)) {
  TLQ_OP("open");
  if (handle_ == -1) throw IoError("cannot open: " + path);
  buffer_.reserve(kBufferSize);
}

OutputFile::~OutputFile() {
  if (handle_ == -1) return;
  flush();  // keeps what was written before an error; nothing more to report here
  file_ops::close(handle_);
}

void OutputFile::write(std::string_view text) {
  TLQ_OP("write");
  if (buffer_.size() + text.size() > kBufferSize && !flush())
    throw IoError("cannot write string to file");
  if (text.size() >= kBufferSize) {
    if (!file_ops::write(handle_, text.data(), text.size())) throw IoError("cannot write string to file");
    return;
  }
  buffer_ += text;
}

void OutputFile::close() {
  if (handle_ == -1) return;
  bool ok = flush();
  ok = file_ops::close(handle_) && ok;
  handle_ = -1;
  if (!ok) throw IoError("cannot write string to file");
}

bool OutputFile::flush() {
  bool ok = buffer_.empty() || file_ops::write(handle_, buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

}  // namespace tlq
