// A fixture for tests of "--merge" as a user meets it: campaigns of real
// recordings, merged by the console program in real processes, and the
// lines the single tables say the merge must hold.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/batch_fixture.h"
#include "test_support.h"

namespace tlq {

struct Groups {
  bool inclino2 = false, elasto = false;
};

inline std::string twoDigits(int n) { return std::string(1, char('0' + n / 10)) + char('0' + n % 10); }

// The time stamp of entry `i`: 2026-03-DD, a second per entry from 08:00,
// with `zone` after it; "" for no stamp.
inline std::string stampOf(int i, const std::string& zone, int day = 1) {
  int s = 8 * 3600 + i;
  return "2026-03-" + twoDigits(day) + "T" + twoDigits(s / 3600 % 24) + ":" + twoDigits(s / 60 % 60) + ":" +
         twoDigits(s % 60) + zone;
}

// A recording of the entries [first, first + count), each a line: the
// first inclinometer (and the second, the elastometer) with readings made
// of the entry's number, and a force; `changed` gives one entry another
// reading; `failAt` an entry the conversion fails on.
inline std::string campaign(int first, int count, Groups groups = {}, const std::string& zone = "", int day = 1,
                     bool stamps = true, int changed = -1, int failAt = -1) {
  std::string json = "{\"data\":[";
  for (int i = first; i < first + count; ++i) {
    json += i > first ? ",\n" : "\n";
    if (i == failAt) {
      json += R"({"inclino":{"raw":"8AAA"}})";
      continue;
    }
    std::string n = std::to_string(i % 1000 + 1000).substr(1);
    std::string x = i == changed ? "999" : n;
    json += R"({"inclino":{"raw":"X=+01.)" + x + R"(\r\nY=-12.)" + n + "\"";
    if (stamps) json += R"(,"timestamp":")" + stampOf(i, zone, day) + "\"";
    json += "}";
    if (groups.inclino2) json += R"(,"inclino2":{"raw":"X=+02.)" + n + R"(\r\nY=-03.)" + n + R"("})";
    if (groups.elasto) json += R"(,"dlen":{"raw":"A=)" + n + R"( x B=456","val1":)" + n + R"(,"val2":12.5})";
    json += R"(,"force":{"raw":"\u0002- 1)" + n + R"(N\u0003"}})";
  }
  return json + "]}";
}

inline std::vector<std::string> split(const std::string& text, const std::string& by) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t next; (next = text.find(by, at)) != std::string::npos; at = next + by.size())
    parts.push_back(text.substr(at, next - at));
  parts.push_back(text.substr(at));
  return parts;
}

// A table's lines without their "\r\n" (no field of these tables holds a
// line break).
inline std::vector<std::string> linesOf(const std::string& csv) {
  std::vector<std::string> lines = split(csv, "\r\n");
  EXPECT_EQ(lines.back(), "");
  lines.pop_back();
  return lines;
}

class MergeRun : public BatchRun {
 protected:
  testing::ProcessResult merge(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), "--merge");
    return run(args, env, TLQ_CONSOLE_PROGRAM);
  }

  // The lines a merge of `recordings` (in merge order, named as given)
  // must hold under `header`: each single table's lines, their fields put
  // under the merged header's columns by name, after the recording's name,
  // and those an earlier recording gave left out. Counts those left out.
  std::vector<std::string> expected(const std::vector<std::pair<std::string, std::string>>& recordings,
                                    const std::string& header, size_t* repeated = nullptr) {
    std::vector<std::string> columns = split(header, ";");
    std::vector<std::string> lines;
    std::set<std::string> earlier;
    for (const auto& [name, path] : recordings) {
      std::vector<std::string> single = linesOf(singleTable(path));
      std::vector<std::string> own = split(single.front(), ";");
      std::set<std::string> mine;
      for (size_t i = 1; i < single.size(); ++i) {
        std::vector<std::string> fields = split(single[i], ";");
        EXPECT_EQ(fields.size(), own.size()) << single[i];
        std::string line;
        for (size_t c = 1; c < columns.size(); ++c) {
          auto at = std::find(own.begin(), own.end(), columns[c]);
          line += (c > 1 ? ";" : "") + (at == own.end() ? "" : fields[at - own.begin()]);
        }
        if (earlier.count(line)) {
          if (repeated) ++*repeated;
          continue;
        }
        mine.insert(line);
        lines.push_back(name + ";" + line);
      }
      earlier.insert(mine.begin(), mine.end());
    }
    return lines;
  }
};

}  // namespace tlq
