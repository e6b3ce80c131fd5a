// Tree deletion, rename, search, in-store backups, locale settings and the package import on a
// private MariaDB server.
#include "ConfigImportSuite.h"

namespace {

using namespace config_import;

TEST(ConfigImportMariaDb, ExportDeleteImportRoundTrip) { RunRoundTrip<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, WritePolicy) { RunWritePolicy<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, PackageImport) { RunPackageImport<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, ZipImport) { RunZipImport<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, Deletion) { RunDeletion<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, RenameAndSearch) { RunRenameAndSearch<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, BackupsAndLocale) { RunBackupsAndLocale<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, ServiceRegistry) { RunServiceRegistry<MariaDbBackend>(); }
TEST(ConfigImportMariaDb, PermissionObjects) { RunPermissionObjects<MariaDbBackend>(); }

}  // namespace
