// The HTTP server the class factory makes from its server options, reached with curl over IPv4,
// IPv6 and TLS.
#include <gtest/gtest.h>

#include <string>

#include "CodePage.h"
#include "HttpServer.h"
#include "TestSupport.h"
#include "qzClassFactory.h"
#include "qzNetServer.h"

namespace {

void Hello(platform::HttpContext& context, platform::HttpRequestInfo&, platform::HttpResponseInfo& response) {
  TqzIndyServer::SetHTTPResponse(response, 200, context.Tls ? "secure" : "hello", u"text/plain", u"", false, 0);
}

TEST(CreateHttpServer, ListensOnEachBindingWithTheOptions) {
  TqzClassFactory factory;
  factory.ServerName = "KestaTest/1.0";
  factory.HttpServerOptions.Bindings = {{"127.0.0.1", Id_IPv4}, {"::1", Id_IPv6}};
  factory.HttpServerOptions.MaximumHeaderLineCount = 4;
  auto server = factory.CreateHttpServer(0, false);
  ASSERT_TRUE(server);
  EXPECT_FALSE(server->Active());
  server->SetHandler(Hello);
  server->Start();
  const std::string urls[] = {"http://127.0.0.1:" + std::to_string(server->Port(0)) + "/",
                              "http://[::1]:" + std::to_string(server->Port(1)) + "/"};
  for (const auto& url : urls) {
    const auto r = qztest::RunProcess({"curl", "-s", "-g", "-i", url});
    EXPECT_EQ(r.Out.substr(0, 15), "HTTP/1.1 200 OK") << url << r.Err;
    EXPECT_NE(r.Out.find("Server: KestaTest/1.0\r\n"), std::string::npos);
    EXPECT_EQ(r.Out.substr(r.Out.size() - 5), "hello");
  }
  // The header-line limit of the options holds.
  const auto r = qztest::RunProcess({"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-H", "A: 1", "-H",
                                     "B: 2", "-H", "C: 3", "-H", "D: 4", urls[0]});
  EXPECT_EQ(r.Out, "431");
}

TEST(CreateHttpServer, TlsFromTheOptions) {
  qztest::TempDir dir("factorytls");
  const std::string cert = dir.Path() + "/cert.pem", key = dir.Path() + "/key.pem";
  ASSERT_EQ(qztest::RunProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-days", "2", "-subj",
                                "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key,
                                "-out", cert, "-passout", "pass:pw"}).ExitCode, 0);
  TqzClassFactory factory;
  factory.HttpServerOptions.Bindings = {{"127.0.0.1", Id_IPv4}};
  auto& ssl = factory.HttpServerOptions.SSL;
  ssl.Active = true;
  ssl.CertFile = platform::Utf8ToWide(cert);
  ssl.KeyFile = platform::Utf8ToWide(key);
  ssl.Password = u"pw";
  ssl.SSLVersions = TIdSSLVersions{sslvTLSv1_2};
  ssl.VerifyMode = TIdSSLVerifyModeSet{};
  auto server = factory.CreateHttpServer(0, true);
  server->SetHandler(Hello);
  const std::string port = std::to_string(server->Port());
  auto r = qztest::RunProcess({"curl", "-s", "--cacert", cert, "https://127.0.0.1:" + port + "/"});
  EXPECT_EQ(r.Out, "secure") << r.Err;
  r = qztest::RunProcess({"curl", "-s", "--cacert", cert, "--tls-max", "1.1", "https://127.0.0.1:" + port + "/"});
  EXPECT_NE(r.ExitCode, 0);
  // A key password that does not fit fails when the server starts.
  ssl.Password = u"wrong";
  EXPECT_THROW(factory.CreateHttpServer(0, true), Exception);
}

}  // namespace
