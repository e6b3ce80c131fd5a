// The server half of TqzIndy and the request/response objects, answered through the server layer
// to curl and Python clients on loopback.
#include "qzNetServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "HttpServer.h"
#include "TestSupport.h"

namespace {

using platform::HttpContext;
using platform::HttpRequestInfo;
using platform::HttpResponseInfo;
using S = TqzIndyServer;

std::string U8(const UnicodeString& s) { return platform::WideToUtf8(s); }

// A server on 127.0.0.1 with the installation root (and so the public folder sys/pub/) in a
// temporary folder.
class IndyServer : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    pub_ = root_.Path() + "/sys/pub";
    fs::create_directories(pub_ + "/css");
    fs::create_directories(root_.Path() + "/registry");
    qztest::WriteFile(pub_ + "/css/site.css", "a{color:red}");
    qztest::WriteFile(pub_ + "/index.html", "<p>hi</p>");
    qztest::WriteFile(pub_ + "/logo.png", std::string("\x89PNG\r\n\x1a\n", 8));
    qztest::WriteFile(pub_ + "/data.xyzq", "?");
    qztest::WriteFile(pub_ + "/b c.txt", "spaced");
    qztest::WriteFile(root_.Path() + "/sys/secret.txt", "secret");
    fs::create_symlink(root_.Path() + "/sys/secret.txt", pub_ + "/link.txt");
    platform::HttpServerConfig config;
    config.Bindings = {{"127.0.0.1", false}};
    server_ = std::make_unique<platform::HttpServer>(config);
  }
  void Start(platform::HttpHandler handler) {
    server_->SetHandler(std::move(handler));
    server_->Start();
  }
  std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server_->Port()) + path;
  }
  qztest::ProcessResult Curl(std::vector<std::string> args) {
    args.insert(args.begin(), {"curl", "-s"});
    return qztest::RunProcess(args);
  }

  qztest::TempDir root_{"indyroot"};
  qztest::ScopedEnv registry_{"KESTA_REGISTRY_DIR", (root_.Path() + "/registry").c_str()};
  qztest::ScopedEnv kestasys_{"KESTASYS", root_.Path().c_str()};
  std::string pub_;
  std::unique_ptr<platform::HttpServer> server_;
};

// The status line and the header block of a curl -i answer.
std::string Head(const std::string& out) { return out.substr(0, out.find("\r\n\r\n") + 2); }
std::string StatusLine(const std::string& out) { return out.substr(0, out.find("\r\n")); }

TEST_F(IndyServer, StatusTextsAndPlainContent) {
  Start([](HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
    S::SetHTTPResponse(response, std::stoi(request.Path.substr(1)), "nf", u"text/plain", u"", false, 0);
  });
  const std::map<int, std::string> cases = {
      {200, "OK"}, {203, "Non-authoritative Information "}, {205, "Reset Content "},
      {302, "Moved Temporarily"}, {404, "Not Found"}, {405, "Method not allowed"},
      {413, "Request Entity Too Long"}, {414, "Request-URI Too Long. 256 Chars max"},
      {504, "Gateway timeout"}, {505, "HTTP version not supported"}, {299, "Unknown"}, {600, "Unknown"}};
  for (const auto& [code, text] : cases) {
    const auto r = Curl({"-i", Url("/" + std::to_string(code))});
    EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 " + std::to_string(code) + " " + text);
    EXPECT_NE(r.Out.find("Content-Length: 2\r\n"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find("Content-Encoding"), std::string::npos);
    EXPECT_EQ(r.Out.substr(r.Out.size() - 2), "nf");
  }
}

TEST_F(IndyServer, GzipAnswersAtEachLevel) {
  std::string text;
  for (int i = 0; text.size() < 100 * 1024; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the answer\n";
  Start([&](HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
    S::SetHTTPResponse(response, 200, text, u"text/plain", u"utf-8", true, std::stoi(request.Path.substr(1)));
  });
  qztest::TempDir dir("gzipbody");
  std::map<int, size_t> sizes;
  for (int level : {0, 1, 2, 9, 5}) {
    const std::string body = dir.Path() + "/b" + std::to_string(level) + ".gz";
    const auto r = Curl({"-D", "-", "-o", body, Url("/" + std::to_string(level))});
    const std::string bytes = qztest::ReadFile(body);
    sizes[level] = bytes.size();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b");
    EXPECT_NE(r.Out.find("Content-Encoding: gzip\r\n"), std::string::npos);
    EXPECT_NE(r.Out.find("Content-Length: " + std::to_string(bytes.size()) + "\r\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Content-Type: text/plain; charset=utf-8\r\n"), std::string::npos);
    EXPECT_EQ(qztest::RunProcess({"gzip", "-t", body}).ExitCode, 0) << level;
    EXPECT_EQ(Curl({"--compressed", Url("/" + std::to_string(level))}).Out, text);
  }
  EXPECT_GT(sizes[0], text.size());     // stored blocks: no compression
  EXPECT_LT(sizes[1], text.size() / 2);
  EXPECT_LE(sizes[9], sizes[1]);
  EXPECT_EQ(sizes[5], sizes[9]);        // any other level is the best compression
}

TEST_F(IndyServer, StaticFilesFromThePublicFolder) {
  Start([](HttpContext& context, HttpRequestInfo& request, HttpResponseInfo& response) {
    if (request.Path == "/own") S::SetHTTPResponse(request, response, context, u"/no/such/file", 1);
    else S::SetHTTPResponse(request, response, context, u"", 7);
  });
  struct Case {
    std::string path, status, type, body;
  } cases[] = {
      {"/pub/css/site.css", "200 OK", "text/css", "a{color:red}"},
      {"/pub/index.html", "200 OK", "text/html", "<p>hi</p>"},
      {"/pub/logo.png", "200 OK", "image/png", std::string("\x89PNG\r\n\x1a\n", 8)},
      {"/pub/data.xyzq", "200 OK", "text/plain", "?"},
      {"/pub/b%20c.txt", "200 OK", "text/plain", "spaced"},
      {"/pub/css/site.css?v=3", "200 OK", "text/css", "a{color:red}"},
      {"/pub/../../etc/passwd", "404 Not Found", "", ""},
      {"/pub/%2e%2e/%2e%2e/etc/passwd", "404 Not Found", "", ""},
      {"/pub/..%2f..%2f..%2fetc%2fpasswd", "404 Not Found", "", ""},
      {"/pub/css%2f..%2f..%2fsecret.txt", "404 Not Found", "", ""},
      {"/pub/..%5csecret.txt", "404 Not Found", "", ""},
      {"/pub/%252e%252e/secret.txt", "404 Not Found", "", ""},
      {"/pub/link.txt", "404 Not Found", "", ""},
      {"/pub/css", "404 Not Found", "", ""},
      {"/pub/missing.css", "404 Not Found", "", ""},
      {"/own", "500 Internal Server Error", "", ""},
  };
  for (const auto& c : cases) {
    const auto r = Curl({"-i", "--path-as-is", Url(c.path)});
    EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 " + c.status) << c.path;
    EXPECT_EQ(r.Out.find("secret"), std::string::npos) << c.path;
    EXPECT_EQ(r.Out.find("root:"), std::string::npos) << c.path;
    if (c.status != "200 OK") continue;
    EXPECT_NE(Head(r.Out).find("Content-Type: " + c.type + "\r\n"), std::string::npos) << c.path << r.Out;
    EXPECT_EQ(r.Out.substr(r.Out.find("\r\n\r\n") + 4), c.body) << c.path;
  }
  // Date and Expires (7 days ahead) as Python's email.utils reads them.
  const auto r = Curl({"-i", Url("/pub/index.html")});
  const std::string days = qztest::RunPython(R"(
import sys, email.utils, datetime
head = sys.stdin.read().split('\r\n\r\n')[0].split('\r\n')[1:]
h = dict(line.split(': ', 1) for line in head)
now = datetime.datetime.now(datetime.timezone.utc)
date = email.utils.parsedate_to_datetime(h['Date'])
expires = email.utils.parsedate_to_datetime(h['Expires'])
print(abs((date - now).total_seconds()) < 120, round((expires - date).total_seconds() / 86400, 2))
)", {}, r.Out);
  EXPECT_EQ(days, "True 7.0\n");
}

TEST_F(IndyServer, RequestObjectsFromRealRequests) {
  Start([](HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
    auto object = S::GetHTTPRequestObject(request);
    std::string out = "cmd=" + object->CommandStr() + " " + std::to_string(object->Command()) +
                      "\nuripath=" + object->URIPath + "\nuri=" + object->URI + "\nsegments=";
    for (int i = 0; i < object->URIPathSegments().Count(); ++i)
      out += "[" + U8(object->URIPathSegments()[i]) + "]";
    std::unique_ptr<TStringList> names;
    object->GetQueryList(names);
    names->Sort();
    out += "\nquery=";
    for (int i = 0; i < names->Count(); ++i)
      out += U8((*names)[i]) + ":" + U8(object->GetURIQueryItem((*names)[i])) + ";";
    out += "\nx-test=" + object->GetHeader(u"X-TEST") + "\ntype=" + U8(object->ContentType) +
           "\nip=" + U8(object->IP()) + "\nhost=" + U8(object->Host()) + "\nbody=" + object->ContentText +
           "\nrequri=" + U8(S::GetRequestURI(request)) + "\npost=" + S::GetPostStreamString(request) + "\n";
    S::SetHTTPResponse(response, 200, out, u"text/plain", u"", false, 0);
  });
  struct Case {
    std::vector<std::string> args;
    std::string path;
    std::vector<std::string> expected;
  } cases[] = {
      {{"-H", "x-test:  v1 "}, "/a/b%20c/?x=1",
       {"cmd=GET 3\n", "uripath=/a/b%20c/\n", "uri=/a/b%20c/?x=1\n", "segments=[a][b c]\n",
        "query=x:1;\n", "x-test=v1\n", "ip=127.0.0.1\n", "requri=/a/b%20c/\n", "body=\n"}},
      {{}, "/", {"uripath=/\n", "uri=/\n", "segments=\n", "query=\n"}},
      {{"--data", "Name=v&b=%C3%A4"}, "/f?q=2",
       {"cmd=POST 4\n", "uri=/f?q=2&Name=v&b=%C3%A4\n", "query=b:\xC3\xA4;name:v;q:2;\n",
        "type=application/x-www-form-urlencoded\n", "body=Name=v&b=%C3%A4\n", "post=Name=v&b=%C3%A4\n"}},
      {{"-X", "PROPFIND"}, "/dav", {"cmd=PROPFIND 16\n", "segments=[dav]\n"}},
      {{"-X", "brew"}, "/pot", {"cmd=BREW 0\n"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(Url(c.path));
    const auto r = Curl(args);
    for (const auto& e : c.expected) EXPECT_NE(r.Out.find(e), std::string::npos) << e << "\n" << r.Out;
    EXPECT_NE(r.Out.find("host=127.0.0.1:" + std::to_string(server_->Port())), std::string::npos);
  }
}

TEST_F(IndyServer, CustomHeadersAndResponseObjects) {
  Start([](HttpContext&, HttpRequestInfo& request, HttpResponseInfo& response) {
    if (request.Path == "/lines") {
      S::SetHTTPResponse(response, 202, "x", {"X-One: 1", "X-Two:2", "Cache-Control: no-store"}, u"text/plain", u"");
    } else if (request.Path == "/split") {
      S::SetHTTPResponse(response, 200, "x", {"X-Bad: a\r\nSet-Cookie: evil=1"}, u"text/plain", u"");
    } else {
      TqzHTTPResponse object;
      object.Code = 201;
      object.ContentText = "made";
      object.ContentType = u"text/plain";
      object.CharSet = "iso-8859-1";
      object.SetHeader(u"x-custom", "a");
      object.SetHeader(u"X-Custom", "b");
      S::SetHTTPResponse(response, object);
    }
  });
  auto r = Curl({"-i", Url("/lines")});
  EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 202 Accepted");
  EXPECT_NE(r.Out.find("X-One: 1\r\nX-Two: 2\r\nCache-Control: no-store\r\n"), std::string::npos) << r.Out;
  r = Curl({"-i", Url("/split")});
  EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(r.Out.find("evil"), std::string::npos);
  r = Curl({"-i", Url("/object")});
  EXPECT_EQ(StatusLine(r.Out), "HTTP/1.1 201 Created");
  EXPECT_NE(r.Out.find("X-CUSTOM: b\r\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Content-Type: text/plain; charset=iso-8859-1\r\n"), std::string::npos);
  EXPECT_EQ(r.Out.substr(r.Out.size() - 4), "made");
}

TEST(TqzHTTPObjects, HeadersQueryVerbsAndClear) {
  TqzHTTPRequest request;
  request.SetHeader(u"content-type", "a");
  request.SetHeader(u"Content-Type", "b");
  EXPECT_EQ(request.GetHeader(u"CONTENT-TYPE"), "b");
  EXPECT_EQ(request.GetHeader(u"missing"), "");
  TStringList list;
  request.GetHeaderList(list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(U8(list[0]), "Content-Type");
  request.SetURIQueryItem(u"Name", u"v");
  EXPECT_EQ(U8(request.GetURIQueryItem(u"NAME")), "v");
  EXPECT_EQ(U8(request.GetURIQueryItem(u"other")), "");
  std::unique_ptr<TStringList> names;
  request.GetQueryList(names);
  ASSERT_TRUE(names && names->Count() == 1);
  EXPECT_EQ(U8((*names)[0]), "name");

  struct Verb {
    AnsiString text;
    AnsiString stored;
    TqzHTTPCommands command;
  } verbs[] = {{"options", "OPTIONS", qzHC_Options}, {"get", "GET", qzHC_Get}, {"BREW", "BREW", qzHC_Unknown},
               {"Mkcol", "MKCOL", qzHC_Mkcol}, {"view", "VIEW", qzHC_View}};
  for (const auto& v : verbs) {
    request.SetCommandStr(v.text);
    EXPECT_EQ(request.CommandStr(), v.stored);
    EXPECT_EQ(request.Command(), v.command);
  }
  struct Command {
    TqzHTTPCommands command;
    AnsiString text;
  } commands[] = {{qzHC_Option, "OPTIONS"}, {qzHC_None, "PUT"}, {qzHC_Unknown, "PUT"}, {qzHC_Proppatch, "PROPPATCH"}};
  for (const auto& c : commands) {
    request.SetCommand(c.command);
    EXPECT_EQ(request.CommandStr(), c.text);
    EXPECT_EQ(request.Command(), c.command);
  }

  request.ContentText = "abc";
  request.ContentType = u"x/y";
  request.URI = "/u";
  request.ContentStream() << "data";
  request.Clear();
  EXPECT_EQ(request.ContentText, "");
  EXPECT_EQ(request.ContentType, u"");
  EXPECT_EQ(request.GetHeader(u"Content-Type"), "");
  EXPECT_EQ(request.URI, "/u");
  EXPECT_EQ(request.ContentStream().str(), "");
  EXPECT_EQ(U8(request.GetURIQueryItem(u"name")), "v");

  TqzHTTPResponse response;
  EXPECT_EQ(response.Code, 200);
  response.CharSet = "utf-8";
  response.ContentText = "xyz";
  EXPECT_EQ(response.ContentLength(), 3u);
  response.SetHeader(u"A", "1");
  response.Clear();
  EXPECT_EQ(response.Code, 0);
  EXPECT_EQ(response.ContentText, "");
  EXPECT_EQ(response.CharSet, "utf-8");
  EXPECT_EQ(response.Headers().Count(), 0);
  EXPECT_EQ(response.RawHeader(), "");
}

TEST(TqzHTTPObjects, RawHeaderOfAnOutgoingRequest) {
  TqzHTTPRequest request;
  const std::string first = request.RawHeader();
  request.Authentication().AuthType = qzHAT_Basic;
  request.Authentication().UserName = u"user";
  request.Authentication().Password = u"p\u00e4ss";
  request.SetCommand(qzHC_Post);
  request.SetHeader(u"X-Own", "kept");
  const std::string second = request.RawHeader();
  // Python computes the expected values and reads the date.
  const std::string check = qztest::RunPython(R"(
import sys, base64, hashlib, email.utils, datetime
first, second = sys.stdin.read().split('\x00')
def fields(text):
    assert text.endswith('\r\n')
    return dict(line.split(': ', 1) for line in text[:-2].split('\r\n'))
a, b = fields(first), fields(second)
md5 = base64.b64encode(hashlib.md5(b'').hexdigest().upper().encode()).decode()
print(a['Content-MD5'] == md5, len(a['Content-MD5']), a['Content-Length'], a['Content-Type'])
print(a['User-Agent'], a['Accept-Encoding'], 'Authorization' in a)
print(b['Authorization'] == 'Basic ' + base64.b64encode('user:p\u00e4ss'.encode('cp1252')).decode())
print(b['Content-Type'], b['X-Own'])
age = datetime.datetime.now(datetime.timezone.utc) - email.utils.parsedate_to_datetime(a['Date'])
print(abs(age.total_seconds()) < 120, a['Date'].endswith(' GMT'))
)", {}, first + std::string(1, '\0') + second);
  EXPECT_EQ(check,
            "True 44 0 application/octet-stream\nKESTA 5.2 gzip False\nTrue\n"
            "multipart/form-data kept\nTrue True\n");
}

TEST(TqzHTTPObjects, LoadFromFile) {
  qztest::TempDir dir("loadfile");
  qztest::WriteFile(dir.Path() + "/page.html", "<b>x</b>");
  TqzHTTPRequest request;
  request.LoadFromFile(platform::Utf8ToWide(dir.Path() + "/page.html"));
  EXPECT_EQ(request.ContentText, "<b>x</b>");
  EXPECT_EQ(U8(request.ContentType), "text/html");
  request.LoadFromFile(platform::Utf8ToWide(dir.Path() + "/missing.css"));
  EXPECT_EQ(request.ContentText, "<b>x</b>");
  EXPECT_EQ(U8(request.ContentType), "text/css");
}

}  // namespace
