// Matching operations of TqzStrings: wildcards, edit-distance comparison, templates, regular
// expressions.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CodePage.h"
#include "TestSupport.h"
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

}  // namespace
