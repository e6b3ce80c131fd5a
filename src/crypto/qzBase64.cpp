#include "qzBase64.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineSymbols = 76;
constexpr std::size_t kLineBytes = 57;

// Two symbols for every 12-bit value, stored as the bytes they are written as.
struct PairTable {
  std::array<std::array<char, 2>, 4096> pairs{};
  constexpr PairTable() {
    for (unsigned v = 0; v < 4096; ++v) {
      pairs[v][0] = kAlphabet[v >> 6];
      pairs[v][1] = kAlphabet[v & 63];
    }
  }
};
constexpr PairTable kPairs;

// Reading tables: the symbol's 6 bits already shifted into place for each of the four positions of
// a quad, so one quad is four lookups OR-ed together. A byte outside the alphabet carries a bit
// above the 24 data bits, which the OR keeps and the test below sees.
constexpr std::uint32_t kInvalid = 0x80000000u;
struct DecodeTables {
  std::array<std::uint32_t, 256> t0{}, t1{}, t2{}, t3{};
  std::array<std::int8_t, 256> value{};
  constexpr DecodeTables() {
    for (int c = 0; c < 256; ++c) {
      t0[c] = t1[c] = t2[c] = t3[c] = kInvalid;
      value[c] = -1;
    }
    for (int i = 0; i < 64; ++i) {
      auto c = static_cast<unsigned char>(kAlphabet[i]);
      value[c] = static_cast<std::int8_t>(i);
      t0[c] = static_cast<std::uint32_t>(i) << 18;
      t1[c] = static_cast<std::uint32_t>(i) << 12;
      t2[c] = static_cast<std::uint32_t>(i) << 6;
      t3[c] = static_cast<std::uint32_t>(i);
    }
  }
};
constexpr DecodeTables kDec;

inline std::uint64_t Load64BE(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Whole 3-byte groups: two pair lookups per group. While at least 8 bytes can be read, two
// groups (6 bytes, 48 bits) are taken from one 64-bit load and written as 8 symbols.
inline char* EncodeGroups(const unsigned char* in, std::size_t groups, char* out) {
  const auto& t = kPairs.pairs;
  for (; groups >= 3; groups -= 2, in += 6, out += 8) {
    std::uint64_t v = Load64BE(in);
    char sym[8];
    std::memcpy(sym, t[(v >> 52) & 0xFFF].data(), 2);
    std::memcpy(sym + 2, t[(v >> 40) & 0xFFF].data(), 2);
    std::memcpy(sym + 4, t[(v >> 28) & 0xFFF].data(), 2);
    std::memcpy(sym + 6, t[(v >> 16) & 0xFFF].data(), 2);
    std::memcpy(out, sym, 8);
  }
  for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, kPairs.pairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kPairs.pairs[v & 0xFFF].data(), 2);
  }
  return out;
}

// The last 1 or 2 bytes with their padding.
inline char* EncodeTail(const unsigned char* in, std::size_t rest, char* out) {
  if (rest == 1) {
    out[0] = kAlphabet[in[0] >> 2];
    out[1] = kAlphabet[(in[0] & 3) << 4];
    out[2] = '=';
    out[3] = '=';
    out += 4;
  } else if (rest == 2) {
    out[0] = kAlphabet[in[0] >> 2];
    out[1] = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
    out[2] = kAlphabet[(in[1] & 15) << 2];
    out[3] = '=';
    out += 4;
  }
  return out;
}

}  // namespace

std::size_t TqzBase64::EncodedLength(std::size_t n, bool Format) {
  if (n == 0) return 0;
  std::size_t len = (n + 2) / 3 * 4;
  if (Format) len += 2 * ((n - 1) / kLineBytes);
  return len;
}

void TqzBase64::EncodeTo(const void* data, std::size_t n, bool Format, char* out) {
  auto in = static_cast<const unsigned char*>(data);
  if (!Format) {
    std::size_t groups = n / 3;
    out = EncodeGroups(in, groups, out);
    EncodeTail(in + groups * 3, n - groups * 3, out);
    return;
  }
  while (n > kLineBytes) {
    out = EncodeGroups(in, kLineBytes / 3, out);
    *out++ = '\r';
    *out++ = '\n';
    in += kLineBytes;
    n -= kLineBytes;
  }
  std::size_t groups = n / 3;
  out = EncodeGroups(in, groups, out);
  EncodeTail(in + groups * 3, n - groups * 3, out);
}

std::size_t TqzBase64::DecodeTo(const char* text, std::size_t len, void* outBuf) {
  auto in = reinterpret_cast<const unsigned char*>(text);
  auto out = static_cast<unsigned char*>(outBuf);
  unsigned char* const start = out;
  std::size_t i = 0;
  for (;;) {
    // Fast path: two quads of alphabet symbols per step, their 6 bytes written with one 8-byte
    // store (the result buffer's slack of DecodedMaxLength covers the 2 extra bytes).
    while (i + 8 <= len) {
      const unsigned char* q = in + i;
      std::uint32_t a = kDec.t0[q[0]] | kDec.t1[q[1]] | kDec.t2[q[2]] | kDec.t3[q[3]];
      std::uint32_t b = kDec.t0[q[4]] | kDec.t1[q[5]] | kDec.t2[q[6]] | kDec.t3[q[7]];
      if ((a | b) & kInvalid) break;
      std::uint64_t v = (std::uint64_t{a} << 40) | (std::uint64_t{b} << 16);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      v = __builtin_bswap64(v);
#endif
      std::memcpy(out, &v, 8);
      out += 6;
      i += 8;
    }
    // Whole quads of alphabet symbols.
    while (i + 4 <= len) {
      std::uint32_t v = kDec.t0[in[i]] | kDec.t1[in[i + 1]] | kDec.t2[in[i + 2]] | kDec.t3[in[i + 3]];
      if (v & kInvalid) break;
      out[0] = static_cast<unsigned char>(v >> 16);
      out[1] = static_cast<unsigned char>(v >> 8);
      out[2] = static_cast<unsigned char>(v);
      out += 3;
      i += 4;
    }
    // Slow path: gather the next four symbols one by one, skipping everything else; a group that
    // the text ends inside is finished below.
    std::uint32_t acc = 0;
    int count = 0;
    while (i < len && count < 4) {
      int s = kDec.value[in[i++]];
      if (s < 0) continue;
      acc = (acc << 6) | static_cast<std::uint32_t>(s);
      ++count;
    }
    if (count == 4) {
      out[0] = static_cast<unsigned char>(acc >> 16);
      out[1] = static_cast<unsigned char>(acc >> 8);
      out[2] = static_cast<unsigned char>(acc);
      out += 3;
      continue;
    }
    // The text has ended: 3 symbols give 2 bytes, 2 give 1, a lone symbol gives nothing.
    if (count == 3) {
      out[0] = static_cast<unsigned char>(acc >> 10);
      out[1] = static_cast<unsigned char>(acc >> 2);
      out += 2;
    } else if (count == 2) {
      out[0] = static_cast<unsigned char>(acc >> 4);
      out += 1;
    }
    break;
  }
  return static_cast<std::size_t>(out - start);
}

AnsiString TqzBase64::StrToBase64(std::string_view InText, bool Format) {
  AnsiString result;
  std::size_t len = EncodedLength(InText.size(), Format);
  if (len == 0) return result;
  result.resize(len);
  EncodeTo(InText.data(), InText.size(), Format, result.data());
  return result;
}

AnsiString TqzBase64::Base64ToStr(std::string_view InText) {
  AnsiString result;
  if (InText.empty()) return result;
  result.resize(DecodedMaxLength(InText.size()));
  result.resize(DecodeTo(InText.data(), InText.size(), result.data()));
  return result;
}
