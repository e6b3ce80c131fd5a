#include "qzFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "CodePage.h"
#include "SysUtils.h"
#include "Variant.h"
#include "qzRegistry.h"
#include "qzToolsEvo2.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Position just after the last separator (0 when there is none).
size_t NameStart(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i;
  return 0;
}

// The path as the file system takes it: "\" written as "/", UTF-8.
std::string NativePath(std::u16string_view path) {
  UnicodeString p(path);
  std::replace(p.begin(), p.end(), u'\\', u'/');
  return platform::WideToUtf8(p);
}

// The MIME type table: lower-case extension without dot, MIME type; searched from row 0.
struct MimeRow {
  const char* Ext;
  const char* Type;
};

constexpr MimeRow MimeTypeTable[] = {
    {"", "application/octet-stream"},
    {"rlk", "application/octet-stream"},
    {"lic", "application/octet-stream"},
    {"eml", "message/rfc822"},
    {"xml", "text/xml"},
    {"txt", "text/plain"},
    {"bmp", "image/bmp"},
    {"cod", "image/cis-cod"},
    {"gif", "image/gif"},
    {"png", "image/png"},
    {"ief", "image/ief"},
    {"jpg", "image/jpeg"},
    {"jpe", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jfif", "image/pipeg"},
    {"svg", "image/svg+xml"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"ras", "image/x-cmu-raster"},
    {"cmx", "image/x-cmx"},
    {"ico", "image/x-icon"},
    {"pnm", "image/x-portable-anymap"},
    {"pbm", "image/x-portable-bitmap"},
    {"pgm", "image/x-portable-graymap"},
    {"ppm", "image/x-portable-pixmap"},
    {"rgb", "image/x-rgb"},
    {"xbm", "image/x-xbitmap"},
    {"xpm", "image/x-xpixmap"},
    {"xwd", "image/x-xwindowdump"},
    {"mht", "message/rfc822"},
    {"mhtml", "message/rfc822"},
    {"nws", "message/rfc822"},
    {"css", "text/css"},
    {"323", "text/h323"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"stm", "text/html"},
    {"pdf", "application/pdf"},
    {"ps", "application/postscript"},
    {"ai", "application/postscript"},
    {"eps", "application/postscript"},
    {"evy", "application/envoy"},
    {"fif", "application/fractals"},
    {"spl", "application/futuresplash"},
    {"hta", "application/hta"},
    {"acx", "application/internet-property-stream"},
    {"hqx", "application/mac-binhex40"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"dot", "application/msword"},
    {"*", "application/octet-stream"},
    {"bin", "application/octet-stream"},
    {"class", "application/octet-stream"},
    {"dms", "application/octet-stream"},
    {"exe", "application/octet-stream"},
    {"lha", "application/octet-stream"},
    {"lzh", "application/octet-stream"},
    {"oda", "application/oda"},
    {"axs", "application/olescript"},
    {"prf", "application/pics-rules"},
    {"p10", "application/pkcs10"},
    {"crl", "application/pkix-crl"},
    {"rtf", "application/rtf"},
    {"setpay", "application/set-payment-initiation"},
    {"setreg", "application/set-registration-initiation"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xla", "application/vnd.ms-excel"},
    {"xlc", "application/vnd.ms-excel"},
    {"xlm", "application/vnd.ms-excel"},
    {"xlt", "application/vnd.ms-excel"},
    {"xlw", "application/vnd.ms-excel"},
    {"msg", "application/vnd.ms-outlook"},
    {"msg", "application/x-msg"},
    {"sst", "application/vnd.ms-pkicertstore"},
    {"cat", "application/vnd.ms-pkiseccat"},
    {"stl", "application/vnd.ms-pkistl"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"pot", "application/vnd.ms-powerpoint"},
    {"pps", "application/vnd.ms-powerpoint"},
    {"mpp", "application/vnd.ms-project"},
    {"wks", "application/vnd.ms-works"},
    {"wcm", "application/vnd.ms-works"},
    {"wdb", "application/vnd.ms-works"},
    {"wps", "application/vnd.ms-works"},
    {"hlp", "application/winhlp"},
    {"bcpio", "application/x-bcpio"},
    {"cdf", "application/x-cdf"},
    {"z", "application/x-compress"},
    {"tgz", "application/x-compressed"},
    {"cpio", "application/x-cpio"},
    {"csh", "application/x-csh"},
    {"dcr", "application/x-director"},
    {"dir", "application/x-director"},
    {"dxr", "application/x-director"},
    {"dvi", "application/x-dvi"},
    {"gtar", "application/x-gtar"},
    {"gz", "application/x-gzip"},
    {"hdf", "application/x-hdf"},
    {"ins", "application/x-internet-signup"},
    {"isp", "application/x-internet-signup"},
    {"iii", "application/x-iphone"},
    {"js", "application/x-javascript"},
    {"latex", "application/x-latex"},
    {"mdb", "application/x-msaccess"},
    {"crd", "application/x-mscardfile"},
    {"clp", "application/x-msclip"},
    {"dll", "application/octet-stream"},
    {"m13", "application/x-msmediaview"},
    {"m14", "application/x-msmediaview"},
    {"mvb", "application/x-msmediaview"},
    {"wmf", "application/x-msmetafile"},
    {"mny", "application/x-msmoney"},
    {"pub", "application/x-mspublisher"},
    {"scd", "application/x-msschedule"},
    {"trm", "application/x-msterminal"},
    {"wri", "application/x-mswrite"},
    {"cdf", "application/x-netcdf"},
    {"nc", "application/x-netcdf"},
    {"pma", "application/x-perfmon"},
    {"pmc", "application/x-perfmon"},
    {"pml", "application/x-perfmon"},
    {"pmr", "application/x-perfmon"},
    {"pmw", "application/x-perfmon"},
    {"p12", "application/x-pkcs12"},
    {"pfx", "application/x-pkcs12"},
    {"p7b", "application/x-pkcs7-certificates"},
    {"spc", "application/x-pkcs7-certificates"},
    {"p7r", "application/x-pkcs7-certreqresp"},
    {"p7c", "application/x-pkcs7-mime"},
    {"p7m", "application/x-pkcs7-mime"},
    {"p7s", "application/x-pkcs7-signature"},
    {"sh", "application/x-sh"},
    {"shar", "application/x-shar"},
    {"swf", "application/x-shockwave-flash"},
    {"sit", "application/x-stuffit"},
    {"sv4cpio", "application/x-sv4cpio"},
    {"sv4crc", "application/x-sv4crc"},
    {"tar", "application/x-tar"},
    {"tcl", "application/x-tcl"},
    {"tex", "application/x-tex"},
    {"texi", "application/x-texinfo"},
    {"texinfo", "application/x-texinfo"},
    {"roff", "application/x-troff"},
    {"t", "application/x-troff"},
    {"tr", "application/x-troff"},
    {"man", "application/x-troff-man"},
    {"me", "application/x-troff-me"},
    {"ms", "application/x-troff-ms"},
    {"ustar", "application/x-ustar"},
    {"src", "application/x-wais-source"},
    {"cer", "application/x-x509-ca-cert"},
    {"crt", "application/x-x509-ca-cert"},
    {"der", "application/x-x509-ca-cert"},
    {"pko", "application/ynd.ms-pkipko"},
    {"zip", "application/zip"},
    {"zip", "application/x-zip-compressed"},
    {"au", "audio/basic"},
    {"snd", "audio/basic"},
    {"mid", "audio/mid"},
    {"rmi", "audio/mid"},
    {"mp3", "audio/mpeg"},
    {"aif", "audio/x-aiff"},
    {"aifc", "audio/x-aiff"},
    {"aiff", "audio/x-aiff"},
    {"m3u", "audio/x-mpegurl"},
    {"ra", "audio/x-pn-realaudio"},
    {"ram", "audio/x-pn-realaudio"},
    {"wav", "audio/x-wav"},
    {"uls", "text/iuls"},
    {"bas", "text/plain"},
    {"pas", "text/plain"},
    {"c", "text/plain"},
    {"h", "text/plain"},
    {"rtx", "text/richtext"},
    {"sct", "text/scriptlet"},
    {"tsv", "text/tab-separated-values"},
    {"htt", "text/webviewhtml"},
    {"htc", "text/x-component"},
    {"etx", "text/x-setext"},
    {"vcf", "text/x-vcard"},
    {"mpg", "video/mpeg"},
    {"mp2", "video/mpeg"},
    {"mpa", "video/mpeg"},
    {"mpe", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"mpv2", "video/mpeg"},
    {"mov", "video/quicktime"},
    {"qt", "video/quicktime"},
    {"lsf", "video/x-la-asf"},
    {"lsx", "video/x-la-asf"},
    {"asf", "video/x-ms-asf"},
    {"asr", "video/x-ms-asf"},
    {"asx", "video/x-ms-asf"},
    {"avi", "video/x-msvideo"},
    {"movie", "video/x-sgi-movie"},
    {"flr", "x-world/x-vrml"},
    {"vrml", "x-world/x-vrml"},
    {"wrl", "x-world/x-vrml"},
    {"wrz", "x-world/x-vrml"},
    {"xaf", "x-world/x-vrml"},
    {"xof", "x-world/x-vrml"},
    {"xps", "application/vnd.ms-xpsdocument"},
    {"fax", "image/g3fax"},
    {"odt", "application/vnd.oasis.opendocument.text"},
};
static_assert(sizeof(MimeTypeTable) / sizeof(MimeTypeTable[0]) == 206);

bool HasWildcards(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

// The first entry (in byte order of the names) that a name or mask finds; any kind of entry.
bool FindFirstEntry(const UnicodeString& nameOrMask, struct stat& st) {
  const size_t nameStart = NameStart(nameOrMask);
  const std::string folder = NativePath(std::u16string_view(nameOrMask).substr(0, nameStart));
  std::string pattern = NativePath(std::u16string_view(nameOrMask).substr(nameStart));
  if (pattern.empty()) return false;
  if (!HasWildcards(pattern)) return ::stat((folder + pattern).c_str(), &st) == 0;
  if (pattern == "*.*") pattern = "*";  // the system's "every name", dots or not
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return false;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (::fnmatch(pattern.c_str(), name.c_str(), 0) == 0) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    if (::stat((folder + name).c_str(), &st) == 0 || ::lstat((folder + name).c_str(), &st) == 0) return true;
  return false;
}

// A directory entry of that name that is no folder (links not followed: a dangling link is an
// entry too). A name that cannot be looked at (no search permission on its folder) may still be
// there, so only "no such entry" counts as gone.
bool NonFolderEntryExists(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
  return errno != ENOENT && errno != ENOTDIR;
}

bool Load(const UnicodeString& fileName, AnsiString& data, uint16_t accessMode, int64_t maxSize) {
  int flags = O_CLOEXEC | O_NONBLOCK;  // non-blocking so that a FIFO cannot stall the open
  switch (accessMode & 0x000F) {
    case TqzFiles::fmOpenRead: flags |= O_RDONLY; break;
    case TqzFiles::fmOpenReadWrite: flags |= O_RDWR; break;
    default: return false;  // write-only or unknown: nothing can be read
  }
  if (fileName.empty()) return false;
  const int fd = ::open(NativePath(fileName).c_str(), flags);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < TqzFiles::MaxLoadSize;
  if (ok) {
    const int64_t want = std::min<int64_t>(st.st_size, maxSize);
    std::string buffer(static_cast<size_t>(want), '\0');
    size_t done = 0;
    while (done < buffer.size()) {
      const ssize_t r = ::read(fd, buffer.data() + done, buffer.size() - done);
      if (r < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    // A shortfall ("stream read exception - data size mismatch") fails the load.
    ok = done == buffer.size();
    if (ok) data = std::move(buffer);
  }
  ::close(fd);
  return ok;
}

}  // namespace

UnicodeString TqzFiles::CheckPathExt(const UnicodeString& Path) {
  UnicodeString p = platform::Trim(Path);
  if (!p.empty() && !IsSeparator(p.back())) p.push_back(u'/');
  return p;
}

UnicodeString TqzFiles::ExtractPureFileName(const UnicodeString& Path) {
  const UnicodeString name = Path.substr(NameStart(Path));
  const size_t dot = name.rfind(u'.');
  return dot == UnicodeString::npos ? name : name.substr(0, dot);
}

bool TqzFiles::PathExists(const UnicodeString& Path) {
  const size_t nameStart = NameStart(Path);
  if (nameStart == 0) return false;
  const UnicodeString folder = CheckPathExt(Path.substr(0, nameStart));
  if (folder.empty()) return false;
  struct stat st {};
  return ::stat(NativePath(folder).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool TqzFiles::CreatePath(const UnicodeString& Path, bool CheckExistence) {
  try {
    const UnicodeString folder = Path.substr(0, NameStart(Path));
    if (CheckExistence && PathExists(folder)) return true;
    bool last = false;
    for (size_t i = 0; i < folder.size(); ++i) {
      if (!IsSeparator(folder[i])) continue;
      // Each level, whether it exists or not; only the deepest one decides the result.
      last = ::mkdir(NativePath(std::u16string_view(folder).substr(0, i + 1)).c_str(), 0777) == 0;
    }
    return last;
  } catch (...) {
    return false;
  }
}

UnicodeString TqzFiles::GetTempPath() {
  const char* tmp = std::getenv("TMPDIR");
  UnicodeString folder = tmp ? platform::Trim(platform::Utf8ToWide(tmp)) : UnicodeString();
  if (folder.empty()) folder = u"/tmp";
  return CheckPathExt(folder);
}

int64_t TqzFiles::GetSizeOfFile(const UnicodeString& Name) {
  try {
    if (Name.empty()) return 0;
    struct stat st {};
    if (!FindFirstEntry(Name, st)) return 0;
    return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
  } catch (...) {
    return 0;
  }
}

bool TqzFiles::LoadFileToString(const UnicodeString& FileName, AnsiString& Data) {
  return LoadFileToString(FileName, Data, static_cast<uint16_t>(fmOpenRead | fmShareDenyWrite));
}

bool TqzFiles::LoadFileToString(const UnicodeString& FileName, AnsiString& Data, uint16_t AccessMode) {
  try {
    return Load(FileName, Data, AccessMode, MaxLoadSize);
  } catch (...) {
    return false;
  }
}

bool TqzFiles::LoadFileToString(const UnicodeString& FileName, AnsiString& Data, int32_t MaxSize) {
  if (MaxSize < 0) return false;
  try {
    return Load(FileName, Data, static_cast<uint16_t>(fmOpenRead | fmShareDenyWrite), MaxSize);
  } catch (...) {
    return false;
  }
}

bool TqzFiles::ForceDeleteFile(const UnicodeString& Filename) {
  try {
    const std::string path = NativePath(Filename);
    if (path.empty()) return true;
    for (int attempt = 0; attempt < 10; ++attempt) {
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);  // clear the read-only flag
      const bool deleted = ::unlink(path.c_str()) == 0;
      if (!NonFolderEntryExists(path)) break;
      if (!deleted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !NonFolderEntryExists(path);
  } catch (...) {
    return false;
  }
}

UnicodeString TqzFiles::GetMIMEType(const UnicodeString& FileName, const UnicodeString& Default) {
  try {
    const UnicodeString name = FileName.substr(NameStart(FileName));
    const size_t dot = name.rfind(u'.');
    const UnicodeString ext = LowerCaseStr(dot == UnicodeString::npos ? UnicodeString() : name.substr(dot + 1));
    for (const MimeRow& row : MimeTypeTable)
      if (ext == platform::ToU16(row.Ext)) return platform::ToU16(row.Type);
    UnicodeString type =
        VarToStr(TqzRegistry::GetValue(HKEY_CLASSES_ROOT, u"." + ext, u"Content Type", Variant(Default), false));
    return type.empty() ? Default : type;
  } catch (...) {
    return Default;
  }
}
