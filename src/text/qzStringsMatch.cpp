#include "qzStringsMatch.h"

#include <string_view>
#include <vector>

#include "CaseMap.h"
#include "CodePage.h"
#include "Regex.h"
#include "SysUtils.h"
#include "qzMath.h"
#include "qzStringsSearch.h"

namespace {

using View = std::u16string_view;

// Pattern tokens: a character code (0..0xFFFF), or one of the two signs.
constexpr int32_t kAnyRun = -1;
constexpr int32_t kOneChar = -2;

bool IsTrimmed(char16_t c) { return c <= 32; }

View TrimView(View s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

inline char16_t Fold(char16_t c, bool ignoreCase) {
  if (!ignoreCase) return c;
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return platform::UpperChar(c);
}

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Length in units of the character at s[i] (2 for a surrogate pair).
inline size_t CharLen(View s, size_t i) {
  return (IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) ? 2 : 1;
}

// Wildcard match of text against m tokens read through tok(i). Greedy, remembering only the
// last any-run sign: when a later piece fails, that run takes one more character and the rest is
// tried again. Earlier runs never need to grow, because whatever a later run could reach an
// earlier one can reach too, so this finds a match whenever one exists.
template <class Tok>
bool WildMatch(View text, size_t m, Tok&& tok, bool ignoreCase) {
  const size_t n = text.size();
  size_t s = 0;
  size_t p = 0;
  size_t starP = static_cast<size_t>(-1);
  size_t starS = 0;
  while (s < n) {
    if (p < m) {
      const int32_t t = tok(p);
      if (t == kOneChar) {
        s += CharLen(text, s);
        ++p;
        continue;
      }
      if (t == kAnyRun) {
        starP = p++;
        starS = s;
        continue;
      }
      if (static_cast<char16_t>(t) == Fold(text[s], ignoreCase)) {
        ++s;
        ++p;
        continue;
      }
    }
    if (starP == static_cast<size_t>(-1)) return false;
    starS += CharLen(text, starS);
    s = starS;
    p = starP + 1;
  }
  while (p < m && tok(p) == kAnyRun) ++p;
  return p == m;
}

bool MatchWithSigns(View text, View pattern, bool ignoreCase, View many, View one) {
  // The common case, signs of one character each, reads the pattern in place.
  if (many.size() <= 1 && one.size() <= 1) {
    const int32_t m = many.empty() ? -10 : many[0];
    const int32_t o = one.empty() ? -10 : one[0];
    return WildMatch(
        text, pattern.size(),
        [&](size_t i) -> int32_t {
          const char16_t c = pattern[i];
          if (c == m) return kAnyRun;
          if (c == o) return kOneChar;
          return Fold(c, ignoreCase);
        },
        ignoreCase);
  }
  std::vector<int32_t> tokens;
  tokens.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size();) {
    if (!many.empty() && pattern.substr(i, many.size()) == many) {
      tokens.push_back(kAnyRun);
      i += many.size();
    } else if (!one.empty() && pattern.substr(i, one.size()) == one) {
      tokens.push_back(kOneChar);
      i += one.size();
    } else {
      tokens.push_back(Fold(pattern[i], ignoreCase));
      ++i;
    }
  }
  return WildMatch(text, tokens.size(), [&](size_t i) { return tokens[i]; }, ignoreCase);
}

bool EqualsEx(View text, View pattern, bool trimBefore, bool ignoreCase, View many, View one) {
  if (trimBefore) {
    text = TrimView(text);
    pattern = TrimView(pattern);
  }
  if (many.empty() && one.empty()) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
      if (Fold(text[i], ignoreCase) != Fold(pattern[i], ignoreCase)) return false;
    return true;
  }
  return MatchWithSigns(text, pattern, ignoreCase, many, one);
}

}  // namespace

bool TqzStringsMatch::EqualsExW(const UnicodeString& String1, const UnicodeString& StringWithReplacer,
                                bool TrimBefore, bool IgnoreCase,
                                const UnicodeString& MoreVariableCharSign,
                                const UnicodeString& OneVariableCharSign) {
  const View one = OneVariableCharSign == MoreVariableCharSign ? View() : View(OneVariableCharSign);
  return EqualsEx(String1, StringWithReplacer, TrimBefore, IgnoreCase, MoreVariableCharSign, one);
}

bool TqzStringsMatch::EqualsExW(const UnicodeString& String1, const UnicodeString& StringWithReplacer,
                                bool TrimBefore, bool IgnoreCase, bool UseStar, bool UseUnderline) {
  return EqualsEx(String1, StringWithReplacer, TrimBefore, IgnoreCase, UseStar ? View(u"*") : View(),
                  UseUnderline ? View(u"_") : View());
}

bool TqzStringsMatch::EqualsExW(const UnicodeString& String1, const UnicodeString& StringWithReplacer,
                                bool TrimBefore, bool IgnoreCase, bool UseStar, bool UseUnderline,
                                int32_t& Percent) {
  const bool result = EqualsExW(String1, StringWithReplacer, TrimBefore, IgnoreCase, UseStar, UseUnderline);
  Percent = result ? 100 : 0;
  return result;
}

bool TqzStringsMatch::EqualsWithDistanceW(const UnicodeString& String1, const UnicodeString& String2,
                                          bool TrimBefore, bool IgnoreCase, double MaxDistance,
                                          double& Percent) {
  UnicodeString a = TrimBefore ? platform::Trim(String1) : String1;
  UnicodeString b = TrimBefore ? platform::Trim(String2) : String2;
  if (IgnoreCase) {
    a = platform::UpperW(a);
    b = platform::UpperW(b);
  }
  Percent = TqzMath::GetDamerauLevenshteinAccuracy(a, b);
  return Percent >= MaxDistance;
}

// --- Search-string templates ------------------------------------------------------------------

namespace {

constexpr std::u16string_view kPlaceholder = u"%SEARCH_STRING%";

bool StandsAt(View content, size_t at, View piece) {
  return at <= content.size() && content.substr(at, piece.size()) == piece;
}

// 0-based starts of the occurrences of search in content, overlapping ones included.
std::vector<size_t> Occurrences(View content, View search) {
  std::vector<size_t> out;
  if (search.empty()) return out;
  for (size_t p = content.find(search); p != View::npos; p = content.find(search, p + 1)) out.push_back(p);
  return out;
}

}  // namespace

int32_t TqzStringsMatch::CheckSearchStringWithStringTemplates(const UnicodeString& Content,
                                                              const UnicodeString& SearchText,
                                                              const TStrings& TemplateList) {
  // The filled templates and the offset of the placeholder in each; a template without the
  // placeholder says nothing about where the search text stands, so it covers nothing.
  struct Filled {
    UnicodeString text;
    size_t offset;
  };
  std::vector<Filled> templates;
  for (int k = 0; k < TemplateList.Count(); ++k) {
    const UnicodeString t = TemplateList.Get(k);
    const size_t off = t.find(kPlaceholder);
    if (off == UnicodeString::npos) continue;
    templates.push_back({TqzStringsSearch::ReplaceW(t, UnicodeString(kPlaceholder), SearchText), off});
  }
  const std::vector<size_t> found = Occurrences(Content, SearchText);
  for (size_t i = 0; i < found.size(); ++i) {
    bool covered = false;
    for (const Filled& f : templates) {
      if (found[i] < f.offset) continue;
      if (StandsAt(Content, found[i] - f.offset, f.text)) {
        covered = true;
        break;
      }
    }
    if (!covered) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

bool TqzStringsMatch::CheckStringTemplate(const UnicodeString& Content, const UnicodeString& Pre,
                                          const UnicodeString& SearchText, const UnicodeString& Post,
                                          TSEARCH_TYPE SearchType) {
  const std::vector<size_t> found = Occurrences(Content, SearchText);
  if (found.empty()) return true;
  auto inside = [&](size_t at) {
    return at >= Pre.size() && StandsAt(Content, at - Pre.size(), Pre) &&
           StandsAt(Content, at + SearchText.size(), Post);
  };
  switch (SearchType) {
    case FIRST_POS:
      return inside(found.front());
    case LAST_POS:
      return inside(found.back());
    case EACH_POS:
      break;
  }
  for (size_t at : found)
    if (!inside(at)) return false;
  return true;
}

// --- Regular expressions ----------------------------------------------------------------------

namespace {

bool IsBlank(View s) {
  for (char16_t c : s)
    if (c > 32) return false;
  return true;
}

// The first match of the expression in content that is not blank; empty when none.
UnicodeString FirstNonBlankMatch(View expression, View content) {
  UnicodeString out;
  platform::Regex::Get(expression)->ForEachMatch(content, [&](const platform::RegexMatch& m) {
    if (IsBlank(m.Text())) return true;
    out = UnicodeString(m.Text());
    return false;
  });
  return out;
}

}  // namespace

bool TqzStringsMatch::CheckRegularExpressionOnStr(const UnicodeString& Pattern, const UnicodeString& Content) {
  return !FirstNonBlankMatch(Pattern, Content).empty();
}

bool TqzStringsMatch::EqualsRegExW(const UnicodeString& String1, const UnicodeString& StringWithPattern,
                                   int32_t& Percent) {
  Percent = 0;
  platform::RegexMatch m;
  if (!platform::Regex::Get(StringWithPattern)->FirstMatch(String1, m) || m.Length() == 0) return false;
  Percent = 100;
  return true;
}

TAnsiStrings& TqzStringsMatch::GetAllRegExResults(const AnsiString& Content, const AnsiString& RegEx,
                                                  TAnsiStrings& Results) {
  const UnicodeString content = platform::AnsiToWide(Content);
  platform::Regex::Get(platform::AnsiToWide(RegEx))->ForEachMatch(content, [&](const platform::RegexMatch& m) {
    if (!IsBlank(m.Text())) Results.Add(platform::WideToAnsi(m.Text()));
    return true;
  });
  return Results;
}

TStrings& TqzStringsMatch::GetAllRegExResults(const UnicodeString& Content, const UnicodeString& RegEx,
                                              TStrings& Results) {
  platform::Regex::Get(RegEx)->ForEachMatch(Content, [&](const platform::RegexMatch& m) {
    if (!IsBlank(m.Text())) Results.Add(UnicodeString(m.Text()));
    return true;
  });
  return Results;
}

UnicodeString TqzStringsMatch::GetFirstRegExResultAndIndexFromList(const UnicodeString& Content,
                                                                   const TStrings& RegExPhases, int32_t StartIndex,
                                                                   int32_t& FoundIndex) {
  FoundIndex = -1;
  for (int i = StartIndex < 0 ? 0 : StartIndex; i < RegExPhases.Count(); ++i) {
    const UnicodeString expression = RegExPhases.Get(i);
    if (IsBlank(expression)) continue;
    UnicodeString found = FirstNonBlankMatch(expression, Content);
    if (!found.empty()) {
      FoundIndex = i;
      return found;
    }
  }
  return UnicodeString();
}

UnicodeString TqzStringsMatch::GetFirstRegExResultAndIndexFromList(const UnicodeString& Content,
                                                                   const TStrings& RegExPhases, int32_t& FoundIndex) {
  return GetFirstRegExResultAndIndexFromList(Content, RegExPhases, 0, FoundIndex);
}

TStrings& TqzStringsMatch::GetFromRegularExpressionEx(const UnicodeString& SearchFragment,
                                                      const UnicodeString& Content, int32_t ElementNo,
                                                      int32_t /*FromCharNumber*/, int32_t /*ToCharNumber*/,
                                                      TStrings& Results) {
  TStringList groups;
  GetAllRegExResults(SearchFragment, u"[(]{1,1}[^(]{1,50}[)]{1,1}", groups);
  if (ElementNo > groups.Count()) throw Exception("elementNo not found...");
  UnicodeString before;
  UnicodeString after;
  for (int g = 0; g < groups.Count(); ++g) {
    if (g + 1 < ElementNo) before += groups[g];
    if (g + 1 > ElementNo) after += groups[g];
  }
  GetAllRegExResults(Content, SearchFragment, Results);
  // A group at either end has nothing before or after it: that side is left alone.
  for (int i = 0; i < Results.Count(); ++i) {
    UnicodeString entry = Results.Get(i);
    if (!before.empty())
      entry = TqzStringsPadding::DeleteFlagWhenBeginOrEnd(entry, FirstNonBlankMatch(before, entry), FIRST_POS);
    if (!after.empty())
      entry = TqzStringsPadding::DeleteFlagWhenBeginOrEnd(entry, FirstNonBlankMatch(after, entry), LAST_POS);
    Results.Put(i, entry);
  }
  return Results;
}

TStrings& TqzStringsMatch::GetFromRegularExpressionEx(const AnsiString& SearchFragment, const AnsiString& Content,
                                                      int32_t ElementNo, int32_t FromCharNumber,
                                                      int32_t ToCharNumber, TStrings& Results) {
  return GetFromRegularExpressionEx(platform::AnsiToWide(SearchFragment), platform::AnsiToWide(Content), ElementNo,
                                    FromCharNumber, ToCharNumber, Results);
}
