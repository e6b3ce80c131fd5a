// Template, rule and list edits of TqzStrings.
#include <gtest/gtest.h>

#include <random>

#include "CodePage.h"
#include "Exceptions.h"
#include "qzStrings.h"

namespace {

const std::vector<AnsiString> kNrTemplate = {"Nr. %SEARCH_STRING%"};

TEST(StringsEdits, PosIgnoreTemplate) {
  EXPECT_EQ(TqzStrings::PosIgnoreTemplateW(u"Nr. 12 and 12", u"12", 1, 100, kNrTemplate, false), 12);
  EXPECT_EQ(TqzStrings::PosIgnoreTemplateW(u"Nr. 12 and 12", u"12", 1, 100, {}, false), 5);
  EXPECT_EQ(TqzStrings::PosIgnoreTemplateW(u"Nr. 12 and 12", u"12", 1, 10, kNrTemplate, false), 0);
  EXPECT_EQ(TqzStrings::PosIgnoreTemplateW(u"NR. 12 and 12", u"12", 1, 100, kNrTemplate, true), 12);
  EXPECT_EQ(TqzStrings::PosIgnoreTemplateW(u"abc12 x", u"12", 1, 100, kNrTemplate, false), 4);
  EXPECT_EQ(TqzStrings::PosIgnoreTemplateW(u"", u"12", 1, 100, kNrTemplate, false), 0);
  EXPECT_TRUE(TqzStrings::ContainsBetweenIgnoreTemplates(u"Nr. 12 and 12", u"12", 1, 100, kNrTemplate, false));
  EXPECT_FALSE(TqzStrings::ContainsBetweenIgnoreTemplates(u"Nr. 12", u"12", 1, 100, kNrTemplate, false));
}

TEST(StringsEdits, RuleAndPositionReplace) {
  EXPECT_EQ(TqzStrings::RuleReplace(u"ab cd ab", u"ab", u"X", {"%SEARCH_STRING% "}, 0), u"X cd ab");
  EXPECT_EQ(TqzStrings::RuleReplace(u"ab cd ab ", u"ab", u"X", {"%SEARCH_STRING% "}, -1), u"X cd X ");
  EXPECT_EQ(TqzStrings::RuleReplace(u"(ab) ab", u"ab", u"X", {"(%SEARCH_STRING%)"}, 5), u"(X) ab");

  struct Case {
    TSEARCH_TYPE pos;
    UnicodeString expected;
  };
  for (const auto& c : {Case{FIRST_POS, u"a,b;c;d"}, Case{LAST_POS, u"a;b;c,d"}, Case{EACH_POS, u"a,b;c,d"}})
    EXPECT_EQ(TqzStrings::ReplaceWithoutPos(u"a,b,c,d", u",", u";", c.pos), c.expected);
  EXPECT_EQ(TqzStrings::ReplaceWithoutPos(u"abc", u",", u";", FIRST_POS), u"abc");
  EXPECT_EQ(TqzStrings::ReplaceWithoutPos(u"", u",", u";", FIRST_POS), u"");
  EXPECT_EQ(TqzStrings::ReplaceWithoutPos(u"a,b", u",", u";", EACH_POS), u"a,b");  // one place: first and last
  EXPECT_EQ(TqzStrings::ReplaceWithoutPos(u",,", u",", u";", FIRST_POS), u",;");    // empty pieces count
  // An empty search text is never found: the text is kept, not erased.
  EXPECT_EQ(TqzStrings::ReplaceWithoutPos(u"abc", u"", u";", LAST_POS), u"abc");

  EXPECT_EQ(TqzStrings::ReplaceAfterElement(u"a=1;b=2;c", u"=", u";", u","), u"a=1,b=2,c");
  EXPECT_EQ(TqzStrings::ReplaceAfterElement(u"x=1", u"=", u";", u","), u"x=1");
  EXPECT_EQ(TqzStrings::ReplaceAfterElement(u"no element", u"=", u";", u","), u"no element");
}

TEST(StringsEdits, ListReplacements) {
  try {
    TqzStrings::ReplaceEachElement("ab", "a,b", "x", false);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, u"the two given listStrings has diverent counts... (2/1)");
  }
  EXPECT_EQ(TqzStrings::ReplaceEachElement("ab", "a,b", "b,x", false), "xx");
  EXPECT_EQ(TqzStrings::ReplaceEachElementW(u"Ab", u"a", u"z", true), u"zb");
  EXPECT_EQ(TqzStrings::ReplaceEachElementW(u"Ab", u"a", u"z", false), u"Ab");
  EXPECT_THROW(TqzStrings::ReplaceEachElementW(u"x", u"a,b,", u"c,d", false), Exception);
  EXPECT_EQ(TqzStrings::GetLengthIgnoreLetters(u" a-b.c ", u"-,.", true), 3);
  EXPECT_EQ(TqzStrings::GetLengthIgnoreLetters(u"a-b", u"-", false), 2);  // one element
  // The lists follow the comma-text rules: a quoted item may hold a comma, blanks end an item.
  EXPECT_EQ(TqzStrings::GetLengthIgnoreLetters(u"1,000.5", u"\",\",.", false), 5);
  EXPECT_EQ(TqzStrings::ReplaceEachElementW(u"a,b c", u"\"a,b\" c", u"x y", false), u"x y");
  EXPECT_EQ(TqzStrings::ReplaceEachElement("a,b c", "\"a,b\",c", "x,\"\"", false), "x ");

  TStringList pairs;
  pairs.Add(u"ä=ae");
  pairs.Add(u"noequals");
  pairs.Add(u"B=b");
  // "B=b" differs only in case: the replace-all leaves such a pair alone.
  EXPECT_EQ(TqzStrings::ReplaceEachElementWEx(u"äbB", pairs, false), u"aebB");
  EXPECT_EQ(TqzStrings::ReplaceElementWhenInQuotationMarks(u"a,\"b,c\",d", u',', u';'), u"a,\"b;c\",d");
  EXPECT_EQ(TqzStrings::ReplaceElementWhenInQuotationMarks(u"a,\"b,c,d", u',', u';'), u"a,\"b;c;d");
}

TEST(StringsEdits, BlanksFlagsAndValidity) {
  EXPECT_EQ(TqzStrings::RemoveBlankBetween(u"a:  b: c", u":", u"%ALL%"), u"a: b:c");
  EXPECT_EQ(TqzStrings::RemoveBlankBetween(u"a ;b  ;", u"%ALL%", u";"), u"a;b ;");
  EXPECT_EQ(TqzStrings::RemoveBlankBetween(u"x - y", u"-", u"y"), u"x -y");
  EXPECT_EQ(TqzStrings::ReplaceCharsBeforeString(u"abc123def", u"def", u"_", 1, 3, false), u"abc_def");
  EXPECT_EQ(TqzStrings::ReplaceCharsBeforeString(u"12def", u"def", u"_", 1, 5, false), u"_def");
  EXPECT_EQ(TqzStrings::RemoveCharsBeforeString(u"abc123def", u"DEF", 1, 2, true), u"abc1def");
  EXPECT_EQ(TqzStrings::RemoveCharsBeforeString(u"abc", u"x", 1, 2, false), u"abc");
  EXPECT_EQ(TqzStrings::AddWhenNotBeginOrEnd(u"x", u"/", EACH_POS), u"/x/");
  EXPECT_EQ(TqzStrings::AddWhenNotBeginOrEnd(u"", u"/", EACH_POS), u"/");
  EXPECT_EQ(TqzStrings::AddWhenNotBeginOrEnd(u" /x", u"/", FIRST_POS), u" /x");
  EXPECT_EQ(TqzStrings::AppendW(u"c", u"a", u"r", true, REPLACE_LAST), u"car");
  EXPECT_EQ(TqzStrings::AppendW(u"c", u"a", u"r", false, REPLACE_FIRST), u"ac");
  EXPECT_EQ(TqzStrings::AppendW(u"c", u"a", u"r", true, REPLACE_FIRST), u"rac");
  TStringList invalid;
  invalid.Add(u"n/a");
  invalid.Add(u"none");
  EXPECT_EQ(TqzStrings::ClearIfNotValid(u" N/A ", invalid, true, true), u"");
  EXPECT_EQ(TqzStrings::ClearIfNotValid(u"nothing", invalid, true, true), u"nothing");
  EXPECT_EQ(TqzStrings::ClearIfNotValid(u"NONE", u"n/a;none", u";", true, true), u"");
  EXPECT_EQ(TqzStrings::ClearIfNotValid(u"NONE", u"n/a;none", u";", true, false), u"NONE");
}

// The two operations as their steps are written (one search from the current start per step,
// every text cut and copied anew), for checking the one-walk forms on random texts.
UnicodeString NaiveReplaceAfterElement(const UnicodeString& content, const UnicodeString& element,
                                       const UnicodeString& source, const UnicodeString& destination) {
  UnicodeString result, rest = content;
  while (true) {
    const auto e = element.empty() ? UnicodeString::npos : rest.find(element);
    if (e == UnicodeString::npos) return result + rest;
    const UnicodeString before = rest.substr(0, e), after = rest.substr(e + element.size());
    const auto q = source.empty() ? UnicodeString::npos : after.find(source);
    if (q == UnicodeString::npos) return result + before + element + after;
    result += before + element + after.substr(0, q) + destination;
    rest = after.substr(q + source.size());
  }
}

int32_t NaivePosIgnoreTemplate(const UnicodeString& content, const UnicodeString& search, int32_t fromPos,
                               int32_t toPos, const std::vector<AnsiString>& templates, bool ignoreCase) {
  if (content.empty() || search.empty()) return 0;
  int64_t from = fromPos;
  while (from < static_cast<int64_t>(toPos) - static_cast<int64_t>(search.size())) {
    const int32_t p = TqzStrings::PosW(content, search, static_cast<int32_t>(from), ignoreCase);
    if (p == 0 || p > toPos) return 0;
    bool excluded = false;
    for (const AnsiString& t : templates) {
      const UnicodeString templ = platform::AnsiToWide(t);
      const auto at = templ.find(u"%SEARCH_STRING%");
      if (at == UnicodeString::npos) continue;
      const UnicodeString filled = TqzStrings::ReplaceW(templ, u"%SEARCH_STRING%", search);
      const int32_t q = TqzStrings::PosW(content, filled, static_cast<int32_t>(from), ignoreCase);
      if (q > 0 && q == p - static_cast<int64_t>(at)) {
        excluded = true;
        break;
      }
    }
    if (!excluded) return p;
    from = static_cast<int64_t>(p) + static_cast<int64_t>(search.size());
  }
  return 0;
}

TEST(StringsEdits, OneWalkFormsAgreeWithTheSteps) {
  std::mt19937 rng(31);
  auto rand = [&](const std::u16string& alphabet, int minLen, int maxLen) {
    UnicodeString s(std::uniform_int_distribution<int>(minLen, maxLen)(rng), u'a');
    for (auto& c : s) c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return s;
  };
  for (int iter = 0; iter < 20000; ++iter) {
    const UnicodeString content = rand(u"ab=;", 0, 20), element = rand(u"a=;", 0, 2), source = rand(u"b;", 0, 2),
                        destination = rand(u"xy", 0, 2);
    ASSERT_EQ(TqzStrings::ReplaceAfterElement(content, element, source, destination),
              NaiveReplaceAfterElement(content, element, source, destination))
        << platform::WideToUtf8(content + u" | " + element + u" | " + source + u" | " + destination);
  }
  const std::vector<std::vector<AnsiString>> templateSets = {
      {}, {"x%SEARCH_STRING%"}, {"%SEARCH_STRING%B", "a%SEARCH_STRING%"}, {"no placeholder", "%SEARCH_STRING%%SEARCH_STRING%"}};
  for (int iter = 0; iter < 20000; ++iter) {
    const UnicodeString content = rand(u"aAbBx", 0, 20), search = rand(u"abB", 1, 2);
    const int32_t from = std::uniform_int_distribution<int32_t>(-2, 12)(rng);
    const int32_t to = std::uniform_int_distribution<int32_t>(0, 24)(rng);
    const auto& templates = templateSets[static_cast<size_t>(iter) % templateSets.size()];
    const bool ignoreCase = iter % 2 == 0;
    ASSERT_EQ(TqzStrings::PosIgnoreTemplateW(content, search, from, to, templates, ignoreCase),
              NaivePosIgnoreTemplate(content, search, from, to, templates, ignoreCase))
        << platform::WideToUtf8(content + u" | " + search) << " " << from << " " << to << " " << ignoreCase;
  }
}

}  // namespace
