// TqzFiles: whole-file contents: loading, saving, appending one file to another, blank files.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"
#include "qzMD5.h"

using namespace qzfiles;

namespace {

// Reserves room for a large buffer and asks for huge pages there before it is first touched:
// faulting in a large buffer page by page would cost several times the reading itself.
void ReserveLarge(std::string& buffer, size_t size) {
  buffer.reserve(size);
  constexpr uintptr_t huge = uintptr_t{2} << 20;
  if (size < 2 * huge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer.data()) + huge - 1) & ~(huge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer.data()) + size) & ~(huge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Reads up to maxSize bytes of a regular file. The size is checked before anything is allocated.
bool Load(const UnicodeString& fileName, AnsiString& data, uint16_t accessMode, int64_t maxSize) {
  int flags = O_CLOEXEC | O_NONBLOCK;  // non-blocking so that a FIFO cannot stall the open
  switch (accessMode & 0x000F) {
    case TqzFiles::fmOpenRead: flags |= O_RDONLY; break;
    case TqzFiles::fmOpenReadWrite: flags |= O_RDWR; break;
    default: return false;  // write-only or unknown: nothing can be read
  }
  if (fileName.empty()) return false;
  platform::UniqueFd fd(::open(NativePath(fileName).c_str(), flags));
  if (!fd.ok()) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int64_t want = std::min<int64_t>(st.st_size, maxSize);
  if (want >= TqzFiles::MaxLoadSize && maxSize >= TqzFiles::MaxLoadSize) return false;  // beyond one string
  std::string buffer;
  ReserveLarge(buffer, static_cast<size_t>(want));
  // Read in pieces through a small buffer that stays in the cache and append them: every page
  // of the result is written once, with no zero-filling first.
  const size_t size = static_cast<size_t>(want);
  std::string piece(std::min<size_t>(size, size_t{1} << 20), '\0');
  while (buffer.size() < size) {
    const ssize_t r = ::read(fd.get(), piece.data(), std::min(piece.size(), size - buffer.size()));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    buffer.append(piece.data(), static_cast<size_t>(r));
  }
  // A shortfall ("stream read exception - data size mismatch") fails the load.
  if (buffer.size() != size) return false;
  data = std::move(buffer);
  return true;
}

[[noreturn]] void RaiseOpenError(const UnicodeString& fileName, int err) {
  throw EInOutError(u"Cannot open file \"" + fileName + u"\". " + platform::Utf8ToWide(std::strerror(err)));
}

}  // namespace

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

bool TqzFiles::SaveStringToFile(const UnicodeString& FileName, const AnsiString& Data, bool Append, bool MD5Check,
                                const AnsiString& MD5) {
  try {
    std::string path = NativePath(FileName);
    if (path.empty()) return false;
    if (Append) {
      platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
      // "stream write exception - data size mismatch" when not every byte is written.
      if (!fd.ok() || !WriteAll(fd.get(), Data.data(), Data.size())) return false;
    } else {
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // A link keeps pointing at the file: the content is replaced at the link's target.
        char* target = ::realpath(path.c_str(), nullptr);
        if (target != nullptr) {
          path = target;
          std::free(target);
        }
      }
      const bool existing = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
      const int err = existing ? platform::ReplaceFileContent(path, Data, st.st_mode & 07777, true)
                               : platform::ReplaceFileContent(path, Data, 0666);
      if (err != 0) return false;
    }
    // "MD5 check failed": the data stays written.
    if (MD5Check && TqzMD5::GetMD5FromFile(FileName) != MD5) return false;
    return true;
  } catch (...) {
    return false;
  }
}

bool TqzFiles::MergeFiles(const UnicodeString& FirstFileName, const UnicodeString& SecondFileName) {
  if (!FileExists(FirstFileName) || !FileExists(SecondFileName)) return false;
  platform::UniqueFd in(::open(NativePath(FirstFileName).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!in.ok()) RaiseOpenError(FirstFileName, errno);
  platform::UniqueFd out(::open(NativePath(SecondFileName).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK));
  if (!out.ok()) RaiseOpenError(SecondFileName, errno);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) RaiseOpenError(FirstFileName, errno);
  // Exactly the first file's size at the start: appending a file to itself doubles it once.
  int64_t left = st.st_size;
  std::string buffer(1 << 16, '\0');
  while (left > 0) {
    const ssize_t r = ::read(in.get(), buffer.data(), static_cast<size_t>(std::min<int64_t>(left, buffer.size())));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw EInOutError(u"Stream read error in \"" + FirstFileName + u"\"");
    if (!WriteAll(out.get(), buffer.data(), static_cast<size_t>(r)))
      throw EInOutError(u"Stream write error in \"" + SecondFileName + u"\": " +
                        platform::Utf8ToWide(std::strerror(errno)));
    left -= r;
  }
  return true;
}

bool TqzFiles::CreateBlankFile(const UnicodeString& Filename) {
  try {
    if (Filename.empty()) return false;
    const int fd = ::open(NativePath(Filename).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    return true;
  } catch (...) {
    return false;
  }
}
