// Text forms of the shared enumerations.
#include "qzTypes.h"

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "SysUtils.h"
#include "qzConversion.h"
#include "qzDateTime.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <iterator>
#include <utility>

namespace {

using platform::ToU16;

// Looks `key` up in a table of (text, value) pairs; `fallback` when absent.
template <typename E, std::size_t N>
E Lookup(const std::pair<const char16_t*, E> (&table)[N], const UnicodeString& key, E fallback) {
  for (const auto& [text, value] : table)
    if (key == text) return value;
  return fallback;
}

UnicodeString TrimUpper(const UnicodeString& s) { return platform::UpperW(platform::Trim(s)); }
UnicodeString LowerTrim(const UnicodeString& s) { return platform::Trim(platform::LowerW(s)); }

const char16_t* const kLogWords[] = {
    u"info",   u"error",   u"warning", u"success", u"debug",    u"trace",    u"process", u"startup",
    u"shutdown", u"critical", u"note",  u"user",    u"verify",   u"create",   u"modify",  u"delete",
    u"input",  u"blob",    u"meta",    u"subject", u"register", u"import",   u"export",  u"unknown"};
static_assert(std::size(kLogWords) == qzLog_Unknown + 1);

}  // namespace

UnicodeString TqzTypes::GetThreadPriorityStr(TThreadPriority Priority) {
  switch (Priority) {
    case tpIdle: return u"Idle";
    case tpLowest: return u"Lowest";
    case tpLower: return u"Lower";
    case tpNormal: return u"Normal";
    case tpHigher: return u"Higher";
    case tpHighest: return u"Highest";
    case tpTimeCritical: return u"Timecritical";
  }
  return u"Lower";
}

TThreadPriority TqzTypes::GetThreadPriority(int32_t Priority) {
  switch (Priority) {
    case 0: return tpIdle;
    case 1: return tpLowest;
    case 3: return tpNormal;
    case 4: return tpHigher;
    case 5: return tpHighest;
    case 6: return tpTimeCritical;
    default: return tpLower;
  }
}

UnicodeString TqzTypes::GetSchemeFieldTypeStr(TqzSchemeFieldType FieldType) {
  switch (FieldType) {
    case qzSFT_Editbox: return u"Editbox";
    case qzSFT_Checkbox: return u"Checkbox";
    case qzSFT_Combobox: return u"Combobox";
    case qzSFT_Memobox: return u"Memobox";
    case qzSFT_Datebox: return u"Datebox";
    case qzSFT_Separator: return u"Separator";
  }
  return u"Editbox";
}

TqzSchemeFieldType TqzTypes::GetSchemeFieldTypeFromStr(const UnicodeString& FieldType) {
  static const std::pair<const char16_t*, TqzSchemeFieldType> table[] = {
      {u"EDITBOX", qzSFT_Editbox},   {u"CHECKBOX", qzSFT_Checkbox}, {u"COMBOBOX", qzSFT_Combobox},
      {u"MEMOBOX", qzSFT_Memobox},   {u"DATEBOX", qzSFT_Datebox},   {u"SEPARATOR", qzSFT_Separator}};
  return Lookup(table, TrimUpper(FieldType), qzSFT_Editbox);
}

UnicodeString TqzTypes::GetFieldDataTypeStr(TqzFieldDataType FieldDataType) {
  switch (FieldDataType) {
    case qzFDT_Text:
    case qzFDT_VarChar: return u"STRING";
    case qzFDT_Date: return u"DATE";
    case qzFDT_Numeric: return u"NUMERIC";
    case qzFDT_Float: return u"FLOAT";
    case qzFDT_Currency: return u"CURRENCY";
    case qzFDT_Boolean: return u"BOOLEAN";
  }
  return u"STRING";
}

TqzFieldDataType TqzTypes::GetFieldDataTypeFromStr(const UnicodeString& FieldDataType) {
  static const std::pair<const char16_t*, TqzFieldDataType> table[] = {
      {u"STRING", qzFDT_Text},   {u"DATE", qzFDT_Date},         {u"NUMERIC", qzFDT_Numeric},
      {u"FLOAT", qzFDT_Float},   {u"CURRENCY", qzFDT_Currency}, {u"BOOLEAN", qzFDT_Boolean}};
  return Lookup(table, platform::UpperW(FieldDataType), qzFDT_Text);
}

uint16_t TqzTypes::GetVarTypeFromFieldDataType(TqzFieldDataType DataType) {
  switch (DataType) {
    case qzFDT_Date: return 7;
    case qzFDT_Float: return 5;
    case qzFDT_Currency: return 6;
    case qzFDT_Boolean: return 11;
    default: return 8;  // text, varchar, numeric and out of range: the COM text code
  }
}

UnicodeString TqzTypes::GetCPUPlatformStr(TqzCPUPlatform CPUPlatform) {
  switch (CPUPlatform) {
    case qzCPU_x86: return u"x86";
    case qzCPU_x64: return u"x64";
    default: return u"Unknown";
  }
}

TqzCPUPlatform TqzTypes::GetCPUPlatformFromOSPlatform(TqzOSPlatform OSPlatform) {
  switch (OSPlatform) {
    case qzOSP_Win32: return qzCPU_x86;
    case qzOSP_Win64: return qzCPU_x64;
    default: return qzCPU_Unknown;
  }
}

UnicodeString TqzTypes::GetOSPlatformStr(TqzOSPlatform OSPlatform) {
  switch (OSPlatform) {
    case qzOSP_Common: return u"Common";
    case qzOSP_Win32: return u"Win32";
    case qzOSP_Win64: return u"Win64";
    case qzOSP_None: return u"";
    default: return u"Unknown";
  }
}

TqzOSPlatform TqzTypes::GetOSPlatformFromStr(const UnicodeString& OSPlatform, TqzOSPlatform Default) {
  static const std::pair<const char16_t*, TqzOSPlatform> table[] = {
      {u"COMMON", qzOSP_Common}, {u"WIN32", qzOSP_Win32}, {u"WIN64", qzOSP_Win64}};
  return Lookup(table, TrimUpper(OSPlatform), Default);
}

UnicodeString TqzTypes::GetEnterpriseServiceStr(TqzEnterpriseService Service) {
  const int n = static_cast<int>(Service);
  if (n < 0 || n > qzESVC_Module18) return u"";
  char buf[32];
  std::snprintf(buf, sizeof buf, "qzmodule%02dsrv.exe", n + 1);
  return ToU16(buf);
}

UnicodeString TqzTypes::GetDatabaseTypeStr(TqzDatabaseType DbType) {
  switch (DbType) {
    case qzDBT_MSSQL: return u"MSSQL";
    case qzDBT_MSSQL2000: return u"MSSQL2000";
    case qzDBT_MSSQL2005: return u"MSSQL2005";
    case qzDBT_MSSQL2008: return u"MSSQL2008";
    case qzDBT_MSSQL2012: return u"MSSQL2012";
    case qzDBT_MSSQL2014: return u"MSSQL2014";
    case qzDBT_MySQL: return u"MySQL";
    case qzDBT_Oracle: return u"Oracle";
    case qzDBT_DB2: return u"DB2";
    case qzDBT_Informix: return u"Informix";
    default: return u"Unknown";  // Unknown, N7 and MSSQL2016 have no text of their own
  }
}

TqzDatabaseType TqzTypes::GetDatabaseType(const UnicodeString& DbType) {
  static const std::pair<const char16_t*, TqzDatabaseType> table[] = {
      {u"MSSQL", qzDBT_MSSQL}, {u"MYSQL", qzDBT_MySQL}, {u"ORACLE", qzDBT_Oracle},
      {u"DB2", qzDBT_DB2},     {u"INFORMIX", qzDBT_Informix}};
  return Lookup(table, TrimUpper(DbType), qzDBT_Unknown);
}

UnicodeString TqzTypes::GetWindowsVersionTypeStr(TqzWindowsVersion WinVer) {
  switch (WinVer) {
    case qzWV_Win2000: return u"Windows 2000";
    case qzWV_WinXP: return u"Windows XP";
    case qzWV_WinVista: return u"Windows Vista";
    case qzWV_Win7: return u"Windows 7";
    case qzWV_Win8: return u"Windows 8";
    case qzWV_Win8_1: return u"Windows 8.1";
    case qzWV_Win10: return u"Windows 10";
    case qzWV_WinServer2003: return u"Windows Server 2003";
    case qzWV_WinServer2003R2: return u"Windows Server 2003 R2";
    case qzWV_WinServer2008: return u"Windows Server 2008";
    case qzWV_WinServer2008R2: return u"Windows Server 2008 R2";
    case qzWV_WinServer2012: return u"Windows Server 2012";
    case qzWV_WinServer2012R2: return u"Windows Server 2012 R2";
    case qzWV_WinServer2016: return u"Windows Server 2016";
    default: return u"Unknown";
  }
}

UnicodeString TqzTypes::GetEncryptionTypeStr(TqzCryptingMethod Encryption) {
  switch (Encryption) {
    case qzCM_3DES: return u"3DES";
    case qzCM_AES256: return u"AES256";
    default: return u"";
  }
}

TqzCryptingMethod TqzTypes::GetEncryptionType(const UnicodeString& CryptStr) {
  static const std::pair<const char16_t*, TqzCryptingMethod> table[] = {{u"3DES", qzCM_3DES},
                                                                       {u"AES256", qzCM_AES256}};
  return Lookup(table, platform::UpperW(CryptStr), qzCM_None);
}

TqzPDFConformance TqzTypes::GetPDFConformanceType(const UnicodeString& ConformanceStr) {
  static const std::pair<const char16_t*, TqzPDFConformance> table[] = {
      {u"PDF_COMMON", qzPDF_Common}, {u"PDF_A_1A", qzPDF_A_1a}, {u"PDF_A_1B", qzPDF_A_1b},
      {u"PDF_A_2A", qzPDF_A_2a},     {u"PDF_A_2B", qzPDF_A_2b}, {u"PDF_A_2U", qzPDF_A_2u},
      {u"PDF_A_3A", qzPDF_A_3a},     {u"PDF_A_3B", qzPDF_A_3b}, {u"PDF_A_3U", qzPDF_A_3u},
      {u"PDF_UA_1", qzPDF_UA_1},     {u"PDF_1_0", qzPDF_1_0},   {u"PDF_1_1", qzPDF_1_1},
      {u"PDF_1_2", qzPDF_1_2},       {u"PDF_1_3", qzPDF_1_3},   {u"PDF_1_4", qzPDF_1_4},
      {u"PDF_1_5", qzPDF_1_5},       {u"PDF_1_6", qzPDF_1_6},   {u"PDF_1_7", qzPDF_1_7},
      {u"PDF_2_0", qzPDF_2_0}};
  return Lookup(table, platform::UpperW(ConformanceStr), qzPDF_Unknown);
}

UnicodeString TqzTypes::GetLogTypeText(TqzLogInfoType Typ) {
  const int n = static_cast<int>(Typ);
  if (n < 0 || n > qzLog_Unknown) return u"unknown";
  return kLogWords[n];
}

TqzLogInfoType TqzTypes::GetLogTypeFromText(const UnicodeString& Typ) {
  const UnicodeString key = LowerTrim(Typ);
  for (int i = 0; i < qzLog_Unknown; ++i)  // "unknown" itself is not looked up
    if (key == kLogWords[i]) return static_cast<TqzLogInfoType>(i);
  return qzLog_Unknown;
}

UnicodeString TqzTypes::GetOCREngineTypeText(TqzOCREngine Typ) {
  switch (Typ) {
    case qzOCR_FineReader: return u"FineReader";
    case qzOCR_Transym: return u"Transym";
    case qzOCR_Tesseract: return u"Tesseract";
    case qzOCR_MSO: return u"MSO";
    case qzOCR_Nicomsoft: return u"Nicomsoft";
    default: return u"Unknown";
  }
}

TqzOCREngine TqzTypes::GetOCREngineTypeFromText(const UnicodeString& Typ) {
  static const std::pair<const char16_t*, TqzOCREngine> table[] = {
      {u"finereader", qzOCR_FineReader}, {u"transym", qzOCR_Transym}, {u"tesseract", qzOCR_Tesseract},
      {u"mso", qzOCR_MSO},               {u"nicomsoft", qzOCR_Nicomsoft}};
  return Lookup(table, LowerTrim(Typ), qzOCR_Unknown);
}

UnicodeString TqzTypes::GetRecoEngineTypeText(TqzRecognitionEngine Typ) {
  switch (Typ) {
    case qzRE_Amyuni: return u"Amyuni";
    case qzRE_Orpalis: return u"Orpalis";
    case qzRE_FineReader: return u"FineReader";
    case qzRE_Transym: return u"Transym";
    case qzRE_Tesseract: return u"Tesseract";
    case qzRE_Nicomsoft: return u"Nicomsoft";
    case qzRE_FreeOCR: return u"FreeOCR";
    default: return u"Unknown";
  }
}

TqzRecognitionEngine TqzTypes::GetRecoEngineTypeFromText(const UnicodeString& Typ) {
  static const std::pair<const char16_t*, TqzRecognitionEngine> table[] = {
      {u"amyuni", qzRE_Amyuni},       {u"orpalis", qzRE_Orpalis},     {u"finereader", qzRE_FineReader},
      {u"transym", qzRE_Transym},     {u"tesseract", qzRE_Tesseract}, {u"nicomsoft", qzRE_Nicomsoft},
      {u"freeocr", qzRE_FreeOCR}};
  return Lookup(table, LowerTrim(Typ), qzRE_Unknown);
}

// =============================================================================================
// Variant type names and kinds

namespace {

struct VarTypeEntry {
  uint16_t code;
  const char16_t* name;
};

// Names written by GetVarTypeStr, in code order.
const VarTypeEntry kVarTypeNames[] = {
    {0, u"EMPTY"},      {1, u"NULL"},      {2, u"SMALLINT"}, {3, u"INT"},       {4, u"SINGLE"},
    {5, u"DOUBLE"},     {6, u"CURRENCY"},  {7, u"DATE"},     {8, u"UCS2STR"},   {9, u"DISPATCH"},
    {10, u"ERROR"},     {11, u"BOOLEAN"},  {12, u"VARIANT"}, {16, u"SHORTINT"}, {17, u"BYTE"},
    {18, u"WORD"},      {19, u"LONGWORD"}, {20, u"INT64"},   {72, u"STRARG"},   {74, u"USTRARG"},
    {256, u"STRING"},   {257, u"ANY"},     {258, u"UCS4STR"}, {4095, u"TYPEMASK"}, {8192, u"ARRAY"},
    {16384, u"BYREF"}};

// Further names read by GetVarTypeFromStr.
const VarTypeEntry kVarTypeAliases[] = {
    {5, u"FLOAT"}, {5, u"REAL"}, {7, u"TIME"}, {11, u"BOOL"}, {13, u"UNKNOWN"}};

bool IsIntegerCode(uint16_t t) { return t == 2 || t == 3 || (t >= 16 && t <= 20); }
bool IsFloatCode(uint16_t t) { return t == 4 || t == 5 || t == 6; }

// The lenient float reading of a text: the first ',' becomes '.', then the longest leading
// decimal number (blanks, sign, digits, '.' and digits, exponent); no number gives 0.
double LenientFloat(const UnicodeString& text) {
  UnicodeString t = text;
  const size_t comma = t.find(u',');
  if (comma != UnicodeString::npos) t[comma] = u'.';
  size_t i = 0;
  while (i < t.size() && t[i] == u' ') ++i;
  std::string num;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) num.push_back(static_cast<char>(t[i++]));
  auto digits = [&](std::string& out) {
    size_t n = 0;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
      out.push_back(static_cast<char>(t[i++]));
      ++n;
    }
    return n;
  };
  size_t intDigits = digits(num);
  size_t fracDigits = 0;
  if (i < t.size() && t[i] == u'.') {
    std::string frac = ".";
    const size_t save = i++;
    fracDigits = digits(frac);
    if (fracDigits > 0 || intDigits > 0) num += frac;
    else i = save;
  }
  if (intDigits == 0 && fracDigits == 0) return 0;
  if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
    std::string ex = "e";
    const size_t save = i++;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ex.push_back(static_cast<char>(t[i++]));
    if (digits(ex) > 0) num += ex;
    else i = save;
  }
  return std::strtod(num.c_str(), nullptr);
}

// A float rounded to the nearest integer, halves to even, within [lo, hi].
int64_t RoundEven(double d, double lo, double hi, uint16_t type, const char16_t* target) {
  const double r = std::nearbyint(d);
  if (!(r >= lo && r <= hi))
    throw EVariantError(u"Could not convert variant of type (" + ::VarTypeName(type) + u") into type (" + target + u")");
  return static_cast<int64_t>(r);
}

constexpr double kInt64Lo = -9223372036854775808.0;
constexpr double kInt64Hi = 9223372036854774784.0;  // largest double below 2^63

int64_t LenientInt(const Variant& V, bool wide) {
  const uint16_t t = V.VarType();
  const double lo = wide ? kInt64Lo : static_cast<double>(INT32_MIN);
  const double hi = wide ? kInt64Hi : static_cast<double>(INT32_MAX);
  const char16_t* target = wide ? u"Int64" : u"Integer";
  switch (t) {
    case varNull: case varDispatch: case varUnknown: return 0;
    case varSmallint: case varInteger: case varError: case varByte: return V.AsInt64();
    case varSingle: case varDouble: case varCurrency: case varDate: return RoundEven(V.AsDouble(), lo, hi, t, target);
    case varOleStr: case varString: case varUString: return RoundEven(LenientFloat(V.AsString()), lo, hi, t, target);
    case varBoolean: return V.AsBool() ? 1 : 0;
    case varInt64:
      if (wide) return V.AsInt64();
      return V.AsInteger();
    case varUInt64:
      // Values beyond the signed range have no 64-bit signed form.
      if (V.AsInt64() < 0)
        throw EVariantError(u"Could not convert variant of type (UInt64) into type (" + UnicodeString(target) + u")");
      return wide ? V.AsInt64() : V.AsInteger();
    default:
      // The other integer kinds (and empty) by the platform's rules; 64-bit callers keep the
      // full range.
      return wide ? V.AsInt64() : V.AsInteger();
  }
}

// "yyyy-mm-dd", "hh:nn:ss" or both, with ':' between the time fields always. A value outside the
// years 1 to 9999 raises (and so is written as the empty text) rather than as a wrong date.
UnicodeString DateStorageText(TDateTime value, bool json) {
  int64_t days = 0;
  int32_t ms = 0;
  qzDateTimeDetail::SplitCalendarDateTime(value, days, ms);
  auto pad = [](int64_t v, int w) {
    UnicodeString s = platform::IntToStr(v);
    while (static_cast<int>(s.size()) < w) s.insert(s.begin(), u'0');
    return s;
  };
  int y = 0, m = 0, d = 0;
  platform::DecodeDate(static_cast<double>(days), y, m, d);
  const UnicodeString date = pad(y, 4) + u'-' + pad(m, 2) + u'-' + pad(d, 2);
  const UnicodeString time = pad(ms / 3600000, 2) + u':' + pad((ms / 60000) % 60, 2) + u':' + pad((ms / 1000) % 60, 2);
  if (ms == 0) return date;
  if (days == 0) return time;
  if (json) return date + u'T' + time + u'.' + pad(ms % 1000, 3) + u'Z';
  return date + u' ' + time;
}

UnicodeString StorageText(const Variant& Value, bool json) {
  try {
    const uint16_t t = Value.VarType();
    if (t == varEmpty || t == varNull) return {};
    if (IsIntegerCode(t)) return platform::IntToStr(Value.AsInt64());
    if (IsFloatCode(t)) return platform::AnsiToWide(TqzConversion::FloatToStr(Value));
    if (t == varDate) return DateStorageText(Value.AsDateTime(), json);
    if (t == varBoolean) return Value.AsBool() ? u"True" : u"False";
    return TqzTypes::VarToStr(Value);
  } catch (...) {
    return {};
  }
}

constexpr double kUnixEpoch = 25569.0;
constexpr int64_t kMsPerDay = 86400000;

// Milliseconds since 1970-01-01 of a date-time taken as UTC (straight time line). Raises for a
// value outside the years 1 to 9999, which then travels as the BSON null.
int64_t UnixMs(TDateTime v) {
  int64_t days = 0;
  int32_t ms = 0;
  qzDateTimeDetail::SplitCalendarDateTime(v, days, ms);
  return (days - static_cast<int64_t>(kUnixEpoch)) * kMsPerDay + ms;
}

}  // namespace

uint16_t TqzTypes::GetVarType(const Variant& Value) { return Value.VarType(); }

UnicodeString TqzTypes::GetVarTypeStr(uint16_t VarType) {
  for (const auto& n : kVarTypeNames)
    if (n.code == VarType) return n.name;
  return u"UNKNOWN";
}

uint16_t TqzTypes::GetVarTypeFromStr(const UnicodeString& VarType, uint16_t Default) {
  const UnicodeString key = TrimUpper(VarType);
  for (const auto& n : kVarTypeNames)
    if (key == n.name) return n.code;
  for (const auto& n : kVarTypeAliases)
    if (key == n.name) return n.code;
  return Default;
}

bool TqzTypes::IsStringVariant(const Variant& myVar) {
  const uint16_t t = myVar.VarType();
  return t == 8 || t == 72 || t == 74 || t == 256 || t == 258;
}
bool TqzTypes::IsNumericVariant(const Variant& myVar) {
  const uint16_t t = myVar.VarType();
  return t == 2 || t == 3 || (t >= 16 && t <= 21);
}
bool TqzTypes::IsMathVariant(const Variant& myVar) {
  const uint16_t t = myVar.VarType();
  return (t >= 2 && t <= 7) || (t >= 16 && t <= 21);
}
bool TqzTypes::IsFloatVariant(const Variant& myVar) { return IsFloatCode(myVar.VarType()); }
bool TqzTypes::IsBooleanVariant(const Variant& myVar) { return myVar.VarType() == varBoolean; }
bool TqzTypes::IsDateVariant(const Variant& myVar) { return myVar.VarType() == varDate; }
bool TqzTypes::IsArrayVariant(const Variant& V) { return V.IsArray(); }
bool TqzTypes::IsMathVarType(uint16_t VarType) {
  return (VarType >= 2 && VarType <= 6) || (VarType >= 16 && VarType <= 21);
}
bool TqzTypes::VarIsType(const Variant& V, const std::vector<int32_t>& AVarTypes) {
  // Variants here hold their values directly (no by-reference Variants to follow).
  for (int32_t t : AVarTypes)
    if (t == V.VarType()) return true;
  return false;
}
bool TqzTypes::VarIsInitial(const Variant& myVar) { return myVar.IsEmptyOrNull(); }

UnicodeString TqzTypes::VarToStr(const Variant& V) { return V.IsEmptyOrNull() ? UnicodeString() : V.AsString(); }

int32_t TqzTypes::VarToInteger(const Variant& V) { return static_cast<int32_t>(LenientInt(V, false)); }
int64_t TqzTypes::VarToInt64(const Variant& V) { return LenientInt(V, true); }

double TqzTypes::VarToFloat(const Variant& V) {
  switch (V.VarType()) {
    case varNull: case varDispatch: case varUnknown: return 0;
    case varOleStr: case varString: case varUString: return LenientFloat(V.AsString());
    case varBoolean: return V.AsBool() ? 1.0 : 0.0;
    default: return V.AsDouble();
  }
}

bool TqzTypes::VarToBoolean(const Variant& V) { return VarToInteger(V) != 0; }

TDateTime TqzTypes::VarToDateTime(const Variant& V) {
  if (IsStringVariant(V)) {
    // A text by the locale's date and time formats, else as a number (which raises when it is none).
    const auto fs = platform::GetFormatSettings();
    UnicodeString longTime = fs.LongTimeFormat;
    for (auto& c : longTime)
      if (c == u':') c = fs.TimeSeparator;
    constexpr double kNone = -1.0e300;
    const TDateTime d = TqzDateTime::StrToDateTimeExt(V.AsString(), std::vector<UnicodeString>{TqzDateTime::ShortDateFormat()},
                                                      std::vector<UnicodeString>{longTime}, kNone);
    if (d != kNone) return d;
  }
  return V.AsDateTime();
}

intptr_t TqzTypes::VarToIntObject(const Variant& V) { return static_cast<intptr_t>(VarToInt64(V)); }
void* TqzTypes::VarToObject(const Variant& V) { return reinterpret_cast<void*>(VarToIntObject(V)); }
Variant TqzTypes::ObjectToVar(const void* Obj) {
  return Variant(static_cast<int64_t>(reinterpret_cast<intptr_t>(Obj)));
}

TWideStringArray TqzTypes::VarArrayAsStringArray(const Variant& V) {
  if (!V.IsArray()) throw Exception(u"invalid array dimension");
  TWideStringArray out;
  if (V.VarType() == (varArray | varVariant)) {
    for (const Variant& item : V.AsArray()) out.push_back(VarToStr(item));
  } else {
    // A byte array: one decimal text per byte.
    for (unsigned char b : V.AsBytes()) out.push_back(platform::IntToStr(b));
  }
  return out;
}

UnicodeString TqzTypes::VarToStrExt(const Variant& Value) { return StorageText(Value, false); }
UnicodeString TqzTypes::VarToJSONStrExt(const Variant& Value) { return StorageText(Value, true); }

Variant TqzTypes::StrToVarExt(const UnicodeString& Value, uint16_t VarType) {
  try {
    switch (VarType) {
      case 0: case 1:
        return Value.empty() ? Variant::Null() : Variant(Value);
      case 2: case 3: case 16: case 17: case 18: case 19: case 20:
        return Variant(static_cast<int64_t>(TqzConversion::StrToInt(Value, -1)));
      case 4: case 5: case 6:
        return Variant(TqzConversion::StrToReal(Value, false, 0));
      case 7:
        return Variant::FromDate(qzDateTimeDetail::ReadTypedDateText(Value));
      case 11:
        return Variant(TqzConversion::StrToBool(Value));
      default:
        return Variant(Value);
    }
  } catch (...) {
    return Variant::Null();
  }
}

Variant TqzTypes::StrToVarExt(const UnicodeString& Value, const UnicodeString& VarType) {
  try {
    UnicodeString name = VarType;
    if (name.rfind(u"CDT_", 0) == 0) name.erase(0, 4);
    return StrToVarExt(Value, GetVarTypeFromStr(name, 13));
  } catch (...) {
    return Variant::Null();
  }
}

// =============================================================================================
// BSON

TBsonValue::TBsonValue() { value_.value_type = BSON_TYPE_EOD; }
TBsonValue::TBsonValue(const bson_value_t& value) { bson_value_copy(&value, &value_); }
TBsonValue::TBsonValue(const TBsonValue& other) {
  if (other.IsAbsent()) value_.value_type = BSON_TYPE_EOD;
  else bson_value_copy(&other.value_, &value_);
}
TBsonValue::TBsonValue(TBsonValue&& other) noexcept : value_(other.value_) {
  other.value_ = bson_value_t{};
  other.value_.value_type = BSON_TYPE_EOD;
}
TBsonValue& TBsonValue::operator=(TBsonValue other) noexcept {
  std::swap(value_, other.value_);
  return *this;
}
TBsonValue::~TBsonValue() {
  if (!IsAbsent()) bson_value_destroy(&value_);
}
TBsonValue TBsonValue::Null() {
  bson_value_t v{};
  v.value_type = BSON_TYPE_NULL;
  return TBsonValue(v);
}

TBsonValue TqzTypes::VarToBsonValueByRef(const Variant& AValue, bool AISO8601DateStrings) {
  try {
    const uint16_t t = AValue.VarType();
    bson_value_t v{};
    std::string text;
    if (t == varEmpty || t == varNull) return TBsonValue::Null();
    if (IsIntegerCode(t)) {
      v.value_type = BSON_TYPE_INT64;
      v.value.v_int64 = VarToInt64(AValue);
      return TBsonValue(v);
    }
    if (IsFloatCode(t)) {
      v.value_type = BSON_TYPE_DOUBLE;
      v.value.v_double = VarToFloat(AValue);
      return TBsonValue(v);
    }
    if (t == varDate) {
      if (!AISO8601DateStrings) {
        v.value_type = BSON_TYPE_DATE_TIME;
        v.value.v_datetime = UnixMs(AValue.AsDateTime());
        return TBsonValue(v);
      }
      text = platform::WideToUtf8(TqzDateTime::DateTimeToISO8601Str(AValue.AsDateTime()));
    } else if (t == varBoolean) {
      v.value_type = BSON_TYPE_BOOL;
      v.value.v_bool = VarToBoolean(AValue);
      return TBsonValue(v);
    } else {
      text = platform::WideToUtf8(VarToStr(AValue));
    }
    v.value_type = BSON_TYPE_UTF8;
    v.value.v_utf8.str = text.data();
    v.value.v_utf8.len = static_cast<uint32_t>(text.size());
    return TBsonValue(v);  // copies the text
  } catch (...) {
    return TBsonValue::Null();
  }
}

Variant TqzTypes::BsonValueToVariantByRef(const TBsonValue& AValue, uint16_t AVarType) {
  try {
    const bson_value_t& v = AValue.Value();
    switch (v.value_type) {
      case BSON_TYPE_DOUBLE: return Variant(v.value.v_double);
      case BSON_TYPE_UTF8: {
        const UnicodeString text = platform::Utf8ToWide(std::string_view(v.value.v_utf8.str, v.value.v_utf8.len));
        if (AVarType == varDate) return Variant::FromDate(TqzDateTime::ISO8601ToDateTime(text, false));
        return Variant(text);
      }
      case BSON_TYPE_BINARY:
        return Variant::FromBytes(std::string(reinterpret_cast<const char*>(v.value.v_binary.data), v.value.v_binary.data_len));
      case BSON_TYPE_OID: {
        char hex[25] = {};
        bson_oid_to_string(&v.value.v_oid, hex);
        return Variant(platform::ToU16(hex));
      }
      case BSON_TYPE_BOOL: return Variant(static_cast<bool>(v.value.v_bool));
      case BSON_TYPE_DATE_TIME: {
        const int64_t ms = v.value.v_datetime;
        // Years 1 to 9999 only.
        const int64_t lo = (-693593 - static_cast<int64_t>(kUnixEpoch)) * kMsPerDay;
        const int64_t hi = (2958466 - static_cast<int64_t>(kUnixEpoch)) * kMsPerDay - 1;
        if (ms < lo || ms > hi) return Variant::Null();
        int64_t days = ms / kMsPerDay;
        int64_t rem = ms % kMsPerDay;
        if (rem < 0) {
          rem += kMsPerDay;
          --days;
        }
        return Variant::FromDate(platform::CombineDateTime(days + static_cast<int64_t>(kUnixEpoch), static_cast<int32_t>(rem)));
      }
      case BSON_TYPE_INT32: return Variant(static_cast<int32_t>(v.value.v_int32));
      case BSON_TYPE_TIMESTAMP: return Variant(static_cast<int32_t>(v.value.v_timestamp.timestamp));
      case BSON_TYPE_INT64: return Variant(static_cast<int64_t>(v.value.v_int64));
      default: return Variant::Null();  // absent, null, documents, arrays and the rest
    }
  } catch (...) {
    return Variant::Null();
  }
}

Variant TqzTypes::BsonValueToVariant(TBsonValue AValue, uint16_t AVarType) { return BsonValueToVariantByRef(AValue, AVarType); }

// =============================================================================================
// Sets

AnsiString TqzTypes::SetToString(const TqzSetInfo& Info, const void* SetParam, bool Brackets) {
  uint32_t bits = 0;
  if (SetParam && (Info.Size == 1 || Info.Size == 2 || Info.Size == 4)) {
    uint8_t raw[4] = {};
    std::memcpy(raw, SetParam, Info.Size);
    for (std::size_t i = 0; i < Info.Size; ++i) bits |= static_cast<uint32_t>(raw[i]) << (8 * i);
  }
  AnsiString out;
  for (int bit = 0; bit < 32; ++bit) {
    if (!(bits & (1u << bit))) continue;
    if (!out.empty()) out += ',';
    if (static_cast<std::size_t>(bit) < Info.Names.size()) out += Info.Names[bit];
  }
  return Brackets ? "[" + out + "]" : out;
}

bool TqzTypes::StringToSet(const TqzSetInfo& Info, void* SetParam, const AnsiString& Value) {
  auto write = [&](uint32_t bits) {
    if (!SetParam) return;
    if (Info.Size == 1 || Info.Size == 2 || Info.Size == 4) {
      uint8_t raw[4];
      for (int i = 0; i < 4; ++i) raw[i] = static_cast<uint8_t>(bits >> (8 * i));
      std::memcpy(SetParam, raw, Info.Size);
    } else {
      std::memset(SetParam, 0, Info.Size);
    }
  };
  write(0);
  const bool result = Info.Size == 1 || Info.Size == 2 || Info.Size == 4;
  if (Value.empty()) return result;
  size_t i = 0;
  while (i < Value.size() && (Value[i] == ' ' || Value[i] == '[')) ++i;
  auto readName = [&]() {
    const size_t start = i;
    while (i < Value.size() && Value[i] != ' ' && Value[i] != ',' && Value[i] != ']') ++i;
    AnsiString name = Value.substr(start, i - start);
    while (i < Value.size() && (Value[i] == ' ' || Value[i] == ',' || Value[i] == ']')) ++i;
    return name;
  };
  uint32_t bits = 0;
  for (AnsiString name = readName(); !name.empty(); name = readName()) {
    int ordinal = -1;
    for (std::size_t n = 0; n < Info.Names.size(); ++n)
      if (platform::UpperAscii(Info.Names[n]) == platform::UpperAscii(name)) {
        ordinal = static_cast<int>(n);
        break;
      }
    if (ordinal < 0) return result;  // an unknown name leaves the empty set
    if (ordinal < 32) bits |= 1u << ordinal;
  }
  write(bits);
  return result;
}

// =============================================================================================
// Rectangles

namespace {

// The parts of a comma list: "," is appended and the text is cut at each ",".
std::vector<UnicodeString> CommaParts(const UnicodeString& text) {
  std::vector<UnicodeString> parts;
  const UnicodeString t = text + u',';
  size_t start = 0;
  for (size_t p = t.find(u','); p != UnicodeString::npos; p = t.find(u',', start)) {
    parts.push_back(t.substr(start, p - start));
    start = p + 1;
  }
  return parts;
}

UnicodeString Part(const std::vector<UnicodeString>& parts, size_t i) { return i < parts.size() ? parts[i] : UnicodeString(); }

bool TryInt32(const UnicodeString& text, int32_t& out) {
  int64_t v = 0;
  if (!TqzConversion::TryParseInteger(text, v) || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

// Rectangle arithmetic runs in 64 bits; a result outside the 32-bit fields is a conversion
// error rather than a wrapped value.
int32_t RectValue(int64_t value, const char* what) {
  if (value < INT32_MIN || value > INT32_MAX) {
    throw EConvertError(u"The rectangle's " + platform::ToU16(what) + u" (" + platform::IntToStr(value) +
                        u") does not fit a 32-bit integer");
  }
  return static_cast<int32_t>(value);
}

int32_t InclusiveEnd(int32_t start, int32_t size) {
  const int64_t end = size > 0 ? int64_t{start} + size - 1 : int64_t{start} + size;
  return RectValue(end, size > 0 ? "right or bottom edge" : "edge");
}
double InclusiveEnd(double start, double size) { return size > 0 ? start + size - 1 : start + size; }
int32_t RoundInt(double v) {
  const double r = std::nearbyint(v);
  if (!(r >= INT32_MIN && r <= INT32_MAX)) return 0;
  return static_cast<int32_t>(r);
}

}  // namespace

TRelRect TqzTypes::FloatRect(double Left, double Top, double Right, double Bottom) {
  return TRelRect{Left, Top, Right, Bottom, Right - Left, Bottom - Top};
}

TRelRect TqzTypes::StrToFloatRect(const UnicodeString& Rect) {
  const auto p = CommaParts(Rect);
  auto num = [&](size_t i) { return TqzConversion::StrToReal(Part(p, i), false, 0); };
  return FloatRect(num(0), num(1), num(2), num(3));
}

TRelRect TqzTypes::StrToFloatRectLTWH(const UnicodeString& Rect) {
  const auto p = CommaParts(Rect);
  auto num = [&](size_t i) { return TqzConversion::StrToReal(Part(p, i), false, 0); };
  TRelRect r;
  r.Left = num(0);
  r.Top = num(1);
  r.Width = num(2);
  r.Height = num(3);
  r.Right = InclusiveEnd(r.Left, r.Width);
  r.Bottom = InclusiveEnd(r.Top, r.Height);
  return r;
}

TAdvRect TqzTypes::FloatRectToAdvRect(const TRelRect& Rect) {
  TAdvRect r;
  r.Left = RoundInt(Rect.Left);
  r.Top = RoundInt(Rect.Top);
  r.Width = RoundInt(Rect.Width);
  r.Height = RoundInt(Rect.Height);
  r.Right = InclusiveEnd(r.Left, r.Width);
  r.Bottom = InclusiveEnd(r.Top, r.Height);
  return r;
}

TRect TqzTypes::FloatRectToTRect(const TRelRect& Rect) {
  const TAdvRect a = FloatRectToAdvRect(Rect);
  return TRect{a.Left, a.Top, a.Right, a.Bottom};
}

TRelRect TqzTypes::TRectToFloatRect(const TRect& Rect) {
  TRelRect r;
  r.Left = Rect.Left;
  r.Top = Rect.Top;
  r.Width = static_cast<double>(Rect.Right) - Rect.Left;
  r.Height = static_cast<double>(Rect.Bottom) - Rect.Top;
  r.Right = InclusiveEnd(r.Left, r.Width);
  r.Bottom = InclusiveEnd(r.Top, r.Height);
  return r;
}

TAdvRect TqzTypes::AdvRect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
  return TAdvRect{Left, Top, Right, Bottom, RectValue(int64_t{Right} - Left + 1, "width"),
                  RectValue(int64_t{Bottom} - Top + 1, "height")};
}

AnsiString TqzTypes::AdvRectToStr(const TAdvRect& Rect) {
  return std::to_string(Rect.Left) + "," + std::to_string(Rect.Top) + "," + std::to_string(Rect.Right) + "," +
         std::to_string(Rect.Bottom);
}

AnsiString TqzTypes::RectToStr(const TRect& Rect) {
  return std::to_string(Rect.Left) + "," + std::to_string(Rect.Top) + "," + std::to_string(Rect.Right) + "," +
         std::to_string(Rect.Bottom);
}

TAdvRect TqzTypes::StrToAdvRect(const UnicodeString& Rect) {
  const auto p = CommaParts(Rect);
  int32_t v[4] = {};
  for (size_t i = 0; i < 4; ++i)
    if (!TryInt32(Part(p, i), v[i])) v[i] = 0;
  return TAdvRect{v[0], v[1], v[2], v[3], RectValue(int64_t{v[2]} - v[0], "width"),
                  RectValue(int64_t{v[3]} - v[1], "height")};
}

TRect TqzTypes::StrToRect(const UnicodeString& Size) {
  const auto p = CommaParts(Size);
  int32_t v[4] = {};
  for (size_t i = 0; i < p.size(); ++i) {
    int32_t x = 0;
    if (!TryInt32(p[i], x)) x = -1;
    if (i < 4) v[i] = x;
  }
  return TRect{v[0], v[1], v[2], v[3]};
}

bool TqzTypes::IsRectEmpty(const TRect& Rect) {
  return Rect.Left == 0 && Rect.Top == 0 && Rect.Right == 0 && Rect.Bottom == 0;
}
bool TqzTypes::IsRectEmpty(const TRelRect& Rect) {
  return Rect.Left == 0 && Rect.Top == 0 && Rect.Right == 0 && Rect.Bottom == 0 && Rect.Width == 0 && Rect.Height == 0;
}
bool TqzTypes::IsRectEmpty(const TAdvRect& Rect) {
  return Rect.Left == 0 && Rect.Top == 0 && Rect.Right == 0 && Rect.Bottom == 0 && Rect.Width == 0 && Rect.Height == 0;
}

AnsiString ShortDateFormatA() { return platform::WideToAnsi(platform::GetFormatSettings().ShortDateFormat); }
