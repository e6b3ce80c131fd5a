// Case mapping and comparison of texts.
//
// UpperW/LowerW map one UTF-16 unit at a time with ICU's simple case mapping: the length never
// changes and characters whose upper case is more than one character (ß) stay as they are.
// The Ansi variants go through Windows-1252. The Ascii variants touch only a-z / A-Z.
// CompareTextW/CompareStrW order texts by the process locale's collation (ICU) and break ties by
// code units, so both are strict weak orderings and only equal texts compare equal
// (CompareTextW: equal after UpperW).
#pragma once

#include "Text.h"

namespace platform {

char16_t UpperChar(char16_t c);
char16_t LowerChar(char16_t c);
UnicodeString UpperW(std::u16string_view text);
UnicodeString LowerW(std::u16string_view text);

AnsiString UpperAnsi(std::string_view text);
AnsiString LowerAnsi(std::string_view text);

std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
UnicodeString UpperAscii(std::u16string_view text);
UnicodeString LowerAscii(std::u16string_view text);

// Locale-aware comparisons: < 0, 0, > 0.
int CompareTextW(std::u16string_view a, std::u16string_view b);  // ignoring case
int CompareStrW(std::u16string_view a, std::u16string_view b);   // case-sensitive
bool SameTextW(std::u16string_view a, std::u16string_view b);    // UpperW(a) == UpperW(b)
int CompareTextA(std::string_view a, std::string_view b);        // through Windows-1252
int CompareStrA(std::string_view a, std::string_view b);
bool SameTextA(std::string_view a, std::string_view b);

// Ordinal comparison of code units (no locale).
int CompareOrdinalW(std::u16string_view a, std::u16string_view b);

}  // namespace platform
