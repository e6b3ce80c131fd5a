#include "qzComProtocol.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Socket.h"
#include "SysUtils.h"
#include "qzBase64.h"
#include "qzConversion.h"
#include "qzStrings.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }


// Faults in the whole pages of [begin, begin + size) for writing with one call. Large buffers are
// filled right after they are reserved; taking their fresh pages one trap at a time costs more
// than copying into them. Only memory about to be written is touched; failure (an older kernel)
// changes nothing.
void PrefaultForWrite(char* begin, size_t size) {
  constexpr uintptr_t kPage = 4096;
  if (size < 16 * kPage) return;
  uintptr_t from = (reinterpret_cast<uintptr_t>(begin) + kPage - 1) & ~(kPage - 1);
  uintptr_t to = (reinterpret_cast<uintptr_t>(begin) + size) & ~(kPage - 1);
#ifdef MADV_POPULATE_WRITE
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)from;
  (void)to;
#endif
}

// Reads a whole file into `data` after `prefix`; false when it cannot be opened, is no regular
// file or yields a different number of bytes than its size (data is then unchanged). The buffer
// is reserved once and filled from a small cache-resident piece buffer, so a large file is
// neither reallocated nor written twice (a resize would zero-fill it first).
bool ReadWholeFile(const std::string& path, std::string_view prefix, AnsiString& data) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  AnsiString buffer;
  // Room for the item's Base64 form as well: BuildRequest encodes it in place. Pages that are
  // never written cost no memory.
  buffer.reserve(TqzBase64::EncodedLength(prefix.size() + size, false));
  buffer.append(prefix);
  PrefaultForWrite(buffer.data() + buffer.size(), size);
  constexpr size_t kPiece = size_t(128) << 10;
  const std::unique_ptr<char[]> piece = std::make_unique_for_overwrite<char[]>(kPiece);
  size_t done = 0;
  bool failed = false;
  while (done < size) {
    const size_t want = size - done < kPiece ? size - done : kPiece;
    ssize_t n = ::read(fd, piece.get(), want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = n < 0;
      break;
    }
    buffer.append(piece.get(), static_cast<size_t>(n));
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (failed || done != size) return false;
  data = std::move(buffer);
  return true;
}

// Large buffers ask the kernel for transparent huge pages before they are first written: filling
// hundreds of megabytes page by page costs more than encoding them.
void AdviseHugePages(AnsiString& s) {
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  if (s.capacity() < 2 * kHuge) return;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(s.data()) + kHuge - 1) & ~(kHuge - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(s.data()) + s.capacity()) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Splits an item text at its first "=" into name and value.
void SplitItem(std::string_view text, std::string_view& name, std::string_view& value) {
  size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    name = {};
    value = text;
  } else {
    name = text.substr(0, eq);
    value = text.substr(eq + 1);
  }
}

}  // namespace

// ---- items ------------------------------------------------------------------------------

AnsiString TqzComProtocol::ObjectExtension(std::string_view fileName) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string_view ext = fileName.substr(dot + 1);
  if (ext.find_first_of("\\/:") != std::string_view::npos) return {};
  return platform::LowerAnsi(ext);
}

AnsiString TqzComProtocol::ObjectItem(std::string_view fileName, std::string_view content) {
  AnsiString ext = ObjectExtension(fileName);
  AnsiString item;
  item.reserve(TqzBase64::EncodedLength(6 + ext.size() + content.size(), false));
  item.append("obj(").append(ext).append(")=").append(content);
  return item;
}

bool TqzComProtocol::AddObjectFile(std::string_view fileName, std::vector<AnsiString>& items) {
  return AddObjectFilePath(platform::AnsiToUtf8(fileName), fileName, items);
}

bool TqzComProtocol::AddObjectFilePath(const std::string& path, std::string_view extensionName,
                                       std::vector<AnsiString>& items) {
  AnsiString item;
  if (!ReadWholeFile(path, "obj(" + ObjectExtension(extensionName) + ")=", item)) return false;
  items.push_back(std::move(item));
  return true;
}

// ---- framing ----------------------------------------------------------------------------

AnsiString TqzComProtocol::BuildRequest(std::string_view comtyp, bool encode, bool compress,
                                        std::vector<AnsiString>& items) {
  if (compress) encode = true;
  if (compress)
    for (AnsiString& item : items) item = TqzStrings::CompressString(item);
  // The request is sized exactly and reserved once. Each item is encoded in place: its buffer
  // grows to the encoded length (object items are read with room for that, so nothing moves) and
  // is encoded piece by piece from its end through a small cache-resident buffer; a piece's text
  // lands at or after the piece's own bytes, so nothing that is still to be read is overwritten.
  // The caller's list then holds the encoded items and the request copies each of them once.
  size_t total = 2 * comtyp.size() + 5 + 10 + (compress ? 11 : 12);
  for (const AnsiString& item : items)
    total += (encode ? TqzBase64::EncodedLength(item.size(), false) : item.size()) + 2;
  AnsiString request;
  request.reserve(total);
  AdviseHugePages(request);
  PrefaultForWrite(request.data(), total);
  request.append("<").append(comtyp).append(">");
  request.append(encode ? "<enc=mime>" : "<enc=none>");
  request.append(compress ? "<comp=true>" : "<comp=false>");
  constexpr size_t kInPiece = size_t(3) << 14;  // a multiple of 3: no padding between pieces
  std::unique_ptr<char[]> piece;
  for (AnsiString& item : items) {
    const size_t n = item.size();
    if (encode && n > 0) {
      if (!piece) piece = std::make_unique_for_overwrite<char[]>(kInPiece / 3 * 4);
      const size_t len = TqzBase64::EncodedLength(n, false);
      if (item.capacity() >= len) PrefaultForWrite(item.data() + n, len - n);
      item.resize(len);
      char* data = item.data();
      for (size_t start = (n - 1) / kInPiece * kInPiece + kInPiece; start > 0;) {
        start -= kInPiece;
        const size_t m = n - start < kInPiece ? n - start : kInPiece;
        TqzBase64::EncodeTo(data + start, m, false, piece.get());
        std::memcpy(data + start / 3 * 4, piece.get(), TqzBase64::EncodedLength(m, false));
      }
    }
    request.push_back('<');
    request.append(item);
    request.push_back('>');
  }
  request.append("</").append(comtyp).append(">");
  return request;
}

// ---- streamed requests --------------------------------------------------------------------

namespace {

// Collects bytes into pieces of a fixed size and hands each full piece to the sink.
class PieceWriter {
 public:
  PieceWriter(const TqzComRequest::Sink& sink, size_t size)
      : sink_(sink), size_(size), buffer_(std::make_unique_for_overwrite<char[]>(size)) {}
  size_t Room() const { return size_ - used_; }
  char* Tail() { return buffer_.get() + used_; }
  void Advance(size_t n) { used_ += n; }
  void Put(std::string_view data) {
    while (!data.empty()) {
      if (Room() == 0) Flush(false);
      const size_t n = data.size() < Room() ? data.size() : Room();
      std::memcpy(Tail(), data.data(), n);
      used_ += n;
      data.remove_prefix(n);
    }
  }
  void Flush(bool last) {
    if (used_ > 0 || last) sink_(buffer_.get(), used_, last);
    used_ = 0;
  }

 private:
  const TqzComRequest::Sink& sink_;
  size_t size_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
};

// One-line Base64 of a byte stream fed in pieces: whole 3-byte groups are encoded straight into
// the writer's piece, the 0-2 bytes left over wait for the next piece (or the end).
class Base64Stream {
 public:
  explicit Base64Stream(PieceWriter& out) : out_(out) {}
  void Feed(const char* data, size_t size) {
    while (carried_ > 0 && carried_ < 3 && size > 0) {
      carry_[carried_++] = *data++;
      --size;
    }
    if (carried_ == 3) {
      Emit(carry_, 3);
      carried_ = 0;
    }
    size_t whole = size / 3 * 3;
    while (whole > 0) {
      if (out_.Room() < 4) out_.Flush(false);
      size_t n = out_.Room() / 4 * 3;
      if (n > whole) n = whole;
      TqzBase64::EncodeTo(data, n, false, out_.Tail());
      out_.Advance(n / 3 * 4);
      data += n;
      size -= n;
      whole -= n;
    }
    for (size_t i = 0; i < size; ++i) carry_[carried_++] = data[i];
  }
  void Finish() {
    if (carried_ > 0) Emit(carry_, carried_);
    carried_ = 0;
  }

 private:
  void Emit(const char* data, size_t n) {
    char text[4];
    TqzBase64::EncodeTo(data, n, false, text);
    out_.Put(std::string_view(text, 4));
  }
  PieceWriter& out_;
  char carry_[3] = {};
  size_t carried_ = 0;
};

[[noreturn]] void RaiseSourceError(std::string& failed, const std::string& path, const std::string& what) {
  failed = path;
  const std::string text = "the file " + path + " " + what;
  throw EInOutError(text.c_str());
}

// Reads a file whose size was taken earlier in pieces and hands each piece on; raises when the
// file cannot be opened or read, or yields fewer or more bytes than that size.
template <class OnPiece>
void ReadFilePieces(const std::string& path, uint64_t size, std::string& failed, OnPiece&& onPiece) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseSourceError(failed, path, std::string("cannot be opened: ") + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  constexpr size_t kPiece = TqzComRequest::ReadPieceSize;
  const std::unique_ptr<char[]> piece = std::make_unique_for_overwrite<char[]>(kPiece);
  uint64_t done = 0;
  for (;;) {
    ssize_t n = ::read(fd, piece.get(), kPiece);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseSourceError(failed, path, std::string("cannot be read: ") + std::strerror(errno));
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    if (done > size) RaiseSourceError(failed, path, "grew while it was being sent");
    onPiece(piece.get(), static_cast<size_t>(n));
  }
  if (done < size) RaiseSourceError(failed, path, "shrank while it was being sent");
}

}  // namespace

TqzComRequest::TqzComRequest(std::string_view comtyp, bool encode, bool compress)
    : type_(comtyp), encode_(encode || compress), compress_(compress) {}

void TqzComRequest::AddItem(AnsiString item) {
  Part part;
  part.text = std::move(item);
  parts_.push_back(std::move(part));
}

void TqzComRequest::AddContentRef(std::string_view fileName, std::string_view content) {
  Part part;
  part.kind = Part::Content;
  part.text = "obj(" + TqzComProtocol::ObjectExtension(fileName) + ")=";
  part.content = content;
  parts_.push_back(std::move(part));
}

bool TqzComRequest::AddFile(const std::string& path, std::string_view extensionName) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) return false;
  Part part;
  part.kind = Part::File;
  part.text = "obj(" + TqzComProtocol::ObjectExtension(extensionName) + ")=";
  part.path = path;
  part.size = static_cast<uint64_t>(st.st_size);
  parts_.push_back(std::move(part));
  return true;
}

void TqzComRequest::Write(const Sink& sink, size_t pieceSize) const {
  failedFile_.clear();
  PieceWriter out(sink, pieceSize < 1024 ? 1024 : pieceSize);
  out.Put("<");
  out.Put(type_);
  out.Put(">");
  out.Put(encode_ ? "<enc=mime>" : "<enc=none>");
  out.Put(compress_ ? "<comp=true>" : "<comp=false>");
  for (const Part& part : parts_) {
    out.Put("<");
    if (compress_) {
      // The compressed text form needs the whole item.
      AnsiString item = part.text;
      if (part.kind == Part::Content) item.append(part.content);
      if (part.kind == Part::File)
        ReadFilePieces(part.path, part.size, failedFile_, [&](const char* p, size_t n) { item.append(p, n); });
      const AnsiString packed = TqzStrings::CompressString(item);
      Base64Stream b64(out);
      b64.Feed(packed.data(), packed.size());
      b64.Finish();
    } else if (encode_) {
      Base64Stream b64(out);
      b64.Feed(part.text.data(), part.text.size());
      if (part.kind == Part::Content) b64.Feed(part.content.data(), part.content.size());
      if (part.kind == Part::File)
        ReadFilePieces(part.path, part.size, failedFile_, [&](const char* p, size_t n) { b64.Feed(p, n); });
      b64.Finish();
    } else {
      out.Put(part.text);
      if (part.kind == Part::Content) out.Put(part.content);
      if (part.kind == Part::File)
        ReadFilePieces(part.path, part.size, failedFile_, [&](const char* p, size_t n) { out.Put({p, n}); });
    }
    out.Put(">");
  }
  out.Put("</");
  out.Put(type_);
  out.Put(">");
  out.Flush(true);
}

AnsiString TqzComRequest::Text() const {
  AnsiString text;
  Write([&text](const char* data, size_t size, bool) { text.append(data, size); });
  return text;
}

// ---- parsing ----------------------------------------------------------------------------

std::vector<TqzComToken> TqzComProtocol::Tokenize(std::string_view text) {
  std::vector<TqzComToken> tokens;
  size_t pos = 0;
  // The next "<" at or after pos, looked up again only once pos has passed it: every byte is
  // scanned a bounded number of times, also for texts made of many ">" and few "<".
  size_t nextLt = text.find('<');
  for (;;) {
    size_t gt = text.find('>', pos);
    if (gt == std::string_view::npos) break;
    if (nextLt != std::string_view::npos && nextLt < pos) nextLt = text.find('<', pos);
    if (nextLt != std::string_view::npos) {
      pos = nextLt + 1;
      if (gt < pos) gt = text.find('>', pos);
      if (gt == std::string_view::npos) break;
    }
    if (gt > pos) tokens.push_back({pos, gt - pos});
    pos = gt + 1;
  }
  return tokens;
}

bool TqzComProtocol::ParseAnswer(std::string_view answer, bool parseParVal, AnsiString& typ,
                                 std::vector<TqzComItem>& items, const TqzComLimits& limits) {
  std::vector<TqzComToken> tokens = Tokenize(answer);
  if (tokens.size() < 2) return false;
  auto text = [&](const TqzComToken& t) { return answer.substr(t.Offset, t.Length); };
  const std::string_view first = text(tokens.front());
  const std::string_view last = text(tokens.back());
  AnsiString closing(1, '/');
  closing.append(first);
  if (platform::UpperAnsi(closing) != platform::UpperAnsi(last)) return false;

  AnsiString newTyp = platform::UpperAnsi(first);
  std::vector<TqzComItem> result;

  if (!parseParVal) {
    result.reserve(tokens.size() - 2);
    for (size_t i = 1; i + 1 < tokens.size(); ++i) {
      TqzComItem item;
      item.Param = std::to_string(i - 1);
      item.Value = AnsiString(text(tokens[i]));
      result.push_back(std::move(item));
    }
    typ = std::move(newTyp);
    items = std::move(result);
    return true;
  }

  // Option scan: the first two tokens named "enc" or "comp" (case-insensitively) are options.
  std::vector<bool> isOption(tokens.size(), false);
  bool decode = false, decompress = false;
  int removed = 0;
  for (size_t i = 1; i + 1 < tokens.size() && removed < 2; ++i) {
    std::string_view name, value;
    SplitItem(text(tokens[i]), name, value);
    if (name.size() != 3 && name.size() != 4) continue;  // cheap test before case folding
    const AnsiString lname = platform::LowerAnsi(name);
    if (lname == "comp") {
      decompress = TqzConversion::StrToBool(platform::AnsiToWide(platform::LowerAnsi(value)));
    } else if (lname == "enc") {
      decode = platform::LowerAnsi(value) == "mime";
    } else {
      continue;
    }
    isOption[i] = true;
    ++removed;
  }

  result.reserve(tokens.size() - 2 - static_cast<size_t>(removed));
  // Inflated items share one budget, the answer cap: many items that each stay under the item cap
  // cannot add up to more. Each item may also declare no more than its compressed size can
  // plausibly hold (deflate reaches at most about 1032:1), checked before anything is inflated.
  size_t inflateBudget = limits.MaxAnswerSize;
  for (size_t i = 1; i + 1 < tokens.size(); ++i) {
    if (isOption[i]) continue;
    const std::string_view raw = text(tokens[i]);
    AnsiString decoded;
    std::string_view itemText = raw;
    if (decode) {
      decoded.resize(TqzBase64::DecodedMaxLength(raw.size()));
      decoded.resize(TqzBase64::DecodeTo(raw.data(), raw.size(), decoded.data()));
    } else if (decompress) {
      decoded = AnsiString(raw);
    }
    if (decompress) {
      constexpr size_t kMaxDeflateRatio = 1032;
      size_t cap = limits.MaxDecompressedSize < inflateBudget ? limits.MaxDecompressedSize : inflateBudget;
      const size_t plausible = decoded.size() > (SIZE_MAX - 64) / kMaxDeflateRatio ? SIZE_MAX
                                                                                   : decoded.size() * kMaxDeflateRatio + 64;
      if (plausible < cap) cap = plausible;
      decoded = TqzStrings::DecompressString(decoded, cap);
      inflateBudget -= decoded.size() < inflateBudget ? decoded.size() : inflateBudget;
    }
    if (decode || decompress) itemText = decoded;

    TqzComItem item;
    size_t eq = itemText.find('=');
    if (eq == std::string_view::npos) {
      // No name: the value is the token as received, not decoded.
      item.Value = AnsiString(raw);
    } else {
      item.OrgParam = AnsiString(itemText.substr(0, eq));
      item.Param = platform::UpperAnsi(item.OrgParam);
      if (decode || decompress) {
        decoded.erase(0, eq + 1);  // reuse the decoded buffer: no second copy of a large value
        item.Value = std::move(decoded);
      } else {
        item.Value = AnsiString(itemText.substr(eq + 1));
      }
    }
    result.push_back(std::move(item));
  }
  typ = std::move(newTyp);
  items = std::move(result);
  return true;
}

bool TqzComProtocol::IsAnswerComplete(std::string_view text) {
  if (text.find('<') == std::string_view::npos) return false;
  const size_t gt = text.find('>');
  if (gt == std::string_view::npos) return false;
  const std::string_view name = gt >= 1 ? text.substr(1, gt - 1) : std::string_view();
  const size_t need = name.size() + 1;
  if (text.size() < need + 1) return false;
  const std::string_view tail = text.substr(text.size() - 1 - need, need);
  return tail[0] == '/' && tail.substr(1) == name;
}

AnsiString TqzComProtocol::GetComType(std::string_view text) {
  size_t lt = text.find('<');
  std::string_view rest = lt == std::string_view::npos ? text : text.substr(lt + 1);
  size_t gt = rest.find('>');
  std::string_view head = gt == std::string_view::npos ? std::string_view() : rest.substr(0, gt);
  while (!head.empty() && IsBlank(head.front())) head.remove_prefix(1);
  while (!head.empty() && IsBlank(head.back())) head.remove_suffix(1);
  return platform::UpperAnsi(head);
}

bool TqzComProtocol::UseNumericAddress(std::string_view host) {
  std::string_view label = host.substr(0, host.find('.'));
  return TqzConversion::StrToInt(platform::AnsiToWide(label), -1) >= 1;
}

// ---- exchanges --------------------------------------------------------------------------

namespace {

int WaitArg(uint32_t ms) { return ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(ms); }

// Sends every byte in pieces; a piece that is not taken whole within waitMs fails the exchange.
void SendAll(platform::TcpSocket& socket, std::string_view data, int waitMs) {
  size_t done = 0;
  while (done < data.size()) {
    size_t piece = data.size() - done < TqzComProtocol::PieceSize ? data.size() - done : TqzComProtocol::PieceSize;
    // Pieces of one request are handed over as parts of one message; the last one sends it.
    size_t n = socket.Write(data.data() + done, piece, waitMs, done + piece < data.size());
    done += n;
    if (n < piece) {
      std::string text = "request not sent completely (" + std::to_string(done) + " of " +
                         std::to_string(data.size()) + " bytes)";
      throw ESocketError(text.c_str());
    }
  }
}

}  // namespace

namespace {

// Connects, lets `send` write the request, and reads the answer (see Exchange).
template <class SendFn>
TqzComReceive RunExchange(const std::string& host, int port, uint32_t resWaitMs, AnsiString& answer,
                          const TqzComLimits& limits, SendFn&& send) {
  answer.clear();
  platform::TcpSocket socket;
  socket.Connect(host, port, -1, TqzComProtocol::UseNumericAddress(host));
  send(socket);

  // The completion test only needs the opening tag's name and the end of the text; the name is
  // fixed once the first ">" has arrived, so it is taken once.
  size_t firstGt = std::string::npos;
  bool hasLt = false;
  char buffer[TqzComProtocol::PieceSize];
  for (;;) {
    if (!socket.WaitReadable(WaitArg(resWaitMs))) break;
    size_t n = socket.Read(buffer, sizeof(buffer));
    if (n == 0) break;
    if (answer.size() + n > limits.MaxAnswerSize) {
      std::string text = "answer exceeds the limit of " + std::to_string(limits.MaxAnswerSize) + " bytes";
      throw ESocketError(text.c_str());
    }
    const size_t before = answer.size();
    answer.append(buffer, n);
    if (!hasLt) hasLt = answer.find('<', before) != std::string::npos;
    if (firstGt == std::string::npos) firstGt = answer.find('>', before);
    if (hasLt && firstGt != std::string::npos) {
      const std::string_view name = firstGt >= 1 ? std::string_view(answer).substr(1, firstGt - 1) : std::string_view();
      const size_t need = name.size() + 1;
      if (answer.size() >= need + 1) {
        std::string_view tail = std::string_view(answer).substr(answer.size() - 1 - need, need);
        if (tail[0] == '/' && tail.substr(1) == name) break;
      }
    }
  }
  socket.Close();
  if (answer.empty()) return TqzComReceive::Empty;
  return answer.back() == '>' ? TqzComReceive::Received : TqzComReceive::NoEnd;
}

}  // namespace

TqzComReceive TqzComProtocol::Exchange(const std::string& host, int port, uint32_t conWaitMs, uint32_t resWaitMs,
                                       std::string_view quest, AnsiString& answer, const TqzComLimits& limits) {
  return RunExchange(host, port, resWaitMs, answer, limits,
                     [&](platform::TcpSocket& socket) { SendAll(socket, quest, WaitArg(conWaitMs)); });
}

TqzComReceive TqzComProtocol::Exchange(const std::string& host, int port, uint32_t conWaitMs, uint32_t resWaitMs,
                                       const TqzComRequest& quest, AnsiString& answer, const TqzComLimits& limits) {
  return RunExchange(host, port, resWaitMs, answer, limits, [&](platform::TcpSocket& socket) {
    uint64_t sent = 0;
    quest.Write([&](const char* data, size_t size, bool last) {
      // Pieces of one request are handed over as parts of one message; the last one sends it.
      const size_t n = socket.Write(data, size, WaitArg(conWaitMs), !last);
      sent += n;
      if (n < size) {
        std::string text = "request not sent completely (" + std::to_string(sent) + " bytes sent)";
        throw ESocketError(text.c_str());
      }
    });
  });
}

bool TqzComProtocol::RequestFile(const std::string& host, int port, std::string_view quest, const std::string& path,
                                 uint64_t maxFileSize, int waitMs) {
  const std::string temp = path + ".part";
  int fd = -1;
  bool ok = false;
  try {
    platform::TcpSocket socket;
    socket.Connect(host, port, -1, UseNumericAddress(host));
    SendAll(socket, quest, waitMs);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    uint64_t total = 0;
    bool closedInOrder = false;
    AnsiString buffer;
    buffer.resize(FilePieceSize);
    for (;;) {
      if (!socket.WaitReadable(waitMs)) break;  // the wait ran out: not a complete file
      size_t n = socket.Read(buffer.data(), buffer.size());
      if (n == 0) {
        closedInOrder = true;
        break;
      }
      total += n;
      if (total > maxFileSize) break;
      size_t done = 0;
      while (done < n) {
        ssize_t w = ::write(fd, buffer.data() + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw EInOutError("cannot write the file");
        done += static_cast<size_t>(w);
      }
    }
    // An orderly close after 0 bytes is an empty file, not a failure.
    ok = closedInOrder && total <= maxFileSize;
    if (::close(fd) != 0) ok = false;
    fd = -1;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  } catch (const std::exception&) {
    ok = false;
  }
  if (fd >= 0) ::close(fd);
  if (!ok) ::unlink(temp.c_str());
  return ok;
}
