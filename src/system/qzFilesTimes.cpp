// TqzFiles: file times and ages, lists by age, owners, locks, sizes and free space.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdio>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"
#include "qzToolsIdentity.h"

using namespace qzfiles;

namespace {

// The first entry a name or mask finds (any entry).
bool FirstEntry(const UnicodeString& nameOrMask, FoundEntry& entry) {
  if (nameOrMask.empty()) return false;
  std::vector<FoundEntry> found = FindEntries(nameOrMask, EntryFilter::Any);
  if (found.empty()) return false;
  entry = std::move(found.front());
  return true;
}

std::string FolderOf(const UnicodeString& nameOrMask) { return NativePath(FolderPart(nameOrMask)); }

[[noreturn]] void RaiseFileTime() { throw Exception(u"FileTime Convert Error"); }

timespec ToTimespec(TDateTime local) {
  const auto tp = platform::FromLocalDateTime(local);
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
  timespec t{};
  t.tv_sec = static_cast<time_t>(ns / 1000000000);
  t.tv_nsec = static_cast<long>(ns % 1000000000);
  if (t.tv_nsec < 0) {
    t.tv_nsec += 1000000000;
    --t.tv_sec;
  }
  return t;
}

// The local date-time cut to even seconds, milliseconds dropped.
TDateTime ToFileDateForm(TDateTime local) {
  int y, mo, d, h, mi, s, ms;
  platform::DecodeDate(local, y, mo, d);
  platform::DecodeTime(local, h, mi, s, ms);
  return platform::EncodeDate(y, mo, d) + platform::EncodeTime(h, mi, s - s % 2, 0);
}

bool SetTimes(const UnicodeString& fileName, const timespec& access, const timespec& write) {
  if (fileName.empty()) return false;
  const timespec times[2] = {access, write};
  return ::utimensat(AT_FDCWD, NativePath(fileName).c_str(), times, 0) == 0;
}

int64_t AgeInMinutes(TDateTime fileDate) {
  const double minutes = (platform::Now() - fileDate) * 1440.0;
  return static_cast<int64_t>(std::nearbyint(minutes));  // the default rounding: halves to even
}

int32_t AttributesOf(const FoundEntry& e) {
  int32_t attr = TqzFiles::faArchive;
  if (IsHiddenName(e.Name)) attr |= TqzFiles::faHidden;
  if ((e.Stat.st_mode & S_IWUSR) == 0) attr |= TqzFiles::faReadOnly;
  return attr;
}

// Minutes of a day count: 0 stays 0; else whole days before today plus the minutes since
// midnight.
uint32_t DaysToMinutes(uint32_t days) {
  if (days == 0) return 0;
  int h, mi, s, ms;
  platform::DecodeTime(platform::Now(), h, mi, s, ms);
  return (days - 1) * 1440u + static_cast<uint32_t>(h * 60 + mi);
}

// The shared walk of the lists by age: the non-folder entries of the mask, taken by `take`.
template <class Take>
uint32_t ListByAge(const UnicodeString& path, TStrings& fileList, int32_t maxFiles, Take take) {
  if (auto* list = dynamic_cast<TStringList*>(&fileList)) {
    list->SetDuplicates(dupIgnore);
    list->SetSorted(true);
  }
  uint32_t count = 0;
  try {
    const UnicodeString folder = FolderPart(path);
    for (const FoundEntry& e : FindEntries(path, EntryFilter::Any)) {
      if (e.IsFolder || e.IsLinkToFolder) continue;
      if (take(e)) {
        fileList.Add(folder + e.WName);
        ++count;
      }
      if (maxFiles >= 1 && fileList.Count() >= maxFiles) break;
    }
  } catch (...) {
  }
  return count;
}

}  // namespace

// ---- Times -----------------------------------------------------------------------------------

TDateTime TqzFiles::GetFileCreationDate(const UnicodeString& Fname) {
  FoundEntry e;
  TDateTime result = 0;
  if (!FirstEntry(Fname, e) || !CreationTime(FolderOf(Fname) + e.Name, result)) RaiseFileTime();
  return result;
}

TDateTime TqzFiles::GetFileChangeDate(const UnicodeString& Fname) {
  FoundEntry e;
  if (!FirstEntry(Fname, e)) RaiseFileTime();
  return LocalTime(e.Stat.st_mtim);
}

TDateTime TqzFiles::GetCreationTimeOfFile(const UnicodeString& AFileName) {
  try {
    FoundEntry e;
    TDateTime result = 0;
    if (FirstEntry(AFileName, e) && CreationTime(FolderOf(AFileName) + e.Name, result)) return result;
  } catch (...) {
  }
  return 0;
}

TDateTime TqzFiles::GetFileDateTime(const UnicodeString& FileName) {
  try {
    FoundEntry e;
    if (FirstEntry(FileName, e)) return FileDate(e.Stat);
  } catch (...) {
  }
  return 0;
}

int64_t TqzFiles::GetFileAgeInMinutes(const UnicodeString& FileName) {
  const TDateTime date = GetFileDateTime(FileName);
  return date == 0 ? 0 : AgeInMinutes(date);
}

bool TqzFiles::SetFileTimesHelper(const UnicodeString& FileName, TDateTime DateTime, TFileTimes Times) {
  try {
    const timespec omit{0, UTIME_OMIT};
    switch (Times) {
      case ftLastAccess: return SetTimes(FileName, ToTimespec(DateTime), omit);
      case ftLastWrite: return SetTimes(FileName, omit, ToTimespec(DateTime));
      case ftCreation: return false;  // Linux keeps the birth time to itself
    }
  } catch (...) {
  }
  return false;
}

bool TqzFiles::SetFileLastWriteDate(const UnicodeString& FileName, TDateTime DateTime) {
  return SetFileTimesHelper(FileName, DateTime, ftLastWrite);
}

bool TqzFiles::SetFileLastAccessDate(const UnicodeString& FileName, TDateTime DateTime) {
  return SetFileTimesHelper(FileName, DateTime, ftLastAccess);
}

bool TqzFiles::SetFileCreationDate(const UnicodeString& FileName, TDateTime DateTime) {
  return SetFileTimesHelper(FileName, DateTime, ftCreation);
}

bool TqzFiles::SetFileDate(const UnicodeString& FileName, TDateTime NewDate) {
  try {
    return SetTimes(FileName, timespec{0, UTIME_OMIT}, ToTimespec(ToFileDateForm(NewDate)));
  } catch (...) {
    return false;
  }
}

bool TqzFiles::TouchFile(const UnicodeString& FileName) { return SetFileDate(FileName, platform::Now()); }

bool TqzFiles::CopyFileDateAttribute(const UnicodeString& SourceFilePath, const UnicodeString& DestinationFilePath) {
  try {
    SetFileDate(DestinationFilePath, GetCreationTimeOfFile(SourceFilePath));
    return true;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::CopyFileAllDateAttribute(const UnicodeString& SourceFilePath, const UnicodeString& DestinationFilePath) {
  try {
    SetFileCreationDate(DestinationFilePath, GetCreationTimeOfFile(SourceFilePath));
    SetFileLastWriteDate(DestinationFilePath, GetFileChangeDate(SourceFilePath));
    return true;
  } catch (...) {
    return false;
  }
}

// ---- Lists by age ------------------------------------------------------------------------------

uint32_t TqzFiles::GetFileListByFileAgeInMinutes(const UnicodeString& Path, uint32_t Minutes, TStrings& FileList,
                                                 TFileAge FileAge, int32_t Attributes, int32_t MaxFiles) {
  return ListByAge(Path, FileList, MaxFiles, [&](const FoundEntry& e) {
    if ((AttributesOf(e) & Attributes) == 0) return false;
    if (Minutes == 0) return true;
    const int64_t age = AgeInMinutes(FileDate(e.Stat));
    if (FileAge == faYounger) return age <= Minutes;
    if (FileAge == faOlder) return age >= Minutes;
    return false;
  });
}

uint32_t TqzFiles::GetFileListByFileAgeInDays(const UnicodeString& Path, uint32_t Days, TStrings& FileList,
                                              TFileAge FileAge, int32_t Attributes, int32_t MaxFiles) {
  try {
    return GetFileListByFileAgeInMinutes(Path, DaysToMinutes(Days), FileList, FileAge, Attributes, MaxFiles);
  } catch (...) {
    return 0;
  }
}

uint32_t TqzFiles::GetFileListByFileAgeBetweenInMinutes(const UnicodeString& Path, uint32_t FromMinutes,
                                                        uint32_t ToMinutes, TStrings& FileList) {
  return ListByAge(Path, FileList, 0, [&](const FoundEntry& e) {
    const int64_t age = AgeInMinutes(FileDate(e.Stat));
    return (FromMinutes == 0 || age >= FromMinutes) && (ToMinutes == 0 || age <= ToMinutes);
  });
}

uint32_t TqzFiles::GetFileListBetweenFileAgeInDays(const UnicodeString& Path, uint32_t FromDays, uint32_t ToDays,
                                                   TStrings& FileList) {
  try {
    return GetFileListByFileAgeBetweenInMinutes(Path, DaysToMinutes(FromDays), DaysToMinutes(ToDays), FileList);
  } catch (...) {
    return 0;
  }
}

uint32_t TqzFiles::GetFileListByFileAgeBetweenDate(const UnicodeString& Path, TDateTime FromDate, TDateTime ToDate,
                                                   TStrings& FileList) {
  return ListByAge(Path, FileList, 0, [&](const FoundEntry& e) {
    const TDateTime date = FileDate(e.Stat);
    return FromDate <= date && date <= ToDate && EqualsFileName(e.WName, Path);
  });
}

// ---- Owners and locks --------------------------------------------------------------------------

bool TqzFiles::GetFileOwner(const UnicodeString& FileName, UnicodeString& Domain, UnicodeString& Username) {
  try {
    struct stat st {};
    if (FileName.empty() || ::stat(NativePath(FileName).c_str(), &st) != 0) return false;
    passwd pw {};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(st.st_uid, &pw, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return false;
    Username = platform::Utf8ToWide(pw.pw_name);
    Domain = TqzToolsIdentity::GetComputerName();
    return true;
  } catch (...) {
    return false;
  }
}

TqzFiles::LockHandle TqzFiles::CreateFileLock(const UnicodeString& FileName) {
  try {
    if (FileName.empty()) return InvalidLock;
    const int fd = ::open(NativePath(FileName).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return InvalidLock;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however it grows
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      ::close(fd);
      return InvalidLock;
    }
    return static_cast<LockHandle>(fd);
  } catch (...) {
    return InvalidLock;
  }
}

bool TqzFiles::ReleaseFileLock(LockHandle Handle) {
  if (Handle == InvalidLock || Handle > static_cast<LockHandle>(INT32_MAX)) return false;
  return ::close(static_cast<int>(Handle)) == 0;
}

bool TqzFiles::FileIsInUse(const UnicodeString& FileName) {
  try {
    if (!FileExists(FileName)) return false;
    platform::UniqueFd fd(::open(NativePath(FileName).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (!fd.ok()) return true;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_OFD_GETLK, &lock) != 0) return true;
    return lock.l_type != F_UNLCK;
  } catch (...) {
    return true;
  }
}

// ---- Sizes and space ---------------------------------------------------------------------------

int64_t TqzFiles::GetFileSize(const UnicodeString& SzFile) {
  try {
    const std::vector<FoundEntry> found = FindEntries(SzFile, EntryFilter::Plain);
    return found.empty() ? 0 : static_cast<int64_t>(found.front().Stat.st_size);
  } catch (...) {
    return 0;
  }
}

int64_t TqzFiles::GetFileSizeEx(const UnicodeString& SzFile) {
  try {
    FoundEntry e;
    return FirstEntry(SzFile, e) ? static_cast<int64_t>(e.Stat.st_size) : -1;
  } catch (...) {
    return -1;
  }
}

namespace {
AnsiString TwoDecimals(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  return buf;
}
}  // namespace

AnsiString TqzFiles::ByteToKb(int64_t B) { return TwoDecimals(static_cast<double>(B) / 1024.0); }
AnsiString TqzFiles::ByteToMb(int64_t B) { return TwoDecimals(static_cast<double>(B) / 1048576.0); }
AnsiString TqzFiles::ByteToGb(int64_t B) { return TwoDecimals(static_cast<double>(B) / 1073741824.0); }

UnicodeString TqzFiles::ByteToStr(int64_t B) {
  UnicodeString out;
  uint64_t rest = B < 0 ? 0 - static_cast<uint64_t>(B) : static_cast<uint64_t>(B);
  if (B < 0) out = u"-";
  static const struct {
    int shift;
    const char16_t* label;
  } units[] = {{40, u" TB "}, {30, u" GB "}, {20, u" MB "}, {10, u" KB "}};
  bool started = false;
  for (const auto& u : units) {
    const uint64_t count = rest >> u.shift;
    rest &= (uint64_t{1} << u.shift) - 1;
    if (count == 0 && !started) continue;
    started = true;
    out += platform::IntToStr(static_cast<int64_t>(count)) + u.label;
  }
  out += platform::IntToStr(static_cast<int64_t>(rest)) + (rest == 1 ? u" Byte" : u" Bytes");
  return out;
}

int64_t TqzFiles::GetFreeDiskSpace(const UnicodeString& Path, bool InMB) {
  try {
    std::string path = NativePath(platform::Trim(Path));
    if (path.empty()) return -1;
    // A folder that does not exist yet lies on the file system of its nearest existing parent.
    struct statvfs vfs {};
    while (::statvfs(path.c_str(), &vfs) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) return -1;
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      const size_t slash = path.rfind('/');
      if (slash == std::string::npos) {
        path = ".";
      } else {
        if (path == "/") return -1;
        path = slash == 0 ? "/" : path.substr(0, slash);
      }
    }
    const int64_t bytes = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    return InMB ? bytes / 1048576 : bytes;
  } catch (...) {
    return -1;
  }
}
