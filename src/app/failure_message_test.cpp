#include "app/failure_message.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

#include "platform/system.h"
#ifdef _WIN32
#include "platform/win32_text.h"
#endif

namespace tlq {
namespace {

// The words the system gives for a file another program holds, and for a
// full disk.
#ifdef _WIN32
const std::string kHeld = systemMessage(ERROR_SHARING_VIOLATION);
const std::string kFull = systemMessage(ERROR_DISK_FULL);
const std::string kMissing = systemMessage(ERROR_FILE_NOT_FOUND);
#else
const std::string kHeld = std::generic_category().message(ETXTBSY);
const std::string kFull = std::generic_category().message(ENOSPC);
const std::string kMissing = std::generic_category().message(ENOENT);
#endif

std::string clause(std::string reason) {
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  if (reason.size() > 1 && std::islower(static_cast<unsigned char>(reason[1]))) reason[0] = static_cast<char>(std::tolower(reason[0]));
  return reason;
}

TEST(FailureMessage, SaysWhatFailedAndWhatToDo) {
  const std::string recording = "C:/audit/Messungen/run 7.tlq";
  EXPECT_EQ(causeOf(kHeld), SystemCause::inUse);
  EXPECT_EQ(failureMessage(IoError("cannot open: C:/audit/Messungen/Messung 1.xlsx").withReason(kHeld), recording),
            "tlqconverter could not write \u00abMessung 1.xlsx\u00bb: another program has it open (" + clause(kHeld) +
                "). Close it there and try again.");
  EXPECT_EQ(failureMessage(IoError("cannot write: C:/audit/Messungen/run 7.xlsx").withReason(kFull), recording),
            "tlqconverter could not write \u00abrun 7.xlsx\u00bb: the disk is full (" + clause(kFull) +
                "). Make room there and try again.");
  EXPECT_EQ(failureMessage(JsonParseError("invalid JSON at line 28189, column 3: expected ',' or ']', found end of "
                                          "input"),
                           recording),
            "\u00abrun 7.tlq\u00bb is not a complete recording: invalid JSON at line 28189, column 3: expected ',' or "
            "']', found end of input.");
  EXPECT_EQ(failureMessage(IoError("cannot open: " + recording).withReason(kMissing), recording),
            "tlqconverter could not open \u00abrun 7.tlq\u00bb: it is not there (" + clause(kMissing) +
                "). Check its name, and that the drive or network share it is on is connected.");
  // A write that fails names its file apart from the message, which stays
  // as standard error and the batch's summary show it: the table, not the
  // recording.
  EXPECT_EQ(failureMessage(IoError("cannot write string to file").withReason(kFull).withPath("C:/audit/Messungen/run 7.csv"),
                           recording),
            "tlqconverter could not write \u00abrun 7.csv\u00bb: the disk is full (" + clause(kFull) +
                "). Make room there and try again.");
  EXPECT_EQ(failureMessage(IoError("cannot open: C:/audit/aux.tlq").withReason("the name AUX is one that Windows "
                                                                               "reserves for a device"),
                           "C:/audit/aux.tlq"),
            "tlqconverter could not open \u00abaux.tlq\u00bb (the name AUX is one that Windows reserves for a device).");
  EXPECT_EQ(failureMessage(IoError("cannot open: C:/r.xlsx (it is the recording itself)"), "C:/r.xlsx"),
            "tlqconverter could not write \u00abr.xlsx\u00bb: it is the recording itself.");
  EXPECT_EQ(failureMessage(IoError("cannot open: C:/a/r.csv (it is the recording itself)"), recording),
            "tlqconverter could not write \u00abr.csv\u00bb: it is the recording itself.");
#ifdef _WIN32
  // A drive that is not there or not ready, a share that is not connected:
  // the recording is not there, and the same things are to be checked.
  for (DWORD code : {ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE, ERROR_NOT_READY, ERROR_BAD_NETPATH, ERROR_BAD_NET_NAME})
    EXPECT_EQ(causeOf(systemMessage(code)), SystemCause::missing) << code;
#endif
  EXPECT_EQ(failureMessage(KeyError("key not found: val1"), recording),
            "tlqconverter could not convert \u00abrun 7.tlq\u00bb: key not found: val1.");
}

}  // namespace
}  // namespace tlq
