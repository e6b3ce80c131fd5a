// HTTP/1.1 server on Boost.Beast and Asio, with TLS through OpenSSL.
//
// A service builds an HttpServerConfig, registers one handler and starts the server:
//
//   platform::HttpServerConfig config;
//   config.Port = 8080;                                   // 0: the system picks a free port
//   config.Bindings = {{"127.0.0.1", false}, {"::1", true}};
//   platform::HttpServer server(config);
//   server.SetHandler([](platform::HttpContext& context, platform::HttpRequestInfo& request,
//                        platform::HttpResponseInfo& response) {
//     response.Code = 200;
//     response.ContentType = "text/plain";
//     response.Body = "hello " + request.Path;
//   });
//   server.Start();                                       // raises ESocketError when a bind fails
//   int port = server.Port(0);                            // the port of the first binding
//   ...
//   server.Stop();                                        // also done by the destructor
//
// The handler interface:
// - The handler runs on the connection's own thread (one thread per connection), once per
//   request; several connections call it at the same time, so whatever it shares must be locked.
// - It receives the parsed request (HttpRequestInfo: verb, raw URI, path, decoded document path,
//   unparsed parameters including a form-urlencoded POST body, raw header lines in order, remote
//   address, host, content type and encoding, the whole body) and fills the HttpResponseInfo
//   (status code and free reason text, content type and character set, content encoding, custom
//   headers in order, Expires, the body or a file to serve). The server writes the answer after
//   the handler returns; the handler never writes to the connection itself.
// - An exception that leaves the handler is answered with 500 "Internal Server Error" and the
//   connection is closed; the server goes on serving.
//
// Limits and the sound answers of the server itself (the handler is not called for these):
// - A request whose header block exceeds MaxHeaderBytes or holds more than
//   MaximumHeaderLineCount lines: 431, connection closed. A request that cannot be parsed: 400.
// - A body over MaxRequestBodySize (declared by Content-Length or found while reading a chunked
//   body): 413 "Request Entity Too Long", sent before the body is read (a client that sent
//   "Expect: 100-continue" never sends it); the body is never held in memory.
// - More than MaxConnections open connections (0: no limit): the new connection is answered
//   503 "Service Unavailable" and closed.
// - A client that does not deliver a request header within ReadTimeoutMs, or stalls longer than
//   that while the body or the answer is transferred, is disconnected.
// - Header names and values with CR, LF or NUL (and names with characters outside the token
//   set), reason texts and content types with CR or LF are refused: the answer becomes 500 and
//   none of the handler's header lines is sent, so no answer can be split.
//
// Answers: "HTTP/1.1 <code> <reason>", then Date, Server (when ServerSoftware is set),
// Content-Type (with "; charset=..." when CharSet is set), Content-Encoding (when set), Expires
// (when set), the custom headers in the order they were added, Content-Length and Connection.
// HEAD answers carry the header only. Keep-alive follows HTTP/1.1 (HTTP/1.0 closes unless the
// client asks for keep-alive).
//
// TLS (HttpTlsOptions.Active): certificate chain file, private key (PEM, optionally encrypted with
// Password), CA file and folder for verifying clients, verify mode and depth, cipher list for TLS
// 1.2 and below, and the accepted protocol versions. TLS 1.3 is accepted whenever TLS 1.2 is.
// SSLv2 is not offered by OpenSSL and is ignored.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Exceptions.h"

namespace platform {

struct HttpBinding {
  std::string IP;     // numeric address to listen on ("0.0.0.0", "::", "127.0.0.1", "::1")
  bool IPv6 = false;  // the address is an IPv6 address
};

// TLS protocol versions a server accepts.
enum class ServerTlsVersion { SSLv2, SSLv23, SSLv3, TLSv1, TLSv1_1, TLSv1_2, TLSv1_3 };

struct HttpTlsOptions {
  bool Active = false;
  std::string CertFile;      // PEM certificate (chain)
  std::string KeyFile;       // PEM private key
  std::string Password;      // password of an encrypted key
  std::string RootCertFile;  // CA certificates for verifying clients
  std::string VerifyDirs;    // folder of hashed CA certificates
  std::string CipherList;    // OpenSSL cipher list (TLS 1.2 and below); empty: OpenSSL's default
  int VerifyDepth = 1;
  bool VerifyPeer = false;        // ask the client for a certificate and verify it
  bool FailIfNoPeerCert = false;  // refuse clients without a certificate
  bool ClientOnce = false;        // ask for it only on the first handshake
  // Accepted versions; SSLv23 stands for "every version OpenSSL allows". Empty: TLS 1.2 and up.
  std::vector<ServerTlsVersion> Versions;
};

struct HttpServerConfig {
  int Port = 0;                        // 0: the system picks a free port per binding
  std::vector<HttpBinding> Bindings;   // none: 0.0.0.0
  std::string ServerSoftware;          // written as the Server header when not empty
  int MaxConnections = 0;              // 0: no limit
  int MaximumHeaderLineCount = 1024;   // 0: no limit
  size_t MaxHeaderBytes = 64 * 1024;   // request line and header block
  uint64_t MaxRequestBodySize = 64ull * 1024 * 1024;
  uint32_t ReadTimeoutMs = 60000;      // whole header; each stall while reading or writing
  uint32_t KeepAliveTimeoutMs = 15000; // idle time between requests on one connection
  uint32_t TerminateWaitTimeMs = 5000; // Stop() waits this long for running handlers
  HttpTlsOptions Tls;
};

// One request as the server received it. All texts are the bytes received.
struct HttpRequestInfo {
  std::string Verb;            // as received ("GET", "post" stays "post")
  std::string RawUri;          // request target as received ("/a/b%20c/?x=1")
  std::string Path;            // RawUri before any "?" (not decoded)
  std::string Query;           // RawUri after the first "?" (not decoded)
  std::string Document;        // Path percent-decoded once (%XX; "+" stays)
  std::string UnparsedParams;  // Query, and for a form-urlencoded body the body, joined by "&"
  std::vector<std::string> RawHeaders;  // "Name: value", in the order received
  std::string RemoteAddress;   // the client's numeric address
  uint16_t RemotePort = 0;
  std::string Host;            // the Host header
  std::string ContentType;     // the Content-Type header
  std::string ContentEncoding; // the Content-Encoding header
  std::string Version;         // "HTTP/1.1"
  bool HasBody = false;        // a body was sent (Content-Length or chunked), even an empty one
  std::string Body;

  // The value of the first header of that name (compared without case), or empty.
  std::string Header(std::string_view name) const;
};

// The answer the handler fills.
class HttpResponseInfo {
 public:
  int Code = 200;
  std::string ReasonText;       // empty: the usual text of Code
  std::string ContentType;      // empty with a body: "text/html"
  std::string CharSet;
  std::string ContentEncoding;  // e.g. "gzip" when Body is compressed
  std::optional<std::chrono::system_clock::time_point> Expires;
  std::string Body;
  bool CloseConnection = false;

  // Appends one header line. Raises EArgumentError for a name that is not an HTTP token or a
  // name or value holding CR, LF or NUL.
  void AddCustomHeader(std::string name, std::string value);
  // Appends one "Name: value" or "Name=value" line split at the first separator (with the
  // separator ":" also "Name:value"); the same checks as AddCustomHeader.
  void AddCustomHeaderLine(std::string_view line, char separator = ':');
  const std::vector<std::pair<std::string, std::string>>& CustomHeaders() const { return headers_; }
  void ClearCustomHeaders() { headers_.clear(); }

  // Serve a file instead of Body: raises EInOutError when it cannot be opened as a regular file.
  // The file is streamed after the handler returns (Content-Length from its size).
  void ServeFile(const std::string& path);
  const std::string& FileToServe() const { return file_; }

 private:
  std::vector<std::pair<std::string, std::string>> headers_;
  std::string file_;
};

// The connection a request came on.
struct HttpContext {
  std::string RemoteAddress;
  uint16_t RemotePort = 0;
  std::string LocalAddress;
  uint16_t LocalPort = 0;
  bool Tls = false;
  uint64_t RequestsServed = 0;  // on this connection, before the current one
};

using HttpHandler = std::function<void(HttpContext&, HttpRequestInfo&, HttpResponseInfo&)>;

// The usual reason text of a status code ("Not Found"); "Unknown" for codes it does not know.
std::string HttpReasonText(int code);
// An HTTP date (RFC 7231 IMF-fixdate): "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::chrono::system_clock::time_point when);
// Decodes every %XX (hexadecimal, either case) once; other bytes, "+" and broken escapes stay.
std::string PercentDecodeOnce(std::string_view text);
// The file below `root` that `relative` names (a decoded path with "/" or "\" separators):
// "." and empty segments are skipped, ".." steps up, and a path that would climb above root,
// holds a NUL, does not name a regular file, or leads (through symbolic links) outside root
// gives nothing.
std::optional<std::string> ResolveFileInside(const std::string& root, std::string_view relative);

struct HttpServerState;
struct HttpServerListener;

class HttpServer {
 public:
  explicit HttpServer(HttpServerConfig config = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The configuration; changes take effect at the next Start().
  HttpServerConfig& Config() { return config_; }
  // Registers the handler; on a running server it takes over from the next request on
  // (without a handler every request is answered 404).
  void SetHandler(HttpHandler handler);

  // Binds every binding and starts accepting. Raises ESocketError when a binding cannot be bound
  // or listened on, and Exception for TLS files that cannot be loaded.
  void Start();
  // Stops accepting, closes open connections and waits up to TerminateWaitTimeMs for running
  // handlers.
  void Stop();
  bool Active() const { return active_; }
  // The port the binding listens on (after Start).
  int Port(size_t binding = 0) const;
  // Open connections at this moment.
  int ConnectionCount() const;

 private:
  HttpServerConfig config_;
  HttpHandler handler_;
  std::shared_ptr<HttpServerState> shared_;
  std::unique_ptr<HttpServerListener> listener_;
  std::vector<int> ports_;
  bool active_ = false;
};

}  // namespace platform
