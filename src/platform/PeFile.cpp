#include "PeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"

namespace platform {

namespace {

// Reads up to n bytes at offset; returns how many were read.
size_t ReadAt(int fd, uint64_t offset, void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return done;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

bool ReadExact(int fd, uint64_t offset, void* buf, size_t n) { return ReadAt(fd, offset, buf, n) == n; }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

struct Section {
  uint32_t VirtualAddress, VirtualSize, RawSize, RawPointer;
};

// The parsed headers of a PE image that the resource walk needs.
struct PeLayout {
  uint64_t FileSize = 0;
  uint64_t ChecksumOffset = 0;
  uint32_t ResourceRva = 0, ResourceSize = 0;
  std::vector<Section> Sections;

  // File offset of an RVA range that lies inside one section's raw data.
  std::optional<uint64_t> RvaToOffset(uint32_t rva, uint32_t size) const {
    for (const Section& s : Sections) {
      uint32_t span = std::max(s.VirtualSize, s.RawSize);
      if (rva >= s.VirtualAddress && static_cast<uint64_t>(rva) < static_cast<uint64_t>(s.VirtualAddress) + span) {
        uint64_t delta = rva - s.VirtualAddress;
        if (delta + size > s.RawSize) return std::nullopt;
        uint64_t off = static_cast<uint64_t>(s.RawPointer) + delta;
        if (off + size > FileSize) return std::nullopt;
        return off;
      }
    }
    return std::nullopt;
  }
};

std::optional<PeLayout> ReadPeLayout(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  PeLayout layout;
  layout.FileSize = static_cast<uint64_t>(st.st_size);
  uint8_t dos[64];
  if (!ReadExact(fd, 0, dos, sizeof dos) || Le16(dos) != 0x5A4D) return std::nullopt;
  uint32_t peOffset = Le32(dos + 60);
  if (peOffset == 0 || peOffset > layout.FileSize) return std::nullopt;
  uint8_t coff[24];
  if (!ReadExact(fd, peOffset, coff, sizeof coff) || Le32(coff) != 0x00004550) return std::nullopt;
  uint16_t sectionCount = Le16(coff + 6);
  uint16_t optSize = Le16(coff + 20);
  uint64_t optOffset = static_cast<uint64_t>(peOffset) + 24;
  std::vector<uint8_t> opt(optSize);
  if (optSize < 96 || !ReadExact(fd, optOffset, opt.data(), optSize)) return std::nullopt;
  uint16_t magic = Le16(opt.data());
  size_t countAt, dirAt;
  if (magic == 0x10B) {
    countAt = 92;
    dirAt = 96;
  } else if (magic == 0x20B) {
    countAt = 108;
    dirAt = 112;
  } else {
    return std::nullopt;
  }
  layout.ChecksumOffset = optOffset + 64;
  if (countAt + 4 > optSize) return std::nullopt;
  uint32_t dirCount = Le32(opt.data() + countAt);
  if (dirCount > 2 && dirAt + 3 * 8 <= optSize) {
    layout.ResourceRva = Le32(opt.data() + dirAt + 16);
    layout.ResourceSize = Le32(opt.data() + dirAt + 20);
  }
  std::vector<uint8_t> table(static_cast<size_t>(sectionCount) * 40);
  if (!ReadExact(fd, optOffset + optSize, table.data(), table.size())) return std::nullopt;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = table.data() + static_cast<size_t>(i) * 40;
    layout.Sections.push_back({Le32(s + 12), Le32(s + 8), Le32(s + 16), Le32(s + 20)});
  }
  return layout;
}

std::optional<PeResourceLocation> FindResourceIn(int fd, const PeLayout& layout, uint16_t type, uint16_t id) {
  if (layout.ResourceRva == 0 || layout.ResourceSize < 16) return std::nullopt;
  auto base = layout.RvaToOffset(layout.ResourceRva, 16);
  if (!base) return std::nullopt;
  // The whole resource directory, bounded by what the section holds.
  uint64_t limit = std::min<uint64_t>(layout.ResourceSize, layout.FileSize - *base);
  std::vector<uint8_t> dir(static_cast<size_t>(limit));
  if (!ReadExact(fd, *base, dir.data(), dir.size())) return std::nullopt;

  // Entry of `wanted` (nullopt = first entry) in the directory at `at`: {offset-to-data, is-dir}.
  auto findEntry = [&](uint32_t at, std::optional<uint16_t> wanted) -> std::optional<std::pair<uint32_t, bool>> {
    if (static_cast<uint64_t>(at) + 16 > dir.size()) return std::nullopt;
    uint32_t named = Le16(dir.data() + at + 12);
    uint32_t ids = Le16(dir.data() + at + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
      uint64_t e = static_cast<uint64_t>(at) + 16 + static_cast<uint64_t>(i) * 8;
      if (e + 8 > dir.size()) return std::nullopt;
      uint32_t name = Le32(dir.data() + e);
      uint32_t target = Le32(dir.data() + e + 4);
      bool byName = (name & 0x80000000u) != 0;
      if (wanted && (byName || (name & 0xFFFF) != *wanted)) continue;
      return std::make_pair(target, (target & 0x80000000u) != 0);
    }
    return std::nullopt;
  };

  auto level1 = findEntry(0, type);
  if (!level1 || !level1->second) return std::nullopt;
  auto level2 = findEntry(level1->first & 0x7FFFFFFFu, id);
  if (!level2 || !level2->second) return std::nullopt;
  uint32_t langDir = level2->first & 0x7FFFFFFFu;
  if (static_cast<uint64_t>(langDir) + 24 > dir.size()) return std::nullopt;
  auto level3 = findEntry(langDir, std::nullopt);
  if (!level3 || level3->second) return std::nullopt;
  uint16_t language = static_cast<uint16_t>(Le32(dir.data() + langDir + 16) & 0xFFFF);
  uint32_t dataEntry = level3->first;
  if (static_cast<uint64_t>(dataEntry) + 16 > dir.size()) return std::nullopt;
  uint32_t dataRva = Le32(dir.data() + dataEntry);
  uint32_t dataSize = Le32(dir.data() + dataEntry + 4);
  auto off = layout.RvaToOffset(dataRva, dataSize);
  if (!off) return std::nullopt;
  return PeResourceLocation{*off, dataSize, language};
}

uint32_t PeChecksum(const std::vector<uint8_t>& file, uint64_t checksumOffset) {
  uint64_t sum = 0;
  size_t n = file.size();
  for (size_t i = 0; i < n; i += 2) {
    if (i == checksumOffset || i == checksumOffset + 2) continue;
    uint32_t word = file[i];
    if (i + 1 < n) word |= static_cast<uint32_t>(file[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + n);
}

}  // namespace

ExecutableHeader ReadExecutableHeader(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) throw EInOutError(u"Cannot open file \"" + Utf8ToWide(path) + u"\"");
  uint8_t head[64];
  size_t got = ReadAt(fd.get(), 0, head, sizeof head);
  if (got >= 20 && std::memcmp(head, "\x7F" "ELF", 4) == 0) {
    ExecutableHeader h;
    h.Format = ExecutableFormat::Elf;
    h.Is64Bit = head[4] == 2;
    bool bigEndian = head[5] == 2;
    h.Machine = bigEndian ? static_cast<uint16_t>((head[18] << 8) | head[19]) : Le16(head + 18);
    if (head[4] != 1 && head[4] != 2) throw Exception("Invalid executable");
    return h;
  }
  if (got < sizeof head) throw EInOutError("Stream read error");
  if (Le16(head) != 0x5A4D || Le32(head + 60) == 0) throw Exception("Invalid executable");
  uint32_t peOffset = Le32(head + 60);
  uint8_t nt[264];
  if (!ReadExact(fd.get(), peOffset, nt, sizeof nt)) throw EInOutError("Stream read error");
  if (Le32(nt) != 0x00004550) throw Exception("Invalid executable");
  ExecutableHeader h;
  h.Format = ExecutableFormat::Pe;
  h.Machine = Le16(nt + 4);
  h.Is64Bit = Le16(nt + 24) == 0x20B;
  return h;
}

std::optional<PeResourceLocation> FindPeResource(const std::string& path, uint16_t type, uint16_t id) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return std::nullopt;
  auto layout = ReadPeLayout(fd.get());
  if (!layout) return std::nullopt;
  return FindResourceIn(fd.get(), *layout, type, id);
}

std::optional<std::vector<uint8_t>> ReadVersionResource(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return std::nullopt;
  auto layout = ReadPeLayout(fd.get());
  if (!layout) return std::nullopt;
  auto loc = FindResourceIn(fd.get(), *layout, 16, 1);
  if (!loc || loc->Size == 0) return std::nullopt;
  std::vector<uint8_t> block(loc->Size);
  if (!ReadExact(fd.get(), loc->FileOffset, block.data(), block.size())) return std::nullopt;
  return block;
}

bool WriteVersionResource(const std::string& path, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> file;
  struct stat st {};
  PeResourceLocation loc;
  PeLayout layout;
  {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0) return false;
    auto l = ReadPeLayout(fd.get());
    if (!l) return false;
    layout = *l;
    auto found = FindResourceIn(fd.get(), layout, 16, 1);
    if (!found || found->Size != block.size()) return false;
    loc = *found;
    file.resize(static_cast<size_t>(layout.FileSize));
    if (!ReadExact(fd.get(), 0, file.data(), file.size())) return false;
  }
  std::memcpy(file.data() + loc.FileOffset, block.data(), block.size());
  if (layout.ChecksumOffset + 4 <= file.size() && Le32(file.data() + layout.ChecksumOffset) != 0)
    PutLe32(file.data() + layout.ChecksumOffset, PeChecksum(file, layout.ChecksumOffset));

  // Temporary file beside the original, then rename over it; the original's permissions stay.
  const std::string_view bytes(reinterpret_cast<const char*>(file.data()), file.size());
  return ReplaceFileContent(path, bytes, st.st_mode & 07777, true) == 0;
}

// ---------------------------------------------------------------------------------------------

namespace {
size_t Align4(size_t v) { return (v + 3) & ~static_cast<size_t>(3); }
}  // namespace

VersionBlock::VersionBlock(std::vector<uint8_t> data) : data_(std::move(data)) {
  root_ = ParseNode(0, data_.size(), 0);
}

VersionNode VersionBlock::ParseNode(size_t offset, size_t limit, int depth) const {
  auto bad = [] { return Exception("invalid version resource"); };
  if (depth > 8 || offset + 6 > limit) throw bad();
  VersionNode node;
  node.Offset = offset;
  uint16_t length = Le16(data_.data() + offset);
  node.ValueLength = Le16(data_.data() + offset + 2);
  node.Type = Le16(data_.data() + offset + 4);
  if (length < 6 || offset + length > limit) throw bad();
  node.End = offset + length;
  size_t p = offset + 6;
  for (;;) {
    if (p + 2 > node.End) throw bad();
    char16_t c = static_cast<char16_t>(Le16(data_.data() + p));
    p += 2;
    if (c == 0) break;
    node.Key.push_back(c);
  }
  p = Align4(p);
  node.ValueOffset = std::min(p, node.End);
  size_t valueBytes = node.Type == 1 ? static_cast<size_t>(node.ValueLength) * 2 : node.ValueLength;
  if (node.ValueOffset + valueBytes > node.End) {
    if (node.Type != 1) throw bad();
    valueBytes = node.End - node.ValueOffset;
  }
  size_t childStart = node.ValueLength == 0 ? node.ValueOffset : std::min(Align4(node.ValueOffset + valueBytes), node.End);
  size_t q = childStart;
  while (q + 6 <= node.End) {
    uint16_t childLength = Le16(data_.data() + q);
    if (childLength == 0) break;
    VersionNode child = ParseNode(q, node.End, depth + 1);
    q = Align4(child.End);
    node.Children.push_back(std::move(child));
  }
  // A text value owns the bytes up to its first child or the node's end, whether or not the
  // compiler counted the terminating zero in the stored length.
  if (node.Type == 1)
    node.ValueSpace = (node.Children.empty() ? node.End : node.Children.front().Offset) - node.ValueOffset;
  else
    node.ValueSpace = valueBytes;
  return node;
}

bool VersionBlock::FixedInfoOffset(size_t& offset) const {
  if (root_.ValueLength < 52 || root_.ValueOffset + 52 > data_.size()) return false;
  if (ReadU32(root_.ValueOffset) != 0xFEEF04BDu) return false;
  offset = root_.ValueOffset;
  return true;
}

uint32_t VersionBlock::ReadU32(size_t offset) const { return Le32(data_.data() + offset); }
void VersionBlock::WriteU32(size_t offset, uint32_t value) { PutLe32(data_.data() + offset, value); }

namespace {
const VersionNode* Child(const VersionNode& node, std::u16string_view key) {
  for (const VersionNode& c : node.Children)
    if (SameTextW(c.Key, key)) return &c;
  return nullptr;
}
}  // namespace

std::vector<std::pair<uint16_t, uint16_t>> VersionBlock::Translations() const {
  std::vector<std::pair<uint16_t, uint16_t>> out;
  const VersionNode* var = Child(root_, u"VarFileInfo");
  const VersionNode* tr = var ? Child(*var, u"Translation") : nullptr;
  if (!tr) return out;
  size_t bytes = std::min<size_t>(tr->ValueLength, tr->End - tr->ValueOffset);
  for (size_t i = 0; i + 4 <= bytes; i += 4)
    out.emplace_back(Le16(data_.data() + tr->ValueOffset + i), Le16(data_.data() + tr->ValueOffset + i + 2));
  return out;
}

const VersionNode* VersionBlock::FindString(uint16_t language, uint16_t codePage, std::u16string_view name) const {
  const VersionNode* sfi = Child(root_, u"StringFileInfo");
  if (!sfi) return nullptr;
  UnicodeString table = IntToHex(language, 4) + IntToHex(codePage, 4);
  const VersionNode* st = Child(*sfi, table);
  return st ? Child(*st, name) : nullptr;
}

UnicodeString VersionBlock::StringValue(const VersionNode& node) const {
  UnicodeString out;
  for (size_t p = node.ValueOffset; p + 2 <= node.ValueOffset + node.ValueSpace; p += 2) {
    char16_t c = static_cast<char16_t>(Le16(data_.data() + p));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

size_t VersionBlock::StringCapacity(const VersionNode& node) const { return node.ValueSpace / 2; }

bool VersionBlock::SetStringValue(const VersionNode& node, std::u16string_view text) {
  if (text.empty() && StringCapacity(node) == 0) return true;
  if (text.size() + 1 > StringCapacity(node)) return false;
  std::memset(data_.data() + node.ValueOffset, 0, node.ValueSpace);
  for (size_t i = 0; i < text.size(); ++i) {
    data_[node.ValueOffset + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    data_[node.ValueOffset + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return true;
}

}  // namespace platform
