// Data-link files and initialisation-file values, read from a file holding the input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "Udl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/qzfuzz-udl-" + std::to_string(::getpid()) + ".udl";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    platform::ReadUdlConnectionString(path);
  } catch (const Exception&) {
  }
  platform::ReadIniValue(path, u"oledb", u"Provider");
  ::unlink(path.c_str());
  return 0;
}
