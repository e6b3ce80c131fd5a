#include "qzStringsServices.h"

#include <zlib.h>

#include <cstdint>
#include <string>

#include "Exceptions.h"

namespace {

[[noreturn]] void RaiseZlib(const char* what, const z_stream* zs = nullptr) {
  std::string text = std::string("decompression error: ") + what;
  if (zs != nullptr && zs->msg != nullptr) text += std::string(" (") + zs->msg + ")";
  throw EZlibError(text.c_str());
}

}  // namespace

AnsiString TqzStringsServices::CompressString(std::string_view S) {
  if (S.size() > 0x7FFFFFFFu) throw EZlibError("compression error: text too long");
  const uint32_t n = static_cast<uint32_t>(S.size());
  const unsigned char header[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                   static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EZlibError("compression error: cannot initialise zlib");
  AnsiString out;
  out.resize(deflateBound(&zs, static_cast<uLong>(S.size() + 4)));
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  // The count first, then the text, as one stream.
  zs.next_in = const_cast<Bytef*>(header);
  zs.avail_in = 4;
  int rc = deflate(&zs, Z_NO_FLUSH);
  if (rc == Z_OK) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(S.data()));
    zs.avail_in = static_cast<uInt>(S.size());
    rc = deflate(&zs, Z_FINISH);
  }
  const size_t written = zs.total_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw EZlibError("compression error");
  out.resize(written);
  return out;
}

AnsiString TqzStringsServices::DecompressString(std::string_view S, size_t MaxSize) {
  z_stream zs{};
  if (inflateInit2(&zs, 15) != Z_OK) throw EZlibError("decompression error: cannot initialise zlib");
  struct Guard {
    z_stream* z;
    ~Guard() { inflateEnd(z); }
  } guard{&zs};

  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(S.data()));
  zs.avail_in = static_cast<uInt>(S.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : S.size());

  // Inflates into [dst, dst+len); returns how many bytes were produced before the stream ended.
  auto inflateInto = [&](unsigned char* dst, size_t len) -> size_t {
    size_t got = 0;
    while (got < len) {
      const size_t chunk = len - got > 0x40000000u ? 0x40000000u : len - got;
      zs.next_out = dst + got;
      zs.avail_out = static_cast<uInt>(chunk);
      int rc = inflate(&zs, Z_NO_FLUSH);
      got += chunk - zs.avail_out;
      if (rc == Z_STREAM_END) break;
      if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;  // input exhausted: truncated stream
      if (rc != Z_OK && rc != Z_BUF_ERROR) RaiseZlib("invalid zlib stream", &zs);
    }
    return got;
  };

  unsigned char header[4];
  if (inflateInto(header, 4) != 4) RaiseZlib("content ends before its byte count");
  const int32_t n = static_cast<int32_t>(uint32_t(header[0]) | (uint32_t(header[1]) << 8) |
                                         (uint32_t(header[2]) << 16) | (uint32_t(header[3]) << 24));
  if (n < 0) RaiseZlib("negative byte count");
  if (static_cast<size_t>(n) > MaxSize) RaiseZlib("declared length exceeds the limit");
  // The output grows with what the stream really yields, so a small input that declares a large
  // count cannot make us allocate the whole count up front.
  AnsiString out;
  const size_t want = static_cast<size_t>(n);
  out.reserve(want < (size_t(1) << 20) ? want : (size_t(1) << 20));
  unsigned char buffer[65536];
  while (out.size() < want) {
    const size_t len = want - out.size() < sizeof(buffer) ? want - out.size() : sizeof(buffer);
    const size_t got = inflateInto(buffer, len);
    out.append(reinterpret_cast<const char*>(buffer), got);
    if (got < len) RaiseZlib("content ends before the declared number of bytes");
  }
  return out;
}
