// The document log on SQLite (see DocLogSuite.h).
#include "DocLogSuite.h"

namespace doclog_suite {
INSTANTIATE_TYPED_TEST_SUITE_P(SQLite, DocLogTest, SqliteBackend);
}  // namespace doclog_suite
