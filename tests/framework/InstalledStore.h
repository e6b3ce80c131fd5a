// An installation whose system database is a real database: the shipped DDL of the configuration
// store and of qz_log/qz_meta made with the database's own client, a registry folder of its own,
// and an installation folder (KESTASYS) whose data-link file names that database. Used by the
// document log's and the class factory's suites, on SQLite (unit tests) and on a private MariaDB
// server (integration tests).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "CodePage.h"
#include "DbFixtures.h"
#include "FormatSettings.h"
#include "TestSupport.h"
#include "Udl.h"
#include "qzConfigManager.h"
#include "qzConsoleTools.h"

namespace installed_store {

inline std::string Ddl(const char* folder, const char* file) {
  return qztest::ReadFile(std::string(QZ_SOURCE_DIR) + "/src/" + folder + "/sql/" + file);
}

struct SqliteBackend {
  static constexpr const char* Name = "SQLite";
  qztest::SqliteDb db;
  SqliteBackend() {
    db.Exec("PRAGMA journal_mode=WAL;\n" + Ddl("config", "qz_configuration.sqlite.sql") +
            Ddl("framework", "qz_log.sqlite.sql"));
  }
  UnicodeString ConnectionString() const { return db.ConnectionString(); }
  std::string Cli(const std::string& sql) const { return db.Exec(sql); }
  static std::string DaysAgo(int days) {
    return "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-" + std::to_string(days) + " days')";
  }
};

struct MariaDbBackend {
  static constexpr const char* Name = "MariaDB";
  qztest::MariaDbServer& server = qztest::MariaDbServer::Shared();
  std::string database = server.CreateDatabase();
  MariaDbBackend() {
    Cli(Ddl("config", "qz_configuration.mariadb.sql"));
    Cli(Ddl("framework", "qz_log.mariadb.sql"));
  }
  UnicodeString ConnectionString() const { return server.ConnectionString(database); }
  std::string Cli(std::string sql) const {
    while (!sql.empty() && (sql.back() == ';' || sql.back() == '\n' || sql.back() == ' ')) sql.pop_back();
    return server.Exec(database, sql);
  }
  static std::string DaysAgo(int days) { return "NOW(3) - INTERVAL " + std::to_string(days) + " DAY"; }
};

// The installation (KESTASYS) and registry folder of one test; the program runs as
// <dir>/bin/svc.exe.
template <class Backend>
class InstalledStoreTest : public ::testing::Test {
 protected:
  InstalledStoreTest() {
    ::mkdir((dir_.Path() + "/reg").c_str(), 0755);
    ::mkdir((dir_.Path() + "/inst").c_str(), 0755);
    ::mkdir((dir_.Path() + "/inst/cfg").c_str(), 0755);
    platform::WriteUdlFile(dir_.Path() + "/inst/cfg/qzsyscfg.udl", u"Provider=MSDASQL;" + backend_.ConnectionString());
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    TqzConfigManager::SetPauseFunction([](uint32_t) {});
    TqzConsoleTools::SetCommandLine({platform::Utf8ToWide(dir_.Path() + "/bin/svc.exe")});
  }
  ~InstalledStoreTest() override {
    TqzConsoleTools::ResetCommandLine();
    TqzConfigManager::SetPauseFunction({});
  }

  // Stores values of one node (as the store's own writer would).
  void Store(const std::u16string& node, const std::map<std::u16string, Variant>& values) {
    TqzConfigManager store(false, u"", u"qz_configuration");
    for (const auto& [name, value] : values)
      ASSERT_TRUE(store.SetConfigValue(node, name, value)) << platform::WideToUtf8(store.Message);
  }
  std::vector<std::vector<std::string>> Rows(const std::string& sql) const { return qztest::SplitRows(backend_.Cli(sql)); }

  qztest::TempDir dir_{"qzinstalled"};
  qztest::ScopedEnv registry_{"KESTA_REGISTRY_DIR", dir_.Path() + "/reg"};
  qztest::ScopedEnv root_{"KESTASYS", dir_.Path() + "/inst"};
  Backend backend_;
};

}  // namespace installed_store
