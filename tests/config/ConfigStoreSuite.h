// The configuration store against real databases: one statement table, the cache's collation,
// and two processes on one store, run on SQLite (qzConfigManager_test.cpp) and on a private
// MariaDB server (qzConfigManager_integration_test.cpp). The table is made from the shipped DDL
// files with the database's own client, and what the store wrote is read back with that client.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Clock.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "FormatSettings.h"
#include "TestSupport.h"
#include "qzConfigManager.h"
#include "qzTypes.h"

namespace config_suite {

inline std::string U8(const UnicodeString& s) { return platform::WideToUtf8(s); }
inline UnicodeString U16(const std::string& s) { return platform::Utf8ToWide(s); }

inline std::string Ddl(const char* file) {
  return qztest::ReadFile(std::string(QZ_SOURCE_DIR) + "/src/config/sql/" + file);
}

struct SqliteBackend {
  static constexpr const char* Name = "SQLite";
  static constexpr bool FoldsAllLetters = false;  // COLLATE NOCASE folds ASCII letters only
  qztest::SqliteDb db;
  SqliteBackend() { db.Exec("PRAGMA journal_mode=WAL;\n" + Ddl("qz_configuration.sqlite.sql")); }
  UnicodeString ConnectionString() const { return db.ConnectionString(); }
  std::string Cli(const std::string& sql) const { return db.Exec(sql); }
};

struct MariaDbBackend {
  static constexpr const char* Name = "MariaDB";
  static constexpr bool FoldsAllLetters = true;  // utf8mb4_unicode_ci
  qztest::MariaDbServer& server = qztest::MariaDbServer::Shared();
  std::string database = server.CreateDatabase();
  MariaDbBackend() { Cli(Ddl("qz_configuration.mariadb.sql")); }
  UnicodeString ConnectionString() const { return server.ConnectionString(database); }
  // The client adds the closing ";" itself.
  std::string Cli(std::string sql) const {
    while (!sql.empty() && (sql.back() == ';' || sql.back() == '\n' || sql.back() == ' ')) sql.pop_back();
    return server.Exec(database, sql);
  }
};

// Every test runs with its own registry folder, so no installation setting of the machine leaks in.
struct StoreEnvironment {
  qztest::TempDir registry{"qzcfgreg"};
  qztest::ScopedEnv env{"KESTA_REGISTRY_DIR", registry.Path()};
  StoreEnvironment() {
    TqzConfigManager::SetPauseFunction([](uint32_t) {});
    platform::SetFormatSettings(platform::InvariantFormatSettings());
  }
  ~StoreEnvironment() {
    TqzConfigManager::SetPauseFunction({});
    TqzConfigManager::SetTickSource({});
    platform::SetFormatSettings(platform::InvariantFormatSettings());
  }
};

// The table's rows as the client reads them, as sorted texts: a node as its path ("/a/b"), a value
// as "path:NAME=TYPE:VALUE". Rows below /kesta/Classes (the store's own class nodes and ticks)
// are left out; a row whose parent is missing shows as "?/NAME".
template <class Backend>
std::vector<std::string> Rows(const Backend& b) {
  const auto rows = qztest::SplitRows(
      b.Cli("SELECT ID, COALESCE(PARENTID, ''), KEYNAME, DATATYPE, COALESCE(KEYVALUE, '') FROM qz_configuration"));
  struct Row {
    std::string parent, name, type, value;
  };
  std::map<std::string, Row> byId;
  for (const auto& r : rows) {
    if (r.size() < 5) continue;
    byId[r[0]] = {r[1], r[2], r[3], r[4]};
  }
  std::function<std::string(const std::string&, int)> pathOf = [&](const std::string& id, int depth) -> std::string {
    if (id.empty()) return "";
    auto it = byId.find(id);
    if (it == byId.end() || depth > 300) return "?";
    return pathOf(it->second.parent, depth + 1) + "/" + it->second.name;
  };
  std::vector<std::string> out;
  for (const auto& [id, row] : byId) {
    std::string text = row.type == "TREE" ? pathOf(id, 0)
                                          : pathOf(row.parent, 0) + ":" + row.name + "=" + row.type + ":" + row.value;
    if (text == "/kesta" || text.rfind("/kesta/Classes", 0) == 0) continue;
    out.push_back(text);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Rows inserted with the client: "/a/b" makes the nodes of the path, "/a/b:NAME=TYPE:VALUE" a
// value below it. Node ids are 32 hexadecimal digits counted from 1 ("000...0001").
template <class Backend>
std::map<std::string, std::string> Seed(const Backend& b, const std::vector<std::string>& rows) {
  std::map<std::string, std::string> ids;  // node path -> id
  int next = 0;
  auto newId = [&] {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%032X", ++next);
    return std::string(buf);
  };
  std::string sql;
  auto quote = [](const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
  };
  auto node = [&](const std::string& path) {
    std::string parent, current;
    size_t start = 1;
    while (start <= path.size()) {
      size_t slash = path.find('/', start);
      if (slash == std::string::npos) slash = path.size();
      const std::string raw = path.substr(start, slash - start);
      std::string name = raw;
      for (size_t at; (at = name.find("%2F")) != std::string::npos;) name.replace(at, 3, "/");
      current += "/" + raw;
      if (!ids.count(current)) {
        ids[current] = newId();
        sql += "INSERT INTO qz_configuration (ID, PARENTID, KEYNAME, DATATYPE, KEYVALUE) VALUES (" +
               quote(ids[current]) + ", " + quote(parent) + ", " + quote(name) + ", 'TREE', '');\n";
      }
      parent = ids[current];
      start = slash + 1;
    }
    return parent;
  };
  for (const auto& entry : rows) {
    const size_t colon = entry.find(':');
    if (colon == std::string::npos) {
      node(entry);
      continue;
    }
    const std::string parent = node(entry.substr(0, colon));
    const std::string rest = entry.substr(colon + 1);
    const size_t eq = rest.find('=');
    const size_t colon2 = rest.find(':', eq);
    const std::string id = newId();
    ids[entry] = id;
    sql += "INSERT INTO qz_configuration (ID, PARENTID, KEYNAME, DATATYPE, KEYVALUE) VALUES (" + quote(id) + ", " +
           quote(parent) + ", " + quote(rest.substr(0, eq)) + ", " + quote(rest.substr(eq + 1, colon2 - eq - 1)) +
           ", " + quote(rest.substr(colon2 + 1)) + ");\n";
  }
  if (!sql.empty()) b.Cli(sql);
  return ids;
}

// A result as "TYPE:text" (the Variant's type name and its storage text) or "true"/"false".
inline std::string Show(const Variant& v) {
  return U8(TqzTypes::GetVarTypeStr(v.VarType())) + ":" + U8(TqzTypes::VarToStrExt(v));
}
inline std::string Show(bool v) { return v ? "true" : "false"; }
inline std::string Show(const TIdType& id) { return "id:" + id.str(); }

// ---------------------------------------------------------------------------------------------
// The statement table

struct StatementCase {
  const char* what;
  std::vector<std::string> before;
  // Runs the operation; ids maps the seeded paths (and value rows) to their ids.
  std::function<std::string(TqzConfigManager&, const std::map<std::string, std::string>&)> op;
  std::string result;
  std::string message;  // "" or the Message the operation leaves
  std::vector<std::string> after;
};

inline Variant Int(int32_t v) { return Variant(v); }

// Joins results with blanks; the calls run in the order written (a braced list is sequenced).
inline std::string Seq(std::initializer_list<std::string> parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : " ") + p;
  return out;
}
inline Variant Text(const char16_t* v) { return Variant(UnicodeString(v)); }

inline std::vector<StatementCase> StatementCases() {
  using M = TqzConfigManager;
  using Ids = std::map<std::string, std::string>;
  return {
      {"a first write creates the nodes and the value row", {},
       [](M& s, const Ids&) { return Show(s.SetConfigValue(u"/a/b", u"X", Int(5))); }, "true", "",
       {"/a", "/a/b", "/a/b:X=INT:5"}},
      {"the same value again leaves the row", {"/a/b:X=INT:5"},
       [](M& s, const Ids&) { return Show(s.SetConfigValue(u"/a/b", u"X", Int(5))); }, "true", "",
       {"/a", "/a/b", "/a/b:X=INT:5"}},
      {"a text of the same digits rewrites the type", {"/a/b:X=INT:5"},
       [](M& s, const Ids&) { return Show(s.SetConfigValue(u"/a/b", u"X", Text(u"5"))); }, "true", "",
       {"/a", "/a/b", "/a/b:X=UCS4STR:5"}},
      {"the caller's spelling of the name replaces the stored one", {"/a/b:X=INT:5"},
       [](M& s, const Ids&) { return Show(s.SetConfigValue(u"/a/b", u" x ", Int(6))); }, "true", "",
       {"/a", "/a/b", "/a/b:x=INT:6"}},
      {"a write at the root writes nothing", {},
       [](M& s, const Ids&) { return Seq({Show(s.SetConfigValue(u"/", u"X", Int(5))), Show(s.SetConfigValue(u"", u"X", Int(5)))}); },
       "true true", "", {}},
      {"an empty name creates the path only", {},
       [](M& s, const Ids&) { return Show(s.SetConfigValue(u"/n/m", u"", Variant())); }, "true", "", {"/n", "/n/m"}},
      {"the data type bool is stored as BOOLEAN", {},
       [](M& s, const Ids&) { return Show(s.SetConfigValue(u"/a", u"F", Variant(true), u"bool")); }, "true", "",
       {"/a", "/a:F=BOOLEAN:True"}},
      {"an explicit type keeps the storage text of a date", {},
       [](M& s, const Ids&) {
         return Show(s.SetConfigValue(u"/a", u"D", Variant::FromDate(platform::EncodeDate(2024, 3, 1) +
                                                                      platform::EncodeTime(12, 34, 56, 0)),
                                      u"date"));
       },
       "true", "", {"/a", "/a:D=DATE:2024-03-01 12:34:56"}},
      {"an empty part is the node Unnamed, %2F a slash in a name", {},
       [](M& s, const Ids&) { return Show(s.SetConfigValue(u"/a//x%2Fy", u"V", Int(1))); }, "true", "",
       {"/a", "/a/Unnamed", "/a/Unnamed/x/y", "/a/Unnamed/x/y:V=INT:1"}},
      {"a missing value with Create stores the default with its type", {"/c"},
       [](M& s, const Ids&) {
         return Seq({Show(s.GetConfigValue(u"/c", u"B", Variant(true), true)),
                     Show(s.GetConfigValue(u"/c", u"B", Variant(false), true))});
       },
       "BOOLEAN:True BOOLEAN:True", "", {"/c", "/c:B=BOOLEAN:True"}},
      {"a missing node without Create gives the default and creates nothing", {},
       [](M& s, const Ids&) { return Show(s.GetConfigValue(u"/no/such", u"V", Int(7), false)); }, "INT:7", "", {}},
      {"a default of a small unsigned constant is stored as WORD", {},
       [](M& s, const Ids&) {
         return Show(s.GetConfigValue(u"/k", u"Size", Variant::FromInteger(varWord, 1000), true));
       },
       "WORD:1000", "", {"/k", "/k:Size=WORD:1000"}},
      {"a key of 32 hexadecimal digits is the node's id", {"/a/b:X=INT:5"},
       [](M& s, const Ids& ids) { return Show(s.GetConfigValue(U16(ids.at("/a/b")), u"X", Int(0), false)); },
       "INT64:5", "", {"/a", "/a/b", "/a/b:X=INT:5"}},
      {"a key without slash that is no id is a path", {"/kroot:V=INT:3"},
       [](M& s, const Ids&) { return Show(s.GetConfigValue(u"kroot", u"V", Int(0), false)); }, "INT64:3", "",
       {"/kroot", "/kroot:V=INT:3"}},
      {"a child node is no value for reading", {"/a/Sub"},
       [](M& s, const Ids&) {
         return Seq({Show(s.GetConfigValue(u"/a", u"Sub", Int(9), false)), Show(s.ConfigValueExists(u"/a", u"Sub"))});
       },
       "INT:9 false", "", {"/a", "/a/Sub"}},
      {"a value exists; a missing node is not created by the test", {"/a:V=INT:1"},
       [](M& s, const Ids&) {
         return Seq({Show(s.ConfigValueExists(u"/a", u"V")), Show(s.ConfigValueExists(u"/q/r", u"V"))});
       },
       "true false", "", {"/a", "/a:V=INT:1"}},
      {"names compare as the table's collation does", {"/Alpha/Beta:Gamma=INT:1"},
       [](M& s, const Ids&) {
         return Seq({Show(s.GetConfigValue(u"/ALPHA/beta", u"GAMMA", Int(0), false)),
                     Show(s.SetConfigValue(u"/alpha/BETA", u"gamma", Int(2)))});
       },
       "INT64:1 true", "", {"/Alpha", "/Alpha/Beta", "/Alpha/Beta:gamma=INT:2"}},
      {"DeleteAlike removes names that begin with the text, never nodes",
       {"/n:Include=INT:1", "/n:Include1=INT:2", "/n:IncludeList=INT:3", "/n/Include2", "/n:Other=INT:4"},
       [](M& s, const Ids&) { return Show(s.DeleteConfigValue(u"/n", u"Include", true)); }, "true", "",
       {"/n", "/n/Include2", "/n:Other=INT:4"}},
      {"DeleteAlike takes % and _ in the name literally",
       {"/n:a_b=INT:1", "/n:axb=INT:2", "/n:50%=INT:3", "/n:50%x=INT:4", "/n:50abc=INT:5", "/n:x!y=INT:6", "/n:x!yz=INT:7"},
       [](M& s, const Ids&) {
         return Seq({Show(s.DeleteConfigValue(u"/n", u"a_", true)), Show(s.DeleteConfigValue(u"/n", u"50%", true)),
                     Show(s.DeleteConfigValue(u"/n", u"x!y", true))});
       },
       "true true true", "", {"/n", "/n:50abc=INT:5", "/n:axb=INT:2"}},
      {"an exact delete keeps a node of the same name", {"/n/Same", "/n:Same=INT:1"},
       [](M& s, const Ids&) { return Show(s.DeleteConfigValue(u"/n", u"Same", false)); }, "true", "", {"/n", "/n/Same"}},
      {"deleting below a missing node answers false", {},
       [](M& s, const Ids&) { return Show(s.DeleteConfigValue(u"/gone", u"X", false)); }, "false", "", {}},
      {"delete by id takes value rows only", {"/n/Child", "/n:V=INT:1"},
       [](M& s, const Ids& ids) {
         return Seq({Show(s.DeleteConfigValueById(TIdType(ids.at("/n/Child")))),
                     Show(s.DeleteConfigValueById(TIdType(ids.at("/n:V=INT:1"))))});
       },
       "true true", "", {"/n", "/n/Child"}},
      {"a value by id, raw and typed, and the default for an unknown id", {"/n:V=INT:12"},
       [](M& s, const Ids& ids) {
         const TIdType id(ids.at("/n:V=INT:12"));
         return Seq({Show(s.GetConfigValueById(id, Int(0), true)), Show(s.GetConfigValueById(id, Int(0), false)),
                     Show(s.GetConfigValueById(TIdType("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"), Int(-1), false))});
       },
       "UCS4STR:12 INT64:12 INT:-1", "", {"/n", "/n:V=INT:12"}},
      {"resolution without Create finds nothing and inserts nothing", {},
       [](M& s, const Ids&) { return Show(s.GetParentTreeId(u"/a/b", false, false)); }, "id:", "", {}},
      {"the path of an id, encoded, and of a value's id the node's path", {"/a/x%2Fy", "/a:V=INT:1"},
       [](M& s, const Ids& ids) {
         return Seq({U8(s.GetKeyNameByNodeId(TIdType(ids.at("/a/x%2Fy")))),
                     U8(s.GetKeyNameByNodeId(TIdType(ids.at("/a:V=INT:1")))),
                     "[" + U8(s.GetKeyNameByNodeId(TIdType("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"))) + "]"});
       },
       "/a/x%2Fy /a []", "", {"/a", "/a/x/y", "/a:V=INT:1"}},
      {"re-keying a node moves the rows below it", {"/r/s/t:V=INT:1"},
       [](M& s, const Ids&) {
         const TIdType id = s.GetParentTreeId(u"/r/s", TIdType("ABCDEFABCDEFABCDEFABCDEFABCDEF01"), true);
         return Seq({Show(id), Show(s.GetConfigValue(u"/r/s/t", u"V", Int(0), false))});
       },
       "id:ABCDEFABCDEFABCDEFABCDEFABCDEF01 INT64:1", "", {"/r", "/r/s", "/r/s/t", "/r/s/t:V=INT:1"}},
      {"a table name that is no identifier is refused", {},
       [](M& s, const Ids&) {
         s.CfgTabName = u"qz_configuration; DROP TABLE x";
         const std::string r = Show(s.SetConfigValue(u"/a", u"X", Int(1)));
         s.CfgTabName = u"qz_configuration";
         return r;
       },
       "false", "invalid table name \"qz_configuration; DROP TABLE x\"", {}},
  };
}

template <class Backend>
void RunStatementTable() {
  Backend b;
  for (const StatementCase& c : StatementCases()) {
    SCOPED_TRACE(c.what);
    StoreEnvironment environment;
    b.Cli("DELETE FROM qz_configuration");
    const auto ids = Seed(b, c.before);
    TqzConfigManager store(false, b.ConnectionString(), u"qz_configuration");
    ASSERT_EQ(U8(store.Message), "");
    EXPECT_EQ(c.op(store, ids), c.result);
    EXPECT_EQ(U8(store.Message), c.message);
    EXPECT_EQ(Rows(b), c.after);
  }
}

}  // namespace config_suite

namespace config_suite {

// ---------------------------------------------------------------------------------------------
// The cache compares keys as the table's collation does.

template <class Backend>
void RunCacheCollation() {
  StoreEnvironment environment;
  Backend b;
  TqzConfigManager store(false, b.ConnectionString(), u"qz_configuration");
  const TIdType id("0123456789ABCDEF0123456789ABCDEF");
  struct Row {
    const char16_t* stored;
    const char16_t* looked;
    bool hit;
  };
  const std::vector<Row> rows = {
      {u"/Alpha/Beta", u"alpha/beta/", true},
      {u"/Äpfel", u"äpfel/", Backend::FoldsAllLetters},
      {u"/exact", u"exact/", true},
      {u"/one", u"one/two/", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.stored) + " / " + U8(r.looked));
    store.InitCache();
    ASSERT_TRUE(store.SetCacheKeyId(r.stored, id));
    TIdType found;
    EXPECT_EQ(store.GetCacheKeyId(r.looked, found, false), r.hit);
    EXPECT_EQ(found, r.hit ? id : TIdType());
    UnicodeString key;
    ASSERT_TRUE(store.GetCacheKeyById(id, key));
    EXPECT_EQ(key, TqzConfigManager::PrepareKey(r.stored));  // the key as stored, not folded
  }
}

// ---------------------------------------------------------------------------------------------
// Two processes on one store. The test executable runs itself as the second process: the test
// ConfigStoreChild.Run does the work named by QZ_CFG_CHILD and is skipped otherwise.

inline void WaitForFile(const std::string& path) {
  for (int i = 0; i < 6000 && !std::filesystem::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

inline void RunChild() {
  const char* mode = std::getenv("QZ_CFG_CHILD");
  if (!mode) GTEST_SKIP() << "runs only as the second process of a store test";
  const std::string folder = std::getenv("QZ_CFG_FOLDER");
  TqzConfigManager store(true, U16(std::getenv("QZ_CFG_CONSTR")), u"qz_configuration");
  ASSERT_EQ(U8(store.Message), "");
  const std::string m = mode;
  if (m == "create") {
    qztest::WriteFile(folder + "/ready-" + std::getenv("QZ_CFG_INDEX"), "");
    WaitForFile(folder + "/go");
    for (int i = 0; i < 25; ++i) {
      const UnicodeString key = u"/race/n" + U16(std::to_string(i)) + u"/leaf";
      ASSERT_TRUE(store.SetConfigValue(key, u"Same", Variant(int32_t{i}))) << U8(store.Message);
    }
  } else if (m == "signal") {
    const TIdType moved = store.GetParentTreeId(u"/sig/node", TIdType("00000000000000000000000000ABCDEF"), true);
    ASSERT_EQ(moved.str(), "00000000000000000000000000ABCDEF") << U8(store.Message);
    ASSERT_TRUE(store.SetConfigValue(u"/sig/node", u"V", Variant(int32_t{2})));
    ASSERT_TRUE(store.SetSpecificDatabaseChangeState(u"Reload"));
  }
}

inline qztest::ProcessResult StartChild(const std::string& mode, const UnicodeString& constr, const std::string& folder,
                                        int index) {
  return qztest::RunProcess({"/proc/self/exe", "--gtest_filter=ConfigStoreChild.Run"}, {},
                            {"QZ_CFG_CHILD=" + mode, "QZ_CFG_CONSTR=" + U8(constr), "QZ_CFG_FOLDER=" + folder,
                             "QZ_CFG_INDEX=" + std::to_string(index)});
}

// Two processes create the same 25 paths at the same moment: every node exists once.
template <class Backend>
void RunConcurrentCreation() {
  StoreEnvironment environment;
  Backend b;
  qztest::TempDir folder("qzcfgrace");
  std::vector<qztest::ProcessResult> results(2);
  std::vector<std::thread> children;
  for (int i = 0; i < 2; ++i) {
    children.emplace_back([&, i] { results[i] = StartChild("create", b.ConnectionString(), folder.Path(), i); });
  }
  WaitForFile(folder.Path() + "/ready-0");
  WaitForFile(folder.Path() + "/ready-1");
  qztest::WriteFile(folder.Path() + "/go", "");
  for (auto& t : children) t.join();
  for (const auto& r : results) ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(b.Cli("SELECT PARENTID, KEYNAME, COUNT(*) FROM qz_configuration WHERE DATATYPE = 'TREE' "
                  "GROUP BY PARENTID, KEYNAME HAVING COUNT(*) > 1"),
            "");
  EXPECT_EQ(b.Cli("SELECT COUNT(*) FROM qz_configuration WHERE KEYNAME = 'Same'"), "25\n");
  EXPECT_EQ(b.Cli("SELECT COUNT(*) FROM qz_configuration WHERE DATATYPE = 'TREE' AND KEYNAME = 'leaf'"), "25\n");
}

// One process changes the tree and signals; the other sees it once CacheCheckTime has passed.
template <class Backend>
void RunChangeSignal() {
  StoreEnvironment environment;
  Backend b;
  Seed(b, {"/sig/node:V=INT:1"});
  std::atomic<uint32_t> now{100000};
  TqzConfigManager::SetTickSource([&] { return now.load(); });
  TqzConfigManager reader(true, b.ConnectionString(), u"qz_configuration");
  ASSERT_EQ(U8(reader.Message), "");
  reader.CacheCheckTime = 1000;
  EXPECT_FALSE(reader.CheckSpecificDatabaseChangeState(u"Reload"));  // first sight of the flag
  now += 1001;
  EXPECT_TRUE(reader.CheckSpecificDatabaseChangeState(u"Reload"));
  EXPECT_EQ(Show(reader.GetConfigValue(u"/sig/node", u"V", Variant(int32_t{0}), false)), "INT64:1");

  qztest::TempDir folder("qzcfgsig");
  const auto child = StartChild("signal", b.ConnectionString(), folder.Path(), 0);
  ASSERT_EQ(child.ExitCode, 0) << child.Out << child.Err;

  // Before CacheCheckTime: the cached id is the node's old one, and the flag is not read again.
  EXPECT_EQ(Show(reader.GetConfigValue(u"/sig/node", u"V", Variant(int32_t{0}), false)), "INT:0");
  EXPECT_TRUE(reader.CheckSpecificDatabaseChangeState(u"Reload"));
  now += 1001;
  EXPECT_EQ(Show(reader.GetConfigValue(u"/sig/node", u"V", Variant(int32_t{0}), false)), "INT64:2");
  EXPECT_FALSE(reader.CheckSpecificDatabaseChangeState(u"Reload"));
  now += 1001;
  EXPECT_TRUE(reader.CheckSpecificDatabaseChangeState(u"Reload"));
  EXPECT_EQ(b.Cli("SELECT ID FROM qz_configuration WHERE KEYNAME = 'node'"), "00000000000000000000000000ABCDEF\n");
}

}  // namespace config_suite
