// HTML to text: any document's visible text.
#include <cstdint>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzStringsServices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TqzStringsServices::HtmlToText(qzfuzz::Wide(data, size));
  return 0;
}
