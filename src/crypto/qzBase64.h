// The library's Base64 text form (RFC 2045 alphabet "A-Z a-z 0-9 + /", "=" padding).
//
// Writing: every 3 bytes give 4 symbols; a last group of 1 or 2 bytes gives 2 or 3 symbols and
// "==" or "=", so the text is always whole 4-symbol groups. With Format true the text is cut into
// lines of 76 symbols (57 input bytes) joined by CR LF; no CR LF follows the last line.
//
// Reading never fails: every byte outside the 64 symbols ("=", CR, LF, blanks, anything else) is
// skipped wherever it stands, also after padding. The symbols are taken four at a time (3 bytes);
// a trailing group of 3 symbols gives 2 bytes, of 2 symbols 1 byte, a lone symbol nothing.
//
// Every page file of an archive request passes through here, so both directions work on whole
// blocks with lookup tables and write straight into a pre-sized result.
#pragma once

#include <cstddef>
#include <string_view>

#include "Text.h"

class TqzBase64 {
 public:
  TqzBase64() = delete;

  static AnsiString StrToBase64(std::string_view InText, bool Format = false);
  static AnsiString Base64ToStr(std::string_view InText);

  // Raw-buffer forms of the two operations for callers that stream. EncodedLength gives the
  // exact size EncodeTo writes; DecodeTo needs room for DecodedMaxLength bytes and returns the
  // count it wrote.
  static std::size_t EncodedLength(std::size_t byteCount, bool Format);
  static void EncodeTo(const void* data, std::size_t byteCount, bool Format, char* out);
  static std::size_t DecodedMaxLength(std::size_t textLength) { return textLength / 4 * 3 + 3; }
  static std::size_t DecodeTo(const char* text, std::size_t textLength, void* out);
};

namespace qzInternal {

// The cipher and script-lock codecs call this copy; it behaves exactly as ::TqzBase64.
class TqzBase64 {
 public:
  TqzBase64() = delete;
  static AnsiString StrToBase64(std::string_view InText, bool Format = false) {
    return ::TqzBase64::StrToBase64(InText, Format);
  }
  static AnsiString Base64ToStr(std::string_view InText) { return ::TqzBase64::Base64ToStr(InText); }
};

}  // namespace qzInternal
