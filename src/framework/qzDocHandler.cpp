#include "qzDocHandler.h"


#include <exception>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Variant.h"
#include "qzBase64.h"
#include "qzConversion.h"
#include "qzFiles.h"
#include "qzStrings.h"
#include "qzTools.h"
#include "qzVeroruvUdizive.h"

namespace {

// ---- file helpers -----------------------------------------------------------------------------

// The extension of the file name including its dot; empty when the name has none.
UnicodeString ExtractFileExt(const UnicodeString& path) {
  const size_t sep = path.find_last_of(u"\\/");
  std::u16string_view name = std::u16string_view(path).substr(sep == UnicodeString::npos ? 0 : sep + 1);
  size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos ? UnicodeString() : UnicodeString(name.substr(dot));
}

// ---- request helpers ------------------------------------------------------------------------

AnsiString BoolText(bool value) { return platform::ToAscii(TqzConversion::BoolToStr(value)); }

[[noreturn]] void Fail(const UnicodeString& text) { throw Exception(text); }

UnicodeString ErrorText(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const Exception& ex) {
    return ex.Message;
  } catch (const std::exception& ex) {
    return platform::Utf8ToWide(ex.what());
  } catch (...) {
    return u"unknown error";
  }
}

const char16_t kProcessing[] = u"veroruvudizive processing exception (";

bool StartsWith(const AnsiString& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// A printable form of a name for messages.
UnicodeString Printable(std::string_view name) {
  AnsiString out;
  for (char c : name) out.push_back(static_cast<unsigned char>(c) < 32 || c == 127 ? '?' : c);
  return platform::AnsiToWide(out);
}

// Appends the parameter item name=value.
void Param(TqzComRequest& quest, std::string_view name, std::string_view value) {
  AnsiString item;
  item.reserve(name.size() + 1 + value.size());
  item.append(name).append("=").append(value);
  quest.AddItem(std::move(item));
}

// Runs the exchange of a document operation (the request written to the socket as it is
// produced, files read in pieces) and checks the answer's result item.
void Exchange(TqzVeroruvUdizive& client, const TqzComRequest& quest, TComResExt& answer) {
  AnsiString typ;
  const bool answered = client.AskServer(quest, typ, answer);
  // A file that could not be sent whole: the server was left without the closing tag.
  if (!answered && !quest.FailedFile().empty())
    Fail(u"blob file cannot be read (" + platform::Utf8ToWide(quest.FailedFile()) + u")");
  if (!answered)
    Fail(u"veroruvudizive server connection failed (" +
         platform::AnsiToWide(TqzVeroruvUdizive::GetComParam(answer, "MESSAGE")) + u")");
  if (!TqzConversion::StrToBool(platform::AnsiToWide(TqzVeroruvUdizive::GetComParam(answer, "RESULT"))))
    Fail(u"veroruvudizive server returned an error (" +
         platform::AnsiToWide(TqzVeroruvUdizive::GetComParam(answer, "MESSAGE")) + u")");
}

// Splits a ";"-separated list of Base64 texts into decoded pieces.
std::vector<AnsiString> SplitBase64List(const AnsiString& value) {
  const AnsiString text = TqzStrings::CheckStringSuffix(value, ";");
  std::vector<AnsiString> pieces;
  size_t pos = 0;
  for (;;) {
    size_t semi = text.find(';', pos);
    if (semi == AnsiString::npos) break;
    pieces.push_back(TqzBase64::Base64ToStr(std::string_view(text).substr(pos, semi - pos)));
    pos = semi + 1;
  }
  return pieces;
}

}  // namespace

// ---- TqzDocument ------------------------------------------------------------------------------

TqzDocument::TqzDocument() {
  try {
    Id = TqzTools::CreateId().str();
  } catch (const std::exception&) {
    // An identifier that cannot be made stays empty.
  }
}

bool TqzDocument::AddField(const UnicodeString& Name, const UnicodeString& Value) {
  try {
    TqzDocumentField field;
    field.Name = Name;
    field.Value = Variant(Value);
    Fields.push_back(std::move(field));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

UnicodeString TqzDocument::GetField(const UnicodeString& Name) const {
  for (const TqzDocumentField& field : Fields)
    if (field.Name == Name) {
      try {
        return field.Value.IsNull() || field.Value.IsEmpty() ? UnicodeString() : field.Value.AsString();
      } catch (const std::exception&) {
        return {};
      }
    }
  return {};
}

bool TqzDocument::AddBlob(const UnicodeString& FileName, const UnicodeString& Name, const AnsiString& Data,
                          TqzDataOrigin Origin) {
  try {
    size_t slot = Blobs.size();
    for (size_t i = 0; i < Blobs.size(); ++i)
      if (!Blobs[i].Active) {
        slot = i;
        break;
      }
    if (slot == Blobs.size()) Blobs.emplace_back();
    TqzDocumentBlob& blob = Blobs[slot];
    blob.Name = Name.empty() && !FileName.empty() ? TqzFiles::ExtractPureFileName(FileName) : Name;
    blob.FileName = FileName;
    blob.Data = Data;
    blob.Origin = Origin;
    blob.Extension = platform::UpperW(ExtractFileExt(FileName));
    blob.MimeType = platform::UpperW(TqzFiles::GetMIMEType(FileName, UnicodeString()));
    blob.Size = static_cast<uint32_t>(!Data.empty() ? static_cast<int64_t>(Data.size()) : TqzFiles::GetSizeOfFile(FileName));
    blob.Active = true;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TqzDocument::IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || c == '/' || c == '\\' || c == ':' || c == '<' || c == '>') return false;
  }
  return true;
}

// ---- document operations of the archive client --------------------------------------------------

bool TqzVeroruvUdizive::GetDocument(const AnsiString& DocId, const AnsiString& User, const AnsiString& Stamp,
                                    bool SAPDocument, const AnsiString& SAPContRep, bool CreatePDF,
                                    const AnsiString& ConversionScheme, bool TechNames,
                                    std::unique_ptr<TqzDocument>& Document) {
  try {
    if (!Document) Document = std::make_unique<TqzDocument>();
  } catch (const std::exception& e) {
    Message = kProcessing + platform::Utf8ToWide(e.what()) + u")";
    return false;
  }
  return GetDocument(DocId, User, Stamp, SAPDocument, SAPContRep, CreatePDF, ConversionScheme, TechNames, *Document);
}

bool TqzVeroruvUdizive::GetDocument(const AnsiString& DocId, const AnsiString& User, const AnsiString& Stamp,
                                    bool CreatePDF, const AnsiString& ConversionScheme, bool TechNames,
                                    std::unique_ptr<TqzDocument>& Document) {
  return GetDocument(DocId, User, Stamp, false, AnsiString(), CreatePDF, ConversionScheme, TechNames, Document);
}

bool TqzVeroruvUdizive::GetDocument(const AnsiString& DocId, const AnsiString& User, const AnsiString& Stamp,
                                    bool SAPDocument, const AnsiString& SAPContRep, bool CreatePDF,
                                    const AnsiString& ConversionScheme, bool TechNames, TqzDocument& Document) {
  try {
    Document.Id = DocId;
    Document.Version = 0;
    Document.Fields.clear();
    Document.Blobs.clear();
    Document.Message.clear();
    Document.ContainerId = qzDocHandler::TIdType();

    TqzComRequest quest("GETDOCEXT");
    Param(quest, "DocId", DocId);
    Param(quest, "CreatePDF", BoolText(CreatePDF));
    Param(quest, "ConversionScheme", ConversionScheme);
    Param(quest, "TechNames", BoolText(TechNames));
    Param(quest, "Stamp", Stamp);
    Param(quest, "User", User);
    if (SAPDocument) {
      Param(quest, "SAPDOC", "True");
      Param(quest, "SAPCONTREP", SAPContRep);
    }
    TComResExt answer;
    Exchange(*this, quest, answer);

    for (const TComPart& part : answer) {
      if (StartsWith(part.Param, "OBJ")) {
        // A file name from the server: only a plain name may be joined to TempPath.
        if (!TqzDocument::IsPlainFileName(part.Value)) Fail(u"invalid blob file name (" + Printable(part.Value) + u")");
        const UnicodeString path = TempPath + platform::AnsiToWide(part.Value);
        if (!RequestServerFile("<GETBLOB><" + part.Value + "></GETBLOB>", path))
          Fail(u"blob stream exception of " + path);
        if (!Document.AddBlob(path, UnicodeString(), AnsiString(), qzDO_FileSystem)) {
          TqzFiles::ForceDeleteFile(path);  // not in the document, so the clean-up would miss it
          Fail(u"blob stream exception of " + path);
        }
      } else if (StartsWith(part.Param, "IDX")) {
        Document.AddField(platform::AnsiToWide(std::string_view(part.OrgParam).substr(3)),
                          platform::AnsiToWide(part.Value));
      }
    }
    return true;
  } catch (...) {
    Message = kProcessing + ErrorText(std::current_exception()) + u")";
    // Every file fetched so far (all of them lie in TempPath) is removed; the entries stay.
    for (const TqzDocumentBlob& blob : Document.Blobs)
      if (!blob.FileName.empty()) TqzFiles::ForceDeleteFile(blob.FileName);
    return false;
  }
}

bool TqzVeroruvUdizive::ArchiveDocument(TqzDocument& Document, const AnsiString& ArchiveString,
                                        const AnsiString& SoftLinkDocId, const AnsiString& SoftLinkField,
                                        bool CreatePDF, const AnsiString& Stamp, const AnsiString& ConversionScheme,
                                        bool IndexDoc, AnsiString& DocId, bool BlobsByRef) {
  try {
    DocId.clear();
    TqzComRequest quest("CREATEDOCEXT");
    Param(quest, "ARCHIVE", ArchiveString);
    Param(quest, "CREATEPDF", BoolText(CreatePDF));
    Param(quest, "CONVERSIONSCHEME", ConversionScheme);
    Param(quest, "STAMP", Stamp);
    Param(quest, "INDEX", BoolText(IndexDoc));
    Param(quest, "TITLE", platform::WideToAnsi(Document.Subject));
    if (!SoftLinkDocId.empty()) {
      Param(quest, "LINKDOCID", SoftLinkDocId);
      Param(quest, "LINKFIELD", SoftLinkField);
    }
    for (const TqzDocumentField& field : Document.Fields) {
      UnicodeString value;
      if (!field.Value.IsNull() && !field.Value.IsEmpty()) value = field.Value.AsString();
      Param(quest, "IDX" + platform::WideToAnsi(field.Name), platform::WideToAnsi(value));
    }
    // Inactive entries are free slots, not part of the document. A file that cannot be read
    // fails the operation: an incomplete document is never archived.
    for (const TqzDocumentBlob& blob : Document.Blobs) {
      if (!blob.Active) continue;
      if (BlobsByRef) Fail(u"function not supported (byref)");
      if (blob.Data.empty()) {
        // Read in pieces while the request is sent; the file must be readable now.
        if (!quest.AddFile(platform::WideToUtf8(blob.FileName), platform::WideToAnsi(blob.FileName)))
          Fail(u"blob file cannot be read (" + blob.FileName + u")");
      } else {
        quest.AddContentRef(platform::WideToAnsi(blob.FileName), blob.Data);
      }
    }
    TComResExt answer;
    Exchange(*this, quest, answer);
    Message = platform::AnsiToWide(GetComParam(answer, "MESSAGE"));
    DocId = GetComParam(answer, "DOCID");
    return true;
  } catch (...) {
    Message = kProcessing + ErrorText(std::current_exception()) + u")";
    return false;
  }
}

bool TqzVeroruvUdizive::Query(const AnsiString& Fulltext, const AnsiString& ASSQ, int32_t MaxHits,
                              const AnsiString& ViewAlias, TqzHitlist& Hitlist) {
  try {
    Hitlist.Header.clear();
    Hitlist.Rows.clear();
    TqzComRequest quest("QUERYEXT");
    Param(quest, "MAXHITS", std::to_string(MaxHits));
    Param(quest, "VIEWALIAS", ViewAlias);
    Param(quest, "FULLTEXT", Fulltext);
    Param(quest, "ASSQ", ASSQ);
    TComResExt answer;
    Exchange(*this, quest, answer);

    TqzHitlist hits;
    for (const TComPart& part : answer)
      if (StartsWith(part.Param, "HEADER")) {
        for (const AnsiString& title : SplitBase64List(part.Value)) {
          TqzHitlistHeaderField field;
          field.Name = platform::AnsiToWide(title);
          hits.Header.push_back(std::move(field));
        }
        break;  // only the first header counts
      }
    for (const TComPart& part : answer)
      if (StartsWith(part.Param, "ROW")) {
        TqzHitlistRow row;
        for (const AnsiString& column : SplitBase64List(part.Value)) row.Columns.push_back(platform::AnsiToWide(column));
        hits.Rows.push_back(std::move(row));
      }
    Message = platform::AnsiToWide(GetComParam(answer, "MESSAGE"));
    Hitlist = std::move(hits);
    return true;
  } catch (...) {
    Message = kProcessing + ErrorText(std::current_exception()) + u")";
    return false;
  }
}
