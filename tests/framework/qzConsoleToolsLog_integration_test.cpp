// The service log against real receivers: a private rsyslogd (imudp on a loopback port, one file
// action), a private snmptrapd, and net-snmp's snmptrap as the reference for the trap's bytes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CodePage.h"
#include "DbFixtures.h"
#include "FormatSettings.h"
#include "LogReceivers.h"
#include "SnmpTrap.h"
#include "Syslog.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "qzConsoleTools.h"

namespace {

using qztest::Rsyslog;
using qztest::ScopedEnv;
using qztest::SnmpTrapd;
using qztest::TempDir;
using qztest::UdpReceiver;
using qztest::WaitFor;

class LogReceivers : public ::testing::Test {
 protected:
  LogReceivers() {
    ::mkdir((dir_.Path() + "/reg").c_str(), 0755);
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    TqzConsoleTools::SetCommandLine({platform::Utf8ToWide(dir_.Path() + "/bin/svc.exe")});
  }
  ~LogReceivers() override { TqzConsoleTools::ResetCommandLine(); }

  // A log object that writes neither files nor the console.
  static std::unique_ptr<TqzConsoleTools> Tools(const char16_t* techName) {
    auto tools = std::make_unique<TqzConsoleTools>();
    tools->AsService = true;
    tools->LogToFile = false;
    tools->ServerTechName = techName;
    return tools;
  }

  TempDir dir_{"qzlogrecv"};
  ScopedEnv registry_{"KESTA_REGISTRY_DIR", dir_.Path() + "/reg"};
  ScopedEnv root_{"KESTASYS", dir_.Path() + "/inst"};
};

TEST_F(LogReceivers, SyslogReachesRsyslog) {
  Rsyslog rsyslog;
  {
    auto t = Tools(u"scan svc");
    TqzConsoleTools& tools = *t;
    tools.LogLevel = 5;
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
    auto t = Tools(u"svc");
    TqzConsoleTools& tools = *t;
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
    auto t = Tools(u"scansvc");
    TqzConsoleTools& tools = *t;
    tools.LogLevel = 5;
    tools.ServerName = u"Scan Service";
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

// A batch goes out as the same datagrams, in the same order, as one Send per message: headers
// shared by consecutive messages change with the severity and the second, and each message is
// cut at a character boundary below the datagram limit.
TEST(SyslogBatch, SameDatagramsAsOneSendEach) {
  auto at = [](int second, int ms) {
    return platform::EncodeDate(2026, 12, 1) + platform::EncodeTime(9, 5, second, ms);
  };
  const std::string longText(600, 'x');
  std::string utf8;
  for (int i = 0; i < 40; ++i) utf8 += "\xC3\xA4";  // 80 bytes of two-byte characters
  const std::vector<platform::SyslogClient::Message> messages = {
      {6, at(3, 0), "first"},        {6, at(3, 999), "same second"}, {3, at(3, 999), "another severity"},
      {3, at(4, 0), "next second"},  {7, at(4, 1), ""},              {6, at(4, 2), utf8},
      {2, at(59, 500), longText},     {6, at(59, 500), "last"},
  };
  for (const std::size_t limit : {std::size_t(1024), std::size_t(64)}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    UdpReceiver receiver;
    platform::SyslogClient client;
    client.Host = "127.0.0.1";
    client.Port = receiver.Port();
    client.MaxDatagramSize = limit;
    client.SendBatch(16, "scan svc", messages);
    const std::string host = platform::SyslogClient::LocalHostName();
    for (const auto& m : messages) {
      const std::string expected =
          platform::SyslogClient::FormatMessage(16, m.severity, m.localTime, host, "scan svc", m.utf8Message, limit);
      EXPECT_EQ(receiver.Receive(), expected);
    }
    EXPECT_EQ(receiver.Receive(200), "");
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
