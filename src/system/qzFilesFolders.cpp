// TqzFiles: existence, folders and listings, deleting, the trash and sizes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <unordered_set>

#include "Clock.h"
#include "CodePage.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"
#include "qzStrings.h"

using namespace qzfiles;

namespace {

// A directory entry of that name that is no folder (links not followed: a dangling link is an
// entry too). A name that cannot be looked at (no search permission on its folder) may still be
// there, so only "no such entry" counts as gone.
bool NonFolderEntryExists(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
  return errno != ENOENT && errno != ENOTDIR;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Depth-first listing below `folder` (which ends with a separator): a parent before its children.
void ListTree(const UnicodeString& folder, TStrings& list, std::unordered_set<UnicodeString>& known, bool recursive) {
  for (const std::string& name : ListSubFolders(NativePath(folder))) {
    const UnicodeString sub = folder + platform::Utf8ToWide(name) + u"/";
    if (!known.insert(sub).second) continue;
    list.Add(sub);
    if (recursive) ListTree(sub, list, known, true);
  }
}

class UpdateBracket {
 public:
  explicit UpdateBracket(TStrings& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateBracket() { list_.EndUpdate(); }
  UpdateBracket(const UpdateBracket&) = delete;
  UpdateBracket& operator=(const UpdateBracket&) = delete;

 private:
  TStrings& list_;
};

bool ContainsAny(const UnicodeString& path, const TStrings* entries) {
  if (entries == nullptr) return false;
  for (int i = 0; i < entries->Count(); ++i)
    if (TqzStrings::Contains(path, entries->Get(i), true)) return true;
  return false;
}

void SubDirs(const UnicodeString& searchPath, TStrings& result, const TStrings* ignore, bool recursive, bool addRoot) {
  if (ContainsAny(searchPath, ignore)) return;
  if (addRoot) result.Add(searchPath);
  std::vector<UnicodeString> level;
  for (const std::string& name : ListSubFolders(NativePath(searchPath))) {
    const UnicodeString sub = searchPath + platform::Utf8ToWide(name) + u"/";
    if (ContainsAny(sub, ignore)) continue;
    result.Add(sub);
    level.push_back(sub);
  }
  if (recursive)
    for (const UnicodeString& sub : level) SubDirs(sub, result, ignore, true, false);
}

// Symbolic links to folders directly inside a folder are removed as links.
void RemoveFolderLinks(const std::string& folder) {
  for (const FoundEntry& e : FindEntriesIn(folder, u"*", EntryFilter::Any))
    if (e.IsLinkToFolder) ::unlink((folder + e.Name).c_str());
}

// ---- trash ----

std::string TrashFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == 0) return {};
  return std::string(home) + "/.local/share/Trash";
}

// Percent-encoding of a path as the trash info file keeps it (every byte but the unreserved
// characters and "/").
std::string EscapePath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::string LocalDeletionDate() {
  const std::time_t now = std::chrono::system_clock::to_time_t(platform::ClockNow());
  std::tm tm {};
  ::localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0 || (errno == EEXIST && IsFolder(path)); }

// Copies a regular file or a link to `to` (created exclusively), keeping the mode.
bool CopyEntry(const std::string& from, const std::string& to, const struct stat& st) {
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return false;
    target.resize(static_cast<size_t>(n));
    return ::symlink(target.c_str(), to.c_str()) == 0;
  }
  if (!S_ISREG(st.st_mode)) return false;
  platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!in.ok()) return false;
  platform::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
  if (!out.ok()) return false;
  char buf[1 << 16];
  for (;;) {
    const ssize_t r = ::read(in.get(), buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || !WriteAll(out.get(), buf, static_cast<size_t>(r))) {
      ::unlink(to.c_str());
      return false;
    }
    if (r == 0) break;
  }
  if (::fsync(out.get()) != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool TqzFiles::FileExists(const UnicodeString& Path) {
  try {
    return !FindEntries(Path, EntryFilter::Plain).empty();
  } catch (...) {
    return false;
  }
}

bool TqzFiles::PathExists(const UnicodeString& Path) {
  const size_t nameStart = NameStart(Path);
  if (nameStart == 0) return false;
  const UnicodeString folder = CheckPathExt(Path.substr(0, nameStart));
  if (folder.empty()) return false;
  return IsFolder(NativePath(folder));
}

bool TqzFiles::CreatePath(const UnicodeString& Path, bool CheckExistence) {
  try {
    const UnicodeString folder = FolderPart(Path);
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

bool TqzFiles::DirectoryIsEmpty(const UnicodeString& Path) {
  try {
    DIR* dir = ::opendir(NativePath(CheckPathExt(Path)).c_str());
    if (dir == nullptr) return false;
    bool empty = true;
    while (const dirent* d = ::readdir(dir)) {
      const std::string_view name = d->d_name;
      if (name != "." && name != "..") {
        empty = false;
        break;
      }
    }
    ::closedir(dir);
    return empty;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::DeleteDirectoryIsEmpty(const UnicodeString& Path) {
  try {
    const std::string path = NativePath(CheckPathExt(Path));
    return IsFolder(path) && DirectoryIsEmpty(Path) && ::rmdir(path.c_str()) == 0;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::DeletePath(const UnicodeString& Path, bool Recursive) {
  try {
    const UnicodeString folder = FolderPart(Path);
    if (folder.empty()) return false;
    if (!Recursive) return ::rmdir(NativePath(folder).c_str()) == 0;
    TStringList list;
    list.Add(folder);
    GetPathList(folder, list, false, true);
    bool ok = true;
    for (int i = list.Count() - 1; i >= 0; --i) {
      const std::string native = NativePath(list.Get(i));
      RemoveFolderLinks(native);
      if (::rmdir(native.c_str()) != 0) ok = false;
    }
    return ok;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::GetPathList(const UnicodeString& Root, TStrings& PathList, bool AddRoot, bool Recursive) {
  try {
    const UnicodeString folder = FolderPart(Root);
    std::unordered_set<UnicodeString> known;
    for (int i = 0; i < PathList.Count(); ++i) known.insert(PathList.Get(i));
    if (AddRoot) {
      PathList.Add(folder);
      known.insert(folder);
    }
    if (!folder.empty()) ListTree(folder, PathList, known, Recursive);
  } catch (...) {
  }
  return true;
}

bool TqzFiles::GetFlatPathList(const UnicodeString& Root, TStrings& PathList) {
  try {
    const UnicodeString folder = CheckPathExt(Root);
    if (!folder.empty())
      for (const std::string& name : ListSubFolders(NativePath(folder))) PathList.Add(platform::Utf8ToWide(name));
  } catch (...) {
  }
  return true;
}

bool TqzFiles::GetSubDirs(const UnicodeString& SSearchPath, TStrings& ResultList, const TStrings* IgnorePathes,
                          bool Recusive, bool AddRoot) {
  UpdateBracket bracket(ResultList);
  if (ContainsAny(SSearchPath, IgnorePathes)) return false;
  try {
    SubDirs(SSearchPath, ResultList, IgnorePathes, Recusive, AddRoot);
  } catch (...) {
  }
  return ResultList.Count() > 0;
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

bool TqzFiles::MoveFileToRecycleBin(const UnicodeString& SFileName) {
  try {
    std::string path = NativePath(platform::Trim(SFileName));
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    if (path[0] != '/') {
      char cwd[4096];
      if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
      path = std::string(cwd) + "/" + path;
    }
    const std::string trash = TrashFolder();
    if (trash.empty()) return false;
    const std::string data = trash.substr(0, trash.rfind('/'));
    // The data folder may be missing on a fresh account; the trash folders are the user's own.
    CreatePath(platform::Utf8ToWide(data + "/"), true);
    if (!MakeFolder(trash) || !MakeFolder(trash + "/files") || !MakeFolder(trash + "/info")) return false;
    const std::string base = path.substr(path.rfind('/') + 1);
    if (base.empty() || base == "." || base == "..") return false;
    const std::string info = "[Trash Info]\nPath=" + EscapePath(path) + "\nDeletionDate=" + LocalDeletionDate() + "\n";
    // A name already in the trash gets a number before its extension ("f.2.txt"), as the
    // desktop's own trash does.
    size_t dot = base.rfind('.');
    if (dot == 0 || dot == std::string::npos) dot = base.size();
    const std::string stem = base.substr(0, dot), ext = base.substr(dot);
    for (int n = 1; n <= 10000; ++n) {
      const std::string name = n == 1 ? base : stem + "." + std::to_string(n) + ext;
      const std::string infoPath = trash + "/info/" + name + ".trashinfo";
      const std::string filesPath = trash + "/files/" + name;
      const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return false;
      }
      const bool written = WriteAll(fd, info.data(), info.size()) && ::fsync(fd) == 0;
      ::close(fd);
      if (!written || NameTaken(filesPath)) {  // an item left without its info file: next name
        ::unlink(infoPath.c_str());
        if (!written) return false;
        continue;
      }
      if (::rename(path.c_str(), filesPath.c_str()) == 0) return true;
      bool moved = false;
      if (errno == EXDEV && CopyEntry(path, filesPath, st)) {
        moved = ::unlink(path.c_str()) == 0;
        if (!moved) ::unlink(filesPath.c_str());
      }
      if (!moved) ::unlink(infoPath.c_str());
      return moved;
    }
    return false;
  } catch (...) {
    return false;
  }
}

int64_t TqzFiles::GetSizeOfFile(const UnicodeString& Name) {
  try {
    if (Name.empty()) return 0;
    const std::vector<FoundEntry> found = FindEntries(Name, EntryFilter::Any);
    if (found.empty()) return 0;
    const FoundEntry& e = found.front();
    return (e.IsFolder || e.IsLinkToFolder) ? 0 : static_cast<int64_t>(e.Stat.st_size);
  } catch (...) {
    return 0;
  }
}
