// The compressed text form: any bytes inflated under a small cap; compressing reads back.
#include <cstdint>
#include <cstdlib>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzStringsServices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in = qzfuzz::Bytes(data, size);
  try {
    TqzStringsServices::DecompressString(in, 4 << 20);
  } catch (const Exception&) {
  }
  if (TqzStringsServices::DecompressString(TqzStringsServices::CompressString(in)) != in) std::abort();
  return 0;
}
