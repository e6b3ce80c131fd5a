#include "qzSortableStringLists.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "CaseMap.h"
#include "FormatSettings.h"
#include "SysUtils.h"
#include "qzDateTime.h"
#include "qzMath.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// A number text under the process format settings (its decimal separator, no thousands
// separators, blanks around allowed); NaN when the text is no number.
double ParseNumber(const UnicodeString& text, char16_t decimalSeparator) {
  const UnicodeString t = platform::Trim(text);
  if (t.empty()) return std::nan("");
  std::string ascii;
  ascii.reserve(t.size());
  for (char16_t c : t) {
    if (c == decimalSeparator)
      ascii += '.';
    else if ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'e' || c == u'E')
      ascii += static_cast<char>(c);
    else
      return std::nan("");
  }
  char* end = nullptr;
  const double v = std::strtod(ascii.c_str(), &end);
  if (end != ascii.c_str() + ascii.size() || !std::isfinite(v)) return std::nan("");
  return v;
}

// Values that did not parse (NaN) go after all others and compare equal among themselves.
int CompareParsed(double a, double b) {
  const bool na = std::isnan(a);
  const bool nb = std::isnan(b);
  if (na || nb) return static_cast<int>(na) - static_cast<int>(nb);
  return (a > b) - (a < b);
}

const UnicodeString& KeyAt(TStringList& list, int i) { return list[i]; }

UnicodeString TrimUpper(const UnicodeString& s, bool trim, bool upper) {
  UnicodeString out = trim ? platform::Trim(s) : s;
  return upper ? platform::UpperAscii(std::u16string_view(out)) : out;
}

}  // namespace

void TqzObjectHashList::Put(const UnicodeString& Key, TObject* Value, bool DestroyInstance) {
  if (DestroyInstance) {
    const int i = IndexOf(Key);
    if (i >= 0) {
      // The same object stored again stays alive: take it out of the entry before deleting it.
      if (GetObject(i) == Value) PutObject(i, nullptr);
      Delete(i);
    }
  }
  AddObject(Key, Value);
}

TObject* TqzObjectHashList::Get(const UnicodeString& Key) const {
  const int i = IndexOf(Key);
  return i < 0 ? nullptr : GetObject(i);
}

TObject* TqzObjectHashList::Remove(const UnicodeString& Key) {
  const int i = IndexOf(Key);
  if (i < 0) return nullptr;
  TObject* obj = GetObject(i);
  Delete(i);  // frees obj when owned
  return OwnsObjects() ? nullptr : obj;
}

int32_t TqzObjectHashList::ClearEntries() {
  const int n = Count();
  BeginUpdate();
  for (int i = n - 1; i >= 0; --i) Delete(i);
  EndUpdate();
  return n;
}

TObject* TqzObjectHashList::GetFirstAboutDistance(const UnicodeString& Key, bool TrimBefore, bool IgnoreCase,
                                                  double MaxDistance, double& RealDistance) const {
  const UnicodeString key = TrimUpper(Key, TrimBefore, IgnoreCase);
  const int n = Count();
  for (int i = 0; i < n; ++i) {
    RealDistance = TqzMath::GetDamerauLevenshteinAccuracy(key, TrimUpper((*this)[i], TrimBefore, IgnoreCase));
    if (RealDistance >= MaxDistance) return GetObject(i);
  }
  return nullptr;
}

bool TqzObjectHashList::SortW(TSORT_TYPE SortType) {
  int (*compare)(TStringList&, int, int) = nullptr;
  switch (SortType) {
    case NUMBER: compare = CompareNumber; break;
    case ALPHA_NUM: compare = CompareAlphaNum; break;
    case ALPHA_NUM_TRIM: compare = CompareAlphaNumTrim; break;
    case ALPHA_NUM_UPPER: compare = CompareAlphaNumUpper; break;
    case ALPHA_NUM_DESC: compare = CompareAlphaNumDesc; break;
    case ALPHA_NUM_TRIM_UPPER_DESC: compare = CompareAlphaNumTrimUpperDesc; break;
    case DATE: compare = CompareDate; break;
  }
  if (compare == nullptr) return false;
  if (SortType == NUMBER || SortType == DATE) {
    // Parse each key once rather than once per comparison.
    const int n = Count();
    std::vector<double> values(static_cast<size_t>(n));
    const char16_t decimal = platform::GetFormatSettings().DecimalSeparator;
    for (int i = 0; i < n; ++i) {
      const UnicodeString& k = (*this)[i];
      values[static_cast<size_t>(i)] =
          SortType == NUMBER ? ParseNumber(k, decimal) : TqzDateTime::StrToDate(k, std::nan(""));
    }
    CustomSort([&values](TStringList&, int a, int b) {
      return CompareParsed(values[static_cast<size_t>(a)], values[static_cast<size_t>(b)]);
    });
    return true;
  }
  CustomSort(compare);
  return true;
}

int TqzObjectHashList::CompareNumber(TStringList& List, int Index1, int Index2) {
  const char16_t decimal = platform::GetFormatSettings().DecimalSeparator;
  return CompareParsed(ParseNumber(KeyAt(List, Index1), decimal), ParseNumber(KeyAt(List, Index2), decimal));
}

int TqzObjectHashList::CompareAlphaNum(TStringList& List, int Index1, int Index2) {
  return Sign(platform::CompareOrdinalW(KeyAt(List, Index1), KeyAt(List, Index2)));
}

int TqzObjectHashList::CompareAlphaNumTrim(TStringList& List, int Index1, int Index2) {
  return Sign(platform::CompareOrdinalW(TrimUpper(KeyAt(List, Index1), true, false),
                                        TrimUpper(KeyAt(List, Index2), true, false)));
}

int TqzObjectHashList::CompareAlphaNumUpper(TStringList& List, int Index1, int Index2) {
  return Sign(platform::CompareOrdinalW(TrimUpper(KeyAt(List, Index1), false, true),
                                        TrimUpper(KeyAt(List, Index2), false, true)));
}

int TqzObjectHashList::CompareAlphaNumDesc(TStringList& List, int Index1, int Index2) {
  return -CompareAlphaNum(List, Index1, Index2);
}

int TqzObjectHashList::CompareAlphaNumTrimUpperDesc(TStringList& List, int Index1, int Index2) {
  return -Sign(platform::CompareOrdinalW(TrimUpper(KeyAt(List, Index1), true, true),
                                         TrimUpper(KeyAt(List, Index2), true, true)));
}

int TqzObjectHashList::CompareDate(TStringList& List, int Index1, int Index2) {
  return CompareParsed(TqzDateTime::StrToDate(KeyAt(List, Index1), std::nan("")),
                       TqzDateTime::StrToDate(KeyAt(List, Index2), std::nan("")));
}
