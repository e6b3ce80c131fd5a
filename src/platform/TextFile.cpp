#include "TextFile.h"

#include "CodePage.h"

namespace platform {

UnicodeString Utf16BytesToWide(std::string_view bytes, bool bigEndian) {
  UnicodeString out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
  }
  return out;
}

std::string WideToUtf16Bytes(std::u16string_view text, bool bigEndian) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    const char lo = static_cast<char>(c & 0xFF);
    const char hi = static_cast<char>(c >> 8);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

UnicodeString DecodeTextFileBytes(std::string_view bytes, bool* hadBom) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (hadBom) *hadBom = true;
  if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE) return Utf16BytesToWide(bytes.substr(2), false);
  if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF) return Utf16BytesToWide(bytes.substr(2), true);
  if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) return Utf8ToWide(bytes.substr(3));
  if (hadBom) *hadBom = false;
  return IsValidUtf8(bytes) ? Utf8ToWide(bytes) : AnsiToWide(bytes);
}

std::vector<UnicodeString> SplitTextLines(std::u16string_view text) {
  std::vector<UnicodeString> lines;
  UnicodeString cur;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines.push_back(std::move(cur));
      cur.clear();
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back(std::move(cur));
  return lines;
}

}  // namespace platform
