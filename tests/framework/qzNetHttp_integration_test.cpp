// Both HTTP clients against a loopback peer built on python's http.server (tests/peers/
// http_peer.py): status codes, header texts compared with curl's, uploads checked by MD5, the
// 4096-byte pieces of the file upload, an abort from its callback, peers that close mid-body.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "ChildProcess.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "qzClassFactory.h"
#include "qzNet.h"

namespace {

using platform::ToU16;

class HttpPeer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new qztest::TempDir("qznethttp");
    peer_ = new qztest::ChildProcess({"/usr/bin/python3", std::string(QZ_PEERS_DIR) + "/http_peer.py"},
                                     dir_->Path() + "/peer");
    port_ = std::stoi(peer_->WaitForOutput("PORT "));
  }
  static void TearDownTestSuite() {
    delete peer_;
    delete dir_;
  }
  static std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  static UnicodeString WUrl(const std::string& path) { return ToU16(Url(path)); }
  static std::string Dir() { return dir_->Path(); }

  // A port nobody listens on.
  static int ClosedPort() {
    for (int p = 39000; p < 39100; ++p)
      if (TqzNet::PortIsFree(p)) return p;
    return 1;
  }

  static std::string Md5(const std::string& bytes) {
    const auto r = qztest::RunProcess({"md5sum"}, bytes);
    return r.Out.substr(0, 32);
  }

  // The header curl receives for the URL, without the Date line (it may differ by a second).
  static std::vector<std::string> CurlHeaderLines(const std::string& url) {
    const auto r = qztest::RunProcess({"curl", "-s", "-D", "-", "-o", "/dev/null", url});
    return WithoutDate(r.Out);
  }
  static std::vector<std::string> WithoutDate(const std::string& header) {
    std::vector<std::string> lines;
    std::istringstream in(header);
    std::string line;
    while (std::getline(in, line))
      if (!line.starts_with("Date:")) lines.push_back(line);
    return lines;
  }

  static qztest::TempDir* dir_;
  static qztest::ChildProcess* peer_;
  static int port_;
};
qztest::TempDir* HttpPeer::dir_ = nullptr;
qztest::ChildProcess* HttpPeer::peer_ = nullptr;
int HttpPeer::port_ = 0;

using qztest::ExceptionText;
// ---- TqzNet's client ------------------------------------------------------------------------

TEST_F(HttpPeer, WinInetGetReturnsBodyCodeAndTheRawHeaderCurlSees) {
  for (int code : {200, 201, 404, 500}) {
    const std::string path = "/status/" + std::to_string(code);
    int32_t status = -1;
    AnsiString header = "old";
    const AnsiString body = TqzNet::HTTPGet(WUrl(path), status, "", header);
    EXPECT_EQ(status, code);
    EXPECT_EQ(body, "status " + std::to_string(code));  // error pages come back like others
    EXPECT_EQ(WithoutDate(header), CurlHeaderLines(Url(path)));
    EXPECT_TRUE(header.ends_with("\r\n\r\n"));
  }
  int32_t status = 0;
  EXPECT_EQ(TqzNet::HTTPGet(WUrl("/redirect"), status), "status 200");  // redirects are followed
  EXPECT_EQ(status, 200);
}

TEST_F(HttpPeer, WinInetGetSendsAgentAndExtraHeaders) {
  int32_t status = 0;
  AnsiString header;
  const AnsiString body =
      TqzNet::HTTPGet(WUrl("/headers"), status, "X-Test: 1\r\nX-Other: two\r\n", header);
  const auto sent = nlohmann::json::parse(body);
  std::map<std::string, std::string> h;
  for (const auto& pair : sent) h[pair[0].get<std::string>()] = pair[1].get<std::string>();
  EXPECT_EQ(h["User-Agent"], "KESTA 5.2");
  EXPECT_EQ(h["X-Test"], "1");
  EXPECT_EQ(h["X-Other"], "two");
  EXPECT_EQ(h["Pragma"], "no-cache");
  EXPECT_EQ(h.count("Accept-Encoding"), 0u);
}

TEST_F(HttpPeer, WinInetFailuresNameTheStepAndTheErrorNumber) {
  int32_t status = -1;
  const int closed = ClosedPort();
  const UnicodeString closedUrl = ToU16("http://127.0.0.1:" + std::to_string(closed) + "/x");
  EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPGet(closedUrl, status); }),
            "Exception: internet open url exception code 12029");
  EXPECT_EQ(status, 0);
  // A body cut short by the peer is an error, never a shorter body.
  EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPGet(WUrl("/cut"), status); }),
            "Exception: internet read file exception code 12030");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPPutBuffer(closedUrl, "x", status); }),
            "Exception: internet connect exception code 12029");
  EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPPutFile(closedUrl, ToU16(Dir() + "/none"), status, {}, false); }),
            "Exception: file handle exception code 2");
}

TEST_F(HttpPeer, WinInetFileUploadSendsPiecesOf4096Bytes) {
  std::mt19937_64 rng(3);
  for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{4097}, size_t{1} << 20}) {
    SCOPED_TRACE(size);
    const std::string file = Dir() + "/up.bin";
    const std::string data = qztest::RandomBytes(rng, size);
    qztest::WriteFile(file, data);
    std::vector<uint64_t> calls;
    uint64_t total = 0;
    int32_t status = 0;
    AnsiString header;
    const bool ok = TqzNet::HTTPPutFile(
        WUrl("/store/201"), ToU16(file), status, header,
        [&](const UnicodeString& f, uint64_t sent, uint64_t all, bool& abort) {
          EXPECT_EQ(f, ToU16(file));
          EXPECT_FALSE(abort);
          calls.push_back(sent);
          total = all;
        },
        false);
    EXPECT_TRUE(ok);
    EXPECT_EQ(status, 201);
    EXPECT_EQ(TqzNet::GetHttpRawHeaderValue("X-MD5", header), Md5(data));
    EXPECT_EQ(TqzNet::GetHttpRawHeaderValue("X-Length", header), std::to_string(size));
    EXPECT_EQ(calls.size(), (size + 4095) / 4096);
    for (size_t i = 0; i < calls.size(); ++i)
      EXPECT_EQ(calls[i], std::min<uint64_t>((i + 1) * 4096, size));
    if (!calls.empty()) {
      EXPECT_EQ(total, size);
    }
    struct stat st{};
    EXPECT_EQ(stat(file.c_str(), &st), 0);  // DelFile false: the file stays
  }
}

TEST_F(HttpPeer, WinInetFileUploadChecksBytesAndDeletesOnlyAfterSuccess) {
  std::mt19937_64 rng(4);
  const std::string data = qztest::RandomBytes(rng, 300000);
  const std::string file = Dir() + "/del.bin";
  struct Case {
    const char* path;
    int code;
    bool gone;
  };
  for (const Case& c : {Case{"/store/201", 201, true}, Case{"/store/500", 500, false}}) {
    qztest::WriteFile(file, data);
    int32_t status = 0;
    AnsiString header;
    TqzNet::HTTPPutFile(WUrl(c.path), ToU16(file), status, header, {}, true);
    EXPECT_EQ(status, c.code);
    const size_t body = header.find("\r\n\r\n");
    ASSERT_NE(body, AnsiString::npos);
    struct stat st{};
    EXPECT_EQ(stat(file.c_str(), &st) != 0, c.gone) << c.path;
  }
  // The peer's MD5 of what arrived equals md5sum's of the file.
  qztest::WriteFile(file, data);
  int32_t status = 0;
  const AnsiString answer = TqzNet::HTTPPutBuffer(WUrl("/store/201"), data, status);
  EXPECT_EQ(nlohmann::json::parse(answer)["md5"], Md5(data));
}

TEST_F(HttpPeer, WinInetFileUploadStopsWhenTheCallbackAborts) {
  std::mt19937_64 rng(5);
  const std::string file = Dir() + "/abort.bin";
  qztest::WriteFile(file, qztest::RandomBytes(rng, 5 * 4096));
  int calls = 0;
  int32_t status = 0;
  AnsiString header;
  const bool ok = TqzNet::HTTPPutFile(
      WUrl("/store/201"), ToU16(file), status, header,
      [&](const UnicodeString&, uint64_t, uint64_t, bool& abort) {
        ++calls;
        abort = true;
      },
      true);
  EXPECT_FALSE(ok);
  EXPECT_EQ(calls, 1);
  struct stat st{};
  EXPECT_EQ(stat(file.c_str(), &st), 0);  // never deleted after an abort
}

TEST_F(HttpPeer, WinInetFileUploadToAPeerThatClosesIsAnError) {
  std::mt19937_64 rng(6);
  const std::string file = Dir() + "/cut.bin";
  qztest::WriteFile(file, qztest::RandomBytes(rng, 4 << 20));
  int32_t status = 0;
  AnsiString header;
  const std::string text = ExceptionText([&] {
    TqzNet::HTTPPutFile(WUrl("/cutput"), ToU16(file), status, header, {}, true);
  });
  EXPECT_TRUE(text.starts_with("Exception: http response code 12030 (")) << text;
  struct stat st{};
  EXPECT_EQ(stat(file.c_str(), &st), 0);
}

TEST_F(HttpPeer, WinInetFileUploadRefusesALockedFile) {
  const std::string file = Dir() + "/locked.bin";
  qztest::WriteFile(file, "abc");
  qztest::ChildProcess holder({"/usr/bin/flock", "-x", file, "-c", "echo LOCKED; sleep 30"},
                              Dir() + "/holder");
  holder.WaitForOutput("LOCKED");
  int32_t status = 0;
  EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPPutFile(WUrl("/store/201"), ToU16(file), status, {}, false); }),
            "Exception: file handle exception code 32");
}

TEST_F(HttpPeer, WinInetBufferRequestUsesTheVerbAndHeaders) {
  int32_t status = 0;
  AnsiString header;
  const AnsiString answer = TqzNet::HTTPPutBuffer(WUrl("/store/200"), "{\"a\":1}", status,
                                                  "Content-Type: application/json\r\n", header, "POST");
  EXPECT_EQ(status, 200);
  const auto j = nlohmann::json::parse(answer);
  EXPECT_EQ(j["method"], "POST");
  EXPECT_EQ(j["content_type"], "application/json");
  EXPECT_EQ(j["md5"], Md5("{\"a\":1}"));
  EXPECT_EQ(TqzNet::GetHttpRawHeaderValue("x-peer", header), "yes");
  // The short form: PUT with no extra headers, also for an empty buffer.
  const auto empty = nlohmann::json::parse(TqzNet::HTTPPutBuffer(WUrl("/store/201"), "", status));
  EXPECT_EQ(empty["method"], "PUT");
  EXPECT_EQ(empty["length"], 0);
  EXPECT_EQ(status, 201);
}

// ---- TqzIndy's client -----------------------------------------------------------------------

TEST_F(HttpPeer, IndyGetReturnsBodyCodeAndHeaderTexts) {
  int32_t status = 0;
  AnsiString raw, custom;
  EXPECT_EQ(TqzIndy::HTTPGet(WUrl("/status/200"), status, raw, qzHHT_Raw), "status 200");
  EXPECT_EQ(status, 200);
  TqzIndy::HTTPGet(WUrl("/status/200"), status, custom, qzHHT_Custom);
  EXPECT_EQ(custom, "X-Peer: yes\r\nX-Trace: 42\r\n");
  // Raw: every header line curl sees, as "Name: value" lines.
  std::vector<std::string> curlLines = CurlHeaderLines(Url("/status/200"));
  std::string expected;
  for (size_t i = 1; i < curlLines.size(); ++i) {
    std::string line = curlLines[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) expected += line + "\r\n";
  }
  std::string rawNoDate;
  for (const auto& line : WithoutDate(raw)) rawNoDate += line + "\n";
  EXPECT_EQ(rawNoDate, [&] {
    std::string s;
    for (const auto& line : WithoutDate(expected)) s += line + "\n";
    return s;
  }());
  EXPECT_EQ(TqzIndy::HTTPGet(WUrl("/status/201")), "status 201");
}

TEST_F(HttpPeer, IndyRaisesForStatusesOutsideTwoHundred) {
  struct Case {
    const char* path;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {"/status/404", 404, "Exception: HTTP response code 404 - HTTP/1.1 404 Not Found"},
      {"/status/500", 500, "Exception: HTTP response code 500 - HTTP/1.1 500 Internal Server Error"},
      {"/redirect", 302, "Exception: HTTP response code 302 - HTTP/1.1 302 Found"},  // not followed
  };
  for (const Case& c : cases) {
    int32_t status = 0;
    AnsiString raw;
    EXPECT_EQ(ExceptionText([&] { TqzIndy::HTTPGet(WUrl(c.path), status, raw, qzHHT_Raw); }), c.text);
    EXPECT_EQ(status, c.code);
    // The header text is stored before the call raises.
    EXPECT_NE(raw.find(c.code == 302 ? "Location: /status/200" : "X-Peer: yes"), AnsiString::npos) << c.path;
  }
}

TEST_F(HttpPeer, IndyTransportFailuresReachTheCaller) {
  int32_t status = -1;
  const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(ToU16(closed), status); })
                  .starts_with("EHttpClientError: "));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(WUrl("/cut"), status); })
                  .starts_with("EHttpClientError: "));
  EXPECT_EQ(status, 200);
  EXPECT_TRUE(TqzIndy::ReInitializeSSL());
}

TEST_F(HttpPeer, IndyGetToAStreamAndUploadsFromStrings) {
  const std::string file = Dir() + "/get.bin";
  {
    std::ofstream out(file, std::ios::binary);
    int32_t status = 0;
    AnsiString raw;
    EXPECT_TRUE(TqzIndy::HTTPGet(WUrl("/bytes/3000000"), out, status, raw, qzHHT_Raw));
    EXPECT_EQ(status, 200);
  }
  const auto r = qztest::RunProcess({"curl", "-s", Url("/bytes/3000000")});
  EXPECT_EQ(Md5(qztest::ReadFile(file)), Md5(r.Out));

  std::mt19937_64 rng(8);
  const std::string data = qztest::RandomBytes(rng, 200000);
  for (const char* verb : {"PUT", "POST"}) {
    SCOPED_TRACE(verb);
    auto send = [&](const AnsiString& content, const UnicodeString& type, int32_t& status) {
      return std::string(verb) == "PUT" ? TqzIndy::HTTPPut(WUrl("/store/201"), content, type, status)
                                         : TqzIndy::HTTPPost(WUrl("/store/201"), content, type, status);
    };
    int32_t status = 0;
    auto j = nlohmann::json::parse(send(data, u"application/x-test", status));
    EXPECT_EQ(status, 201);
    EXPECT_EQ(j["method"], verb);
    EXPECT_EQ(j["md5"], Md5(data));
    EXPECT_EQ(j["content_type"], "application/x-test");
    j = nlohmann::json::parse(send("", u"text/plain", status));
    EXPECT_EQ(j["length"], 0);
    EXPECT_EQ(j["content_type"], "text/plain");
    // A stream is sent from its first byte whatever its position.
    std::istringstream stream(data);
    stream.seekg(1000);
    AnsiString raw;
    const AnsiString answer = std::string(verb) == "PUT"
        ? TqzIndy::HTTPPut(WUrl("/store/201"), stream, u"a/b", status, raw, qzHHT_Custom)
        : TqzIndy::HTTPPost(WUrl("/store/201"), stream, u"a/b", status, raw, qzHHT_Custom);
    EXPECT_EQ(nlohmann::json::parse(answer)["md5"], Md5(data));
    EXPECT_EQ(raw, "X-Peer: yes\r\nX-MD5: " + Md5(data) + "\r\nX-Length: 200000\r\n");
  }
}

}  // namespace

// ---- The class factory's client options -----------------------------------------------------

// Sets the global factory's HTTP client options for a scope.
class ScopedClientOptions {
 public:
  ScopedClientOptions() : saved_(GlobalClassFactory->HttpClientOptions) {}
  ~ScopedClientOptions() { GlobalClassFactory->HttpClientOptions = saved_; }
  TqzHttpClientOptions& operator*() { return GlobalClassFactory->HttpClientOptions; }
  TqzHttpClientOptions* operator->() { return &GlobalClassFactory->HttpClientOptions; }

 private:
  TqzHttpClientOptions saved_;
};

TEST_F(HttpPeer, ClientOptionsSetRedirectsAndTimeOuts) {
  {
    ScopedClientOptions options;
    options->HandleRedirects = true;
    int32_t status = 0;
    EXPECT_EQ(TqzIndy::HTTPGet(WUrl("/redirect"), status), "status 200");
    EXPECT_EQ(status, 200);
    options->RedirectMaximum = 0;
    EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(WUrl("/redirect"), status); })
                    .starts_with("EHttpClientError: "));
  }
  {
    // The read time-out: no byte for a second ends the request (the peer answers after 5 s).
    ScopedClientOptions options;
    options->ReadTimeout = 1000;
    int32_t status = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ExceptionText([&] { TqzIndy::HTTPGet(WUrl("/slow"), status); })
                    .starts_with("EHttpClientError: "));
    EXPECT_EQ(ExceptionText([&] { TqzNet::HTTPGet(WUrl("/slow"), status); }),
              "Exception: internet open url exception code 12002");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  }
  {
    // A bound local port: the peer sees the connection come from it.
    ScopedClientOptions options;
    int port = 0;
    for (int p = 41000; p < 41100 && !port; ++p)
      if (TqzNet::PortIsFree(p)) port = p;
    options->BoundIP = u"127.0.0.1";
    options->BoundPortMin = port;
    options->BoundPortMax = port;
    int32_t status = 0;
    ASSERT_NE(port, 0);
    EXPECT_EQ(TqzIndy::HTTPGet(WUrl("/whoami"), status), "127.0.0.1:" + std::to_string(port));
  }
}
