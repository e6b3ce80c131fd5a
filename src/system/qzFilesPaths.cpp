// TqzFiles: path texts, system folders and free names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"
#include "qzToolsIdentity.h"
#include "Clock.h"

using namespace qzfiles;

namespace {

// The longest file name the file system takes, in bytes of UTF-8.
constexpr size_t MaxNameBytes = 255;

size_t Utf8Length(std::u16string_view s) { return platform::WideToUtf8(s).size(); }

// The longest leading part of s whose UTF-8 form has at most maxBytes bytes; characters (and
// surrogate pairs) are never split.
UnicodeString CutToUtf8Bytes(std::u16string_view s, size_t maxBytes) {
  size_t bytes = 0, i = 0;
  while (i < s.size()) {
    const char16_t c = s[i];
    size_t units = 1, need = 3;
    if (c < 0x80) need = 1;
    else if (c < 0x800) need = 2;
    else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      units = 2;
      need = 4;
    }
    if (bytes + need > maxBytes) break;
    bytes += need;
    i += units;
  }
  return UnicodeString(s.substr(0, i));
}

// The characters a file name cannot hold: codes 0..31, " * / : < > ? \ | and 127.
TqzCharSet FileNameCharSet() {
  TqzCharSet set;
  for (int c = 0; c < 32; ++c) set.set(c);
  for (unsigned char c : std::string_view("\"*/:<>?\\|\x7f")) set.set(c);
  return set;
}

UnicodeString ReplaceAll(UnicodeString text, std::u16string_view from, std::u16string_view to) {
  for (size_t pos = text.find(from); pos != UnicodeString::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

// The local time as yyyymmddhhnnsszzz.
UnicodeString TimeStampDigits() {
  int y, mo, d, h, mi, s, ms;
  const TDateTime now = platform::Now();
  platform::DecodeDate(now, y, mo, d);
  platform::DecodeTime(now, h, mi, s, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d%03d", y, mo, d, h, mi, s, ms);
  return platform::ToU16(buf);
}

}  // namespace

UnicodeString TqzFiles::CheckPathExt(const UnicodeString& Path) {
  UnicodeString p = platform::Trim(Path);
  if (!p.empty() && !IsSeparator(p.back())) p.push_back(u'/');
  return p;
}

UnicodeString TqzFiles::ErasePathExt(const UnicodeString& Path) {
  UnicodeString p = platform::Trim(Path);
  if (!p.empty() && IsSeparator(p.back())) p.pop_back();
  return p;
}

UnicodeString TqzFiles::CheckFileExtension(const UnicodeString& Extension, bool ToLowercase) {
  UnicodeString ext = platform::Trim(Extension);
  if (ext.empty()) return ext;
  if (ext[0] != u'.') ext.insert(ext.begin(), u'.');
  return ToLowercase ? LowerCaseStr(ext) : ext;
}

UnicodeString TqzFiles::ExtractPureFileName(const UnicodeString& Path) {
  const UnicodeString name = NamePart(Path);
  const size_t dot = name.rfind(u'.');
  return dot == UnicodeString::npos ? name : name.substr(0, dot);
}

UnicodeString TqzFiles::GetFileExtention(const UnicodeString& FilePath) {
  const size_t dot = FilePath.rfind(u'.');
  return dot == UnicodeString::npos ? FilePath : FilePath.substr(dot);
}

bool TqzFiles::EqualsFileName(const UnicodeString& PathWithoutMask, const UnicodeString& PathPossibleWithMask) {
  UnicodeString mask = platform::Trim(NamePart(PathPossibleWithMask));
  if (mask == u"*.*") mask = u"*";  // every name, as in the directory searches
  return TqzStrings::EqualsExW(platform::Trim(NamePart(PathWithoutMask)), mask, false, true, u"*", u"?");
}

UnicodeString TqzFiles::ConvertToFileName(const UnicodeString& Str) {
  static const TqzCharSet invalid = FileNameCharSet();
  const UnicodeString clean = TqzStrings::ApplyTqzCharset(Str, invalid, true);
  if (Utf8Length(clean) <= MaxNameBytes) return clean;
  const UnicodeString ext = NameExtension(clean);
  UnicodeString name = ExtractPureFileName(clean);
  if (name.empty()) name = u"_";
  const size_t extBytes = Utf8Length(ext);
  UnicodeString cut = CutToUtf8Bytes(name, extBytes < MaxNameBytes ? MaxNameBytes - extBytes : 0);
  if (cut.empty()) cut = CutToUtf8Bytes(name, 4);  // at least one character of the name
  return CutToUtf8Bytes(cut + ext, MaxNameBytes);
}

UnicodeString TqzFiles::ShortPath(const UnicodeString& Path, int32_t Maxlen) {
  if (static_cast<int64_t>(Path.size()) <= Maxlen) return Path;
  const UnicodeString name = NamePart(Path);
  const size_t nameStart = NameStart(Path);
  const char16_t sep = nameStart > 0 ? Path[nameStart - 1] : u'/';
  const int64_t limit = static_cast<int64_t>(Maxlen) - static_cast<int64_t>(name.size()) - 4;
  UnicodeString head;
  std::u16string_view rest(Path);
  for (;;) {
    size_t sepPos = 0;
    while (sepPos < rest.size() && !IsSeparator(rest[sepPos])) ++sepPos;
    if (sepPos >= rest.size()) break;  // no folder left to take
    const int64_t pos = static_cast<int64_t>(sepPos) + 1;  // 1-based position of the separator
    if (pos + static_cast<int64_t>(head.size()) >= limit) break;
    head.append(rest.substr(0, sepPos + 1));
    rest.remove_prefix(sepPos + 1);
  }
  return head + u"..." + sep + name;
}

UnicodeString TqzFiles::GetShortDOSPath(const UnicodeString& SLongName) {
  if (!NameTaken(NativePath(SLongName)))
    throw Exception(u"unable to determine short path name from " + SLongName);
  return SLongName;
}

UnicodeString TqzFiles::BuildPathStr(const UnicodeString& InPath, bool CheckPathSuffix, const UnicodeString& UserName,
                                     const UnicodeString& HostName) {
  const UnicodeString path = TqzStrings::CheckDefaultPlaceHolders(InPath, UserName, HostName);
  return CheckPathSuffix ? CheckPathExt(path) : path;
}

UnicodeString TqzFiles::GetTempPath() {
  const char* tmp = std::getenv("TMPDIR");
  UnicodeString folder = tmp ? platform::Trim(platform::Utf8ToWide(tmp)) : UnicodeString();
  if (folder.empty()) folder = u"/tmp";
  return CheckPathExt(folder);
}

UnicodeString TqzFiles::GetUserTempPath() {
  return TqzToolsIdentity::GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + u"Temp/";
}

UnicodeString TqzFiles::GetWinPath(bool UserSpecific) {
  (void)UserSpecific;  // there is no private Windows folder per user here
  return CheckPathExt(TqzToolsIdentity::GetSpecialFolderPath(CSIDL_WINDOWS));
}

UnicodeString TqzFiles::GetSpecialFolder(int32_t Folder) {
  UnicodeString path = TqzToolsIdentity::GetSpecialFolderPath(Folder);
  // Without the separator the folder path would vanish for the root folder.
  if (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
  return path;
}

UnicodeString TqzFiles::GetFreeFileName(const UnicodeString& Destination, uint32_t MaxRetry,
                                        const UnicodeString& Separator, bool AlwaysAddId, bool WithLeadingZero) {
  try {
    const UnicodeString ext = NameExtension(Destination);
    const UnicodeString base = Destination.substr(0, Destination.size() - ext.size());
    UnicodeString candidate;
    for (uint32_t n = 1;; ++n) {
      if (n == 1 && !AlwaysAddId) {
        candidate = Destination;
      } else {
        UnicodeString number = platform::IntToStr(n);
        if (WithLeadingZero && number.size() < 6) number.insert(0, 6 - number.size(), u'0');
        candidate = base + Separator + number + ext;
      }
      if (!NameTaken(NativePath(candidate))) return candidate;
      if (n >= MaxRetry) break;
    }
    // Every numbered name is taken: a time stamp, fresh for each attempt.
    UnicodeString last;
    for (int attempt = 0; attempt < 5000; ++attempt) {
      const UnicodeString stamp = TimeStampDigits();
      if (stamp == last) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      last = stamp;
      candidate = base + Separator + stamp + ext;
      if (!NameTaken(NativePath(candidate))) return candidate;
    }
    return u"";
  } catch (...) {
    return u"";
  }
}

UnicodeString TqzFiles::DetermineNewFilename(const UnicodeString& Destination, TStrings& FileList,
                                             const UnicodeString& ValidExtensions, const UnicodeString& NewExtension,
                                             int32_t MaxFilenameLength, int32_t MaxFinalLength) {
  const UnicodeString folder = FolderPart(Destination);
  const UnicodeString newExt = CheckFileExtension(NewExtension, true);
  // " pdf, .TIF" -> the items PDF and TIF; "*" takes every file. Items are compared whole, so an
  // extension that is only part of an item ("F" of "PDF") or none at all is not taken.
  UnicodeString valid;
  for (char16_t c : UpperCaseStr(ValidExtensions))
    if (c != u' ' && c != u'.') valid.push_back(c);
  const bool all = valid == u"*";
  std::vector<UnicodeString> items;
  for (size_t start = 0; start <= valid.size();) {
    size_t comma = valid.find(u',', start);
    if (comma == UnicodeString::npos) comma = valid.size();
    if (comma > start) items.push_back(valid.substr(start, comma - start));
    start = comma + 1;
  }
  std::vector<UnicodeString> names;
  for (int i = 0; i < FileList.Count(); ++i) {
    const UnicodeString file = FileList.Get(i);
    const UnicodeString ext = NameExtension(file);
    const UnicodeString extUpper = ext.empty() ? UnicodeString() : UpperCaseStr(ext.substr(1));
    const bool taken = all || (!extUpper.empty() && std::find(items.begin(), items.end(), extUpper) != items.end());
    if (!taken) continue;
    UnicodeString name = ExtractPureFileName(file);
    while (name.find(u"  ") != UnicodeString::npos) name = ReplaceAll(name, u"  ", u" ");
    names.push_back(name);
  }
  if (names.empty()) return GetFreeFileName(folder + u"Document" + newExt);
  UnicodeString joined;
  if (names.size() == 1) {
    joined = names[0];
  } else {
    for (UnicodeString& name : names) {
      if (MaxFilenameLength >= 0 && name.size() > static_cast<size_t>(MaxFilenameLength))
        name = name.substr(0, static_cast<size_t>(MaxFilenameLength)) + u"...";
      if (!joined.empty()) joined += u", ";
      joined += name;
    }
  }
  if (MaxFinalLength >= 0 && joined.size() > static_cast<size_t>(MaxFinalLength))
    joined = joined.substr(0, static_cast<size_t>(MaxFinalLength)) + u"...";
  joined = ReplaceAll(joined, u"....", u"...");
  return GetFreeFileName(folder + joined + newExt);
}

UnicodeString TqzFiles::CreateUniqueFilename(const UnicodeString& TempDirectory, const UnicodeString& Ext) {
  const UnicodeString folder = CheckPathExt(TempDirectory);
  std::random_device rd;
  int err = EEXIST;
  for (int attempt = 0; attempt < 4096 && err == EEXIST; ++attempt) {
    const UnicodeString candidate = folder + u"~" + platform::IntToHex(rd() & 0xFFFF, 4) + u"000." + Ext;
    const int fd = ::open(NativePath(candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    err = errno;
  }
  errno = err;
  throw Exception(TqzToolsIdentity::GetLastErrorMessage());
}
