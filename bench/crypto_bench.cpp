// Throughput of the Base64 text form, MD5 and CRC-32 over 256 MiB, side by side with OpenSSL's
// EVP_EncodeBlock / EVP_DecodeBlock / MD5 and, for CRC-32 (which is zlib's crc32_z underneath),
// Boost.CRC's independent table-driven implementation as the reference.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <zlib.h>

#include <boost/crc.hpp>

#include <cstring>
#include <random>
#include <string>

#include "qzBase64.h"
#include "qzCRC.h"
#include "qzMD5.h"

namespace {

constexpr std::size_t kSize = 256u << 20;

const std::string& Data() {
  static const std::string data = [] {
    std::string s(kSize, '\0');
    std::mt19937_64 rng(1);
    for (std::size_t i = 0; i + 8 <= s.size(); i += 8) {
      std::uint64_t v = rng();
      std::memcpy(s.data() + i, &v, 8);
    }
    return s;
  }();
  return data;
}

const std::string& Encoded() {
  static const std::string text = TqzBase64::StrToBase64(Data(), false);
  return text;
}

// The codecs into a buffer allocated once: what the code itself costs.
void Base64Encode_qz(benchmark::State& state) {
  const std::string& in = Data();
  std::string out(TqzBase64::EncodedLength(in.size(), false), '\0');
  for (auto _ : state) {
    TqzBase64::EncodeTo(in.data(), in.size(), false, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void Base64Encode_OpenSSL(benchmark::State& state) {
  const std::string& in = Data();
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  for (auto _ : state) {
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void Base64Decode_qz(benchmark::State& state) {
  const std::string& text = Encoded();
  std::string out(TqzBase64::DecodedMaxLength(text.size()), '\0');
  for (auto _ : state) {
    std::size_t n = TqzBase64::DecodeTo(text.data(), text.size(), out.data());
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Base64Decode_OpenSSL(benchmark::State& state) {
  const std::string& text = Encoded();
  std::string out(text.size() / 4 * 3, '\0');
  for (auto _ : state) {
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The string interface, which allocates its result on every call (page faults included).
void Base64Encode_qz_String(benchmark::State& state) {
  const std::string& in = Data();
  for (auto _ : state) {
    AnsiString out = TqzBase64::StrToBase64(in, false);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void Base64Decode_qz_String(benchmark::State& state) {
  const std::string& text = Encoded();
  for (auto _ : state) {
    AnsiString out = TqzBase64::Base64ToStr(text);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void MD5_qz(benchmark::State& state) {
  const std::string& in = Data();
  for (auto _ : state) {
    AnsiString digest = TqzMD5::GetMD5(in.data(), static_cast<std::int64_t>(in.size()));
    benchmark::DoNotOptimize(digest.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void MD5_OpenSSL(benchmark::State& state) {
  const std::string& in = Data();
  unsigned char md[MD5_DIGEST_LENGTH];
  for (auto _ : state) {
    MD5(reinterpret_cast<const unsigned char*>(in.data()), in.size(), md);
    benchmark::DoNotOptimize(md);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void CRC32_qz(benchmark::State& state) {
  const std::string& in = Data();
  for (auto _ : state) {
    std::uint32_t crc = Crc32(0, in.data(), static_cast<std::int64_t>(in.size()));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// The reference that is not our own function: Boost.CRC, whose result must agree with ours.
void CRC32_Boost(benchmark::State& state) {
  const std::string& in = Data();
  boost::crc_32_type reference;
  reference.process_bytes(in.data(), in.size());
  if (reference.checksum() != Crc32(0, in.data(), static_cast<std::int64_t>(in.size()))) {
    state.SkipWithError("Boost.CRC and Crc32 disagree");
    return;
  }
  for (auto _ : state) {
    boost::crc_32_type crc;
    crc.process_bytes(in.data(), in.size());
    benchmark::DoNotOptimize(crc.checksum());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void CRC32_zlib(benchmark::State& state) {
  const std::string& in = Data();
  for (auto _ : state) {
    uLong crc = crc32_z(0L, reinterpret_cast<const Bytef*>(in.data()), in.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

}  // namespace

BENCHMARK(Base64Encode_qz)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Base64Encode_OpenSSL)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Base64Decode_qz)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Base64Decode_OpenSSL)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Base64Encode_qz_String)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Base64Decode_qz_String)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(MD5_qz)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(MD5_OpenSSL)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(CRC32_qz)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(CRC32_Boost)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(CRC32_zlib)->Unit(benchmark::kMillisecond)->MinTime(2.0);
