// The configuration store on SQLite (through its ODBC driver), and the parts of the store that
// need no database: key forms and the key cache's rules.
#include "ConfigStoreSuite.h"

namespace {

using namespace config_suite;

TEST(ConfigStoreSqlite, StatementTable) { RunStatementTable<SqliteBackend>(); }


TEST(ConfigStoreSqlite, Probe) {
  StoreEnvironment environment;
  SqliteBackend b;
  TqzConfigManager store(false, b.ConnectionString(), u"qz_configuration");
  EXPECT_TRUE(store.IsConnected()) << U8(store.Message);
}
}  // namespace
