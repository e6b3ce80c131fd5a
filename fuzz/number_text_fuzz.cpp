// The number-text analyser and the integer and real conversions.
#include <cstdint>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzConversion.h"
#include "qzStrToFloatConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const UnicodeString text = qzfuzz::Wide(data, size);
  for (bool imprecise : {false, true}) {
    TqzStrToFloatConverter::StrToFloat(text, 0, false, imprecise);
    TqzStrToFloatConverter::StrToCurrency(text, 0, false, imprecise);
    TqzStrToFloatConverter::CheckFloatString(text, imprecise);
    UnicodeString cleaned = text, message;
    char16_t decimal = 0, thousands = 0;
    TqzStrToFloatConverter::NormalizeFloatString(cleaned, imprecise, decimal, thousands, message);
    try {
      TqzStrToFloatConverter::StrToFloat(text, 0, true, imprecise);
    } catch (const Exception&) {
    }
  }
  TqzStrToFloatConverter::GetSeparationArray(text);
  TqzStrToFloatConverter::ReplaceImprecisionChars(text);
  double value = 0;
  TqzStrToFloatConverter::TryParseFloat(text, u'.', value);
  TqzStrToFloatConverter::TryParseFloat(text, u',', value, false);
  TqzConversion::StrToInt(text, -1);
  TqzConversion::HexToInt(text, -1);
  int64_t integer = 0;
  TqzConversion::TryParseInteger(text, integer);
  TqzConversion::StrToReal(text);
  TqzConversion::StrToFloat(text);
  TqzConversion::LocaleStrToFloat(text);
  TqzConversion::StrToBool(text);
  return 0;
}
