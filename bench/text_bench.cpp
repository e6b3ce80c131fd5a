// Text benchmarks: the configuration-text reader and replace-all.
//
// Both must grow linearly with the text: every benchmark runs over a range of sizes and reports
// the fitted complexity (expected: O(N)).
//   ParseTagList  a configuration text of N rows of about 60 bytes (10,000 rows ~ 600 KB);
//   ReplaceW      a text of N UTF-16 units (5 Mi units = 10 MiB), case-sensitive and ignoring
//                 case, and a periodic text where a naive search would backtrack.
//   FastReplaceA  N nested soft line breaks, which take N repeated passes (1 Mi = 3 MiB).
// Three operations that once went quadratic on adversarial texts are timed on 1 Mi and on 2 Mi
// characters, in interleaved rounds; the ratio 2 Mi / 1 Mi (min and median over the rounds, as
// counters) must stay near 2:
//   GetBetween            8-bit, every closing mark but the last standing before the opening one;
//   ReplaceAfterElement   "a=1;" repeated, one replacement per element;
//   PosIgnoreTemplateW    ignoring case, every occurrence covered by the template.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "StringList.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

namespace {

// glibc hands large blocks back to the system on every free and its mmap threshold moves while
// the program runs, so the same work costs page faults at some sizes and not at others. Keeping
// freed memory makes the timings show the algorithms.
const bool kAllocatorKeepsMemory = [] {
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  return true;
}();

// A configuration text like the export's: a root tag, settings and repeated ASSIGN rows.
AnsiString MakeConfigText(int64_t rows) {
  AnsiString text = "<CONFIG>\r\n<KQFDB=Provider=MSDASQL;DSN=kqf>\r\n<TESTMODE=0>\r\n";
  char row[128];
  for (int64_t i = 0; i < rows; ++i) {
    std::snprintf(row, sizeof row, "<ASSIGN=KQFFIELD%05lld;ARCHIVEFIELD%05lld;STRING;0;1;>\r\n",
                  static_cast<long long>(i), static_cast<long long>(i));
    text += row;
  }
  text += "</CONFIG>\r\n";
  return text;
}

void BM_ParseTagList(benchmark::State& state) {
  const AnsiString text = MakeConfigText(state.range(0));
  TStringList items;
  AnsiString tag;
  for (auto _ : state) {
    const bool ok = ParseTagList(text, tag, items);
    benchmark::DoNotOptimize(ok);
    if (!ok || items.Count() != state.range(0) + 2) state.SkipWithError("unexpected parse result");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["text_bytes"] = static_cast<double>(text.size());
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseTagList)->RangeMultiplier(2)->Range(2500, 40000)->Unit(benchmark::kMillisecond)->Complexity();

// Words of mixed case with an occurrence of the searched text every few words.
UnicodeString MakeProse(int64_t units) {
  const UnicodeString words[] = {u"Archiv ", u"dokument ", u"KQF ", u"Heftung ", u"Barcode=", u"kqf;",
                                 u"seite ", u"Index\r\n"};
  UnicodeString text;
  text.reserve(static_cast<size_t>(units) + 16);
  for (size_t i = 0; static_cast<int64_t>(text.size()) < units; ++i) text += words[(i * 7 + i / 3) % 8];
  text.resize(static_cast<size_t>(units));
  return text;
}

void BM_ReplaceW(benchmark::State& state) {
  const UnicodeString text = MakeProse(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(TqzStrings::ReplaceW(text, u"KQF", u"Kesta Quick File"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReplaceW)->RangeMultiplier(2)->Range(5 << 18, 5 << 20)->Unit(benchmark::kMillisecond)->Complexity();

void BM_ReplaceWIgnoreCase(benchmark::State& state) {
  const UnicodeString text = MakeProse(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(TqzStrings::ReplaceW(text, u"kqf", u"KQF-Archiv", true));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReplaceWIgnoreCase)->RangeMultiplier(2)->Range(5 << 18, 5 << 20)->Unit(benchmark::kMillisecond)->Complexity();

// "aaa...a" searched for 1000 "a" and a "b": a backtracking search would cost N x 1000.
void BM_ReplaceWPeriodic(benchmark::State& state) {
  const UnicodeString text(static_cast<size_t>(state.range(0)), u'a');
  const UnicodeString search = UnicodeString(1000, u'a') + u"b";
  for (auto _ : state) benchmark::DoNotOptimize(TqzStrings::ReplaceW(text, search, u"x"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReplaceWPeriodic)->RangeMultiplier(2)->Range(5 << 18, 5 << 20)->Unit(benchmark::kMillisecond)->Complexity();

// Nested soft line breaks: "=" x k, then CR LF x k. Removing "=" CR LF brings the next one
// together, so FastReplaceA needs k passes; each must cost only its own replacement.
void BM_FastReplaceANested(benchmark::State& state) {
  const size_t k = static_cast<size_t>(state.range(0));
  AnsiString text(k, '=');
  for (size_t i = 0; i < k; ++i) text += "\r\n";
  for (auto _ : state) {
    const AnsiString out = TqzStrings::FastReplaceA(text, "=\r\n", "");
    if (!out.empty()) state.SkipWithError("soft breaks left");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FastReplaceANested)->RangeMultiplier(2)->Range(1 << 16, 1 << 20)->Unit(benchmark::kMillisecond)->Complexity();

// Times `run` on inputs of 1 Mi and 2 Mi characters in interleaved rounds and reports the time
// of each size (the best round) and the ratio of the two per round, its min and its median.
template <class Make, class Run>
void LinearityRounds(benchmark::State& state, const char* name, Make make, Run run) {
  constexpr int kRounds = 15;
  constexpr int64_t kSmall = int64_t{1} << 20;
  const auto small = make(kSmall);
  const auto large = make(2 * kSmall);
  auto time = [&](const auto& input) {
    const auto start = std::chrono::steady_clock::now();
    run(input);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  std::vector<double> ratios, smallMs, largeMs;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      const double a = time(small);
      const double b = time(large);
      smallMs.push_back(a);
      largeMs.push_back(b);
      ratios.push_back(b / a);
    }
  }
  std::sort(ratios.begin(), ratios.end());
  state.counters["ms_1Mi"] = *std::min_element(smallMs.begin(), smallMs.end());
  state.counters["ms_2Mi"] = *std::min_element(largeMs.begin(), largeMs.end());
  state.counters["ratio_min"] = ratios.front();
  state.counters["ratio_median"] = ratios[ratios.size() / 2];
  std::printf("%s: 1 Mi %.2f ms, 2 Mi %.2f ms, ratio 2 Mi / 1 Mi min %.2f median %.2f (linear: about 2)\n",
              name, state.counters["ms_1Mi"].value, state.counters["ms_2Mi"].value, ratios.front(),
              ratios[ratios.size() / 2]);
}

// `unit` repeated up to at least n characters.
UnicodeString Repeated(const UnicodeString& unit, int64_t n) {
  UnicodeString text;
  text.reserve(static_cast<size_t>(n) + unit.size());
  while (static_cast<int64_t>(text.size()) < n) text += unit;
  return text;
}

void BM_GetBetweenManyClosingMarksFirst(benchmark::State& state) {
  LinearityRounds(
      state, "GetBetween", [](int64_t n) { return AnsiString(static_cast<size_t>(n) - 5, ']') + "[abc]"; },
      [&](const AnsiString& text) {
        const AnsiString out = TqzStrings::GetBetween(text, "[", "]");
        if (out != "abc") state.SkipWithError("wrong text");
        benchmark::DoNotOptimize(out);
      });
}
BENCHMARK(BM_GetBetweenManyClosingMarksFirst)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ReplaceAfterElement(benchmark::State& state) {
  LinearityRounds(
      state, "ReplaceAfterElement",
      [](int64_t n) { return Repeated(u"a=1;", n); },
      [&](const UnicodeString& text) {
        const UnicodeString out = TqzStrings::ReplaceAfterElement(text, u"=", u";", u",");
        if (out.size() != text.size() || out.find(u';') != UnicodeString::npos) state.SkipWithError("wrong text");
        benchmark::DoNotOptimize(out);
      });
}
BENCHMARK(BM_ReplaceAfterElement)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PosIgnoreTemplateWIgnoreCase(benchmark::State& state) {
  const std::vector<AnsiString> templates = {"Nr. %SEARCH_STRING%", "%SEARCH_STRING%-x"};
  LinearityRounds(
      state, "PosIgnoreTemplateW ignoring case",
      [](int64_t n) { return Repeated(u"nR. Ab12 ", n); },
      [&](const UnicodeString& text) {
        const int32_t p = TqzStrings::PosIgnoreTemplateW(text, u"aB12", 1, static_cast<int32_t>(text.size()),
                                                         templates, true);
        if (p != 0) state.SkipWithError("an occurrence outside the template");
        benchmark::DoNotOptimize(p);
      });
}
BENCHMARK(BM_PosIgnoreTemplateWIgnoreCase)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
