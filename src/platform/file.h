// Files: the recording read through a memory mapping, and buffered binary
// output that is closed on every path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tlq {

// A regular file's bytes, read-only, through a memory mapping. The file stays
// open while the object lives, so that a change to it can be noticed.
class MappedFile {
 public:
  // Raises IoError "cannot open: " + path, also at once for anything but a
  // regular file (a pipe, a device, a socket, a folder).
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view bytes() const { return {data_, size_}; }

  // True when `path` names this very file, also through a link.
  bool isSameFile(const std::string& path) const;

  // True when `path` still names this very file, with the size and the time
  // of the last change it had when it was opened: false when another file
  // was put in its place (renamed over it) since.
  bool stillAt(const std::string& path) const;

  // True when the file is no longer what `bytes` shows: its size or its time
  // of last change differ, or another program cut it short under the mapping. Bytes lost that way
  // read as zeros instead of stopping the program, so whatever was made from
  // them must be checked with this before it is trusted.
  bool changed() const;

  // The file as it was when it was opened: its identity, its time of last
  // change and its size. Another file put in its place, or a change to it,
  // gives another version.
  struct Version {
    uint64_t identity[2] = {0, 0};  // device and file number (under Windows: volume and file index)
    uint64_t modified[2] = {0, 0};  // time of the last change, as the system gives it
    uint64_t size = 0;
    bool operator==(const Version&) const = default;
  };
  const Version& version() const { return opened_; }

 private:
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  std::string copy_;  // the bytes when the file could not be mapped
  intptr_t handle_ = -1;
  int guard_ = -1;  // where the mapping is watched for lost pages, if it is
  Version opened_;
};

// A file created (or truncated) for writing, in binary, buffered. What was
// written reaches the file also when the object is destroyed by an error.
class OutputFile {
 public:
  enum class Create {
    truncate,   // an existing file is overwritten
    exclusive,  // the file must not exist yet (no link is followed); only
                // its owner may read and write it
    fresh,      // the file must not exist yet (no link is followed); made as
                // `truncate` makes it
  };

  // Raises IoError "cannot open: " + path.
  explicit OutputFile(const std::string& path, Create how = Create::truncate);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Raises IoError "cannot write string to file", with the file's path
  // (Error::path).
  void write(std::string_view text);
  // Flushes and closes; raises IoError "cannot write string to file" (with
  // the path, as above) when that fails. The file is closed either way.
  void close();
  // Flushes and closes on a way out that reports something else already:
  // raises nothing. True when what it held reached the file.
  bool abandon();
  // The name a failure to write names (Error::path): the file's own path,
  // or the table a temporary file is made for.
  void nameAs(std::string path) { path_ = std::move(path); }

 private:
  bool flush();
  void writeBack();

  intptr_t handle_;
  std::string path_;
  std::string buffer_;
  uint64_t written_ = 0, writtenBack_ = 0;  // bytes handed to the system; those it was told to write back
};

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

// Replaces the file's contents at once: the new text goes to a temporary
// file in the same folder (made, with its parents, when missing), which is
// then renamed over the old one, so that a crash never leaves a torn file.
// Raises OsError with the system's text for what failed.
void replaceFile(const std::string& path, std::string_view contents);

// The size of the file an open C stream writes (what it has handed the
// system: flush it first); nothing when the system cannot tell.
std::optional<uint64_t> streamSize(std::FILE* stream);

// Whether `bytes` can be had on the disk of `folder` now: a file of that
// size is allocated there (one without a name where the system makes such
// files, else one removed as soon as it is made) and given up again.
// Nothing when they can, else the system's reason ("No space left on
// device").
std::optional<std::string> spaceFor(const std::string& folder, uint64_t bytes);

// Makes the file's contents durable (on the disk, not only in the system's
// cache), so that a crash of the system cannot leave it empty or short
// under its name. False, with the system's reason in lastSystemError(), when
// it cannot.
bool syncFile(const std::string& path);

// Low-level calls behind OutputFile, one implementation per platform.
namespace file_ops {
intptr_t create(const std::string& path, OutputFile::Create how);  // -1 on failure
bool write(intptr_t handle, const char* data, size_t size);
// Starts the system writing the file's `size` bytes from `offset` to the
// disk, without waiting for it (nothing where the system has no such call):
// the sync that makes the file durable then has little left to wait for.
void startWriteback(intptr_t handle, uint64_t offset, uint64_t size);
bool close(intptr_t handle);
}  // namespace file_ops

}  // namespace tlq
