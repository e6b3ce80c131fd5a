#include "qzVersionTools.h"

#include <sys/stat.h>

#include <tuple>

#include "BuildVersion.h"
#include "CodePage.h"
#include "Module.h"
#include "PeFile.h"
#include "SysUtils.h"
#include "qzConversion.h"

namespace {

std::string NativePath(const UnicodeString& fileName) { return platform::WideToUtf8(fileName); }

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The pieces of `text` + `suffix` split at every ".", empty pieces kept.
std::vector<UnicodeString> Pieces(const UnicodeString& text) {
  std::vector<UnicodeString> out;
  UnicodeString cur;
  for (char16_t c : text) {
    if (c == u'.') {
      out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  out.push_back(std::move(cur));
  return out;
}

// Calls use(block, offset of the fixed part) with the version block of a file and returns its
// answer; false when the file has no readable block with a fixed part.
template <class F>
bool WithFixedVersion(const std::string& path, F use) {
  auto data = platform::ReadVersionResource(path);
  if (!data) return false;
  try {
    platform::VersionBlock block(std::move(*data));
    size_t fixed = 0;
    if (!block.FixedInfoOffset(fixed)) return false;
    return use(block, fixed);
  } catch (...) {
    return false;
  }
}

// The fixed version words of a file's version block: false when there is none.
bool FixedVersion(const std::string& path, uint32_t& high, uint32_t& low) {
  return WithFixedVersion(path, [&](const platform::VersionBlock& block, size_t fixed) {
    high = block.ReadU32(fixed + 8);
    low = block.ReadU32(fixed + 12);
    return true;
  });
}

UnicodeString TqzFileInfo::*const kInfoFields[10] = {
    &TqzFileInfo::CompanyName,    &TqzFileInfo::FileDescription, &TqzFileInfo::FileVersion,
    &TqzFileInfo::InternalName,   &TqzFileInfo::LegalCopyright,  &TqzFileInfo::LegalTrademarks,
    &TqzFileInfo::OriginalFilename, &TqzFileInfo::ProductName,   &TqzFileInfo::ProductVersion,
    &TqzFileInfo::Comment};
const char16_t* const kInfoNames[10] = {u"CompanyName",     u"FileDescription",  u"FileVersion", u"InternalName",
                                        u"LegalCopyright",  u"LegalTrademarks",  u"OriginalFilename",
                                        u"ProductName",     u"ProductVersion",   u"Comment"};

// `text` cut so that it fits `capacity` characters with its terminating zero, never between the
// two halves of a surrogate pair.
UnicodeString CutToFit(const UnicodeString& text, size_t capacity) {
  if (capacity == 0) return UnicodeString();
  if (text.size() < capacity) return text;
  size_t n = capacity - 1;
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  return text.substr(0, n);
}

// Puts `values` (name, text) into every translation's string table of the file's version block.
// The first translation's table (the one readers take) must hold each value whole; further
// language tables, whose texts are often shorter, take what fits of it. False, the file
// unchanged, when the file has no block, a value does not fit the first table, nothing was
// found to change or the file cannot be written.
bool ChangeStrings(const UnicodeString& fileName, const std::vector<std::pair<UnicodeString, UnicodeString>>& values) {
  std::string path = NativePath(fileName);
  auto data = platform::ReadVersionResource(path);
  if (!data) return false;
  try {
    platform::VersionBlock block(std::move(*data));
    bool changed = false;
    bool first = true;
    for (auto [language, codePage] : block.Translations()) {
      for (const auto& [name, text] : values) {
        const platform::VersionNode* node = block.FindString(language, codePage, name);
        if (!node) continue;
        const UnicodeString fitted = first ? text : CutToFit(text, block.StringCapacity(*node));
        if (!block.SetStringValue(*node, fitted)) return false;
        changed = true;
      }
      first = false;
    }
    if (!changed) return false;
    return platform::WriteVersionResource(path, block.Data());
  } catch (...) {
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

const TqzFileInfo& TqzLibraryVersion::FileInfo() {
  static const TqzFileInfo info = [] {
    TqzFileInfo i;
    i.CompanyName = u"kesta";
    i.FileDescription = u"Kesta KQF export service";
    i.FileVersion = platform::ToU16(QZ_VERSION_TEXT);
    i.InternalName = u"qzkqfexport";
    i.LegalCopyright = u"Copyright (C) kesta";
    i.LegalTrademarks = u"";
    i.OriginalFilename = u"libqzkqfexport.so";
    i.ProductName = u"Kesta KQF Export";
    i.ProductVersion = platform::ToU16(QZ_VERSION_TEXT);
    i.Comment = u"";
    return i;
  }();
  return info;
}

void TqzLibraryVersion::Version(uint16_t& Major, uint16_t& Minor, uint16_t& Revision, uint16_t& Build) {
  Major = QZ_VERSION_MAJOR;
  Minor = QZ_VERSION_MINOR;
  Revision = QZ_VERSION_REVISION + 0;
  Build = QZ_VERSION_BUILD + 0;
}

bool TqzLibraryVersion::IsLibraryFile(const UnicodeString& FileName) {
  std::string own = platform::ThisModuleFileName();
  if (own.empty() || FileName.empty()) return false;
  struct stat a {}, b {};
  if (::stat(own.c_str(), &a) != 0 || ::stat(NativePath(FileName).c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool ReadFileVersionInfo(const UnicodeString& FileName, TqzFileInfo& FileInfo) {
  try {
    if (TqzLibraryVersion::IsLibraryFile(FileName)) {
      FileInfo = TqzLibraryVersion::FileInfo();
      return true;
    }
    auto data = platform::ReadVersionResource(NativePath(FileName));
    if (!data) {
      for (auto field : kInfoFields) FileInfo.*field = u"Unknown";
      return false;
    }
    platform::VersionBlock block(std::move(*data));
    auto translations = block.Translations();
    if (translations.empty()) return false;
    auto [language, codePage] = translations.front();
    for (size_t i = 0; i < 10; ++i) {
      const platform::VersionNode* node = block.FindString(language, codePage, kInfoNames[i]);
      FileInfo.*kInfoFields[i] = node ? platform::Trim(block.StringValue(*node)) : UnicodeString();
    }
    return true;
  } catch (...) {
    return false;
  }
}

// ---------------------------------------------------------------------------------------------

bool TqzVersionTools::GetInternalFileVersion(const UnicodeString& FileName, uint16_t& Major, uint16_t& Minor,
                                             uint16_t& Revision, uint16_t& Build) {
  Major = Minor = Revision = Build = 0;
  if (TqzLibraryVersion::IsLibraryFile(FileName)) {
    TqzLibraryVersion::Version(Major, Minor, Revision, Build);
    return true;
  }
  std::string path = NativePath(FileName);
  if (!FileExists(path)) return false;
  uint32_t high = 0, low = 0;
  if (!FixedVersion(path, high, low)) return false;
  Major = static_cast<uint16_t>(high >> 16);
  Minor = static_cast<uint16_t>(high & 0xFFFF);
  Revision = static_cast<uint16_t>(low >> 16);
  Build = static_cast<uint16_t>(low & 0xFFFF);
  return true;
}

AnsiString TqzVersionTools::GetInternalFileVersionStr(const UnicodeString& FileName) {
  uint16_t a, b, c, d;
  if (!GetInternalFileVersion(FileName, a, b, c, d)) return "Unknown";
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

uint16_t TqzVersionTools::GetBuild(const UnicodeString& FileName) {
  uint16_t a, b, c, d;
  return GetInternalFileVersion(FileName, a, b, c, d) ? d : 0;
}

bool TqzVersionTools::ChangeInternalFileVersion(const UnicodeString& FileName, uint16_t Major, uint16_t Minor,
                                                uint16_t Revision, uint16_t Build) {
  std::string path = NativePath(FileName);
  if (!FileExists(path)) return false;
  return WithFixedVersion(path, [&](platform::VersionBlock& block, size_t fixed) {
    uint32_t high = (static_cast<uint32_t>(Major) << 16) | Minor;
    uint32_t low = (static_cast<uint32_t>(Revision) << 16) | Build;
    block.WriteU32(fixed + 8, high);
    block.WriteU32(fixed + 12, low);
    block.WriteU32(fixed + 16, high);
    block.WriteU32(fixed + 20, low);
    return platform::WriteVersionResource(path, block.Data());
  });
}

bool TqzVersionTools::ChangeFileVersionInformation(const UnicodeString& FileName, const UnicodeString& Attribute,
                                                   const UnicodeString& AttrValue) {
  return ChangeStrings(FileName, {{Attribute, AttrValue}});
}

bool TqzVersionTools::ChangeFileVersionInformation(const UnicodeString& FileName, const TqzFileInfo& FileInfo) {
  std::vector<std::pair<UnicodeString, UnicodeString>> values;
  for (size_t i = 0; i < 10; ++i) values.emplace_back(kInfoNames[i], FileInfo.*kInfoFields[i]);
  return ChangeStrings(FileName, values);
}

TqzVersion TqzVersionTools::GetVersionFromStr(const UnicodeString& Version) {
  std::vector<UnicodeString> p = Pieces(Version + u"....");
  TqzVersion v;
  v.Major = static_cast<uint32_t>(TqzConversion::StrToInt(p[0], 0));
  v.Minor = static_cast<uint32_t>(TqzConversion::StrToInt(p[1], 0));
  v.Revision = static_cast<uint32_t>(TqzConversion::StrToInt(p[2], 0));
  v.Build = static_cast<uint32_t>(TqzConversion::StrToInt(p[3], 0));
  return v;
}

UnicodeString TqzVersionTools::GetVersionStr(const TqzVersion& Version) {
  return platform::IntToStr(Version.Major) + u"." + platform::IntToStr(Version.Minor) + u"." +
         platform::IntToStr(Version.Revision) + u"." + platform::IntToStr(Version.Build);
}

bool TqzVersionTools::IsValidVersionString(const UnicodeString& Version) {
  std::vector<UnicodeString> p = Pieces(Version + u".0.0.0.");
  for (size_t i = 0; i < 4; ++i)
    if (TqzConversion::StrToInt(p[i], -1) < 0) return false;
  return true;
}

bool TqzVersionTools::IsValidVersion(const TqzVersion& Version) {
  auto all = [&](uint32_t n) {
    return Version.Major == n && Version.Minor == n && Version.Revision == n && Version.Build == n;
  };
  return !all(0) && !all(99999);
}

bool TqzVersionTools::IsValidVersion(const UnicodeString& Version) { return IsValidVersion(GetVersionFromStr(Version)); }

TqzVersionComparison TqzVersionTools::CompareVersions(const TqzVersion& TestVersion,
                                                      const TqzVersion& ReferenceVersion) {
  auto zero = [](const TqzVersion& v) { return v.Major == 0 && v.Minor == 0 && v.Revision == 0 && v.Build == 0; };
  if (zero(TestVersion) || zero(ReferenceVersion)) return qzVC_Unknown;
  auto t = std::tie(TestVersion.Major, TestVersion.Minor, TestVersion.Revision, TestVersion.Build);
  auto r = std::tie(ReferenceVersion.Major, ReferenceVersion.Minor, ReferenceVersion.Revision, ReferenceVersion.Build);
  if (t == r) return qzVC_Identical;
  return t < r ? qzVC_Older : qzVC_Newer;
}

TqzVersionComparison TqzVersionTools::CompareVersions(const UnicodeString& TestVersion,
                                                      const UnicodeString& ReferenceVersion) {
  return CompareVersions(GetVersionFromStr(TestVersion), GetVersionFromStr(ReferenceVersion));
}

TqzVersion TqzVersionTools::InitVersion() { return TqzVersion{}; }
