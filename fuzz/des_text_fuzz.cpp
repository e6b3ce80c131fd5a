// The DES component's text form: any text decrypted in every chaining mode; and the text form
// of an encryption reads back.
#include <cstdint>
#include <cstdlib>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzDES.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in = qzfuzz::Bytes(data, size);
  for (TCipherMode mode : {TCipherMode::CBC, TCipherMode::ECB, TCipherMode::CFB, TCipherMode::OFB}) {
    TDES des;
    des.SetCipherMode(mode);
    des.SetStringMode(smEncode);
    des.InitialiseString("fuzz key");
    des.LoadIVString("12345678");
    AnsiString out;
    try {
      des.DecString(in, out);
    } catch (const Exception&) {
    }
    TDES enc;
    enc.SetCipherMode(mode);
    enc.SetStringMode(smEncode);
    enc.InitialiseString("fuzz key");
    enc.LoadIVString("12345678");
    AnsiString cipher, back;
    enc.EncString(in, cipher);
    TDES dec;
    dec.SetCipherMode(mode);
    dec.SetStringMode(smEncode);
    dec.InitialiseString("fuzz key");
    dec.LoadIVString("12345678");
    dec.DecString(cipher, back);
    if (back != in) std::abort();
  }
  return 0;
}
