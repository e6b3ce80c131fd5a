// Variant texts: a storage text read as every type code and type name, and a text Variant
// converted to numbers, Booleans and dates.
#include <cstdint>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "Variant.h"
#include "qzTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const UnicodeString text = qzfuzz::Wide(data, size);
  for (uint16_t code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 14, 16, 17, 18, 19, 20, 21, 256, 258}) {
    Variant v = TqzTypes::StrToVarExt(text, code);
    TqzTypes::VarToStrExt(v);
    TqzTypes::VarToJSONStrExt(v);
  }
  for (const char16_t* name : {u"CDT_INTEGER", u"CDT_FLOAT", u"CDT_DATETIME", u"CDT_BOOLEAN", u"CDT_STRING"})
    TqzTypes::StrToVarExt(text, UnicodeString(name));
  TqzTypes::StrToVarExt(text, text);
  TqzTypes::GetVarTypeFromStr(text, 0);
  const Variant asText(text);
  auto guarded = [](auto&& call) {
    try {
      call();
    } catch (const Exception&) {
    }
  };
  guarded([&] { TqzTypes::VarToInteger(asText); });
  guarded([&] { TqzTypes::VarToInt64(asText); });
  guarded([&] { TqzTypes::VarToFloat(asText); });
  guarded([&] { TqzTypes::VarToBoolean(asText); });
  guarded([&] { TqzTypes::VarToDateTime(asText); });
  return 0;
}
