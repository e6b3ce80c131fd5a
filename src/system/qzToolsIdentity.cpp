#include "qzToolsIdentity.h"

#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <unicode/uloc.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "Guid.h"
#include "Module.h"
#include "SysUtils.h"
#include "Udl.h"
#include "qzRegistry.h"
#include "qzToolsEvo2.h"
#include "qzToolsVersion.h"
#include "qzWin32.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HostName() {
  char buf[1025] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "";
  return buf;
}

std::string FullyQualifiedName() {
  std::string host = HostName();
  if (host.empty()) return host;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* res = nullptr;
  std::string fqdn = host;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0 && res) {
    if (res->ai_canonname && *res->ai_canonname) fqdn = res->ai_canonname;
    ::freeaddrinfo(res);
  }
  return fqdn;
}

std::string FirstLabel(const std::string& name) { return name.substr(0, name.find('.')); }

// The user's locale name ("de_DE") from the environment; empty for C/POSIX or none.
std::string UserLocale() {
  std::string v;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    v = Env(var);
    if (!v.empty()) break;
  }
  v = v.substr(0, v.find_first_of(".@"));
  if (v == "C" || v == "POSIX") return "";
  return v;
}

UnicodeString IcuText(int32_t (*fn)(const char*, const char*, UChar*, int32_t, UErrorCode*), const char* locale,
                      const char* displayLocale) {
  UChar buf[100];
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = fn(locale, displayLocale, buf, 99, &err);
  if (U_FAILURE(err) || n <= 0) return u"";
  return UnicodeString(reinterpret_cast<const char16_t*>(buf), static_cast<size_t>(std::min(n, 99)));
}

// The XDG user folder `key` (e.g. "XDG_DESKTOP_DIR") from ~/.config/user-dirs.dirs, else
// $HOME/`fallback`.
std::string XdgUserDir(const std::string& home, const std::string& key, const std::string& fallback) {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = home + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (!value.empty() && value[0] == '/') return value;
  }
  return home + "/" + fallback;
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  struct passwd pw {};
  struct passwd* result = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return "";
}

// The folder of a CSIDL number, without trailing "/"; empty when unknown.
std::string ShellFolder(int32_t csidl) {
  switch (csidl) {
    case CSIDL_WINDOWS: return "/";
    case CSIDL_SYSTEM: return "/usr/lib";
    case CSIDL_PROGRAM_FILES: return "/opt";
    case CSIDL_PROGRAM_FILES_COMMON: return "/usr/local/lib";
    case CSIDL_COMMON_APPDATA: return "/var/lib";
    default: break;
  }
  std::string home = HomeFolder();
  if (home.empty()) return "";
  auto xdg = [&](const char* var, const char* fallback) {
    std::string v = Env(var);
    return !v.empty() && v[0] == '/' ? v : home + "/" + fallback;
  };
  switch (csidl) {
    case CSIDL_PROFILE: return home;
    case CSIDL_LOCAL_APPDATA: return xdg("XDG_DATA_HOME", ".local/share");
    case CSIDL_APPDATA: return xdg("XDG_CONFIG_HOME", ".config");
    case CSIDL_INTERNET_CACHE: return xdg("XDG_CACHE_HOME", ".cache");
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY: return XdgUserDir(home, "XDG_DESKTOP_DIR", "Desktop");
    case CSIDL_PERSONAL: return XdgUserDir(home, "XDG_DOCUMENTS_DIR", "Documents");
    case CSIDL_MYMUSIC: return XdgUserDir(home, "XDG_MUSIC_DIR", "Music");
    case CSIDL_MYVIDEO: return XdgUserDir(home, "XDG_VIDEOS_DIR", "Videos");
    case CSIDL_MYPICTURES: return XdgUserDir(home, "XDG_PICTURES_DIR", "Pictures");
    case CSIDL_TEMPLATES: return XdgUserDir(home, "XDG_TEMPLATES_DIR", "Templates");
    default: return "";
  }
}

std::string WithSlash(std::string path) {
  if (path.empty()) return path;
  if (path.back() != '/' && path.back() != '\\') path.push_back('/');
  return path;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

AnsiString TqzToolsIdentity::CreateGuidStr() { return platform::GuidToString(platform::NewGuid()); }

TIdType TqzToolsIdentity::CreateId() {
  AnsiString guid = CreateGuidStr();
  AnsiString digits;
  for (char c : guid.substr(1, guid.size() - 2))
    if (c != '-') digits.push_back(c);
  return TIdType(digits.substr(0, 32));
}

UnicodeString TqzToolsIdentity::GetComputerName() {
  return platform::UpperAscii(platform::Utf8ToWide(FirstLabel(HostName())));
}

UnicodeString TqzToolsIdentity::GetComputerNameEx(uint32_t Format) {
  if (Format > 8) throw Exception("unknown format descriptor");
  switch (Format) {
    case 0:
    case 4: return GetComputerName();
    case 1:
    case 5: return platform::Utf8ToWide(FirstLabel(HostName()));
    case 2:
    case 6: {
      std::string fqdn = FullyQualifiedName();
      size_t dot = fqdn.find('.');
      return dot == std::string::npos ? UnicodeString() : platform::Utf8ToWide(fqdn.substr(dot + 1));
    }
    case 3:
    case 7: return platform::Utf8ToWide(FullyQualifiedName());
    default: return u"";  // 8 ends the list of formats: the system refuses it
  }
}

UnicodeString TqzToolsIdentity::GetUserName() {
  struct passwd pw {};
  struct passwd* result = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) != 0 || !result || !result->pw_name) return u"";
  return platform::Trim(platform::Utf8ToWide(result->pw_name));
}

UnicodeString TqzToolsIdentity::GetUserNameEx(uint32_t Format) {
  // There is no directory service to ask: every format takes its fallback form.
  switch (Format) {
    case 0:
    case 3:
    case 7:
    case 9: return GetUserName();
    case 1:
    case 2:
    case 8:
    case 10:
    case 11: return UpperCaseStr(GetComputerName()) + u"\\" + GetUserName();
    case 6: return u"";
    default: throw Exception("invalid format type");
  }
}

UnicodeString TqzToolsIdentity::GetEnvironmentString(const UnicodeString& EnvironmentStr) {
  return GetEnvVar(EnvironmentStr);
}

Variant TqzToolsIdentity::GetEnvironmentStringEx(const UnicodeString& EnvironmentStr, const Variant& Default,
                                                 uint16_t ResultType) {
  UnicodeString value = GetEnvironmentString(EnvironmentStr);
  if (value.empty()) return Default;
  uint16_t type = ResultType == varNull ? TqzTypes::GetVarType(Default) : ResultType;
  return TqzTypes::StrToVarExt(value, type);
}

UnicodeString TqzToolsIdentity::GetLastErrorMessage() {
  int err = errno;
  char buf[1024];
  const char* text = ::strerror_r(err, buf, sizeof buf);
  return platform::Trim(platform::Utf8ToWide(text ? text : ""));
}

UnicodeString TqzToolsIdentity::GetWindowsLanguage(uint32_t LocaleType) {
  std::string locale = UserLocale();
  if (locale.empty()) return u"";
  UnicodeString out;
  switch (LocaleType) {
    case 1: {  // language id
      uint32_t lcid = uloc_getLCID(locale.c_str());
      if (lcid == 0) return u"";
      out = platform::IntToHex(lcid & 0xFFFF, 4);
      break;
    }
    case 2: out = IcuText(uloc_getDisplayName, locale.c_str(), locale.c_str()); break;
    case 3: out = platform::UpperAscii(platform::ToU16(uloc_getISO3Language(locale.c_str()))); break;
    case 4: out = IcuText(uloc_getDisplayLanguage, locale.c_str(), locale.c_str()); break;
    case 0x1001: out = IcuText(uloc_getDisplayLanguage, locale.c_str(), "en"); break;
    case 0x59:
    case 0x5A: {
      char buf[16] = {};
      UErrorCode err = U_ZERO_ERROR;
      if (LocaleType == 0x59)
        uloc_getLanguage(locale.c_str(), buf, sizeof buf - 1, &err);
      else
        uloc_getCountry(locale.c_str(), buf, sizeof buf - 1, &err);
      if (U_FAILURE(err)) return u"";
      out = platform::ToU16(buf);
      break;
    }
    case 0x5C: {
      std::string name = locale;
      for (char& c : name)
        if (c == '_') c = '-';
      out = platform::Utf8ToWide(name);
      break;
    }
    case 0x67: out = platform::ToU16(uloc_getISO3Language(locale.c_str())); break;
    default: return u"";
  }
  if (out.size() > 99) out.resize(99);
  return platform::Trim(out);
}

UnicodeString TqzToolsIdentity::GetShortWindowsLanguage(const UnicodeString& Default) {
  // The language table pairs every ISO 639-1 language with its ISO 639-2 codes; here the user's
  // locale names its language directly, so a row matches when that language is a two-letter
  // ISO 639-1 code that has an ISO 639-2 code (ICU knows it). Anything else takes Default.
  UnicodeString result = Default;
  std::string locale = UserLocale();
  if (!locale.empty()) {
    char buf[16] = {};
    UErrorCode err = U_ZERO_ERROR;
    uloc_getLanguage(locale.c_str(), buf, sizeof buf - 1, &err);
    const char* iso3 = uloc_getISO3Language(locale.c_str());
    if (U_SUCCESS(err) && std::strlen(buf) == 2 && iso3 && *iso3) result = platform::ToU16(buf);
  }
  return UpperCaseStr(result);
}

AnsiString TqzToolsIdentity::GetModulePath() {
  std::string file = platform::ThisModuleFileName();
  return platform::Utf8ToAnsi(file.substr(0, file.rfind('/') + 1));
}

UnicodeString TqzToolsIdentity::GetSpecialFolderPath(int32_t CSIDL) {
  return platform::Utf8ToWide(WithSlash(ShellFolder(CSIDL)));
}

UnicodeString TqzToolsIdentity::GetAppDataPath() { return GetSpecialFolderPath(CSIDL_LOCAL_APPDATA); }

UnicodeString TqzToolsIdentity::GetProgramFilesPath() {
  UnicodeString value = platform::Trim(VarToStr(TqzRegistry::GetValue(
      HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", u"ProgramFilesDir", Variant(u""), false)));
  if (!value.empty() && value.back() != u'/' && value.back() != u'\\') value.push_back(u'/');
  return value;
}

UnicodeString TqzToolsIdentity::GetNativeWindowsSystem32Folder() {
  bool wow = TqzToolsVersion::GetOSPlatform() == qzOSP_Win64 &&
             TqzToolsVersion::GetExecutableCPUPlatform(platform::Utf8ToWide(platform::ProcessExecutableName())) ==
                 qzCPU_x86;
  return TqzWin32::GetWindowsDirectory() + (wow ? u"Sysnative/" : u"System32/");
}

UnicodeString TqzToolsIdentity::GetVolumeLabel(char16_t DriveChar) {
  (void)DriveChar;
  return u"";  // no drive letters here
}

AnsiString TqzToolsIdentity::GetDriveTypeStr(const AnsiString& Drive) {
  try {
    std::string path = platform::AnsiToUtf8(Drive);
    if (path.empty() || path[0] != '/') return "Unknown";
    struct stat self {}, parent {};
    if (::stat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return "Unknown";
    std::string up = WithSlash(path) + "..";
    if (::stat(up.c_str(), &parent) != 0) return "Unknown";
    bool mountRoot = self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
    if (!mountRoot) return "Unknown";  // no root folder of a volume
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) return "Unknown";
    switch (static_cast<uint32_t>(fs.f_type)) {
      case 0x6969:      // NFS
      case 0x517B:      // SMB
      case 0xFF534D42:  // CIFS
      case 0xFE534D42:  // SMB2
      case 0x01021997:  // 9P
      case 0x65735546:  // FUSE (sshfs and the like)
        return "Network";
      case 0x01021994:  // tmpfs
      case 0x858458F6:  // ramfs
        return "RAM Disk";
      case 0x9660:      // ISO 9660
      case 0x15013346:  // UDF
        return "CD-ROM";
      case 0x9FA0:      // proc
      case 0x62656572:  // sysfs
      case 0x1CD1:      // devpts
      case 0x27E0EB:    // cgroup
      case 0x63677270:  // cgroup2
      case 0x64626720:  // debugfs
      case 0x74726163:  // tracefs
      case 0x73636673:  // securityfs
      case 0x6E736673:  // nsfs
      case 0xCAFE4A11:  // bpf
        return "Unknown";
      default:
        return "Fixed";
    }
  } catch (...) {
    return "Error";
  }
}

int32_t TqzToolsIdentity::GetMemoryUsage() {
  std::ifstream in("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  if (!(in >> size >> resident)) return 0;
  uint64_t bytes = resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  // A working set of 2 GiB or more does not fit: the largest value says so instead of a wrapped one.
  return bytes > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(bytes);
}

int32_t TqzToolsIdentity::GetNumberOfProcessors() {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int32_t>(n) : 1;
}

uint32_t TqzToolsIdentity::GetTickCount() {
  timespec ts{};
  ::clock_gettime(CLOCK_BOOTTIME, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

bool TqzToolsIdentity::IsRDPSession() { return !Env("SSH_CONNECTION").empty() || !Env("SSH_CLIENT").empty(); }

bool TqzToolsIdentity::IsRemoteSession() { return IsRDPSession(); }

bool TqzToolsIdentity::IsWindowsThemeActive() {
  try {
    const UnicodeString key = u"\\Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager";
    if (!TqzRegistry::ValueExists(HKEY_CURRENT_USER, key, u"ThemeActive")) return false;
    UnicodeString text = VarToStr(TqzRegistry::GetValue(HKEY_CURRENT_USER, key, u"ThemeActive", Variant(u""), false));
    return StringToBool(platform::WideToAnsi(text));
  } catch (...) {
    return false;
  }
}

UnicodeString TqzToolsIdentity::GetActiveWindowTitle() { return u""; }

bool TqzToolsIdentity::CreateUDLFile(const UnicodeString& FileName, const UnicodeString& ConStr) {
  platform::WriteUdlFile(platform::WideToUtf8(FileName), ConStr);
  return true;
}

UnicodeString TqzToolsIdentity::GetConnectionstringFromUdlFile(const UnicodeString& FileName) {
  try {
    return u"Provider=" +
           platform::ReadIniValue(platform::WideToUtf8(FileName), u"oledb", u"Provider").value_or(UnicodeString());
  } catch (...) {
    return u"";
  }
}

// ---------------------------------------------------------------------------------------------

AnsiString GetShellFolderPath(int32_t CSIDL) {
  std::string folder = ShellFolder(CSIDL);
  if (folder.empty()) return "";
  return IncludeBackslash(platform::Utf8ToAnsi(folder));
}

UnicodeString GetEnvVar(const UnicodeString& Name) {
  if (Name.empty() || Name.find(u'=') != UnicodeString::npos) return u"";
  const char* v = std::getenv(platform::WideToUtf8(Name).c_str());
  return v ? platform::Utf8ToWide(v) : UnicodeString();
}

AnsiString GetWindowsDirFromEnv() { return IncludeBackslash(platform::WideToAnsi(GetEnvVar(u"WINDIR"))); }
