// Files: the recording read through a memory mapping, and buffered binary
// output that is closed on every path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tlq {

// A whole file's bytes, read-only. Mapped where the file allows it, read into
// memory otherwise (a pipe, say).
class MappedFile {
 public:
  // Raises IoError "cannot open: " + path.
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view bytes() const { return {data_, size_}; }

  // True when `path` names this very file, also through a link.
  bool isSameFile(const std::string& path) const;

 private:
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  std::string copy_;  // the bytes when the file could not be mapped
  uint64_t identity_[2] = {0, 0};  // device and file number
};

// A file created (or truncated) for writing, in binary, buffered. What was
// written reaches the file also when the object is destroyed by an error.
class OutputFile {
 public:
  enum class Create {
    truncate,   // an existing file is overwritten
    exclusive,  // the file must not exist yet (no link is followed); only
                // its owner may read and write it
  };

  // Raises IoError "cannot open: " + path.
  explicit OutputFile(const std::string& path, Create how = Create::truncate);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Raises IoError "cannot write string to file".
  void write(std::string_view text);
  // Flushes and closes; raises IoError "cannot write string to file" when
  // that fails. The file is closed either way.
  void close();

 private:
  bool flush();

  intptr_t handle_;
  std::string buffer_;
};

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

// Replaces the file's contents at once: the new text goes to a temporary
// file in the same folder (made, with its parents, when missing), which is
// then renamed over the old one, so that a crash never leaves a torn file.
// Raises OsError with the system's text for what failed.
void replaceFile(const std::string& path, std::string_view contents);

// Low-level calls behind OutputFile, one implementation per platform.
namespace file_ops {
intptr_t create(const std::string& path, OutputFile::Create how);  // -1 on failure
bool write(intptr_t handle, const char* data, size_t size);
bool close(intptr_t handle);
}  // namespace file_ops

}  // namespace tlq
