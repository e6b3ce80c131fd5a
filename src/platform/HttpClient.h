// HttpClient: one HTTP request per call over libcurl, shared by both HTTP clients of the library.
//
//   platform::HttpClientSettings s;            // time-outs, redirects, cookies, binding, TLS
//   platform::HttpClient client(s);
//   platform::HttpRequest req{"GET", "http://127.0.0.1:8080/x"};
//   std::string body;
//   auto r = client.Perform(req, [&](const char* p, size_t n) { body.append(p, n); return true; });
//   if (r.Ok()) ... r.Response.Status, r.Response.HeaderLines ...
//
// Every Perform uses an easy handle of its own (created and freed within the call), so a client
// object may be used again and different objects may run on different threads at once.
//
// Behaviour:
// - Time-outs: ConnectTimeoutMs limits the connection set-up (0: curl's default); ReadTimeoutMs
//   ends a transfer during which no byte moved for that long (a low-speed limit of 1 byte per
//   second over the whole seconds; 0 or less: none).
// - Redirects are followed only when FollowRedirects is set, at most MaxRedirects times.
// - Cookies: with AllowCookies the cookie engine is on for the request (redirects carry them).
// - BoundIp, LocalPort and LocalPortRange pick the local end (ports outside 1-65535 are ignored).
// - Proxy: the environment's http_proxy/https_proxy/no_proxy (the system proxy settings), as
//   curl reads them.
// - Bodies are handed over as received: no Accept-Encoding is sent and nothing is decompressed.
// - No "Expect: 100-continue" is sent: the body follows the header at once.
// - TLS: the system's CA store unless CaFile/CaPath name others; VerifyPeer checks the peer's
//   certificate and host name; a client certificate/key with its password; versions from
//   MinVersion to MaxVersion; a cipher list for TLS 1.2 and below; VerifyDepth limits the chain.
// - A body shorter than its announced length, a reset or a time-out is a failure (Code != 0),
//   never a success with a truncated body. Response headers and the status seen so far are kept.
// - Memory bodies are the caller's business: the sink gets the bytes piece by piece and may stop
//   the transfer by returning false (Code then reports the abort).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class TlsVersion { Default, Tls1_0, Tls1_1, Tls1_2, Tls1_3 };

struct HttpTlsSettings {
  std::string CertFile;     // client certificate (PEM)
  std::string KeyFile;      // its private key (PEM)
  std::string KeyPassword;  // the key's pass phrase
  std::string CaFile;       // trusted CA certificates (PEM); empty: the system's store
  std::string CaPath;       // folder of hashed CA certificates
  std::string CipherList;   // OpenSSL cipher list; empty: OpenSSL's default
  TlsVersion MinVersion = TlsVersion::Tls1_2;
  TlsVersion MaxVersion = TlsVersion::Default;  // Default: the newest the library supports
  bool VerifyPeer = true;
  int VerifyDepth = -1;  // < 0: OpenSSL's default
};

struct HttpClientSettings {
  std::string UserAgent;  // empty: no User-Agent header
  long ConnectTimeoutMs = 5000;
  long ReadTimeoutMs = 300000;
  bool FollowRedirects = false;
  long MaxRedirects = 2;
  bool AllowCookies = false;
  std::string BoundIp;
  int LocalPort = 0;
  int LocalPortRange = 0;  // number of ports from LocalPort on that may be tried
  HttpTlsSettings Tls;
};

struct HttpRequest {
  static constexpr size_t kAbortBody = static_cast<size_t>(-1);
  std::string Method = "GET";
  std::string Url;
  std::vector<std::string> Headers;  // complete header lines without line ends
  // The body: either Body (when BodySource is empty) or the source, which fills the buffer and
  // returns the count (0 at the end); returning kAbortBody or throwing aborts the transfer (the
  // exception reaches the caller of Perform). BodySize is the
  // length announced in Content-Length (-1 with a source: sent chunked).
  std::string_view Body;
  std::function<size_t(char* buffer, size_t size)> BodySource;
  int64_t BodySize = -1;
  bool HasBody = false;  // a body is sent (also an empty one), with Content-Length
};

struct HttpResponse {
  int Status = 0;                        // 0 when no status line arrived
  std::string StatusLine;                // "HTTP/1.1 404 Not Found"
  std::vector<std::string> HeaderLines;  // the final response's header lines, in order
  std::string RawHeader;  // status line, header lines and the empty line, CR LF, as received
};

struct HttpResult {
  int Code = 0;             // the curl result code; 0 is success
  std::string Error;        // curl's description of the failure
  HttpResponse Response;
  uint64_t BytesSent = 0;   // body bytes handed to the connection
  bool Ok() const { return Code == 0; }
  // The failure happened before anything reached the peer (name, connection, TLS set-up).
  bool ConnectFailed() const;
};

// The sink receives the body; returning false stops the transfer.
using HttpBodySink = std::function<bool(const char* data, size_t size)>;

class HttpClient {
 public:
  explicit HttpClient(HttpClientSettings settings);
  const HttpClientSettings& Settings() const { return settings_; }
  HttpClientSettings& Settings() { return settings_; }

  HttpResult Perform(const HttpRequest& request, const HttpBodySink& sink) const;

  // curl's text for a result code.
  static std::string CodeText(int code);

 private:
  HttpClientSettings settings_;
};

}  // namespace platform
