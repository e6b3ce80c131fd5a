// Repairing and reading recognised text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "CodePage.h"
#include "qzStrings.h"

namespace {

using S = TqzStrings;

UnicodeString W(std::string_view utf8) { return platform::Utf8ToWide(utf8); }
AnsiString A(std::string_view utf8) { return platform::WideToAnsi(W(utf8)); }

std::vector<std::u16string> Items(const TStrings& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

// The cleaning written step by step as a series of replace-all passes, to check the one-pass
// version against.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  std::string out;
  size_t start = 0;
  for (size_t p = text.find(from); p != std::string::npos; p = text.find(from, start)) {
    out.append(text, start, p - start);
    out += to;
    start = p + from.size();
  }
  out.append(text, start, std::string::npos);
  return out;
}

std::string ReferencePrepare(std::string s) {
  const std::string allowed = A("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789äöüÄÖÜß ");
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 32 || allowed.find(c) == std::string::npos) c = ' ';
  for (int code = 32; code <= 255; ++code) {
    if (code >= '0' && code <= '9') continue;  // runs of digits stay
    const std::string one(1, static_cast<char>(code));
    s = ReplaceAll(s, std::string(4, static_cast<char>(code)), one);
  }
  s = " " + s + " ";
  for (int code = 32; code <= 255; ++code) s = ReplaceAll(s, " " + std::string(1, static_cast<char>(code)) + " ", " ");
  while (s.find("  ") != std::string::npos) s = ReplaceAll(s, "  ", " ");
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

TEST(PrepareOCRText, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"Rechnung  Nr: 4711 /", "Rechnung Nr 4711"},
      {"Suuuumme", "Summe"},
      {"Suuuuumme", "Suumme"},
      {"x Test", "Test"},
      {"Wort\tund\r\nZeile", "Wort und Zeile"},
      {"Betrag 10000 EUR", "Betrag 10000 EUR"},  // digits keep their runs
      {"Größe: 12 €", "Größe 12"},
      {"a a a Wort", "a Wort"},
      {"", ""},
      {"   ", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(S::PrepareOCRText(A(in)), A(out)) << in;
}

TEST(PrepareOCRText, AgreesWithTheStepByStepPasses) {
  std::mt19937 rng(5);
  const std::string alphabet = A("aab b  c1ä-:\t");
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    const int len = static_cast<int>(rng() % 24);
    for (int i = 0; i < len; ++i) s += alphabet[rng() % alphabet.size()];
    ASSERT_EQ(S::PrepareOCRText(s), ReferencePrepare(s)) << "'" << s << "'";
  }
}

TEST(StandardizeMinusInNumeric, Table) {
  struct Case {
    const char* in;
    TSEARCH_TYPE pos;
    const char* out;
    bool result;
  };
  const Case cases[] = {
      {"12,50-", FIRST_POS, "-12,50", true}, {"-12,50", LAST_POS, "12,50-", true},
      {"-12-", FIRST_POS, "-12", true},      {" 1-2 ", FIRST_POS, "1-2", false},
      {"12,50", FIRST_POS, "12,50", true},   {"12,50-", EACH_POS, "12,50-", true},
      {"", LAST_POS, "", true},
  };
  for (const auto& c : cases) {
    UnicodeString content = W(c.in);
    EXPECT_EQ(S::StandardizeMinusInNumeric(content, c.pos), c.result) << c.in;
    EXPECT_EQ(content, W(c.out)) << c.in;
  }
}

TEST(GetDezimalSign, Table) {
  struct Case {
    const char* text;
    bool o, l;
    const char* sign;
  };
  const Case cases[] = {
      {"Summe 12.50", false, false, "."}, {"1,234", false, false, ","},   {"1.234,56", false, false, ","},
      {"keine Zahl", false, false, ","},  {"12,5O", true, false, ","},    {"12.5O und 3.4O", true, false, "."},
      {"l2.5O 7.l0", true, true, "."},    {"1.5 und 2.25 und 3,75", false, false, "."},
      {"1.5, 2.25 und 3,75", false, false, ","},
      {"", false, false, ","},
  };
  for (const auto& c : cases) EXPECT_EQ(S::GetDezimalSign(W(c.text), c.o, c.l, false), W(c.sign)) << c.text;
}

TEST(FindSpacedWritingWords, Table) {
  struct Case {
    const char* text;
    std::vector<std::u16string> search;
    bool withList;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"Bitte R E C H N U N G beachten", {u"RECHNUNG"}, true, {u"RECHNUNG"}},
      {"Bitte R E C H N U N G beachten", {}, false, {u"RECHNUNG"}},
      {"Bitte R E C H N U N G", {u"RECHNUNG"}, true, {u"RECHNUNG"}},  // a run at the end counts
      {"A B schnell", {}, false, {}},
      {"R E C H N U N X beachten", {u"RECHNUNG"}, true, {u"RECHNUNG"}},
      {"X Y Z beachten", {u"ABC"}, true, {}},  // three letters do not match every run
      {"A B D beachten", {u"ABC"}, true, {u"ABC"}},
      {"X Y Z beachten", {u"", u"XYZ"}, true, {u"XYZ"}},  // an empty search word is skipped
      {"T O T A L  S U M", {}, false, {u"TOTALSUM"}},  // blank runs are one blank first
  };
  for (const auto& c : cases) {
    TStringList search;
    for (const auto& w : c.search) search.Add(w);
    TStringList found;
    S::FindSpacedWritingWords(W(c.text), c.withList ? &search : nullptr, found);
    EXPECT_EQ(Items(found), c.expected) << c.text;
  }
}

TEST(GetAbbreviationList, Table) {
  struct Case {
    const char* word;
    int min;
    bool point;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"Abteilung", 3, true, {u"Abteilun.", u"Abteilu.", u"Abteil.", u"Abtlng.", u"Abtei.", u"Abte.", u"Abt."}},
      {"Müller", 2, false, {u"Muell", u"Mülle", u"Muel", u"Müll", u"Mllr", u"Mue", u"Mül", u"Mu", u"Mü"}},
      {"B", 1, false, {}},
      {"", 1, false, {}},
      {"aeiou", 1, false, {}},
      {"Crème", 4, false, {u"Crem", u"Crèm"}},
      {"Þing", 2, false, {u"thi", u"Þin", u"Þng", u"th", u"Þi"}},
      {"Bär", 1, false, {u"Ba", u"Bä", u"Br", u"B"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    S::GetAbbreviationList(W(c.word), c.min, c.point, list);
    EXPECT_EQ(Items(list), c.expected) << c.word;
  }
}

}  // namespace
