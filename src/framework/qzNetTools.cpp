// TqzNet: local addresses, IP address texts and range lists, URL parts, the free-port test, XML
// escaping, raw header values, the four URL escapers and decoders, URL building, query
// parameters and style variables.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConversion.h"
#include "qzNet.h"
#include "qzTools.h"

using platform::AnsiToWide;
using platform::WideToAnsi;

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

AnsiString AsciiUpperStr(std::string_view s) {
  AnsiString out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Writes every byte outside `keep` as "%" and two upper-case hexadecimal digits.
template <class Keep>
AnsiString Escape(std::string_view bytes, Keep keep) {
  AnsiString out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char c : bytes) {
    if (keep(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHexUpper[c >> 4]);
      out.push_back(kHexUpper[c & 15]);
    }
  }
  return out;
}

// The value of the `n` hexadecimal digits at `p`, or -1 when one of them is none.
int32_t HexAt(std::string_view s, size_t p, size_t n) {
  if (p + n > s.size()) return -1;
  int32_t v = 0;
  for (size_t i = 0; i < n; ++i) {
    const int d = platform::HexDigitValue(static_cast<unsigned char>(s[p + i]));
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// The host part of a URL: after the first "//" (from the start when there is none) up to the
// first "/", "?" or "#".
std::u16string_view UrlAuthority(std::u16string_view url, size_t* end = nullptr) {
  const size_t slashes = url.find(u"//");
  const size_t start = slashes == std::u16string_view::npos ? 0 : slashes + 2;
  size_t stop = url.find_first_of(u"/?#", start);
  if (stop == std::u16string_view::npos) stop = url.size();
  if (end) *end = stop;
  return url.substr(start, stop - start);
}

// Splits an authority into its host (IPv6 brackets removed, user information dropped) and the
// text after the host's ":" (empty when there is none).
void SplitAuthority(std::u16string_view authority, std::u16string_view& host,
                    std::u16string_view& port, bool& hasPort) {
  const size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) authority.remove_prefix(at + 1);
  hasPort = false;
  port = {};
  if (!authority.empty() && authority.front() == u'[') {
    const size_t close = authority.find(u']');
    if (close != std::u16string_view::npos) {
      host = authority.substr(1, close - 1);
      const std::u16string_view rest = authority.substr(close + 1);
      if (!rest.empty() && rest.front() == u':') {
        hasPort = true;
        port = rest.substr(1);
      }
      return;
    }
  }
  const size_t colon = authority.find(u':');
  host = authority.substr(0, colon);
  if (colon != std::u16string_view::npos) {
    hasPort = true;
    port = authority.substr(colon + 1);
  }
}

// A part of an address text as the range test needs it: "*", or a number of the address type.
bool IsWellFormedPart(std::u16string_view part, TqzIPType type) {
  if (part == u"*") return true;
  if (type == qzIPv4) {
    if (part.empty() || part.size() > 3) return false;
    int v = 0;
    for (char16_t c : part) {
      if (c < u'0' || c > u'9') return false;
      v = v * 10 + (c - u'0');
    }
    return v <= 255;
  }
  if (type == qzIPv6) {
    if (part.size() > 4) return false;
    for (char16_t c : part)
      if (platform::HexDigitValue(c) < 0) return false;
    return true;  // an empty group stands for the "::" shorthand
  }
  return false;
}

// True when every part of the address text is "*" or a number of its type (at most 8 parts).
bool IsWellFormedAddress(const TqzIPAddress& ip) {
  if (ip.IPType == qzIPUnknown || ip.Address.empty()) return false;
  std::u16string_view text = ip.Address;
  const char16_t sep = ip.IPType == qzIPv6 ? u':' : u'.';
  if (ip.IPType == qzIPv6 && text.find(u'.') != std::u16string_view::npos) return false;
  size_t parts = 0;
  while (true) {
    const size_t next = text.find(sep);
    if (++parts > 8) return false;
    if (!IsWellFormedPart(text.substr(0, next), ip.IPType)) return false;
    if (next == std::u16string_view::npos) return true;
    text.remove_prefix(next + 1);
  }
}

}  // namespace

TqzCipherEncoding EncodingToCipherEncoding(TqzEncoding Encoding) {
  if (static_cast<unsigned>(Encoding) > static_cast<unsigned>(qzENC_Internal))
    throw Exception("invalid encoding");
  return static_cast<TqzCipherEncoding>(Encoding);
}

TqzEncoding CipherEncodingToEncoding(TqzCipherEncoding Encoding) {
  if (static_cast<int>(Encoding) < 0 ||
      static_cast<int>(Encoding) > static_cast<int>(qzCIPHENC_Internal))
    throw Exception("invalid encoding");
  return static_cast<TqzEncoding>(Encoding);
}

// ---- Local addresses and IP texts ---------------------------------------------------------------

bool TqzNet::GetLocalIP(TStrings* IPList) {
  try {
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list) return false;
    try {
      for (addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_family != AF_INET || !IPList) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)))
          IPList->Add(platform::ToU16(text));
      }
    } catch (...) {
      freeaddrinfo(list);
      throw;
    }
    freeaddrinfo(list);
    return true;
  } catch (...) {
    return false;
  }
}

UnicodeString TqzNet::GetSingleLocalIP() {
  TStringList list;
  if (GetLocalIP(&list) && list.Count() > 0) return list[0];
  return u"127.0.0.1";
}

TqzIPAddress TqzNet::GetIPFromStr(const UnicodeString& IP) {
  TqzIPAddress result;
  result.Address = platform::Trim(IP);
  const std::u16string_view text = result.Address;
  if (text.find(u':') != std::u16string_view::npos)
    result.IPType = qzIPv6;
  else if (text.find(u'.') != std::u16string_view::npos)
    result.IPType = qzIPv4;
  else
    result.IPType = qzIPUnknown;
  result.OctetArray.assign(8, -1);
  // The parts are the pieces between ":" or "." (each empty IPv6 group is one part).
  size_t pos = 0;
  for (int i = 0; i < 8 && pos <= text.size(); ++i) {
    size_t next = text.find_first_of(u":.", pos);
    if (next == std::u16string_view::npos) next = text.size();
    const std::u16string_view part = text.substr(pos, next - pos);
    int32_t value = -1;
    if (part != u"*") {
      if (result.IPType == qzIPv4)
        value = static_cast<int32_t>(TqzConversion::StrToInt(part, -1));
      else if (result.IPType == qzIPv6)
        value = static_cast<int32_t>(TqzConversion::HexToInt(part, -1));
    }
    result.OctetArray[static_cast<size_t>(i)] = value;
    pos = next + 1;
  }
  return result;
}

bool TqzNet::GetIPListFromStr(const UnicodeString& List, TqzIPRanges& IPList) {
  IPList.clear();
  UnicodeString text = platform::Trim(List);
  UnicodeString joined;
  joined.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u';') {
      joined.push_back(u',');
    } else if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      joined.push_back(u',');
      ++i;
    } else {
      joined.push_back(text[i]);
    }
  }
  if (joined.empty()) return true;
  joined.push_back(u',');
  size_t pos = 0;
  while (pos < joined.size()) {
    const size_t next = joined.find(u',', pos);
    IPList.push_back(GetIPFromStr(joined.substr(pos, next - pos)));
    pos = next + 1;
  }
  return true;
}

bool TqzNet::IsIPInRange(const UnicodeString& IP, const TqzIPRanges& IPList) {
  const TqzIPAddress address = GetIPFromStr(IP);
  // Only a complete address of numbers can be tested: a "*" or a part that is no number would
  // otherwise match whatever the range holds there.
  if (!IsWellFormedAddress(address)) return false;
  if (address.Address.find(u'*') != UnicodeString::npos) return false;
  if (address.IPType == qzIPv4 &&
      std::count(address.Address.begin(), address.Address.end(), u'.') != 3)
    return false;
  for (const TqzIPAddress& range : IPList) {
    if (range.IPType == qzIPUnknown || range.IPType != address.IPType) continue;
    // An entry that is not made of "*" and numbers is skipped, never read as "any".
    if (!IsWellFormedAddress(range) || range.OctetArray.size() < 8) continue;
    bool match = true;
    for (size_t i = 0; i < 8 && match; ++i)
      match = range.OctetArray[i] == -1 || range.OctetArray[i] == address.OctetArray[i];
    if (match) return true;
  }
  return false;
}

bool TqzNet::IsLocalHost(const UnicodeString& IP) {
  return IP == u"127.0.0.1" || IP == u"::1" || IP == u"0:0:0:0:0:0:0:1" ||
         IP == u"0000:0000:0000:0000:0000:0000:0000:0001" || LowerCaseStr(IP) == u"localhost";
}

// ---- URL parts ----------------------------------------------------------------------------------

bool TqzNet::IsHTTPSUrl(const UnicodeString& AUrl) {
  return LowerCaseStr(AUrl).starts_with(u"https://");
}

uint16_t TqzNet::GetPortFromUrl(const UnicodeString& AUrl) {
  std::u16string_view host, port;
  bool hasPort = false;
  SplitAuthority(UrlAuthority(AUrl), host, port, hasPort);
  if (!hasPort || port.empty() || port.size() > 5) return 0;
  uint32_t value = 0;
  for (char16_t c : port) {
    if (c < u'0' || c > u'9') return 0;
    value = value * 10 + static_cast<uint32_t>(c - u'0');
  }
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

UnicodeString TqzNet::GetServerFromUrl(const UnicodeString& AUrl) {
  std::u16string_view host, port;
  bool hasPort = false;
  SplitAuthority(UrlAuthority(AUrl), host, port, hasPort);
  return UnicodeString(host);
}

UnicodeString TqzNet::GetPathFromUrl(const UnicodeString& AUrl) {
  size_t end = 0;
  UrlAuthority(AUrl, &end);
  UnicodeString path = AUrl.substr(std::min(end, AUrl.size()));
  if (path.empty() || path.front() != u'/') path.insert(path.begin(), u'/');
  return path;
}

bool TqzNet::PortIsFree(int32_t Port) {
  if (Port < 1 || Port > 65535) return false;
  // Free means a server could listen on it on every local address, IPv4 and (where the machine
  // has it) IPv6. Ports in TIME_WAIT count as free, as they do for a server that reuses them.
  auto tryListen = [Port](int family) -> int {  // 1 listened, 0 refused, -1 family unavailable
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    int rc;
    if (family == AF_INET) {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_ANY);
      a.sin_port = htons(static_cast<uint16_t>(Port));
      rc = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    } else {
      setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one));
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_any;
      a.sin6_port = htons(static_cast<uint16_t>(Port));
      rc = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    }
    const bool ok = rc == 0 && listen(fd, 1) == 0;
    close(fd);
    return ok ? 1 : 0;
  };
  if (tryListen(AF_INET) != 1) return false;
  return tryListen(AF_INET6) != 0;
}

// ---- XML and headers ----------------------------------------------------------------------------

bool TqzNet::PrepareXMLString(UnicodeString& Data, bool IsCData) {
  try {
    for (char16_t& c : Data)
      if (c < 32 && c != 13 && c != 10) c = u' ';
    if (IsCData) return true;
    size_t extra = 0;
    for (char16_t c : Data) {
      switch (c) {
        case u'&': extra += 4; break;
        case u'<': case u'>': extra += 3; break;
        case u'"': case u'\'': extra += 5; break;
        default: break;
      }
    }
    if (extra == 0) return true;
    UnicodeString out;
    out.reserve(Data.size() + extra);
    for (char16_t c : Data) {
      switch (c) {
        case u'&': out += u"&amp;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u'"': out += u"&quot;"; break;
        case u'\'': out += u"&apos;"; break;
        default: out.push_back(c);
      }
    }
    Data = std::move(out);
    return true;
  } catch (...) {
    return false;
  }
}

AnsiString TqzNet::GetHttpRawHeaderValue(const AnsiString& Param, const AnsiString& Header) {
  if (Param.empty()) return {};
  const size_t at = AsciiUpperStr(Header).find(AsciiUpperStr(Param));
  if (at == AnsiString::npos) return {};
  const size_t colon = Header.find(':', at + 1);
  if (colon == AnsiString::npos) return {};
  size_t end = Header.find('\n', colon + 1);
  if (end == AnsiString::npos) end = Header.size();
  return platform::Trim(std::string_view(Header).substr(colon + 1, end - colon - 1));
}

// ---- Escapers and decoders ----------------------------------------------------------------------

AnsiString TqzNet::EncodeUrlPart(const AnsiString& Url) {
  return Escape(Url, [](unsigned char c) { return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_'; });
}

AnsiString TqzNet::EncodeUrlPartW(const UnicodeString& Url) {
  return Escape(platform::WideToUtf8(Url), [](unsigned char c) {
    return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '*';
  });
}

AnsiString TqzNet::DecodeUrlPart(const AnsiString& Text) {
  // One pass: "%" and exactly two hexadecimal digits (either case) give their byte; a decoded
  // "%" is never read again ("%2520" gives "%20"), any other "%" stays as it is.
  AnsiString out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '%') {
      const int32_t v = HexAt(Text, i + 1, 2);
      if (v >= 0) {
        out.push_back(static_cast<char>(v));
        i += 2;
        continue;
      }
    }
    out.push_back(Text[i]);
  }
  return out;
}

AnsiString TqzNet::PercentEncode(const UnicodeString& Text) {
  return Escape(platform::WideToUtf8(Text), [](unsigned char c) {
    return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '/' || c == ':' || c == '_' || c == '~';
  });
}

UnicodeString TqzNet::PercentDecode(const AnsiString& Text) {
  // One pass over the bytes: "%uXXXX" gives the UTF-8 bytes of that UTF-16 unit (a high and a low
  // surrogate written one after the other give the one character they make), "%XX" gives its
  // byte; anything else stays. The bytes are then read as UTF-8.
  Utf8String bytes;
  bytes.reserve(Text.size());
  char16_t pendingHigh = 0;  // a high surrogate waiting for its low half
  auto flushHigh = [&] {
    if (pendingHigh) bytes += platform::WideToUtf8(std::u16string(1, pendingHigh));
    pendingHigh = 0;
  };
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '%') {
      if (i + 1 < Text.size() && (Text[i + 1] == 'u' || Text[i + 1] == 'U')) {
        const int32_t v = HexAt(Text, i + 2, 4);
        if (v >= 0) {
          const auto unit = static_cast<char16_t>(v);
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            flushHigh();
            pendingHigh = unit;
          } else if (unit >= 0xDC00 && unit <= 0xDFFF && pendingHigh) {
            const char16_t pair[2] = {pendingHigh, unit};
            bytes += platform::WideToUtf8(std::u16string_view(pair, 2));
            pendingHigh = 0;
          } else {
            flushHigh();
            bytes += platform::WideToUtf8(std::u16string(1, unit));
          }
          i += 5;
          continue;
        }
      }
      const int32_t v = HexAt(Text, i + 1, 2);
      if (v >= 0) {
        flushHigh();
        bytes.push_back(static_cast<char>(v));
        i += 2;
        continue;
      }
    }
    flushHigh();
    bytes.push_back(Text[i]);
  }
  flushHigh();
  return platform::Utf8ToWide(bytes);
}

// ---- URLs and query parameters ------------------------------------------------------------------

bool TqzNet::CheckHTTPResponseCode(int32_t Code) { return Code / 100 == 2; }

UnicodeString TqzNet::CheckRootUrlSuffix(const UnicodeString& Url) {
  if (Url.empty() || Url.back() == u'/') return Url;
  return Url + u"/";
}

namespace {

AnsiString EncodedQuery(const std::vector<UnicodeString>& Parameters, TqzEncoding Encoding) {
  const AnsiString query = TqzCipher::EncodeUrlParams(Parameters, EncodingToCipherEncoding(Encoding));
  return query.empty() ? AnsiString() : "?" + query;
}

AnsiString SchemeHostPort(bool HTTPS, const UnicodeString& Host, int32_t Port) {
  UnicodeString url = HTTPS ? u"https://" : u"http://";
  url += Host.empty() ? TqzTools::GetComputerNameEx(3) : Host;
  if (Port > 0) url += u":" + platform::IntToStr(Port);
  return WideToAnsi(url);
}

}  // namespace

AnsiString TqzNet::BuildUrl(const UnicodeString& RootUrl, const UnicodeString& URI,
                            const std::vector<UnicodeString>& Parameters, TqzEncoding Encoding) {
  const AnsiString query = EncodedQuery(Parameters, Encoding);
  return WideToAnsi(CheckRootUrlSuffix(RootUrl) + URI) + query;
}

AnsiString TqzNet::BuildUrl(const UnicodeString& RootUrl, const UnicodeString& URI) {
  std::u16string_view uri = URI;
  if (!uri.empty() && uri.front() == u'/') uri.remove_prefix(1);
  return WideToAnsi(CheckRootUrlSuffix(RootUrl) + UnicodeString(uri));
}

AnsiString TqzNet::BuildUrl(bool HTTPS, const UnicodeString& Host, int32_t Port,
                            const UnicodeString& URI, const std::vector<UnicodeString>& Parameters,
                            TqzEncoding Encoding) {
  AnsiString url = SchemeHostPort(HTTPS, Host, Port);
  if (URI.empty()) return url;
  url += WideToAnsi(URI.front() == u'/' ? URI : u"/" + URI);
  return url + EncodedQuery(Parameters, Encoding);
}

AnsiString TqzNet::BuildUrl(bool HTTPS, const UnicodeString& Host, int32_t Port,
                            const AnsiString& URI) {
  return SchemeHostPort(HTTPS, Host, Port) + "/" + URI;
}

TqzUrlParams TqzNet::ParseUrlParams(const AnsiString& UrlParamStr, TqzEncoding& Encoding) {
  TqzCipherEncoding found = EncodingToCipherEncoding(Encoding);
  const TqzCipherUrlParams params = TqzCipher::DecodeUrlParams(UrlParamStr, found);
  Encoding = CipherEncodingToEncoding(found);
  TqzUrlParams result;
  result.reserve(params.size());
  for (const TqzCipherUrlParam& p : params)
    result.push_back({p.Param, p.Value, p.RawValue, CipherEncodingToEncoding(p.Encoding)});
  return result;
}

namespace {

const TqzUrlParam* FindUrlParam(const UnicodeString& Param, const TqzUrlParams& UrlParams) {
  const UnicodeString key = UpperCaseStr(Param);
  for (const TqzUrlParam& p : UrlParams)
    if (p.Param == key) return &p;
  return nullptr;
}

}  // namespace

UnicodeString TqzNet::GetUrlParamValue(const UnicodeString& Param, const TqzUrlParams& UrlParams,
                                       const UnicodeString& Default, bool RawValue) {
  const TqzUrlParam* p = FindUrlParam(Param, UrlParams);
  if (!p) return Default;
  return RawValue ? AnsiToWide(p->RawValue) : p->Value;
}

AnsiString TqzNet::GetRawUrlParamValue(const UnicodeString& Param, const TqzUrlParams& UrlParams,
                                       const AnsiString& Default) {
  const TqzUrlParam* p = FindUrlParam(Param, UrlParams);
  return p ? p->RawValue : Default;
}

bool TqzNet::UrlParamExists(const UnicodeString& Param, const TqzUrlParams& UrlParams) {
  return FindUrlParam(Param, UrlParams) != nullptr;
}

// ---- Style variables ----------------------------------------------------------------------------

namespace {

// Style values may refer to other variables; the expansion stops going deeper after this many
// levels (deeper values are inserted as they stand) and refuses results above this size.
constexpr int kMaxStyleDepth = 16;

void ExpandStyle(const TqzStyleDefinition& styles, std::string_view text, int depth,
                 size_t maxSize, AnsiString& out) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t ref = text.find("[@", pos);
    if (ref == std::string_view::npos) break;
    const size_t close = text.find(']', ref + 2);
    if (close == std::string_view::npos) break;
    out.append(text.substr(pos, ref - pos));
    // "[@" NAME "(" DEFAULT ")]": NAME up to the first "(", DEFAULT up to the closing ")]".
    const std::string_view inner = text.substr(ref + 2, close - ref - 2);
    const size_t paren = inner.find('(');
    const std::string_view name = inner.substr(0, paren);
    std::string_view def;
    if (paren != std::string_view::npos) {
      def = inner.substr(paren + 1);
      if (!def.empty() && def.back() == ')') def.remove_suffix(1);
    }
    Variant value;
    AnsiString replacement;
    if (styles.TryGetValue(AnsiToWide(AsciiUpperStr(name)), value))
      replacement = value.AsAnsiString();
    else
      replacement = AnsiString(def);
    // The search goes on one character into the replacement, so references inside an inserted
    // value are expanded too (its first character is taken as it stands).
    if (!replacement.empty()) {
      out.push_back(replacement.front());
      if (depth < kMaxStyleDepth)
        ExpandStyle(styles, std::string_view(replacement).substr(1), depth + 1, maxSize, out);
      else
        out.append(replacement, 1);
    }
    if (out.size() > maxSize) throw Exception("style expansion exceeds its size limit");
    pos = close + 1;
  }
  out.append(text.substr(pos));
  if (out.size() > maxSize) throw Exception("style expansion exceeds its size limit");
}

}  // namespace

AnsiString TqzNet::ApplyStyle(const TqzStyleDefinition& StyleDefinition,
                              const AnsiString& CSSorJavaScript) {
  AnsiString out;
  out.reserve(CSSorJavaScript.size());
  // Room for generous expansion, but a self-referring style cannot fill the memory.
  const size_t maxSize = std::max<size_t>(CSSorJavaScript.size() * 64, size_t{64} << 20);
  ExpandStyle(StyleDefinition, CSSorJavaScript, 0, maxSize, out);
  return out;
}
