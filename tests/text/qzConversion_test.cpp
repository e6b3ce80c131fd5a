// Scalar conversions: integer and float texts, the storage text forms of floats (checked against
// Python's decimal module through tests/peers/conversion_oracle.py), the yes-words, and the
// OEM/ANSI conversions (checked against Python's codecs).
#include "qzConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "TestSupport.h"

namespace {

std::string U8(std::u16string_view s) { return platform::WideToUtf8(s); }

// Sets the process format settings for one test and restores them afterwards.
class FormatSettingsScope {
 public:
  explicit FormatSettingsScope(const platform::TFormatSettings& s) : saved_(platform::GetFormatSettings()) {
    platform::SetFormatSettings(s);
  }
  ~FormatSettingsScope() { platform::SetFormatSettings(saved_); }

 private:
  platform::TFormatSettings saved_;
};

// ---------------------------------------------------------------------------------- integers

TEST(TqzConversionInt, StrToInt) {
  struct Case {
    const char16_t* text;
    int64_t expected;
  } cases[] = {
      {u"", 0},          {u"  42", 42},      {u"42 ", 7},       {u"$1F", 31},      {u"0x1f", 31},
      {u"X1f", 31},      {u"-$10", -16},     {u"+12", 12},      {u"1,5", 7},       {u"2.0", 2},
      {u"2.5", 7},       {u"a.b", 0},        {u"1.234,00", 1234}, {u"-3.0", -3},   {u"abc", 7},
      {u"$", 7},         {u"-", 7},          {u"0x", 7},        {u"1e3", 7},       {u"\t1", 7},
      {u"9223372036854775807", INT64_MAX}, {u"-9223372036854775808", INT64_MIN},
      {u"9223372036854775808", 7},         {u"$7FFFFFFFFFFFFFFF", INT64_MAX},
      {u"$8000000000000000", 7},           {u"-$8000000000000000", INT64_MIN},
      {u"1e300.0", 0},   {u"12345678901234567890.0", 7},
  };
  for (const auto& c : cases) EXPECT_EQ(TqzConversion::StrToInt(c.text, 7), c.expected) << U8(c.text);
}

TEST(TqzConversionInt, HexToIntAndIntToStr) {
  struct Case {
    const char16_t* text;
    int64_t expected;
  } cases[] = {{u"", 0},     {u"ff", 255}, {u"FF", 255}, {u"zz", 5},  {u"1.5", 5},
               {u"-1", 5},   {u" ff", 5},  {u"0x1f", 5}, {u"7fffffffffffffff", INT64_MAX}};
  for (const auto& c : cases) EXPECT_EQ(TqzConversion::HexToInt(c.text, 5), c.expected) << U8(c.text);

  EXPECT_EQ(TqzConversion::IntToStr(0), "0");
  EXPECT_EQ(TqzConversion::IntToStr(-42), "-42");
  EXPECT_EQ(TqzConversion::IntToStr(INT64_MIN), "-9223372036854775808");
}

// ---------------------------------------------------------------------------------- text to float

TEST(TqzConversionFloat, StrToReal) {
  struct Case {
    const char16_t* text;
    double expected;
  } cases[] = {
      {u"1.234.567,89", 1234567.89}, {u"1,234,567.89", 1234567.89}, {u"1,5", 1.5},
      {u"1.000", 1},                 {u"1,234,567", 9},             {u"", 9},
      {u"  -2.5e2", -250},           {u"abc", 9},                   {u"1.5 ", 9},
      {u"1,234.5", 1234.5},          {u",5", 0.5},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(TqzConversion::StrToReal(c.text, false, 9), c.expected) << U8(c.text);

  EXPECT_EQ(TqzConversion::StrToReal(u"", true, 9), 9);  // empty is never an error
  try {
    TqzConversion::StrToReal(u"1,2,3", true, 0);
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, u"float string conversion exception for value \"1.2.3\"");
  }
}

TEST(TqzConversionFloat, StrToFloat) {
  EXPECT_EQ(TqzConversion::StrToFloat(u"1E3"), 1000);
  EXPECT_EQ(TqzConversion::StrToFloat(u"2.5e-1"), 0.25);
  EXPECT_EQ(TqzConversion::StrToFloat(u"1,5E3", false, 4), 4);
  EXPECT_DOUBLE_EQ(TqzConversion::StrToFloat(u"1.234.567,89"), 1234567.89);
  EXPECT_DOUBLE_EQ(TqzConversion::StrToFloat(u"1,234"), 1.234);
  EXPECT_EQ(TqzConversion::StrToFloat(u"12,", false, 3), 3);
  try {
    TqzConversion::StrToFloat(u"1,5E3", true);
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError&) {
    ADD_FAILURE() << "exponent texts raise the base exception class";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, u"cannot convert 1,5E3 to float");
  }
  EXPECT_THROW(TqzConversion::StrToFloat(u"12,", true), EConvertError);
}

TEST(TqzConversionFloat, LocaleStrToFloat) {
  platform::TFormatSettings german = platform::InvariantFormatSettings();
  german.DecimalSeparator = u',';
  german.ThousandSeparator = u'.';
  {
    FormatSettingsScope scope(german);
    EXPECT_DOUBLE_EQ(TqzConversion::LocaleStrToFloat(u"1.234.567,89"), 1234567.89);
    EXPECT_DOUBLE_EQ(TqzConversion::LocaleStrToFloat(u"-0,5"), -0.5);
    EXPECT_EQ(TqzConversion::LocaleStrToFloat(u"1.5x", false, 8), 8);
    // The thousands separator goes before the parse: "1,234.5" reads as 1,2345.
    EXPECT_DOUBLE_EQ(TqzConversion::LocaleStrToFloat(u"1,234.5"), 1.2345);
    // The alternative reader works out apostrophe groups by itself.
    EXPECT_EQ(TqzConversion::LocaleStrToFloat(u"1'234,5", false, 8, false), 8);
    EXPECT_DOUBLE_EQ(TqzConversion::LocaleStrToFloat(u"1'234,5", false, 8, true), 1234.5);
    try {
      TqzConversion::LocaleStrToFloat(u"x", true, 0, false);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, u"cannot convert x to float");
    }
  }
  platform::TFormatSettings english = platform::InvariantFormatSettings();
  english.DecimalSeparator = u'.';
  english.ThousandSeparator = u',';
  FormatSettingsScope scope(english);
  EXPECT_DOUBLE_EQ(TqzConversion::LocaleStrToFloat(u"1,234,567.89"), 1234567.89);
  EXPECT_DOUBLE_EQ(TqzConversion::LocaleStrToFloat(u"1.5E2"), 150);
}

// ---------------------------------------------------------------------------------- float to text

TEST(TqzConversionText, RealToStrAndFloatToStrTable) {
  EXPECT_EQ(TqzConversion::RealToStr(2.5, 0), "3");
  EXPECT_EQ(TqzConversion::RealToStr(-2.5, 0), "-3");
  EXPECT_EQ(TqzConversion::RealToStr(0.125, 2), "0.13");
  EXPECT_EQ(TqzConversion::RealToStr(-0.001, 2), "0.00");
  EXPECT_EQ(TqzConversion::RealToStr(1.5, -1), " 1.50000000000000E+0000");
  EXPECT_EQ(TqzConversion::RealToStr(-1234.5, -1), "-1.23450000000000E+0003");
  EXPECT_EQ(TqzConversion::RealToStr(1e-300, -1), " 1.00000000000000E-0300");
  EXPECT_EQ(TqzConversion::RealToStr(std::numeric_limits<double>::infinity(), -1), std::string(19, ' ') + "+Inf");
  EXPECT_EQ(TqzConversion::RealToStr(std::nan(""), -1), std::string(20, ' ') + "Nan");

  EXPECT_EQ(TqzConversion::FloatToStr(2, 7, 2), "2.00");
  EXPECT_EQ(TqzConversion::FloatToStr(0.5, 7, 2), "0.50");
  EXPECT_EQ(TqzConversion::FloatToStr(1.2304, 7, 2), "1.2304");
  EXPECT_EQ(TqzConversion::FloatToStr(1.123456789, 9, 2), "1.1234568");
  EXPECT_EQ(TqzConversion::FloatToStr(2, 7, 0), "2.");
  EXPECT_EQ(TqzConversion::FloatToStr(2.5, 0, 2), "3.00");
  EXPECT_EQ(TqzConversion::FloatToStr(-0.00000001, 7, 2), "0.00");
  EXPECT_EQ(TqzConversion::FloatToStr(1234567.5, 7, 2), "1234567.50");
}

TEST(TqzConversionText, StorageFormsIgnoreTheLocale) {
  platform::TFormatSettings german = platform::InvariantFormatSettings();
  german.DecimalSeparator = u',';
  german.ThousandSeparator = u'.';
  FormatSettingsScope scope(german);
  EXPECT_EQ(TqzConversion::FloatToStr(1234567.25, 7, 2), "1234567.25");
  EXPECT_EQ(TqzConversion::RealToStr(1234.5, 1), "1234.5");
  EXPECT_EQ(TqzConversion::RealToStr(1234.5, -1), " 1.23450000000000E+0003");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant(1.0 / 3)), "0.3333333");
}

TEST(TqzConversionText, FloatToStrOfVariants) {
  EXPECT_EQ(TqzConversion::FloatToStr(Variant::FromCurrency(12.5)), "12.50");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant::FromCurrencyScaled(-123456789)), "-12345.6789");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant::FromCurrencyScaled(INT64_MIN)), "-922337203685477.5808");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant(int32_t{42})), "42");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant::FromInteger(varByte, 200)), "200");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant(int64_t{-9000000000})), "-9000000000");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant(1.0 / 3)), "0.3333333");
  EXPECT_EQ(TqzConversion::FloatToStr(Variant::FromSingle(0.5f)), "0.50");
  EXPECT_THROW(TqzConversion::FloatToStr(Variant::Null()), EVariantError);
}

TEST(TqzConversionText, TextFormsMatchDecimalReference) {
  const auto rows = qztest::RunOracle("conversion_oracle.py", {"texts"});
  ASSERT_GT(rows.size(), 200u);
  for (const auto& r : rows) {
    const double x = std::strtod(r["x"].get<std::string>().c_str(), nullptr);
    EXPECT_EQ(TqzConversion::RealToStr(x, -1), r["scientific"].get<std::string>()) << r["x"];
    for (int d : {0, 2, 4}) {
      const std::string key = "fixed" + std::to_string(d);
      if (r.contains(key)) {
        EXPECT_EQ(TqzConversion::RealToStr(x, static_cast<TRoundToRange>(d)), r[key].get<std::string>()) << r["x"];
      }
    }
    if (r.contains("trim72")) {
      EXPECT_EQ(TqzConversion::FloatToStr(x, 7, 2), r["trim72"].get<std::string>()) << r["x"];
      EXPECT_EQ(TqzConversion::FloatToStr(x, 4, 2), r["trim42"].get<std::string>()) << r["x"];
    }
  }
}

TEST(TqzConversionText, ScientificFormReadsBack) {
  // The stored form must read back through the library's own reader to 15 significant digits.
  for (double x : {1.5, -1234.5678, 6.02214076e23, 1.0 / 3, 9.999999999999999e99}) {
    const AnsiString text = TqzConversion::RealToStr(x, -1);
    const double back = TqzConversion::StrToFloat(platform::AnsiToWide(text), true);
    EXPECT_NEAR(back, x, std::fabs(x) * 1e-14) << text;
  }
}

// ---------------------------------------------------------------------------------- Booleans

TEST(TqzConversionBool, YesWords) {
  for (auto word : TqzConversion::YesWords()) {
    EXPECT_TRUE(TqzConversion::StrToBool(word)) << U8(word);
    UnicodeString lower(word);
    for (auto& c : lower)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    EXPECT_TRUE(TqzConversion::StrToBool(u"\t " + lower + u" \r\n")) << U8(lower);
  }
  for (const char16_t* no : {u"", u"N", u"2", u"NEIN", u"FALSE", u"0", u"JA JA", u"Y E S", u"\u00ffes"})
    EXPECT_FALSE(TqzConversion::StrToBool(no)) << U8(no);
  // Only a-z are upper-cased: a dotless or accented look-alike is no yes-word.
  EXPECT_FALSE(TqzConversion::StrToBool(u"wahr\u00e9"));
  EXPECT_EQ(TqzConversion::YesWords().size(), 21u);
  EXPECT_EQ(TqzConversion::YesWords().front(), u"JA");
  EXPECT_EQ(TqzConversion::YesWords().back(), u"Y");
}

TEST(TqzConversionBool, StrToBoolExt) {
  struct Case {
    const char16_t* text;
    const char16_t* trueStr;
    const char16_t* falseStr;
    bool expected;
  } cases[] = {
      {u"on", u"ON", u"OFF", true},      {u"off", u"ON", u"OFF", false},   {u"ja", u"ON", u"OFF", false},
      {u"ja", u"", u"", true},           {u" On ", u"on", u"off", true},   {u"nein", u"x", u" X ", false},
      {u"yes", u"x", u" X ", true},      {u"\u00e4", u"\u00c4", u"n", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TqzConversion::StrToBoolExt(c.text, c.trueStr, c.falseStr), c.expected) << U8(c.text);
}

TEST(TqzConversionBool, WrittenForms) {
  EXPECT_EQ(TqzConversion::BoolToStr(true), u"True");
  EXPECT_EQ(TqzConversion::BoolToStr(false), u"False");
  EXPECT_EQ(TqzConversion::BoolToStrExt(true, u"an", u"aus"), u"an");
  EXPECT_EQ(TqzConversion::BoolToStrExt(false, u"an", u"aus"), u"aus");
  EXPECT_EQ(TqzConversion::BoolToSingleByteStr(true), "1");
  EXPECT_EQ(TqzConversion::BoolToSingleByteStr(false), "0");
  EXPECT_EQ(TqzConversion::BoolToSingleByteStrX(true), "X");
  EXPECT_EQ(TqzConversion::BoolToSingleByteStrX(false), "");
  EXPECT_EQ(TqzConversion::BoolToInt(true), 1);
  EXPECT_EQ(TqzConversion::BoolToInt(false), 0);
  EXPECT_TRUE(TqzConversion::IntToBool(-5));
  EXPECT_FALSE(TqzConversion::IntToBool(0));
  EXPECT_EQ(TqzConversion::IntBoolToStr(2), u"True");
  EXPECT_EQ(TqzConversion::IntBoolToStr(0), u"False");
  for (const char16_t* yes : {u"1", u"X", u"x"}) EXPECT_TRUE(TqzConversion::SingleByteStrToBool(yes));
  for (const char16_t* no : {u"1 ", u"TRUE", u"", u"0", u" x"}) EXPECT_FALSE(TqzConversion::SingleByteStrToBool(no));
}

// ---------------------------------------------------------------------------------- code pages

TEST(TqzConversionCodePage, OemAnsiAgainstPythonCodecs) {
  // Every OEM byte 1..255, converted by Python's cp850 and cp1252 codecs ("?" where cp1252 has
  // no such character).
  const std::string script =
      "import sys\n"
      "oem = bytes(range(1, 256))\n"
      "sys.stdout.buffer.write(oem.decode('cp850').encode('cp1252', errors='replace'))\n";
  const std::string expected = qztest::RunPython(script);
  ASSERT_EQ(expected.size(), 255u);
  std::string oem;
  for (int b = 1; b < 256; ++b) oem.push_back(static_cast<char>(b));
  EXPECT_EQ(TqzConversion::AsciiToAnsi(oem), expected);

  // ANSI letters that code page 850 has come back unchanged through OEM.
  const std::string ansi = "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\xE9\xA3 ABC";
  EXPECT_EQ(TqzConversion::AsciiToAnsi(TqzConversion::AnsiToAscii(ansi)), ansi);
  EXPECT_EQ(TqzConversion::AnsiToAscii("\xE4"), "\x84");  // ä is 0x84 in code page 850
}

TEST(TqzConversionCodePage, TextEndsAtFirstZeroByte) {
  EXPECT_EQ(TqzConversion::AsciiToAnsi(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(TqzConversion::AnsiToAscii(std::string("\0x", 2)), "");
}

}  // namespace
