// Node and value lists, node tests, subtree values, node XML texts and the package export on a
// private MariaDB server.
#include "ConfigListsSuite.h"

namespace {

using namespace config_lists;

TEST(ConfigListsMariaDb, NodeListsAndTheWalk) { RunNodeLists<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, NodeProperties) { RunNodeProperties<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, PrefixedValues) { RunSubProperties<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, ChildTestsAndEmptyNodes) { RunNodeTests<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, SubtreeCopy) { RunSubtreeCopy<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, ContextHelp) { RunContextHelp<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, NodeXml) { RunNodeXml<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, Export) { RunExport<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, ExportFaultsKeepTheOldFile) { RunExportFaults<MariaDbBackend>(); }
TEST(ConfigListsMariaDb, ExportLargeValues) { RunExportLargeValues<MariaDbBackend>(); }

}  // namespace
