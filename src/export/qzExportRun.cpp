#include "qzExportRun.h"

#include "Clock.h"
#include "CodePage.h"
#include "SysUtils.h"
#include "Variant.h"
#include "qzConversion.h"
#include "qzFieldReader.h"
#include "qzIndexMapping.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"
#include "qzVeroruvUdizive.h"
#include "qzKesta.h"

namespace {

const char16_t* const kNoBarcode = u"Der Barcode konnte nicht ermittelt werden - \u00fcberpr\u00fcfen Sie Ihre Anwendung!";
const char16_t* const kNoRecord = u" - Es wurde kein offener Barcode gefunden";
const char16_t* const kPageCount = u" - Die Seitenanzahl der Heftung stimmt nicht mit der in KQF \u00fcberein";
const char16_t* const kNoIndex = u" - Es wurden keine zugeh\u00f6rigen Indexdaten gefunden";
const char16_t* const kBadAnswer = u"Der Server gab eine ung\u00fcltige Antwort zur\u00fcck!";
const char16_t* const kNotFiled = u"Das Dokument konnte nicht abgelegt werden!";
const char16_t* const kTestMode =
    u"Testmodus ist aktiv - Heftungen und Datenbankeintr\u00e4ge werden nicht gel\u00f6scht oder ver\u00e4ndert!";

// The status written into ZDMSTS: the character whose code 0xF0 is the digit 0 in EBCDIC.
const char16_t* const kArchivedStatus = u"\u00f0";

// Escapes the LIKE wildcards of a literal text with "!" (the statement names "!" as the escape).
UnicodeString LikeLiteral(const UnicodeString& s) {
  UnicodeString out;
  out.reserve(s.size() + 4);
  for (char16_t c : s) {
    if (c == u'%' || c == u'_' || c == u'!') out += u'!';
    out += c;
  }
  return out;
}

// Writes a text into a field; a column of bytes receives the text's ANSI bytes.
void SetFieldText(platform::DbDataSet& query, const UnicodeString& column, const UnicodeString& text) {
  platform::DbField& field = query.FieldByName(column);
  if (field.DataType() == (varArray | varByte)) {
    field.SetValue(Variant::FromBytes(platform::WideToAnsi(text)));
  } else {
    field.SetAsString(text);
  }
}

// The end of every run, whichever way it ends: the record key and the barcode are cleared.
struct RunStateReset {
  TExportModule& module;
  ~RunStateReset() {
    module.RecordKey.clear();
    module.Barcode.clear();
  }
};

void OpenConnections(TExportModule& module) {
  const TExportConfig& cfg = module.Config;
  if (!module.KqfConnection->Connected()) {
    module.KqfConnection->SetConnectionString(cfg.KqfDbConStr);
    module.KqfConnection->Open();
  }
  if (cfg.CreateLink) {
    if (!module.LinkConnection->Connected()) {
      module.LinkConnection->SetConnectionString(cfg.LinkConStr);
      module.LinkConnection->Open();
      module.LinkQuery->Close();
    }
    // The link query selects no record and stays open for appending.
    if (!module.LinkQuery->Active()) {
      module.LinkQuery->SQL.Clear();
      module.LinkQuery->SQL.Add(u"SELECT * FROM VYRKQFLINK WHERE KQFKEY = ''");
      module.LinkQuery->Open();
    }
  }
  if (cfg.AoEnabled && !module.AddonConnection->Connected()) {
    module.AddonConnection->SetConnectionString(cfg.AoDbConStr);
    module.AddonConnection->Open();
  }
}

}  // namespace

UnicodeString ExportTempPath() { return TqzKesta::GetTempPath(true, false); }

void PrepareLookup(TExportModule& module, const UnicodeString& barcode, platform::DbDataSet& query) {
  const TExportConfig& cfg = module.Config;
  query.Close();
  query.ParamCheck = true;
  query.SQL.Clear();
  std::vector<std::pair<UnicodeString, UnicodeString>> params;
  auto bind = [&params](const UnicodeString& value) {
    const UnicodeString name = u"P" + platform::IntToStr(static_cast<int64_t>(params.size() + 1));
    params.emplace_back(name, SwapDoubleQuotes(value));
    return u":" + name;
  };

  query.SQL.Add(u"SELECT * FROM " + cfg.KqfDbName + u"." + cfg.KqfTableName);
  if (!module.RecordKey.empty()) {
    query.SQL.Add(u"WHERE ( ZDMKEY = " + bind(module.RecordKey) + u" )");
  } else {
    const UnicodeString& column = cfg.KqfBcField;
    auto comparison = [&](const UnicodeString& value) {
      if (cfg.Unsharp) return column + u" like " + bind(LikeLiteral(SwapDoubleQuotes(value)) + u"%") + u" ESCAPE '!'";
      return column + u" = " + bind(value);
    };
    UnicodeString condition = comparison(barcode);
    for (int i = 0; i < module.BarcodePrefixList->Count(); ++i) {
      condition += u" OR " + comparison(module.BarcodePrefixList->Get(i) + barcode);
    }
    query.SQL.Add(u"WHERE ( " + condition + u" )");
  }
  if (!cfg.Client.empty()) query.SQL.Add(u"AND ( ZDMMNU = " + bind(cfg.Client) + u" )");
  if (!cfg.DocTypeList.empty()) {
    UnicodeString list;
    for (const UnicodeString& type : cfg.DocTypeList) {
      if (!list.empty()) list += u", ";
      list += bind(type);
    }
    query.SQL.Add(u"AND ( ZDMDOC IN ( " + list + u" ) )");
  }
  query.SQL.Add(u"ORDER BY ZDMTDT DESC");
  for (const auto& [name, value] : params) query.ParamByName(name).SetValue(Variant::FromOleStr(value));
}

int32_t RunExport(TExportModule& module, UnicodeString& message, bool& hasMessage) {
  RunStateReset reset{module};
  const TExportConfig& cfg = module.Config;
  auto fail = [&](int32_t result, const UnicodeString& text, bool deleteFiles) {
    message = text;
    hasMessage = true;
    if (deleteFiles) module.DeleteDocumentFiles();
    return result;
  };

  // Barcode: the first "BARCODE" entry of the index list, untrimmed.
  module.Barcode.clear();
  for (int i = 0; i < module.IndexList->Count(); ++i) {
    const UnicodeString entry = module.IndexList->Get(i);
    const auto eq = entry.find(u'=');
    if (eq == UnicodeString::npos) continue;
    if (UpperCaseStr(entry.substr(0, eq)) == u"BARCODE") {
      module.Barcode = entry.substr(eq + 1);
      break;
    }
  }
  if (module.Barcode.empty() && module.RecordKey.empty()) return fail(-1, kNoBarcode, false);

  OpenConnections(module);

  platform::DbDataSet& main = *module.MainQuery;
  PrepareLookup(module, module.Barcode, main);
  main.Open();
  if (main.IsEmpty()) return fail(-2, module.Barcode + kNoRecord, true);
  main.First();
  module.Barcode = main.FieldByName(cfg.KqfBcField).AsString();

  // Configuration errors come to light before the document is sent: a column that the link
  // record copies or that the status update writes must exist in the found record. Found only
  // after archiving, the document would stay archived without its key or its status, and the
  // next attempt would archive it a second time.
  std::vector<std::pair<UnicodeString, UnicodeString>> required;  // column, configuration key
  if (cfg.CreateLink) required.emplace_back(cfg.KqfKeyField, u"KQFKEYFIELD");
  if (!cfg.TestMode) {
    for (const char16_t* column : {u"ZDMADT", u"ZDMATM", u"ZDMSTS"}) required.emplace_back(column, u"");
  }
  for (const auto& [column, key] : required) {
    if (main.FindField(column) == nullptr) {
      return fail(-1,
                  u"Die Spalte " + column + (key.empty() ? u"" : u" (" + key + u")") + u" fehlt in der KQF-Tabelle " +
                      cfg.KqfDbName + u"." + cfg.KqfTableName + u" - \u00fcberpr\u00fcfen Sie die Konfiguration!",
                  true);
    }
  }

  if (cfg.ChkPageCount) {
    const int64_t n = module.DocumentFileList->Count();
    const int64_t pages = main.FieldByName(u"ZDMPAG").AsInteger();
    if (!(n == pages || (cfg.AllowDoublPc && 2 * n == pages))) return fail(-2, module.Barcode + kPageCount, true);
  }

  if (MapIndexFields(module) == 0) return fail(-2, module.Barcode + kNoIndex, true);

  // The request: archive, title, index flag, one "IDX" parameter per index entry, the pages. It
  // is written to the socket as it is produced; the pages are read in pieces while they are sent.
  TqzComRequest request("CREATEDOCEXT", true, false);
  auto param = [&request](const AnsiString& name, const AnsiString& value) { request.AddItem(name + "=" + value); };
  param("Archive", platform::WideToAnsi(module.ArchiveName));
  param("Title", platform::WideToAnsi(module.Title));
  param("Index", "true");
  for (int i = 0; i < module.IndexList->Count(); ++i) {
    const UnicodeString entry = module.IndexList->Get(i);
    const auto eq = entry.find(u'=');
    if (eq == UnicodeString::npos || eq == 0) continue;
    param("IDX" + platform::WideToAnsi(entry.substr(0, eq)), platform::WideToAnsi(platform::Trim(entry.substr(eq + 1))));
  }
  auto cannotAdd = [&](const UnicodeString& path) {
    return fail(-2, u"Objekt " + path + u" kann nicht hinzugef\u00fcgt werden!", true);
  };
  for (int i = 0; i < module.DocumentFileList->Count(); ++i) {
    const UnicodeString path = module.DocumentFileList->Get(i);
    if (!request.AddFile(platform::WideToUtf8(path), platform::WideToAnsi(path))) return cannotAdd(path);
  }

  TqzVeroruvUdizive client(ExportTempPath());
  client.Server = platform::WideToAnsi(cfg.DocServer);
  client.Port = static_cast<int32_t>(TqzConversion::StrToInt(cfg.DocServerPort, -1));
  client.ConWait = 5000;
  client.ResWait = 1800000;
  AnsiString answerType;
  TComResExt answer;
  if (!client.AskServer(request, answerType, answer)) {
    // A page that shrank, grew or could not be read while it was sent: the connection was closed
    // before the closing tag, so the server stored nothing.
    if (!request.FailedFile().empty()) return cannotAdd(platform::Utf8ToWide(request.FailedFile()));
    return fail(-1, kBadAnswer, true);
  }
  if (UpperCaseStr(platform::AnsiToWide(TqzVeroruvUdizive::GetComParam(answer, "Result"))) != u"OK") {
    return fail(-1, kNotFiled, true);
  }

  // One reading of the clock for the link record and the record's date and time.
  const TDateTime now = platform::Now();
  TEbcdic* conv = module.Ebcdic.get();
  if (cfg.CreateLink) {
    platform::DbDataSet& link = *module.LinkQuery;
    link.Append();
    link.FieldByName(u"ARCDOCID").SetAsString(platform::AnsiToWide(TqzVeroruvUdizive::GetComParam(answer, "DocId")));
    link.FieldByName(u"KQFKEY").SetAsString(GetFieldText(main, cfg.KqfKeyField, conv));
    link.FieldByName(u"KQFDOCTYPE").SetAsString(GetFieldText(main, u"ZDMDOC", conv));
    link.FieldByName(u"CREATIME").SetValue(Variant::FromDate(now));
    link.FieldByName(u"CREAUSER").SetAsString(module.UserName);
    link.Post();
  }

  int32_t result = 0;
  if (cfg.TestMode) {
    message = kTestMode;
    hasMessage = true;
    result = -2;
  } else {
    main.Edit();
    SetFieldText(main, u"ZDMADT", platform::FormatDateTime(u"yyyymmdd", now));
    SetFieldText(main, u"ZDMATM", platform::FormatDateTime(u"hhnnss", now));
    SetFieldText(main, u"ZDMSTS", kArchivedStatus);
    main.Post();
  }
  module.DeleteDocumentFiles();
  return result;
}
