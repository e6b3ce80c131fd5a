// TqzTools, version family: the version texts of this library and of other files, version
// comparison of texts, and the Windows version, operating-system bitness and executable bitness.
//
// On Linux: this library's texts come from the version record compiled in (TqzLibraryVersion);
// other files are read through their PE version resource. GetWindowsVersion answers
// qzWV_Unknown (there is no Windows version to ask); GetOSPlatform reads "BuildLabEx" from the
// registry stand-in as the system would and so answers qzOSP_Unknown unless that value is set.
// The bitness of an executable is read from its PE header (every machine but x86 counts as
// 64-bit) or its ELF header (ELFCLASS64 is 64-bit), so this library's own .so is recognised.
// GetResource raises: a shared library here carries no Windows resources.
#pragma once

#include <cstdint>

#include "Text.h"
#include "qzTypes.h"

class TqzToolsVersion {
 public:
  TqzToolsVersion() = delete;

  static bool GetFileInfo(const UnicodeString& FileName, TqzFileInfo& FileInfo);
  // ProductVersion + " (build " + Major.Minor.Revision.Build + ")", or "Unknown".
  static UnicodeString GetProgramVersion();
  static UnicodeString GetProgramVersion(const UnicodeString& FileName);
  static bool GetProgramVersion(const UnicodeString& FileName, uint16_t& Major, uint16_t& Minor, uint16_t& Revision,
                                uint16_t& Build);
  static UnicodeString GetFileBuild(const UnicodeString& FileName);
  static UnicodeString GetProgramCopyrightString();
  static UnicodeString GetProgramCopyright();
  static UnicodeString GetProgramProductString();
  static UnicodeString GetProgramDescription();
  // 0 equal, 1 Ver1 newer, 2 Ver1 older (parts compared as numbers; more parts count as newer).
  static int32_t CompareVersions(const UnicodeString& Ver1, const UnicodeString& Ver2);
  static TqzWindowsVersion GetWindowsVersion();
  // Raises Exception("Invalid executable") for a file that is neither PE nor ELF and
  // EInOutError when it cannot be opened or is too short.
  static bool IsExecutablex64(const UnicodeString& ModuleFileName);
  static TqzCPUPlatform GetExecutableCPUPlatform(const UnicodeString& ModuleFileName);
  static TqzOSPlatform GetOSPlatform();
  static TqzOSPlatform GetOSPlatformFromApplicationEnvironment();
  static UnicodeString GetResource(const UnicodeString& Name, const UnicodeString& DType);
  static UnicodeString GetModuleFileName();
  static UnicodeString GetModuleFileNameInfo();
};
