// TqzVeroruvUdizive: the archive-server client.
//
// Builds tag-framed requests (see qzComProtocol.h for the wire form), runs one exchange per TCP
// connection against Server:Port or against a server list with failover, parses the answer and
// looks values up in it, and fetches raw files from the server. The document operations
// (GetDocument, ArchiveDocument, Query) are implemented in qzDocHandler.cpp.
//
// Usage of one exchange:
//   TqzVeroruvUdizive client;                 // Server, Port, ConWait, ResWait, TempPath
//   TComRes items;
//   client.AddComParam("Archive", "box7", items);
//   client.AddObjectComParam("/scan/page1.tif", items);
//   AnsiString quest = client.BuiltComString("CREATEDOCEXT", true, false, items);
//   AnsiString typ; TComResExt answer;
//   if (client.AskServer(quest, typ, answer)) docId = client.GetComParam(answer, "DocId");
//
// Large documents go as a streamed request instead, which is never held in memory:
//   TqzComRequest quest("CREATEDOCEXT");
//   quest.AddItem("Archive=box7");
//   if (!quest.AddFile("/scan/page1.tif", "page1.tif")) ...;   // missing or unreadable
//   if (client.AskServer(quest, typ, answer)) ...;
//
// No operation raises to its caller except ParseComAnswer called directly on an answer whose
// compressed items cannot be decompressed. Answers and compressed items are capped
// (MaxAnswerSize, MaxDecompressedSize), raw files by MaxFileSize; beyond a cap the exchange fails.
//
// Threads: every operation blocks its thread for one exchange; an object serves one thread at a
// time (nothing is locked); separate objects may run on separate threads. A TqzServerList shared
// between threads needs the caller's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "Text.h"
#include "qzComProtocol.h"
#include "qzTypes.h"

class TqzDocument;

class TqzVeroruvUdizive {
 public:
  // Defaults: Server "localhost", Port 4470, ConWait 3000 ms, ResWait 1800000 ms, TempPath the
  // installation's temporary folder (TqzKesta::GetTempPath(true, false), created when missing).
  // Never fails: an error while setting the defaults is put into Message.
  TqzVeroruvUdizive();
  // The same with the given temporary folder (created when missing).
  explicit TqzVeroruvUdizive(const UnicodeString& tempPath);
  ~TqzVeroruvUdizive();
  TqzVeroruvUdizive(const TqzVeroruvUdizive&) = delete;
  TqzVeroruvUdizive& operator=(const TqzVeroruvUdizive&) = delete;

  AnsiString Version = "2.6.0";  // the client's version text; never sent
  UnicodeString Message;         // last error of the constructor or of a document operation
  AnsiString Server = "localhost";
  int32_t Port = 4470;
  uint32_t ConWait = 3000;      // ms, time limit of each write of a request piece
  uint32_t ResWait = 1800000;   // ms, time limit of each wait for a piece of the answer
  UnicodeString TempPath;       // folder (ending with "/") for files fetched by GetDocument

  // Caps (configurable): answer size, count declared by a compressed item, size of a raw file.
  size_t MaxAnswerSize = TqzComLimits::DefaultMaxAnswerSize;
  size_t MaxDecompressedSize = TqzComLimits::DefaultMaxItemSize;
  uint64_t MaxFileSize = uint64_t(4) << 30;

  // ---- building requests ----
  static bool AddComParam(const AnsiString& Param, const AnsiString& Value, TComRes& comlist);
  // False (list unchanged) when the file is missing or cannot be read whole.
  static bool AddObjectComParam(const AnsiString& filename, TComRes& comlist);
  static bool AddObjectContentComParam(const AnsiString& filename, const AnsiString& content, TComRes& comlist);
  // Frames the request; replaces each element of comlist by its encoded form.
  static AnsiString BuiltComString(const AnsiString& comtyp, bool encode, bool compress, TComRes& comlist);

  // ---- answers ----
  // Raises EZlibError for compressed items that cannot be decompressed.
  bool ParseComAnswer(const AnsiString& request, AnsiString& typ, TComResExt& comlist) const;

  // One exchange with Server:Port. False when the connection fails, the answer is empty, does
  // not end with ">" or does not parse; comres is then empty, except after a raised error, when
  // it keeps what it held.
  bool AskServer(const AnsiString& quest, AnsiString& comtyp, TComResExt& comres);
  // The same with a request that is written to the socket as it is produced (files read in
  // pieces, never held whole). When a file of the request cannot be sent whole (it shrank, grew or
  // failed to read), the connection is closed before the closing tag, the result is False and
  // quest.FailedFile() names the file.
  bool AskServer(const TqzComRequest& quest, AnsiString& comtyp, TComResExt& comres);
  // One exchange with failover over ServerList (see TqzComProtocol::RunFailover). ServerId is
  // the index of the entry used; ServerList's Active flags and ActId are updated in place.
  bool AskServer(TqzServerList& ServerList, const AnsiString& quest, AnsiString& comtyp, TComResExt& comres,
                 int32_t& ServerId);

  // Sends quest unchanged and writes the reply into exppath. True when the server closed the
  // connection in order after sending the file (an empty reply gives an empty file); an existing
  // file is replaced only then. A time-out, a reset or a failed write gives False.
  bool RequestServerFile(const AnsiString& quest, const UnicodeString& exppath);

  // ---- lookups ----
  static AnsiString GetComParam(const TComResExt& Comlist, const AnsiString& Param);
  static AnsiString GetComParamExt(const TComResExt& Comlist, const AnsiString& Param, const AnsiString& Default);
  static bool ComParamExists(const TComResExt& Comlist, const AnsiString& Param);
  static bool ComListParamExists(const TComRes& Comlist, const AnsiString& Param);
  static int32_t GetFreeComParam(const TComResExt& Comlist);

  // ---- document operations (qzDocHandler.cpp) ----
  // Fetches a stored document with its index fields and files (into TempPath). Document may be
  // null: a new one is created and handed back (the caller owns it).
  bool GetDocument(const AnsiString& DocId, const AnsiString& User, const AnsiString& Stamp, bool SAPDocument,
                   const AnsiString& SAPContRep, bool CreatePDF, const AnsiString& ConversionScheme, bool TechNames,
                   std::unique_ptr<TqzDocument>& Document);
  bool GetDocument(const AnsiString& DocId, const AnsiString& User, const AnsiString& Stamp, bool CreatePDF,
                   const AnsiString& ConversionScheme, bool TechNames, std::unique_ptr<TqzDocument>& Document);
  bool GetDocument(const AnsiString& DocId, const AnsiString& User, const AnsiString& Stamp, bool SAPDocument,
                   const AnsiString& SAPContRep, bool CreatePDF, const AnsiString& ConversionScheme, bool TechNames,
                   TqzDocument& Document);
  // Stores a document (request CREATEDOCEXT); DocId receives the new document's identifier.
  bool ArchiveDocument(TqzDocument& Document, const AnsiString& ArchiveString, const AnsiString& SoftLinkDocId,
                       const AnsiString& SoftLinkField, bool CreatePDF, const AnsiString& Stamp,
                       const AnsiString& ConversionScheme, bool IndexDoc, AnsiString& DocId, bool BlobsByRef);
  // Runs a search (request QUERYEXT) and fills the hit list's header names and row columns.
  bool Query(const AnsiString& Fulltext, const AnsiString& ASSQ, int32_t MaxHits, const AnsiString& ViewAlias,
             TqzHitlist& Hitlist);

 private:
  TqzComLimits Limits() const;
  template <class Quest>
  bool AskOnce(const Quest& quest, AnsiString& comtyp, TComResExt& comres);
  void InitTempPath(const UnicodeString& tempPath);

  std::mutex WorkLock;  // kept for the object's layout; no operation takes it
};
