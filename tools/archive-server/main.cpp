// archive-server: a stand-in for the archive server, for demos and manual use.
//
//   archive-server --store DIR [--port N] [--bind ADDR] [--max-request SIZE]   (--help: usage)
//
// Listens on a loopback port (port 0: a free one, printed as "PORT <n>" on the first stdout
// line) and speaks the archive server's tag-framed protocol: one request and one answer per
// connection, then close. Served requests:
//   CREATEDOCEXT  stores the index values and files under a new 32-hex DocId, in DIR/<DocId>/
//                 (index.json and one file per object, named <DocId>_<nnnn>.<ext>);
//                 answers Result=OK, DocId, Message. The request is taken apart while it
//                 arrives: each large object item is decoded and written to its file piece by
//                 piece (bounded buffers), in a hidden folder that takes the document's name only
//                 when the closing tag has arrived. A request that ends before its closing tag
//                 stores nothing.
//   GETDOCEXT     answers Result=OK with IDX<name>=<value> per stored index value and
//                 OBJ<n>=<file name> per stored file; Result=ERROR for an unknown DocId
//   GETBLOB       "<GETBLOB><file name></GETBLOB>": the file's bytes, then close
//   QUERYEXT      documents whose title or index values contain FULLTEXT (case-insensitive; all
//                 for an empty FULLTEXT), at most MAXHITS: HEADER and ROW<n> items, each a
//                 ";"-separated list of Base64 texts (DocId, Title, Archive)
//   ALIVE         Result=OK
// Requests above --max-request bytes (default 512 MiB; plain bytes or K/M/G) are refused with
// Result=ERROR. Numbers on the command line are read strictly (digits only; a port up to 65535).
// One log line per request goes to stderr.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "CaseMap.h"
#include "CodePage.h"
#include "Socket.h"
#include "qzBase64.h"
#include "qzComProtocol.h"
#include "qzConversion.h"
#include "qzDocHandler.h"
#include "qzStrings.h"
#include "qzTools.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_active{0};
std::mutex g_logLock;
constexpr int kMaxConnections = 64;
constexpr int kRequestWaitMs = 60000;
constexpr size_t kReadPiece = size_t(512) << 10;

struct Options {
  int port = 4470;
  std::string bind = "127.0.0.1";
  fs::path store;
  size_t maxRequest = size_t(512) << 20;
};

void Log(const std::string& line) {
  std::time_t t = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", std::localtime(&t));
  std::lock_guard<std::mutex> lock(g_logLock);
  std::cerr << stamp << " " << line << std::endl;
}

AnsiString NewDocId() { return TqzTools::CreateId().str(); }

AnsiString Answer(std::vector<std::pair<std::string, std::string>> items) {
  std::vector<AnsiString> list;
  for (auto& [name, value] : items) list.push_back(name + "=" + value);
  return TqzComProtocol::BuildRequest("RESULT", true, false, list);
}

AnsiString Error(const std::string& message) { return Answer({{"Result", "ERROR"}, {"Message", message}}); }

AnsiString Find(const std::vector<TqzComItem>& items, const char* param) {
  for (const auto& item : items)
    if (item.Param == param) return item.Value;
  return {};
}

// The index file keeps 8-bit texts as UTF-8 (through the ANSI code page).
nlohmann::json ReadIndex(const fs::path& dir) {
  std::ifstream in(dir / "index.json");
  if (!in) return nullptr;
  auto j = nlohmann::json::parse(in, nullptr, false);
  return j.is_discarded() ? nlohmann::json(nullptr) : j;
}

AnsiString GetDocument(const Options& opt, const std::vector<TqzComItem>& items, std::string& logNote) {
  const AnsiString docId = Find(items, "DOCID");
  logNote = docId;
  if (!TqzDocument::IsPlainFileName(docId)) return Error("document not found");
  nlohmann::json index = ReadIndex(opt.store / docId);
  if (index.is_null()) return Error("document not found");
  std::vector<std::pair<std::string, std::string>> out = {{"Result", "OK"}};
  for (const auto& pair : index["Index"])
    out.emplace_back("IDX" + platform::Utf8ToAnsi(pair[0].get<std::string>()), platform::Utf8ToAnsi(pair[1].get<std::string>()));
  int n = 0;
  for (const auto& file : index["Files"]) out.emplace_back("OBJ" + std::to_string(++n), file.get<std::string>());
  return Answer(out);
}

AnsiString Query(const Options& opt, const std::vector<TqzComItem>& items, std::string& logNote) {
  const AnsiString fulltext = platform::UpperAnsi(Find(items, "FULLTEXT"));
  long maxHits = std::strtol(Find(items, "MAXHITS").c_str(), nullptr, 10);
  if (maxHits <= 0) maxHits = 100;
  auto b64 = [](const std::string& s) { return TqzBase64::StrToBase64(s); };
  std::vector<std::pair<std::string, std::string>> rows;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(opt.store, ec)) {
    if (static_cast<long>(rows.size()) >= maxHits) break;
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() || name.rfind(".new-", 0) == 0) continue;
    nlohmann::json index = ReadIndex(entry.path());
    if (index.is_null()) continue;
    const AnsiString title = platform::Utf8ToAnsi(index["Params"].value("TITLE", ""));
    const AnsiString archive = platform::Utf8ToAnsi(index["Params"].value("ARCHIVE", ""));
    bool match = fulltext.empty() || platform::UpperAnsi(title).find(fulltext) != std::string::npos;
    for (const auto& pair : index["Index"])
      if (!match && platform::UpperAnsi(platform::Utf8ToAnsi(pair[1].get<std::string>())).find(fulltext) != std::string::npos)
        match = true;
    if (!match) continue;
    rows.emplace_back("ROW" + std::to_string(rows.size() + 1), b64(name) + ";" + b64(title) + ";" + b64(archive));
  }
  std::vector<std::pair<std::string, std::string>> out = {
      {"Result", "OK"}, {"Header", b64("DocId") + ";" + b64("Title") + ";" + b64("Archive")}};
  out.insert(out.end(), rows.begin(), rows.end());
  out.emplace_back("Message", std::to_string(rows.size()) + " hits");
  logNote = std::to_string(rows.size()) + " hits";
  return Answer(out);
}

void SendAll(platform::TcpSocket& socket, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    size_t n = socket.Write(data.data() + done, data.size() - done, 30000);
    if (n == 0) throw ESocketError("send timed out");
    done += n;
  }
}

// Reads what has arrived; waits (at most kRequestWaitMs) only when nothing has, so a busy
// connection is read without a poll before every piece. 0: the peer closed or the wait ran out.
size_t ReadSome(platform::TcpSocket& socket, char* buffer, size_t size) {
  const ssize_t n = ::recv(socket.Handle(), buffer, size, MSG_DONTWAIT);
  if (n >= 0) return static_cast<size_t>(n);
  if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) throw ESocketError(std::strerror(errno));
  if (!socket.WaitReadable(kRequestWaitMs)) return 0;
  return socket.Read(buffer, size);
}

// ---- one document as it arrives -----------------------------------------------------------------

// True for "obj(ext)" names (case-insensitive), with the extension.
bool ObjectName(std::string_view name, AnsiString& ext) {
  if (name.size() < 5 || platform::LowerAnsi(name.substr(0, 4)) != "obj(" || name.back() != ')') return false;
  ext = AnsiString(name.substr(4, name.size() - 5));
  return true;
}

// A CREATEDOCEXT request taken apart while it arrives. Items are kept in memory while they are
// small; an object item that grows beyond kStreamAfter bytes, once the option tokens have been
// seen, is decoded piece by piece and written straight into its file in the document's hidden
// folder. Option tokens may stand anywhere: items that arrive before both options are known wait
// in memory and are handled once they are (or at the end).
class IncomingDocument {
 public:
  static constexpr size_t kStreamAfter = size_t(64) << 10;

  IncomingDocument(const Options& opt, AnsiString docId)
      : opt_(opt), docId_(std::move(docId)), temp_(opt.store / (".new-" + docId_)) {
    fs::create_directories(temp_);
    index_ = {{"DocId", docId_}, {"Params", nlohmann::json::object()}, {"Index", nlohmann::json::array()},
              {"Files", nlohmann::json::array()}};
  }
  ~IncomingDocument() {
    CloseFile();
    if (!stored_) {
      std::error_code ec;
      fs::remove_all(temp_, ec);
    }
  }

  const AnsiString& DocId() const { return docId_; }

  void TokenBegin() {
    token_.clear();
    streaming_ = false;
    noStream_ = false;
  }

  void TokenData(const char* data, size_t size) {
    if (streaming_) {
      Decode(data, size, false);
      return;
    }
    token_.append(data, size);
    if (!noStream_ && optionsFinal_ && !decompress_ && token_.size() >= kStreamAfter) StartStreaming();
  }

  void TokenEnd() {
    if (streaming_) {
      Decode(nullptr, 0, true);
      CloseFile();
      streaming_ = false;
      return;
    }
    AnsiString raw = std::move(token_);
    token_.clear();
    if (!optionsFinal_ && TakeOption(raw)) return;
    if (!optionsFinal_) {
      waiting_.push_back(std::move(raw));
      return;
    }
    HandleItem(raw);
  }

  // The closing tag has arrived: items still waiting are handled with the options as they stand,
  // the index is written and the folder takes the document's name.
  std::string Store() {
    for (AnsiString& raw : waiting_) HandleItem(raw);
    waiting_.clear();
    std::ofstream out(temp_ / "index.json", std::ios::binary);
    out << index_.dump(1);
    out.close();
    if (!out) throw std::runtime_error("cannot write the index");
    fs::rename(temp_, opt_.store / docId_);
    stored_ = true;
    return docId_ + " (" + std::to_string(files_) + " files)";
  }

 private:
  // An "enc" or "comp" token while fewer than two options were taken.
  bool TakeOption(const AnsiString& raw) {
    const size_t eq = raw.find('=');
    const AnsiString name = platform::LowerAnsi(std::string_view(raw).substr(0, eq == AnsiString::npos ? 0 : eq));
    const AnsiString value = platform::LowerAnsi(eq == AnsiString::npos ? std::string_view(raw) : std::string_view(raw).substr(eq + 1));
    if (name == "enc") decode_ = value == "mime";
    else if (name == "comp") decompress_ = TqzConversion::StrToBool(platform::AnsiToWide(value));
    else return false;
    if (++options_ == 2) {
      optionsFinal_ = true;
      for (AnsiString& waiting : waiting_) HandleItem(waiting);
      waiting_.clear();
    }
    return true;
  }

  // A whole item: decoded and decompressed as the options say, then filed.
  void HandleItem(const AnsiString& raw) {
    AnsiString text = decode_ ? TqzBase64::Base64ToStr(raw) : raw;
    if (decompress_) text = TqzStrings::DecompressString(text, opt_.maxRequest);
    const size_t eq = text.find('=');
    if (eq == AnsiString::npos) return;  // no name
    const std::string_view name = std::string_view(text).substr(0, eq);
    const std::string_view value = std::string_view(text).substr(eq + 1);
    AnsiString ext;
    if (ObjectName(name, ext)) {
      OpenFile(ext);
      WriteFile(value);
      CloseFile();
    } else if (platform::UpperAnsi(name).rfind("IDX", 0) == 0) {
      index_["Index"].push_back({platform::AnsiToUtf8(name.substr(3)), platform::AnsiToUtf8(value)});
    } else if (!name.empty()) {
      index_["Params"][platform::AnsiToUtf8(platform::UpperAnsi(name))] = platform::AnsiToUtf8(value);
    }
  }

  // A large item: when its name is an object name, its value goes to the file from here on.
  void StartStreaming() {
    noStream_ = true;
    AnsiString head;
    size_t used = token_.size();
    if (decode_) {
      used = token_.size() / 4 * 4;
      head.resize(TqzBase64::DecodedMaxLength(used));
      head.resize(TqzBase64::DecodeTo(token_.data(), used, head.data()));
      if (head.size() != used / 4 * 3) return;  // not clean Base64: handled whole at the end
    } else {
      head = token_;
    }
    const size_t eq = head.find('=');
    AnsiString ext;
    if (eq == AnsiString::npos || !ObjectName(std::string_view(head).substr(0, eq), ext)) return;
    OpenFile(ext);
    WriteFile(std::string_view(head).substr(eq + 1));
    carry_.assign(token_, used, AnsiString::npos);
    token_.clear();
    token_.shrink_to_fit();
    streaming_ = true;
  }

  // Decodes the next piece of a streamed item and writes it; `end` finishes the item, padding
  // included. Whole groups of four symbols are decoded straight from the received piece; the 0-3
  // symbols after the last whole group (and a group with padding, which can only be the last)
  // wait for the next piece or the end. A piece with bytes outside the alphabet (line breaks,
  // say) takes the careful path, so the result is always the reader's over the whole item.
  void Decode(const char* data, size_t size, bool end) {
    if (!decode_) {
      WriteFile(std::string_view(data, size));
      return;
    }
    if (end) {
      carry_.append(data, size);
      WriteFile(std::string_view(decoded_.data(), DecodeSome(carry_.data(), carry_.size())));
      carry_.clear();
      return;
    }
    size_t head = 0;  // bytes of the finished group, written together with the piece's
    if (!carry_.empty()) {
      // The group that waits is finished with the first bytes of this piece.
      const size_t take = std::min(size, 4 - carry_.size() % 4);
      carry_.append(data, take);
      data += take;
      size -= take;
      if (carry_.size() % 4 != 0) return;  // the piece was shorter than the rest of the group
      head = DecodeSome(carry_.data(), carry_.size());
      if (head != carry_.size() / 4 * 3) {
        carry_.append(data, size);
        DecodeCarefully();
        return;
      }
      carry_.clear();
    }
    size_t used = size / 4 * 4;
    if (used >= 4 && data[used - 1] == '=') used -= 4;
    const size_t n = DecodeSome(data, used, head);
    if (n != used / 4 * 3) {
      WriteFile(std::string_view(decoded_.data(), head));
      carry_.assign(data, size);
      DecodeCarefully();
      return;
    }
    WriteFile(std::string_view(decoded_.data(), head + n));
    carry_.assign(data + used, size - used);
  }

  // Decodes `size` bytes of text into decoded_ from position `at` on; returns the count of bytes.
  size_t DecodeSome(const char* text, size_t size, size_t at = 0) {
    const size_t need = at + TqzBase64::DecodedMaxLength(size);
    if (decoded_.size() < need) decoded_.resize(need);
    return TqzBase64::DecodeTo(text, size, decoded_.data() + at);
  }

  // The careful path over carry_: only the alphabet's symbols are kept, whole groups of them are
  // decoded and written, the 0-3 symbols left wait.
  void DecodeCarefully() {
    AnsiString symbols;
    for (char c : carry_)
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/') symbols.push_back(c);
    const size_t used = symbols.size() / 4 * 4;
    WriteFile(std::string_view(decoded_.data(), DecodeSome(symbols.data(), used)));
    carry_.assign(symbols, used, AnsiString::npos);
  }

  void OpenFile(const AnsiString& ext) {
    char name[64];
    std::snprintf(name, sizeof(name), "%s_%04d", docId_.c_str(), ++files_);
    std::string file = name;
    if (!ext.empty() && TqzDocument::IsPlainFileName(ext)) file += "." + ext;
    fd_ = ::open((temp_ / file).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) throw std::runtime_error("cannot create " + file);
    index_["Files"].push_back(file);
  }

  void WriteFile(std::string_view data) {
    while (!data.empty()) {
      ssize_t n = ::write(fd_, data.data(), data.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("cannot write a file of the document");
      data.remove_prefix(static_cast<size_t>(n));
    }
  }

  void CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  const Options& opt_;
  AnsiString docId_;
  fs::path temp_;
  nlohmann::json index_;
  bool stored_ = false;
  int files_ = 0;
  bool decode_ = false, decompress_ = false, optionsFinal_ = false;
  int options_ = 0;
  std::vector<AnsiString> waiting_;
  AnsiString token_;
  bool streaming_ = false, noStream_ = false;
  AnsiString carry_, decoded_;
  int fd_ = -1;
};

// Cuts the bytes of a request into tokens as they arrive: text from a "<" to the next ">" (empty
// tokens are dropped, text outside is ignored), each token handed on in pieces. The request is
// complete when a token "/" + the first token ends with the bytes received so far.
class TokenScanner {
 public:
  template <class Begin, class Data, class End>
  void Feed(const char* p, size_t n, Begin&& begin, Data&& data, End&& end) {
    size_t i = 0;
    while (i < n) {
      if (!inToken_) {
        const void* lt = std::memchr(p + i, '<', n - i);
        if (!lt) break;
        i = static_cast<size_t>(static_cast<const char*>(lt) - p) + 1;
        inToken_ = true;
        length_ = 0;
        small_.clear();
        begin();
        continue;
      }
      const void* gt = std::memchr(p + i, '>', n - i);
      const size_t stop = gt ? static_cast<size_t>(static_cast<const char*>(gt) - p) : n;
      if (stop > i) {
        length_ += stop - i;
        if (small_.size() < kSmall) small_.append(p + i, std::min(stop - i, kSmall - small_.size()));
        data(p + i, stop - i);
      }
      i = stop;
      if (gt) {
        ++i;
        inToken_ = false;
        if (length_ == 0) continue;
        const bool closing = count_ > 0 && length_ == type_.size() + 1 && small_[0] == '/' &&
                             small_.compare(1, AnsiString::npos, type_) == 0;
        if (count_++ == 0) type_ = small_;
        end(count_ == 1, closing);
        complete_ = closing && i == n;
      }
    }
  }
  bool Complete() const { return complete_; }
  size_t Tokens() const { return count_; }
  // The request type: the first token, trimmed and upper-cased.
  AnsiString Type() const { return TqzComProtocol::GetComType("<" + type_ + ">"); }

 private:
  static constexpr size_t kSmall = 256;
  bool inToken_ = false, complete_ = false;
  size_t length_ = 0, count_ = 0;
  AnsiString small_, type_;
};

void Serve(platform::TcpSocket socket, const Options& opt) {
  std::string type = "?", note;
  size_t received = 0;
  try {
    AnsiString request;  // every request but CREATEDOCEXT is kept whole (small)
    std::unique_ptr<IncomingDocument> document;
    TokenScanner scanner;
    bool tooLarge = false, documentFailed = false;
    std::string failure;
    const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kReadPiece);
    while (!scanner.Complete()) {
      size_t n = ReadSome(socket, buffer.get(), kReadPiece);
      if (n == 0) break;
      received += n;
      if (received > opt.maxRequest) {
        tooLarge = true;
        break;
      }
      if (!document) request.append(buffer.get(), n);
      auto begin = [&] {
        if (document && !documentFailed) document->TokenBegin();
      };
      auto data = [&](const char* p, size_t len) {
        if (document && !documentFailed) document->TokenData(p, len);
      };
      auto end = [&](bool first, bool closing) {
        if (first) {
          type = scanner.Type();
          if (type == "CREATEDOCEXT") {
            document = std::make_unique<IncomingDocument>(opt, NewDocId());
            request.clear();
            request.shrink_to_fit();
          }
          return;
        }
        if (document && !documentFailed && !closing) document->TokenEnd();
      };
      try {
        scanner.Feed(buffer.get(), n, begin, data, end);
      } catch (const std::exception& e) {
        // The rest of the request is read and dropped; nothing of the document stays.
        documentFailed = true;
        failure = e.what();
        document.reset();
      }
    }
    if (scanner.Tokens() == 0 && !request.empty()) type = TqzComProtocol::GetComType(request);
    AnsiString answer;
    if (tooLarge) {
      document.reset();
      answer = Error("request too large");
      note = "refused: over " + std::to_string(opt.maxRequest) + " bytes";
    } else if (type == "CREATEDOCEXT") {
      if (documentFailed) {
        note = "not stored: " + failure;
        answer = Error("document not stored");
      } else if (!scanner.Complete()) {
        // The client stopped before the closing tag: a document is never stored incomplete.
        document.reset();
        note = "incomplete request, nothing stored";
        answer = Error("incomplete request");
      } else {
        try {
          note = document->Store();
          answer = Answer({{"Result", "OK"}, {"DocId", document->DocId()}, {"Message", "document stored"}});
        } catch (const std::exception& e) {
          document.reset();
          note = std::string("not stored: ") + e.what();
          answer = Error("document not stored");
        }
      }
    } else if (type == "GETBLOB") {
      AnsiString typ;
      std::vector<TqzComItem> items;
      std::string name;
      if (TqzComProtocol::ParseAnswer(request, true, typ, items) && items.size() == 1) name = items[0].Value;
      note = name;
      const size_t us = name.find('_');
      if (TqzDocument::IsPlainFileName(name) && us != std::string::npos) {
        std::ifstream in(opt.store / name.substr(0, us) / name, std::ios::binary);
        answer.assign(std::istreambuf_iterator<char>(in), {});
        note += " (" + std::to_string(answer.size()) + " bytes)";
      } else {
        note += " (refused)";
      }
    } else {
      AnsiString typ;
      std::vector<TqzComItem> items;
      bool parsed = false;
      try {
        parsed = TqzComProtocol::ParseAnswer(request, true, typ, items);
      } catch (const std::exception& e) {
        note = e.what();
      }
      if (!parsed) answer = Error("malformed request");
      else if (type == "GETDOCEXT") answer = GetDocument(opt, items, note);
      else if (type == "QUERYEXT") answer = Query(opt, items, note);
      else if (type == "ALIVE") answer = Answer({{"Result", "OK"}});
      else answer = Error("unsupported request " + type);
    }
    SendAll(socket, answer);
    if (tooLarge) {
      // The rest of the refused request is read and dropped for a moment, so that closing with
      // unread bytes does not reset the connection before the client has read the answer.
      socket.ShutdownWrite();
      for (int round = 0; round < 200 && socket.WaitReadable(50); ++round)
        if (socket.Read(buffer.get(), kReadPiece) == 0) break;
    }
  } catch (const std::exception& e) {
    note += std::string(" error: ") + e.what();
  }
  socket.Close();
  Log(type + " " + std::to_string(received) + " bytes " + note);
  --g_active;
}

void OnSignal(int) { g_stop = true; }

const char kUsage[] =
    "usage: archive-server --store DIR [--port N] [--bind ADDR] [--max-request SIZE]\n"
    "\n"
    "A stand-in for the archive server: one request and one answer per TCP connection.\n"
    "  --store DIR          folder of the stored documents (created when missing; required)\n"
    "  --port N             TCP port, 0 to 65535 (default 4470; 0 picks a free one)\n"
    "  --bind ADDR          address to listen on (default 127.0.0.1)\n"
    "  --max-request SIZE   largest request accepted, in bytes or with K, M or G (1024-based);\n"
    "                       default 512M\n"
    "  --help               this text\n"
    "\n"
    "The first line on stdout is \"PORT <n>\", the port it listens on. One log line per request\n"
    "goes to stderr. Exit codes: 0 after SIGINT or SIGTERM, 1 when it cannot listen or create the\n"
    "store, 2 for a wrong command line.\n";

int UsageError(const std::string& what) {
  std::cerr << "archive-server: " << what << "\n" << kUsage;
  return 2;
}

// A decimal count, digits only (no sign, no blanks); with `suffix` one of K, M, G (either case)
// may follow and multiplies by 1024, 1024^2, 1024^3. False on anything else or on overflow.
bool ParseCount(const std::string& text, bool suffix, uint64_t& value) {
  std::string_view digits = text;
  uint64_t unit = 1;
  if (suffix && !digits.empty()) {
    switch (digits.back()) {
      case 'k': case 'K': unit = uint64_t(1) << 10; break;
      case 'm': case 'M': unit = uint64_t(1) << 20; break;
      case 'g': case 'G': unit = uint64_t(1) << 30; break;
      default: break;
    }
    if (unit != 1) digits.remove_suffix(1);
  }
  if (digits.empty() || digits.size() > 19) return false;
  uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > UINT64_MAX / unit) return false;
  value = v * unit;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  bool haveStore = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 >= argc) return UsageError("option " + a + " needs a value");
    const std::string value = argv[++i];
    if (a == "--port") {
      uint64_t port = 0;
      if (!ParseCount(value, false, port) || port > 65535) return UsageError("invalid port \"" + value + "\" (0 to 65535)");
      opt.port = static_cast<int>(port);
    } else if (a == "--store") {
      if (value.empty()) return UsageError("--store needs a folder");
      opt.store = value;
      haveStore = true;
    } else if (a == "--bind") {
      opt.bind = value;
    } else if (a == "--max-request") {
      uint64_t bytes = 0;
      if (!ParseCount(value, true, bytes) || bytes == 0 || bytes > SIZE_MAX)
        return UsageError("invalid size \"" + value + "\" (bytes, or a number with K, M or G)");
      opt.maxRequest = static_cast<size_t>(bytes);
    } else {
      return UsageError("unknown option " + a);
    }
  }
  if (!haveStore) return UsageError("--store DIR is required");
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  try {
    fs::create_directories(opt.store);
    platform::TcpListener listener;
    listener.Listen(opt.bind, opt.port);
    std::cout << "PORT " << listener.Port() << std::endl;
    Log("archive-server listening on " + opt.bind + ":" + std::to_string(listener.Port()) + ", store " +
        opt.store.string());
    while (!g_stop) {
      platform::TcpSocket socket = listener.Accept(200);
      if (!socket.Connected()) continue;
      if (g_active >= kMaxConnections) {
        Log("connection refused: too many connections");
        continue;
      }
      ++g_active;
      std::thread(Serve, std::move(socket), std::cref(opt)).detach();
    }
    for (int i = 0; i < 100 && g_active > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } catch (const std::exception& e) {
    std::cerr << "archive-server: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
