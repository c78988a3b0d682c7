// A recording: a JSON document whose "data" array lists the samples.
//
// The file is mapped and read in two passes over its bytes, and no tree of
// the whole document is ever built. The first pass validates the JSON text
// and notes what the column scans need; the second streams the entries of
// "data" one by one, each holding only the members the conversion reads.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "platform/file.h"

namespace tlq {

// A member of a sensor object, as the conversion reads it.
struct JsonField {
  enum class Type : uint8_t { absent, string, number, other };
  Type type = Type::absent;
  std::string_view text;  // when a string: in the recording's text, or in `copy`
  std::string copy;       // a string that had escapes, unescaped
  double number = 0;      // when a number

  JsonField() = default;
  JsonField(const JsonField& other) { *this = other; }
  JsonField& operator=(const JsonField& other) {
    bool copied = other.text.data() == other.copy.data();
    type = other.type;
    copy = other.copy;
    text = copied ? std::string_view(copy) : other.text;
    number = other.number;
    return *this;
  }

  bool present() const { return type != Type::absent; }
  // Forgets the value but keeps the copy's buffer for the next entry.
  void reset() {
    type = Type::absent;
    text = {};
    copy.clear();
  }
  // The text of the node; empty for anything but a string.
  std::string_view textOf() const { return type == Type::string ? text : ""; }
  // The value of the node; 0 for anything but a number.
  double numberOf() const { return type == Type::number ? number : 0.0; }
};

// The keys of an entry's sensors, in the order of RecordingEntry's
// members, and the keys a sensor's fields have, in the order of
// SensorObject's members.
inline constexpr std::string_view kSensorKeys[] = {"inclino", "inclino2", "force", "dlen"};
inline constexpr std::string_view kFieldKeys[] = {"raw", "timestamp", "val1", "val2"};

// "inclino", "inclino2", "force" or "dlen" of one entry.
struct SensorObject {
  enum class Shape : uint8_t { absent, object, notObject };
  Shape shape = Shape::absent;
  JsonField raw, timestamp, val1, val2;

  void reset() {
    shape = Shape::absent;
    for (JsonField* f : {&raw, &timestamp, &val1, &val2}) f->reset();
  }
};

// Consecutive entries of "data" that can be walked on their own.
struct EntryRange {
  static constexpr size_t wholeDocument = static_cast<size_t>(-1);
  size_t first = 0;  // index of the first entry
  size_t count = 0;
  size_t offset = wholeDocument;  // where the first entry starts in the text
};

// How the second pass reads entries.
enum class EntryReader : uint8_t { quick, fullParser };

struct RecordingEntry {
  size_t index = 0;
  bool isObject = true;
  SensorObject inclino, inclino2, force, dlen;
};

// What a recording whose text ends early or breaks still gives, when asked
// to salvage it: the entries of "data" before the fault whose end was read
// (an object's closing brace), and the fault as its parse error words it.
struct Salvage {
  size_t entries = 0;
  std::string fault;  // "invalid JSON at line 3, column 14: ..."
};

// "12 entries before the fault (MESSAGE); the rest is lost".
std::string salvageText(const Salvage& salvage);

// The error of a recording that changed while it was read (in place, or
// another file renamed over it): IoError "cannot read: " + path + " (the file
// changed while it was read)".
IoError recordingChanged(const std::string& path, std::source_location where = std::source_location::current());

class Recording {
 public:
  // Nesting deeper than this is a parse error, long before the stack is at
  // risk (a recording is four levels deep).
  static constexpr size_t kMaxDepth = 1000;

  struct Checked;

  // Reads and validates the file, on as many threads as `threadsFor` gives
  // for the text's size (by default one). Raises IoError "cannot open: " +
  // path, or JsonParseError naming the line and column and what was expected
  // there. With `salvage`, a text that ends early or breaks after the "data"
  // array began is no failure: the recording is then what came before the
  // fault, its complete entries alone (salvaged() tells), as if it held only
  // those. A fault before the array raises as without.
  // With `earlier`, what an earlier read of the same path learned: taken
  // instead of a first pass when the file opened is the version it was.
  explicit Recording(const std::string& path, const std::function<unsigned(size_t bytes)>& threadsFor = {},
                     bool salvage = false, const Checked* earlier = nullptr);

  // What was salvaged, when the text broke and `salvage` was asked.
  const std::optional<Salvage>& salvaged() const { return salvaged_; }

  // True when an entry of "data" has a member "inclino2" (or "dlen"). Like
  // a walk from the first entry that stops at the first hit, these raise
  // when the document is not an object, "data" is missing or not an array,
  // or an entry before the first hit is not an object.
  bool hasInclino2() const;
  bool hasElasto() const;

  // The size of the JSON text in bytes.
  size_t size() const { return json_.size(); }

  // The number of entries in "data".
  size_t entries() const { return summary_.entries; }

  // True when `path` names the recording's own file.
  bool isFile(const std::string& path) const { return file_.isSameFile(path); }

  // Raises IoError "cannot read: " + path + " (the file changed while it was
  // read)" when another program has changed the file's size since it was
  // opened: what was read from it since then cannot be trusted. The first
  // pass checks this itself; whoever uses entries checks it before keeping
  // what it made of them.
  void requireUnchanged() const;

  // Raises the same IoError when the recording's path no longer names the
  // file that was read, as it was then (its identity, size and time of last
  // change): another file was renamed over it. A table made from the file
  // read would otherwise look newer than the recording at that path. Checked
  // once it is all read, before its table is kept.
  void requireUnreplaced() const;

  // Calls `visit` for every entry of "data" in the range (by default all of
  // them), in order. The entry is valid during the call only. Ranges from
  // `ranges` may be walked on several threads at once. Entries are read by
  // a quick scan where their shape allows, else by the full parser; tests
  // ask for the full parser alone to compare the two.
  void forEachEntry(const std::function<void(const RecordingEntry&)>& visit,
                    const EntryRange& range = EntryRange(), EntryReader reader = EntryReader::quick) const;

  // The entries of "data" cut into ranges of about `bytes` of text each (a
  // range is never shorter than the distance between two entries the first
  // pass marked: at most 4,096 marks are kept, so one range in 4,096 at
  // worst). Empty when there are no entries, or when the first cannot be
  // placed (a "data" key written with escapes; such recordings are walked
  // whole).
  std::vector<EntryRange> ranges(size_t bytes) const;

  // Where an entry starts in the text.
  struct Mark {
    size_t index;
    size_t offset;
  };

  // What the first pass learned; public for the walker that fills it.
  struct Summary {
    static constexpr size_t none = static_cast<size_t>(-1);
    bool topIsObject = false;
    size_t dataMembers = 0;  // "data" members of the top level; the last one counts
    bool dataIsArray = false;
    size_t firstNonObject = none;  // index of the first entry that is not an object
    size_t firstInclino2 = none;
    size_t firstDlen = none;
    size_t entries = 0;       // in the "data" array that counts
    size_t completeEntries = 0;  // of those, the ones whose end was read (all, once the array closed)
    size_t faultAt = none;       // where the parser stopped when the text breaks
    std::vector<Mark> marks;  // of some of those entries, by rising index
  };

  // What the first pass learned of a recording's text, and the version of
  // its file that text was: a recording read again while its file is that
  // version still need not be checked again.
  struct Checked {
    MappedFile::Version file;
    Summary summary;
  };
  // Its own, where it can be taken again: not where the text had to be
  // copied for the parser or was salvaged.
  std::optional<Checked> checked() const;

 private:
  void requireData() const;
  bool scan(size_t firstHit) const;

  std::string path_;
  MappedFile file_;
  std::string copy_;  // the text, where the parser could not take it as it stands
  std::string_view json_;
  Summary summary_;
  std::optional<Salvage> salvaged_;
};

// Validates JSON text as a recording's first pass does; raises the same
// JsonParseError. For tests and tools.
void validateJson(std::string_view text);

// Validates JSON text as a recording's first pass does, then calls `visit`
// for every entry of its "data" array as Recording::forEachEntry does; raises
// the same errors. For tests and tools.
void readEntries(std::string_view text, const std::function<void(const RecordingEntry&)>& visit,
                 EntryReader reader = EntryReader::quick);

}  // namespace tlq
