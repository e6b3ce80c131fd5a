// Search and replace operations of TqzStrings.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "CodePage.h"
#include "StringList.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

namespace {

using S = TqzStrings;

UnicodeString W(std::string_view ascii) { return platform::ToU16(ascii); }
std::string N(const UnicodeString& w) { return platform::WideToUtf8(w); }

// --- Naive references, written straight from the rules ------------------------------------------

template <class Str>
int NaiveSearch(const Str& text, const Str& pattern, long start) {
  if (pattern.empty()) return 0;
  if (start < 1) start = 1;
  for (long i = start; i + static_cast<long>(pattern.size()) - 1 <= static_cast<long>(text.size()); ++i)
    if (text.compare(static_cast<size_t>(i - 1), pattern.size(), pattern) == 0) return static_cast<int>(i);
  return 0;
}

UnicodeString NaiveFoldW(const UnicodeString& s) { return UpperCaseStr(s); }
std::string NaiveFoldA(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

int NaivePosW(const UnicodeString& c, const UnicodeString& s, int from, bool ic) {
  if (c.empty()) return 0;
  return ic ? NaiveSearch(NaiveFoldW(c), NaiveFoldW(s), from) : NaiveSearch(c, s, from);
}

int NaivePosA(const std::string& c, const std::string& s, int from, bool ic) {
  if (c.empty()) return 0;
  return ic ? NaiveSearch(NaiveFoldA(c), NaiveFoldA(s), from) : NaiveSearch(c, s, from);
}

// Case-sensitive replace-all: scan, replace, go on after the occurrence.
template <class Str>
Str NaiveReplaceAll(const Str& content, const Str& search, const Str& repl) {
  if (search.empty()) return content;
  Str out;
  size_t i = 0;
  while (i < content.size()) {
    if (content.compare(i, search.size(), search) == 0) {
      out += repl;
      i += search.size();
    } else {
      out += content[i++];
    }
  }
  return out;
}

UnicodeString NaiveReplaceW(const UnicodeString& c, const UnicodeString& s, const UnicodeString& r) {
  if (c.empty() || s.empty() || NaiveFoldW(s) == NaiveFoldW(r)) return c;
  return NaiveReplaceAll(c, s, r);
}

// The ignore-case loop literally: search from p, splice, continue behind the inserted text.
template <class Str, class PosFn>
Str NaiveReplaceIgnoreCase(Str text, const Str& s, const Str& r, PosFn pos) {
  if (s.empty()) return text;
  int p = -1;
  for (;;) {
    p = pos(text, s, p, true);
    if (p == 0) break;
    text = text.substr(0, p - 1) + r + text.substr(p - 1 + s.size());
    p += static_cast<int>(r.size());
  }
  return text;
}

// Non-overlapping occurrences, left to right.
size_t NaiveCountA(const std::string& text, const std::string& find) {
  size_t n = 0;
  for (size_t i = text.find(find); i != std::string::npos; i = text.find(find, i + find.size())) ++n;
  return n;
}

// Whole-text passes until the searched text is gone, with the bound for pairs that grow the
// text: at most kFastReplaceMaxPasses passes, none beyond 4 x the length + 1 MiB.
std::string NaiveFastReplaceA(const std::string& src, const std::string& from, const std::string& to) {
  if (from == to) return src;
  std::string text = NaiveReplaceAll(src, from, to);
  if (from.empty() || to.find(from) != std::string::npos || NaiveFoldA(from) == NaiveFoldA(to)) return text;
  const bool grows = to.size() > from.size();
  const size_t cap = src.size() * 4 + (size_t{1} << 20);
  for (int passes = 1;; ++passes) {
    const size_t pending = NaiveCountA(text, from);
    if (pending == 0) break;
    if (grows && (passes >= S::kFastReplaceMaxPasses || text.size() + pending * (to.size() - from.size()) > cap))
      break;
    text = NaiveReplaceAll(text, from, to);
  }
  return text;
}

// --- Tests ---------------------------------------------------------------------------------------

TEST(SearchTests, BeginAndEnd) {
  struct Case {
    const char* content;
    const char* part;
    bool ignoreCase;
    bool trim;
    bool begins;
    bool ends;
  };
  const Case cases[] = {
      {"abc", "abc", false, false, true, true},
      {"abc", "c", false, false, false, true},
      {"abc", "a", false, false, true, false},
      {"abc", "abcd", false, false, false, false},
      {"abc", "", false, false, false, false},
      {"", "", false, false, false, false},
      {"xabc", "ABC", true, false, false, true},
      {"xabc", "ABC", false, false, false, false},
      {"Abc", "a", true, false, true, false},
      {"  abc", " a", false, true, true, false},
      {"  abc", " a", false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.content) + " / " + c.part);
    EXPECT_EQ(S::BeginWith(W(c.content), W(c.part), c.ignoreCase, c.trim), c.begins);
    EXPECT_EQ(S::BeginWithA(c.content, c.part, c.ignoreCase, c.trim), c.begins);
    if (!c.trim) {
      EXPECT_EQ(S::EndsWith(W(c.content), W(c.part), c.ignoreCase), c.ends);
      EXPECT_EQ(S::EndsWithA(c.content, c.part, c.ignoreCase), c.ends);
    }
  }
  // Locale-aware folding for UTF-16 texts and for Windows-1252 texts.
  EXPECT_TRUE(S::EndsWith(u"straße ÄÖÜ", u"äöü", true));
  EXPECT_TRUE(S::EndsWithA(platform::WideToAnsi(u"xÄÖÜ"), platform::WideToAnsi(u"äöü"), true));
  EXPECT_TRUE(S::BeginWith(u"ΣΟΦΊΑ", u"σοφ", true, false));
}

TEST(SearchTests, EndsWithList) {
  TStringList list;
  list.Add(u".txt");
  list.Add(u".PDF");
  EXPECT_TRUE(S::EndsWith(u"a.pdf", list, true));
  EXPECT_FALSE(S::EndsWith(u"a.pdf", list, false));
  EXPECT_TRUE(S::EndsWith(u"a.txt", list, false));
  EXPECT_FALSE(S::EndsWith(u"a.doc", TStringList(), true));
}

TEST(SearchTests, EqualityEmptinessAndLength) {
  EXPECT_TRUE(S::EqualsW(u" abc\t", u"abc", true, false));
  EXPECT_FALSE(S::EqualsW(u" abc\t", u"abc", false, false));
  EXPECT_TRUE(S::EqualsW(u"Grüße", u"GRÜßE", false, true));  // ß stays ß on both sides
  EXPECT_FALSE(S::EqualsW(u"Grüße", u"GRÜSSE", false, true));
  EXPECT_TRUE(S::EqualsAnsi(platform::WideToAnsi(u" Ärger"), platform::WideToAnsi(u"ärger "), true, true));
  // A character whose upper case has no Windows-1252 byte is not confused with "?".
  EXPECT_FALSE(S::EqualsAnsi(platform::WideToAnsi(u"µ"), "?", false, true));

  EXPECT_TRUE(S::IsEmptyW(u" \t\r\n", true));
  EXPECT_FALSE(S::IsEmptyW(u" ", false));
  EXPECT_TRUE(S::IsNotEmptyA(" x ", true));
  EXPECT_FALSE(S::IsNotEmptyA(std::string("\0 ", 2), true));
  EXPECT_TRUE(S::IsEmptyA("", false));

  EXPECT_TRUE(S::IsLengthBiggerAsW(u"abc", 2, false));
  EXPECT_FALSE(S::IsLengthBiggerAsW(u" abc ", 3, true));
  EXPECT_TRUE(S::IsLengthBiggerAsW(u"", -1, false));
  EXPECT_TRUE(S::IsLenghtSmallerAsW(u" ab ", 3, true));
  EXPECT_FALSE(S::IsLenghtSmallerAsW(u"", 0, false));
}

TEST(SearchTests, StrCompW) {
  EXPECT_LT(S::StrCompW(u"a", u"b", false, false, false), 0);
  EXPECT_GT(S::StrCompW(u"a", u"b", false, false, true), 0);
  EXPECT_EQ(S::StrCompW(u"ab", u"a", false, false, false), 1);
  EXPECT_EQ(S::StrCompW(u"a", u"abc", false, false, false), -2);
  EXPECT_EQ(S::StrCompW(u"a", u"B", false, false, false), 'a' - 'B');
  EXPECT_EQ(S::StrCompW(u"a", u"B", false, true, false), 'A' - 'B');
  EXPECT_EQ(S::StrCompW(u" x ", u"x", true, false, false), 0);
  EXPECT_EQ(S::StrCompW(u"\uFFFF", UnicodeString(1, u'\0'), false, false, false), 0xFFFF);
}

TEST(SearchTests, Positions) {
  EXPECT_EQ(S::PosW(u"abcabc", u"c", -5, false), 3);
  EXPECT_EQ(S::PosW(u"abcabc", u"c", 4, false), 6);
  EXPECT_EQ(S::PosW(u"abcabc", u"c", 7, false), 0);
  EXPECT_EQ(S::PosW(u"", u"c", 1, false), 0);
  EXPECT_EQ(S::PosW(u"abc", u"", 1, false), 0);
  EXPECT_EQ(S::PosW(u"xÄBC", u"äb", 1, true), 2);
  EXPECT_EQ(S::PosA("xABC", "ab", 1, true), 2);
  // PosA folds only a-z.
  EXPECT_EQ(S::PosA(platform::WideToAnsi(u"xÄ"), platform::WideToAnsi(u"ä"), 1, true), 0);

  EXPECT_EQ(S::GetLastPosW(u"a,b,c", u",", false), 4);
  EXPECT_EQ(S::GetLastPosW(u"aaa", u"aa", false), 2);
  EXPECT_EQ(S::GetLastPosW(u"aAa", u"AA", true), 2);
  EXPECT_EQ(S::GetLastPosW(u"abc", u"x", false), 0);

  EXPECT_EQ(S::GetStrCount("aaa", "aa"), 2);
  EXPECT_EQ(S::GetStrCount("aaa", ""), 0);
  EXPECT_EQ(S::GetStrCountW(u"abababa", u"aba"), 3);
  UnicodeString text = u"ABab";
  EXPECT_EQ(S::GetStrCountExW(text, u"aB", false), 0);
  EXPECT_EQ(text, u"ABab");
  EXPECT_EQ(S::GetStrCountExW(text, u"aB", true), 2);
  EXPECT_EQ(text, u"abab");  // the caller's text is lower-cased
}

TEST(SearchTests, SubTexts) {
  struct Case {
    int from;
    int to;  // 0: the form without an end
    const char* expected;
  };
  const Case cases[] = {
      {3, 0, "cdef"}, {0, 0, "abcdef"}, {-9, 0, "abcdef"}, {7, 0, ""},     {6, 0, "f"},
      {2, 4, "bc"},   {0, 3, "abc"},    {-1, 3, "abcd"},   {4, 2, ""},     {5, 99, "ef"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + ".." + std::to_string(c.to));
    if (c.to == 0) {
      EXPECT_EQ(N(S::SubStringW(u"abcdef", c.from, false, false)), c.expected);
      EXPECT_EQ(S::SubStringA("abcdef", c.from, false, false), c.expected);
    } else {
      EXPECT_EQ(N(S::SubStringW(u"abcdef", c.from, c.to, false, false)), c.expected);
      EXPECT_EQ(S::SubStringA("abcdef", c.from, c.to, false, false), c.expected);
    }
  }
  EXPECT_EQ(S::SubStringW(u"  ab cd ", 2, true, true), u"b cd");
  EXPECT_EQ(S::SubStringW(u"  ab cd ", 2, false, false), u" ab cd ");
  EXPECT_EQ(S::SubStringA(" x y ", 1, 4, false, true), "x");

  EXPECT_TRUE(S::ContainsBetween(u"abcdef", u"cd", 3, 5, false));
  EXPECT_FALSE(S::ContainsBetween(u"abcdef", u"cd", 3, 4, false));
  EXPECT_TRUE(S::Contains(u"abc", u"B", true));
  EXPECT_FALSE(S::Contains(u"abc", u"", false));

  EXPECT_EQ(S::GetCharsBeforeString(u"abcXYZ", u"X", 1, 2, false), u"bc");
  EXPECT_EQ(S::GetCharsBeforeString(u"aXYZ", u"X", 1, 3, false), u"aXY");
  EXPECT_EQ(S::GetCharsBeforeString(u"abcXYZ", u"q", 1, 2, false), u"");
  EXPECT_EQ(S::GetCharsBeforeString(u"abcxYZ", u"X", 1, 2, true), u"bc");
}

TEST(SearchTests, GetBetweenW) {
  TBetweenSearchResult r = S::GetBetweenW(u"name=[value] rest", u"[", u"]", 1, 1);
  EXPECT_EQ(r.ResultString, u"value");
  EXPECT_EQ(r.BeginPos, 6);
  EXPECT_EQ(r.EndPos, 12);

  r = S::GetBetweenW(u"name=[ value rest ", u"[", u"", 1, 1);
  EXPECT_EQ(r.ResultString, u"value rest");

  r = S::GetBetweenW(u"a[b]c[d]", u"[", u"]", 4, 4);  // the second pair
  EXPECT_EQ(r.ResultString, u"d");
  EXPECT_EQ(r.BeginPos, 6);
  EXPECT_EQ(r.EndPos, 8);

  r = S::GetBetweenW(u"a[b", u"[", u"]", 1, 1);  // no stop letter
  EXPECT_EQ(r.ResultString, u"");
  EXPECT_EQ(r.BeginPos, 2);
  EXPECT_EQ(r.EndPos, 0);

  r = S::GetBetweenW(u"ab]", u"[", u"", 1, 1);  // no start letter, empty stop letter: whole text
  EXPECT_EQ(r.ResultString, u"ab]");

  r = S::GetBetweenW(u"abc", u"[", u"]", 3, 2);  // start search behind the end search
  EXPECT_EQ(r.ResultString, u"");
  EXPECT_EQ(r.BeginPos, 0);
  r = S::GetBetweenW(u"abc", u"[", u"]", 1, 9);
  EXPECT_EQ(r.ResultString, u"");
  r = S::GetBetweenW(u"x[", u"[", u"]", 1, 1);  // end search would start behind the text
  EXPECT_EQ(r.BeginPos, 2);
  EXPECT_EQ(r.EndPos, 0);
}

TEST(SearchTests, LastWordsAndElements) {
  EXPECT_EQ(S::GetLastWords(u"one two  three", 2), u"two three");
  EXPECT_EQ(S::GetLastWords(u"one two  three", 5), u"one two three");
  EXPECT_EQ(S::GetLastWords(u"one two  three", 0), u"one two three");
  EXPECT_EQ(S::GetLastWords(u"a \"b c\" \"say \"\"hi\"\"\"", 2), u"b c say \"hi\"");
  EXPECT_EQ(S::GetLastWords(u"a \"\" \"  \" b", 2), u"a b");  // empty words are skipped
  EXPECT_EQ(S::GetLastWords(u"x \"open end", 1), u"open end");
  EXPECT_EQ(S::GetLastWords(UnicodeString(u"a\0b", 3), 2), u"a b");
  EXPECT_EQ(S::GetLastWords(u"", 2), u"");

  struct Case {
    const char* content;
    const char* sep;
    bool ignoreLast;
    const char* expected;
  };
  const Case cases[] = {
      {"a,b,c", ",", false, "c"},   {"a,b,c,", ",", false, ""}, {"a,b,c,", ",", true, "c"},
      {"a,b,c", ",", true, "c"},    {"a::b", "::", false, "b"}, {" abc ", ",", false, "abc"},
      {",", ",", true, ""},         {"a, b ", ",", false, "b"}, {"abc", "", false, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    EXPECT_EQ(N(S::GetLastElement(W(c.content), W(c.sep), c.ignoreLast)), c.expected);
  }
}

TEST(SearchTests, ReplaceTables) {
  struct Case {
    const char* content;
    const char* search;
    const char* repl;
    const char* cs;  // ReplaceW case-sensitive
    const char* ic;  // ReplaceW ignoring case
  };
  const Case cases[] = {
      {"abcabc", "b", "X", "aXcaXc", "aXcaXc"},
      {"aaa", "aa", "b", "ba", "ba"},
      {"xXx", "x", "X", "xXx", "XXX"},  // a pair differing only in case changes nothing
      {"XYZxyz", "y", "yy", "XYZxyyz", "XyyZxyyz"},
      {"abc", "", "X", "abc", "abc"},
      {"", "a", "X", "", ""},
      {"aAaA", "aa", "", "aAaA", ""},
      {"abab", "ab", "abab", "abababab", "abababab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.content) + " " + c.search + " " + c.repl);
    EXPECT_EQ(N(S::ReplaceW(W(c.content), W(c.search), W(c.repl))), c.cs);
    EXPECT_EQ(N(S::ReplaceW(W(c.content), W(c.search), W(c.repl), false)), c.cs);
    EXPECT_EQ(N(S::ReplaceW(W(c.content), W(c.search), W(c.repl), true)), c.ic);
    EXPECT_EQ(S::ReplaceA(c.content, c.search, c.repl, true), c.ic);
  }
  // Locale-aware folding in ReplaceW, ASCII-only in ReplaceA.
  EXPECT_EQ(S::ReplaceW(u"Äpfel äpfel", u"ä", u"ae", true), u"aepfel aepfel");
  const AnsiString apples = platform::WideToAnsi(u"Äpfel äpfel");
  EXPECT_EQ(S::ReplaceA(apples, platform::WideToAnsi(u"ä"), "ae", true), platform::WideToAnsi(u"Äpfel aepfel"));

  EXPECT_EQ(S::RemoveMoreThenOneBlanks(u"a    b  c"), u"a b c");
  EXPECT_EQ(S::RemoveMoreThenOneBlanks(u"  a\t\tb "), u" a\t\tb ");
}

TEST(SearchTests, FastReplaceA) {
  struct Case {
    std::string source;
    std::string from;
    std::string to;
    std::string expected;
  };
  const Case cases[] = {
      {"aaaa", "aa", "a", "a"},  // repeated until gone
      {"x=\r=\r\n\nz", "=\r\n", "", "xz"},  // a removal that brings a new soft break together
      {"abcabc", "b", "bb", "abbcabbc"},  // the replacement holds the searched text: one pass
      {"abc", "abc", "abc", "abc"},
      {"abc", "", "x", "abc"},
      {"", "a", "x", ""},
      {"aaabbb", "ab", "ba", "bbbaaa"},  // same length, repeated until gone
      {"xaax", "a", "A", "xAAx"},  // equal apart from case: one case-sensitive pass
      {"aaA", "aA", "AA", "aAA"},
      {"bba", "ba", "aab", "aaaabb"},  // growing, ends by itself
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " " + c.from + " -> " + c.to);
    EXPECT_EQ(S::FastReplaceA(c.source, c.from, c.to), c.expected);
    EXPECT_EQ(S::ReplaceA(c.source, c.from, c.to, false), c.expected);
  }
  // A growing pair whose repetition would double the text per leading "b" stops at the bound.
  const std::string source = std::string(40, 'b') + "a";
  const std::string grown = S::FastReplaceA(source, "ba", "aab");
  EXPECT_LE(grown.size(), source.size() * 4 + (1u << 20));
  EXPECT_GT(grown.size(), source.size());
  EXPECT_EQ(grown, NaiveFastReplaceA(source, "ba", "aab"));
}

// Texts that need one pass per replacement: nested soft line breaks, a run that collapses from
// the inside, and a same-length pair that moves one byte per pass.
TEST(SearchTests, FastReplaceANeedingManyPasses) {
  const size_t k = 3000;
  std::string nested = "<" + std::string(k, '=') + std::string(k, '\r') + std::string(k, '\n') + ">";
  for (size_t i = 0; i < k; ++i) nested[1 + k + 2 * i] = '\r', nested[2 + k + 2 * i] = '\n';
  EXPECT_EQ(S::FastReplaceA(nested, "=\r\n", ""), "<>");
  EXPECT_EQ(S::FastReplaceA("x" + std::string(k, 'a') + std::string(k, 'b') + "y", "ab", ""), "xy");
  EXPECT_EQ(S::FastReplaceA(std::string(k, 'a') + "b", "ab", "b"), "b");
  // "ab" -> "ba" moves each b one place left per pass; a pair that keeps the length runs until
  // no "ab" is left, however many passes that takes.
  const std::string bubbles = std::string(1500, 'a') + "bb";
  EXPECT_EQ(S::FastReplaceA(bubbles, "ab", "ba"), "bb" + std::string(1500, 'a'));
  std::string mixed(6000, 'a');
  for (size_t i = 0; i < mixed.size(); i += 3) mixed[i] = 'b';
  const std::string sorted = S::FastReplaceA(mixed, "ab", "ba");
  EXPECT_EQ(sorted, std::string(2000, 'b') + std::string(4000, 'a'));
  EXPECT_EQ(sorted.find("ab"), std::string::npos);
}

// Every kind of pair, including self-overlapping searched texts and replacements that rebuild
// them at the seams, against whole-text passes.
TEST(SearchTests, FastReplaceARandomizedAgainstWholeTextPasses) {
  std::mt19937 rng(77);
  auto rand = [&](const std::string& alphabet, int minLen, int maxLen) {
    std::string s(std::uniform_int_distribution<int>(minLen, maxLen)(rng), 'a');
    for (auto& c : s) c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return s;
  };
  int grownToBound = 0;
  // Mostly pairs that keep or shorten the length; a growing pair that runs away costs a
  // megabyte of work before the bound stops it, so fewer of those.
  for (int iter = 0; iter < 30000; ++iter) {
    const std::string alphabet = iter % 3 == 0 ? "abc" : "ab";
    const std::string source = rand(alphabet, 0, 40);
    const std::string from = rand(alphabet, 1, 4);
    const int toMax = iter % 20 == 0 ? 5 : static_cast<int>(from.size());
    const std::string to = rand(alphabet, 0, toMax);
    SCOPED_TRACE(source + " | " + from + " -> " + to);
    const std::string result = S::FastReplaceA(source, from, to);
    // Pairs that run into the growth bound are left to the dedicated test: whole-text passes
    // over a megabyte take too long here.
    if (result.size() > 4000) {
      ++grownToBound;
      continue;
    }
    ASSERT_EQ(result, NaiveFastReplaceA(source, from, to));
  }
  EXPECT_LT(grownToBound, 100);
}

TEST(SearchTests, ByteArrays) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const TbyteArray bytes = S::StringToByteArray(all);
  ASSERT_EQ(bytes.size(), 256u);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[255], 255);
  EXPECT_EQ(S::ByteArrayToString(bytes), all);
  EXPECT_TRUE(S::StringToByteArray("").empty());
}

// Randomized comparison with the naive references over small alphabets, where occurrences,
// overlaps and case pairs are frequent.
TEST(SearchTests, RandomizedAgainstNaiveReference) {
  std::mt19937 rng(20240611);
  const std::u16string alphabetW = u"abAB\u00e4\u00c4";
  const std::string alphabetA = "abAB";
  auto randW = [&](int maxLen) {
    UnicodeString s(std::uniform_int_distribution<int>(0, maxLen)(rng), u'a');
    for (auto& c : s) c = alphabetW[std::uniform_int_distribution<size_t>(0, alphabetW.size() - 1)(rng)];
    return s;
  };
  auto randA = [&](int maxLen) {
    std::string s(std::uniform_int_distribution<int>(0, maxLen)(rng), 'a');
    for (auto& c : s) c = alphabetA[std::uniform_int_distribution<size_t>(0, alphabetA.size() - 1)(rng)];
    return s;
  };
  for (int iter = 0; iter < 20000; ++iter) {
    const UnicodeString c = randW(24);
    const UnicodeString s = randW(4);
    const UnicodeString r = randW(4);
    const int from = std::uniform_int_distribution<int>(-2, 28)(rng);
    const bool ic = (iter & 1) != 0;
    SCOPED_TRACE(N(c) + " | " + N(s) + " | " + N(r));
    ASSERT_EQ(S::PosW(c, s, from, ic), NaivePosW(c, s, from, ic));
    ASSERT_EQ(S::ReplaceW(c, s, r), NaiveReplaceW(c, s, r));
    ASSERT_EQ(S::ReplaceW(c, s, r, true), NaiveReplaceIgnoreCase(c, s, r, NaivePosW));

    int last = 0;
    for (int p = 1; p <= static_cast<int>(c.size()); ++p) {
      const int hit = NaivePosW(c, s, p, ic);
      if (hit == 0) break;
      last = hit;
      p = hit;
    }
    ASSERT_EQ(S::GetLastPosW(c, s, ic), last);

    int count = 0;
    for (size_t i = 0; !s.empty() && i + s.size() <= c.size(); ++i) count += c.compare(i, s.size(), s) == 0;
    ASSERT_EQ(S::GetStrCountW(c, s), count);

    const std::string ca = randA(24);
    const std::string sa = randA(3);
    const std::string ra = randA(3);
    SCOPED_TRACE(ca + " | " + sa + " | " + ra);
    ASSERT_EQ(S::PosA(ca, sa, from, ic), NaivePosA(ca, sa, from, ic));
    ASSERT_EQ(S::ReplaceA(ca, sa, ra, true), NaiveReplaceIgnoreCase(ca, sa, ra, NaivePosA));
    ASSERT_EQ(S::ReplaceA(ca, sa, ra, false), NaiveFastReplaceA(ca, sa, ra));
  }
}

// Long periodic texts where a naive search backtracks: results still agree with the reference.
TEST(SearchTests, LongPeriodicPatterns) {
  const UnicodeString text = UnicodeString(5000, u'a') + u"b" + UnicodeString(5000, u'a');
  const UnicodeString pattern = UnicodeString(300, u'a') + u"b";
  EXPECT_EQ(S::PosW(text, pattern, 1, false), 5000 - 300 + 1);
  EXPECT_EQ(S::GetLastPosW(text, UnicodeString(300, u'a'), false), 10001 - 300 + 1);
  EXPECT_EQ(S::GetStrCountW(text, UnicodeString(300, u'a')), 2 * (5000 - 300 + 1));
  EXPECT_EQ(S::ReplaceW(text, pattern, u"X"), UnicodeString(4700, u'a') + u"X" + UnicodeString(5000, u'a'));
}

}  // namespace
