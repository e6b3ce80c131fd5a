#include "qzStringsFinding.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "CaseMap.h"
#include "Clock.h"
#include "Regex.h"
#include "qzStringsMatch.h"
#include "qzStringsSearch.h"
#include "qzToolsEvo2.h"

namespace {

using View = std::u16string_view;

// Month names and abbreviations (lower case, without points) as the C library's locales de_DE,
// fr_FR, en_US, it_IT and es_ES give them (mon and abmon).
struct MonthTable {
  const char16_t* names[12];
  const char16_t* abbreviations[12];
};

constexpr MonthTable kGerman = {
    {u"januar", u"februar", u"märz", u"april", u"mai", u"juni", u"juli", u"august", u"september", u"oktober",
     u"november", u"dezember"},
    {u"jan", u"feb", u"mär", u"apr", u"mai", u"jun", u"jul", u"aug", u"sep", u"okt", u"nov", u"dez"}};
constexpr MonthTable kFrench = {
    {u"janvier", u"février", u"mars", u"avril", u"mai", u"juin", u"juillet", u"août", u"septembre", u"octobre",
     u"novembre", u"décembre"},
    {u"janv", u"févr", u"mars", u"avril", u"mai", u"juin", u"juil", u"août", u"sept", u"oct", u"nov", u"déc"}};
constexpr MonthTable kEnglish = {
    {u"january", u"february", u"march", u"april", u"may", u"june", u"july", u"august", u"september", u"october",
     u"november", u"december"},
    {u"jan", u"feb", u"mar", u"apr", u"may", u"jun", u"jul", u"aug", u"sep", u"oct", u"nov", u"dec"}};
constexpr MonthTable kItalian = {
    {u"gennaio", u"febbraio", u"marzo", u"aprile", u"maggio", u"giugno", u"luglio", u"agosto", u"settembre",
     u"ottobre", u"novembre", u"dicembre"},
    {u"gen", u"feb", u"mar", u"apr", u"mag", u"giu", u"lug", u"ago", u"set", u"ott", u"nov", u"dic"}};
constexpr MonthTable kSpanish = {
    {u"enero", u"febrero", u"marzo", u"abril", u"mayo", u"junio", u"julio", u"agosto", u"septiembre", u"octubre",
     u"noviembre", u"diciembre"},
    {u"ene", u"feb", u"mar", u"abr", u"may", u"jun", u"jul", u"ago", u"sep", u"oct", u"nov", u"dic"}};

struct MonthToken {
  UnicodeString text;
  int month;
};

// Names and abbreviations of one table, longest first (so "january" wins over "jan").
std::vector<MonthToken> Tokens(const MonthTable& table) {
  std::vector<MonthToken> tokens;
  for (int m = 0; m < 12; ++m) {
    tokens.push_back({table.names[m], m + 1});
    if (View(table.abbreviations[m]) != View(table.names[m])) tokens.push_back({table.abbreviations[m], m + 1});
  }
  std::stable_sort(tokens.begin(), tokens.end(),
                   [](const MonthToken& a, const MonthToken& b) { return a.text.size() > b.text.size(); });
  return tokens;
}

UnicodeString Alternatives(const std::vector<MonthToken>& tokens) {
  UnicodeString out;
  for (const auto& t : tokens) {
    if (!out.empty()) out += u'|';
    out += t.text;
  }
  return out;
}

constexpr const char16_t* kNumeric4 = u"(?<![0-9])[0-9]{1,2}[./\\-][0-9]{1,2}[./\\-][12][0-9]{3}(?![0-9])";
constexpr const char16_t* kNumeric2 = u"(?<![0-9])[0-9]{1,2}[./\\-][0-9]{1,2}[./\\-][0-9]{2}(?![0-9])";
constexpr const char16_t* kYearFirst = u"(?<![0-9])[12][0-9]{3}[./\\-][0-9]{1,2}[./\\-][0-9]{1,2}(?![0-9])";

UnicodeString NamedExpression(const std::vector<MonthToken>& tokens) {
  return UnicodeString(u"(?<![0-9])[0-9]{1,2}[./\\- ]{0,2}(?<!\\p{L})(?:") + Alternatives(tokens) +
         u")(?!\\p{L})\\.?[./\\- ]{0,2}[12][0-9]{3}(?![0-9])";
}

struct DateExpression {
  UnicodeString pattern;
  const MonthTable* months;
};

std::vector<DateExpression> ExpressionsFor(const UnicodeString& countryId) {
  const UnicodeString id = platform::LowerAscii(View(platform::Trim(countryId)));
  auto set = [](std::initializer_list<const char16_t*> numeric, const MonthTable& table) {
    UnicodeString p;
    for (const char16_t* n : numeric) p += UnicodeString(n) + u"|";
    return DateExpression{p + NamedExpression(Tokens(table)), &table};
  };
  if (id == u"de") return {set({kNumeric4, kNumeric2}, kGerman)};
  if (id == u"fr") return {set({kNumeric4, kNumeric2}, kFrench)};
  if (id == u"en") return {set({kNumeric4, kNumeric2}, kEnglish)};
  if (id == u"us") return {set({kYearFirst, kNumeric2}, kEnglish)};
  if (id == u"it") return {set({kNumeric4, kNumeric2}, kItalian)};
  if (id == u"es") return {set({kNumeric4, kNumeric2}, kSpanish)};
  return {set({kNumeric4, kNumeric2}, kGerman), set({kNumeric4, kNumeric2}, kEnglish),
          {NamedExpression(Tokens(kFrench)), &kFrench},
          {NamedExpression(Tokens(kItalian)), &kItalian},
          {NamedExpression(Tokens(kSpanish)), &kSpanish}};
}

bool IsDateSeparator(char16_t c) { return c == u'.' || c == u'/' || c == u'-' || c == u'\\'; }

// The found text with blanks removed and its month name replaced by the month's number, day,
// month and year then separated by one point each: "12. märz 2021" gives "12.03.2021".
UnicodeString WithoutNames(const UnicodeString& found, const MonthTable& table) {
  UnicodeString text = found;
  bool replaced = false;
  for (const MonthToken& t : Tokens(table)) {
    const size_t p = text.find(t.text);
    if (p == UnicodeString::npos) continue;
    const size_t end = p + t.text.size();
    const bool letterBefore = p > 0 && platform::UpperChar(text[p - 1]) != platform::LowerChar(text[p - 1]);
    const bool letterAfter = end < text.size() && platform::UpperChar(text[end]) != platform::LowerChar(text[end]);
    if (letterBefore || letterAfter) continue;
    const UnicodeString number = t.month < 10 ? u"0" + platform::ToU16(std::to_string(t.month))
                                              : platform::ToU16(std::to_string(t.month));
    text = text.substr(0, p) + u"." + number + u"." + text.substr(end);
    replaced = true;
    break;
  }
  UnicodeString out;
  for (char16_t c : text) {
    if (c == u' ') continue;
    if (replaced && IsDateSeparator(c)) {
      // Day, month and year are then separated by one point each.
      if (!out.empty() && out.back() != u'.') out += u'.';
      continue;
    }
    out += c;
  }
  return out;
}

template <class OnFound>
void FindDates(const UnicodeString& content, const UnicodeString& countryId, OnFound&& onFound) {
  const UnicodeString text = LowerCaseStr(content);
  for (const DateExpression& e : ExpressionsFor(countryId))
    platform::Regex::Get(e.pattern)->ForEachMatch(text, [&](const platform::RegexMatch& m) {
      onFound(UnicodeString(m.Text()), *e.months);
      return true;
    });
}

bool AllDigits(View s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

int ToInt(View s) {
  int v = 0;
  for (char16_t c : s) v = v * 10 + (c - u'0');
  return v;
}

// The date of a found date text; false when it is none.
bool ReadCleanDate(const UnicodeString& text, TDateTime& date, UnicodeString& ymd) {
  char16_t sep = 0;
  for (char16_t s : {u'.', u'/', u'\\', u'-'})
    if (text.find(s) != UnicodeString::npos) {
      sep = s;
      break;
    }
  if (sep == 0) return false;
  std::vector<View> parts;
  const View t = text;
  size_t start = 0;
  for (size_t p = t.find(sep); p != View::npos; p = t.find(sep, start)) {
    parts.push_back(t.substr(start, p - start));
    start = p + 1;
  }
  parts.push_back(t.substr(start));
  if (parts.size() != 3) return false;
  for (View p : parts)
    if (!AllDigits(p) || p.size() > 4) return false;
  int year, month, day;
  if (parts[0].size() == 4) {
    year = ToInt(parts[0]);
    month = ToInt(parts[1]);
    day = ToInt(parts[2]);
    if (parts[1].size() > 2 || parts[2].size() > 2) return false;
  } else {
    if (parts[0].size() > 2 || parts[1].size() > 2) return false;
    day = ToInt(parts[0]);
    month = ToInt(parts[1]);
    if (parts[2].size() == 2)
      year = ToInt(parts[2]) + (ToInt(parts[2]) <= 70 ? 2000 : 1900);
    else if (parts[2].size() == 4)
      year = ToInt(parts[2]);
    else
      return false;
  }
  if (!platform::TryEncodeDate(year, month, day, date)) return false;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  ymd = platform::ToU16(buffer);
  return true;
}

bool Passes(TFUTURE_TYPE type, TDateTime date, TDateTime now) {
  switch (type) {
    case NOT_IN_FUTURE:
      return date <= now;
    case IN_FUTURE:
      return date > now;
    case OLD_AND_FUTURE:
      break;
  }
  return true;
}

// Calls onDate(index, date, ymd) for every entry whose date text reads and passes the filter.
template <class OnDate>
void CleanScan(TFUTURE_TYPE type, const TStringList& list, bool byValue, OnDate&& onDate) {
  const TDateTime now = platform::Now();
  for (int i = 0; i < list.Count(); ++i) {
    const UnicodeString text = byValue ? list.Values(list.Names(i)) : list[i];
    TDateTime date = 0;
    UnicodeString ymd;
    if (ReadCleanDate(text, date, ymd) && Passes(type, date, now)) onDate(i, date, ymd);
  }
}

bool ReadYmd(const UnicodeString& text, TDateTime& date) {
  const UnicodeString t = platform::Trim(text);
  if (t.size() != 10 || t[4] != u'-' || t[7] != u'-') return false;
  const View v = t;
  if (!AllDigits(v.substr(0, 4)) || !AllDigits(v.substr(5, 2)) || !AllDigits(v.substr(8, 2))) return false;
  return platform::TryEncodeDate(ToInt(v.substr(0, 4)), ToInt(v.substr(5, 2)), ToInt(v.substr(8, 2)), date);
}

}  // namespace

TStringList& TqzStringsFinding::GetAllDatesW(const UnicodeString& Content, const UnicodeString& CountryId,
                                             bool GetWithOutNames, TStringList& AllDatesList) {
  FindDates(Content, CountryId, [&](const UnicodeString& found, const MonthTable& months) {
    AllDatesList.Add(GetWithOutNames ? WithoutNames(found, months) : found);
  });
  return AllDatesList;
}

THashedStringList& TqzStringsFinding::GetAllDatesW(const UnicodeString& Content, const UnicodeString& CountryId,
                                                   bool GetWithOutNames, THashedStringList& AllDatesList) {
  FindDates(Content, CountryId, [&](const UnicodeString& found, const MonthTable& months) {
    AllDatesList.Add(found + u"=" + (GetWithOutNames ? WithoutNames(found, months) : found));
  });
  return AllDatesList;
}

TDateTimes TqzStringsFinding::GetCleanDates(TFUTURE_TYPE FutureType, const TStringList& AllDatesList) {
  TDateTimes dates;
  CleanScan(FutureType, AllDatesList, false, [&](int, TDateTime date, const UnicodeString&) { dates.push_back(date); });
  return dates;
}

TStringList& TqzStringsFinding::GetCleanDateWideStringList(TFUTURE_TYPE FutureType, const TStringList& AllDatesList,
                                                           TStringList& ResultWideStringList) {
  ResultWideStringList.SetDuplicates(dupIgnore);
  ResultWideStringList.SetSorted(true);
  CleanScan(FutureType, AllDatesList, false,
            [&](int, TDateTime, const UnicodeString& ymd) { ResultWideStringList.Add(ymd); });
  return ResultWideStringList;
}

THashedStringList& TqzStringsFinding::GetCleanDateHashedStringList(TFUTURE_TYPE FutureType,
                                                                   const THashedStringList& AllDatesList,
                                                                   THashedStringList& ResultWideStringList) {
  ResultWideStringList.SetDuplicates(dupIgnore);
  ResultWideStringList.SetSorted(true);
  CleanScan(FutureType, AllDatesList, true, [&](int i, TDateTime, const UnicodeString& ymd) {
    ResultWideStringList.Add(AllDatesList.Names(i) + u"=" + ymd);
  });
  return ResultWideStringList;
}

TDateTime TqzStringsFinding::GetNewestDate(TFUTURE_TYPE FutureType, const TStringList& AllDatesList) {
  const TDateTimes dates = GetCleanDates(FutureType, AllDatesList);
  return dates.empty() ? 0 : *std::max_element(dates.begin(), dates.end());
}

TDateTime TqzStringsFinding::GetOldestDate(TFUTURE_TYPE FutureType, const TStringList& AllDatesList) {
  const TDateTimes dates = GetCleanDates(FutureType, AllDatesList);
  return dates.empty() ? 0 : *std::min_element(dates.begin(), dates.end());
}

TDateTime TqzStringsFinding::GetNewestDate(TFUTURE_TYPE FutureType, bool IsCleanlist,
                                           const THashedStringList& AllDatesList) {
  TDateTime best = 0;
  if (IsCleanlist) {
    const TDateTime now = platform::Now();
    for (int i = 0; i < AllDatesList.Count(); ++i) {
      TDateTime d = 0;
      if (!ReadYmd(AllDatesList.ValueFromIndex(i), d)) continue;
      if (FutureType == NOT_IN_FUTURE && d > now) continue;
      if (d > best) best = d;
    }
    return best;
  }
  CleanScan(FutureType, AllDatesList, true, [&](int, TDateTime date, const UnicodeString&) {
    if (date > best) best = date;
  });
  return best;
}

TStrings& TqzStringsFinding::GetAllIDs(const UnicodeString& Content, const UnicodeString& BeginWith,
                                       const UnicodeString& EndWith, const UnicodeString& IgnoreCharsCommaList,
                                       int32_t MinLength, int32_t MaxLength, TStrings& AllIDs) {
  const UnicodeString ignore = TqzStringsSearch::ReplaceW(IgnoreCharsCommaList, u",", u"");
  const UnicodeString pattern = u"(" + BeginWith + u")([0-9" + ignore + u"]{1," +
                                platform::ToU16(std::to_string(static_cast<int64_t>(MaxLength) + 20)) + u"})" + EndWith;
  platform::Regex::Get(pattern)->ForEachMatch(Content, [&](const platform::RegexMatch& m) {
    UnicodeString id(m.Text());
    for (char16_t c : ignore) id.erase(std::remove(id.begin(), id.end(), c), id.end());
    const int64_t len = static_cast<int64_t>(id.size());
    if (len >= MinLength && len <= MaxLength) AllIDs.Add(id);
    return true;
  });
  return AllIDs;
}

TStrings& TqzStringsFinding::GetAllNumbers(const UnicodeString& Content, bool WithPoint, bool WithComma,
                                           TStrings& NumberList) {
  UnicodeString set = u"0-9";
  if (WithPoint) set += u".";
  if (WithComma) set += u",";
  platform::Regex::Get(u"[0-9]{1,1}[" + set + u"]{0,200}")->ForEachMatch(Content, [&](const platform::RegexMatch& m) {
    UnicodeString number(m.Text());
    if (!number.empty() && (number.back() == u'.' || number.back() == u',')) number.pop_back();
    NumberList.Add(number);
    return true;
  });
  return NumberList;
}

namespace {

struct Currency {
  const char16_t* code;
  std::vector<UnicodeString> names;  // upper case; a blank stands for any run of blanks, "." or "-"
};

const std::vector<Currency>& Currencies() {
  static const std::vector<Currency> table = {
      {u"EUR", {u"EUR", u"EURO", u"EUROS", u"€"}},
      {u"USD", {u"USD", u"DOLLAR", u"DOLLARS", u"AMERIKANISCHE DOLLAR", u"AMERIKANISCHER DOLLAR", u"US$", u"$"}},
      {u"CHF", {u"CHF", u"SFR", u"FRANKEN", u"SCHWEIZER FRANKEN"}},
      {u"RUB", {u"RUB", u"RUBEL", u"RUSSISCHER RUBEL"}},
      {u"JPY", {u"JPY", u"YEN", u"JAPANISCHER YEN"}},
      {u"CNY", {u"CNY", u"YUAN", u"CHINESISCHER YUAN"}},
  };
  return table;
}

bool IsLetter(char16_t c) { return platform::UpperChar(c) != platform::LowerChar(c); }

// One expression per currency: its names longest first, each a whole word.
UnicodeString CurrencyExpression(const Currency& currency) {
  std::vector<UnicodeString> names = currency.names;
  std::stable_sort(names.begin(), names.end(),
                   [](const UnicodeString& a, const UnicodeString& b) { return a.size() > b.size(); });
  UnicodeString out;
  for (const UnicodeString& name : names) {
    if (!out.empty()) out += u'|';
    if (IsLetter(name.front())) out += u"(?<!\\p{L})";
    for (char16_t c : name) {
      if (c == u' ')
        out += u"[\\s.\\-]+";
      else if (c == u'$' || c == u'.')
        out += UnicodeString(u"\\") + c;
      else
        out += c;
    }
    if (IsLetter(name.back())) out += u"(?!\\p{L})";
  }
  return out;
}

}  // namespace

TStrings& TqzStringsFinding::GetAllCurrencies(const UnicodeString& Content, TStrings& AllCurrencies) {
  // Entries already in the list that name a currency become its code.
  for (int i = 0; i < AllCurrencies.Count(); ++i) {
    const UnicodeString entry = UpperCaseStr(platform::Trim(AllCurrencies.Get(i)));
    for (const Currency& c : Currencies()) {
      platform::RegexMatch m;
      if (platform::Regex::Get(CurrencyExpression(c))->FirstMatch(entry, m) && m.Length() == entry.size()) {
        AllCurrencies.Put(i, c.code);
        break;
      }
    }
  }
  const UnicodeString text = UpperCaseStr(Content);
  for (const Currency& c : Currencies())
    platform::Regex::Get(CurrencyExpression(c))->ForEachMatch(text, [&](const platform::RegexMatch&) {
      AllCurrencies.Add(c.code);
      return true;
    });
  return AllCurrencies;
}
