// Files of ours that a run is still making (a table's temporary file, an
// older part moved aside while a table goes in) are held for as long as
// their maker lives: a later run tells them from those that a run left when
// it was stopped (killed, a crash, a power cut) and removes only those.
#pragma once

#include <cstdint>
#include <string>

namespace tlq {

class FileHold {
 public:
  enum class State : uint8_t {
    held,   // no other run takes it for abandoned while this object lives
    lost,   // gone, or being removed by a run that took it for abandoned
    none,   // the file system keeps no such holds: nobody can tell, so nobody removes it
  };

  FileHold() = default;
  // Holds the file at `path` (not through a link at its end). POSIX: an
  // exclusive flock on a descriptor of its own, checked to be still the file
  // at `path` once taken. Windows: a handle that reads it, which a removal
  // that wants the file for itself alone cannot get past.
  explicit FileHold(const std::string& path);
  ~FileHold();
  FileHold(FileHold&& other) noexcept;
  FileHold& operator=(FileHold&& other) noexcept;
  FileHold(const FileHold&) = delete;
  FileHold& operator=(const FileHold&) = delete;

  State state() const { return state_; }
  // Lets go at once (as the destructor does).
  void release();

 private:
  static void close(intptr_t handle);  // one implementation per platform

  intptr_t handle_ = -1;
  State state_ = State::none;
};

// Removes the regular file at `path` (never a link, a folder or anything
// else) when no run holds it: its maker has ended. True when it removed it.
bool removeIfAbandoned(const std::string& path);

}  // namespace tlq
