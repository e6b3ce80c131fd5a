// The DES component: FIPS vectors for the core and the four modes, a randomized cross-check
// against OpenSSL's DES, and the component's own rules (folding, padding, text form, errors).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "Exceptions.h"
#include "TestSupport.h"
#include "qzCRC.h"
#include "qzDES.h"

namespace {

TBlock Hex(const char* h) {
  TBlock b{};
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(std::stoul(std::string(h + 2 * i, 2), nullptr, 16));
  return b;
}

std::string Bytes(const TBlock& b) { return std::string(reinterpret_cast<const char*>(b.data()), 8); }

using qztest::RandomBytes;

template <class E>
void ExpectRaises(const std::function<void()>& f, const char16_t* message) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const E& e) {
    EXPECT_EQ(e.Message, message);
  }
}

TEST(DesCore, Fips46SingleBlocks) {
  struct V { const char *key, *plain, *cipher; };
  const V vectors[] = {
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
      {"0101010101010101", "95F8A5E5DD31D900", "8000000000000000"},
      {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
  };
  for (const auto& v : vectors) {
    std::uint32_t enc[32], dec[32];
    DesKeySchedule(Hex(v.key), false, enc);
    DesKeySchedule(Hex(v.key), true, dec);
    TBlock b = Hex(v.plain);
    DesBlock(enc, b);
    EXPECT_EQ(b, Hex(v.cipher)) << v.key;
    DesBlock(dec, b);
    EXPECT_EQ(b, Hex(v.plain)) << v.key;
  }
}

// FIPS 81: "Now is the time for all " under key 0123456789ABCDEF, vector 1234567890ABCDEF.
TEST(DesModes, Fips81Vectors) {
  const TBlock plain[3] = {Hex("4E6F772069732074"), Hex("68652074696D6520"), Hex("666F7220616C6C20")};
  struct V { TCipherMode mode; const char* cipher[3]; };
  const V vectors[] = {
      {TCipherMode::ECB, {"3FA40E8A984D4815", "6A271787AB8883F9", "893D51EC4B563B53"}},
      {TCipherMode::CBC, {"E5C7CDDE872BF27C", "43E934008C389C0F", "683788499A7C05F6"}},
      {TCipherMode::CFB, {"F3096249C7F46E51", "A69E839B1A92F784", "03467133898EA622"}},
      {TCipherMode::OFB, {"F3096249C7F46E51", "35F24A242EEB3D3F", "3D6D5BE3255AF8C3"}},
  };
  for (const auto& v : vectors) {
    TDES enc, dec;
    for (TDES* d : {&enc, &dec}) {
      d->SetCipherMode(v.mode);
      d->InitialiseString(Bytes(Hex("0123456789ABCDEF")));
      d->LoadIVString(Bytes(Hex("1234567890ABCDEF")));
    }
    for (int i = 0; i < 3; ++i) {
      TBlock c, p;
      enc.EncBlock(plain[i], c);
      EXPECT_EQ(c, Hex(v.cipher[i])) << static_cast<int>(v.mode) << " block " << i;
      dec.DecBlock(c, p);
      EXPECT_EQ(p, plain[i]);
    }
  }
}

// Random keys, vectors and messages in every mode against OpenSSL's DES (legacy provider).
TEST(DesModes, AgreesWithOpenSsl) {
  struct Providers {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {
      if (legacy) OSSL_PROVIDER_unload(legacy);
      if (standard) OSSL_PROVIDER_unload(standard);
    }
  } providers;
  ASSERT_NE(providers.legacy, nullptr);
  struct M { TCipherMode mode; const EVP_CIPHER* (*cipher)(); };
  const M modes[] = {{TCipherMode::ECB, EVP_des_ecb}, {TCipherMode::CBC, EVP_des_cbc},
                     {TCipherMode::CFB, EVP_des_cfb64}, {TCipherMode::OFB, EVP_des_ofb}};
  std::mt19937_64 rng(2024);
  for (const auto& m : modes) {
    for (int round = 0; round < 50; ++round) {
      std::string key = RandomBytes(rng, 8), iv = RandomBytes(rng, 8);
      std::string msg = RandomBytes(rng, 1 + rng() % 100);
      // OpenSSL with its PKCS padding gives the same padded message the component encrypts.
      EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
      ASSERT_EQ(EVP_EncryptInit_ex(c, m.cipher(), nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                                   reinterpret_cast<const unsigned char*>(iv.data())), 1);
      std::string padded = msg;
      padded.append(8 - msg.size() % 8, static_cast<char>(8 - msg.size() % 8));
      EVP_CIPHER_CTX_set_padding(c, 0);
      std::string expected(padded.size(), '\0');
      int len = 0;
      ASSERT_EQ(EVP_EncryptUpdate(c, reinterpret_cast<unsigned char*>(expected.data()), &len,
                                  reinterpret_cast<const unsigned char*>(padded.data()), static_cast<int>(padded.size())), 1);
      EVP_CIPHER_CTX_free(c);

      TDES des;
      des.SetCipherMode(m.mode);
      des.SetStringMode(smNormal);
      des.InitialiseString(key);
      des.LoadIVString(iv);
      AnsiString cipher, back;
      des.EncString(msg, cipher);
      ASSERT_EQ(cipher, expected) << static_cast<int>(m.mode);
      des.LoadIVString(iv);
      des.DecString(cipher, back);
      ASSERT_EQ(back, msg);
    }
  }
}

TEST(DesKeys, FoldingOfLongKeysAndVectors) {
  // A 9-byte key is the 8-byte key whose first byte is replaced by the ninth.
  TDES a, b;
  a.SetCipherMode(TCipherMode::ECB);
  b.SetCipherMode(TCipherMode::ECB);
  a.InitialiseString("ABCDEFGHZ");
  b.InitialiseString("ZBCDEFGH");
  AnsiString ca, cb;
  a.EncString("message", ca);
  b.EncString("message", cb);
  EXPECT_EQ(ca, cb);
  // A short key is filled with zero bytes.
  a.InitialiseString("AB");
  b.InitialiseString(std::string("AB\0\0\0\0\0\0", 8));
  a.EncString("message", ca);
  b.EncString("message", cb);
  EXPECT_EQ(ca, cb);
  // A 9-byte vector is the 8-byte vector whose first byte is exclusive-ored with the ninth.
  TDES c, d;
  for (TDES* x : {&c, &d}) x->InitialiseString("key");
  c.LoadIVString(std::string("\x01" "2345678\x03", 9));
  d.LoadIVString(std::string("\x02" "2345678", 8));
  TBlock mc, md;
  c.CBCMACBlock(mc);
  d.CBCMACBlock(md);
  EXPECT_EQ(mc, md);
}

TEST(DesStrings, TextFormLengthsAndPadding) {
  TDES des;
  des.SetCipherMode(TCipherMode::ECB);
  des.InitialiseString("secret");
  const std::pair<std::size_t, std::size_t> lengths[] = {{1, 11}, {7, 11}, {8, 22}, {15, 22}, {16, 32}};
  for (auto [plain, symbols] : lengths) {
    AnsiString out, back;
    des.EncString(std::string(plain, 'x'), out);
    EXPECT_EQ(out.size(), symbols) << plain;
    EXPECT_EQ(out.find_first_not_of("+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
              std::string::npos);
    des.DecString(out, back);
    EXPECT_EQ(back, std::string(plain, 'x'));
  }
  AnsiString empty = "x";
  des.EncString("", empty);
  EXPECT_EQ(empty, "");
}

TEST(DesStrings, DecodingRefusesWhatCannotBeACipherText) {
  TDES des;
  des.SetCipherMode(TCipherMode::ECB);
  des.InitialiseString("secret");
  AnsiString out;
  ExpectRaises<EInputError>([&] { des.DecString("ABCDEFGHIJ", out); }, u"DES: Input not valid - too short");
  ExpectRaises<EConvertError>([&] { des.DecString("ABCDEFGHIJ/", out); },
                              u"DES: Error converting from Base64 - invalid character");
  ExpectRaises<EConvertError>([&] { des.DecString("ABCDEFGHIJ=", out); },
                              u"DES: Error converting from Base64 - invalid character");
  // 12 symbols read as 9 bytes: a partial block is refused, not decrypted into garbage.
  EXPECT_THROW(des.DecString("ABCDEFGHIJKL", out), EInputError);
  des.SetStringMode(smNormal);
  EXPECT_THROW(des.DecString("1234567", out), EInputError);
}

TEST(DesStrings, LastByteOutsidePaddingRangeDropsOneByte) {
  // Build cipher texts whose decryption ends in 0 and in 9 by encrypting raw blocks in ECB.
  TDES des;
  des.SetCipherMode(TCipherMode::ECB);
  des.SetStringMode(smNormal);
  des.InitialiseString("k");
  for (std::uint8_t last : {std::uint8_t{0}, std::uint8_t{9}, std::uint8_t{200}}) {
    TBlock plain = {'a', 'b', 'c', 'd', 'e', 'f', 'g', last}, cipher;
    des.EncBlock(plain, cipher);
    AnsiString out;
    des.DecString(Bytes(cipher), out);
    EXPECT_EQ(out, "abcdefg") << int(last);
  }
}

TEST(DesState, KeyVectorAndModeErrors) {
  TDES des;
  AnsiString out;
  TBlock b{};
  ExpectRaises<EKeyError>([&] { des.EncString("", out); }, u"DES: Key not set");
  ExpectRaises<EKeyError>([&] { des.EncBlock(b, b); }, u"DES: Key not set");
  des.InitialiseString("key");
  ExpectRaises<EKeyError>([&] { des.EncString("x", out); }, u"DES: IV not set");  // CBC by default
  des.SetCipherMode(TCipherMode::ECB);
  ExpectRaises<EKeyError>([&] { des.CBCMACString(out); }, u"DES: Mode must be CBC for CBCMAC");
  des.Burn();
  ExpectRaises<EKeyError>([&] { des.EncString("x", out); }, u"DES: Key not set");
}

TEST(DesState, ChainingCarriesOverUntilTheVectorIsReloaded) {
  TDES des;
  des.InitialiseString("key");
  des.LoadIVString("vector");
  AnsiString mac;
  des.CBCMACString(mac);
  EXPECT_EQ(mac, "766563746F720000");  // right after loading: the vector itself
  AnsiString c1, c2, c3;
  des.EncString("same text", c1);
  des.EncString("same text", c2);
  EXPECT_NE(c1, c2);
  des.LoadIVString("vector");
  des.EncString("same text", c3);
  EXPECT_EQ(c1, c3);
  // The MAC is the last cipher block of what was encrypted since the vector was loaded.
  TDES raw;
  raw.SetStringMode(smNormal);
  raw.InitialiseString("key");
  raw.LoadIVString("vector");
  AnsiString cipher;
  raw.EncString("same text", cipher);
  TBlock last;
  raw.CBCMACBlock(last);
  EXPECT_EQ(Bytes(last), cipher.substr(cipher.size() - 8));
}

class DesFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    des_.InitialiseString("filekey");
    des_.LoadIVString("iv");
  }
  std::string Path(const char* n) const { return dir_.Path() + n; }
  void Write(const char* n, const std::string& s) { std::ofstream(Path(n), std::ios::binary) << s; }
  std::string Read(const char* n) { return qztest::ReadFile(Path(n)); }
  qztest::TempDir dir_{"qzdes"};
  TDES des_;
};

TEST_F(DesFiles, RoundTripSizesAndPadding) {
  std::mt19937_64 rng(3);
  const std::pair<std::size_t, std::size_t> sizes[] = {{0, 8}, {1, 8}, {4095, 4096}, {4096, 4104}, {10000, 10008}};
  for (auto [plain, cipher] : sizes) {
    std::string content = RandomBytes(rng, plain);
    Write("/in", content);
    des_.LoadIVString("iv");
    des_.EncFile(Path("/in"), Path("/enc"));
    EXPECT_EQ(Read("/enc").size(), cipher) << plain;
    des_.LoadIVString("iv");
    des_.DecFile(Path("/enc"), Path("/out"));
    EXPECT_EQ(Read("/out"), content) << plain;
  }
}

TEST_F(DesFiles, ErrorsAndDamagedInput) {
  ExpectRaises<EFileError>([&] { des_.EncFile(Path("/missing"), Path("/out")); }, u"DES: Input file not found");
  Write("/in", "data");
  ExpectRaises<EFileError>([&] { des_.EncFile(Path("/in"), Path("/no/such/dir/out")); },
                           u"DES: Could not open output file");
  // A cipher file that is not whole blocks is refused and leaves no output behind.
  Write("/enc", "123456789");
  EXPECT_THROW(des_.DecFile(Path("/enc"), Path("/out")), EInputError);
  EXPECT_NE(access(Path("/out").c_str(), F_OK), 0);
  // Decrypting with a wrong key never writes past the data: padding larger than it is refused.
  Write("/in", "x");
  des_.EncFile(Path("/in"), Path("/enc"));
  TDES wrong;
  wrong.InitialiseString("otherkey");
  wrong.LoadIVString("iv");
  try {
    wrong.DecFile(Path("/enc"), Path("/out"));
    EXPECT_LE(Read("/out").size(), 8u);
  } catch (const EInputError&) {
    EXPECT_NE(access(Path("/out").c_str(), F_OK), 0);
  }
}

TEST(DesStreams, PositionsCrcAndEmptyInput) {
  TDES des;
  des.InitialiseString("streamkey");
  des.LoadIVString("iv");
  std::stringstream empty, out;
  des.EncStream(empty, out);
  EXPECT_EQ(out.str(), "");

  std::mt19937_64 rng(8);
  std::string content = RandomBytes(rng, 4096 * 2 + 100);
  std::stringstream in(content), enc, dec;
  des.SetCrcCaclFlage(true);
  des.SetCrc32Value(0);
  des.EncStream(in, enc);
  auto expectedCrc = static_cast<std::int32_t>(Crc32(0, content.data(), static_cast<std::int64_t>(content.size())));
  EXPECT_EQ(des.Crc32Value(), expectedCrc);
  EXPECT_EQ(enc.str().size(), content.size() + 4);
  des.LoadIVString("iv");
  des.SetCrc32Value(0);
  des.DecStream(enc, dec);
  EXPECT_EQ(dec.str(), content);
  EXPECT_EQ(des.Crc32Value(), expectedCrc);

  // With EncDecNoPosFlage, the input is taken from its position and the output appended at its own.
  des.SetCrcCaclFlage(false);
  des.SetEncDecNoPosFlage(true);
  std::stringstream mid("HEADERpayload"), appended;
  mid.seekg(6);
  appended << "PREFIX";
  des.LoadIVString("iv");
  des.EncStream(mid, appended);
  EXPECT_EQ(appended.str().substr(0, 6), "PREFIX");
  std::stringstream cipherOnly(appended.str().substr(6)), plainOut;
  des.SetEncDecNoPosFlage(false);
  des.LoadIVString("iv");
  des.DecStream(cipherOnly, plainOut);
  EXPECT_EQ(plainOut.str(), "payload");
}

}  // namespace
