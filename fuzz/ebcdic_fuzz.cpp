// EBCDIC: any bytes translated both ways, and the converter's UTF-16 entry both ways.
#include <cstdint>

#include "Ebcdic.h"
#include "Exceptions.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in = qzfuzz::Bytes(data, size);
  TEbcdic::EbcdicToAscii(in);
  TEbcdic::AsciiToEbcdic(in);
  const UnicodeString wide = qzfuzz::Wide(data, size);
  for (TEbcdicConvert way : {cvASCIIEbcdic, cvEbcdicASCII}) {
    TEbcdic converter;
    converter.SetConversation(way);
    converter.SetASCII(wide);
    converter.SetEBCDIC(wide);
    try {
      converter.Execute();
    } catch (const Exception&) {
    }
  }
  return 0;
}
