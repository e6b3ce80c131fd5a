// TqzClassFactory: defaults, the registry overrides of the HTTP client options (hand-written hive
// files), the option texts of the TLS component, and (ClassFactoryStoreSuite.h) the store reads
// and the service console tools on SQLite.
#include "qzClassFactory.h"

#include <gtest/gtest.h>

#include <string>

#include "ClassFactoryStoreSuite.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "qzCipher.h"
#include "qzNet.h"

namespace {

using qztest::ScopedEnv;
using qztest::TempDir;

// A registry folder whose machine hive holds the given lines under the HTTP key (none: no key).
class Registry {
 public:
  explicit Registry(const std::string& httpValues, bool withKey = true) : env_("KESTA_REGISTRY_DIR", dir_.Path()) {
    std::string hive = "Windows Registry Editor Version 5.00\r\n\r\n";
    if (withKey) hive += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\kesta\\System\\HTTP]\r\n" + httpValues + "\r\n";
    qztest::WriteFile(dir_.Path() + "/HKLM.reg", hive);
  }

 private:
  TempDir dir_{"qzfactory"};
  ScopedEnv env_;
};

TEST(ClassFactory, DefaultsWithoutTheHttpKey) {
  Registry reg("", false);
  TqzClassFactory f;
  EXPECT_EQ(f.Message, u"");
  EXPECT_EQ(f.Version, "2.0.0");
  EXPECT_FALSE(f.Silent);
  const auto& s = f.HttpServerOptions;
  EXPECT_EQ(s.SessionTimeOut, 0u);
  EXPECT_EQ(s.TerminateWaitTime, 5000u);
  EXPECT_EQ(s.MaximumHeaderLineCount, 1024);
  EXPECT_EQ(s.MaxConnections, 0);
  EXPECT_TRUE(s.Bindings.empty());
  EXPECT_FALSE(s.SSL.Active);
  const auto& c = f.HttpClientOptions;
  EXPECT_EQ(c.MaxAuthRetries, 1);
  EXPECT_EQ(c.RedirectMaximum, 2);
  EXPECT_FALSE(c.HandleRedirects);
  EXPECT_FALSE(c.AllowCookies);
  EXPECT_EQ(c.ReadTimeout, 300000);
  EXPECT_EQ(c.ConnectTimeout, 5000);
  EXPECT_EQ(c.BoundIP, u"");
  EXPECT_EQ(c.BoundPort + c.BoundPortMin + c.BoundPortMax, 0);
  EXPECT_FALSE(c.SSL.Active);
  EXPECT_EQ(c.SSL.Method, sslvTLSv1_2);
  EXPECT_EQ(c.SSL.SSLVersions, TIdSSLVersions{sslvTLSv1_2});
  EXPECT_EQ(c.SSL.Mode, sslmBoth);
  EXPECT_EQ(c.SSL.VerifyDepth, 1);
  EXPECT_EQ(c.SSL.VerifyMode, TIdSSLVerifyModeSet{sslvrfPeer});
  EXPECT_EQ(f.SysLogClientOptions.Active, false);
  EXPECT_EQ(f.SysLogClientOptions.Server, u"localhost");
  EXPECT_EQ(f.SysLogClientOptions.Port, 514);
  EXPECT_EQ(f.SysLogClientOptions.ReceiveTimeOut, 2000u);
  EXPECT_EQ(f.SysLogClientOptions.Facility, sfLocalUseZero);
  EXPECT_EQ(f.SysLogClientOptions.LogLevel, 2);
  EXPECT_EQ(f.SNMPClientOptions.Active, false);
  EXPECT_EQ(f.SNMPClientOptions.Server, u"localhost");
  EXPECT_EQ(f.SNMPClientOptions.Port, 162);
}

TEST(ClassFactory, RegistryOverridesTheClientOptions) {
  const std::string password = TqzCipher::EncodeLogon("s3cret");
  Registry reg("\"MaxAuthRetries\"=dword:00000003\r\n"
               "\"RedirectMaximum\"=dword:00000007\r\n"
               "\"AllowCookies\"=dword:00000001\r\n"
               "\"ReadTimeout\"=dword:000003e8\r\n"
               "\"ConnectTimeout\"=dword:000001f4\r\n"
               "\"BoundIP\"=\"10.1.2.3\"\r\n"
               "\"BoundPort\"=dword:00001f90\r\n"
               "\"BoundPortMin\"=dword:00000010\r\n"
               "\"BoundPortMax\"=dword:00000020\r\n"
               "\"UseSSL\"=dword:00000001\r\n"
               "\"CertFile\"=\"/etc/c.pem\"\r\n"
               "\"CipherList\"=\"HIGH:!aNULL\"\r\n"
               "\"KeyFile\"=\"/etc/k.pem\"\r\n"
               "\"RootCertFile\"=\"/etc/r.pem\"\r\n"
               "\"VerifyDepth\"=dword:00000004\r\n"
               "\"VerifyDirs\"=\"/etc/ssl/certs\"\r\n"
               "\"Password\"=\"" + password + "\"\r\n"
               "\"Method\"=\"tlsv1_3\"\r\n"
               "\"SSLVersions\"=\"[TLSv1_2,TLSv1_3]\"\r\n"
               "\"Mode\"=\"Client\"\r\n"
               "\"VerifyMode\"=\"sslvrfPeer,sslvrfFailIfNoPeerCert\"\r\n"
               "\"HandleRedirects\"=dword:00000001\r\n");
  TqzClassFactory f;
  EXPECT_EQ(f.Message, u"");
  const auto& c = f.HttpClientOptions;
  EXPECT_EQ(c.MaxAuthRetries, 3);
  EXPECT_EQ(c.RedirectMaximum, 7);
  EXPECT_TRUE(c.AllowCookies);
  EXPECT_FALSE(c.HandleRedirects);  // no registry value for it
  EXPECT_EQ(c.ReadTimeout, 1000);
  EXPECT_EQ(c.ConnectTimeout, 500);
  EXPECT_EQ(c.BoundIP, u"10.1.2.3");
  EXPECT_EQ(c.BoundPort, 8080);
  EXPECT_EQ(c.BoundPortMin, 16);
  EXPECT_EQ(c.BoundPortMax, 32);
  EXPECT_TRUE(c.SSL.Active);
  EXPECT_EQ(c.SSL.CertFile, u"/etc/c.pem");
  EXPECT_EQ(c.SSL.CipherList, u"HIGH:!aNULL");
  EXPECT_EQ(c.SSL.KeyFile, u"/etc/k.pem");
  EXPECT_EQ(c.SSL.RootCertFile, u"/etc/r.pem");
  EXPECT_EQ(c.SSL.VerifyDepth, 4);
  EXPECT_EQ(c.SSL.VerifyDirs, u"/etc/ssl/certs");
  EXPECT_EQ(c.SSL.Password, u"s3cret");
  EXPECT_EQ(c.SSL.Method, sslvTLSv1_3);
  EXPECT_EQ(c.SSL.SSLVersions, (TIdSSLVersions{sslvTLSv1_2, sslvTLSv1_3}));
  EXPECT_EQ(c.SSL.Mode, sslmClient);
  EXPECT_EQ(c.SSL.VerifyMode, (TIdSSLVerifyModeSet{sslvrfPeer, sslvrfFailIfNoPeerCert}));
  // The server, syslog and SNMP options come from the store only.
  EXPECT_FALSE(f.HttpServerOptions.SSL.Active);
}

// Refused texts and values keep the default and are named in Message; a password that cannot be
// decoded is left empty without a message.
TEST(ClassFactory, BadRegistryValuesKeepTheirDefaults) {
  struct Case {
    std::string lines;
    std::u16string inMessage;  // empty: Message stays empty
  } cases[] = {
      {"\"Method\"=\"TLSv1_2 \"\r\n", u"unknown TLS version 'TLSv1_2 '"},
      {"\"SSLVersions\"=\"[TLSv1_1, TLSv1_2]\"\r\n", u"unknown TLS version ' TLSv1_2'"},
      {"\"ReadTimeout\"=\"soon\"\r\n", u"HTTP\\ReadTimeout"},
      {"\"Password\"=\"$$$plain\"\r\n", u""},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.lines);
    Registry reg(tc.lines);
    TqzClassFactory f;
    if (tc.inMessage.empty()) {
      EXPECT_EQ(f.Message, u"");
    } else {
      EXPECT_NE(f.Message.find(tc.inMessage), std::u16string::npos) << platform::WideToUtf8(f.Message);
    }
    EXPECT_EQ(f.HttpClientOptions.SSL.Method, sslvTLSv1_2);
    EXPECT_EQ(f.HttpClientOptions.SSL.SSLVersions, TIdSSLVersions{sslvTLSv1_2});
    EXPECT_EQ(f.HttpClientOptions.ReadTimeout, 300000);
  }
  Registry undecodable("\"Password\"=\"$$$plain\"\r\n");
  EXPECT_EQ(TqzClassFactory().HttpClientOptions.SSL.Password, u"");
}

TEST(ClassFactory, TlsOptionTexts) {
  struct MethodCase {
    const char16_t* text;
    int expected;  // -1: refused
  } methods[] = {
      {u"SSLv2", sslvSSLv2},   {u"sslv23", sslvSSLv23}, {u"SSLV3", sslvSSLv3},     {u"TLSv1", sslvTLSv1},
      {u"TLSv1_1", sslvTLSv1_1}, {u"tlsv1_2", sslvTLSv1_2}, {u"TLSv1_3", sslvTLSv1_3}, {u"", -1},
      {u"TLSv1.2", -1},        {u" TLSv1_2", -1},         {u"TLSv1_2 ", -1},         {u"TLS", -1},
  };
  for (const auto& m : methods) {
    SCOPED_TRACE(platform::WideToUtf8(m.text));
    if (m.expected < 0) {
      try {
        TqzIndy::GetSSLMethod(m.text);
        ADD_FAILURE() << "accepted";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message, u"unknown TLS version '" + std::u16string(m.text) + u"'");
      }
    } else {
      EXPECT_EQ(TqzIndy::GetSSLMethod(m.text), m.expected);
    }
  }

  struct VersionsCase {
    const char16_t* text;
    TIdSSLVersions expected;
    bool refused;
  } versions[] = {
      {u"[TLSv1_1,TLSv1_2]", {sslvTLSv1_1, sslvTLSv1_2}, false},
      {u"TLSv1_2", {sslvTLSv1_2}, false},
      {u"[tlsv1_3]", {sslvTLSv1_3}, false},
      {u"", {sslvTLSv1_2, sslvTLSv1_3}, false},
      {u"[]", {sslvTLSv1_2, sslvTLSv1_3}, false},
      {u"[TLSv1_1, TLSv1_2]", {}, true},
      {u"[TLSv1_2,]", {}, true},
  };
  for (const auto& v : versions) {
    SCOPED_TRACE(platform::WideToUtf8(v.text));
    if (v.refused) {
      EXPECT_THROW(TqzIndy::GetSSLVersions(v.text), Exception);
    } else {
      EXPECT_EQ(TqzIndy::GetSSLVersions(v.text), v.expected);
    }
  }

  struct ModeCase {
    const char16_t* text;
    TIdSSLMode expected;
  } modes[] = {{u"Unassigned", sslmUnassigned}, {u"server", sslmServer}, {u"CLIENT", sslmClient},
               {u"Both", sslmBoth},             {u"either", sslmServer}, {u" Both", sslmServer}};
  for (const auto& m : modes) EXPECT_EQ(TqzIndy::GetSSLMode(m.text), m.expected);

  struct VerifyCase {
    const char16_t* text;
    TIdSSLVerifyModeSet expected;
  } verify[] = {
      {u"", {sslvrfPeer}},
      {u"sslvrfPeer,sslvrfFailIfNoPeerCert", {sslvrfPeer, sslvrfFailIfNoPeerCert}},
      {u"[sslvrfClientOnce]", {sslvrfClientOnce}},
      {u"none", {}},
  };
  for (const auto& v : verify) EXPECT_EQ(TqzIndy::GetSSLVerifyMode(v.text), v.expected);

  EXPECT_EQ(TqzIndy::GetIPVersion("::1"), Id_IPv6);
  EXPECT_EQ(TqzIndy::GetIPVersion("fe80::1%eth0"), Id_IPv6);
  EXPECT_EQ(TqzIndy::GetIPVersion("127.0.0.1"), Id_IPv4);
  EXPECT_EQ(TqzIndy::GetIPVersion(""), Id_IPv4);
}

}  // namespace

// The store reads and the service console tools on SQLite (see ClassFactoryStoreSuite.h).
namespace factory_suite {
INSTANTIATE_TYPED_TEST_SUITE_P(SQLite, ClassFactoryStoreTest, SqliteBackend);
}  // namespace factory_suite
