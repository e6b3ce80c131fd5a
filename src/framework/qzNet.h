// TqzNet and TqzIndy: the network tools of the service framework, two classes of static
// operations without state.
//
// TqzNet holds the URL, IP address, multipart and escaping tools (qzNetTools.cpp,
// qzNetMultipart.cpp) and the low-level HTTP client (qzNetHttp.cpp: GET, file upload in
// 4096-byte pieces, a request of any verb with a buffer as body).
// TqzIndy holds the component-style HTTP client (qzNetIndy.cpp: GET, PUT and POST with the body
// to memory or to a caller's stream). Both clients run on one libcurl wrapper
// (src/platform/HttpClient.h) and take their time-outs, redirects, cookies, bindings and TLS
// settings from the global class factory's HTTP client options.
//
// Texts: UnicodeString is UTF-16, AnsiString holds bytes (Windows-1252 text, bodies, escaped URLs).
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string_view>
#include <vector>

#include "StringList.h"
#include "Exceptions.h"
#include "Text.h"
#include "qzClassFactory.h"
#include "Variant.h"
#include "qzCipher.h"
#include "qzGenerics.h"
#include "qzTypes.h"
#include "qzNetMinify.h"
#include "qzNetServer.h"

// A request of TqzIndy's client that got no complete answer (no connection, time-out, TLS
// failure, a body cut short); the message is the transport's description.
QZ_DECLARE_EXCEPTION(EHttpClientError, Exception);

// One part of a multipart/form-data body.
struct TMultiPart {
  AnsiString Name;         // the form field's name as written
  AnsiString SORTL;        // Name upper-cased in ASCII: the lookup key
  AnsiString CType;        // the part's Content-Type value
  AnsiString Data;         // the part's body bytes
  UnicodeString FileName;  // the uploaded file's name; empty for an ordinary field
  TqzKeyValueList Header;  // every header line: name upper-cased, value trimmed
};
using TMultiParts = std::vector<TMultiPart>;

// The URL-parameter encodings of qzTypes and of the cipher map one to one by position; any other
// value raises Exception "invalid encoding".
TqzCipherEncoding EncodingToCipherEncoding(TqzEncoding Encoding);
TqzEncoding CipherEncodingToEncoding(TqzCipherEncoding Encoding);

// Upload progress: the file being sent, the bytes sent so far, the file's size; setting Abort
// stops the upload after the current piece.
using TqzHTTPProgressProc =
    std::function<void(const UnicodeString& AFile, uint64_t AmtSent, uint64_t TotalAmt, bool& Abort)>;

using TqzStyleDefinition = TqzDictionary<UnicodeString, Variant>;

class TqzNet : public TqzNetWebText {
 public:
  TqzNet() = delete;

  // ---- Local addresses and IP texts ----------------------------------------------------------
  static bool GetLocalIP(TStrings* IPList);
  static UnicodeString GetSingleLocalIP();
  static TqzIPAddress GetIPFromStr(const UnicodeString& IP);
  static bool GetIPListFromStr(const UnicodeString& List, TqzIPRanges& IPList);
  static bool IsIPInRange(const UnicodeString& IP, const TqzIPRanges& IPList);
  static bool IsLocalHost(const UnicodeString& IP);

  // ---- URL parts --------------------------------------------------------------------------------
  static bool IsHTTPSUrl(const UnicodeString& AUrl);
  static uint16_t GetPortFromUrl(const UnicodeString& AUrl);
  static UnicodeString GetServerFromUrl(const UnicodeString& AUrl);
  static UnicodeString GetPathFromUrl(const UnicodeString& AUrl);
  static bool PortIsFree(int32_t Port);

  // ---- XML and headers ------------------------------------------------------------------------
  static bool PrepareXMLString(UnicodeString& Data, bool IsCData);
  static AnsiString GetHttpRawHeaderValue(const AnsiString& Param, const AnsiString& Header);

  // ---- Multipart/form-data --------------------------------------------------------------------
  // The boundary is the `boundary` parameter of ContentType (the request's Content-Type header)
  // when it names one, else the body's first line. False for an empty body and for a body that
  // breaks off (the parts read until then stay in MultiParts).
  static bool ParseMultiPartData(const AnsiString& Data, TMultiParts& MultiParts,
                                 bool LowerCaseContentType, const AnsiString& ContentType = {});
  static int32_t GetMultiPartId(const TMultiParts& MultiParts, const AnsiString& Param);
  static AnsiString GetMultiPartData(const TMultiParts& MultiParts, const AnsiString& Param,
                                     const AnsiString& Default);
  static UnicodeString GetMultiPartHeaderValue(const TMultiPart& MultiPart,
                                               const UnicodeString& HeaderKey,
                                               const UnicodeString& Default);

  // ---- Escapers and decoders ------------------------------------------------------------------
  static AnsiString EncodeUrlPart(const AnsiString& Url);
  static AnsiString EncodeUrlPartW(const UnicodeString& Url);
  static AnsiString DecodeUrlPart(const AnsiString& Text);
  static AnsiString PercentEncode(const UnicodeString& Text);
  static UnicodeString PercentDecode(const AnsiString& Text);

  // ---- URLs and query parameters --------------------------------------------------------------
  static bool CheckHTTPResponseCode(int32_t Code);
  static UnicodeString CheckRootUrlSuffix(const UnicodeString& Url);
  static AnsiString BuildUrl(const UnicodeString& RootUrl, const UnicodeString& URI,
                             const std::vector<UnicodeString>& Parameters, TqzEncoding Encoding);
  static AnsiString BuildUrl(const UnicodeString& RootUrl, const UnicodeString& URI);
  static AnsiString BuildUrl(bool HTTPS, const UnicodeString& Host, int32_t Port,
                             const UnicodeString& URI, const std::vector<UnicodeString>& Parameters,
                             TqzEncoding Encoding);
  static AnsiString BuildUrl(bool HTTPS, const UnicodeString& Host, int32_t Port,
                             const AnsiString& URI);
  static TqzUrlParams ParseUrlParams(const AnsiString& UrlParamStr, TqzEncoding& Encoding);
  static UnicodeString GetUrlParamValue(const UnicodeString& Param, const TqzUrlParams& UrlParams,
                                        const UnicodeString& Default, bool RawValue);
  static AnsiString GetRawUrlParamValue(const UnicodeString& Param, const TqzUrlParams& UrlParams,
                                        const AnsiString& Default);
  static bool UrlParamExists(const UnicodeString& Param, const TqzUrlParams& UrlParams);

  // ---- Style variables ------------------------------------------------------------------------
  static AnsiString ApplyStyle(const TqzStyleDefinition& StyleDefinition,
                               const AnsiString& CSSorJavaScript);

  // ---- Low-level HTTP client --------------------------------------------------------------------
  static AnsiString HTTPGet(const UnicodeString& AUrl, int32_t& AResponseCode,
                            const AnsiString& ARequestHeader, AnsiString& AResponseHeader);
  static AnsiString HTTPGet(const UnicodeString& AUrl, int32_t& AResponseCode);
  static bool HTTPPutFile(const UnicodeString& AUrl, const UnicodeString& AFile,
                          int32_t& AResponseCode, AnsiString& AResponseHeader,
                          const TqzHTTPProgressProc& Progress, bool DelFile);
  static bool HTTPPutFile(const UnicodeString& AUrl, const UnicodeString& AFile,
                          int32_t& AResponseCode, const TqzHTTPProgressProc& Progress,
                          bool DelFile);
  static AnsiString HTTPPutBuffer(const UnicodeString& AUrl, const AnsiString& ABuffer,
                                  int32_t& AResponseCode, const AnsiString& ARequestHeader,
                                  AnsiString& AResponseHeader, const AnsiString& ACommand = "PUT");
  static AnsiString HTTPPutBuffer(const UnicodeString& AUrl, const AnsiString& ABuffer,
                                  int32_t& AResponseCode);
};

class TqzIndy : public TqzIndyServer {
 public:
  TqzIndy() = delete;

  // ---- HTTP client ------------------------------------------------------------------------------
  // The TLS library needs no reloading here (OpenSSL 3 keeps no per-load state the client
  // depends on): answers true.
  static bool ReInitializeSSL();

  static AnsiString HTTPGet(const UnicodeString& AUrl, int32_t& ResponseCode, AnsiString& RawHeader,
                            TqzHTTPHeaderType HeaderType);
  static bool HTTPGet(const UnicodeString& AUrl, std::ostream& FileStream, int32_t& ResponseCode,
                      AnsiString& RawHeader, TqzHTTPHeaderType HeaderType);
  static AnsiString HTTPGet(const UnicodeString& AUrl, int32_t& ResponseCode);
  static AnsiString HTTPGet(const UnicodeString& AUrl);

  // HTTPPut and HTTPPost send their body with the verb of their name, read from a stream or
  // given as a text, each with the raw answer header (in HeaderType's form) or without it; the
  // answer's body is returned. The four forms of each are declared by one macro.
#define QZ_INDY_SEND_FORMS(Name)                                                                  \
  static AnsiString Name(const UnicodeString& AUrl, std::istream& ContentStream,                  \
                         const UnicodeString& ContentType, int32_t& ResponseCode,                 \
                         AnsiString& RawHeader, TqzHTTPHeaderType HeaderType);                    \
  static AnsiString Name(const UnicodeString& AUrl, std::istream& ContentStream,                  \
                         const UnicodeString& ContentType, int32_t& ResponseCode);                \
  static AnsiString Name(const UnicodeString& AUrl, const AnsiString& ContentStr,                 \
                         const UnicodeString& ContentType, int32_t& ResponseCode,                 \
                         AnsiString& RawHeader, TqzHTTPHeaderType HeaderType);                    \
  static AnsiString Name(const UnicodeString& AUrl, const AnsiString& ContentStr,                 \
                         const UnicodeString& ContentType, int32_t& ResponseCode);
  QZ_INDY_SEND_FORMS(HTTPPut)
  QZ_INDY_SEND_FORMS(HTTPPost)
#undef QZ_INDY_SEND_FORMS

  // ---- Option texts of the TLS component (qzClassFactory.cpp) ----------------------------------
  // Each upper-cases its text first (UpperCaseStr); nothing is trimmed.
  // "SSLV2", "SSLV23", "SSLV3", "TLSV1", "TLSV1_1", "TLSV1_2", "TLSV1_3"; any other text raises
  // Exception("unknown TLS version '<text>'") (never a silent fall-back to another version).
  static TIdSSLVersion GetSSLMethod(const UnicodeString& Method);
  // "[" and "]" removed, split at ",", each piece through GetSSLMethod (so a piece with a blank
  // raises). An empty text (or one of only brackets) gives {TLSv1_2, TLSv1_3}.
  static TIdSSLVersions GetSSLVersions(const UnicodeString& Versions);
  // "UNASSIGNED", "SERVER", "CLIENT", "BOTH"; any other text gives sslmServer.
  static TIdSSLMode GetSSLMode(const UnicodeString& Mode);
  // The flags whose names ("VRFPEER", "VRFFAILIFNOPEERCERT", "VRFCLIENTONCE") the text contains
  // anywhere; an empty text gives {sslvrfPeer}: the peer is verified.
  static TIdSSLVerifyModeSet GetSSLVerifyMode(const UnicodeString& Mode);
  // Id_IPv6 when the text contains ":", else Id_IPv4.
  static TIdIPVersion GetIPVersion(const AnsiString& IP);
};
