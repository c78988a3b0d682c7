// The running process: its program file, its arguments, its environment and
// the system's random source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tlq {

// The full path of the running program file, and its folder.
std::string getAppFilename();
std::string getAppDir();

// `dir` and `name` joined by the path separator, without doubling it.
std::string joinPath(std::string_view dir, std::string_view name);

// The process's command line as a list: element 0 is the program. Under
// Windows it is split from GetCommandLineW by splitCommandLine; elsewhere it
// is what main received (see setProcessArguments).
std::vector<std::string> processArguments();

// Where the system splits the command line itself: hands main's arguments
// over before anything asks for them.
void setProcessArguments(int argc, char** argv);

// An environment variable's value; nothing when it is not set.
std::optional<std::string> getEnv(const char* name);

// Fills `size` bytes from the system's cryptographic random source.
bool systemRandom(void* bytes, size_t size);

// A folder exists at `path`; a file (not a folder) exists at `path`.
bool dirExists(const std::string& path);
bool fileExists(const std::string& path);

// Deletes a file; false when it could not.
bool removeFile(const std::string& path);

// The system's own words for why the last call to it failed (errno; under
// Windows GetLastError), e.g. "No space left on device". Call it at once,
// before anything else can call the system.
std::string lastSystemError();

// What such words say happened, for a person who is to do something about
// it: another program holds the file (a sharing or lock violation, under
// Windows), no right to change it, no room, nothing of that name (under
// Windows also no such drive or share, or one that is not ready). The words
// are those lastSystemError gives, or the C library's (errno) for files the
// C library wrote.
enum class SystemCause : uint8_t { other, inUse, denied, full, missing };
SystemCause causeOf(const std::string& reason);

}  // namespace tlq
