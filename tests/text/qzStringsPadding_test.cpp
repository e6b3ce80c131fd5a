// Padding, positions, cutting, splitting and counting of TqzStrings.
#include <gtest/gtest.h>

#include <random>

#include "qzStrings.h"

namespace {

std::vector<UnicodeString> Items(const TStrings& list) {
  std::vector<UnicodeString> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

TEST(StringsPadding, ZeroAndBlankPadding) {
  EXPECT_EQ(TqzStrings::FillIntNullW(42, 5), u"00042");
  EXPECT_EQ(TqzStrings::FillIntNullW(123456, 3), u"123456");
  EXPECT_EQ(TqzStrings::FillIntNullW(-5, 4), u"00-5");
  EXPECT_EQ(TqzStrings::FillIntNull(7, 3), "007");
  EXPECT_EQ(TqzStrings::FillStrNullW(u"7", 100), UnicodeString(61, u'0') + u"7");
  EXPECT_EQ(TqzStrings::FillStrNullW(u"7", INT32_MIN), u"7");  // no overflow on extreme widths
  EXPECT_EQ(TqzStrings::FillStrNull("7", INT32_MAX), std::string(61, '0') + "7");
  EXPECT_EQ(TqzStrings::FillBlankFront(UnicodeString(u"ab"), 4), u"  ab");
  EXPECT_EQ(TqzStrings::FillBlankBack(AnsiString("ab"), 4), "ab  ");
  EXPECT_EQ(TqzStrings::ClearLeadingZerosW(u"000120"), u"120");
  EXPECT_EQ(TqzStrings::ClearLeadingZerosW(u"000"), u"000");
  EXPECT_EQ(TqzStrings::ClearLeadingZerosW(u""), u"");
  EXPECT_EQ(TqzStrings::SpsW(1), u"");
  EXPECT_EQ(TqzStrings::SpsW(0), u"s");
  EXPECT_EQ(TqzStrings::Sps(2), "s");
  EXPECT_EQ(TqzStrings::ShowPluralStr(1, "en"), "");
  EXPECT_EQ(TqzStrings::ShowPluralStrW(3, u"en"), u"en");
  EXPECT_EQ(TqzStrings::FillBlankFront(AnsiString("abc"), 2), "abc");
  EXPECT_EQ(TqzStrings::FillStrNullW(u"12", 2), u"12");
  EXPECT_EQ(TqzStrings::ClearLeadingZeros(AnsiString("0a0")), "a0");
}

TEST(StringsPadding, Positions) {
  EXPECT_EQ(TqzStrings::RightPosWL(u"\\", u"C:\\a\\b.txt"), 5);
  EXPECT_EQ(TqzStrings::RightPosW(u"\\", u"C:\\a\\b.txt"), 6);
  EXPECT_EQ(TqzStrings::RightPosWL(u"\\\\", u"C:\\a\\b.txt"), -1);
  EXPECT_EQ(TqzStrings::RightPosW(u"ab", u"ab"), -1);
  EXPECT_EQ(TqzStrings::LastPos("bc", "abcabc"), 5);
  EXPECT_EQ(TqzStrings::LastPos("x", "abc"), 0);
  EXPECT_EQ(TqzStrings::PartPos(u"x;b;c", u"..b;..", u";"), 3);
  EXPECT_EQ(TqzStrings::PartPos(u"x;c", u"c", u";"), -1);  // a last part without delimiter is not tested

  TAnsiStringList items;
  EXPECT_EQ(TqzStrings::OptPos(items, "abc"), -1);
  items.Add("c");
  items.Add("a");
  EXPECT_EQ(TqzStrings::OptPos(items, "abc"), 1);  // "c" is preceded by "a": the walk goes on
  items.Clear();
  items.Add("x");
  EXPECT_EQ(TqzStrings::OptPos(items, "abc"), 0);
  items.Clear();
  items.Add("b");
  items.Add("a");
  items.Add("c");
  EXPECT_EQ(TqzStrings::OptPos(items, "cab"), 1);  // "b" is preceded by "a", "a" by "c": the last item
  EXPECT_EQ(TqzStrings::OptPos(items, "bac"), 1);  // "b" comes before "a": it stands
  EXPECT_EQ(TqzStrings::OptPos(items, "ab"), 1);   // "a" precedes "b"; "c" is absent, so "a" stands
  EXPECT_EQ(TqzStrings::RightPos(AnsiString("/"), AnsiString("a/b/c")), 2);
  EXPECT_EQ(TqzStrings::RightPosL(AnsiString("/"), AnsiString("abc")), -1);
}

TEST(StringsPadding, GetBetween) {
  EXPECT_EQ(TqzStrings::GetBetween("x]a[b]c", "[", "]"), "b");
  EXPECT_EQ(TqzStrings::GetBetween("[b", "[", "]"), "");
  EXPECT_EQ(TqzStrings::GetBetween("a[b]c]d", "[", "]"), "b");
  EXPECT_EQ(TqzStrings::GetBetweenW(u"a[b]c]d", u"[", u"]"), u"b]c");
  // The cut position is found in the UTF-16 text: a character outside the BMP shifts nothing.
  EXPECT_EQ(TqzStrings::GetBetweenW(u"\U0001F600[b]c]d", u"[", u"]"), u"b]c");
  EXPECT_EQ(TqzStrings::GetBetweenW(u"[\U0001F600]\U0001F600", u"[", u"]"), u"\U0001F600");
  EXPECT_EQ(TqzStrings::GetBetweenW(u"x]\U0001F600[b", u"[", u"]"), u"");
  EXPECT_EQ(TqzStrings::GetBetweenW(u"a[b\u4E00c?", u"[", u"\u4E00"), u"b");  // not any unmappable one
  EXPECT_EQ(TqzStrings::GetBetween("a[ b ]", "[", "]"), "b");
  EXPECT_EQ(TqzStrings::GetBetween("key: value ", "key:", ""), "value");
}

TEST(StringsPadding, SuffixesAndInsertion) {
  EXPECT_EQ(TqzStrings::CheckStringSuffix("a;b", ";"), "a;b;");
  EXPECT_EQ(TqzStrings::CheckStringSuffix("a;b;", ";"), "a;b;");
  EXPECT_EQ(TqzStrings::CheckStringSuffix("", ";"), "");
  EXPECT_EQ(TqzStrings::CheckStringSuffixW(u"http://h", u"/"), u"http://h/");
  EXPECT_EQ(TqzStrings::Add(u"abcd", u"X", 2), u"abXcd");
  EXPECT_EQ(TqzStrings::Add(u"abcd", u"X", -3), u"Xabcd");
  EXPECT_EQ(TqzStrings::Add(u"abcd", u"X", 9), u"abcdX");
  EXPECT_EQ(TqzStrings::FillEachPosition(u"123456", u".", 3, 5, false), u"123.456.");
  EXPECT_EQ(TqzStrings::FillEachPosition(u"123456", u".", 3, 5, true), u".123.456");
  EXPECT_EQ(TqzStrings::FillEachPosition(u"1234567", u"-", 2, 1, false), u"12-34567");
  EXPECT_EQ(TqzStrings::FillEachPosition(u"123", u"ab", 1, 1, true), u"ab1ab2ab3");  // Times has no effect for 1
  EXPECT_EQ(TqzStrings::GetReplacerStringForReplaceEachElement(u"a,b,c", u"?"), u"?,?,?");
}

TEST(StringsPadding, Splitting) {
  struct Case {
    UnicodeString source, at;
    std::vector<UnicodeString> pieces;
  };
  const Case cases[] = {
      {u"a,,b", u",", {u"a", u"", u"b"}},
      {u"a,", u",", {u"a", u""}},
      {u"", u",", {}},
      {u"abc", u"", {}},
      {u"a<>b<>", u"<>", {u"a", u"b", u""}},
      {u"abc", u",", {u"abc"}},
      {u"a:", u"::", {u"a:"}},  // the tail ':' is data, not half a separator
      {u",", u",", {u"", u""}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.Add(u"kept");
    EXPECT_TRUE(TqzStrings::SplitStringW(c.source, c.at, list));
    auto expected = c.pieces;
    expected.insert(expected.begin(), u"kept");  // the list is not cleared
    EXPECT_EQ(Items(list), expected) << platform::WideToUtf8(c.source);
  }
  TStringList wide;
  TqzStrings::SplitString(AnsiString("\xe4;b"), ";", wide);
  EXPECT_EQ(Items(wide), (std::vector<UnicodeString>{u"\u00e4", u"b"}));
  TAnsiStringList narrow;
  TqzStrings::SplitString(AnsiString("\xe4;b"), ";", narrow);
  EXPECT_EQ(narrow.Get(0), "\xe4");

  UnicodeString left, right;
  EXPECT_TRUE(TqzStrings::SplitFirstStringW(u"key=val=x", u"=", left, right));
  EXPECT_EQ(left, u"key");
  EXPECT_EQ(right, u"val=x");
  EXPECT_FALSE(TqzStrings::SplitFirstStringW(u"novalue", u"=", left, right));
  EXPECT_EQ(left, u"novalue");
  EXPECT_EQ(right, u"");

  UnicodeString before = u"untouched", behind = u"untouched";
  EXPECT_FALSE(TqzStrings::SplitAfterLastNumber(u"abc", before, behind, false, 0));
  EXPECT_EQ(before, u"untouched");
  EXPECT_TRUE(TqzStrings::SplitAfterLastNumber(u"12.5 EUR", before, behind, true, 5));
  EXPECT_EQ(before, u"12.5");
  EXPECT_EQ(behind, u" EUR");
  EXPECT_TRUE(TqzStrings::SplitAfterLastNumber(u"1.5.x", before, behind, false, 5));
  EXPECT_EQ(before, u"1.5");
  EXPECT_TRUE(TqzStrings::SplitBeforeFirstNumber(u"Nr 42a", before, behind));
  EXPECT_EQ(before, u"Nr ");
  EXPECT_EQ(behind, u"42a");
}

TEST(StringsPadding, FlagsAndCounting) {
  EXPECT_EQ(TqzStrings::DeleteFlagWhenBeginOrEnd(u",a,", u",", EACH_POS), u"a");
  EXPECT_EQ(TqzStrings::DeleteFlagWhenBeginOrEnd(u",a,", u",", FIRST_POS), u"a,");
  EXPECT_EQ(TqzStrings::DeleteFlagWhenBeginOrEnd(u",a,", u",", LAST_POS), u",a");
  EXPECT_EQ(TqzStrings::DeleteFlagWhenBeginOrEnd(u",,a", u",", EACH_POS), u",a");  // at most one per end
  EXPECT_EQ(TqzStrings::DeleteFlagWhenBeginOrEnd(u"  ,a", u",", FIRST_POS), u"  ,a");  // no characters lost
  EXPECT_EQ(TqzStrings::DeleteFlagWhenBeginOrEndA(",a,", ",", EACH_POS), "a");
  EXPECT_EQ(TqzStrings::GetWordCount(u"  one   two "), 2);
  EXPECT_EQ(TqzStrings::GetWordCount(u"   "), 0);
  EXPECT_EQ(TqzStrings::GetWordCountAfter(u"Total: ONE two", u"total:", -1), 2);
  EXPECT_EQ(TqzStrings::GetWordCountAfter(u"abc", u"x", -1), -1);
  TStringList elements;
  elements.Add(u"ab");
  elements.Add(u"AB");
  elements.Add(u"zz");
  EXPECT_EQ(TqzStrings::GetIncludedElementCountW(u"xaBx", elements), 2);
  EXPECT_TRUE(TqzStrings::BeginWithOneOfElements(u"  ABc", elements, false, true));
  EXPECT_TRUE(TqzStrings::EndsWithOneOfElements(u"xzz ", elements, false, true));
  EXPECT_FALSE(TqzStrings::EndsWithOneOfElements(u"xzz ", elements, false, false));
}

// The cutting steps as written: delete up to each closing mark that stands before the opening
// one and search again. The operation must give the same texts without the repeated deleting.
std::string NaiveGetBetween(std::string str, const std::string& f, const std::string& l) {
  auto first = [](const std::string& s, const std::string& w) -> int64_t {
    if (w.empty()) return 0;
    const auto p = s.find(w);
    return p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1;
  };
  auto trim = [](std::string s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
  };
  auto mid = [](const std::string& s, int64_t pos, int64_t count) -> std::string {
    if (count <= 0) return "";
    if (pos < 1) pos = 1;
    if (pos > static_cast<int64_t>(s.size())) return "";
    return s.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(count));
  };
  int64_t p = first(str, f), q = first(str, l);
  if (p < 1 || q < 1) {
    if (!l.empty()) return "";
    return trim(mid(str, p + static_cast<int64_t>(f.size()), static_cast<int64_t>(str.size())));
  }
  while (q < p && q > 0) {
    str.erase(0, static_cast<size_t>(q));
    p = first(str, f);
    q = first(str, l);
  }
  return trim(mid(str, p + static_cast<int64_t>(f.size()), q - p - static_cast<int64_t>(f.size())));
}

TEST(StringsPadding, GetBetweenAgreesWithRepeatedCutting) {
  std::mt19937 rng(12);
  auto rand = [&](const std::string& alphabet, int minLen, int maxLen) {
    std::string s(std::uniform_int_distribution<int>(minLen, maxLen)(rng), 'a');
    for (auto& c : s) c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return s;
  };
  for (int iter = 0; iter < 20000; ++iter) {
    const std::string str = rand("[]] a", 0, 24), f = rand("[]a", 0, 2), l = rand("[]a", 0, 2);
    ASSERT_EQ(TqzStrings::GetBetween(str, f, l), NaiveGetBetween(str, f, l)) << str << " | " << f << " | " << l;
  }
}

}  // namespace
