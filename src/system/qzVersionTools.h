// TqzVersionTools: the version resources of Windows executables and libraries, read and rewritten
// in place by our own PE reader (src/platform/PeFile.h), and the four-part version number
// TqzVersion with its text form, validity test and comparison.
//
// This library itself is an ELF shared library without a version resource: its version comes
// from the version record compiled in (BuildVersion.h), and every operation that is given this
// library's own file answers from that record (see TqzLibraryVersion).
//
// Decisions:
//  * PE images of every machine type are read, 32-bit ones included; nothing is loaded or run.
//  * Changing a version string never touches the numeric (fixed) version, and a value that does
//    not fit into the space the string has in the first translation's table (the one readers
//    take) makes the operation fail (false, the file unchanged) instead of storing a cut text
//    there. Further language tables take as much of each value as fits their space. An
//    attribute that the resource does not hold gives false: nothing was changed.
//  * The changed block replaces the resource where it is, whatever language it was compiled with.
#pragma once

#include <cstdint>

#include "Text.h"
#include "qzTypes.h"

class TqzVersionTools {
 public:
  TqzVersionTools() = delete;

  static bool GetInternalFileVersion(const UnicodeString& FileName, uint16_t& Major, uint16_t& Minor,
                                     uint16_t& Revision, uint16_t& Build);
  static AnsiString GetInternalFileVersionStr(const UnicodeString& FileName);
  static uint16_t GetBuild(const UnicodeString& FileName);
  static bool ChangeInternalFileVersion(const UnicodeString& FileName, uint16_t Major, uint16_t Minor,
                                        uint16_t Revision, uint16_t Build);
  static bool ChangeFileVersionInformation(const UnicodeString& FileName, const UnicodeString& Attribute,
                                           const UnicodeString& AttrValue);
  static bool ChangeFileVersionInformation(const UnicodeString& FileName, const TqzFileInfo& FileInfo);
  static TqzVersion GetVersionFromStr(const UnicodeString& Version);
  static UnicodeString GetVersionStr(const TqzVersion& Version);
  static bool IsValidVersionString(const UnicodeString& Version);
  static bool IsValidVersion(const TqzVersion& Version);
  static bool IsValidVersion(const UnicodeString& Version);
  static TqzVersionComparison CompareVersions(const TqzVersion& TestVersion, const TqzVersion& ReferenceVersion);
  static TqzVersionComparison CompareVersions(const UnicodeString& TestVersion, const UnicodeString& ReferenceVersion);
  static TqzVersion InitVersion();
};

// The version record of this library, compiled in.
class TqzLibraryVersion {
 public:
  TqzLibraryVersion() = delete;
  // The ten version strings of this library.
  static const TqzFileInfo& FileInfo();
  // Major.Minor.Revision.Build of this library.
  static void Version(uint16_t& Major, uint16_t& Minor, uint16_t& Revision, uint16_t& Build);
  // True when FileName is this library's own module file (the same file, by device and inode).
  static bool IsLibraryFile(const UnicodeString& FileName);
};

// The version strings of a file's version resource (first translation), as the version tools
// read them: true with the ten fields set (missing strings empty, texts trimmed); false with
// every field "Unknown" when the file has no version resource; false with the fields read so
// far when the resource has no translation. Never raises.
bool ReadFileVersionInfo(const UnicodeString& FileName, TqzFileInfo& FileInfo);
