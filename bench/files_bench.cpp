// File toolbox speed, each side by side with a real tool or the least work the goal allows,
// in interleaved rounds (ours, reference, ours, ...); every benchmark prints the min and median
// of the per-round ratio ours / reference as counters.
//
//   LoadFileToString_100MB   LoadFileToString of a 100 MB file from a warm cache
//                            vs `cat file > /dev/null`                       goal: within 1.2x
//   GetFreeFileName_1000     GetFreeFileName with 1,000 taken duplicates ("a.txt", "a-2.txt" ...)
//                            vs 1,001 bare lstat calls on the same names (the least work possible)
//   GetPathList_10000        GetPathList (recursive) over 10,000 folders vs `find root -type d`
//   CopyFile32_1GiB          CopyFile32 (replacing) and StreamCopyFile of 1 GiB vs `cp`  goal: within 1.1x
//   CompareFile_1GiB         CompareFile of two 1 GiB files vs `md5sum a b`; peak_rss_MiB is the
//                            process's peak resident size during the comparison  goal: under 64 MiB
//   SyncCopyFile32_10000     SyncCopyFile32 of 10,000 files in 200 folders vs `rsync -a --delete`,
//                            the first run (empty target) and the second (nothing to copy)
//                                                                      goal: second run within 1.5x
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
#include <fstream>
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


void WriteBigFile(const std::string& file, size_t mib, unsigned seed) {
  std::string block(1 << 20, '\0');
  FILE* f = std::fopen(file.c_str(), "wb");
  for (size_t i = 0; i < mib; ++i) {
    for (size_t k = 0; k < block.size(); k += 64) block[k] = static_cast<char>(seed + i + k);
    std::fwrite(block.data(), 1, block.size(), f);
  }
  std::fclose(f);
}

void BM_CopyFile32_1GiB(benchmark::State& state) {
  TempFolder dir;
  const std::string from = dir.path + "/big.bin", to = dir.path + "/copy.bin", cpTo = dir.path + "/cp.bin";
  WriteBigFile(from, 1024, 1);
  const UnicodeString wfrom = platform::Utf8ToWide(from), wto = platform::Utf8ToWide(to);
  Compare(state, 3, [&] { if (!TqzFiles::CopyFile32(wfrom, wto, uint32_t{0})) std::abort(); },
          [&] { Run({"cp", from, cpTo}); }, "CopyFile32 1 GiB vs cp");
  std::printf("StreamCopyFile 1 GiB: ");
  std::fflush(stdout);
  const double stream = Seconds([&] { TqzFiles::StreamCopyFile(wfrom, platform::Utf8ToWide(dir.path + "/s.bin"), OVERWRITE); });
  const double cp = Seconds([&] { Run({"cp", from, cpTo}); });
  std::printf("ours %.1f ms, cp %.1f ms, ratio %.3f\n", stream * 1e3, cp * 1e3, stream / cp);
}
BENCHMARK(BM_CopyFile32_1GiB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

double PeakRssMiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

void BM_CompareFile_1GiB(benchmark::State& state) {
  TempFolder dir;
  const std::string a = dir.path + "/a.bin", b = dir.path + "/b.bin";
  WriteBigFile(a, 1024, 3);
  WriteBigFile(b, 1024, 3);
  const UnicodeString wa = platform::Utf8ToWide(a), wb = platform::Utf8ToWide(b);
  std::ofstream("/proc/self/clear_refs") << "5";
  const double before = PeakRssMiB();
  Compare(state, 3, [&] { if (!TqzFiles::CompareFile(wa, wb)) std::abort(); }, [&] { Run({"md5sum", a, b}); },
          "CompareFile 2 x 1 GiB vs md5sum");
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  std::printf("CompareFile peak RSS %.1f MiB (before %.1f MiB)\n", PeakRssMiB(), before);
}
BENCHMARK(BM_CompareFile_1GiB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SyncCopyFile32_10000(benchmark::State& state) {
  TempFolder dir;
  const std::string src = dir.path + "/src";
  mkdir(src.c_str(), 0755);
  for (int f = 0; f < 200; ++f) {
    const std::string folder = src + "/folder" + std::to_string(f);
    mkdir(folder.c_str(), 0755);
    for (int i = 0; i < 50; ++i) std::ofstream(folder + "/file" + std::to_string(i) + ".txt") << std::string(1000 + i, 'x');
  }
  const UnicodeString wsrc = platform::Utf8ToWide(src + "/*.*");
  int round = 0;
  std::vector<double> first, second;
  for (auto _ : state) {
    for (int r = 0; r < 3; ++r, ++round) {
      const std::string ours = dir.path + "/ours" + std::to_string(round), theirs = dir.path + "/rsync" + std::to_string(round);
      const UnicodeString wours = platform::Utf8ToWide(ours);
      const double a1 = Seconds([&] { TqzFiles::SyncCopyFile32(wsrc, wours, true, false, false, nullptr); });
      const double b1 = Seconds([&] { Run({"rsync", "-a", "--delete", src + "/", theirs + "/"}); });
      const double a2 = Seconds([&] {
        if (TqzFiles::SyncCopyFile32(wsrc, wours, true, false, false, nullptr) != 0) std::abort();
      });
      const double b2 = Seconds([&] { Run({"rsync", "-a", "--delete", src + "/", theirs + "/"}); });
      first.push_back(a1 / b1);
      second.push_back(a2 / b2);
      std::printf("SyncCopyFile32 round %d: first %.1f ms vs rsync %.1f ms; second %.1f ms vs rsync %.1f ms\n", r,
                  a1 * 1e3, b1 * 1e3, a2 * 1e3, b2 * 1e3);
    }
    state.SetIterationTime(1);
  }
  std::sort(first.begin(), first.end());
  std::sort(second.begin(), second.end());
  state.counters["first_min_ratio"] = first.front();
  state.counters["first_median_ratio"] = first[first.size() / 2];
  state.counters["second_min_ratio"] = second.front();
  state.counters["second_median_ratio"] = second[second.size() / 2];
}
BENCHMARK(BM_SyncCopyFile32_10000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
