// GUIDs: a 128-bit identifier in the platform's record layout, new random (version 4) values,
// and the registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case digits).
#pragma once

#include <cstdint>

#include "Text.h"

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};
  friend bool operator==(const TGUID&, const TGUID&) = default;
};

namespace platform {

// A new random GUID (RFC 4122 version 4) from the system's random source.
TGUID NewGuid();
// The 38-character text form with braces and hyphens, upper-case hexadecimal digits.
std::string GuidToString(const TGUID& guid);

}  // namespace platform
