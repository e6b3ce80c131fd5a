// Export benchmarks, driven through the built plug-in (libqzkqfexport.so next to this program, or
// QZ_EXPORT_LIBRARY), each export in a fresh child process that loads it as a host does (this
// program run again with --child), so that the child's peak resident size is the plug-in's own.
// Every comparison runs interleaved rounds and prints the min and median ratio with its goal.
//
//   1. One document of 200 pages of 5 MiB to the archive-server stand-in (built beside this
//      program) storing under /dev/shm, against `cat <pages> | base64 -w0 > /dev/null`.
//   2. The same document to a loopback peer that reads and discards the request: the client alone.
//   3. One page of 1 GiB to the stand-in: the plug-in's peak resident size stays bounded.
//   4. The lookup alone: the SELECT the run issues (exact and UNSHARP), through the database layer,
//      against the same statement in sqlite3's client, on a KQF table of 1,000,000 rows.
//   5. Whole documents: lookup, mapping, exchange with the discarding peer and status update.
//
//   export_bench [--rounds N] [--skip-large] [--transfer-only]   (--transfer-only: 1 to 3 alone)
#include <dlfcn.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../src/export/qzkqfexport.h"
#include "BenchSupport.h"
#include "CodePage.h"
#include "Database.h"
#include "Variant.h"

namespace fs = std::filesystem;
using namespace qzbench;

namespace {

using ExportFn = int32_t (*)(int32_t, char16_t*, int32_t, char16_t*);
constexpr int kPages = 200;
constexpr size_t kPageSize = size_t(5) << 20;
constexpr size_t kLargePage = size_t(1) << 30;
constexpr int kRows = 1000000;

std::u16string U16(const std::string& s) { return platform::Utf8ToWide(s); }

fs::path Self() { return fs::read_symlink("/proc/self/exe"); }

std::string Library() {
  if (const char* env = std::getenv("QZ_EXPORT_LIBRARY")) return env;
  return FindBuilt("libqzkqfexport.so");
}

std::string SqliteDriver() {
  FILE* p = ::popen("odbcinst -q -d 2>/dev/null", "r");
  std::string out;
  char buf[512];
  size_t n;
  while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (p) ::pclose(p);
  return out.find("[SQLite3]") != std::string::npos ? "SQLite3" : "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
}

void Sql(const std::string& db, const std::string& sql) {
  FILE* p = ::popen(("sqlite3 -batch -bail '" + db + "' > /dev/null").c_str(), "w");
  std::fwrite(sql.data(), 1, sql.size(), p);
  if (::pclose(p) != 0) throw std::runtime_error("sqlite3 failed on " + db);
}

void WriteRandomFile(const std::string& path, size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint64_t> block((size_t(4) << 20) / 8);
  std::ofstream out(path, std::ios::binary);
  for (size_t done = 0; done < size;) {
    for (auto& v : block) v = rng();
    const size_t n = std::min(size - done, block.size() * 8);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    done += n;
  }
}

// ---- the child: one export through the plug-in ----------------------------------------------

// --child CONFIG ARCHIVE INDEX PAGE...: commands 100, 110, 200, 130, 400, 500 per page, 600.
int Child(int argc, char** argv) {
  void* handle = ::dlopen(Library().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "%s\n", ::dlerror());
    return 3;
  }
  auto fn = reinterpret_cast<ExportFn>(::dlsym(handle, "qzWideExport"));
  std::vector<char16_t> param(QZWE_PARAM_CAPACITY), msg(QZWE_MSG_CAPACITY);
  auto send = [&](int32_t command, const std::u16string& text = u"") {
    std::copy(text.begin(), text.end(), param.begin());
    param[text.size()] = 0;
    msg[0] = 0;
    return fn(command, param.data(), 0, msg.data());
  };
  send(QZWE_CMD_INIT);
  send(QZWE_CMD_SETCONFIG, U16(argv[2]));
  send(QZWE_CMD_NEWDOCUMENT);
  send(QZWE_CMD_SETARCHIVE, U16(argv[3]));
  send(QZWE_CMD_SETTITLE, u"bench");
  send(QZWE_CMD_ADDINDEX, U16(argv[4]));
  for (int i = 5; i < argc; ++i) send(QZWE_CMD_ADDFILE, U16(argv[i]));
  const int32_t result = send(QZWE_CMD_EXPORT);
  if (result != 0) std::fprintf(stderr, "export: %d %s\n", result, platform::WideToUtf8(msg.data()).c_str());
  send(QZWE_CMD_DONE);
  return result == 0 ? 0 : 1;
}

// ---- peers -------------------------------------------------------------------------------------

// ---- data ----------------------------------------------------------------------------------------

struct Data {
  fs::path dir, store;
  std::string driver, smallDb, bigDb, nocaseDb;
  std::vector<std::string> pages;
  std::string largePage;

  Data(bool large, bool lookups) {
    dir = fs::temp_directory_path() / ("qz-export-bench-" + std::to_string(::getpid()));
    store = fs::path("/dev/shm") / ("qz-export-bench-store-" + std::to_string(::getpid()));
    fs::create_directories(dir / "pages");
    fs::create_directories(store);
    driver = SqliteDriver();
    for (int i = 0; i < kPages; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "page%03d.tif", i + 1);
      pages.push_back((dir / "pages" / name).string());
      WriteRandomFile(pages.back(), kPageSize, 42 + static_cast<uint64_t>(i));
    }
    if (large) {
      largePage = (dir / "large.tif").string();
      WriteRandomFile(largePage, kLargePage, 7);
    }
    const std::string table =
        "CREATE TABLE ZDMNNCI (ZDMKEY INTEGER PRIMARY KEY, ZDMNBC VARCHAR(40), ZDMMNU VARCHAR(3), ZDMDOC VARCHAR(10),"
        " ZDMTDT VARCHAR(14), ZDMPAG INTEGER, ZDMSUP VARCHAR(1), ZDMTNO INTEGER, ZDMADT VARCHAR(8), ZDMATM VARCHAR(6),"
        " ZDMSTS VARCHAR(1), ZDME01 VARCHAR(10), ZDMV01 VARCHAR(40));";
    smallDb = (dir / "small.sqlite").string();
    Sql(smallDb, table + "INSERT INTO ZDMNNCI VALUES (1, 'BIG1', '100', 'INV', '20240101000000', 200, '0', NULL,"
                         " '', '', 'O', 'AMOUNT', '0000012345');"
                         "INSERT INTO ZDMNNCI VALUES (2, 'BIG2', '100', 'INV', '20240101000000', 1, '0', NULL,"
                         " '', '', 'O', 'AMOUNT', '0000012345');");
    if (!lookups) return;
    bigDb = (dir / "big.sqlite").string();
    const std::string rows =
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " + std::to_string(kRows) +
        ") INSERT INTO ZDMNNCI SELECT x, printf('BC%07d', x), '100', 'INV', printf('2024%010d', (x * 7919) % 1000003),"
        " 1, '0', NULL, '', '', 'O', 'AMOUNT', printf('%010d', x) FROM c;";
    Sql(bigDb, "PRAGMA journal_mode=WAL;" + table + "BEGIN;" + rows +
                   "COMMIT; CREATE INDEX ZDMNNCI_BC ON ZDMNNCI (ZDMNBC); CREATE INDEX ZDMNNCI_TDT ON ZDMNNCI (ZDMTDT);");
    nocaseDb = (dir / "nocase.sqlite").string();
    fs::copy_file(bigDb, nocaseDb);
    Sql(nocaseDb, "DROP INDEX ZDMNNCI_BC; CREATE INDEX ZDMNNCI_BC ON ZDMNNCI (ZDMNBC COLLATE NOCASE);");
  }
  ~Data() {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::remove_all(store, ec);
  }

  std::string Config(const std::string& db, int port, bool unsharp, bool pageCheck) const {
    return "<CONFIG><DOCSERVER=127.0.0.1><DOCSERVERPORT=" + std::to_string(port) + "><KQFDBCONSTR=Driver=" + driver +
           ";Database=" + db + ";><KQFDBNAME=main><CHKPAGECOUNT=" + (pageCheck ? "1" : "0") + "><UNSHARP=" +
           (unsharp ? "1" : "0") + "><ASSIGN=INV;AMOUNT;BETRAG;;;x></CONFIG>";
  }

  // Hard links to the pages (the plug-in deletes what it was given), then one export in a child.
  ChildResult Export(const std::vector<std::string>& files, int port, const std::string& barcode) {
    const fs::path run = dir / "run";
    fs::remove_all(run);
    fs::create_directories(run);
    std::vector<std::string> argv = {Self().string(), "--child", Config(smallDb, port, false, true), "BENCH",
                                     "Barcode=" + barcode};
    for (const auto& f : files) {
      argv.push_back((run / fs::path(f).filename()).string());
      fs::create_hard_link(f, argv.back());
    }
    ChildResult r = RunChild(argv);
    if (r.exitCode != 0) throw std::runtime_error("the export failed");
    return r;
  }

  void ClearStore() {
    for (const auto& e : fs::directory_iterator(store)) fs::remove_all(e.path());
  }
};

std::string Base64Command(const std::vector<std::string>& files) {
  std::string command = "cat";
  for (const auto& f : files) command += " '" + f + "'";
  return command + " | base64 -w0 > /dev/null";
}

// The lookup statement as the run builds it (see PrepareLookup), with its parameters bound.
void LookupOnce(platform::DbConnection& con, const std::string& barcode, bool unsharp) {
  platform::DbDataSet q(&con);
  q.SQL.Add(u"SELECT * FROM main.ZDMNNCI");
  q.SQL.Add(unsharp ? u"WHERE ( ZDMNBC like :P1 ESCAPE '!' )" : u"WHERE ( ZDMNBC = :P1 )");
  q.SQL.Add(u"ORDER BY ZDMTDT DESC");
  q.ParamByName(u"P1").SetValue(Variant::FromOleStr(U16(unsharp ? barcode + "%" : barcode)));
  q.Open();
  if (q.RecordCount() < 1) throw std::runtime_error("lookup found nothing");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--child") return Child(argc, argv);
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  bool large = true, lookups = true;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--skip-large") large = false;
    if (std::string(argv[i]) == "--transfer-only") lookups = false;
  }
  try {
    std::printf("generating data ...\n");
    std::fflush(stdout);
    Data d(large, lookups);
    DiscardPeer discard;
    StandIn standIn(d.store.string());
    const std::string base64 = Base64Command(d.pages);
    Shell(base64);  // warm the page cache

    double peak = 0;
    Compare("1. Export 200 x 5 MiB to the stand-in (store under /dev/shm) vs base64 -w0 over the same files", rounds,
            [&] {
              ChildResult r = d.Export(d.pages, standIn.port, "BIG1");
              peak = std::max(peak, r.peakRssMiB);
              d.ClearStore();
              return r.seconds;
            },
            [&] { return Shell(base64); }, 1.0);
    std::printf("   plug-in peak RSS: %.1f MiB (goal: under 32 MiB)\n\n", peak);
    peak = 0;
    Compare("2. Export 200 x 5 MiB to a peer that discards (the client alone) vs base64 -w0", rounds,
            [&] {
              ChildResult r = d.Export(d.pages, discard.port, "BIG1");
              peak = std::max(peak, r.peakRssMiB);
              return r.seconds;
            },
            [&] { return Shell(base64); }, 0.7);
    std::printf("   plug-in peak RSS: %.1f MiB (goal: under 32 MiB)\n\n", peak);
    if (large) {
      peak = 0;
      const std::string one = Base64Command({d.largePage});
      Shell(one);
      Compare("3. Export one page of 1 GiB to the stand-in vs base64 -w0", std::max(1, rounds / 2 + 1),
              [&] {
                ChildResult r = d.Export({d.largePage}, standIn.port, "BIG2");
                peak = std::max(peak, r.peakRssMiB);
                d.ClearStore();
                return r.seconds;
              },
              [&] { return Shell(one); }, 1.0);
      std::printf("   plug-in peak RSS: %.1f MiB (goal: under 32 MiB)\n\n", peak);
    }

    if (!lookups) return 0;

    // 4. The lookup alone, statement by statement; sqlite3 runs the same statements in one process,
    //    less the time of an empty run.
    for (int mode = 0; mode < 3; ++mode) {
      const bool unsharp = mode != 0;
      const std::string& db = mode == 2 ? d.nocaseDb : d.bigDb;
      const int statements = mode == 1 ? 5 : 300;  // a LIKE the binary index cannot serve scans the table
      std::mt19937 rng(7);
      std::vector<std::string> barcodes;
      std::string script;
      for (int i = 0; i < statements; ++i) {
        char barcode[32];
        std::snprintf(barcode, sizeof barcode, "BC%07u", 1 + static_cast<unsigned>(rng() % kRows));
        barcodes.push_back(barcode);
        script += std::string("SELECT * FROM main.ZDMNNCI WHERE ( ZDMNBC ") +
                  (unsharp ? std::string("like '") + barcode + "%' ESCAPE '!'" : std::string("= '") + barcode + "'") +
                  " ) ORDER BY ZDMTDT DESC;\n";
      }
      const fs::path file = d.dir / "lookup.sql";
      std::ofstream(file) << script;
      platform::DbConnection con(U16("Driver=" + d.driver + ";Database=" + db + ";"));
      LookupOnce(con, barcodes[0], unsharp);
      const char* names[] = {"exact", "UNSHARP, binary index", "UNSHARP, NOCASE index"};
      Compare(std::string("4. Lookup alone (") + names[mode] + "), " + std::to_string(statements) +
                  " statements: database layer vs sqlite3 client",
              rounds, [&] { return Time([&] { for (const auto& b : barcodes) LookupOnce(con, b, unsharp); }); },
              [&] {
                const double empty = Shell("sqlite3 -batch '" + db + "' < /dev/null > /dev/null");
                return std::max(1e-6, Shell("sqlite3 -batch '" + db + "' < '" + file.string() + "' > /dev/null") - empty);
              },
              0);
    }

    // 5. Whole documents (no pages): lookup, mapping, exchange with the discarding peer, status
    //    update, through the plug-in in this process.
    {
      void* handle = ::dlopen(Library().c_str(), RTLD_NOW | RTLD_LOCAL);
      auto fn = reinterpret_cast<ExportFn>(::dlsym(handle, "qzWideExport"));
      std::vector<char16_t> param(QZWE_PARAM_CAPACITY), msg(QZWE_MSG_CAPACITY);
      auto send = [&](int32_t command, const std::u16string& text = u"") {
        std::copy(text.begin(), text.end(), param.begin());
        param[text.size()] = 0;
        return fn(command, param.data(), 0, msg.data());
      };
      send(QZWE_CMD_INIT);
      send(QZWE_CMD_SETCONFIG, U16(d.Config(d.bigDb, discard.port, false, false)));
      std::mt19937 rng(9);
      const int documents = 300;
      std::vector<double> perDoc;
      for (int round = 0; round < rounds; ++round) {
        perDoc.push_back(Time([&] {
                           for (int i = 0; i < documents; ++i) {
                             char barcode[40];
                             std::snprintf(barcode, sizeof barcode, "Barcode=BC%07u", 1 + static_cast<unsigned>(rng() % kRows));
                             send(QZWE_CMD_NEWDOCUMENT);
                             send(QZWE_CMD_ADDINDEX, U16(barcode));
                             if (send(QZWE_CMD_EXPORT) != 0) throw std::runtime_error("a document was not exported");
                           }
                         }) / documents);
      }
      send(QZWE_CMD_DONE);
      std::printf("5. Whole document (exact lookup, mapping, exchange, status update): median %.3f ms per document\n",
                  Median(perDoc) * 1000);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "export_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
