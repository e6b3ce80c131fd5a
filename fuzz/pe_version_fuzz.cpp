// PE files and their version resources: the header reader, the resource walk, and the
// VS_VERSIONINFO tree of the block (also of the raw input taken as a block).
#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "PeFile.h"

namespace {

void ReadBlock(std::vector<uint8_t> data) {
  try {
    platform::VersionBlock block(std::move(data));
    size_t fixed = 0;
    if (block.FixedInfoOffset(fixed)) block.ReadU32(fixed + 8);
    for (auto [language, codePage] : block.Translations()) {
      for (const char16_t* name : {u"CompanyName", u"ProductVersion", u"Comment"}) {
        if (const platform::VersionNode* node = block.FindString(language, codePage, name)) {
          const UnicodeString text = block.StringValue(*node);
          block.SetStringValue(*node, text.substr(0, block.StringCapacity(*node) / 2));
        }
      }
    }
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadBlock(std::vector<uint8_t>(data, data + size));
  static const std::string path = qzfuzz::InputFilePath(".dll");
  if (!qzfuzz::WriteInputFile(path, data, size)) return 0;
  try {
    platform::ReadExecutableHeader(path);
  } catch (const Exception&) {
  }
  platform::FindPeResource(path, 16, 1);
  if (auto block = platform::ReadVersionResource(path)) {
    ReadBlock(*block);
    platform::WriteVersionResource(path, *block);
  }
  ::unlink(path.c_str());
  return 0;
}
