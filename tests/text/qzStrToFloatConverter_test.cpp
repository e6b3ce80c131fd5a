// The number-text analyser: separator rules, rejection messages, and amounts written in many
// national styles by the independent generator tests/peers/conversion_oracle.py.
#include "qzStrToFloatConverter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"

namespace {

std::string U8(const UnicodeString& s) { return platform::WideToUtf8(s); }

using Conv = TqzStrToFloatConverter;

TEST(TqzStrToFloatConverter, AcceptedTexts) {
  struct Case {
    const char16_t* text;
    double value;
  } cases[] = {
      {u"1.234.567,89", 1234567.89}, {u"1,234,567.89", 1234567.89}, {u"1 234 567,89", 1234567.89},
      {u"1.234.567", 1234567},       {u"1,234,567", 1234567},       {u"1'234'567", 1234567},
      {u"1\u2019234\u2019567", 1234567},
      {u"1.234", 1.234},             {u"1,234", 1.234},             {u"12,5", 12.5},
      {u"12.5", 12.5},               {u"1.234.5", 1234.5},          {u",5", 0.5},
      {u"5-", -5},                   {u"-5", -5},                   {u"+5", 5},
      {u"5+", 5},                    {u"  - 7 ", -7},               {u"-,5", -0.5},
      {u"1,234.567.890", 1.23456789}, {u"42", 42},                  {u"1.234.567.890", 1234567890},
      {u"1 234,5", 1234.5},          {u"0", 0},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(Conv::CheckFloatString(c.text)) << U8(c.text);
    EXPECT_DOUBLE_EQ(Conv::StrToFloat(c.text, -999, true), c.value) << U8(c.text);
  }
}

TEST(TqzStrToFloatConverter, RejectedTextsWithTheirMessages) {
  struct Case {
    const char16_t* text;
    const char16_t* message;
  } cases[] = {
      {u"", u"FloatStr is empty"},
      {u"   ", u"FloatStr is empty"},
      {u"12,", u"Separation char is on the far right"},
      {u"1,23.456", u"Distance between separators invalid"},
      {u"1.234,567.8", u"Thousand separator differs from previous thousand separator"},
      {u"1.234,567,890.12", u"Thousand separator differs from previous thousand separator"},
      {u"1 234", u"Invalid decimal separator:   in FloatStr"},
      {u"1e5", u"Invalid decimal separator: e in FloatStr"},
      {u"1;234,5", u"Invalid thousand separator: ; in FloatStr"},
      {u",234.5", u"Separation char is on the far left"},
      {u"1.5.5", u"Distance between separators invalid"},
      {u"12a", u"Separation char is on the far right"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Conv::CheckFloatString(c.text)) << U8(c.text);
    EXPECT_EQ(Conv::StrToFloat(c.text, 9.5), 9.5) << U8(c.text);
    try {
      Conv::StrToFloat(c.text, 0, true);
      ADD_FAILURE() << "no exception for " << U8(c.text);
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message, UnicodeString(c.message)) << U8(c.text);
    }
  }
}

TEST(TqzStrToFloatConverter, NormalizeReportsSeparatorsAndCleanedText) {
  struct Case {
    const char16_t* text;
    const char16_t* cleaned;
    char16_t decimal;
    char16_t thousands;
  } cases[] = {
      {u"1.234.567,89", u"1234567,89", u',', u'.'},
      {u"1.234.567", u"1234567", 0, u'.'},
      {u"1.234.5", u"1234.5", u'.', u'.'},
      {u",5", u"0,5", u',', 0},
      {u"5-", u"-5", 0, 0},
      {u"1,234.567.890", u"1,234567890", u',', u'.'},
  };
  for (const auto& c : cases) {
    UnicodeString text = c.text, message;
    char16_t d = 1, t = 1;
    ASSERT_TRUE(Conv::NormalizeFloatString(text, false, d, t, message)) << U8(c.text) << ": " << U8(message);
    EXPECT_EQ(text, UnicodeString(c.cleaned)) << U8(c.text);
    EXPECT_EQ(d, c.decimal) << U8(c.text);
    EXPECT_EQ(t, c.thousands) << U8(c.text);
  }
}

TEST(TqzStrToFloatConverter, LookAlikeCharacters) {
  EXPECT_DOUBLE_EQ(Conv::StrToFloat(u"I2,S", 0, true, true), 12.5);
  EXPECT_DOUBLE_EQ(Conv::StrToFloat(u"|o!,oS", 0, true, true), 101.05);
  EXPECT_EQ(Conv::StrToFloat(u"I2,S", 7, false, false), 7);  // not replaced unless asked
  EXPECT_TRUE(Conv::CheckFloatString(u"1.OOO.OOO", true));
  EXPECT_FALSE(Conv::CheckFloatString(u"1.OOO.OOO", false));
}

TEST(TqzStrToFloatConverter, Currency) {
  EXPECT_EQ(Conv::StrToCurrency(u"1.234,56"), 12345600);
  EXPECT_EQ(Conv::StrToCurrency(u"-0,00005"), -1);       // fifth decimal rounds half away from zero
  EXPECT_EQ(Conv::StrToCurrency(u"0,00004"), 0);
  EXPECT_EQ(Conv::StrToCurrency(u"922337203685477,5807"), INT64_MAX);
  EXPECT_EQ(Conv::StrToCurrency(u"922337203685477,5808", 3), 3);  // beyond the range
  EXPECT_EQ(Conv::StrToCurrency(u"12,", 4), 4);
  try {
    Conv::StrToCurrency(u"99999999999999999999", 0, true);
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, u"Failed to convert String To Currency");
  }
}

TEST(TqzStrToFloatConverter, ParseFailureAfterAcceptance) {
  // Accepted by the analysis (only digits and a sign), but no number is left to parse.
  EXPECT_TRUE(Conv::CheckFloatString(u"-"));
  try {
    Conv::StrToFloat(u"-", 0, true);
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, u"Failed to convert String To Extended");
  }
  EXPECT_EQ(Conv::StrToFloat(u"1" + UnicodeString(400, u'0'), 6), 6);  // beyond the float range
}

TEST(TqzStrToFloatConverter, AmountsInNationalStyles) {
  const auto rows = qztest::RunOracle("conversion_oracle.py", {"amounts"});
  ASSERT_GT(rows.size(), 1000u);
  for (const auto& r : rows) {
    const UnicodeString text = platform::Utf8ToWide(r["text"].get<std::string>());
    const double expected = std::strtod(r["value"].get<std::string>().c_str(), nullptr);
    EXPECT_EQ(Conv::StrToFloat(text, -1e300, false), expected) << r.dump();
    EXPECT_EQ(Conv::StrToCurrency(text, INT64_MIN, false), r["currency"].get<int64_t>()) << r.dump();
  }
}

TEST(TqzStrToFloatConverter, TryParseFloatGrammar) {
  struct Case {
    const char16_t* text;
    char16_t decimal;
    bool ok;
    double value;
  } cases[] = {
      {u"1.5", u'.', true, 1.5},   {u"  -1.5e3", u'.', true, -1500}, {u"+.5", u'.', true, 0.5},
      {u"5.", u'.', true, 5},      {u"1,5", u',', true, 1.5},        {u"1.5", u',', false, 0},
      {u"1.5 ", u'.', false, 0},   {u".", u'.', false, 0},           {u"1e", u'.', false, 0},
      {u"1e-400", u'.', true, 0},  {u"1e400", u'.', false, 0},       {u"", u'.', false, 0},
      {u"0x10", u'.', false, 0},   {u"inf", u'.', false, 0},         {u"1E+2", u'.', true, 100},
  };
  for (const auto& c : cases) {
    double v = -1;
    EXPECT_EQ(Conv::TryParseFloat(c.text, c.decimal, v), c.ok) << U8(c.text);
    if (c.ok) {
      EXPECT_EQ(v, c.value) << U8(c.text);
    }
  }
}

}  // namespace
