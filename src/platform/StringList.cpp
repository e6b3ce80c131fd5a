#include "StringList.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "TextFile.h"

// Every member of the lists is compiled here once for both text types.
template class TStringsT<UnicodeString>;
template class TStringsT<AnsiString>;
template class TStringListT<UnicodeString>;
template class TStringListT<AnsiString>;
template class THashedStringListT<UnicodeString>;
template class THashedStringListT<AnsiString>;

namespace platform {

UnicodeString FormatListError(const char16_t* text, int64_t value) {
  UnicodeString out(text);
  const auto p = out.find(u"%d");
  if (p != UnicodeString::npos) out.replace(p, 2, ToU16(std::to_string(value)));
  return out;
}

void RaiseListError(const char16_t* text, int64_t value) { throw EStringListError(FormatListError(text, value)); }

namespace strlist_detail {

namespace {

[[noreturn]] void RaiseFileError(const char* what, const UnicodeString& fileName, int err) {
  UnicodeString msg = ToU16(what);
  msg += u" \"";
  msg += fileName;
  msg += u"\". ";
  msg += Utf8ToWide(std::strerror(err));
  throw EInOutError(msg);
}

}  // namespace

std::string ReadStreamRest(std::istream& stream) {
  std::string out;
  char buf[65536];
  while (stream) {
    stream.read(buf, sizeof buf);
    out.append(buf, static_cast<size_t>(stream.gcount()));
  }
  if (stream.bad()) throw EInOutError("Stream read error");
  stream.clear(stream.rdstate() & ~(std::ios::failbit | std::ios::eofbit));
  return out;
}

void WriteStream(std::ostream& stream, const void* data, size_t size) {
  stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!stream) throw EInOutError("Stream write error");
}

std::string ReadFileBytes(const UnicodeString& fileName) {
  std::ifstream in(WideToUtf8(fileName), std::ios::binary);
  if (!in) RaiseFileError("Cannot open file", fileName, errno);
  return ReadStreamRest(in);
}

void WriteFileBytes(const UnicodeString& fileName, std::string_view bytes) {
  std::ofstream out(WideToUtf8(fileName), std::ios::binary | std::ios::trunc);
  if (!out) RaiseFileError("Cannot create file", fileName, errno);
  WriteStream(out, bytes.data(), bytes.size());
  out.close();
  if (!out) throw EInOutError("Stream write error");
}

UnicodeString DecodeText(std::string_view bytes, TTextEncoding& detected) {
  auto u8 = [](char c) { return static_cast<unsigned char>(c); };
  if (bytes.size() >= 3 && u8(bytes[0]) == 0xEF && u8(bytes[1]) == 0xBB && u8(bytes[2]) == 0xBF) {
    detected = TTextEncoding::Utf8;
    return Utf8ToWide(bytes.substr(3));
  }
  if (bytes.size() >= 2 && ((u8(bytes[0]) == 0xFF && u8(bytes[1]) == 0xFE) ||
                            (u8(bytes[0]) == 0xFE && u8(bytes[1]) == 0xFF))) {
    const bool little = u8(bytes[0]) == 0xFF;
    detected = little ? TTextEncoding::Utf16LE : TTextEncoding::Utf16BE;
    return Utf16BytesToWide(bytes.substr(2), !little);
  }
  detected = TTextEncoding::Ansi;
  return AnsiToWide(bytes);
}

std::string EncodeText(std::u16string_view text, TTextEncoding encoding, bool withPreamble) {
  switch (encoding) {
    case TTextEncoding::Utf8:
      return (withPreamble ? std::string("\xEF\xBB\xBF") : std::string()) + WideToUtf8(text);
    case TTextEncoding::Utf16LE:
    case TTextEncoding::Utf16BE: {
      const bool little = encoding == TTextEncoding::Utf16LE;
      const std::string preamble = withPreamble ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
      return preamble + WideToUtf16Bytes(text, !little);
    }
    case TTextEncoding::Ansi:
      break;
  }
  return WideToAnsi(text);
}

std::vector<int> SortPermutation(int n, const std::function<bool(int, int)>& less) {
  std::vector<int> a(static_cast<size_t>(n > 0 ? n : 0));
  for (int i = 0; i < n; ++i) a[static_cast<size_t>(i)] = i;
  if (n < 2) return a;
  std::vector<int> b(a.size());
  // Bottom-up merge sort: each pass merges neighbouring runs of `width`; on equal elements the
  // left run wins, which keeps the order stable. Whatever `less` answers, every element is copied
  // exactly once per pass, so the result stays a permutation.
  for (size_t width = 1; width < a.size(); width *= 2) {
    for (size_t lo = 0; lo < a.size(); lo += 2 * width) {
      const size_t mid = std::min(lo + width, a.size());
      const size_t hi = std::min(lo + 2 * width, a.size());
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) b[k++] = less(a[j], a[i]) ? a[j++] : a[i++];
      while (i < mid) b[k++] = a[i++];
      while (j < hi) b[k++] = a[j++];
    }
    a.swap(b);
  }
  return a;
}

}  // namespace strlist_detail
}  // namespace platform
