// Helpers shared by the fuzz targets: the input as the text types the parsers take.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "Text.h"
#include "TextFile.h"

namespace qzfuzz {

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The input read as a text file is read: byte-order marks, UTF-8, else Windows-1252. Seeds can
// so be plain text files, and every UTF-16 text is still reachable.
inline UnicodeString Wide(const uint8_t* data, size_t size) {
  return platform::DecodeTextFileBytes(Bytes(data, size));
}

// The input cut at the first line end: the head selects options, the rest is the text.
inline std::pair<std::string_view, std::string_view> HeadAndRest(std::string_view in) {
  size_t nl = in.find('\n');
  if (nl == std::string_view::npos) return {std::string_view(), in};
  return {in.substr(0, nl), in.substr(nl + 1)};
}

// For parsers that read files: writes the input to `path` (from InputFilePath, one file per
// process); false when it cannot be written. The caller removes it.
inline bool WriteInputFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

inline std::string InputFilePath(const char* suffix) {
  return "/tmp/qzfuzz-" + std::to_string(::getpid()) + suffix;
}

}  // namespace qzfuzz
