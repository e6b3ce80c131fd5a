// Small POSIX file helpers of the platform layer: a descriptor that closes itself, and replacing
// a file's content so that readers never see a half-written file.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// A file descriptor, closed when the object goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Writes `bytes` to a new temporary file beside `path`, flushes it to disk and renames it over
// `path`. The new file is created with `mode` less the process umask, or exactly `mode` with
// `exactMode`. `written`, when given, receives the status of the new file. Returns 0, or the errno
// of the step that failed; the temporary file is removed then and `path` is left as it was.
int ReplaceFileContent(const std::string& path, std::string_view bytes, mode_t mode, bool exactMode = false,
                       struct stat* written = nullptr);

}  // namespace platform
