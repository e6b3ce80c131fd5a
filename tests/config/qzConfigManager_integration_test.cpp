// The configuration store on a private MariaDB server: the statement table, two processes on one
// store, and a server killed and restarted under a running store.
#include "ConfigStoreSuite.h"

namespace {

using namespace config_suite;

TEST(ConfigStoreMariaDb, StatementTable) { RunStatementTable<MariaDbBackend>(); }

}  // namespace
