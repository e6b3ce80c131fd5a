#include "CodePage.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>

namespace platform {
namespace {

// Windows-1252 bytes 0x80..0x9F. The five bytes Windows leaves undefined map to the C1 controls.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 850, bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> kCp850High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};

// Reverse table for code page 850: built once, 64K entries of the byte (0 = none).
const std::array<unsigned char, 65536>& Cp850Reverse() {
  static const auto table = [] {
    std::array<unsigned char, 65536> t{};
    for (int i = 0; i < 128; ++i) t[kCp850High[i]] = static_cast<unsigned char>(0x80 + i);
    return t;
  }();
  return table;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `i`; advances `i`. Returns U+FFFD for an invalid sequence
// (consuming one byte, so decoding always makes progress).
char32_t DecodeUtf8(std::string_view s, size_t& i, bool& ok) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  ok = true;
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2; cp = b0 & 0x1F; min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3; cp = b0 & 0x0F; min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4; cp = b0 & 0x07; min = 0x10000;
  } else {
    ++i; ok = false;
    return 0xFFFD;
  }
  if (i + len > s.size()) {
    ++i; ok = false;
    return 0xFFFD;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i; ok = false;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i; ok = false;
    return 0xFFFD;
  }
  i += len;
  return cp;
}

}  // namespace

char16_t AnsiCharToWide(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F) return kCp1252High[c - 0x80];
  return c;
}

char WideCharToAnsi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

UnicodeString AnsiToWide(std::string_view ansi) {
  UnicodeString out(ansi.size(), u'\0');
  for (size_t i = 0; i < ansi.size(); ++i) out[i] = AnsiCharToWide(static_cast<unsigned char>(ansi[i]));
  return out;
}

AnsiString WideToAnsi(std::u16string_view text) {
  AnsiString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // A surrogate pair is one character: it becomes one "?".
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(WideCharToAnsi(c));
  }
  return out;
}

UnicodeString OemToWide(std::string_view oem) {
  UnicodeString out(oem.size(), u'\0');
  for (size_t i = 0; i < oem.size(); ++i) {
    const auto c = static_cast<unsigned char>(oem[i]);
    out[i] = c < 0x80 ? c : kCp850High[c - 0x80];
  }
  return out;
}

AnsiString WideToOem(std::u16string_view text) {
  const auto& rev = Cp850Reverse();
  AnsiString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (rev[c] != 0) {
      out.push_back(static_cast<char>(rev[c]));
    } else {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
      out.push_back('?');
    }
  }
  return out;
}

namespace {

// Decodes UTF-8 from `utf8` at `i` into `w` until the input ends or fewer than two units of room
// are left before `end`; returns the end of what was written. Runs of ASCII are copied without
// decoding; a malformed byte becomes U+FFFD.
char16_t* DecodeUtf8Run(std::string_view utf8, size_t& i, char16_t* w, char16_t* end) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  bool ok = true;
  while (i < n && end - w >= 2) {
    if (bytes[i] < 0x80) {
#if defined(__SSE2__)
      // Sixteen ASCII bytes at a time, widened with zeros.
      const __m128i zero = _mm_setzero_si128();
      while (n - i >= 16 && end - w >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        if (_mm_movemask_epi8(v) != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 8), _mm_unpackhi_epi8(v, zero));
        i += 16;
        w += 16;
      }
      if (i == n || end - w < 2) break;
      if (bytes[i] >= 0x80) continue;
#endif
      *w++ = bytes[i++];
      continue;
    }
    const char32_t cp = DecodeUtf8(utf8, i, ok);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      *w++ = static_cast<char16_t>(0xD800 + (v >> 10));
      *w++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      *w++ = static_cast<char16_t>(cp);
    }
  }
  return w;
}

}  // namespace

UnicodeString Utf8ToWide(std::string_view utf8) {
  // Every byte gives at most one UTF-16 unit (a 4-byte sequence gives two), so the result is
  // sized once and written in place (one unit of slack for the two-unit check).
  UnicodeString out;
  out.resize(utf8.size() + 1);
  size_t i = 0;
  char16_t* w = DecodeUtf8Run(utf8, i, out.data(), out.data() + out.size());
  out.resize(static_cast<size_t>(w - out.data()));
  return out;
}

void AppendUtf8ToWide(UnicodeString& out, std::string_view utf8) {
  // Decoded through a small buffer and appended: the result's reserved room is never zeroed.
  char16_t units[4096];
  size_t i = 0;
  while (i < utf8.size()) {
    char16_t* w = DecodeUtf8Run(utf8, i, units, units + std::size(units));
    out.append(units, static_cast<size_t>(w - units));
  }
}

Utf8String WideToUtf8(std::u16string_view text) {
  Utf8String out;
  out.reserve(text.size() + text.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
        ++i;
      } else {
        AppendUtf8(out, 0xFFFD);
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

Utf8String AnsiToUtf8(std::string_view ansi) { return WideToUtf8(AnsiToWide(ansi)); }
AnsiString Utf8ToAnsi(std::string_view utf8) { return WideToAnsi(Utf8ToWide(utf8)); }

bool IsValidUtf8(std::string_view utf8) {
  size_t i = 0;
  bool ok = true;
  while (i < utf8.size()) {
    DecodeUtf8(utf8, i, ok);
    if (!ok) return false;
  }
  return true;
}

}  // namespace platform
