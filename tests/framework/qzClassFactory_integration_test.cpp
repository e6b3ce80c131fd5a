// The class factory's store reads and service console tools on a private MariaDB server (see
// ClassFactoryStoreSuite.h).
#include "ClassFactoryStoreSuite.h"

namespace factory_suite {
INSTANTIATE_TYPED_TEST_SUITE_P(MariaDB, ClassFactoryStoreTest, MariaDbBackend);
}  // namespace factory_suite
