// Finding dates, identifiers, numbers and currencies in free text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Clock.h"
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

// Fixes "now" at noon of 1 June 2024 for the filters.
class FixedNow : public ::testing::Test {
 protected:
  void SetUp() override {
    now_ = platform::EncodeDate(2024, 6, 1) + 0.5;
    platform::SetClock([this] { return platform::FromLocalDateTime(now_); });
  }
  void TearDown() override { platform::ResetClock(); }
  TDateTime now_ = 0;
};

TEST(GetAllDatesW, FindsDatesOfEachCountry) {
  struct Case {
    const char* text;
    const char* country;
    bool withoutNames;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"Rechnung vom 12.03.2021", "de", false, {u"12.03.2021"}},
      {"Rechnung vom 12.03.21, Seite 2", "de", false, {u"12.03.21"}},
      {"12. März 2021", "de", true, {u"12.03.2021"}},
      {"12. März 2021", "de", false, {u"12. märz 2021"}},
      {"am 3. Okt. 2020 und 4. Oktober 2020", "de", true, {u"3.10.2020", u"4.10.2020"}},
      {"12.january.2020", "en", true, {u"12.01.2020"}},  // the whole English name, not "januar"
      {"12-Jan-2020", "en", true, {u"12.01.2020"}},
      {"12/03/2020", "en", true, {u"12/03/2020"}},
      {"due 2 May 2020", "en", true, {u"2.05.2020"}},
      {"3 févr. 2021", "fr", true, {u"3.02.2021"}},
      {"le 14 juillet 1789", "fr", true, {u"14.07.1789"}},
      {"5 maggio 2020", "it", true, {u"5.05.2020"}},
      {"5 de mayo 2020", "es", false, {}},
      {"5 mayo 2020", "es", true, {u"5.05.2020"}},
      {"2021-03-12", "us", false, {u"2021-03-12"}},
      {" 12.03.2021 ", "xx", false, {u"12.03.2021", u"12.03.2021"}},  // two of the five sets find it
      {"Mai 2020", "de", true, {}},
      {"Konto 1234.56.7890", "de", false, {}},
      {"12 marzo 2020", "de", false, {}},  // Italian names are not German
  };
  for (const auto& c : cases) {
    TStringList list;
    list.Add(u"kept");
    S::GetAllDatesW(W(c.text), W(c.country), c.withoutNames, list);
    std::vector<std::u16string> expected{u"kept"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(Items(list), expected) << c.text << " / " << c.country;
  }
  THashedStringList hashed;
  S::GetAllDatesW(u"12. März 2021", u"de", true, hashed);
  EXPECT_EQ(Items(hashed), (std::vector<std::u16string>{u"12. märz 2021=12.03.2021"}));
}

// Every month name and abbreviation the C library's locales write is read as its month.
TEST(GetAllDatesW, MonthNamesOfTheCLibraryLocales) {
  const std::string script = R"py(
import re, sys
for loc, country in (('de_DE','de'),('fr_FR','fr'),('en_US','en'),('it_IT','it'),('es_ES','es')):
    text = open('/usr/share/i18n/locales/' + loc, encoding='utf-8', errors='replace').read()
    for key in ('mon', 'abmon'):
        m = re.search(r'^' + key + r'\s+(.*?)(?=^\S)', text, re.M | re.S)
        names = re.findall(r'"([^"]*)"', m.group(1))
        for i, n in enumerate(names):
            n = re.sub(r'<U([0-9A-Fa-f]{4})>', lambda u: chr(int(u.group(1), 16)), n).lower().rstrip('.')
            print(country + '\t' + str(i + 1) + '\t' + n)
)py";
  const std::string out = qztest::RunPython(script);
  int checked = 0;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    start = end + 1;
    const size_t t1 = line.find('\t');
    const size_t t2 = line.find('\t', t1 + 1);
    const std::string country = line.substr(0, t1);
    const int month = std::stoi(line.substr(t1 + 1, t2 - t1 - 1));
    const std::string name = line.substr(t2 + 1);
    char expected[16];
    std::snprintf(expected, sizeof expected, "7.%02d.2020", month);
    TStringList list;
    S::GetAllDatesW(W("am 7." + name + ".2020"), W(country), true, list);
    ASSERT_EQ(list.Count(), 1) << country << " " << name;
    EXPECT_EQ(list[0], W(expected)) << country << " " << name;
    ++checked;
  }
  EXPECT_EQ(checked, 5 * 24);
}

TEST_F(FixedNow, CleanDatesReadEveryForm) {
  TStringList all;
  for (const char16_t* d : {u"5.3.21", u"5.3.70", u"5.3.71", u"5.3.2021", u"31.02.2021", u"ab.cd.ef", u"2021-03-12",
                            u"01/06/2024", u"12.01.2020", u"no date"})
    all.Add(d);
  const TDateTimes dates = S::GetCleanDates(OLD_AND_FUTURE, all);
  const TDateTimes expected = {platform::EncodeDate(2021, 3, 5),  platform::EncodeDate(2070, 3, 5),
                               platform::EncodeDate(1971, 3, 5),  platform::EncodeDate(2021, 3, 5),
                               platform::EncodeDate(2021, 3, 12), platform::EncodeDate(2024, 6, 1),
                               platform::EncodeDate(2020, 1, 12)};
  EXPECT_EQ(dates, expected);  // the invalid and unreadable entries are skipped, the scan goes on

  EXPECT_EQ(S::GetCleanDates(NOT_IN_FUTURE, all).size(), 6u);  // today is not in the future
  EXPECT_EQ(S::GetCleanDates(IN_FUTURE, all), TDateTimes{platform::EncodeDate(2070, 3, 5)});

  TStringList ymd;
  S::GetCleanDateWideStringList(NOT_IN_FUTURE, all, ymd);
  EXPECT_EQ(Items(ymd), (std::vector<std::u16string>{u"1971-03-05", u"2020-01-12", u"2021-03-05", u"2021-03-12",
                                                      u"2024-06-01"}));
  EXPECT_DOUBLE_EQ(S::GetNewestDate(NOT_IN_FUTURE, all), platform::EncodeDate(2024, 6, 1));
  EXPECT_DOUBLE_EQ(S::GetNewestDate(OLD_AND_FUTURE, all), platform::EncodeDate(2070, 3, 5));
  EXPECT_DOUBLE_EQ(S::GetOldestDate(NOT_IN_FUTURE, all), platform::EncodeDate(1971, 3, 5));
  TStringList none;
  none.Add(u"kein Datum");
  EXPECT_EQ(S::GetNewestDate(NOT_IN_FUTURE, none), 0);
  EXPECT_EQ(S::GetOldestDate(OLD_AND_FUTURE, TStringList()), 0);
}

TEST_F(FixedNow, CleanDatesOfHashedLists) {
  THashedStringList found;
  S::GetAllDatesW(u"vom 12. März 2021, fällig 3.7.2030, am 1.1.1999", u"de", true, found);
  THashedStringList clean;
  S::GetCleanDateHashedStringList(OLD_AND_FUTURE, found, clean);
  EXPECT_EQ(Items(clean), (std::vector<std::u16string>{u"1.1.1999=1999-01-01", u"12. märz 2021=2021-03-12",
                                                       u"3.7.2030=2030-07-03"}));
  EXPECT_DOUBLE_EQ(S::GetNewestDate(NOT_IN_FUTURE, false, found), platform::EncodeDate(2021, 3, 12));
  EXPECT_DOUBLE_EQ(S::GetNewestDate(IN_FUTURE, false, found), platform::EncodeDate(2030, 7, 3));
  EXPECT_DOUBLE_EQ(S::GetNewestDate(NOT_IN_FUTURE, true, clean), platform::EncodeDate(2021, 3, 12));
  EXPECT_DOUBLE_EQ(S::GetNewestDate(OLD_AND_FUTURE, true, clean), platform::EncodeDate(2030, 7, 3));
  THashedStringList broken;
  broken.Add(u"x=2021-02-31");
  broken.Add(u"y=kaputt");
  EXPECT_EQ(S::GetNewestDate(OLD_AND_FUTURE, true, broken), 0);
}

TEST(GetAllIDs, FramedIdentifiers) {
  struct Case {
    const char* text;
    const char* begin;
    const char* end;
    const char* ignore;
    int min, max;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"Auftrag AB-12345 und AB-9", "AB-", "", "", 5, 10, {u"AB-12345"}},
      {"Kunde K 12 34/5 fertig", "K ", "", "/, ", 4, 12, {u"K12345"}},
      {"<id>77</id> <id>8</id>", "<id>", "</id>", "", 1, 20, {u"<id>77</id>", u"<id>8</id>"}},
      {"nichts", "AB-", "", "", 1, 10, {}},
  };
  for (const auto& c : cases) {
    TStringList ids;
    S::GetAllIDs(W(c.text), W(c.begin), W(c.end), W(c.ignore), c.min, c.max, ids);
    EXPECT_EQ(Items(ids), c.expected) << c.text;
  }
}

TEST(GetAllNumbers, DigitsWithOptionalSeparators) {
  struct Case {
    bool point, comma;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {true, true, {u"1.234,50", u"3"}},
      {false, false, {u"1", u"234", u"50", u"3"}},
      {true, false, {u"1.234", u"50", u"3"}},
      {false, true, {u"1", u"234,50", u"3"}},
  };
  for (const auto& c : cases) {
    TStringList numbers;
    S::GetAllNumbers(u"Summe 1.234,50 EUR. Seite 3.", c.point, c.comma, numbers);
    EXPECT_EQ(Items(numbers), c.expected) << c.point << c.comma;
  }
}

TEST(GetAllCurrencies, IsoCodesOfEveryMention) {
  struct Case {
    const char* text;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"10 € und 5 $", {u"EUR", u"USD"}},
      {"Preis 10 Euro", {u"EUR"}},
      {"50 SFr", {u"CHF"}},
      {"schweizer Franken", {u"CHF"}},
      {"amerikanische Dollar", {u"USD"}},
      {"japanischer Yen", {u"JPY"}},
      {"chinesischer Yuan", {u"CNY"}},
      {"EUROPA und Neuro", {}},
      {"5 US$, 3 EUR, 7 Rubel, 2 CHF, 9 usd", {u"EUR", u"USD", u"USD", u"CHF", u"RUB"}},
      {"10EUR", {u"EUR"}},
  };
  std::vector<std::string> codes;
  for (const auto& c : cases) {
    TStringList list;
    S::GetAllCurrencies(W(c.text), list);
    EXPECT_EQ(Items(list), c.expected) << c.text;
    for (const auto& code : Items(list)) codes.push_back(platform::WideToUtf8(code));
  }
  TStringList held;
  held.Add(u"Euro");
  held.Add(u"other");
  S::GetAllCurrencies(u"1 yen", held);
  EXPECT_EQ(Items(held), (std::vector<std::u16string>{u"EUR", u"other", u"JPY"}));
  // Every code is an ISO 4217 code.
  std::string input;
  for (const auto& code : codes) input += code + "\n";
  const std::string missing = qztest::RunPython(
      "import json, sys\n"
      "known = {c['alpha_3'] for c in json.load(open('/usr/share/iso-codes/json/iso_4217.json'))['4217']}\n"
      "print(','.join(c for c in sys.stdin.read().split() if c not in known))\n",
      {}, input);
  EXPECT_EQ(missing, "\n");
}

}  // namespace
