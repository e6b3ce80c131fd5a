// The configuration store on a private MariaDB server: the statement table, two processes on one
// store, and a server killed and restarted under a running store.
#include "ConfigStoreSuite.h"

namespace {

using namespace config_suite;

TEST(ConfigStoreMariaDb, StatementTable) { RunStatementTable<MariaDbBackend>(); }

TEST(ConfigStoreMariaDb, CacheComparesAsTheCollation) { RunCacheCollation<MariaDbBackend>(); }
TEST(ConfigStoreMariaDb, TwoProcessesCreateOnePathOnce) { RunConcurrentCreation<MariaDbBackend>(); }
TEST(ConfigStoreMariaDb, ChangeSignalReachesTheOtherProcess) { RunChangeSignal<MariaDbBackend>(); }
// The server dies under a running store: statements fail by the error convention (nothing
// raised, the store offline), and once the server is back the store reconnects by itself.
TEST(ConfigStoreMariaDb, ServerKilledAndRestartedUnderARunningStore) {
  StoreEnvironment environment;
  MariaDbBackend b;
  TqzConfigManager store(false, b.ConnectionString(), u"qz_configuration");
  ASSERT_TRUE(store.SetConfigValue(u"/m/n", u"V", Variant(int32_t{1}))) << U8(store.Message);
  ASSERT_TRUE(store.IsConnected());

  b.server.Kill();
  EXPECT_FALSE(store.IsConnected());
  EXPECT_FALSE(store.SetConfigValue(u"/m/n", u"V", Variant(int32_t{2})));
  EXPECT_NE(U8(store.Message), "");
  EXPECT_EQ(Show(store.GetConfigValue(u"/m/n", u"V", Variant(int32_t{0}), false)), "EMPTY:");
  EXPECT_NE(U8(store.Message), "");
  EXPECT_FALSE(store.ConfigValueExists(u"/m/n", u"V"));

  b.server.Restart();
  bool written = false;
  for (int attempt = 0; attempt < 5 && !written; ++attempt) {
    written = store.SetConfigValue(u"/m/n", u"V", Variant(int32_t{3}));
  }
  EXPECT_TRUE(written) << U8(store.Message);
  EXPECT_TRUE(store.IsConnected());
  EXPECT_EQ(Show(store.GetConfigValue(u"/m/n", u"V", Variant(int32_t{0}), false)), "INT64:3");
  EXPECT_EQ(b.Cli("SELECT KEYVALUE FROM qz_configuration WHERE KEYNAME = 'V'"), "3\n");
}

TEST(ConfigStoreChild, Run) { RunChild(); }

}  // namespace
