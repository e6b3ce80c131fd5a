// Normalising and character-set operations of TqzStrings.
#include <gtest/gtest.h>

#include "qzStrings.h"

namespace {

TEST(StringsNormalize, Flattening) {
  EXPECT_EQ(TqzStrings::FlatString("Gr\xf6\xdf" "e 1/2", '_', true), "Groesse_1_2");
  EXPECT_EQ(TqzStrings::FlatString("Gr\xf6\xdf" "e 1/2", '_', false), "Gr__e_1_2");
  EXPECT_EQ(TqzStrings::FlatStringW(u"Gr\u00f6\u00dfe 1/2", u'_', true), u"Groesse_1_2");
  EXPECT_EQ(TqzStrings::FlatStringW(u"\u00c4\U0001F600", u'-', false), u"---");  // a surrogate pair is two units
  EXPECT_EQ(TqzStrings::FormatTechnicalName(u"a b,c/d"), u"a_b_c_d");
  EXPECT_EQ(TqzStrings::BlanksToUnderScore(u" a "), u"_a_");
}

TEST(StringsNormalize, ControlCharactersAndBreaks) {
  EXPECT_EQ(TqzStrings::DeleteControlChars(AnsiString("a\tb\x1f")), "a b ");
  EXPECT_EQ(TqzStrings::Breaks2BlanksW(u"a\r\nb\nc\rd"), u"a b c\rd");
  EXPECT_EQ(TqzStrings::Breaks2Blanks("\r\n\r\n"), "  ");
  EXPECT_EQ(TqzStrings::RemoveMoreThenOn(u"a---b--c", u"-"), u"a-b-c");
  EXPECT_EQ(TqzStrings::RemoveMoreThenOn(u"--a--", u"-", 3), u"--a-");
  EXPECT_EQ(TqzStrings::RemoveMoreThenOn(u"a//b////c", u"//"), u"a//b//c");
  EXPECT_EQ(TqzStrings::RemoveMoreThenOn(u"abc", u""), u"abc");
}

TEST(StringsNormalize, NumericAndFormats) {
  struct Case {
    UnicodeString text;
    bool blanks, rel, expected;
  };
  const Case cases[] = {
      {u"12 34", true, false, true}, {u"-1,5", false, true, false}, {u"-1,5", true, true, true},
      {u"", false, false, true},     {u"12 34", false, false, false}, {u"1+2", true, false, false},
  };
  for (const auto& c : cases) EXPECT_EQ(TqzStrings::IsNumeric(c.text, c.blanks, c.rel), c.expected);
  EXPECT_TRUE(TqzStrings::IsNumeric(AnsiString("1 2"), true));
  EXPECT_FALSE(TqzStrings::IsNumeric(AnsiString("1 2"), false));
  EXPECT_TRUE(TqzStrings::ContainsNumbers(u"ab3"));
  EXPECT_TRUE(TqzStrings::VerifySimpleFormat(AnsiString("##.##"), AnsiString("12.34")));
  EXPECT_FALSE(TqzStrings::VerifySimpleFormat(AnsiString("##.##"), AnsiString("12,34")));
  EXPECT_TRUE(TqzStrings::VerifySimpleFormat(UnicodeString(u"$$-#"), UnicodeString(u"ab-7")));
  EXPECT_FALSE(TqzStrings::VerifySimpleFormat(UnicodeString(u"#"), UnicodeString(u"12")));
  EXPECT_TRUE(TqzStrings::VerifySimpleFormat(UnicodeString(), UnicodeString()));
  // Like every format character, "#" also matches itself; "$" takes anything, a "#" too.
  EXPECT_TRUE(TqzStrings::VerifySimpleFormat(AnsiString("#-#"), AnsiString("#-7")));
  EXPECT_TRUE(TqzStrings::VerifySimpleFormat(UnicodeString(u"$"), UnicodeString(u"#")));
  EXPECT_FALSE(TqzStrings::VerifySimpleFormat(UnicodeString(u"#"), UnicodeString(u"x")));
  EXPECT_FALSE(TqzStrings::VerifySimpleFormat(UnicodeString(u"a"), UnicodeString(u"A")));  // case-sensitive
}

TEST(StringsNormalize, CharacterSets) {
  EXPECT_TRUE(TqzStrings::VerifyCharset(u"abc", u"cab"));
  EXPECT_FALSE(TqzStrings::VerifyCharset(u"abc", u"abd"));
  EXPECT_TRUE(TqzStrings::VerifyCharset(u"abc", u""));
  EXPECT_EQ(TqzStrings::ApplyCharset(u"", u"xyz"), u"xyz");
  EXPECT_EQ(TqzStrings::ApplyCharset(u"ab", u"xaybz"), u"ab");
  EXPECT_EQ(TqzStrings::ApplyCharsetA("a1  b2\tc", "abc", true, false), "a b c");
  EXPECT_EQ(TqzStrings::ApplyCharsetA("a1  b2\tc", "abc", true, true), "abc");
  TqzCharSet digits;
  for (char c = '0'; c <= '9'; ++c) digits.set(static_cast<unsigned char>(c));
  EXPECT_EQ(TqzStrings::ApplyTqzCharset(u"a1b2c3", digits, false), u"123");
  EXPECT_EQ(TqzStrings::ApplyTqzCharset(u"a1b2c3\u20ac", digits, true), u"abc\u20ac");
}

TEST(StringsNormalize, ClearStringAndHighLow) {
  for (int len : {6, 0, 50}) {
    AnsiString s = "abcdefghijk";
    EXPECT_TRUE(TqzStrings::ClearString(s, len));
    ASSERT_EQ(s.size(), 11u);
    const size_t cleared = len == 6 ? 6 : 11;
    EXPECT_EQ(s.substr(0, cleared), std::string(cleared, '\0'));
    EXPECT_EQ(s.substr(cleared), std::string("abcdefghijk").substr(cleared));
  }
  UnicodeString w = u"secret";
  AnsiString copy = "secret";
  EXPECT_TRUE(TqzStrings::ClearStringW(w, 0));
  EXPECT_EQ(w, UnicodeString(6, u'\0'));
  EXPECT_EQ(TqzStrings::ContainHighAndLowChars(AnsiString("ABC")), 1);
  EXPECT_EQ(TqzStrings::ContainHighAndLowChars(AnsiString("gp")), 2);
  EXPECT_EQ(TqzStrings::ContainHighAndLowChars(UnicodeString(u"Ag")), 3);
  EXPECT_EQ(TqzStrings::ContainHighAndLowChars(UnicodeString(u"ace")), 0);
  EXPECT_EQ(TqzStrings::ContainHighAndLowChars(UnicodeString(u"j")), 3);
  EXPECT_EQ(TqzStrings::ContainHighAndLowChars(UnicodeString(u"\u00e4")), 1);
}

}  // namespace
