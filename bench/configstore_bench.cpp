// Configuration-store benchmarks, on SQLite (WAL) and on a private MariaDB server:
//
//   GetValue/<db>/cache:<0|1>  10,000 GetConfigValue calls over 100 distinct five-level paths
//                              (a value below each), cache on and off, in interleaved rounds with
//                              the same single SELECT of the value run through the database's
//                              own command-line client (10,000 statements in one client process,
//                              less the time of the client doing nothing). Prints statements per
//                              call (goal: 1 with the cache warm; MariaDB's own Com_select counter
//                              checks the store's count) and the time per call beside the client's,
//                              min and median ratio over the rounds.
//   UnchangedSet/<db>          10,000 SetConfigValue calls that write what is stored: writes sent
//                              (goal 0; on MariaDB checked with Com_insert + Com_update).
//
// The MariaDB server is the tests' private one (tests/support/DbFixtures), started on loopback.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <cstdio>
#include <string>
#include <vector>

#include "CodePage.h"
#include "DbFixtures.h"
#include "TestSupport.h"
#include "qzConfigManager.h"

namespace {

constexpr int kPaths = 100;
constexpr int kCalls = 10000;
constexpr int kRounds = 5;

std::string Ddl(const char* file) { return qztest::ReadFile(std::string(QZ_SOURCE_DIR) + "/src/config/sql/" + file); }

UnicodeString PathOf(int i) {
  return platform::Utf8ToWide("/bench/l" + std::to_string(i % 5) + "/m" + std::to_string(i % 7) + "/n" +
                              std::to_string(i) + "/leaf");
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// One database with the table, the 100 paths and the client that runs SQL against it.
struct Db {
  std::string name;
  UnicodeString constr;
  std::function<std::string(const std::string&)> cli;       // runs SQL, returns output
  std::function<double(const std::string&)> cliSeconds;     // wall time of one client run
  std::function<uint64_t(const char*)> serverCounter;       // MariaDB global status, else none
};

Db& Sqlite() {
  static qztest::SqliteDb file;
  static Db db = [] {
    Db d;
    d.name = "SQLite";
    d.constr = file.ConnectionString();
    file.Exec("PRAGMA journal_mode=WAL;\n" + Ddl("qz_configuration.sqlite.sql"));
    d.cli = [](const std::string& sql) { return file.Exec(sql); };
    d.cliSeconds = [](const std::string& sql) {
      const auto t0 = std::chrono::steady_clock::now();
      qztest::RunProcess({"sqlite3", "-batch", file.Path()}, sql);
      return Seconds(std::chrono::steady_clock::now() - t0);
    };
    return d;
  }();
  return db;
}

Db& MariaDb() {
  static qztest::MariaDbServer& server = qztest::MariaDbServer::Shared();
  static std::string database = server.CreateDatabase();
  static Db db = [] {
    Db d;
    d.name = "MariaDB";
    d.constr = server.ConnectionString(database);
    std::string ddl = Ddl("qz_configuration.mariadb.sql");
    while (!ddl.empty() && (ddl.back() == '\n' || ddl.back() == ';')) ddl.pop_back();
    server.Exec(database, ddl);
    d.cli = [](const std::string& sql) { return server.Exec(database, sql); };
    d.cliSeconds = [](const std::string& sql) {
      const auto t0 = std::chrono::steady_clock::now();
      qztest::RunProcess({"mariadb", "--no-defaults", "--protocol=TCP", "--host=127.0.0.1",
                          "--port=" + std::to_string(server.Port()), "--user=" + server.User(), "--batch",
                          "--database=" + database},
                         sql, {"MYSQL_PWD=" + server.Password()});
      return Seconds(std::chrono::steady_clock::now() - t0);
    };
    d.serverCounter = [](const char* name) {
      const auto rows = server.Rows("", std::string("SHOW GLOBAL STATUS LIKE '") + name + "'");
      return rows.empty() || rows[0].size() < 2 ? 0 : std::stoull(rows[0][1]);
    };
    return d;
  }();
  return db;
}

// The store with the 100 paths written once; the SELECTs the client runs for them.
std::string Prepare(Db& db) {
  static std::map<std::string, std::string> scripts;
  auto it = scripts.find(db.name);
  if (it != scripts.end()) return it->second;
  TqzConfigManager store(false, db.constr, u"qz_configuration");
  for (int i = 0; i < kPaths; ++i) store.SetConfigValue(PathOf(i), u"V", Variant(int32_t{i}));
  std::string script;
  for (int n = 0; n < kCalls; ++n) {
    const std::string id = store.GetParentTreeId(PathOf(n % kPaths), false, false).str();
    script += "SELECT * FROM qz_configuration WHERE KEYNAME = 'V' AND PARENTID = '" + id +
              "' AND NOT DATATYPE = 'TREE';\n";
  }
  return scripts[db.name] = script;
}

void GetValue(benchmark::State& state, Db& (*which)()) {
  Db& db = which();
  const bool cache = state.range(0) != 0;
  const std::string script = Prepare(db);
  TqzConfigManager store(false, db.constr, u"qz_configuration");
  store.CacheEnabled = cache;
  for (int i = 0; i < kPaths; ++i) store.GetConfigValue(PathOf(i), u"V", Variant(), false);  // warm
  std::vector<double> ours, theirs, ratios;
  double statementsPerCall = 0, serverSelectsPerCall = -1;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      const auto counts = store.StatementCounts();
      const uint64_t selects = db.serverCounter ? db.serverCounter("Com_select") : 0;
      const auto t0 = std::chrono::steady_clock::now();
      for (int n = 0; n < kCalls; ++n) {
        Variant v = store.GetConfigValue(PathOf(n % kPaths), u"V", Variant(), false);
        benchmark::DoNotOptimize(v);
      }
      const double mine = Seconds(std::chrono::steady_clock::now() - t0) / kCalls;
      statementsPerCall = double(store.StatementCounts().Statements - counts.Statements) / kCalls;
      if (db.serverCounter) {
        // The status query itself counts as one SELECT.
        serverSelectsPerCall = double(db.serverCounter("Com_select") - selects - 1) / kCalls;
      }
      const double idle = db.cliSeconds("");
      const double client = std::max(db.cliSeconds(script) - idle, 1e-9) / kCalls;
      ours.push_back(mine);
      theirs.push_back(client);
      ratios.push_back(mine / client);
    }
  }
  state.counters["statements_per_call"] = statementsPerCall;
  if (serverSelectsPerCall >= 0) state.counters["server_selects_per_call"] = serverSelectsPerCall;
  state.counters["ours_us_median"] = Median(ours) * 1e6;
  state.counters["client_us_median"] = Median(theirs) * 1e6;
  state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
  state.counters["ratio_median"] = Median(ratios);
  std::fprintf(stderr,
               "GetConfigValue %s cache %s: %.2f statements/call%s; %.1f us/call vs client %.1f us/statement: "
               "ratio min %.2f, median %.2f\n",
               db.name.c_str(), cache ? "on " : "off", statementsPerCall,
               serverSelectsPerCall >= 0 ? (" (server counted " + std::to_string(serverSelectsPerCall) + ")").c_str() : "",
               Median(ours) * 1e6, Median(theirs) * 1e6, *std::min_element(ratios.begin(), ratios.end()), Median(ratios));
}

void UnchangedSet(benchmark::State& state, Db& (*which)()) {
  Db& db = which();
  Prepare(db);
  TqzConfigManager store(false, db.constr, u"qz_configuration");
  uint64_t writes = 0, serverWrites = 0;
  double perCall = 0;
  for (auto _ : state) {
    const auto counts = store.StatementCounts();
    const uint64_t before = db.serverCounter ? db.serverCounter("Com_insert") + db.serverCounter("Com_update") : 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int n = 0; n < kCalls; ++n) store.SetConfigValue(PathOf(n % kPaths), u"V", Variant(int32_t{n % kPaths}));
    perCall = Seconds(std::chrono::steady_clock::now() - t0) / kCalls;
    writes = store.StatementCounts().Writes - counts.Writes;
    if (db.serverCounter) serverWrites = db.serverCounter("Com_insert") + db.serverCounter("Com_update") - before;
  }
  state.counters["writes"] = double(writes);
  if (db.serverCounter) state.counters["server_writes"] = double(serverWrites);
  std::fprintf(stderr, "SetConfigValue unchanged %s: %llu writes sent%s in 10,000 calls (goal 0), %.1f us/call\n",
               db.name.c_str(), static_cast<unsigned long long>(writes),
               db.serverCounter ? (", server counted " + std::to_string(serverWrites)).c_str() : "", perCall * 1e6);
}

}  // namespace

BENCHMARK_CAPTURE(GetValue, SQLite, &Sqlite)->Arg(1)->Arg(0)->ArgName("cache")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GetValue, MariaDB, &MariaDb)->Arg(1)->Arg(0)->ArgName("cache")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(UnchangedSet, SQLite, &Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(UnchangedSet, MariaDB, &MariaDb)->Iterations(1)->Unit(benchmark::kMillisecond);
