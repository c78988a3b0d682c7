// The quality the conversions measure: the same figures from the CSV's
// rows on one thread and on several, and from the workbook's.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "convert/convert_workbook.h"
#include "test_support.h"

namespace tlq {
namespace {

using testing::readFile;
using testing::sealFrame;
using testing::writeFile;

std::string stampAt(int seconds) {
  char text[40];
  std::snprintf(text, sizeof text, "2026-11-17T%02d:%02d:%02d", 9 + seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string rkFrame(int crcDelta) {
  std::string body("\x00\x00\x00\x00\x00\x00\x40\x00\xC0\x00\x00\x00\x00", 13);
  return testing::base64Encode(sealFrame("\xF0\x01" + body, crcDelta));
}

// 600 entries a minute apart with a gap of 10 minutes after entry 100, one
// of 3 after entry 400, a repeated stamp at entry 200 and one set back at
// 300; entry 50 has no stamp, entry 60 one that is no date-time; every 97th
// inclinometer has no X, every 89th no Y line; every 83rd force is
// unreadable, every 79th -999 (a reading); entry 500 fails its CRC.
// `stamps` gets each entry's time in seconds.
std::string craftedRecording(std::vector<int>& stamps) {
  std::string json = "{\"data\":[\n";
  int t = 0;
  for (int i = 0; i < 600; ++i) {
    if (i) json += ",\n";
    // The lines without a stamp and the dropped entry take no minute.
    const bool none = i == 0 || i == 50 || i == 60 || i == 500;
    t += i == 101 ? 600 : i == 401 ? 180 : i == 200 ? 0 : i == 300 ? -120 : none ? 0 : 60;
    stamps.push_back(t);
    std::string stamp = i == 50 ? "" : i == 60 ? ",\"timestamp\":\"soon\"" : ",\"timestamp\":\"" + stampAt(t) + "\"";
    std::string raw = i == 500 ? rkFrame(1) : i % 97 == 1 ? "Y=-00.567" : i % 89 == 2 ? "X=+01.234\\r\\nZ" : "X=+01.234\\r\\nY=-00.567";
    std::string force = i % 83 == 3 ? "\\u0002 junk\\u0003" : i % 79 == 4 ? "\\u0002-  999N\\u0003" : "\\u0002+  12.25N\\u0003";
    json += R"({"inclino":{"raw":")" + raw + "\"" + stamp + R"(},"force":{"raw":")" + force + R"("}})";
  }
  return json + "\n]}";
}

void expectSame(const QualityFigures& a, const QualityFigures& b, const std::string& what) {
  EXPECT_EQ(a.intervalSeconds, b.intervalSeconds) << what;
  EXPECT_EQ(a.gaps, b.gaps) << what;
  EXPECT_EQ(a.samplesMissing, b.samplesMissing) << what;
  EXPECT_EQ(a.longestGapSeconds, b.longestGapSeconds) << what;
  EXPECT_EQ(a.longestGapAt, b.longestGapAt) << what;
  EXPECT_EQ(a.notAfter, b.notAfter) << what;
  EXPECT_EQ(a.firstNotAfterLine, b.firstNotAfterLine) << what;
  EXPECT_EQ(a.withoutStamp, b.withoutStamp) << what;
  EXPECT_EQ(a.unreadable, b.unreadable) << what;
  EXPECT_EQ(a.dropped, b.dropped) << what;
  EXPECT_EQ(a.lines, b.lines) << what;
  ASSERT_EQ(a.gapList.size(), b.gapList.size()) << what;
  for (size_t g = 0; g < a.gapList.size(); ++g) EXPECT_EQ(a.gapList[g].from.serial, b.gapList[g].from.serial) << what;
  ASSERT_EQ(a.columns.size(), b.columns.size()) << what;
  for (size_t c = 0; c < a.columns.size(); ++c) {
    EXPECT_EQ(a.columns[c].readings, b.columns[c].readings) << what;
    EXPECT_EQ(a.columns[c].least, b.columns[c].least) << what;
    EXPECT_EQ(a.columns[c].greatest, b.columns[c].greatest) << what;
    EXPECT_NEAR(a.columns[c].mean, b.columns[c].mean, 1e-9) << what;
  }
}

TEST(ConvertQuality, EveryPathMeasuresTheSame) {
  testing::TempDir dir;
  testing::SeparatorStore store(dir, ",", ".");
  std::string recording = dir.file("run.tlq");
  std::vector<int> stamps;
  writeFile(recording, craftedRecording(stamps));
  const std::string before = readFile(recording);
  ConversionCounts sequential;
  {
    testing::ScopedEnv env("TLQCONVERTER_THREADS", "1");
    mainConvert(recording, {}, &sequential);
  }
  const QualityFigures& f = sequential.quality;
  EXPECT_EQ(f.lines, 599u);
  EXPECT_EQ(f.dropped, 1u);
  EXPECT_EQ(*f.intervalSeconds, 60);
  EXPECT_EQ(f.gaps, 2u);
  EXPECT_EQ(f.samplesMissing, 9u + 2u);  // 10 intervals, 3 intervals
  EXPECT_EQ(*f.longestGapSeconds, 600);
  EXPECT_EQ(f.longestGapAt, stampAt(stamps[100]));
  EXPECT_EQ(f.notAfter, 2u);
  EXPECT_EQ(f.firstNotAfterLine, 201u);
  EXPECT_EQ(f.withoutStamp, 2u);
  // Entry 500 is no line: the inclinometer's counts are of the lines.
  uint64_t noX = 0, noY = 0, badForce = 0;
  for (int i = 0; i < 600; ++i) {
    if (i == 500) continue;
    noX += i % 97 == 1;
    noY += i % 97 != 1 && i % 89 == 2;
    badForce += i % 83 == 3;
  }
  EXPECT_EQ(f.unreadable[static_cast<size_t>(SensorGroup::inclino1)], noX + noY);
  EXPECT_EQ(f.unreadable[static_cast<size_t>(SensorGroup::force)], badForce);
  EXPECT_FALSE(f.unreadable[static_cast<size_t>(SensorGroup::inclino2)]);
  EXPECT_EQ(f.columns.back().least, -999.0);
  ASSERT_EQ(f.gapList.size(), 2u);
  EXPECT_EQ(f.gapList[1].from.serial, parseIsoDateTime(stampAt(stamps[400]))->serial);
  EXPECT_EQ(f.gapList[1].to.serial, parseIsoDateTime(stampAt(stamps[401]))->serial);
  EXPECT_EQ(f.gapList[1].samplesMissing, 2u);
  for (const char* threads : {"2", "3", "8"}) {
    testing::ScopedEnv env("TLQCONVERTER_THREADS", threads);
    ConversionCounts counts;
    mainConvert(recording, {}, &counts);
    expectSame(counts.quality, f, std::string("threads ") + threads);
    ConversionCounts book;
    mainConvertWorkbook(recording, {}, &book);
    expectSame(book.quality, f, std::string("workbook, threads ") + threads);
  }
  // The interval given instead of the median.
  ConversionControl control;
  control.intervalNanoseconds = 30'000'000'000;
  ConversionCounts given;
  mainConvert(recording, control, &given);
  EXPECT_EQ(*given.quality.intervalSeconds, 30);
  EXPECT_EQ(given.quality.gaps, 594u);  // every positive difference is above 45 s
  EXPECT_EQ(readFile(recording), before);
}

}  // namespace
}  // namespace tlq
