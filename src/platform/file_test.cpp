// The recording's file as other programs can leave it: not a regular file,
// or changed while it is mapped.
#include <gtest/gtest.h>

#ifdef _WIN32
#include "platform/win32_text.h"
#endif

#include <cerrno>
#include <functional>
#include <system_error>

#include <string>

#include "platform/file.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace tlq {
namespace {

using testing::failureOf;
using testing::runProcess;

std::string openFailure(const std::string& path) {
  return failureOf([&] { MappedFile file(path); });
}

TEST(MappedFile, OnlyARegularFileIsOpened) {
  testing::TempDir dir;
  EXPECT_EQ(openFailure(dir.path()), "IOError: cannot open: " + dir.path());
  EXPECT_EQ(openFailure(dir.file("none")), "IOError: cannot open: " + dir.file("none"));
#ifndef _WIN32
  // A pipe nobody writes to: opening it for reading would wait for ever.
  std::string fifo = dir.file("f.tlq");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(openFailure(fifo), "IOError: cannot open: " + fifo);
  EXPECT_EQ(openFailure("/dev/zero"), "IOError: cannot open: /dev/zero");
  std::string socketPath = dir.file("s.tlq");
  int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(openFailure(socketPath), "IOError: cannot open: " + socketPath);
  ::close(s);
#else
  EXPECT_EQ(openFailure("NUL"), "IOError: cannot open: NUL");
#endif
}

#ifdef _WIN32
// The file's failure and the system's words (or ours) for it.
std::string openReason(const std::string& path) {
  try {
    MappedFile file(path);
  } catch (const Error& e) {
    return e.message() + " (" + e.reason() + ")";
  }
  return "no error";
}

// A file whose name Windows reserves for a device (as another system can
// leave it in a folder, "aux.tlq" among the recordings) opens that device:
// the reason says the name is reserved.
TEST(MappedFile, ANameWindowsReservesSaysSo) {
  testing::TempDir dir;
  for (std::string name : {"aux.tlq", "com1.tlq", "nul.tlq", "Lpt3 .x.tlq", "CON"}) {
    std::string path = testing::fullPath(dir.file(name));
    // Made through the name the system takes as it stands.
    HANDLE h = ::CreateFileW((L"\\\\?\\" + widen(path)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    ::CloseHandle(h);
    std::string stem = name.substr(0, name.find_first_of(" ."));
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(openReason(path), "cannot open: " + path + " (the name " + stem + " is one that Windows reserves for a device)");
    ::DeleteFileW((L"\\\\?\\" + widen(path)).c_str());
  }
  // Others keep the system's words.
  EXPECT_EQ(openReason(dir.file("auxiliary.tlq")),
            "cannot open: " + dir.file("auxiliary.tlq") + " (" + systemMessage(ERROR_FILE_NOT_FOUND) + ")");
}
#else
// A write that fails (a full disk) names the file apart from the message,
// which stays as it was.
TEST(OutputFile, AFailedWriteNamesTheFile) {
  for (bool closing : {false, true}) {
    try {
      OutputFile out("/dev/full");
      out.write(closing ? std::string(10, 'x') : std::string(1 << 20, 'x'));
      out.close();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "cannot write string to file");
      EXPECT_EQ(e.reason(), std::generic_category().message(ENOSPC));
      EXPECT_EQ(e.path(), "/dev/full");
    }
  }
}
#endif

TEST(MappedFile, EmptyFileHasNoBytes) {
  testing::TempDir dir;
  testing::writeFile(dir.file("e"), "");
  MappedFile file(dir.file("e"));
  EXPECT_EQ(file.bytes(), "");
  EXPECT_FALSE(file.changed());
}

TEST(MappedFile, GrowingIsAChange) {
  testing::TempDir dir;
  std::string path = dir.file("g");
  testing::writeFile(path, std::string(10000, 'a'));
  MappedFile file(path);
  EXPECT_FALSE(file.changed());
#ifdef _WIN32
  auto r = runProcess({"cmd.exe", "/c", "echo more>>" + path});
#else
  auto r = runProcess({"/bin/sh", "-c", "echo more >>\"$0\"", path});
#endif
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(file.changed());
  EXPECT_EQ(file.bytes(), std::string(10000, 'a'));
}

#ifndef _WIN32
// Another program cuts the file short under the mapping, at several points:
// reading on costs no signal, the lost bytes read as zeros, and the change
// is known. (A mapped file cannot be cut short on Windows.)
TEST(MappedFile, CutShortUnderTheMapping) {
  testing::TempDir dir;
  const size_t size = 1 << 20;
  std::string text(size, 'x');
  for (size_t cut : {size_t{0}, size_t{1}, size_t{5000}, size_t{8192}, size / 2, size - 1}) {
    std::string path = dir.file("c" + std::to_string(cut));
    testing::writeFile(path, text);
    MappedFile file(path);
    std::string_view bytes = file.bytes();
    EXPECT_EQ(bytes[100], 'x');  // mapped in before the cut
    auto r = runProcess({"/usr/bin/truncate", "-s", std::to_string(cut), path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    size_t kept = 0, zeros = 0;
    for (char c : bytes) (c == 'x' ? kept : zeros) += 1;
    EXPECT_EQ(kept + zeros, size);
    EXPECT_LE(kept, (cut + 4095) / 4096 * 4096) << cut;
    EXPECT_GE(kept, cut) << cut;
    EXPECT_TRUE(file.changed()) << cut;
  }
}

TEST(MappedFile, SeveralMappingsCutShortAtOnce) {
  testing::TempDir dir;
  std::vector<std::unique_ptr<MappedFile>> files;
  for (int i = 0; i < 20; ++i) {  // more than are watched for lost pages
    std::string path = dir.file("m" + std::to_string(i));
    testing::writeFile(path, std::string(3 * 4096, 'y'));
    files.push_back(std::make_unique<MappedFile>(path));
  }
  ASSERT_EQ(runProcess({"/usr/bin/truncate", "-s", "4096", dir.file("m3")}).exitCode, 0);
  std::string_view bytes = files[3]->bytes();
  EXPECT_EQ(bytes[0], 'y');
  EXPECT_EQ(bytes.back(), '\0');
  EXPECT_TRUE(files[3]->changed());
  EXPECT_FALSE(files[4]->changed());
}
#endif

// A failed call carries the system's own words, beside the message.
std::string reasonOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.message() + " | " + e.reason();
  }
  return "no error";
}

TEST(OutputFile, FailuresCarryTheSystemsReason) {
  testing::TempDir dir;
#ifdef _WIN32
  EXPECT_EQ(reasonOf([&] { OutputFile(dir.file("none/x.csv")); }),
            "cannot open: " + dir.file("none/x.csv") + " | " + systemMessage(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(reasonOf([&] { MappedFile(dir.path()); }),
            "cannot open: " + dir.path() + " | " + systemMessage(ERROR_ACCESS_DENIED));
#else
  EXPECT_EQ(reasonOf([&] { OutputFile(dir.file("none/x.csv")); }),
            "cannot open: " + dir.file("none/x.csv") + " | " + std::generic_category().message(ENOENT));
  EXPECT_EQ(reasonOf([&] { MappedFile(dir.path()); }),
            "cannot open: " + dir.path() + " | " + std::generic_category().message(EISDIR));
  if (testing::fileExists("/dev/full")) {
    EXPECT_EQ(reasonOf([] {
                OutputFile full("/dev/full");
                full.write(std::string(1 << 20, 'x'));
              }),
              "cannot write string to file | " + std::generic_category().message(ENOSPC));
  }
#endif
}

}  // namespace
}  // namespace tlq
