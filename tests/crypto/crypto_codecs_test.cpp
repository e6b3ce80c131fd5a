// Base64 text form, CRC-32 and MD5 digests: published vectors, cross-checks against OpenSSL and
// zlib on random data, and the text-form rules that callers rely on.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "TestSupport.h"
#include "Text.h"
#include "qzBase64.h"
#include "qzCRC.h"
#include "qzMD5.h"

namespace {

using qztest::RandomBytes;

std::string OpenSslBase64(const std::string& in) {
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string HexPair(unsigned char b) {
  static const char* hex = "0123456789ABCDEF";
  return {hex[b >> 4], hex[b & 15]};
}

std::string OpenSslMd5Hex(const std::string& in) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(in.data(), in.size(), md, &len, EVP_md5(), nullptr);
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out.push_back(hex[md[i] >> 4]);
    out.push_back(hex[md[i] & 15]);
  }
  return out;
}

// ---- Base64 -------------------------------------------------------------------------------

TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (auto [plain, encoded] : vectors) {
    EXPECT_EQ(TqzBase64::StrToBase64(plain, false), encoded) << plain;
    EXPECT_EQ(TqzBase64::StrToBase64(plain, true), encoded) << plain;
    EXPECT_EQ(TqzBase64::Base64ToStr(encoded), plain) << encoded;
    EXPECT_EQ(qzInternal::TqzBase64::StrToBase64(plain), encoded);
    EXPECT_EQ(qzInternal::TqzBase64::Base64ToStr(encoded), plain);
  }
}

TEST(Base64, LineBreaksEvery76SymbolsNeverAtTheEnd) {
  struct Case { std::size_t bytes; std::vector<std::size_t> lineLengths; };
  const Case cases[] = {{57, {76}}, {58, {76, 4}}, {114, {76, 76}}, {115, {76, 76, 4}}, {1, {4}}};
  std::mt19937_64 rng(1);
  for (const auto& c : cases) {
    std::string in = RandomBytes(rng, c.bytes);
    std::string text = TqzBase64::StrToBase64(in, true);
    std::vector<std::size_t> lines;
    std::size_t start = 0;
    for (;;) {
      std::size_t crlf = text.find("\r\n", start);
      lines.push_back((crlf == std::string::npos ? text.size() : crlf) - start);
      if (crlf == std::string::npos) break;
      start = crlf + 2;
    }
    EXPECT_EQ(lines, c.lineLengths) << c.bytes << " bytes";
    EXPECT_EQ(text.size(), 4 * ((c.bytes + 2) / 3) + 2 * ((c.bytes - 1) / 57));
    EXPECT_EQ(TqzBase64::Base64ToStr(text), in);
  }
}

TEST(Base64, ReaderSkipsEverythingOutsideTheAlphabet) {
  const std::pair<std::string, std::string> cases[] = {
      {"Zm9v", "foo"},
      {"Zm 9v\r\n", "foo"},           // blank inside the group, CR LF after it
      {"Zm", "f"},                    // two symbols without padding give one byte
      {"Zm9", "fo"},
      {"Z", ""},                      // a lone symbol gives nothing
      {"Zg==Zg==", "f\x06\x60"},  // padding is skipped: ZgZg is one group
      {"!!Z*m@9#v$", "foo"},
      {"====\r\n", ""},
      {std::string("Zm\0" "9v", 5), "foo"},
      {"\xFFZm9v\x80", "foo"},
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(TqzBase64::Base64ToStr(text), bytes) << text;
}

TEST(Base64, AgreesWithOpenSslAndRoundTripsRandomData) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 400; ++i) {
    std::string in = RandomBytes(rng, rng() % 700);
    std::string one = TqzBase64::StrToBase64(in, false);
    ASSERT_EQ(one, OpenSslBase64(in));
    ASSERT_EQ(TqzBase64::Base64ToStr(one), in);
    std::string lines = TqzBase64::StrToBase64(in, true);
    ASSERT_EQ(TqzBase64::Base64ToStr(lines), in);
    // Noise between the symbols changes nothing.
    std::string noisy;
    for (char c : lines) {
      noisy.push_back(c);
      if (rng() % 5 == 0) noisy.append(" \t=\n" + std::string(1, static_cast<char>(0x80 + rng() % 128)));
    }
    ASSERT_EQ(TqzBase64::Base64ToStr(noisy), in);
  }
}

// Both directions work on blocks (24 bytes into 32 symbols and back) where the processor allows:
// sizes around the block edges, every start offset of a block, and a byte outside the alphabet
// at each position of the first blocks (it must be skipped exactly as elsewhere) against OpenSSL
// and against the bytes decoded without it.
TEST(Base64, BlockEdgesAndSkippedBytesInsideBlocks) {
  std::mt19937_64 rng(7);
  const std::string buffer = RandomBytes(rng, 4096);
  for (size_t size : {27, 28, 29, 47, 48, 49, 51, 52, 53, 71, 72, 73, 95, 96, 97, 2049, 4093}) {
    for (size_t offset = 0; offset < 4; ++offset) {
      const std::string in = buffer.substr(offset, size);
      const std::string text = TqzBase64::StrToBase64(in);
      ASSERT_EQ(text, OpenSslBase64(in)) << size << "+" << offset;
      ASSERT_EQ(TqzBase64::Base64ToStr(text), in) << size << "+" << offset;
      ASSERT_EQ(TqzBase64::Base64ToStr(std::string(offset, '-') + text), in) << size << "+" << offset;
    }
  }
  const std::string in = buffer.substr(0, 150);
  const std::string text = TqzBase64::StrToBase64(in);
  for (size_t at = 0; at < 70; ++at) {
    for (char junk : {'=', '\n', '\x80', '\xFF', '.', '\0'}) {
      std::string noisy = text;
      noisy.insert(at, 1, junk);
      ASSERT_EQ(TqzBase64::Base64ToStr(noisy), in) << at << " " << int(junk);
    }
  }
}

// ---- CRC-32 -------------------------------------------------------------------------------

TEST(Crc32, CheckValueAndBoundaries) {
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(0, "", 0), 0u);
  EXPECT_EQ(Crc32(0x12345678u, nullptr, 10), 0u);       // null buffer: 0 whatever the running CRC
  EXPECT_EQ(Crc32(0x12345678u, "abc", 0), 0x12345678u);  // zero length: unchanged
}

TEST(Crc32, AgreesWithZlibInPieces) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::string in = RandomBytes(rng, rng() % 3000);
    uLong expected = crc32(0L, reinterpret_cast<const Bytef*>(in.data()), static_cast<uInt>(in.size()));
    std::uint32_t whole = Crc32(0, in.data(), static_cast<std::int64_t>(in.size()));
    ASSERT_EQ(whole, expected);
    std::size_t cut = in.empty() ? 0 : rng() % in.size();
    std::uint32_t pieces = Crc32(Crc32(0, in.data(), static_cast<std::int64_t>(cut)), in.data() + cut,
                                 static_cast<std::int64_t>(in.size() - cut));
    ASSERT_EQ(pieces, expected);
  }
}

// ---- MD5 ----------------------------------------------------------------------------------

TEST(MD5, Rfc1321Suite) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (auto [text, digest] : vectors) {
    EXPECT_EQ(TqzMD5::GetMD5FromString(text), digest) << text;
    EXPECT_EQ(TqzMD5::GetMD5(text, static_cast<std::int64_t>(std::string(text).size())), digest);
  }
  EXPECT_TRUE(TqzMD5::MD5SelfTest());
  EXPECT_EQ(TqzMD5::LoadSelfTestMessage(), u"");
}

TEST(MD5, AgreesWithOpenSslAroundBlockBoundaries) {
  std::mt19937_64 rng(99);
  for (std::size_t n = 0; n < 300; ++n) {
    std::string in = RandomBytes(rng, n);
    ASSERT_EQ(TqzMD5::GetMD5FromString(in), OpenSslMd5Hex(in)) << n;
  }
  for (int i = 0; i < 20; ++i) {
    std::string in = RandomBytes(rng, rng() % 100000);
    ASSERT_EQ(TqzMD5::GetMD5FromString(in), OpenSslMd5Hex(in));
  }
}

TEST(MD5, FileDigestStreamsAndRefusesWhatItCannotRead) {
  qztest::TempDir tmp("qzmd5");
  const std::string dir = tmp.Path();
  std::string path = dir + "/data.bin";
  std::mt19937_64 rng(5);
  std::string content = RandomBytes(rng, 16384 * 3 + 17);  // several work-buffer loads
  { std::ofstream(path, std::ios::binary) << content; }
  EXPECT_EQ(TqzMD5::GetMD5FromFile(platform::ToU16(path)), OpenSslMd5Hex(content));

  UnicodeString missing = platform::ToU16(dir + "/missing.bin");
  try {
    TqzMD5::GetMD5FromFile(missing);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"file " + missing + u" not found");
  }
  // A folder exists but has no contents to digest: no digest of the empty text for it.
  EXPECT_THROW(TqzMD5::GetMD5FromFile(platform::ToU16(dir)), Exception);
}

// Past 2^32 message bits (512 MiB) the bit count needs all 64 bits; a sparse file of zeros
// reads fast and streams through the 16 KiB work buffer.
TEST(MD5, FileBeyond512MiBDigestsExactly) {
  char path[] = "/tmp/qzmd5bigXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::size_t size = (520u << 20) + 3;
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
  close(fd);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
  std::string zeros(1u << 20, '\0');
  for (std::size_t left = size; left > 0;) {
    std::size_t n = std::min(left, zeros.size());
    EVP_DigestUpdate(ctx, zeros.data(), n);
    left -= n;
  }
  unsigned char md[16];
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx, md, &len);
  EVP_MD_CTX_free(ctx);
  std::string expected;
  for (unsigned char b : md) expected += HexPair(b);
  EXPECT_EQ(TqzMD5::GetMD5FromFile(platform::ToU16(path)), expected);
  std::remove(path);
}

TEST(MD5, NegativeSizeIsRefused) { EXPECT_THROW(TqzMD5::GetMD5("abc", -1), Exception); }

}  // namespace
