#include "Guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace platform {

TGUID NewGuid() {
  uint8_t b[16];
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t r = ::getrandom(b + got, sizeof b - got, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    got += static_cast<size_t>(r);
  }
  if (got < sizeof b) {  // no system random source: fall back on the library's
    std::random_device rd;
    for (size_t i = got; i < sizeof b; ++i) b[i] = static_cast<uint8_t>(rd());
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  TGUID g;
  g.D1 = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | b[3];
  g.D2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
  g.D3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
  for (int i = 0; i < 8; ++i) g.D4[i] = b[8 + i];
  return g;
}

std::string GuidToString(const TGUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2, g.D3, g.D4[0],
                g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
  return buf;
}

}  // namespace platform
