// XML configuration text benchmarks.
//
//   Build/Parse   a list of N parts (flat and nested names, texts, numbers, Booleans, one
//                 attribute on every tenth part), written typed, uncompressed and compressed;
//                 goals: 10,000 parts under 100 ms each way, time linear in N (fitted
//                 complexity; 100,000 parts give a text of several MB).
//   VsXmllint     the text of 10,000 parts parsed by ParseConfigString and by `xmllint --noout`
//                 (a process started for each round, as a user would run it), rounds interleaved;
//                 prints the min and median ratio ours / xmllint; goal: at most 3.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "XmlDocument.h"
#include "qzConfigTools.h"

extern char** environ;

namespace {

// glibc hands large blocks back to the system on every free and its mmap threshold moves while
// the program runs, so the same work costs page faults at some sizes and not at others. Keeping
// freed memory makes the timings show the algorithms.
const bool kAllocatorKeepsMemory = [] {
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  return true;
}();

void FillList(TqzConfigTools& tools, int64_t parts) {
  char name[64];
  for (int64_t i = 0; i < parts; ++i) {
    std::snprintf(name, sizeof name, "Group %03lld/Item%05lld", static_cast<long long>(i / 100),
                  static_cast<long long>(i));
    const UnicodeString param(name, name + std::char_traits<char>::length(name));
    Variant value;
    switch (i % 4) {
      case 0: value = Variant(UnicodeString(u"value text \u00e4\u00f6\u00fc <&> number ") + param); break;
      case 1: value = Variant(static_cast<int64_t>(i * 7919)); break;
      case 2: value = Variant(static_cast<double>(i) / 8.0); break;
      default: value = Variant(i % 3 == 0); break;
    }
    const int id = tools.AddConfigParam(param, value, false, false);
    if (i % 10 == 0) tools.AddAttribute(id, u"Comment", Variant(u"set by the benchmark"));
  }
}

void BM_Build(benchmark::State& state) {
  TqzConfigTools tools;
  FillList(tools, state.range(0));
  const bool compress = state.range(1) != 0;
  size_t bytes = 0;
  for (auto _ : state) {
    const AnsiString text = tools.BuiltConfigString(u"qzConfig", compress, true, false);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["text_bytes"] = static_cast<double>(bytes);
  state.SetComplexityN(state.range(0));
}

void BM_Parse(benchmark::State& state) {
  TqzConfigTools tools;
  FillList(tools, state.range(0));
  const bool compress = state.range(1) != 0;
  const AnsiString text = tools.BuiltConfigString(u"qzConfig", compress, true, false);
  TqzConfigTools reader;
  for (auto _ : state) {
    if (!reader.ParseConfigString(text) || reader.GetListSize() != state.range(0)) {
      state.SkipWithError("unexpected parse result");
      break;
    }
  }
  state.counters["text_bytes"] = static_cast<double>(text.size());
  state.SetComplexityN(state.range(0));
}

// The document model alone on the same text, for comparison with BM_Parse.
void BM_LoadDocument(benchmark::State& state) {
  TqzConfigTools tools;
  FillList(tools, state.range(0));
  const AnsiString text = tools.BuiltConfigString(u"qzConfig", false, true, false);
  for (auto _ : state) {
    platform::XmlDocument doc;
    doc.LoadFromBytes(text);
    benchmark::DoNotOptimize(doc.DocumentElement());
  }
  state.SetComplexityN(state.range(0));
}

// Wall time of one run of `xmllint --noout file`, in seconds; negative when it failed.
double TimeXmllint(const std::string& file) {
  const char* argv[] = {"xmllint", "--noout", file.c_str(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xmllint", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_VsXmllint(benchmark::State& state) {
  TqzConfigTools tools;
  FillList(tools, 10000);
  const bool compress = state.range(0) != 0;
  const AnsiString text = tools.BuiltConfigString(u"qzConfig", compress, true, false);
  char file[] = "/tmp/qzconfig_benchXXXXXX";
  const int fd = mkstemp(file);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the document");
    return;
  }
  close(fd);
  constexpr int kRounds = 15;
  std::vector<double> ours, theirs, ratios;
  TqzConfigTools reader;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      const auto start = std::chrono::steady_clock::now();
      const bool ok = reader.ParseConfigString(text);
      const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double x = TimeXmllint(file);
      if (!ok || x <= 0) {
        state.SkipWithError("parse or xmllint failed");
        break;
      }
      ours.push_back(t);
      theirs.push_back(x);
      ratios.push_back(t / x);
    }
  }
  unlink(file);
  if (ratios.empty()) return;
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double minRatio = *std::min_element(ratios.begin(), ratios.end());
  const double medRatio = median(ratios);
  state.counters["ours_ms_median"] = median(ours) * 1000;
  state.counters["xmllint_ms_median"] = median(theirs) * 1000;
  state.counters["ratio_min"] = minRatio;
  state.counters["ratio_median"] = medRatio;
  std::fprintf(stderr, "ParseConfigString vs xmllint --noout, 10,000 parts%s (%zu bytes): ratio min %.2f, median %.2f (goal <= 3)\n",
               compress ? ", compressed" : "", text.size(), minRatio, medRatio);
}

}  // namespace

BENCHMARK(BM_Build)
    ->ArgsProduct({{2500, 10000, 40000, 100000, 200000}, {0, 1}})
    ->ArgNames({"parts", "compressed"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse)
    ->ArgsProduct({{2500, 10000, 40000, 100000, 200000}, {0, 1}})
    ->ArgNames({"parts", "compressed"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDocument)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VsXmllint)->Arg(0)->Arg(1)->ArgName("compressed")->Iterations(1)->Unit(benchmark::kMillisecond);
