// A fixture for tests of "--batch" as a user meets it: the console program
// in real processes, on trees of real files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/program_fixture.h"
#include "convert/convert.h"
#include "test_support.h"

namespace tlq {

// `relative` below `root` as the batch names it, with the system's separator.
inline std::string below(const std::string& root, std::string relative) {
#ifdef _WIN32
  std::replace(relative.begin(), relative.end(), '/', '\\');
  return root + "\\" + relative;
#else
  return root + "/" + relative;
#endif
}

// Data lines of a table: line ends outside quoted fields, less the header.
inline size_t dataLines(const std::string& csv) {
  size_t ends = 0;
  bool quoted = false;
  for (size_t i = 0; i < csv.size(); ++i) {
    if (csv[i] == '"') quoted = !quoted;
    if (!quoted && csv[i] == '\n') ++ends;
  }
  return ends - 1;
}

class BatchRun : public Program {
 protected:
  BatchRun() : store(dir, ";", ",") {}

  testing::ProcessResult batch(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), "--batch");
    return run(args, env, TLQ_CONSOLE_PROGRAM);
  }

  // Writes a recording, making its folders.
  std::string put(const std::string& relative, const std::string& json) {
    std::string path = dir.file(relative);
    std::filesystem::create_directories(std::filesystem::u8path(path).parent_path());
    testing::writeFile(path, json);
    return path;
  }

  // What the single conversion writes for the same recording.
  std::string singleTable(const std::string& recording) {
    std::string copy = dir.file("single/r" + std::to_string(++copies) + ".tlq");
    std::filesystem::create_directories(std::filesystem::u8path(dir.file("single")));
    testing::writeFile(copy, testing::readFile(recording));
    return testing::readFile(mainConvert(copy));
  }

  // Every file below `folder` (the test's folder) whose name ends in `end`.
  std::vector<std::string> filesNamed(const std::string& end, const std::string& folder = "") {
    std::vector<std::string> found;
    namespace fs = std::filesystem;
    for (const auto& e : fs::recursive_directory_iterator(fs::u8path(folder.empty() ? dir.path() : folder)))
      if (testing::utf8(e.path().filename()).ends_with(end)) found.push_back(testing::utf8(e.path()));
    return found;
  }

  // Files of ours left behind: temporary tables and older ones moved aside.
  std::vector<std::string> leftovers() {
    std::vector<std::string> found = filesNamed(".tmp");
    for (const std::string& f : filesNamed(".old")) found.push_back(f);
    return found;
  }

  testing::SeparatorStore store;
  int copies = 0;
};

}  // namespace tlq
