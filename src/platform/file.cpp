#include "platform/file.h"

#include "error.h"
#include "platform/system.h"

namespace tlq {

namespace {
constexpr size_t kBufferSize = 1 << 18;
// Written back as it goes in steps of this: a long table is then mostly on
// the disk when it is made durable, instead of all of it then, at the end.
constexpr uint64_t kWritebackStep = 8 << 20;
}

OutputFile::OutputFile(const std::string& path, Create how) : handle_(file_ops::create(path, how)), path_(path) {
  // The system's reason, before anything else can call the system (a trace
  // frame does, under Windows).
  std::string reason = handle_ == -1 ? lastSystemError() : std::string();
  TLQ_OP("open");
  if (handle_ == -1) throw IoError("cannot open: " + path).withReason(reason);
  buffer_.reserve(kBufferSize);
}

OutputFile::~OutputFile() {
  if (handle_ == -1) return;
  flush();  // keeps what was written before an error; nothing more to report here
  file_ops::close(handle_);
}

void OutputFile::write(std::string_view text) {
  TLQ_OP("write");
  if (buffer_.size() + text.size() > kBufferSize && !flush()) {
    std::string reason = lastSystemError();
    throw IoError("cannot write string to file").withReason(reason).withPath(path_);
  }
  if (text.size() >= kBufferSize) {
    if (!file_ops::write(handle_, text.data(), text.size())) {
      std::string reason = lastSystemError();
      throw IoError("cannot write string to file").withReason(reason).withPath(path_);
    }
    written_ += text.size();
    writeBack();
    return;
  }
  buffer_ += text;
}

void OutputFile::close() {
  if (handle_ == -1) return;
  bool ok = flush();
  std::string reason = ok ? "" : lastSystemError();
  if (!file_ops::close(handle_) && ok) {
    ok = false;
    reason = lastSystemError();
  }
  handle_ = -1;
  if (!ok) throw IoError("cannot write string to file").withReason(reason).withPath(path_);
}

bool OutputFile::abandon() {
  if (handle_ == -1) return true;
  const bool flushed = flush();
  const bool closed = file_ops::close(handle_);
  handle_ = -1;
  return flushed && closed;
}

bool OutputFile::flush() {
  bool ok = buffer_.empty() || file_ops::write(handle_, buffer_.data(), buffer_.size());
  if (ok) written_ += buffer_.size();
  buffer_.clear();
  if (ok) writeBack();
  return ok;
}

void OutputFile::writeBack() {
  if (written_ - writtenBack_ < kWritebackStep) return;
  file_ops::startWriteback(handle_, writtenBack_, written_ - writtenBack_);
  writtenBack_ = written_;
}

}  // namespace tlq
