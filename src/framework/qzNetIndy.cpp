// TqzIndy's HTTP client half: GET, PUT and POST, one request per call through a client made by
// the global class factory (CreateHttpClient), the body to memory or to the caller's stream.
//
// Header texts: qzHHT_Raw gives every header line of the final response as "Name: value", each
// line followed by CR LF; qzHHT_Custom gives the lines whose names the client does not interpret
// itself. The interpreted names are the entity and response fields of the component: Accept-Ranges,
// Cache-Control, Connection, Content-Disposition, Content-Encoding, Content-Language,
// Content-Length, Content-Range, Content-Type, Content-Version, Date, ETag, Expires,
// Last-Modified, Location, Pragma, Proxy-Authenticate, Proxy-Connection, Server,
// Transfer-Encoding, WWW-Authenticate.
//
// Failures: a request that gets no complete answer raises EHttpClientError with curl's text (the
// status and header texts received so far are stored first); an answer whose status does not
// begin with "2" raises Exception "HTTP response code <n> - <status line>". ResponseCode is 0 when
// no status line arrived.
#include <array>
#include <sstream>

#include "CodePage.h"
#include "Exceptions.h"
#include "qzClassFactory.h"
#include "qzNet.h"
#include "qzNetClient.h"

using platform::HttpRequest;
using platform::HttpResult;

namespace qzNetClient {

std::unique_ptr<platform::HttpClient> NewHttpClient(const UnicodeString& Url) {
  return GlobalClassFactory->CreateHttpClient(Url);
}

}  // namespace qzNetClient

namespace {

constexpr std::array<std::string_view, 21> kKnownHeaders = {
    "accept-ranges", "cache-control", "connection", "content-disposition", "content-encoding",
    "content-language", "content-length", "content-range", "content-type", "content-version",
    "date", "etag", "expires", "last-modified", "location", "pragma", "proxy-authenticate",
    "proxy-connection", "server", "transfer-encoding", "www-authenticate"};

bool IsKnownHeader(std::string_view name) {
  std::string lower(name);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  for (std::string_view known : kKnownHeaders)
    if (lower == known) return true;
  return false;
}

AnsiString HeaderText(const std::vector<std::string>& lines, TqzHTTPHeaderType type) {
  AnsiString out;
  for (const std::string& line : lines) {
    const size_t colon = line.find(':');
    std::string_view name = std::string_view(line).substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (type == qzHHT_Custom && IsKnownHeader(name)) continue;
    std::string_view value;
    if (colon != std::string::npos) {
      value = std::string_view(line).substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    }
    out.append(name).append(": ").append(value).append("\r\n");
  }
  return out;
}

// One request: Sink receives the body. Stores ResponseCode and RawHeader in every case, then
// raises for a failed transfer or a status outside the 2xx family.
void Request(const char* method, const UnicodeString& AUrl, std::istream* content,
             const UnicodeString& ContentType, const platform::HttpBodySink& sink,
             int32_t& ResponseCode, AnsiString& RawHeader, TqzHTTPHeaderType HeaderType) {
  ResponseCode = 0;
  auto client = qzNetClient::NewHttpClient(AUrl);
  HttpRequest request;
  request.Method = method;
  request.Url = platform::WideToUtf8(AUrl);
  if (content) {
    if (!ContentType.empty())
      request.Headers.push_back("Content-Type: " + platform::WideToAnsi(ContentType));
    // The stream is sent from its first byte, whatever its position.
    content->clear();
    content->seekg(0, std::ios::end);
    const std::streamoff size = content->tellg();
    content->seekg(0, std::ios::beg);
    if (!*content) throw Exception("the content stream cannot be read");
    request.HasBody = true;
    request.BodySize = size;
    request.BodySource = [content](char* buffer, size_t room) -> size_t {
      content->read(buffer, static_cast<std::streamsize>(room));
      if (content->bad()) throw EInOutError("the content stream cannot be read");
      return static_cast<size_t>(content->gcount());
    };
  }
  HttpResult r;
  try {
    r = client->Perform(request, sink);
  } catch (...) {
    RawHeader = HeaderText({}, HeaderType);
    throw;
  }
  ResponseCode = r.Response.Status;
  RawHeader = HeaderText(r.Response.HeaderLines, HeaderType);
  if (!r.Ok()) throw EHttpClientError((r.Error.empty() ? platform::HttpClient::CodeText(r.Code) : r.Error).c_str());
  const std::string code = std::to_string(ResponseCode);
  if (code.front() != '2')
    throw Exception(platform::AnsiToWide("HTTP response code " + code + " - " + r.Response.StatusLine));
}

platform::HttpBodySink StringSink(AnsiString& body) {
  return [&body](const char* data, size_t size) {
    body.append(data, size);
    return true;
  };
}

}  // namespace

bool TqzIndy::ReInitializeSSL() { return true; }

AnsiString TqzIndy::HTTPGet(const UnicodeString& AUrl, int32_t& ResponseCode, AnsiString& RawHeader,
                            TqzHTTPHeaderType HeaderType) {
  AnsiString body;
  Request("GET", AUrl, nullptr, {}, StringSink(body), ResponseCode, RawHeader, HeaderType);
  return body;
}

bool TqzIndy::HTTPGet(const UnicodeString& AUrl, std::ostream& FileStream, int32_t& ResponseCode,
                      AnsiString& RawHeader, TqzHTTPHeaderType HeaderType) {
  Request("GET", AUrl, nullptr, {},
          [&FileStream](const char* data, size_t size) {
            FileStream.write(data, static_cast<std::streamsize>(size));
            return static_cast<bool>(FileStream);
          },
          ResponseCode, RawHeader, HeaderType);
  FileStream.flush();
  return static_cast<bool>(FileStream);
}

AnsiString TqzIndy::HTTPGet(const UnicodeString& AUrl, int32_t& ResponseCode) {
  AnsiString header;
  return HTTPGet(AUrl, ResponseCode, header, qzHHT_Raw);
}

AnsiString TqzIndy::HTTPGet(const UnicodeString& AUrl) {
  int32_t code = 0;
  return HTTPGet(AUrl, code);
}

#define QZ_INDY_SEND(Name, Method)                                                                 \
  AnsiString TqzIndy::Name(const UnicodeString& AUrl, std::istream& ContentStream,                 \
                           const UnicodeString& ContentType, int32_t& ResponseCode,                \
                           AnsiString& RawHeader, TqzHTTPHeaderType HeaderType) {                  \
    AnsiString body;                                                                               \
    Request(Method, AUrl, &ContentStream, ContentType, StringSink(body), ResponseCode, RawHeader,  \
            HeaderType);                                                                           \
    return body;                                                                                   \
  }                                                                                                \
  AnsiString TqzIndy::Name(const UnicodeString& AUrl, std::istream& ContentStream,                 \
                           const UnicodeString& ContentType, int32_t& ResponseCode) {              \
    AnsiString header;                                                                             \
    return Name(AUrl, ContentStream, ContentType, ResponseCode, header, qzHHT_Raw);                \
  }                                                                                                \
  AnsiString TqzIndy::Name(const UnicodeString& AUrl, const AnsiString& ContentStr,                \
                           const UnicodeString& ContentType, int32_t& ResponseCode,                \
                           AnsiString& RawHeader, TqzHTTPHeaderType HeaderType) {                  \
    std::istringstream content(ContentStr);                                                        \
    return Name(AUrl, content, ContentType, ResponseCode, RawHeader, HeaderType);                  \
  }                                                                                                \
  AnsiString TqzIndy::Name(const UnicodeString& AUrl, const AnsiString& ContentStr,                \
                           const UnicodeString& ContentType, int32_t& ResponseCode) {              \
    AnsiString header;                                                                             \
    return Name(AUrl, ContentStr, ContentType, ResponseCode, header, qzHHT_Raw);                   \
  }

QZ_INDY_SEND(HTTPPut, "PUT")
QZ_INDY_SEND(HTTPPost, "POST")
