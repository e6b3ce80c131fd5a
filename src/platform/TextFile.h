// Text as it stands in files written by Windows tools: UTF-16 in either byte order, byte-order
// marks, and lines ended by CR, LF or CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Text.h"

namespace platform {

// UTF-16 code units from pairs of bytes in the given order; an odd last byte is dropped.
UnicodeString Utf16BytesToWide(std::string_view bytes, bool bigEndian);
// The UTF-16 code units as pairs of bytes in the given order (no byte-order mark).
std::string WideToUtf16Bytes(std::u16string_view text, bool bigEndian);

// The text of a file: a byte-order mark selects UTF-16 LE, UTF-16 BE or UTF-8; without one the
// bytes are read as UTF-8 when they are well-formed UTF-8, else as ANSI (Windows-1252).
// `hadBom`, when given, tells whether a mark was there.
UnicodeString DecodeTextFileBytes(std::string_view bytes, bool* hadBom = nullptr);

// The lines of a text: a line ends at CR, LF or CR LF; a last line without an end counts when it
// is not empty.
std::vector<UnicodeString> SplitTextLines(std::u16string_view text);

}  // namespace platform
