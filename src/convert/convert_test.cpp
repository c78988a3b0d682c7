#include "convert/convert.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "error.h"
#include "platform/folders.h"
#include "test_support.h"

namespace tlq {
namespace {

using testing::base64Encode;
using testing::fileExists;
using testing::readFile;
using testing::sealFrame;
using testing::writeFile;

constexpr const char* kHeader6 = "timestamp,inclino1_raw,inclino1_x,inclino1_y,force_raw,force_kg\r\n";

class Convert : public ::testing::Test {
 protected:
  Convert() : store(dir, ",", ".") {}

  // Converts `json` and returns the CSV text.
  std::string csvOf(std::string_view json) {
    writeFile(recording, json);
    EXPECT_EQ(mainConvert(recording), csv);
    return readFile(csv);
  }

  // Converts `json`, expecting a failure: "Kind: message".
  std::string failureOf(std::string_view json) {
    writeFile(recording, json);
    return testing::failureOf([&] { mainConvert(recording); });
  }

  testing::TempDir dir;
  testing::SeparatorStore store;
  std::string recording = dir.file("run 1.tlq");
  std::string csv = dir.file("run 1.csv");
};

std::string dq7(int crcDelta) {
  // A0L 3000, A0H 1000, CAL_A 5000: A_deg 1.0; B 0.
  std::string body("\xB8\x8B\x3E\x00\x00\x00\x00\x00\x00\x00\x88\x13\x00\x00", 14);
  return base64Encode(sealFrame("\xFF\xFF" + body, crcDelta));
}

std::string rk(int crcDelta) {
  std::string body("\x00\x00\x00\x00\x00\x00\x40\x00\xC0\x00\x00\x00\x00", 13);  // ACCX 16384, ACCY -16384
  return base64Encode(sealFrame("\xF0\x01" + body, crcDelta));
}

TEST_F(Convert, ColumnSetsFollowTheRecording) {
  EXPECT_EQ(csvOf(R"({"data":[]})"), kHeader6);
  EXPECT_EQ(csvOf(R"({"data":[{}, {"inclino2":{}}]})"),
            "timestamp,inclino1_raw,inclino1_x,inclino1_y,inclino2_raw,inclino2_x,inclino2_y,force_raw,force_kg\r\n"
            ",,,,,,,,\r\n,,,,,,,,\r\n");
  EXPECT_EQ(csvOf(R"({"data":[{"dlen":{}}]})"),
            "timestamp,inclino1_raw,inclino1_x,inclino1_y,elasto_raw,elasto_raw_a,elasto_raw_b,elasto_a_um,"
            "elasto_b_um,force_raw,force_kg\r\n,,,,,,,,,,\r\n");
  EXPECT_EQ(csvOf(R"({"meta":1,"data":[{"dlen":{}}, {"inclino2":{"timestamp":"x"}}]})"),
            "timestamp,inclino1_raw,inclino1_x,inclino1_y,inclino2_raw,inclino2_x,inclino2_y,elasto_raw,"
            "elasto_raw_a,elasto_raw_b,elasto_a_um,elasto_b_um,force_raw,force_kg\r\n"
            ",,,,,,,,,,,,,\r\n,,,,,,,,,,,,,\r\n");
}

TEST_F(Convert, TextInclinometerAndForce) {
  EXPECT_EQ(csvOf(R"({"data":[
      {"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"10:00:00"},"force":{"raw":"\u0002- 150N\u0003"}},
      {"inclino":{"raw":"X=+1.235\r\nY=-12.346"}},
      {"inclino":{"timestamp":"lost"},"force":{"raw":"+  1.23M\u0003\u0002NM"}},
      {"inclino":{"raw":17,"timestamp":"t"}}
    ]})"),
            std::string(kHeader6) +
                "10:00:00,X=+01.235 Y=-12.346,1.235,-12.346,\x02- 150\x03,-150.0\r\n"
                ",X=+1.235 Y=-12.346,,-12.346,,\r\n"
                ",,,,+  1.23\x03\x02,125.4027160393132\r\n"
                "t,,-999.0,-999.0,,\r\n");
}

TEST_F(Convert, FramesAndTheirCrcRules) {
  std::string json = R"({"data":[
      {"inclino":{"raw":")" + dq7(0) + R"("},"inclino2":{"raw":")" + dq7(1) + R"("}},
      {"inclino":{"raw":")" + dq7(1) + R"("},"force":{"raw":"\u0002- 150N\u0003"}},
      {"inclino":{"raw":")" + rk(0) + R"("}},
      {"inclino2":{"raw":")" + rk(1) + R"("},"force":{"raw":"dropped too"}},
      {"inclino":{"raw":")" + rk(1) + R"("}}
    ]})";
  std::string text = csvOf(json);
  EXPECT_EQ(text,
            "timestamp,inclino1_raw,inclino1_x,inclino1_y,inclino2_raw,inclino2_x,inclino2_y,force_raw,force_kg\r\n"
            ",\"{\"\"A_deg\"\":1.0,\"\"B_deg\"\":0.0,\"\"A0L\"\":3000,\"\"A0H\"\":1000,\"\"B0L\"\":0,\"\"B0H\"\":0,"
            "\"\"FL\"\":0,\"\"FH\"\":0,\"\"CAL_A\"\":5000,\"\"CAL_B\"\":0,\"\"CRC_OK\"\":true,\"\"RAW_B64\"\":\"\"" +
                dq7(0) + "\"\"}\",1.0,0.0,"
                "\"{\"\"A_deg\"\":1.0,\"\"B_deg\"\":0.0,\"\"A0L\"\":3000,\"\"A0H\"\":1000,\"\"B0L\"\":0,\"\"B0H\"\":0,"
                "\"\"FL\"\":0,\"\"FH\"\":0,\"\"CAL_A\"\":5000,\"\"CAL_B\"\":0,\"\"CRC_OK\"\":false,\"\"RAW_B64\"\":\"\"" +
                dq7(1) + "\"\"}\",1.0,0.0,,\r\n"
                ",\"{\"\"ACCX\"\":16384,\"\"ACCY\"\":-16384,\"\"MUR_OVERFLOWS\"\":0,\"\"UART_OVERFLOWS\"\":0,"
                "\"\"RS_ERRORS\"\":0,\"\"STATUS\"\":0,\"\"CRC_OK\"\":true,\"\"RAW_B64\"\":\"\"" +
                rk(0) + "\"\",\"\"X_deg\"\":30.0,\"\"Y_deg\"\":-30.0}\",30.0,-30.0,,,,,\r\n");
}

TEST_F(Convert, AnglesAreRoundedToThreeDecimals) {
  // 1.23456 and -12.3456 come from no payload form directly; a dq7 frame
  // with A = (1 - 0) * 12345 / 1e7 = 0.0012345 gives a value to round.
  std::string body("\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x39\x30\x00\x00", 14);
  std::string frame = base64Encode(sealFrame("\xFF\xFF" + body));
  std::string text = csvOf(R"({"data":[{"inclino":{"raw":")" + frame + R"("}}]})");
  EXPECT_NE(text.find("\"\"A_deg\"\":0.0012345,"), std::string::npos) << text;
  EXPECT_NE(text.find("}\",0.001,0.0,,\r\n"), std::string::npos) << text;
}

TEST_F(Convert, ElastometerColumns) {
  EXPECT_EQ(csvOf(R"({"data":[
      {"dlen":{"raw":"A=123 x B=456","val1":12,"val2":12.0}},
      {"dlen":{"raw":"A=77 only","val1":"x","val2":-3e-7}},
      {"dlen":{"val1":1}}
    ]})"),
            "timestamp,inclino1_raw,inclino1_x,inclino1_y,elasto_raw,elasto_raw_a,elasto_raw_b,elasto_a_um,"
            "elasto_b_um,force_raw,force_kg\r\n"
            ",,,,A=123 x B=456,123.0,456.0,12.0,12.0,,\r\n"
            ",,,,A=77 only,77.0,,0.0,-3e-07,,\r\n"
            ",,,,,,,,,,\r\n");
}

// A number is the double it rounds to, however large its exponent (the
// parser counts exponents only up to about 2^31).
TEST_F(Convert, ExponentsOfAnySize) {
  EXPECT_EQ(csvOf(R"({"data":[
      {"dlen":{"raw":"A=1 x B=2","val1":1e2147483648,"val2":0e9999999999999999999}},
      {"dlen":{"raw":"A=1 x B=2","val1":-1e-2147483648,"val2":-7E+0000000000000000000000000000000000002}}
    ]})"),
            "timestamp,inclino1_raw,inclino1_x,inclino1_y,elasto_raw,elasto_raw_a,elasto_raw_b,elasto_a_um,"
            "elasto_b_um,force_raw,force_kg\r\n"
            ",,,,A=1 x B=2,1.0,2.0,inf,0.0,,\r\n"
            ",,,,A=1 x B=2,1.0,2.0,-0.0,-700.0,,\r\n");
}

TEST_F(Convert, LocalisedSeparators) {
  testing::SeparatorStore semicolon(dir, ";", ",");
  EXPECT_EQ(csvOf(R"({"data":[{"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"a;b"}}]})"),
            "timestamp;inclino1_raw;inclino1_x;inclino1_y;force_raw;force_kg\r\n"
            "\"a;b\";X=+01.235 Y=-12.346;1,235;-12,346;;\r\n");
  testing::SeparatorStore commas(dir, ",", ",");
  EXPECT_EQ(csvOf(R"({"data":[{"inclino":{"raw":"X=+01.235\r\nY=-12.346","timestamp":"a;b"}}]})"),
            std::string(kHeader6) + "a;b,X=+01.235 Y=-12.346,\"1,235\",\"-12,346\",,\r\n");
}

TEST_F(Convert, ExistingCsvIsOverwritten) {
  writeFile(csv, std::string(10000, 'x'));
  EXPECT_EQ(csvOf(R"({"data":[]})"), kHeader6);
}

TEST_F(Convert, CsvPathKeepsTheRecordingsFolderAndForm) {
  std::filesystem::create_directories(dir.file("run.2"));
  std::string noExtension = dir.file("run.2/recording");
  writeFile(noExtension, R"({"data":[]})");
  EXPECT_EQ(mainConvert(noExtension), noExtension + ".csv");
  EXPECT_EQ(readFile(noExtension + ".csv"), kHeader6);
}

// Failures before the CSV file is created leave no file.
TEST_F(Convert, EarlyFailuresCreateNoFile) {
  struct Case {
    const char* json;
    const char* error;
  };
  for (const Case& c : {
           Case{R"({"data":[}])", "JsonParseError: invalid JSON at line 1, column 10: expected a JSON value or ']', found '}'"},
           Case{R"([])", "ValueError: the recording is not a JSON object"},
           Case{R"({"Data":[]})", "KeyError: key not found: data"},
           Case{R"({"data":"x"})", "ValueError: \"data\" is not a JSON array"},
           Case{R"({"data":[{}, 3, {"inclino2":{}}]})", "ValueError: data[1] is not a JSON object"},
       }) {
    EXPECT_EQ(failureOf(c.json), c.error);
    EXPECT_FALSE(fileExists(csv)) << c.json;
  }
  std::string missing = dir.file("missing.tlq");
  EXPECT_THROW(mainConvert(missing), IoError);
  EXPECT_FALSE(fileExists(dir.file("missing.csv")));
}

TEST_F(Convert, SeparatorFailureCreatesNoFile) {
  testing::SeparatorStore noList(dir, nullptr, ",");
  EXPECT_EQ(failureOf(R"({"data":[]})"),
            "FieldError: field 'data' is not accessible for type 'RegData' using 'kind = REG_ERROR'");
  EXPECT_FALSE(fileExists(csv));
}

// Failures in the loop keep the header and the lines before them.
TEST_F(Convert, LoopFailuresKeepThePartialFile) {
  struct Case {
    const char* entry;
    const char* error;
  };
  for (const Case& c : {
           Case{R"(7)", "ValueError: data[1] is not a JSON object"},
           Case{R"({"inclino":"x"})", "ValueError: data[1].inclino is not a JSON object"},
           Case{R"({"force":[1]})", "ValueError: data[1].force is not a JSON object"},
           Case{R"({"dlen":{"raw":"A=1 x B=2","val2":1}})", "KeyError: key not found: val1"},
           Case{R"({"dlen":{"raw":"A=1 x B=2","val1":1}})", "KeyError: key not found: val2"},
           Case{R"({"inclino":{"raw":"WD0=A"}})", "ValueError: Invalid base64 format character `=` (ord 61) at location 3."},
           Case{R"({"inclino2":{"raw":"//4A"}})", "AssertionError: tlqconverter(135, 5) `header == 65535` "},
           Case{R"({"inclino":{"raw":"8AE="}})", "IndexError: index 7 not in 0 .. 1"},
       }) {
    std::string json = std::string(R"({"data":[{"inclino2":{}, "dlen":{}, "force":{"raw":"  1N.."}},)") + c.entry +
                       R"(, {"force":{"raw":"  2N.."}}]})";
    EXPECT_EQ(failureOf(json), c.error);
    EXPECT_EQ(readFile(csv),
              "timestamp,inclino1_raw,inclino1_x,inclino1_y,inclino2_raw,inclino2_x,inclino2_y,elasto_raw,"
              "elasto_raw_a,elasto_raw_b,elasto_a_um,elasto_b_um,force_raw,force_kg\r\n"
              ",,,,,,,,,,,,  1..,1.0\r\n")
        << c.entry;
  }
}

TEST_F(Convert, DroppedEntryIsNotExaminedFurther) {
  // The rk frame fails its CRC, so the broken "dlen" after it is never read.
  std::string json = R"({"data":[{"inclino":{"raw":")" + rk(1) + R"("},"dlen":{"raw":"A=1 x B=2"}}]})";
  EXPECT_NE(csvOf(json).find("elasto_b_um,force_raw,force_kg\r\n"), std::string::npos);
  EXPECT_EQ(readFile(csv).find("\r\n"), readFile(csv).size() - 2);
}

TEST_F(Convert, UncreatableCsvFails) {
  std::filesystem::create_directories(csv);  // a folder where the file would go
  EXPECT_EQ(failureOf(R"({"data":[]})"), "IOError: cannot open: " + csv);
}

// A table's name that leads to a device: the table would go in its place
// (a rename), so it is refused before the work, and the device stays.
TEST_F(Convert, ATableThatLeadsToADeviceIsRefused) {
  if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", csv);
  EXPECT_EQ(failureOf(R"({"data":[{}]})"), "IOError: cannot open: " + csv);
  EXPECT_EQ(pathInfo("/dev/full").kind, PathKind::other);
}

TEST_F(Convert, RecordingIsNeverItsOwnCsv) {
  std::string json = R"({"data":[{"force":{"raw":" 1N.."}}]})";
  std::string named = dir.file("named.csv");
  writeFile(named, json);
  EXPECT_THROW(mainConvert(named), IoError);
  EXPECT_EQ(readFile(named), json);

  std::string linked = dir.file("linked.tlq");
  writeFile(linked, json);
  std::filesystem::create_hard_link(linked, dir.file("linked.csv"));
  try {
    mainConvert(linked);
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.message(), "cannot open: " + dir.file("linked.csv") + " (it is the recording itself)");
  }
  EXPECT_EQ(readFile(linked), json);

  std::filesystem::remove(dir.file("linked.csv"));
  std::error_code noSymlinks;
  std::filesystem::create_symlink(linked, dir.file("linked.csv"), noSymlinks);
  if (noSymlinks) return;  // a system without symbolic links for us
  EXPECT_THROW(mainConvert(linked), IoError);
  EXPECT_EQ(readFile(linked), json);
}

TEST_F(Convert, RecordingIsNotModified) {
  std::string json = "{\"data\":[{\"inclino\":{\"raw\":\"X=+01.235\\r\\nY=-12.346\"}}]}";
  writeFile(recording, json);
  auto before = std::filesystem::last_write_time(recording);
  mainConvert(recording);
  EXPECT_EQ(readFile(recording), json);
  EXPECT_EQ(std::filesystem::last_write_time(recording), before);
}

// A recording of `count` ordinary entries of every form, with the entries
// named in `broken` replaced by ones that fail in different ways.
std::string mixedRecording(int count, std::initializer_list<int> broken) {
  const std::string forms[] = {"X=+01.234\\r\\nY=-00.567", dq7(0), rk(0), dq7(1), rk(1)};
  std::string json = "{\"data\":[\n";
  for (int i = 0; i < count; ++i) {
    if (i) json += ",\n";
    if (std::find(broken.begin(), broken.end(), i) != broken.end()) {
      switch (i % 3) {
        case 0: json += R"({"inclino":{"raw":"8AIAAAAAAAAAAAAAAAAAAA=="}})"; break;  // wrong header
        case 1: json += R"({"dlen":{"raw":"A=1 2 B=3","val1":1}})"; break;       // no val2
        default: json += "[" + std::to_string(i) + "]"; break;                   // not an object
      }
      continue;
    }
    json += R"({"inclino":{"raw":")" + forms[i % 5] + R"(","timestamp":"t)" + std::to_string(i) +
            R"("},"inclino2":{"raw":")" + forms[(i / 5) % 5] + R"("},"force":{"raw":"\u0002+  )" +
            std::to_string(i % 30) + R"(.25N\u0003"},"dlen":{"raw":"A=)" + std::to_string(i) + R"( 0 B=7","val1":)" +
            std::to_string(i) + R"(.5,"val2":-0.125}})";
  }
  return json + "\n]}";
}

// The CSV left behind and the failure with its whole trace.
std::string outcome(const std::string& recording, const std::string& csv, const char* threads) {
  testing::ScopedEnv env("TLQCONVERTER_THREADS", threads);
  std::string failure = "no error";
  try {
    mainConvert(recording);
  } catch (const Error& e) {
    failure = std::string(e.kindName()) + ": " + e.message() + "\n" + traceText(e);
  }
  return failure + "\n" + readFile(csv);
}

TEST_F(Convert, EveryPathGivesTheSameFileAndFailure) {
  const std::initializer_list<int> cases[] = {{}, {0}, {1}, {2}, {151}, {299}, {250, 120}, {298, 3}};
  for (const auto& broken : cases) {
    writeFile(recording, mixedRecording(300, broken));
    std::string sequential = outcome(recording, csv, "1");
    EXPECT_EQ(sequential.starts_with("no error"), broken.size() == 0);
    for (const char* threads : {"2", "3", "8"}) EXPECT_EQ(outcome(recording, csv, threads), sequential) << threads;
  }
}

// The bundled sample against its reviewed CSV tables.
struct SampleCase {
  const char* name;
  const char* list;
  const char* decimal;
  const char* expected;
};

void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.name; }

class Sample : public ::testing::TestWithParam<SampleCase> {};

TEST_P(Sample, MatchesTheExpectedTable) {
  auto [name, list, decimal, expected] = GetParam();
  testing::TempDir dir;
  testing::SeparatorStore store(dir, list, decimal);
  std::string copy = dir.file("sample.tlq");
  writeFile(copy, readFile(testing::samplePath()));
  for (const char* threads : {"1", "4"}) {  // on this thread; in ranges of one entry
    testing::ScopedEnv env("TLQCONVERTER_THREADS", threads);
    std::string csv = mainConvert(copy);
    EXPECT_EQ(readFile(csv), readFile(std::string(TLQ_SOURCE_DIR) + "/examples/" + expected)) << threads;
  }
}

INSTANTIATE_TEST_SUITE_P(Separators, Sample,
                         ::testing::Values(SampleCase{"SemicolonComma", ";", ",", "sample.expected-semicolon-comma.csv"},
                                           SampleCase{"CommaPoint", ",", ".", "sample.expected-comma-point.csv"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tlq
