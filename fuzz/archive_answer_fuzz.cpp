// The archive server's answer: tokenizer, completion test, type, and the parser in both modes
// (items decoded and inflated, or taken as received), under small caps.
#include <cstdint>
#include <vector>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzComProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = qzfuzz::Bytes(data, size);
  TqzComProtocol::Tokenize(text);
  TqzComProtocol::IsAnswerComplete(text);
  TqzComProtocol::GetComType(text);
  TqzComLimits limits;
  limits.MaxAnswerSize = 16 << 20;
  limits.MaxDecompressedSize = 4 << 20;
  for (bool parseParVal : {true, false}) {
    AnsiString typ;
    std::vector<TqzComItem> items;
    try {
      TqzComProtocol::ParseAnswer(text, parseParVal, typ, items, limits);
    } catch (const Exception&) {
      // a damaged or oversized compressed item is refused with an exception
    }
  }
  return 0;
}
