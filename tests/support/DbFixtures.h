// Real databases for tests: a SQLite file reached through the SQLite3 ODBC driver, and a private
// MariaDB server on loopback reached through the MariaDB ODBC driver. Both come with a runner for
// the database's own command-line client, so that a test can check what our layer wrote with a
// tool nobody here wrote.
//
//   qztest::SqliteDb db;                          // fresh temp file, removed with the object
//   db.Exec("CREATE TABLE T (ID INTEGER PRIMARY KEY, NAME TEXT)");
//   platform::DbConnection con(db.ConnectionString());
//   ...
//   EXPECT_EQ(db.Exec("SELECT NAME FROM T"), "x\n");
//
//   auto& server = qztest::MariaDbServer::Shared();   // one server per test process
//   std::string name = server.CreateDatabase();       // fresh database for this test
//   platform::DbConnection con(server.ConnectionString(name));
//   server.Exec(name, "SELECT COUNT(*) FROM T");       // "1\n"
//
// Client output: one line per row, columns separated by a tab ("|" for sqlite3 is avoided),
// NULL written as "NULL"; values are not escaped, so compare HEX() for exact bytes.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "TestSupport.h"
#include "Text.h"

namespace qztest {

// Splits client output into rows and columns (tab-separated lines).
std::vector<std::vector<std::string>> SplitRows(const std::string& output);

// The bytes as the databases' HEX() writes them: two upper-case digits a byte.
std::string Hex(std::string_view bytes);

// The ODBC driver name or library path for SQLite3 and MariaDB, as usable after "Driver=".
std::string SqliteOdbcDriver();
std::string MariaDbOdbcDriver();

// A SQLite database file in a temporary folder.
class SqliteDb {
 public:
  SqliteDb();
  const std::string& Path() const { return path_; }
  // "Driver=SQLite3;Database=<file>;" (UTF-16, ready for the database layer).
  UnicodeString ConnectionString() const;
  std::string ConnectionStringUtf8() const;
  // Runs SQL (UTF-8) with the sqlite3 command-line client; returns its output. Throws
  // std::runtime_error when the client fails.
  std::string Exec(const std::string& sql) const;
  std::vector<std::vector<std::string>> Rows(const std::string& sql) const {
    return SplitRows(Exec(sql));
  }

 private:
  TempDir dir_;
  std::string path_;
};

// A private MariaDB server: its own data folder (copied from a template that is installed once
// per machine and server version), a free loopback port, a socket in its temporary folder, a user
// with a password, lower_case_table_names=1 and utf8mb4. Started on first use, stopped when the
// test process ends (and killed with it if the process dies).
class MariaDbServer {
 public:
  static MariaDbServer& Shared();
  ~MariaDbServer();
  MariaDbServer(const MariaDbServer&) = delete;
  MariaDbServer& operator=(const MariaDbServer&) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int Port() const { return port_; }
  const std::string& Socket() const { return socket_; }
  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }

  // Creates a database with a new name ("qzt_1", "qzt_2", ...) and returns the name.
  std::string CreateDatabase();
  // ODBC connection string over TCP to the given database (empty: no default database).
  UnicodeString ConnectionString(const std::string& database) const;
  std::string ConnectionStringUtf8(const std::string& database) const;
  // Runs SQL (UTF-8) with the mariadb command-line client as the test user; returns its output
  // (tab-separated, no column names, NULL as "NULL"). Throws std::runtime_error on failure.
  std::string Exec(const std::string& database, const std::string& sql) const;
  std::vector<std::vector<std::string>> Rows(const std::string& database,
                                             const std::string& sql) const {
    return SplitRows(Exec(database, sql));
  }

  // Kills the server (SIGKILL, as a crash would), keeping its data; Restart starts it again on
  // the same port with the same data and users.
  void Kill();
  void Restart();

 private:
  MariaDbServer();
  void Start();
  void Stop();
  // Starts mariadbd on port_ with the data folder as it is; true once it accepts connections
  // (died: the server exited).
  bool Spawn(bool& died);

  TempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string socket_;
  std::string user_ = "qztest";
  std::string password_;
  int nextDatabase_ = 0;
};

}  // namespace qztest
