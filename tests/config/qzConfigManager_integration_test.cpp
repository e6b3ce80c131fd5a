// The configuration store on a private MariaDB server: the statement table, two processes on one
// store, and a server killed and restarted under a running store.
#include "ConfigStoreSuite.h"

namespace {

using namespace config_suite;

TEST(ConfigStoreMariaDb, StatementTable) { RunStatementTable<MariaDbBackend>(); }

TEST(ConfigStoreMariaDb, CacheComparesAsTheCollation) { RunCacheCollation<MariaDbBackend>(); }
TEST(ConfigStoreMariaDb, TwoProcessesCreateOnePathOnce) { RunConcurrentCreation<MariaDbBackend>(); }
TEST(ConfigStoreMariaDb, ChangeSignalReachesTheOtherProcess) { RunChangeSignal<MariaDbBackend>(); }
TEST(ConfigStoreChild, Run) { RunChild(); }

}  // namespace
