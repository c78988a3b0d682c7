#include "reader/recording.h"

#include <boost/json/basic_parser_impl.hpp>

#include <algorithm>
#include <charconv>
#include <thread>
#include <vector>

#include "error.h"
#include "reader/entry_check.h"
#include "reader/entry_scan.h"
#include "reader/json_error.h"
#include "reader/json_text.h"

namespace tlq {
namespace {

namespace json = boost::json;
using Summary = Recording::Summary;
using Visit = std::function<void(const RecordingEntry&)>;

// Entry marks kept at most; beyond, every other one is dropped (the first
// stays), so that they stay evenly spread.
constexpr size_t kMaxMarks = 4096;

void thinOut(std::vector<Recording::Mark>& marks) {
  while (marks.size() > kMaxMarks) {
    for (size_t i = 1; 2 * i < marks.size(); ++i) marks[i] = marks[2 * i];
    marks.resize((marks.size() + 1) / 2);
  }
}

// The SAX handler of both passes. It follows the nesting depth: the
// document's top object is depth 1, the "data" array depth 2, an entry
// depth 3 and a sensor object depth 4; anything else is skipped over.
class Walker {
 public:
  static constexpr size_t max_object_size = static_cast<size_t>(-1);
  static constexpr size_t max_array_size = static_cast<size_t>(-1);
  static constexpr size_t max_key_size = static_cast<size_t>(-1);
  static constexpr size_t max_string_size = static_cast<size_t>(-1);

  // With `visit`, streams the entries of the "data" member numbered
  // `streamedData` (counting from 1); without, marks where some entries
  // start in `text`, the whole text being parsed.
  Walker(Summary& summary, const Visit* visit, size_t streamedData, std::string_view text)
      : summary_(summary), visit_(visit), streamedData_(streamedData), text_(text), marking_(!visit) {}

  // Parses entries one by one from here on, the first one numbered `index`:
  // the text given to the parser starts inside the "data" array that counts.
  void startAtEntry(size_t index) {
    depth_ = 2;
    dataOpen_ = true;
    streaming_ = visit_ != nullptr;
    nextIndex_ = index;
  }

  // True between two entries of the "data" array that counts.
  bool inEntries() const { return depth_ == 2 && dataOpen_; }

  // An entry of the "data" array that counts, an object starting at
  // `offset`, read by the quick check instead of the parser: noted as the
  // parser's events would note it.
  void checkedEntry(size_t offset, const EntryFacts& facts) {
    valueStarts(true, true);
    if (facts.anyMember && marking_ && markWanted_) addMark(entry_.index, offset);
    if (facts.inclino2) summary_.firstInclino2 = std::min(summary_.firstInclino2, entry_.index);
    if (facts.dlen) summary_.firstDlen = std::min(summary_.firstDlen, entry_.index);
    firstKey_ = entryOpen_ = false;
  }

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) { return beginContainer(true); }
  bool on_array_begin(json::error_code&) { return beginContainer(false); }
  bool on_object_end(size_t, json::error_code&) { return endContainer(); }
  bool on_array_end(size_t, json::error_code&) { return endContainer(); }

  bool on_key_part(json::string_view s, size_t, json::error_code&) {
    if (wantsKey()) key_.append(s.data(), s.size());
    return true;
  }
  bool on_key(json::string_view s, size_t, json::error_code&) {
    if (wantsKey()) {
      std::string_view key(s.data(), s.size());
      bool whole = key_.empty();  // no part came before
      if (!whole) key = key_.append(key);
      if (depth_ == 1) firstEntryAt_ = Summary::none;
      if (marking_ && whole) markAtKey(key);
      onKey(key);
    }
    key_.clear();
    return true;
  }

  bool on_string_part(json::string_view s, size_t, json::error_code&) {
    if (field_) field_->copy.append(s.data(), s.size());
    stringParts_ = true;
    return true;
  }
  bool on_string(json::string_view s, size_t, json::error_code&) {
    if (field_) {
      // A string without escapes is a view of the text itself; others are
      // unescaped into a copy.
      if (!stringParts_ && inText(s.data())) {
        field_->text = {s.data(), s.size()};
      } else {
        field_->copy.append(s.data(), s.size());
        field_->text = field_->copy;
      }
    }
    stringParts_ = false;
    return scalar(JsonField::Type::string, 0);
  }
  bool on_number_part(json::string_view, json::error_code&) { return true; }
  bool on_int64(int64_t v, json::string_view, json::error_code&) {
    return scalar(JsonField::Type::number, static_cast<double>(v));
  }
  bool on_uint64(uint64_t v, json::string_view, json::error_code&) {
    return scalar(JsonField::Type::number, static_cast<double>(v));
  }
  bool on_double(double v, json::string_view s, json::error_code&) {
    // The parser's own conversion is fast but not always correctly rounded.
    if (field_) std::from_chars(s.data(), s.data() + s.size(), v);
    return scalar(JsonField::Type::number, v);
  }
  bool on_bool(bool, json::error_code&) { return scalar(JsonField::Type::other, 0); }
  bool on_null(json::error_code&) { return scalar(JsonField::Type::other, 0); }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

 private:
  bool wantsKey() const {
    return depth_ == 1 || (depth_ == 3 && entryOpen_) || (depth_ == 4 && sensorOpen_);
  }

  void onKey(std::string_view key) {
    if (depth_ == 1) {
      dataNext_ = key == "data";
    } else if (depth_ == 3) {
      firstKey_ = false;
      pendingSensor_ = nullptr;
      if (key == "inclino2") summary_.firstInclino2 = std::min(summary_.firstInclino2, entry_.index);
      if (key == "dlen") summary_.firstDlen = std::min(summary_.firstDlen, entry_.index);
      if (!streaming_) return;
      if (key == "inclino") pendingSensor_ = &entry_.inclino;
      else if (key == "inclino2") pendingSensor_ = &entry_.inclino2;
      else if (key == "force") pendingSensor_ = &entry_.force;
      else if (key == "dlen") pendingSensor_ = &entry_.dlen;
      if (pendingSensor_) pendingSensor_->reset();  // the last of equal names counts
    } else {
      field_ = nullptr;
      if (key == "raw") field_ = &sensor_->raw;
      else if (key == "timestamp") field_ = &sensor_->timestamp;
      else if (key == "val1") field_ = &sensor_->val1;
      else if (key == "val2") field_ = &sensor_->val2;
      if (field_) field_->reset();
    }
  }

  // True when `p` points into the text being parsed, past its first byte.
  bool inText(const char* p) const {
    auto at = reinterpret_cast<uintptr_t>(p), base = reinterpret_cast<uintptr_t>(text_.data());
    return at > base && at <= base + text_.size();
  }

  // Entries are marked where a key shows their position: the parser hands a
  // key over as a view of the text itself when it holds no escapes. The
  // "data" key places the first entry; an entry's first key, its own.
  void markAtKey(std::string_view key) {
    if (!inText(key.data()) || key.data()[-1] != '"') return;  // a copy
    size_t pos = static_cast<size_t>(key.data() - text_.data()) - 1;  // the opening quote
    if (depth_ == 1 && key == "data") {
      size_t i = pos + key.size() + 2;
      auto expect = [&](char c) {
        while (i < text_.size() && isJsonSpace(text_[i])) ++i;
        return i < text_.size() && text_[i++] == c;
      };
      if (!expect(':') || !expect('[')) return;
      while (i < text_.size() && isJsonSpace(text_[i])) ++i;
      firstEntryAt_ = i;
    } else if (depth_ == 3 && firstKey_ && markWanted_) {
      while (pos > 0 && isJsonSpace(text_[pos - 1])) --pos;
      if (pos > 0 && text_[pos - 1] == '{') addMark(entry_.index, pos - 1);
    }
  }

  void addMark(size_t index, size_t offset) {
    std::vector<Recording::Mark>& marks = summary_.marks;
    marks.push_back({index, offset});
    markWanted_ = false;
    if (marks.size() > kMaxMarks) {  // keep every other one, and mark half as often
      thinOut(marks);
      markEvery_ *= 2;
    }
    nextMark_ = marks.back().index + markEvery_;
  }

  // Called as each value starts, before a container raises the depth.
  void valueStarts(bool container, bool object) {
    switch (depth_) {
      case 0:
        summary_.topIsObject = object;
        break;
      case 1:
        if (!dataNext_) break;
        dataNext_ = false;
        ++summary_.dataMembers;
        summary_.dataIsArray = container && !object;
        summary_.firstNonObject = summary_.firstInclino2 = summary_.firstDlen = Summary::none;
        dataOpen_ = summary_.dataIsArray;
        streaming_ = dataOpen_ && visit_ && summary_.dataMembers == streamedData_;
        nextIndex_ = summary_.entries = summary_.completeEntries = 0;
        summary_.marks.clear();
        markEvery_ = 1;
        nextMark_ = 0;
        markWanted_ = false;
        if (marking_ && dataOpen_ && firstEntryAt_ != Summary::none) addMark(0, firstEntryAt_);
        break;
      case 2:
        if (!dataOpen_) break;
        // The entry before this one ended: the parser read what follows it.
        summary_.completeEntries = entry_.index = nextIndex_++;
        summary_.entries = nextIndex_;
        if (marking_) {
          firstKey_ = object;
          markWanted_ = markWanted_ || entry_.index >= nextMark_;
        }
        if (streaming_)
          for (SensorObject* sensor : {&entry_.inclino, &entry_.inclino2, &entry_.force, &entry_.dlen}) sensor->reset();
        if (!object) {
          summary_.firstNonObject = std::min(summary_.firstNonObject, entry_.index);
          if (streaming_) emit(false);
        } else {
          entryOpen_ = true;
        }
        break;
      case 3:
        if (!pendingSensor_) break;
        pendingSensor_->shape = object ? SensorObject::Shape::object : SensorObject::Shape::notObject;
        if (object) {
          sensor_ = pendingSensor_;
          sensorOpen_ = true;
        }
        pendingSensor_ = nullptr;
        break;
      case 4:
        if (field_ && container) {
          field_->type = JsonField::Type::other;
          field_ = nullptr;
        }
        break;
      default:
        break;
    }
  }

  bool beginContainer(bool object) {
    valueStarts(true, object);
    ++depth_;
    return true;
  }

  bool endContainer() {
    --depth_;
    if (depth_ == 3) sensorOpen_ = false;
    if (depth_ == 2 && entryOpen_) {
      entryOpen_ = false;
      summary_.completeEntries = entry_.index + 1;  // its closing brace read
      if (streaming_) emit(true);
    }
    if (depth_ == 1 && dataOpen_) summary_.completeEntries = summary_.entries;
    if (depth_ == 1) dataOpen_ = streaming_ = false;
    return true;
  }

  bool scalar(JsonField::Type type, double number) {
    valueStarts(false, false);
    if (field_ && depth_ == 4) {
      field_->type = type;
      field_->number = number;
      field_ = nullptr;
    }
    return true;
  }

  void emit(bool isObject) {
    entry_.isObject = isObject;
    (*visit_)(entry_);
  }

  Summary& summary_;
  const Visit* visit_;
  size_t streamedData_;
  std::string_view text_;
  bool marking_;
  size_t firstEntryAt_ = Summary::none;  // after the last "data" key read
  size_t markEvery_ = 1;
  size_t nextMark_ = 0;
  bool markWanted_ = false;
  bool firstKey_ = false;  // the next key is an entry's first
  bool stringParts_ = false;  // of the string being read
  size_t depth_ = 0;
  bool dataNext_ = false;
  bool dataOpen_ = false;
  bool streaming_ = false;
  bool entryOpen_ = false;
  bool sensorOpen_ = false;
  size_t nextIndex_ = 0;
  std::string key_;
  RecordingEntry entry_;
  SensorObject* pendingSensor_ = nullptr;
  SensorObject* sensor_ = nullptr;
  JsonField* field_ = nullptr;
};

JsonFault faultOf(const json::error_code& ec) {
  if (ec == json::error::too_deep) return JsonFault::tooDeep;
  if (ec == json::error::incomplete) return JsonFault::incomplete;
  if (ec == json::error::illegal_leading_surrogate || ec == json::error::illegal_trailing_surrogate)
    return JsonFault::badSurrogate;
  return JsonFault::syntax;
}

// Raised by a walk that met a number whose exponent is beyond what the
// parser takes (about ±2^31): a valid number all the same.
struct ExponentBeyondTheParser {};

// One pass over the whole text. The first pass validates; later ones may
// skip the UTF-8 checks.
// Where the text breaks off or breaks, the summary tells what came before:
// its `faultAt` is where the parser stopped.
void walk(std::string_view text, Summary& summary, const Visit* visit, size_t streamedData, bool validate) {
  json::parse_options options;
  options.max_depth = Recording::kMaxDepth;
  options.allow_invalid_utf8 = !validate;
  json::basic_parser<Walker> parser(options, summary, visit, streamedData, text);
  json::error_code ec;
  size_t used = parser.write_some(false, text.data(), text.size(), ec);
  if (ec == json::error::exponent_overflow) throw ExponentBeyondTheParser();
  if (ec) {
    summary.faultAt = used;
    throw JsonParseError(describeJsonError(text, used, faultOf(ec), Recording::kMaxDepth));
  }
  while (used < text.size() && isJsonSpace(text[used])) ++used;
  if (used < text.size()) {
    summary.faultAt = used;
    throw JsonParseError(describeJsonError(text, used, JsonFault::trailingText, Recording::kMaxDepth));
  }
}

// The entries of the "data" member numbered `streamedData`, in a walk of
// the valid beginning of a text that breaks at `end`: the parser is told
// that more may follow, so that it stops there without a fault, and an entry
// it has not seen the end of is not handed over.
void walkBeginning(std::string_view text, size_t end, const Visit& visit, size_t streamedData) {
  json::parse_options options;
  options.max_depth = Recording::kMaxDepth;
  options.allow_invalid_utf8 = true;
  Summary unused;
  json::basic_parser<Walker> parser(options, unused, &visit, streamedData, text);
  json::error_code ec;
  parser.write_some(true, text.data(), std::min(end, text.size()), ec);
}

// ---- The first pass in pieces ---------------------------------------------
//
// In valid JSON a raw line feed is always whitespace, so a line that starts
// with "{" after a line ending in "," may be where an entry of "data"
// starts. The text is cut at such places: the head is parsed as usual, but
// incrementally, up to the first cut (just past the first entry); the rest,
// in a piece per thread, entry by entry, with the commas between them
// checked by hand (a parser started afresh for each entry runs faster than
// one that holds the whole document); then the head's parser is given an
// empty entry and the text after the array, so that the end of the document
// is checked in place. Each piece must end exactly where the next begins.
// Anything else (a cut inside an entry, several "data" members, any error,
// deep nesting, a text without line breaks) gives up, and the caller walks
// the whole text as usual: only that walk words errors.

// An entry of "data" may start at `at`: a "{" first on its line, the line
// before ending in ",".
bool entryMayStartAt(std::string_view text, size_t at) {
  if (at >= text.size() || text[at] != '{') return false;
  size_t i = at;
  while (i > 0 && text[i - 1] != '\n') {
    if (!isJsonSpace(text[i - 1])) return false;
    --i;
  }
  while (i > 0 && isJsonSpace(text[i - 1])) --i;
  return i > 0 && text[i - 1] == ',';
}

// The first place at or after `from` where an entry may start, or npos.
size_t nextCut(std::string_view text, size_t from) {
  for (size_t at = text.find('\n', from); at != std::string_view::npos; at = text.find('\n', at + 1)) {
    size_t start = at + 1;
    while (start < text.size() && isJsonSpace(text[start])) ++start;
    if (entryMayStartAt(text, start)) return start;
  }
  return std::string_view::npos;
}

struct Piece {
  size_t begin = 0, end = 0;  // `end`: the next piece's begin, or where "]" stands
  Summary summary;            // indices from 0 within the piece
  bool ok = false;
};

// Reads the entries of [begin, end) one by one, each by the quick check
// where it can, else by the parser; the `last` piece goes on to the "]"
// that closes the array, which then becomes its `end`.
void walkPiece(std::string_view text, Piece& piece, bool last) {
  json::parse_options options;
  options.max_depth = Recording::kMaxDepth - 10;  // deeper entries: the whole walk decides
  json::basic_parser<Walker> parser(options, piece.summary, nullptr, 0, text);
  parser.handler().startAtEntry(0);
  size_t at = piece.begin;
  for (;;) {
    EntryFacts facts;
    if (size_t end = checkEntry(text, at, facts); end != kEntryNotChecked) {
      parser.handler().checkedEntry(at, facts);
      at = end;
    } else {
      json::error_code ec;
      at += parser.write_some(false, text.data() + at, text.size() - at, ec);
      if (ec) return;
      parser.reset();
    }
    while (at < text.size() && isJsonSpace(text[at])) ++at;
    if (last && at < text.size() && text[at] == ']') {
      piece.end = at;
      piece.ok = true;
      return;
    }
    if (at >= text.size() || text[at] != ',') return;
    ++at;
    while (at < text.size() && isJsonSpace(text[at])) ++at;
    if (!last && at >= piece.end) {
      piece.ok = at == piece.end;
      return;
    }
  }
}

// Adds a piece's findings to the head's, its entries numbered from `base`.
void merge(Summary& into, const Summary& piece, size_t base) {
  auto shifted = [base](size_t index) { return index == Summary::none ? index : base + index; };
  into.firstNonObject = std::min(into.firstNonObject, shifted(piece.firstNonObject));
  into.firstInclino2 = std::min(into.firstInclino2, shifted(piece.firstInclino2));
  into.firstDlen = std::min(into.firstDlen, shifted(piece.firstDlen));
  for (const Recording::Mark& m : piece.marks) into.marks.push_back({base + m.index, m.offset});
}

// The first pass over `text`, in a piece per thread (the first one on this
// thread); false when it gives up.
bool walkInPieces(std::string_view text, Summary& summary, unsigned threads) {
  std::vector<Piece> pieces;
  for (unsigned k = 0; k < std::max(threads, 1u); ++k) {
    size_t from = k == 0 ? 0 : std::max(text.size() / threads * k, pieces.back().begin + 1);
    size_t cut = nextCut(text, from);
    if (cut == std::string_view::npos) break;
    pieces.push_back({cut, 0, {}, false});
  }
  if (pieces.empty()) return false;
  for (size_t i = 0; i + 1 < pieces.size(); ++i) pieces[i].end = pieces[i + 1].begin;
  auto walkOne = [&text, &pieces](size_t i) {
    try {
      walkPiece(text, pieces[i], i + 1 == pieces.size());
    } catch (const std::exception&) {  // out of memory, on a thread of its own: the whole walk does it again,
      pieces[i].ok = false;            // and fails there if it must
      TraceFrame::forgetUnwound();
    }
  };

  std::vector<std::thread> workers;
  bool workersStarted = true;
  try {
    for (size_t i = 1; i < pieces.size(); ++i) workers.emplace_back(walkOne, i);
  } catch (...) {
    workersStarted = false;  // no thread to be had: the whole walk does it
  }

  json::parse_options options;
  options.max_depth = Recording::kMaxDepth;
  json::basic_parser<Walker> head(options, summary, nullptr, 0, text);
  json::error_code ec;
  size_t used = head.write_some(true, text.data(), pieces.front().begin, ec);
  bool ok = !ec && used == pieces.front().begin && head.handler().inEntries() && summary.dataMembers == 1;
  size_t headEntries = summary.entries;
  if (ok && workersStarted) walkOne(0);
  for (std::thread& t : workers) t.join();
  if (!ok || !workersStarted) return false;
  for (const Piece& p : pieces)
    if (!p.ok) return false;

  // The end of the document, checked in place after an empty entry.
  static constexpr char kEmptyEntry[] = "{}";
  head.write_some(true, kEmptyEntry, 2, ec);
  std::string_view tail = text.substr(pieces.back().end);
  used = ec ? 0 : head.write_some(false, tail.data(), tail.size(), ec);
  while (used < tail.size() && isJsonSpace(tail[used])) ++used;
  if (ec || used < tail.size() || summary.dataMembers != 1) return false;

  size_t base = headEntries;
  for (const Piece& p : pieces) {
    merge(summary, p.summary, base);
    base += p.summary.entries;
  }
  summary.entries = base;
  thinOut(summary.marks);
  return true;
}

// The entries of one range, each read on its own from where it starts: by
// the quick scan where it can, else by the full parser.
void walkRange(std::string_view text, const EntryRange& range, const Visit& visit, EntryReader reader) {
  json::parse_options options;
  options.max_depth = Recording::kMaxDepth;
  options.allow_invalid_utf8 = true;
  Summary unused;
  json::basic_parser<Walker> parser(options, unused, &visit, 0, text);
  RecordingEntry entry;
  size_t at = range.offset;
  for (size_t n = 0; n < range.count; ++n) {
    size_t end = reader == EntryReader::quick ? scanEntry(text, at, entry) : kEntryNotScanned;
    if (end != kEntryNotScanned) {
      entry.index = range.first + n;
      visit(entry);
      at = end;
    } else {
      // The first pass validated the text: no error is left to find, and
      // each entry ends where the next one's comma stands.
      parser.handler().startAtEntry(range.first + n);
      json::error_code ec;
      at += parser.write_some(false, text.data() + at, text.size() - at, ec);
      parser.reset();
    }
    while (at < text.size() && (isJsonSpace(text[at]) || text[at] == ',')) ++at;
  }
}

std::string_view withoutByteOrderMark(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

void requireDataIn(const Summary& summary) {
  if (!summary.topIsObject) throw ValueError("the recording is not a JSON object");
  if (summary.dataMembers == 0) throw KeyError("key not found: data");
  if (!summary.dataIsArray) throw ValueError("\"data\" is not a JSON array");
}

std::vector<EntryRange> rangesOf(const Summary& summary, size_t bytes) {
  const std::vector<Recording::Mark>& marks = summary.marks;
  std::vector<EntryRange> ranges;
  if (summary.entries == 0 || marks.empty() || marks.front().index != 0) return ranges;
  Recording::Mark start = marks.front();
  for (const Recording::Mark& m : marks) {
    if (m.index == start.index || m.offset - start.offset < bytes) continue;
    ranges.push_back({start.index, m.index - start.index, start.offset});
    start = m;
  }
  ranges.push_back({start.index, summary.entries - start.index, start.offset});
  return ranges;
}

// The entries of a range, or of the whole "data" array: as one range where
// its first entry is placed, else in a walk of the whole text.
void walkEntries(std::string_view text, const Summary& summary, const Visit& visit, const EntryRange& range,
                 EntryReader reader) {
  if (range.offset != EntryRange::wholeDocument) return walkRange(text, range, visit, reader);
  if (std::vector<EntryRange> all = rangesOf(summary, static_cast<size_t>(-1)); all.size() == 1)
    return walkRange(text, all.front(), visit, reader);
  if (summary.faultAt != Summary::none) {
    // Salvaged: the complete entries before the fault, and no other.
    const size_t entries = summary.entries;
    return walkBeginning(
        text, summary.faultAt, [&](const RecordingEntry& entry) { if (entry.index < entries) visit(entry); },
        summary.dataMembers);
  }
  Summary again;
  walk(text, again, &visit, summary.dataMembers, false);
}

// True when the text broke in or after the entries of a "data" array that
// counts, its beginning intact: what came before the fault can be read.
bool salvageable(const Summary& summary) {
  return summary.faultAt != Summary::none && summary.topIsObject && summary.dataMembers > 0 && summary.dataIsArray;
}

// The summary of a text that broke, cut to the complete entries before the
// fault: as the summary of a recording that holds only those.
void keepCompleteEntries(Summary& summary) {
  const size_t entries = summary.completeEntries;
  summary.entries = entries;
  std::erase_if(summary.marks, [entries](const Recording::Mark& m) { return m.index >= entries; });
  for (size_t* first : {&summary.firstNonObject, &summary.firstInclino2, &summary.firstDlen})
    if (*first >= entries) *first = Summary::none;
}

// The text with the exponent of every number that the parser cannot take
// (more than nine digits, leading zeros aside) written as "0...0999999999"
// of the same length: the same double (an infinity, or a zero), and every
// offset in the text as it was.
std::string takeableExponents(std::string_view text) {
  std::string out(text);
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '"') {  // a string, skipped with its escapes
      for (++i; i < out.size() && out[i] != '"'; ++i)
        if (out[i] == '\\') ++i;
      continue;
    }
    // Outside strings, a digit and an "e" can only be a number's exponent.
    if ((out[i] != 'e' && out[i] != 'E') || i == 0 || !isDigit(out[i - 1])) continue;
    size_t first = i + 1;
    if (first < out.size() && (out[first] == '+' || out[first] == '-')) ++first;
    size_t end = first;
    while (end < out.size() && isDigit(out[end])) ++end;
    size_t significant = first;
    while (significant < end && out[significant] == '0') ++significant;
    if (end - significant > 9) {
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(first), out.begin() + static_cast<std::ptrdiff_t>(end), '0');
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(end - 9), out.begin() + static_cast<std::ptrdiff_t>(end), '9');
    }
    i = end - 1;
  }
  return out;
}

// The first pass over a recording's text: in pieces where it can, else
// whole. A number the parser cannot take is read from a copy of the text in
// which it can (`copy`), which the text then refers to.
void firstPass(std::string_view& text, Summary& summary, unsigned threads, std::string& copy) {
  auto pass = [&] {
    if (!walkInPieces(text, summary, threads)) {
      summary = Summary();
      walk(text, summary, nullptr, 0, true);
    }
  };
  try {
    pass();
  } catch (const ExponentBeyondTheParser&) {
    copy = takeableExponents(text);
    text = copy;
    summary = Summary();
    try {
      pass();
    } catch (const ExponentBeyondTheParser&) {  // the copy has none: never here
      throw JsonParseError("invalid JSON: a number's exponent is beyond reading");
    }
  }
}

}  // namespace

void validateJson(std::string_view text) {
  Summary summary;
  std::string copy;
  text = withoutByteOrderMark(text);
  firstPass(text, summary, 1, copy);
}

Recording::Recording(const std::string& path, const std::function<unsigned(size_t)>& threadsFor, bool salvage,
                     const Checked* earlier)
    : path_(path), file_(path), json_(withoutByteOrderMark(file_.bytes())) {
  TLQ_OP("readRecording");
  if (earlier && earlier->file == file_.version()) {
    summary_ = earlier->summary;
    requireUnchanged();
    return;
  }
  unsigned threads = threadsFor ? threadsFor(json_.size()) : 1;
  try {
    TLQ_AT(firstPass(json_, summary_, threads, copy_));
  } catch (const JsonParseError& e) {
    requireUnchanged();  // zeros where the file was cut short are no fault of its text
    if (!salvage || !salvageable(summary_)) throw;
    // Taken as what the recording holds now: its beginning, told as salvaged.
    salvaged_ = Salvage{summary_.completeEntries, e.message()};
    keepCompleteEntries(summary_);
    TraceFrame::forgetUnwound();
  }
  requireUnchanged();
}

std::string salvageText(const Salvage& salvage) {
  return std::to_string(salvage.entries) + (salvage.entries == 1 ? " entry" : " entries") + " before the fault (" +
         salvage.fault + "); the rest is lost";
}

IoError recordingChanged(const std::string& path, std::source_location where) {
  return IoError("cannot read: " + path + " (the file changed while it was read)", where);
}

std::optional<Recording::Checked> Recording::checked() const {
  if (!copy_.empty() || salvaged_) return std::nullopt;
  return Checked{file_.version(), summary_};
}

void Recording::requireUnchanged() const {
  if (file_.changed()) throw recordingChanged(path_);
}

void Recording::requireUnreplaced() const {
  if (!file_.stillAt(path_)) throw recordingChanged(path_);
}

void Recording::requireData() const { requireDataIn(summary_); }

bool Recording::scan(size_t firstHit) const {
  requireData();
  if (summary_.firstNonObject < firstHit)
    throw ValueError("data[" + std::to_string(summary_.firstNonObject) + "] is not a JSON object");
  return firstHit != Summary::none;
}

bool Recording::hasInclino2() const {
  TLQ_OP("hasInclino2");
  return scan(summary_.firstInclino2);
}

bool Recording::hasElasto() const {
  TLQ_OP("hasElasto");
  return scan(summary_.firstDlen);
}

void Recording::forEachEntry(const Visit& visit, const EntryRange& range, EntryReader reader) const {
  TLQ_OP("forEachEntry");
  requireData();
  try {
    TLQ_AT(walkEntries(json_, summary_, visit, range, reader));
  } catch (const JsonParseError&) {
    requireUnchanged();  // the first pass found the text valid
    throw;
  }
}

std::vector<EntryRange> Recording::ranges(size_t bytes) const { return rangesOf(summary_, bytes); }

void readEntries(std::string_view text, const Visit& visit, EntryReader reader) {
  text = withoutByteOrderMark(text);
  Summary summary;
  std::string copy;
  firstPass(text, summary, 1, copy);
  requireDataIn(summary);
  walkEntries(text, summary, visit, EntryRange(), reader);
}

}  // namespace tlq
