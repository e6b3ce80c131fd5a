// The configuration store on SQLite (through its ODBC driver), and the parts of the store that
// need no database: key forms and the key cache's rules.
#include "ConfigStoreSuite.h"
#include "qzKesta.h"
#include "qzRegistry.h"

namespace {

using namespace config_suite;

TEST(ConfigStoreSqlite, StatementTable) { RunStatementTable<SqliteBackend>(); }


TEST(ConfigStoreSqlite, CacheComparesAsTheCollation) { RunCacheCollation<SqliteBackend>(); }
TEST(ConfigStoreSqlite, TwoProcessesCreateOnePathOnce) { RunConcurrentCreation<SqliteBackend>(); }
TEST(ConfigStoreSqlite, ChangeSignalReachesTheOtherProcess) { RunChangeSignal<SqliteBackend>(); }
TEST(ConfigStoreChild, Run) { RunChild(); }


// ---------------------------------------------------------------------------------------------
// Key forms

TEST(ConfigKeys, Forms) {
  struct Row {
    const char16_t* key;
    const char16_t* prepared;
    const char16_t* visible;
    const char16_t* namedRel;
    const char16_t* nextLower;
  };
  const std::vector<Row> rows = {
      {u"/a/b", u"a/b/", u"/a/b", u"a/b", u"/a"},
      {u"a/b/", u"a/b/", u"/a/b", u"a/b", u"/a"},
      {u"  /a/b/c \t", u"a/b/c/", u"/a/b/c", u"a/b/c", u"/a/b"},
      {u"//a", u"/a/", u"//a", u"/a", u""},
      {u"/", u"", u"", u"", u""},
      {u"", u"", u"", u"", u""},
      {u"/a", u"a/", u"/a", u"a", u""},
      {u"/x%2Fy/z", u"x%2Fy/z/", u"/x%2Fy/z", u"x%2Fy/z", u"/x%2Fy"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.key));
    EXPECT_EQ(U8(TqzConfigManager::PrepareKey(r.key)), U8(r.prepared));
    EXPECT_EQ(U8(TqzConfigManager::Convert2VisKey(r.key)), U8(r.visible));
    EXPECT_EQ(U8(TqzConfigManager::Convert2NamedRelKey(r.key)), U8(r.namedRel));
    EXPECT_EQ(U8(TqzConfigManager::GetNextLowerKey(r.key)), U8(r.nextLower));
  }
  EXPECT_EQ(U8(TqzConfigManager::EncodeKeyPart(u"a/b/c")), "a%2Fb%2Fc");
  EXPECT_EQ(U8(TqzConfigManager::DecodeKeyPart(u"a%2Fb%2fc")), "a/b%2fc");  // upper-case F only
  EXPECT_EQ(U8(TqzConfigManager::N7PathToWindowsPath(u"/kesta/Software/x")), "\\kesta\\Software\\x");
  EXPECT_EQ(U8(TqzConfigManager::N7PathToWindowsPath(u"plain")), "plain");
}

TEST(ConfigKeys, Compare) {
  struct Row {
    const char16_t* pattern;
    const char16_t* key;
    TqzKeyCompareResult result;
  };
  const std::vector<Row> rows = {
      {u"/a/*", u"/a/x", qzKCR_Identical},
      {u"/a/x", u"/a/x/", qzKCR_Identical},
      {u"/a", u"/a/x", qzKCR_OneLevelLower},
      {u"/*", u"/a/x", qzKCR_OneLevelLower},
      {u"/a", u"/a/x/y", qzKCR_MoreThanOneLevelLower},
      {u"/a/x", u"/a", qzKCR_NoMatch},
      {u"/A", u"/a", qzKCR_NoMatch},
      {u"/a/b", u"/a/c", qzKCR_NoMatch},
      {u"/a/b", u"/c/b/d", qzKCR_NoMatch},
      {u"/a", u"/*", qzKCR_NoMatch},  // "*" is a wildcard in the pattern only
      {u"", u"", qzKCR_NoMatch},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.pattern) + " vs " + U8(r.key));
    EXPECT_EQ(TqzConfigManager::CompareKeys(r.pattern, r.key), r.result);
  }
}

// ---------------------------------------------------------------------------------------------
// The key cache's rules, with the tick source in the test's hand

class ConfigCacheRules : public ::testing::Test {
 protected:
  StoreEnvironment environment;
  SqliteBackend b;
  std::atomic<uint32_t> now{1000};
  std::unique_ptr<TqzConfigManager> store;
  const TIdType id{"11111111111111111111111111111111"};

  void SetUp() override {
    TqzConfigManager::SetTickSource([this] { return now.load(); });
    store = std::make_unique<TqzConfigManager>(false, b.ConnectionString(), u"qz_configuration");
    UnicodeString key;
    store->GetCacheKeyById(id, key);  // resolves the class nodes once
    store->InitCache();
  }
  bool Has(const char16_t* key) {
    TIdType found;
    return store->GetCacheKeyId(key, found, false);
  }
};

TEST_F(ConfigCacheRules, LeaseExpiresOnLookup) {
  store->CacheLeaseTime = 500;
  ASSERT_TRUE(store->SetCacheKeyId(u"/a/b", id));
  EXPECT_FALSE(store->SetCacheKeyId(u"a/b/", id));  // already there
  now += 499;
  EXPECT_TRUE(Has(u"a/b/"));
  now += 1;
  EXPECT_FALSE(Has(u"a/b/"));
  now -= 1;  // the expired entry was dropped by the lookup, not just hidden
  EXPECT_FALSE(Has(u"a/b/"));
  EXPECT_TRUE(store->SetCacheKeyId(u"a/b/", id));
}

TEST_F(ConfigCacheRules, FullCacheStoresNothingMoreUntilAnEntryGoes) {
  ASSERT_EQ(store->CacheSize, 1000);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(store->SetCacheKeyId(u"/k" + U16(std::to_string(i)), id)) << i;
  }
  EXPECT_FALSE(store->SetCacheKeyId(u"/extra", id));
  EXPECT_TRUE(store->RemoveKeyFromCache(u"/k17"));
  EXPECT_TRUE(store->SetCacheKeyId(u"/extra", id));
  EXPECT_TRUE(Has(u"extra/"));
  EXPECT_FALSE(store->SetCacheKeyId(u"/extra2", id));
}

TEST_F(ConfigCacheRules, RemoveTakesTheNodeAndEverythingBelow) {
  for (const char16_t* key : {u"a/b/", u"a/b/c/", u"a/bc/", u"a/"}) ASSERT_TRUE(store->SetCacheKeyId(key, id));
  store->RemoveKeyFromCache(u"/a/b");
  EXPECT_FALSE(Has(u"a/b/"));
  EXPECT_FALSE(Has(u"a/b/c/"));
  EXPECT_TRUE(Has(u"a/bc/"));
  EXPECT_TRUE(Has(u"a/"));
  store->RemoveKeyFromCache(u"");  // removes nothing
  EXPECT_TRUE(Has(u"a/"));
  store->RemoveKeyIdFromCache(id);
  EXPECT_FALSE(Has(u"a/"));
  EXPECT_FALSE(Has(u"a/bc/"));
}

TEST_F(ConfigCacheRules, DisabledCacheNeitherStoresNorFinds) {
  ASSERT_TRUE(store->SetCacheKeyId(u"a/", id));
  store->CacheEnabled = false;
  EXPECT_FALSE(Has(u"a/"));
  EXPECT_FALSE(store->SetCacheKeyId(u"b/", id));
  UnicodeString key;
  EXPECT_FALSE(store->GetCacheKeyById(id, key));
  // Resolution walks the table every time: a node created by another writer is found at once.
  ASSERT_TRUE(store->SetConfigValue(u"/t/u", u"V", Variant(int32_t{1})));
  const TIdType node = store->GetParentTreeId(u"/t/u", false, false);
  b.Cli("UPDATE qz_configuration SET ID = 'FEEDFEEDFEEDFEEDFEEDFEEDFEEDFEED' WHERE ID = '" + node.str() + "'");
  EXPECT_EQ(store->GetParentTreeId(u"/t/u", false, false).str(), "FEEDFEEDFEEDFEEDFEEDFEEDFEEDFEED");
  store->CacheEnabled = true;
  EXPECT_FALSE(Has(u"t/u/"));
}

TEST_F(ConfigCacheRules, ResolutionFillsTheCacheSoAWarmReadIsOneStatement) {
  ASSERT_TRUE(store->SetConfigValue(u"/p1/p2/p3/p4/p5", u"V", Variant(int32_t{1})));
  store->InitCache();
  auto before = store->StatementCounts();
  EXPECT_EQ(Show(store->GetConfigValue(u"/p1/p2/p3/p4/p5", u"V", Variant(), false)), "INT64:1");
  EXPECT_EQ(store->StatementCounts().Statements - before.Statements, 6u);  // five parts and the value
  before = store->StatementCounts();
  EXPECT_EQ(Show(store->GetConfigValue(u"/p1/p2/p3/p4/p5", u"V", Variant(), false)), "INT64:1");
  EXPECT_EQ(store->StatementCounts().Statements - before.Statements, 1u);
  // A sibling below cached prefixes walks only the missing part.
  ASSERT_TRUE(store->SetConfigValue(u"/p1/p2/p3/p4/q5", u"V", Variant(int32_t{2})));
  store->InitCache();
  for (const char16_t* prefix : {u"/p1", u"/p1/p2", u"/p1/p2/p3", u"/p1/p2/p3/p4"}) {
    EXPECT_FALSE(store->GetParentTreeId(prefix, false, false).empty());
  }
  before = store->StatementCounts();
  EXPECT_EQ(Show(store->GetConfigValue(u"/p1/p2/p3/p4/q5", u"V", Variant(), false)), "INT64:2");
  EXPECT_EQ(store->StatementCounts().Statements - before.Statements, 2u);
}

// ---------------------------------------------------------------------------------------------
// Writes: the unchanged-write skip, locale independence, change columns

TEST(ConfigStoreWrites, UnchangedWritesSendNoWrite) {
  StoreEnvironment environment;
  SqliteBackend b;
  TqzConfigManager store(false, b.ConnectionString(), u"qz_configuration");
  const TDateTime when = platform::EncodeDate(2023, 5, 6) + platform::EncodeTime(7, 8, 9, 0);
  struct Row {
    const char* what;
    std::function<bool()> write;
    uint64_t writesOnRepeat;
  };
  const std::vector<Row> rows = {
      {"integer", [&] { return store.SetConfigValue(u"/w", u"I", Variant(int32_t{42})); }, 0},
      {"double", [&] { return store.SetConfigValue(u"/w", u"F", Variant(1234.5)); }, 0},
      {"date", [&] { return store.SetConfigValue(u"/w", u"D", Variant::FromDate(when)); }, 0},
      {"text", [&] { return store.SetConfigValue(u"/w", u"T", Variant(UnicodeString(u"Grüße"))); }, 0},
      {"typed, same spelling", [&] { return store.SetConfigValue(u"/w", u"S", Variant(int32_t{1}), u"INT"); }, 0},
      {"typed lower case", [&] { return store.SetConfigValue(u"/w", u"L", Variant(int32_t{1}), u"int"); }, 1},
      {"binary", [&] { return store.SetConfigValue(u"/w", u"B", Variant(UnicodeString(u"QUJD")), u"BINARY"); }, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    ASSERT_TRUE(r.write());
    // The same value again, now under German formats: the stored text is the same.
    platform::SetFormatSettings(platform::FormatSettingsForLocale("de_DE"));
    const auto before = store.StatementCounts();
    ASSERT_TRUE(r.write());
    EXPECT_EQ(store.StatementCounts().Writes - before.Writes, r.writesOnRepeat);
  }
  EXPECT_EQ(b.Cli("SELECT KEYNAME, DATATYPE, KEYVALUE FROM qz_configuration WHERE KEYNAME IN ('I','F','D','T','S','L','B') "
                  "ORDER BY KEYNAME"),
            "B\tBINARY\tQUJD\nD\tDATE\t2023-05-06 07:08:09\nF\tDOUBLE\t1234.50\nI\tINT\t42\nL\tINT\t1\nS\tINT\t1\n"
            "T\tUCS4STR\tGrüße\n");
  // Read back under German formats, the values are what was written.
  EXPECT_EQ(store.GetConfigValue(u"/w", u"F", Variant(), false).AsDouble(), 1234.5);
  EXPECT_EQ(store.GetConfigValue(u"/w", u"D", Variant(), false).AsDateTime(), when);
}

TEST(ConfigStoreWrites, ChangeColumnsAndUserContent) {
  StoreEnvironment environment;
  SqliteBackend b;
  TqzConfigManager store(false, b.ConnectionString(), u"qz_configuration");
  ASSERT_EQ(store.TableStructureType, TST_V2);
  const TDateTime when = platform::EncodeDate(2022, 1, 2) + platform::EncodeTime(3, 4, 5, 0);
  // A program's write leaves the change columns empty; a tracked user's write fills them.
  ASSERT_TRUE(store.SetConfigValue(u"/u", u"Prog", Variant(int32_t{1})));
  ASSERT_TRUE(store.SetConfigValue(u"/u", u"User", Variant(int32_t{1}), u"INT", u"jdoe", when, true));
  ASSERT_TRUE(store.SetConfigValue(u"/u", u"Empty", Variant(int32_t{1}), u"INT", u"", when, true));
  EXPECT_EQ(b.Cli("SELECT KEYNAME, COALESCE(CHANGEUSER, '-'), COALESCE(CHANGEDATE, '-') FROM qz_configuration "
                  "WHERE KEYNAME IN ('Prog', 'User', 'Empty') ORDER BY KEYNAME"),
            "Empty\t-\t-\nProg\t-\t-\nUser\tjdoe\t2022-01-02 03:04:05.000\n");
  EXPECT_FALSE(store.ConfigValueChangedByUser(u"/u", u"Prog"));
  EXPECT_TRUE(store.ConfigValueChangedByUser(u"/u", u"User"));
  // KeepUserContent keeps the user's value and overwrites the program's.
  EXPECT_TRUE(store.SetConfigValue(u"/u", u"User", Variant(int32_t{2}), true));
  EXPECT_TRUE(store.SetConfigValue(u"/u", u"Prog", Variant(int32_t{2}), true));
  EXPECT_EQ(Show(store.GetConfigValue(u"/u", u"User", Variant(), false)), "INT64:1");
  EXPECT_EQ(Show(store.GetConfigValue(u"/u", u"Prog", Variant(), false)), "INT64:2");
  // TrackChanges fills them with the store's user for every write.
  store.TrackChanges = true;
  store.Username = u"svc@example";
  ASSERT_TRUE(store.SetConfigValue(u"/u", u"Prog", Variant(int32_t{3})));
  EXPECT_EQ(b.Cli("SELECT CHANGEUSER FROM qz_configuration WHERE KEYNAME = 'Prog'"), "svc@example\n");
}

// ---------------------------------------------------------------------------------------------
// Layout, construction settings, errors and the connection check

TEST(ConfigStoreConnection, LayoutProbe) {
  StoreEnvironment environment;
  struct Row {
    const char* ddl;
    TTableStructureType layout;
  };
  const std::vector<Row> rows = {
      {"CREATE TABLE qz_configuration (ID VARCHAR(32) PRIMARY KEY, PARENTID VARCHAR(32), KEYNAME VARCHAR(255), "
       "DIMENSION INTEGER, DATATYPE VARCHAR(8), KEYVALUE TEXT, CHANGEUSER VARCHAR(255), CHANGEDATE DATETIME)",
       TST_V2},
      {"CREATE TABLE qz_configuration (ID VARCHAR(32) PRIMARY KEY, PARENTID VARCHAR(32), KEYNAME VARCHAR(255), "
       "DIMENSION INTEGER, DATATYPE VARCHAR(8), KEYVALUE TEXT, CHANGEUSER VARCHAR(255))",
       TST_V1},
      {"CREATE TABLE qz_configuration (ID VARCHAR(32) PRIMARY KEY, PARENTID VARCHAR(32), KEYNAME VARCHAR(255), "
       "DATATYPE VARCHAR(8), KEYVALUE TEXT)",
       TST_V1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.ddl);
    qztest::SqliteDb db;
    db.Exec(r.ddl);
    TqzConfigManager store(false, db.ConnectionString(), u"qz_configuration");
    EXPECT_EQ(store.TableStructureType, r.layout);
    // Values work on either layout; change columns only where they exist.
    store.TrackChanges = true;
    EXPECT_TRUE(store.SetConfigValue(u"/l", u"V", Variant(int32_t{1}))) << U8(store.Message);
    EXPECT_EQ(store.ConfigValueChangedByUser(u"/l", u"V"), r.layout == TST_V2);
  }
  // Without the table the layout stays undecided; the probe runs again after a rebuild.
  qztest::SqliteDb db;
  TqzConfigManager store(false, db.ConnectionString(), u"qz_configuration");
  EXPECT_EQ(store.TableStructureType, TST_V1);
  db.Exec(Ddl("qz_configuration.sqlite.sql"));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(store.CheckADOConnection());  // the fifth rebuilds
  EXPECT_EQ(U8(store.Message), "database connection to SQLite3 successful restored");
  EXPECT_EQ(store.TableStructureType, TST_V2);
}

TEST(ConfigStoreConnection, CacheSettingsFromTheStore) {
  StoreEnvironment environment;
  struct Row {
    const char* size;
    int32_t cacheSize;
  };
  for (const Row& r : std::vector<Row>{{"250000", 100000}, {"99999", 99999}, {"-5", 0}, {"", 1000}}) {
    SCOPED_TRACE(r.size);
    SqliteBackend b;
    if (*r.size) Seed(b, {std::string("/kesta/Software/Basics/Common:ConfigCacheSize=WORD:") + r.size});
    TqzConfigManager store(true, b.ConnectionString(), u"qz_configuration");
    EXPECT_EQ(U8(store.Message), "");
    EXPECT_EQ(store.CacheSize, r.cacheSize);
    EXPECT_EQ(store.CacheLeaseTime, 600000u);
    EXPECT_EQ(store.CacheCheckTime, 5000u);
    EXPECT_FALSE(store.KId_ClassesStatus.empty());
    // Missing settings are stored with their defaults' types.
    const auto rows = Rows(b);
    EXPECT_NE(std::find(rows.begin(), rows.end(), "/kesta/Software/Basics/Common:ConfigCacheLeaseTime=LONGWORD:600000"),
              rows.end());
    EXPECT_NE(std::find(rows.begin(), rows.end(), "/kesta/Software/Basics/Common:ConfigCacheCheckTime=WORD:5000"),
              rows.end());
    if (!*r.size) {
      EXPECT_NE(std::find(rows.begin(), rows.end(), "/kesta/Software/Basics/Common:ConfigCacheSize=WORD:1000"), rows.end());
    }
  }
}

TEST(ConfigStoreConnection, UnreachableDatabaseFollowsTheErrorConvention) {
  StoreEnvironment environment;
  qztest::TempDir dir("qzcfgoff");
  const UnicodeString constr = U16("Driver=" + qztest::SqliteOdbcDriver() + ";Database=" + dir.Path() +
                                   "/missing/folder/x.db;");
  {
    TqzConfigManager store(true, constr, u"qz_configuration");  // stops at the class nodes
    EXPECT_NE(U8(store.Message), "");
    EXPECT_EQ(store.TableStructureType, TST_V1);
    EXPECT_FALSE(store.IsConnected());
    EXPECT_EQ(U8(store.Message), "database connection to SQLite3 is offline (state = 0)");
  }
  TqzConfigManager store(false, constr, u"qz_configuration");
  EXPECT_EQ(U8(store.Message).rfind("ado connection exception (", 0), 0u) << U8(store.Message);
  const std::string offline = "database connection to SQLite3 is still offline - possible network or database problem";
  struct Row {
    const char* what;
    std::function<std::string()> op;
    std::string result;
  };
  const std::vector<Row> rows = {
      {"SetConfigValue", [&] { return Show(store.SetConfigValue(u"/a", u"X", Variant(int32_t{1}))); }, "false"},
      {"GetConfigValue", [&] { return Show(store.GetConfigValue(u"/a", u"X", Variant(int32_t{7}), true)); }, "EMPTY:"},
      {"GetConfigValueById", [&] { return Show(store.GetConfigValueById(TIdType("AB"), Variant(int32_t{7}), false)); }, "EMPTY:"},
      {"ConfigValueExists", [&] { return Show(store.ConfigValueExists(u"/a", u"X")); }, "false"},
      {"DeleteConfigValue", [&] { return Show(store.DeleteConfigValue(u"/a", u"X", true)); }, "false"},
      {"DeleteConfigValueById", [&] { return Show(store.DeleteConfigValueById(TIdType("AB"))); }, "false"},
      {"GetKeyNameByNodeId", [&] { return "[" + U8(store.GetKeyNameByNodeId(TIdType("AB"))) + "]"; }, "[]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    store.RaiseExceptions = false;
    EXPECT_EQ(r.op(), r.result);
    EXPECT_EQ(U8(store.Message), offline);
    store.RaiseExceptions = true;
    try {
      r.op();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), "Exception");
      EXPECT_EQ(U8(e.Message), offline);
    }
  }
}

TEST(ConfigStoreConnection, HelperThreadBringsAnOfflineStoreBack) {
  StoreEnvironment environment;
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, TqzKesta::SystemKey, u"DbConCheckInterval", Variant(int32_t{1}), false));
  qztest::TempDir dir("qzcfgback");
  const std::string file = dir.Path() + "/later/config.db";
  TqzConfigManager store(false, U16("Driver=" + qztest::SqliteOdbcDriver() + ";Database=" + file + ";"), u"qz_configuration");
  EXPECT_FALSE(store.IsConnected());
  std::filesystem::create_directories(dir.Path() + "/later");
  qztest::RunProcess({"sqlite3", file}, Ddl("qz_configuration.sqlite.sql"));
  // No operation runs: the helper thread's check (about once a second) opens the connection.
  bool online = false;
  for (int i = 0; i < 100 && !online; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    online = store.IsConnected();
  }
  EXPECT_TRUE(online);
  EXPECT_EQ(store.TableStructureType, TST_V2);
  EXPECT_TRUE(store.SetConfigValue(u"/back", u"V", Variant(int32_t{1}))) << U8(store.Message);
}

}  // namespace
