// Matching benchmarks, each side by side with a reference in one run, rounds interleaved:
//   EqualsExW           100,000 file names against a few masks, ignoring case, next to glibc
//                       fnmatch(3) with FNM_CASEFOLD on the same names (UTF-8). Goal: within 2x.
//   GetAllRegExResults  all matches over 1 MB of text, next to `pcre2grep -o` over the same text
//                       in a file (its time includes starting the process).
// Each prints the min and median ratio (ours / reference) over the rounds.
#include <benchmark/benchmark.h>
#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "CodePage.h"
#include "StringList.h"
#include "qzStrings.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void Report(benchmark::State& state, const char* what, std::vector<double> ratios) {
  std::sort(ratios.begin(), ratios.end());
  const double min = ratios.front();
  const double median = ratios[ratios.size() / 2];
  state.counters["ratio_min"] = min;
  state.counters["ratio_median"] = median;
  std::printf("%s: ours/reference ratio min %.2f, median %.2f over %zu rounds\n", what, min, median, ratios.size());
}

std::vector<std::string> FileNames(size_t n) {
  const char* stems[] = {"Rechnung", "invoice", "scan", "Lieferschein", "report", "IMG", "Brief", "archiv"};
  const char* exts[] = {"pdf", "PDF", "tif", "tiff", "jpg", "txt", "docx", "pdf.bak", "xml"};
  std::mt19937 rng(7);
  std::vector<std::string> names;
  names.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    std::string name = stems[rng() % 8];
    name += "_" + std::to_string(rng() % 100000);
    if (rng() % 3 == 0) name += "-" + std::to_string(2000 + rng() % 30);
    name += ".";
    name += exts[rng() % 9];
    names.push_back(name);
  }
  return names;
}

void BM_EqualsExWVersusFnmatch(benchmark::State& state) {
  const std::vector<std::string> names = FileNames(100000);
  std::vector<UnicodeString> wide;
  for (const auto& n : names) wide.push_back(platform::Utf8ToWide(n));
  const std::vector<std::string> masks = {"*.pdf", "scan_*", "*_1?3*.t*", "*-20??.*", "r*t_*.xml"};
  std::vector<UnicodeString> wideMasks;
  for (const auto& m : masks) wideMasks.push_back(platform::Utf8ToWide(m));
  std::vector<double> ratios;
  for (auto _ : state) {
    for (int round = 0; round < 15; ++round) {
      size_t oursHits = 0, refHits = 0;
      const auto t0 = Clock::now();
      for (const auto& mask : wideMasks)
        for (const auto& name : wide) oursHits += TqzStrings::EqualsExW(name, mask, false, true, u"*", u"?");
      const auto t1 = Clock::now();
      for (const auto& mask : masks)
        for (const auto& name : names) refHits += ::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
      const auto t2 = Clock::now();
      if (oursHits != refHits) state.SkipWithError("the two disagree");
      ratios.push_back(Seconds(t0, t1) / Seconds(t1, t2));
    }
  }
  Report(state, "EqualsExW vs fnmatch (goal <= 2)", ratios);
}
BENCHMARK(BM_EqualsExWVersusFnmatch)->Iterations(1)->Unit(benchmark::kMillisecond);

std::string MakeText(size_t bytes) {
  const char* words[] = {"Rechnung", "Nr.", "4711", "vom", "12.03.2021", "Betrag", "99,50", "EUR", "Kunde",
                         "K-20931", "Seite", "3", "von", "12", "Lieferung", "am", "1.4.2022\n"};
  std::mt19937 rng(11);
  std::string text;
  text.reserve(bytes + 32);
  while (text.size() < bytes) {
    text += words[rng() % 17];
    text += ' ';
  }
  text.resize(bytes);
  return text;
}

void BM_GetAllRegExResultsVersusPcre2grep(benchmark::State& state) {
  const std::string text = MakeText(1 << 20);
  const UnicodeString wide = platform::Utf8ToWide(text);
  char path[] = "/tmp/qzmatchbenchXXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the text file");
    return;
  }
  ::close(fd);
  const std::string pattern = "[0-9]+[.,][0-9]+";
  const std::string command = "pcre2grep -o '" + pattern + "' " + path + " > /dev/null";
  std::vector<double> ratios;
  for (auto _ : state) {
    for (int round = 0; round < 9; ++round) {
      TStringList results;
      const auto t0 = Clock::now();
      TqzStrings::GetAllRegExResults(wide, platform::Utf8ToWide(pattern), results);
      const auto t1 = Clock::now();
      if (std::system(command.c_str()) != 0) state.SkipWithError("pcre2grep failed");
      const auto t2 = Clock::now();
      benchmark::DoNotOptimize(results.Count());
      ratios.push_back(Seconds(t0, t1) / Seconds(t1, t2));
      if (round == 0) std::printf("GetAllRegExResults: %d matches, %.1f ms\n", results.Count(), Seconds(t0, t1) * 1e3);
    }
  }
  ::unlink(path);
  Report(state, "GetAllRegExResults vs pcre2grep -o", ratios);
}
BENCHMARK(BM_GetAllRegExResultsVersusPcre2grep)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
