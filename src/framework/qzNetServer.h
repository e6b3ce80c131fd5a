// The server half of TqzIndy (joined into TqzIndy) and the HTTP request and response objects.
//
// A service serves HTTP by registering one handler with the server that the class factory makes
// (TqzClassFactory::CreateHttpServer, a platform::HttpServer; see HttpServer.h for the handler
// interface) and answering each request with these operations:
//
//   server->SetHandler([](platform::HttpContext& context, platform::HttpRequestInfo& request,
//                         platform::HttpResponseInfo& response) {
//     auto object = TqzIndyServer::GetHTTPRequestObject(request);   // verb, path, query, headers
//     if (object->URIPathSegments().Count() > 0 && object->URIPathSegments()[0] == u"pub")
//       TqzIndyServer::SetHTTPResponse(request, response, context, u"", 7);   // a static file
//     else
//       TqzIndyServer::SetHTTPResponse(response, 200, "hello", u"text/plain", u"utf-8", true, 9);
//   });
//
// SetHTTPResponse fills the response; the server writes it when the handler returns. Status texts
// come from the table of HttpStatusText ("Unknown" for codes it does not list). Compression
// levels: 0 none (gzip framing around stored blocks), 1 fastest, 2 zlib's default, any other the
// best. Header lines with CR or LF raise EArgumentError (no answer can be split).
//
// Static files (SetHTTPResponse with an empty FileName): the request's document path (decoded
// once) without its first five characters ("/pub/") names a file below the installation's public
// folder; "." and ".." segments are resolved, and a path that climbs out of the folder, leads
// out of it through a symbolic link, or names no regular file is answered 404 "Not Found". A
// FileName given by the caller is served as it is and raises EInOutError when it cannot be read.
//
// TqzHTTPRequest and TqzHTTPResponse keep their headers under the upper-cased name (setting a
// name that differs only in case replaces the entry; Name keeps the last spelling) and list them
// in the map's own order. An object belongs to the thread that made it.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "HttpServer.h"
#include "StringList.h"
#include "Text.h"
#include "Variant.h"
#include "qzGenerics.h"
#include "qzTypes.h"

enum TqzHTTPAuthenticationType : uint8_t { qzHAT_None, qzHAT_Basic, qzHAT_Bearer };

class TqzHTTPAuthentication {
 public:
  TqzHTTPAuthenticationType AuthType = qzHAT_None;
  UnicodeString UserName;
  UnicodeString Password;
  UnicodeString Token;  // carried; the raw header writes an Authorization line only for Basic
};

// One header of a request or response object.
struct TqzHTTPHeaderEntry {
  AnsiString Name;   // the name as it was set last
  AnsiString Value;
};

// The header map of both objects: entries under the upper-cased name.
class TqzHTTPHeaderMap {
 public:
  using TqzHTTPHeader = TqzHTTPHeaderEntry;

  // The value stored for that name (compared after upper-casing), or the empty text.
  AnsiString GetHeader(const UnicodeString& Item) const;
  // Stores the entry under the upper-cased name, replacing an earlier one; Name keeps Item.
  void SetHeader(const UnicodeString& Item, const AnsiString& Value);
  // Empties List and appends every header's Name; an absent list is created for the caller.
  void GetHeaderList(TStringList& List) const;
  void GetHeaderList(std::unique_ptr<TStringList>& List) const;
  // The header map: upper-cased name -> entry.
  const TqzDictionary<UnicodeString, TqzHTTPHeader>& Headers() const { return FHeader; }

 protected:
  TqzDictionary<UnicodeString, TqzHTTPHeader> FHeader{100};
};

class TqzHTTPResponse : public TqzHTTPHeaderMap {
 public:
  TqzHTTPResponse();

  int32_t Code = 200;
  UnicodeString ContentType;
  AnsiString ContentText;  // the body
  AnsiString CharSet;

  const UnicodeString& ContentEncoding() const { return FContentEncoding; }
  const AnsiString& RawHeader() const { return FRawHeader; }  // no operation writes it
  std::stringstream& ContentStream() { return FContentStream; }
  uint32_t ContentLength() const { return static_cast<uint32_t>(ContentText.size()); }

  // Empties the headers, sets Code to 0, clears ContentType, ContentEncoding and ContentText and
  // truncates the content stream; CharSet stays.
  void Clear();

 private:
  UnicodeString FContentEncoding;
  AnsiString FRawHeader;
  std::stringstream FContentStream;
};

class TqzHTTPRequest : public TqzHTTPHeaderMap {
 public:
  TqzHTTPRequest();

  UnicodeString ContentType;
  UnicodeString ContentEncoding;
  AnsiString ContentText;        // the body
  AnsiString URI;                // path and, when there is one, "?" and the unparsed query
  AnsiString URIPath;            // the request path, not decoded
  AnsiString URIQueryUnparsed;   // the query parameters as received
  TqzEncoding URIQueryEncoding = qzENC_None;

  // The verb: writing the text upper-cases it (ASCII) and sets Command from the verb table
  // (qzHC_Unknown for any other text); writing Command sets the table's text.
  const AnsiString& CommandStr() const { return FCommandStr; }
  void SetCommandStr(const AnsiString& Value);
  TqzHTTPCommands Command() const { return FCommand; }
  void SetCommand(TqzHTTPCommands Value);

  TqzHTTPAuthentication& Authentication() { return FAuthentication; }
  const TStringList& URIPathSegments() const { return FURIPathSegments; }
  TStringList& URIPathSegments() { return FURIPathSegments; }
  const UnicodeString& Host() const { return FHost; }
  const UnicodeString& IP() const { return FIP; }
  std::stringstream& ContentStream() { return FContentStream; }
  uint32_t ContentLength() const { return static_cast<uint32_t>(ContentText.size()); }

  // Sets Date (now, GMT), Accept-Encoding, User-Agent, Authorization (Basic only), Content-Type
  // (multipart/form-data for POST, else application/octet-stream, when ContentType is empty),
  // Content-Length and Content-MD5 (Base64 of the upper-case hexadecimal MD5 text of the body)
  // into the headers, then writes every header as "Name: Value" CR LF, in map order.
  AnsiString RawHeader();

  // Empties the headers, clears ContentType, ContentEncoding and ContentText and truncates the
  // content stream; verb, URI parts, query values and authentication stay.
  void Clear();

  // Query values, keyed by the lower-cased name.
  void GetQueryList(TStringList& List) const;
  void GetQueryList(std::unique_ptr<TStringList>& List) const;
  UnicodeString GetURIQueryItem(const UnicodeString& Item) const;
  void SetURIQueryItem(const UnicodeString& Item, const UnicodeString& Value);

  // ContentText := the file's bytes (unchanged when it cannot be read), ContentType := its MIME
  // type ("text/plain" when unknown).
  void LoadFromFile(const UnicodeString& AFile);

 private:
  friend class TqzIndyServer;
  AnsiString FCommandStr;
  TqzHTTPCommands FCommand = qzHC_Unknown;
  TqzHTTPAuthentication FAuthentication;
  std::stringstream FContentStream;
  TStringList FURIPathSegments;
  TqzDictionary<UnicodeString, Variant> FURIQuery{100};
  UnicodeString FHost;
  UnicodeString FIP;
};

class TqzIndyServer {
 public:
  TqzIndyServer() = delete;

  // The status text written for a code ("Not Found"; "Unknown" for codes the table lacks).
  static AnsiString HttpStatusText(int32_t HTTPCode);

  // Answer with content, compressed with gzip when Compress is set.
  static bool SetHTTPResponse(platform::HttpResponseInfo& AResponseInfo, int32_t HTTPCode,
                              const AnsiString& Content, const UnicodeString& ContentType,
                              const UnicodeString& Charset, bool Compress, int32_t CompressionLevel);
  // Answer with extra header lines ("Name: value"), uncompressed.
  static bool SetHTTPResponse(platform::HttpResponseInfo& AResponseInfo, int32_t HTTPCode,
                              const AnsiString& Content, const std::vector<AnsiString>& CustomHeaders,
                              const UnicodeString& ContentType, const UnicodeString& Charset);
  // Answer with a static file (see above); Expires in days from now.
  static bool SetHTTPResponse(const platform::HttpRequestInfo& ARequestInfo,
                              platform::HttpResponseInfo& AResponseInfo,
                              platform::HttpContext& AContext, const UnicodeString& FileName,
                              int32_t Expires);
  // Answer from a response object: its headers (under their upper-cased names), code, body,
  // content type and character set, uncompressed.
  static bool SetHTTPResponse(platform::HttpResponseInfo& AResponseInfo, const TqzHTTPResponse& AResponse);

  // The whole request body (empty without one).
  static AnsiString GetPostStreamString(const platform::HttpRequestInfo& ARequestInfo);
  // A new request object, owned by the caller. Raises what the query decoding raises ("invalid
  // encoding", "url expired").
  static std::unique_ptr<TqzHTTPRequest> GetHTTPRequestObject(const platform::HttpRequestInfo& ARequestInfo);
  // The request-line URI before any "?".
  static UnicodeString GetRequestURI(const platform::HttpRequestInfo& ARequestInfo);
};
