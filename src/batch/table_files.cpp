#include "batch/table_files.h"

#include <algorithm>

#include "batch/sweep.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "platform/temp_files.h"
#include "text.h"

namespace tlq {

std::string tablePartPath(const std::string& csvPath, uint64_t part) {
  if (part <= 1) return csvPath;
  size_t dot = csvPath.size() >= 4 && csvPath.ends_with(".csv") ? csvPath.size() - 4 : csvPath.size();
  return csvPath.substr(0, dot) + "_part" + std::to_string(part) + csvPath.substr(dot);
}

void datePartialTable(const std::string& table, const std::string& recording) {
  PathInfo info = pathInfo(recording);
  if (info.kind == PathKind::file) setModified(table, info.modified - ticksOfSeconds(2));
}

std::chrono::milliseconds tableLockWait() {
  std::optional<std::string> text = getEnv("TLQCONVERTER_LOCK_WAIT");
  std::optional<uint64_t> seconds = text ? parseCount(*text) : std::nullopt;
  return std::chrono::seconds(seconds && *seconds <= 3600 ? *seconds : 30);
}

TableLock::TableLock(const std::string& table) : lock_(folderOf(table), tableLockWait()) {
  if (!lock_.held())
    throw IoError("cannot open: " + table)
        .withReason("another program is putting tables into its folder: waited " +
                    std::to_string(tableLockWait().count() / 1000) + " s");
}

namespace {

// A short name in `folder` for a file of ours that is not finished or is on
// its way out: "tlqconverter_" and 8 random letters, then `suffix`.
std::string scratchName(const std::string& folder, const char* suffix) {
  return joinPath(folder.empty() ? "." : folder, randomName("tlqconverter_", 8, suffix));
}

}  // namespace

void requireReplaceable(const std::string& table) {
  std::string target = linkTarget(table);
  if (std::optional<std::string> why = whyNoFileIn(folderOf(target)))
    throw IoError("cannot open: " + table).withReason(*why);
  refuseUnreplaceable(target, table);
  refuseHeld(target, table);
}

TableFiles::TableFiles(std::string csvPath, std::string header, uint64_t splitRows)
    : csvPath_(std::move(csvPath)), header_(std::move(header)), splitRows_(splitRows) {
  startPart();
}

TableFiles::~TableFiles() {
  file_.reset();
  if (!committed_)
    for (const std::string& temp : temps_) removeFile(temp);
}

void TableFiles::startPart() {
  TLQ_OP("startPart");
  if (file_) TLQ_AT(file_->close());
  file_.reset();
  std::string finalPath = tablePartPath(csvPath_, finals_.size() + 1);
  std::string target = linkTarget(finalPath);
  // Beside the file it replaces, so that the rename stays on one file
  // system; never over another file.
  for (int attempt = 0; !file_; ++attempt) {
    std::string temp = scratchName(folderOf(target), ".tmp");
    FolderMaking making(folderOf(temp), std::chrono::seconds(1));  // a commit holds it for milliseconds
    try {
      file_ = std::make_unique<OutputFile>(temp, OutputFile::Create::fresh);
    } catch (const IoError& e) {
      // Not a name taken meanwhile: the folder takes no file.
      if (attempt == 7) throw IoError("cannot open: " + finalPath).withReason(e.reason());
      TraceFrame::forgetUnwound();
      continue;
    }
    FileHold hold(temp);
    if (hold.state() == FileHold::State::lost && attempt < 7) {
      // Taken for left over by a run sweeping the folder (it removes it)
      // before the hold was in place: another name.
      file_.reset();
      continue;
    }
    temps_.push_back(temp);
    holds_.push_back(std::move(hold));
  }
  file_->nameAs(finalPath);  // a person knows the table, not our temporary file
  finals_.push_back(finalPath);
  targets_.push_back(target);
  TLQ_AT(file_->write(header_));
  linesInPart_ = 0;
}

void TableFiles::put(const LineBlock& lines) {
  try {
    write(lines);
  } catch (...) {
    torn_ = true;  // what reached the file is not known: never a table
    throw;
  }
}

void TableFiles::write(const LineBlock& lines) {
  if (splitRows_ == 0) {
    file_->write(lines.text);
    return;
  }
  size_t from = 0;
  for (size_t i = 0; i < lines.ends.size();) {
    if (linesInPart_ == splitRows_) startPart();
    // As many lines as the part still takes.
    size_t take = static_cast<size_t>(std::min<uint64_t>(splitRows_ - linesInPart_, lines.ends.size() - i));
    size_t to = lines.ends[i + take - 1];
    file_->write(std::string_view(lines.text).substr(from, to - from));
    linesInPart_ += take;
    from = to;
    i += take;
  }
}

void TableFiles::finish() {
  try {
    if (file_) file_->close();
  } catch (...) {
    torn_ = true;
    file_.reset();
    throw;
  }
  file_.reset();
}

std::string TableFiles::finishForWriter() {
  finish();
  return temps_.back();
}

// Undoes a commit that failed: the new parts in place from `inFrom` on are
// taken out again, and the older files moved aside before `asideUpTo` go
// back to their names. Returns what could not be put back ("" when all
// was), for the failure's reason: those older files stay where they are.
std::string TableFiles::putBack(size_t asideUpTo, size_t inFrom) {
  for (size_t i = inFrom; i < targets_.size(); ++i) removeFile(targets_[i]);
  std::string kept;
  for (size_t i = 0; i < asideUpTo; ++i) {
    if (asides_[i].empty() || renameFresh(asides_[i], targets_[i])) continue;
    std::string reason = lastSystemError();
    kept += "; the older " + finals_[i] + " could not be put back (" + reason + ") and is kept as " + asides_[i];
  }
  return kept;
}

// Only the folder whose lock the commit holds: no live run is making a
// file there meanwhile (FolderMaking).
void TableFiles::sweep() {
  for (std::string& path : sweepTemporaryFiles(folderOf(csvPath_))) swept_.push_back(std::move(path));
}

void TableFiles::makeDurable() {
  TLQ_OP("makeDurable");
  if (durable_) return;
  TLQ_AT(finish());
  for (const std::string& temp : temps_) {
    if (!syncFile(temp)) {
      std::string reason = lastSystemError();
      torn_ = true;
      throw IoError("cannot write string to file").withReason(reason);
    }
  }
  durable_ = true;
}

std::vector<std::string> TableFiles::folders() const {
  std::vector<std::string> all;
  for (const std::string& target : targets_) {
    std::string folder = folderOf(target);
    if (std::find(all.begin(), all.end(), folder) == all.end()) all.push_back(folder);
  }
  return all;
}

void TableFiles::commit() {
  TLQ_OP("commit");
  TLQ_AT(makeDurable());
  {
    TableLock lock = TLQ_AT(TableLock(csvPath_));
    TLQ_AT(commitLocked());
  }
  for (const std::string& folder : folders()) syncFolder(folder);
}

void TableFiles::commitLocked() {
  TLQ_OP("commit");
  TLQ_AT(makeDurable());
  sweep();
  // Refused before anything moves: what the single conversion could not
  // write either.
  for (size_t i = 0; i < targets_.size(); ++i) TLQ_AT(prepareReplacement(targets_[i], temps_[i], finals_[i]));
  if (targets_.size() == 1) {  // one rename: the name shows the older table or the new one, never neither
    if (!renameReplacing(temps_[0], targets_[0])) {
      std::string reason = lastSystemError();
      throw IoError("cannot open: " + finals_[0]).withReason(reason);
    }
    committed_ = true;
    for (std::string& path : sweepAsides(targets_)) swept_.push_back(std::move(path));
    return;
  }
  asides_.assign(targets_.size(), "");
  for (size_t i = 0; i < targets_.size(); ++i) {
    if (pathInfo(targets_[i]).kind == PathKind::missing) continue;
    // A name of its own part's: should this run be stopped now, a later one
    // knows the older file for this table's and removes it once the table
    // is whole again.
    bool moved = false;
    for (int attempt = 0; attempt < kAsideAttempts && !moved; ++attempt) {
      std::string aside = asidePath(targets_[i], attempt);
      if (!renameFresh(targets_[i], aside)) continue;
      asides_[i] = aside;
      asideHolds_.emplace_back(aside);
      moved = true;
    }
    if (!moved) {
      std::string reason = lastSystemError();
      throw IoError("cannot open: " + finals_[i]).withReason(reason + putBack(i, targets_.size()));
    }
  }
  // The first part last: until it is in, the table's name shows none, so
  // that a crash in between leaves a table that --update converts again,
  // not a short one.
  for (size_t i = targets_.size(); i-- > 0;) {
    if (!renameFresh(temps_[i], targets_[i])) {
      std::string reason = lastSystemError();
      throw IoError("cannot open: " + finals_[i]).withReason(reason + putBack(targets_.size(), i + 1));
    }
  }
  committed_ = true;
  for (const std::string& aside : asides_)
    if (!aside.empty()) removeFile(aside);
  asideHolds_.clear();
  for (std::string& path : sweepAsides(targets_)) swept_.push_back(std::move(path));
}

void TableFiles::commitPartial(const std::string& recording) {
  if (file_ && !file_->abandon()) torn_ = true;
  file_.reset();
  // Lines that did not all reach the disk (a full disk, a failing write)
  // are no table: the older one stays, and the temporary files go.
  if (torn_) return;
  try {
    PathInfo info = pathInfo(recording);
    for (const std::string& temp : temps_)
      if (info.kind == PathKind::file) setModified(temp, info.modified - ticksOfSeconds(2));
    TableLock lock(csvPath_);
    commitLocked();
  } catch (const Error&) {
    // The table that could not go in is given up with its temporary files.
  }
  TraceFrame::forgetUnwound();
}
}  // namespace tlq
