// The files that make a Linux desktop know recordings: a MIME type for
// "*.tlq" and a desktop entry that converts one and opens its table. Written
// per user by --install, and shipped in the Debian package.
#pragma once

#include <string>

namespace tlq {

inline constexpr const char* kRecordingMimeType = "application/x-treloqa-recording";

// The shared MIME-info package that names the type.
std::string mimeInfoText();

// The desktop entry; `program` is the program's path (quoted where the
// desktop entry format needs it) or its bare name.
std::string desktopEntryText(const std::string& program);

}  // namespace tlq
