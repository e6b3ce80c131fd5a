#include "NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "CodePage.h"

namespace platform {

namespace {

// The names this process holds: lock file -> descriptor holding the exclusive lock.
std::mutex& HeldLock() {
  static std::mutex m;
  return m;
}
std::map<std::string, int>& Held() {
  static std::map<std::string, int> held;
  return held;
}

// Creates the folder (mode 0700) when missing and checks that it is a real folder of this user.
bool SafeFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::string path;
  size_t pos = 0;
  while (pos <= folder.size()) {
    size_t slash = folder.find('/', pos);
    if (slash == std::string::npos) slash = folder.size();
    path = folder.substr(0, slash);
    if (!path.empty()) ::mkdir(path.c_str(), 0700);
    pos = slash + 1;
  }
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

std::string LockFolder() {
  if (const char* dir = std::getenv("KESTA_MUTEX_DIR"); dir && *dir) return dir;
  // The folder must not depend on the session a process runs in, or two processes of one user
  // would not see each other's names.
  if (::geteuid() == 0) return "/run/kesta/mutex";
  return "/tmp/kesta-mutex-" + std::to_string(::geteuid());
}

std::string EncodeName(std::u16string_view name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : WideToUtf8(name)) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
        c == '-') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

int OpenLockFile(const std::string& file, bool create) {
  int fd = ::open(file.c_str(), (create ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW, 0600);
  return fd;
}

bool TryLock(int fd, int kind) {
  while (::flock(fd, kind | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

std::string NamedMutexFile(std::u16string_view name) {
  if (name.empty()) return {};
  const std::string folder = LockFolder();
  if (!SafeFolder(folder)) return {};
  return folder + "/" + EncodeName(name) + ".lock";
}

bool NamedMutexExists(std::u16string_view name) {
  const std::string file = NamedMutexFile(name);
  if (file.empty()) return false;
  const int fd = OpenLockFile(file, false);
  if (fd < 0) return false;  // never made: nobody holds it
  // A shared probe conflicts only with an exclusive holder; it is let go at once.
  const bool free = TryLock(fd, LOCK_SH);
  ::close(fd);  // also drops the probe's lock
  return !free;
}

bool NamedMutexTake(std::u16string_view name) {
  const std::string file = NamedMutexFile(name);
  if (file.empty()) return false;
  std::lock_guard lock(HeldLock());
  if (Held().count(file)) return false;
  const int fd = OpenLockFile(file, true);
  if (fd < 0) return false;
  // Another process's existence probe or wait holds the lock for a moment only: try for a
  // little while before calling the name taken.
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (TryLock(fd, LOCK_EX)) {
      Held()[file] = fd;
      return true;
    }
    if (errno != EWOULDBLOCK) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::close(fd);
  return false;
}

bool NamedMutexRelease(std::u16string_view name) {
  const std::string file = NamedMutexFile(name);
  if (file.empty()) return false;
  std::lock_guard lock(HeldLock());
  auto it = Held().find(file);
  if (it == Held().end()) return false;
  ::flock(it->second, LOCK_UN);
  ::close(it->second);
  Held().erase(it);
  return true;
}

bool NamedMutexHeldHere(std::u16string_view name) {
  const std::string file = NamedMutexFile(name);
  if (file.empty()) return false;
  std::lock_guard lock(HeldLock());
  return Held().count(file) != 0;
}

bool NamedMutexWaitFree(std::u16string_view name, int timeoutMs) {
  const std::string file = NamedMutexFile(name);
  if (file.empty()) return false;
  if (NamedMutexHeldHere(name)) return true;
  const int fd = OpenLockFile(file, true);
  if (fd < 0) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  bool free = false;
  for (;;) {
    if (TryLock(fd, LOCK_EX)) {
      ::flock(fd, LOCK_UN);  // seen free; never kept
      free = true;
      break;
    }
    const auto now = Clock::now();
    if (timeoutMs >= 0 && now >= deadline) break;
    auto pause = std::chrono::milliseconds(10);
    if (timeoutMs >= 0) pause = std::min(pause, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                                    std::chrono::milliseconds(1));
    std::this_thread::sleep_for(pause);
  }
  ::close(fd);
  return free;
}

}  // namespace platform
