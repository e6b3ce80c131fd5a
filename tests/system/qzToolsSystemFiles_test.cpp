// The system's "services" and "hosts" files, on private copies below KESTA_SYSTEM_ROOT: reads
// checked against getent on the real files, writes compared byte for byte with the service-line
// layout, edits under concurrency and after a failed write.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "qzTools.h"

using namespace platform;
using qztest::ReadFile;
using qztest::ScopedEnv;
using qztest::TempDir;
using qztest::WriteFile;

namespace {

using qztest::W;

class SystemFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ::mkdir((dir_.Path() + "/etc").c_str(), 0755); }
  std::string Services() const { return dir_.Path() + "/etc/services"; }
  std::string Hosts() const { return dir_.Path() + "/etc/hosts"; }
  // Names of the folder's entries (to see that no temporary file is left).
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path() + "/etc")) names.insert(e.path().filename());
    return names;
  }

  TempDir dir_{"qzsysfiles"};
  ScopedEnv root_{"KESTA_SYSTEM_ROOT", dir_.Path()};
};

// getent answers from the real /etc/services; the reader of a copy must give the same ports.
TEST_F(SystemFilesTest, ServicePortsAgreeWithGetentOnTheRealFile) {
  if (!std::filesystem::exists("/etc/services")) GTEST_SKIP() << "no /etc/services on this machine";
  WriteFile(Services(), ReadFile("/etc/services"));
  int checked = 0;
  for (const char* name : {"http", "domain", "ssh", "smtp", "https", "ftp", "ntp", "imaps", "ldap", "telnet"}) {
    const qztest::ProcessResult r = qztest::RunProcess({"getent", "services", name});
    if (r.ExitCode != 0) continue;
    // "http                  80/tcp www"
    const std::string port = r.Out.substr(r.Out.find_first_not_of(' ', r.Out.find(' ')));
    EXPECT_EQ(TqzTools::GetServicesPort(W(name)), std::stoi(port.substr(0, port.find('/')))) << name;
    ++checked;
  }
  ASSERT_GT(checked, 0);
  EXPECT_EQ(TqzTools::GetServicesPort(u"http"), 80);
  EXPECT_EQ(TqzTools::GetServicesPort(u"DOMAIN"), 53);
  EXPECT_EQ(TqzTools::GetServicesPort(u"qz-no-such-service"), -1);
}

TEST_F(SystemFilesTest, ServicePortReaderTakesTheFirstLineForTheName) {
  WriteFile(Services(),
            "# comment line: mysvc 1/tcp\r\n"
            "\tMySvc\t\t 4470/udp   # first, any protocol\r\n"
            "mysvc 4471/tcp\r\n"
            "word abc/tcp\r\n"
            "empty /tcp\r\n"
            "spaced   8080 /tcp\r\n"
            "big 99999999999/tcp\r\n");
  struct Case {
    const char16_t* name;
    int32_t port;
  } cases[] = {{u"mysvc", 4470}, {u"MYSVC", 4470}, {u"word", -1}, {u"empty", 0},      {u"spaced", 8080},
               {u"big", -1},     {u"comment", -1}, {u"#", -1},     {u"missing", -1}, {u"", -1}};
  for (const Case& c : cases) EXPECT_EQ(TqzTools::GetServicesPort(c.name), c.port) << WideToUtf8(c.name);
  EXPECT_EQ(GetServicesPort(AnsiString("mysvc")), 4470);
  ::unlink(Services().c_str());
  EXPECT_THROW(TqzTools::GetServicesPort(u"mysvc"), EInOutError);
}

TEST_F(SystemFilesTest, SetServiceSettingsWritesTheServiceLineInPlaceOrAtTheEnd) {
  const std::string padded = "mysvc" + std::string(13, ' ') + "4470/tcp" + std::string(24, ' ') + "#archive";
  struct Case {
    std::string before;
    std::string after;
  } cases[] = {
      // Replaced where it stands, matched without regard to case, other lines untouched.
      {"# services\r\nhttp\t\t80/tcp\t\twww\r\nMYSVC  1/udp # old\r\nlast 9/tcp\r\n",
       "# services\r\nhttp\t\t80/tcp\t\twww\r\n" + padded + "\r\nlast 9/tcp\r\n"},
      // A name set apart by tabs is the same name.
      {"mysvc\t\t1/udp\n", padded + "\n"},
      // Appended with the file's line end; a last line without one gets it first.
      {"http 80/tcp\nlast 9/tcp", "http 80/tcp\nlast 9/tcp\n" + padded + "\n"},
      {"", padded + "\n"},
      // Names that merely begin alike are other names.
      {"mysvc2 5/tcp\r\n", "mysvc2 5/tcp\r\n" + padded + "\r\n"},
  };
  for (const Case& c : cases) {
    WriteFile(Services(), c.before);
    ::chmod(Services().c_str(), 0640);
    EXPECT_TRUE(TqzTools::SetServiceSettings(u"mysvc", 4470, u"tcp", u"archive")) << c.before;
    EXPECT_EQ(ReadFile(Services()), c.after) << c.before;
    struct stat st {};
    ASSERT_EQ(::stat(Services().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
  }
  // Longer names and types are not cut; Windows-1252 files stay Windows-1252.
  WriteFile(Services(), "caf\xE9 1/tcp\n");
  const std::string longName(20, 'n');
  EXPECT_TRUE(TqzTools::SetServiceSettings(W(longName), 1, W(std::string(30, 't')), u"r\u00e9sum\u00e9"));
  EXPECT_EQ(ReadFile(Services()), "caf\xE9 1/tcp\n" + longName + "1/" + std::string(30, 't') + "#r\xE9sum\xE9\n");
  // Line breaks cannot smuggle in lines; a missing file is no file to edit.
  EXPECT_FALSE(TqzTools::SetServiceSettings(u"evil\nroot", 1, u"tcp", u""));
  EXPECT_FALSE(TqzTools::SetServiceSettings(u"evil", 1, u"tcp", u"x\r\nbad 2/tcp"));
  ::unlink(Services().c_str());
  EXPECT_FALSE(TqzTools::SetServiceSettings(u"mysvc", 1, u"tcp", u""));
  EXPECT_EQ(Entries(), std::set<std::string>{});
}

TEST_F(SystemFilesTest, HostsLookupMatchesWholeNamesOnly) {
  WriteFile(Hosts(),
            "127.0.0.1 localhost\n"
            "# 10.0.0.9 commented\n"
            "10.1.2.3   myhost.local   myhost  # a comment naming otherhost\n"
            "192.168.0.1\tgateway\tGW\n"
            "   \n"
            "::1 ip6-localhost ip6-loopback\n"
            "10.5.5.5 b\xC3\xBC" "cher.example\n");
  struct Case {
    const char16_t* host;
    const char16_t* address;  // nullptr: not found
  } cases[] = {
      {u"myhost", u"10.1.2.3"},   {u"MYHOST.LOCAL", u"10.1.2.3"}, {u"gw", u"192.168.0.1"},
      {u" gateway ", u"192.168.0.1"}, {u"ip6-loopback", u"::1"},  {u"localhost", u"127.0.0.1"},
      {u"host", nullptr},         {u"local", nullptr},            {u"commented", nullptr},
      {u"otherhost", nullptr},    {u"10.1.2.3", nullptr},         {u"127.0", nullptr},
      {u"", nullptr},
      {u"B\u00dcCHER.example", u"10.5.5.5"}, {u"bucher.example", nullptr},
  };
  for (const Case& c : cases) {
    UnicodeString address = u"unchanged";
    EXPECT_EQ(TqzTools::GetHostSettings(c.host, address), c.address != nullptr) << WideToUtf8(c.host);
    EXPECT_EQ(address, c.address ? c.address : u"unchanged") << WideToUtf8(c.host);
  }
  ::unlink(Hosts().c_str());
  UnicodeString address;
  EXPECT_THROW(TqzTools::GetHostSettings(u"myhost", address), EInOutError);
}

// Each name the real /etc/hosts gives one address is found at the address getent reports.
TEST_F(SystemFilesTest, HostsLookupAgreesWithGetentOnTheRealFile) {
  if (!std::filesystem::exists("/etc/hosts")) GTEST_SKIP() << "no /etc/hosts on this machine";
  WriteFile(Hosts(), ReadFile("/etc/hosts"));
  const std::string names = qztest::RunPython(
      "import collections\n"
      "seen = collections.defaultdict(set)\n"
      "for line in open('/etc/hosts', encoding='utf-8', errors='replace'):\n"
      "    words = line.split('#')[0].split()\n"
      "    for n in words[1:]: seen[n].add(words[0])\n"
      "print(' '.join(n for n, a in seen.items() if len(a) == 1))\n");
  std::istringstream in(names);
  std::string name;
  int checked = 0;
  while (in >> name) {
    const qztest::ProcessResult r = qztest::RunProcess({"getent", "hosts", name});
    if (r.ExitCode != 0) continue;
    UnicodeString address;
    ASSERT_TRUE(TqzTools::GetHostSettings(W(name), address)) << name;
    EXPECT_EQ(WideToUtf8(address), r.Out.substr(0, r.Out.find(' '))) << name;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST_F(SystemFilesTest, SetHostSettingsAppendsUnderALock) {
  WriteFile(Hosts(), "127.0.0.1 localhost");
  EXPECT_TRUE(TqzTools::SetHostSettings(u"10.9.8.7", u"newhost"));
  EXPECT_EQ(ReadFile(Hosts()), "127.0.0.1 localhost\n10.9.8.7  newhost\n");
  UnicodeString address;
  EXPECT_TRUE(TqzTools::GetHostSettings(u"NEWHOST", address));
  EXPECT_EQ(address, u"10.9.8.7");
  EXPECT_FALSE(TqzTools::SetHostSettings(u"10.0.0.1", u"a\n0.0.0.0 bank.example"));

  // Writers in parallel lose nothing.
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < 25; ++i)
        EXPECT_TRUE(TqzTools::SetHostSettings(u"10.0." + platform::IntToStr(t) + u"." + platform::IntToStr(i), u"h"));
    });
  }
  for (auto& w : writers) w.join();
  const std::string text = ReadFile(Hosts());
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      const std::string line = "\n10.0." + std::to_string(t) + "." + std::to_string(i) + "  h\n";
      EXPECT_NE(text.find(line), std::string::npos) << line;
    }
  }
  EXPECT_EQ(Entries(), std::set<std::string>{"hosts"});
  ::unlink(Hosts().c_str());
  EXPECT_FALSE(TqzTools::SetHostSettings(u"10.0.0.1", u"x"));
}

// A write that fails half-way (the file size limit stops it) leaves the old file and no
// temporary file behind. It runs in a child, which alone gets the limit.
TEST_F(SystemFilesTest, AFailedWriteLeavesTheOldFile) {
  std::string before;
  for (int i = 0; i < 2000; ++i) before += "svc" + std::to_string(i) + " " + std::to_string(i) + "/tcp\n";
  WriteFile(Services(), before);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool ok = TqzTools::SetServiceSettings(u"svc5", 1, u"tcp", u"");
    ::_exit(ok ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as success";
  EXPECT_EQ(ReadFile(Services()), before);
  EXPECT_EQ(Entries(), std::set<std::string>{"services"});
}

// There is no data-link dialog: the files read back as they are, as when the user cancels.
TEST_F(SystemFilesTest, DataLinkEditingKeepsTheConnectionString) {
  ScopedEnv tmp("TMPDIR", dir_.Path());
  const UnicodeString conStr = u"Provider=MSDASQL.1;Persist Security Info=False;Data Source=KQF";
  const UnicodeString back = TqzTools::EditConnectionString(conStr);
  EXPECT_EQ(back, conStr);
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
    EXPECT_EQ(e.path().extension(), "") << "left behind: " << e.path();  // the temporary .udl is gone

  const std::string udl = dir_.Path() + "/new.udl";
  EXPECT_EQ(TqzTools::EditUDLFile(W(udl), false), u"Provider=");  // created empty
  EXPECT_TRUE(std::filesystem::exists(udl));
  TqzTools::CreateUDLFile(W(udl), conStr);
  EXPECT_EQ(TqzTools::EditUDLFile(W(udl), true), conStr);
  EXPECT_FALSE(std::filesystem::exists(udl));
}

}  // namespace
