// Data-link files and initialisation-file values, read from a file holding the input.
#include <cstdint>
#include <string>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "Udl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = qzfuzz::InputFilePath(".udl");
  if (!qzfuzz::WriteInputFile(path, data, size)) return 0;
  try {
    platform::ReadUdlConnectionString(path);
  } catch (const Exception&) {
  }
  platform::ReadIniValue(path, u"oledb", u"Provider");
  ::unlink(path.c_str());
  return 0;
}
