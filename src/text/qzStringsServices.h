// TqzStrings family: identifiers, compressed text, placeholders, quoted-printable, HTML to text.
#pragma once

#include <cstddef>
#include <string_view>

#include "Text.h"

class TqzStringsServices {
 public:
  TqzStringsServices() = delete;

  // Compressed text form: a zlib stream (level 9, 32 KB window, memory level 8, default
  // strategy) whose inflated content is the byte count as a signed 32-bit little-endian number
  // followed by the bytes. The result begins with the zlib header 0x78 0xDA.
  static AnsiString CompressString(std::string_view S);

  // Default bound on the byte count that a compressed value may declare.
  static constexpr size_t DefaultMaxDecompressedSize = size_t(256) << 20;

  // Inflates a compressed value and returns exactly the number of bytes that its count declares;
  // bytes after them are ignored. Raises EZlibError for a stream that is not valid zlib data, a
  // content that ends before its count or its bytes, a negative count, or a count above
  // MaxSize (checked before anything is allocated).
  static AnsiString DecompressString(std::string_view S, size_t MaxSize = DefaultMaxDecompressedSize);
};
