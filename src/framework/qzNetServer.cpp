#include "qzNetServer.h"

#include <zlib.h>

#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzAnsiStringList.h"
#include "qzBase64.h"
#include "qzDateTime.h"
#include "qzFiles.h"
#include "qzKesta.h"
#include "qzMD5.h"
#include "qzNet.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

namespace {

AnsiString AsciiUpper(AnsiString text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

// The header text of a UTF-16 value (content type, character set): through the ANSI code page.
std::string HeaderText(const UnicodeString& text) { return platform::WideToAnsi(text); }

struct VerbEntry {
  TqzHTTPCommands command;
  const char* text;
  bool readBack;  // writing this text into CommandStr gives this value
};

const VerbEntry kVerbs[] = {
    {qzHC_Unknown, "PUT", false},       {qzHC_None, "PUT", false},
    {qzHC_Head, "HEAD", true},          {qzHC_Get, "GET", true},
    {qzHC_Post, "POST", true},          {qzHC_Delete, "DELETE", true},
    {qzHC_Put, "PUT", true},            {qzHC_Trace, "TRACE", true},
    {qzHC_Option, "OPTIONS", false},    {qzHC_Options, "OPTIONS", true},
    {qzHC_Patch, "PATCH", true},        {qzHC_Copy, "COPY", true},
    {qzHC_Lock, "LOCK", true},          {qzHC_Unlock, "UNLOCK", true},
    {qzHC_Mkcol, "MKCOL", true},        {qzHC_Move, "MOVE", true},
    {qzHC_Propfind, "PROPFIND", true},  {qzHC_Proppatch, "PROPPATCH", true},
    {qzHC_Link, "LINK", true},          {qzHC_Unlink, "UNLINK", true},
    {qzHC_Purge, "PURGE", true},        {qzHC_View, "VIEW", true},
};

// A deflate state with the gzip wrapper at one level, and its output buffer, kept between
// answers: setting one up (a quarter megabyte of tables and window, faulted in afresh and zeroed
// each time) costs more than compressing a 100 KB answer at level 1.
struct Deflater {
  z_stream zs{};
  int level = 0;
  std::vector<char> out;
  ~Deflater() { deflateEnd(&zs); }
};

class DeflaterPool {
 public:
  // A reset state for `level`: a kept one, or a new one.
  std::unique_ptr<Deflater> Take(int level) {
    {
      std::lock_guard lock(mutex_);
      for (size_t i = free_.size(); i-- > 0;) {
        if (free_[i]->level != level) continue;
        auto deflater = std::move(free_[i]);
        free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(i));
        if (deflateReset(&deflater->zs) == Z_OK) return deflater;
        break;  // a state that cannot be reset is dropped
      }
    }
    auto deflater = std::make_unique<Deflater>();
    deflater->level = level;
    if (deflateInit2(&deflater->zs, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      deflater->zs.state = nullptr;  // nothing to end
      throw EZlibError("deflate initialisation failed");
    }
    return deflater;
  }

  // Keeps a state for later; a pool that is full, or a buffer grown past 4 MiB, is let go.
  void Give(std::unique_ptr<Deflater> deflater) {
    if (deflater->out.size() > (4u << 20)) return;
    std::lock_guard lock(mutex_);
    if (free_.size() < 32) free_.push_back(std::move(deflater));
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<Deflater>> free_;
};

DeflaterPool& Deflaters() {
  static DeflaterPool pool;
  return pool;
}

// gzip (deflate with a 15-bit window and the gzip wrapper) at a zlib level.
AnsiString Gzip(const AnsiString& data, int level) {
  auto deflater = Deflaters().Take(level);
  z_stream& zs = deflater->zs;
  std::vector<char>& out = deflater->out;
  const size_t bound = deflateBound(&zs, static_cast<uLong>(data.size())) + 32;
  if (out.size() < bound) out.resize(bound);
  size_t consumed = 0;
  int rc = Z_OK;
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(std::min<size_t>(out.size(), UINT_MAX));
  while (rc != Z_STREAM_END) {
    if (zs.avail_in == 0 && consumed < data.size()) {
      const size_t piece = std::min<size_t>(data.size() - consumed, UINT_MAX / 2);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + consumed));
      zs.avail_in = static_cast<uInt>(piece);
      consumed += piece;
    }
    if (zs.avail_out == 0) {
      const size_t used = zs.total_out;
      out.resize(out.size() * 2);
      zs.next_out = reinterpret_cast<Bytef*>(out.data() + used);
      zs.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - used, UINT_MAX));
    }
    rc = deflate(&zs, consumed < data.size() ? Z_NO_FLUSH : Z_FINISH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw EZlibError("deflate failed");
  }
  AnsiString result(out.data(), zs.total_out);
  zs.next_in = nullptr;  // the state keeps no pointer into this answer's texts
  zs.next_out = nullptr;
  Deflaters().Give(std::move(deflater));
  return result;
}

int ZlibLevel(int32_t CompressionLevel) {
  switch (CompressionLevel) {
    case 0: return Z_NO_COMPRESSION;
    case 1: return Z_BEST_SPEED;
    case 2: return Z_DEFAULT_COMPRESSION;
    default: return Z_BEST_COMPRESSION;
  }
}

std::chrono::system_clock::time_point FromDateTime(TDateTime value) {
  const double seconds = (value - 25569.0) * 86400.0;
  return std::chrono::system_clock::time_point(
      std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000.0 + (seconds >= 0 ? 0.5 : -0.5))));
}

}  // namespace

// ---- TqzHTTPHeaderMap, TqzHTTPResponse ----

TqzHTTPResponse::TqzHTTPResponse() = default;

void TqzHTTPResponse::Clear() {
  FHeader.Clear();
  Code = 0;
  ContentType.clear();
  FContentEncoding.clear();
  ContentText.clear();
  FContentStream.str(std::string());
  FContentStream.clear();
}

AnsiString TqzHTTPHeaderMap::GetHeader(const UnicodeString& Item) const {
  return FHeader.GetValue(UpperCaseStr(Item), TqzHTTPHeader{}).Value;
}

void TqzHTTPHeaderMap::SetHeader(const UnicodeString& Item, const AnsiString& Value) {
  FHeader.AddOrSetValue(UpperCaseStr(Item), TqzHTTPHeader{platform::WideToAnsi(Item), Value});
}

void TqzHTTPHeaderMap::GetHeaderList(TStringList& List) const {
  List.Clear();
  for (const auto& [key, entry] : FHeader) List.Add(platform::AnsiToWide(entry.Name));
}

void TqzHTTPHeaderMap::GetHeaderList(std::unique_ptr<TStringList>& List) const {
  if (!List) List = std::make_unique<TStringList>();
  GetHeaderList(*List);
}

// ---- TqzHTTPRequest ----

TqzHTTPRequest::TqzHTTPRequest() = default;

void TqzHTTPRequest::SetCommandStr(const AnsiString& Value) {
  FCommandStr = AsciiUpper(Value);
  FCommand = qzHC_Unknown;
  for (const auto& verb : kVerbs)
    if (verb.readBack && FCommandStr == verb.text) FCommand = verb.command;
}

void TqzHTTPRequest::SetCommand(TqzHTTPCommands Value) {
  FCommand = Value;
  FCommandStr = "PUT";
  for (const auto& verb : kVerbs)
    if (verb.command == Value) FCommandStr = verb.text;
}

AnsiString TqzHTTPRequest::RawHeader() {
  SetHeader(u"Date", platform::HttpDate(FromDateTime(TqzDateTime::GMTNow())));
  SetHeader(u"Accept-Encoding", "gzip");
  SetHeader(u"User-Agent", "KESTA 5.2");
  if (FAuthentication.AuthType == qzHAT_Basic)
    SetHeader(u"Authorization",
              "Basic " + TqzBase64::StrToBase64(platform::WideToAnsi(
                             FAuthentication.UserName + u":" + FAuthentication.Password)));
  if (!ContentType.empty())
    SetHeader(u"Content-Type", HeaderText(ContentType));
  else
    SetHeader(u"Content-Type", FCommand == qzHC_Post ? "multipart/form-data" : "application/octet-stream");
  SetHeader(u"Content-Length", std::to_string(ContentText.size()));
  SetHeader(u"Content-MD5", TqzBase64::StrToBase64(TqzMD5::GetMD5FromString(ContentText)));
  AnsiString out;
  for (const auto& [key, entry] : FHeader) out += entry.Name + ": " + entry.Value + "\r\n";
  return out;
}

void TqzHTTPRequest::Clear() {
  FHeader.Clear();
  ContentType.clear();
  ContentEncoding.clear();
  ContentText.clear();
  FContentStream.str(std::string());
  FContentStream.clear();
}


void TqzHTTPRequest::GetQueryList(TStringList& List) const {
  List.Clear();
  for (const auto& [key, value] : FURIQuery) List.Add(key);
}

void TqzHTTPRequest::GetQueryList(std::unique_ptr<TStringList>& List) const {
  if (!List) List = std::make_unique<TStringList>();
  GetQueryList(*List);
}

UnicodeString TqzHTTPRequest::GetURIQueryItem(const UnicodeString& Item) const {
  return TqzTypes::VarToStr(FURIQuery.GetValue(LowerCaseStr(Item), Variant(u"")));
}

void TqzHTTPRequest::SetURIQueryItem(const UnicodeString& Item, const UnicodeString& Value) {
  FURIQuery.AddOrSetValue(LowerCaseStr(Item), Variant(Value));
}

void TqzHTTPRequest::LoadFromFile(const UnicodeString& AFile) {
  AnsiString data;
  if (TqzFiles::LoadFileToString(AFile, data)) ContentText = std::move(data);
  ContentType = TqzFiles::GetMIMEType(AFile, u"text/plain");
}

// ---- TqzIndyServer ----

AnsiString TqzIndyServer::HttpStatusText(int32_t HTTPCode) {
  switch (HTTPCode) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-authoritative Information ";
    case 204: return "No Content";
    case 205: return "Reset Content ";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Moved Temporarily";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method not allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Request Entity Too Long";
    case 414: return "Request-URI Too Long. 256 Chars max";
    case 415: return "Unsupported Media Type";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway timeout";
    case 505: return "HTTP version not supported";
    default: return "Unknown";
  }
}

bool TqzIndyServer::SetHTTPResponse(platform::HttpResponseInfo& AResponseInfo, int32_t HTTPCode,
                                    const AnsiString& Content, const UnicodeString& ContentType,
                                    const UnicodeString& Charset, bool Compress,
                                    int32_t CompressionLevel) {
  AResponseInfo.ContentType = HeaderText(ContentType);
  AResponseInfo.CharSet = HeaderText(Charset);
  AResponseInfo.Code = HTTPCode;
  AResponseInfo.ReasonText = HttpStatusText(HTTPCode);
  if (Compress) {
    AResponseInfo.Body = Gzip(Content, ZlibLevel(CompressionLevel));
    AResponseInfo.ContentEncoding = "gzip";
  } else {
    AResponseInfo.Body = Content;
    AResponseInfo.ContentEncoding.clear();
  }
  return true;
}

bool TqzIndyServer::SetHTTPResponse(platform::HttpResponseInfo& AResponseInfo, int32_t HTTPCode,
                                    const AnsiString& Content,
                                    const std::vector<AnsiString>& CustomHeaders,
                                    const UnicodeString& ContentType, const UnicodeString& Charset) {
  for (const auto& line : CustomHeaders) AResponseInfo.AddCustomHeaderLine(line, ':');
  return SetHTTPResponse(AResponseInfo, HTTPCode, Content, ContentType, Charset, false, 0);
}

bool TqzIndyServer::SetHTTPResponse(const platform::HttpRequestInfo& ARequestInfo,
                                    platform::HttpResponseInfo& AResponseInfo,
                                    platform::HttpContext& AContext, const UnicodeString& FileName,
                                    int32_t Expires) {
  (void)AContext;  // the server streams the file on the connection after the handler returns
  std::string path;
  if (!FileName.empty()) {
    for (char16_t c : FileName)
      if (c != u'?') path += platform::WideToUtf8(UnicodeString(1, c == u'\\' ? u'/' : c));
  } else {
    std::string relative = ARequestInfo.Document.size() > 5 ? ARequestInfo.Document.substr(5) : "";
    std::erase(relative, '?');
    const auto resolved =
        platform::ResolveFileInside(platform::WideToUtf8(TqzKesta::GetPubRootPath()), relative);
    if (!resolved) {
      SetHTTPResponse(AResponseInfo, 404, "Not Found", u"text/plain", u"", false, 0);
      return true;
    }
    path = *resolved;
  }
  const UnicodeString widePath =
      platform::IsValidUtf8(path) ? platform::Utf8ToWide(path) : platform::AnsiToWide(path);
  AResponseInfo.ContentType = HeaderText(TqzFiles::GetMIMEType(widePath, u"text/plain"));
  AResponseInfo.CharSet.clear();
  AResponseInfo.ContentEncoding.clear();
  AResponseInfo.Expires = std::chrono::system_clock::now() + std::chrono::hours(24) * Expires;
  AResponseInfo.Code = 200;
  AResponseInfo.ReasonText = HttpStatusText(200);
  AResponseInfo.ServeFile(path);
  return true;
}

bool TqzIndyServer::SetHTTPResponse(platform::HttpResponseInfo& AResponseInfo,
                                    const TqzHTTPResponse& AResponse) {
  for (const auto& [key, entry] : AResponse.Headers())
    AResponseInfo.AddCustomHeader(platform::WideToAnsi(key), entry.Value);
  return SetHTTPResponse(AResponseInfo, AResponse.Code, AResponse.ContentText, AResponse.ContentType,
                         platform::AnsiToWide(AResponse.CharSet), false, 0);
}

AnsiString TqzIndyServer::GetPostStreamString(const platform::HttpRequestInfo& ARequestInfo) {
  return ARequestInfo.HasBody ? ARequestInfo.Body : AnsiString();
}

UnicodeString TqzIndyServer::GetRequestURI(const platform::HttpRequestInfo& ARequestInfo) {
  return platform::AnsiToWide(ARequestInfo.Path);
}

std::unique_ptr<TqzHTTPRequest> TqzIndyServer::GetHTTPRequestObject(
    const platform::HttpRequestInfo& ARequestInfo) {
  auto request = std::make_unique<TqzHTTPRequest>();
  request->SetCommandStr(ARequestInfo.Verb);
  request->URIPath = ARequestInfo.Path;
  request->URIQueryUnparsed = ARequestInfo.UnparsedParams;
  request->URIQueryEncoding = qzENC_None;
  request->ContentType = platform::AnsiToWide(ARequestInfo.ContentType);
  request->ContentEncoding = platform::AnsiToWide(ARequestInfo.ContentEncoding);
  request->FHost = platform::AnsiToWide(ARequestInfo.Host);
  request->FIP = platform::AnsiToWide(ARequestInfo.RemoteAddress);
  request->ContentText.clear();
  request->URI = request->URIQueryUnparsed.empty()
                     ? request->URIPath
                     : request->URIPath + "?" + request->URIQueryUnparsed;
  request->FURIPathSegments.Clear();
  if (request->URIPath.size() > 1) {
    AnsiString path = request->URIPath;
    if (!path.empty() && path.front() == '/') path.erase(0, 1);
    if (!path.empty() && path.back() == '/') path.pop_back();
    TAnsiStringList pieces;
    TqzStrings::SplitString(path, "/", pieces);
    for (int i = 0; i < pieces.Count(); ++i) request->FURIPathSegments.Add(TqzNet::PercentDecode(pieces[i]));
  }
  if (ARequestInfo.HasBody) request->ContentText = ARequestInfo.Body;
  for (const auto& line : ARequestInfo.RawHeaders) {
    if (line.empty()) continue;
    const size_t colon = line.find(':');
    const AnsiString name = colon == AnsiString::npos ? AnsiString() : platform::Trim(line.substr(0, colon));
    if (name.empty()) continue;
    request->SetHeader(platform::AnsiToWide(name), platform::Trim(line.substr(colon + 1)));
  }
  TqzEncoding encoding = qzENC_None;
  const TqzUrlParams params = TqzNet::ParseUrlParams(request->URIQueryUnparsed, encoding);
  request->URIQueryEncoding = encoding;
  for (const auto& param : params) request->SetURIQueryItem(param.Param, param.Value);
  return request;
}
