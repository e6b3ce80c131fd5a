// TqzNet's low-level HTTP client (the WinINet-style calls): GET, file upload in 4096-byte pieces
// and a request of any verb with a buffer as body, over the libcurl wrapper.
//
// Every request sends the agent text "KESTA 5.2" and "Pragma: no-cache"; the GET follows
// redirects as the platform's URL opener does. Time-outs, bindings and TLS come from the global
// class factory's HTTP client options.
//
// Error numbers. Where the platform would report a WinINet error, the curl result code is
// mapped onto the nearest WinINet number:
//   resolving the host or the proxy failed        12007 ERROR_INTERNET_NAME_NOT_RESOLVED
//   connection refused / unreachable, bad interface 12029 ERROR_INTERNET_CANNOT_CONNECT
//   time-out (connect or no data for ReadTimeout)  12002 ERROR_INTERNET_TIMEOUT
//   malformed URL                                  12005 ERROR_INTERNET_INVALID_URL
//   scheme other than http/https                   12006 ERROR_INTERNET_UNRECOGNIZED_SCHEME
//   TLS handshake, cipher, client certificate      12157 ERROR_INTERNET_SECURITY_CHANNEL_ERROR
//   server certificate not trusted / wrong name    12045 ERROR_INTERNET_INVALID_CA
//   empty or unreadable answer                     12152 ERROR_HTTP_INVALID_SERVER_RESPONSE
//   connection closed while sending or receiving,
//   body shorter than announced                    12030 ERROR_INTERNET_CONNECTION_ABORTED
//   too many redirects                             12156 ERROR_HTTP_REDIRECT_FAILED
//   stopped by the caller                          12017 ERROR_INTERNET_OPERATION_CANCELLED
//   out of memory                                  8     ERROR_NOT_ENOUGH_MEMORY
//   anything else                                  12004 ERROR_INTERNET_INTERNAL_ERROR
// File errors use the Windows numbers for errno: 2 not found, 3 path not found, 5 access denied
// (also a folder), 32 sharing violation (another process holds an exclusive flock on it).
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzNet.h"
#include "qzNetClient.h"

using platform::HttpRequest;
using platform::HttpResult;

namespace qzNetClient {

int WinInetError(int CurlCode) {
  switch (CurlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return 12007;
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED: return 12029;
    case CURLE_OPERATION_TIMEDOUT: return 12002;
    case CURLE_URL_MALFORMAT: return 12005;
    case CURLE_UNSUPPORTED_PROTOCOL: return 12006;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED: return 12157;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE: return 12045;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return 12152;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return 12030;
    case CURLE_TOO_MANY_REDIRECTS: return 12156;
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_READ_ERROR:
    case CURLE_WRITE_ERROR: return 12017;
    case CURLE_OUT_OF_MEMORY: return 8;
    default: return 12004;
  }
}

std::vector<std::string> SplitHeaderLines(const std::string& Lines) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < Lines.size()) {
    size_t end = Lines.find('\n', pos);
    if (end == std::string::npos) end = Lines.size();
    std::string line = Lines.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out.push_back(std::move(line));
    pos = end + 1;
  }
  return out;
}

}  // namespace qzNetClient

namespace {

constexpr size_t kPieceSize = 4096;
// Bodies collected in memory are refused beyond this size (a stream variant has no limit).
constexpr size_t kMaxMemoryBody = size_t{1} << 31;

std::unique_ptr<platform::HttpClient> WinInetClient(const UnicodeString& url) {
  auto client = qzNetClient::NewHttpClient(url);
  client->Settings().UserAgent = "KESTA 5.2";
  // The platform keeps its own redirect handling apart from the component options.
  client->Settings().FollowRedirects = false;
  return client;
}

[[noreturn]] void Raise(const char* text, int number) {
  throw Exception((std::string(text) + std::to_string(number)).c_str());
}

int WindowsFileError(int err) {
  switch (err) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM:
    case EISDIR: return 5;
    case EMFILE:
    case ENFILE: return 4;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY: return 32;
    default: return err;
  }
}

struct FileHandle {
  int fd = -1;
  FileHandle() = default;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

// The collecting sink of the memory bodies.
platform::HttpBodySink MemorySink(AnsiString& body) {
  return [&body](const char* data, size_t size) {
    if (body.size() + size > kMaxMemoryBody) return false;
    body.append(data, size);
    return true;
  };
}

// The URL the upload goes to: server, port (80 or 443 when the URL names none) and path.
std::string UploadUrl(const UnicodeString& AUrl) {
  const bool https = TqzNet::IsHTTPSUrl(AUrl);
  int port = TqzNet::GetPortFromUrl(AUrl);
  if (port == 0) port = https ? 443 : 80;
  UnicodeString host = TqzNet::GetServerFromUrl(AUrl);
  if (host.find(u':') != UnicodeString::npos) host = u"[" + host + u"]";
  return platform::WideToUtf8((https ? u"https://" : u"http://") + host + u":" +
                              platform::IntToStr(port) + TqzNet::GetPathFromUrl(AUrl));
}

}  // namespace

AnsiString TqzNet::HTTPGet(const UnicodeString& AUrl, int32_t& AResponseCode,
                           const AnsiString& ARequestHeader, AnsiString& AResponseHeader) {
  AResponseCode = 0;
  AnsiString body;
  auto client = WinInetClient(AUrl);
  client->Settings().FollowRedirects = true;
  client->Settings().MaxRedirects = 10;
  HttpRequest request;
  request.Url = platform::WideToUtf8(AUrl);
  request.Headers = qzNetClient::SplitHeaderLines(ARequestHeader);
  request.Headers.insert(request.Headers.begin(), "Pragma: no-cache");
  const HttpResult r = client->Perform(request, MemorySink(body));
  if (r.Response.Status == 0)
    Raise("internet open url exception code ", qzNetClient::WinInetError(r.Code));
  AResponseHeader = r.Response.RawHeader;
  AResponseCode = r.Response.Status;
  // A body cut short (or over the memory limit) is an error, never a shorter answer.
  if (!r.Ok()) Raise("internet read file exception code ", qzNetClient::WinInetError(r.Code));
  return body;
}

AnsiString TqzNet::HTTPGet(const UnicodeString& AUrl, int32_t& AResponseCode) {
  AnsiString header;
  return HTTPGet(AUrl, AResponseCode, {}, header);
}

bool TqzNet::HTTPPutFile(const UnicodeString& AUrl, const UnicodeString& AFile,
                         int32_t& AResponseCode, AnsiString& AResponseHeader,
                         const TqzHTTPProgressProc& Progress, bool DelFile) {
  AResponseCode = 0;
  const std::string url = UploadUrl(AUrl);
  auto client = WinInetClient(AUrl);
  const std::string path = platform::WideToUtf8(AFile);
  FileHandle file;
  file.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st{};
  if (file.fd < 0) Raise("file handle exception code ", WindowsFileError(errno));
  // Shared with nobody: a process that holds the file locked keeps it from being sent.
  if (flock(file.fd, LOCK_EX | LOCK_NB) != 0 || fstat(file.fd, &st) != 0)
    Raise("file handle exception code ", WindowsFileError(errno));
  if (S_ISDIR(st.st_mode)) Raise("file handle exception code ", 5);
  const uint64_t size = static_cast<uint64_t>(st.st_size);

  uint64_t sent = 0;
  bool abort = false;
  HttpRequest request;
  request.Method = "PUT";
  request.Url = url;
  request.Headers = {"Pragma: no-cache"};
  request.HasBody = true;
  request.BodySize = static_cast<int64_t>(size);
  // The file is reported in pieces of 4096 bytes. As many whole pieces as the connection's
  // buffer takes are read at once and go out in one write, so small pieces cost no extra system
  // calls; when the callback aborts, the pieces after the current one are not sent.
  request.BodySource = [&](char* buffer, size_t room) -> size_t {
    if (abort) return HttpRequest::kAbortBody;
    const uint64_t left = size - sent;
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, room - room % kPieceSize));
    if (want == 0) want = static_cast<size_t>(std::min<uint64_t>(left, room));
    size_t got = 0;
    while (got < want) {
      const ssize_t n = pread(file.fd, buffer + got, want - got, static_cast<off_t>(sent + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EFileError(u"the file cannot be read: " + platform::Utf8ToWide(std::strerror(errno)));
      if (n == 0) throw EFileError(u"the file became shorter while it was sent");
      got += static_cast<size_t>(n);
    }
    size_t handed = 0;
    while (handed < got && !abort) {
      const size_t piece = std::min(kPieceSize, got - handed);
      handed += piece;
      sent += piece;
      if (Progress) Progress(AFile, sent, size, abort);
    }
    return handed;
  };
  HttpResult r;
  try {
    r = client->Perform(request, {});
  } catch (const EFileError&) {
    Raise("file handle exception code ", 30);  // ERROR_READ_FAULT
  }
  if (abort && r.Response.Status == 0) {
    // Stopped by the callback before an answer came: not sent, nothing more to report.
    return false;
  }
  if (r.Response.Status == 0) {
    const int number = qzNetClient::WinInetError(r.Code);
    if (r.ConnectFailed()) Raise("internet connect exception code ", number);
    throw Exception(("http response code " + std::to_string(number) + " (" + r.Error + ")").c_str());
  }
  AResponseHeader = r.Response.RawHeader;
  AResponseCode = r.Response.Status;
  const bool complete = r.Ok() && !abort && sent == size;
  file.Close();
  if (complete && CheckHTTPResponseCode(AResponseCode) && DelFile) unlink(path.c_str());
  return complete;
}

bool TqzNet::HTTPPutFile(const UnicodeString& AUrl, const UnicodeString& AFile,
                         int32_t& AResponseCode, const TqzHTTPProgressProc& Progress,
                         bool DelFile) {
  AnsiString header;
  return HTTPPutFile(AUrl, AFile, AResponseCode, header, Progress, DelFile);
}

AnsiString TqzNet::HTTPPutBuffer(const UnicodeString& AUrl, const AnsiString& ABuffer,
                                 int32_t& AResponseCode, const AnsiString& ARequestHeader,
                                 AnsiString& AResponseHeader, const AnsiString& ACommand) {
  AResponseCode = 0;
  AnsiString body;
  const std::string url = UploadUrl(AUrl);
  auto client = WinInetClient(AUrl);
  HttpRequest request;
  request.Method = ACommand.empty() ? "PUT" : ACommand;
  request.Url = url;
  request.Headers = qzNetClient::SplitHeaderLines(ARequestHeader);
  request.Headers.insert(request.Headers.begin(), "Pragma: no-cache");
  request.Body = ABuffer;
  request.HasBody = true;
  const HttpResult r = client->Perform(request, MemorySink(body));
  if (r.Response.Status == 0) {
    const int number = qzNetClient::WinInetError(r.Code);
    if (r.ConnectFailed()) Raise("internet connect exception code ", number);
    if (r.Ok()) Raise("http query info exception code ", number);
    Raise("http send request exception code ", number);
  }
  AResponseCode = r.Response.Status;
  AResponseHeader = r.Response.RawHeader;
  if (!r.Ok()) Raise("internet read file exception code ", qzNetClient::WinInetError(r.Code));
  return body;
}

AnsiString TqzNet::HTTPPutBuffer(const UnicodeString& AUrl, const AnsiString& ABuffer,
                                 int32_t& AResponseCode) {
  AnsiString header;
  return HTTPPutBuffer(AUrl, ABuffer, AResponseCode, {}, header, "PUT");
}
