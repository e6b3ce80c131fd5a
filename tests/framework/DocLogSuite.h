// The document log against real databases: the shipped DDL of qz_log/qz_meta and of the
// configuration store made with the database's own client, an installation whose data-link file
// points at that database, and every row checked with the client. Run on SQLite
// (qzConsoleToolsDocLog_test.cpp) and on a private MariaDB server
// (qzConsoleToolsDocLog_integration_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "InstalledStore.h"

namespace doclog_suite {

using installed_store::MariaDbBackend;
using installed_store::SqliteBackend;

template <class Backend>
class DocLogTest : public installed_store::InstalledStoreTest<Backend> {
 protected:
  // A log object with console and file output off.
  std::unique_ptr<TqzConsoleTools> Tools() {
    auto tools = std::make_unique<TqzConsoleTools>();
    tools->AsService = true;
    tools->LogToFile = false;
    tools->ServerTechName = u"ScanSvc";
    return tools;
  }
  // Stores the settings node's values.
  void Settings(const std::map<std::u16string, Variant>& values) { this->Store(u"/kesta/Software/Basics/Common", values); }
  std::vector<std::vector<std::string>> Meta(const std::string& docId) const {
    return this->Rows("SELECT FIELDNAME, FIELDVALUE FROM qz_meta WHERE DOCID = '" + docId + "' ORDER BY FIELDNAME");
  }
};

TYPED_TEST_SUITE_P(DocLogTest);

inline TqzMetaData Fields(const std::vector<std::pair<std::u16string, std::u16string>>& nameValues) {
  TqzMetaData data;
  for (const auto& [name, value] : nameValues) {
    TqzMetaField f;
    f.IntField = name;
    f.ExtField = name;
    f.Value = value;
    f.VarValue = Variant(value);
    data.push_back(f);
  }
  return data;
}

// Settings x event types: which calls succeed, which rows qz_log gets, what qz_meta holds after
// each event.
TYPED_TEST_P(DocLogTest, SettingsAndEventTypes) {
  struct Setting {
    bool log, meta;
  } settings[] = {{true, false}, {false, true}, {true, true}, {false, false}};
  using Meta = std::vector<std::vector<std::string>>;
  for (const auto& s : settings) {
    SCOPED_TRACE(std::string("log ") + (s.log ? "on" : "off") + ", meta " + (s.meta ? "on" : "off"));
    this->backend_.Cli("DELETE FROM qz_log; DELETE FROM qz_meta;");
    this->Settings({{u"DocLogCreate", Variant(s.log)}, {u"DocMetaCreate", Variant(s.meta)}});
    auto tools = this->Tools();
    TIdType doc("0123456789ABCDEF0123456789ABCDEF"), stack("FEDCBA9876543210FEDCBA9876543210");
    struct Event {
      TqzLogInfoType type;
      TqzMetaData data;
      Meta after;  // qz_meta with the metadata table on
    } events[] = {
        {qzLog_Create, Fields({{u"A", u"1"}, {u"B", u"2"}}), {{"A", "1"}, {"B", "2"}}},
        {qzLog_Modify, Fields({{u"A", u"3"}, {u"C", u"\u00e4\u20ac"}}), {{"A", "3"}, {"C", "\xC3\xA4\xE2\x82\xAC"}}},
        {qzLog_Info, Fields({{u"Z", u"9"}}), {{"A", "3"}, {"C", "\xC3\xA4\xE2\x82\xAC"}}},
        {qzLog_Delete, Fields({}), {}},
    };
    for (auto& e : events) {
      EXPECT_EQ(tools->DocLog(e.type, u"event", doc, stack, u"", u"", u"Capture", e.data), s.log);
      EXPECT_EQ(this->Meta(doc.str()), s.meta ? e.after : Meta{});
    }
    const auto rows = this->Rows("SELECT LOGTYPE, USERNAME, HOST, SERVICE, APPLICATION, LOGTEXT, STACKID FROM qz_log "
                                 "WHERE DOCID = '0123456789ABCDEF0123456789ABCDEF' ORDER BY CREATIONDATE, LOGTYPE");
    std::vector<std::string> types;
    for (const auto& r : rows) {
      types.push_back(r.at(0));
      EXPECT_EQ(r, (std::vector<std::string>{r[0], "system", "localhost", "scansvc", "capture", "event",
                                             "FEDCBA9876543210FEDCBA9876543210"}));
    }
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, s.log ? (std::vector<std::string>{"create", "delete", "info", "modify"}) : std::vector<std::string>{});
    EXPECT_EQ(tools->DocLogCount.load(), s.log ? 4u : 0u);
  }
}

// Missing settings are stored with their defaults; the defaults write qz_log only. A field with a
// META_ column goes there, others do not; user and address are lower-cased.
TYPED_TEST_P(DocLogTest, DefaultsAndMetaColumns) {
  this->backend_.Cli("ALTER TABLE qz_log ADD META_INVOICENO VARCHAR(40) NULL");
  auto tools = this->Tools();
  TIdType doc("11111111111111111111111111111111"), stack;
  TqzMetaData data = Fields({{u"InvoiceNo", u"R-4711"}, {u"Nowhere", u"x"}});
  EXPECT_TRUE(tools->DocLog(u"Verify", u"checked \u00fc", doc, stack, u"Scanner.Example", u"Maria", u"App", data,
                            qzLog_Verify));
  EXPECT_EQ(this->Rows("SELECT LOGTYPE, USERNAME, HOST, META_INVOICENO, LOGTEXT FROM qz_log"),
            (std::vector<std::vector<std::string>>{{"verify", "maria", "scanner.example", "R-4711", "checked \xC3\xBC"}}));
  EXPECT_EQ(tools->DocLogMetaFields(), std::vector<UnicodeString>{u"META_INVOICENO"});
  EXPECT_TRUE(this->Meta(doc.str()).empty());
  const auto stored = this->Rows("SELECT KEYNAME, KEYVALUE FROM qz_configuration WHERE DATATYPE <> 'TREE' AND "
                                 "KEYNAME LIKE 'Doc%' ORDER BY KEYNAME");
  EXPECT_EQ(stored, (std::vector<std::vector<std::string>>{
                        {"DocLogCreate", "True"}, {"DocLogLevel", "4"}, {"DocLogRetention", "30"}, {"DocMetaCreate", "False"}}));
  // While the metadata table is off the settings are read once, before the first row: a change in
  // the store reaches the next object.
  this->Settings({{u"DocLogLevel", Variant(2)}});
  EXPECT_TRUE(tools->DocLog(qzLog_Debug, u"dbg", doc, stack, u"", u"", u"", {}));
  EXPECT_EQ(this->Rows("SELECT COUNT(*) FROM qz_log WHERE LOGTYPE = 'debug'"), (std::vector<std::vector<std::string>>{{"1"}}));
  this->backend_.Cli("DELETE FROM qz_log WHERE LOGTYPE = 'debug';");
  // Level 2: a debug entry given as a type is filtered (true, nothing written); as a text it is written.
  tools = this->Tools();
  EXPECT_TRUE(tools->DocLog(qzLog_Debug, u"dbg", doc, stack, u"", u"", u"", {}));
  EXPECT_EQ(this->Rows("SELECT COUNT(*) FROM qz_log WHERE LOGTYPE = 'debug'"), (std::vector<std::vector<std::string>>{{"0"}}));
  EXPECT_TRUE(tools->DocLog(u"debug", u"dbg", doc, stack, u"", u"", u"", {}, qzLog_Debug));
  EXPECT_EQ(this->Rows("SELECT COUNT(*) FROM qz_log WHERE LOGTYPE = 'debug'"), (std::vector<std::vector<std::string>>{{"1"}}));
}

// Retention deletes exactly the rows older than the retention at the object's first row; 0 keeps all.
TYPED_TEST_P(DocLogTest, RetentionDeletesTheBackDatedRows) {
  for (int retention : {30, 0}) {
    SCOPED_TRACE(retention);
    this->backend_.Cli("DELETE FROM qz_log;");
    for (int days : {400, 31, 29, 1})
      this->backend_.Cli("INSERT INTO qz_log (DOCID, CREATIONDATE, LOGTYPE) VALUES ('OLD" + std::to_string(days) + "', " +
                         TypeParam::DaysAgo(days) + ", 'info');");
    this->Settings({{u"DocLogRetention", Variant(retention)}});
    auto tools = this->Tools();
    TIdType doc("NEW"), stack;
    ASSERT_TRUE(tools->DocLog(qzLog_Info, u"x", doc, stack, u"", u"", u"", {}));
    const auto rows = this->Rows("SELECT DOCID FROM qz_log ORDER BY CREATIONDATE");
    std::vector<std::string> ids;
    for (const auto& r : rows) ids.push_back(r.at(0));
    EXPECT_EQ(ids, retention == 30 ? (std::vector<std::string>{"OLD29", "OLD1", "NEW"})
                                   : (std::vector<std::string>{"OLD400", "OLD31", "OLD29", "OLD1", "NEW"}));
  }
}

// An insert that fails after the delete of a modify event leaves the old metadata.
TYPED_TEST_P(DocLogTest, FailedModifyKeepsTheOldMetadata) {
  this->backend_.Cli("CREATE UNIQUE INDEX qz_meta_unique ON qz_meta (DOCID, FIELDNAME);");
  this->Settings({{u"DocMetaCreate", Variant(true)}});
  auto tools = this->Tools();
  TIdType doc("22222222222222222222222222222222"), stack;
  ASSERT_TRUE(tools->DocLog(qzLog_Create, u"c", doc, stack, u"", u"", u"", Fields({{u"A", u"1"}, {u"B", u"2"}})));
  // The second field repeats the first one's name: its insert fails after the delete ran.
  EXPECT_FALSE(tools->DocLog(qzLog_Modify, u"m", doc, stack, u"", u"", u"", Fields({{u"A", u"5"}, {u"A", u"6"}})));
  EXPECT_EQ(this->Meta(doc.str()), (std::vector<std::vector<std::string>>{{"A", "1"}, {"B", "2"}}));
  // The object goes on working afterwards.
  EXPECT_TRUE(tools->DocLog(qzLog_Modify, u"m", doc, stack, u"", u"", u"", Fields({{u"A", u"7"}})));
  EXPECT_EQ(this->Meta(doc.str()), (std::vector<std::vector<std::string>>{{"A", "7"}}));
}

REGISTER_TYPED_TEST_SUITE_P(DocLogTest, SettingsAndEventTypes, DefaultsAndMetaColumns, RetentionDeletesTheBackDatedRows,
                            FailedModifyKeepsTheOldMetadata);

}  // namespace doclog_suite
