#include "CaseMap.h"

#include <unicode/coll.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

#include "CodePage.h"

namespace platform {

char16_t UpperChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const UChar32 u = u_toupper(c);
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

char16_t LowerChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const UChar32 u = u_tolower(c);
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

UnicodeString UpperW(std::u16string_view text) {
  UnicodeString out(text);
  for (auto& c : out) c = UpperChar(c);
  return out;
}

UnicodeString LowerW(std::u16string_view text) {
  UnicodeString out(text);
  for (auto& c : out) c = LowerChar(c);
  return out;
}

AnsiString UpperAnsi(std::string_view text) {
  AnsiString out(text);
  for (auto& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      if (b >= 'a' && b <= 'z') c = static_cast<char>(b - 32);
    } else {
      c = WideCharToAnsi(UpperChar(AnsiCharToWide(b)));
      // A character whose upper case has no ANSI byte stays as it is.
      if (c == '?' && b != '?') c = static_cast<char>(b);
    }
  }
  return out;
}

AnsiString LowerAnsi(std::string_view text) {
  AnsiString out(text);
  for (auto& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      if (b >= 'A' && b <= 'Z') c = static_cast<char>(b + 32);
    } else {
      c = WideCharToAnsi(LowerChar(AnsiCharToWide(b)));
      if (c == '?' && b != '?') c = static_cast<char>(b);
    }
  }
  return out;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (auto& c : out) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (auto& c : out) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

UnicodeString UpperAscii(std::u16string_view text) {
  UnicodeString out(text);
  for (auto& c : out) if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

UnicodeString LowerAscii(std::u16string_view text) {
  UnicodeString out(text);
  for (auto& c : out) if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return out;
}

int CompareOrdinalW(std::u16string_view a, std::u16string_view b) {
  const int r = a.compare(b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

namespace {

// One collator per thread (ICU collators are cheap to clone; sharing one across threads would
// need a lock). Null when ICU cannot give one: comparisons then fall back to code units.
icu::Collator* ThreadCollator(bool ignoreCase) {
  thread_local std::unique_ptr<icu::Collator> tertiary;
  thread_local std::unique_ptr<icu::Collator> secondary;
  thread_local bool made = false;
  if (!made) {
    made = true;
    UErrorCode status = U_ZERO_ERROR;
    tertiary.reset(icu::Collator::createInstance(icu::Locale::getDefault(), status));
    if (U_FAILURE(status)) tertiary.reset();
    if (tertiary) {
      secondary.reset(tertiary->clone());
      if (secondary) secondary->setStrength(icu::Collator::SECONDARY);
    }
  }
  return ignoreCase ? secondary.get() : tertiary.get();
}

int Collate(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  icu::Collator* coll = ThreadCollator(ignoreCase);
  if (!coll) return 0;
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r = coll->compare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                                           reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()),
                                           status);
  if (U_FAILURE(status)) return 0;
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

}  // namespace

int CompareTextW(std::u16string_view a, std::u16string_view b) {
  const UnicodeString ua = UpperW(a);
  const UnicodeString ub = UpperW(b);
  if (ua == ub) return 0;
  const int r = Collate(ua, ub, true);
  return r != 0 ? r : CompareOrdinalW(ua, ub);
}

int CompareStrW(std::u16string_view a, std::u16string_view b) {
  if (a == b) return 0;
  const int r = Collate(a, b, false);
  return r != 0 ? r : CompareOrdinalW(a, b);
}

bool SameTextW(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
  }
  return true;
}

int CompareTextA(std::string_view a, std::string_view b) { return CompareTextW(AnsiToWide(a), AnsiToWide(b)); }
int CompareStrA(std::string_view a, std::string_view b) { return CompareStrW(AnsiToWide(a), AnsiToWide(b)); }
bool SameTextA(std::string_view a, std::string_view b) { return SameTextW(AnsiToWide(a), AnsiToWide(b)); }

}  // namespace platform
