// Executable headers and Windows version resources, read straight from the file.
//
// Linux cannot load a Windows image as a module, so the version resource is found by walking the
// PE headers ourselves: section table, resource directory (type 16 "VERSION", id 1, first
// language), and the VS_VERSIONINFO tree inside the block. PE32 (x86) and PE32+ (x64, ARM64)
// images are both read; nothing is executed.
//
// Rewriting is done in place: a changed version block must have the size of the old one (the
// version tools only ever change bytes inside the block), it replaces the old block at its file
// offset whatever language the resource was compiled with, the optional header's checksum is
// recomputed when the image carries one, and the new file is written to a temporary file beside
// the old one and renamed over it, so a failure never leaves a half-written image.
//
// ReadExecutableHeader also recognises ELF files (the library itself and Linux programs).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Text.h"

namespace platform {

enum class ExecutableFormat { Pe, Elf };

struct ExecutableHeader {
  ExecutableFormat Format = ExecutableFormat::Pe;
  uint16_t Machine = 0;  // PE machine field (0x014C x86, 0x8664 x64, 0xAA64 ARM64) or ELF e_machine
  bool Is64Bit = false;  // PE32+ optional header / ELFCLASS64
};

inline constexpr uint16_t kPeMachineI386 = 0x014C;
inline constexpr uint16_t kPeMachineAmd64 = 0x8664;
inline constexpr uint16_t kPeMachineArm64 = 0xAA64;
inline constexpr uint16_t kElfMachineI386 = 3;
inline constexpr uint16_t kElfMachineX86_64 = 62;

// Reads the header of a PE or ELF file. Raises EInOutError when the file cannot be opened or is
// too short for the headers, and Exception("Invalid executable") when it is neither format.
ExecutableHeader ReadExecutableHeader(const std::string& path);

// Where a resource's data lies in a PE file.
struct PeResourceLocation {
  uint64_t FileOffset = 0;
  uint32_t Size = 0;
  uint16_t Language = 0;
};

// Finds resource `type`/`id` (first language entry) of a PE image. nullopt when the file is no
// PE image, has no resource directory or not this resource. Raises nothing.
std::optional<PeResourceLocation> FindPeResource(const std::string& path, uint16_t type, uint16_t id);

// The version resource (type 16, id 1) of a PE file; nullopt when there is none.
std::optional<std::vector<uint8_t>> ReadVersionResource(const std::string& path);

// Replaces the version resource's bytes with `block`, which must have exactly the old size.
// False when the file has no version resource, the size differs or the file cannot be written.
bool WriteVersionResource(const std::string& path, const std::vector<uint8_t>& block);

// ---------------------------------------------------------------------------------------------
// VS_VERSIONINFO blocks: a tree of nodes (length, value length, type, zero-terminated UTF-16 key,
// value, children), every part aligned to 4 bytes from the start of the block.

struct VersionNode {
  size_t Offset = 0;       // start of the node in the block
  size_t End = 0;          // Offset + wLength
  uint16_t ValueLength = 0;  // as stored: bytes for binary values, characters for text values
  uint16_t Type = 0;       // 1 text, 0 binary
  UnicodeString Key;
  size_t ValueOffset = 0;  // start of the value
  size_t ValueSpace = 0;   // bytes from ValueOffset available for the value (to the first child / node end)
  std::vector<VersionNode> Children;
};

class VersionBlock {
 public:
  // Parses the block; raises Exception("invalid version resource") when it is malformed.
  explicit VersionBlock(std::vector<uint8_t> data);

  const std::vector<uint8_t>& Data() const { return data_; }
  const VersionNode& Root() const { return root_; }

  // The fixed part (VS_FIXEDFILEINFO); false when the block has none or its signature is wrong.
  bool FixedInfoOffset(size_t& offset) const;
  uint32_t ReadU32(size_t offset) const;
  void WriteU32(size_t offset, uint32_t value);

  // The translation pairs of "\VarFileInfo\Translation" (language, code page).
  std::vector<std::pair<uint16_t, uint16_t>> Translations() const;

  // The string value `name` of the string table "LLLLCCCC" (hexadecimal language and code page),
  // keys compared ignoring case as the system's version query does. nullptr when missing.
  const VersionNode* FindString(uint16_t language, uint16_t codePage, std::u16string_view name) const;
  // The text of a string value, up to its first zero character.
  UnicodeString StringValue(const VersionNode& node) const;
  // Characters a string value can hold, its terminating zero included.
  size_t StringCapacity(const VersionNode& node) const;
  // Overwrites a string value: clears its space and writes `text` with a terminating zero.
  // False (nothing changed) when the text does not fit.
  bool SetStringValue(const VersionNode& node, std::u16string_view text);

 private:
  VersionNode ParseNode(size_t offset, size_t limit, int depth) const;
  std::vector<uint8_t> data_;
  VersionNode root_;
};

}  // namespace platform
