#include "app/failure_message.h"

#include <string_view>

#include "platform/folders.h"
#include "platform/system.h"

namespace tlq {

namespace {

// The system's words as part of a sentence: "Sharing violation." gives
// "sharing violation".
std::string asClause(std::string reason) {
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  if (reason.size() > 1 && reason[0] >= 'A' && reason[0] <= 'Z' && !(reason[1] >= 'A' && reason[1] <= 'Z'))
    reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
  return reason;
}

std::string quoted(const std::string& path) { return "\u00ab" + nameOf(path) + "\u00bb"; }

// The file a message of the form "cannot open: PATH" or "cannot open: PATH
// (NOTE)" names, and its note.
struct Named {
  std::string path, note;
};
Named named(const std::string& message) {
  Named n;
  for (std::string_view prefix : {"cannot open: ", "cannot write: "}) {
    if (!message.starts_with(prefix)) continue;
    n.path = message.substr(prefix.size());
    size_t open = n.path.find(" (");  // "cannot open: X (it is the recording itself)"
    if (open != std::string::npos && n.path.ends_with(")")) {
      n.note = n.path.substr(open + 2, n.path.size() - open - 3);
      n.path.resize(open);
    }
  }
  return n;
}

}  // namespace

std::string failureMessage(const Error& failure, const std::string& recording) {
  const std::string& message = failure.message();
  const std::string reason = asClause(failure.reason());
  const std::string because = reason.empty() ? "" : " (" + reason + ")";
  if (failure.kindName() == std::string_view("JsonParseError"))
    return quoted(recording) + " is not a complete recording: " + message + ".";
  auto [path, note] = named(message);
  if (path.empty()) path = failure.path();  // "cannot write string to file" names its file apart
  if (!path.empty() && path == recording && note.empty()) {  // the recording itself cannot be read
    if (causeOf(failure.reason()) == SystemCause::missing)
      return "tlqconverter could not open " + quoted(path) + ": it is not there" + because +
             ". Check its name, and that the drive or network share it is on is connected.";
    return "tlqconverter could not open " + quoted(path) + because + ".";
  }
  if (!path.empty()) {
    const std::string start = "tlqconverter could not write " + quoted(path) + ": ";
    switch (causeOf(failure.reason())) {
      case SystemCause::inUse:
        return start + "another program has it open" + because + ". Close it there and try again.";
      case SystemCause::denied:
        return start + "it may not be changed there" + because +
               ". Make it writable, or convert a copy of the recording in a folder of yours.";
      case SystemCause::full: return start + "the disk is full" + because + ". Make room there and try again.";
      case SystemCause::missing:
      case SystemCause::other: break;
    }
    return start + (note.empty() ? "the system refused it" : note) + because + ".";
  }
  if (message.starts_with("cannot read: ") && message.ends_with("(the file changed while it was read)"))
    return "tlqconverter could not read " + quoted(recording) +
           ": another program changed it while it was converted. Try again once it is done with it.";
  return "tlqconverter could not convert " + quoted(recording) + ": " + message + because + ".";
}

}  // namespace tlq
