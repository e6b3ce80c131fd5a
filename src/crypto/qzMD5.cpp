#include "qzMD5.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "CodePage.h"
#include "Exceptions.h"

namespace {

constexpr char kEmptyDigest[] = "D41D8CD98F00B204E9800998ECF8427E";
constexpr std::size_t kWorkBufferSize = 16384;

inline std::uint32_t Rotl(std::uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline std::uint32_t Load32LE(const unsigned char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
#else
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
#endif
}

// One RFC 1321 context: four state words, the message length in bits, and the partial block.
struct Md5Context {
  std::uint32_t state[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  std::uint64_t bitCount = 0;
  unsigned char block[64] = {};

  ~Md5Context() {
    // The context holds message bytes: wipe it when the digest is done.
    volatile unsigned char* p = reinterpret_cast<volatile unsigned char*>(this);
    for (std::size_t i = 0; i < sizeof(*this); ++i) p[i] = 0;
  }

  void Transform(const unsigned char* data, std::size_t blocks);
  void Update(const unsigned char* data, std::size_t len);
  void Final(unsigned char digest[16]);
};

#define MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);           \
  a = Rotl(a, s) + b

// Round 2 with G split into two disjoint terms that can be added independently, which shortens
// the dependency chain on b.
#define MD5_STEP_G(a, b, c, d, x, t, s)           \
  a += (x) + (t) + (~(d) & (c));                 \
  a += (d) & (b);                                \
  a = Rotl(a, s) + b

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void Md5Context::Transform(const unsigned char* data, std::size_t blocks) {
  std::uint32_t a0 = state[0], b0 = state[1], c0 = state[2], d0 = state[3];
  for (; blocks; --blocks, data += 64) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = Load32LE(data + 4 * i);
    std::uint32_t a = a0, b = b0, c = c0, d = d0;

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070dbu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceeeu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0fafu, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62au, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501u, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7afu, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7beu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438eu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821u, 22);

    MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562u, 5);
    MD5_STEP_G(d, a, b, c, x[6], 0xc040b340u, 9);
    MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51u, 14);
    MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aau, 20);
    MD5_STEP_G(a, b, c, d, x[5], 0xd62f105du, 5);
    MD5_STEP_G(d, a, b, c, x[10], 0x02441453u, 9);
    MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681u, 14);
    MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8u, 20);
    MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6u, 5);
    MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6u, 9);
    MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87u, 14);
    MD5_STEP_G(b, c, d, a, x[8], 0x455a14edu, 20);
    MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905u, 5);
    MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8u, 9);
    MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9u, 14);
    MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8au, 20);

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380cu, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fau, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665u, 23);

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47du, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4fu, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bbu, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391u, 21);

    a0 += a;
    b0 += b;
    c0 += c;
    d0 += d;
  }
  state[0] = a0;
  state[1] = b0;
  state[2] = c0;
  state[3] = d0;
}

void Md5Context::Update(const unsigned char* data, std::size_t len) {
  std::size_t have = static_cast<std::size_t>((bitCount >> 3) & 63);
  bitCount += static_cast<std::uint64_t>(len) << 3;
  if (have) {
    std::size_t take = 64 - have;
    if (len < take) {
      std::memcpy(block + have, data, len);
      return;
    }
    std::memcpy(block + have, data, take);
    Transform(block, 1);
    data += take;
    len -= take;
  }
  if (len >= 64) {
    Transform(data, len / 64);
    data += len / 64 * 64;
    len %= 64;
  }
  if (len) std::memcpy(block, data, len);
}

void Md5Context::Final(unsigned char digest[16]) {
  // Padding: 0x80, zeros up to 56 mod 64, then the bit count as a little-endian 64-bit number.
  unsigned char lengthBytes[8];
  for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<unsigned char>(bitCount >> (8 * i));
  static const unsigned char kPad[64] = {0x80};
  std::size_t have = static_cast<std::size_t>((bitCount >> 3) & 63);
  Update(kPad, have < 56 ? 56 - have : 120 - have);
  Update(lengthBytes, 8);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<unsigned char>(state[i] >> (8 * j));
}

AnsiString ToHex(const unsigned char digest[16]) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  AnsiString out(32, '\0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  return out;
}

AnsiString DigestOf(const void* data, std::size_t len) {
  Md5Context ctx;
  ctx.Update(static_cast<const unsigned char*>(data), len);
  unsigned char digest[16];
  ctx.Final(digest);
  return ToHex(digest);
}

// The self test runs once; its verdict is kept for the life of the process.
bool SelfTestPassed() {
  static const bool passed = DigestOf("", 0) == kEmptyDigest;
  return passed;
}

void RequireSelfTest() {
  if (!SelfTestPassed()) throw Exception(u"MD5 self test failed");
}

// Runs the self test when the library is loaded. It records the verdict only: the host process
// is never aborted; the export's entry point asks LoadSelfTestMessage().
const bool gLoadTimeSelfTest = SelfTestPassed();

struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool TqzMD5::MD5SelfTest() { return DigestOf("", 0) == kEmptyDigest; }

UnicodeString TqzMD5::LoadSelfTestMessage() {
  (void)gLoadTimeSelfTest;
  return SelfTestPassed() ? UnicodeString() : UnicodeString(u"MD5 self test failed!");
}

AnsiString TqzMD5::GetMD5(const void* Buffer, std::int64_t BufSize) {
  RequireSelfTest();
  if (BufSize < 0) throw Exception(u"MD5: negative buffer size");
  if (BufSize > 0 && Buffer == nullptr) throw Exception(u"MD5: no buffer");
  return DigestOf(Buffer, static_cast<std::size_t>(BufSize));
}

AnsiString TqzMD5::GetMD5FromString(std::string_view Text) {
  RequireSelfTest();
  return DigestOf(Text.data(), Text.size());
}

AnsiString TqzMD5::GetMD5FromFile(const UnicodeString& FileName, std::uint16_t /*AccessMode*/) {
  RequireSelfTest();
  const std::string path = platform::WideToUtf8(FileName);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw Exception(u"file " + FileName + u" not found");
  FileCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0 || S_ISDIR(st.st_mode))
    throw Exception(u"file " + FileName + u" could not be read");
  auto buffer = std::make_unique<unsigned char[]>(kWorkBufferSize);
  Md5Context ctx;
  for (;;) {
    ssize_t got = ::read(file.fd, buffer.get(), kWorkBufferSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw Exception(u"file " + FileName + u" could not be read");
    }
    if (got == 0) break;
    ctx.Update(buffer.get(), static_cast<std::size_t>(got));
  }
  std::memset(buffer.get(), 0, kWorkBufferSize);
  unsigned char digest[16];
  ctx.Final(digest);
  return ToHex(digest);
}
