// Export benchmarks, driven through the built plug-in (libqzkqfexport.so, loaded with dlopen as a
// host does; QZ_EXPORT_LIBRARY overrides where it is looked for):
//
//   Export200x5MiB      one document of 200 pages of 5 MiB to a loopback server that answers OK,
//                       in a child process per run: wall time and the child's peak RSS
//                       (counters peak_rss_MiB, rss_per_payload = peak RSS / payload)
//   Base64SameFiles     `cat <the same files> | base64 -w0 > /dev/null`, the yardstick for the time
//   LookupExport/...    one document per iteration (lookup, mapping, exchange, status update) on a
//                       KQF table of 1,000,000 rows in SQLite with indexes on the barcode column
//                       and ZDMTDT; exact match, UNSHARP (LIKE prefix), and UNSHARP with the
//                       barcode index declared COLLATE NOCASE (which SQLite's LIKE can use)
//   LookupSqliteCli/... the same SELECT through sqlite3's command-line client (many statements in
//                       one process, less the time of an empty process), per statement
//
// Data are generated once per process in a temporary folder (the 1,000,000 rows by one SQL
// statement in the sqlite3 client, a few seconds).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "../src/export/qzkqfexport.h"

namespace fs = std::filesystem;

namespace {

using ExportFn = int32_t (*)(int32_t, char16_t*, int32_t, char16_t*);
constexpr int kPages = 200;
constexpr size_t kPageSize = size_t(5) << 20;
constexpr int kRows = 1000000;

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }  // ASCII only

std::string Run(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run " + command);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (::pclose(p) != 0) throw std::runtime_error("failed: " + command);
  return out;
}

void Sql(const std::string& db, const std::string& sql) {
  FILE* p = ::popen(("sqlite3 -batch -bail '" + db + "' > /dev/null").c_str(), "w");
  std::fwrite(sql.data(), 1, sql.size(), p);
  if (::pclose(p) != 0) throw std::runtime_error("sqlite3 failed on " + db);
}

std::string Library() {
  if (const char* env = std::getenv("QZ_EXPORT_LIBRARY")) return env;
  const fs::path exe = fs::read_symlink("/proc/self/exe").parent_path();
  for (const fs::path& p : {exe / "libqzkqfexport.so", exe.parent_path() / "libqzkqfexport.so"}) {
    if (fs::exists(p)) return p.string();
  }
  throw std::runtime_error("libqzkqfexport.so not found next to the benchmark or one folder up");
}

std::string SqliteDriver() {
  if (Run("odbcinst -q -d 2>/dev/null").find("[SQLite3]") != std::string::npos) return "SQLite3";
  return Run("ls /usr/lib/*/odbc/libsqlite3odbc.so | head -n1 | tr -d '\\n'");
}

struct Plugin {
  void* handle = nullptr;
  ExportFn fn = nullptr;
  std::vector<char16_t> param = std::vector<char16_t>(QZWE_PARAM_CAPACITY, 0);
  std::vector<char16_t> msg = std::vector<char16_t>(QZWE_MSG_CAPACITY, 0);

  Plugin() {
    handle = ::dlopen(Library().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error(::dlerror());
    fn = reinterpret_cast<ExportFn>(::dlsym(handle, "qzWideExport"));
  }
  int32_t Send(int32_t command, const std::u16string& text = u"") {
    std::copy(text.begin(), text.end(), param.begin());
    param[text.size()] = 0;
    msg[0] = 0;
    return fn(command, param.data(), 0, msg.data());
  }
  std::string Msg() const {
    std::string s;
    for (const char16_t* p = msg.data(); *p; ++p) s += *p < 128 ? static_cast<char>(*p) : '?';
    return s;
  }
};

// A loopback archive server in a child process of its own (forked before anything else starts
// threads): reads each request up to its closing tag, keeping only the tail, and answers OK.
struct OkServer {
  pid_t pid = -1;
  int port = 0;

  OkServer() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0) {
      throw std::runtime_error("cannot listen");
    }
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    pid = ::fork();
    if (pid == 0) {
      const std::string answer = "<RESULT><enc=mime><comp=false><UmVzdWx0PU9L><RG9jSWQ9MDEyMzQ1Njc4OUFCQ0RFRg==></RESULT>";
      std::vector<char> buf(size_t(1) << 20);
      for (;;) {
        int c = ::accept(s, nullptr, nullptr);
        if (c < 0) continue;
        std::string head, tail;
        for (;;) {
          ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
          if (n <= 0) break;
          if (head.size() < 64) head.append(buf.data(), std::min<size_t>(static_cast<size_t>(n), 64));
          tail.append(buf.data(), static_cast<size_t>(n));
          if (tail.size() > 64) tail.erase(0, tail.size() - 64);
          const auto gt = head.find('>');
          if (gt != std::string::npos) {
            const std::string close = "</" + head.substr(1, gt - 1) + ">";
            if (tail.size() >= close.size() && tail.compare(tail.size() - close.size(), close.size(), close) == 0) break;
          }
        }
        ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(c);
      }
    }
    ::close(s);
  }
  ~OkServer() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

struct Data {
  fs::path dir;
  std::unique_ptr<OkServer> server;
  std::string driver;
  std::vector<std::string> pages;
  std::string smallDb;  // one stapling of 200 pages
  std::string bigDb;    // 1,000,000 staplings, binary barcode index
  std::string nocaseDb; // the same with the barcode index declared COLLATE NOCASE

  static Data& Get() {
    static Data data;
    return data;
  }

 private:
  Data() {
    server = std::make_unique<OkServer>();
    dir = fs::temp_directory_path() / ("qz-export-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "pages");
    driver = SqliteDriver();
    std::mt19937_64 rng(42);
    std::string content(kPageSize, '\0');
    for (int i = 0; i < kPages; ++i) {
      for (size_t k = 0; k + 8 <= content.size(); k += 8) {
        const uint64_t v = rng();
        std::memcpy(content.data() + k, &v, 8);
      }
      char name[32];
      std::snprintf(name, sizeof name, "page%03d.tif", i + 1);
      pages.push_back((dir / "pages" / name).string());
      std::ofstream(pages.back(), std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    const std::string table =
        "CREATE TABLE ZDMNNCI (ZDMKEY INTEGER PRIMARY KEY, ZDMNBC VARCHAR(40), ZDMMNU VARCHAR(3), ZDMDOC VARCHAR(10),"
        " ZDMTDT VARCHAR(14), ZDMPAG INTEGER, ZDMSUP VARCHAR(1), ZDMTNO INTEGER, ZDMADT VARCHAR(8), ZDMATM VARCHAR(6),"
        " ZDMSTS VARCHAR(1), ZDME01 VARCHAR(10), ZDMV01 VARCHAR(40));";
    smallDb = (dir / "small.sqlite").string();
    Sql(smallDb, table + "INSERT INTO ZDMNNCI VALUES (1, 'BIG1', '100', 'INV', '20240101000000', 200, '0', NULL,"
                         " '', '', 'O', 'AMOUNT', '0000012345');");
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

 public:
  ~Data() {
    server.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  std::string Config(const std::string& db, bool unsharp, bool pageCheck) const {
    return "<CONFIG><DOCSERVER=127.0.0.1><DOCSERVERPORT=" + std::to_string(server->port) + "><KQFDBCONSTR=Driver=" +
           driver + ";Database=" + db + ";><KQFDBNAME=main><CHKPAGECOUNT=" + (pageCheck ? "1" : "0") + "><UNSHARP=" +
           (unsharp ? "1" : "0") + "><ASSIGN=INV;AMOUNT;BETRAG;;;x></CONFIG>";
  }
};

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void Export200x5MiB(benchmark::State& state) {
  Data& d = Data::Get();
  const fs::path run = d.dir / "run";
  long peakKiB = 0;
  for (auto _ : state) {
    // The plug-in deletes its pages: give it hard links to the generated files.
    fs::remove_all(run);
    fs::create_directories(run);
    std::vector<std::string> links;
    for (const auto& page : d.pages) {
      links.push_back((run / fs::path(page).filename()).string());
      fs::create_hard_link(page, links.back());
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
      Plugin plugin;
      plugin.Send(QZWE_CMD_INIT);
      plugin.Send(QZWE_CMD_SETCONFIG, U16(d.Config(d.smallDb, false, true)));
      plugin.Send(QZWE_CMD_NEWDOCUMENT);
      plugin.Send(QZWE_CMD_SETARCHIVE, u"BENCH");
      plugin.Send(QZWE_CMD_SETTITLE, u"200 pages");
      plugin.Send(QZWE_CMD_ADDINDEX, u"Barcode=BIG1");
      for (const auto& link : links) plugin.Send(QZWE_CMD_ADDFILE, U16(link));
      const int32_t result = plugin.Send(QZWE_CMD_EXPORT);
      if (result != 0) std::fprintf(stderr, "export: %d %s\n", result, plugin.Msg().c_str());
      std::fflush(stderr);
      ::_exit(result == 0 ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the export failed");
      break;
    }
    state.SetIterationTime(Seconds(start, end));
    peakKiB = std::max(peakKiB, usage.ru_maxrss);
  }
  const double payloadMiB = kPages * (kPageSize / 1048576.0);
  state.counters["payload_MiB"] = payloadMiB;
  state.counters["peak_rss_MiB"] = static_cast<double>(peakKiB) / 1024.0;
  state.counters["rss_per_payload"] = static_cast<double>(peakKiB) / 1024.0 / payloadMiB;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPages * static_cast<int64_t>(kPageSize));
}
BENCHMARK(Export200x5MiB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void Base64SameFiles(benchmark::State& state) {
  Data& d = Data::Get();
  std::string command = "cat";
  for (const auto& page : d.pages) command += " '" + page + "'";
  command += " | base64 -w0 > /dev/null";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("base64 failed");
      break;
    }
    state.SetIterationTime(Seconds(start, std::chrono::steady_clock::now()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPages * static_cast<int64_t>(kPageSize));
}
BENCHMARK(Base64SameFiles)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// arg 0: exact; 1: UNSHARP with the binary index; 2: UNSHARP with the NOCASE index.
void LookupExport(benchmark::State& state) {
  Data& d = Data::Get();
  static Plugin plugin;
  const bool unsharp = state.range(0) != 0;
  const std::string& db = state.range(0) == 2 ? d.nocaseDb : d.bigDb;
  plugin.Send(QZWE_CMD_INIT);
  plugin.Send(QZWE_CMD_SETCONFIG, U16(d.Config(db, unsharp, false)));
  std::mt19937 rng(7);
  for (auto _ : state) {
    char barcode[32];
    std::snprintf(barcode, sizeof barcode, "Barcode=BC%07u", 1 + static_cast<unsigned>(rng() % kRows));
    plugin.Send(QZWE_CMD_NEWDOCUMENT);
    plugin.Send(QZWE_CMD_ADDINDEX, U16(barcode));
    const int32_t result = plugin.Send(QZWE_CMD_EXPORT);
    if (result != 0) {
      state.SkipWithError(("export: " + plugin.Msg()).c_str());
      break;
    }
  }
  plugin.Send(QZWE_CMD_DONE);
}
BENCHMARK(LookupExport)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"unsharp"})->Unit(benchmark::kMicrosecond);

// The same statement through sqlite3's client: N statements in one process, less an empty run.
void LookupSqliteCli(benchmark::State& state) {
  Data& d = Data::Get();
  const bool unsharp = state.range(0) != 0;
  const std::string& db = state.range(0) == 2 ? d.nocaseDb : d.bigDb;
  // A LIKE that cannot use the binary index scans the table: a few statements are enough there.
  const int kStatements = state.range(0) == 1 ? 3 : 200;
  std::mt19937 rng(7);
  std::string script;
  for (int i = 0; i < kStatements; ++i) {
    char barcode[32];
    std::snprintf(barcode, sizeof barcode, "BC%07u", 1 + static_cast<unsigned>(rng() % kRows));
    script += std::string("SELECT * FROM main.ZDMNNCI WHERE ( ZDMNBC ") +
              (unsharp ? std::string("like '") + barcode + "%' ESCAPE '!'" : std::string("= '") + barcode + "'") +
              " ) ORDER BY ZDMTDT DESC;\n";
  }
  const fs::path file = d.dir / "lookup.sql";
  std::ofstream(file) << script;
  const std::string full = "sqlite3 -batch '" + db + "' < '" + file.string() + "' > /dev/null";
  const std::string empty = "sqlite3 -batch '" + db + "' < /dev/null > /dev/null";
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(empty.c_str()) != 0) state.SkipWithError("sqlite3 failed");
    auto t1 = std::chrono::steady_clock::now();
    if (std::system(full.c_str()) != 0) state.SkipWithError("sqlite3 failed");
    auto t2 = std::chrono::steady_clock::now();
    state.SetIterationTime(std::max(0.0, Seconds(t1, t2) - Seconds(t0, t1)) / kStatements);
  }
}
BENCHMARK(LookupSqliteCli)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"unsharp"})->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
