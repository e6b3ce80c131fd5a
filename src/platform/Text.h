// Text types shared by the whole library.
//
//   UnicodeString  UTF-16 text (names, paths, user texts); never wchar_t, which is 32-bit here.
//   AnsiString     8-bit text in the ANSI code page (Windows-1252 bytes): wire data, file
//                  contents, Base64 and cipher texts. Conversions go through CodePage.h.
//   Utf8String     UTF-8 text, named as such wherever it is used (configuration text, URL values).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using UnicodeString = std::u16string;
using AnsiString = std::string;
using Utf8String = std::string;

namespace platform {

// Widens a 7-bit ASCII text (literals, numbers) to UTF-16. Bytes above 0x7F are taken as Latin-1.
inline UnicodeString ToU16(std::string_view ascii) {
  UnicodeString out;
  out.reserve(ascii.size());
  for (unsigned char c : ascii) out.push_back(static_cast<char16_t>(c));
  return out;
}

// Narrows a UTF-16 text that is known to hold only ASCII (numbers, fixed keywords).
// Characters above 0x7F become '?'.
inline std::string ToAscii(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace platform
