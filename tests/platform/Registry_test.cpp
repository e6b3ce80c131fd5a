// The file-backed registry: .reg round trips of every value type, files in regedit's own format,
// malformed files, the cache, and two processes writing one hive.
#include "Registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"

using namespace platform;

namespace {

using qztest::ReadFile;
using qztest::WriteFile;

class RegistryFileTest : public ::testing::Test {
 protected:
  std::string HivePath(RootKey root) const { return HiveFilePath(root); }
  static std::string Utf16Le(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (char16_t c : Utf8ToWide(utf8)) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
    return out;
  }

  qztest::TempDir tmp_{"qzreg"};
  const std::string dir_ = tmp_.Path();
  qztest::ScopedEnv registryDir_{"KESTA_REGISTRY_DIR", dir_};
};

RegBytes Bytes(std::initializer_list<int> b) {
  RegBytes out;
  for (int x : b) out.push_back(static_cast<uint8_t>(x));
  return out;
}

TEST_F(RegistryFileTest, EveryValueTypeSurvivesAWriteReadRoundTrip) {
  RegBytes longBinary;
  for (int i = 0; i < 200; ++i) longBinary.push_back(static_cast<uint8_t>(i * 7));
  RegBytes oddSz = RegSzBytes(u"no terminator");
  oddSz.resize(oddSz.size() - 2);
  const std::vector<RegValue> values = {
      {u"", REG_SZ, RegSzBytes(u"default value")},
      {u"Plain", REG_SZ, RegSzBytes(u"C:\\Program Files\\kesta \"quoted\"")},
      {u"Umlaut", REG_SZ, RegSzBytes(u"Größe € \U0001F600")},
      {u"Empty", REG_SZ, RegSzBytes(u"")},
      {u"LineBreaks", REG_SZ, RegSzBytes(u"one\r\ntwo")},
      {u"NoTerminator", REG_SZ, oddSz},
      {u"Expand", REG_EXPAND_SZ, RegSzBytes(u"%SystemRoot%\\system32")},
      {u"Binary", REG_BINARY, Bytes({0, 1, 0xFF, 0x7F, 0})},
      {u"EmptyBinary", REG_BINARY, {}},
      {u"LongBinary", REG_BINARY, longBinary},
      {u"Dword", REG_DWORD, RegDwordBytes(0xDEADBEEF)},
      {u"ShortDword", REG_DWORD, Bytes({1, 2})},
      {u"BigEndian", REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 1, 2})},
      {u"Multi", REG_MULTI_SZ, RegMultiSzBytes({u"a", u"b c", u"ü"})},
      {u"Qword", REG_QWORD, RegQwordBytes(0x0123456789ABCDEFull)},
      {u"None", REG_NONE, Bytes({1, 2, 3})},
      {u"Custom", 0x100, Bytes({9})},
      {u"name with \\ and \"", REG_SZ, RegSzBytes(u"x")},
  };
  ASSERT_TRUE(Registry::Modify(RootKey::LocalMachine, [&](RegKey& root) {
    RegKey& key = Registry::Create(root, u"SOFTWARE\\kesta\\Types");
    for (const RegValue& v : values) key.SetValue(v);
    Registry::Create(root, u"SOFTWARE\\kesta\\Empty Key");
    return true;
  }));
  Registry::ClearCache();
  auto hive = Registry::Read(RootKey::LocalMachine);
  const RegKey* key = Registry::Find(*hive, u"software\\KESTA\\types\\");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->Values.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(WideToUtf8(values[i].Name));
    EXPECT_EQ(key->Values[i].Name, values[i].Name);  // creation order kept
    EXPECT_EQ(key->Values[i].Type, values[i].Type);
    EXPECT_EQ(key->Values[i].Data, values[i].Data);
  }
  EXPECT_NE(Registry::Find(*hive, u"SOFTWARE\\kesta\\Empty Key"), nullptr);

  // The text is regedit's: header, key lines, quoted texts with escapes, dword:, hex(N):.
  std::string text = ReadFile(HivePath(RootKey::LocalMachine));
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\kesta\\Types]\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Plain\"=\"C:\\\\Program Files\\\\kesta \\\"quoted\\\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Dword\"=dword:deadbeef\n"), std::string::npos);
  EXPECT_NE(text.find("\"Binary\"=hex:00,01,ff,7f,00\n"), std::string::npos);
  EXPECT_NE(text.find("\"Qword\"=hex(b):ef,cd,ab,89,67,45,23,01\n"), std::string::npos);
  EXPECT_NE(text.find("\"Custom\"=hex(100):09\n"), std::string::npos);
}

TEST_F(RegistryFileTest, ReadsAFileInRegeditsOwnFormat) {
  // As regedit exports: UTF-16LE with BOM, CRLF, escapes, @=, hex(2)/hex(7) split over lines.
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Kesta]\r\n"
      "@=\"Standard\"\r\n"
      "\"Path\"=\"C:\\\\kesta\\\\\"\r\n"
      "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
      "\"Count\"=dword:0000002a\r\n"
      "\"List\"=hex(7):61,00,62,00,00,00,\\\r\n"
      "  63,00,00,00,00,00\r\n"
      "\"Expand\"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00\r\n"
      "\"Gone\"=\"x\"\r\n"
      "\"Gone\"=-\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Kesta\\Sub]\r\n"
      "\"Ä\"=\"ü\"\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Kesta\\Removed]\r\n"
      "\"v\"=\"1\"\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Kesta\\Removed]\r\n";
  WriteFile(HivePath(RootKey::CurrentUser), Utf16Le(text));
  auto hive = Registry::Read(RootKey::CurrentUser);
  const RegKey* key = Registry::Find(*hive, u"Software\\Kesta");
  ASSERT_NE(key, nullptr);
  struct Expect {
    const char16_t* name;
    uint32_t type;
    RegBytes data;
  };
  const Expect expected[] = {
      {u"", REG_SZ, RegSzBytes(u"Standard")},
      {u"path", REG_SZ, RegSzBytes(u"C:\\kesta\\")},
      {u"Quote", REG_SZ, RegSzBytes(u"say \"hi\"")},
      {u"COUNT", REG_DWORD, RegDwordBytes(42)},
      {u"List", REG_MULTI_SZ, RegMultiSzBytes({u"ab", u"c"})},
      {u"Expand", REG_EXPAND_SZ, RegSzBytes(u"%TMP%")},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(WideToUtf8(e.name));
    const RegValue* v = key->FindValue(e.name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Type, e.type);
    EXPECT_EQ(v->Data, e.data);
  }
  EXPECT_EQ(key->FindValue(u"Gone"), nullptr);
  EXPECT_EQ(key->Values.size(), 6u);
  const RegKey* sub = Registry::Find(*hive, u"Software\\Kesta\\Sub");
  ASSERT_NE(sub, nullptr);
  ASSERT_NE(sub->FindValue(u"ä"), nullptr);  // names ignore case beyond ASCII too
  EXPECT_EQ(sub->FindValue(u"ä")->Data, RegSzBytes(u"ü"));
  EXPECT_EQ(Registry::Find(*hive, u"Software\\Kesta\\Removed"), nullptr);
}

TEST_F(RegistryFileTest, ReadsRegedit4FilesInTheAnsiCodePage) {
  // REGEDIT4: Windows-1252 text, hex(2)/hex(7) data as 8-bit characters.
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"Gr\xF6\xDF" "e\"\r\n"
      "\"Exp\"=hex(2):25,54,4d,50,25,00\r\n\"Multi\"=hex(7):61,00,e4,00,00\r\n";
  WriteFile(HivePath(RootKey::LocalMachine), text);
  auto hive = Registry::Read(RootKey::LocalMachine);
  const RegKey* key = Registry::Find(*hive, u"SOFTWARE\\Old");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->FindValue(u"Name")->Data, RegSzBytes(u"Größe"));
  EXPECT_EQ(key->FindValue(u"Exp")->Data, RegSzBytes(u"%TMP%"));
  EXPECT_EQ(key->FindValue(u"Multi")->Data, RegMultiSzBytes({u"a", u"ä"}));
}

TEST_F(RegistryFileTest, MalformedFilesNameTheLine) {
  struct Case {
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n", "line 4"},
      {"Windows Registry Editor Version 5.00\n\"x\"=\"1\"\n", "line 2"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n", "line 2"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A\n", "line 2"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:1,2,xyz\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x=\"1\"\n", "line 3"},
      {"Windows Registry Editor Version 4.00\n", "line 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(HivePath(RootKey::LocalMachine), c.text);
    try {
      Registry::Read(RootKey::LocalMachine);
      ADD_FAILURE() << "no error";
    } catch (const ERegistryException& e) {
      std::string msg = e.what();
      EXPECT_NE(msg.find("HKLM.reg"), std::string::npos) << msg;
      EXPECT_NE(msg.find(c.line), std::string::npos) << msg;
    }
  }
}

TEST_F(RegistryFileTest, MissingHiveIsEmptyAndChangesOnDiskAreSeen) {
  auto empty = Registry::Read(RootKey::ClassesRoot);
  EXPECT_TRUE(empty->SubKeys.empty());
  EXPECT_TRUE(empty->Values.empty());

  ASSERT_TRUE(Registry::Modify(RootKey::ClassesRoot, [](RegKey& root) {
    Registry::Create(root, u".pdf").SetValue({u"Content Type", REG_SZ, RegSzBytes(u"application/pdf")});
    return true;
  }));
  auto first = Registry::Read(RootKey::ClassesRoot);
  EXPECT_EQ(Registry::Read(RootKey::ClassesRoot), first);  // unchanged file: the cached tree

  // Another program rewrites the file: the next read parses it anew.
  WriteFile(HivePath(RootKey::ClassesRoot),
            "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\.txt]\n\"Content Type\"=\"text/plain\"\n");
  auto second = Registry::Read(RootKey::ClassesRoot);
  EXPECT_EQ(Registry::Find(*second, u".pdf"), nullptr);
  ASSERT_NE(Registry::Find(*second, u".TXT"), nullptr);

  // A change that reports false writes nothing.
  std::string before = ReadFile(HivePath(RootKey::ClassesRoot));
  EXPECT_FALSE(Registry::Modify(RootKey::ClassesRoot, [](RegKey& root) {
    root.SubKeys.clear();
    return false;
  }));
  EXPECT_EQ(ReadFile(HivePath(RootKey::ClassesRoot)), before);

  // Names the line format cannot hold are refused; the hive stays as it was.
  for (const UnicodeString& bad : {UnicodeString(u"two\nlines"), UnicodeString(u"nul\0x", 5)}) {
    EXPECT_THROW(Registry::Modify(RootKey::ClassesRoot, [&](RegKey& root) {
      Registry::Create(root, u".txt").SetValue({bad, REG_SZ, RegSzBytes(u"v")});
      return true;
    }), ERegistryException);
    EXPECT_THROW(Registry::Modify(RootKey::ClassesRoot, [&](RegKey& root) {
      root.SubKey(bad);
      return true;
    }), ERegistryException);
  }
  EXPECT_EQ(ReadFile(HivePath(RootKey::ClassesRoot)), before);
  EXPECT_EQ(Registry::Read(RootKey::ClassesRoot)->SubKeys.size(), 1u);
}

TEST_F(RegistryFileTest, HiveFoldersFollowTheEnvironment) {
  EXPECT_EQ(HiveFilePath(RootKey::LocalMachine), dir_ + "/HKLM.reg");
  qztest::ScopedEnv noRegistryDir("KESTA_REGISTRY_DIR", nullptr);
  {
    qztest::ScopedEnv xdg("XDG_CONFIG_HOME", "/x/cfg");
    EXPECT_EQ(HiveFilePath(RootKey::CurrentUser), "/x/cfg/kesta/registry/HKCU.reg");
    EXPECT_EQ(HiveFilePath(RootKey::LocalMachine), "/etc/kesta/registry/HKLM.reg");
    EXPECT_EQ(HiveFilePath(RootKey::ClassesRoot), "/etc/kesta/registry/HKCR.reg");
  }
  qztest::ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
  const char* home = std::getenv("HOME");
  EXPECT_EQ(HiveFilePath(RootKey::CurrentUser), std::string(home ? home : "") + "/.config/kesta/registry/HKCU.reg");
}

TEST_F(RegistryFileTest, TwoProcessesWritingOneHiveLoseNoValue) {
  constexpr int kPerProcess = 60;
  auto writer = [](const char16_t* prefix) {
    for (int i = 0; i < kPerProcess; ++i) {
      UnicodeString name = UnicodeString(prefix) + ToU16(std::to_string(i));
      Registry::Modify(RootKey::LocalMachine, [&](RegKey& root) {
        Registry::Create(root, u"SOFTWARE\\Race").SetValue({name, REG_DWORD, RegDwordBytes(static_cast<uint32_t>(i))});
        return true;
      });
    }
  };
  Registry::Read(RootKey::LocalMachine);  // both processes start with a cached (empty) hive
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      writer(u"child");
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  writer(u"parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  auto hive = Registry::Read(RootKey::LocalMachine);
  const RegKey* key = Registry::Find(*hive, u"SOFTWARE\\Race");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Values.size(), 2u * kPerProcess);
  for (int i = 0; i < kPerProcess; ++i) {
    EXPECT_NE(key->FindValue(u"child" + ToU16(std::to_string(i))), nullptr) << i;
    EXPECT_NE(key->FindValue(u"parent" + ToU16(std::to_string(i))), nullptr) << i;
  }
}

}  // namespace
