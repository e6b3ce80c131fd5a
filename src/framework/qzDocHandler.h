// TqzDocument: the document container of the archive client's document operations.
//
// A document has an identifier, a version, a title (Subject), index fields and files ("blobs").
// TqzVeroruvUdizive::GetDocument fills one from the archive server, ArchiveDocument stores one,
// Query returns a hit list (those three operations are implemented in qzDocHandler.cpp).
//
// Blobs: an entry whose Active is false is a free slot; AddBlob fills the first free slot before
// it grows the list, so BlobCount counts free slots too. ArchiveDocument sends active entries
// only. Names of files that the server sends are accepted only as plain names (no folder parts,
// "..", ":", control characters, "<" or ">"); files are only ever written into the client's
// TempPath.
#pragma once

#include <cstdint>

#include "Text.h"
#include "qzTypes.h"

namespace qzDocHandler {
using TIdType = ::TIdType;  // the same short identifier text as in qzTypes.h
}

class TqzDocument {
 public:
  // A new document: a new 32-digit identifier, no fields, no blobs.
  TqzDocument();

  AnsiString Id;
  uint16_t Version = 0;
  UnicodeString Subject;
  qzDocHandler::TIdType ContainerId;
  TqzDocumentFields Fields;
  TqzDocumentBlobs Blobs;
  UnicodeString Message;

  // Appends a field whose value is the UTF-16 text Value.
  bool AddField(const UnicodeString& Name, const UnicodeString& Value);
  // The value (as text) of the first field named exactly Name (case-sensitive); empty if none.
  UnicodeString GetField(const UnicodeString& Name) const;
  // Fills the first inactive entry (or a new one): Name defaults to the file name without folder
  // and extension; Extension is FileName's extension with its dot, upper-cased; MimeType the
  // file's MIME type, upper-cased; Size the length of Data, or of the file when Data is empty.
  bool AddBlob(const UnicodeString& FileName, const UnicodeString& Name, const AnsiString& Data,
               TqzDataOrigin Origin);
  int32_t BlobCount() const { return static_cast<int32_t>(Blobs.size()); }
  int32_t FieldCount() const { return static_cast<int32_t>(Fields.size()); }

  // True when a file name sent by a server is a plain name that stays inside a folder.
  static bool IsPlainFileName(std::string_view name);
};
