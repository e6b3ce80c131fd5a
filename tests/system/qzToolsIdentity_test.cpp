// Identity and environment queries of TqzTools, checked against python3's view of the same
// system, and the data-link files against iconv.
#include "qzToolsIdentity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "Udl.h"
#include "qzRegistry.h"
#include "qzTools.h"
#include "qzWin32.h"

using namespace platform;

namespace {

std::string Python(const std::string& script) {
  std::string out = qztest::RunPython(script, {});
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Sets environment variables for one test and puts the old values back afterwards.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    Remember(name);
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvGuard() {
    for (auto& [name, old] : saved_) {
      if (old.first)
        ::setenv(name.c_str(), old.second.c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }

 private:
  void Remember(const char* name) {
    if (saved_.count(name)) return;
    const char* v = std::getenv(name);
    saved_[name] = {v != nullptr, v ? v : ""};
  }
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

TEST(IdentityTest, IdsAreNewUpperCaseHexGuids) {
  std::set<std::string> seen;
  const std::regex id("^[0-9A-F]{32}$");
  const std::regex guid("^\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}$");
  for (int i = 0; i < 2000; ++i) {
    TIdType v = TqzTools::CreateId();
    ASSERT_TRUE(std::regex_match(v.str(), id)) << v.str();
    ASSERT_TRUE(seen.insert(v.str()).second) << "repeated " << v.str();
  }
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(std::regex_match(TqzTools::CreateGuidStr(), guid)) << TqzTools::CreateGuidStr();
}

TEST(IdentityTest, ComputerAndUserNamesMatchTheSystem) {
  std::string host = Python("import socket; print(socket.gethostname())");
  std::string label = host.substr(0, host.find('.'));
  std::string upper = label;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(WideToUtf8(TqzTools::GetComputerName()), upper);
  EXPECT_EQ(WideToUtf8(TqzTools::GetComputerNameEx(0)), upper);
  EXPECT_EQ(WideToUtf8(TqzTools::GetComputerNameEx(1)), label);
  std::string fqdn = Python(
      "import socket\nh=socket.gethostname()\ntry:\n  print(socket.getaddrinfo(h,None,flags=socket.AI_CANONNAME)[0][3] or h)\n"
      "except Exception:\n  print(h)");
  EXPECT_EQ(WideToUtf8(TqzTools::GetComputerNameEx(3)), fqdn);
  EXPECT_EQ(TqzTools::GetComputerNameEx(8), u"");
  try {
    TqzTools::GetComputerNameEx(9);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"unknown format descriptor");
  }

  std::string user = Python("import os, pwd; print(pwd.getpwuid(os.geteuid()).pw_name)");
  EXPECT_EQ(WideToUtf8(TqzTools::GetUserName()), user);
  struct Case {
    uint32_t format;
    std::string expected;
  };
  for (const Case& c : {Case{0, user}, Case{3, user}, Case{7, user}, Case{9, user}, Case{2, upper + "\\" + user},
                        Case{1, upper + "\\" + user}, Case{8, upper + "\\" + user}, Case{11, upper + "\\" + user},
                        Case{6, ""}}) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(WideToUtf8(TqzTools::GetUserNameEx(c.format)), c.expected);
  }
  for (uint32_t bad : {4u, 5u, 12u, 1000u}) {
    try {
      TqzTools::GetUserNameEx(bad);
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, u"invalid format type");
    }
  }
}

TEST(IdentityTest, EnvironmentValues) {
  EnvGuard env;
  env.Set("QZ_TEST_UNSET", nullptr);
  env.Set("QZ_TEST_NUMBER", "42");
  env.Set("QZ_TEST_TEXT", "Grüße");
  std::string longValue(3000, 'v');
  env.Set("QZ_TEST_LONG", longValue.c_str());

  EXPECT_EQ(TqzTools::GetEnvironmentString(u"QZ_TEST_UNSET"), u"");
  EXPECT_EQ(TqzTools::GetEnvironmentString(u"QZ_TEST_TEXT"), u"Grüße");
  EXPECT_EQ(GetEnvVar(u"QZ_TEST_LONG").size(), 3000u);  // never cut
  EXPECT_EQ(TqzTools::GetEnvironmentStringEx(u"QZ_TEST_UNSET", Variant(int32_t(7)), varNull), Variant(int32_t(7)));
  Variant n = TqzTools::GetEnvironmentStringEx(u"QZ_TEST_NUMBER", Variant(int32_t(7)), varNull);
  EXPECT_EQ(n.VarType(), varInt64);
  EXPECT_EQ(n.AsInt64(), 42);
  EXPECT_EQ(TqzTools::GetEnvironmentStringEx(u"QZ_TEST_NUMBER", Variant(int32_t(7)), varUString), Variant(u"42"));

  env.Set("WINDIR", "/win");
  EXPECT_EQ(GetWindowsDirFromEnv(), "/win/");
}

TEST(IdentityTest, LastErrorMessageWordsErrno) {
  int fd = ::open("/nonexistent/qz/file", O_RDONLY);
  ASSERT_EQ(fd, -1);
  UnicodeString msg = TqzTools::GetLastErrorMessage();
  EXPECT_EQ(WideToUtf8(msg), Python("import os, errno; print(os.strerror(errno.ENOENT))"));
  EXPECT_NE(msg.back(), u'\n');
}

TEST(IdentityTest, UserLanguageFromTheLocale) {
  EnvGuard env;
  env.Set("LC_ALL", nullptr);
  env.Set("LC_MESSAGES", nullptr);
  struct Case {
    const char* lang;
    const char16_t* lcid;
    const char16_t* abbrev;
    const char16_t* shortLang;
  };
  for (const Case& c : {Case{"de_DE.UTF-8", u"0407", u"DEU", u"DE"}, Case{"fr_CA.UTF-8", u"0C0C", u"FRA", u"FR"},
                        Case{"en_GB", u"0809", u"ENG", u"EN"}, Case{"aa_ET", u"", u"AAR", u"AA"},
                        Case{"C", u"", u"", u"XX"}, Case{"qq_YY", u"", u"", u"XX"}}) {
    SCOPED_TRACE(c.lang);
    env.Set("LANG", c.lang);
    EXPECT_EQ(TqzTools::GetWindowsLanguage(1), c.lcid);
    EXPECT_EQ(TqzTools::GetWindowsLanguage(3), c.abbrev);
    EXPECT_EQ(TqzTools::GetShortWindowsLanguage(u"xx"), c.shortLang);
  }
  env.Set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(TqzTools::GetWindowsLanguage(0x1001), u"German");
  EXPECT_EQ(TqzTools::GetWindowsLanguage(4), u"Deutsch");
  EXPECT_EQ(TqzTools::GetWindowsLanguage(0x5C), u"de-DE");
  EXPECT_EQ(TqzTools::GetWindowsLanguage(0x12345), u"");
  env.Set("LC_ALL", "it_IT.UTF-8");  // LC_ALL wins
  EXPECT_EQ(TqzTools::GetShortWindowsLanguage(u"en"), u"IT");
}

TEST(IdentityTest, ShellFoldersFollowXdg) {
  qztest::TempDir home("qzident");
  EnvGuard env;
  env.Set("HOME", home.Path().c_str());
  env.Set("XDG_DATA_HOME", nullptr);
  env.Set("XDG_CONFIG_HOME", nullptr);
  env.Set("XDG_CACHE_HOME", nullptr);
  std::filesystem::create_directories(home.Path() + "/.config");
  std::ofstream(home.Path() + "/.config/user-dirs.dirs") << "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
  struct Case {
    int32_t csidl;
    std::string expected;
  };
  for (const Case& c : {Case{28, home.Path() + "/.local/share/"}, Case{26, home.Path() + "/.config/"},
                        Case{32, home.Path() + "/.cache/"}, Case{40, home.Path() + "/"},
                        Case{0, home.Path() + "/Schreibtisch/"}, Case{5, home.Path() + "/Documents/"},
                        Case{35, "/var/lib/"}, Case{38, "/opt/"}, Case{9999, ""}, Case{-1, ""}}) {
    SCOPED_TRACE(c.csidl);
    EXPECT_EQ(WideToUtf8(TqzTools::GetSpecialFolderPath(c.csidl)), c.expected);
    EXPECT_EQ(GetShellFolderPath(c.csidl), c.expected);
  }
  env.Set("XDG_DATA_HOME", "/data/home");
  EXPECT_EQ(TqzTools::GetAppDataPath(), u"/data/home/");

  EXPECT_EQ(TqzWin32::GetWindowsDirectory(), u"/");
  EXPECT_EQ(TqzTools::GetNativeWindowsSystem32Folder(), u"/System32/");
  std::string modulePath = TqzTools::GetModulePath();
  ASSERT_FALSE(modulePath.empty());
  EXPECT_EQ(modulePath.back(), '/');
  EXPECT_EQ(WideToUtf8(TqzTools::GetModuleFileName()).rfind(modulePath, 0), 0u);
}

TEST(IdentityTest, RegistryBackedQueries) {
  qztest::TempDir reg("qzident");
  EnvGuard env;
  env.Set("KESTA_REGISTRY_DIR", reg.Path().c_str());
  EXPECT_EQ(TqzTools::GetProgramFilesPath(), u"");
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                    u"ProgramFilesDir", Variant(u" /opt/programs "), false));
  EXPECT_EQ(TqzTools::GetProgramFilesPath(), u"/opt/programs/");

  const UnicodeString theme = u"Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager";
  EXPECT_FALSE(TqzTools::IsWindowsThemeActive());
  for (auto [value, active] : {std::pair{u"1", true}, std::pair{u"0", false}, std::pair{u"yes", true}}) {
    ASSERT_TRUE(TqzRegistry::SetValue(HKEY_CURRENT_USER, theme, u"ThemeActive", Variant(value), false));
    EXPECT_EQ(TqzTools::IsWindowsThemeActive(), active) << WideToUtf8(value);
  }
}

TEST(IdentityTest, ProcessAndSessionFacts) {
  EXPECT_GT(TqzTools::GetMemoryUsage(), 0);
  EXPECT_EQ(TqzTools::GetNumberOfProcessors(), static_cast<int32_t>(::sysconf(_SC_NPROCESSORS_ONLN)));
  uint32_t t1 = TqzTools::GetTickCount();
  ::usleep(20000);
  uint32_t t2 = TqzTools::GetTickCount();
  EXPECT_GE(t2 - t1, 15u);
  EXPECT_LT(t2 - t1, 5000u);

  EnvGuard env;
  env.Set("SSH_CONNECTION", nullptr);
  env.Set("SSH_CLIENT", nullptr);
  EXPECT_FALSE(TqzTools::IsRDPSession());
  env.Set("SSH_CONNECTION", "10.0.0.1 5000 10.0.0.2 22");
  EXPECT_TRUE(TqzTools::IsRDPSession());
  EXPECT_TRUE(TqzTools::IsRemoteSession());
  EXPECT_EQ(TqzTools::GetActiveWindowTitle(), u"");
  EXPECT_EQ(TqzTools::GetVolumeLabel(u'C'), u"");
}

TEST(IdentityTest, DriveTypes) {
  EXPECT_EQ(TqzTools::GetDriveTypeStr("/"), "Fixed");
  EXPECT_EQ(TqzTools::GetDriveTypeStr("/proc"), "Unknown");       // a pseudo file system
  EXPECT_EQ(TqzTools::GetDriveTypeStr("/proc/self"), "Unknown");  // no volume root
  EXPECT_EQ(TqzTools::GetDriveTypeStr("C:\\"), "Unknown");
  EXPECT_EQ(TqzTools::GetDriveTypeStr(""), "Unknown");
  struct statfs fs {};
  if (::statfs("/dev/shm", &fs) == 0 && fs.f_type == 0x01021994) {
    EXPECT_EQ(TqzTools::GetDriveTypeStr("/dev/shm"), "RAM Disk");
  }
}

TEST(UdlTest, WrittenFilesMatchIconvAndReadBack) {
  qztest::TempDir dir("qzident");
  const std::string conStr = "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=Grüße";
  const std::string udl = dir.Path() + "/ours.udl";
  ASSERT_TRUE(TqzTools::CreateUDLFile(Utf8ToWide(udl), Utf8ToWide(conStr)));

  // The same text through iconv: UTF-16 with byte-order mark, little-endian here.
  const std::string text = "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n" + conStr + "\r\n";
  const std::string plain = dir.Path() + "/plain.txt", theirs = dir.Path() + "/theirs.udl";
  std::ofstream(plain, std::ios::binary) << text;
  ASSERT_EQ(std::system(("iconv -f UTF-8 -t UTF-16 '" + plain + "' > '" + theirs + "'").c_str()), 0);
  EXPECT_EQ(qztest::ReadFile(udl), qztest::ReadFile(theirs));

  for (const std::string& f : {udl, theirs}) {
    SCOPED_TRACE(f);
    EXPECT_EQ(WideToUtf8(TqzTools::GetConnectionstringFromUdlFile(Utf8ToWide(f))), conStr);
    EXPECT_EQ(WideToUtf8(ReadUdlConnectionString(f)), conStr);
  }
  // Replacing an existing file.
  ASSERT_TRUE(TqzTools::CreateUDLFile(Utf8ToWide(udl), u"Provider=MSDASQL;DSN=x"));
  EXPECT_EQ(TqzTools::GetConnectionstringFromUdlFile(Utf8ToWide(udl)), u"Provider=MSDASQL;DSN=x");
}

TEST(UdlTest, UnusualAndMissingFiles) {
  qztest::TempDir dir("qzident");
  EXPECT_EQ(TqzTools::GetConnectionstringFromUdlFile(Utf8ToWide(dir.Path() + "/missing.udl")), u"Provider=");
  EXPECT_THROW(ReadUdlConnectionString(dir.Path() + "/missing.udl"), EInOutError);
  // A folder cannot be read as a file: an error, not an empty connection string.
  EXPECT_THROW(ReadUdlConnectionString(dir.Path()), EInOutError);
  EXPECT_EQ(TqzTools::GetConnectionstringFromUdlFile(Utf8ToWide(dir.Path())), u"Provider=");

  struct Case {
    std::string content;
    const char16_t* expected;
    const char16_t* line;
  };
  const Case cases[] = {
      // 8-bit file without mark, other sections first, key in other case and blanks.
      {"[other]\nProvider=wrong\n[OLEDB]\n; comment\n provider = SQLOLEDB.1;Data Source=x \n",
       u"Provider=SQLOLEDB.1;Data Source=x", u"provider = SQLOLEDB.1;Data Source=x"},
      // No provider item: the reader finds no key.
      {"[oledb]\n; c\nData Source=srv;User ID=sa\n", u"Provider=", u"Data Source=srv;User ID=sa"},
      {"[oledb]\n", u"Provider=", u""},
      {"\xEF\xBB\xBF[oledb]\r\nProvider=A\r\n", u"Provider=A", u"Provider=A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    std::string f = dir.Path() + "/case.udl";
    std::ofstream(f, std::ios::binary) << c.content;
    EXPECT_EQ(TqzTools::GetConnectionstringFromUdlFile(Utf8ToWide(f)), c.expected);
    EXPECT_EQ(ReadUdlConnectionString(f), c.line);
  }
  EXPECT_THROW(TqzTools::CreateUDLFile(Utf8ToWide(dir.Path() + "/no/such/dir/x.udl"), u"Provider=x"), EInOutError);
}

}  // namespace
