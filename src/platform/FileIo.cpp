#include "FileIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace platform {

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

int ReplaceFileContent(const std::string& path, std::string_view bytes, mode_t mode, bool exactMode,
                       struct stat* written) {
  std::random_device rd;
  const std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  int err = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    done += static_cast<size_t>(w);
  }
  if (!err && exactMode && ::fchmod(fd, mode) != 0) err = errno;
  if (!err && ::fsync(fd) != 0) err = errno;
  if (!err && written && ::fstat(fd, written) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err) ::unlink(tmp.c_str());
  return err;
}

}  // namespace platform
