// The export run end to end, one table of cases run against a database backend (SQLite through
// its ODBC driver, or the private MariaDB server): a KQF database with one set of stapling
// records, a link database and an add-on database, the Python archive oracle as the server, the
// host's commands through TExportModule::Execute. Each case checks the result and message, the
// request items the oracle recorded, the KQF status columns and the link rows afterwards (read
// with the database's own command-line client) and which page files are left.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveOracle.h"
#include "Clock.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "qzBase64.h"
#include "qzExportService.h"
#include "qzkqfexport.h"

namespace exportrun {

// A database product for the cases: creates databases and runs SQL with its own client.
class Backend {
 public:
  virtual ~Backend() = default;
  // A new, empty database; returns its id.
  virtual std::string NewDatabase() = 0;
  virtual std::string ConnectionString(const std::string& db) = 0;  // UTF-8
  // The schema name placed before the KQF table names.
  virtual std::string Schema(const std::string& db) = 0;
  virtual std::string Exec(const std::string& db, const std::string& sql) = 0;
  // A string literal of this dialect.
  virtual std::string Quote(const std::string& text) = 0;
};

class SqliteBackend : public exportrun::Backend {
 public:
  std::string NewDatabase() override {
    dbs_.push_back(std::make_unique<qztest::SqliteDb>());
    return std::to_string(dbs_.size() - 1);
  }
  std::string ConnectionString(const std::string& db) override { return Db(db).ConnectionStringUtf8(); }
  std::string Schema(const std::string&) override { return "main"; }
  std::string Exec(const std::string& db, const std::string& sql) override { return Db(db).Exec(sql); }
  std::string Quote(const std::string& text) override {
    std::string out = "'";
    for (char c : text) {
      if (c == '\'') out += '\'';
      out += c;
    }
    return out + "'";
  }

 private:
  qztest::SqliteDb& Db(const std::string& id) { return *dbs_.at(std::stoul(id)); }
  std::vector<std::unique_ptr<qztest::SqliteDb>> dbs_;
};

using qztest::Hex;

struct KqfRow {
  int key;
  std::string barcode;
  std::string client;
  std::string doc;
  std::string tdt;
  int pages;
  std::string amount;          // ZDME01 AMOUNT
  std::string sup = "0";
  std::string tno = "NULL";    // SQL text
};

// The records every case sees; each case's barcode selects its own.
inline const std::vector<KqfRow>& Rows() {
  static const std::vector<KqfRow> rows = {
      {1, "4711", "100", "INV", "20240101090000", 2, "0000012345"},
      {2, "4711", "100", "INV", "20231201090000", 2, "5"},  // older record of the same barcode
      {3, "4713", "100", "XYZ", "20240101090000", 2, "1"},  // no assignment row for XYZ
      {4, "009991", "100", "INV", "20240201090000", 1, "12"},
      {5, "9990", "100", "INV", "20240101090000", 1, "000"},
      {6, "19990", "100", "INV", "20250101090000", 1, "1"},
      {7, "0777", "100", "INV", "20240101090000", 1, "77"},
      {8, "5000", "100", "INV", "20250101090000", 1, "8"},
      {9, "5000", "200", "INV", "20240101090000", 1, "9"},
      {10, "a'b\\c", "100", "INV", "20240101090000", 1, "10"},
      {11, "a'b\\\\c", "100", "INV", "20250101090000", 1, "11"},
      {12, "x'y", "100", "INV", "20240101090000", 1, "12"},
      {13, "6000", "100", "INV", "20240101090000", 1, "13", "1", "77"},
      {14, "4714", "100", "INV", "20240101090000", 6, "14"},
      {15, "6001", "100", "INV", "20240101090000", 1, "15", "1", "NULL"},
  };
  return rows;
}

struct Case {
  const char* name;
  std::string config;                  // tags added to the base configuration
  std::vector<std::u16string> index;   // command 400 entries
  int pages = 2;                       // page files created and passed
  bool missingPage = false;            // one more path that does not exist
  std::string fault = "none";          // oracle fault, or "down" (no server)
  int result = 0;
  std::u16string message;              // "{MISSING}" stands for the missing page's path;
                                       // a text ending in "*" is a prefix
  std::vector<std::string> items;      // expected request items before the page objects;
                                       // empty: no request expected
  int marked = 0;                      // the record key marked as archived (0: none)
  int linkKey = 0;                     // the record key of the one link row (0: none)
  bool pagesLeft = false;
};

const std::u16string kMsgNoBarcode = u"Der Barcode konnte nicht ermittelt werden - \u00fcberpr\u00fcfen Sie Ihre Anwendung!";
const std::u16string kMsgNoRecord = u" - Es wurde kein offener Barcode gefunden";
const std::u16string kMsgPages = u" - Die Seitenanzahl der Heftung stimmt nicht mit der in KQF \u00fcberein";
const std::u16string kMsgNoIndex = u" - Es wurden keine zugeh\u00f6rigen Indexdaten gefunden";
const std::u16string kMsgBadAnswer = u"Der Server gab eine ung\u00fcltige Antwort zur\u00fcck!";
const std::u16string kMsgNotFiled = u"Das Dokument konnte nicht abgelegt werden!";
const std::u16string kMsgTestMode =
    u"Testmodus ist aktiv - Heftungen und Datenbankeintr\u00e4ge werden nicht gel\u00f6scht oder ver\u00e4ndert!";

inline std::vector<std::string> Head(const std::string& barcodeEntry, std::vector<std::string> rest) {
  std::vector<std::string> out = {"Archive=ARC1", "Title=Rechnung M\xe4rz", "Index=true", barcodeEntry};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

// The mapped entries of record 1 (amount, date, zeros, EBCDIC with fill rule).
inline std::vector<std::string> Record1Items() {
  return {"IDXBETRAG=123,45", "IDXBELEGDATUM=06.05.2023", "IDXKUNDENNR=42", "IDXEBCFELD=00000042"};
}
inline std::vector<std::string> ItemsWithAmount(const std::string& amount) {
  return {"IDXBETRAG=" + amount, "IDXBELEGDATUM=06.05.2023", "IDXKUNDENNR=42", "IDXEBCFELD=00000042"};
}

inline const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"Archived", "", {u"Barcode=4711"}, 2, false, "none", 0, u"", Head("IDXBarcode=4711", Record1Items()), 1, 1},
      {"NoBarcode", "", {u"Other=1"}, 2, false, "none", -1, kMsgNoBarcode, {}, 0, 0, true},
      {"NoRecord", "", {u"BARCODE=9999"}, 2, false, "none", -2, u"9999" + kMsgNoRecord, {}, 0, 0},
      {"PageCountDiffers", "", {u"Barcode=4711"}, 3, false, "none", -2, u"4711" + kMsgPages, {}, 0, 0},
      {"DoubledPageCountRefused", "", {u"Barcode=4714"}, 3, false, "none", -2, u"4714" + kMsgPages, {}, 0, 0},
      {"DoubledPageCountAllowed", "<ALLOWDOUBLPC=ja>", {u"Barcode=4714"}, 3, false, "none", 0, u"",
       Head("IDXBarcode=4714", ItemsWithAmount("0,14")), 14, 14},
      {"PageCheckOffNoPages", "<CHKPAGECOUNT=nein>", {u"Barcode=4711"}, 0, false, "none", 0, u"",
       Head("IDXBarcode=4711", Record1Items()), 1, 1},
      {"NoIndexData", "", {u"Barcode=4713"}, 2, false, "none", -2, u"4713" + kMsgNoIndex, {}, 0, 0},
      {"PageCannotBeAdded", "<CHKPAGECOUNT=False>", {u"Barcode=4711"}, 2, true, "none", -2,
       u"Objekt {MISSING} kann nicht hinzugef\u00fcgt werden!", {}, 0, 0},
      {"ServerClosesWithoutAnswer", "", {u"Barcode=4711"}, 2, false, "close", -1, kMsgBadAnswer,
       Head("IDXBarcode=4711", Record1Items()), 0, 0},
      {"ServerDown", "", {u"Barcode=4711"}, 2, false, "down", -1, kMsgBadAnswer, {}, 0, 0},
      {"ServerRefuses", "", {u"Barcode=4711"}, 2, false, "error", -1, kMsgNotFiled,
       Head("IDXBarcode=4711", Record1Items()), 0, 0},
      {"TestMode", "<TESTMODE=x>", {u"Barcode=4711"}, 2, false, "none", -2, kMsgTestMode,
       Head("IDXBarcode=4711", Record1Items()), 0, 1},
      {"UnexpectedError", "<KQFTABLENAME=NOSUCHTABLE>", {u"Barcode=4711"}, 2, false, "none", -1,
       u"Unexpected error occured (EOleException - *", {}, 0, 0},
      {"RecordKeyWins", "", {u"Barcode=4711", u"kqfkey=2"}, 2, false, "none", 0, u"",
       Head("IDXBarcode=4711", ItemsWithAmount("0,05")), 2, 2},
      {"RecordKeyNotFound", "", {u"Barcode=4711", u"KQFKEY=99"}, 2, false, "none", -2, u"4711" + kMsgNoRecord,
       {}, 0, 0},
      {"UnsharpWithPrefix", "<UNSHARP=True><BCPREFIX=00>", {u"Barcode=999"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=999", ItemsWithAmount("0,12")), 4, 4},
      {"ExactNeedsWholeBarcode", "<BCPREFIX=00>", {u"Barcode=999"}, 1, false, "none", -2, u"999" + kMsgNoRecord,
       {}, 0, 0},
      {"ExactWithSecondPrefix", "<BCPREFIX=00, 0>", {u"Barcode=777"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=777", ItemsWithAmount("0,77")), 7, 7},
      {"ClientAndDocTypes", "<CLIENT=200><DOCTYPE=CRN, INV>", {u"Barcode=5000"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=5000", ItemsWithAmount("0,09")), 9, 9},
      {"DocTypeFilter", "<DOCTYPE=XYZ>", {u"Barcode=5000"}, 1, false, "none", -2, u"5000" + kMsgNoRecord, {}, 0, 0},
      {"ClientFromHost", "", {u"Barcode=5000", u"MANDT=200"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=5000", ItemsWithAmount("0,09")), 9, 9},
      {"QuoteAndBackslash", "", {u"Barcode=a'b\\c"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=a'b\\c", ItemsWithAmount("0,10")), 10, 10},
      {"DoubleQuoteBecomesSingle", "", {u"Barcode=x\"y"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=x\"y", ItemsWithAmount("0,12")), 12, 12},
      {"SupplementRecord", "", {u"Barcode=6000"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=6000", {"IDXBETRAG=0,13", "IDXBELEGDATUM=06.05.2023", "IDXKUNDENNR=42",
                                "IDXEBCFELD=00000042", "IDXSUPFELD=S-40", "IDXSUPFELD=S-40", "IDXSUPFELD=lower",
                                "IDXSUPFELD=lower"}),
       13, 13},
      {"SupplementWithoutNumber", "", {u"Barcode=6001"}, 1, false, "none", 0, u"",
       Head("IDXBarcode=6001", ItemsWithAmount("0,15")), 15, 15},
      {"AddonLookup", "<AOENABLED=True><ADDONSELECT=ZDMMNU,ZDMV03;KDNR><ADDONSELECT=ZDMDOC;>",
       {u"Barcode=4711", u"KUNDE=Host"}, 2, false, "none", 0, u"",
       Head("IDXBarcode=4711", {"IDXKUNDE=Host Alpha Beta", "IDXBETRAG=123,45", "IDXBELEGDATUM=06.05.2023",
                                "IDXKUNDENNR=42", "IDXEBCFELD=00000042"}),
       1, 1},
      {"AddonWithoutConditions", "<AOENABLED=True><ADDONSELECT=ZDMV03; >", {u"Barcode=4711"}, 2, false, "none", 0,
       u"", Head("IDXBarcode=4711", Record1Items()), 1, 1},
      // Columns the run needs after archiving are checked before anything is sent.
      {"KeyFieldMissing", "<KQFKEYFIELD=ZDMKEYX>", {u"Barcode=4711"}, 2, false, "none", -1,
       u"Die Spalte ZDMKEYX (KQFKEYFIELD) fehlt in der KQF-Tabelle *", {}, 0, 0},
      {"KeyFieldUnusedWithoutLink", "<KQFKEYFIELD=ZDMKEYX><CREATELINK=False>", {u"Barcode=4711"}, 2, false, "none",
       0, u"", Head("IDXBarcode=4711", Record1Items()), 1, 0},
      {"StatusColumnMissing", "<KQFTABLENAME=ZDMNOSTS>", {u"Barcode=4711"}, 2, false, "none", -1,
       u"Die Spalte ZDMSTS fehlt in der KQF-Tabelle *", {}, 0, 0},
      {"StatusColumnUnusedInTestMode", "<KQFTABLENAME=ZDMNOSTS><TESTMODE=x>", {u"Barcode=4711"}, 2, false, "none",
       -2, kMsgTestMode, Head("IDXBarcode=4711", Record1Items()), 0, 1},
  };
  return cases;
}

inline std::string CaseName(const testing::TestParamInfo<size_t>& info) { return Cases()[info.param].name; }

// A loopback port nobody listens on.
inline int ClosedPort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

struct Host {
  TExportModule module;
  std::vector<char16_t> param = std::vector<char16_t>(QZWE_PARAM_CAPACITY, 0);
  std::vector<char16_t> msg = std::vector<char16_t>(QZWE_MSG_CAPACITY, 0);

  int32_t Send(int32_t command, const std::u16string& text = u"") {
    std::copy(text.begin(), text.end(), param.begin());
    param[text.size()] = 0;
    msg[0] = 0;
    return module.Execute(command, param.data(), 0, msg.data());
  }
  std::u16string Msg() const { return std::u16string(msg.data()); }
};

inline void CreateTables(Backend& db, const std::string& kqf, const std::string& link, const std::string& addon) {
  db.Exec(kqf,
          "CREATE TABLE ZDMNNCI (ZDMKEY INTEGER NOT NULL, ZDMNBC VARCHAR(40), ZDMMNU VARCHAR(3), ZDMDOC VARCHAR(10),"
          " ZDMTDT VARCHAR(14), ZDMPAG INTEGER, ZDMSUP VARCHAR(1), ZDMTNO INTEGER, ZDMADT VARCHAR(8),"
          " ZDMATM VARCHAR(6), ZDMSTS VARCHAR(1), ZDME01 VARCHAR(10), ZDMV01 VARCHAR(40), ZDME02 VARCHAR(10),"
          " ZDMV02 VARCHAR(40), ZDME03 VARCHAR(10), ZDMV03 VARCHAR(40), ZDME04 VARCHAR(10), ZDMV04 VARBINARY(40));"
          "CREATE INDEX ZDMNNCI_BC ON ZDMNNCI (ZDMNBC);"
          "CREATE TABLE ZDMNNCID (ZDMDNO INTEGER, ZDME33 VARCHAR(10), ZDMV33 VARCHAR(40), ZDME40 VARCHAR(10),"
          " ZDMV40 VARCHAR(40), ZDME64 VARCHAR(10), ZDMV64 VARCHAR(40));");
  std::string sql;
  for (const KqfRow& r : Rows()) {
    sql += "INSERT INTO ZDMNNCI VALUES (" + std::to_string(r.key) + ", " + db.Quote(r.barcode) + ", " +
           db.Quote(r.client) + ", " + db.Quote(r.doc) + ", " + db.Quote(r.tdt) + ", " + std::to_string(r.pages) +
           ", " + db.Quote(r.sup) + ", " + r.tno + ", '00000000', '000000', 'O', 'amount', " + db.Quote(r.amount) +
           ", ' Datum ', '20230506', 'KDNR', '  0042', 'EBC', X'" + Hex("\xF0\xF0\xF4\xF2\x40\x40") + "');";
  }
  db.Exec(kqf, sql);
  // The same records in a table without the status column.
  db.Exec(kqf,
          "CREATE TABLE ZDMNOSTS (ZDMKEY INTEGER NOT NULL, ZDMNBC VARCHAR(40), ZDMMNU VARCHAR(3), ZDMDOC VARCHAR(10),"
          " ZDMTDT VARCHAR(14), ZDMPAG INTEGER, ZDMSUP VARCHAR(1), ZDMTNO INTEGER, ZDMADT VARCHAR(8),"
          " ZDMATM VARCHAR(6), ZDME01 VARCHAR(10), ZDMV01 VARCHAR(40), ZDME02 VARCHAR(10),"
          " ZDMV02 VARCHAR(40), ZDME03 VARCHAR(10), ZDMV03 VARCHAR(40), ZDME04 VARCHAR(10), ZDMV04 VARBINARY(40));"
          "INSERT INTO ZDMNOSTS SELECT ZDMKEY, ZDMNBC, ZDMMNU, ZDMDOC, ZDMTDT, ZDMPAG, ZDMSUP, ZDMTNO, ZDMADT, ZDMATM,"
          " ZDME01, ZDMV01, ZDME02, ZDMV02, ZDME03, ZDMV03, ZDME04, ZDMV04 FROM ZDMNNCI;");
  db.Exec(kqf,
          "INSERT INTO ZDMNNCID VALUES (77, 'UNMAPPED', 'u', 'NR40', 'S-40', 'nr40', 'lower');"
          "INSERT INTO ZDMNNCID VALUES (78, 'NR40', 'wrong', 'NR40', 'wrong', NULL, NULL);");
  db.Exec(link,
          "CREATE TABLE VYRKQFLINK (ARCDOCID VARCHAR(40), KQFKEY VARCHAR(20), KQFDOCTYPE VARCHAR(10),"
          " CREATIME TIMESTAMP NULL, CREAUSER VARCHAR(64));");
  db.Exec(addon,
          "CREATE TABLE ADDON (KDNR VARCHAR(20), NAME VARCHAR(40));"
          "INSERT INTO ADDON VALUES ('100  0042', 'Alpha');"
          "INSERT INTO ADDON VALUES ('100  0042', 'Beta');"
          "INSERT INTO ADDON VALUES ('200  0042', 'Gamma');"
          "INSERT INTO ADDON VALUES ('100', 'Delta');");
}

inline std::string BaseConfig(Backend& db, const std::string& kqf, const std::string& link, const std::string& addon,
                              int port) {
  return "<CONFIG><DOCSERVER=127.0.0.1><DOCSERVERPORT=" + std::to_string(port) + "><KQFDBCONSTR=" +
         db.ConnectionString(kqf) + "><KQFDBNAME=" + db.Schema(kqf) + "><LINKCONSTR=" + db.ConnectionString(link) +
         "><CREATELINK=True><AODBCONSTR=" + db.ConnectionString(addon) +
         "><AOTABLE=ADDON>"
         "<ASSIGN=INV;AMOUNT;BETRAG;;;x>"
         "<ASSIGN=INV;DATUM;BELEGDATUM;ja>"
         "<ASSIGN=INV;KDNR;KUNDENNR;;;;x>"
         "<ASSIGN=inv;KDNR;KLEIN>"
         "<ASSIGN=INV;EBC;EBCFELD;;;;;8;x>"
         "<ASSIGN=INV;NR40;SUPFELD>"
         "<ASSIGN=INV;NR40;SUPFELD;;;;;;>"
         "<ASSIGN=XYZ;NR40;SUPFELD;;AddOn>"
         "<ASSIGN=;NAME;KUNDE;;AddOn>";
}

inline void RunCase(Backend& db, const Case& c) {
  // A fixed clock in UTC: 2024-03-05 14:07:09.
  setenv("TZ", "UTC", 1);
  tzset();
  platform::SetClock([] { return std::chrono::system_clock::time_point(std::chrono::seconds(1709647629)); });

  const std::string kqf = db.NewDatabase(), link = db.NewDatabase(), addon = db.NewDatabase();
  CreateTables(db, kqf, link, addon);

  qztest::ArchiveOracle oracle;
  int port = ClosedPort();
  if (c.fault != "down") {
    oracle.Start(c.fault);
    port = oracle.Port();
  }

  qztest::TempDir dir("qzexportrun");
  std::vector<std::string> pages;
  std::vector<std::string> contents;
  for (int i = 1; i <= c.pages; ++i) {
    pages.push_back(dir.Path() + "/page" + std::to_string(i) + ".TIF");
    contents.push_back("page " + std::to_string(i) + " \x01\xff<>=bytes");
    std::ofstream(pages.back(), std::ios::binary) << contents.back();
  }
  const std::string missing = dir.Path() + "/missing.tif";
  if (c.missingPage) pages.push_back(missing);

  Host host;
  ASSERT_EQ(host.Send(QZWE_CMD_INIT, u"test host"), 0);
  std::string config = BaseConfig(db, kqf, link, addon, port);
  const auto tail = config.find("<ASSIGN=");
  config.insert(tail, c.config);
  config += "</CONFIG>";
  ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, platform::Utf8ToWide(config)), 0) << platform::WideToUtf8(host.Msg());
  ASSERT_EQ(host.Send(QZWE_CMD_NEWDOCUMENT), 0);
  ASSERT_EQ(host.Send(QZWE_CMD_SETARCHIVE, u"ARC1"), 0);
  ASSERT_EQ(host.Send(QZWE_CMD_SETTITLE, u"Rechnung M\u00e4rz"), 0);
  for (const auto& entry : c.index) ASSERT_EQ(host.Send(QZWE_CMD_ADDINDEX, entry), 0);
  for (const auto& page : pages) ASSERT_EQ(host.Send(QZWE_CMD_ADDFILE, platform::Utf8ToWide(page)), 0);

  const int32_t result = host.Send(QZWE_CMD_EXPORT);
  platform::ResetClock();

  // Result and message.
  EXPECT_EQ(result, c.result);
  std::u16string expectedMsg = c.message;
  const auto at = expectedMsg.find(u"{MISSING}");
  if (at != std::u16string::npos) expectedMsg.replace(at, 9, platform::Utf8ToWide(missing));
  if (!expectedMsg.empty() && expectedMsg.back() == u'*') {
    expectedMsg.pop_back();
    EXPECT_EQ(host.Msg().substr(0, expectedMsg.size()), expectedMsg) << platform::WideToUtf8(host.Msg());
  } else {
    EXPECT_EQ(host.Msg(), expectedMsg) << platform::WideToUtf8(host.Msg());
  }
  // The run's record key and barcode are cleared, whatever the outcome.
  EXPECT_EQ(host.module.RecordKey, u"");
  EXPECT_EQ(host.module.Barcode, u"");

  // The request as the archive received it.
  const auto requests = c.items.empty() ? (c.fault == "down" ? std::vector<qztest::ArchiveRequest>{} : oracle.Requests())
                                        : oracle.WaitForRequests(1);
  if (c.items.empty()) {
    EXPECT_TRUE(requests.empty());
  } else {
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Type, "CREATEDOCEXT");
    EXPECT_EQ(requests[0].Enc, "mime");
    EXPECT_EQ(requests[0].Comp, "false");
    std::vector<std::string> expected = c.items;
    for (const auto& content : contents) expected.push_back("obj(tif)=" + content);
    EXPECT_EQ(requests[0].Items, expected);
  }

  // The KQF records: only the exported one carries the archiving date, time and status.
  std::string expectedRows;
  for (const KqfRow& r : Rows()) {
    expectedRows += std::to_string(r.key) +
                    (r.key == c.marked ? "\t20240305\t140709\t\xc3\xb0\n" : "\t00000000\t000000\tO\n");
  }
  EXPECT_EQ(db.Exec(kqf, "SELECT ZDMKEY, ZDMADT, ZDMATM, ZDMSTS FROM ZDMNNCI ORDER BY ZDMKEY;"), expectedRows);
  std::string expectedBarcodes;
  for (const KqfRow& r : Rows()) expectedBarcodes += Hex(r.barcode) + "\n";
  EXPECT_EQ(db.Exec(kqf, "SELECT HEX(ZDMNBC) FROM ZDMNNCI ORDER BY ZDMKEY;"), expectedBarcodes);

  // The link record.
  const auto links = qztest::SplitRows(
      db.Exec(link, "SELECT KQFKEY, KQFDOCTYPE, CREAUSER, ARCDOCID, CREATIME FROM VYRKQFLINK;"));
  if (c.linkKey == 0) {
    EXPECT_TRUE(links.empty());
  } else {
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0][0], std::to_string(c.linkKey));
    EXPECT_EQ(links[0][1], "INV");
    EXPECT_EQ(links[0][2], platform::WideToUtf8(host.module.UserName));
    EXPECT_FALSE(host.module.UserName.empty());
    EXPECT_EQ(links[0][3].size(), 32u);
    ASSERT_FALSE(requests.empty());
    // The archive's document id as the answer carried it.
    EXPECT_NE(requests[0].Answer.find("<" + TqzBase64::StrToBase64("DocId=" + links[0][3]) + ">"), std::string::npos);
    EXPECT_EQ(links[0][4].substr(0, 19), "2024-03-05 14:07:09");
  }

  // Page files: kept only when the barcode could not be determined.
  for (size_t i = 0; i < contents.size(); ++i) {
    EXPECT_EQ(std::filesystem::exists(pages[i]), c.pagesLeft) << pages[i];
  }
  ASSERT_EQ(host.Send(QZWE_CMD_DONE), 0);
}

}  // namespace exportrun
