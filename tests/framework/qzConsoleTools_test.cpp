// TqzConsoleTools: start parameters over an injected command line, the ini fallback, the
// console on a real pseudo-terminal, the console settings in the user hive, and named mutexes
// across two processes (checked with the shell's own flock tool as well).
#include "qzConsoleTools.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "CodePage.h"
#include "NamedMutex.h"
#include "Registry.h"
#include "TestSupport.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;

using qztest::ScopedEnv;

// Replaces the command line for one test.
class CommandLine {
 public:
  explicit CommandLine(std::vector<UnicodeString> args) { TqzConsoleTools::SetCommandLine(std::move(args)); }
  ~CommandLine() { TqzConsoleTools::ResetCommandLine(); }
};

// ---- The command line --------------------------------------------------------------------------

TEST(qzConsoleToolsCommandLine, ProcessArgumentsAndInjection) {
  // The process's own list: argument 0 is the running executable, as /proc/self/exe names it.
  TqzConsoleTools::ResetCommandLine();
  char exe[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(TqzConsoleTools::ParamStrW(0), Utf8ToWide(exe));
  EXPECT_GE(TqzConsoleTools::ParamCount(), 0);
  EXPECT_EQ(TqzConsoleTools::ParamStrW(TqzConsoleTools::ParamCount() + 1), u"");

  CommandLine cl({u"/opt/kesta/bin/svc", u"--a=1", u"two words", u"--c"});
  EXPECT_EQ(TqzConsoleTools::ParamCount(), 3);
  EXPECT_EQ(TqzConsoleTools::ParamStrW(0), u"/opt/kesta/bin/svc");
  EXPECT_EQ(TqzConsoleTools::ParamStrW(2), u"two words");
  EXPECT_EQ(TqzConsoleTools::ParamStrW(4), u"");
  EXPECT_EQ(TqzConsoleTools::ParamStrW(-1), u"");
  EXPECT_EQ(TqzConsoleTools::GetOwnCommandLine(), u"/opt/kesta/bin/svc --a=1 two words --c");
}

// ---- Start parameters --------------------------------------------------------------------------

TEST(qzConsoleToolsParams, ReadersOverOneArgumentTable) {
  CommandLine cl({u"/bin/svc", u"--InstanceId=5", u"--instanceid=7", u"--debug", u"--path=a=b", u"-x=1",
                  u"--Straße=groß", u"--Empty=", u"--flag=ja", u"/name:value"});
  // GetStartParam: the first match's text, any case of the name; Default otherwise.
  struct Row {
    const char16_t* name;
    const char* prefix;
    Variant expected;
  };
  const Row rows[] = {
      {u"instanceid", "--", Variant(u"5")},  {u"INSTANCEID", "--", Variant(u"5")},
      {u"debug", "--", Variant(u"none")},    // no "=": never matches
      {u"path", "--", Variant(u"a=b")},      // only the first "=" separates
      {u"x", "--", Variant(u"none")},        // the prefix counts exactly
      {u"x", "-", Variant(u"1")},            {u"STRASSE", "--", Variant(u"none")},
      {u"straße", "--", Variant(u"groß")},   {u"empty", "--", Variant(u"")},
      {u"", "--", Variant(u"none")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(WideToUtf8(r.name) + " " + r.prefix);
    const Variant v = TqzConsoleTools::GetStartParam(r.name, Variant(u"none"), r.prefix);
    EXPECT_EQ(v.VarType(), varUString);
    EXPECT_EQ(v.AsString(), r.expected.AsString());
  }
  EXPECT_EQ(TqzConsoleTools::GetStartParam(u"missing", Variant(int32_t(42)), "--"), Variant(int32_t(42)));

  // GetStartParams: every value in order; the list is cleared first.
  TStringList values;
  values.Add(u"stale");
  EXPECT_TRUE(TqzConsoleTools::GetStartParams(u"instanceid", values, "--"));
  ASSERT_EQ(values.Count(), 2);
  EXPECT_EQ(values[0], u"5");
  EXPECT_EQ(values[1], u"7");
  std::unique_ptr<TStringList> created;
  EXPECT_TRUE(TqzConsoleTools::GetStartParams(u"nothing", created, "--"));
  ASSERT_TRUE(created);
  EXPECT_EQ(created->Count(), 0);

  // GetStartParamEx: converted to the asked type, or to the type of Default for type 1.
  EXPECT_EQ(TqzConsoleTools::GetStartParamEx(u"instanceid", Variant(int32_t(0)), "--", varNull).AsInt64(), 5);
  EXPECT_EQ(TqzConsoleTools::GetStartParamEx(u"flag", Variant(u""), "--", varBoolean), Variant(true));
  EXPECT_EQ(TqzConsoleTools::GetStartParamEx(u"path", Variant(int32_t(0)), "--", varInteger).AsInt64(), -1);

  // GetStartParameter: any separator; the value converted to the type of Default.
  TqzConsoleTools tools;
  EXPECT_EQ(tools.GetStartParameter(u"instanceid", Variant(int32_t(0)), "--", "=").AsInt64(), 5);
  EXPECT_EQ(tools.GetStartParameter(u"NAME", Variant(u""), "/", ":").AsString(), u"value");
  EXPECT_EQ(tools.GetStartParameter(u"flag", Variant(false), "--", "="), Variant(true));
  EXPECT_EQ(tools.GetStartParameter(u"debug", Variant(false), "--", "="), Variant(false));
  EXPECT_EQ(tools.Message, u"");
  std::unique_ptr<TStringList> all;
  EXPECT_TRUE(tools.GetStartParameters(u"INSTANCEID", all, "--"));
  ASSERT_TRUE(all);
  EXPECT_EQ(all->Count(), 2);
}

TEST(qzConsoleToolsParams, IniFileFallback) {
  qztest::TempDir tmp;
  const std::string ini = tmp.Path() + "/defaults.ini";
  std::ofstream(ini) << "[Other]\r\nVerbose=0\r\n[Parameters]\r\nVerbose=1\r\nCount=42\r\nName= worker \r\n"
                        "Broken=abc\r\nWord=true\r\n";
  CommandLine cl({u"/bin/svc", u"--count=3"});
  TqzConsoleTools tools;
  tools.DefaultStartParamIni = Utf8ToWide(ini);
  struct Row {
    const char16_t* name;
    Variant def;
    Variant expected;
  };
  const Row rows[] = {
      {u"verbose", Variant(false), Variant(true)},                    // ini keys ignore case
      {u"Word", Variant(false), Variant(true)},
      {u"Count", Variant(int32_t(0)), Variant(int64_t(3))},            // the argument wins
      {u"Broken", Variant(int32_t(9)), Variant(int32_t(9))},           // no number: Default
      {u"Name", Variant(u"x"), Variant(u"worker")},
      {u"Missing", Variant(u"dflt"), Variant(u"dflt")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(WideToUtf8(r.name));
    EXPECT_EQ(tools.GetStartParameter(r.name, r.def, "--", "="), r.expected);
  }
  tools.DefaultStartParamIni = Utf8ToWide(tmp.Path() + "/none.ini");
  EXPECT_EQ(tools.GetStartParameter(u"verbose", Variant(false), "--", "="), Variant(false));
  EXPECT_EQ(tools.Message, u"");
}

TEST(qzConsoleToolsParams, HelpStateAndParamString) {
  struct Row {
    std::vector<UnicodeString> args;
    bool help;
  };
  const Row rows[] = {{{u"p", u"/?"}, true},       {{u"p", u"-?"}, true},        {{u"p", u"--?"}, true},
                      {{u"p", u"/?", u"x"}, false}, {{u"p", u"/h"}, false},       {{u"p"}, false},
                      {{u"p", u" /?"}, false}};
  for (const Row& r : rows) {
    CommandLine cl(r.args);
    EXPECT_EQ(TqzConsoleTools::GetHelpStartParamState(), r.help) << WideToUtf8(r.args.back());
  }
  EXPECT_EQ(TqzConsoleTools::BuildParamString({u"debug=true", u"instanceid=2"}, "--"),
            u"\"--debug=true\" \"--instanceid=2\"");
  EXPECT_EQ(TqzConsoleTools::BuildParamString({}, "--"), u"");
}

// ---- Console -----------------------------------------------------------------------------------

// Runs fn in a child whose standard input and output are the slave side of a new
// pseudo-terminal; feeds `input` after a short pause; returns the child's exit code and what it
// wrote to the terminal.
std::pair<int, std::string> OnTerminal(const std::function<int()>& fn, const std::string& input) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) ::_exit(fn());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (!input.empty()) (void)::write(master, input.data(), input.size());
  std::string out;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    char buf[512];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child is gone
    out.append(buf, static_cast<size_t>(n));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(qzConsoleToolsConsole, KeysTitleAndScreenOnATerminal) {
  // A key typed without Enter is seen, consumed, and not echoed.
  auto [code, out] = OnTerminal(
      [] {
        const bool key = TqzConsoleTools::WaitForKeypressed(5);
        const bool again = TqzConsoleTools::KeyPressed();
        return key && !again ? 0 : 1;
      },
      "k");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out.find('k'), std::string::npos) << out;

  // No key within the limit: a time-out, reported as such after more than the limit.
  auto [timedOut, ignored] = OnTerminal(
      [] {
        const auto start = std::chrono::steady_clock::now();
        const bool key = TqzConsoleTools::WaitForKeypressed(1);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return !key && ms.count() >= 1000 ? 0 : 1;
      },
      "");
  EXPECT_EQ(timedOut, 0);

  auto [code2, out2] = OnTerminal(
      [] {
        TqzConsoleTools tools;
        tools.ServerName = u"svc\x1b[31m";
        tools.InstanceId = 3;
        return tools.SetConsoleTitle() && TqzConsoleTools::ClsConsole() ? 0 : 1;
      },
      "");
  EXPECT_EQ(code2, 0);
  EXPECT_NE(out2.find("\x1b]0;svc[31m (instance id 3)\x07"), std::string::npos) << out2;  // no raw ESC
  EXPECT_NE(out2.find("\x1b[H\x1b[2J"), std::string::npos);
}

TEST(qzConsoleToolsConsole, WithoutATerminal) {
  qztest::TempDir tmp;
  const std::string file = tmp.Path() + "/out.txt";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    TqzConsoleTools tools;
    tools.ServerName = u"Scan Service";
    tools.InstanceId = 0;
    const auto start = std::chrono::steady_clock::now();
    // Without a limit and without a terminal no key can come: no endless wait.
    const bool waited = TqzConsoleTools::WaitForKeypressed(0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const bool ok = !TqzConsoleTools::KeyPressed() && !waited && ms.count() < 400 && tools.SetConsoleTitle() &&
                    TqzConsoleTools::ClsConsole();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(qztest::ReadFile(file), "Scan Service\n");  // the title as a plain line, no screen sequences
}

TEST(qzConsoleToolsConsole, ConsoleSettingsInTheUserHive) {
  qztest::TempDir reg;
  ScopedEnv env("KESTA_REGISTRY_DIR", reg.Path().c_str());
  CommandLine cl({u"/opt/kesta/bin/scan svc"});
  TqzConsoleTools tools;
  ASSERT_TRUE(tools.RegisterConsoleSettings());
  const std::string hive = qztest::ReadFile(reg.Path() + "/HKCU.reg");
  // The Windows packing of the numbers: high word lines/height, low word columns/width.
  for (const char* line : {"[HKEY_CURRENT_USER\\Console\\_opt_kesta_bin_scan svc]", "\"FaceName\"=\"Consolas\"",
                           "\"CodePage\"=dword:0000fde9", "\"FontSize\"=dword:000e0006",
                           "\"HistoryNoDup\"=dword:00000001", "\"ScreenBufferSize\"=dword:03e80096",
                           "\"ScreenColors\"=dword:0000000f", "\"WindowSize\"=dword:00210096"})
    EXPECT_NE(hive.find(line), std::string::npos) << line << "\n" << hive;
  // Writing the same settings again leaves the hive file alone.
  struct stat before {}, after {};
  ::stat((reg.Path() + "/HKCU.reg").c_str(), &before);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(tools.RegisterConsoleSettings());
  ::stat((reg.Path() + "/HKCU.reg").c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

// ---- Named mutexes -----------------------------------------------------------------------------

class qzConsoleToolsMutex : public ::testing::Test {
 protected:
  qztest::TempDir dir_;
  ScopedEnv env_{"KESTA_MUTEX_DIR", dir_.Path().c_str()};
  TqzConsoleTools tools_;

  // Runs the shell's flock on the lock file of a name without waiting: true when it got the lock.
  static bool ShellFlockGets(const UnicodeString& name) {
    const std::string file = platform::NamedMutexFile(name);
    auto r = qztest::RunProcess({"flock", "-n", file, "true"});
    return r.ExitCode == 0;
  }
};

TEST_F(qzConsoleToolsMutex, RegisterTwiceAndClose) {
  const UnicodeString name = u"svc-1";
  EXPECT_FALSE(tools_.IsMutexActive(name));
  EXPECT_FALSE(tools_.CloseMutex(name));  // nobody holds it
  EXPECT_TRUE(tools_.RegisterMutex(name));
  EXPECT_FALSE(tools_.RegisterMutex(name));  // second time in the same process
  EXPECT_TRUE(tools_.IsMutexActive(name));
  EXPECT_TRUE(tools_.WaitForMutex(name, 50));  // the owner's own wait returns at once
  EXPECT_FALSE(ShellFlockGets(name));
  EXPECT_TRUE(tools_.CloseMutex(name));
  EXPECT_FALSE(tools_.IsMutexActive(name));
  EXPECT_TRUE(ShellFlockGets(name));
  EXPECT_TRUE(tools_.RegisterMutex(name));  // free again
  EXPECT_TRUE(tools_.CloseMutex(name));
  // Names are case-sensitive and any text maps to its own lock file.
  EXPECT_TRUE(tools_.RegisterMutex(u"Global\\Kesta Scan/ß"));
  EXPECT_FALSE(tools_.IsMutexActive(u"global\\kesta scan/ß"));
  EXPECT_TRUE(tools_.CloseMutex(u"Global\\Kesta Scan/ß"));
  EXPECT_FALSE(tools_.RegisterMutex(u""));
}

TEST_F(qzConsoleToolsMutex, TwoProcesses) {
  const UnicodeString name = u"exclusive-work";
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TqzConsoleTools child;
    const char held = child.RegisterMutex(name) ? 'y' : 'n';
    (void)::write(toParent[1], &held, 1);
    char c;
    (void)::read(toChild[0], &c, 1);  // hold until told, then end without closing the mutex
    ::_exit(0);
  }
  char held = 0;
  ASSERT_EQ(::read(toParent[0], &held, 1), 1);
  ASSERT_EQ(held, 'y');

  EXPECT_TRUE(tools_.IsMutexActive(name));
  EXPECT_FALSE(tools_.RegisterMutex(name));
  EXPECT_FALSE(ShellFlockGets(name));
  // A time-out is no success, and the waiter keeps nothing.
  EXPECT_FALSE(tools_.WaitForMutex(name, 100));
  EXPECT_TRUE(tools_.CloseMutex(name));  // exists, but held by the other process: stays held
  EXPECT_TRUE(tools_.IsMutexActive(name));

  // The holder ends while we wait: the wait succeeds, and the name is free afterwards.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    (void)::write(toChild[1], "x", 1);
  });
  EXPECT_TRUE(tools_.WaitForMutex(name, 10000));
  release.join();
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_FALSE(tools_.IsMutexActive(name));
  EXPECT_TRUE(ShellFlockGets(name));
  EXPECT_FALSE(platform::NamedMutexHeldHere(name));
  EXPECT_TRUE(tools_.RegisterMutex(name));
  EXPECT_TRUE(tools_.CloseMutex(name));
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

TEST_F(qzConsoleToolsMutex, ShellHolderIsSeen) {
  // A lock taken by the shell's flock tool is a held name for us.
  const UnicodeString name = u"held-by-shell";
  const std::string file = platform::NamedMutexFile(name);
  ASSERT_FALSE(file.empty());
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execlp("flock", "flock", file.c_str(), "sleep", "1", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = tools_.IsMutexActive(name);
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
  EXPECT_FALSE(tools_.RegisterMutex(name));
  EXPECT_TRUE(tools_.WaitForMutex(name, 5000));
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_FALSE(tools_.IsMutexActive(name));
}

}  // namespace
