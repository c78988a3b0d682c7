// Failures: typed exceptions that carry a kind name, the exact message and
// the trace of the operations that were active when they were raised.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread_pointer.h"

namespace tlq {

// One active operation. Declared on the stack with TLQ_OP at the top of an
// operation; costs a few pointer stores on entry and on exit. A frame that
// closes because an exception passes through it notes itself, so that a
// failure that is not one of ours (a std::bad_alloc) can still say where it
// arose (see libraryFailure).
class TraceFrame {
  using Top = ThreadPointer<TraceFrame, TraceFrame>;  // the calling thread's innermost frame

 public:
  TraceFrame(const char* unit, int line, const char* op) noexcept
      : unit_(unit), op_(op), line_(line), outer_(Top::get()), depth_(outer_ ? outer_->depth_ + 1 : 0) {
    Top::set(this);
  }
  ~TraceFrame() {
    if (std::uncaught_exceptions() > 0) noteUnwound();
    Top::set(outer_);
  }
  TraceFrame(const TraceFrame&) = delete;
  TraceFrame& operator=(const TraceFrame&) = delete;

  // Records the line now being executed in this operation (see TLQ_AT).
  void at(int line) noexcept { line_ = line; }

  // Forgets the frames an exception closed, once the exception is handled
  // and the program goes on.
  static void forgetUnwound() noexcept;

  static const TraceFrame* top() noexcept { return Top::get(); }

  // Makes the calling thread's trace continue from `outer`, a frame of the
  // thread that started it, for the life of the object: a failure raised
  // here lists `outer` and the frames around it first, as if the work ran
  // on the starting thread. Those frames must outlive the object and keep
  // their lines meanwhile.
  class Continuation {
   public:
    explicit Continuation(const TraceFrame* outer) noexcept : saved_(Top::get()) {
      Top::set(const_cast<TraceFrame*>(outer));
    }
    ~Continuation() { Top::set(saved_); }
    Continuation(const Continuation&) = delete;
    Continuation& operator=(const Continuation&) = delete;

   private:
    TraceFrame* saved_;
  };

  const TraceFrame* outer() const noexcept { return outer_; }
  const char* unit() const noexcept { return unit_; }
  const char* op() const noexcept { return op_; }
  int line() const noexcept { return line_; }
  int depth() const noexcept { return depth_; }  // 0 for the outermost

 private:
  friend class Error;
  [[gnu::cold]] void noteUnwound() const noexcept;

  const char* unit_;
  const char* op_;
  int line_;
  TraceFrame* outer_;
  int depth_;
};

#ifdef __FILE_NAME__
#define TLQ_FILE_NAME __FILE_NAME__
#else
constexpr const char* fileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}
#define TLQ_FILE_NAME ::tlq::fileNameOf(__FILE__)
#endif

#define TLQ_OP(name) ::tlq::TraceFrame tlq_trace_frame_(TLQ_FILE_NAME, __LINE__, name)

// A call that may fail further down, made the line being executed in the
// operation, so that the trace shows it: `T x = TLQ_AT(parse(text));`. Keep
// the call on one line: compilers differ on the line of a macro that spans
// several.
#define TLQ_AT(...) (tlq_trace_frame_.at(__LINE__), __VA_ARGS__)

struct TraceEntry {
  enum class Mark { none, reraisedFrom, end };
  std::string unit;
  int line = 0;
  std::string op;
  Mark mark = Mark::none;
};

enum class ErrorKind {
  io,
  value,
  key,
  os,
  assertion,
  index,
  fieldAccess,
  jsonParse,
  range,
  outOfMemory,
  unexpected,  // a failure of the C++ library, not one of ours
  usage,       // a command line the program cannot run
};

// The name printed for a kind, e.g. "IOError".
std::string_view kindName(ErrorKind kind) noexcept;

class Error : public std::exception {
 public:
  Error(ErrorKind kind, std::string message,
        std::source_location where = std::source_location::current());

  ErrorKind kind() const noexcept { return kind_; }
  std::string_view kindName() const noexcept { return tlq::kindName(kind_); }
  const std::string& message() const noexcept { return message_; }
  const std::vector<TraceEntry>& trace() const noexcept { return trace_; }
  const char* what() const noexcept override { return message_.c_str(); }

  // The system's own words for what failed ("No space left on device"),
  // where a call to the system failed: shown beside the message, never in
  // it. Empty otherwise.
  const std::string& reason() const noexcept { return reason_; }
  Error& withReason(std::string reason) {
    reason_ = std::move(reason);
    return *this;
  }

  // The file that failed, where the message does not name it ("cannot write
  // string to file"): for the words a person reads (failureMessage), never
  // in the message, which stays as users and their scripts know it. Empty
  // otherwise.
  const std::string& path() const noexcept { return path_; }
  Error& withPath(std::string path) {
    path_ = std::move(path);
    return *this;
  }

  // Records a second raise from a handler: the operations active now are
  // appended between the two markers. The caller rethrows.
  void markReraised(std::source_location where = std::source_location::current());

 private:
  friend Error libraryFailure(const std::exception& failure);
  void appendActive(std::source_location where);
  void appendUnwound();

  ErrorKind kind_;
  std::string message_;
  std::string reason_;
  std::string path_;
  std::vector<TraceEntry> trace_;
};

// One class per kind, so that a handler can catch exactly what it expects.
template <ErrorKind K>
class ErrorOf : public Error {
 public:
  explicit ErrorOf(std::string message,
                   std::source_location where = std::source_location::current())
      : Error(K, std::move(message), where) {}

  ErrorOf& withReason(std::string reason) {
    Error::withReason(std::move(reason));
    return *this;
  }
  ErrorOf& withPath(std::string path) {
    Error::withPath(std::move(path));
    return *this;
  }
};

using IoError = ErrorOf<ErrorKind::io>;
using ValueError = ErrorOf<ErrorKind::value>;
using KeyError = ErrorOf<ErrorKind::key>;
using OsError = ErrorOf<ErrorKind::os>;
using AssertionError = ErrorOf<ErrorKind::assertion>;
using IndexError = ErrorOf<ErrorKind::index>;
using FieldError = ErrorOf<ErrorKind::fieldAccess>;
using JsonParseError = ErrorOf<ErrorKind::jsonParse>;
using RangeError = ErrorOf<ErrorKind::range>;
using OutOfMemoryError = ErrorOf<ErrorKind::outOfMemory>;
using UnexpectedError = ErrorOf<ErrorKind::unexpected>;
using UsageError = ErrorOf<ErrorKind::usage>;

// A failure of the C++ library (std::bad_alloc, any other std::exception)
// as one of ours, made where it was caught: an OutOfMemoryError or an
// UnexpectedError ("Exception") with its message, whose trace is the
// operations active there followed by those the failure closed on its way
// (noted by their frames), as if it had been raised where it arose.
Error libraryFailure(const std::exception& failure);

// In a handler: the failure being handled, as one of ours (a failure of the
// C++ library made one by libraryFailure). Anything else goes on up.
std::exception_ptr handledFailure();

// The trace as text, one line per entry with plain line feeds: the location
// ("unit(line)") padded to column 26, then the operation name.
std::string traceText(const Error& error);

// traceText with every line feed turned into CR LF, as the report holds it.
std::string formatTrace(const Error& error);

}  // namespace tlq
