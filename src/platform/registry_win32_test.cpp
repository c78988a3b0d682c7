// The reading layer against the real registry.
#include <gtest/gtest.h>

#include "error.h"
#include "platform/registry.h"
#include "platform/win32_text.h"

namespace tlq {
namespace {

const wchar_t* const kTestKey = L"Software\\tlqconverter-tests";

class WindowsRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    ::RegCloseKey(key_);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
  }

  void set(const wchar_t* name, DWORD type, std::string_view bytes) {
    ASSERT_EQ(::RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  void setText(const wchar_t* name, std::string_view text) {
    set(name, REG_SZ, utf8ToUtf16le(text) + std::string(2, '\0'));
  }

  HKEY key_ = nullptr;
};

TEST_F(WindowsRegistry, ReadsStringsByPathAndName) {
  setText(L"sList", ";");
  setText(L"", "default Höhe");
  EXPECT_EQ(regRead("HKEY_CURRENT_USER\\Software\\tlqconverter-tests", "sList").data(), ";");
  EXPECT_EQ(regRead("hkcu\\Software\\tlqconverter-tests", "").data(), "default Höhe");
  EXPECT_EQ(regRead("HKCU64\\Software\\tlqconverter-tests", "SLIST").data(), ";");
  EXPECT_EQ(regRead("HKCU\\Software\\tlqconverter-tests", "absent").kind(), RegKind::REG_ERROR);
  EXPECT_EQ(regRead("HKCU\\Software\\no-such-key", "sList").kind(), RegKind::REG_ERROR);
  EXPECT_EQ(regRead("HKXX\\Software\\tlqconverter-tests", "sList").kind(), RegKind::REG_ERROR);
}

TEST_F(WindowsRegistry, StringWithoutTerminatorKeepsItsLastCharacter) {
  set(L"bare", REG_SZ, utf8ToUtf16le("ab"));
  EXPECT_EQ(regRead("HKCU\\Software\\tlqconverter-tests", "bare").data(), "ab");
}

TEST_F(WindowsRegistry, EveryKind) {
  set(L"dw", REG_DWORD, std::string("\x2a\x00\x00\x00", 4));
  set(L"be", REG_DWORD_BIG_ENDIAN, std::string("\x00\x00\x00\x2a", 4));
  set(L"qw", REG_QWORD, std::string("\x01\x00\x00\x00\x00\x00\x00\x80", 8));
  set(L"multi", REG_MULTI_SZ, utf8ToUtf16le(std::string("a\0b\0\0", 5)));
  set(L"raw", REG_BINARY, std::string("\x00\xff", 2));
  set(L"expand", REG_EXPAND_SZ, utf8ToUtf16le("%TEMP%") + std::string(2, '\0'));
  const char* key = "HKCU\\Software\\tlqconverter-tests";
  EXPECT_EQ(regRead(key, "dw").dword(), 42u);
  EXPECT_EQ(regRead(key, "be").dword(), 42u);
  EXPECT_EQ(regRead(key, "qw").qword(), 0x8000000000000001u);
  EXPECT_EQ(regRead(key, "multi").data(), std::string("a\0b", 3));
  EXPECT_EQ(regRead(key, "raw").data(), std::string("\x00\xff", 2));
  EXPECT_EQ(regRead(key, "expand").data(), "%TEMP%");
  EXPECT_THROW(regRead(key, "dw").data(), FieldError);
}

TEST_F(WindowsRegistry, TypeCodesAboveTwelve) {
  set(L"twelve", 12, "x");
  set(L"thirteen", 13, "x");
  EXPECT_EQ(regRead("HKCU\\Software\\tlqconverter-tests", "twelve").kind(), RegKind::REG_ERROR);
  try {
    regRead("HKCU\\Software\\tlqconverter-tests", "thirteen");
    ADD_FAILURE() << "no error";
  } catch (const RangeError& e) {
    EXPECT_EQ(e.message(), "value out of range");
  }
}

TEST_F(WindowsRegistry, OpenAndCreateModes) {
  RegKey k = regOpen("HKCU\\Software\\tlqconverter-tests", RegMode::read);
  EXPECT_NE(k, 0u);
  regClose(k);
  EXPECT_EQ(regOpen("HKCU\\Software\\tlqconverter-tests\\sub", RegMode::write), 0u);
  RegKey created = regOpen("HKCU\\Software\\tlqconverter-tests\\sub", RegMode::create);
  EXPECT_NE(created, 0u);
  regClose(created);
  RegKey opened = regOpen("HKCU\\Software\\tlqconverter-tests\\sub", RegMode::write);
  EXPECT_NE(opened, 0u);
  regClose(opened);
  RegKey root = regOpen("HKCU", RegMode::read);  // no backslash: the root itself
  EXPECT_NE(root, 0u);
  regClose(root);
}

}  // namespace
}  // namespace tlq
