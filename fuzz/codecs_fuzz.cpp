// The library's codecs read any text: pass-key and private strings, logon form, URL parameters
// (with their envelopes), the KQF value decoder and the script codecs.
#include <cstdint>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzCipher.h"
#include "qzScriptTools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in = qzfuzz::Bytes(data, size);
  const AnsiString key = TqzCipher::GenPassKeyService(TqzCipher::SecuID());
  auto guarded = [](auto&& call) {
    try {
      call();
    } catch (const Exception&) {
    }
  };
  guarded([&] { TqzCipher::DecodeString(in, key); });
  guarded([&] { TqzCipher::DecodePrivateString(in, key); });
  TqzCipher::DecodeLogon(in);
  guarded([&] {
    TqzCipherEncoding encoding = qzCIPHENC_None;
    TqzCipher::DecodeUrlParams(in, encoding);
  });
  guarded([&] { TqzCipher::KQFEncDecoder(in); });
  TqzScriptTools::UnlockScript(in, true);
  TqzScriptTools::UnlockScript(in, false);
  TqzScriptTools::VerifySecuredScript(in);
  TqzScriptTools::GetScriptPassword(in);
  TqzScriptTools::IsScriptProtected(in);
  const UnicodeString wide = qzfuzz::Wide(data, size);
  TqzScriptTools::IsN7Script(wide);
  TqzScriptTools::GetSourceLineFromException(wide);
  return 0;
}
