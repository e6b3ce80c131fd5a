// The document log on a private MariaDB server (see DocLogSuite.h).
#include "DocLogSuite.h"

namespace doclog_suite {
INSTANTIATE_TYPED_TEST_SUITE_P(MariaDB, DocLogTest, MariaDbBackend);
}  // namespace doclog_suite
