// The one module that converts between UTF-16 and the 8-bit code pages.
//
// ANSI is Windows-1252, with the Windows mapping of its five undefined bytes (0x81, 0x8D, 0x8F,
// 0x90, 0x9D map to U+0081 ... and back). Characters without a mapping become "?".
// OEM is code page 850. UTF-8 decoding replaces invalid sequences with U+FFFD; encoding replaces
// unpaired surrogates with U+FFFD.
#pragma once

#include "Text.h"

namespace platform {

UnicodeString AnsiToWide(std::string_view ansi);
AnsiString WideToAnsi(std::u16string_view text);
char16_t AnsiCharToWide(unsigned char c);
// The Windows-1252 byte of one UTF-16 unit, or '?' when it has none.
char WideCharToAnsi(char16_t c);

UnicodeString OemToWide(std::string_view oem);
AnsiString WideToOem(std::u16string_view text);

UnicodeString Utf8ToWide(std::string_view utf8);
// Appends the UTF-16 of `utf8` to `out` (malformed bytes as U+FFFD, as Utf8ToWide).
void AppendUtf8ToWide(UnicodeString& out, std::string_view utf8);
Utf8String WideToUtf8(std::u16string_view text);

// 8-bit conversions between the ANSI code page and UTF-8.
Utf8String AnsiToUtf8(std::string_view ansi);
AnsiString Utf8ToAnsi(std::string_view utf8);

// True when the text is well-formed UTF-8.
bool IsValidUtf8(std::string_view utf8);

}  // namespace platform
