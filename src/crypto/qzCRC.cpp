#include "qzCRC.h"

#include <array>
#include <cstring>

namespace {

// Table 0 is the standard byte table of the reflected polynomial; tables 1..7 advance it by one
// more zero byte each, so eight bytes fold in per loop step ("slicing by eight"). All of it is
// constant data computed by the compiler, never at run time.
struct CrcTables {
  std::array<std::array<std::uint32_t, 256>, 8> t{};
  constexpr CrcTables() {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n)
      for (int s = 1; s < 8; ++s) t[s][n] = t[0][t[s - 1][n] & 0xFF] ^ (t[s - 1][n] >> 8);
  }
};
constexpr CrcTables kCrc;
static_assert(kCrc.t[0][1] == 0x77073096u && kCrc.t[0][255] == 0x2D02EF8Du);

inline std::uint32_t Load32LE(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* buffer, std::int64_t length) {
  if (buffer == nullptr) return 0;
  if (length <= 0) return crc;
  auto p = static_cast<const unsigned char*>(buffer);
  auto n = static_cast<std::size_t>(length);
  const auto& t = kCrc.t;
  crc = ~crc;
  while (n >= 8) {
    std::uint32_t a = Load32LE(p) ^ crc;
    std::uint32_t b = Load32LE(p + 4);
    crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
          t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
