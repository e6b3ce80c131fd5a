#include "qzBase64.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QZ_BASE64_AVX2 1
#endif

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

#ifdef QZ_BASE64_AVX2
// Vector kernels for processors with AVX2 (chosen at run time; the table code below is the
// fallback and handles every tail). Both work on whole blocks and leave the rest to the caller.

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

// Encodes 24-byte blocks into 32 symbols while at least 28 bytes can be read (the upper half of
// a block is loaded from 16 bytes at offset 12). Returns the bytes consumed, a multiple of 24.
__attribute__((target("avx2"))) std::size_t EncodeBlocksAvx2(const unsigned char* in, std::size_t n, char* out) {
  // Per 128-bit lane: the 12 input bytes spread over four 32-bit words as (b1, b0, b2, b1), so
  // that each word holds one 3-byte group with its four 6-bit fields at known bit positions.
  const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                                          1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m256i maskAC = _mm256_set1_epi32(0x0FC0FC00);
  const __m256i shiftAC = _mm256_set1_epi32(0x04000040);
  const __m256i maskBD = _mm256_set1_epi32(0x003F03F0);
  const __m256i shiftBD = _mm256_set1_epi32(0x01000010);
  // Offsets from a 6-bit value to its symbol, looked up by a small class index: 0 for "a".."z"
  // (after the saturating subtraction below), 1 for "A".."Z", 2..11 for digits, 12 "+", 13 "/".
  const __m256i offsets = _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0,  //
                                           71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
  const __m256i c51 = _mm256_set1_epi8(51);
  const __m256i c26 = _mm256_set1_epi8(26);
  const __m256i c13 = _mm256_set1_epi8(13);
  std::size_t done = 0;
  for (; n - done >= 28; done += 24, out += 32) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 12));
    __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    v = _mm256_shuffle_epi8(v, spread);
    const __m256i ac = _mm256_mulhi_epu16(_mm256_and_si256(v, maskAC), shiftAC);
    const __m256i bd = _mm256_mullo_epi16(_mm256_and_si256(v, maskBD), shiftBD);
    const __m256i values = _mm256_or_si256(ac, bd);  // one 6-bit value per byte, in symbol order
    // Class: values 0..25 -> 13 ("A"), 26..51 -> 0 ("a"), 52..61 -> 1..10, 62 -> 11, 63 -> 12.
    __m256i cls = _mm256_subs_epu8(values, c51);
    const __m256i upper = _mm256_cmpgt_epi8(c26, values);  // 0xFF for 0..25
    cls = _mm256_blendv_epi8(cls, c13, upper);
    const __m256i symbols = _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, cls));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), symbols);
  }
  return done;
}
// Decodes blocks of 32 symbols into 24 bytes while a whole block can be read and every byte of
// it is an alphabet symbol; stops before the first block that is not. Returns the symbols
// consumed (a multiple of 32); writes 3/4 of that.
__attribute__((target("avx2"))) std::size_t DecodeBlocksAvx2(const unsigned char* in, std::size_t len, unsigned char* out) {
  // Validity by nibbles: a byte is a symbol exactly when the bits looked up by its low and by its
  // high nibble have nothing in common.
  const __m256i lutLo = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                                         0x1B, 0x1B, 0x1A,  //
                                         0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                                         0x1B, 0x1B, 0x1A);
  const __m256i lutHi = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                         0x10, 0x10, 0x10,  //
                                         0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                         0x10, 0x10, 0x10);
  // Offset from a symbol to its value by its high nibble ("/" apart: index 1).
  const __m256i lutRoll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                           0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i slash = _mm256_set1_epi8(0x2F);
  const __m256i mergePairs = _mm256_set1_epi32(0x01400140);
  const __m256i mergeWords = _mm256_set1_epi32(0x00011000);
  const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,  //
                                        2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  std::size_t done = 0;
  for (; len - done >= 32; done += 32, out += 24) {
    const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + done));
    const __m256i hiNibbles = _mm256_and_si256(_mm256_srli_epi32(text, 4), nibble);
    const __m256i loNibbles = _mm256_and_si256(text, nibble);
    // Bytes of 0x80 and above have a high nibble of 8..15 and fail the test; their low nibble
    // index is taken with the sign bit clear, so the lookup does not zero it.
    const __m256i hi = _mm256_shuffle_epi8(lutHi, hiNibbles);
    const __m256i lo = _mm256_shuffle_epi8(lutLo, loNibbles);
    if (!_mm256_testz_si256(lo, hi)) break;
    const __m256i isSlash = _mm256_cmpeq_epi8(text, slash);
    const __m256i roll = _mm256_shuffle_epi8(lutRoll, _mm256_add_epi8(isSlash, hiNibbles));
    const __m256i values = _mm256_add_epi8(text, roll);
    // Four 6-bit values per word into 24 bits, then the three bytes of each word in order.
    const __m256i pairs = _mm256_maddubs_epi16(values, mergePairs);
    const __m256i words = _mm256_madd_epi16(pairs, mergeWords);
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), gather);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
    const __m128i upper = _mm256_extracti128_si256(bytes, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), upper);
  }
  return done;
}
#endif

// Whole 3-byte groups: two pair lookups per group. While at least 8 bytes can be read, two
// groups (6 bytes, 48 bits) are taken from one 64-bit load and written as 8 symbols.
inline char* EncodeGroups(const unsigned char* in, std::size_t groups, char* out) {
  const auto& t = kPairs.pairs;
#ifdef QZ_BASE64_AVX2
  if (groups >= 10 && HaveAvx2()) {
    const std::size_t done = EncodeBlocksAvx2(in, groups * 3, out);
    in += done;
    out += done / 3 * 4;
    groups -= done / 3;
  }
#endif
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
#ifdef QZ_BASE64_AVX2
  const bool vector = len >= 32 && HaveAvx2();
#endif
  for (;;) {
#ifdef QZ_BASE64_AVX2
    if (vector) {
      const std::size_t done = DecodeBlocksAvx2(in + i, len - i, out);
      i += done;
      out += done / 4 * 3;
    }
#endif
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
