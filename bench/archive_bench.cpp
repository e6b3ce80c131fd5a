// Archive request throughput: CREATEDOCEXT with 50 files of 2 MiB each, sent by
// TqzVeroruvUdizive to a loopback sink, side by side with `base64 -w0` over the same files.
//
// Counters:
//   CreateDocExt   wall time of AddObjectComParam x 50 + BuiltComString + AskServer;
//                  peak_rss_MiB: the process's peak resident size during the exchange (VmHWM,
//                  reset through /proc/self/clear_refs before each run); rss_x_payload: that
//                  peak divided by the payload size.
//   Base64Cli      wall time of `cat <files> | base64 -w0 > /dev/null`; peak_rss_MiB of the
//                  pipeline's processes (measured once, outside the timing).
// Goals: CreateDocExt at most 1.5x the time of Base64Cli; peak memory at most 3x the payload.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Socket.h"
#include "qzVeroruvUdizive.h"

extern char** environ;

namespace {

constexpr int kFiles = 50;
constexpr size_t kFileSize = size_t(2) << 20;
constexpr double kMiB = 1024.0 * 1024.0;

struct Corpus {
  std::string dir;
  std::vector<std::string> files;
  Corpus() {
    char tmpl[] = "/tmp/qz-archive-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    std::mt19937_64 rng(42);
    std::string data(kFileSize, '\0');
    for (int i = 0; i < kFiles; ++i) {
      for (size_t k = 0; k + 8 <= data.size(); k += 8) {
        uint64_t v = rng();
        std::memcpy(&data[k], &v, 8);
      }
      files.push_back(dir + "/page" + std::to_string(i) + ".tif");
      std::ofstream(files.back(), std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    }
  }
  ~Corpus() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Corpus& TheCorpus() {
  static Corpus corpus;
  return corpus;
}

void ResetPeakRss() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakRssMiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;  // kB
  return 0;
}

// Accepts one connection, reads the request to its closing tag, answers and closes.
void Sink(platform::TcpListener* listener) {
  platform::TcpSocket s = listener->Accept(60000);
  static const std::string closing = "</CREATEDOCEXT>";
  std::string tail;
  std::vector<char> buffer(1 << 16);
  while (s.WaitReadable(60000)) {
    size_t n = s.Read(buffer.data(), buffer.size());
    if (n == 0) break;
    tail.append(buffer.data(), n);
    if (tail.size() > 64) tail.erase(0, tail.size() - 64);
    if (tail.size() >= closing.size() && tail.compare(tail.size() - closing.size(), closing.size(), closing) == 0) break;
  }
  const std::string answer = "<RESULT><enc=mime><comp=false><UmVzdWx0PU9L><RG9jSWQ9QUJD></RESULT>";
  s.Write(answer.data(), answer.size(), 5000);
  s.Close();
}

void BM_CreateDocExt(benchmark::State& state) {
  Corpus& corpus = TheCorpus();
  double peak = 0;
  for (auto _ : state) {
    platform::TcpListener listener;
    listener.Listen("127.0.0.1", 0);
    std::thread sink(Sink, &listener);
    TqzVeroruvUdizive client(u"/tmp/");
    client.Server = "127.0.0.1";
    client.Port = listener.Port();
    ResetPeakRss();
    const auto start = std::chrono::steady_clock::now();
    {
      TComRes items;
      client.AddComParam("Archive", "bench", items);
      client.AddComParam("Title", "50 pages", items);
      for (const auto& f : corpus.files)
        if (!client.AddObjectComParam(f, items)) state.SkipWithError("cannot read a page file");
      AnsiString quest = client.BuiltComString("CREATEDOCEXT", true, false, items);
      AnsiString typ;
      TComResExt answer;
      if (!client.AskServer(quest, typ, answer)) state.SkipWithError("exchange failed");
    }
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peak = std::max(peak, PeakRssMiB());
    state.SetIterationTime(elapsed);
    sink.join();
  }
  const double payload = kFiles * kFileSize / kMiB;
  state.counters["payload_MiB"] = payload;
  state.counters["peak_rss_MiB"] = peak;
  state.counters["rss_x_payload"] = peak / payload;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * static_cast<int64_t>(kFileSize));
}
BENCHMARK(BM_CreateDocExt)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Base64Cli(benchmark::State& state) {
  Corpus& corpus = TheCorpus();
  std::string script = "cat";
  for (const auto& f : corpus.files) script += " '" + f + "'";
  script += " | base64 -w0 > /dev/null";
  const std::string rssFile = corpus.dir + "/base64.rss";
  double peak = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"), script.data(), nullptr};
    if (posix_spawnp(&pid, "sh", nullptr, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("cannot start sh");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(elapsed);
  }
  {
    // Outside the timing: the pipeline's peak resident size. A child spawned from this process
    // would report this process's pages, so python runs the pipeline and reports the peak of its
    // waited-for children (an upper bound: it includes python's pages at the time of the fork).
    pid_t pid;
    std::string measure = "python3 -c \"import resource,subprocess,sys; subprocess.run(['sh','-c',sys.argv[1]]); "
                          "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\" \"$0\" > '" + rssFile + "'";
    std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"), measure.data(), script.data(), nullptr};
    if (posix_spawnp(&pid, "sh", nullptr, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      std::ifstream in(rssFile);
      double kb = 0;
      if (in >> kb) peak = kb / 1024.0;
    }
  }
  state.counters["peak_rss_MiB"] = peak;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * static_cast<int64_t>(kFileSize));
}
BENCHMARK(BM_Base64Cli)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
