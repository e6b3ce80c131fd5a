// Configuration-store import and tree deletion, on SQLite (WAL, through the SQLite3 ODBC driver)
// and on a private MariaDB server on loopback (the tests' fixture). Every comparison runs
// interleaved rounds and prints the min and median ratio with its goal.
//
//   Import/<db>      a plain export of 1,000 nodes x 10 values imported into an empty table,
//                    against the database's own client (sqlite3, mariadb) loading the same rows
//                    from an SQL file in one transaction. Statements per value (goal: at most 4)
//                    are counted where the statements arrive: on SQLite in the driver's trace
//                    file (sqlite3_trace, one line per statement run), on MariaDB in the server's
//                    general log (Query and Execute commands of the store's connection), each in
//                    a round of its own beside the store's own count.
//   DeleteTree/<db>  DeleteConfigTree of a subtree of 10,001 rows (a node, 1,000 children, 9
//                    values each), with and without its backup file, against the client deleting
//                    the same rows with one DELETE per row set (the rows below each node: 1,002
//                    statements in one transaction); the store's deletion without its backup also
//                    against the client sending the same 10,001 single-row DELETEs.
//
//   configimport_bench [--rounds N] [--skip-mariadb]
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "BenchSupport.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "TestSupport.h"
#include "qzConfigManager.h"

namespace fs = std::filesystem;
using namespace qzbench;

namespace {

constexpr int kNodes = 1000;
constexpr int kValues = 10;

std::string Ddl(const char* file) { return qztest::ReadFile(std::string(QZ_SOURCE_DIR) + "/src/config/sql/" + file); }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Id(int n) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%032X", n);
  return buf;
}

// The rows of the node /<top> with kNodes children of `values` values each, as INSERT statements
// in one transaction; `ids` receives the node ids (the top first).
std::string TreeSql(const std::string& top, int values, int firstId, std::vector<std::string>& ids) {
  int next = firstId;
  std::string sql = "BEGIN;\n";
  auto row = [&](const std::string& id, const std::string& parent, const std::string& name, const std::string& type,
                 const std::string& value) {
    sql += "INSERT INTO qz_configuration (ID, PARENTID, KEYNAME, DATATYPE, KEYVALUE) VALUES (" + Quote(id) + "," +
           Quote(parent) + "," + Quote(name) + "," + Quote(type) + "," + Quote(value) + ");\n";
  };
  const std::string topId = Id(next++);
  ids = {topId};
  row(topId, "", top, "TREE", "");
  for (int i = 0; i < kNodes; ++i) {
    const std::string node = Id(next++);
    ids.push_back(node);
    row(node, topId, "n" + std::to_string(i), "TREE", "");
    for (int v = 0; v < values; ++v) {
      row(Id(next++), node, "Value" + std::to_string(v), v % 2 ? "INT" : "STRING",
          v % 2 ? std::to_string(i * 10 + v) : "text of value " + std::to_string(v) + " in node " + std::to_string(i));
    }
  }
  return sql + "COMMIT;\n";
}

// One database: the store's connection string, its client (SQL text, and an SQL file timed), and
// the statement counter of a round.
struct Target {
  std::string name;
  UnicodeString constr;
  std::function<std::string(const std::string&)> exec;
  std::function<double(const std::string&)> loadFile;  // seconds of the client running the file
  // The connection string of a store whose statements are counted (SQLite: traced).
  UnicodeString countConstr;
  // Runs work and returns the statements that reached the database, by kind.
  std::function<std::map<std::string, uint64_t>(const std::function<void()>&)> count;
};

void Fail(const char* what, TqzConfigManager& store) {
  throw std::runtime_error(std::string(what) + " failed: " + platform::WideToUtf8(store.Message));
}

void ImportAndDelete(const Target& t, int rounds, const std::string& folder, const std::string& backups) {
  std::printf("---- %s\n", t.name.c_str());
  std::vector<std::string> ids;
  const std::string treeSql = TreeSql("imp", kValues, 1000000, ids);
  const std::string treeFile = folder + "/tree-" + t.name + ".sql";
  qztest::WriteFile(treeFile, treeSql);
  t.exec("DELETE FROM qz_configuration;\n" + treeSql);
  const UnicodeString file = platform::Utf8ToWide(folder + "/import-" + t.name + ".xml");
  {
    TqzConfigManager store(false, t.constr, u"qz_configuration");
    if (!store.Export(u"/imp", file, true, false, u"", u"", u"", true, qzCE_UTF8, nullptr, nullptr, qzPDT_Unknown,
                      false, "", false, u"", qzEFV_V1_5)) {
      Fail("export", store);
    }
  }
  TqzConfigManager store(false, t.constr, u"qz_configuration");
  constexpr double kRowsWritten = kNodes * kValues;
  auto import = [&](TqzConfigManager& into, bool overwrite) {
    UnicodeString info;
    if (!into.Import(u"", file, info, nullptr, overwrite, false, false, false, false)) Fail("import", into);
  };
  auto emptyTable = [&] {
    t.exec("DELETE FROM qz_configuration;");
    store.ResetCache();
  };

  // Statements per value, counted where they arrive, for both write policies.
  for (bool overwrite : {false, true}) {
    t.exec("DELETE FROM qz_configuration;");
    // The counted store lives inside the counted work: closing it ends its trace file. Its
    // connection's own statements (opening, the layout probe) are a handful among 10,000 values.
    uint64_t own = 0;
    const auto kinds = t.count([&] {
      TqzConfigManager counted(false, t.countConstr, u"qz_configuration");
      const auto before = counted.StatementCounts().Statements;
      import(counted, overwrite);
      own = counted.StatementCounts().Statements - before;
    });
    uint64_t total = 0;
    std::string detail;
    for (const auto& [kind, n] : kinds) {
      detail += " " + kind + " " + std::to_string(n);
      if (kind != "Prepare") total += n;
    }
    std::printf("Import/%s (Overwrite %s): %.2f statements per value arrived (%llu:%s), store's own count %.2f "
                "(goal: at most 4)\n",
                t.name.c_str(), overwrite ? "on" : "off", static_cast<double>(total) / kRowsWritten,
                static_cast<unsigned long long>(total), detail.c_str(), static_cast<double>(own) / kRowsWritten);
  }
  std::printf("\n");
  // (The store adds its class nodes below /kesta on first use: only the imported values count.)
  const std::string rowsBack = t.exec("SELECT COUNT(*) FROM qz_configuration WHERE KEYNAME LIKE 'Value%';");
  if (std::stoi(rowsBack) != kNodes * kValues) throw std::runtime_error("the import wrote " + rowsBack + " values");

  auto importRound = [&] {
    emptyTable();
    return Time([&] { import(store, false); });
  };
  auto clientRound = [&] {
    t.exec("DELETE FROM qz_configuration;");
    return t.loadFile(treeFile);
  };
  Compare("Import/" + t.name + ": 1,000 nodes x 10 values (Overwrite off) vs the client loading the same rows from an "
              "SQL file",
          rounds, importRound, clientRound, 0);

  // Deleting a subtree of 10,001 rows.
  const std::string deleteSql = TreeSql("del", 9, 2000000, ids);
  std::string perRowSet = "BEGIN;\n";
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    perRowSet += "DELETE FROM qz_configuration WHERE PARENTID = " + Quote(*it) + ";\n";
  }
  perRowSet += "DELETE FROM qz_configuration WHERE ID = " + Quote(ids.front()) + ";\nCOMMIT;\n";
  std::string perRow = "BEGIN;\n";
  for (int id = 2000000 + kNodes * 10; id >= 2000000; --id) {
    perRow += "DELETE FROM qz_configuration WHERE ID = " + Quote(Id(id)) + ";\n";
  }
  perRow += "COMMIT;\n";
  const std::string perRowSetFile = folder + "/rowsets-" + t.name + ".sql";
  const std::string perRowFile = folder + "/rows-" + t.name + ".sql";
  qztest::WriteFile(perRowSetFile, perRowSet);
  qztest::WriteFile(perRowFile, perRow);
  auto refill = [&] {
    t.exec("DELETE FROM qz_configuration;\n" + deleteSql);
    store.ResetCache();
  };
  const std::string rowsLeft = "SELECT COUNT(*) FROM qz_configuration WHERE ID BETWEEN " + Quote(Id(2000000)) +
                               " AND " + Quote(Id(2000000 + kNodes * 10)) + ";";
  auto deleteRound = [&](bool backup) {
    return [&, backup] {
      refill();
      store.BackupChanges = backup;
      const double seconds = Time([&] {
        if (!store.DeleteConfigTree(u"/del")) Fail("DeleteConfigTree", store);
      });
      if (std::stoi(t.exec(rowsLeft)) != 0) throw std::runtime_error("rows left");
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(backups, ec)) fs::remove(e.path(), ec);
      return seconds;
    };
  };
  auto clientDelete = [&](const std::string& sqlFile) {
    return [&, sqlFile] {
      refill();
      const double seconds = t.loadFile(sqlFile);
      if (std::stoi(t.exec(rowsLeft)) != 0) throw std::runtime_error("rows left");
      return seconds;
    };
  };
  {
    refill();
    uint64_t own = 0;
    uint64_t total = 0;
    std::string detail;
    for (const auto& [kind, n] : t.count([&] {
           TqzConfigManager counted(false, t.countConstr, u"qz_configuration");
           counted.BackupChanges = false;
           const auto before = counted.StatementCounts().Statements;
           if (!counted.DeleteConfigTree(u"/del")) Fail("DeleteConfigTree", counted);
           own = counted.StatementCounts().Statements - before;
         })) {
      detail += " " + kind + " " + std::to_string(n);
      if (kind != "Prepare") total += n;
    }
    std::printf("DeleteTree/%s without backup: %llu statements arrived (%s), store's own count %llu\n\n",
                t.name.c_str(), static_cast<unsigned long long>(total), detail.c_str(),
                static_cast<unsigned long long>(own));
  }
  Compare("DeleteTree/" + t.name + ": 10,001 rows with the backup file vs the client's DELETE per row set", rounds,
          deleteRound(true), clientDelete(perRowSetFile), 0);
  Compare("DeleteTree/" + t.name + ": 10,001 rows without the backup file vs the client's DELETE per row set", rounds,
          deleteRound(false), clientDelete(perRowSetFile), 0);
  Compare("DeleteTree/" + t.name + ": 10,001 rows without the backup file vs the client's 10,001 single-row DELETEs",
          rounds, deleteRound(false), clientDelete(perRowFile), 0);
  store.BackupChanges = true;
}

// The statements in the SQLite driver's trace file, by their first word: the driver writes each
// statement it runs (sqlite3_trace) followed by ";" (a statement of several lines ends at the
// line that ends with ";"), and its own notes as lines beginning with "--".
std::map<std::string, uint64_t> CountTrace(const std::string& path) {
  std::map<std::string, uint64_t> kinds;
  std::ifstream in(path);
  std::string kind;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("--", 0) == 0) continue;
    if (kind.empty()) {
      const std::size_t start = line.find_first_not_of(" \t;");
      if (start != std::string::npos) {
        kind = line.substr(start, line.find_first_of(" \t;", start) - start);
        for (char& c : kind) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
    }
    if (!line.empty() && line.back() == ';' && !kind.empty()) {
      ++kinds[kind];
      kind.clear();
    }
  }
  return kinds;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  const bool mariadb = !HasFlag(argc, argv, "--skip-mariadb");
  try {
    qztest::TempDir registry("qzbenchreg");
    ::setenv("KESTA_REGISTRY_DIR", registry.Path().c_str(), 1);
    qztest::TempDir install("qzbenchinstall");
    ::setenv("KESTASYS", install.Path().c_str(), 1);
    const std::string backups = install.Path() + "/sys/backup";
    qztest::TempDir work("qzbenchimport");
    {
      qztest::SqliteDb db;
      db.Exec("PRAGMA journal_mode=WAL;\n" + Ddl("qz_configuration.sqlite.sql"));
      Target t;
      t.name = "SQLite";
      t.constr = db.ConnectionString();
      t.exec = [&](const std::string& sql) { return db.Exec(sql); };
      t.loadFile = [&](const std::string& file) { return Shell("sqlite3 -batch -bail '" + db.Path() + "' < '" + file + "'"); };
      const std::string trace = db.Path() + ".trace";
      t.countConstr = platform::Utf8ToWide(db.ConnectionStringUtf8() + "Tracefile=" + trace + ";");
      t.count = [trace](const std::function<void()>& work) {
        const auto before = CountTrace(trace);
        work();
        auto kinds = CountTrace(trace);
        for (const auto& [kind, n] : before) kinds[kind] -= n;
        return kinds;
      };
      ImportAndDelete(t, rounds, work.Path(), backups);
    }
    if (mariadb) {
      qztest::MariaDbServer& server = qztest::MariaDbServer::Shared();
      const std::string database = server.CreateDatabase();
      std::string ddl = Ddl("qz_configuration.mariadb.sql");
      while (!ddl.empty() && (ddl.back() == '\n' || ddl.back() == ';')) ddl.pop_back();
      server.Exec(database, ddl);
      Target t;
      t.name = "MariaDB";
      t.constr = server.ConnectionString(database);
      t.countConstr = t.constr;
      t.exec = [&](const std::string& sql) {
        std::string trimmed = sql;
        while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == ';')) trimmed.pop_back();
        return server.Exec(database, trimmed);
      };
      const std::string client = "MYSQL_PWD='" + server.Password() + "' mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P " +
                                 std::to_string(server.Port()) + " -u " + server.User() + " --batch " + database;
      t.loadFile = [&, client](const std::string& file) { return Shell(client + " < '" + file + "'"); };
      t.count = [&](const std::function<void()>& work) {
        server.Exec("", "SET GLOBAL log_output = 'TABLE'; TRUNCATE TABLE mysql.general_log; SET GLOBAL general_log = 1");
        work();
        server.Exec("", "SET GLOBAL general_log = 0");
        // The store's connection: the thread with the most statements.
        std::map<std::string, uint64_t> kinds;
        const auto rows = server.Rows("",
                                      "SELECT command_type, COUNT(*) FROM mysql.general_log WHERE thread_id = (SELECT "
                                      "thread_id FROM mysql.general_log GROUP BY thread_id ORDER BY COUNT(*) DESC "
                                      "LIMIT 1) GROUP BY command_type");
        for (const auto& row : rows) {
          if (row.size() == 2 && (row[0] == "Query" || row[0] == "Execute" || row[0] == "Prepare")) {
            kinds[row[0]] = std::stoull(row[1]);
          }
        }
        return kinds;
      };
      ImportAndDelete(t, rounds, work.Path(), backups);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "configimport_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
