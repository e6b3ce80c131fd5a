// Configuration-store package export and value lists, on a SQLite (WAL) table reached through the
// SQLite3 ODBC driver. Every comparison runs interleaved rounds and prints the min and median
// ratio with its goal.
//
//   Export/<encoding>   a package of a tree of N nodes x 10 values plus N/50 binaries of 1 MB
//                       (kept in one node of the tree), for N = 500, 1,000 and 2,000: the export
//                       of 1,000 nodes against the one of 500, and the one of 2,000 against the
//                       one of 1,000. Goal: linear in size (ratio 2.0; at most 2.2).
//                       Peak RSS: each export once per round in a child process (this program run
//                       again with --child, so the figure is its own), its peak resident size
//                       (VmHWM, reset to the resident size once the store is open), beside the
//                       largest value set of the tree: the binaries' node, the stored texts of
//                       its values. Goal: under 3x that set. (The export reads a binary's text
//                       on its own when it writes it, so the peak stays flat as the set grows.)
//   GetNodeProperties   a node with 200 values (20 of them binaries of 64 KiB), 50 calls with
//                       and without the binaries, against the same SELECT run through the
//                       database layer alone (every field of every row read as text).
//
//   configpackage_bench [--rounds N]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CodePage.h"
#include "Database.h"
#include "DbFixtures.h"
#include "TestSupport.h"
#include "qzBase64.h"
#include "qzConfigManager.h"

namespace fs = std::filesystem;
using namespace qzbench;

namespace {

constexpr std::size_t kBinarySize = std::size_t(1) << 20;

std::string Ddl() { return qztest::ReadFile(std::string(QZ_SOURCE_DIR) + "/src/config/sql/qz_configuration.sqlite.sql"); }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Id(int n) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%032X", n);
  return buf;
}

std::string Row(const std::string& id, const std::string& parent, const std::string& name, const std::string& type,
                const std::string& value) {
  return "INSERT INTO qz_configuration (ID, PARENTID, KEYNAME, DATATYPE, KEYVALUE, CHANGEUSER) VALUES (" + Quote(id) +
         "," + Quote(parent) + "," + Quote(name) + "," + Quote(type) + "," + Quote(value) + ",'bench');\n";
}

// The tree /bench/<name> of `nodes` nodes with 10 values each and the node /bench/<name>/blobs
// with `nodes / 50` binaries of 1 MB, written by the sqlite3 client in one transaction. Returns
// the id of the binaries' node.
std::string Fill(const qztest::SqliteDb& db, const std::string& name, int nodes, int& next) {
  std::mt19937_64 rng(static_cast<uint64_t>(nodes));
  std::string sql = "BEGIN;\n";
  const std::string top = Id(++next);
  sql += Row(top, Id(1), name, "TREE", "");
  for (int i = 0; i < nodes; ++i) {
    const std::string node = Id(++next);
    sql += Row(node, top, "n" + std::to_string(i), "TREE", "");
    for (int v = 0; v < 10; ++v) {
      sql += Row(Id(++next), node, "Value" + std::to_string(v), v % 2 ? "INT" : "STRING",
                 v % 2 ? std::to_string(i * 10 + v) : "text of value " + std::to_string(v) + " in node " + std::to_string(i));
    }
  }
  const std::string blobs = Id(++next);
  sql += Row(blobs, top, "blobs", "TREE", "");
  for (int b = 0; b < nodes / 50; ++b) {
    sql += Row(Id(++next), blobs, "Blob" + std::to_string(b), "BINARY",
               TqzBase64::StrToBase64(qztest::RandomBytes(rng, kBinarySize)));
  }
  db.Exec(sql + "COMMIT;\n");
  return blobs;
}

double StatusMiB(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) / 1024.0;
  }
  return 0;
}

UnicodeString ConnectionString(const std::string& dbPath) {
  return platform::Utf8ToWide("Driver=" + qztest::SqliteOdbcDriver() + ";Database=" + dbPath + ";");
}

bool ExportTree(TqzConfigManager& store, const std::string& key, const std::string& file, TCharEncodeType encoding) {
  return store.Export(platform::Utf8ToWide(key), platform::Utf8ToWide(file), true, true, u"Bench", u"1.0.0.0", u"",
                      true, encoding, nullptr, nullptr, qzPDT_Unknown, false, "", false, u"", qzEFV_V1_5);
}

// The child: opens the store, writes its resident size to stdout, resets its peak to it, exports,
// and writes its peak resident size (VmHWM: wait4's figure would not do, as a child started by
// posix_spawn shares the parent's memory until it runs exec, and the kernel keeps the parent's
// peak for it).
int Child(char** argv) {
  TqzConfigManager store(false, ConnectionString(argv[2]), u"qz_configuration");
  TProperties warm;  // the first statement loads the driver's parts
  store.GetNodeProperties(u"/bench", warm, true, false, false, u"", "", false, true, false);
  std::printf("%.1f\n", StatusMiB("VmRSS"));
  std::fflush(stdout);
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";  // VmHWM := VmRSS
    reset.flush();
    if (!reset) std::fprintf(stderr, "cannot reset the peak resident size; it includes the start\n");
  }
  const TCharEncodeType encoding = std::string(argv[5]) == "utf16" ? qzCE_UTF16 : qzCE_UTF8;
  if (!ExportTree(store, argv[3], argv[4], encoding)) {
    std::fprintf(stderr, "export failed: %s\n", platform::WideToUtf8(store.Message).c_str());
    return 1;
  }
  std::printf("%.1f\n", StatusMiB("VmHWM"));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--child") return Child(argv);
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  try {
    qztest::TempDir registry("qzbenchreg");
    ::setenv("KESTA_REGISTRY_DIR", registry.Path().c_str(), 1);
    std::printf("generating data ...\n");
    std::fflush(stdout);
    qztest::SqliteDb db;
    db.Exec("PRAGMA journal_mode=WAL;\n" + Ddl());
    db.Exec(Row(Id(1), "", "bench", "TREE", ""));
    int next = 1;
    struct Tree {
      const char* name;
      int nodes;
      std::string blobs;  // id of the binaries' node
      double valueSetMiB = 0;
    };
    Tree trees[] = {{"half", 500, {}}, {"full", 1000, {}}, {"double", 2000, {}}};
    for (Tree& t : trees) {
      t.blobs = Fill(db, t.name, t.nodes, next);
      t.valueSetMiB = std::stod(db.Exec("SELECT SUM(LENGTH(KEYVALUE)) FROM qz_configuration WHERE PARENTID = " +
                                        Quote(t.blobs) + ";")) /
                      (1 << 20);
    }
    TqzConfigManager store(false, db.ConnectionString(), u"qz_configuration");
    qztest::TempDir out("qzbenchexport");

    for (TCharEncodeType encoding : {qzCE_UTF8, qzCE_UTF16}) {
      const std::string label = encoding == qzCE_UTF8 ? "UTF-8" : "UTF-16";
      auto exportOf = [&](const Tree& t) {
        return [&, file = out.Path() + "/" + t.name + ".xml", key = std::string("/bench/") + t.name] {
          return Time([&] {
            if (!ExportTree(store, key, file, encoding)) {
              throw std::runtime_error("export failed: " + platform::WideToUtf8(store.Message));
            }
          });
        };
      };
      exportOf(trees[0])();  // warm
      Compare("Export/" + label + ": 1,000 nodes x 10 values + 20 binaries of 1 MB vs 500 nodes + 10 binaries", rounds,
              exportOf(trees[1]), exportOf(trees[0]), 2.2);
      Compare("Export/" + label + ": 2,000 nodes x 10 values + 40 binaries of 1 MB vs 1,000 nodes + 20 binaries",
              rounds, exportOf(trees[2]), exportOf(trees[1]), 2.2);
      for (const Tree& t : trees) {
        const std::string file = out.Path() + "/" + t.name + "-child.xml";
        const std::string baselineFile = out.Path() + "/baseline.txt";
        std::vector<double> peaks, ratios;
        double baseline = 0, peak = 0;
        for (int round = 0; round < rounds; ++round) {
          const ChildResult r = RunChild({fs::read_symlink("/proc/self/exe").string(), "--child", db.Path(),
                                          std::string("/bench/") + t.name, file, encoding == qzCE_UTF8 ? "utf8" : "utf16"},
                                         baselineFile);
          if (r.exitCode != 0) throw std::runtime_error("the export child failed");
          if (std::sscanf(qztest::ReadFile(baselineFile).c_str(), "%lf %lf", &baseline, &peak) != 2) {
            throw std::runtime_error("the export child reported no sizes");
          }
          peaks.push_back(peak);
          ratios.push_back(peak / t.valueSetMiB);
        }
        std::printf("  %5d nodes: file %.1f MiB; largest value set %.1f MiB; child peak RSS min %.1f MiB, median %.1f MiB"
                    " (%.1f MiB before the export): peak / value set min %.2fx, median %.2fx (goal: under 3x)\n",
                    t.nodes, static_cast<double>(fs::file_size(file)) / (1 << 20), t.valueSetMiB,
                    *std::min_element(peaks.begin(), peaks.end()), Median(peaks), baseline,
                    *std::min_element(ratios.begin(), ratios.end()), Median(ratios));
        fs::remove(file);
      }
      std::printf("\n");
    }

    // GetNodeProperties of a node with 200 values, 20 of them binaries of 64 KiB.
    std::mt19937_64 rng(7);
    const std::string node = Id(++next);
    std::string sql = "BEGIN;\n" + Row(node, Id(1), "props", "TREE", "");
    for (int i = 0; i < 200; ++i) {
      const bool binary = i % 10 == 0;
      sql += Row(Id(++next), node, "P" + std::to_string(i), binary ? "BINARY" : "STRING",
                 binary ? TqzBase64::StrToBase64(qztest::RandomBytes(rng, 64 << 10)) : "value " + std::to_string(i));
    }
    db.Exec(sql + "COMMIT;\n");
    platform::DbConnection connection(db.ConnectionString());
    constexpr int kCalls = 50;
    for (bool withBinaries : {true, false}) {
      auto subject = [&] {
        return Time([&] {
          for (int i = 0; i < kCalls; ++i) {
            TProperties list;
            store.GetNodeProperties(u"/bench/props", list, true, false, false, u"", "", false, withBinaries, false);
            if (list.size() != (withBinaries ? 200u : 180u)) throw std::runtime_error("unexpected value count");
          }
        });
      };
      auto reference = [&] {
        return Time([&] {
          for (int i = 0; i < kCalls; ++i) {
            platform::DbDataSet q(&connection);
            q.SQL.Add(u"SELECT ID,DATATYPE,KEYNAME,KEYVALUE,DIMENSION,CHANGEUSER,CHANGEDATE FROM qz_configuration");
            q.SQL.Add(u"WHERE PARENTID = :PARENTID AND NOT(DATATYPE = :DATATYPE)");
            if (!withBinaries) q.SQL.Add(u"AND NOT(DATATYPE = :BINDATATYPE)");
            q.SQL.Add(u"AND KEYNAME LIKE :NAMEPREFIX ESCAPE '!' ORDER BY KEYNAME");
            q.ParamByName(u"PARENTID").SetValue(Variant(platform::Utf8ToWide(node)));
            q.ParamByName(u"DATATYPE").SetValue(Variant(u"TREE"));
            if (!withBinaries) q.ParamByName(u"BINDATATYPE").SetValue(Variant(u"BINARY"));
            q.ParamByName(u"NAMEPREFIX").SetValue(Variant(u"%"));
            q.Open();
            std::size_t chars = 0;
            for (q.First(); !q.Eof(); q.Next()) {
              for (int f = 0; f < q.FieldCount(); ++f) chars += q.Fields(f).AsString().size();
            }
            if (q.RecordCount() != (withBinaries ? 200 : 180) || chars == 0) {
              throw std::runtime_error("unexpected row count");
            }
          }
        });
      };
      subject();
      reference();
      Compare(std::string("GetNodeProperties: 200 values, ") + (withBinaries ? "with" : "without") +
                  " the 20 binaries of 64 KiB, 50 calls vs the bare statement through the database layer",
              rounds, subject, reference, 0);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "configpackage_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
