// The export run end to end on the private MariaDB server (through its ODBC driver), with the
// Python archive oracle: the case table of ExportRunCases.h, each case with its own KQF, link and
// add-on databases.
#include <gtest/gtest.h>

#include "ExportRunCases.h"

namespace {

class MariaDbBackend : public exportrun::Backend {
 public:
  std::string NewDatabase() override { return Server().CreateDatabase(); }
  std::string ConnectionString(const std::string& db) override { return Server().ConnectionStringUtf8(db); }
  std::string Schema(const std::string& db) override { return db; }
  std::string Exec(const std::string& db, const std::string& sql) override { return Server().Exec(db, sql); }
  std::string Quote(const std::string& text) override {
    std::string out = "'";
    for (char c : text) {
      if (c == '\'' || c == '\\') out += c;
      out += c;
    }
    return out + "'";
  }

 private:
  static qztest::MariaDbServer& Server() { return qztest::MariaDbServer::Shared(); }
};

class ExportRunMariaDb : public testing::TestWithParam<size_t> {};

TEST_P(ExportRunMariaDb, Case) {
  MariaDbBackend backend;
  exportrun::RunCase(backend, exportrun::Cases()[GetParam()]);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExportRunMariaDb, testing::Range<size_t>(0, exportrun::Cases().size()),
                         exportrun::CaseName);

}  // namespace
