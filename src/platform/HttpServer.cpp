#include "HttpServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <list>
#include <span>
#include <type_traits>

namespace platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

std::string_view Sv(beast::string_view text) { return {text.data(), text.size()}; }

bool HasLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// RFC 7230 token characters.
bool IsToken(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c <= 32 || c >= 127) return false;
    if (std::strchr("()<>@,;:\\\"/[]?={}", c) != nullptr) return false;
  }
  return true;
}

// Framing headers are the server's own; a handler cannot send them twice.
bool IsFramingHeader(std::string_view name) {
  return IEquals(name, "Content-Length") || IEquals(name, "Transfer-Encoding") ||
         IEquals(name, "Connection");
}

}  // namespace

// ---- free helpers ----

std::string HttpReasonText(int code) {
  switch (code) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Request Entity Too Long";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

std::string HttpDate(std::chrono::system_clock::time_point when) {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday],
                tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

std::string PercentDecodeOnce(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::optional<std::string> ResolveFileInside(const std::string& root, std::string_view relative) {
  if (root.empty() || relative.find('\0') != std::string_view::npos) return std::nullopt;
  std::vector<std::string_view> segments;
  size_t start = 0;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i == relative.size() || relative[i] == '/' || relative[i] == '\\') {
      const std::string_view segment = relative.substr(start, i - start);
      start = i + 1;
      if (segment.empty() || segment == ".") continue;
      if (segment == "..") {
        if (segments.empty()) return std::nullopt;  // would climb above the root
        segments.pop_back();
        continue;
      }
      segments.push_back(segment);
    }
  }
  if (segments.empty()) return std::nullopt;
  char rootReal[PATH_MAX];
  if (realpath(root.c_str(), rootReal) == nullptr) return std::nullopt;
  std::string candidate = rootReal;
  for (const auto& segment : segments) {
    candidate += '/';
    candidate += segment;
  }
  char real[PATH_MAX];
  if (realpath(candidate.c_str(), real) == nullptr) return std::nullopt;
  std::string rootPrefix = rootReal;
  if (rootPrefix.back() != '/') rootPrefix += '/';
  const std::string resolved = real;
  if (resolved.compare(0, rootPrefix.size(), rootPrefix) != 0) return std::nullopt;
  struct stat st {};
  if (stat(real, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return resolved;
}

// ---- request and response info ----

std::string HttpRequestInfo::Header(std::string_view name) const {
  for (const auto& line : RawHeaders) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (!IEquals(std::string_view(line).substr(0, colon), name)) continue;
    size_t b = colon + 1;
    while (b < line.size() && (line[b] == ' ' || line[b] == '\t')) ++b;
    return line.substr(b);
  }
  return {};
}

void HttpResponseInfo::AddCustomHeader(std::string name, std::string value) {
  if (!IsToken(name)) throw EArgumentError("invalid HTTP header name");
  if (HasLineBreak(value)) throw EArgumentError("HTTP header value holds a line break");
  headers_.emplace_back(std::move(name), std::move(value));
}

void HttpResponseInfo::AddCustomHeaderLine(std::string_view line, char separator) {
  const size_t at = line.find(separator);
  if (at == std::string_view::npos) throw EArgumentError("HTTP header line without a name");
  std::string_view name = line.substr(0, at);
  std::string_view value = line.substr(at + 1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  AddCustomHeader(std::string(name), std::string(value));
}

void HttpResponseInfo::ServeFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      ::access(path.c_str(), R_OK) != 0)
    throw EInOutError(("file not found: " + path).c_str());
  file_ = path;
}

// ---- the server ----

namespace {

struct Conn {
  asio::io_context ioc{1};
  std::function<void()> abort;  // closes the socket; runs on the connection's thread only
};

}  // namespace

struct HttpServerState {
  HttpServerConfig config;
  std::mutex handlerMutex;
  std::shared_ptr<const HttpHandler> handler;  // replaced as a whole by SetHandler
  std::shared_ptr<asio::ssl::context> tls;
  std::mutex mutex;
  std::condition_variable idle;
  int connections = 0;
  std::atomic<bool> stopping{false};
  std::list<Conn*> live;
};

struct HttpServerListener {
  asio::io_context ioc{1};
  std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
  std::thread thread;
};

namespace {

using Clock = std::chrono::steady_clock;

// Runs one asynchronous operation on the connection's own context to its end.
template <class Start>
beast::error_code RunOp(Conn& conn, Start&& start) {
  std::optional<beast::error_code> result;
  start([&result](beast::error_code ec, auto&&...) { result = ec; });
  conn.ioc.restart();
  conn.ioc.run();
  return result ? *result : beast::error_code(asio::error::operation_aborted);
}

template <class Stream>
tcp::socket& LowestSocket(Stream& stream) {
  return beast::get_lowest_layer(stream).socket();
}

template <class Stream>
void SetDeadline(Stream& stream, uint32_t ms) {
  beast::get_lowest_layer(stream).expires_after(std::chrono::milliseconds(ms == 0 ? 60000 : ms));
}

template <class Stream>
beast::error_code WriteAll(Conn& conn, Stream& stream, const HttpServerConfig& config,
                           std::string_view a, std::string_view b = {}) {
  SetDeadline(stream, config.ReadTimeoutMs);
  // Empty pieces are left out: a stream that writes only the first buffer of a sequence would
  // report an empty first piece as a write of nothing and end the whole write there.
  std::array<asio::const_buffer, 2> buffers;
  size_t count = 0;
  for (std::string_view piece : {a, b})
    if (!piece.empty()) buffers[count++] = asio::buffer(piece.data(), piece.size());
  if (count == 0) return {};
  return RunOp(conn, [&](auto handler) {
    asio::async_write(stream, std::span<const asio::const_buffer>(buffers.data(), count), handler);
  });
}

std::string ErrorAnswer(int code, bool close) {
  const std::string reason = HttpReasonText(code);
  std::string body = reason + "\n";
  std::string out = "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n";
  out += "Date: " + HttpDate(std::chrono::system_clock::now()) + "\r\n";
  out += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  out += close ? "Connection: close\r\n\r\n" : "\r\n";
  return out + body;
}

// The header block of an answer; false when the handler's fields would split it.
bool BuildHead(const HttpServerConfig& config, const HttpResponseInfo& response, uint64_t length,
               bool keepAlive, std::string& head) {
  if (response.Code < 100 || response.Code > 999) return false;
  const std::string reason = response.ReasonText.empty() ? HttpReasonText(response.Code)
                                                          : response.ReasonText;
  if (HasLineBreak(reason) || HasLineBreak(response.ContentType) ||
      HasLineBreak(response.CharSet) || HasLineBreak(response.ContentEncoding))
    return false;
  for (const auto& [name, value] : response.CustomHeaders())
    if (!IsToken(name) || HasLineBreak(value)) return false;
  head = "HTTP/1.1 " + std::to_string(response.Code) + " " + reason + "\r\n";
  head += "Date: " + HttpDate(std::chrono::system_clock::now()) + "\r\n";
  if (!config.ServerSoftware.empty() && !HasLineBreak(config.ServerSoftware))
    head += "Server: " + config.ServerSoftware + "\r\n";
  std::string type = response.ContentType;
  if (type.empty() && length > 0) type = "text/html";
  if (!type.empty()) {
    if (!response.CharSet.empty()) type += "; charset=" + response.CharSet;
    head += "Content-Type: " + type + "\r\n";
  }
  if (!response.ContentEncoding.empty())
    head += "Content-Encoding: " + response.ContentEncoding + "\r\n";
  if (response.Expires) head += "Expires: " + HttpDate(*response.Expires) + "\r\n";
  for (const auto& [name, value] : response.CustomHeaders()) {
    if (IsFramingHeader(name)) continue;
    head += name + ": " + value + "\r\n";
  }
  const bool bodyless = response.Code == 204 || response.Code == 304 || response.Code < 200;
  if (!bodyless) head += "Content-Length: " + std::to_string(length) + "\r\n";
  head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  return true;
}

// After refusing a request whose body is still coming, the rest is read and dropped for a moment
// so that the client sees the answer instead of a reset.
template <class Stream>
void Linger(Conn& conn, Stream& stream) {
  beast::error_code ec;
  LowestSocket(stream).shutdown(tcp::socket::shutdown_send, ec);
  std::array<char, 16384> scratch;
  const auto until = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < until) {
    beast::get_lowest_layer(stream).expires_at(until);
    ec = RunOp(conn, [&](auto handler) {
      beast::get_lowest_layer(stream).async_read_some(asio::buffer(scratch), handler);
    });
    if (ec) break;
  }
}

template <class Stream>
beast::error_code SendFile(Conn& conn, Stream& stream, const HttpServerConfig& config,
                           const std::string& head, int fd, uint64_t size) {
  std::vector<char> chunk(static_cast<size_t>(std::min<uint64_t>(size, 256 * 1024)));
  uint64_t offset = 0;
  std::string_view pending = head;  // the header goes out with the first piece of the file
  while (offset < size || !pending.empty()) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - offset));
    ssize_t got = 0;
    if (want > 0) {
      got = ::pread(fd, chunk.data(), want, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      // A file that shrank while it was sent: the answer is cut, and the connection closed, so
      // the client sees a short body instead of a complete one.
      if (got <= 0) return beast::error_code(asio::error::eof);
    }
    offset += static_cast<uint64_t>(got);
    auto ec = WriteAll(conn, stream, config, pending,
                       std::string_view(chunk.data(), static_cast<size_t>(got)));
    pending = {};
    if (ec) return ec;
  }
  return {};
}

// A request the parser refused (as opposed to a connection that closed, reset or timed out).
bool IsMalformed(const beast::error_code& ec) {
  static const auto& httpErrors = beast::error_code(http::error::bad_target).category();
  return ec.category() == httpErrors && ec != http::error::end_of_stream &&
         ec != http::error::partial_message;
}

// Plain TCP: the header, then the file straight from the page cache with sendfile(). The
// connection's own thread waits for the socket with poll(), at most the read time-out per stall,
// and gives up early when the server stops.
beast::error_code SendFilePlain(HttpServerState& state, tcp::socket& socket, const std::string& head,
                                int fd, uint64_t size) {
  beast::error_code ec;
  socket.native_non_blocking(true, ec);
  if (ec) return ec;
  const int s = socket.native_handle();
  const uint32_t limitMs = state.config.ReadTimeoutMs == 0 ? 60000 : state.config.ReadTimeoutMs;
  auto waitWritable = [&]() -> beast::error_code {
    pollfd p{s, POLLOUT, 0};
    for (uint32_t waited = 0;;) {
      const int r = ::poll(&p, 1, 200);
      if (r > 0) return {};
      if (r < 0 && errno != EINTR) return beast::error_code(errno, boost::system::system_category());
      waited += 200;
      if (state.stopping) return beast::error_code(asio::error::operation_aborted);
      if (waited >= limitMs) return beast::error_code(beast::error::timeout);
    }
  };
  size_t sent = 0;
  while (sent < head.size()) {
    const ssize_t n = ::send(s, head.data() + sent, head.size() - sent, MSG_NOSIGNAL | (size > 0 ? MSG_MORE : 0));
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (auto e = waitWritable()) return e;
    } else if (!(n < 0 && errno == EINTR)) {
      return beast::error_code(errno, boost::system::system_category());
    }
  }
  off_t offset = 0;
  while (static_cast<uint64_t>(offset) < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - static_cast<uint64_t>(offset), 1u << 30));
    const ssize_t n = ::sendfile(s, fd, &offset, want);
    if (n > 0) continue;
    if (n == 0) return beast::error_code(asio::error::eof);  // the file shrank: the answer is cut
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (auto e = waitWritable()) return e;
    } else if (errno != EINTR) {
      return beast::error_code(errno, boost::system::system_category());
    }
  }
  return {};
}

// A read of the request that failed: a body over the limit (declared or found while reading)
// gets 413 and the rest is drained for a moment; a request the parser refused gets 400; a
// connection that closed, reset or timed out gets nothing.
template <class Stream>
void AnswerReadError(Conn& conn, Stream& stream, const HttpServerConfig& config, const beast::error_code& ec) {
  if (ec == http::error::body_limit) {
    WriteAll(conn, stream, config, ErrorAnswer(413, true));
    Linger(conn, stream);
  } else if (IsMalformed(ec)) {
    WriteAll(conn, stream, config, ErrorAnswer(400, true));
  }
}

struct FileCloser {
  int fd = -1;
  ~FileCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// One connection: requests are read and answered until the client or the server ends it.
template <class Stream>
void ServeRequests(HttpServerState& state, Conn& conn, Stream& stream, HttpContext& context) {
  const HttpServerConfig& config = state.config;
  beast::flat_buffer buffer;
  for (;;) {
    if (state.stopping) return;
    http::request_parser<http::empty_body> headerParser;
    headerParser.header_limit(static_cast<std::uint32_t>(
        std::min<size_t>(config.MaxHeaderBytes, std::numeric_limits<std::uint32_t>::max())));
    headerParser.body_limit(config.MaxRequestBodySize);
    SetDeadline(stream, context.RequestsServed == 0
                            ? config.ReadTimeoutMs
                            : std::min(config.KeepAliveTimeoutMs, config.ReadTimeoutMs));
    beast::error_code ec = RunOp(conn, [&](auto handler) {
      http::async_read_header(stream, buffer, headerParser, handler);
    });
    if (ec == http::error::header_limit) {
      WriteAll(conn, stream, config, ErrorAnswer(431, true));
      return;
    }
    if (ec) {
      AnswerReadError(conn, stream, config, ec);
      return;
    }
    const auto& header = headerParser.get();
    const auto lineCount = std::distance(header.begin(), header.end());
    if (config.MaximumHeaderLineCount > 0 && lineCount > config.MaximumHeaderLineCount) {
      WriteAll(conn, stream, config, ErrorAnswer(431, true));
      return;
    }
    const bool declaredTooLarge = headerParser.content_length() &&
                                  *headerParser.content_length() > config.MaxRequestBodySize;
    const bool hasBody = headerParser.content_length().has_value() || headerParser.chunked();
    if (declaredTooLarge) {
      WriteAll(conn, stream, config, ErrorAnswer(413, true));
      Linger(conn, stream);
      return;
    }
    if (!headerParser.is_done() && IEquals(Sv(header[http::field::expect]), "100-continue")) {
      ec = WriteAll(conn, stream, config, "HTTP/1.1 100 Continue\r\n\r\n");
      if (ec) return;
    }
    http::request_parser<http::string_body> parser(std::move(headerParser));
    parser.body_limit(config.MaxRequestBodySize);
    while (!parser.is_done()) {
      SetDeadline(stream, config.ReadTimeoutMs);
      ec = RunOp(conn, [&](auto handler) { http::async_read_some(stream, buffer, parser, handler); });
      if (ec) {
        AnswerReadError(conn, stream, config, ec);
        return;
      }
    }
    auto& message = parser.get();

    HttpRequestInfo request;
    request.Verb = std::string(message.method_string());
    request.RawUri = std::string(message.target());
    const size_t question = request.RawUri.find('?');
    request.Path = request.RawUri.substr(0, question);
    if (question != std::string::npos) request.Query = request.RawUri.substr(question + 1);
    request.Document = PercentDecodeOnce(request.Path);
    request.Version = message.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
    for (const auto& field : message)
      request.RawHeaders.push_back(std::string(field.name_string()) + ": " +
                                   std::string(field.value()));
    request.RemoteAddress = context.RemoteAddress;
    request.RemotePort = context.RemotePort;
    request.Host = std::string(message[http::field::host]);
    request.ContentType = std::string(message[http::field::content_type]);
    request.ContentEncoding = std::string(message[http::field::content_encoding]);
    request.HasBody = hasBody;
    request.Body = std::move(message.body());
    request.UnparsedParams = request.Query;
    if (IEquals(request.Verb, "POST") &&
        IStartsWith(request.ContentType, "application/x-www-form-urlencoded") &&
        !request.Body.empty()) {
      if (!request.UnparsedParams.empty()) request.UnparsedParams += '&';
      request.UnparsedParams += request.Body;
    }
    bool keepAlive = message.keep_alive();
    const bool head = message.method() == http::verb::head;

    HttpResponseInfo response;
    bool failed = false;
    try {
      std::shared_ptr<const HttpHandler> handler;
      {
        std::lock_guard lock(state.handlerMutex);
        handler = state.handler;
      }
      if (handler && *handler) (*handler)(context, request, response);
      else response.Code = 404;
    } catch (...) {
      failed = true;
    }
    ++context.RequestsServed;
    if (response.CloseConnection || state.stopping) keepAlive = false;

    FileCloser file;
    uint64_t length = response.Body.size();
    if (!failed && !response.FileToServe().empty()) {
      file.fd = ::open(response.FileToServe().c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st {};
      if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) failed = true;
      else length = static_cast<uint64_t>(st.st_size);
    }
    std::string headText;
    if (failed || !BuildHead(config, response, length, keepAlive, headText)) {
      WriteAll(conn, stream, config, ErrorAnswer(500, true));
      return;
    }
    const bool bodyless = head || response.Code == 204 || response.Code == 304 || response.Code < 200;
    if (bodyless) ec = WriteAll(conn, stream, config, headText);
    else if (file.fd >= 0) {
      if constexpr (std::is_same_v<Stream, beast::tcp_stream>)
        ec = SendFilePlain(state, LowestSocket(stream), headText, file.fd, length);
      else
        ec = SendFile(conn, stream, config, headText, file.fd, length);
    }
    else ec = WriteAll(conn, stream, config, headText, response.Body);
    if (ec || !keepAlive) return;
  }
}

template <class Stream>
void Shutdown(Conn& conn, Stream& stream) {
  beast::error_code ec;
  LowestSocket(stream).shutdown(tcp::socket::shutdown_both, ec);
  LowestSocket(stream).close(ec);
  (void)conn;
}

void ServeConnection(const std::shared_ptr<HttpServerState>& state, Conn& conn, tcp::socket socket) {
  HttpContext context;
  beast::error_code ec;
  const auto remote = socket.remote_endpoint(ec);
  if (!ec) {
    context.RemoteAddress = remote.address().to_string();
    context.RemotePort = remote.port();
  }
  const auto local = socket.local_endpoint(ec);
  if (!ec) {
    context.LocalAddress = local.address().to_string();
    context.LocalPort = local.port();
  }
  socket.set_option(tcp::no_delay(true), ec);
  auto registerAbort = [&](auto& stream) {
    std::lock_guard lock(state->mutex);
    conn.abort = [&stream] {
      beast::error_code ignored;
      LowestSocket(stream).close(ignored);
    };
    state->live.push_back(&conn);
  };
  auto unregister = [&] {
    std::lock_guard lock(state->mutex);
    state->live.remove(&conn);
    conn.abort = nullptr;
  };
  try {
    if (state->tls) {
      beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), *state->tls);
      registerAbort(stream);
      context.Tls = true;
      SetDeadline(stream, state->config.ReadTimeoutMs);
      ec = RunOp(conn, [&](auto handler) {
        stream.async_handshake(asio::ssl::stream_base::server, handler);
      });
      if (!ec && !state->stopping) {
        ServeRequests(*state, conn, stream, context);
        SetDeadline(stream, 1000);
        RunOp(conn, [&](auto handler) { stream.async_shutdown(handler); });
      }
      Shutdown(conn, stream);
      unregister();
    } else {
      beast::tcp_stream stream(std::move(socket));
      registerAbort(stream);
      if (!state->stopping) ServeRequests(*state, conn, stream, context);
      Shutdown(conn, stream);
      unregister();
    }
  } catch (...) {
    unregister();
  }
}

std::shared_ptr<asio::ssl::context> MakeTlsContext(const HttpTlsOptions& tls) {
  auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
  SSL_CTX* ctx = context->native_handle();
  auto fail = [](const std::string& what) {
    std::string detail;
    if (unsigned long e = ERR_get_error(); e != 0) {
      char text[256];
      ERR_error_string_n(e, text, sizeof text);
      detail = std::string(": ") + text;
    }
    ERR_clear_error();
    throw Exception(("TLS: " + what + detail).c_str());
  };
  // Versions: from the lowest to the highest one named, leaving out those between that are not.
  auto number = [](ServerTlsVersion v) -> int {
    switch (v) {
      case ServerTlsVersion::SSLv3: return SSL3_VERSION;
      case ServerTlsVersion::TLSv1: return TLS1_VERSION;
      case ServerTlsVersion::TLSv1_1: return TLS1_1_VERSION;
      case ServerTlsVersion::TLSv1_2: return TLS1_2_VERSION;
      case ServerTlsVersion::TLSv1_3: return TLS1_3_VERSION;
      default: return 0;
    }
  };
  std::vector<ServerTlsVersion> versions = tls.Versions;
  if (versions.empty()) versions = {ServerTlsVersion::TLSv1_2};
  bool any = false;
  int low = INT_MAX, high = 0;
  for (auto v : versions) {
    if (v == ServerTlsVersion::SSLv23) any = true;
    const int n = number(v);
    if (n == 0) continue;
    low = std::min(low, n);
    high = std::max(high, n);
  }
  if (!any) {
    if (high == 0) fail("no usable protocol version");
    SSL_CTX_set_min_proto_version(ctx, low);
    SSL_CTX_set_max_proto_version(ctx, high == TLS1_2_VERSION ? 0 : high);
    auto named = [&](ServerTlsVersion v) {
      for (auto x : versions)
        if (x == v) return true;
      return false;
    };
    long off = 0;
    if (low < TLS1_VERSION && high > TLS1_VERSION && !named(ServerTlsVersion::TLSv1)) off |= SSL_OP_NO_TLSv1;
    if (low < TLS1_1_VERSION && high > TLS1_1_VERSION && !named(ServerTlsVersion::TLSv1_1))
      off |= SSL_OP_NO_TLSv1_1;
    SSL_CTX_set_options(ctx, off);
  }
  const std::string password = tls.Password;
  context->set_password_callback(
      [password](std::size_t, asio::ssl::context::password_purpose) { return password; });
  if (!tls.CertFile.empty() &&
      SSL_CTX_use_certificate_chain_file(ctx, tls.CertFile.c_str()) != 1)
    fail("cannot load the certificate " + tls.CertFile);
  const std::string& keyFile = tls.KeyFile.empty() ? tls.CertFile : tls.KeyFile;
  if (!keyFile.empty()) {
    if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
      fail("cannot load the private key " + keyFile);
    if (SSL_CTX_check_private_key(ctx) != 1) fail("the private key does not match the certificate");
  }
  if (!tls.RootCertFile.empty() || !tls.VerifyDirs.empty()) {
    if (SSL_CTX_load_verify_locations(ctx, tls.RootCertFile.empty() ? nullptr : tls.RootCertFile.c_str(),
                                      tls.VerifyDirs.empty() ? nullptr : tls.VerifyDirs.c_str()) != 1)
      fail("cannot load the CA certificates");
  }
  int mode = SSL_VERIFY_NONE;
  if (tls.VerifyPeer || tls.FailIfNoPeerCert) mode |= SSL_VERIFY_PEER;
  if (tls.FailIfNoPeerCert) mode |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
  if (tls.ClientOnce && (mode & SSL_VERIFY_PEER)) mode |= SSL_VERIFY_CLIENT_ONCE;
  SSL_CTX_set_verify(ctx, mode, nullptr);
  SSL_CTX_set_verify_depth(ctx, tls.VerifyDepth);
  if (!tls.CipherList.empty() && SSL_CTX_set_cipher_list(ctx, tls.CipherList.c_str()) != 1)
    fail("invalid cipher list " + tls.CipherList);
  return context;
}

void RefuseBusy(tcp::socket& socket) {
  beast::error_code ec;
  socket.non_blocking(true, ec);
  const std::string answer = ErrorAnswer(503, true);
  socket.write_some(asio::buffer(answer), ec);
  socket.shutdown(tcp::socket::shutdown_send, ec);
  socket.close(ec);
}

void Accept(const std::shared_ptr<HttpServerState>& state, tcp::acceptor& acceptor) {
  auto conn = std::make_shared<Conn>();
  acceptor.async_accept(conn->ioc, [state, conn, &acceptor](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || state->stopping) return;
    if (!ec) {
      bool busy = false;
      {
        std::lock_guard lock(state->mutex);
        if (state->config.MaxConnections > 0 && state->connections >= state->config.MaxConnections)
          busy = true;
        else
          ++state->connections;
      }
      if (busy) {
        RefuseBusy(socket);
      } else {
        try {
          auto pending = std::make_shared<std::optional<tcp::socket>>(std::move(socket));
          std::thread([state, conn, pending] {
            ServeConnection(state, *conn, std::move(**pending));
            pending->reset();  // the socket goes before the context it belongs to
            std::lock_guard lock(state->mutex);
            --state->connections;
            state->idle.notify_all();
          }).detach();
        } catch (...) {
          std::lock_guard lock(state->mutex);
          --state->connections;
        }
      }
    }
    Accept(state, acceptor);
  });
}

}  // namespace

HttpServer::HttpServer(HttpServerConfig config) : config_(std::move(config)) {}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::SetHandler(HttpHandler handler) {
  handler_ = std::move(handler);
  if (shared_) {
    auto copy = std::make_shared<const HttpHandler>(handler_);
    std::lock_guard lock(shared_->handlerMutex);
    shared_->handler = std::move(copy);
  }
}

void HttpServer::Start() {
  if (active_) return;
  auto state = std::make_shared<HttpServerState>();
  state->config = config_;
  state->handler = std::make_shared<const HttpHandler>(handler_);
  if (config_.Tls.Active) state->tls = MakeTlsContext(config_.Tls);
  auto listener = std::make_unique<HttpServerListener>();
  std::vector<HttpBinding> bindings = config_.Bindings;
  if (bindings.empty()) bindings.push_back({"0.0.0.0", false});
  std::vector<int> ports;
  for (const auto& binding : bindings) {
    beast::error_code ec;
    const auto address = asio::ip::make_address(binding.IP, ec);
    if (ec) throw ESocketError(("invalid binding address " + binding.IP).c_str());
    if (config_.Port < 0 || config_.Port > 65535) throw ESocketError("invalid port");
    tcp::endpoint endpoint(address, static_cast<unsigned short>(config_.Port));
    auto acceptor = std::make_unique<tcp::acceptor>(listener->ioc);
    acceptor->open(endpoint.protocol(), ec);
    if (!ec) acceptor->set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec && address.is_v6()) acceptor->set_option(asio::ip::v6_only(true), ec);
    if (!ec) acceptor->bind(endpoint, ec);
    if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
      throw ESocketError(("cannot listen on " + binding.IP + ":" + std::to_string(config_.Port) +
                          ": " + ec.message()).c_str());
    ports.push_back(acceptor->local_endpoint().port());
    listener->acceptors.push_back(std::move(acceptor));
  }
  for (auto& acceptor : listener->acceptors) Accept(state, *acceptor);
  listener->thread = std::thread([ioc = &listener->ioc] { ioc->run(); });
  shared_ = std::move(state);
  listener_ = std::move(listener);
  ports_ = std::move(ports);
  active_ = true;
}

void HttpServer::Stop() {
  if (!active_) return;
  active_ = false;
  shared_->stopping = true;
  listener_->ioc.stop();
  if (listener_->thread.joinable()) listener_->thread.join();
  for (auto& acceptor : listener_->acceptors) {
    beast::error_code ec;
    acceptor->close(ec);
  }
  {
    std::unique_lock lock(shared_->mutex);
    for (Conn* conn : shared_->live)
      asio::post(conn->ioc, [conn] {
        if (conn->abort) conn->abort();
      });
    shared_->idle.wait_for(lock, std::chrono::milliseconds(config_.TerminateWaitTimeMs),
                           [this] { return shared_->connections == 0; });
  }
  listener_.reset();
  shared_.reset();
}

int HttpServer::Port(size_t binding) const {
  return binding < ports_.size() ? ports_[binding] : 0;
}

int HttpServer::ConnectionCount() const {
  if (!shared_) return 0;
  std::lock_guard lock(shared_->mutex);
  return shared_->connections;
}

}  // namespace platform
