// Case conversion, tagged text and parameter helpers.
//
//  - UpperCaseStr / LowerCaseStr: the locale-aware case conversions through which name
//    comparisons go. One UTF-16 unit at a time with ICU's simple case mapping, so the result
//    always has the length of the argument ("ß" stays "ß").
//  - The 8-bit helpers of the tools unit (StrToIntDefEx, BoolToString, StringToBool, padding and
//    suffix helpers, ExtractBetween, ParseTagList): 8-bit texts are Windows-1252; the case folding
//    inside them is ASCII-only (a-z onto A-Z), never the locale-aware one.
//  - The readers of "name=value;" lists, the XML text preparation and the start-parameter reader
//    (TqzToolsParams; TqzTools offers them as its own class methods).
//  - The XML character-range and entity tables shared with the XML tools.
// Nothing here keeps state; every operation may run on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <cstddef>

#include "StringList.h"
#include "Text.h"
#include "Variant.h"

// --- Case conversion -----------------------------------------------------------------------------

UnicodeString UpperCaseStr(std::u16string_view S);
UnicodeString LowerCaseStr(std::u16string_view S);

// --- XML tables ----------------------------------------------------------------------------------

// Code-point ranges (both ends inclusive) of the characters XML allows, in test order.
struct TXmlCharRange {
  uint32_t Low;
  uint32_t High;
};
inline constexpr TXmlCharRange XmlCharRangeTable[6] = {
    {0x20, 0xD7FF}, {0x0A, 0x0A}, {0x0D, 0x0D}, {0x09, 0x09}, {0xE000, 0xFFFD}, {0x10000, 0x10FFFF},
};

// Characters that XML text escapes, with their entities, in the order they are applied
// ("&" first, so the ampersands of the later entities are not escaped again).
struct TXmlEntity {
  std::u16string_view Character;
  std::u16string_view Replacement;
};
inline constexpr TXmlEntity XmlEntityTable[5] = {
    {u"&", u"&amp;"}, {u"<", u"&lt;"}, {u">", u"&gt;"}, {u"\"", u"&quot;"}, {u"'", u"&apos;"},
};

// Appends the text with every character of XmlEntityTable replaced by its entity. "&" comes first
// in the table, so one pass equals applying the rows in order.
inline void AppendXmlEscaped(std::u16string& out, std::u16string_view text) {
  for (char16_t c : text) {
    bool replaced = false;
    for (const TXmlEntity& e : XmlEntityTable) {
      if (c == e.Character[0]) {
        out.append(e.Replacement);
        replaced = true;
        break;
      }
    }
    if (!replaced) out.push_back(c);
  }
}

// True when the code point lies in one of the XML character ranges.
inline bool IsXmlChar(char32_t c) {
  for (const TXmlCharRange& r : XmlCharRangeTable) {
    if (c >= r.Low && c <= r.High) return true;
  }
  return false;
}
// Calls `keep(pos, len)` for every run of allowed units and `replace(unit)` for every unit that
// is not part of an allowed character (a lone surrogate, a control character, U+FFFE, U+FFFF).
// A valid surrogate pair counts as one allowed character.
template <class Keep, class Replace>
void ScanXmlChars(std::u16string_view text, Keep&& keep, Replace&& replace) {
  size_t runStart = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    size_t len = 1;
    char32_t cp = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      len = 2;
    }
    const bool lone = len == 1 && c >= 0xD800 && c <= 0xDFFF;
    if (lone || !IsXmlChar(cp)) {
      if (i > runStart) keep(runStart, i - runStart);
      replace(c);
      runStart = i + 1;
    }
    i += len;
  }
  if (text.size() > runStart) keep(runStart, text.size() - runStart);
}

// --- Helpers on 8-bit texts ----------------------------------------------------------------------

// Every "%" removed, then the whole text read as a signed 64-bit integer: leading blanks, an
// optional sign, decimal digits or up to 16 hexadecimal digits after "$", "x", "X", "0x", "0X".
// The empty text gives EmptyDefault; anything invalid (a trailing blank, a decimal overflow, no
// digit) gives ErrorDefault.
int64_t StrToIntDefEx(const AnsiString& Text, int32_t ErrorDefault, int32_t EmptyDefault);
// "True" / "False".
AnsiString BoolToString(bool Value);
// True when the text, upper-cased (ASCII only, not trimmed), is one of the 20 yes-words.
bool StringToBool(const AnsiString& Text);
// The trimmed path with a folder separator ("/") appended when it does not end with one ("/" or
// "\"); the empty text stays empty.
AnsiString IncludeBackslash(const AnsiString& Path);
// Text with Suffix appended unless it already ends with it; the empty text stays empty.
AnsiString EnsureSuffix(const AnsiString& Text, const AnsiString& Suffix);
// Zeros put in front up to Length characters (at most 61 are ever added).
AnsiString ZeroPadLeft(const AnsiString& Text, int32_t Length);
// Blanks appended up to Length characters.
AnsiString PadRight(const AnsiString& Text, int32_t Length);
// Every double quote of every line turned into a single quote. Always true.
bool ReplaceDoubleQuotes(TStrings& Lines);
// The trimmed text between the first opening delimiter and the first closing delimiter after it;
// see the implementation for the cases where one is missing.
AnsiString ExtractBetween(const AnsiString& Text, const AnsiString& OpenDelimiter,
                          const AnsiString& CloseDelimiter);
// Reads a tagged text "<ROOT><KEY=VALUE>...</ROOT>": Items is cleared and receives the trimmed
// text of every tag in text order; when the last tag is "/" + the first one (ASCII case ignored)
// Tag receives the first one upper-cased, the first and last items are removed and the result is
// true. Otherwise (also with fewer than two tags) false, with every tag read left in Items and
// Tag unchanged. Runs in time linear in the text length.
bool ParseTagList(const AnsiString& Text, AnsiString& Tag, TStrings& Items);
// The value of the first item "Name=Value" of a ";"-separated list whose name equals Parameter
// (ASCII case ignored, no trimming around "="); Default when there is none.
// The list is scanned in UTF-16 as given: it is not narrowed to Windows-1252 on the way, so a
// value holding characters outside that code page comes back whole instead of as "?".
UnicodeString GetConfigStringParameter(const UnicodeString& ConfigString,
                                       const UnicodeString& Parameter,
                                       const UnicodeString& Default);
// Appends the value of every matching item (of every item for an empty Parameter) to Values,
// creating the list when Values holds none. Always true.
bool GetConfigStringParameters(const UnicodeString& ConfigString, const UnicodeString& Parameter,
                               std::unique_ptr<TStringList>& Values);

// --- Class methods of TqzTools -------------------------------------------------------------------

class TqzToolsParams {
 public:
  TqzToolsParams() = delete;

  static UnicodeString GetConfigStringParameter(const UnicodeString& ConfigString,
                                                const UnicodeString& Parameter,
                                                const UnicodeString& Default);
  static bool GetConfigStringParameters(const UnicodeString& ConfigString,
                                        const UnicodeString& Parameter,
                                        std::unique_ptr<TStringList>& Values);
  // Every character outside XmlCharRangeTable becomes a blank (a valid surrogate pair is one
  // allowed character and stays; a lone surrogate is replaced); with ApplyNotationReplacements
  // the characters of XmlEntityTable are escaped.
  static UnicodeString PrepareXMLStringW(const UnicodeString& Data, bool ApplyNotationReplacements);
  // The start parameter Prefix + Name ("--DEBUG=5"): the first process argument whose part
  // before "=" equals Prefix + UpperCaseStr(Name) after upper-casing; its value converted to
  // ResultType (1: the type of Default) as the variant text conversion does (Null when it does
  // not convert). Default when no argument matches. The prefix is compared as given.
  static Variant GetStartParam(const UnicodeString& Name, const Variant& Default,
                               const AnsiString& Prefix, uint16_t ResultType);
};
