// Both HTTP clients over TLS against openssl s_server with a self-signed certificate made for the
// test: refused without the certificate as trusted CA, accepted with it, accepted without it only
// when verification is turned off explicitly; a server that speaks nothing newer than TLS 1.1 is
// refused.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "qzClassFactory.h"
#include "qzNet.h"

namespace {

using platform::ToU16;

using qztest::ExceptionText;
class TlsPeer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new qztest::TempDir("qznettls");
    const auto r = qztest::RunProcess(
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", dir_->Path() + "/key.pem", "-out", dir_->Path() + "/cert.pem", "-days",
         "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  static void TearDownTestSuite() { delete dir_; }

  // Starts s_server with the extra arguments on a free port; returns its https URL.
  std::string Start(const std::vector<std::string>& extra) {
    for (int port = 42000 + (getpid() % 500) * 4; port < 65000; ++port) {
      if (!TqzNet::PortIsFree(port)) continue;
      std::vector<std::string> argv = {"/usr/bin/openssl", "s_server", "-accept",
                                       "127.0.0.1:" + std::to_string(port), "-cert",
                                       dir_->Path() + "/cert.pem", "-key", dir_->Path() + "/key.pem", "-www"};
      argv.insert(argv.end(), extra.begin(), extra.end());
      server_ = std::make_unique<qztest::ChildProcess>(argv, dir_->Path() + "/server");
      try {
        server_->WaitForOutput("ACCEPT");
      } catch (const std::exception&) {
        server_.reset();
        continue;
      }
      return "https://127.0.0.1:" + std::to_string(port) + "/";
    }
    throw std::runtime_error("no port for s_server");
  }

  void TearDown() override { GlobalClassFactory->HttpClientOptions = saved_; }

  static std::string Cert() { return dir_->Path() + "/cert.pem"; }
  TqzHttpClientOptions& Options() { return GlobalClassFactory->HttpClientOptions; }

  static qztest::TempDir* dir_;
  std::unique_ptr<qztest::ChildProcess> server_;
  TqzHttpClientOptions saved_ = GlobalClassFactory->HttpClientOptions;
};
qztest::TempDir* TlsPeer::dir_ = nullptr;

TEST_F(TlsPeer, TheServerCertificateMustBeTrusted) {
  const UnicodeString url = ToU16(Start({}));
  int32_t status = -1;
  // The system's CA store does not know the test's certificate.
  EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(url, status); }).starts_with("EHttpClientError: "));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPGet(url, status); }),
            "Exception: internet open url exception code 12045");

  Options().SSL.RootCertFile = ToU16(Cert());
  EXPECT_NE(TqzIndy::HTTPGet(url, status).find("s_server"), AnsiString::npos);
  EXPECT_EQ(status, 200);
  EXPECT_NE(TqzNet::HTTPGet(url, status).find("s_server"), AnsiString::npos);
  EXPECT_EQ(status, 200);

  // Turning verification off takes a verify mode without sslvrfPeer.
  Options().SSL.RootCertFile.clear();
  Options().SSL.VerifyMode = TIdSSLVerifyModeSet{sslvrfClientOnce};
  EXPECT_NE(TqzIndy::HTTPGet(url, status).find("s_server"), AnsiString::npos);
  Options().SSL.VerifyMode = TIdSSLVerifyModeSet{};  // empty: the peer is verified
  EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(url, status); }).starts_with("EHttpClientError: "));
}

TEST_F(TlsPeer, VersionsFollowTheOptions) {
  Options().SSL.RootCertFile = ToU16(Cert());
  {
    // A server that offers TLS 1.1 at most is refused by the default versions (TLS 1.2 and up).
    const UnicodeString url = ToU16(Start({"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"}));
    int32_t status = -1;
    EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(url, status); }).starts_with("EHttpClientError: "));
    EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPGet(url, status); }),
              "Exception: internet open url exception code 12157");
  }
  {
    // TLS 1.3 is allowed where the options name TLS 1.2; a set of TLS 1.3 alone refuses 1.2.
    const UnicodeString url = ToU16(Start({"-tls1_3"}));
    int32_t status = -1;
    Options().SSL.SSLVersions = TIdSSLVersions{sslvTLSv1_2};
    EXPECT_NO_THROW(TqzIndy::HTTPGet(url, status));
    EXPECT_EQ(status, 200);
  }
  {
    const UnicodeString url = ToU16(Start({"-tls1_2"}));
    int32_t status = -1;
    Options().SSL.SSLVersions = TIdSSLVersions{sslvTLSv1_3};
    EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(url, status); }).starts_with("EHttpClientError: "));
    Options().SSL.SSLVersions = TIdSSLVersions{sslvSSLv3};
    EXPECT_EQ(ExceptionText([&] { TqzIndy::HTTPGet(url, status); }),
              "Exception: SSL 2 and SSL 3 are not supported; use TLS versions");
  }
}

}  // namespace
