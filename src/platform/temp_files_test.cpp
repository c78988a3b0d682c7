#include "platform/temp_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string_view>

#include "error.h"
#include "platform/system.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;

class TempFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(seedRandom()); }

  testing::TempDir dir;
  // Every variable that points at a temporary folder, cleared.
  testing::ScopedEnv tmp{"TMP", nullptr}, temp{"TEMP", nullptr}, local{"LOCALAPPDATA", nullptr},
      profile{"USERPROFILE", nullptr}, tmpdir{"TMPDIR", nullptr};
};

TEST_F(TempFiles, VariablesAreTriedInOrder) {
  fs::create_directories(fs::u8path(dir.file("t")));
  fs::create_directories(fs::u8path(dir.file("local/Temp")));
  fs::create_directories(fs::u8path(dir.file("profile/Temp")));
  testing::ScopedEnv p("USERPROFILE", dir.file("profile").c_str());
  EXPECT_EQ(getTempDir(), joinPath(dir.file("profile"), "Temp"));
  testing::ScopedEnv l("LOCALAPPDATA", dir.file("local").c_str());
  EXPECT_EQ(getTempDir(), joinPath(dir.file("local"), "Temp"));
  testing::ScopedEnv t1("TEMP", dir.file("t").c_str());
  EXPECT_EQ(getTempDir(), dir.file("t"));
  testing::ScopedEnv t0("TMP", dir.file("missing").c_str());  // not a folder: passed over
  EXPECT_EQ(getTempDir(), dir.file("t"));
}

TEST_F(TempFiles, LocalAppDataWithoutItsTempFolderIsPassedOver) {
  testing::ScopedEnv l("LOCALAPPDATA", dir.path().c_str());
#ifdef _WIN32
  try {
    getTempDir();
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.message(), "unable to find temp directory");
  }
#else
  // After the four variables: TMPDIR, then /tmp.
  EXPECT_EQ(getTempDir(), "/tmp");
  testing::ScopedEnv t("TMPDIR", dir.path().c_str());
  EXPECT_EQ(getTempDir(), dir.path());
#endif
}

TEST_F(TempFiles, NamesHoldEightLettersOfTheAlphabet) {
  testing::ScopedEnv t("TMP", dir.path().c_str());
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string path = mktempUnsafe("pre_", ".txt", "", 8);
    std::string name = path.substr(dir.path().size() + 1);
    ASSERT_EQ(name.size(), 4u + 8u + 4u);
    for (char c : name.substr(4, 8))
      EXPECT_NE(std::string_view("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789").find(c),
                std::string_view::npos);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 50u);
}

TEST_F(TempFiles, AnExistingFolderIsNoTakenName) {
  fs::create_directories(fs::u8path(dir.file("x")));
  EXPECT_EQ(mktempUnsafe("x", "", dir.path(), 0), joinPath(dir.path(), "x"));
  testing::writeFile(dir.file("y"), "");
  try {
    mktempUnsafe("y", "", dir.path(), 0);
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.message(), "Unable to find an available temporary file");
  }
}

TEST_F(TempFiles, CreatedExclusivelyForItsOwnerAlone) {
  TempFile f = mkstemp("tlqconverter_error_", ".txt", dir.path());
  f.file->write("report");
  f.file->close();
  EXPECT_EQ(testing::readFile(f.path), "report");
#ifndef _WIN32
  auto perms = fs::status(f.path).permissions();
  EXPECT_EQ(perms & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
#endif
  // A name that exists, or a planted link, is never opened.
  EXPECT_THROW(OutputFile(f.path, OutputFile::Create::exclusive), IoError);
  std::error_code noLinks;
  fs::create_symlink(dir.file("target"), dir.file("planted"), noLinks);
  if (!noLinks) {
    EXPECT_THROW(OutputFile(dir.file("planted"), OutputFile::Create::exclusive), IoError);
    EXPECT_FALSE(fs::exists(dir.file("target")));
  }
}

TEST_F(TempFiles, EveryAttemptFailingEndsInAnError) {
  // Names in a folder that does not exist are free, but no file can be made.
  try {
    mkstemp("tlqconverter_error_", ".txt", dir.file("missing"));
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.message(), "Unable to create temporary file");
  }
}

}  // namespace
}  // namespace tlq
