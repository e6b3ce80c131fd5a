#include "HttpClient.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace platform {

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
      throw std::runtime_error("libcurl could not be initialised");
  });
}

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// What the callbacks of one transfer share.
struct Transfer {
  const HttpRequest* request = nullptr;
  const HttpBodySink* sink = nullptr;
  HttpResponse response;
  size_t bodyOffset = 0;  // next byte of request->Body
  uint64_t sent = 0;
  std::exception_ptr error;  // raised by the caller's source or sink
  bool inHeader = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  // Every response (an interim 100, each redirect) starts with its status line; only the last
  // response's header is kept.
  if (line.starts_with("HTTP/")) {
    t->response = HttpResponse{};
    t->response.RawHeader.assign(line);
    std::string_view status = line;
    while (!status.empty() && (status.back() == '\n' || status.back() == '\r')) status.remove_suffix(1);
    t->response.StatusLine.assign(status);
    const size_t sp = status.find(' ');
    if (sp != std::string_view::npos) {
      int code = 0;
      size_t i = sp + 1;
      for (; i < status.size() && i < sp + 4 && status[i] >= '0' && status[i] <= '9'; ++i)
        code = code * 10 + (status[i] - '0');
      if (i == sp + 4) t->response.Status = code;
    }
    t->inHeader = true;
    return n;
  }
  if (!t->inHeader) return n;
  t->response.RawHeader.append(line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.empty()) {
    t->inHeader = false;
    return n;
  }
  // A folded continuation line belongs to the header line before it.
  if ((line.front() == ' ' || line.front() == '\t') && !t->response.HeaderLines.empty()) {
    t->response.HeaderLines.back().append(" ").append(line.substr(line.find_first_not_of(" \t")));
    return n;
  }
  t->response.HeaderLines.emplace_back(line);
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (!t->sink || !*t->sink) return n;
  try {
    return (*t->sink)(data, n) ? n : 0;
  } catch (...) {
    t->error = std::current_exception();
    return 0;
  }
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t room = size * count;
  size_t n = 0;
  if (t->request->BodySource) {
    try {
      n = t->request->BodySource(buffer, room);
    } catch (...) {
      t->error = std::current_exception();
      return CURL_READFUNC_ABORT;
    }
    if (n > room) return CURL_READFUNC_ABORT;
  } else {
    const std::string_view body = t->request->Body;
    n = std::min(room, body.size() - t->bodyOffset);
    std::copy_n(body.data() + t->bodyOffset, n, buffer);
    t->bodyOffset += n;
  }
  t->sent += n;
  return n;
}

CURLcode OnSslContext(CURL*, void* ctx, void* user) {
  const auto* tls = static_cast<const HttpTlsSettings*>(user);
  if (tls->VerifyDepth >= 0) SSL_CTX_set_verify_depth(static_cast<SSL_CTX*>(ctx), tls->VerifyDepth);
  return CURLE_OK;
}

long CurlMinVersion(TlsVersion v) {
  switch (v) {
    case TlsVersion::Tls1_0: return CURL_SSLVERSION_TLSv1_0;
    case TlsVersion::Tls1_1: return CURL_SSLVERSION_TLSv1_1;
    case TlsVersion::Tls1_2: return CURL_SSLVERSION_TLSv1_2;
    case TlsVersion::Tls1_3: return CURL_SSLVERSION_TLSv1_3;
    default: return CURL_SSLVERSION_DEFAULT;
  }
}

long CurlMaxVersion(TlsVersion v) {
  switch (v) {
    case TlsVersion::Tls1_0: return CURL_SSLVERSION_MAX_TLSv1_0;
    case TlsVersion::Tls1_1: return CURL_SSLVERSION_MAX_TLSv1_1;
    case TlsVersion::Tls1_2: return CURL_SSLVERSION_MAX_TLSv1_2;
    case TlsVersion::Tls1_3: return CURL_SSLVERSION_MAX_TLSv1_3;
    default: return CURL_SSLVERSION_MAX_DEFAULT;
  }
}

}  // namespace

bool HttpResult::ConnectFailed() const {
  switch (Code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
      return true;
    default:
      return false;
  }
}

HttpClient::HttpClient(HttpClientSettings settings) : settings_(std::move(settings)) {}

std::string HttpClient::CodeText(int code) { return curl_easy_strerror(static_cast<CURLcode>(code)); }

HttpResult HttpClient::Perform(const HttpRequest& request, const HttpBodySink& sink) const {
  GlobalInit();
  HttpResult result;
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) {
    result.Code = CURLE_FAILED_INIT;
    result.Error = CodeText(result.Code);
    return result;
  }
  CURL* h = easy.get();
  Transfer t;
  t.request = &request;
  t.sink = &sink;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  const HttpClientSettings& s = settings_;

  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_URL, request.Url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
  if (!s.UserAgent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, s.UserAgent.c_str());
  if (s.ConnectTimeoutMs > 0) curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, s.ConnectTimeoutMs);
  if (s.ReadTimeoutMs > 0) {
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, std::max(1L, (s.ReadTimeoutMs + 999) / 1000));
  }
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, s.FollowRedirects ? 1L : 0L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, s.MaxRedirects);
  if (s.AllowCookies) curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
  if (!s.BoundIp.empty()) curl_easy_setopt(h, CURLOPT_INTERFACE, ("host!" + s.BoundIp).c_str());
  if (s.LocalPort >= 1 && s.LocalPort <= 65535) {
    curl_easy_setopt(h, CURLOPT_LOCALPORT, static_cast<long>(s.LocalPort));
    const int range = std::clamp(s.LocalPortRange, 1, 65536 - s.LocalPort);
    curl_easy_setopt(h, CURLOPT_LOCALPORTRANGE, static_cast<long>(range));
  }

  // TLS.
  const HttpTlsSettings& tls = s.Tls;
  curl_easy_setopt(h, CURLOPT_SSLVERSION, CurlMinVersion(tls.MinVersion) | CurlMaxVersion(tls.MaxVersion));
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, tls.VerifyPeer ? 1L : 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, tls.VerifyPeer ? 2L : 0L);
  if (!tls.CaFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, tls.CaFile.c_str());
  if (!tls.CaPath.empty()) curl_easy_setopt(h, CURLOPT_CAPATH, tls.CaPath.c_str());
  if (!tls.CertFile.empty()) curl_easy_setopt(h, CURLOPT_SSLCERT, tls.CertFile.c_str());
  if (!tls.KeyFile.empty()) curl_easy_setopt(h, CURLOPT_SSLKEY, tls.KeyFile.c_str());
  if (!tls.KeyPassword.empty()) curl_easy_setopt(h, CURLOPT_KEYPASSWD, tls.KeyPassword.c_str());
  if (!tls.CipherList.empty()) curl_easy_setopt(h, CURLOPT_SSL_CIPHER_LIST, tls.CipherList.c_str());
  if (tls.VerifyDepth >= 0) {
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, OnSslContext);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &tls);
  }

  // The request line and body.
  const bool hasBody = request.HasBody || static_cast<bool>(request.BodySource);
  if (hasBody) {
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, OnRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &t);
    const curl_off_t size = request.BodySource ? static_cast<curl_off_t>(request.BodySize)
                                               : static_cast<curl_off_t>(request.Body.size());
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, size);
    if (request.Method != "PUT") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.Method.c_str());
  } else if (request.Method == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else if (request.Method != "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.Method.c_str());
  }
  curl_slist* headers = nullptr;
  std::unique_ptr<curl_slist, ListDeleter> headerList;
  auto addHeader = [&](const std::string& line) {
    curl_slist* next = curl_slist_append(headers, line.c_str());
    if (!next) throw std::bad_alloc();
    headers = next;
    headerList.release();
    headerList.reset(headers);
  };
  addHeader("Expect:");
  for (const std::string& line : request.Headers)
    if (!line.empty()) addHeader(line);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

  const CURLcode code = curl_easy_perform(h);
  result.Code = code;
  if (code != CURLE_OK) result.Error = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
  result.Response = std::move(t.response);
  if (result.Response.Status == 0 && code == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    result.Response.Status = static_cast<int>(status);
  }
  result.BytesSent = t.sent;
  if (t.error) std::rethrow_exception(t.error);
  return result;
}

}  // namespace platform
