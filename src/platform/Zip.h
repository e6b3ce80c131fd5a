// Zip archives through libzip: reading items (stored, deflated, bzip2 and whatever else the
// installed libzip decompresses) with limits against oversized and "bomb" items, and writing
// archives whose new items are deflated.
//
// Writing goes to a temporary file beside the archive that replaces it on Save, so a failure
// never leaves a half-written archive. Errors raise Exception with a message naming the archive,
// the item and the cause (an unsupported compression method is named, e.g. "PPMd (98)").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "Text.h"

namespace platform {

// Caps on what extraction writes: each item's size, the total of one extraction, and how many
// times larger than its compressed size an item may grow (0: no ratio check). An item may always
// grow by RatioAllowance bytes beyond the ratio, so small, very regular files pass.
struct ZipLimits {
  uint64_t MaxItemSize = uint64_t{1} << 30;
  uint64_t MaxTotalSize = uint64_t{1} << 30;
  uint64_t MaxRatio = 100;
  uint64_t RatioAllowance = uint64_t{1} << 20;
};
// The process-wide limits (defaults above); safe to call from any thread.
ZipLimits GetZipLimits();
void SetZipLimits(const ZipLimits& limits);

// The name of a zip compression method ("deflate (8)", "unknown (77)").
std::string ZipMethodName(int32_t method);

struct ZipItem {
  Utf8String Name;  // as stored ("/" separates folders; a folder item ends with "/")
  uint64_t Size = 0;
  uint64_t CompressedSize = 0;
  int32_t Method = 0;
  bool Encrypted = false;
  bool IsFolder() const { return !Name.empty() && Name.back() == '/'; }
};

class ZipArchive {
 public:
  enum class Mode { Read, Write };  // Write opens an existing archive or creates a new one
  ZipArchive(const std::string& utf8Path, Mode mode);
  ~ZipArchive();  // unsaved changes are discarded
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  int64_t Count() const;
  ZipItem Item(int64_t index) const;

  // Streams the item's data to `sink` in pieces. Raises for folders, encrypted items,
  // unsupported methods, damaged data (CRC) and items over the limits; `total` accumulates the
  // bytes of one extraction against MaxTotalSize.
  void Read(int64_t index, const std::function<void(const char*, size_t)>& sink, uint64_t& total) const;

  // Adds (or replaces) an item with the given bytes, deflated.
  void AddData(const Utf8String& name, std::string bytes);
  // Adds (or replaces) an item whose content is read from a file when the archive is saved.
  void AddFile(const Utf8String& name, const std::string& utf8File);
  void SetComment(const Utf8String& comment);
  // Writes the archive and closes it.
  void Save();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
