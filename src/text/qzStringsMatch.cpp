#include "qzStringsMatch.h"

#include <string_view>
#include <vector>

#include "CaseMap.h"
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
