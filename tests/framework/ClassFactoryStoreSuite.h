// The class factory's store reads (LoadN7Configuration) and the service console tools it makes,
// against a real configuration store: the installation's data-link file names the database, the
// nodes are written by the store's own writer, and the factory reads them through its own
// connection. Run on SQLite (qzClassFactory_test.cpp) and on a private MariaDB server
// (qzClassFactory_integration_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Clock.h"
#include "InstalledStore.h"
#include "SysUtils.h"
#include "qzCipher.h"
#include "qzClassFactory.h"

namespace factory_suite {

using installed_store::MariaDbBackend;
using installed_store::SqliteBackend;
using Values = std::map<std::u16string, Variant>;

constexpr const char16_t* kHttp = TqzClassFactory::HttpNode;
constexpr const char16_t* kSsl = TqzClassFactory::HttpSslNode;
constexpr const char16_t* kSysLog = TqzClassFactory::SysLogNode;
constexpr const char16_t* kSnmp = TqzClassFactory::SnmpNode;

inline std::string U8(const UnicodeString& s) { return platform::WideToUtf8(s); }

// The options the store sets, one line per record.
inline std::vector<std::string> Show(const TqzClassFactory& f) {
  const auto& s = f.HttpServerOptions;
  const auto& t = s.SSL;
  const auto& l = f.SysLogClientOptions;
  const auto& n = f.SNMPClientOptions;
  std::string bindings = "bindings";
  for (const auto& b : s.Bindings) bindings += " " + b.IP + (b.IPVersion == Id_IPv6 ? "/v6" : "/v4");
  return {
      "server " + std::to_string(s.SessionTimeOut) + " " + std::to_string(s.TerminateWaitTime) + " " +
          std::to_string(s.MaximumHeaderLineCount) + " " + std::to_string(s.MaxConnections),
      bindings,
      std::string("ssl ") + (t.Active ? "on" : "off") + " cert=" + U8(t.CertFile) + " ciphers=" + U8(t.CipherList) +
          " key=" + U8(t.KeyFile) + " root=" + U8(t.RootCertFile) + " depth=" + std::to_string(t.VerifyDepth) +
          " dirs=" + U8(t.VerifyDirs) + " password=" + U8(t.Password) + " method=" + std::to_string(t.Method) +
          " versions=" + std::to_string(t.SSLVersions.Bits) + " mode=" + std::to_string(t.Mode) +
          " verify=" + std::to_string(t.VerifyMode.Bits),
      std::string("syslog ") + (l.Active ? "on " : "off ") + U8(l.Server) + ":" + std::to_string(l.Port) + " timeout " +
          std::to_string(l.ReceiveTimeOut) + " facility " + std::to_string(l.Facility) + " level " +
          std::to_string(l.LogLevel),
      std::string("snmp ") + (n.Active ? "on " : "off ") + U8(n.Server) + ":" + std::to_string(n.Port),
  };
}

// Defaults of the server's TLS values as the store reads them: depth 1, TLS 1.2 (method 5,
// versions bit 5 = 32), mode Server (2), the peer verified (bit 0).
constexpr const char* kStoreSslDefaults =
    "ssl off cert= ciphers= key= root= depth=1 dirs= password= method=5 versions=32 mode=2 verify=1";

template <class Backend>
class ClassFactoryStoreTest : public installed_store::InstalledStoreTest<Backend> {
 protected:
  // A factory with the built-in defaults (no HTTP registry key).
  std::unique_ptr<TqzClassFactory> Factory() { return std::make_unique<TqzClassFactory>(); }
  void StoreAll(const std::vector<std::pair<const char16_t*, Values>>& nodes) {
    for (const auto& [node, values] : nodes) this->Store(node, values);
  }
};

TYPED_TEST_SUITE_P(ClassFactoryStoreTest);

// Store contents -> options; a value missing from a node reads as the field's current value,
// a missing SysLog or SNMP node leaves those options alone.
TYPED_TEST_P(ClassFactoryStoreTest, StoreContentsToOptions) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char16_t*, Values>> store;
    std::function<void(TqzClassFactory&)> before;  // options set before the load
    std::vector<std::string> expected;
  } cases[] = {
      {"empty store",
       {},
       {},
       {"server 0 5000 1024 0", "bindings", kStoreSslDefaults, "syslog off localhost:514 timeout 2000 facility 16 level 2",
        "snmp off localhost:162"}},
      {"every value stored",
       {{kHttp,
         {{u"SessionTimeOut", Variant(60000)},
          {u"TerminateWaitTime", Variant(u"7000")},  // a number stored as text
          {u"MaximumHeaderLineCount", Variant(50)},
          {u"MaxConnections", Variant(8)},
          {u"Binding1", Variant(u"127.0.0.1")},
          {u"Binding2", Variant(u"::1")},
          {u"BindingX", Variant(u"0.0.0.0")},
          {u"binding3", Variant(u"10.0.0.1")},  // the prefix is compared as written
          {u"NoBinding", Variant(u"10.0.0.2")}}},
        {kSsl,
         {{u"Active", Variant(true)},
          {u"CertFile", Variant(u"/etc/qz/c\u00e9rt.pem")},
          {u"CipherList", Variant(u"HIGH:!aNULL")},
          {u"KeyFile", Variant(u"/etc/qz/key.pem")},
          {u"RootCertFile", Variant(u"/etc/qz/root.pem")},
          {u"VerifyDepth", Variant(3)},
          {u"VerifyDirs", Variant(u"/etc/ssl/certs")},
          {u"Password", Variant(platform::AnsiToWide(TqzCipher::EncodeLogon("s3cret")))},
          {u"Method", Variant(u"tlsv1_3")},
          {u"SSLVersions", Variant(u"[TLSv1_2,TLSv1_3]")},
          {u"Mode", Variant(u"Both")},
          {u"VerifyMode", Variant(u"sslvrfPeer,sslvrfClientOnce")}}},
        {kSysLog,
         {{u"Active", Variant(true)},
          {u"Server", Variant(u"logs.example")},
          {u"Port", Variant(5514)},
          {u"ReceiveTimeOut", Variant(500)},
          {u"Facility", Variant(23)},
          {u"LogLevel", Variant(5)}}},
        {kSnmp, {{u"Active", Variant(true)}, {u"Server", Variant(u"traps.example")}, {u"Port", Variant(10162)}}}},
       {},
       {"server 60000 7000 50 8", "bindings 127.0.0.1/v4 ::1/v6 0.0.0.0/v4",
        "ssl on cert=/etc/qz/c\xC3\xA9rt.pem ciphers=HIGH:!aNULL key=/etc/qz/key.pem root=/etc/qz/root.pem depth=3 "
        "dirs=/etc/ssl/certs password=s3cret method=6 versions=96 mode=3 verify=5",
        "syslog on logs.example:5514 timeout 500 facility 23 level 5", "snmp on traps.example:10162"}},
      {"some values, names in another case",
       {{kHttp, {{u"maxconnections", Variant(10)}}},
        {kSsl, {{u"MODE", Variant(u"client")}}},
        {kSysLog, {{u"port", Variant(6514)}}}},
       [](TqzClassFactory& f) {
         f.HttpServerOptions.SessionTimeOut = 7;
         f.HttpServerOptions.Bindings = {{"1.2.3.4", Id_IPv4}};  // replaced by the store's (none)
         f.HttpServerOptions.SSL.Active = true;
         f.HttpServerOptions.SSL.VerifyDepth = 9;
         f.SysLogClientOptions.Server = u"pre";
         f.SysLogClientOptions.Active = true;
         f.SNMPClientOptions = {true, u"snmp.pre", 2162};
       },
       {"server 7 5000 1024 10", "bindings",
        "ssl on cert= ciphers= key= root= depth=1 dirs= password= method=5 versions=32 mode=1 verify=1",
        "syslog on pre:6514 timeout 2000 facility 16 level 2", "snmp on snmp.pre:2162"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    this->backend_.Cli("DELETE FROM qz_configuration;");
    this->StoreAll(c.store);
    auto f = this->Factory();
    if (c.before) c.before(*f);
    f->LoadN7Configuration();
    EXPECT_EQ(Show(*f), c.expected);
  }
}

// A value that does not convert raises, naming node and value; what was read before keeps its new
// value. Store errors raise as well.
TYPED_TEST_P(ClassFactoryStoreTest, BadValuesRaise) {
  struct Case {
    std::vector<std::pair<const char16_t*, Values>> store;
    std::string message;
    std::string serverLine;  // read before the failure
  } cases[] = {
      {{{kHttp, {{u"MaxConnections", Variant(10)}}}, {kSsl, {{u"Method", Variant(u"TLSv9")}}}},
       "Exception: configuration value /kesta/Software/Basics/HTTP/SSL/Method: unknown TLS version 'TLSv9'", "server 0 5000 1024 10"},
      {{{kSsl, {{u"SSLVersions", Variant(u"[TLSv1_2, TLSv1_3]")}}}},
       "Exception: configuration value /kesta/Software/Basics/HTTP/SSL/SSLVersions: unknown TLS version ' TLSv1_3'",
       "server 0 5000 1024 0"},
      {{{kHttp, {{u"MaxConnections", Variant(3)}}}, {kSysLog, {{u"Facility", Variant(24)}}}},
       "Exception: configuration value /kesta/Software/Basics/SysLog/Facility: syslog facility 24 is not 0 to 23",
       "server 0 5000 1024 3"},
      {{{kHttp, {{u"SessionTimeOut", Variant(-1)}}}},
       "Exception: configuration value /kesta/Software/Basics/HTTP/SessionTimeOut: '-1' is not a number from 0 to 4294967295",
       "server 0 5000 1024 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    this->backend_.Cli("DELETE FROM qz_configuration;");
    this->StoreAll(c.store);
    auto f = this->Factory();
    EXPECT_EQ(qztest::ExceptionText([&] { f->LoadN7Configuration(); }), c.message);
    EXPECT_EQ(Show(*f)[0], c.serverLine);
  }
  // A store whose table is gone raises the store's error.
  this->backend_.Cli("DROP TABLE qz_configuration;");
  auto f = this->Factory();
  EXPECT_THROW(f->LoadN7Configuration(), Exception);
}

// Without a reachable store nothing is read and nothing is reported.
TYPED_TEST_P(ClassFactoryStoreTest, NoStoreChangesNothing) {
  this->Store(kSysLog, {{u"Port", Variant(6514)}});
  ::unlink((this->dir_.Path() + "/inst/cfg/qzsyscfg.udl").c_str());
  auto f = this->Factory();
  f->SysLogClientOptions.Port = 1514;
  const auto before = Show(*f);
  EXPECT_NO_THROW(f->LoadN7Configuration());
  EXPECT_EQ(Show(*f), before);
}

// The service console tools: start parameters, names from the factory and the instance, the
// store's syslog and SNMP options, and a log file under the installation's log folder.
TYPED_TEST_P(ClassFactoryStoreTest, ServiceConsoleTools) {
  const UnicodeString exe = platform::Utf8ToWide(this->dir_.Path() + "/bin/svc.exe");
  const UnicodeString logFolder = platform::Utf8ToWide(this->dir_.Path() + "/inst/log/");
  this->StoreAll({{kSysLog, {{u"Active", Variant(true)}, {u"Server", Variant(u"127.0.0.1")}, {u"Port", Variant(5514)},
                             {u"ReceiveTimeOut", Variant(900)}, {u"Facility", Variant(17)}, {u"LogLevel", Variant(4)}}}});
  auto f = this->Factory();
  f->ServerName = "Scan Service";
  f->TechAppName = "svc";
  {
    // The instance from the start parameters; SNMP from the factory's defaults (no SNMP node).
    TqzConsoleTools::SetCommandLine({exe, u"--svcmode=true", u"--INSTANCEID=3", u"--instancetoken=0123ABCD"});
    auto tools = f->CreateEnterpriseServiceConsoleTools();
    EXPECT_TRUE(tools->AsService.load());
    EXPECT_EQ(tools->InstanceId, 3);
    EXPECT_EQ(tools->InstanceToken, "0123ABCD");
    EXPECT_EQ(tools->MutexName, u"svc-3");
    EXPECT_EQ(tools->LogFile.Get(), logFolder + u"svc-3");
    EXPECT_TRUE(tools->LogToFile.load());
    EXPECT_EQ(tools->ServerName.Get(), u"Scan Service");
    EXPECT_EQ(tools->ServerTechName.Get(), u"svc");
    EXPECT_TRUE(tools->SysLogActive.load());
    EXPECT_EQ(tools->SysLogServer.Get(), u"127.0.0.1");
    EXPECT_EQ(tools->SysLogPort.load(), 5514);
    EXPECT_EQ(tools->SysLogTimeOut.load(), 900u);
    EXPECT_EQ(tools->SysLogFacility.load(), sfLocalUseOne);
    EXPECT_EQ(tools->SysLogLevel.load(), 4);
    EXPECT_FALSE(tools->SNMPActive.load());
    EXPECT_EQ(tools->SNMPServer.Get(), u"localhost");
    EXPECT_EQ(tools->SNMPPort.load(), 162);
    tools->SysLogActive = false;
    tools->Log(qzLog_Info, u"started");
    ASSERT_TRUE(tools->WaitForWriter(10000));
    const std::string today = U8(platform::FormatDateTime(u"yyyymmdd", platform::Now()));
    EXPECT_NE(qztest::ReadFile(this->dir_.Path() + "/inst/log/svc-3-" + today + ".txt").find(": started\r\n"),
              std::string::npos);
    EXPECT_EQ(tools->ActiveLogFile.Get(), logFolder + u"svc-3-" + platform::Utf8ToWide(today) + u".txt");
  }
  {
    // Without start parameters: a console program, instance 0, a new 32-digit token.
    TqzConsoleTools::SetCommandLine({exe});
    auto tools = f->CreateEnterpriseServiceConsoleTools();
    EXPECT_FALSE(tools->AsService.load());
    EXPECT_EQ(tools->InstanceId, 0);
    EXPECT_EQ(tools->InstanceToken.size(), 32u);
    EXPECT_EQ(tools->InstanceToken.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(tools->MutexName, u"svc-0");
    // The update reads the store again: a changed SNMP node reaches existing tools.
    this->Store(kSnmp, {{u"Active", Variant(true)}, {u"Server", Variant(u"traps.example")}, {u"Port", Variant(10162)}});
    EXPECT_TRUE(f->UpdateEnterpriseServiceConsoleTools(tools.get()));
    EXPECT_TRUE(tools->SNMPActive.load());
    EXPECT_EQ(tools->SNMPServer.Get(), u"traps.example");
    EXPECT_EQ(tools->SNMPPort.load(), 10162);
  }
  // No object: false, and nothing is loaded.
  this->Store(kSysLog, {{u"Port", Variant(7514)}});
  EXPECT_FALSE(f->UpdateEnterpriseServiceConsoleTools(nullptr));
  EXPECT_EQ(f->SysLogClientOptions.Port, 5514);
  // Store errors pass through.
  this->Store(kSsl, {{u"Mode", Variant(u"Both")}, {u"Method", Variant(u"TLS")}});
  EXPECT_THROW(f->CreateEnterpriseServiceConsoleTools(), Exception);
}

REGISTER_TYPED_TEST_SUITE_P(ClassFactoryStoreTest, StoreContentsToOptions, BadValuesRaise, NoStoreChangesNothing,
                            ServiceConsoleTools);

}  // namespace factory_suite
