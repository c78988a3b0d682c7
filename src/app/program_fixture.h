// A fixture for tests that start the real program in processes: a folder of
// their own for the reports, and the desktop's opener replaced by a probe
// that logs what it was asked to open.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "test_support.h"

#ifdef _WIN32
#include "platform/win32_text.h"
#endif

namespace tlq {

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(std::filesystem::u8path(tmp));
#ifdef _WIN32
    associate(".txt");
    associate(".csv");
    associate(".xlsx");
#else
    std::filesystem::create_directories(std::filesystem::u8path(bin));
    std::filesystem::copy_file(TLQ_ARGS_PROBE_EXE, bin + "/xdg-open");
#endif
  }

#ifdef _WIN32
  // The system's own associations come back as they were.
  void TearDown() override {
    for (const auto& [extension, previous] : associations_) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, extension.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) continue;
      if (previous)
        ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(previous->c_str()),
                         static_cast<DWORD>((previous->size() + 1) * 2));
      else
        ::RegDeleteValueW(key, nullptr);
      ::RegCloseKey(key);
    }
    for (const wchar_t* key : {L"tlqtest.txt", L"tlqtest.csv", L"tlqtest.xlsx"}) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
  }

  // The desktop opens ".txt", ".csv" and ".xlsx" files with the probe.
  void associate(const char* extension) {
    std::wstring progIdKey = L"tlqtest" + widen(extension);
    HKEY key = nullptr;
    ::RegCreateKeyExW(HKEY_CLASSES_ROOT, widen(extension).c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr);
    wchar_t previous[512];
    DWORD size = sizeof previous, type = 0;
    bool had = ::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(previous), &size) ==
                   ERROR_SUCCESS && type == REG_SZ;
    if (had) previous[std::min<size_t>(size / sizeof(wchar_t), 511)] = L'\0';
    associations_.emplace_back(widen(extension), had ? std::optional<std::wstring>(previous) : std::nullopt);
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progIdKey.c_str()),
                     static_cast<DWORD>((progIdKey.size() + 1) * 2));
    ::RegCloseKey(key);
    std::wstring command = L"\"" + widen(TLQ_ARGS_PROBE_EXE) + L"\" \"%1\"";
    ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (progIdKey + L"\\shell\\open\\command").c_str(), 0, nullptr, 0, KEY_WRITE,
                      nullptr, &key, nullptr);
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                     static_cast<DWORD>((command.size() + 1) * 2));
    ::RegCloseKey(key);
  }
#endif

  testing::ProcessResult run(std::vector<std::string> args, std::map<std::string, std::string> env = {},
                             const std::string& program = TLQ_CONVERTER_EXE) {
    args.insert(args.begin(), program);
    env.emplace("TMP", tmp);
    env.emplace("TLQ_PROBE_LOG", openerLog);
#ifndef _WIN32
    env.emplace("PATH", bin + ":" + getEnv("PATH").value_or("/usr/bin:/bin"));
    env.emplace("DISPLAY", "");
    env.emplace("WAYLAND_DISPLAY", "");
#endif
    return testing::runProcess(args, env);
  }

  // What the opener was asked to open; waits a while, since it runs detached.
  std::string opened(bool expectSomething = true) {
    for (int i = 0; i < (expectSomething ? 200 : 10); ++i) {
      if (testing::fileExists(openerLog)) return testing::readFile(openerLog);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
  }

  std::vector<std::string> reports() {
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::u8path(tmp)))
      all.push_back(testing::utf8(e.path()));
    return all;
  }

  testing::TempDir dir;
  std::string tmp = dir.file("tmp");
  std::string bin = dir.file("bin");
  std::string openerLog = dir.file("opened.log");
#ifdef _WIN32
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> associations_;  // the defaults before
#endif
};

}  // namespace tlq
