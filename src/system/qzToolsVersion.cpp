#include "qzToolsVersion.h"

#include "CodePage.h"
#include "Exceptions.h"
#include "Module.h"
#include "PeFile.h"
#include "qzRegistry.h"
#include "qzToolsEvo2.h"
#include "qzVersionTools.h"

namespace {

UnicodeString VersionText(const TqzFileInfo& info, const AnsiString& build) {
  return info.ProductVersion + u" (build " + platform::AnsiToWide(build) + u")";
}

// A field of this library's version strings.
UnicodeString OwnField(UnicodeString TqzFileInfo::*field) {
  TqzFileInfo info;
  if (!TqzToolsVersion::GetFileInfo(TqzToolsVersion::GetModuleFileName(), info)) return u"Unknown";
  return info.*field;
}

// Blanks removed, "," as ".", every piece left-padded with "0" to 10 characters.
UnicodeString NormalizeVersion(const UnicodeString& version) {
  UnicodeString s;
  for (char16_t c : version) {
    if (c == u' ') continue;
    s.push_back(c == u',' ? u'.' : c);
  }
  s.push_back(u'.');
  UnicodeString out, piece;
  for (char16_t c : s) {
    if (c != u'.') {
      piece.push_back(c);
      continue;
    }
    if (piece.size() < 10) piece.insert(0, 10 - piece.size(), u'0');
    out += piece;
    piece.clear();
  }
  return out;
}

}  // namespace

bool TqzToolsVersion::GetFileInfo(const UnicodeString& FileName, TqzFileInfo& FileInfo) {
  return ReadFileVersionInfo(FileName, FileInfo);
}

UnicodeString TqzToolsVersion::GetProgramVersion() {
  uint16_t a, b, c, d;
  TqzLibraryVersion::Version(a, b, c, d);
  return VersionText(TqzLibraryVersion::FileInfo(), std::to_string(a) + "." + std::to_string(b) + "." +
                                                        std::to_string(c) + "." + std::to_string(d));
}

UnicodeString TqzToolsVersion::GetProgramVersion(const UnicodeString& FileName) {
  TqzFileInfo info;
  if (!GetFileInfo(FileName, info)) return u"Unknown";
  return VersionText(info, TqzVersionTools::GetInternalFileVersionStr(FileName));
}

bool TqzToolsVersion::GetProgramVersion(const UnicodeString& FileName, uint16_t& Major, uint16_t& Minor,
                                        uint16_t& Revision, uint16_t& Build) {
  return TqzVersionTools::GetInternalFileVersion(FileName, Major, Minor, Revision, Build);
}

UnicodeString TqzToolsVersion::GetFileBuild(const UnicodeString& FileName) {
  return platform::AnsiToWide(TqzVersionTools::GetInternalFileVersionStr(FileName));
}

UnicodeString TqzToolsVersion::GetProgramCopyrightString() { return OwnField(&TqzFileInfo::LegalCopyright); }
UnicodeString TqzToolsVersion::GetProgramCopyright() { return OwnField(&TqzFileInfo::LegalCopyright); }
UnicodeString TqzToolsVersion::GetProgramProductString() { return OwnField(&TqzFileInfo::ProductName); }
UnicodeString TqzToolsVersion::GetProgramDescription() { return OwnField(&TqzFileInfo::FileDescription); }

int32_t TqzToolsVersion::CompareVersions(const UnicodeString& Ver1, const UnicodeString& Ver2) {
  int c = NormalizeVersion(Ver1).compare(NormalizeVersion(Ver2));
  return c == 0 ? 0 : (c > 0 ? 1 : 2);
}

TqzWindowsVersion TqzToolsVersion::GetWindowsVersion() { return qzWV_Unknown; }

bool TqzToolsVersion::IsExecutablex64(const UnicodeString& ModuleFileName) {
  platform::ExecutableHeader h = platform::ReadExecutableHeader(platform::WideToUtf8(ModuleFileName));
  if (h.Format == platform::ExecutableFormat::Elf) return h.Is64Bit;
  return h.Machine != platform::kPeMachineI386;
}

TqzCPUPlatform TqzToolsVersion::GetExecutableCPUPlatform(const UnicodeString& ModuleFileName) {
  try {
    return IsExecutablex64(ModuleFileName) ? qzCPU_x64 : qzCPU_x86;
  } catch (...) {
    return qzCPU_Unknown;
  }
}

TqzOSPlatform TqzToolsVersion::GetOSPlatform() {
  UnicodeString lab = LowerCaseStr(VarToStr(TqzRegistry::GetValue(
      HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"BuildLabEx", Variant(u""), false)));
  if (lab.find(u".amd64") != UnicodeString::npos) return qzOSP_Win64;
  if (lab.find(u".x86") != UnicodeString::npos) return qzOSP_Win32;
  if (lab.find(u"amd64") != UnicodeString::npos) return qzOSP_Win64;
  if (lab.find(u"x86") != UnicodeString::npos) return qzOSP_Win32;
  return qzOSP_Unknown;
}

TqzOSPlatform TqzToolsVersion::GetOSPlatformFromApplicationEnvironment() {
  TqzOSPlatform os = GetOSPlatform();
  TqzCPUPlatform exe = GetExecutableCPUPlatform(platform::Utf8ToWide(platform::ProcessExecutableName()));
  if (exe == qzCPU_x86 && (os == qzOSP_Win32 || os == qzOSP_Win64)) return qzOSP_Win32;
  if (exe == qzCPU_x64 && os == qzOSP_Win64) return qzOSP_Win64;
  return qzOSP_Unknown;
}

UnicodeString TqzToolsVersion::GetResource(const UnicodeString& Name, const UnicodeString& DType) {
  (void)DType;
  throw Exception(u"Resource " + Name + u" not found");
}

UnicodeString TqzToolsVersion::GetModuleFileName() { return platform::Utf8ToWide(platform::ThisModuleFileName()); }

UnicodeString TqzToolsVersion::GetModuleFileNameInfo() { return GetModuleFileName(); }
