#include "qzCipher.h"

#include <unicode/ustring.h>

#include <cmath>
#include <string>

#include "CaseMap.h"
#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzBase64.h"
#include "qzCipherKeys.h"
#include "qzDES.h"
#include "qzDateTime.h"

namespace {

namespace K = qzCipherKeys;

constexpr std::string_view kTextAlphabet =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string Dec(std::int64_t v) { return std::to_string(v); }
std::string RoundedSqrt(double v) { return Dec(std::llround(std::sqrt(v))); }

AnsiString PassKeyFrom(const K::PassKeyPieces& k) {
  return RoundedSqrt(k.SqrtOf) + Dec(k.Int1) + Dec(k.Int2) + Dec(k.Int3) + Dec(std::llround(k.Real));
}

bool IsSecuID(std::string_view id) { return id == K::SecuID; }

AnsiString EnvelopeKey(TqzCipherEncoding e) {
  switch (e) {
    case qzCIPHENC_Mega: return TqzCipher::GenPassKeyMega(K::SecuID);
    case qzCIPHENC_Service: return TqzCipher::GenPassKeyService(K::SecuID);
    case qzCIPHENC_Internal: return TqzCipher::GenPassKeyInternal(K::SecuID);
    default: return {};
  }
}

bool IsEnvelope(TqzCipherEncoding e) {
  return e == qzCIPHENC_Mega || e == qzCIPHENC_Service || e == qzCIPHENC_Internal;
}

const char* EncodingWord(TqzCipherEncoding e) {
  switch (e) {
    case qzCIPHENC_Base64: return "base64";
    case qzCIPHENC_Strong: return "strong";
    case qzCIPHENC_Mega: return "mega";
    case qzCIPHENC_KQF: return "kqf";
    case qzCIPHENC_Service: return "service";
    case qzCIPHENC_Internal: return "internal";
    default: return "";
  }
}

TqzCipherEncoding EncodingFromWord(const std::string& upper) {
  static const std::pair<const char*, TqzCipherEncoding> kWords[] = {
      {"MEGA", qzCIPHENC_Mega},     {"INTERNAL", qzCIPHENC_Internal}, {"BASE64", qzCIPHENC_Base64},
      {"STRONG", qzCIPHENC_Strong}, {"SERVICE", qzCIPHENC_Service},   {"B64", qzCIPHENC_Base64},
      {"KQF", qzCIPHENC_KQF}};
  for (const auto& [word, enc] : kWords)
    if (upper == word) return enc;
  return qzCIPHENC_None;
}

// Full Unicode upper-casing (one character may become several, as the root locale says).
UnicodeString FullUpper(const UnicodeString& s) {
  if (s.empty()) return s;
  UErrorCode err = U_ZERO_ERROR;
  UnicodeString out(s.size() + 8, u'\0');
  int32_t n = u_strToUpper(out.data(), static_cast<int32_t>(out.size()), s.data(),
                           static_cast<int32_t>(s.size()), "", &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    err = U_ZERO_ERROR;
    out.assign(static_cast<std::size_t>(n), u'\0');
    n = u_strToUpper(out.data(), n, s.data(), static_cast<int32_t>(s.size()), "", &err);
  }
  if (U_FAILURE(err)) return platform::UpperW(s);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// The byte length the text form gives when every character belongs to its alphabet.
bool TextFormByteLength(std::string_view text, std::size_t& bytes) {
  if (text.find_first_not_of(kTextAlphabet) != std::string_view::npos) return false;
  std::size_t rest = text.size() % 4;
  bytes = text.size() / 4 * 3 + (rest == 3 ? 2 : rest == 2 ? 1 : 0);
  return true;
}

TqzCipherUrlParams ParseUrlParamList(std::string_view query) {
  std::string s(query);
  for (char& c : s)
    if (c == '+') c = ' ';
  s.push_back('&');
  TqzCipherUrlParams list;
  std::size_t start = 0;
  while (start < s.size()) {
    std::size_t amp = s.find('&', start);
    std::string_view piece(s.data() + start, amp - start);
    start = amp + 1;
    std::size_t eq = piece.find('=');
    std::string_view name = piece.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
    TqzCipherUrlParam p;
    p.Param = platform::Trim(FullUpper(platform::Utf8ToWide(qzInternal::UrlUnescape(name))));
    p.RawValue = qzInternal::UrlUnescape(value);
    p.Value = platform::AnsiToWide(p.RawValue);
    p.Encoding = qzCIPHENC_None;
    list.push_back(std::move(p));
  }
  return list;
}

const TqzCipherUrlParam* FindUrlParam(const TqzCipherUrlParams& list, std::u16string_view name) {
  UnicodeString upper = FullUpper(UnicodeString(name));
  for (const auto& p : list)
    if (p.Param == upper) return &p;
  return nullptr;
}

[[noreturn]] void Expired(TqzCipherUrlParams& result) {
  result.clear();
  throw Exception(u"url expired");
}

// The pass-key codec: DES in ECB mode keyed from the pass key, the cipher text in the encoded
// alphabet. Empty when the text or the key is empty.
AnsiString PassKeyCodec(std::string_view text, std::string_view passKey, bool encode) {
  if (text.empty() || passKey.empty()) return {};
  TDES des;
  des.SetCipherMode(TCipherMode::ECB);
  des.SetStringMode(smEncode);
  des.InitialiseString(passKey);
  AnsiString out;
  if (encode)
    des.EncString(text, out);
  else
    des.DecString(text, out);
  return out;
}

}  // namespace

// ---- pass-key codec -------------------------------------------------------------------------

std::string_view TqzCipher::SecuID() { return K::SecuID; }

AnsiString TqzCipher::EncodeString(std::string_view EncString, std::string_view PassKey) {
  return PassKeyCodec(EncString, PassKey, true);
}

AnsiString TqzCipher::DecodeString(std::string_view EncString, std::string_view PassKey) {
  return PassKeyCodec(EncString, PassKey, false);
}

AnsiString TqzCipher::EncodePrivateString(std::string_view EncString, std::string_view PassKey) {
  if (PassKey.empty()) return {};
  return EncodeString(EncString, qzInternal::PrivateKeyPrefix() + std::string(PassKey));
}

AnsiString TqzCipher::DecodePrivateString(std::string_view EncString, std::string_view PassKey) {
  if (PassKey.empty()) return {};
  return DecodeString(EncString, qzInternal::PrivateKeyPrefix() + std::string(PassKey));
}

AnsiString TqzCipher::EncodeLogon(std::string_view EncString) {
  if (EncString.empty()) return {};
  return EncodeString("$$$" + std::string(EncString), GenPassKeyLogon(K::SecuID));
}

AnsiString TqzCipher::DecodeLogon(std::string_view EncString) noexcept {
  try {
    // A text of alphabet symbols that reads as 8 or more bytes but no whole number of blocks can
    // be no logon form: it is a plain password.
    std::size_t bytes = 0;
    if (TextFormByteLength(EncString, bytes) && bytes >= 8 && bytes % 8 != 0) return AnsiString(EncString);
    AnsiString plain = DecodeString(EncString, GenPassKeyLogon(K::SecuID));
    if (plain.compare(0, 3, "$$$") == 0) return plain.substr(3);
    return AnsiString(EncString);
  } catch (...) {
    return {};
  }
}

// ---- key builders -----------------------------------------------------------------------------

AnsiString TqzCipher::GenPassKeyMega(std::string_view id) { return IsSecuID(id) ? PassKeyFrom(K::Mega) : ""; }
AnsiString TqzCipher::GenPassKeyService(std::string_view id) {
  return IsSecuID(id) ? PassKeyFrom(K::Service) : "";
}
AnsiString TqzCipher::GenPassKeyInternal(std::string_view id) {
  return IsSecuID(id) ? PassKeyFrom(K::Internal) : "";
}
AnsiString TqzCipher::GenPassKeyLogon(std::string_view id) {
  return IsSecuID(id) ? std::string(K::LogonStoredPiece) + Dec(K::LogonInt) : "";
}

AnsiString TqzCipher::GenerateCommonEncryptionKey(std::string_view id) {
  if (!IsSecuID(id)) return {};
  AnsiString key;
  for (int i = 1; i <= 16; ++i) key.push_back(static_cast<char>(K::CommonKeyFactor * i + K::CommonKeyOffset));
  return key;
}

AnsiString TqzCipher::GenerateCommonSecurityKey(std::string_view id) {
  if (!IsSecuID(id)) return {};
  AnsiString key;
  for (std::size_t i = 0; i < K::CommonSecurityStored.size(); ++i) {
    int c = static_cast<unsigned char>(K::CommonSecurityStored[i]);
    key.push_back(static_cast<char>((i + 1) % 2 == 1 ? c - 1 : c + 1));
  }
  return key;
}

AnsiString qzInternal::PrivateKeyPrefix() {
  return RoundedSqrt(K::PrivateSqrtOf) + Dec(K::PrivateInt1) + Dec(K::PrivateInt2) + Dec(K::PrivateInt3) +
         Dec(K::PrivateInt4);
}

// ---- URL escaping -----------------------------------------------------------------------------

AnsiString qzInternal::UrlEscape(std::string_view Value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  AnsiString out;
  out.reserve(Value.size() * 3);
  for (char ch : Value) {
    auto c = static_cast<unsigned char>(ch);
    bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '*' ||
                c == '-' || c == '.' || c == '_';
    if (keep) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

AnsiString qzInternal::UrlUnescape(std::string_view Value) {
  AnsiString out;
  out.reserve(Value.size());
  for (std::size_t i = 0; i < Value.size(); ++i) {
    if (Value[i] == '%' && i + 2 < Value.size()) {
      int hi = platform::HexDigitValue(Value[i + 1]), lo = platform::HexDigitValue(Value[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(Value[i]);
  }
  return out;
}

// ---- URL-parameter codec ------------------------------------------------------------------------

AnsiString TqzCipher::EncodeUrlParams(const std::vector<UnicodeString>& Parameters, TqzCipherEncoding Encoding) {
  AnsiString body;
  if (IsEnvelope(Encoding)) {
    AnsiString stamp = qzInternal::TqzDateTime::DateTimeToTimeStampStr(platform::Now(), false);
    AnsiString inner = EncodeUrlParams(Parameters, qzCIPHENC_Base64) + "&buildtime=" +
                       qzInternal::TqzBase64::StrToBase64(stamp, false);
    body = "data=" + qzInternal::TqzBase64::StrToBase64(EncodeString(inner, EnvelopeKey(Encoding)), false);
  } else {
    bool first = true;
    for (const UnicodeString& item : Parameters) {
      std::size_t eq = item.find(u'=');
      bool hasEq = eq != UnicodeString::npos;
      Utf8String name = platform::WideToUtf8(std::u16string_view(item).substr(0, eq));
      Utf8String value = hasEq ? platform::WideToUtf8(std::u16string_view(item).substr(eq + 1)) : Utf8String();
      switch (Encoding) {
        case qzCIPHENC_Base64: value = qzInternal::TqzBase64::StrToBase64(value, false); break;
        case qzCIPHENC_Strong: value = qzInternal::TqzBase64::StrToBase64(EncodeLogon(value), false); break;
        case qzCIPHENC_KQF: throw Exception(u"unsupported encoding");
        default: break;
      }
      if (!first) body.push_back('&');
      first = false;
      body += qzInternal::UrlEscape(name);
      if (hasEq) body.push_back('=');
      if (!value.empty()) body += qzInternal::UrlEscape(value);
    }
  }
  AnsiString prefix = Encoding == qzCIPHENC_None ? AnsiString() : "encoding=" + AnsiString(EncodingWord(Encoding));
  if (!prefix.empty() && !body.empty()) return prefix + "&" + body;
  return prefix + body;
}

TqzCipherUrlParams TqzCipher::DecodeUrlParams(std::string_view UrlParamStr, TqzCipherEncoding& Encoding) {
  if (UrlParamStr.empty()) return {};
  TqzCipherUrlParams list = ParseUrlParamList(UrlParamStr);

  const TqzCipherUrlParam* encItem = FindUrlParam(list, u"encoding");
  std::string word = encItem ? platform::UpperAscii(platform::WideToAnsi(encItem->Value)) : std::string();
  TqzCipherEncoding enc = EncodingFromWord(word);
  Encoding = enc;

  if (IsEnvelope(enc)) {
    if (list.size() <= 1) return list;
    const TqzCipherUrlParam* data = FindUrlParam(list, u"data");
    AnsiString cipher = qzInternal::TqzBase64::Base64ToStr(data ? std::string_view(data->RawValue) : "");
    AnsiString inner = DecodeString(cipher, EnvelopeKey(enc));
    TqzCipherEncoding innerEncoding = qzCIPHENC_None;
    TqzCipherUrlParams result = DecodeUrlParams(inner, innerEncoding);
    if (enc == qzCIPHENC_Internal) {
      const TqzCipherUrlParam* built = FindUrlParam(result, u"buildtime");
      if (built == nullptr) Expired(result);
      TDateTime moment;
      try {
        moment = qzInternal::TqzDateTime::TimeStampStrToDateTime(built->Value);
      } catch (const std::exception&) {
        Expired(result);
      }
      // Written so that an unreadable (NaN) moment counts as expired too.
      if (!(platform::Now() - moment < 1.0)) Expired(result);
    }
    return result;
  }

  for (auto& p : list) {
    if (p.Param == u"ENCODING") continue;
    p.Encoding = enc;
    switch (enc) {
      case qzCIPHENC_Base64:
        p.Value = platform::Utf8ToWide(qzInternal::TqzBase64::Base64ToStr(p.RawValue));
        break;
      case qzCIPHENC_Strong:
        p.Value = platform::Utf8ToWide(DecodeLogon(qzInternal::TqzBase64::Base64ToStr(p.RawValue)));
        break;
      case qzCIPHENC_KQF: p.Value = platform::Utf8ToWide(KQFEncDecoder(p.RawValue)); break;
      default: p.Value = platform::Utf8ToWide(p.RawValue); break;
    }
    p.Value = platform::Trim(p.Value);
  }
  return list;
}

// ---- KQF value decoder --------------------------------------------------------------------------

AnsiString TqzCipher::KQFEncDecoder(std::string_view Value) {
  AnsiString text = platform::Trim(Value);
  AnsiString out;
  if (text.empty()) return out;
  // The key row is named by the output paired with the last character, when that is a digit.
  int row = 0;
  std::size_t last = K::KqfSymbols.find(text.back());
  if (last != std::string_view::npos) {
    std::string_view o = K::KqfOutputs[last];
    if (o.size() == 1 && o[0] >= '0' && o[0] <= '9') row = o[0] - '0';
  }
  const char* key = K::KqfKeyRows[row];
  int p = 0;  // key position 0..7, advanced only by characters of the symbol table
  for (char c : text) {
    std::size_t idx = K::KqfSymbols.find(c);
    if (idx == std::string_view::npos) continue;
    int k = static_cast<int>(idx) + 1;
    int j = k - (key[p] - '0');
    if (j <= 0) j += 71;
    out += K::KqfOutputs[j - 1];
    p = (p + 1) % 8;
  }
  return out;
}
