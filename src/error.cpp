#include "error.h"

#include <algorithm>

namespace tlq {

std::string_view kindName(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::io: return "IOError";
    case ErrorKind::value: return "ValueError";
    case ErrorKind::key: return "KeyError";
    case ErrorKind::os: return "OSError";
    case ErrorKind::assertion: return "AssertionError";
    case ErrorKind::index: return "IndexError";
    case ErrorKind::fieldAccess: return "FieldError";
    case ErrorKind::jsonParse: return "JsonParseError";
    case ErrorKind::range: return "RangeError";
    case ErrorKind::outOfMemory: return "OutOfMemoryError";
    case ErrorKind::unexpected: return "Exception";
    case ErrorKind::usage: return "UsageError";
  }
  return "Error";
}

namespace {

std::string_view baseName(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

Error::Error(ErrorKind kind, std::string message, std::source_location where)
    : kind_(kind), message_(std::move(message)) {
  appendActive(where);
}

void Error::markReraised(std::source_location where) {
  trace_.push_back({"", 0, "", TraceEntry::Mark::reraisedFrom});
  appendActive(where);
  trace_.push_back({"", 0, "", TraceEntry::Mark::end});
}

void Error::appendActive(std::source_location where) {
  size_t first = trace_.size();
  for (const TraceFrame* f = TraceFrame::top(); f; f = f->outer())
    trace_.push_back({f->unit(), f->line(), f->op(), TraceEntry::Mark::none});
  std::reverse(trace_.begin() + static_cast<std::ptrdiff_t>(first), trace_.end());
  // The raising operation is executing the raise itself: when the raise is
  // written in that operation's unit, its line is the one being executed.
  if (trace_.size() > first && trace_.back().unit == baseName(where.file_name()))
    trace_.back().line = static_cast<int>(where.line());
}

std::string traceText(const Error& error) {
  std::string text;
  for (const TraceEntry& e : error.trace()) {
    switch (e.mark) {
      case TraceEntry::Mark::reraisedFrom: text += "[[reraised from:\n"; continue;
      case TraceEntry::Mark::end: text += "]]\n"; continue;
      case TraceEntry::Mark::none: break;
    }
    size_t start = text.size();
    text += e.unit;
    if (e.line > 0) {
      text += '(';
      text += std::to_string(e.line);
      text += ')';
    }
    size_t used = text.size() - start;
    text.append(used < 25 ? 25 - used : 1, ' ');
    text += e.op;
    text += '\n';
  }
  return text;
}

std::string formatTrace(const Error& error) {
  std::string plain = traceText(error);
  std::string text;
  text.reserve(plain.size() + plain.size() / 16);
  for (char c : plain) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

}  // namespace tlq
