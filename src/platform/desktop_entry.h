// The files that make a Linux desktop know recordings: a MIME type for
// "*.tlq", a desktop entry that converts one and opens its table, and one
// that converts the recordings in folders. Written per user by --install, and
// shipped in the Debian package.
#pragma once

#include <string>

namespace tlq {

inline constexpr const char* kRecordingMimeType = "application/x-treloqa-recording";

// The shared MIME-info package that names the type.
std::string mimeInfoText();

// The desktop entry; `program` is the program's path (quoted where the
// desktop entry format needs it) or its bare name.
std::string desktopEntryText(const std::string& program);

// The folders' entry, "Convert recordings to CSV": a batch over the folders
// chosen. Its file is named "tlqconverter-batch.desktop".
std::string batchEntryText(const std::string& program);

}  // namespace tlq
