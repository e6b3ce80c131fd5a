// The tag-framed request/answer protocol spoken with the archive server, in one place.
//
// Both clients (TqzVeroruvUdizive and TqzComTools) and the archive-server stand-in use this core;
// the clients keep their own record types and map the neutral results below onto them.
//
// Wire form of a request (and of an answer, which has the same form):
//   "<" TYPE ">" "<enc=mime>"|"<enc=none>" "<comp=true>"|"<comp=false>" {"<" item ">"} "</" TYPE ">"
// An item is "name=value", or "obj(ext)=" followed by a file's bytes; with encoding each item is
// sent as its one-line Base64 text, with compression (which implies encoding) as the Base64 of
// its compressed text form. One request and one answer per TCP connection.
//
// The tokenizer and the parser work on offsets into the received text; they never cut the text
// apart, so a large answer is scanned once and each item is decoded straight from its place.
//
// Limits: the size of an answer and the count that a compressed item may declare are capped
// (TqzComLimits); beyond a cap the exchange fails instead of allocating without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"

// A request that is written to its destination as it is produced: the opening tag and the option
// tokens, then each item - text items from memory, object items of files read in pieces of
// ReadPieceSize - Base64-encoded piece by piece (a carry of 0-2 bytes between pieces), then the closing tag.
// Neither an item nor the whole request is ever held in memory; the bytes are exactly those of
// TqzComProtocol::BuildRequest over the same items (with compression each item is compressed
// whole, as the compressed text form needs its length first).
//
// A file is checked when it is added (a readable regular file; its size is taken then). When it
// cannot be read whole while it is written, or its size has changed (it shrank or grew), Write
// raises EInOutError before the closing tag has been written and FailedFile() names the file, so
// a peer never receives a complete-looking request with a partial document.
class TqzComRequest {
 public:
  // A sink takes the next piece; `last` is true for the piece that ends the request.
  using Sink = std::function<void(const char* data, size_t size, bool last)>;
  // Pieces handed to a socket: large enough to keep the kernel busy with few calls, small enough
  // that a read piece and its encoded text stay in the processor's cache together.
  static constexpr size_t SendPieceSize = size_t(256) << 10;
  // Files are read in pieces of this size: a multiple of 3, so whole pieces carry nothing over,
  // and 3/4 of SendPieceSize, so one piece's text fills one send piece.
  static constexpr size_t ReadPieceSize = size_t(192) << 10;

  explicit TqzComRequest(std::string_view comtyp, bool encode = true, bool compress = false);

  const AnsiString& Type() const { return type_; }
  size_t Count() const { return parts_.size(); }

  // A parameter item "name=value" (or any item text).
  void AddItem(AnsiString item);
  // An object item of bytes that the caller keeps unchanged until the request has been written;
  // fileName only supplies the extension.
  void AddContentRef(std::string_view fileName, std::string_view content);
  // An object item of a file (UTF-8 path); extensionName supplies the extension. False, nothing
  // added, when the file is missing, no regular file or cannot be opened for reading.
  bool AddFile(const std::string& path, std::string_view extensionName);

  // Writes the request to `sink` in pieces of at most pieceSize bytes (at least 1 KiB).
  void Write(const Sink& sink, size_t pieceSize = SendPieceSize) const;
  // The whole request as one text.
  AnsiString Text() const;
  // The path of the file that could not be written whole by the last Write; empty otherwise.
  const std::string& FailedFile() const { return failedFile_; }

 private:
  struct Part {
    enum Kind { Text, Content, File } kind = Text;
    AnsiString text;           // Text: the item; Content, File: "obj(ext)="
    std::string_view content;  // Content
    std::string path;          // File
    uint64_t size = 0;         // File: the size when it was added
  };
  AnsiString type_;
  bool encode_, compress_;
  std::vector<Part> parts_;
  mutable std::string failedFile_;
};

// Caps and waits of one exchange.
struct TqzComLimits {
  static constexpr size_t DefaultMaxAnswerSize = size_t(512) << 20;     // 512 MiB
  static constexpr size_t DefaultMaxItemSize = size_t(256) << 20;       // 256 MiB per decompressed item
  size_t MaxAnswerSize = DefaultMaxAnswerSize;
  size_t MaxDecompressedSize = DefaultMaxItemSize;
};

// One parsed answer item, independent of the clients' record types.
struct TqzComItem {
  AnsiString Param;     // OrgParam upper-cased (locale-aware, through the ANSI code page)
  AnsiString OrgParam;  // the name as received
  AnsiString Value;
};

// A token: offset and length of the text between "<" and ">" in the scanned text.
struct TqzComToken {
  size_t Offset = 0;
  size_t Length = 0;
};

// What happened to one exchange, for the clients to map onto their own rules.
enum class TqzComReceive {
  Received,  // the answer is not empty and ends with ">"
  NoEnd,     // the answer is not empty but does not end with ">"
  Empty,     // nothing arrived (the server closed at once, or the wait ran out)
};

class TqzComProtocol {
 public:
  TqzComProtocol() = delete;

  // The socket is written and read in pieces of this size.
  static constexpr size_t PieceSize = 10000;
  // The raw file request reads in pieces of this size, with this wait.
  static constexpr size_t FilePieceSize = 32000;
  static constexpr int FileWaitMs = 600000;
  // The liveness probe: a literal text, not built by BuildRequest.
  static constexpr std::string_view AliveRequest = "<ALIVE><></ALIVE>";

  // ---- items ----------------------------------------------------------------------------

  // The extension of a file name for an object item: the text after the last "." of the name,
  // lower-cased, provided no "\", "/" or ":" follows that "."; empty otherwise.
  static AnsiString ObjectExtension(std::string_view fileName);
  // "obj(" + extension + ")=" + content.
  static AnsiString ObjectItem(std::string_view fileName, std::string_view content);
  // Reads the whole file (fileName is 8-bit text in the ANSI code page) and appends its object
  // item. False, list unchanged, when the file does not exist or cannot be read whole.
  static bool AddObjectFile(std::string_view fileName, std::vector<AnsiString>& items);
  // The same for a file named by its file-system path (UTF-8); extensionName supplies the
  // extension of the item.
  static bool AddObjectFilePath(const std::string& path, std::string_view extensionName,
                                std::vector<AnsiString>& items);

  // ---- framing ---------------------------------------------------------------------------

  // Frames a request. compress implies encode. Every element of `items` is replaced by its
  // encoded form (compressed, then Base64 on one line), as the caller's list is shared.
  static AnsiString BuildRequest(std::string_view comtyp, bool encode, bool compress, std::vector<AnsiString>& items);

  // ---- parsing ---------------------------------------------------------------------------

  // Tokens of a text: repeatedly skip through the next "<" (if any), take the text up to the
  // next ">" as a token, skip past that ">"; empty tokens are dropped, text after the last ">"
  // is ignored.
  static std::vector<TqzComToken> Tokenize(std::string_view text);

  // Parses an answer. False for fewer than two tokens or when "/" + first token differs
  // (case-insensitively) from the last token; `typ` and `items` are then untouched.
  // parseParVal true: option tokens "enc"/"comp" (at most two, anywhere) are removed and applied,
  // items are split at their first "=". parseParVal false: nothing is decoded; each token
  // becomes an item whose Param is its index ("0", "1", ...) and Value the token as received.
  // Raises EZlibError when a compressed item cannot be decompressed (or declares more than
  // limits.MaxDecompressedSize bytes).
  static bool ParseAnswer(std::string_view answer, bool parseParVal, AnsiString& typ,
                          std::vector<TqzComItem>& items, const TqzComLimits& limits = {});

  // Completion test on the text received so far: NAME is the text from the second byte up to
  // the byte before the first ">"; complete when the Length(NAME)+1 bytes just before the last
  // byte equal "/" + NAME (byte for byte, case-sensitive).
  static bool IsAnswerComplete(std::string_view text);

  // The type of a request or answer without parsing it: the text after the first "<" up to the
  // next ">", trimmed (codes 0..32) and upper-cased.
  static AnsiString GetComType(std::string_view text);

  // Address rule: the host is tried as a numeric address first when the text before its first
  // "." is an integer of at least 1; any host that is not a numeric address is resolved by name.
  static bool UseNumericAddress(std::string_view host);

  // ---- exchanges -------------------------------------------------------------------------

  // One exchange: connect to host:port, send `quest` in pieces (each piece within conWaitMs),
  // read the answer in pieces (each wait within resWaitMs) until the completion test holds, the
  // server closes or a wait runs out. Raises ESocketError when the connection cannot be made,
  // is reset, when not every byte of the request could be sent, or when the answer grows beyond
  // limits.MaxAnswerSize. `answer` holds what arrived (also when an error is raised).
  static TqzComReceive Exchange(const std::string& host, int port, uint32_t conWaitMs, uint32_t resWaitMs,
                                std::string_view quest, AnsiString& answer, const TqzComLimits& limits = {});
  // The same with a request that is written to the socket as it is produced, in pieces of
  // TqzComRequest::SendPieceSize bytes (each within conWaitMs). A file of the request that cannot
  // be sent whole raises EInOutError (quest.FailedFile() names it); the connection is then closed
  // before the closing tag, so the server never receives a complete request.
  static TqzComReceive Exchange(const std::string& host, int port, uint32_t conWaitMs, uint32_t resWaitMs,
                                const TqzComRequest& quest, AnsiString& answer, const TqzComLimits& limits = {});

  // Raw file request: sends `quest` unchanged and writes every byte of the reply into the file
  // `path` (UTF-8 file-system path). The bytes go to a temporary file beside it that replaces
  // `path` only when the server closed the connection in order after sending at least one byte.
  // False when the connection fails, the request cannot be sent whole, a wait runs out, nothing
  // arrives, the reply exceeds maxFileSize, or the file cannot be written.
  static bool RequestFile(const std::string& host, int port, std::string_view quest, const std::string& path,
                          uint64_t maxFileSize, int waitMs = FileWaitMs);

  // ---- failover --------------------------------------------------------------------------

  enum class Attempt { Parsed, Failed, Error };

  // Exchange with failover over a server list; `List` has Server[i].Active, Rotate and ActId.
  // `attempt(i)` runs one exchange against entry i; `probe(i)` sends the liveness probe to entry
  // i and returns whether it answered with a parsed answer.
  //
  // Choice: start at ActId (plus one with Rotate; past the end wraps to 0), take the first
  // active entry from there to the end, else from 0. An attempt that raised an error marks its
  // entry inactive. The call makes at most one pass over the active entries: an entry already
  // tried in this call is not chosen again. When no entry is active, ActId and ServerId become 0,
  // every entry is probed in index order (its Active becomes the probe's outcome) and the call
  // fails. When every active entry has been tried without success the call fails with
  // ServerId -1 (no entry chosen). An empty list fails at once with ServerId -1.
  template <class List, class AttemptFn, class ProbeFn>
  static bool RunFailover(List& list, int32_t& serverId, AttemptFn&& attempt, ProbeFn&& probe) {
    serverId = -1;
    const size_t count = list.Server.size();
    if (count == 0) return false;
    std::vector<bool> tried(count, false);
    for (;;) {
      // Choose.
      serverId = -1;
      long long s = static_cast<long long>(list.ActId) + (list.Rotate ? 1 : 0);
      const size_t start = s < 0 || s >= static_cast<long long>(count) ? 0 : static_cast<size_t>(s);
      bool anyActive = false;
      long found = -1;
      for (size_t pass = 0; pass < 2 && found < 0; ++pass) {
        for (size_t i = pass == 0 ? start : 0; i < count; ++i) {
          if (!list.Server[i].Active) continue;
          anyActive = true;
          if (!tried[i]) {
            found = static_cast<long>(i);
            break;
          }
        }
      }
      if (found < 0) {
        if (!anyActive) {
          list.ActId = 0;
          serverId = 0;
          for (size_t i = 0; i < count; ++i) list.Server[i].Active = probe(i);
        }
        return false;
      }
      serverId = static_cast<int32_t>(found);
      list.ActId = serverId;
      tried[static_cast<size_t>(found)] = true;
      // Attempt.
      switch (attempt(static_cast<size_t>(found))) {
        case Attempt::Parsed:
          return true;
        case Attempt::Error:
          list.Server[static_cast<size_t>(found)].Active = false;
          break;
        case Attempt::Failed:
          break;
      }
    }
  }
};
