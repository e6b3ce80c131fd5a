// Both quoted-printable decoders.
#include <cstdint>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzStringsServices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const AnsiString in(qzfuzz::Bytes(data, size));
  TqzStringsServices::ReplaceQuotedPrintable(in);
  TqzStringsServices::ReplaceQuotedPrintableSimple(in);
  return 0;
}
