// The service log against glibc's syslog(3), and the document log on MariaDB. Every comparison runs
// interleaved rounds and prints the min and median ratio with its goal.
//
//   1. 8 producer threads x 100,000 TqzConsoleTools::Log calls (info entries) with the daily log
//      file and syslog on (UDP to a private rsyslogd on loopback), against 8 threads x 100,000
//      syslog(3) calls to the same rsyslogd (its unix socket, which glibc reaches as /dev/log in
//      a mount namespace of a child process of its own). Per round: p50/p99 latency of one call,
//      and lines per second written: for Log from the first call until the writer has written
//      every line to the file and sent it to syslog, for syslog(3) until every call has returned.
//      Goals: Log's p99 under 20 us; Log's time per line at most glibc's (ratio <= 1).
//      The lines rsyslogd received from each side are counted as well (UDP may drop, the unix
//      socket makes the sender wait).
//   2. 1,000 DocLog calls (modify events with three metadata fields) on a private MariaDB server,
//      with the metadata table off and on, against the same statements run directly through the
//      database layer on one connection (no goal is set for these; the figures are reported).
//
//   log_bench [--rounds N] [--calls N] [--doclog-calls N] [--skip-mariadb]
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Clock.h"
#include "CodePage.h"
#include "Database.h"
#include "DbFixtures.h"
#include "FormatSettings.h"
#include "LogReceivers.h"
#include "TestSupport.h"
#include "Udl.h"
#include "qzConfigManager.h"
#include "qzConsoleTools.h"

namespace fs = std::filesystem;
using namespace qzbench;

namespace {

constexpr int kThreads = 8;

struct Round {
  double seconds = 0;  // until every line was written (Log) or every call returned (syslog)
  double p50 = 0, p99 = 0;  // microseconds per call
  uint64_t written = 0;     // lines written (Log: not dropped from the queue)
};

// Runs kThreads threads that each make `calls` calls of call(thread), started together; the
// latency of each call in ns goes to `latencies`. Returns the start time.
template <class Call>
double RunProducers(int calls, std::vector<uint32_t>& latencies, Call call) {
  latencies.assign(static_cast<size_t>(calls) * kThreads, 0);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      uint32_t* out = latencies.data() + static_cast<size_t>(t) * calls;
      ++ready;
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      for (int i = 0; i < calls; ++i) {
        const auto a = std::chrono::steady_clock::now();
        call(t);
        const auto b = std::chrono::steady_clock::now();
        out[i] = static_cast<uint32_t>(std::min<int64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count(), UINT32_MAX));
      }
    });
  }
  while (ready.load() < kThreads) std::this_thread::yield();
  const double start = Now();
  go.store(true, std::memory_order_release);
  for (auto& th : threads) th.join();
  return start;
}

void Percentiles(std::vector<uint32_t>& ns, Round& r) {
  auto at = [&](double q) {
    const size_t k = std::min(ns.size() - 1, static_cast<size_t>(q * static_cast<double>(ns.size())));
    std::nth_element(ns.begin(), ns.begin() + static_cast<std::ptrdiff_t>(k), ns.end());
    return ns[k] / 1000.0;
  };
  r.p50 = at(0.50);
  r.p99 = at(0.99);
}

std::string Message(int thread) {
  return "benchmark entry of producer thread " + std::to_string(thread) + ", one of many alike";
}

// glibc's syslog(3) in a child process forked before any thread starts: in a mount namespace of
// its own, /dev is a small tmpfs whose "log" links to the private rsyslogd's socket, so the
// machine's /dev/log (if any) is never touched. The child runs one round per request.
class GlibcSyslog {
 public:
  explicit GlibcSyslog(const std::string& socketPath) {
    if (::pipe(request_) != 0 || ::pipe(answer_) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::close(request_[1]);
      ::close(answer_[0]);
      Child(socketPath);
      ::_exit(0);
    }
    ::close(request_[0]);
    ::close(answer_[1]);
    int ok = 0;
    if (::read(answer_[0], &ok, sizeof ok) != sizeof ok || ok != 1)
      throw std::runtime_error("the syslog(3) child could not link /dev/log in a mount namespace (needs CAP_SYS_ADMIN)");
  }
  ~GlibcSyslog() {
    int stop = 0;
    (void)!::write(request_[1], &stop, sizeof stop);
    ::close(request_[1]);
    ::waitpid(pid_, nullptr, 0);
  }
  Round Run(int calls) {
    if (::write(request_[1], &calls, sizeof calls) != sizeof calls) throw std::runtime_error("syslog child gone");
    Round r;
    if (::read(answer_[0], &r, sizeof r) != sizeof r) throw std::runtime_error("syslog child failed");
    return r;
  }

 private:
  void Child(const std::string& socketPath) {
    int ok = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
             ::mount("tmpfs", "/dev", "tmpfs", 0, "size=64k") == 0 && ::symlink(socketPath.c_str(), "/dev/log") == 0;
    (void)!::write(answer_[1], &ok, sizeof ok);
    if (!ok) return;
    std::vector<std::string> messages;
    for (int t = 0; t < kThreads; ++t) messages.push_back(Message(t));
    std::vector<uint32_t> latencies;
    for (int calls; ::read(request_[0], &calls, sizeof calls) == sizeof calls && calls > 0;) {
      ::openlog("GLIBCBENCH", LOG_NDELAY, LOG_LOCAL0);
      const double start = RunProducers(calls, latencies, [&](int t) { ::syslog(LOG_INFO, "%s", messages[t].c_str()); });
      Round r;
      r.seconds = Now() - start;
      r.written = static_cast<uint64_t>(calls) * kThreads;
      ::closelog();
      Percentiles(latencies, r);
      (void)!::write(answer_[1], &r, sizeof r);
    }
  }

  pid_t pid_ = -1;
  int request_[2] = {-1, -1};
  int answer_[2] = {-1, -1};
};

// One round of Log: a fresh log object writing <folder>/logbench-yyyymmdd.txt and sending to
// rsyslogd; the folder is emptied afterwards.
Round RunLog(int calls, const std::string& folder, int syslogPort) {
  Round r;
  std::vector<uint32_t> latencies;
  {
    TqzConsoleTools tools;
    tools.AsService = true;
    tools.LogToFile = true;
    tools.SetLogFile(platform::Utf8ToWide(folder + "/logbench"));
    tools.ServerTechName = u"logbench";
    tools.SysLogActive = true;
    tools.SysLogServer = u"127.0.0.1";
    tools.SysLogPort = syslogPort;
    tools.SysLogLevel = 5;
    std::vector<UnicodeString> messages;
    for (int t = 0; t < kThreads; ++t) messages.push_back(platform::Utf8ToWide(Message(t)));
    const double start = RunProducers(calls, latencies, [&](int t) { tools.Log(qzLog_Info, messages[t]); });
    if (!tools.WaitForWriter(600000)) throw std::runtime_error("the log writer did not finish");
    r.seconds = Now() - start;
    r.written = static_cast<uint64_t>(calls) * kThreads - tools.DroppedCount.load();
  }
  Percentiles(latencies, r);
  for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
  return r;
}

// The lines of `tag` rsyslogd has written once its count stays put for a second; the file is
// emptied afterwards.
size_t Received(const qztest::Rsyslog& rsyslog, const std::string& tag) {
  size_t last = SIZE_MAX, count = 0;
  for (int i = 0; i < 120 && count != last; ++i) {
    last = count;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    count = rsyslog.CountLines(tag);
  }
  ::truncate(rsyslog.OutputFile().c_str(), 0);
  return count;
}

void LogVersusSyslog(int rounds, int calls, GlibcSyslog& glibc, qztest::Rsyslog& rsyslog, const std::string& folder) {
  const double total = static_cast<double>(calls) * kThreads;
  std::vector<double> logP99, ratios;
  std::printf("1. %d threads x %d calls: Log (file + syslog over UDP) vs glibc syslog(3) (unix socket), same rsyslogd\n",
              kThreads, calls);
  for (int i = 0; i < rounds; ++i) {
    const Round a = RunLog(calls, folder, rsyslog.Port());
    const size_t aReceived = Received(rsyslog, "LOGBENCH");
    const Round b = glibc.Run(calls);
    const size_t bReceived = Received(rsyslog, "GLIBCBENCH");
    // Time per line written, scaled to the whole run.
    const double ratio = (a.seconds / static_cast<double>(a.written)) / (b.seconds / static_cast<double>(b.written));
    logP99.push_back(a.p99);
    ratios.push_back(ratio);
    std::printf("  round %d: Log p50 %.2f us, p99 %.2f us, %.0f lines/s (%llu dropped, rsyslogd got %zu) | "
                "syslog(3) p50 %.2f us, p99 %.2f us, %.0f lines/s (rsyslogd got %zu) | time per line ratio %.2f\n",
                i + 1, a.p50, a.p99, static_cast<double>(a.written) / a.seconds,
                static_cast<unsigned long long>(total - static_cast<double>(a.written)), aReceived, b.p50, b.p99,
                static_cast<double>(b.written) / b.seconds, bReceived, ratio);
    std::fflush(stdout);
  }
  std::printf("  => Log p99 min %.2f us, median %.2f us (goal: under 20 us)\n",
              *std::min_element(logP99.begin(), logP99.end()), Median(logP99));
  std::printf("  => time per line Log/syslog(3) min %.2f, median %.2f (goal: at most 1.00)\n\n",
              *std::min_element(ratios.begin(), ratios.end()), Median(ratios));
  std::fflush(stdout);
}

// ---- Document log --------------------------------------------------------------------------------

TqzMetaData Fields(int n) {
  TqzMetaData data;
  const char16_t* names[] = {u"InvoiceNo", u"Vendor", u"Amount"};
  for (const char16_t* name : names) {
    TqzMetaField f;
    f.IntField = f.ExtField = name;
    f.Value = name + platform::IntToStr(n);
    f.VarValue = Variant(f.Value);
    data.push_back(f);
  }
  return data;
}

TIdType DocId(int n) {
  char id[40];
  std::snprintf(id, sizeof id, "%032X", n);
  return TIdType(id);
}

double DocLogRound(int calls) {
  auto tools = std::make_unique<TqzConsoleTools>();
  tools->AsService = true;
  tools->LogToFile = false;
  tools->ServerTechName = u"logbench";
  return Time([&] {
    for (int i = 0; i < calls; ++i) {
      TIdType doc = DocId(i % 100), stack = DocId(1);
      if (!tools->DocLog(qzLog_Modify, u"document changed", doc, stack, u"10.0.0.7", u"maria", u"capture", Fields(i)))
        throw std::runtime_error("DocLog failed");
    }
  });
}

// The same rows through the database layer on one connection: the qz_log row and, with meta, the
// document's fields replaced in one transaction.
double DirectRound(int calls, const UnicodeString& connection, bool meta) {
  return Time([&] {
    platform::DbConnection con(connection);
    con.Open();
    platform::DbCommand row(&con);
    row.CommandText = u"INSERT INTO qz_log (DOCID, STACKID, CREATIONDATE, USERNAME, SERVICE, APPLICATION, HOST, LOGTYPE, "
                      u"LOGTEXT) VALUES (:DOCID, :STACKID, :DATE, :USERNAME, :SERVICE, :APP, :HOST, :TYPE, :TEXT)";
    platform::DbCommand del(&con), ins(&con);
    del.CommandText = u"DELETE FROM qz_meta WHERE DOCID = :DOCID";
    ins.CommandText = u"INSERT INTO qz_meta (DOCID, FIELDNAME, FIELDVALUE) VALUES (:DOCID, :NAME, :VALUE)";
    for (int i = 0; i < calls; ++i) {
      const UnicodeString doc = platform::AnsiToWide(DocId(i % 100).str());
      row.ParamByName(u"DOCID").SetValue(doc);
      row.ParamByName(u"STACKID").SetValue(platform::AnsiToWide(DocId(1).str()));
      row.ParamByName(u"DATE").SetValue(Variant::FromDate(platform::Now()));
      row.ParamByName(u"USERNAME").SetValue(UnicodeString(u"maria"));
      row.ParamByName(u"SERVICE").SetValue(UnicodeString(u"logbench"));
      row.ParamByName(u"APP").SetValue(UnicodeString(u"capture"));
      row.ParamByName(u"HOST").SetValue(UnicodeString(u"10.0.0.7"));
      row.ParamByName(u"TYPE").SetValue(UnicodeString(u"modify"));
      row.ParamByName(u"TEXT").SetValue(UnicodeString(u"document changed"));
      row.Execute();
      if (!meta) continue;
      con.BeginTrans();
      del.ParamByName(u"DOCID").SetValue(doc);
      del.Execute();
      for (const TqzMetaField& f : Fields(i)) {
        ins.ParamByName(u"DOCID").SetValue(doc);
        ins.ParamByName(u"NAME").SetValue(f.IntField);
        ins.ParamByName(u"VALUE").SetValue(f.Value);
        ins.Execute();
      }
      con.CommitTrans();
    }
  });
}

void DocLogOnMariaDb(int rounds, int calls, const std::string& installation) {
  auto& server = qztest::MariaDbServer::Shared();
  const std::string db = server.CreateDatabase();
  auto ddl = [](const char* folder, const char* file) {
    return qztest::ReadFile(std::string(QZ_SOURCE_DIR) + "/src/" + folder + "/sql/" + file);
  };
  for (std::string sql : {ddl("config", "qz_configuration.mariadb.sql"), ddl("framework", "qz_log.mariadb.sql")}) {
    while (!sql.empty() && (sql.back() == ';' || sql.back() == '\n')) sql.pop_back();
    server.Exec(db, sql);
  }
  const UnicodeString connection = server.ConnectionString(db);
  ::mkdir((installation + "/cfg").c_str(), 0755);
  platform::WriteUdlFile(installation + "/cfg/qzsyscfg.udl", u"Provider=MSDASQL;" + connection);
  auto settings = [](bool meta) {
    TqzConfigManager store(false, u"", u"qz_configuration");
    if (!store.SetConfigValue(u"/kesta/Software/Basics/Common", u"DocMetaCreate", Variant(meta)))
      throw std::runtime_error("cannot store the settings: " + platform::WideToUtf8(store.Message));
  };
  for (bool meta : {false, true}) {
    settings(meta);
    DocLogRound(10);  // connections and caches warm
    Compare(std::string("2") + (meta ? "b" : "a") + ". MariaDB: " + std::to_string(calls) + " DocLog calls, metadata " +
                (meta ? "on" : "off") + ", vs the same statements through the database layer",
            rounds, [&] { return DocLogRound(calls); }, [&] { return DirectRound(calls, connection, meta); }, 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  const int calls = IntOption(argc, argv, "--calls", 100000);
  const int docCalls = IntOption(argc, argv, "--doclog-calls", 1000);
  bool mariadb = true;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--skip-mariadb") mariadb = false;
  try {
    // Folders of our own for the registry, the installation and the log files; the syslog(3)
    // child is forked before any thread starts.
    qztest::TempDir work("qzlogbench");
    for (const char* sub : {"/reg", "/inst", "/log"}) ::mkdir((work.Path() + sub).c_str(), 0755);
    ::setenv("KESTA_REGISTRY_DIR", (work.Path() + "/reg").c_str(), 1);
    ::setenv("KESTASYS", (work.Path() + "/inst").c_str(), 1);
    const std::string socket = work.Path() + "/syslog.sock";
    GlibcSyslog glibc(socket);
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    TqzConfigManager::SetPauseFunction([](uint32_t) {});
    {
      qztest::Rsyslog rsyslog(socket);
      LogVersusSyslog(rounds, calls, glibc, rsyslog, work.Path() + "/log");
    }
    if (mariadb) DocLogOnMariaDb(rounds, docCalls, work.Path() + "/inst");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "log_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
