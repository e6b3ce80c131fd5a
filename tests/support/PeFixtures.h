// Windows PE test images, built at test time with the LLVM resource compiler and linker
// (llvm-rc, lld-link; Debian may add a version suffix), and the python3 "pefile" oracle.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qztest {

struct PeFixtureOptions {
  std::string Machine = "x64";  // lld-link /machine: x86, x64, arm64
  uint16_t FileVersion[4] = {2, 1, 0, 7};
  uint16_t ProductVersion[4] = {2, 1, 0, 7};
  uint16_t Language = 0x0407;
  uint16_t CodePage = 1252;
  bool WithVersionResource = true;
  bool WithTranslation = true;
  // Version strings (UTF-8), in order; a value ending in "\0" is written so in the .rc file.
  std::vector<std::pair<std::string, std::string>> Strings;
  // Further string tables, each listed in the translation after the first.
  struct Table {
    uint16_t Language = 0;
    uint16_t CodePage = 0;
    std::vector<std::pair<std::string, std::string>> Strings;
  };
  std::vector<Table> MoreTables;
};

// Empty when the tools are there; otherwise what is missing.
std::string PeToolsMissing();

// Builds `dir`/`name` (a DLL) from the options; raises std::runtime_error with the tool's output
// when a tool fails.
std::string BuildPeFixture(const std::string& dir, const std::string& name, const PeFixtureOptions& options);

// The bytes of the version resource as llvm-readobj --coff-resources dumps them.
std::vector<uint8_t> ReadobjVersionResource(const std::string& file);

}  // namespace qztest
