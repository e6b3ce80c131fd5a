// Database layer reads against the databases' own command-line clients, on SQLite (through its
// ODBC driver) and on a private MariaDB server on loopback (the tests' fixture). Every comparison
// runs interleaved rounds and prints the min and median ratio with its goal.
//
//   1. One text value of 10 MB: DbDataSet::Open of "SELECT V FROM BIG" vs the client writing it
//      to /dev/null (sqlite3; mariadb -B).
//   2. 1,000,000 rows of the KQF table (13 columns): DbDataSet::Open of "SELECT * FROM ZDMNNCI"
//      (every row fetched into memory) vs the client writing them to /dev/null.
//
//   3. For SQLite, the driver alone: the same 1,000,000 rows fetched through bare ODBC calls in
//      blocks of 256 rows into bound arrays, nothing kept, vs the sqlite3 client (no goal: it
//      shows the floor that any reader going through the SQLite ODBC driver starts from).
//
//   database_bench [--rounds N] [--skip-mariadb]
#include <filesystem>
#include <string>
#include <vector>

#include <sql.h>
#include <sqlext.h>

#include "BenchSupport.h"
#include "CodePage.h"
#include "Database.h"
#include "DbFixtures.h"

namespace fs = std::filesystem;
using namespace qzbench;

namespace {

constexpr int kRows = 1000000;
constexpr size_t kTextSize = 10000000;

const char kTable[] =
    "CREATE TABLE ZDMNNCI (ZDMKEY INTEGER PRIMARY KEY, ZDMNBC VARCHAR(40), ZDMMNU VARCHAR(3), ZDMDOC VARCHAR(10),"
    " ZDMTDT VARCHAR(14), ZDMPAG INTEGER, ZDMSUP VARCHAR(1), ZDMTNO INTEGER, ZDMADT VARCHAR(8), ZDMATM VARCHAR(6),"
    " ZDMSTS VARCHAR(1), ZDME01 VARCHAR(10), ZDMV01 VARCHAR(40));";

// Opens `sql` through the database layer and checks the row count.
double ReadThroughLayer(platform::DbConnection& con, const char16_t* sql, int rows) {
  return Time([&] {
    platform::DbDataSet q(&con);
    q.SQL.Add(sql);
    q.Open();
    if (q.RecordCount() != rows) throw std::runtime_error("unexpected row count");
  });
}

// Fetches every row of `sql` through bare ODBC calls: 256 rows at a time into bound arrays of
// 64 bytes per value, nothing kept. Checks the row count.
double FetchThroughDriverAlone(const std::string& connection, const char* sql, int rows) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connection.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)))
    throw std::runtime_error("bare ODBC connection failed");
  constexpr int kBlock = 256, kWidth = 64;
  std::vector<char> data(size_t(16) * kBlock * kWidth);
  std::vector<SQLLEN> ind(size_t(16) * kBlock);
  SQLULEN fetched = 0;
  long total = 0;
  const double seconds = Time([&] {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(intptr_t{kBlock}), 0);
    SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    SQLExecDirect(st, (SQLCHAR*)sql, SQL_NTS);
    SQLSMALLINT columns = 0;
    SQLNumResultCols(st, &columns);
    for (SQLUSMALLINT c = 0; c < columns && c < 16; ++c)
      SQLBindCol(st, c + 1, SQL_C_CHAR, &data[size_t(c) * kBlock * kWidth], kWidth, &ind[size_t(c) * kBlock]);
    while (SQL_SUCCEEDED(SQLFetchScroll(st, SQL_FETCH_NEXT, 0))) total += static_cast<long>(fetched);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
  });
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  if (total != rows) throw std::runtime_error("unexpected row count through the bare driver");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  bool mariadb = true;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--skip-mariadb") mariadb = false;
  try {
    std::printf("generating data ...\n");
    std::fflush(stdout);
    qztest::SqliteDb sqlite;
    sqlite.Exec(std::string(kTable) + "CREATE TABLE BIG (V TEXT);"
                "INSERT INTO BIG VALUES (substr(replace(hex(zeroblob(" + std::to_string(kTextSize / 2) +
                ")), '00', 'ab'), 1, " + std::to_string(kTextSize) + "));"
                "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " + std::to_string(kRows) +
                ") INSERT INTO ZDMNNCI SELECT x, printf('BC%07d', x), '100', 'INV', printf('2024%010d', (x * 7919) % 1000003),"
                " 1, '0', NULL, '', '', 'O', 'AMOUNT', printf('%010d', x) FROM c;");
    {
      platform::DbConnection con(sqlite.ConnectionString());
      const std::string cli = "sqlite3 -batch '" + sqlite.Path() + "' ";
      ReadThroughLayer(con, u"SELECT V FROM BIG", 1);
      Compare("1. SQLite: one text value of 10 MB, database layer vs sqlite3 client", rounds,
              [&] { return ReadThroughLayer(con, u"SELECT V FROM BIG", 1); },
              [&] { return Shell(cli + "'SELECT V FROM BIG' > /dev/null"); }, 1.5);
      Compare("2. SQLite: 1,000,000 rows of the KQF table, database layer vs sqlite3 client", rounds,
              [&] { return ReadThroughLayer(con, u"SELECT * FROM ZDMNNCI", kRows); },
              [&] { return Shell(cli + "'SELECT * FROM ZDMNNCI' > /dev/null"); }, 2.0);
      const std::string bare = "Driver=" + qztest::SqliteOdbcDriver() + ";Database=" + sqlite.Path() + ";";
      Compare("2b. SQLite: the same rows through the ODBC driver alone (bound blocks, nothing kept) vs sqlite3 client",
              rounds, [&] { return FetchThroughDriverAlone(bare, "SELECT * FROM ZDMNNCI", kRows); },
              [&] { return Shell(cli + "'SELECT * FROM ZDMNNCI' > /dev/null"); }, 0);
    }
    if (mariadb) {
      auto& server = qztest::MariaDbServer::Shared();
      const std::string db = server.CreateDatabase();
      server.Exec(db, std::string(kTable) + "CREATE TABLE BIG (V MEDIUMTEXT);"
                      "INSERT INTO BIG VALUES (REPEAT('ab', " + std::to_string(kTextSize / 2) + "));"
                      "INSERT INTO ZDMNNCI SELECT seq, CONCAT('BC', LPAD(seq, 7, '0')), '100', 'INV',"
                      " CONCAT('2024', LPAD((seq * 7919) % 1000003, 10, '0')), 1, '0', NULL, '', '', 'O', 'AMOUNT',"
                      " LPAD(seq, 10, '0') FROM seq_1_to_" + std::to_string(kRows) + ";");
      platform::DbConnection con(server.ConnectionString(db));
      const std::string cli = "mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P " + std::to_string(server.Port()) +
                              " -u " + server.User() + " -p" + server.Password() + " -B " + db + " -e ";
      ReadThroughLayer(con, u"SELECT V FROM BIG", 1);
      Compare("3. MariaDB: one text value of 10 MB, database layer vs mariadb -B", rounds,
              [&] { return ReadThroughLayer(con, u"SELECT V FROM BIG", 1); },
              [&] { return Shell(cli + "'SELECT V FROM BIG' > /dev/null"); }, 1.5);
      Compare("4. MariaDB: 1,000,000 rows of the KQF table, database layer vs mariadb -B", rounds,
              [&] { return ReadThroughLayer(con, u"SELECT * FROM ZDMNNCI", kRows); },
              [&] { return Shell(cli + "'SELECT * FROM ZDMNNCI' > /dev/null"); }, 2.0);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "database_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
