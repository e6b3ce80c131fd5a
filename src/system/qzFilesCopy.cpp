// TqzFiles: copying, moving and mirroring, with the exist modes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"
#include "qzMD5.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"
#include "qzToolsIdentity.h"

using namespace qzfiles;

namespace {

// Copies `size` bytes between descriptors: in the kernel where it can, else through a buffer.
int CopyData(int in, int out, int64_t size) {
  int64_t left = size;
  bool kernel = true;
  std::string buffer;
  while (left > 0) {
    if (kernel) {
      const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(std::min<int64_t>(left, 1 << 30)), 0);
      if (n > 0) {
        left -= n;
        continue;
      }
      if (n == 0) return EIO;  // the file shrank while it was copied
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EPERM) return errno;
      kernel = false;
      buffer.resize(1 << 20);
    }
    const ssize_t r = ::read(in, buffer.data(), static_cast<size_t>(std::min<int64_t>(left, buffer.size())));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) return EIO;
    if (!WriteAll(out, buffer.data(), static_cast<size_t>(r))) return errno;
    left -= r;
  }
  return 0;
}

// Copies a regular file with its mode and access and modification times. Without `replace` the
// target is created exclusively; with it the copy is written beside the target and renamed over
// it. Nothing is left behind on failure. 0 or the errno of the failing step.
int CopyFileTo(const std::string& from, const std::string& to, bool replace) {
  platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!in.ok()) return errno;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  std::string written = to;
  if (replace) {
    std::random_device rd;
    written = to + ".~copy" + std::to_string(::getpid()) + "-" + std::to_string(rd());
  }
  const int fd = ::open(written.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int err = 0;
  {
    platform::UniqueFd out(fd);
    err = CopyData(in.get(), out.get(), st.st_size);
    if (!err && ::fchmod(out.get(), st.st_mode & 07777) != 0) err = errno;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (!err && ::futimens(out.get(), times) != 0) err = errno;
  }
  if (!err && replace && ::rename(written.c_str(), to.c_str()) != 0) err = errno;
  if (err) ::unlink(written.c_str());
  return err;
}

// Moves a file or folder. Without `replace` an existing target of any kind makes it fail; across
// file systems a regular file is copied and its source removed. 0 or an errno.
int MovePath(const std::string& from, const std::string& to, bool replace) {
  if (from.empty() || to.empty()) return ENOENT;
  int rc = replace ? ::rename(from.c_str(), to.c_str())
                   : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (rc == 0) return 0;
  int err = errno;
  if (!replace && (err == EINVAL || err == ENOSYS)) {
    // A file system without the no-replace rename: a new link fails on an existing name.
    struct stat st {};
    if (::lstat(from.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      if (::link(from.c_str(), to.c_str()) != 0) return errno;
      if (::unlink(from.c_str()) == 0) return 0;
      err = errno;
      ::unlink(to.c_str());
      return err;
    }
  }
  if (err != EXDEV) return err;
  err = CopyFileTo(from, to, replace);
  if (err) return err;
  if (::unlink(from.c_str()) != 0) {
    err = errno;
    ::unlink(to.c_str());
    return err;
  }
  return 0;
}

bool SameContent(const UnicodeString& a, const UnicodeString& b) { return TqzFiles::CompareFile(a, b); }

// The target itself when no entry has its name, else its next free name.
UnicodeString UniqueTarget(const UnicodeString& target) {
  return NameTaken(NativePath(target)) ? TqzFiles::GetFreeFileName(target) : target;
}

// Moves to the next free name of `target`, retrying when another process takes it meanwhile.
int MoveToFreeName(const UnicodeString& source, const UnicodeString& target, UnicodeString& used) {
  int err = EEXIST;
  for (int attempt = 0; attempt < 10 && err == EEXIST; ++attempt) {
    used = TqzFiles::GetFreeFileName(target);
    if (used.empty()) return EEXIST;
    err = MovePath(NativePath(source), NativePath(used), false);
  }
  return err;
}

// The folders of a tree operation: the source root and, with `sub`, every folder below it.
std::vector<UnicodeString> TreeFolders(const UnicodeString& root, bool sub) {
  TStringList list;
  list.Add(root);
  if (sub && !root.empty()) TqzFiles::GetPathList(root, list, false, true);
  std::vector<UnicodeString> folders;
  for (int i = 0; i < list.Count(); ++i) folders.push_back(list.Get(i));
  return folders;
}

// A folder below `root` mapped below `targetRoot`.
UnicodeString MapFolder(const UnicodeString& folder, const UnicodeString& root, const UnicodeString& targetRoot) {
  return targetRoot + folder.substr(std::min(root.size(), folder.size()));
}

// DestinationStartPath + Source from its first separator, doubled separators folded (the first
// character kept, so a leading "\\" of a network path survives). Empty when the part taken from
// Source holds a ".." segment.
UnicodeString KeepingPathTarget(const UnicodeString& source, const UnicodeString& startPath) {
  size_t first = 0;
  while (first < source.size() && !IsSeparator(source[first])) ++first;
  const UnicodeString rest = first < source.size() ? source.substr(first) : source;
  for (size_t start = 0; start <= rest.size();) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    if (rest.compare(start, end - start, u"..") == 0) return u"";
    start = end + 1;
  }
  const UnicodeString joined = platform::Trim(startPath + rest);
  if (joined.empty()) return joined;
  UnicodeString target(1, joined[0]);
  for (size_t i = 1; i < joined.size(); ++i)
    if (!(IsSeparator(joined[i]) && IsSeparator(target.back()) && target.size() > 1)) target.push_back(joined[i]);
  return target;
}

}  // namespace

// ---- Comparing -------------------------------------------------------------------------------

bool TqzFiles::CompareFile(const UnicodeString& FileOne, const UnicodeString& FileTwo) {
  // Both digests are read as streams and raise for a missing or unreadable file.
  const AnsiString one = TqzMD5::GetMD5FromFile(FileOne);
  const AnsiString two = TqzMD5::GetMD5FromFile(FileTwo);
  return one == two;
}

bool TqzFiles::CompareFile(const UnicodeString& FileOne, const UnicodeString& FileTwo, bool CheckFileExistsOne,
                           bool CheckFileExistsTwo, bool CompareFileName) {
  if (CheckFileExistsOne && !FileExists(FileOne)) throw Exception(u"File 1 not exists");
  if (CheckFileExistsTwo && !FileExists(FileTwo)) throw Exception(u"File 2 not exists");
  if (CompareFileName && !TqzStrings::EqualsW(NamePart(FileOne), NamePart(FileTwo), false, true)) return false;
  return CompareFile(FileOne, FileTwo);
}

// ---- Moving ----------------------------------------------------------------------------------

bool TqzFiles::MoveFile32(const UnicodeString& Source, const UnicodeString& Destination) {
  try {
    return MovePath(NativePath(Source), NativePath(Destination), false) == 0;
  } catch (...) {
    return false;
  }
}

int32_t TqzFiles::MoveFile32(const UnicodeString& Source, const UnicodeString& Destination, bool SubFolders,
                             bool IgnoreFileAttributes, bool DeleteSourcePaths) {
  int32_t moved = 0;
  try {
    const UnicodeString root = FolderPart(Source), mask = NamePart(Source), targetRoot = FolderPart(Destination);
    if (root.empty() || targetRoot.empty()) return 0;
    const std::vector<UnicodeString> folders = TreeFolders(root, SubFolders);
    const EntryFilter filter = IgnoreFileAttributes ? EntryFilter::PlainAndHidden : EntryFilter::Plain;
    for (const UnicodeString& folder : folders) {
      const UnicodeString target = MapFolder(folder, root, targetRoot);
      CreatePath(target, true);
      // The mode moves with the file, so read-only and hidden files keep what they were.
      for (const FoundEntry& e : FindEntriesIn(NativePath(folder), mask, filter))
        if (MovePath(NativePath(folder) + e.Name, NativePath(target) + e.Name, false) == 0) ++moved;
    }
    if (DeleteSourcePaths)
      for (auto it = folders.rbegin(); it != folders.rend(); ++it) DeletePath(*it, false);
  } catch (...) {
  }
  return moved;
}

bool TqzFiles::ForceMoveFile32(const UnicodeString& Source, const UnicodeString& Destination) {
  try {
    UnicodeString used;
    if (MoveToFreeName(Source, Destination, used) != 0) return false;
    const std::string target = NativePath(used);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
      ::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR);  // no longer read-only
    return true;
  } catch (...) {
    return false;
  }
}

UnicodeString TqzFiles::ForceMoveFile32(const UnicodeString& Source, const UnicodeString& Destination,
                                        TqzEXISTS_MODE ExistMode) {
  const bool destinationExists = FileExists(Destination);
  const TDateTime created = GetCreationTimeOfFile(Source);
  const TDateTime written = GetFileChangeDate(Source);  // raises for a missing source
  UnicodeString used;
  int err = 0;
  switch (ExistMode) {
    case IF_SAME_DO_NOTHING:
      if (destinationExists && SameContent(Source, Destination)) return u"";
      err = MoveToFreeName(Source, Destination, used);
      break;
    case OVERWRITE:
      used = Destination;
      err = MovePath(NativePath(Source), NativePath(Destination), true);
      break;
    case UNIQE_FILENAME:
      err = MoveToFreeName(Source, Destination, used);
      break;
    case IF_NOT_SAME_USE_UNIQUE_FILE_NAME:
      if (destinationExists && SameContent(Source, Destination)) {
        // The content is at the destination already.
        return ForceDeleteFile(Source) ? Destination : UnicodeString();
      }
      err = MoveToFreeName(Source, Destination, used);
      break;
  }
  if (err != 0) return u"";
  // Times only on a file that was moved there.
  SetFileCreationDate(used, created);
  SetFileLastWriteDate(used, written);
  return used;
}

bool TqzFiles::MoveFileWithUniqueFileName(const UnicodeString& SourceFilepath, const UnicodeString& DestinationPath) {
  return !MoveAndGetFileWithUniqueFileName(SourceFilepath, DestinationPath).empty();
}

UnicodeString TqzFiles::MoveAndGetFileWithUniqueFileName(const UnicodeString& SourceFilepath,
                                                         const UnicodeString& DestinationPath) {
  try {
    UnicodeString used;
    return MoveToFreeName(SourceFilepath, DestinationPath, used) == 0 ? used : UnicodeString();
  } catch (...) {
    return u"";
  }
}

// ---- Copying ---------------------------------------------------------------------------------

bool TqzFiles::CopyFile32(const UnicodeString& Source, const UnicodeString& Destination) {
  return CopyFile32(Source, Destination, uint32_t{1});
}

bool TqzFiles::CopyFile32(const UnicodeString& Source, const UnicodeString& Destination, uint32_t CopyFlags) {
  try {
    const std::string from = NativePath(Source), to = NativePath(Destination);
    if (from.empty() || to.empty()) return false;
    const int err = CopyFileTo(from, to, (CopyFlags & 1) == 0);
    errno = err;  // for the caller's error text
    return err == 0;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::CopyFile32(const UnicodeString& Source, const UnicodeString& Destination, TqzEXISTS_MODE ExistMode) {
  switch (ExistMode) {
    case IF_SAME_DO_NOTHING: return FileExists(Destination) && SameContent(Source, Destination);
    case OVERWRITE: return CopyFile32(Source, Destination, uint32_t{0});
    case UNIQE_FILENAME: return CopyFileWithUniqueFileName(Source, Destination);
    case IF_NOT_SAME_USE_UNIQUE_FILE_NAME:
      if (FileExists(Destination) && SameContent(Source, Destination)) return true;
      return CopyFileWithUniqueFileName(Source, Destination);
  }
  return false;
}

int32_t TqzFiles::CopyFile32(const UnicodeString& Source, const UnicodeString& Destination, bool SubFolders) {
  int32_t copied = 0;
  try {
    const UnicodeString root = FolderPart(Source), mask = NamePart(Source), targetRoot = FolderPart(Destination);
    if (root.empty() || targetRoot.empty()) return 0;
    for (const UnicodeString& folder : TreeFolders(root, SubFolders)) {
      const UnicodeString target = MapFolder(folder, root, targetRoot);
      CreatePath(target, true);
      const std::string from = NativePath(folder), to = NativePath(target);
      for (const FoundEntry& e : FindEntriesIn(from, mask, EntryFilter::Plain))
        if (CopyFileTo(from + e.Name, to + e.Name, true) == 0) ++copied;
    }
  } catch (...) {
  }
  return copied;
}

bool TqzFiles::CopyFileWithUniqueFileName(const UnicodeString& SourceFilepath, const UnicodeString& DestinationPath) {
  try {
    for (int attempt = 0; attempt < 10; ++attempt) {
      const UnicodeString target = UniqueTarget(DestinationPath);
      if (target.empty()) return false;
      const int err = CopyFileTo(NativePath(SourceFilepath), NativePath(target), false);
      if (err != EEXIST) return err == 0;  // taken meanwhile: the next free name
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::StreamCopyFile(const UnicodeString& Source, const UnicodeString& Destination, TqzEXISTS_MODE ExistMode) {
  UnicodeString target = Destination;
  bool exclusive = false;
  try {
    const bool same = FileExists(Destination) && CompareFile(Source, Destination, true, false, true);
    switch (ExistMode) {
      case IF_SAME_DO_NOTHING:
        if (same) return true;
        break;
      case OVERWRITE: break;
      case UNIQE_FILENAME:
      case IF_NOT_SAME_USE_UNIQUE_FILE_NAME:
        // An existing file, the same or not, is never overwritten here.
        target = UniqueTarget(Destination);
        exclusive = true;
        break;
    }
  } catch (...) {
    return false;
  }
  if (target.empty()) return false;
  const int err = CopyFileTo(NativePath(Source), NativePath(target), !exclusive);
  if (err != 0)
    throw EInOutError(u"Cannot copy \"" + Source + u"\" to \"" + target + u"\". " +
                      platform::Utf8ToWide(std::strerror(err)));
  return true;
}

namespace {

// A copy to the target that keeps the source's path below `startPath`: its folders are created
// first. A target of 255 characters or more raises only when asked to; otherwise it is copied
// with `longCopy` and every error becomes false. Other targets are copied with `copy`.
template <class LongCopy, class Copy>
bool CopyKeepingPath(const UnicodeString& source, const UnicodeString& startPath, bool errorWhenTooLong,
                     LongCopy longCopy, Copy copy) {
  const UnicodeString target = KeepingPathTarget(source, startPath);
  if (target.empty()) return false;
  if (target.size() >= 255) {
    if (errorWhenTooLong) throw Exception(u"destination path to long");
    try {
      TqzFiles::CreatePath(target, true);
      return longCopy(target);
    } catch (...) {
      return false;
    }
  }
  TqzFiles::CreatePath(target, true);
  return copy(target);
}

}  // namespace

bool TqzFiles::StreamCopyFileKeepingPath(const UnicodeString& Source, const UnicodeString& DestinationStartPath,
                                         bool ErrorWhenPathToLong, TqzEXISTS_MODE ExistMode) {
  const auto copy = [&](const UnicodeString& target) { return StreamCopyFile(Source, target, ExistMode); };
  return CopyKeepingPath(Source, DestinationStartPath, ErrorWhenPathToLong, copy, copy);
}

bool TqzFiles::CopyFileKeepingPath32(const UnicodeString& Source, const UnicodeString& DestinationStartPath,
                                     bool ErrorWhenPathToLong, TqzEXISTS_MODE ExistMode) {
  // A long target is copied without consulting the exist mode: an existing one makes it fail.
  return CopyKeepingPath(
      Source, DestinationStartPath, ErrorWhenPathToLong,
      [&](const UnicodeString& target) { return CopyFile32(Source, target); },
      [&](const UnicodeString& target) { return CopyFile32(Source, target, ExistMode); });
}

// ---- Mirroring -------------------------------------------------------------------------------

int32_t TqzFiles::SyncCopyFile32(const UnicodeString& Source, const UnicodeString& Destination, bool SubFolders,
                                 bool OverWrite, bool RaiseExceptions, TStrings* ExclusionPaths) {
  const UnicodeString root = FolderPart(Source), mask = NamePart(Source), targetRoot = CheckPathExt(Destination);
  // An unreachable source must never empty the target: nothing is done at all.
  const std::string nativeRoot = NativePath(root);
  bool readable = false;
  if (!nativeRoot.empty() && !targetRoot.empty()) {
    if (DIR* dir = ::opendir(nativeRoot.c_str())) {
      readable = true;
      ::closedir(dir);
    }
  }
  if (!readable) {
    if (RaiseExceptions)
      throw Exception(u"source folder " + root + u" cannot be read (" + TqzToolsIdentity::GetLastErrorMessage() +
                      u"); nothing was copied or deleted");
    return -1;
  }
  std::vector<UnicodeString> folders = TreeFolders(root, SubFolders);
  if (ExclusionPaths != nullptr) {
    for (int i = 0; i < ExclusionPaths->Count(); ++i) ExclusionPaths->Put(i, UpperCaseStr(ExclusionPaths->Get(i)));
    std::erase_if(folders, [&](const UnicodeString& f) { return ExclusionPaths->IndexOf(UpperCaseStr(f)) >= 0; });
  }
  int32_t copied = 0;
  for (const UnicodeString& folder : folders) {
    const UnicodeString target = MapFolder(folder, root, targetRoot);
    CreatePath(target, true);
    const std::string from = NativePath(folder), to = NativePath(target);
    for (const FoundEntry& e : FindEntriesIn(from, mask, EntryFilter::Plain)) {
      if (!OverWrite) {
        struct stat st {};
        if (::stat((to + e.Name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && FileDate(st) == FileDate(e.Stat)) continue;
      }
      const int err = CopyFileTo(from + e.Name, to + e.Name, true);
      if (err == 0) {
        ++copied;
      } else if (RaiseExceptions) {
        errno = err;
        throw Exception(u"copy file " + folder + e.WName + u" to " + target + e.WName + u" failed (" +
                        TqzToolsIdentity::GetLastErrorMessage() + u")");
      }
    }
  }
  // Mirror: target files the source does not have go, then target folders whose source folder
  // is gone, when empty. Exclusions do not apply; errors are passed over.
  try {
    const std::vector<UnicodeString> targets = TreeFolders(targetRoot, SubFolders);
    for (auto it = targets.rbegin(); it != targets.rend(); ++it) {
      const UnicodeString sourceFolder = MapFolder(*it, targetRoot, root);
      const std::string from = NativePath(sourceFolder), to = NativePath(*it);
      for (const FoundEntry& e : FindEntriesIn(to, mask, EntryFilter::Plain)) {
        struct stat st {};
        // A counterpart that is a file stays mirrored; a name that cannot be looked at counts
        // as there. Only a surely absent file (or a folder in its place) is deleted.
        if (::lstat((from + e.Name).c_str(), &st) == 0) {
          if (!S_ISDIR(st.st_mode)) continue;
        } else if (errno != ENOENT && errno != ENOTDIR) {
          continue;
        }
        ::unlink((to + e.Name).c_str());
      }
      struct stat st {};
      if (::stat(from.c_str(), &st) != 0 && errno == ENOENT) ::rmdir(to.c_str());
    }
  } catch (...) {
  }
  return copied;
}
