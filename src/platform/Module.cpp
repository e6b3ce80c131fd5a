#include "Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
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

std::vector<std::string> ProcessArguments() {
  std::vector<std::string> args;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = 0;
  while (pos < raw.size()) {
    size_t end = raw.find('\0', pos);
    if (end == std::string::npos) end = raw.size();
    args.push_back(raw.substr(pos, end - pos));
    pos = end + 1;
  }
  return args;
}

}  // namespace platform
