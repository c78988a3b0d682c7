// The program as a user starts it.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace tlq {
namespace {

using testing::runProcess;

TEST(Program, ConvertsTheRecordingGiven) {
  testing::TempDir dir;
  testing::SeparatorStore store(dir, ";", ",");
  std::string folder = dir.file("Mess daten");
  std::filesystem::create_directory(std::filesystem::u8path(folder));
  std::string recording = folder + "/Messung Höhe 1.tlq";
  testing::writeFile(recording, R"({"data":[{"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"Süd"}}]})");
  auto r = runProcess({TLQ_CONVERTER_EXE, recording});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(testing::readFile(folder + "/Messung Höhe 1.csv"),
            "timestamp;inclino1_raw;inclino1_x;inclino1_y;force_raw;force_kg\r\n"
            "Süd;X=+01.235 Y=-12.346;1,235;-12,346;;\r\n");
}

TEST(Program, ConvertsTheSample) {
  testing::TempDir dir;
  testing::SeparatorStore store(dir, ",", ".");
  std::string copy = dir.file("sample.tlq");
  testing::writeFile(copy, testing::readFile(testing::samplePath()));
  auto r = runProcess({TLQ_CONVERTER_EXE, copy});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(testing::readFile(dir.file("sample.csv")),
            testing::readFile(std::string(TLQ_SOURCE_DIR) + "/examples/sample.expected-comma-point.csv"));
}

TEST(Program, FailureIsPrintedWithItsKind) {
  testing::TempDir dir;
  std::string missing = dir.file("missing.tlq");
  auto r = runProcess({TLQ_CONVERTER_EXE, missing});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(r.err, "[IOError]: cannot open: " + missing + "\n");
}

}  // namespace
}  // namespace tlq
