#include "qzConversion.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "SysUtils.h"
#include "qzStrToFloatConverter.h"
#include "qzToolsEvo2.h"

namespace {

constexpr std::array<std::u16string_view, 21> kYesWords = {
    u"JA",  u"YES", u"OK",  u"1",    u"X",      u"TRUE", u"WAHR",    u"RICHTIG", u"KORREKT", u"RIGHT", u"YAP",
    u"OUI", u"CORRECT", u"JAU", u"YO", u"JO", u"YEP", u"YEPP", u"YAPP", u"YUP", u"Y"};

// Whether the digits after position `cut` of a fixed or scientific text (written with plenty of
// extra digits, so exact) are a 5 followed by zeros only: the value lies exactly half-way.
bool IsExactHalf(const std::string& digits, size_t cut) {
  if (cut >= digits.size() || digits[cut] != '5') return false;
  return digits.find_first_not_of('0', cut + 1) == std::string::npos;
}

// |v| (finite) with `decimals` decimals in fixed notation, halves away from zero.
std::string FixedAbs(double a, int decimals) {
  // A double's binary fraction ends within 1074 places, but an exact half at `decimals`
  // decimals ends one place later; 40 more digits tell "exactly half" from "just above".
  const std::string wide = fmt::format("{:.{}f}", a, decimals + 41);
  const size_t point = wide.find('.');
  if (IsExactHalf(wide, point + 1 + static_cast<size_t>(decimals)))
    a = std::nextafter(a, std::numeric_limits<double>::infinity());
  return fmt::format("{:.{}f}", a, decimals);
}

// Fixed notation with '.' and no thousands separators; zero carries no minus sign.
std::string FormatFixed(double v, int decimals) {
  if (std::isnan(v)) return "Nan";
  if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
  std::string text = FixedAbs(std::fabs(v), decimals);
  const bool allZero = text.find_first_not_of("0.") == std::string::npos;
  if (v < 0 && !allZero) text.insert(0, 1, '-');
  return text;
}

// The 23-character scientific form with 15 significant digits.
std::string FormatScientific23(double v) {
  if (std::isnan(v)) return fmt::format("{:>23}", "Nan");
  if (std::isinf(v)) return fmt::format("{:>23}", v > 0 ? "+Inf" : "-Inf");
  double a = std::fabs(v);
  const std::string wide = fmt::format("{:.{}E}", a, 14 + 41);  // d.ddd...E+xx
  if (IsExactHalf(wide.substr(0, wide.find('E')), 2 + 14)) a = std::nextafter(a, std::numeric_limits<double>::infinity());
  const std::string s = fmt::format("{:.14E}", a);
  const size_t e = s.find('E');
  const int exponent = std::stoi(s.substr(e + 1));
  return fmt::format("{}{}E{}{:04d}", v < 0 ? '-' : ' ', s.substr(0, e), exponent < 0 ? '-' : '+',
                     exponent < 0 ? -exponent : exponent);
}

// Removes trailing zeros of the fraction while more than `minDecimals` decimals remain.
void TrimFraction(std::string& text, int minDecimals) {
  const size_t point = text.find('.');
  if (point == std::string::npos) return;
  while (text.size() - point - 1 > static_cast<size_t>(minDecimals) && text.back() == '0') text.pop_back();
}

bool IsIntegerVarType(uint16_t type) {
  return type == varSmallint || type == varInteger || (type >= varShortInt && type <= varInt64);
}

}  // namespace

const std::array<std::u16string_view, 21>& TqzConversion::YesWords() { return kYesWords; }

// ------------------------------------------------------------------------------------ integers

bool TqzConversion::TryParseInteger(std::u16string_view Str, int64_t& Value) {
  size_t i = 0;
  const size_t n = Str.size();
  while (i < n && Str[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (Str[i] == u'+' || Str[i] == u'-')) {
    negative = Str[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < n && Str[i] == u'$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && Str[i] == u'0' && (Str[i + 1] == u'x' || Str[i + 1] == u'X')) {
    base = 16;
    i += 2;
  } else if (i < n && (Str[i] == u'x' || Str[i] == u'X')) {
    base = 16;
    ++i;
  }
  if (i >= n) return false;
  // The magnitude may reach 2^63 for a negative value.
  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t magnitude = 0;
  for (; i < n; ++i) {
    const int digit = platform::HexDigitValue(Str[i]);
    if (digit < 0 || digit >= base) return false;
    if (magnitude > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  Value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int64_t TqzConversion::StrToInt(std::u16string_view Str, int32_t ErrorVal) {
  if (Str.find(u'.') != std::u16string_view::npos) {
    const double value = StrToReal(Str, false, 0);
    if (std::trunc(value) != value) return ErrorVal;
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) return ErrorVal;
    return static_cast<int64_t>(value);
  }
  if (Str.empty()) return 0;
  int64_t value = 0;
  return TryParseInteger(Str, value) ? value : ErrorVal;
}

AnsiString TqzConversion::IntToStr(int64_t Int) { return platform::IntToStrA(Int); }

int64_t TqzConversion::HexToInt(std::u16string_view Str, int32_t ErrorVal) {
  if (Str.empty()) return 0;
  // Read as the integer text "$" + Str, always: a '.' in the text must not divert it to the
  // float reader, which would answer 0 for a text that is no hexadecimal number.
  UnicodeString text = u"$";
  text += Str;
  int64_t value = 0;
  return TryParseInteger(text, value) ? value : ErrorVal;
}

// ------------------------------------------------------------------------------------ floats to text

AnsiString TqzConversion::RealToStr(double RVal, TRoundToRange Decimals) {
  if (Decimals < 0) return FormatScientific23(RVal);
  const int decimals = std::min<int>(Decimals, 37);
  return FormatFixed(TqzMath::RoundTo(RVal, static_cast<TRoundToRange>(decimals)), decimals);
}

AnsiString TqzConversion::FloatToStr(double Value, int32_t Decimals, TRoundToRange MinDecimals) {
  const int decimals = std::clamp<int32_t>(Decimals, 0, 7);
  const int minDecimals = std::clamp<int>(MinDecimals, 0, 37);
  std::string text = FormatFixed(Value, decimals);
  if (!std::isfinite(Value)) return text;
  if (decimals == 0) {
    if (minDecimals > 0) {
      text += '.';
      text.append(static_cast<size_t>(minDecimals), '0');
    }
    return text;
  }
  text.append(static_cast<size_t>(minDecimals), '0');
  TrimFraction(text, minDecimals);
  return text;
}

AnsiString TqzConversion::FloatToStr(const Variant& Value) {
  const uint16_t type = Value.VarType();
  if (IsIntegerVarType(type)) return IntToStr(Value.AsInt64());
  if (type == varCurrency) {
    // Written from the exact scaled amount: 4 decimals, at least 2.
    const int64_t scaled = Value.AsCurrencyScaled();
    const uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string text = fmt::format("{}{}.{:04d}", scaled < 0 ? "-" : "", magnitude / 10000, magnitude % 10000);
    TrimFraction(text, 2);
    return text;
  }
  return FloatToStr(Value.AsDouble(), 7, 2);
}

// ------------------------------------------------------------------------------------ text to floats

double TqzConversion::StrToReal(std::u16string_view Str, bool RaiseException, double Default) {
  UnicodeString text(Str);
  const size_t commas = std::count(text.begin(), text.end(), u',');
  const size_t dots = std::count(text.begin(), text.end(), u'.');
  if (commas > 0 && dots > 0) {
    const size_t lastComma = text.rfind(u',');
    const size_t lastDot = text.rfind(u'.');
    if (lastComma > lastDot && commas == 1) {
      std::erase(text, u'.');
      std::replace(text.begin(), text.end(), u',', u'.');
    } else if (lastDot > lastComma && dots == 1) {
      std::erase(text, u',');
    }
  } else if (commas > 0) {
    std::replace(text.begin(), text.end(), u',', u'.');
  }
  if (text.empty()) return Default;
  double value = 0;
  if (TqzStrToFloatConverter::TryParseFloat(text, u'.', value, true)) return value;
  if (RaiseException) throw EConvertError(u"float string conversion exception for value \"" + text + u"\"");
  return Default;
}

double TqzConversion::StrToFloat(std::u16string_view Str, bool RaiseException, double Default) {
  if (Str.find_first_of(u"Ee") != std::u16string_view::npos) {
    double value = 0;
    if (TqzStrToFloatConverter::TryParseFloat(Str, u'.', value, true)) return value;
    if (RaiseException) throw Exception(u"cannot convert " + UnicodeString(Str) + u" to float");
    return Default;
  }
  return TqzStrToFloatConverter::StrToFloat(Str, Default, RaiseException, false);
}

double TqzConversion::LocaleStrToFloat(std::u16string_view Str, bool RaiseException, double Default,
                                       bool TryAlternativeConversion) {
  try {
    const platform::TFormatSettings settings = platform::GetFormatSettings();
    UnicodeString text(Str);
    if (settings.ThousandSeparator != 0) std::erase(text, settings.ThousandSeparator);
    double value = 0;
    if (TqzStrToFloatConverter::TryParseFloat(text, settings.DecimalSeparator, value, true)) return value;
  } catch (...) {
    // falls through to the alternatives below
  }
  if (TryAlternativeConversion) return StrToFloat(Str, RaiseException, Default);
  if (RaiseException) throw Exception(u"cannot convert " + UnicodeString(Str) + u" to float");
  return Default;
}

// ------------------------------------------------------------------------------------ Booleans

UnicodeString TqzConversion::BoolToStr(bool BoolVal) { return BoolVal ? u"True" : u"False"; }

UnicodeString TqzConversion::BoolToStrExt(bool BoolVal, std::u16string_view TrueStr, std::u16string_view FalseStr) {
  return UnicodeString(BoolVal ? TrueStr : FalseStr);
}

bool TqzConversion::StrToBool(std::u16string_view BoolStr) {
  const UnicodeString word = platform::UpperAscii(std::u16string_view(platform::Trim(BoolStr)));
  return std::find(kYesWords.begin(), kYesWords.end(), std::u16string_view(word)) != kYesWords.end();
}

bool TqzConversion::StrToBoolExt(std::u16string_view BoolStr, std::u16string_view TrueStr,
                                 std::u16string_view FalseStr) {
  const UnicodeString trueWord = UpperCaseStr(platform::Trim(TrueStr));
  const UnicodeString falseWord = UpperCaseStr(platform::Trim(FalseStr));
  if (trueWord == falseWord) return StrToBool(BoolStr);
  return UpperCaseStr(platform::Trim(BoolStr)) == trueWord;
}

AnsiString TqzConversion::BoolToSingleByteStr(bool BoolVal) { return BoolVal ? "1" : "0"; }

AnsiString TqzConversion::BoolToSingleByteStrX(bool BoolVal) { return BoolVal ? "X" : ""; }

bool TqzConversion::SingleByteStrToBool(std::u16string_view BoolVal) {
  return BoolVal == u"1" || BoolVal == u"X" || BoolVal == u"x";
}

int32_t TqzConversion::BoolToInt(bool BoolVal) { return BoolVal ? 1 : 0; }

bool TqzConversion::IntToBool(int32_t BoolInt) { return BoolInt != 0; }

UnicodeString TqzConversion::IntBoolToStr(int32_t BoolInt) { return BoolToStr(IntToBool(BoolInt)); }

// ------------------------------------------------------------------------------------ code pages

AnsiString TqzConversion::AsciiToAnsi(std::string_view AText) {
  const std::string_view text = AText.substr(0, AText.find('\0'));
  return platform::WideToAnsi(platform::OemToWide(text));
}

AnsiString TqzConversion::AnsiToAscii(std::string_view AText) {
  const std::string_view text = AText.substr(0, AText.find('\0'));
  return platform::WideToOem(platform::AnsiToWide(text));
}
