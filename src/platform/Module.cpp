#include "Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {
void Anchor() {}
}  // namespace

std::string ThisModuleFileName() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&Anchor), &info) == 0 || !info.dli_fname || !*info.dli_fname)
    return ProcessExecutableName();
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

std::string ProcessExecutableName() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

}  // namespace platform
