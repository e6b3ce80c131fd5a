// File toolbox speed, each side by side with a real tool or the least work the goal allows,
// in interleaved rounds (ours, reference, ours, ...); every benchmark prints the min and median
// of the per-round ratio ours / reference as counters.
//
//   LoadFileToString_100MB   LoadFileToString of a 100 MB file from a warm cache
//                            vs `cat file > /dev/null`                       goal: within 1.2x
//   GetFreeFileName_1000     GetFreeFileName with 1,000 taken duplicates ("a.txt", "a-2.txt" ...)
//                            vs 1,001 bare lstat calls on the same names (the least work possible)
//   GetPathList_10000        GetPathList (recursive) over 10,000 folders vs `find root -type d`
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "CodePage.h"
#include "StringList.h"
#include "qzFiles.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program with standard output to /dev/null and waits for it.
void Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
}

// Interleaved rounds; reports the min and median of ours / reference and both medians.
void Compare(benchmark::State& state, int rounds, const std::function<void()>& ours,
             const std::function<void()>& reference, const char* label) {
  std::vector<double> ratios, oursTimes, refTimes;
  for (auto _ : state) {
    for (int r = 0; r < rounds; ++r) {
      const double a = Seconds(ours);
      const double b = Seconds(reference);
      oursTimes.push_back(a);
      refTimes.push_back(b);
      ratios.push_back(a / b);
    }
    state.SetIterationTime(std::accumulate(oursTimes.begin(), oursTimes.end(), 0.0));
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double minRatio = *std::min_element(ratios.begin(), ratios.end());
  const double medRatio = median(ratios);
  state.counters["min_ratio"] = minRatio;
  state.counters["median_ratio"] = medRatio;
  state.counters["ours_ms"] = median(oursTimes) * 1e3;
  state.counters["ref_ms"] = median(refTimes) * 1e3;
  std::printf("%s: ours %.3f ms, reference %.3f ms (medians); ratio min %.3f, median %.3f\n", label,
              median(oursTimes) * 1e3, median(refTimes) * 1e3, minRatio, medRatio);
}

struct TempFolder {
  std::string path;
  TempFolder() {
    char tmpl[] = "/tmp/qz-files-bench-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

void BM_LoadFileToString_100MB(benchmark::State& state) {
  TempFolder dir;
  const std::string file = dir.path + "/big.bin";
  {
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    FILE* f = std::fopen(file.c_str(), "wb");
    for (int i = 0; i < 100; ++i) std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
  }
  const UnicodeString wfile = platform::Utf8ToWide(file);
  AnsiString data;
  TqzFiles::LoadFileToString(wfile, data);  // warm the cache
  Compare(state, 25,
          [&] {
            AnsiString d;
            if (!TqzFiles::LoadFileToString(wfile, d) || d.size() != 100u << 20) std::abort();
          },
          [&] { Run({"cat", file}); }, "LoadFileToString 100 MB vs cat");
}
BENCHMARK(BM_LoadFileToString_100MB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_GetFreeFileName_1000(benchmark::State& state) {
  TempFolder dir;
  std::vector<std::string> names = {dir.path + "/a.txt"};
  for (int n = 2; n <= 1000; ++n) names.push_back(dir.path + "/a-" + std::to_string(n) + ".txt");
  for (const std::string& n : names) close(open(n.c_str(), O_WRONLY | O_CREAT, 0644));
  names.push_back(dir.path + "/a-1001.txt");
  const UnicodeString dest = platform::Utf8ToWide(dir.path + "/a.txt");
  Compare(state, 21,
          [&] {
            if (TqzFiles::GetFreeFileName(dest).empty()) std::abort();
          },
          [&] {
            struct stat st {};
            for (const std::string& n : names)
              if (lstat(n.c_str(), &st) != 0) break;
          },
          "GetFreeFileName over 1,000 duplicates vs 1,001 lstat calls");
}
BENCHMARK(BM_GetFreeFileName_1000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_GetPathList_10000(benchmark::State& state) {
  TempFolder dir;
  const std::string root = dir.path + "/root";
  mkdir(root.c_str(), 0755);
  int made = 0;
  for (int a = 0; a < 100 && made < 10000; ++a) {
    const std::string l1 = root + "/folder" + std::to_string(a);
    mkdir(l1.c_str(), 0755);
    ++made;
    for (int b = 0; b < 99 && made < 10000; ++b, ++made) mkdir((l1 + "/sub" + std::to_string(b)).c_str(), 0755);
  }
  const UnicodeString wroot = platform::Utf8ToWide(root + "/");
  Compare(state, 11,
          [&] {
            TStringList list;
            TqzFiles::GetPathList(wroot, list, true, true);
            if (list.Count() != 10001) std::abort();
          },
          [&] { Run({"find", root, "-type", "d"}); }, "GetPathList over 10,000 folders vs find");
}
BENCHMARK(BM_GetPathList_10000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
