#include "batch/sweep.h"

#include <map>
#include <mutex>
#include <set>
#include <string_view>

#include "platform/file_hold.h"
#include "platform/folders.h"
#include "platform/system.h"

namespace tlq {

namespace {

constexpr std::string_view kPrefix = "tlqconverter_";

// What one listing of a folder found, kept for the rest of the run.
struct FolderScratch {
  std::vector<std::string> temporaries;  // names of temporary files of ours
  std::vector<std::string> libraryFolders;  // names of folders of the workbook library's files
  bool temporariesSwept = false;
  std::set<std::string> asides;  // names of older parts moved aside and left there
};

std::mutex scratchMutex;
std::map<std::string, FolderScratch> scratchByFolder;  // by comparablePath

void take(FolderScratch& scratch, const std::vector<FolderEntry>& entries) {
  for (const FolderEntry& entry : entries) {
    if (entry.link) continue;
    if (entry.kind == PathKind::folder && isScratchName(entry.name, ".dir"))
      scratch.libraryFolders.push_back(entry.name);
    if (entry.kind != PathKind::file) continue;
    if (isScratchName(entry.name, ".old")) scratch.asides.insert(entry.name);
    if (isScratchName(entry.name, ".tmp")) scratch.temporaries.push_back(entry.name);
  }
}

// The folder's scratch, listed on first use; under scratchMutex.
FolderScratch& scratchOf(const std::string& folder) {
  const std::string listed = folder.empty() ? "." : folder;
  auto [at, fresh] = scratchByFolder.try_emplace(comparablePath(listed));
  if (fresh) {
    std::optional<std::vector<FolderEntry>> entries = listFolder(listed);
    if (entries) take(at->second, *entries);
  }
  return at->second;
}

// The library's files in a library folder ("tmp." and letters), then the
// folder; nothing when it holds anything else.
bool removeLibraryFolder(const std::string& path) {
  std::optional<std::vector<FolderEntry>> entries = listFolder(path);
  if (!entries) return false;
  for (const FolderEntry& entry : *entries)
    if (entry.link || entry.kind != PathKind::file || !entry.name.starts_with("tmp.")) return false;
  for (const FolderEntry& entry : *entries) removeFile(joinPath(path, entry.name));
  return removeEmptyFolder(path);
}

// The library folder of a scratch ".tmp", and the other way round.
std::string withSuffix(const std::string& path, std::string_view suffix) {
  return path.substr(0, path.size() - suffix.size()) + std::string(suffix);
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

bool isScratchName(const std::string& name, const char* suffix) {
  std::string_view tail(suffix);
  if (name.size() != kPrefix.size() + kScratchLetters + tail.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(tail))
    return false;
  for (size_t i = kPrefix.size(); i < kPrefix.size() + kScratchLetters; ++i)
    if (!isLetter(name[i])) return false;
  return true;
}

std::string asidePath(const std::string& part, int attempt) {
  // FNV-1a over the name and the attempt: the same letters in every run
  // and on every platform.
  uint64_t hash = 0xcbf29ce484222325u;
  auto mix = [&](unsigned char c) { hash = (hash ^ c) * 0x100000001b3u; };
  for (char c : nameKey(nameOf(part))) mix(static_cast<unsigned char>(c));
  mix(0);
  mix(static_cast<unsigned char>(attempt));
  static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name(kPrefix);
  for (size_t i = 0; i < kScratchLetters; ++i, hash /= kLetters.size()) name += kLetters[hash % kLetters.size()];
  std::string folder = folderOf(part);
  return joinPath(folder.empty() ? "." : folder, name + ".old");
}

LibraryFolder::LibraryFolder(const std::string& temporary) : path_(withSuffix(temporary, ".dir")) {
  // A name of ours that no other file has (the temporary file's letters
  // are its own), so a folder there is one a stopped run left: used again.
  made_ = makeFolders(path_);
  if (!made_) {
    path_ = folderOf(temporary);
    if (path_.empty()) path_ = ".";
  }
}

LibraryFolder::~LibraryFolder() {
  if (made_) removeLibraryFolder(path_);
}

void removeLibraryFolderOf(const std::string& temporary) { removeLibraryFolder(withSuffix(temporary, ".dir")); }

std::vector<std::string> sweepTemporaryFiles(const std::string& folder) {
  std::vector<std::string> names, folders, removed;
  {
    std::lock_guard lock(scratchMutex);
    FolderScratch& scratch = scratchOf(folder);
    if (scratch.temporariesSwept) return removed;
    scratch.temporariesSwept = true;
    names.swap(scratch.temporaries);
    folders.swap(scratch.libraryFolders);
  }
  const std::string base = folder.empty() ? "." : folder;
  for (const std::string& name : names) {
    std::string path = joinPath(base, name);
    if (removeIfAbandoned(path)) removed.push_back(path);
  }
  // A live run's library folder has its temporary file beside it until the
  // folder is gone: one without it was left by a run that was stopped.
  for (const std::string& name : folders) {
    std::string path = joinPath(base, name);
    if (pathInfo(withSuffix(path, ".tmp")).kind == PathKind::missing && removeLibraryFolder(path))
      removed.push_back(path);
  }
  return removed;
}

std::vector<std::string> sweepAsides(const std::vector<std::string>& parts) {
  std::vector<std::string> removed;
  for (const std::string& part : parts) {
    for (int attempt = 0; attempt < kAsideAttempts; ++attempt) {
      std::string aside = asidePath(part, attempt);
      {
        std::lock_guard lock(scratchMutex);
        FolderScratch& scratch = scratchOf(folderOf(part));
        if (!scratch.asides.erase(nameOf(aside))) continue;
      }
      if (removeIfAbandoned(aside)) removed.push_back(aside);
    }
  }
  return removed;
}

void noteListing(const std::string& folder, const std::vector<FolderEntry>& entries) {
  std::lock_guard lock(scratchMutex);
  auto [at, fresh] = scratchByFolder.try_emplace(comparablePath(folder.empty() ? "." : folder));
  if (fresh) take(at->second, entries);
}

bool asidesLeftIn(const std::string& folder) {
  std::lock_guard lock(scratchMutex);
  return !scratchOf(folder).asides.empty();
}

}  // namespace tlq
