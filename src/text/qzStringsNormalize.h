// TqzStrings family: normalising, character sets, control characters and line breaks.
#pragma once

#include <bitset>
#include <cstdint>

#include "Text.h"

// A set of 8-bit character codes: code N is a member when bit N is set.
using TqzCharSet = std::bitset<256>;

class TqzStringsNormalize {
 public:
  TqzStringsNormalize() = delete;

  // Blanks become Delimiter; with ConvertUmlauts the German umlauts and ß are spelt out
  // (ö -> oe, ..., ß -> ss); then every character other than 0-9, A-Z, a-z and "_" becomes Delimiter.
  static AnsiString FlatString(const AnsiString& Str, char Delimiter, bool ConvertUmlauts);
  static UnicodeString FlatStringW(const UnicodeString& Str, char16_t Delimiter, bool ConvertUmlauts);
  // Every character below code 32 becomes a blank; the length stays.
  static AnsiString DeleteControlChars(const AnsiString& Str);
  static UnicodeString DeleteControlChars(const UnicodeString& Str);
  static UnicodeString DeleteControlCharsW(const UnicodeString& Str);
  static UnicodeString BlanksToUnderScore(const UnicodeString& Str);
  // Blanks, "," and "/" become "_".
  static UnicodeString FormatTechnicalName(const UnicodeString& Name);
  // CR LF pairs, then lone LFs, become one blank each; a lone CR stays.
  static AnsiString Breaks2Blanks(const AnsiString& Text);
  static UnicodeString Breaks2BlanksW(const UnicodeString& Text);
  // Runs of two or more Element reduced to one (from StartPos on).
  static UnicodeString RemoveMoreThenOn(const UnicodeString& Content, const UnicodeString& Element);
  static UnicodeString RemoveMoreThenOn(const UnicodeString& Content, const UnicodeString& Element, int32_t StartPos);
  static bool IsNumeric(const AnsiString& Txt, bool AllowBlanks);
  static bool IsNumeric(const UnicodeString& Txt, bool AllowBlanks, bool AllowNumRelChars);
  static bool ContainsNumbers(const UnicodeString& Txt);
  // "#" matches a digit (or a "#"), "$" any character, everything else itself; lengths must be
  // equal.
  static bool VerifySimpleFormat(const AnsiString& Format, const AnsiString& Str);
  static bool VerifySimpleFormat(const UnicodeString& Format, const UnicodeString& Str);
  static bool VerifyCharset(const UnicodeString& Charset, const UnicodeString& Str);
  static UnicodeString ApplyCharset(const UnicodeString& Charset, const UnicodeString& Str);
  static UnicodeString ApplyTqzCharset(const UnicodeString& AString, const TqzCharSet& ACharset, bool AInverted);
  static AnsiString ApplyCharsetA(const AnsiString& Str, const AnsiString& Charset, bool RemoveControlChars,
                                  bool RemoveBlanks);
  // Overwrites the first Len characters (0 = all) with code 0 in place; the length stays.
  static bool ClearString(AnsiString& MyString, int32_t Len);
  static bool ClearStringW(UnicodeString& MyString, int32_t Len);
  // 1: only "high" characters seen, 2: only "low" ones, 3: both, 0: neither.
  static int32_t ContainHighAndLowChars(const AnsiString& Content);
  static int32_t ContainHighAndLowChars(const UnicodeString& Content);
};
