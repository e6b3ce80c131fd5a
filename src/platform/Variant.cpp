#include "Variant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"

namespace {

[[noreturn]] void CastError(uint16_t from, const char16_t* to) {
  throw EVariantError(u"Could not convert variant of type (" + VarTypeName(from) + u") into type (" + to + u")");
}

int64_t CutInteger(uint16_t intType, int64_t v) {
  switch (intType) {
    case varSmallint: return static_cast<int16_t>(v);
    case varInteger: return static_cast<int32_t>(v);
    case varShortInt: return static_cast<int8_t>(v);
    case varByte: return static_cast<uint8_t>(v);
    case varWord: return static_cast<uint16_t>(v);
    case varLongWord: return static_cast<uint32_t>(v);
    default: return v;
  }
}

// Reads a decimal number written with the process decimal separator (or "."), with optional
// thousands separators and blanks around; false when the text is no number.
bool ParseLocaleFloat(std::u16string_view text, double& out) {
  const auto fs = platform::GetFormatSettings();
  std::string ascii;
  const UnicodeString t = platform::Trim(text);
  if (t.empty()) return false;
  for (char16_t c : t) {
    if (c == fs.DecimalSeparator || c == u'.') {
      ascii.push_back('.');
    } else if ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'e' || c == u'E') {
      ascii.push_back(static_cast<char>(c));
    } else if (c == fs.ThousandSeparator) {
      continue;
    } else {
      return false;
    }
  }
  char* end = nullptr;
  out = std::strtod(ascii.c_str(), &end);
  return end && *end == '\0' && std::isfinite(out);
}

}  // namespace

Variant Variant::Null() {
  Variant v;
  v.type_ = varNull;
  return v;
}

Variant Variant::FromAnsi(AnsiString s) {
  Variant v;
  v.type_ = varString;
  v.value_ = std::move(s);
  return v;
}

Variant Variant::FromOleStr(UnicodeString s) {
  Variant v(std::move(s));
  v.type_ = varOleStr;
  return v;
}

Variant Variant::FromDate(TDateTime d) {
  Variant v(d);
  v.type_ = varDate;
  return v;
}

Variant Variant::FromCurrency(double c) {
  return FromCurrencyScaled(static_cast<int64_t>(std::llround(c * 10000.0)));
}

Variant Variant::FromCurrencyScaled(int64_t scaled) {
  Variant v(scaled);
  v.type_ = varCurrency;
  return v;
}

Variant Variant::FromSingle(float f) {
  Variant v(static_cast<double>(f));
  v.type_ = varSingle;
  return v;
}

Variant Variant::FromInteger(uint16_t intType, int64_t i) {
  Variant v(CutInteger(intType, i));
  v.type_ = intType;
  return v;
}

Variant Variant::FromBytes(std::string bytes) {
  Variant v;
  v.type_ = varArray | varByte;
  v.value_ = std::move(bytes);
  return v;
}

Variant Variant::FromArray(std::vector<Variant> items) {
  Variant v;
  v.type_ = varArray | varVariant;
  v.value_ = std::make_shared<const std::vector<Variant>>(std::move(items));
  return v;
}

bool Variant::IsString() const {
  return type_ == varOleStr || type_ == varStrArg || type_ == varUStrArg || type_ == varString || type_ == varUString;
}

bool Variant::IsInteger() const {
  switch (type_) {
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: case varUInt64:
      return true;
    default:
      return false;
  }
}

bool Variant::IsFloat() const { return type_ == varSingle || type_ == varDouble || type_ == varCurrency; }

bool Variant::IsNumeric() const { return IsInteger() || IsFloat(); }

UnicodeString Variant::AsString() const {
  switch (type_) {
    case varEmpty: return {};
    case varNull: CastError(type_, u"UnicodeString");
    case varBoolean: return std::get<bool>(value_) ? u"True" : u"False";
    case varUInt64: return platform::ToU16(std::to_string(std::get<uint64_t>(value_)));
    case varCurrency: {
      const int64_t scaled = std::get<int64_t>(value_);
      return platform::FloatToStr(static_cast<double>(scaled) / 10000.0);
    }
    case varSingle: {
      // A single carries about 7 significant digits.
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.7g", std::get<double>(value_));
      return platform::FloatToStr(std::strtod(buf, nullptr));
    }
    case varDouble: return platform::FloatToStr(std::get<double>(value_));
    case varDate: return platform::FormatDateTime(u"", std::get<double>(value_));
    case varString: case varStrArg: return platform::AnsiToWide(std::get<std::string>(value_));
    case varOleStr: case varUString: case varUStrArg: return std::get<UnicodeString>(value_);
    default:
      if (IsInteger()) return platform::IntToStr(std::get<int64_t>(value_));
      CastError(type_, u"UnicodeString");
  }
}

AnsiString Variant::AsAnsiString() const {
  if (type_ == varString || type_ == varStrArg || type_ == (varArray | varByte)) return std::get<std::string>(value_);
  return platform::WideToAnsi(AsString());
}

int64_t Variant::AsInt64() const {
  switch (type_) {
    case varEmpty: return 0;
    case varBoolean: return std::get<bool>(value_) ? -1 : 0;
    case varUInt64: return static_cast<int64_t>(std::get<uint64_t>(value_));
    case varCurrency: {
      const double d = static_cast<double>(std::get<int64_t>(value_)) / 10000.0;
      return static_cast<int64_t>(std::nearbyint(d));
    }
    case varSingle: case varDouble: case varDate: {
      const double d = std::nearbyint(std::get<double>(value_));
      if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) CastError(type_, u"Int64");
      return static_cast<int64_t>(d);
    }
    default:
      if (IsInteger()) return std::get<int64_t>(value_);
      if (IsString()) {
        const UnicodeString s = AsString();
        int64_t r = 0;
        if (platform::TryStrToInt64(s, r)) return r;
        double d = 0;
        if (ParseLocaleFloat(s, d) && d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)
          return static_cast<int64_t>(std::nearbyint(d));
      }
      CastError(type_, u"Int64");
  }
}

int32_t Variant::AsInteger() const {
  const int64_t v = AsInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) CastError(type_, u"Integer");
  return static_cast<int32_t>(v);
}

double Variant::AsDouble() const {
  switch (type_) {
    case varEmpty: return 0;
    case varBoolean: return std::get<bool>(value_) ? -1 : 0;
    case varUInt64: return static_cast<double>(std::get<uint64_t>(value_));
    case varCurrency: return static_cast<double>(std::get<int64_t>(value_)) / 10000.0;
    case varSingle: case varDouble: case varDate: return std::get<double>(value_);
    default:
      if (IsInteger()) return static_cast<double>(std::get<int64_t>(value_));
      if (IsString()) {
        double d = 0;
        if (ParseLocaleFloat(AsString(), d)) return d;
      }
      CastError(type_, u"Double");
  }
}

bool Variant::AsBool() const {
  if (type_ == varBoolean) return std::get<bool>(value_);
  if (type_ == varEmpty) return false;
  if (IsString()) {
    const UnicodeString s = platform::Trim(AsString());
    if (platform::SameTextW(s, u"True")) return true;
    if (platform::SameTextW(s, u"False")) return false;
    double d = 0;
    if (ParseLocaleFloat(s, d)) return d != 0;
    CastError(type_, u"Boolean");
  }
  if (IsNumeric()) return AsDouble() != 0;
  CastError(type_, u"Boolean");
}

TDateTime Variant::AsDateTime() const {
  if (type_ == varDate) return std::get<double>(value_);
  if (type_ == varEmpty) return 0;
  if (IsNumeric()) return AsDouble();
  if (IsString()) {
    double d = 0;
    if (ParseLocaleFloat(AsString(), d)) return d;
  }
  CastError(type_, u"Date");
}

int64_t Variant::AsCurrencyScaled() const {
  if (type_ == varCurrency) return std::get<int64_t>(value_);
  const double d = AsDouble() * 10000.0;
  if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) CastError(type_, u"Currency");
  return static_cast<int64_t>(std::llround(d));
}

const std::string& Variant::AsBytes() const {
  if (const auto* s = std::get_if<std::string>(&value_)) return *s;
  CastError(type_, u"Bytes");
}

const std::vector<Variant>& Variant::AsArray() const {
  if (const auto* a = std::get_if<Items>(&value_); a && *a) return **a;
  CastError(type_, u"Array");
}

bool Variant::operator==(const Variant& other) const {
  if (type_ != other.type_) return false;
  if (const auto* a = std::get_if<Items>(&value_)) {
    const auto* b = std::get_if<Items>(&other.value_);
    if (!b || !*a || !*b) return a == b;
    return **a == **b;
  }
  return value_ == other.value_;
}

UnicodeString VarToStr(const Variant& v) { return v.IsEmptyOrNull() ? UnicodeString() : v.AsString(); }

UnicodeString VarTypeName(uint16_t type) {
  if (type & varArray) return u"Array " + VarTypeName(type & varTypeMask);
  switch (type) {
    case varEmpty: return u"Empty";
    case varNull: return u"Null";
    case varSmallint: return u"Smallint";
    case varInteger: return u"Integer";
    case varSingle: return u"Single";
    case varDouble: return u"Double";
    case varCurrency: return u"Currency";
    case varDate: return u"Date";
    case varOleStr: return u"OleStr";
    case varDispatch: return u"Dispatch";
    case varError: return u"Error";
    case varBoolean: return u"Boolean";
    case varVariant: return u"Variant";
    case varUnknown: return u"Unknown";
    case varShortInt: return u"ShortInt";
    case varByte: return u"Byte";
    case varWord: return u"Word";
    case varLongWord: return u"LongWord";
    case varInt64: return u"Int64";
    case varUInt64: return u"UInt64";
    case varString: return u"String";
    case varAny: return u"Any";
    case varUString: return u"UnicodeString";
    default: {
      UnicodeString name = platform::IntToHex(type, 4);
      name.insert(name.begin(), u'$');
      return name;
    }
  }
}

namespace platform {

UnicodeString FloatToStr(double value) {
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value > 0 ? u"INF" : u"-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string s(buf);
  if (s == "-0") s = "0";
  // "1.5e+20" -> "1.5E20", "1e-05" -> "1E-5"
  const auto e = s.find('e');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e);
    std::string ex = s.substr(e + 1);
    const bool neg = !ex.empty() && ex[0] == '-';
    if (!ex.empty() && (ex[0] == '+' || ex[0] == '-')) ex.erase(0, 1);
    while (ex.size() > 1 && ex[0] == '0') ex.erase(0, 1);
    s = mant + "E" + (neg ? "-" : "") + ex;
  }
  const char16_t dec = GetFormatSettings().DecimalSeparator;
  UnicodeString out = ToU16(s);
  for (auto& c : out) if (c == u'.') c = dec;
  return out;
}

namespace {

void AppendNumber(UnicodeString& out, int value, int digits) {
  UnicodeString n = IntToStr(value);
  while (static_cast<int>(n.size()) < digits) n.insert(n.begin(), u'0');
  out += n;
}

bool StartsWithNoCase(std::u16string_view s, size_t i, std::u16string_view what) {
  if (i + what.size() > s.size()) return false;
  for (size_t k = 0; k < what.size(); ++k) {
    if (UpperChar(s[i + k]) != UpperChar(what[k])) return false;
  }
  return true;
}

void FormatInto(UnicodeString& out, std::u16string_view fmt, TDateTime value, const TFormatSettings& fs, int depth) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, sec = 0, msec = 0;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, sec, msec);
  // Whether the format holds an am/pm marker: then hours are 12-hour.
  bool twelve = false;
  for (size_t k = 0; k < fmt.size(); ++k) {
    if (StartsWithNoCase(fmt, k, u"am/pm") || StartsWithNoCase(fmt, k, u"a/p") || StartsWithNoCase(fmt, k, u"ampm")) {
      twelve = true;
      break;
    }
  }
  bool lastWasHour = false;
  size_t i = 0;
  while (i < fmt.size()) {
    const char16_t c = fmt[i];
    const char16_t u = UpperChar(c);
    size_t run = 1;
    while (i + run < fmt.size() && UpperChar(fmt[i + run]) == u) ++run;
    switch (u) {
      case u'"': case u'\'': {
        size_t j = i + 1;
        while (j < fmt.size() && fmt[j] != c) out.push_back(fmt[j++]);
        i = j + 1;
        continue;
      }
      case u'Y':
        if (run <= 2) AppendNumber(out, year % 100, 2); else AppendNumber(out, year, 4);
        break;
      case u'M': {
        // "m" right after an hour means minutes.
        if (lastWasHour && run <= 2) {
          AppendNumber(out, minute, run == 2 ? 2 : 1);
        } else if (run == 1 || run == 2) {
          AppendNumber(out, month, static_cast<int>(run));
        } else if (run == 3) {
          if (month >= 1) out += fs.ShortMonthNames[month - 1];
        } else {
          if (month >= 1) out += fs.LongMonthNames[month - 1];
        }
        break;
      }
      case u'D':
        if (run <= 2) {
          AppendNumber(out, day, static_cast<int>(run));
        } else if (run == 3) {
          out += fs.ShortDayNames[DayOfWeek(value) - 1];
        } else if (run == 4) {
          out += fs.LongDayNames[DayOfWeek(value) - 1];
        } else if (run == 5) {
          if (depth < 2) FormatInto(out, fs.ShortDateFormat, value, fs, depth + 1);
        } else {
          if (depth < 2) FormatInto(out, fs.LongDateFormat, value, fs, depth + 1);
        }
        break;
      case u'H': {
        int h = hour;
        if (twelve) {
          h = hour % 12;
          if (h == 0) h = 12;
        }
        AppendNumber(out, h, run >= 2 ? 2 : 1);
        i += run;
        lastWasHour = true;
        continue;
      }
      case u'N': AppendNumber(out, minute, run >= 2 ? 2 : 1); break;
      case u'S': AppendNumber(out, sec, run >= 2 ? 2 : 1); break;
      case u'Z': AppendNumber(out, msec, run >= 3 ? 3 : 1); break;
      case u'T':
        if (depth < 2) FormatInto(out, run >= 2 ? fs.LongTimeFormat : fs.ShortTimeFormat, value, fs, depth + 1);
        break;
      case u'C':
        if (depth < 2) {
          FormatInto(out, fs.ShortDateFormat, value, fs, depth + 1);
          if (hour || minute || sec || msec) {
            out.push_back(u' ');
            FormatInto(out, fs.LongTimeFormat, value, fs, depth + 1);
          }
        }
        break;
      case u'A':
        if (StartsWithNoCase(fmt, i, u"am/pm")) {
          if (fmt[i] == u'A') {
            out += hour < 12 ? u"AM" : u"PM";
          } else {
            out += hour < 12 ? u"am" : u"pm";
          }
          i += 5;
          continue;
        }
        if (StartsWithNoCase(fmt, i, u"a/p")) {
          out.push_back(hour < 12 ? (fmt[i] == u'A' ? u'A' : u'a') : (fmt[i] == u'A' ? u'P' : u'p'));
          i += 3;
          continue;
        }
        if (StartsWithNoCase(fmt, i, u"ampm")) {
          out += hour < 12 ? fs.TimeAMString : fs.TimePMString;
          i += 4;
          continue;
        }
        out.append(run, c);
        break;
      case u'/':
        out.append(run, fs.DateSeparator);
        break;
      case u':':
        out.append(run, fs.TimeSeparator);
        break;
      default:
        out.append(fmt.substr(i, run));
        break;
    }
    // Only another date or time element ends the "minutes after hour" reading of "m".
    if (u >= u'A' && u <= u'Z') lastWasHour = false;
    i += run;
  }
}

}  // namespace

UnicodeString FormatDateTime(std::u16string_view format, TDateTime value) {
  const TFormatSettings fs = GetFormatSettings();
  UnicodeString out;
  FormatInto(out, format.empty() ? std::u16string_view(u"c") : format, value, fs, 0);
  return out;
}

}  // namespace platform
