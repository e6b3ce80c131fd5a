// Matching operations of TqzStrings: wildcards, edit-distance comparison, templates, regular
// expressions.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CodePage.h"
#include "TestSupport.h"
#include "Regex.h"
#include "qzStrings.h"

namespace {

using S = TqzStrings;

UnicodeString W(std::string_view utf8) { return platform::Utf8ToWide(utf8); }

// --- Wildcards -------------------------------------------------------------------------------------

struct WildCase {
  const char* text;
  const char* pattern;
  bool expected;
};

TEST(EqualsExW, FileMasksWithStarAndQuestionMarkTrimmedIgnoringCase) {
  const WildCase cases[] = {
      {"report.pdf", "*.pdf", true},
      {"Report.PDF", "*.pdf", true},
      {"a.pdf.pdf", "*.pdf", true},  // the run takes "a.pdf", not only "a"
      {"classes", "*s", true},
      {"classes", "c*s*s", true},
      {"abc", "a?c", true},
      {"abc", "a*", true},
      {"abc", "*", true},
      {"ac", "a?c", false},
      {"", "*", true},
      {"", "", true},
      {"a", "", false},
      {"", "?", false},
      {"abcd", "a*d", true},
      {"abcd", "a*c", false},
      {"  report.pdf ", " *.PDF", true},
      {"mississippi", "*sip*", true},
      {"mississippi", "m*iss*ppi", true},
      {"mississippi", "m*iss*ppix", false},
      {"straße.txt", "STRASSE.txt", false},  // ß has no one-unit upper case: stays ß
      {"Über.txt", "über.*", true},
      {"x\U0001F600y", "x?y", true},  // a surrogate pair is one character
      {"x\U0001F600y", "x??y", false},
      {"x\U0001F600y", "x*y", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(S::EqualsExW(W(c.text), W(c.pattern), true, true, u"*", u"?"), c.expected)
        << c.text << " ~ " << c.pattern;
}

TEST(EqualsExW, SignsOfTheFormsAndTheirSwitches) {
  struct Case {
    const char* text;
    const char* pattern;
    bool star, underline, expected;
  };
  const Case cases[] = {
      {"abc", "a_c", false, true, true},   {"ab", "a_c", false, true, false},
      {"abc", "a_c", false, false, false}, {"a_c", "a_c", false, false, true},
      {"abc", "a*", false, false, false},  {"a*", "a*", false, false, true},
      {"abcdef", "a*_f", true, true, true}, {"af", "a*_f", true, true, false},
      {"a?c", "a?c", true, true, true},     {"abc", "a?c", true, true, false},
      {"ABC", "abc", false, false, true},  // ignoring case, no signs: plain equality
  };
  for (const auto& c : cases) {
    int32_t percent = -1;
    EXPECT_EQ(S::EqualsExW(W(c.text), W(c.pattern), false, true, c.star, c.underline), c.expected)
        << c.text << " ~ " << c.pattern;
    EXPECT_EQ(S::EqualsExW(W(c.text), W(c.pattern), false, true, c.star, c.underline, percent), c.expected);
    EXPECT_EQ(percent, c.expected ? 100 : 0);
  }
  // Form with signs: the one-character sign is ignored when it equals the many-character sign;
  // longer signs are recognised as written.
  EXPECT_TRUE(S::EqualsExW(u"abc", u"a*", false, false, u"*", u"*"));
  EXPECT_FALSE(S::EqualsExW(u"abc", u"a*c*", false, false, u"", u"*"));  // only O: "*" is one char
  EXPECT_FALSE(S::EqualsExW(u"abcd", u"a*d", false, false, u"", u"*"));
  EXPECT_TRUE(S::EqualsExW(u"axc", u"a*c", false, false, u"", u"*"));
  EXPECT_TRUE(S::EqualsExW(u"report-2024.pdf", u"report%%.pdf", false, false, u"%%", u"##"));
  EXPECT_TRUE(S::EqualsExW(u"r7.pdf", u"r##.pdf", false, false, u"%%", u"##"));
  EXPECT_FALSE(S::EqualsExW(u"r77.pdf", u"r##.pdf", false, false, u"%%", u"##"));
  EXPECT_FALSE(S::EqualsExW(u"Report.pdf", u"report*", false, false, u"*", u"?"));  // case kept
}

// Random masks over a small alphabet, checked against Python's fnmatch (no "[" in the masks).
TEST(EqualsExW, AgreesWithPythonFnmatch) {
  std::mt19937 rng(20241211);
  const std::string textChars = "ab.";
  const std::string maskChars = "ab.*?";
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < 3000; ++i) {
    std::string text, mask;
    const int tl = static_cast<int>(rng() % 9);
    const int ml = static_cast<int>(rng() % 7);
    for (int k = 0; k < tl; ++k) text += textChars[rng() % textChars.size()];
    for (int k = 0; k < ml; ++k) mask += maskChars[rng() % maskChars.size()];
    pairs.emplace_back(text, mask);
  }
  std::string input;
  for (const auto& [t, m] : pairs) input += t + "\t" + m + "\n";
  const std::string out = qztest::RunPython(
      "import sys, fnmatch\n"
      "for line in sys.stdin.read().split('\\n')[:-1]:\n"
      "    t, m = line.split('\\t')\n"
      "    print(1 if fnmatch.fnmatchcase(t, m) else 0)\n",
      {}, input);
  std::istringstream lines(out);
  std::string line;
  size_t i = 0;
  for (; std::getline(lines, line) && i < pairs.size(); ++i) {
    const auto& [t, m] = pairs[i];
    EXPECT_EQ(S::EqualsExW(W(t), W(m), false, false, u"*", u"?"), line == "1") << "'" << t << "' ~ '" << m << "'";
  }
  EXPECT_EQ(i, pairs.size());
}

TEST(EqualsExW, ManyRunsOverALongTextFinishQuickly) {
  // A mask that a naive recursive matcher would need exponential time for.
  const UnicodeString text(20000, u'a');
  EXPECT_FALSE(S::EqualsExW(text, u"*a*a*a*a*a*a*a*a*b", false, false, u"*", u"?"));
  EXPECT_TRUE(S::EqualsExW(text + u"b", u"*a*a*a*a*a*a*a*a*b", false, false, u"*", u"?"));
}

// --- Edit distance -------------------------------------------------------------------------------

TEST(EqualsWithDistanceW, AccuracyIsTheLeastPercentage) {
  struct Case {
    const char* a;
    const char* b;
    bool trim, ignoreCase;
    double max;
    bool expected;
    double percent;
  };
  const Case cases[] = {
      {"Meier", "Mayer", false, false, 60, true, 60},  {"Meier", "Mayer", false, false, 61, false, 60},
      {"Maier", "Mayer", false, false, 80, true, 80},  {"meier", "MEIER", false, true, 100, true, 100},
      {"meier", "MEIER", false, false, 1, false, 0},   {" Meier ", "Meier", true, false, 100, true, 100},
      {" Meier ", "Meier", false, false, 100, false, 60},
  };
  for (const auto& c : cases) {
    double percent = -1;
    EXPECT_EQ(S::EqualsWithDistanceW(W(c.a), W(c.b), c.trim, c.ignoreCase, c.max, percent), c.expected)
        << c.a << " / " << c.b;
    EXPECT_DOUBLE_EQ(percent, c.percent) << c.a << " / " << c.b;
  }
}

// --- Templates -----------------------------------------------------------------------------------

TEST(StringTemplates, FirstUncoveredOccurrence) {
  struct Case {
    const char* content;
    const char* search;
    std::vector<std::u16string> templates;
    int expected;
  };
  const Case cases[] = {
      {"Nr. 12 and 12", "12", {u"Nr. %SEARCH_STRING%"}, 2},
      {"Nr. 12 Nr. 12", "12", {u"Nr. %SEARCH_STRING%"}, 0},
      {"nothing here", "12", {u"Nr. %SEARCH_STRING%"}, 0},
      {"12 EUR, Nr. 12", "12", {u"Nr. %SEARCH_STRING%", u"%SEARCH_STRING% EUR"}, 0},
      {"12 USD, Nr. 12", "12", {u"Nr. %SEARCH_STRING%", u"%SEARCH_STRING% EUR"}, 1},
      {"Nr. 12", "12", {}, 1},
      {"Nr. 12", "12", {u"Nr. 12"}, 1},  // a template without the placeholder covers nothing
      {"aaa", "aa", {u"%SEARCH_STRING%a"}, 2},  // overlapping occurrences count
  };
  for (const auto& c : cases) {
    TStringList templates;
    for (const auto& t : c.templates) templates.Add(t);
    EXPECT_EQ(S::CheckSearchStringWithStringTemplates(W(c.content), W(c.search), templates), c.expected)
        << c.content;
  }
}

TEST(StringTemplates, OccurrencesBetweenPreAndPost) {
  struct Case {
    const char* content;
    const char* pre;
    const char* search;
    const char* post;
    TSEARCH_TYPE type;
    bool expected;
  };
  const Case cases[] = {
      {"<b>x</b> x", "<b>", "x", "</b>", FIRST_POS, true},
      {"<b>x</b> x", "<b>", "x", "</b>", LAST_POS, false},
      {"<b>x</b> x", "<b>", "x", "</b>", EACH_POS, false},
      {"<b>x</b><b>x</b>", "<b>", "x", "</b>", EACH_POS, true},
      {"x<b>x</b>", "<b>", "x", "</b>", FIRST_POS, false},
      {"no match", "<", "x", ">", EACH_POS, true},
      {"ax", "", "x", "", EACH_POS, true},
      {"ax", "", "x", "y", LAST_POS, false},
      {"x", "<b>", "", "</b>", EACH_POS, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(S::CheckStringTemplate(W(c.content), W(c.pre), W(c.search), W(c.post), c.type), c.expected)
        << c.content << " type " << c.type;
}

// --- Regular expressions ---------------------------------------------------------------------------

// Every match of each expression, checked against pcre2grep -o over the same (one-line) text.
TEST(RegularExpressions, AllResultsAgreeWithPcre2grep) {
  const std::pair<const char*, const char*> cases[] = {
      {"[0-9]+", "Rechnung 4711 vom 12.03.2021, Betrag 99,50 EUR"},
      {"[0-9]{2}\\.[0-9]{2}\\.[0-9]{4}", "am 01.02.2020 und 31.12.1999 oder 1.1.2000"},
      {"\\b[A-Z]{3}\\b", "EUR USD EUROPA chf CHF"},
      {"(?i)eur\\w*", "EUR euro Europa neur"},
      {"\\w+", "Grüße aus Köln, 3 Äpfel"},
      {"a.c", "abc a-c a\tc ac"},
      {"x*y", "xxy y xy"},
      {"(ab|a)(c|bcd)", "abcd acd abc"},
  };
  for (const auto& [pattern, text] : cases) {
    const auto r = qztest::RunProcess({"pcre2grep", "-o", "-u", std::string("(*UCP)") + pattern}, std::string(text) + "\n");
    ASSERT_LE(r.ExitCode, 1) << r.Err;
    std::vector<std::u16string> expected;
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) expected.push_back(W(line));
    TStringList results;
    results.Add(u"kept");
    S::GetAllRegExResults(W(text), W(pattern), results);
    ASSERT_GE(results.Count(), 1);
    EXPECT_EQ(results[0], u"kept");
    std::vector<std::u16string> got;
    for (int i = 1; i < results.Count(); ++i) got.push_back(results[i]);
    EXPECT_EQ(got, expected) << pattern;

    TAnsiStringList ansi;
    S::GetAllRegExResults(platform::WideToAnsi(W(text)), platform::WideToAnsi(W(pattern)), ansi);
    ASSERT_EQ(ansi.Count(), static_cast<int>(expected.size())) << pattern;
    for (int i = 0; i < ansi.Count(); ++i) EXPECT_EQ(platform::AnsiToWide(ansi[i]), expected[static_cast<size_t>(i)]);
  }
}

TEST(RegularExpressions, BlankMatchesAreSkippedAndDotMatchesLineBreaks) {
  TStringList results;
  S::GetAllRegExResults(u"a  b\r\nc", u"\\s*[a-z]?", results);
  EXPECT_EQ(results.Text(), u"a\r\n  b\r\n\r\nc\r\n");
  EXPECT_TRUE(S::CheckRegularExpressionOnStr(u"a.b", u"xa\nb"));
  EXPECT_FALSE(S::CheckRegularExpressionOnStr(u"^b", u"a\nb"));  // "^" only at the start
  EXPECT_FALSE(S::CheckRegularExpressionOnStr(u" +", u"a  b"));
  EXPECT_FALSE(S::CheckRegularExpressionOnStr(u"A", u"a"));  // case-sensitive
}

TEST(RegularExpressions, FirstMatchHelpers) {
  int32_t percent = -1;
  EXPECT_TRUE(S::EqualsRegExW(u"ab12", u"[0-9]+", percent));
  EXPECT_EQ(percent, 100);
  EXPECT_FALSE(S::EqualsRegExW(u"abc", u"[0-9]+", percent));
  EXPECT_EQ(percent, 0);
  EXPECT_TRUE(S::EqualsRegExW(u"abc", u"b", percent));
  EXPECT_FALSE(S::EqualsRegExW(u"abc", u"x*", percent));  // the first match is empty

  TStringList phases;
  for (const char16_t* p : {u"", u"x+", u"[0-9]+"}) phases.Add(p);
  int32_t found = -5;
  EXPECT_EQ(S::GetFirstRegExResultAndIndexFromList(u"a1", phases, found), u"1");
  EXPECT_EQ(found, 2);
  EXPECT_EQ(S::GetFirstRegExResultAndIndexFromList(u"a1", phases, 3, found), u"");
  EXPECT_EQ(found, -1);
  EXPECT_EQ(S::GetFirstRegExResultAndIndexFromList(u"xx1", phases, -4, found), u"xx");
  EXPECT_EQ(found, 1);
}

TEST(RegularExpressions, GroupOfEveryMatch) {
  struct Case {
    const char* fragment;
    const char* content;
    int element;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"(Nr\\. )([0-9]+)( EUR)", "Sum Nr. 123 EUR, Nr. 7 EUR", 2, {u"123", u"7"}},
      {"(Nr\\. )([0-9]+)( EUR)", "Sum Nr. 123 EUR", 1, {u"Nr. "}},
      {"(Nr\\. )([0-9]+)( EUR)", "Sum Nr. 123 EUR", 3, {u" EUR"}},
      {"([0-9]+)", "a 12 b 345", 1, {u"12", u"345"}},
      {"(Nr\\. )([0-9]+)", "Nr. 5", 2, {u"5"}},
  };
  for (const auto& c : cases) {
    TStringList results;
    S::GetFromRegularExpressionEx(W(c.fragment), W(c.content), c.element, 0, 0, results);
    std::vector<std::u16string> got;
    for (int i = 0; i < results.Count(); ++i) got.push_back(results[i]);
    EXPECT_EQ(got, c.expected) << c.fragment << " #" << c.element;
  }
  TStringList results;
  S::GetFromRegularExpressionEx(AnsiString("(Nr\\. )([0-9]+)"), AnsiString("Nr. 5"), 2, 0, 0, results);
  EXPECT_EQ(results.Text(), u"5\r\n");
  try {
    S::GetFromRegularExpressionEx(u"(a)(b)", u"ab", 3, 0, 0, results);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"elementNo not found...");
  }
}

TEST(RegularExpressions, BadAndRunawayPatternsRaise) {
  TStringList results;
  try {
    S::GetAllRegExResults(u"abc", u"([a-", results);
    FAIL() << "no exception";
  } catch (const ERegExError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("([a-"), std::string::npos) << what;
    EXPECT_NE(what.find("missing terminating ]"), std::string::npos) << what;
  }
  EXPECT_THROW(S::CheckRegularExpressionOnStr(u"", u"abc"), ERegExError);
  // Nested quantifiers over a long run that fails at the end: the match limit ends it.
  const UnicodeString runaway = UnicodeString(5000, u'a') + u"!";
  EXPECT_THROW(S::CheckRegularExpressionOnStr(u"(a+)+$", runaway), ERegExError);
  EXPECT_THROW(S::CheckRegularExpressionOnStr(u"^(a|a?)+$", runaway), ERegExError);
  EXPECT_THROW(S::CheckRegularExpressionOnStr(u"(\\w+\\s?)+$", runaway), ERegExError);
}

}  // namespace
