// Shared helpers of the TqzFiles sources: path parsing, masks and the directory search.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cerrno>

#include "Clock.h"
#include "CodePage.h"
#include "qzFilesInternal.h"
#include "qzStrings.h"

namespace qzfiles {

size_t NameStart(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i;
  return 0;
}

UnicodeString NameExtension(std::u16string_view path) {
  const std::u16string_view name = path.substr(NameStart(path));
  const size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos ? UnicodeString() : UnicodeString(name.substr(dot));
}

std::string NativePath(std::u16string_view path) {
  UnicodeString p(path);
  std::replace(p.begin(), p.end(), u'\\', u'/');
  return platform::WideToUtf8(p);
}

bool MaskMatches(std::u16string_view name, std::u16string_view mask, bool oneCharSign) {
  if (mask == u"*.*") mask = u"*";  // the system's "every name", dots or not
  return TqzStrings::EqualsExW(UnicodeString(name), UnicodeString(mask), false, false, u"*",
                               oneCharSign ? u"?" : u"");
}

bool NameTaken(const std::string& nativePath) {
  struct stat st {};
  return !nativePath.empty() && ::lstat(nativePath.c_str(), &st) == 0;
}

namespace {

bool Describe(const std::string& path, const std::string& name, FoundEntry& e) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  e.Name = name;
  e.WName = platform::Utf8ToWide(name);
  e.Stat = st;
  e.IsLink = S_ISLNK(st.st_mode);
  e.IsFolder = S_ISDIR(st.st_mode);
  if (e.IsLink) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) {
      e.Stat = target;
      e.IsLinkToFolder = S_ISDIR(target.st_mode);
    }
  }
  return true;
}

bool Accept(const FoundEntry& e, EntryFilter filter) {
  const bool folderLike = e.IsFolder || e.IsLinkToFolder;
  switch (filter) {
    case EntryFilter::Plain: return !folderLike && !IsHiddenName(e.Name);
    case EntryFilter::PlainAndHidden: return !folderLike;
    case EntryFilter::FoldersAndFiles: return !IsHiddenName(e.Name);
    case EntryFilter::Any: return true;
  }
  return false;
}

}  // namespace

std::vector<FoundEntry> FindEntriesIn(const std::string& nativeFolder, std::u16string_view mask, EntryFilter filter) {
  std::vector<FoundEntry> found;
  if (mask.empty()) return found;
  if (!HasWildcards(mask)) {
    const std::string name = platform::WideToUtf8(UnicodeString(mask));
    if (name == "." || name == ".." || name.find('/') != std::string::npos) return found;
    FoundEntry e;
    if (Describe(nativeFolder + name, name, e) && Accept(e, filter)) found.push_back(std::move(e));
    return found;
  }
  DIR* dir = ::opendir(nativeFolder.empty() ? "." : nativeFolder.c_str());
  if (dir == nullptr) return found;
  std::vector<std::string> names;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    if (MaskMatches(platform::Utf8ToWide(name), mask)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    FoundEntry e;
    if (Describe(nativeFolder + name, name, e) && Accept(e, filter)) found.push_back(std::move(e));
  }
  return found;
}

std::vector<FoundEntry> FindEntries(std::u16string_view folderAndMask, EntryFilter filter) {
  const size_t nameStart = NameStart(folderAndMask);
  return FindEntriesIn(NativePath(folderAndMask.substr(0, nameStart)), folderAndMask.substr(nameStart), filter);
}

std::vector<std::string> ListSubFolders(const std::string& nativeFolder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(nativeFolder.empty() ? "." : nativeFolder.c_str());
  if (dir == nullptr) return names;
  const int dfd = ::dirfd(dir);
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (IsHiddenName(name)) continue;  // ".", ".." and hidden folders
    bool folder = d->d_type == DT_DIR;
    if (d->d_type == DT_UNKNOWN) {
      struct stat st {};
      folder = ::fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    if (folder) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool WriteAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t w = ::write(fd, data + done, size - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

}  // namespace qzfiles

namespace qzfiles {

std::vector<std::string> ListAllSubFolders(const std::string& nativeFolder) {
  std::vector<std::string> names;
  for (const FoundEntry& e : FindEntriesIn(nativeFolder, u"*", EntryFilter::Any))
    if (e.IsFolder) names.push_back(e.Name);
  return names;
}

TDateTime LocalTime(const struct timespec& t) {
  const auto tp = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)));
  return platform::ToLocalDateTime(tp);
}

TDateTime FileDate(const struct stat& st) {
  time_t seconds = st.st_mtim.tv_sec;
  std::tm tm {};
  ::localtime_r(&seconds, &tm);
  if (tm.tm_sec % 2 != 0) --seconds;  // packed file dates keep even seconds only
  return platform::ToLocalDateTime(std::chrono::system_clock::from_time_t(seconds));
}

bool CreationTime(const std::string& nativePath, TDateTime& result) {
  struct statx sx {};
  if (::statx(AT_FDCWD, nativePath.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) return false;
  const struct statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  result = LocalTime(timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)});
  return true;
}

}  // namespace qzfiles
