// The program as a user starts it.
#include <gtest/gtest.h>

#include "test_support.h"

namespace tlq {
namespace {

using testing::runProcess;

TEST(Program, ConvertsTheRecordingGiven) {
  testing::TempDir dir;
  std::string recording = dir.file("Messung Höhe 1.tlq");
  testing::writeFile(recording, R"({"data":[{"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"t"}}]})");
  testing::writeFile(dir.file("store.reg"),
                     "[HKEY_CURRENT_USER\\Control Panel\\International]\n\"sList\"=\";\"\n\"sDecimal\"=\",\"\n");
  auto r = runProcess({TLQ_CONVERTER_EXE, recording}, {{"TLQCONVERTER_REGISTRY", dir.file("store.reg")}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(testing::readFile(dir.file("Messung Höhe 1.csv")),
            "timestamp;inclino1_raw;inclino1_x;inclino1_y;force_raw;force_kg\r\n"
            "t;X=+01.235 Y=-12.346;1,235;-12,346;;\r\n");
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
