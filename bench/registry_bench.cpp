// Registry hive benchmarks: reading a .reg file and writing one changed value back into it.
//
//   Parse     a regedit export (UTF-16LE, CR LF) of N keys with four values each, hex values
//             continued over lines; fitted complexity (N up to about 2 MB of file).
//   Rewrite   the same file after one value changed: only that line is rewritten, the file's
//             other lines are kept; fitted complexity.
//   Scaling   1 MB against 2 MB files, parse and rewrite, rounds interleaved; prints the min and
//             median ratio time(2 MB) / time(1 MB). Goal: linear time, a ratio of about 2 (at
//             most 2.5).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Registry.h"
#include "TextFile.h"

using namespace platform;

namespace {

std::string HiveText(size_t bytesWanted) {
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n; exported\r\n";
  for (size_t i = 0; text.size() * 2 < bytesWanted; ++i) {
    const std::u16string n = ToU16(std::to_string(i));
    text += u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\kesta\\Group" + ToU16(std::to_string(i / 100)) + u"\\Key" + n + u"]\r\n";
    text += u"@=\"default " + n + u"\"\r\n\"Path\"=\"C:\\\\kesta\\\\" + n + u"\"\r\n\"Count\"=dword:0000002a\r\n";
    text += u"\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n  18,19\r\n\r\n";
  }
  return "\xFF\xFE" + WideToUtf16Bytes(text, false);
}

struct Parsed {
  RegKey Tree{u"HKEY_LOCAL_MACHINE"};
  RegFileLayout Layout;
};

void ParseInto(const std::string& bytes, Parsed& p) {
  ParseRegFile(bytes, RootKey::LocalMachine, p.Tree, "bench.reg", &p.Layout);
}

std::string RewriteOne(const Parsed& p) {
  RegKey changed(p.Tree);
  Registry::Find(changed, u"SOFTWARE\\kesta\\Group0\\Key0")->SetValue({u"Count", REG_DWORD, RegDwordBytes(7)});
  return RewriteRegFile(p.Layout, p.Tree, changed, RootKey::LocalMachine);
}

void BM_Parse(benchmark::State& state) {
  const std::string bytes = HiveText(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Parsed p;
    ParseInto(bytes, p);
    benchmark::DoNotOptimize(p.Tree.SubKeys.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.SetComplexityN(state.range(0));
}

void BM_Rewrite(benchmark::State& state) {
  const std::string bytes = HiveText(static_cast<size_t>(state.range(0)));
  Parsed p;
  ParseInto(bytes, p);
  for (auto _ : state) benchmark::DoNotOptimize(RewriteOne(p).size());
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_Parse)->RangeMultiplier(2)->Range(256 << 10, 2 << 20)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_Rewrite)->RangeMultiplier(2)->Range(256 << 10, 2 << 20)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

template <class F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Scaling(benchmark::State& state) {
  const std::string small = HiveText(1 << 20), large = HiveText(2 << 20);
  Parsed ps, pl;
  ParseInto(small, ps);
  ParseInto(large, pl);
  std::vector<double> parse, rewrite;
  for (auto _ : state) {
    for (int round = 0; round < 5; ++round) {
      const double a = Seconds([&] { Parsed p; ParseInto(small, p); });
      const double b = Seconds([&] { Parsed p; ParseInto(large, p); });
      parse.push_back(b / a);
      const double c = Seconds([&] { benchmark::DoNotOptimize(RewriteOne(ps).size()); });
      const double d = Seconds([&] { benchmark::DoNotOptimize(RewriteOne(pl).size()); });
      rewrite.push_back(d / c);
    }
  }
  auto report = [](const char* what, std::vector<double> r) {
    std::sort(r.begin(), r.end());
    std::printf("%s 2 MB / 1 MB: min %.2f median %.2f (goal about 2, at most 2.5)\n", what, r.front(), r[r.size() / 2]);
  };
  report("parse", parse);
  report("rewrite", rewrite);
}
BENCHMARK(BM_Scaling)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
