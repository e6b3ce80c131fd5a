// TqzFiles: deleting by mask and age, the secure wipe.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "CodePage.h"
#include "FileIo.h"
#include "Guid.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"
#include "qzToolsEvo2.h"

using namespace qzfiles;

namespace {

constexpr size_t WipeBlock = 65536;

// One upper-case letter from the system's random source.
char RandomLetter() {
  unsigned char byte = 0;
  // 26 * 9 = 234: bytes from 234 up would favour the first letters, so they are drawn again.
  for (int attempt = 0; attempt < 64; ++attempt) {
    if (::getrandom(&byte, 1, 0) == 1 && byte < 234) break;
  }
  return static_cast<char>('A' + byte % 26);
}

char PassPattern(int pass) {
  if (pass >= 8) return RandomLetter();
  if (pass == 7) return static_cast<char>(0xF6);
  return pass % 2 == 1 ? '\0' : static_cast<char>(0xFF);
}

bool WriteAt(int fd, const char* data, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t w = ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

void SecureDeleteIn(const std::string& folder, std::u16string_view mask, bool withSub, int32_t rewritten,
                    int32_t renames) {
  for (const FoundEntry& e : FindEntriesIn(folder, mask, EntryFilter::Any))
    if (!e.IsLink && S_ISREG(e.Stat.st_mode)) TqzFiles::WipeFile(platform::Utf8ToWide(folder + e.Name), rewritten, renames);
  if (withSub)
    for (const std::string& sub : ListAllSubFolders(folder)) SecureDeleteIn(folder + sub + "/", mask, true, rewritten, renames);
}

}  // namespace

int32_t TqzFiles::DeleteFile32(const UnicodeString& Source, uint32_t AgeInMin, bool Subfolder, bool RetainExecutables) {
  int32_t deleted = 0;
  try {
    const UnicodeString root = FolderPart(Source);
    const UnicodeString mask = NamePart(Source);
    TStringList folders;
    folders.Add(root);
    if (Subfolder && !root.empty()) GetPathList(root, folders, false, true);
    for (int i = 0; i < folders.Count(); ++i) {
      const UnicodeString folder = folders.Get(i);
      for (const FoundEntry& e : FindEntriesIn(NativePath(folder), mask, EntryFilter::Plain)) {
        if (AgeInMin != 0) {
          const int64_t age = GetFileAgeInMinutes(folder + e.WName);
          if (age < static_cast<int64_t>(AgeInMin)) continue;
        }
        if (RetainExecutables) {
          const UnicodeString ext = LowerCaseStr(NameExtension(e.WName));
          if (ext == u".dll" || ext == u".exe" || ext == u".com" || ext == u".sys") continue;
        }
        if (ForceDeleteFile(folder + e.WName)) ++deleted;
      }
    }
  } catch (...) {
  }
  return deleted;
}

bool TqzFiles::WipeFile(const UnicodeString& SzFilename, int32_t RewrittenTimes, int32_t RenameTimes) {
  try {
    const std::string path = NativePath(SzFilename);
    if (path.empty()) return false;
    // Never through a link: the file itself or nothing.
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.ok()) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const off_t size = st.st_size;
    const int passes = RewrittenTimes < 1 ? (size > 0 ? 7 : 0) : RewrittenTimes;
    bool ok = true;
    std::string block(static_cast<size_t>(std::min<off_t>(size, WipeBlock)), '\0');
    // Pass by pass over the whole file, each pass on the disk before the next begins.
    for (int pass = 1; pass <= passes && ok; ++pass) {
      for (off_t offset = 0; offset < size && ok; offset += WipeBlock) {
        const size_t length = static_cast<size_t>(std::min<off_t>(size - offset, WipeBlock));
        std::fill(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length), PassPattern(pass));
        ok = WriteAt(fd.get(), block.data(), length, offset);
      }
      if (ok) ok = ::fdatasync(fd.get()) == 0;
    }
    // New names in the file's own folder, so that the old name tells nothing.
    const std::string folder = NativePath(FolderPart(SzFilename));
    std::string current = path;
    for (int32_t i = 0; i < RenameTimes; ++i) {
      const std::string next = folder + platform::GuidToString(platform::NewGuid());
      if (::renameat2(AT_FDCWD, current.c_str(), AT_FDCWD, next.c_str(), RENAME_NOREPLACE) == 0) {
        current = next;
      } else {
        ok = false;
      }
    }
    if (::ftruncate(fd.get(), 0) != 0 || ::fdatasync(fd.get()) != 0) ok = false;
    if (::unlink(current.c_str()) != 0) ok = false;
    return ok;
  } catch (...) {
    return false;
  }
}

void TqzFiles::SecureDeleteFiles(const UnicodeString& APath, const UnicodeString& AFindMask, bool AWithSub,
                                 int32_t RewrittenTimes, int32_t RenameTimes) {
  try {
    if (APath.empty() || AFindMask.empty()) return;
    SecureDeleteIn(NativePath(CheckPathExt(APath)), AFindMask, AWithSub, RewrittenTimes, RenameTimes);
  } catch (...) {
  }
}
