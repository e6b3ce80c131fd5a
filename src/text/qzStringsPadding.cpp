#include "qzStringsPadding.h"

#include <algorithm>

#include "CodePage.h"
#include "SysUtils.h"
#include "qzStrings.h"

namespace {

constexpr int64_t kMaxZeros = 61;

template <class S>
S ZeroPad(const S& text, int32_t max) {
  const int64_t zeros = std::min<int64_t>(static_cast<int64_t>(max) - static_cast<int64_t>(text.size()), kMaxZeros);
  if (zeros <= 0) return text;
  S out(static_cast<size_t>(zeros), '0');
  out += text;
  return out;
}

template <class S>
S BlankPad(const S& text, int32_t width, bool front) {
  if (width <= 0 || static_cast<size_t>(width) <= text.size()) return text;
  const S blanks(static_cast<size_t>(width) - text.size(), ' ');
  return front ? blanks + text : text + blanks;
}

template <class S>
S StripLeadingZeros(const S& text) {
  const auto first = text.find_first_not_of(static_cast<typename S::value_type>('0'));
  if (first == S::npos) return text;
  return text.substr(first);
}

template <class S>
int32_t LastCharPos(const S& z, const S& text) {
  if (z.size() != 1) return -1;
  const auto p = text.rfind(z[0]);
  return p == S::npos ? -1 : static_cast<int32_t>(p + 1);
}

// 1-based position of the first occurrence of `what` in `text`, 0 when absent or empty.
template <class S>
int32_t FirstPos(const S& text, const S& what) {
  if (what.empty()) return 0;
  const auto p = text.find(what);
  return p == S::npos ? 0 : static_cast<int32_t>(p + 1);
}

template <class S>
S Mid(const S& text, int64_t pos, int64_t count) {
  if (count <= 0) return S();
  if (pos < 1) pos = 1;
  if (pos > static_cast<int64_t>(text.size())) return S();
  return text.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(count));
}

// The common steps of GetBetween and GetBetweenW. `findL(from)` gives the 0-based index of the
// occurrence of L that the operation uses among those starting at or after `from` (npos: none).
// Deleting the text up to a closing mark that stands before the opening one and searching again
// is the same as searching on from just after that mark, which keeps the whole walk linear.
template <class S, class FindL>
S Between(const S& str, const S& f, const S& l, FindL findL) {
  const size_t fp = f.empty() ? S::npos : str.find(f);
  size_t lq = findL(0);
  if (fp == S::npos || lq == S::npos) {
    if (!l.empty()) return S();
    const int64_t p = fp == S::npos ? 0 : static_cast<int64_t>(fp) + 1;
    return platform::Trim(Mid(str, p + static_cast<int64_t>(f.size()), static_cast<int64_t>(str.size())));
  }
  while (lq < fp) {
    lq = findL(lq + 1);
    if (lq == S::npos) return S();
  }
  const int64_t p = static_cast<int64_t>(fp) + 1, q = static_cast<int64_t>(lq) + 1;
  return platform::Trim(Mid(str, p + static_cast<int64_t>(f.size()), q - p - static_cast<int64_t>(f.size())));
}

// Splits Source at every SplitAt; `add` receives each piece. The search runs over Source itself,
// and a piece follows its last separator: the same pieces as appending SplitAt and cutting at
// every occurrence, except that a tail of Source can never pair up with the appended separator
// into a false occurrence ("a:" split at "::" stays "a:" instead of losing its ':').
template <class S, class AddFn>
bool Split(const S& source, const S& splitAt, AddFn add) {
  if (source.empty() || splitAt.empty()) return true;
  try {
    size_t start = 0;
    while (true) {
      const size_t p = source.find(splitAt, start);
      if (p == S::npos) {
        add(source.substr(start));  // the last piece, terminated by the appended separator
        break;
      }
      add(source.substr(start, p - start));
      start = p + splitAt.size();
      if (start == source.size()) {
        add(S());
        break;
      }
    }
    return true;
  } catch (...) {
    return false;
  }
}

template <class S>
bool SplitFirst(const S& source, const S& splitAt, S& left, S& right) {
  const auto p = splitAt.empty() ? S::npos : source.find(splitAt);
  if (p == S::npos) {
    left = source;
    right.clear();
    return false;
  }
  left = source.substr(0, p);
  right = source.substr(p + splitAt.size());
  return true;
}

template <class S>
S CheckSuffix(const S& str, const S& suffix) {
  if (str.empty() || suffix.empty()) return str;
  if (str.size() >= suffix.size() && str.compare(str.size() - suffix.size(), suffix.size(), suffix) == 0) return str;
  return str + suffix;
}

}  // namespace

AnsiString TqzStringsPadding::FillIntNull(int64_t Nr, int32_t Max) { return ZeroPad(AnsiString(std::to_string(Nr)), Max); }
UnicodeString TqzStringsPadding::FillIntNullW(int64_t Nr, int32_t Max) { return ZeroPad(platform::IntToStr(Nr), Max); }
AnsiString TqzStringsPadding::FillStrNull(const AnsiString& Str, int32_t Max) { return ZeroPad(Str, Max); }
UnicodeString TqzStringsPadding::FillStrNullW(const UnicodeString& Str, int32_t Max) { return ZeroPad(Str, Max); }
AnsiString TqzStringsPadding::FillBlankFront(const AnsiString& Str, int32_t L) { return BlankPad(Str, L, true); }
UnicodeString TqzStringsPadding::FillBlankFront(const UnicodeString& Str, int32_t L) { return BlankPad(Str, L, true); }
AnsiString TqzStringsPadding::FillBlankBack(const AnsiString& Str, int32_t L) { return BlankPad(Str, L, false); }
UnicodeString TqzStringsPadding::FillBlankBack(const UnicodeString& Str, int32_t L) { return BlankPad(Str, L, false); }
AnsiString TqzStringsPadding::ClearLeadingZeros(const AnsiString& Str) { return StripLeadingZeros(Str); }
UnicodeString TqzStringsPadding::ClearLeadingZerosW(const UnicodeString& Str) { return StripLeadingZeros(Str); }

AnsiString TqzStringsPadding::ShowPluralS(int32_t Count) { return Count == 1 ? "" : "s"; }
AnsiString TqzStringsPadding::Sps(int32_t Count) { return ShowPluralS(Count); }
UnicodeString TqzStringsPadding::ShowPluralSW(int32_t Count) { return Count == 1 ? u"" : u"s"; }
UnicodeString TqzStringsPadding::SpsW(int32_t Count) { return ShowPluralSW(Count); }
AnsiString TqzStringsPadding::ShowPluralStr(int32_t Count, const AnsiString& Str) { return Count == 1 ? "" : Str; }
UnicodeString TqzStringsPadding::ShowPluralStrW(int32_t Count, const UnicodeString& Str) {
  return Count == 1 ? u"" : Str;
}

int32_t TqzStringsPadding::RightPosL(const AnsiString& Z, const AnsiString& Text) { return LastCharPos(Z, Text); }
int32_t TqzStringsPadding::RightPosWL(const UnicodeString& Z, const UnicodeString& Text) { return LastCharPos(Z, Text); }
int32_t TqzStringsPadding::RightPos(const AnsiString& Z, const AnsiString& Text) {
  const int32_t p = LastCharPos(Z, Text);
  return p < 0 ? -1 : static_cast<int32_t>(Text.size()) + 1 - p;
}
int32_t TqzStringsPadding::RightPosW(const UnicodeString& Z, const UnicodeString& Text) {
  const int32_t p = LastCharPos(Z, Text);
  return p < 0 ? -1 : static_cast<int32_t>(Text.size()) + 1 - p;
}

int32_t TqzStringsPadding::LastPos(const AnsiString& SubStr, const AnsiString& S) {
  if (SubStr.empty() || SubStr.size() > S.size()) return 0;
  const auto p = S.rfind(SubStr);
  return p == AnsiString::npos ? 0 : static_cast<int32_t>(p + 1);
}

int32_t TqzStringsPadding::OptPos(const TAnsiStrings& SubStr, const AnsiString& S) {
  int32_t result = -1;
  const int n = SubStr.Count();
  for (int i = 0; i < n; ++i) {
    result = FirstPos(S, SubStr.Get(i));
    const int32_t next = i + 1 < n ? FirstPos(S, SubStr.Get(i + 1)) : result;
    if (result > 0 && (next >= result || next <= 0)) break;
  }
  return result;
}

int32_t TqzStringsPadding::PartPos(const UnicodeString& Source, const UnicodeString& CheckStr,
                                   const UnicodeString& Delimiter) {
  if (Delimiter.empty()) return -1;
  size_t start = 0;
  while (true) {
    const size_t p = Source.find(Delimiter, start);
    if (p == UnicodeString::npos) return -1;
    const UnicodeString part = Source.substr(start, p - start) + Delimiter;
    start = p + Delimiter.size();
    const int32_t hit = FirstPos(CheckStr, part);
    if (hit > 0) return hit;
  }
}

AnsiString TqzStringsPadding::GetBetween(const AnsiString& Str, const AnsiString& F, const AnsiString& L) {
  return Between(Str, F, L, [&](size_t from) { return L.empty() ? AnsiString::npos : Str.find(L, from); });
}

// The closing mark is the last occurrence of L, which must be one UTF-16 unit, found in the
// UTF-16 text itself so that characters outside the BMP cannot shift it.
UnicodeString TqzStringsPadding::GetBetweenW(const UnicodeString& Str, const UnicodeString& F, const UnicodeString& L) {
  const size_t last = L.size() == 1 ? Str.rfind(L[0]) : UnicodeString::npos;
  return Between(Str, F, L, [&](size_t from) { return last == UnicodeString::npos || last < from ? UnicodeString::npos : last; });
}

AnsiString TqzStringsPadding::CheckStringSuffix(const AnsiString& Str, const AnsiString& Suffix) {
  return CheckSuffix(Str, Suffix);
}
UnicodeString TqzStringsPadding::CheckStringSuffixW(const UnicodeString& Str, const UnicodeString& Suffix) {
  return CheckSuffix(Str, Suffix);
}

UnicodeString TqzStringsPadding::Add(const UnicodeString& Content, const UnicodeString& AddString, int32_t Pos) {
  if (Pos <= 0) return AddString + Content;
  if (static_cast<size_t>(Pos) >= Content.size()) return Content + AddString;
  return Content.substr(0, static_cast<size_t>(Pos)) + AddString + Content.substr(static_cast<size_t>(Pos));
}

UnicodeString TqzStringsPadding::FillEachPosition(const UnicodeString& Content, const UnicodeString& Element,
                                                  int32_t LetterCount, int32_t Times, bool FromBehind) {
  // Built in order and reversed at the end for FromBehind, so the work stays linear.
  UnicodeString out;
  UnicodeString elementReversed(Element.rbegin(), Element.rend());
  int32_t n = 0, j = 0;
  const size_t len = Content.size();
  for (size_t k = 0; k < len; ++k) {
    ++n;
    out.push_back(FromBehind ? Content[len - 1 - k] : Content[k]);
    if (n == LetterCount) {
      out += FromBehind ? elementReversed : Element;
      n = 0;
      ++j;
    }
    if (j >= Times) n = 0;
  }
  if (FromBehind) std::reverse(out.begin(), out.end());
  return out;
}

UnicodeString TqzStringsPadding::GetReplacerStringForReplaceEachElement(const UnicodeString& Content,
                                                                        const UnicodeString& ReplaceSign) {
  const auto commas = std::count(Content.begin(), Content.end(), u',');
  UnicodeString out = ReplaceSign;
  for (long i = 0; i < commas; ++i) out += u"," + ReplaceSign;
  return out;
}

bool TqzStringsPadding::SplitString(const AnsiString& Source, const AnsiString& SplitAt, TStrings& List) {
  return Split(Source, SplitAt, [&](const AnsiString& piece) { List.Add(platform::AnsiToWide(piece)); });
}

bool TqzStringsPadding::SplitString(const AnsiString& Source, const AnsiString& SplitAt, TAnsiStrings& List) {
  return Split(Source, SplitAt, [&](const AnsiString& piece) { List.Add(piece); });
}

bool TqzStringsPadding::SplitStringW(const UnicodeString& Source, const UnicodeString& SplitAt, TStrings& List) {
  return Split(Source, SplitAt, [&](const UnicodeString& piece) { List.Add(piece); });
}

bool TqzStringsPadding::SplitFirstString(const AnsiString& Source, const AnsiString& SplitAt, AnsiString& Left,
                                         AnsiString& Right) {
  return SplitFirst(Source, SplitAt, Left, Right);
}

bool TqzStringsPadding::SplitFirstStringW(const UnicodeString& Source, const UnicodeString& SplitAt,
                                          UnicodeString& Left, UnicodeString& Right) {
  return SplitFirst(Source, SplitAt, Left, Right);
}

bool TqzStringsPadding::SplitAfterLastNumber(const UnicodeString& Content, UnicodeString& StringBefore,
                                             UnicodeString& StringBehind, bool AllowTypicleTypeSeparators,
                                             int32_t TypeId) {
  UnicodeString chars = u"1234567890";
  if (AllowTypicleTypeSeparators && TypeId == 5) chars += u".,";
  if (AllowTypicleTypeSeparators && TypeId == 2) chars += u".-/";
  const auto p = Content.find_last_of(chars);
  if (p == UnicodeString::npos) return false;
  StringBefore = Content.substr(0, p + 1);
  StringBehind = Content.substr(p + 1);
  return true;
}

bool TqzStringsPadding::SplitBeforeFirstNumber(const UnicodeString& Content, UnicodeString& StringBefore,
                                               UnicodeString& StringBehind) {
  const auto p = Content.find_first_of(u"0123456789");
  if (p == UnicodeString::npos) return false;
  StringBefore = Content.substr(0, p);
  StringBehind = Content.substr(p);
  return true;
}

// The start test and the cut work on the same, untrimmed text: a text with leading blanks keeps
// its characters instead of losing the flag's length of them.
UnicodeString TqzStringsPadding::DeleteFlagWhenBeginOrEnd(const UnicodeString& Content, const UnicodeString& Flag,
                                                          TSEARCH_TYPE Pos_id) {
  if (Flag.empty()) return Content;
  UnicodeString out = Content;
  if ((Pos_id == FIRST_POS || Pos_id == EACH_POS) && TqzStrings::BeginWith(out, Flag, false, false))
    out.erase(0, Flag.size());
  if ((Pos_id == LAST_POS || Pos_id == EACH_POS) && TqzStrings::EndsWith(out, Flag, false))
    out.erase(out.size() - Flag.size());
  return out;
}

AnsiString TqzStringsPadding::DeleteFlagWhenBeginOrEndA(const AnsiString& Content, const AnsiString& Flag,
                                                        TSEARCH_TYPE Pos_id) {
  if (Flag.empty()) return Content;
  AnsiString out = Content;
  if ((Pos_id == FIRST_POS || Pos_id == EACH_POS) && out.compare(0, Flag.size(), Flag) == 0 && out.size() >= Flag.size())
    out.erase(0, Flag.size());
  if ((Pos_id == LAST_POS || Pos_id == EACH_POS) && out.size() >= Flag.size() &&
      out.compare(out.size() - Flag.size(), Flag.size(), Flag) == 0)
    out.erase(out.size() - Flag.size());
  return out;
}

int32_t TqzStringsPadding::GetWordCount(const UnicodeString& Content) {
  const UnicodeString trimmed = platform::Trim(Content);
  if (trimmed.empty()) return 0;
  const UnicodeString single = TqzStrings::RemoveMoreThenOneBlanks(trimmed);
  return static_cast<int32_t>(std::count(single.begin(), single.end(), u' ')) + 1;
}

int32_t TqzStringsPadding::GetWordCountAfter(const UnicodeString& Content, const UnicodeString& SearchElement,
                                             int32_t DefaultValue) {
  const int32_t p = TqzStrings::PosW(Content, SearchElement, 1, true);
  if (p < 1) return DefaultValue;
  return GetWordCount(Content.substr(static_cast<size_t>(p - 1) + SearchElement.size()));
}

int32_t TqzStringsPadding::GetIncludedElementCountW(const UnicodeString& Content, const TStrings& SearchElements) {
  int32_t count = 0;
  for (int i = 0; i < SearchElements.Count(); ++i) {
    if (TqzStrings::Contains(Content, SearchElements.Get(i), true)) ++count;
  }
  return count;
}

bool TqzStringsPadding::BeginWithOneOfElements(const UnicodeString& Content, const TStrings& BeginStrings,
                                               bool IgnoreCase, bool TrimBefore) {
  for (int i = 0; i < BeginStrings.Count(); ++i) {
    if (TqzStrings::BeginWith(Content, BeginStrings.Get(i), IgnoreCase, TrimBefore)) return true;
  }
  return false;
}

bool TqzStringsPadding::EndsWithOneOfElements(const UnicodeString& Content, const TStrings& EndStrings,
                                              bool IgnoreCase, bool TrimBefore) {
  const UnicodeString content = TrimBefore ? platform::Trim(Content) : Content;
  for (int i = 0; i < EndStrings.Count(); ++i) {
    const UnicodeString item = TrimBefore ? platform::Trim(EndStrings.Get(i)) : EndStrings.Get(i);
    if (TqzStrings::EndsWith(content, item, IgnoreCase)) return true;
  }
  return false;
}
