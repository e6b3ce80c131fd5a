// The library's conversions between texts and integers, floats and Booleans.
//
// `TqzConversion` is a class of static operations only; stateless, any thread.
//
// Rules shared by all operations:
//   - Conversions from text take a default or error value and raise only when the caller asks.
//   - Integer texts: leading blanks, an optional sign, then decimal digits, or hexadecimal digits
//     (either case) after "$", "0x", "0X", "x" or "X"; nothing may follow; the value must fit a
//     signed 64-bit integer.
//   - Float texts may use ',' or '.' as decimal sign (see StrToReal and StrToFloat).
//   - Numbers written as text (IntToStr, RealToStr, FloatToStr) use '.' as decimal sign and no
//     thousands separators whatever the locale: they are storage forms. Decimal digits that are
//     cut off round half away from zero.
//   - Boolean texts are recognised from a fixed list of 21 yes-words ("JA", "YES", "OK", "1",
//     "X", "TRUE", "WAHR", "RICHTIG", "KORREKT", "RIGHT", "YAP", "OUI", "CORRECT", "JAU", "YO",
//     "JO", "YEP", "YEPP", "YAPP", "YUP", "Y"); written forms are "True"/"False" (UTF-16),
//     "1"/"0" and "X"/"" (8-bit).
//   - 8-bit texts are Windows-1252; "ASCII" in AsciiToAnsi/AnsiToAscii means the OEM code
//     page 850.
#pragma once

#include <array>
#include <cstdint>

#include "Text.h"
#include "Variant.h"
#include "qzMath.h"  // TRoundToRange

class TqzConversion {
 public:
  TqzConversion() = delete;

  // The yes-words of StrToBool, in the order they are tested.
  static const std::array<std::u16string_view, 21>& YesWords();

  // ---- Integers -------------------------------------------------------------------------------

  // A text with a '.' is read by StrToReal (no raising, default 0): a whole value gives that
  // integer, a value with a fraction (or beyond the 64-bit range) gives ErrorVal, and a text
  // that is no number gives 0. The empty text gives 0. Any other text is read as an integer text
  // and gives ErrorVal when it is none. Never raises.
  static int64_t StrToInt(std::u16string_view Str, int32_t ErrorVal);

  // The decimal digits of the value, '-' before a negative one.
  static AnsiString IntToStr(int64_t Int);

  // The text read as the integer text "$" + Str, i.e. bare hexadecimal digits: "" gives 0, a
  // text that is no hexadecimal number (a '.' included) gives ErrorVal. Never raises.
  static int64_t HexToInt(std::u16string_view Str, int32_t ErrorVal);

  // The integer text form described above; false when the text is none.
  static bool TryParseInteger(std::u16string_view Str, int64_t& Value);

  // ---- Floats to text -------------------------------------------------------------------------

  // Decimals -1 (and any other negative value): the 23-character scientific form, a blank (or
  // '-' for a negative value), one digit, '.', 14 digits, "E", the exponent's sign and four
  // exponent digits, 15 significant digits (" 1.50000000000000E+0000"); infinities and NaN are
  // "+Inf", "-Inf" and "Nan" right-aligned in 23 characters. Decimals 0 to 37 (more counts as
  // 37): TqzMath::RoundTo to that many decimals, written in fixed notation with exactly that many
  // decimals ("3" for 2.5 with 0 decimals, "0.13" for 0.125 with 2).
  static AnsiString RealToStr(double RVal, TRoundToRange Decimals);

  // Fixed notation with Decimals decimals (above 7 counts as 7), then trailing zeros of the
  // fraction removed down to MinDecimals decimals (0 to 37); the decimal point stays. With 7
  // and 2: 2 -> "2.00", 0.5 -> "0.50", 1.2304 -> "1.2304". With Decimals 0 or below no decimal
  // point is written, unless MinDecimals asks for decimals ("2" + "." + MinDecimals zeros).
  // Zero never carries a minus sign; infinities and NaN give "+Inf", "-Inf", "Nan".
  static AnsiString FloatToStr(double Value, int32_t Decimals, TRoundToRange MinDecimals);

  // Integer kinds (type codes 2, 3, 16 to 20): IntToStr. Currency: 4 decimals, at least 2,
  // written from the exact scaled value. Every other kind: the value as a float
  // (Variant::AsDouble, which raises EVariantError for a value without float form), 7 decimals,
  // at least 2.
  static AnsiString FloatToStr(const Variant& Value);

  // ---- Texts to floats ------------------------------------------------------------------------

  // A decimal text with ',' or '.' as decimal sign: with both present, a single ',' after the
  // last '.' is the decimal sign (the dots are dropped) and a single '.' after the last ',' is
  // the decimal sign (the commas are dropped); with only commas, every ',' becomes '.'. Then the
  // text is read with '.' as decimal point (leading blanks, sign and exponent allowed, nothing
  // may follow). The empty text gives Default. A text that does not convert gives Default, or
  // with RaiseException an EConvertError "float string conversion exception for value "
  // followed by the rewritten text in double quotes.
  static double StrToReal(std::u16string_view Str, bool RaiseException = false, double Default = 0);

  // A text with "E" or "e" is read directly with '.' as decimal point; any other text goes to
  // TqzStrToFloatConverter::StrToFloat, which works out the separators itself. A failure gives
  // Default, or raises (an Exception "cannot convert <text> to float" for exponent texts, the
  // analyser's EConvertError otherwise).
  static double StrToFloat(std::u16string_view Str, bool RaiseException = false, double Default = 0);

  // The text read with the process format settings (platform::GetFormatSettings): every
  // thousands separator removed, then parsed with the decimal separator (leading blanks, sign
  // and exponent allowed). On failure: StrToFloat of the unchanged text when
  // TryAlternativeConversion, else an Exception "cannot convert <text> to float" when
  // RaiseException, else Default.
  static double LocaleStrToFloat(std::u16string_view Str, bool RaiseException = false, double Default = 0,
                                 bool TryAlternativeConversion = false);

  // ---- Booleans -------------------------------------------------------------------------------

  static UnicodeString BoolToStr(bool BoolVal);  // "True" / "False"
  static UnicodeString BoolToStrExt(bool BoolVal, std::u16string_view TrueStr, std::u16string_view FalseStr);

  // True when the text, without characters of code 32 or below at both ends and with a-z
  // upper-cased (no other letter), is one of the yes-words.
  static bool StrToBool(std::u16string_view BoolStr);

  // When TrueStr and FalseStr are equal after trimming and locale-aware upper-casing, StrToBool
  // of BoolStr; otherwise true exactly when BoolStr equals TrueStr under the same folding.
  static bool StrToBoolExt(std::u16string_view BoolStr, std::u16string_view TrueStr, std::u16string_view FalseStr);

  static AnsiString BoolToSingleByteStr(bool BoolVal);   // "1" / "0"
  static AnsiString BoolToSingleByteStrX(bool BoolVal);  // "X" / ""
  // True exactly for "1", "X" and "x" (no trimming).
  static bool SingleByteStrToBool(std::u16string_view BoolVal);

  static int32_t BoolToInt(bool BoolVal);             // 1 / 0
  static bool IntToBool(int32_t BoolInt);             // non-zero is true
  static UnicodeString IntBoolToStr(int32_t BoolInt);  // BoolToStr(IntToBool(...))

  // ---- Code pages -----------------------------------------------------------------------------

  // OEM (code page 850) to ANSI (Windows-1252), and back; characters without a counterpart
  // become "?". The text ends at its first zero byte.
  static AnsiString AsciiToAnsi(std::string_view AText);
  static AnsiString AnsiToAscii(std::string_view AText);
};
