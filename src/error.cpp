#include "error.h"

#include <algorithm>
#include <new>

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

// The frames the latest exception closed on this thread, by depth. Plain
// data: a thread-local object with a destructor is destroyed at thread exit,
// which MinGW's runtime does after its storage is gone.
struct Unwound {
  static constexpr int kDepths = 64;  // deeper frames are left out
  struct Frame {
    const char* unit;
    const char* op;
    int line;
  };
  Frame frames[kDepths];
  int deepest = -1;  // where the latest run of closing frames began
  int last = -1;     // the frame that closed last
};
thread_local Unwound unwound;

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

// An exception closes frames from the innermost outwards, each one level
// above the one before: a frame that does not follow on starts a new run.
void TraceFrame::noteUnwound() const noexcept {
  Unwound& u = unwound;
  if (u.last != depth_ + 1) u.deepest = depth_;
  u.last = depth_;
  if (depth_ < Unwound::kDepths) u.frames[depth_] = {unit_, op_, line_};
}

void TraceFrame::forgetUnwound() noexcept { unwound.deepest = unwound.last = -1; }

void Error::appendUnwound() {
  const Unwound& u = unwound;
  const TraceFrame* top = TraceFrame::top();
  // Only a run that ended just inside the operation that is active now.
  if (u.last < 0 || u.last != (top ? top->depth() + 1 : 0)) return;
  for (int d = u.last; d <= u.deepest && d < Unwound::kDepths; ++d)
    trace_.push_back({u.frames[d].unit, u.frames[d].line, u.frames[d].op, TraceEntry::Mark::none});
}

Error libraryFailure(const std::exception& failure) {
  Error error = dynamic_cast<const std::bad_alloc*>(&failure) ? Error(OutOfMemoryError("out of memory"))
                                                                : Error(UnexpectedError(failure.what()));
  error.appendUnwound();
  TraceFrame::forgetUnwound();
  return error;
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

std::exception_ptr handledFailure() {
  try {
    throw;
  } catch (const Error&) {
    return std::current_exception();
  } catch (const std::exception& e) {
    return std::make_exception_ptr(libraryFailure(e));
  }
}

}  // namespace tlq
