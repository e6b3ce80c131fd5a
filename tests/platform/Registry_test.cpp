// The file-backed registry: .reg round trips of every value type, files in regedit's own format,
// malformed files, the cache, and two processes writing one hive.
#include "Registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "CodePage.h"
#include "Exceptions.h"
#include "TextFile.h"
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
  {
    qztest::ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(HiveFilePath(RootKey::CurrentUser), "/home/someone/.config/kesta/registry/HKCU.reg");
  }
  // Without HOME the user database names the home folder (never "/.config").
  qztest::ScopedEnv noHome("HOME", nullptr);
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(HiveFilePath(RootKey::CurrentUser), std::string(pw->pw_dir) + "/.config/kesta/registry/HKCU.reg");
}

TEST_F(RegistryFileTest, AWriteRemovesTemporaryFilesOfKilledWriters) {
  // A writer killed between writing its temporary file and renaming it leaves the file behind.
  const std::vector<std::string> stale = {"HKLM.reg.tmp4242-17", "HKLM.reg.tmp1-2"};
  const std::vector<std::string> kept = {"HKCU.reg.tmp4242-17", "HKLM.reg.tmp-notes.txt", "HKLM.reg.bak"};
  for (const auto& name : stale) WriteFile(dir_ + "/" + name, "Windows Registry Editor Version 5.00\n");
  for (const auto& name : kept) WriteFile(dir_ + "/" + name, "x");
  ASSERT_TRUE(Registry::Modify(RootKey::LocalMachine, [](RegKey& root) {
    Registry::Create(root, u"SOFTWARE\\x").SetValue({u"v", REG_DWORD, RegDwordBytes(1)});
    return true;
  }));
  for (const auto& name : stale) EXPECT_FALSE(std::filesystem::exists(dir_ + "/" + name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(dir_ + "/" + name)) << name;
}

TEST_F(RegistryFileTest, SlashIsAnOrdinaryCharacterOfAKeyName) {
  ASSERT_TRUE(Registry::Modify(RootKey::ClassesRoot, [](RegKey& root) {
    Registry::Create(root, u"MIME\\Database\\Content Type\\application/pdf")
        .SetValue({u"Extension", REG_SZ, RegSzBytes(u".pdf")});
    return true;
  }));
  EXPECT_NE(ReadFile(HivePath(RootKey::ClassesRoot)).find("[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/pdf]\n"),
            std::string::npos);
  Registry::ClearCache();
  auto hive = Registry::Read(RootKey::ClassesRoot);
  const RegKey* types = Registry::Find(*hive, u"MIME\\Database\\Content Type");
  ASSERT_NE(types, nullptr);
  ASSERT_EQ(types->SubKeys.size(), 1u);
  EXPECT_EQ(types->SubKeys.begin()->second->Name, u"application/pdf");
  EXPECT_NE(Registry::Find(*hive, u"MIME\\Database\\Content Type\\APPLICATION/PDF"), nullptr);
  EXPECT_EQ(Registry::Find(*hive, u"MIME\\Database\\Content Type\\application"), nullptr);
  EXPECT_EQ(SplitKeyPath(u"a/b\\\\c\\"), (std::vector<UnicodeString>{u"a/b", u"c"}));
}

// A file as regedit exports it: UTF-16LE with byte-order mark, CR LF, comments, keys not in
// alphabetical order, a hex value continued over two lines.
const std::string kRegeditExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; exported by regedit\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta]\r\n"
    "\"Second\"=\"2\"\r\n"
    "; the first value comes second\r\n"
    "\"First\"=dword:00000001\r\n"
    "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
    "  18,19\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha]\r\n"
    "@=\"Alpha\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha\\Sub]\r\n"
    "\"x\"=\"y\"\r\n"
    "\r\n";

TEST_F(RegistryFileTest, AWriteChangesOnlyTheLinesOfWhatChanged) {
  using Change = std::function<void(RegKey&)>;
  struct Case {
    const char* what;
    Change change;
    std::string from, to;  // the expected file is the original with `from` replaced by `to`
  };
  auto key = [](RegKey& root, const char16_t* path) -> RegKey& { return *Registry::Find(root, path); };
  const Case cases[] = {
      {"changed value", [&](RegKey& r) { key(r, u"SOFTWARE\\Zeta").SetValue({u"first", REG_DWORD, RegDwordBytes(2)}); },
       "\"First\"=dword:00000001\r\n", "\"First\"=dword:00000002\r\n"},
      {"value changed to its own value", [&](RegKey& r) { key(r, u"SOFTWARE\\Zeta").SetValue({u"Second", REG_SZ, RegSzBytes(u"2")}); },
       "", ""},
      {"new value after the last one of its key",
       [&](RegKey& r) { key(r, u"SOFTWARE\\Zeta").SetValue({u"Third", REG_SZ, RegSzBytes(u"3")}); },
       "  18,19\r\n", "  18,19\r\n\"Third\"=\"3\"\r\n"},
      {"deleted value", [&](RegKey& r) { key(r, u"SOFTWARE\\Zeta").DeleteValue(u"Second"); }, "\"Second\"=\"2\"\r\n", ""},
      {"changed hex value on two lines",
       [&](RegKey& r) { key(r, u"SOFTWARE\\Zeta").SetValue({u"Blob", REG_BINARY, RegBytes{0xAB}}); },
       "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n  18,19\r\n",
       "\"Blob\"=hex:ab\r\n"},
      {"deleted key with its subkey", [&](RegKey& r) { r.FindSubKey(u"SOFTWARE")->DeleteSubKey(u"alpha"); },
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha]\r\n@=\"Alpha\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha\\Sub]\r\n\"x\"=\"y\"\r\n\r\n",
       ""},
      {"new key after the key before it",
       [&](RegKey& r) { Registry::Create(r, u"SOFTWARE\\Alpha\\Sub2").SetValue({u"", REG_SZ, RegSzBytes(u"new")}); },
       "\"x\"=\"y\"\r\n\r\n", "\"x\"=\"y\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha\\Sub2]\r\n@=\"new\"\r\n\r\n"},
      {"new empty key before the first section", [&](RegKey& r) { Registry::Create(r, u"AAA"); },
       "5.00\r\n\r\n", "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\AAA]\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(HivePath(RootKey::LocalMachine), Utf16Le(kRegeditExport));
    Registry::ClearCache();
    ASSERT_TRUE(Registry::Modify(RootKey::LocalMachine, [&](RegKey& root) {
      c.change(root);
      return true;
    }));
    std::string expected = kRegeditExport;
    if (!c.from.empty()) {
      size_t at = expected.find(c.from);
      ASSERT_NE(at, std::string::npos);
      expected.replace(at, c.from.size(), c.to);
    }
    EXPECT_EQ(ReadFile(HivePath(RootKey::LocalMachine)), Utf16Le(expected));
  }
}

TEST_F(RegistryFileTest, AWriteKeepsTheEncodingOfTheFile) {
  const std::string utf8Bom = "\xEF\xBB\xBF";
  struct Case {
    const char* what;
    std::string before;
    std::u16string value;  // the new text of SOFTWARE\Old "Name"
    std::string after;
  };
  const Case cases[] = {
      {"REGEDIT4 in the ANSI code page",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"x\"\r\n\"Keep\"=\"\xE4\"\r\n", u"Größe",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"Gr\xF6\xDF" "e\"\r\n\"Keep\"=\"\xE4\"\r\n"},
      {"UTF-8 with byte-order mark, no line end at the end",
       utf8Bom + "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n\"Name\"=\"x\"", u"Ω",
       utf8Bom + "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n\"Name\"=\"Ω\""},
      {"UTF-16 big-endian",
       "\xFE\xFF" + WideToUtf16Bytes(u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"x\"\r\n", true),
       u"y",
       "\xFE\xFF" + WideToUtf16Bytes(u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"y\"\r\n", true)},
      // A file that deletes values itself is written anew, in its encoding and line ends.
      {"file with deletions",
       Utf16Le("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"x\"\r\n\"Gone\"=-\r\n"),
       u"z",
       Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"z\"\r\n\r\n")},
      // A REGEDIT4 file cannot hold a text outside the ANSI code page: it becomes a UTF-8 version 5.00 file.
      {"REGEDIT4 and a text without ANSI form",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"x\"\r\n", u"Ω",
       "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Name\"=\"Ω\"\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(HivePath(RootKey::LocalMachine), c.before);
    Registry::ClearCache();
    ASSERT_TRUE(Registry::Modify(RootKey::LocalMachine, [&](RegKey& root) {
      Registry::Find(root, u"SOFTWARE\\Old")->SetValue({u"Name", REG_SZ, RegSzBytes(c.value)});
      return true;
    }));
    EXPECT_EQ(ReadFile(HivePath(RootKey::LocalMachine)), c.after);
    Registry::ClearCache();
    auto hive = Registry::Read(RootKey::LocalMachine);
    EXPECT_EQ(Registry::Find(*hive, u"SOFTWARE\\Old")->FindValue(u"Name")->Data, RegSzBytes(c.value));
  }
}

TEST_F(RegistryFileTest, DeepKeyPathsAreRefusedNamingTheLine) {
  auto pathOf = [](size_t levels) {
    std::string path = "HKEY_LOCAL_MACHINE";
    for (size_t i = 0; i < levels; ++i) path += "\\k";
    return path;
  };
  struct Case {
    size_t levels;
    bool accepted;
  };
  for (const Case& c : {Case{kMaxKeyDepth, true}, Case{kMaxKeyDepth + 1, false}, Case{300000, false}}) {
    SCOPED_TRACE(c.levels);
    WriteFile(HivePath(RootKey::LocalMachine),
              "Windows Registry Editor Version 5.00\n\n[" + pathOf(c.levels) + "]\n\"v\"=dword:00000001\n");
    Registry::ClearCache();
    if (c.accepted) {
      auto hive = Registry::Read(RootKey::LocalMachine);
      std::u16string path = Utf8ToWide(pathOf(c.levels)).substr(19);
      ASSERT_NE(Registry::Find(*hive, path), nullptr);
      // The deepest tree a file can hold is written back and read again.
      ASSERT_TRUE(Registry::Modify(RootKey::LocalMachine, [&](RegKey& root) {
        Registry::Find(root, path)->SetValue({u"w", REG_DWORD, RegDwordBytes(2)});
        return true;
      }));
      Registry::ClearCache();
      EXPECT_NE(Registry::Find(*Registry::Read(RootKey::LocalMachine), path)->FindValue(u"w"), nullptr);
      continue;
    }
    try {
      Registry::Read(RootKey::LocalMachine);
      ADD_FAILURE() << "no error";
    } catch (const ERegistryException& e) {
      std::string msg = e.what();
      EXPECT_NE(msg.find("HKLM.reg line 3: key path deeper than 512 levels"), std::string::npos) << msg.substr(0, 200);
    }
  }
  // A program cannot build a deeper path either.
  std::u16string tooDeep;
  for (size_t i = 0; i <= kMaxKeyDepth; ++i) tooDeep += u"k\\";
  RegKey root(u"HKEY_LOCAL_MACHINE");
  EXPECT_THROW(Registry::Create(root, tooDeep), ERegistryException);
  EXPECT_TRUE(root.SubKeys.empty());
}

TEST(RegKeyTree, CopyingAndFreeingAChainOfKeysNeedNoDeepStack) {
  // Far deeper than any call stack could follow one frame per level.
  constexpr size_t kDepth = 300000;
  auto chain = std::make_unique<RegKey>(u"root");
  RegKey* tip = chain.get();
  for (size_t i = 0; i < kDepth; ++i) tip = &tip->SubKey(u"k");
  tip->SetValue({u"leaf", REG_DWORD, RegDwordBytes(7)});
  auto copy = std::make_unique<RegKey>(*chain);
  chain.reset();
  size_t depth = 0;
  const RegKey* k = copy.get();
  while (!k->SubKeys.empty()) {
    k = k->SubKeys.begin()->second.get();
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  ASSERT_NE(k->FindValue(u"leaf"), nullptr);
  EXPECT_EQ(k->FindValue(u"leaf")->Data, RegDwordBytes(7));
  copy.reset();
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
