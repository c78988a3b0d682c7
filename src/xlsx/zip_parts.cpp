#include "xlsx/zip_parts.h"

#include <unzip.h>

#include <algorithm>
#include <memory>
#include <string_view>

namespace tlq {

namespace {

constexpr std::string_view kRowsStart = "<sheetData>";
constexpr std::string_view kRowsEnd = "</sheetData>";
constexpr std::string_view kSheetEnd = "</worksheet>";

struct ZipCloser {
  void operator()(void* zip) const { unzClose(zip); }
};

// Up to `limit` bytes of the current part (the whole part for a larger
// limit), or nothing when it cannot be read or its checksum fails (which
// the zip layer checks once the whole part is read).
std::optional<std::string> readPart(unzFile zip, uint64_t limit) {
  if (unzOpenCurrentFile(zip) != UNZ_OK) return std::nullopt;
  std::string bytes;
  char buffer[64 << 10];
  bool failed = false;
  while (bytes.size() < limit) {
    int got = unzReadCurrentFile(zip, buffer, sizeof buffer);
    if (got < 0) failed = true;
    if (got <= 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  // The checksum is told only here, and only for a part read to its end.
  if (unzCloseCurrentFile(zip) != UNZ_OK || failed) return std::nullopt;
  return bytes;
}

// An XML part ends with its root element's end tag, or is the root
// element alone, closed in its start tag.
bool endsWhole(std::string_view text) {
  size_t start = 0;
  while ((start = text.find('<', start)) != std::string_view::npos && start + 1 < text.size() &&
         (text[start + 1] == '?' || text[start + 1] == '!'))
    ++start;
  if (start == std::string_view::npos || start + 1 >= text.size()) return false;
  size_t nameEnd = text.find_first_of(" \t\r\n/>", start + 1);
  if (nameEnd == std::string_view::npos) return false;
  std::string_view name = text.substr(start + 1, nameEnd - start - 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  std::string end = "</" + std::string(name) + ">";
  if (text.ends_with(end)) return true;
  return text.ends_with("/>") && text.find('>', start) == text.size() - 1;
}

}  // namespace

std::optional<std::string> cutPart(const std::string& file, const std::vector<SheetRows>& sheets) {
  std::unique_ptr<void, ZipCloser> zip(unzOpen64(file.c_str()));
  if (!zip) return "it cannot be read back as a zip";
  std::vector<bool> seen(sheets.size());
  int step = unzGoToFirstFile(zip.get());
  for (; step == UNZ_OK; step = unzGoToNextFile(zip.get())) {
    unz_file_info64 info{};
    char name[512];
    if (unzGetCurrentFileInfo64(zip.get(), &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
      return "its list of parts cannot be read back";
    std::string_view part(name);
    auto sheet = std::find_if(sheets.begin(), sheets.end(), [&](const SheetRows& s) { return s.part == part; });
    if (sheet != sheets.end()) {
      seen[static_cast<size_t>(sheet - sheets.begin())] = true;
      // The head, up to the rows, is a few hundred bytes; the rows are too
      // many to read back in time, so their count is checked.
      std::optional<std::string> head = readPart(zip.get(), 64 << 10);
      size_t rows = head ? head->find(kRowsStart) : std::string::npos;
      if (rows == std::string::npos) return "its part " + std::string(part) + " lost its head";
      uint64_t least = rows + kRowsStart.size() + sheet->rows + kRowsEnd.size() + kSheetEnd.size();
      if (info.uncompressed_size < least)
        return "its part " + std::string(part) + " holds " + std::to_string(info.uncompressed_size) +
               " bytes of at least " + std::to_string(least);
      continue;
    }
    if (!part.ends_with(".xml") && !part.ends_with(".rels")) continue;
    std::optional<std::string> text = readPart(zip.get(), UINT64_MAX);
    if (!text || text->size() != info.uncompressed_size || !endsWhole(*text))
      return "its part " + std::string(part) + " was cut short";
  }
  if (step != UNZ_END_OF_LIST_OF_FILE) return "its list of parts cannot be read back";
  for (size_t i = 0; i < sheets.size(); ++i)
    if (!seen[i]) return "its part " + sheets[i].part + " is missing";
  return std::nullopt;
}

}  // namespace tlq
