// The files that make a Linux desktop know recordings: a MIME type for
// "*.tlq", desktop entries that convert one and open its table or its
// workbook, and one that converts the recordings in folders. Written per user by --install, and
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

// The second entry for recordings, "Open as workbook": the recording as a
// workbook, opened. Its file is named "tlqconverter-workbook.desktop".
std::string workbookEntryText(const std::string& program);

// The folders' entry, "Convert recordings to CSV": a batch over the folders
// chosen. Its file is named "tlqconverter-batch.desktop".
std::string batchEntryText(const std::string& program);

}  // namespace tlq
