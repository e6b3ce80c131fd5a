// TqzStrings family: finding dates, identifiers, numbers and currencies in free text (such as
// recognised text of scanned documents).
//
// Dates: numeric forms (day.month.year with ".", "/" or "-", four- or two-digit years; year first
// for "us") and forms with month names or their abbreviations, as the C library's locales write
// them for German, French, English, Italian and Spanish. Each country id uses its own language's
// names; names are matched as whole words, longest first, ignoring case. With GetWithOutNames a
// month name is replaced by its number, so "12. März 2021" and "12.january.2020" come out as
// "12.03.2021" and "12.01.2020".
//
// Clean dates: a text is split at its first of ".", "/", "\", "-" into three numbers; a first
// part of four digits is the year (year first), else the parts are day, month, year, a two-digit
// year counting 2000-2070 (up to 70) or 1971-1999. A text that is no valid date ("31.02.2021",
// letters) is skipped and the scan goes on. "Not in future" keeps dates up to now (the platform
// clock), "in future" those after it.
//
// Currencies: the names of EUR, USD, CHF, RUB, JPY and CNY (codes, names, symbols, German
// names) are matched ignoring case as whole words, longest first ("EUR" is not found in
// "EUROPA"); every mention is stored as its ISO 4217 code.
#pragma once

#include <cstdint>
#include <vector>

#include "StringList.h"
#include "SysUtils.h"
#include "Text.h"

enum TFUTURE_TYPE { NOT_IN_FUTURE, IN_FUTURE, OLD_AND_FUTURE };
using TDateTimes = std::vector<TDateTime>;

class TqzStringsFinding {
 public:
  TqzStringsFinding() = delete;

  // Appends every date found in Content for CountryId ("de", "fr", "en", "us", "it", "es"; any
  // other id runs the German, English, French, Italian and Spanish sets one after another, so a
  // date two of them find is appended twice). The text is lower-cased first. The list form
  // appends the converted text, the hashed form found text "=" converted text.
  static TStringList& GetAllDatesW(const UnicodeString& Content, const UnicodeString& CountryId, bool GetWithOutNames,
                                   TStringList& AllDatesList);
  static THashedStringList& GetAllDatesW(const UnicodeString& Content, const UnicodeString& CountryId,
                                         bool GetWithOutNames, THashedStringList& AllDatesList);

  // The dates of the entries (the hashed form: of the values) that pass the filter.
  static TDateTimes GetCleanDates(TFUTURE_TYPE FutureType, const TStringList& AllDatesList);
  // Makes the result list sorted without duplicates and adds each passing date as yyyy-mm-dd.
  static TStringList& GetCleanDateWideStringList(TFUTURE_TYPE FutureType, const TStringList& AllDatesList,
                                                 TStringList& ResultWideStringList);
  // The same with entries name "=" yyyy-mm-dd.
  static THashedStringList& GetCleanDateHashedStringList(TFUTURE_TYPE FutureType, const THashedStringList& AllDatesList,
                                                         THashedStringList& ResultWideStringList);
  // The greatest / least passing date; 0 when there is none.
  static TDateTime GetNewestDate(TFUTURE_TYPE FutureType, const TStringList& AllDatesList);
  // IsCleanlist: the values are yyyy-mm-dd texts (as GetCleanDateHashedStringList writes them).
  static TDateTime GetNewestDate(TFUTURE_TYPE FutureType, bool IsCleanlist, const THashedStringList& AllDatesList);
  static TDateTime GetOldestDate(TFUTURE_TYPE FutureType, const TStringList& AllDatesList);

  // Every match of "(" BeginWith ")([0-9" ignore chars "]{1,MaxLength+20})" EndWith (all three
  // are regular-expression text), without the ignore characters, whose length lies within
  // MinLength..MaxLength.
  static TStrings& GetAllIDs(const UnicodeString& Content, const UnicodeString& BeginWith,
                             const UnicodeString& EndWith, const UnicodeString& IgnoreCharsCommaList,
                             int32_t MinLength, int32_t MaxLength, TStrings& AllIDs);
  // Every digit followed by up to 200 digits (and "." / "," with WithPoint / WithComma), without
  // a final "." or ",".
  static TStrings& GetAllNumbers(const UnicodeString& Content, bool WithPoint, bool WithComma, TStrings& NumberList);
  // The ISO 4217 code of every currency mention, euros first, then dollars, francs, roubles, yen
  // and yuan, each in text order. Entries the list held before that name a currency become its
  // code.
  static TStrings& GetAllCurrencies(const UnicodeString& Content, TStrings& AllCurrencies);
};
