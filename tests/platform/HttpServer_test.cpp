// The server layer against real clients on loopback: curl, Python sockets and openssl s_client.
#include "HttpServer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using platform::HttpContext;
using platform::HttpRequestInfo;
using platform::HttpResponseInfo;
using platform::HttpServer;
using platform::HttpServerConfig;

HttpServerConfig Loopback() {
  HttpServerConfig config;
  config.Bindings = {{"127.0.0.1", false}};
  config.ReadTimeoutMs = 5000;
  return config;
}

std::string Url(const HttpServer& server, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(const_cast<HttpServer&>(server).Port()) + path;
}

// The status line of curl -i output (the last one when curl saw a 100 Continue first).
std::string StatusLine(const std::string& out) {
  size_t at = 0, last = std::string::npos;
  while ((at = out.find("HTTP/1.1 ", at)) != std::string::npos) {
    if (at == 0 || out[at - 1] == '\n') last = at;
    ++at;
  }
  if (last == std::string::npos) return {};
  return out.substr(last, out.find("\r\n", last) - last);
}

// Echoes what the server layer made of the request.
void Echo(HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
  std::string text = "verb=" + request.Verb + "\npath=" + request.Path + "\ndocument=" +
                     request.Document + "\nquery=" + request.Query + "\nparams=" +
                     request.UnparsedParams + "\nhost=" + request.Host + "\ntype=" +
                     request.ContentType + "\nremote=" + request.RemoteAddress + "\nbody=" +
                     request.Body + "\n";
  for (const auto& line : request.RawHeaders) text += "header=" + line + "\n";
  response.ContentType = "text/plain";
  response.Body = text;
}

TEST(HttpServerLayer, RequestInfoAsCurlSendsIt) {
  HttpServer server(Loopback());
  server.SetHandler(Echo);
  server.Start();
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> expected;
  } cases[] = {
      {{"-H", "X-First: 1", "-H", "x-second:  two ", Url(server, "/a/b%20c/?x=1&y=%41")},
       {"verb=GET\n", "path=/a/b%20c/\n", "document=/a/b c/\n", "query=x=1&y=%41\n",
        "params=x=1&y=%41\n", "remote=127.0.0.1\n", "header=X-First: 1\nheader=x-second: two\n"}},
      {{"--data", "p=1&q=2", Url(server, "/form?x=1")},
       {"verb=POST\n", "params=x=1&p=1&q=2\n", "type=application/x-www-form-urlencoded\n",
        "body=p=1&q=2\n"}},
      {{"-X", "PUT", "-H", "Content-Type: text/plain", "--data-binary", "raw", Url(server, "/p")},
       {"verb=PUT\n", "params=\n", "body=raw\n"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {"curl", "-s", "-i"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = qztest::RunProcess(argv);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 200 OK");
    for (const auto& e : c.expected) EXPECT_NE(r.Out.find(e), std::string::npos) << e << "\n" << r.Out;
    EXPECT_NE(r.Out.find("host=127.0.0.1:" + std::to_string(server.Port())), std::string::npos);
  }
}

TEST(HttpServerLayer, AnswersFieldsInOrderAndRefusesLineBreaks) {
  HttpServer server(Loopback());
  server.SetHandler([](HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
    response.Code = 299;
    response.ReasonText = "Fine Enough ";
    response.ContentType = "text/plain";
    response.CharSet = "utf-8";
    response.AddCustomHeader("X-B", "2");
    response.AddCustomHeader("X-A", "1");
    response.Body = "body";
    if (request.Path == "/inject-value") response.AddCustomHeader("X-Evil", "a\r\nSet-Cookie: x=1");
    if (request.Path == "/inject-type") response.ContentType = "text/plain\r\nSet-Cookie: x=1";
    if (request.Path == "/inject-reason") response.ReasonText = "OK\r\nSet-Cookie: x=1";
    if (request.Path == "/throw") throw std::runtime_error("boom");
  });
  server.Start();
  auto r = qztest::RunProcess({"curl", "-s", "-i", Url(server, "/")});
  EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 299 Fine Enough ");
  EXPECT_NE(r.Out.find("Content-Type: text/plain; charset=utf-8\r\n"), std::string::npos);
  EXPECT_NE(r.Out.find("X-B: 2\r\nX-A: 1\r\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Content-Length: 4\r\n"), std::string::npos);
  for (const char* path : {"/inject-value", "/inject-type", "/inject-reason", "/throw"}) {
    r = qztest::RunProcess({"curl", "-s", "-i", Url(server, path)});
    EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 500 Internal Server Error") << path;
    EXPECT_EQ(r.Out.find("Set-Cookie"), std::string::npos) << path;
    EXPECT_EQ(r.Out.find("X-A"), std::string::npos) << path;
  }
  // The server goes on serving after a failed handler.
  r = qztest::RunProcess({"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", Url(server, "/")});
  EXPECT_EQ(r.Out, "299");
}

TEST(HttpServerLayer, OversizedBodiesAreRefusedWithoutReachingTheHandler) {
  auto config = Loopback();
  config.MaxRequestBodySize = 1024 * 1024;
  HttpServer server(config);
  std::atomic<int> calls{0};
  server.SetHandler([&](HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
    ++calls;
    response.Body = std::to_string(request.Body.size());
  });
  server.Start();
  qztest::TempDir dir("httpbody");
  const std::string big = dir.Path() + "/big", fits = dir.Path() + "/fits";
  qztest::WriteFile(big, std::string(3 * 1024 * 1024, 'b'));
  qztest::WriteFile(fits, std::string(1024 * 1024, 'f'));
  struct Case {
    std::vector<std::string> extra;
    std::string file;
    std::string code;
  } cases[] = {
      {{}, big, "413"},                                           // Expect: 100-continue
      {{"-H", "Expect:"}, big, "413"},                            // body already on its way
      {{"-H", "Transfer-Encoding: chunked"}, big, "413"},         // no length declared
      {{}, fits, "200"},
      {{"-H", "Transfer-Encoding: chunked"}, fits, "200"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                                     "--data-binary", "@" + c.file};
    argv.insert(argv.end(), c.extra.begin(), c.extra.end());
    argv.push_back(Url(server, "/upload"));
    const int before = calls;
    const auto r = qztest::RunProcess(argv);
    EXPECT_EQ(r.Out, c.code) << c.file << " " << (c.extra.empty() ? "" : c.extra.back());
    EXPECT_EQ(calls - before, c.code == "200" ? 1 : 0);
  }
}

TEST(HttpServerLayer, SlowClientsHeaderFloodsAndTooManyConnectionsAreCutOff) {
  auto config = Loopback();
  config.ReadTimeoutMs = 400;
  config.MaxConnections = 2;
  config.MaximumHeaderLineCount = 8;
  HttpServer server(config);
  server.SetHandler([](HttpContext&, HttpRequestInfo&, HttpResponseInfo& response) { response.Body = "ok"; });
  server.Start();
  const std::string port = std::to_string(server.Port());
  // A client that sends half a header and waits is disconnected after the read time-out.
  const std::string slow = qztest::RunPython(R"(
import socket, sys, time
s = socket.create_connection(('127.0.0.1', int(sys.argv[1])))
s.sendall(b'GET / HTTP/1.1\r\nHost: x\r\n')
t = time.time(); s.settimeout(10)
data = s.recv(100)
print(repr(data), round(time.time() - t, 1) < 5)
)", {port});
  EXPECT_EQ(slow, "b'' True\n");
  // Two idle connections fill the server; the third is answered 503 and closed.
  const std::string busy = qztest::RunPython(R"(
import socket, sys, time
port = int(sys.argv[1])
held = [socket.create_connection(('127.0.0.1', port)) for _ in range(2)]
time.sleep(0.2)
s = socket.create_connection(('127.0.0.1', port)); s.settimeout(5)
print(s.recv(200).split(b'\r\n')[0].decode())
for h in held: h.close()
time.sleep(0.3)
s = socket.create_connection(('127.0.0.1', port)); s.settimeout(5)
s.sendall(b'GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n')
print(s.recv(200).split(b'\r\n')[0].decode())
)", {port});
  EXPECT_EQ(busy, "HTTP/1.1 503 Service Unavailable\nHTTP/1.1 200 OK\n");
  std::vector<std::string> argv = {"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}"};
  for (int i = 0; i < 10; ++i) argv.insert(argv.end(), {"-H", "X-" + std::to_string(i) + ": v"});
  argv.push_back(Url(server, "/"));
  EXPECT_EQ(qztest::RunProcess(argv).Out, "431");
  EXPECT_EQ(qztest::RunProcess({"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-H",
                                "X-Big: " + std::string(70000, 'a'), Url(server, "/")}).Out,
            "431");
}

TEST(HttpServerLayer, FilesStayInsideTheirFolder) {
  qztest::TempDir dir("httproot");
  namespace fs = std::filesystem;
  const std::string root = dir.Path() + "/pub";
  fs::create_directories(root + "/css");
  qztest::WriteFile(root + "/css/site.css", "a{}");
  qztest::WriteFile(dir.Path() + "/secret.txt", "secret");
  fs::create_symlink(dir.Path() + "/secret.txt", root + "/link.txt");
  fs::create_symlink(root + "/css/site.css", root + "/inside.css");
  struct Case {
    std::string relative;
    bool found;
  } cases[] = {
      {"css/site.css", true},   {"/css/./site.css", true}, {"css\\site.css", true},
      {"x/../css/site.css", true}, {"inside.css", true},   {"../secret.txt", false},
      {"css/../../secret.txt", false}, {"..\\secret.txt", false}, {"link.txt", false},
      {"css", false},           {"", false},              {"missing", false},
      {std::string("css/site.css\0x", 14), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::ResolveFileInside(root, c.relative).has_value(), c.found) << c.relative;
  EXPECT_EQ(platform::PercentDecodeOnce("%2e%2E/%2f%zz%4"), "../\x2f%zz%4");
  EXPECT_EQ(platform::PercentDecodeOnce("%252e"), "%2e");
}

// Files go out whole, over one kept-alive connection, and HEAD answers carry the length only.
void ExpectFilesServed(const std::string& scheme, int port, const std::vector<std::string>& tlsArgs) {
  qztest::TempDir dir("httpfiles");
  std::mt19937_64 rng(5);
  const std::string big = qztest::RandomBytes(rng, 3 * 1024 * 1024 + 17);
  qztest::WriteFile(dir.Path() + "/big.bin", big);
  qztest::WriteFile(dir.Path() + "/empty.bin", "");
  const std::string base = scheme + "://127.0.0.1:" + std::to_string(port) + "/file?" + dir.Path();
  std::vector<std::string> argv = {"curl", "-s", "-v", "-o", dir.Path() + "/a", "-o", dir.Path() + "/b",
                                   "-o", dir.Path() + "/c", base + "/big.bin", base + "/big.bin",
                                   base + "/empty.bin"};
  argv.insert(argv.begin() + 1, tlsArgs.begin(), tlsArgs.end());
  auto r = qztest::RunProcess(argv);
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(qztest::ReadFile(dir.Path() + "/a") == big);
  EXPECT_TRUE(qztest::ReadFile(dir.Path() + "/b") == big);
  EXPECT_EQ(qztest::ReadFile(dir.Path() + "/c"), "");
  EXPECT_NE(r.Err.find("Re-using existing connection"), std::string::npos);
  argv = {"curl", "-s", "-I", base + "/big.bin"};
  argv.insert(argv.begin() + 1, tlsArgs.begin(), tlsArgs.end());
  r = qztest::RunProcess(argv);
  EXPECT_NE(r.Out.find("Content-Length: " + std::to_string(big.size()) + "\r\n"), std::string::npos) << r.Out;
}

void ServeFiles(HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
  if (request.Path != "/file") return;
  response.ContentType = "application/octet-stream";
  response.ServeFile(request.Query);
}

TEST(HttpServerLayer, ServesFilesWhole) {
  HttpServer server(Loopback());
  server.SetHandler(ServeFiles);
  server.Start();
  ExpectFilesServed("http", server.Port(), {});
  HttpResponseInfo response;
  EXPECT_THROW(response.ServeFile("/no/such/file"), EInOutError);
  EXPECT_THROW(response.ServeFile("/tmp"), EInOutError);
}

class HttpServerTls : public ::testing::Test {
 protected:
  void SetUp() override {
    cert_ = dir_.Path() + "/cert.pem";
    key_ = dir_.Path() + "/key.pem";
    const auto r = qztest::RunProcess(
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-days", "2", "-subj", "/CN=localhost",
         "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key_, "-out", cert_, "-passout",
         "pass:s3cret"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  qztest::TempDir dir_{"httptls"};
  std::string cert_, key_;
};

TEST_F(HttpServerTls, ServesCurlAndRefusesOldProtocols) {
  auto config = Loopback();
  config.Tls.Active = true;
  config.Tls.CertFile = cert_;
  config.Tls.KeyFile = key_;
  config.Tls.Password = "s3cret";
  config.Tls.Versions = {platform::ServerTlsVersion::TLSv1_2};
  HttpServer server(config);
  server.SetHandler([](HttpContext& context, HttpRequestInfo&, HttpResponseInfo& response) {
    response.Body = context.Tls ? "tls" : "plain";
  });
  server.Start();
  const std::string port = std::to_string(server.Port());
  auto r = qztest::RunProcess({"curl", "-s", "--cacert", cert_, "https://127.0.0.1:" + port + "/"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "tls");
  // Without the CA the client refuses the server (the certificate really is checked).
  r = qztest::RunProcess({"curl", "-s", "https://127.0.0.1:" + port + "/"});
  EXPECT_NE(r.ExitCode, 0);
  struct Case {
    std::string version;
    bool accepted;
  } cases[] = {{"-tls1_1", false}, {"-tls1", false}, {"-tls1_2", true}, {"-tls1_3", true}};
  for (const auto& c : cases) {
    r = qztest::RunProcess({"openssl", "s_client", "-connect", "127.0.0.1:" + port, c.version,
                            "-ign_eof", "-cipher", "DEFAULT@SECLEVEL=0", "-CAfile", cert_},
                           "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(r.Out.find("HTTP/1.1 200 OK") != std::string::npos, c.accepted) << c.version << r.Err;
  }
  server.SetHandler(ServeFiles);
  server.Stop();
  server.Start();
  ExpectFilesServed("https", server.Port(), {"--cacert", cert_});
  // A wrong key password fails at start, with a clear message.
  config.Tls.Password = "wrong";
  HttpServer bad(config);
  EXPECT_THROW(bad.Start(), Exception);
}

}  // namespace
