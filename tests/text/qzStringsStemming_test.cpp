// Stemming and stop words.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CodePage.h"
#include "TestSupport.h"
#include "qzStrings.h"

namespace {

using S = TqzStrings;

UnicodeString W(std::string_view utf8) { return platform::Utf8ToWide(utf8); }

std::vector<std::u16string> Items(const TStrings& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

const UnicodeString kStopWords = W(std::string(QZ_SOURCE_DIR) + "/data/stopwords/");

TEST(DeleteStopWords, WordsGoWhereverTheyStand) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"a der b", "a b"},     {"a der der b", "a b"}, {"Der Hund", "Hund"}, {"a DER b", "a b"},
      {"Hund der", "Hund"},   {"der", ""},            {"dera b", "dera b"}, {"a\tder\tb", "a\tb"},
      {"oder der", "oder"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(S::DeleteStopWords(W(c.text), u"de", u"der\r\nDIE", false, false, false), W(c.expected)) << c.text;
  EXPECT_EQ(S::DeleteStopWords(u"  Die Katze  ", u"de", u"der\r\nDIE", true, true, false), u"katze");
  EXPECT_EQ(S::DeleteStopWords(u"Keine Treffer", u"de", u"der", false, true, false), u"keine treffer");
}

TEST(DeleteStopWords, FromFilesReadOnceAndAgainWhenChanged) {
  EXPECT_EQ(S::DeleteStopWords(u"Die Rechnung und der Lieferschein", kStopWords + u"stopList_de.txt"),
            u"Rechnung Lieferschein");
  EXPECT_EQ(S::DeleteStopWords(u"что книги и тетради", kStopWords + u"stopList_ru.txt"), u"книги тетради");
  qztest::TempDir dir("qzstop");
  const std::string path = dir.Path() + "/stopList_xx.txt";
  qztest::WriteFile(path, "\xEF\xBB\xBF" "alpha\nbeta\n");
  EXPECT_EQ(S::DeleteStopWords(u"alpha beta gamma", W(path)), u"gamma");
  qztest::WriteFile(path, "gamma\r\n");
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
  EXPECT_EQ(S::DeleteStopWords(u"alpha beta gamma", W(path)), u"alpha beta");
  EXPECT_ANY_THROW(S::DeleteStopWords(u"text", W(dir.Path() + "/missing.txt")));
}

TEST(TqzStopwordCache, OneListPerLanguage) {
  TqzStopwordCache* cache = TqzStopwordCache::GetInstance();
  EXPECT_EQ(cache, TqzStopwordCache::GetInstance());
  cache->RemoveListForLanguage(u"tt");
  EXPECT_FALSE(cache->IsInCache(u"tt"));
  EXPECT_EQ(cache->GetListForLanguage(u"tt"), nullptr);
  EXPECT_FALSE(cache->SetListForLanguage(u"  \r\n ", u"tt"));
  EXPECT_TRUE(cache->SetListForLanguage(u"und\r\noder", u"tt"));
  EXPECT_FALSE(cache->SetListForLanguage(u"nur", u"TT"));  // ids ignore case; the first list stays
  ASSERT_NE(cache->GetListForLanguage(u"tt"), nullptr);
  EXPECT_EQ(cache->GetListForLanguage(u"tt")->Text(), u"und\r\noder\r\n");
  EXPECT_EQ(S::DeleteStopWords(u"Hund und Katze", u"tt", u"", false, false, true), u"Hund Katze");
  EXPECT_EQ(S::DeleteStopWords(u"Hund und Katze", u"none", u"", false, false, true), u"Hund und Katze");
  EXPECT_TRUE(cache->RemoveListForLanguage(u"tt"));
  EXPECT_TRUE(cache->RemoveListForLanguage(u"tt"));
  EXPECT_TRUE(cache->SetListForLanguage(u"nur", u"tt"));
  EXPECT_TRUE(cache->RemoveListForLanguage(u"tt"));
}

TEST(GetEachFragment, IgnoreListsAndBlanks) {
  struct Case {
    const char* text;
    bool lower;
    const char* ignore;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"a-b  c", false, "-", {u"a", u"b", u"c"}},
      {"a,b c", false, ",", {u"a,b", u"c"}},
      {"A'B", true, "\r,\n,', ", {u"a", u"b"}},
      {" a ", false, "", {u"", u"a", u""}},
  };
  for (const auto& c : cases) {
    TStringList words;
    S::GetEachFragment(W(c.text), c.lower, W(c.ignore), words);
    EXPECT_EQ(Items(words), c.expected) << c.text;
  }
}

// Stems of a word list per language, checked against libstemmer's own stemwords tool.
TEST(StemStringW, AgreesWithStemwords) {
  struct Language {
    const char* id;
    const char* algorithm;
    std::vector<std::string> words;
  };
  const Language languages[] = {
      {"de", "german", {"häuser", "straße", "rechnungen", "lieferscheine", "größte", "übergabe"}},
      {"en", "english", {"running", "invoices", "delivered", "happiness", "generously"}},
      {"po", "porter", {"running", "invoices", "generalization", "relational"}},
      {"fr", "french", {"factures", "élégantes", "livraison", "château"}},
      {"sp", "spanish", {"facturas", "canciones", "niños", "rápidamente"}},
      {"it", "italian", {"fatture", "città", "consegnate"}},
      {"ru", "russian", {"книги", "счетами", "доставка"}},
      {"sw", "swedish", {"fakturor", "leveransen", "köparna"}},
      {"pt", "portuguese", {"faturas", "entregues", "ações"}},
      {"da", "danish", {"fakturaer", "leveringen"}},
      {"no", "norwegian", {"fakturaene", "leveransen"}},
      {"fi", "finnish", {"laskuja", "toimitukset"}},
      {"hu", "hungarian", {"számlák", "szállítás"}},
      {"ro", "romanian", {"facturile", "livrările"}},
  };
  for (const auto& l : languages) {
    std::string input;
    for (const auto& w : l.words) input += w + "\n";
    const auto r = qztest::RunProcess({"stemwords", "-l", l.algorithm}, input);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::vector<std::u16string> expected;
    size_t start = 0;
    for (size_t p = r.Out.find('\n'); p != std::string::npos; p = r.Out.find('\n', start)) {
      expected.push_back(W(r.Out.substr(start, p - start)));
      start = p + 1;
    }
    ASSERT_EQ(expected.size(), l.words.size());
    TStringList stems;
    std::string text;
    for (const auto& w : l.words) text += w + ", ";
    S::StemStringW(W(text), u"", W(l.id), true, false, 0, stems, false);
    EXPECT_EQ(Items(stems), expected) << l.id;
    for (size_t i = 0; i < l.words.size(); ++i)
      EXPECT_EQ(S::StemStringW(W(l.words[i]), W(l.id), true, false, 0), expected[i]) << l.id << " " << l.words[i];
  }
}

TEST(StemStringW, LanguagesLengthsNumbersAndStopWords) {
  TStringList list;
  S::StemStringW(u"Der Hund", u"", u"xx", true, false, 5, list, true);
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"der", u"hund"}));  // no stemmer, no length limit
  list.Clear();
  S::StemStringW(u"Café Straße", u"", u"es", true, false, 0, list, false);  // "es" names no stemmer here
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"café", u"straße"}));
  list.Clear();
  S::StemStringW(u"Rechnung 2021", u"", u"de", true, true, 0, list, false);
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"rechnung"}));
  list.Clear();
  S::StemStringW(u"Rechnung 2021", u"", u"de", true, false, 0, list, false);
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"rechnung", u"2021"}));
  list.Clear();
  S::StemStringW(u"Die Häuser, der Gärten und die Straßen.", kStopWords, u" DE ", false, false, 4, list, true);
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"haus", u"gart", u"strass"}));
  list.Clear();
  S::StemStringW(u"ab Häuser", kStopWords + u"missing/", u"de", false, false, 3, list, true);
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"haus"}));  // "ab" is shorter than 3
  EXPECT_EQ(S::StemStringW(u"foo-bar", u"xx", false, false, 0), u"foo\r\nbar");
  EXPECT_EQ(S::StemStringW(u"Häuser", u"de", true, false, 7), u"");
  EXPECT_EQ(S::StemStringW(u"Häuser", u"de", true, false, 6), u"haus");
}

TEST(StemStringUseCacheW, StopWordsFromTheCache) {
  TqzStopwordCache* cache = TqzStopwordCache::GetInstance();
  cache->RemoveListForLanguage(u"sv");
  cache->SetListForLanguage(u"och\r\natt", u"sv");
  TStringList list;
  S::StemStringUseCacheW(u"Fakturor och leveransen", u"sv", true, false, 0, list, true);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], S::StemStringW(u"fakturor", u"sw", true, false, 0));
  list.Clear();
  S::StemStringUseCacheW(u"Häuser", u"de", true, false, 0, list, true);  // German, not Swedish
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"haus"}));
  list.Clear();
  S::StemStringUseCacheW(u"Fakturor och", u"sw", true, false, 0, list, true);  // "sw" names no stemmer here
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"fakturor", u"och"}));
  cache->RemoveListForLanguage(u"sv");
}

}  // namespace
