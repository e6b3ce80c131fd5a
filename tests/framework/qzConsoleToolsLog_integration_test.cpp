// The service log against real receivers: a private rsyslogd (imudp on a loopback port, one file
// action), a private snmptrapd, and net-snmp's snmptrap as the reference for the trap's bytes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "Clock.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "FormatSettings.h"
#include "SnmpTrap.h"
#include "Syslog.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "qzConsoleTools.h"

namespace {

using qztest::ChildProcess;
using qztest::ScopedEnv;
using qztest::TempDir;

// A UDP socket bound to a free loopback port (receives datagrams for the test itself).
class UdpReceiver {
 public:
  UdpReceiver() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~UdpReceiver() { ::close(fd_); }
  int Port() const { return port_; }
  // The next datagram, or empty after timeoutMs.
  std::string Receive(int timeoutMs = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return {};
    std::string buf(65536, '\0');
    const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
    buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buf;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A free UDP port on loopback (the receiver is closed again before the server binds it).
int FreeUdpPort() { return UdpReceiver().Port(); }

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// rsyslogd on 127.0.0.1:<port>, writing "PRI|TAG|PROGRAM|HOST|MSG" lines into a file.
class Rsyslog {
 public:
  Rsyslog() : port_(FreeUdpPort()) {
    const std::string d = dir_.Path();
    qztest::WriteFile(d + "/rsyslog.conf",
                      "global(workDirectory=\"" + d + "\")\n"
                      "module(load=\"imudp\")\n"
                      "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" + std::to_string(port_) + "\")\n"
                      "template(name=\"t\" type=\"string\" string=\"%pri%|%syslogtag%|%programname%|%hostname%|%msg%\\n\")\n"
                      "*.* action(type=\"omfile\" file=\"" + d + "/out.log\" template=\"t\")\n");
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/rsyslogd", "-n", "-f", d + "/rsyslog.conf", "-i", d + "/rsyslogd.pid"},
        d + "/rsyslogd");
    // Ready once a probe comes through.
    platform::SyslogClient probe;
    probe.Host = "127.0.0.1";
    probe.Port = port_;
    const bool ready = WaitFor([&] {
      try {
        probe.Send(1, 6, platform::Now(), "PROBE", "ready");
      } catch (const Exception&) {
        // not listening yet (an earlier probe came back as "port unreachable")
      }
      return Output().find("| ready") != std::string::npos;
    }, 15000);
    if (!ready) throw std::runtime_error("rsyslogd did not start: " + server_->Err());
  }
  ~Rsyslog() {
    server_->Signal(SIGTERM);
    server_->Wait(10000);
  }
  int Port() const { return port_; }
  std::string Output() const { return qztest::ReadFile(dir_.Path() + "/out.log"); }
  // The lines of the program's own messages (probes left out).
  std::vector<std::string> Lines(const std::string& tag) const {
    std::vector<std::string> out;
    const std::string all = Output();
    std::size_t start = 0;
    for (std::size_t p; (p = all.find('\n', start)) != std::string::npos; start = p + 1) {
      const std::string line = all.substr(start, p - start);
      if (line.find("|" + tag + ":|") != std::string::npos) out.push_back(line);
    }
    return out;
  }

 private:
  TempDir dir_{"qzrsyslog"};
  int port_;
  std::unique_ptr<ChildProcess> server_;
};

// snmptrapd on 127.0.0.1:<port>: one "TRAP enterprise|generic|specific|agent|varbinds" line per
// SNMPv1 trap on its standard output, object identifiers numeric.
class SnmpTrapd {
 public:
  SnmpTrapd() : port_(FreeUdpPort()) {
    const std::string d = dir_.Path();
    qztest::WriteFile(d + "/snmptrapd.conf",
                      "disableAuthorization yes\n"
                      "format1 TRAP %N|%w|%q|%a|%V~%v\\n\n");
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/snmptrapd", "-f", "-Lo", "-On", "-C", "-c", d + "/snmptrapd.conf", "-M",
                                 "/dev/null", "-m", "", "udp:127.0.0.1:" + std::to_string(port_)},
        d + "/snmptrapd", std::vector<std::string>{"SNMP_PERSISTENT_DIR=" + d + "/persist"});
    server_->WaitForOutput("NET-SNMP version", 15000);
  }
  ~SnmpTrapd() {
    server_->Signal(SIGTERM);
    server_->Wait(10000);
  }
  int Port() const { return port_; }
  std::vector<std::string> Traps() const {
    std::vector<std::string> out;
    const std::string all = server_->Out();
    std::size_t start = 0;
    for (std::size_t p; (p = all.find('\n', start)) != std::string::npos; start = p + 1)
      if (all.compare(start, 5, "TRAP ") == 0) out.push_back(all.substr(start + 5, p - start - 5));
    return out;
  }

 private:
  TempDir dir_{"qzsnmptrapd"};
  int port_;
  std::unique_ptr<ChildProcess> server_;
};

class LogReceivers : public ::testing::Test {
 protected:
  LogReceivers() {
    ::mkdir((dir_.Path() + "/reg").c_str(), 0755);
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    TqzConsoleTools::SetCommandLine({platform::Utf8ToWide(dir_.Path() + "/bin/svc.exe")});
  }
  ~LogReceivers() override { TqzConsoleTools::ResetCommandLine(); }

  TempDir dir_{"qzlogrecv"};
  ScopedEnv registry_{"KESTA_REGISTRY_DIR", dir_.Path() + "/reg"};
  ScopedEnv root_{"KESTASYS", dir_.Path() + "/inst"};
};

TEST_F(LogReceivers, SyslogReachesRsyslog) {
  Rsyslog rsyslog;
  {
    TqzConsoleTools tools;
    tools.AsService = true;
    tools.LogToFile = false;
    tools.LogLevel = 5;
    tools.ServerTechName = u"scan svc";
    tools.SysLogActive = true;
    tools.SysLogServer = u"127.0.0.1";
    tools.SysLogPort = rsyslog.Port();
    tools.SysLogLevel = 5;  // everything but trace entries
    struct Case {
      TqzLogInfoType type;
      const char16_t* message;
    } cases[] = {{qzLog_Error, u"disk full"},           {qzLog_Critical, u"Access violation at 0"},
                 {qzLog_Warning, u"low on paper"},      {qzLog_Note, u"note this"},
                 {qzLog_Info, u"gr\u00fc\u00dfe \u20ac"}, {qzLog_Debug, u"debug detail"},
                 {qzLog_Trace, u"trace never sent"}};
    for (const auto& c : cases) tools.Log(c.type, c.message);
    ASSERT_TRUE(tools.WaitForWriter(10000));  // options are read when the writer sends
    tools.SysLogFacility = sfLocalUseSeven;
    tools.Log(qzLog_Error, u"on local7");
    ASSERT_TRUE(tools.WaitForWriter(10000));
  }
  const std::string host = platform::SyslogClient::LocalHostName();
  const std::vector<std::string> expected = {
      "131|SCAN_SVC:|SCAN_SVC|" + host + "| disk full",          // local0 (16) * 8 + error (3)
      "130|SCAN_SVC:|SCAN_SVC|" + host + "| Access violation at 0",  // critical (2)
      "132|SCAN_SVC:|SCAN_SVC|" + host + "| low on paper",       // warning (4)
      "133|SCAN_SVC:|SCAN_SVC|" + host + "| note this",          // notice (5)
      "134|SCAN_SVC:|SCAN_SVC|" + host + "| gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC",  // informational, UTF-8
      "135|SCAN_SVC:|SCAN_SVC|" + host + "| debug detail",       // debug (7)
      "187|SCAN_SVC:|SCAN_SVC|" + host + "| on local7",          // local7 (23) * 8 + 3
  };
  EXPECT_TRUE(WaitFor([&] { return rsyslog.Lines("SCAN_SVC").size() >= expected.size(); }, 10000));
  EXPECT_EQ(rsyslog.Lines("SCAN_SVC"), expected);
}

TEST_F(LogReceivers, SyslogLevelAndLongMessages) {
  Rsyslog rsyslog;
  {
    TqzConsoleTools tools;
    tools.AsService = true;
    tools.LogToFile = false;
    tools.ServerTechName = u"svc";
    tools.SysLogActive = true;
    tools.SysLogServer = u"localhost";
    tools.SysLogPort = rsyslog.Port();
    // The default syslog level 2 sends errors, criticals, warnings and notes only.
    tools.Log(qzLog_Info, u"not sent");
    tools.Log(qzLog_Warning, u"sent");
    // A message beyond the datagram limit is cut at a character boundary below 1024 bytes.
    tools.Log(qzLog_Error, UnicodeString(2000, u'\u00e4'));
    ASSERT_TRUE(tools.WaitForWriter(10000));
  }
  ASSERT_TRUE(WaitFor([&] { return rsyslog.Lines("SVC").size() >= 2; }, 10000));
  const auto lines = rsyslog.Lines("SVC");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 4), "132|");
  const std::string msg = lines[1].substr(lines[1].rfind('|') + 2);
  EXPECT_TRUE(platform::IsValidUtf8(msg));
  EXPECT_GT(msg.size(), 900u);
  EXPECT_LE(msg.size(), 1024u);
  EXPECT_EQ(msg.find_first_not_of("\xC3\xA4"), std::string::npos);
}

TEST_F(LogReceivers, TrapReachesSnmptrapd) {
  SnmpTrapd trapd;
  {
    TqzConsoleTools tools;
    tools.AsService = true;
    tools.LogToFile = false;
    tools.LogLevel = 5;
    tools.ServerName = u"Scan Service";
    tools.ServerTechName = u"scansvc";
    tools.SNMPActive = true;
    tools.SNMPServer = u"127.0.0.1";
    tools.SNMPPort = trapd.Port();
    tools.Log(qzLog_Info, u"no trap for info");
    tools.Log(qzLog_Error, u"disk full");
    tools.Log(qzLog_Warning, u"low on paper");
    tools.Log(qzLog_Critical, u"gone");
    ASSERT_TRUE(tools.WaitForWriter(10000));
    // Not configured: an empty server or port 0 sends nothing.
    tools.SNMPPort = 0;
    tools.Log(qzLog_Error, u"nowhere");
    ASSERT_TRUE(tools.WaitForWriter(10000));
  }
  ASSERT_TRUE(WaitFor([&] { return trapd.Traps().size() >= 3; }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto traps = trapd.Traps();
  ASSERT_EQ(traps.size(), 3u);
  const char* types[] = {"error", "warning", "critical"};
  const char* messages[] = {"disk full", "low on paper", "gone"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(traps[i]);
    const std::string& t = traps[i];
    EXPECT_EQ(t.substr(0, t.find('|')), ".1.3.6.1.4.1.32473");
    EXPECT_NE(t.find("|6|"), std::string::npos);  // enterprise-specific
    const std::string binds = t.substr(t.find('|', t.find('|', t.find('|', t.find('|') + 1) + 1) + 1) + 1);
    const std::string prefix = ".1.3.6.1.4.1.32473.";
    EXPECT_NE(binds.find(prefix + "0 = STRING: \"Scan Service\"~"), std::string::npos);
    EXPECT_NE(binds.find(prefix + "1 = STRING: \"scansvc\"~"), std::string::npos);
    EXPECT_NE(binds.find(prefix + "2 = STRING: \"20"), std::string::npos);
    EXPECT_NE(binds.find(prefix + "3 = STRING: \""), std::string::npos);
    EXPECT_NE(binds.find(prefix + "4 = STRING: \"" + std::string(types[i]) + "\"~"), std::string::npos);
    EXPECT_NE(binds.find(prefix + "5 = STRING: \"" + std::string(messages[i]) + "\""), std::string::npos);
    // The six variables in order.
    std::size_t last = 0;
    for (int v = 0; v < 6; ++v) {
      const std::size_t at = binds.find(prefix + std::to_string(v) + " = ");
      ASSERT_NE(at, std::string::npos);
      EXPECT_GE(at, last);
      last = at;
    }
  }
}

// The encoder's bytes against net-snmp's snmptrap for the same trap (agent address and up time
// given explicitly to both, so every byte must agree).
TEST(SnmpTrapBer, SameBytesAsNetSnmp) {
  struct Case {
    std::string agent;
    uint32_t ticks;
    std::vector<platform::SnmpVarBind> binds;
  } cases[] = {
      {"127.0.0.1", 0, {}},
      {"10.1.2.3", 127, {{"1.3.6.1.4.1.32473.0", "Scan Service"}}},
      {"192.168.200.250", 128, {{"1.3.6.1.4.1.32473.5", std::string(200, 'x')}}},
      {"127.0.0.1", 4294967295u,
       {{"1.3.6.1.4.1.32473.0", "a"}, {"1.3.6.1.4.1.32473.1", ""}, {"1.3.6.1.4.1.32473.2", "2026-12-11 05:00:00"},
        {"1.3.6.1.4.1.32473.3", "86400"}, {"1.3.6.1.4.1.32473.4", "error"},
        {"1.3.6.1.4.1.32473.5", "gr\xC3\xBC\xC3\x9F" "e " + std::string(300, 'y')}}},
      {"127.0.0.1", 2147483648u, {{"1.3.6.1.4.1.32473.4294967295", "z"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.agent + " " + std::to_string(c.ticks));
    UdpReceiver receiver;
    std::vector<std::string> argv = {"snmptrap", "-v", "1", "-c", "public", "-M", "/dev/null", "-m", "",
                                     "127.0.0.1:" + std::to_string(receiver.Port()), "1.3.6.1.4.1.32473", c.agent,
                                     "6", "1", std::to_string(c.ticks)};
    for (const auto& b : c.binds) {
      argv.push_back(b.Oid);
      argv.push_back("s");
      argv.push_back(b.Value);
    }
    const auto r = qztest::RunProcess(argv, "", {"SNMP_PERSISTENT_DIR=/tmp/qz-snmptrap-" + std::to_string(::getpid())});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::string reference = receiver.Receive();
    ASSERT_FALSE(reference.empty());
    in_addr addr{};
    ASSERT_EQ(::inet_pton(AF_INET, c.agent.c_str(), &addr), 1);
    const std::string agent(reinterpret_cast<const char*>(&addr), 4);
    EXPECT_EQ(qztest::Hex(platform::SnmpTrapSender::EncodeTrapV1("public", "1.3.6.1.4.1.32473", agent, 6, 1, c.ticks,
                                                                 c.binds)),
              qztest::Hex(reference));
  }
  EXPECT_THROW(platform::SnmpTrapSender::EncodeOid("1.3.x"), Exception);
  EXPECT_THROW(platform::SnmpTrapSender::EncodeOid("3.1"), Exception);
  EXPECT_THROW(platform::SnmpTrapSender::EncodeOid("1"), Exception);
  EXPECT_THROW(platform::SnmpTrapSender::EncodeOid("1.3..6"), Exception);
}

}  // namespace
