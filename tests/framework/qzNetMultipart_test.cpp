// The multipart/form-data parser: bodies made by curl -F (captured on a loopback socket) and by
// python's email package, large bodies, and bodies that break off.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "CodePage.h"
#include "TestSupport.h"
#include "qzNet.h"

namespace {

struct Captured {
  std::string contentType;
  std::string body;
};

// Runs curl with the arguments against a one-request listener on loopback and returns the
// request's Content-Type and body as curl sent them.
Captured CaptureCurl(const std::vector<std::string>& curlArgs) {
  const std::string out = qztest::RunPython(
      "import json, socket, subprocess, sys\n"
      "srv = socket.socket(); srv.bind(('127.0.0.1', 0)); srv.listen(1)\n"
      "url = 'http://127.0.0.1:%d/upload' % srv.getsockname()[1]\n"
      "p = subprocess.Popen(['curl', '-s', '-o', '/dev/null'] + sys.argv[1:] + [url])\n"
      "srv.settimeout(20); c, _ = srv.accept(); c.settimeout(20)\n"
      "data = b''\n"
      "while b'\\r\\n\\r\\n' not in data: data += c.recv(65536)\n"
      "head, body = data.split(b'\\r\\n\\r\\n', 1)\n"
      "lines = head.decode('latin-1').split('\\r\\n')\n"
      "hdr = {l.split(':', 1)[0].lower(): l.split(':', 1)[1].strip() for l in lines[1:]}\n"
      "if hdr.get('expect'): c.sendall(b'HTTP/1.1 100 Continue\\r\\n\\r\\n')\n"
      "n = int(hdr['content-length'])\n"
      "while len(body) < n: body += c.recv(65536)\n"
      "c.sendall(b'HTTP/1.1 200 OK\\r\\nContent-Length: 0\\r\\nConnection: close\\r\\n\\r\\n'); c.close()\n"
      "p.wait(20)\n"
      "print(json.dumps({'ct': hdr['content-type'], 'body': body.hex()}))\n",
      curlArgs);
  const auto j = nlohmann::json::parse(out);
  return {j["ct"].get<std::string>(), qztest::FromHex(j["body"].get<std::string>())};
}

TEST(NetMultipart, BodiesMadeByCurlRoundTrip) {
  qztest::TempDir dir("qznetmp");
  std::mt19937_64 rng(11);
  const std::string binary = qztest::RandomBytes(rng, 70000) + "\r\n--" + "\r\n\r\n";
  const std::string binFile = dir.Path() + "/data.bin";
  const std::string txtFile = dir.Path() + "/Grüße.txt";
  qztest::WriteFile(binFile, binary);
  qztest::WriteFile(txtFile, "line one\r\nline two\n");
  const Captured c = CaptureCurl({"-F", "description=Ein Text mit Ä", "-F",
                                  "upload=@" + binFile + ";type=Application/Octet-Stream", "-F",
                                  "notes=@" + txtFile, "-F", "empty="});
  for (const AnsiString& contentType : {AnsiString(c.contentType), AnsiString()}) {
    TMultiParts parts;
    ASSERT_TRUE(TqzNet::ParseMultiPartData(c.body, parts, true, contentType));
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[0].Name, "description");
    EXPECT_EQ(parts[0].SORTL, "DESCRIPTION");
    EXPECT_EQ(parts[0].Data, "Ein Text mit \xC3\x84");
    EXPECT_EQ(parts[0].FileName, u"");
    EXPECT_EQ(parts[0].CType, "");
    EXPECT_EQ(parts[1].Name, "upload");
    EXPECT_EQ(parts[1].FileName, u"data.bin");
    EXPECT_EQ(parts[1].CType, "application/octet-stream");  // lower-cased on request
    EXPECT_TRUE(parts[1].Data == binary);
    EXPECT_EQ(parts[2].FileName, u"Grüße.txt");
    EXPECT_EQ(parts[2].Data, "line one\r\nline two\n");
    EXPECT_EQ(parts[3].Name, "empty");
    EXPECT_EQ(parts[3].Data, "");
    EXPECT_EQ(TqzNet::GetMultiPartId(parts, "Upload"), 1);
    EXPECT_EQ(TqzNet::GetMultiPartId(parts, "none"), -1);
    EXPECT_EQ(TqzNet::GetMultiPartData(parts, "NOTES", "-"), "line one\r\nline two\n");
    EXPECT_EQ(TqzNet::GetMultiPartData(parts, "none", "-"), "-");
    EXPECT_EQ(TqzNet::GetMultiPartHeaderValue(parts[1], u"content-type", u"-"),
              u"Application/Octet-Stream");
    EXPECT_EQ(TqzNet::GetMultiPartHeaderValue(parts[1], u"X-None", u"-"), u"-");
    EXPECT_NE(TqzNet::GetMultiPartHeaderValue(parts[1], u"Content-Disposition", u"")
                  .find(u"filename=\"data.bin\""),
              UnicodeString::npos);
  }
  TMultiParts parts;
  ASSERT_TRUE(TqzNet::ParseMultiPartData(c.body, parts, false, c.contentType));
  EXPECT_EQ(parts[1].CType, "Application/Octet-Stream");
}

TEST(NetMultipart, BodiesMadeByPythonRoundTrip) {
  // Python's email package with the HTTP policy (CR LF lines), a preamble before the first
  // boundary, parameters in another order and quoted file names.
  const std::string out = qztest::RunPython(
      "import json, email.policy\n"
      "from email.message import EmailMessage\n"
      "m = EmailMessage(policy=email.policy.HTTP)\n"
      "m.set_type('multipart/form-data')\n"
      "m.preamble = 'ignore me'\n"
      "a = EmailMessage(policy=email.policy.HTTP)\n"
      "a.set_content(b'\\x00\\x01\\xff\\r\\n--x', maintype='application', subtype='x-raw', cte='8bit')\n"
      "del a['Content-Disposition']\n"
      "a['Content-Disposition'] = 'form-data; filename=\"a b;c.bin\"; name=\"file\"'\n"
      "b = EmailMessage(policy=email.policy.HTTP)\n"
      "b.set_content('plain value', cte='8bit')\n"
      "b['Content-Disposition'] = 'form-data; name=field'\n"
      "m.attach(a); m.attach(b)\n"
      "data = m.as_bytes()\n"
      "body = data.split(b'\\r\\n\\r\\n', 1)[1]\n"
      "print(json.dumps({'ct': m['Content-Type'], 'body': body.hex()}))\n");
  const auto j = nlohmann::json::parse(out);
  const std::string body = qztest::FromHex(j["body"].get<std::string>());
  TMultiParts parts;
  ASSERT_TRUE(TqzNet::ParseMultiPartData(body, parts, true, j["ct"].get<std::string>()));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].Name, "file");  // the name parameter after the file name
  EXPECT_EQ(parts[0].FileName, u"a b;c.bin");
  EXPECT_EQ(parts[0].CType, "application/x-raw");
  EXPECT_EQ(qztest::LowerHex(parts[0].Data).substr(0, 14), qztest::LowerHex(std::string("\x00\x01\xff\r\n--x", 8)).substr(0, 14));
  EXPECT_EQ(parts[1].Name, "field");
  EXPECT_EQ(platform::Trim(parts[1].Data), "plain value");
}

std::string MakeBody(const std::string& boundary, const std::vector<std::pair<std::string, std::string>>& parts) {
  std::string body;
  for (const auto& [name, data] : parts) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    body += data + "\r\n";
  }
  return body + "--" + boundary + "--\r\n";
}

// n bytes: a random block repeated, with the block's position written into each copy.
std::string BigData(std::mt19937_64& rng, size_t n) {
  const std::string block = qztest::RandomBytes(rng, 65536);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; out.size() < n; ++i) out.append(block).append(std::to_string(i));
  out.resize(n);
  return out;
}

TEST(NetMultipart, LargeBodiesAndManyParts) {
  std::mt19937_64 rng(5);
  const std::string big = BigData(rng, 25u << 20);
  const std::string big2 = BigData(rng, 25u << 20);
  TMultiParts parts;
  ASSERT_TRUE(TqzNet::ParseMultiPartData(MakeBody("XyZ", {{"a", big}, {"b", big2}}), parts, false));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_TRUE(parts[0].Data == big);
  EXPECT_TRUE(parts[1].Data == big2);

  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 1000; ++i) many.emplace_back("f" + std::to_string(i), std::string(static_cast<size_t>(i % 37), 'v'));
  ASSERT_TRUE(TqzNet::ParseMultiPartData(MakeBody("b", many), parts, false));
  ASSERT_EQ(parts.size(), 1000u);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(parts[static_cast<size_t>(i)].Name, "f" + std::to_string(i));
    EXPECT_EQ(parts[static_cast<size_t>(i)].Data.size(), static_cast<size_t>(i % 37));
  }
}

TEST(NetMultipart, BrokenBodiesEndTheParseWithFalse) {
  const std::string good = MakeBody("B", {{"a", "1"}, {"b", "2"}});
  struct Case {
    std::string body;
    std::string contentType;
    bool ok;
    size_t parts;
  };
  const Case cases[] = {
      {good, "", true, 2},
      {good, "multipart/form-data; boundary=B", true, 2},
      {good, "multipart/form-data; boundary=\"B\"", true, 2},
      {good, "multipart/form-data; boundary=Other", false, 0},  // the named boundary is absent
      {"\r\nrest", "", false, 0},                                // an empty first line
      {"--B\r\nContent-Disposition: form-data; name=\"a\"\r\n", "", false, 0},  // no header end
      {"--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nno end", "", false, 0},
      {"--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--B\r\nX: y\r\n", "", false, 1},
      {"--B\r\n\r\nno headers\r\n--B--\r\n", "", true, 1},       // a part without header lines
      {"--B", "", true, 0},
      {"--B--\r\n", "", true, 0},
  };
  for (const Case& c : cases) {
    TMultiParts parts;
    EXPECT_EQ(TqzNet::ParseMultiPartData(c.body, parts, false, c.contentType), c.ok) << c.body;
    EXPECT_EQ(parts.size(), c.parts) << c.body;
  }
  TMultiParts kept(3);
  EXPECT_FALSE(TqzNet::ParseMultiPartData("", kept, false));
  EXPECT_EQ(kept.size(), 3u);  // an empty body leaves the list as it was
}

}  // namespace
