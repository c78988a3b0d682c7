#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "error.h"
#include "platform/reg_file.h"
#include "test_support.h"

namespace tlq {
namespace {

std::string utf16z(std::string_view text) { return utf8ToUtf16le(text) + std::string(2, '\0'); }

TEST(RegDataFromValue, Strings) {
  RegData sz = regDataFromValue(1, utf16z(";"));
  EXPECT_EQ(sz.kind(), RegKind::REG_SZ);
  EXPECT_EQ(sz.data(), ";");
  EXPECT_EQ(regDataFromValue(2, utf16z("%TEMP%\\x")).data(), "%TEMP%\\x");  // not expanded
  EXPECT_EQ(regDataFromValue(1, utf16z("Höhe €")).data(), "Höhe €");
  EXPECT_EQ(regDataFromValue(1, utf16z("a") + utf16z("b")).data(), "a");  // cut at the first NUL
}

TEST(RegDataFromValue, StringWithoutTerminatorKeepsItsLastCharacter) {
  EXPECT_EQ(regDataFromValue(1, utf8ToUtf16le(";")).data(), ";");
  EXPECT_EQ(regDataFromValue(1, utf8ToUtf16le("ab")).data(), "ab");
  EXPECT_EQ(regDataFromValue(1, "").data(), "");
}

TEST(RegDataFromValue, MultiStringKeepsInnerNuls) {
  RegData multi = regDataFromValue(7, utf16z("one") + utf16z("two") + std::string(2, '\0'));
  EXPECT_EQ(multi.data(), std::string("one\0two", 7));
}

TEST(RegDataFromValue, Numbers) {
  RegData dw = regDataFromValue(4, std::string("\x3b\x00\x00\x01", 4));
  EXPECT_EQ(dw.kind(), RegKind::REG_DWORD);
  EXPECT_EQ(dw.dword(), 0x0100003Bu);
  EXPECT_EQ(regDataFromValue(5, std::string("\x01\x02\x03\x04", 4)).dword(), 0x01020304u);
  EXPECT_EQ(regDataFromValue(11, std::string("\x01\x00\x00\x00\x00\x00\x00\x80", 8)).qword(), 0x8000000000000001u);
}

TEST(RegDataFromValue, RawKindsAndTheErrorCode) {
  EXPECT_EQ(regDataFromValue(3, std::string("\x00\xFF", 2)).data(), std::string("\x00\xFF", 2));
  EXPECT_EQ(regDataFromValue(0, "x").kind(), RegKind::REG_NONE);
  EXPECT_EQ(regDataFromValue(12, "x").kind(), RegKind::REG_ERROR);
  EXPECT_THROW(regDataFromValue(13, "x"), RangeError);
  try {
    regDataFromValue(0xFFFF0000u, "");
  } catch (const RangeError& e) {
    EXPECT_EQ(e.message(), "value out of range");
  }
}

TEST(RegData, FieldsOfOtherKindsAreNotAccessible) {
  auto message = [](auto f) {
    try {
      f();
    } catch (const FieldError& e) {
      return e.message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(message([] { RegData().data(); }),
            "field 'data' is not accessible for type 'RegData' using 'kind = REG_ERROR'");
  EXPECT_EQ(message([] { RegData::qword(1).data(); }),
            "field 'data' is not accessible for type 'RegData' using 'kind = REG_QWORD'");
  EXPECT_EQ(message([] { RegData::bytes(RegKind::REG_SZ, "x").dword(); }),
            "field 'dword' is not accessible for type 'RegData' using 'kind = REG_SZ'");
}

TEST(RegPath, RootNamesAndViews) {
  auto p = parseRegPath("hkcu\\Control Panel\\International");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->root, RegRoot::currentUser);
  EXPECT_EQ(p->subkey, "Control Panel\\International");
  EXPECT_FALSE(p->view64);
  auto v = parseRegPath("HKLM64\\Software");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->root, RegRoot::localMachine);
  EXPECT_TRUE(v->view64);
  auto root = parseRegPath("HKEY_USERS");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->subkey, "");
  auto remote = parseRegPath("\\\\\\server\\HKCC\\System");
  ASSERT_TRUE(remote);
  EXPECT_EQ(remote->computer, "\\\\server");
  EXPECT_EQ(remote->root, RegRoot::currentConfig);
  EXPECT_EQ(remote->subkey, "System");
  EXPECT_FALSE(parseRegPath("HKEY_NOWHERE\\x"));
  EXPECT_FALSE(parseRegPath("HKCU6464\\x"));
  EXPECT_FALSE(parseRegPath(""));
}

TEST(RegStore, ParsesTheRegFormat) {
  RegStore store = RegStore::parse(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
      "@=\"default\"\r\n"
      "\"Quoted\"=\"say \\\"hi\\\" C:\\\\dir\"\r\n"
      "\"Count\"=dword:0000002a\r\n"
      "\"Blob\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"Gone\"=-\r\n"
      "garbage line\r\n");
  const char* key = "HKCU\\software\\TEST";
  EXPECT_TRUE(store.hasKey(key));
  auto value = [&](const char* name) {
    const RegValue* v = store.findValue(key, name);
    return v ? regDataFromValue(v->type, v->bytes) : RegData();
  };
  EXPECT_EQ(value("").data(), "default");
  EXPECT_EQ(value("quoted").data(), "say \"hi\" C:\\dir");
  EXPECT_EQ(value("Count").dword(), 42u);
  EXPECT_EQ(value("Blob").data(), "\x01\x02\x03");
  EXPECT_EQ(value("Multi").data(), std::string("a\0b", 3));
  ASSERT_NE(store.findValue(key, "Gone"), nullptr);
  EXPECT_TRUE(store.findValue(key, "Gone")->removed);
  EXPECT_EQ(store.findValue(key, "Missing"), nullptr);
}

// Found by the store's fuzz target: a key with an empty name on its way was
// kept, and written back as a different key.
TEST(RegStore, KeyPathsWithAnEmptyNameAreUnusable) {
  RegStore store = RegStore::parse("[HKEY_CURRENT_USER\\\\Control]\r\n\"a\"=\"1\"\r\n[HKEY_CURRENT_USER\\x]\r\n");
  EXPECT_FALSE(store.hasKey("HKEY_CURRENT_USER\\\\Control"));
  EXPECT_EQ(store.findValue("HKEY_CURRENT_USER\\\\Control", "a"), nullptr);
  EXPECT_EQ(store.serialize(), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\x]\r\n");
  EXPECT_EQ(RegStore::parse(store.serialize()).serialize(), store.serialize());
}

TEST(RegStore, Utf16FileAndKeyDeletion) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\A\\B]\r\n\"x\"=\"Höhe\"\r\n"
      "[HKEY_CURRENT_USER\\A\\C]\r\n"
      "[-HKEY_CURRENT_USER\\A\\C]\r\n";
  RegStore store = RegStore::parse("\xFF\xFE" + utf8ToUtf16le(text));
  EXPECT_TRUE(store.hasKey("HKEY_CURRENT_USER\\A"));
  EXPECT_FALSE(store.hasKey("HKEY_CURRENT_USER\\A\\C"));
  const RegValue* v = store.findValue("HKEY_CURRENT_USER\\A\\B", "x");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(regDataFromValue(v->type, v->bytes).data(), "Höhe");
}

TEST(RegStore, SerializeReadsBackTheSame) {
  RegStore store;
  RegValue text{"Name \"q\"", 1, utf16z("C:\\Tools\\tlqconverter.exe \"%1\""), false};
  RegValue raw{"", 3, std::string("\x00\x10", 2), false};
  RegValue odd{"odd", 1, utf8ToUtf16le("no terminator"), false};
  RegValue lines{"lines", 1, utf16z("one\r\ntwo\n"), false};  // found by the store's fuzz target
  store.setValue("HKCR\\OstrelTlqFile\\shell", text);
  store.setValue("HKCR\\OstrelTlqFile\\shell", lines);
  store.setValue("HKCR\\OstrelTlqFile\\shell", raw);
  store.setValue("HKCR\\OstrelTlqFile", odd);
  RegStore again = RegStore::parse(store.serialize());
  for (const auto& [key, value] : {std::pair{"HKEY_CLASSES_ROOT\\OstrelTlqFile\\shell", text},
                                   std::pair{"HKEY_CLASSES_ROOT\\OstrelTlqFile\\shell", raw},
                                   std::pair{"HKEY_CLASSES_ROOT\\OstrelTlqFile\\shell", lines},
                                   std::pair{"HKEY_CLASSES_ROOT\\OstrelTlqFile", odd}}) {
    const RegValue* v = again.findValue(key, value.name);
    ASSERT_NE(v, nullptr) << value.name;
    EXPECT_EQ(v->type, value.type);
    EXPECT_EQ(v->bytes, value.bytes);
  }
}

#ifndef _WIN32
TEST(RegReadPosix, ReadsTheStoreFile) {
  testing::TempDir dir;
  std::string path = dir.file("store.reg");
  testing::writeFile(path,
                     "Windows Registry Editor Version 5.00\n\n"
                     "[HKEY_CURRENT_USER\\Software\\T]\n\"s\"=\"v\"\n\"big\"=hex(d):00\n");
  testing::ScopedEnv env("TLQCONVERTER_REGISTRY", path.c_str());
  EXPECT_EQ(regRead("HKCU\\Software\\T", "s").data(), "v");
  EXPECT_EQ(regRead("hkcu64\\software\\t", "S").data(), "v");
  EXPECT_EQ(regRead("HKCU\\Software\\T", "none").kind(), RegKind::REG_ERROR);
  EXPECT_EQ(regRead("HKCU\\Software\\Missing", "s").kind(), RegKind::REG_ERROR);
  EXPECT_EQ(regRead("HKXX\\Software\\T", "s").kind(), RegKind::REG_ERROR);
  EXPECT_EQ(regRead("\\\\host\\HKCU\\Software\\T", "s").kind(), RegKind::REG_ERROR);
  EXPECT_THROW(regRead("HKCU\\Software\\T", "big"), RangeError);

  RegKey key = regOpen("HKCU\\Software\\T", RegMode::read);
  EXPECT_NE(key, 0u);
  regClose(key);
  EXPECT_EQ(regOpen("HKCU\\Software\\Missing", RegMode::read), 0u);
}

TEST(RegReadPosix, CreateModeWritesTheStoreAtomically) {
  testing::TempDir dir;
  std::string path = dir.file("sub/dir/store.reg");
  testing::ScopedEnv env("TLQCONVERTER_REGISTRY", path.c_str());
  RegKey key = regOpen("HKCU\\Software\\New\\Deep", RegMode::create);
  ASSERT_NE(key, 0u);
  regClose(key);
  std::string text = testing::readFile(path);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\New\\Deep]"), std::string::npos) << text;
  // The locale's separators are not written into the file.
  EXPECT_EQ(text.find("sList"), std::string::npos);
  EXPECT_NE(regOpen("HKCU\\Software\\New", RegMode::read), 0u);
}

TEST(RegReadPosix, MissingOrUnreadableStoreIsNoError) {
  testing::TempDir dir;
  testing::ScopedEnv env("TLQCONVERTER_REGISTRY", dir.path().c_str());  // a folder, not a file
  testing::ScopedEnv lang("LC_ALL", "C");
  EXPECT_EQ(regRead("HKEY_CURRENT_USER\\Control Panel\\International", "sDecimal").data(), ".");
  EXPECT_EQ(regRead("HKEY_CURRENT_USER\\Control Panel\\International", "sList").data(), ",");
}

TEST(RegReadPosix, DefaultStoreLocationFollowsXdg) {
  testing::TempDir dir;
  testing::ScopedEnv none("TLQCONVERTER_REGISTRY", nullptr);
  testing::ScopedEnv xdg("XDG_CONFIG_HOME", dir.path().c_str());
  std::string folder = dir.file("tlqconverter");
  std::filesystem::create_directories(folder);
  testing::writeFile(folder + "/registry.reg", "[HKEY_CURRENT_USER\\Control Panel\\International]\n\"sList\"=\"|\"\n");
  EXPECT_EQ(regRead("HKEY_CURRENT_USER\\Control Panel\\International", "sList").data(), "|");
}
#endif

}  // namespace
}  // namespace tlq
