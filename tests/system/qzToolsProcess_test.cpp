// Starting, finding and ending processes, the shell hand-over, services and shutting down.
// Programs are checked from the inside (python3 reports what it was given: arguments, folder,
// descriptors, session, nice value) and from the outside (pgrep, /proc). systemctl, loginctl,
// xdg-open and gdbus are never the real ones here: PATH holds only stand-ins that record their
// calls, so no test can touch this machine's services or power state.
#include "qzToolsProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FakePrograms.h"
#include "TestSupport.h"
#include "Variant.h"
#include "qzTools.h"

using namespace platform;
using qztest::FakePrograms;
using qztest::ScopedEnv;
using qztest::TempDir;

namespace {

using Calls = std::vector<std::vector<std::string>>;

using qztest::W;

// A python3 program that writes what it sees of itself as JSON into `report`.
UnicodeString ReportParams(const std::string& report) {
  return W("-c \"import json, os, sys; json.dump({'args': sys.argv[1:], 'cwd': os.getcwd(), "
           "'fds': sorted(int(x) for x in os.listdir('/proc/self/fd')), 'sid': os.getsid(0) == os.getpid(), "
           "'nice': os.nice(0)}, open('" + report + "', 'w'))\"");
}

nlohmann::json ReadReport(const std::string& path) { return nlohmann::json::parse(qztest::ReadFile(path)); }

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// ---- Starting programs -----------------------------------------------------------------------

TEST(ExecTest, ExecAndWaitGivesTheExitCode) {
  struct Case {
    const char* file;
    const char* params;
    bool started;
    uint32_t code;
  } cases[] = {
      {"/bin/sh", "-c \"exit 3\"", true, 3},
      {"/bin/sh", "-c \"exit 0\"", true, 0},
      {"sh", "-c \"exit 255\"", true, 255},  // looked up in PATH
      {"/bin/sh", "-c \"kill -TERM $$\"", true, 128 + 15},
      {"/nonexistent/program", "", false, 0},
      {"no-such-program-qz18", "x", false, 0},
      {"", "", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t code = 77;
    EXPECT_EQ(TqzTools::ExecAndWait(W(c.file), W(c.params), 0, code), c.started) << c.file << " " << c.params;
    EXPECT_EQ(code, c.code) << c.file << " " << c.params;
  }
  EXPECT_TRUE(TqzTools::ExecAndWait(u"/bin/true", u"", 1));
}

TEST(ExecTest, ProgramsGetTheirArgumentsFolderAndNothingElse) {
  TempDir dir("qzexec");
  const std::string report = dir.Path() + "/report.json";
  // A descriptor this process leaves open across exec must not reach the program.
  const int leaked = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 0);
  const int high = ::dup2(leaked, 100);
  ASSERT_EQ(high, 100);

  const std::string work = dir.Path() + "/work dir";
  ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
  uint32_t code = 1;
  ASSERT_TRUE(TqzTools::ExecAndWait(u"/usr/bin/python3", ReportParams(report) + u" \"a b\" c\\\"d \"\" \"$HOME;x\"", 0,
                                    code, W(work)));
  EXPECT_EQ(code, 0u);
  nlohmann::json r = ReadReport(report);
  EXPECT_EQ(r["args"], nlohmann::json({"a b", "c\"d", "", "$HOME;x"}));
  EXPECT_EQ(r["cwd"], work);
  EXPECT_EQ(r["fds"], nlohmann::json({0, 1, 2, 3}));  // 3: the listing itself
  EXPECT_EQ(r["sid"], true);
  ::close(leaked);
  ::close(high);

  // A working folder that does not exist starts nothing.
  EXPECT_FALSE(TqzTools::ExecAndWait(u"/bin/true", u"", 0, code, W(dir.Path() + "/missing")));
}

TEST(ExecTest, ExecProcessRunsWithoutWaitingAndAtTheRequestedPriority) {
  TempDir dir("qzexec");
  struct Case {
    uint32_t priority;
    int nice;
  } cases[] = {{TqzTools::IDLE_PRIORITY_CLASS, 19}, {TqzTools::BELOW_NORMAL_PRIORITY_CLASS, 10}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string report = dir.Path() + "/r" + std::to_string(n++) + ".json";
    uint32_t handle = 0;
    ASSERT_TRUE(TqzTools::ExecProcess(u"/usr/bin/python3", ReportParams(report), c.priority, 0, handle));
    ASSERT_NE(handle, 0u);
    pollfd fd{static_cast<int>(handle), POLLIN, 0};
    ASSERT_EQ(::poll(&fd, 1, 20000), 1);  // the handle tells when the program ended
    ::close(static_cast<int>(handle));
    ASSERT_TRUE(WaitUntil([&] { return !qztest::ReadFile(report).empty(); }));
    EXPECT_EQ(ReadReport(report)["nice"], c.nice) << c.priority;
  }
  uint32_t handle = 0;
  EXPECT_FALSE(TqzTools::ExecProcess(u"/bin/true", u"", 0x12345u, 0, handle));  // no priority class
  EXPECT_EQ(handle, 0u);

  // The command-line form: the program name may be quoted and holds a blank here.
  const std::string linkDir = dir.Path() + "/with blank";
  ASSERT_EQ(::mkdir(linkDir.c_str(), 0700), 0);
  ASSERT_EQ(::symlink("/usr/bin/python3", (linkDir + "/py").c_str()), 0);
  const std::string report = dir.Path() + "/cmd.json";
  ASSERT_TRUE(TqzTools::ExecProcess(W("\"" + linkDir + "/py\" ") + ReportParams(report) + u" x\\\\\\\"y", 0));
  ASSERT_TRUE(WaitUntil([&] { return !qztest::ReadFile(report).empty(); }));
  EXPECT_EQ(ReadReport(report)["args"], nlohmann::json({"x\\\"y"}));
  EXPECT_FALSE(TqzTools::ExecProcess(u"", 0));
  EXPECT_FALSE(TqzTools::ExecProcess(u"/nonexistent/x", 0));
}

// ---- Finding and ending processes --------------------------------------------------------------

// A copy of sleep under a name no other process on this machine has.
class SleeperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    char name[16];
    std::snprintf(name, sizeof name, "qzsl%08x", rd());
    name_ = name;
    program_ = dir_.Path() + "/" + name_;
    qztest::WriteFile(program_, qztest::ReadFile("/bin/sleep"));
    ::chmod(program_.c_str(), 0755);
  }
  std::unique_ptr<qztest::ChildProcess> Start() {
    return std::make_unique<qztest::ChildProcess>(std::vector<std::string>{program_, "300"},
                                                  dir_.Path() + "/out" + std::to_string(started_++));
  }
  int Pgrep() { return qztest::RunProcess({"pgrep", "-x", name_}).ExitCode; }

  TempDir dir_{"qzproc"};
  std::string name_, program_;
  int started_ = 0;
};

TEST_F(SleeperTest, ProcessExistsByNameAndIdIgnoringFolderCaseAndExe) {
  auto child = Start();
  ASSERT_TRUE(WaitUntil([&] { return Pgrep() == 0; }));
  const uint32_t pid = static_cast<uint32_t>(child->Pid());
  std::string upper = name_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& name : {name_, upper, upper + ".EXE", name_ + ".exe", "C:\\Windows\\" + name_ + ".exe",
                                  "/elsewhere/" + name_, program_}) {
    EXPECT_TRUE(TqzTools::ProcessExists(W(name))) << name;
    EXPECT_TRUE(TqzTools::ProcessExists(pid, W(name))) << name;
  }
  for (const std::string& name : {name_ + "x", name_.substr(1), name_ + ".ex", std::string()}) {
    EXPECT_FALSE(TqzTools::ProcessExists(W(name))) << name;
    EXPECT_FALSE(TqzTools::ProcessExists(pid, W(name))) << name;
  }
  EXPECT_FALSE(TqzTools::ProcessExists(pid, u"python3"));  // another program's name
  EXPECT_TRUE(TqzTools::ProcessExists(pid));
  EXPECT_FALSE(TqzTools::ProcessExists(0u));
  EXPECT_FALSE(TqzTools::ProcessExists(0u, W(name_)));

  // An ended (zombie) process no longer counts; a reaped one is gone.
  child->Signal(SIGKILL);
  EXPECT_TRUE(WaitUntil([&] { return !TqzTools::ProcessExists(W(name_)); }));
  EXPECT_FALSE(TqzTools::ProcessExists(pid, W(name_)));
  child->Wait();
  EXPECT_FALSE(TqzTools::ProcessExists(pid));
}

TEST_F(SleeperTest, KillProcessEndsEveryMatchAndReportsWhetherAnyMatched) {
  auto first = Start();
  auto second = Start();
  ASSERT_TRUE(WaitUntil([&] {
    return TqzTools::ProcessExists(static_cast<uint32_t>(first->Pid()), W(name_)) &&
           TqzTools::ProcessExists(static_cast<uint32_t>(second->Pid()), W(name_));
  }));
  EXPECT_TRUE(TqzTools::KillProcess(W(name_ + ".EXE")));
  EXPECT_EQ(first->Wait(10000), 128 + SIGKILL);
  EXPECT_EQ(second->Wait(10000), 128 + SIGKILL);
  EXPECT_EQ(Pgrep(), 1);
  EXPECT_FALSE(TqzTools::KillProcess(W(name_)));  // nothing left to end
  EXPECT_FALSE(TqzTools::KillProcess(u""));
  EXPECT_FALSE(KillProcessByName(AnsiString("qz-no-such-process")));
}

TEST(ProcessIdTest, ThreadIdsAreNoProcesses) {
  std::atomic<pid_t> tid{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    tid = ::gettid();
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  while (tid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(TqzTools::ProcessExists(static_cast<uint32_t>(::getpid())));
  EXPECT_FALSE(TqzTools::ProcessExists(static_cast<uint32_t>(tid.load())));
  EXPECT_FALSE(TqzTools::ProcessExists(static_cast<uint32_t>(tid.load()), u"qzToolsProcess_test"));
  done = true;
  worker.join();
}

TEST(KillByHandleTest, EndsTheStartedProgramOnly) {
  uint32_t handle = 0;
  ASSERT_TRUE(TqzTools::ExecProcess(u"/bin/sleep", u"300", TqzTools::NORMAL_PRIORITY_CLASS, 0, handle));
  ASSERT_NE(handle, 0u);
  EXPECT_TRUE(TqzTools::KillProcess(handle));
  pollfd fd{static_cast<int>(handle), POLLIN, 0};
  ASSERT_EQ(::poll(&fd, 1, 10000), 1);
  // The handle keeps naming the ended program: it never reaches a process that took its id.
  EXPECT_TRUE(WaitUntil([&] { return !TqzTools::KillProcess(handle); }));
  ::close(static_cast<int>(handle));
  EXPECT_FALSE(TqzTools::KillProcess(0u));
  EXPECT_FALSE(KillProcessByHandle(0));
  // A descriptor that is no process handle is refused.
  const int notAProcess = ::open("/dev/null", O_RDONLY);
  EXPECT_FALSE(TqzTools::KillProcess(static_cast<uint32_t>(notAProcess)));
  ::close(notAProcess);
}

TEST(MemoryUsageTest, ResidentSetAsProcSays) {
  const uint32_t pid = static_cast<uint32_t>(::getpid());
  const uint32_t mine = TqzTools::GetProcessMemoryUsage(pid);
  const std::string out = qztest::RunPython(
      "import sys\n"
      "for l in open('/proc/%s/status' % sys.argv[1]):\n"
      "    if l.startswith('VmRSS:'): print(int(l.split()[1]) * 1024)\n",
      {std::to_string(pid)});
  const double python = std::stod(out);
  EXPECT_GT(mine, 0u);
  EXPECT_NEAR(static_cast<double>(mine), python, python * 0.25);
  EXPECT_EQ(TqzTools::GetProcessMemoryUsage(0), 0u);
  EXPECT_EQ(TqzTools::GetProcessMemoryUsage(0x7FFFFFF0u), 0u);
}

// ---- Services and shutting down (stand-ins only) ---------------------------------------------

// systemctl and loginctl stand-ins that keep unit states in state.json and log every call.
class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes_.Add("systemctl", R"(
state_file = os.path.join(here, 'state.json')
st = json.load(open(state_file)) if os.path.exists(state_file) else {'units': {}}
a = [x for x in args if x != '--no-ask-password']
if st.get('broken'):
    sys.exit(1)
if a and a[0] == 'show':
    u = st['units'].get(a[-1])
    if u is None:
        print('LoadState=not-found\nActiveState=inactive\nFreezerState=running')
    else:
        print('FreezerState=%s\nLoadState=loaded\nActiveState=%s' % (u.get('freezer', 'running'), u['active']))
    sys.exit(0)
if a and a[0] in ('start', 'stop'):
    u = st['units'].get(a[-1])
    if u is not None and not u.get('stuck'):
        u['active'] = 'active' if a[0] == 'start' else 'inactive'
    json.dump(st, open(state_file, 'w'))
sys.exit(st.get('exit', 0))
)");
    fakes_.Add("loginctl", "sys.exit(0)");
  }
  void SetUnits(const nlohmann::json& state) { qztest::WriteFile(fakes_.Folder() + "/state.json", state.dump()); }
  Calls Actions() {
    Calls out;
    for (auto& c : fakes_.Calls("systemctl")) {
      std::vector<std::string> a;
      for (auto& x : c) {
        if (x != "--no-ask-password") a.push_back(x);
      }
      if (!a.empty() && a[0] != "show") out.push_back(a);
    }
    return out;
  }

  TempDir dir_{"qzsvc"};
  FakePrograms fakes_{dir_.Path() + "/bin"};
  ScopedEnv path_{"PATH", fakes_.Folder()};
};

TEST_F(ServiceTest, StatesMapOntoTheServiceStateNumbers) {
  SetUnits({{"units",
             {{"web.service", {{"active", "active"}}},
              {"idle.service", {{"active", "inactive"}}},
              {"bad.service", {{"active", "failed"}}},
              {"up.service", {{"active", "activating"}}},
              {"down.service", {{"active", "deactivating"}}},
              {"re.service", {{"active", "reloading"}}},
              {"cold.service", {{"active", "active"}, {"freezer", "frozen"}}},
              {"cooling.service", {{"active", "active"}, {"freezer", "freezing"}}},
              {"warming.service", {{"active", "active"}, {"freezer", "thawing"}}},
              {"odd.service", {{"active", "maintenance"}}}}}});
  struct Case {
    const char16_t* name;
    uint32_t state;
  } cases[] = {{u"web.service", 4}, {u"idle.service", 1},   {u"bad.service", 1},     {u"up.service", 2},
               {u"down.service", 3}, {u"re.service", 4},    {u"cold.service", 7},    {u"cooling.service", 6},
               {u"warming.service", 5}, {u"odd.service", 0}, {u"missing.service", 0}, {u"we b", 0}};
  for (const Case& c : cases) EXPECT_EQ(TqzTools::GetServiceStatus(u"", c.name), c.state) << WideToUtf8(c.name);
  EXPECT_EQ(TqzTools::GetServiceStatus(u"localhost", u"web.service"), 4u);
  EXPECT_EQ(TqzTools::GetServiceStatus(u"\\\\" + TqzTools::GetComputerName(), u"web.service"), 4u);
  fakes_.ClearCalls("systemctl");
  EXPECT_EQ(TqzTools::GetServiceStatus(u"\\\\other-machine-qz", u"web.service"), 0u);
  EXPECT_TRUE(fakes_.Calls("systemctl").empty());  // another machine is never asked
  SetUnits({{"broken", true}, {"units", nlohmann::json::object()}});
  EXPECT_EQ(TqzTools::GetServiceStatus(u"", u"web.service"), 0u);
}

TEST_F(ServiceTest, StartAndStopAskSystemdAndWaitForTheState) {
  SetUnits({{"units", {{"web.service", {{"active", "inactive"}}}}}});
  EXPECT_TRUE(TqzTools::StartService(u"web.service"));
  EXPECT_EQ(TqzTools::GetServiceStatus(u"", u"web.service"), 4u);
  EXPECT_TRUE(TqzTools::StopService(u"web.service"));
  EXPECT_EQ(Actions(), (Calls{{"start", "--no-block", "--", "web.service"}, {"stop", "--no-block", "--", "web.service"}}));
  // A unit that does not exist is not started.
  fakes_.ClearCalls("systemctl");
  EXPECT_FALSE(TqzTools::StartService(u"missing.service"));
  EXPECT_FALSE(TqzTools::StopService(u"missing.service"));
  EXPECT_TRUE(Actions().empty());
}

TEST_F(ServiceTest, NamesThatAreNoUnitNamesRunNothing) {
  SetUnits({{"units", {{"web.service", {{"active", "active"}}}}}});
  for (const char16_t* name : {u"web\" & reboot", u"web;reboot", u"web & reboot", u"web.service|x", u"$(reboot)",
                               u"--force", u"-H", u"", u"web service", u"w\u00e9b"}) {
    EXPECT_FALSE(TqzTools::StopService(name)) << WideToUtf8(name);
    EXPECT_FALSE(TqzTools::StartService(name)) << WideToUtf8(name);
    EXPECT_EQ(TqzTools::GetServiceStatus(u"", name), 0u) << WideToUtf8(name);
  }
  EXPECT_TRUE(fakes_.Calls("systemctl").empty());
}

TEST_F(ServiceTest, ShutDownAsksSystemdOrLogindAndReportsTheAnswer) {
  struct Case {
    bool quick, reboot, powerOff, logOff;
    std::vector<std::string> call;
  } cases[] = {
      {false, false, false, false, {"halt"}},
      {false, false, true, false, {"poweroff"}},
      {false, true, true, false, {"reboot"}},
      {true, true, false, false, {"reboot", "--check-inhibitors=no"}},
      {true, false, true, false, {"poweroff", "--check-inhibitors=no"}},
  };
  for (const Case& c : cases) {
    fakes_.ClearCalls("systemctl");
    EXPECT_TRUE(TqzTools::SystemShutDown(c.quick, c.reboot, c.powerOff, c.logOff));
    EXPECT_EQ(Actions(), Calls{c.call});
  }
  {
    ScopedEnv session("XDG_SESSION_ID", "c7");
    EXPECT_TRUE(TqzTools::SystemShutDown(false, false, false, true));
    EXPECT_EQ(fakes_.Calls("loginctl"), (Calls{{"--no-ask-password", "terminate-session", "--", "c7"}}));
  }
  {
    ScopedEnv session("XDG_SESSION_ID", nullptr);
    EXPECT_FALSE(TqzTools::SystemShutDown(false, true, false, true));  // no session to end
  }
  SetUnits({{"exit", 1}, {"units", nlohmann::json::object()}});
  EXPECT_FALSE(TqzTools::SystemShutDown(false, true, false, false));  // refused by the manager
}

// ---- The shell ----------------------------------------------------------------------------------

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes_.Add("xdg-open", "sys.exit(int(os.environ.get('QZ_OPEN_EXIT', '0')))");
    fakes_.Add("qzfakeprog", "");
  }
  TempDir dir_{"qzshell"};
  FakePrograms fakes_{dir_.Path() + "/bin"};
  ScopedEnv path_{"PATH", fakes_.Folder() + ":/usr/bin:/bin"};
  ScopedEnv display_{"DISPLAY", ":97"};
};

TEST_F(ShellTest, ProgramsRunWithTheirParametersAndEverythingElseGoesToXdgOpen) {
  EXPECT_TRUE(TqzTools::ShellExecute(u"  qzfakeprog c:\\a.txt \"b c\"  ", 1, false, true));
  ASSERT_TRUE(WaitUntil([&] { return !fakes_.Calls("qzfakeprog").empty(); }));
  EXPECT_EQ(fakes_.Calls("qzfakeprog"), (Calls{{"c:\\a.txt", "b c"}}));

  const std::string doc = dir_.Path() + "/report 1.pdf";
  qztest::WriteFile(doc, "%PDF");
  struct Case {
    std::string command;
    bool isUrl, check;
    std::string opened;
  } cases[] = {
      {"https://example.org/a?b=c d", true, true, "https://example.org/a?b=c"},
      {"HTTP://EXAMPLE.ORG/", true, false, "HTTP://EXAMPLE.ORG/"},
      {doc, false, false, doc},
      {dir_.Path(), false, false, dir_.Path()},
  };
  for (const Case& c : cases) {
    fakes_.ClearCalls("xdg-open");
    EXPECT_TRUE(TqzTools::ShellExecute(W(c.command), 1, c.isUrl, c.check)) << c.command;
    EXPECT_EQ(fakes_.Calls("xdg-open"), Calls{{c.opened}}) << c.command;
  }
  ScopedEnv failing("QZ_OPEN_EXIT", "3");
  EXPECT_FALSE(TqzTools::ShellExecute(W(doc), 1, false, false));
}

TEST_F(ShellTest, UrlsMustBeginWithHttpAndEmptyCommandsDoNothing) {
  for (const char16_t* bad : {u"ftp://x", u"file:///etc/passwd", u"x http://y", u"javascript:alert(1)//http://",
                              u"  mailto:a@b"}) {
    try {
      TqzTools::ShellExecute(bad, 1, true, false);
      ADD_FAILURE() << "no exception for " << WideToUtf8(bad);
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, u"invalid url");
    }
  }
  EXPECT_FALSE(TqzTools::ShellExecute(u"", 1, false, false));
  EXPECT_FALSE(TqzTools::ShellExecute(u"   \t ", 1, true, true));
  EXPECT_TRUE(fakes_.Calls("xdg-open").empty());
  ScopedEnv noDisplay("DISPLAY", nullptr);
  ScopedEnv noWayland("WAYLAND_DISPLAY", nullptr);
  EXPECT_FALSE(TqzTools::ShellExecute(u"https://example.org", 1, true, false));  // no desktop
  EXPECT_FALSE(TqzTools::ShowFileInExplorer(u"/etc/hosts"));
  EXPECT_TRUE(fakes_.Calls("xdg-open").empty());
  EXPECT_FALSE(TqzTools::InstallINF(u"/tmp/x.inf", 0));
}

// The file manager's D-Bus call on a private session bus, answered by a python3 stand-in; without
// a file manager on the bus the folder goes to xdg-open.
TEST_F(ShellTest, ShowFileInExplorerAsksTheFileManagerElseOpensTheFolder) {
  if (qztest::RunProcess({"/usr/bin/python3", "-c", "import dbus, gi"}).ExitCode != 0 ||
      qztest::RunProcess({"which", "dbus-daemon"}).ExitCode != 0 || qztest::RunProcess({"which", "gdbus"}).ExitCode != 0)
    GTEST_SKIP() << "needs dbus-daemon, gdbus and python3-dbus with python3-gi (scripts/install-deps)";
  qztest::ChildProcess bus({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"},
                           dir_.Path() + "/bus");
  const std::string address = "unix:" + bus.WaitForOutput("unix:");
  ScopedEnv busEnv("DBUS_SESSION_BUS_ADDRESS", address);

  const std::string file = dir_.Path() + "/a dir/r\xC3\xA4port #1.txt";
  ::mkdir((dir_.Path() + "/a dir").c_str(), 0700);
  qztest::WriteFile(file, "x");
  {
    const std::string log = dir_.Path() + "/shown.log";
    qztest::ChildProcess manager(
        {"/usr/bin/python3", "-c",
         "import dbus, dbus.service, dbus.mainloop.glib, json, sys\n"
         "from gi.repository import GLib\n"
         "dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)\n"
         "bus = dbus.SessionBus()\n"
         "name = dbus.service.BusName('org.freedesktop.FileManager1', bus)\n"
         "class FM(dbus.service.Object):\n"
         "    @dbus.service.method('org.freedesktop.FileManager1', in_signature='ass', out_signature='')\n"
         "    def ShowItems(self, uris, startup):\n"
         "        open(sys.argv[1], 'a').write(json.dumps([str(u) for u in uris] + [str(startup)]) + '\\n')\n"
         "FM(bus, '/org/freedesktop/FileManager1')\n"
         "print('READY', flush=True)\n"
         "GLib.MainLoop().run()\n",
         log},
        dir_.Path() + "/fm");
    manager.WaitForOutput("READY");
    EXPECT_TRUE(TqzTools::ShowFileInExplorer(W(file)));
    const std::string uri = qztest::RunPython("import pathlib, sys; print(pathlib.Path(sys.argv[1]).as_uri())", {file});
    EXPECT_EQ(qztest::ReadFile(log), "[\"" + uri.substr(0, uri.size() - 1) + "\", \"\"]\n");
    EXPECT_TRUE(fakes_.Calls("xdg-open").empty());
  }
  EXPECT_TRUE(TqzTools::ShowFileInExplorer(W(file)));
  EXPECT_EQ(fakes_.Calls("xdg-open"), Calls{{dir_.Path() + "/a dir"}});
}

}  // namespace
