// TqzFiles: zip archives (adding files, extracting the first or every item).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "Zip.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"

using namespace qzfiles;

namespace {

[[noreturn]] void Fail(const std::string& utf8Message) { throw Exception(platform::Utf8ToWide(utf8Message)); }

// The folders and file name of a stored item name, with "/" and "\" both separating. Names that
// are absolute, start with a drive letter or hold a ".." segment are refused.
std::vector<std::string> SafeComponents(const std::string& name) {
  std::string n = name;
  for (char& c : n)
    if (c == '\\') c = '/';
  if (!n.empty() && n[0] == '/') Fail("zip item " + name + ": absolute names are refused");
  if (n.size() >= 2 && n[1] == ':' && std::isalpha(static_cast<unsigned char>(n[0])))
    Fail("zip item " + name + ": names with a drive letter are refused");
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= n.size()) {
    size_t slash = n.find('/', start);
    if (slash == std::string::npos) slash = n.size();
    const std::string part = n.substr(start, slash - start);
    if (part == "..") Fail("zip item " + name + ": \"..\" segments are refused");
    if (!part.empty() && part != ".") parts.push_back(part);
    start = slash + 1;
  }
  return parts;
}

// Opens (creating when missing) the folder `parts` below the open folder `root`, never following
// a symbolic link. The result is an open folder descriptor.
int OpenFolderChain(int root, const std::vector<std::string>& parts, size_t count, const std::string& itemName) {
  int current = ::dup(root);
  if (current < 0) Fail("zip item " + itemName + ": " + std::strerror(errno));
  for (size_t i = 0; i < count; ++i) {
    if (::mkdirat(current, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
      const int err = errno;
      ::close(current);
      Fail("zip item " + itemName + ": folder " + parts[i] + " cannot be created: " + std::strerror(err));
    }
    const int next = ::openat(current, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    ::close(current);
    if (next < 0) Fail("zip item " + itemName + ": " + parts[i] + " is no folder of the target (" + std::strerror(err) + ")");
    current = next;
  }
  return current;
}

// Writes an item's data to a new file `leaf` in the open folder; the file is removed again
// when anything fails.
void ExtractTo(const platform::ZipArchive& zip, int64_t index, int folder, const std::string& leaf, uint64_t& total,
               const std::string& itemName) {
  const int fd = ::openat(folder, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) Fail("zip item " + itemName + ": " + leaf + " cannot be created: " + std::strerror(errno));
  platform::UniqueFd guard(fd);
  try {
    zip.Read(index, [&](const char* data, size_t size) {
      if (!WriteAll(fd, data, size)) Fail("zip item " + itemName + ": " + std::strerror(errno));
    }, total);
  } catch (...) {
    ::unlinkat(folder, leaf.c_str(), 0);
    throw;
  }
}

bool ExtractAll(const UnicodeString& zipFile, const UnicodeString& targetPath, TStrings& contentFiles) {
  try {
    const UnicodeString target = TqzFiles::CheckPathExt(targetPath);
    contentFiles.Clear();
    if (target.empty()) return false;
    TqzFiles::CreatePath(target, true);
    platform::ZipArchive zip(NativePath(zipFile), platform::ZipArchive::Mode::Read);
    platform::UniqueFd root(::open(NativePath(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.ok()) return false;
    uint64_t total = 0;
    for (int64_t i = 0; i < zip.Count(); ++i) {
      const platform::ZipItem item = zip.Item(i);
      const std::vector<std::string> parts = SafeComponents(item.Name);
      if (parts.empty()) continue;
      if (item.IsFolder()) {
        ::close(OpenFolderChain(root.get(), parts, parts.size(), item.Name));
        continue;
      }
      platform::UniqueFd folder(OpenFolderChain(root.get(), parts, parts.size() - 1, item.Name));
      UnicodeString rel;
      for (size_t p = 0; p + 1 < parts.size(); ++p) rel += platform::Utf8ToWide(parts[p]) + u"/";
      const UnicodeString wanted = target + rel + platform::Utf8ToWide(parts.back());
      // The next free name; created exclusively, so a name taken meanwhile is never overwritten.
      UnicodeString path;
      for (int attempt = 0; attempt < 100; ++attempt) {
        path = TqzFiles::GetFreeFileName(wanted);
        if (path.empty()) Fail("zip item " + item.Name + ": no free name");
        const std::string leaf = NativePath(NamePart(path));
        struct stat st {};
        if (::fstatat(folder.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;
        ExtractTo(zip, i, folder.get(), leaf, total, item.Name);
        break;
      }
      contentFiles.Add(path);
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool TqzFiles::AddFileToZip(const UnicodeString& InFile, const UnicodeString& ZipFile, const AnsiString& Data) {
  try {
    // "file <InFile> not found!"
    if (!FileExists(InFile) && platform::Trim(std::string_view(Data)).empty()) return false;
    const std::string name = NativePath(NamePart(InFile));
    if (name.empty()) return false;
    platform::ZipArchive zip(NativePath(ZipFile), platform::ZipArchive::Mode::Write);
    zip.SetComment("");
    if (!Data.empty()) {
      zip.AddData(name, Data);
    } else {
      AnsiString content;
      if (!LoadFileToString(InFile, content)) return false;
      zip.AddData(name, std::move(content));
    }
    zip.Save();
    return true;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::AddFilesToZip(const TStrings& InFiles, const UnicodeString& ZipFile) {
  try {
    platform::ZipArchive zip(NativePath(ZipFile), platform::ZipArchive::Mode::Write);
    zip.SetComment("");
    for (int i = 0; i < InFiles.Count(); ++i) {
      const UnicodeString file = InFiles.Get(i);
      const std::string native = NativePath(file);
      const std::string name = NativePath(NamePart(file));
      struct stat st {};
      // Read when the archive is written; checked here so that nothing is written for a list
      // with a missing or unreadable file.
      if (name.empty() || ::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(native.c_str(), R_OK) != 0)
        return false;
      zip.AddFile(name, native);
    }
    zip.Save();
    return true;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::GetFileFromZip(const UnicodeString& Outfile, const UnicodeString& ZipFile) {
  try {
    const std::string out = NativePath(Outfile);
    if (out.empty() || NamePart(Outfile).empty()) return false;
    platform::ZipArchive zip(NativePath(ZipFile), platform::ZipArchive::Mode::Read);
    if (zip.Count() < 1) return false;
    // Into a new file beside the target, renamed over it when complete.
    std::random_device rd;
    const std::string tmp = out + ".zip" + std::to_string(::getpid()) + "-" + std::to_string(rd());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = false;
    {
      platform::UniqueFd guard(fd);
      uint64_t total = 0;
      try {
        zip.Read(0, [&](const char* data, size_t size) {
          if (!WriteAll(fd, data, size)) Fail(std::string("write error: ") + std::strerror(errno));
        }, total);
        ok = ::fsync(fd) == 0;
      } catch (...) {
        ok = false;
      }
    }
    if (ok) ok = ::rename(tmp.c_str(), out.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::GetFilesFromZip(const UnicodeString& ZipFile, const UnicodeString& TargetPath,
                               std::unique_ptr<TStringList>& ContentFiles) {
  if (!ContentFiles) ContentFiles = std::make_unique<TStringList>();
  return ExtractAll(ZipFile, TargetPath, *ContentFiles);
}

bool TqzFiles::GetFilesFromZip(const UnicodeString& ZipFile, const UnicodeString& TargetPath, TStrings& ContentFiles) {
  return ExtractAll(ZipFile, TargetPath, ContentFiles);
}
