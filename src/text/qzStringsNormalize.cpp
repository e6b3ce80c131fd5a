#include "qzStringsNormalize.h"

#include <algorithm>

#include "SysUtils.h"

namespace {

template <class S>
S ReplaceAll(S text, const S& what, const S& with) {
  if (what.empty()) return text;
  S out;
  size_t start = 0;
  while (true) {
    const size_t p = text.find(what, start);
    if (p == S::npos) break;
    out.append(text, start, p - start);
    out += with;
    start = p + what.size();
  }
  out.append(text, start, S::npos);
  return out;
}

template <class C>
bool IsFlatChar(C c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

template <class S>
S Flatten(S str, typename S::value_type delimiter, bool convertUmlauts, const S (&umlauts)[7][2]) {
  for (auto& c : str) if (c == ' ') c = delimiter;
  if (convertUmlauts) {
    for (const auto& row : umlauts) str = ReplaceAll(str, row[0], row[1]);
  }
  for (auto& c : str) if (!IsFlatChar(c)) c = delimiter;
  return str;
}

template <class S>
S ControlToBlank(S str) {
  for (auto& c : str) if (static_cast<uint32_t>(c) < 32) c = ' ';
  return str;
}

template <class S>
S BreaksToBlanks(const S& text) {
  const typename S::value_type crlf[] = {'\r', '\n', 0};
  const typename S::value_type lf[] = {'\n', 0};
  const typename S::value_type blank[] = {' ', 0};
  return ReplaceAll(ReplaceAll(text, S(crlf), S(blank)), S(lf), S(blank));
}

template <class S>
bool SimpleFormat(const S& format, const S& str) {
  if (format.size() != str.size()) return false;
  for (size_t i = 0; i < str.size(); ++i) {
    const auto f = format[i];
    const auto c = str[i];
    if (f == '#') {
      // A "#" takes a digit, and like every other format character it also matches itself.
      if ((c < '0' || c > '9') && c != '#') return false;
    } else if (f != '$' && f != c) {
      return false;
    }
  }
  return true;
}

template <class S>
bool ClearChars(S& text, int32_t len) {
  try {
    size_t n = len <= 0 || static_cast<size_t>(len) > text.size() ? text.size() : static_cast<size_t>(len);
    if (len < 0) n = 0;
    for (size_t i = 0; i < n; ++i) text[i] = 0;
    return true;
  } catch (...) {
    return false;
  }
}

bool IsHigh(uint32_t c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) return true;
  switch (c) {
    case '!': case '"': case '%': case '&': case '(': case ')': case '?': case 'b': case 'd': case 'f': case 'h':
    case 'i': case 'j': case 'k': case 'l': case 't': case 'y':
    case 0xA7: case 0xC4: case 0xD6: case 0xDC: case 0xE4: case 0xF6: case 0xFC:
      return true;
    default:
      return false;
  }
}

bool IsLow(uint32_t c) { return c == ',' || c == ';' || c == 'g' || c == 'j' || c == 'p' || c == 'q'; }

template <class S, class ToCode>
int32_t HighLow(const S& content, ToCode code) {
  bool high = false, low = false;
  for (auto ch : content) {
    const uint32_t c = code(ch);
    if (c > 255) continue;
    high = high || IsHigh(c);
    low = low || IsLow(c);
    if (high && low) return 3;
  }
  return high ? 1 : (low ? 2 : 0);
}

const AnsiString kUmlautsA[7][2] = {{"\xf6", "oe"}, {"\xfc", "ue"}, {"\xe4", "ae"}, {"\xd6", "OE"},
                                    {"\xdc", "UE"}, {"\xc4", "AE"}, {"\xdf", "ss"}};
const UnicodeString kUmlautsW[7][2] = {{u"\u00f6", u"oe"}, {u"\u00fc", u"ue"}, {u"\u00e4", u"ae"}, {u"\u00d6", u"OE"},
                                       {u"\u00dc", u"UE"}, {u"\u00c4", u"AE"}, {u"\u00df", u"ss"}};

}  // namespace

AnsiString TqzStringsNormalize::FlatString(const AnsiString& Str, char Delimiter, bool ConvertUmlauts) {
  return Flatten(Str, Delimiter, ConvertUmlauts, kUmlautsA);
}

UnicodeString TqzStringsNormalize::FlatStringW(const UnicodeString& Str, char16_t Delimiter, bool ConvertUmlauts) {
  return Flatten(Str, Delimiter, ConvertUmlauts, kUmlautsW);
}

AnsiString TqzStringsNormalize::DeleteControlChars(const AnsiString& Str) { return ControlToBlank(Str); }
UnicodeString TqzStringsNormalize::DeleteControlChars(const UnicodeString& Str) { return ControlToBlank(Str); }
UnicodeString TqzStringsNormalize::DeleteControlCharsW(const UnicodeString& Str) { return ControlToBlank(Str); }

UnicodeString TqzStringsNormalize::BlanksToUnderScore(const UnicodeString& Str) {
  UnicodeString out = Str;
  for (auto& c : out) if (c == u' ') c = u'_';
  return out;
}

UnicodeString TqzStringsNormalize::FormatTechnicalName(const UnicodeString& Name) {
  UnicodeString out = Name;
  for (auto& c : out) if (c == u' ' || c == u',' || c == u'/') c = u'_';
  return out;
}

AnsiString TqzStringsNormalize::Breaks2Blanks(const AnsiString& Text) { return BreaksToBlanks(Text); }
UnicodeString TqzStringsNormalize::Breaks2BlanksW(const UnicodeString& Text) { return BreaksToBlanks(Text); }

UnicodeString TqzStringsNormalize::RemoveMoreThenOn(const UnicodeString& Content, const UnicodeString& Element) {
  if (Element.empty()) return Content;
  // One pass: an occurrence of Element directly after a kept Element is dropped.
  UnicodeString out;
  out.reserve(Content.size());
  size_t i = 0;
  bool lastWasElement = false;
  while (i < Content.size()) {
    if (Content.compare(i, Element.size(), Element) == 0) {
      if (!lastWasElement) out += Element;
      lastWasElement = true;
      i += Element.size();
    } else {
      out.push_back(Content[i]);
      lastWasElement = false;
      ++i;
    }
  }
  return out;
}

UnicodeString TqzStringsNormalize::RemoveMoreThenOn(const UnicodeString& Content, const UnicodeString& Element,
                                                    int32_t StartPos) {
  if (StartPos <= 1) return RemoveMoreThenOn(Content, Element);
  const size_t keep = std::min(static_cast<size_t>(StartPos - 1), Content.size());
  return Content.substr(0, keep) + RemoveMoreThenOn(Content.substr(keep), Element);
}

bool TqzStringsNormalize::IsNumeric(const AnsiString& Txt, bool AllowBlanks) {
  for (char c : Txt) {
    if (!((c >= '0' && c <= '9') || (AllowBlanks && c == ' '))) return false;
  }
  return true;
}

bool TqzStringsNormalize::IsNumeric(const UnicodeString& Txt, bool AllowBlanks, bool AllowNumRelChars) {
  for (char16_t c : Txt) {
    const bool digit = c >= u'0' && c <= u'9';
    bool ok = digit;
    if (AllowBlanks) {
      ok = digit || c == u' ' ||
           (AllowNumRelChars && (c == u'+' || c == u',' || c == u'-' || c == u'.'));
    }
    if (!ok) return false;
  }
  return true;
}

bool TqzStringsNormalize::ContainsNumbers(const UnicodeString& Txt) {
  return Txt.find_first_of(u"0123456789") != UnicodeString::npos;
}

bool TqzStringsNormalize::VerifySimpleFormat(const AnsiString& Format, const AnsiString& Str) {
  return SimpleFormat(Format, Str);
}
bool TqzStringsNormalize::VerifySimpleFormat(const UnicodeString& Format, const UnicodeString& Str) {
  return SimpleFormat(Format, Str);
}

bool TqzStringsNormalize::VerifyCharset(const UnicodeString& Charset, const UnicodeString& Str) {
  for (char16_t c : Str) {
    if (Charset.find(c) == UnicodeString::npos) return false;
  }
  return true;
}

UnicodeString TqzStringsNormalize::ApplyCharset(const UnicodeString& Charset, const UnicodeString& Str) {
  if (Charset.empty()) return Str;
  UnicodeString out;
  for (char16_t c : Str) if (Charset.find(c) != UnicodeString::npos) out.push_back(c);
  return out;
}

UnicodeString TqzStringsNormalize::ApplyTqzCharset(const UnicodeString& AString, const TqzCharSet& ACharset,
                                                   bool AInverted) {
  UnicodeString out;
  for (char16_t c : AString) {
    const bool member = c <= 255 && ACharset.test(c);
    if (member != AInverted) out.push_back(c);
  }
  return out;
}

AnsiString TqzStringsNormalize::ApplyCharsetA(const AnsiString& Str, const AnsiString& Charset, bool RemoveControlChars,
                                              bool RemoveBlanks) {
  AnsiString s = Str;
  if (RemoveControlChars) s = ControlToBlank(s);
  for (auto& c : s) if (Charset.find(c) == AnsiString::npos) c = ' ';
  AnsiString out;
  for (char c : s) {
    if (c == ' ') {
      if (RemoveBlanks || (!out.empty() && out.back() == ' ')) continue;
    }
    out.push_back(c);
  }
  return platform::Trim(out);
}

bool TqzStringsNormalize::ClearString(AnsiString& MyString, int32_t Len) { return ClearChars(MyString, Len); }
bool TqzStringsNormalize::ClearStringW(UnicodeString& MyString, int32_t Len) { return ClearChars(MyString, Len); }

int32_t TqzStringsNormalize::ContainHighAndLowChars(const AnsiString& Content) {
  return HighLow(Content, [](char c) { return static_cast<uint32_t>(static_cast<unsigned char>(c)); });
}

int32_t TqzStringsNormalize::ContainHighAndLowChars(const UnicodeString& Content) {
  return HighLow(Content, [](char16_t c) { return static_cast<uint32_t>(c); });
}
