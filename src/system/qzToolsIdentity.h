// TqzTools, identity family: new identifiers, computer and user names, environment values,
// system and shell folders, the last operating-system error, the user's language, drive and
// process facts, and the data-link (.udl) files of the database layer.
//
// Linux stand-ins (where the system asks Windows):
//  * Computer names come from gethostname: the NetBIOS name (formats 0 and 4) is the host name's
//    first label upper-cased, the DNS host name (1, 5) that label as written, the fully
//    qualified name (3, 7) the canonical name getaddrinfo reports (else the host name), the DNS
//    domain (2, 6) what follows the first label of it; format 8 is refused by the system and
//    gives the empty text.
//  * The user is the effective user (getpwuid_r). Linux has no directory-service names, so
//    GetUserNameEx always gives the fallback forms (computer "\" user, the user, or empty).
//  * The last error is the calling thread's errno, worded by strerror.
//  * The user's language is that of the locale in LC_ALL, LC_MESSAGES or LANG (C/POSIX: none):
//    GetWindowsLanguage answers the Windows locale-information kinds 1 (LCID as four hex
//    digits), 2 (display name), 3 (three-letter language code, ISO 639-2 upper-cased), 4 (native
//    language name), 0x59/0x5A (ISO 639-1 language, ISO 3166 country), 0x5C (locale name
//    "de-DE"), 0x67 (ISO 639-2 lower-cased) and 0x1001 (English language name); others are empty.
//  * Shell folders (CSIDL numbers) map onto XDG folders: 28 local application data ->
//    $XDG_DATA_HOME (~/.local/share), 26 application data -> $XDG_CONFIG_HOME (~/.config),
//    32 internet cache -> $XDG_CACHE_HOME (~/.cache), 35 common application data -> /var/lib,
//    40 profile -> $HOME, 0/16 desktop, 5 documents, 13 music, 14 videos, 39 pictures,
//    21 templates -> the XDG user folders (~/.config/user-dirs.dirs, else ~/Desktop ...),
//    36 Windows folder -> "/", 37 system folder -> /usr/lib, 38 program files -> /opt,
//    43 common program files -> /usr/local/lib. Other numbers give the empty text.
//    Folders are given whether or not they exist yet (the shell's "current location").
//  * Drives: there are no drive letters (GetVolumeLabel is empty); GetDriveTypeStr words the
//    file system mounted at a mount-point path ("Fixed", "Network", "RAM Disk", "CD-ROM",
//    "Unknown" for pseudo file systems and for paths that are no mount point).
//  * GetMemoryUsage gives at most 2^31-1: a larger working set does not wrap to a wrong value.
//  * A remote session is an SSH login (SSH_CONNECTION or SSH_CLIENT set); there is no
//    foreground window title.
#pragma once

#include <cstdint>

#include "Text.h"
#include "Variant.h"
#include "qzTypes.h"

// Shell folder numbers (CSIDL values) the system uses.
inline constexpr int32_t CSIDL_DESKTOP = 0x0000;
inline constexpr int32_t CSIDL_PERSONAL = 0x0005;
inline constexpr int32_t CSIDL_MYMUSIC = 0x000D;
inline constexpr int32_t CSIDL_MYVIDEO = 0x000E;
inline constexpr int32_t CSIDL_DESKTOPDIRECTORY = 0x0010;
inline constexpr int32_t CSIDL_TEMPLATES = 0x0015;
inline constexpr int32_t CSIDL_APPDATA = 0x001A;
inline constexpr int32_t CSIDL_LOCAL_APPDATA = 0x001C;
inline constexpr int32_t CSIDL_INTERNET_CACHE = 0x0020;
inline constexpr int32_t CSIDL_COMMON_APPDATA = 0x0023;
inline constexpr int32_t CSIDL_WINDOWS = 0x0024;
inline constexpr int32_t CSIDL_SYSTEM = 0x0025;
inline constexpr int32_t CSIDL_PROGRAM_FILES = 0x0026;
inline constexpr int32_t CSIDL_MYPICTURES = 0x0027;
inline constexpr int32_t CSIDL_PROFILE = 0x0028;
inline constexpr int32_t CSIDL_PROGRAM_FILES_COMMON = 0x002B;

class TqzToolsIdentity {
 public:
  TqzToolsIdentity() = delete;

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of a new GUID, upper-case digits.
  static AnsiString CreateGuidStr();
  // The 32 upper-case hexadecimal digits of a new GUID.
  static TIdType CreateId();
  static UnicodeString GetComputerName();
  // Raises Exception("unknown format descriptor") for a format above 8.
  static UnicodeString GetComputerNameEx(uint32_t Format);
  static UnicodeString GetUserName();
  // Raises Exception("invalid format type") for formats 4, 5 and 12 and above.
  static UnicodeString GetUserNameEx(uint32_t Format);
  static UnicodeString GetEnvironmentString(const UnicodeString& EnvironmentStr);
  static Variant GetEnvironmentStringEx(const UnicodeString& EnvironmentStr, const Variant& Default,
                                        uint16_t ResultType);
  static UnicodeString GetLastErrorMessage();
  static UnicodeString GetWindowsLanguage(uint32_t LocaleType);
  static UnicodeString GetShortWindowsLanguage(const UnicodeString& Default);
  // This library's folder, ending with "/".
  static AnsiString GetModulePath();
  static UnicodeString GetSpecialFolderPath(int32_t CSIDL);
  static UnicodeString GetAppDataPath();
  static UnicodeString GetProgramFilesPath();
  static UnicodeString GetNativeWindowsSystem32Folder();
  static UnicodeString GetVolumeLabel(char16_t DriveChar);
  static AnsiString GetDriveTypeStr(const AnsiString& Drive);
  static int32_t GetMemoryUsage();
  static int32_t GetNumberOfProcessors();
  static uint32_t GetTickCount();
  static bool IsRDPSession();
  static bool IsRemoteSession();
  static bool IsWindowsThemeActive();
  static UnicodeString GetActiveWindowTitle();
  // Writes the data-link file; raises EInOutError when it cannot be written.
  static bool CreateUDLFile(const UnicodeString& FileName, const UnicodeString& ConStr);
  // "Provider=" + the value of "Provider" in section "oledb" ("Provider=" alone for a missing
  // file or a connection string without a provider item).
  static UnicodeString GetConnectionstringFromUdlFile(const UnicodeString& FileName);
};

// Routines of the tools unit used inside the files and system tools.
// The shell folder as 8-bit text with "/" appended; empty when the number is unknown.
AnsiString GetShellFolderPath(int32_t CSIDL);
// The value of an environment variable (any length); empty when unset.
UnicodeString GetEnvVar(const UnicodeString& Name);
// The variable WINDIR as 8-bit text with "/" appended (empty when unset).
AnsiString GetWindowsDirFromEnv();
