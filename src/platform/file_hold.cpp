#include "platform/file_hold.h"

#include <utility>

namespace tlq {

FileHold::~FileHold() { release(); }

FileHold::FileHold(FileHold&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), state_(std::exchange(other.state_, State::none)) {}

FileHold& FileHold::operator=(FileHold&& other) noexcept {
  if (this != &other) {
    release();
    handle_ = std::exchange(other.handle_, -1);
    state_ = std::exchange(other.state_, State::none);
  }
  return *this;
}

void FileHold::release() {
  if (handle_ != -1) close(handle_);
  handle_ = -1;
}

}  // namespace tlq
