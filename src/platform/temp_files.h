// Temporary files with random names, for the error report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"

namespace tlq {

// The process-wide generator of random names (xoroshiro128+), seeded once at
// start-up from the system's random source. False when no usable seed came
// in 8 draws.
bool seedRandom();

// A uniform random index in 0 .. 61 into the name alphabet
// "a..zA..Z0..9". Safe to call from several threads.
char randomLetter();

// prefix + `len` random letters + suffix.
std::string randomName(const std::string& prefix, int len, const std::string& suffix);

// The temporary folder: the first of TMP, TEMP, LOCALAPPDATA\Temp and
// USERPROFILE\Temp that names an existing folder (then, outside Windows,
// TMPDIR and /tmp). Raises IoError "unable to find temp directory".
std::string getTempDir();

// A path in `dir` (or the temporary folder when `dir` is empty) named
// prefix + `len` random letters + suffix, at which no file exists now.
// Raises IoError "Unable to find an available temporary file" after 10000
// names.
std::string mktempUnsafe(const std::string& prefix, const std::string& suffix, const std::string& dir,
                         int len);

struct TempFile {
  std::unique_ptr<OutputFile> file;
  std::string path;
};

// Creates a new file with 8 random letters for writing: created exclusively
// (never an existing file, never through a link), readable and writable by
// its owner alone. Raises IoError "Unable to create temporary file" after
// 10000 attempts.
TempFile mkstemp(const std::string& prefix, const std::string& suffix, const std::string& dir);

}  // namespace tlq
