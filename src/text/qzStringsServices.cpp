#include "qzStringsServices.h"

#include <zlib.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CaseMap.h"
#include "Clock.h"
#include "Exceptions.h"
#include "HtmlText.h"
#include "SysUtils.h"
#include "Variant.h"
#include "qzDateTime.h"
#include "qzStrings.h"
#include "qzTools.h"

namespace {

[[noreturn]] void RaiseZlib(const char* what, const z_stream* zs = nullptr) {
  std::string text = std::string("decompression error: ") + what;
  if (zs != nullptr && zs->msg != nullptr) text += std::string(" (") + zs->msg + ")";
  throw EZlibError(text.c_str());
}

}  // namespace

AnsiString TqzStringsServices::CompressString(std::string_view S) {
  if (S.size() > 0x7FFFFFFFu) throw EZlibError("compression error: text too long");
  const uint32_t n = static_cast<uint32_t>(S.size());
  const unsigned char header[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                   static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EZlibError("compression error: cannot initialise zlib");
  AnsiString out;
  out.resize(deflateBound(&zs, static_cast<uLong>(S.size() + 4)));
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  // The count first, then the text, as one stream.
  zs.next_in = const_cast<Bytef*>(header);
  zs.avail_in = 4;
  int rc = deflate(&zs, Z_NO_FLUSH);
  if (rc == Z_OK) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(S.data()));
    zs.avail_in = static_cast<uInt>(S.size());
    rc = deflate(&zs, Z_FINISH);
  }
  const size_t written = zs.total_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw EZlibError("compression error");
  out.resize(written);
  return out;
}

AnsiString TqzStringsServices::DecompressString(std::string_view S, size_t MaxSize) {
  z_stream zs{};
  if (inflateInit2(&zs, 15) != Z_OK) throw EZlibError("decompression error: cannot initialise zlib");
  struct Guard {
    z_stream* z;
    ~Guard() { inflateEnd(z); }
  } guard{&zs};

  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(S.data()));
  zs.avail_in = static_cast<uInt>(S.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : S.size());

  bool ended = false;
  // Inflates into [dst, dst+len); returns how many bytes were produced before the stream ended.
  auto inflateInto = [&](unsigned char* dst, size_t len) -> size_t {
    size_t got = 0;
    while (got < len && !ended) {
      const size_t chunk = len - got > 0x40000000u ? 0x40000000u : len - got;
      zs.next_out = dst + got;
      zs.avail_out = static_cast<uInt>(chunk);
      int rc = inflate(&zs, Z_NO_FLUSH);
      got += chunk - zs.avail_out;
      if (rc == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;  // input exhausted: truncated stream
      if (rc != Z_OK && rc != Z_BUF_ERROR) RaiseZlib("invalid zlib stream", &zs);
    }
    return got;
  };

  unsigned char header[4];
  if (inflateInto(header, 4) != 4) RaiseZlib("content ends before its byte count");
  const int32_t n = static_cast<int32_t>(uint32_t(header[0]) | (uint32_t(header[1]) << 8) |
                                         (uint32_t(header[2]) << 16) | (uint32_t(header[3]) << 24));
  if (n < 0) RaiseZlib("negative byte count");
  if (static_cast<size_t>(n) > MaxSize) RaiseZlib("declared length exceeds the limit");
  // The output grows with what the stream really yields, so a small input that declares a large
  // count cannot make us allocate the whole count up front.
  AnsiString out;
  const size_t want = static_cast<size_t>(n);
  out.reserve(want < (size_t(1) << 20) ? want : (size_t(1) << 20));
  unsigned char buffer[65536];
  while (out.size() < want) {
    const size_t len = want - out.size() < sizeof(buffer) ? want - out.size() : sizeof(buffer);
    const size_t got = inflateInto(buffer, len);
    out.append(reinterpret_cast<const char*>(buffer), got);
    if (got < len) RaiseZlib("content ends before the declared number of bytes");
  }
  // The rest of the stream is inflated (and dropped) up to its end, so that its Adler-32
  // trailer is checked: a damaged or cut value is refused rather than read as wrong bytes.
  size_t total = 4 + want;
  while (!ended) {
    const size_t got = inflateInto(buffer, sizeof(buffer));
    total += got;
    if (total > 4 + MaxSize) RaiseZlib("inflated content exceeds the limit");
    if (!ended && got < sizeof(buffer)) RaiseZlib("stream ends before its end marker");
  }
  return out;
}

// --- Identifiers -------------------------------------------------------------------------------

AnsiString TqzStringsServices::CreateGuidStr() { return TqzTools::CreateGuidStr(); }

TIdType TqzStringsServices::CreateId() { return TqzTools::CreateId(); }

// --- Placeholders ------------------------------------------------------------------------------

namespace {

// Replace-all in one scan from the left; what was inserted is not looked at again.
UnicodeString ReplaceAllOnce(const UnicodeString& text, std::u16string_view from, std::u16string_view to) {
  if (from.empty()) return text;
  size_t pos = text.find(from);
  if (pos == UnicodeString::npos) return text;
  UnicodeString out;
  out.reserve(text.size());
  size_t start = 0;
  while (pos != UnicodeString::npos) {
    out.append(text, start, pos - start);
    out.append(to);
    start = pos + from.size();
    pos = text.find(from, start);
  }
  out.append(text, start, UnicodeString::npos);
  return out;
}

enum class Source { Format, Quarter, Id, Guid, User, UserPrincipal, Host, HostDns };

struct PlaceHolder {
  std::u16string_view Name;  // lower case, as written in a template
  Source Kind;
  std::u16string_view Format;  // date/time format for Source::Format
};

// Processed in this order: every placeholder comes before those that are a prefix of it.
constexpr std::array<PlaceHolder, 39> kPlaceHolders = {{
    {u"%timestamp", Source::Format, u"yyyymmddhhnnsszzz"},
    {u"%date", Source::Format, u"ddddd"},
    {u"%longdate", Source::Format, u"dddddd"},
    {u"%shortdate", Source::Format, u"ddddd"},
    {u"%time", Source::Format, u"tt"},
    {u"%shorttime", Source::Format, u"t"},
    {u"%longtime", Source::Format, u"tt"},
    {u"%dayname", Source::Format, u"dddd"},
    {u"%day", Source::Format, u"dddd"},
    {u"%month", Source::Format, u"mmmm"},
    {u"%year", Source::Format, u"yyyy"},
    {u"%hour", Source::Format, u"hh"},
    {u"%minute", Source::Format, u"nn"},
    {u"%dddddd", Source::Format, u"dddddd"},
    {u"%ddddd", Source::Format, u"ddddd"},
    {u"%dddd", Source::Format, u"dddd"},
    {u"%ddd", Source::Format, u"ddd"},
    {u"%dd", Source::Format, u"dd"},
    {u"%d", Source::Format, u"d"},
    {u"%mmmm", Source::Format, u"mmmm"},
    {u"%mmm", Source::Format, u"mmm"},
    {u"%mm", Source::Format, u"mm"},
    {u"%m", Source::Format, u"m"},
    {u"%yyyy", Source::Format, u"yyyy"},
    {u"%yy", Source::Format, u"yy"},
    {u"%hh", Source::Format, u"hh"},
    {u"%nn", Source::Format, u"nn"},
    {u"%ss", Source::Format, u"ss"},
    {u"%zzz", Source::Format, u"zzz"},
    {u"%quarter", Source::Quarter, u""},
    {u"%id", Source::Id, u""},
    {u"%guid", Source::Guid, u""},
    {u"%username", Source::User, u""},
    {u"%userprincipal", Source::UserPrincipal, u""},
    {u"%user", Source::User, u""},
    {u"%computername", Source::Host, u""},
    {u"%computer", Source::Host, u""},
    {u"%hostdnsfullqualified", Source::HostDns, u""},
    {u"%host", Source::Host, u""},
}};

}  // namespace

UnicodeString TqzStringsServices::CheckDefaultPlaceHolders(const UnicodeString& Text, const UnicodeString& UserName,
                                                           const UnicodeString& HostName) {
  // The names are asked for only when a placeholder needs them, and then once.
  UnicodeString user = UserName, host = HostName;
  bool userKnown = !user.empty(), hostKnown = !host.empty();
  UnicodeString text = Text;
  for (const PlaceHolder& p : kPlaceHolders) {
    const UnicodeString upper = platform::UpperAscii(p.Name);
    text = ReplaceAllOnce(text, p.Name, upper);
    if (text.find(upper) == UnicodeString::npos) continue;
    UnicodeString value;
    switch (p.Kind) {
      case Source::Format: value = platform::FormatDateTime(p.Format, platform::Now()); break;
      case Source::Quarter: value = platform::IntToStr(TqzDateTime::GetQuarter()); break;
      case Source::Id: value = platform::AnsiToWide(CreateId().str()); break;
      case Source::Guid: value = platform::AnsiToWide(CreateGuidStr()); break;
      case Source::User:
        if (!userKnown) {
          user = TqzTools::GetUserName();
          userKnown = true;
        }
        value = user;
        break;
      case Source::UserPrincipal: value = TqzTools::GetUserNameEx(8); break;
      case Source::Host:
        if (!hostKnown) {
          host = TqzTools::GetComputerName();
          hostKnown = true;
        }
        value = host;
        break;
      case Source::HostDns: value = TqzTools::GetComputerNameEx(3); break;
    }
    text = ReplaceAllOnce(text, upper, value);
  }
  return text;
}

// --- Script literals ---------------------------------------------------------------------------

UnicodeString TqzStringsServices::StringToJScriptString(const UnicodeString& AValue) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  UnicodeString out;
  out.reserve(AValue.size() + AValue.size() / 8);
  for (const char16_t c : AValue) {
    switch (c) {
      case 8: out += u"\\b"; continue;
      case 9: out += u"\\t"; continue;
      case 10: out += u"\\n"; continue;
      case 12: out += u"\\f"; continue;
      case 13: out += u"\\r"; continue;
      case u'"': case u'/': case u'\\':
        out.push_back(u'\\');
        out.push_back(c);
        continue;
      default: break;
    }
    if (c < 32 || c >= 128) {
      out += u"\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// --- Quoted-printable --------------------------------------------------------------------------

namespace {

// Removes every occurrence of `pattern` and goes on removing what the removals bring together,
// until none is left. One pass over the text: each character is appended to the output, and
// whenever the output then ends with the pattern, the pattern is taken off again. For a pattern
// that cannot overlap itself (as all soft line breaks) this is exactly the repeated removal.
AnsiString RemoveRepeatedly(const AnsiString& text, std::string_view pattern) {
  if (text.find(pattern) == AnsiString::npos) return text;
  AnsiString out;
  out.reserve(text.size());
  for (const char c : text) {
    out.push_back(c);
    if (out.size() >= pattern.size() && c == pattern.back() &&
        std::string_view(out).substr(out.size() - pattern.size()) == pattern)
      out.resize(out.size() - pattern.size());
  }
  return out;
}

}  // namespace

AnsiString TqzStringsServices::ReplaceQuotedPrintable(const AnsiString& Content) {
  AnsiString text = RemoveRepeatedly(Content, "=\r\n");
  text = RemoveRepeatedly(text, "=\n");
  text = RemoveRepeatedly(text, "=\r");

  AnsiString out;
  out.reserve(text.size());
  size_t start = 0;
  for (size_t eq = text.find('='); eq != AnsiString::npos; eq = text.find('=', start)) {
    out.append(text, start, eq - start);
    const size_t codeLen = std::min<size_t>(2, text.size() - eq - 1);
    int value = -1;
    if (codeLen == 2) {
      const int hi = platform::HexDigitValue(text[eq + 1]), lo = platform::HexDigitValue(text[eq + 2]);
      if (hi >= 0 && lo >= 0) value = hi * 16 + lo;
    } else if (codeLen == 1) {
      value = platform::HexDigitValue(text[eq + 1]);
    }
    if (value >= 0) out.push_back(static_cast<char>(value));
    start = eq + 1 + codeLen;
  }
  out.append(text, start, AnsiString::npos);
  return out;
}

AnsiString TqzStringsServices::ReplaceQuotedPrintableSimple(const AnsiString& Content) {
  // The code table, in the order in which the codes are replaced.
  static const std::vector<std::pair<AnsiString, AnsiString>> kTable = [] {
    std::vector<std::pair<AnsiString, AnsiString>> table;
    auto code = [](int value) { return fmt::format("={:02x}", value); };
    for (int v = 0x00; v <= 0x20; ++v) table.emplace_back(code(v), "");
    table.emplace_back(code(0x2C), "");
    for (int v : {0x2E, 0x3D, 0x7E, 0x7F}) table.emplace_back(code(v), AnsiString(1, static_cast<char>(v)));
    for (int v = 0x80; v <= 0xFF; ++v)
      if (v != 0xDD && v != 0xED && v != 0xFD) table.emplace_back(code(v), AnsiString(1, static_cast<char>(v)));
    return table;
  }();
  // Most codes of the table do not occur in a given text: a scan without copying finds out.
  auto occurs = [](const AnsiString& text, const AnsiString& code) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t eq = text.find('='); eq != AnsiString::npos && eq + 2 < text.size(); eq = text.find('=', eq + 1))
      if (fold(text[eq + 1]) == code[1] && fold(text[eq + 2]) == code[2]) return true;
    return false;
  };
  AnsiString text = Content;
  for (const auto& [from, to] : kTable)
    if (occurs(text, from)) text = TqzStrings::ReplaceA(text, from, to, true);
  return RemoveRepeatedly(text, "=\r\n");
}

// --- HTML to text ------------------------------------------------------------------------------

UnicodeString TqzStringsServices::HtmlToText(const UnicodeString& _html) { return platform::HtmlToVisibleText(_html); }
