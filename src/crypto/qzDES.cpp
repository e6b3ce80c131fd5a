#include "qzDES.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>

#include "CodePage.h"
#include "Exceptions.h"
#include "qzCRC.h"

namespace {

// ---------------------------------------------------------------------------------------------
// DES core. The round function works on 32-bit halves with eight tables that merge each S-box
// with the permutation P; the halves are kept rotated left by one bit between the initial and
// final permutations, which lets every S-box input be cut out with one shift and mask.

constexpr std::uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6,  13},
    {15, 1,  8,  14, 6,  11, 3, 4,  9,  7, 2,  13, 12, 0, 5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6, 9,  11, 5, 0,  14, 7,  11, 10, 4, 13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0, 5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9,  3,  4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1,  2,  12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8,  5,  11, 12, 4,  15, 13, 8, 11, 5,  6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1, 3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6,  8,  5,  3, 15, 13, 0, 14, 9,  14, 11, 2,  12, 4, 7,
     13, 1,  5, 0,  15, 10, 3,  9,  8,  6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9, 12, 5,
     6,  3,  0, 14, 11, 8,  12, 7,  1,  14, 2, 13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3, 4,  14, 7,  5,  11, 10, 15, 4,  2,  7, 12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9, 14, 15, 5,  2,  8,  12, 3,  7,  0,  4, 10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5, 15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6,  1,  13, 0, 11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6, 1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7, 1, 15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2, 0, 6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5, 6, 11},
};

// The permutation P: output bit i (1 = most significant) is input bit kP[i-1].
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

struct SpTables {
  std::uint32_t sp[8][64]{};
  constexpr SpTables() {
    for (int box = 0; box < 8; ++box) {
      for (int x = 0; x < 64; ++x) {
        // Row from the outer bits, column from the inner four of the 6-bit input.
        int row = ((x >> 4) & 2) | (x & 1);
        int col = (x >> 1) & 15;
        std::uint32_t s = static_cast<std::uint32_t>(kSBox[box][row * 16 + col]) << (28 - 4 * box);
        std::uint32_t p = 0;
        for (int i = 0; i < 32; ++i)
          if (s & (0x80000000u >> (kP[i] - 1))) p |= 0x80000000u >> i;
        sp[box][x] = (p << 1) | (p >> 31);
      }
    }
  }
};
constexpr SpTables kSp;
static_assert(kSp.sp[0][0] == 0x01010400u && kSp.sp[7][0] == 0x10001040u);

// Key schedule tables (0-based bit numbers; bit 0 is the most significant bit of key byte 0).
constexpr std::uint8_t kPC1[56] = {56, 48, 40, 32, 24, 16, 8,  0,  57, 49, 41, 33, 25, 17,
                                   9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43, 35,
                                   62, 54, 46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21,
                                   13, 5,  60, 52, 44, 36, 28, 20, 12, 4,  27, 19, 11, 3};
constexpr std::uint8_t kTotalRotations[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};
constexpr std::uint8_t kPC2[48] = {13, 16, 10, 23, 0,  4,  2,  27, 14, 5,  20, 9,  22, 18, 11, 3,
                                   25, 7,  15, 6,  26, 19, 12, 1,  40, 51, 30, 36, 46, 54, 29, 39,
                                   50, 44, 32, 47, 43, 48, 38, 55, 33, 52, 45, 41, 49, 35, 28, 31};

inline std::uint32_t Load32BE(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline void Store32BE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

inline void XorBlock(TBlock& a, const TBlock& b) {
  for (int i = 0; i < 8; ++i) a[i] ^= b[i];
}

void SecureZero(void* p, std::size_t n) {
  volatile auto* v = static_cast<volatile unsigned char*>(p);
  while (n--) *v++ = 0;
}

constexpr char kTextAlphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

[[noreturn]] void TooShort() { throw EInputError(u"DES: Input not valid - too short"); }
[[noreturn]] void NotWholeBlocks() {
  throw EInputError(u"DES: Input not valid - not a whole number of blocks");
}
[[noreturn]] void BadPadding() { throw EInputError(u"DES: Input not valid - padding exceeds data"); }
[[noreturn]] void WriteError() { throw EFileError(u"DES: Error writing output file"); }
[[noreturn]] void ReadError() { throw EFileError(u"DES: Error reading input"); }

// Reads until the buffer is full or the file ends; -1 on a read error.
long ReadFull(int fd, std::uint8_t* buf, std::size_t want) {
  std::size_t got = 0;
  while (got < want) {
    ssize_t r = ::read(fd, buf + got, want - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<long>(got);
}

bool WriteFull(int fd, const std::uint8_t* buf, std::size_t n) {
  while (n) {
    ssize_t w = ::write(fd, buf, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    buf += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Opens the input and creates the output of a file operation; closes both and, unless the
// operation completed, removes the output.
class FilePair {
 public:
  FilePair(std::string_view inName, std::string_view outName)
      : outPath_(platform::AnsiToUtf8(outName)) {
    const std::string inPath = platform::AnsiToUtf8(inName);
    in_ = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in_ < 0 || ::fstat(in_, &st) != 0 || S_ISDIR(st.st_mode))
      throw EFileError(u"DES: Input file not found");
    size_ = st.st_size;
  }
  void CreateOutput() {
    out_ = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out_ < 0) throw EFileError(u"DES: Could not open output file");
  }
  ~FilePair() {
    if (in_ >= 0) ::close(in_);
    if (out_ >= 0) {
      bool closed = ::close(out_) == 0;
      if (!done_ || !closed) ::unlink(outPath_.c_str());
    }
  }
  void Finish() {
    int fd = out_;
    out_ = -1;
    if (::close(fd) != 0) {
      ::unlink(outPath_.c_str());
      WriteError();
    }
    done_ = true;
  }
  int in() const { return in_; }
  int out() const { return out_; }
  off_t size() const { return size_; }

 private:
  std::string outPath_;
  int in_ = -1;
  int out_ = -1;
  off_t size_ = 0;
  bool done_ = false;
};

// Stream size and starting positions: the rest from the current position with the flag set,
// else the whole input from its start (and the output from its start).
std::int64_t PrepareStreams(std::istream& in, std::ostream& out, bool fromCurrent) {
  std::istream::pos_type start = fromCurrent ? in.tellg() : std::istream::pos_type(0);
  if (start == std::istream::pos_type(-1)) ReadError();
  in.seekg(0, std::ios::end);
  std::istream::pos_type end = in.tellg();
  in.seekg(start);
  if (!fromCurrent) out.seekp(0);
  if (end == std::istream::pos_type(-1) || !in) ReadError();
  return static_cast<std::int64_t>(end - start);
}

void StreamRead(std::istream& in, std::uint8_t* buf, std::size_t n) {
  in.read(reinterpret_cast<char*>(buf), static_cast<std::streamsize>(n));
  if (static_cast<std::size_t>(in.gcount()) != n) ReadError();
}

void StreamWrite(std::ostream& out, const std::uint8_t* buf, std::size_t n) {
  out.write(reinterpret_cast<const char*>(buf), static_cast<std::streamsize>(n));
  if (!out) WriteError();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void DesKeySchedule(const TBlock& Key, bool Decrypt, std::uint32_t* Schedule) {
  std::uint8_t pc1m[56], pcr[56];
  std::uint32_t raw[32];
  for (int j = 0; j < 56; ++j) {
    int bit = kPC1[j];
    pc1m[j] = (Key[bit >> 3] & (0x80 >> (bit & 7))) ? 1 : 0;
  }
  for (int i = 0; i < 16; ++i) {
    int m = Decrypt ? (15 - i) << 1 : i << 1;
    int n = m + 1;
    raw[m] = raw[n] = 0;
    for (int j = 0; j < 28; ++j) {
      int l = j + kTotalRotations[i];
      pcr[j] = pc1m[l < 28 ? l : l - 28];
    }
    for (int j = 28; j < 56; ++j) {
      int l = j + kTotalRotations[i];
      pcr[j] = pc1m[l < 56 ? l : l - 28];
    }
    for (int j = 0; j < 24; ++j) {
      if (pcr[kPC2[j]]) raw[m] |= 0x800000u >> j;
      if (pcr[kPC2[j + 24]]) raw[n] |= 0x800000u >> j;
    }
  }
  // Rearrange each pair of 24-bit subkeys into the 6-bit groups the table lookups use.
  for (int i = 0; i < 16; ++i) {
    std::uint32_t r0 = raw[2 * i], r1 = raw[2 * i + 1];
    Schedule[2 * i] = ((r0 & 0x00fc0000u) << 6) | ((r0 & 0x00000fc0u) << 10) |
                      ((r1 & 0x00fc0000u) >> 10) | ((r1 & 0x00000fc0u) >> 6);
    Schedule[2 * i + 1] = ((r0 & 0x0003f000u) << 12) | ((r0 & 0x0000003fu) << 16) |
                          ((r1 & 0x0003f000u) >> 4) | (r1 & 0x0000003fu);
  }
  SecureZero(pc1m, sizeof pc1m);
  SecureZero(pcr, sizeof pcr);
  SecureZero(raw, sizeof raw);
}

void DesBlock(const std::uint32_t* keys, TBlock& Block) {
  const auto& SP = kSp.sp;
  std::uint32_t left = Load32BE(Block.data());
  std::uint32_t right = Load32BE(Block.data() + 4);
  std::uint32_t work;

  // Initial permutation.
  work = ((left >> 4) ^ right) & 0x0f0f0f0fu;
  right ^= work;
  left ^= work << 4;
  work = ((left >> 16) ^ right) & 0x0000ffffu;
  right ^= work;
  left ^= work << 16;
  work = ((right >> 2) ^ left) & 0x33333333u;
  left ^= work;
  right ^= work << 2;
  work = ((right >> 8) ^ left) & 0x00ff00ffu;
  left ^= work;
  right ^= work << 8;
  right = (right << 1) | (right >> 31);
  work = (left ^ right) & 0xaaaaaaaau;
  left ^= work;
  right ^= work;
  left = (left << 1) | (left >> 31);

  // Eight rounds of two half-rounds each.
  for (int round = 0; round < 8; ++round) {
    work = ((right << 28) | (right >> 4)) ^ *keys++;
    std::uint32_t f = SP[6][work & 0x3f] | SP[4][(work >> 8) & 0x3f] | SP[2][(work >> 16) & 0x3f] |
                      SP[0][(work >> 24) & 0x3f];
    work = right ^ *keys++;
    f |= SP[7][work & 0x3f] | SP[5][(work >> 8) & 0x3f] | SP[3][(work >> 16) & 0x3f] |
         SP[1][(work >> 24) & 0x3f];
    left ^= f;

    work = ((left << 28) | (left >> 4)) ^ *keys++;
    f = SP[6][work & 0x3f] | SP[4][(work >> 8) & 0x3f] | SP[2][(work >> 16) & 0x3f] |
        SP[0][(work >> 24) & 0x3f];
    work = left ^ *keys++;
    f |= SP[7][work & 0x3f] | SP[5][(work >> 8) & 0x3f] | SP[3][(work >> 16) & 0x3f] |
         SP[1][(work >> 24) & 0x3f];
    right ^= f;
  }

  // Final permutation (the inverse of the initial one, halves swapped).
  right = (right << 31) | (right >> 1);
  work = (left ^ right) & 0xaaaaaaaau;
  left ^= work;
  right ^= work;
  left = (left << 31) | (left >> 1);
  work = ((left >> 8) ^ right) & 0x00ff00ffu;
  right ^= work;
  left ^= work << 8;
  work = ((left >> 2) ^ right) & 0x33333333u;
  right ^= work;
  left ^= work << 2;
  work = ((right >> 16) ^ left) & 0x0000ffffu;
  left ^= work;
  right ^= work << 16;
  work = ((right >> 4) ^ left) & 0x0f0f0f0fu;
  left ^= work;
  right ^= work << 4;
  Store32BE(Block.data(), right);
  Store32BE(Block.data() + 4, left);
}

// ---------------------------------------------------------------------------------------------

void TDES::SetKey(const TBlock& Key) {
  DesKeySchedule(Key, false, ctx.FEncKey);
  DesKeySchedule(Key, true, ctx.FDecKey);
}

void TDES::InitialiseByte(const std::uint8_t* Key, std::int32_t Keylength) {
  ctx.ct.fill(0);
  ctx.ByteBuffer.fill(0);
  TBlock key{};
  for (std::int32_t i = 0; i < Keylength; ++i) key[static_cast<std::size_t>(i % 8)] = Key[i];
  SetKey(key);
  SecureZero(key.data(), key.size());
  ctx.KeyInit = true;
}

void TDES::InitialiseString(std::string_view Key) {
  InitialiseByte(reinterpret_cast<const std::uint8_t*>(Key.data()), static_cast<std::int32_t>(Key.size()));
}

void TDES::LoadIVByte(const std::uint8_t* IVByte, std::int32_t IVLength) {
  ctx.IV.fill(0);
  for (std::int32_t i = 0; i < IVLength; ++i) ctx.IV[static_cast<std::size_t>(i % 8)] ^= IVByte[i];
  ctx.IVInit = true;
}

void TDES::LoadIVString(std::string_view IVString) {
  LoadIVByte(reinterpret_cast<const std::uint8_t*>(IVString.data()), static_cast<std::int32_t>(IVString.size()));
}

void TDES::CheckKeyAndIV() const {
  if (!ctx.KeyInit) throw EKeyError(u"DES: Key not set");
  if (FCipherMode != TCipherMode::ECB && !ctx.IVInit) throw EKeyError(u"DES: IV not set");
}

void TDES::EncryptBlockInMode() {
  TBlock& w = ctx.ByteBuffer;
  switch (FCipherMode) {
    case TCipherMode::CBC:
      XorBlock(w, ctx.IV);
      DesBlock(ctx.FEncKey, w);
      ctx.IV = w;
      break;
    case TCipherMode::ECB:
      DesBlock(ctx.FEncKey, w);
      break;
    case TCipherMode::CFB: {
      TBlock e = ctx.IV;
      DesBlock(ctx.FEncKey, e);
      XorBlock(w, e);
      ctx.IV = w;
      break;
    }
    case TCipherMode::OFB:
      DesBlock(ctx.FEncKey, ctx.IV);
      XorBlock(w, ctx.IV);
      break;
  }
}

void TDES::DecryptBlockInMode() {
  TBlock& w = ctx.ByteBuffer;
  switch (FCipherMode) {
    case TCipherMode::CBC:
      ctx.ct = w;
      DesBlock(ctx.FDecKey, w);
      XorBlock(w, ctx.IV);
      ctx.IV = ctx.ct;
      break;
    case TCipherMode::ECB:
      DesBlock(ctx.FDecKey, w);
      break;
    case TCipherMode::CFB: {
      ctx.ct = w;
      TBlock e = ctx.IV;
      DesBlock(ctx.FEncKey, e);
      XorBlock(w, e);
      ctx.IV = ctx.ct;
      break;
    }
    case TCipherMode::OFB:
      DesBlock(ctx.FEncKey, ctx.IV);
      XorBlock(w, ctx.IV);
      break;
  }
}

void TDES::EncBlock(const TBlock& Input, TBlock& Output) {
  CheckKeyAndIV();
  ctx.ByteBuffer = Input;
  EncryptBlockInMode();
  Output = ctx.ByteBuffer;
}

void TDES::DecBlock(const TBlock& Input, TBlock& Output) {
  CheckKeyAndIV();
  ctx.ByteBuffer = Input;
  DecryptBlockInMode();
  Output = ctx.ByteBuffer;
}

// The first n bytes of the chunk buffer, block by block (n is a multiple of 8).
void TDES::EncryptBuffer(std::size_t n) {
  CheckKeyAndIV();
  for (std::size_t off = 0; off + 8 <= n; off += 8) {
    std::memcpy(ctx.ByteBuffer.data(), PtrBuffer + off, 8);
    EncryptBlockInMode();
    std::memcpy(PtrBuffer + off, ctx.ByteBuffer.data(), 8);
  }
}

void TDES::DecryptBuffer(std::size_t n) {
  CheckKeyAndIV();
  for (std::size_t off = 0; off + 8 <= n; off += 8) {
    std::memcpy(ctx.ByteBuffer.data(), PtrBuffer + off, 8);
    DecryptBlockInMode();
    std::memcpy(PtrBuffer + off, ctx.ByteBuffer.data(), 8);
  }
}

// Pads the n bytes in the chunk buffer; returns the padded length.
std::size_t TDES::PadBuffer(std::size_t n) {
  std::size_t p = 8 - n % 8;
  std::memset(FBuffer + n, static_cast<int>(p), p);
  return n + p;
}

void TDES::EncString(std::string_view Input, AnsiString& Output) {
  CheckKeyAndIV();
  Output.clear();
  if (Input.empty()) return;
  std::size_t p = 8 - Input.size() % 8;
  AnsiString data;
  data.reserve(Input.size() + p);
  data.append(Input);
  data.append(p, static_cast<char>(p));
  for (std::size_t off = 0; off < data.size(); off += 8) {
    std::memcpy(ctx.ByteBuffer.data(), data.data() + off, 8);
    EncryptBlockInMode();
    std::memcpy(data.data() + off, ctx.ByteBuffer.data(), 8);
  }
  Output = FStringMode == smEncode ? EncodeText(data) : std::move(data);
}

void TDES::DecString(std::string_view Input, AnsiString& Output) {
  CheckKeyAndIV();
  Output.clear();
  if (Input.empty()) return;
  AnsiString data = FStringMode == smEncode ? DecodeText(Input) : AnsiString(Input);
  if (data.size() < 8) TooShort();
  if (data.size() % 8 != 0) NotWholeBlocks();
  for (std::size_t off = 0; off < data.size(); off += 8) {
    std::memcpy(ctx.ByteBuffer.data(), data.data() + off, 8);
    DecryptBlockInMode();
    std::memcpy(data.data() + off, ctx.ByteBuffer.data(), 8);
  }
  auto v = static_cast<unsigned char>(data.back());
  std::size_t drop = (v >= 1 && v <= 8) ? v : 1;
  Output.assign(data.data(), data.size() - drop);
  SecureZero(data.data(), data.size());
}

AnsiString TDES::EncodeText(std::string_view Bytes) const {
  AnsiString out;
  out.reserve((Bytes.size() * 4 + 2) / 3);
  std::size_t i = 0;
  auto b = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(Bytes[k])); };
  for (; i + 3 <= Bytes.size(); i += 3) {
    std::uint32_t v = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
    out.push_back(kTextAlphabet[v >> 18]);
    out.push_back(kTextAlphabet[(v >> 12) & 63]);
    out.push_back(kTextAlphabet[(v >> 6) & 63]);
    out.push_back(kTextAlphabet[v & 63]);
  }
  std::size_t rest = Bytes.size() - i;
  if (rest == 1) {
    out.push_back(kTextAlphabet[b(i) >> 2]);
    out.push_back(kTextAlphabet[(b(i) & 3) << 4]);
  } else if (rest == 2) {
    std::uint32_t v = (b(i) << 8) | b(i + 1);
    out.push_back(kTextAlphabet[v >> 10]);
    out.push_back(kTextAlphabet[(v >> 4) & 63]);
    out.push_back(kTextAlphabet[(v & 15) << 2]);
  }
  return out;
}

int TDES::DecodeTextChar(char c) {
  if (c == '+') return 0;
  if (c == '-') return 1;
  if (c >= '0' && c <= '9') return c - '0' + 2;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 12;
  if (c >= 'a' && c <= 'z') return c - 'a' + 38;
  throw EConvertError(u"DES: Error converting from Base64 - invalid character");
}

AnsiString TDES::DecodeText(std::string_view Text) const {
  AnsiString out;
  out.reserve(Text.size() / 4 * 3 + 2);
  std::uint32_t acc = 0;
  int count = 0;
  for (char c : Text) {
    acc = (acc << 6) | static_cast<std::uint32_t>(DecodeTextChar(c));
    if (++count == 4) {
      out.push_back(static_cast<char>(acc >> 16));
      out.push_back(static_cast<char>(acc >> 8));
      out.push_back(static_cast<char>(acc));
      acc = 0;
      count = 0;
    }
  }
  if (count == 3) {
    out.push_back(static_cast<char>(acc >> 10));
    out.push_back(static_cast<char>(acc >> 2));
  } else if (count == 2) {
    out.push_back(static_cast<char>(acc >> 4));
  }
  return out;
}

void TDES::EncStream(std::istream& Input, std::ostream& Output) {
  std::int64_t len = PrepareStreams(Input, Output, FEncDecNoPosFlage);
  if (len == 0) return;
  CheckKeyAndIV();
  auto crc = static_cast<std::uint32_t>(FCrc32Value);
  while (len >= kChunkSize) {
    StreamRead(Input, FBuffer, kChunkSize);
    if (FCrcCaclFlage) crc = Crc32(crc, FBuffer, kChunkSize);
    EncryptBuffer(kChunkSize);
    StreamWrite(Output, FBuffer, kChunkSize);
    len -= kChunkSize;
  }
  auto rest = static_cast<std::size_t>(len);
  StreamRead(Input, FBuffer, rest);
  if (FCrcCaclFlage) crc = Crc32(crc, FBuffer, static_cast<std::int64_t>(rest));
  std::size_t padded = PadBuffer(rest);
  EncryptBuffer(padded);
  StreamWrite(Output, FBuffer, padded);
  FCrc32Value = static_cast<std::int32_t>(crc);
}

void TDES::DecStream(std::istream& Input, std::ostream& Output) {
  std::int64_t len = PrepareStreams(Input, Output, FEncDecNoPosFlage);
  if (len == 0) return;
  CheckKeyAndIV();
  if (len % 8 != 0) NotWholeBlocks();
  auto crc = static_cast<std::uint32_t>(FCrc32Value);
  while (len > 0) {
    std::size_t n = len >= kChunkSize ? kChunkSize : static_cast<std::size_t>(len);
    StreamRead(Input, FBuffer, n);
    DecryptBuffer(n);
    len -= static_cast<std::int64_t>(n);
    if (len == 0) {
      std::size_t pad = FBuffer[n - 1];
      if (pad > n) BadPadding();
      n -= pad;
    }
    StreamWrite(Output, FBuffer, n);
    if (FCrcCaclFlage) crc = Crc32(crc, FBuffer, static_cast<std::int64_t>(n));
  }
  FCrc32Value = static_cast<std::int32_t>(crc);
}

void TDES::EncFile(std::string_view InputFileName, std::string_view OutputFileName) {
  CheckKeyAndIV();
  FilePair files(InputFileName, OutputFileName);
  files.CreateOutput();
  std::int64_t remaining = files.size();
  for (;;) {
    long got = ReadFull(files.in(), FBuffer, kChunkSize);
    if (got < 0) ReadError();
    auto n = static_cast<std::size_t>(got);
    remaining -= got;
    bool atEnd = n < static_cast<std::size_t>(kChunkSize) || remaining <= 0;
    if (atEnd) n = PadBuffer(n);
    EncryptBuffer(n);
    if (!WriteFull(files.out(), FBuffer, n)) WriteError();
    if (atEnd) break;
  }
  files.Finish();
}

void TDES::DecFile(std::string_view InputFileName, std::string_view OutputFileName) {
  CheckKeyAndIV();
  FilePair files(InputFileName, OutputFileName);
  if (files.size() % 8 != 0) NotWholeBlocks();
  files.CreateOutput();
  std::int64_t remaining = files.size();
  while (remaining > 0) {
    long got = ReadFull(files.in(), FBuffer, kChunkSize);
    if (got < 0) ReadError();
    if (got == 0 || got % 8 != 0) NotWholeBlocks();  // the file changed while being read
    auto n = static_cast<std::size_t>(got);
    DecryptBuffer(n);
    remaining -= got;
    if (remaining <= 0) {
      std::size_t pad = FBuffer[n - 1];
      if (pad > n) BadPadding();
      n -= pad;
    }
    if (!WriteFull(files.out(), FBuffer, n)) WriteError();
  }
  files.Finish();
}

void TDES::CBCMACBlock(TBlock& MAC) {
  MAC.fill(0);
  if (FCipherMode != TCipherMode::CBC) throw EKeyError(u"DES: Mode must be CBC for CBCMAC");
  CheckKeyAndIV();
  MAC = ctx.IV;
}

void TDES::CBCMACString(AnsiString& MAC) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  TBlock mac;
  MAC.clear();
  CBCMACBlock(mac);
  for (std::uint8_t b : mac) {
    MAC.push_back(kHex[b >> 4]);
    MAC.push_back(kHex[b & 15]);
  }
}

TDES::~TDES() {
  Burn();
  SecureZero(FBuffer, sizeof FBuffer);
}

void TDES::Burn() {
  SecureZero(&ctx, sizeof ctx);
  ctx.KeyInit = false;
  ctx.IVInit = false;
}
