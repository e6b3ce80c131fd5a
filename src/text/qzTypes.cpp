// Text forms of the shared enumerations.
#include "qzTypes.h"

#include "CaseMap.h"
#include "SysUtils.h"

#include <cstdio>
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
