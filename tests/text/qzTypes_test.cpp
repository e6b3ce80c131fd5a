// Shared types: enumeration texts, variant type names, storage texts (round trips under several
// locales), lenient conversions, BSON values (checked against byte strings written from the BSON
// format's published layout), sets and rectangles.
#include "qzTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "Clock.h"
#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "qzDateTime.h"

namespace {

using platform::EncodeDate;
using platform::EncodeTime;
using U = UnicodeString;

std::string Utf8(const U& s) { return platform::WideToUtf8(s); }

class TypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    const auto t = platform::FromUtcDateTime(EncodeDate(2026, 3, 15) + 0.5);
    platform::SetClock([t] { return t; });
  }
  void TearDown() override {
    platform::ResetClock();
    platform::ResetFormatSettings();
  }
};

// ---------------------------------------------------------------------------------------------
// Enumeration texts

// Stored data and peers rely on the ordinal values: the value counts and a few anchors.
static_assert(qzLog_Unknown == 23 && qzLog_Export == 22);
static_assert(qzDBT_Informix == 12 && qzDBT_MySQL == 9);
static_assert(qzHC_View == 21 && qzHC_Options == 9);
static_assert(qzPDF_2_0 == 19 && qzPDF_UA_1 == 10);
static_assert(qzWV_WinServer2016 == 15 && qzWV_Win10 == 8);
static_assert(qzESVC_Module18 == 17);
static_assert(qzENC_Internal == 6 && qzENC_KQF == 4);
static_assert(qzRE_FreeOCR == 7 && qzOCR_Nicomsoft == 5);
static_assert(qzOSP_Linux64 == 6 && qzOSP_None == 4);
static_assert(cxSO_None == 2 && qzDO_TempData == 4 && qzET_WorkerEngine == 6 && qzIPUnknown == 2);
static_assert(qzSFT_Separator == 5 && qzFDT_Boolean == 6 && qzCM_AES256 == 2 && qzVC_Newer == 3);
static_assert(tpTimeCritical == 6 && qzCPU_Unknown == 2 && qzTO_Disabled == 2 && qzSQT_DELETE == 3);

TEST_F(TypesTest, EnumerationTextsAndTheirReaders) {
  EXPECT_EQ(TqzTypes::GetDatabaseTypeStr(qzDBT_MSSQL2016), u"Unknown");
  EXPECT_EQ(TqzTypes::GetDatabaseTypeStr(qzDBT_N7), u"Unknown");
  EXPECT_EQ(TqzTypes::GetDatabaseTypeStr(qzDBT_MySQL), u"MySQL");
  EXPECT_EQ(TqzTypes::GetDatabaseType(u" mssql "), qzDBT_MSSQL);
  EXPECT_EQ(TqzTypes::GetDatabaseType(u"MSSQL2008"), qzDBT_Unknown);
  // Every database text that has a reader reads back to its value.
  for (int i = qzDBT_Unknown; i <= qzDBT_Informix; ++i) {
    const auto t = static_cast<TqzDatabaseType>(i);
    const auto back = TqzTypes::GetDatabaseType(TqzTypes::GetDatabaseTypeStr(t));
    if (back != qzDBT_Unknown) {
      EXPECT_EQ(back, t) << i;
    }
  }
  EXPECT_EQ(TqzTypes::GetOSPlatformStr(qzOSP_None), u"");
  EXPECT_EQ(TqzTypes::GetOSPlatformStr(qzOSP_Linux64), u"Unknown");
  EXPECT_EQ(TqzTypes::GetOSPlatformFromStr(u"win64", qzOSP_Common), qzOSP_Win64);
  EXPECT_EQ(TqzTypes::GetOSPlatformFromStr(u"Linux64", qzOSP_None), qzOSP_None);
  EXPECT_EQ(TqzTypes::GetCPUPlatformFromOSPlatform(qzOSP_Win64), qzCPU_x64);
  EXPECT_EQ(TqzTypes::GetCPUPlatformFromOSPlatform(qzOSP_Linux64), qzCPU_Unknown);
  EXPECT_EQ(TqzTypes::GetEncryptionType(u" 3DES"), qzCM_None);
  EXPECT_EQ(TqzTypes::GetEncryptionType(u"aes256"), qzCM_AES256);
  EXPECT_EQ(TqzTypes::GetFieldDataTypeFromStr(u"date"), qzFDT_Date);
  EXPECT_EQ(TqzTypes::GetFieldDataTypeFromStr(u" DATE"), qzFDT_Text);
  EXPECT_EQ(TqzTypes::GetVarTypeFromFieldDataType(qzFDT_Numeric), 8);
  EXPECT_EQ(TqzTypes::GetVarTypeFromFieldDataType(qzFDT_Currency), 6);
  EXPECT_EQ(TqzTypes::GetLogTypeFromText(u" Warning "), qzLog_Warning);
  EXPECT_EQ(TqzTypes::GetLogTypeFromText(u"unknown"), qzLog_Unknown);
  EXPECT_EQ(TqzTypes::GetLogTypeFromText(u""), qzLog_Unknown);
  EXPECT_EQ(TqzTypes::GetLogTypeText(qzLog_Unknown), u"unknown");
  for (int i = 0; i < qzLog_Unknown; ++i)
    EXPECT_EQ(TqzTypes::GetLogTypeFromText(TqzTypes::GetLogTypeText(static_cast<TqzLogInfoType>(i))), i);
  EXPECT_EQ(TqzTypes::GetThreadPriority(2), tpLower);
  EXPECT_EQ(TqzTypes::GetThreadPriority(7), tpLower);
  EXPECT_EQ(TqzTypes::GetThreadPriority(-1), tpLower);
  EXPECT_EQ(TqzTypes::GetThreadPriority(6), tpTimeCritical);
  EXPECT_EQ(TqzTypes::GetThreadPriorityStr(tpTimeCritical), u"Timecritical");
  EXPECT_EQ(TqzTypes::GetWindowsVersionTypeStr(qzWV_WinNT), u"Unknown");
  EXPECT_EQ(TqzTypes::GetWindowsVersionTypeStr(qzWV_WinServer2012R2), u"Windows Server 2012 R2");
  EXPECT_EQ(TqzTypes::GetEnterpriseServiceStr(qzESVC_Module01), u"qzmodule01srv.exe");
  EXPECT_EQ(TqzTypes::GetEnterpriseServiceStr(qzESVC_Module18), u"qzmodule18srv.exe");
  EXPECT_EQ(TqzTypes::GetEnterpriseServiceStr(static_cast<TqzEnterpriseService>(18)), u"");
  EXPECT_EQ(TqzTypes::GetPDFConformanceType(u"pdf_a_2u"), qzPDF_A_2u);
  EXPECT_EQ(TqzTypes::GetPDFConformanceType(u"PDF_A_1"), qzPDF_Unknown);
  EXPECT_EQ(TqzTypes::GetSchemeFieldTypeFromStr(u" datebox"), qzSFT_Datebox);
  EXPECT_EQ(TqzTypes::GetOCREngineTypeFromText(u" MSO "), qzOCR_MSO);
  EXPECT_EQ(TqzTypes::GetRecoEngineTypeFromText(u"FreeOCR"), qzRE_FreeOCR);
  EXPECT_EQ(TIdType(std::string(40, 'A')).size(), 32u);  // identifiers keep at most 32 characters
}

TEST_F(TypesTest, EveryTextWithAReaderReadsBack) {
  // Values whose text the reverse operation knows come back as themselves, also in another case
  // (the readers fold case); texts without a reader fall to the documented fallback.
  for (int i = qzSFT_Editbox; i <= qzSFT_Separator; ++i) {
    const auto v = static_cast<TqzSchemeFieldType>(i);
    EXPECT_EQ(TqzTypes::GetSchemeFieldTypeFromStr(platform::LowerW(TqzTypes::GetSchemeFieldTypeStr(v))), v);
  }
  for (int i = qzFDT_Text; i <= qzFDT_Boolean; ++i) {
    const auto v = static_cast<TqzFieldDataType>(i);
    const auto back = TqzTypes::GetFieldDataTypeFromStr(platform::LowerW(TqzTypes::GetFieldDataTypeStr(v)));
    EXPECT_EQ(back, v == qzFDT_VarChar ? qzFDT_Text : v) << i;  // VARCHAR is written "STRING"
  }
  for (int i = qzOSP_Unknown; i <= qzOSP_Linux64; ++i) {
    const auto v = static_cast<TqzOSPlatform>(i);
    const bool readable = v == qzOSP_Common || v == qzOSP_Win32 || v == qzOSP_Win64;
    EXPECT_EQ(TqzTypes::GetOSPlatformFromStr(TqzTypes::GetOSPlatformStr(v), qzOSP_None), readable ? v : qzOSP_None) << i;
  }
  for (int i = qzCM_None; i <= qzCM_AES256; ++i) {
    const auto v = static_cast<TqzCryptingMethod>(i);
    EXPECT_EQ(TqzTypes::GetEncryptionType(TqzTypes::GetEncryptionTypeStr(v)), v) << i;
  }
  for (int i = qzOCR_Unknown; i <= qzOCR_Nicomsoft; ++i) {
    const auto v = static_cast<TqzOCREngine>(i);
    EXPECT_EQ(TqzTypes::GetOCREngineTypeFromText(TqzTypes::GetOCREngineTypeText(v)), v) << i;
  }
  for (int i = qzRE_Unknown; i <= qzRE_FreeOCR; ++i) {
    const auto v = static_cast<TqzRecognitionEngine>(i);
    EXPECT_EQ(TqzTypes::GetRecoEngineTypeFromText(u" " + TqzTypes::GetRecoEngineTypeText(v)), v) << i;
  }
  // Each PDF text is the value name without its prefix, upper-cased, in ordinal order.
  const char* const pdf[] = {"PDF_COMMON", "PDF_A_1A", "PDF_A_1B", "PDF_A_2A", "PDF_A_2B", "PDF_A_2U", "PDF_A_3A",
                             "PDF_A_3B",   "PDF_A_3U", "PDF_UA_1", "PDF_1_0",  "PDF_1_1",  "PDF_1_2",  "PDF_1_3",
                             "PDF_1_4",    "PDF_1_5",  "PDF_1_6",  "PDF_1_7",  "PDF_2_0"};
  for (int i = qzPDF_Common; i <= qzPDF_2_0; ++i)
    EXPECT_EQ(TqzTypes::GetPDFConformanceType(platform::ToU16(pdf[i - qzPDF_Common])), static_cast<TqzPDFConformance>(i));
  EXPECT_EQ(TqzTypes::GetPDFConformanceType(u" PDF_1_7"), qzPDF_Unknown);  // not trimmed
  for (int i = qzESVC_Module01; i <= qzESVC_Module18; ++i) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "qzmodule%02dsrv.exe", i + 1);
    EXPECT_EQ(TqzTypes::GetEnterpriseServiceStr(static_cast<TqzEnterpriseService>(i)), platform::ToU16(expected));
  }
  const std::pair<TThreadPriority, const char16_t*> priorities[] = {
      {tpIdle, u"Idle"},     {tpLowest, u"Lowest"},   {tpLower, u"Lower"},          {tpNormal, u"Normal"},
      {tpHigher, u"Higher"}, {tpHighest, u"Highest"}, {tpTimeCritical, u"Timecritical"}};
  for (const auto& [p, text] : priorities) {
    EXPECT_EQ(TqzTypes::GetThreadPriorityStr(p), text);
    EXPECT_EQ(TqzTypes::GetThreadPriority(static_cast<int32_t>(p)), p);
  }
  EXPECT_EQ(TqzTypes::GetSchemeFieldTypeStr(static_cast<TqzSchemeFieldType>(99)), u"Editbox");
  EXPECT_EQ(TqzTypes::GetFieldDataTypeStr(static_cast<TqzFieldDataType>(99)), u"STRING");
  EXPECT_EQ(TqzTypes::GetVarTypeFromFieldDataType(static_cast<TqzFieldDataType>(99)), 8);
  EXPECT_EQ(TqzTypes::GetLogTypeText(static_cast<TqzLogInfoType>(99)), u"unknown");
  EXPECT_EQ(TqzTypes::GetCPUPlatformStr(qzCPU_x86), u"x86");
  EXPECT_EQ(TqzTypes::GetCPUPlatformStr(qzCPU_Unknown), u"Unknown");
}

// ---------------------------------------------------------------------------------------------
// Variant type names and kinds

TEST_F(TypesTest, VarTypeNames) {
  const std::pair<uint16_t, const char16_t*> names[] = {
      {0, u"EMPTY"},   {1, u"NULL"},      {2, u"SMALLINT"},  {3, u"INT"},        {4, u"SINGLE"},  {5, u"DOUBLE"},
      {6, u"CURRENCY"}, {7, u"DATE"},     {8, u"UCS2STR"},   {9, u"DISPATCH"},   {10, u"ERROR"},  {11, u"BOOLEAN"},
      {12, u"VARIANT"}, {16, u"SHORTINT"}, {17, u"BYTE"},    {18, u"WORD"},      {19, u"LONGWORD"}, {20, u"INT64"},
      {72, u"STRARG"},  {74, u"USTRARG"}, {256, u"STRING"},  {257, u"ANY"},      {258, u"UCS4STR"}, {4095, u"TYPEMASK"},
      {8192, u"ARRAY"}, {16384, u"BYREF"}};
  for (const auto& [code, name] : names) {
    EXPECT_EQ(TqzTypes::GetVarTypeStr(code), name);
    EXPECT_EQ(TqzTypes::GetVarTypeFromStr(name, 999), code);
    EXPECT_LE(U(name).size(), 8u);
  }
  for (uint16_t code : {13, 14, 21, 0x2011, 0x4003})
    EXPECT_EQ(TqzTypes::GetVarTypeStr(code), u"UNKNOWN") << code;
  EXPECT_EQ(TqzTypes::GetVarTypeFromStr(u" int64 ", 0), 20);
  EXPECT_EQ(TqzTypes::GetVarTypeFromStr(u"FLOAT", 0), 5);
  EXPECT_EQ(TqzTypes::GetVarTypeFromStr(u"real", 0), 5);
  EXPECT_EQ(TqzTypes::GetVarTypeFromStr(u"TIME", 0), 7);
  EXPECT_EQ(TqzTypes::GetVarTypeFromStr(u"bool", 0), 11);
  EXPECT_EQ(TqzTypes::GetVarTypeFromStr(u"UNKNOWN", 0), 13);
  EXPECT_EQ(TqzTypes::GetVarTypeFromStr(u"NOPE", 77), 77);

  const Variant date = Variant::FromDate(1.5);
  EXPECT_TRUE(TqzTypes::IsMathVariant(date));
  EXPECT_FALSE(TqzTypes::IsMathVarType(7));
  EXPECT_TRUE(TqzTypes::IsMathVarType(6));
  EXPECT_TRUE(TqzTypes::IsNumericVariant(Variant(uint64_t{5})));
  EXPECT_FALSE(TqzTypes::IsNumericVariant(Variant(1.5)));
  EXPECT_TRUE(TqzTypes::IsStringVariant(Variant::FromAnsi("x")));
  EXPECT_TRUE(TqzTypes::IsStringVariant(Variant::FromOleStr(u"x")));
  EXPECT_TRUE(TqzTypes::IsFloatVariant(Variant::FromCurrency(1)));
  EXPECT_TRUE(TqzTypes::IsArrayVariant(Variant::FromBytes("ab")));
  EXPECT_TRUE(TqzTypes::VarIsType(Variant(int32_t{1}), {5, 3}));
  EXPECT_FALSE(TqzTypes::VarIsType(Variant(int64_t{1}), {5, 3}));
  EXPECT_TRUE(TqzTypes::VarIsInitial(Variant::Null()));
  EXPECT_TRUE(TqzTypes::VarIsInitial(Variant()));
  EXPECT_EQ(TqzTypes::VarArrayAsStringArray(Variant::FromArray({Variant(int32_t{1}), Variant(u"b"), Variant::Null()})),
            (TWideStringArray{u"1", u"b", u""}));
  EXPECT_EQ(TqzTypes::VarArrayAsStringArray(Variant::FromBytes("\x01\xff")), (TWideStringArray{u"1", u"255"}));
  try {
    TqzTypes::VarArrayAsStringArray(Variant(u"x"));
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"invalid array dimension");
  }
  int object = 0;
  EXPECT_EQ(TqzTypes::VarToObject(TqzTypes::ObjectToVar(&object)), &object);
  EXPECT_EQ(TqzTypes::ObjectToVar(&object).VarType(), varInt64);
}

// ---------------------------------------------------------------------------------------------
// Storage texts

struct RoundTrip {
  Variant value;
  const char16_t* name;  // the type name a configuration row would store
};

std::vector<RoundTrip> RoundTripValues() {
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  std::vector<RoundTrip> v;
  for (int64_t i : {int64_t{0}, int64_t{-1}, int64_t{42}, int64_t{32767}, int64_t{-32768}})
    v.push_back({Variant::FromInteger(varSmallint, i), u"SMALLINT"});
  for (int64_t i : {int64_t{0}, int64_t{2147483647}, int64_t{-2147483647 - 1}})
    v.push_back({Variant::FromInteger(varInteger, i), u"INT"});
  for (int64_t i : {int64_t{-128}, int64_t{127}}) v.push_back({Variant::FromInteger(varShortInt, i), u"SHORTINT"});
  for (int64_t i : {int64_t{0}, int64_t{255}}) v.push_back({Variant::FromInteger(varByte, i), u"BYTE"});
  v.push_back({Variant::FromInteger(varWord, 65535), u"WORD"});
  v.push_back({Variant::FromInteger(varLongWord, 4294967295LL), u"LONGWORD"});
  for (int64_t i : {INT64_MAX, INT64_MIN, int64_t{1234567890123}}) v.push_back({Variant(i), u"INT64"});
  for (float f : {0.0f, 1.1f, -2.5f, 3.1415927f, 1.0e10f}) v.push_back({Variant::FromSingle(f), u"SINGLE"});
  for (double d : {0.0, 2.5, -0.125, 1234.5678901, -1.0e15, 0.0000001, 123456789012.25})
    v.push_back({Variant(d), u"DOUBLE"});
  for (int64_t c : {int64_t{0}, int64_t{123456}, int64_t{-5}, int64_t{123456789012}  /* read back as a double: exact to 15 digits */})
    v.push_back({Variant::FromCurrencyScaled(c), u"CURRENCY"});
  for (TDateTime d : {may6, may6 + EncodeTime(14, 30, 0, 0), EncodeTime(23, 59, 59, 0), EncodeDate(1, 1, 1),
                      EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 0), EncodeDate(1850, 6, 1) - EncodeTime(6, 0, 1, 0),
                      TDateTime{0}})
    v.push_back({Variant::FromDate(d), u"DATE"});
  v.push_back({Variant(true), u"BOOLEAN"});
  v.push_back({Variant(false), u"BOOLEAN"});
  for (const char16_t* s : {u"", u"text with blanks ", u"h#h 2023-05-06", u"Grüße \u20ac", u"True", u"42"}) {
    v.push_back({Variant(U(s)), u"UCS4STR"});
    v.push_back({Variant::FromOleStr(U(s)), u"UCS2STR"});
    v.push_back({Variant(U(s)), u"BINARY"});  // a name that is no type keeps the text
  }
  v.push_back({Variant::FromAnsi("Gr\xfc\xdf" "e"), u"STRING"});
  v.push_back({Variant::Null(), u"NULL"});
  return v;
}

// Values equal as the storage form promises: same number, same date to the second, same text.
void ExpectSameValue(const Variant& original, const Variant& back, const std::string& context) {
  switch (original.VarType()) {
    case varNull:
    case varEmpty: EXPECT_TRUE(back.IsNull()) << context; break;
    case varSingle:
      EXPECT_EQ(back.VarType(), varDouble) << context;
      EXPECT_EQ(static_cast<float>(back.AsDouble()), static_cast<float>(original.AsDouble())) << context;
      break;
    case varDouble:
      EXPECT_EQ(back.VarType(), varDouble) << context;
      EXPECT_EQ(back.AsDouble(), original.AsDouble()) << context;
      break;
    case varCurrency:
      EXPECT_EQ(back.VarType(), varDouble) << context;
      EXPECT_EQ(back.AsCurrencyScaled(), original.AsCurrencyScaled()) << context;
      break;
    case varDate: {
      EXPECT_EQ(back.VarType(), varDate) << context;
      EXPECT_EQ(std::llround(back.AsDateTime() * 86400.0), std::llround(original.AsDateTime() * 86400.0)) << context;
      break;
    }
    case varBoolean:
      EXPECT_EQ(back.VarType(), varBoolean) << context;
      EXPECT_EQ(back.AsBool(), original.AsBool()) << context;
      break;
    default:
      if (original.IsInteger()) {
        EXPECT_EQ(back.VarType(), varInt64) << context;
        EXPECT_EQ(back.AsInt64(), original.AsInt64()) << context;
      } else {
        EXPECT_EQ(back.VarType(), varUString) << context;
        EXPECT_EQ(back.AsString(), original.AsString()) << context;
      }
  }
}

TEST_F(TypesTest, StorageTextsReadBackUnderEveryLocale) {
  auto dotTime = platform::FormatSettingsForLocale("de_DE");
  dotTime.TimeSeparator = u'.';
  dotTime.LongTimeFormat = u"hh:nn:ss";
  const platform::TFormatSettings locales[] = {platform::InvariantFormatSettings(),
                                               platform::FormatSettingsForLocale("de_DE"),
                                               platform::FormatSettingsForLocale("fr_FR"), dotTime};
  for (const auto& fs : locales) {
    platform::SetFormatSettings(fs);
    for (const auto& [value, name] : RoundTripValues()) {
      const U text = TqzTypes::VarToStrExt(value);
      const std::string context = Utf8(U(name)) + " '" + Utf8(text) + "' decimal=" + Utf8(U(1, fs.DecimalSeparator));
      ExpectSameValue(value, TqzTypes::StrToVarExt(text, U(name)), context);
      ExpectSameValue(value, TqzTypes::StrToVarExt(text, U(u"CDT_") + name), context + " CDT_");
      // The name the library itself writes for the type reads back the same way.
      const U written = TqzTypes::GetVarTypeStr(value.VarType());
      if (written != u"UNKNOWN" && U(name) != u"BINARY")
        ExpectSameValue(value, TqzTypes::StrToVarExt(text, written), context + " as " + Utf8(written));
    }
  }
}

TEST_F(TypesTest, StorageTextForms) {
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  platform::SetFormatSettings(platform::FormatSettingsForLocale("de_DE"));
  const std::pair<Variant, const char16_t*> cases[] = {
      {Variant(int32_t{42}), u"42"},
      {Variant(2.5), u"2.50"},
      {Variant(1.0 / 3.0), u"0.3333333"},
      {Variant::FromCurrency(12.3456), u"12.3456"},
      {Variant::FromDate(may6), u"2023-05-06"},
      {Variant::FromDate(may6 + EncodeTime(14, 30, 0, 0)), u"2023-05-06 14:30:00"},
      {Variant::FromDate(EncodeTime(8, 5, 3, 0)), u"08:05:03"},
      {Variant(true), u"True"},
      {Variant(false), u"False"},
      {Variant::Null(), u""},
      {Variant(), u""},
      {Variant::FromAnsi("abc"), u"abc"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(TqzTypes::VarToStrExt(v), text) << Utf8(text);
  EXPECT_EQ(TqzTypes::VarToJSONStrExt(Variant::FromDate(may6 + EncodeTime(14, 30, 0, 250))), u"2023-05-06T14:30:00.250Z");
  EXPECT_EQ(TqzTypes::VarToJSONStrExt(Variant::FromDate(may6)), u"2023-05-06");
  EXPECT_EQ(TqzTypes::VarToJSONStrExt(Variant(u"a\"b")), u"a\"b");
  // A date-time that is no date of the years 1 to 9999 has no storage text: it is written as the
  // empty text (which reads back as 0), never as some other date.
  for (TDateTime bad : {2958466.0, -693594.0, 1.0e9, std::nan(""), HUGE_VAL}) {
    EXPECT_EQ(TqzTypes::VarToStrExt(Variant::FromDate(bad)), u"") << bad;
    EXPECT_EQ(TqzTypes::VarToJSONStrExt(Variant::FromDate(bad)), u"") << bad;
    EXPECT_EQ(TqzTypes::VarToBsonValueByRef(Variant::FromDate(bad), false).Type(), BSON_TYPE_NULL) << bad;
    EXPECT_EQ(TqzTypes::VarToBsonValueByRef(Variant::FromDate(bad), true).Type(), BSON_TYPE_NULL) << bad;
  }
  EXPECT_EQ(TqzTypes::VarToStrExt(Variant::FromDate(2958465.5)), u"9999-12-31 12:00:00");
  EXPECT_EQ(TqzTypes::VarToStrExt(Variant::FromDate(-693593.0)), u"0001-01-01");
}

TEST_F(TypesTest, StrToVarExtTable) {
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  struct Case {
    U text;
    uint16_t code;
    Variant expected;
  };
  const Case cases[] = {
      {u"", 0, Variant::Null()},
      {u"x", 1, Variant(U(u"x"))},
      {u"abc", 3, Variant(int64_t{-1})},
      {u"2.0", 3, Variant(int64_t{2})},
      {u"", 3, Variant(int64_t{0})},
      {u"1,5", 5, Variant(1.5)},
      {u"abc", 5, Variant(0.0)},
      {u"yes", 11, Variant(true)},
      {u"nein", 11, Variant(false)},
      {u"2023-05-06 14:30:00", 7, Variant::FromDate(may6 + EncodeTime(14, 30, 0, 0))},
      {u"06.05.2023", 7, Variant::FromDate(may6)},
      {u"000B4556h02932E00h", 7, Variant::FromDate(may6 + 0.5)},
      {u"#738646#43200000", 7, Variant::FromDate(may6 + 0.5)},
      {u"05/06/2023", 7, Variant::FromDate(may6)},  // the locale's short date format (month first)
      {u"March 5th", 7, Variant::FromDate(0)},      // no format fits
      {u"#0#5", 7, Variant::Null()},                // a stamp that does not exist
      {u"text", 9, Variant(U(u"text"))},
  };
  for (const auto& c : cases) EXPECT_EQ(TqzTypes::StrToVarExt(c.text, c.code), c.expected) << Utf8(c.text) << " " << c.code;
  EXPECT_EQ(TqzTypes::StrToVarExt(u"42", U(u"CDT_INT")), Variant(int64_t{42}));
  EXPECT_EQ(TqzTypes::StrToVarExt(u"42", U(u"cdt_INT")), Variant(U(u"42")));
  EXPECT_EQ(TqzTypes::StrToVarExt(u"42", U(u"TREE")), Variant(U(u"42")));
}

TEST_F(TypesTest, LenientConversions) {
  const std::pair<Variant, int32_t> ints[] = {
      {Variant(U(u"2.5")), 2},  {Variant(U(u"3.5")), 4},     {Variant(U(u"abc")), 0},   {Variant(true), 1},
      {Variant(U(u"12abc")), 12}, {Variant(U(u" -1,5")), -2}, {Variant(U(u"True")), 0},  {Variant(2.5), 2},
      {Variant(-3.5), -4},      {Variant::Null(), 0},         {Variant(), 0},            {Variant::FromAnsi("7e1x"), 70},
      {Variant::FromCurrency(0.5), 0}, {Variant::FromDate(1.5), 2}, {Variant(U(u".5e")), 0}};
  for (const auto& [v, expected] : ints) EXPECT_EQ(TqzTypes::VarToInteger(v), expected) << Utf8(TqzTypes::VarToStr(v));
  EXPECT_EQ(TqzTypes::VarToFloat(Variant(U(u"1.234,5"))), 1.234);
  EXPECT_EQ(TqzTypes::VarToFloat(Variant(U(u"1,5"))), 1.5);
  EXPECT_EQ(TqzTypes::VarToFloat(Variant(true)), 1.0);
  EXPECT_FALSE(TqzTypes::VarToBoolean(Variant(U(u"True"))));
  EXPECT_TRUE(TqzTypes::VarToBoolean(Variant(U(u"2"))));
  EXPECT_EQ(TqzTypes::VarToInt64(Variant::FromInteger(varLongWord, 4000000000LL)), 4000000000LL);
  EXPECT_EQ(TqzTypes::VarToInt64(Variant(U(u"1e12"))), 1000000000000LL);
  EXPECT_THROW(TqzTypes::VarToInteger(Variant(int64_t{1} << 40)), EVariantError);
  EXPECT_THROW(TqzTypes::VarToInt64(Variant(~uint64_t{0})), EVariantError);
  EXPECT_THROW(TqzTypes::VarToStr(Variant::FromArray({})), EVariantError);
  EXPECT_EQ(TqzTypes::VarToDateTime(Variant(U(u"05/06/2023 14:30:00"))), EncodeDate(2023, 5, 6) + EncodeTime(14, 30, 0, 0));
  EXPECT_EQ(TqzTypes::VarToDateTime(Variant(2.25)), 2.25);
  EXPECT_THROW(TqzTypes::VarToDateTime(Variant(U(u"no date"))), EVariantError);
}

// ---------------------------------------------------------------------------------------------
// BSON

// The bytes of the one-element document {key: value}, as libbson writes it.
std::string DocumentBytes(const char* key, const TBsonValue& value) {
  bson_t doc = BSON_INITIALIZER;
  EXPECT_TRUE(bson_append_value(&doc, key, -1, &value.Value()));
  std::string bytes(reinterpret_cast<const char*>(bson_get_data(&doc)), doc.len);
  bson_destroy(&doc);
  return bytes;
}

TBsonValue FirstValue(const std::string& bytes) {
  bson_t doc;
  EXPECT_TRUE(bson_init_static(&doc, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  bson_iter_t it;
  EXPECT_TRUE(bson_iter_init(&it, &doc) && bson_iter_next(&it));
  return TBsonValue(*bson_iter_value(&it));
}

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

TEST_F(TypesTest, BsonMatchesTheFormatBytes) {
  // The BSON format's published example: {"hello": "world"}.
  EXPECT_EQ(DocumentBytes("hello", TqzTypes::VarToBsonValueByRef(Variant(U(u"world")), false)),
            std::string("\x16\x00\x00\x00\x02hello\x00\x06\x00\x00\x00world\x00\x00", 22));
  struct Case {
    Variant value;
    bool iso;
    std::string element;  // type byte, "a\0", payload
  };
  const TDateTime epochPlus = EncodeDate(1970, 1, 1) + EncodeTime(0, 0, 1, 500);
  const Case cases[] = {
      {Variant::Null(), false, B({0x0A, 'a', 0})},
      {Variant(), false, B({0x0A, 'a', 0})},
      {Variant(int32_t{1}), false, B({0x12, 'a', 0, 1, 0, 0, 0, 0, 0, 0, 0})},
      {Variant::FromInteger(varSmallint, -2), false, B({0x12, 'a', 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {Variant(1.5), false, B({0x01, 'a', 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F})},
      {Variant::FromCurrency(2), false, B({0x01, 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0x40})},
      {Variant(true), false, B({0x08, 'a', 0, 1})},
      {Variant::FromDate(epochPlus), false, B({0x09, 'a', 0, 0xDC, 0x05, 0, 0, 0, 0, 0, 0})},  // 1500 ms
      {Variant::FromDate(EncodeDate(1969, 12, 31)), false,
       B({0x09, 'a', 0, 0x00, 0xA4, 0xD9, 0xFA, 0xFF, 0xFF, 0xFF, 0xFF})},  // -86400000 ms
      {Variant::FromDate(EncodeDate(2023, 5, 6)), true, B({0x02, 'a', 0, 11, 0, 0, 0}) + "2023-05-06" + B({0})},
      {Variant(U(u"\u00e9")), false, B({0x02, 'a', 0, 3, 0, 0, 0, 0xC3, 0xA9, 0})},
  };
  for (const auto& c : cases) {
    const std::string doc = DocumentBytes("a", TqzTypes::VarToBsonValueByRef(c.value, c.iso));
    const uint32_t len = static_cast<uint32_t>(4 + c.element.size() + 1);
    const std::string expected = B({int(len & 0xFF), int(len >> 8), 0, 0}) + c.element + B({0});
    EXPECT_EQ(doc, expected) << Utf8(TqzTypes::VarToStr(c.value));
  }
}

TEST_F(TypesTest, BsonBytesReadBackAsVariants) {
  auto read = [](const std::string& element, uint16_t varType = 0) {
    const uint32_t len = static_cast<uint32_t>(4 + element.size() + 1);
    const std::string doc = B({int(len & 0xFF), int(len >> 8), 0, 0}) + element + B({0});
    return TqzTypes::BsonValueToVariant(FirstValue(doc), varType);
  };
  EXPECT_EQ(read(B({0x0A, 'a', 0})), Variant::Null());
  EXPECT_EQ(read(B({0x01, 'a', 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F})), Variant(1.5));
  EXPECT_EQ(read(B({0x02, 'a', 0, 6, 0, 0, 0}) + "world" + B({0})), Variant(U(u"world")));
  EXPECT_EQ(read(B({0x02, 'a', 0, 26, 0, 0, 0}) + "2023-05-06T12:00:00+02:00" + B({0}), 7),
            Variant::FromDate(EncodeDate(2023, 5, 6) + EncodeTime(10, 0, 0, 0)));
  EXPECT_EQ(read(B({0x03, 'a', 0, 5, 0, 0, 0, 0})), Variant::Null());  // embedded document
  EXPECT_EQ(read(B({0x05, 'a', 0, 2, 0, 0, 0, 0, 0xAB, 0xCD})), Variant::FromBytes("\xab\xcd"));
  EXPECT_EQ(read(B({0x07, 'a', 0, 0x50, 0x7F, 0x1F, 0x77, 0xBC, 0xF8, 0x6C, 0xD7, 0x99, 0x43, 0x90, 0x11})),
            Variant(U(u"507f1f77bcf86cd799439011")));
  EXPECT_EQ(read(B({0x08, 'a', 0, 0})), Variant(false));
  EXPECT_EQ(read(B({0x09, 'a', 0, 0xDC, 0x05, 0, 0, 0, 0, 0, 0})),
            Variant::FromDate(EncodeDate(1970, 1, 1) + EncodeTime(0, 0, 1, 500)));
  EXPECT_EQ(read(B({0x09, 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0x80})), Variant::Null());  // beyond year 1
  EXPECT_EQ(read(B({0x10, 'a', 0, 0xFF, 0xFF, 0xFF, 0xFF})), Variant(int32_t{-1}));
  EXPECT_EQ(read(B({0x11, 'a', 0, 1, 0, 0, 0, 0x10, 0, 0, 0})), Variant(int32_t{16}));  // seconds of a timestamp
  EXPECT_EQ(read(B({0x12, 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0x80})), Variant(INT64_MIN));
  EXPECT_EQ(TqzTypes::BsonValueToVariantByRef(TBsonValue(), 0), Variant::Null());

  // Dates before day 0 and with milliseconds survive the trip through a BSON date-time.
  for (TDateTime d : {EncodeDate(1850, 6, 1) - EncodeTime(6, 0, 1, 250), EncodeDate(2023, 5, 6) + EncodeTime(1, 2, 3, 4)}) {
    const Variant back = TqzTypes::BsonValueToVariant(TqzTypes::VarToBsonValueByRef(Variant::FromDate(d), false), 7);
    EXPECT_EQ(std::llround(back.AsDateTime() * 86400000.0), std::llround(d * 86400000.0));
  }
}

// ---------------------------------------------------------------------------------------------
// Sets, rectangles, short date format

TEST_F(TypesTest, SetTexts) {
  const TqzSetInfo abc{{"a", "b", "c"}, 1};
  uint8_t set = 0b101;
  EXPECT_EQ(TqzTypes::SetToString(abc, &set, false), "a,c");
  EXPECT_EQ(TqzTypes::SetToString(abc, &set, true), "[a,c]");
  set = 0;
  EXPECT_EQ(TqzTypes::SetToString(abc, &set, true), "[]");
  EXPECT_TRUE(TqzTypes::StringToSet(abc, &set, "[a, C]"));
  EXPECT_EQ(set, 0b101);
  EXPECT_TRUE(TqzTypes::StringToSet(abc, &set, "a,x,c"));
  EXPECT_EQ(set, 0);
  set = 7;
  EXPECT_TRUE(TqzTypes::StringToSet(abc, &set, ""));
  EXPECT_EQ(set, 0);
  uint32_t wide = 0;
  TqzSetInfo many{{}, 4};
  for (int i = 0; i < 32; ++i) many.Names.push_back("v" + std::to_string(i));
  EXPECT_TRUE(TqzTypes::StringToSet(many, &wide, "v0,v31,v16"));
  EXPECT_EQ(wide, 0x80010001u);
  EXPECT_EQ(TqzTypes::SetToString(many, &wide, false), "v0,v16,v31");
  uint8_t three[3] = {1, 1, 1};
  EXPECT_FALSE(TqzTypes::StringToSet(TqzSetInfo{{"a"}, 3}, three, "a"));
  EXPECT_EQ(three[0] | three[1] | three[2], 0);
}

TEST_F(TypesTest, Rectangles) {
  TRelRect r = TqzTypes::StrToFloatRect(u"1.5,2,10,20");
  EXPECT_EQ(r.Width, 8.5);
  EXPECT_EQ(r.Height, 18);
  r = TqzTypes::StrToFloatRect(u"1,2");
  EXPECT_EQ(r.Right, 0);
  EXPECT_EQ(r.Bottom, 0);
  EXPECT_EQ(r.Width, -1);
  EXPECT_EQ(r.Height, -2);
  r = TqzTypes::StrToFloatRectLTWH(u"10,20,5,0");
  EXPECT_EQ(r.Right, 14);
  EXPECT_EQ(r.Bottom, 20);
  EXPECT_EQ(TqzTypes::AdvRect(0, 0, 9, 9).Width, 10);
  EXPECT_EQ(TqzTypes::StrToAdvRect(u"0,0,9,9").Width, 9);
  EXPECT_EQ(TqzTypes::AdvRectToStr(TqzTypes::StrToAdvRect(u"-1,2,x,4")), "-1,2,0,4");
  const TRect sr = TqzTypes::StrToRect(u"1,x,3,4,5");
  EXPECT_EQ(TqzTypes::RectToStr(sr), "1,-1,3,4");
  EXPECT_EQ(TqzTypes::RectToStr(TqzTypes::StrToRect(u"")), "-1,0,0,0");
  TRelRect f;
  f.Left = 2.5;
  f.Top = 3.5;
  f.Width = 10;
  f.Height = 0;
  const TAdvRect a = TqzTypes::FloatRectToAdvRect(f);
  EXPECT_EQ(TqzTypes::AdvRectToStr(a), "2,4,11,4");
  EXPECT_EQ(TqzTypes::RectToStr(TqzTypes::FloatRectToTRect(f)), "2,4,11,4");
  const TRelRect back = TqzTypes::TRectToFloatRect(TRect{10, 20, 15, 20});
  EXPECT_EQ(back.Width, 5);
  EXPECT_EQ(back.Right, 14);
  EXPECT_EQ(back.Bottom, 20);
  EXPECT_FALSE(TqzTypes::IsRectEmpty(TRect{5, 5, 5, 5}));
  EXPECT_TRUE(TqzTypes::IsRectEmpty(TRect{}));
  EXPECT_TRUE(TqzTypes::IsRectEmpty(TRelRect{-0.0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(TqzTypes::IsRectEmpty(TqzTypes::AdvRect(0, 0, 0, 0)));  // width and height 1
}

// Width and height are worked out in 64 bits: extreme edges that still give a 32-bit size are
// exact, sizes beyond 32 bits are a conversion error, never a wrapped number.
TEST_F(TypesTest, RectangleSizesBeyond32Bits) {
  struct Row {
    std::u16string text;
    int64_t width, height;  // INT64_MIN: a conversion error
  };
  const int64_t kError = INT64_MIN;
  const Row rows[] = {
      {u"-2147483648,0,2147483647,0", kError, 0},
      {u"0,2147483647,0,-2147483648", 0, kError},
      {u"-1073741824,-5,1073741823,5", 2147483647, 10},
      {u"2147483647,-2147483648,2147483647,-2147483648", 0, 0},
      {u"-2147483648,0,-1,0", 2147483647, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(platform::WideToUtf8(r.text));
    if (r.width == kError || r.height == kError) {
      EXPECT_THROW(TqzTypes::StrToAdvRect(r.text), EConvertError);
      continue;
    }
    const TAdvRect a = TqzTypes::StrToAdvRect(r.text);
    EXPECT_EQ(a.Width, r.width);
    EXPECT_EQ(a.Height, r.height);
  }
  EXPECT_THROW(TqzTypes::AdvRect(-2147483647 - 1, 0, 0, 0), EConvertError);   // width 2^31 + 1
  EXPECT_THROW(TqzTypes::AdvRect(0, 0, 2147483647, 0), EConvertError);        // width 2^31
  EXPECT_THROW(TqzTypes::AdvRect(0, -2, 0, 2147483646), EConvertError);       // height 2^31 + 1
  EXPECT_EQ(TqzTypes::AdvRect(0, 0, 2147483646, 0).Width, 2147483647);
  EXPECT_EQ(TqzTypes::AdvRect(0, 0, -2147483647 - 1, 0).Width, -2147483647);
  TRelRect f;
  f.Left = 2147483000;
  f.Width = 1000;
  EXPECT_THROW(TqzTypes::FloatRectToAdvRect(f), EConvertError);  // the right edge is beyond 32 bits
  EXPECT_EQ(TqzTypes::TRectToFloatRect(TRect{-2147483647 - 1, 0, 2147483647, 0}).Width, 4294967295.0);
}

TEST_F(TypesTest, ShortDateFormatA) {
  EXPECT_EQ(::ShortDateFormatA(), "mm/dd/yyyy");
  platform::SetFormatSettings(platform::FormatSettingsForLocale("de_DE"));
  EXPECT_EQ(::ShortDateFormatA(), "dd/mm/yyyy");
}

}  // namespace
