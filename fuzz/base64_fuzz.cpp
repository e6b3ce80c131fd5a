// Base64 decoding of any text, and encoding round trips.
#include <cstdint>
#include <cstdlib>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzBase64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in = qzfuzz::Bytes(data, size);
  TqzBase64::Base64ToStr(in);
  for (bool format : {false, true}) {
    const AnsiString encoded = TqzBase64::StrToBase64(in, format);
    if (encoded.size() != TqzBase64::EncodedLength(size, format)) std::abort();
    if (TqzBase64::Base64ToStr(encoded) != in) std::abort();
  }
  return 0;
}
