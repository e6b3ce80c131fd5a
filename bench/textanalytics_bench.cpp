// Text-analytics benchmarks over 1 MB inputs, rounds interleaved where a reference exists:
//   GetAllDatesW    every date of 1 MB of invoice-like text, German set with month names
//                   converted. Goal: under 100 ms.
//   PrepareOCRText  1 MB of noisy recognised text. Goal: under 50 ms (one pass).
//   StemStringW     1,000 calls over 2 KB texts (German, stop words from the shipped list), next
//                   to libstemmer's stemwords tool stemming the same words (one process per
//                   round; its time includes starting it). Prints the min and median ratio.
#include <benchmark/benchmark.h>

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
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

void Report(benchmark::State& state, const char* what, std::vector<double> values, const char* unit) {
  std::sort(values.begin(), values.end());
  state.counters["min"] = values.front();
  state.counters["median"] = values[values.size() / 2];
  std::printf("%s: min %.2f, median %.2f %s over %zu rounds\n", what, values.front(), values[values.size() / 2], unit,
              values.size());
}

UnicodeString InvoiceText(size_t units) {
  const char16_t* words[] = {u"Rechnung", u"vom", u"12.03.2021", u"Betrag", u"1.234,50", u"EUR", u"fällig",
                             u"am", u"3. März 2022", u"Lieferung", u"Kunde", u"K-4711", u"Seite", u"2",
                             u"Datum:", u"1.1.99", u"Bestellung", u"vom 14. Okt. 2020\n"};
  std::mt19937 rng(3);
  UnicodeString text;
  text.reserve(units + 32);
  while (text.size() < units) {
    text += words[rng() % 18];
    text += u' ';
  }
  text.resize(units);
  return text;
}

void BM_GetAllDatesW1MB(benchmark::State& state) {
  const UnicodeString text = InvoiceText(1 << 19);  // 512 Ki UTF-16 units = 1 MiB
  std::vector<double> ms;
  for (auto _ : state) {
    for (int round = 0; round < 7; ++round) {
      TStringList dates;
      const auto t0 = Clock::now();
      TqzStrings::GetAllDatesW(text, u"de", true, dates);
      ms.push_back(Ms(t0, Clock::now()));
      if (dates.Count() == 0) state.SkipWithError("no dates found");
    }
  }
  Report(state, "GetAllDatesW over 1 MiB (goal < 100 ms)", ms, "ms");
}
BENCHMARK(BM_GetAllDatesW1MB)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PrepareOCRText1MB(benchmark::State& state) {
  std::mt19937 rng(9);
  const std::string pieces[] = {"Rechnung", "  Nr:", " 4711", " /", " x", " Suuuumme", "\t", " 10000", " ||", " a a a",
                                " Gr\xF6\xDF" "e", " ...", " I", " l0O"};
  std::string text;
  while (text.size() < (1u << 20)) text += pieces[rng() % 14];
  text.resize(1u << 20);
  std::vector<double> ms;
  for (auto _ : state) {
    for (int round = 0; round < 9; ++round) {
      const auto t0 = Clock::now();
      const AnsiString out = TqzStrings::PrepareOCRText(text);
      ms.push_back(Ms(t0, Clock::now()));
      benchmark::DoNotOptimize(out);
    }
  }
  Report(state, "PrepareOCRText over 1 MiB (goal < 50 ms)", ms, "ms");
}
BENCHMARK(BM_PrepareOCRText1MB)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StemStringWVersusStemwords(benchmark::State& state) {
  const char* words[] = {"rechnungen", "lieferscheine", "häuser", "straßen", "bestellungen", "kunden", "zahlungen",
                         "der", "die", "und", "gärten", "verträge", "leistungen", "abteilungen", "mitarbeiter"};
  std::mt19937 rng(4);
  std::vector<UnicodeString> texts;
  std::string allWords;
  for (int t = 0; t < 1000; ++t) {
    std::string text;
    while (text.size() < 2000) {
      const char* w = words[rng() % 15];
      text += w;
      text += ' ';
      allWords += w;
      allWords += '\n';
    }
    texts.push_back(platform::Utf8ToWide(text));
  }
  const std::string wordFile = "/tmp/qzstembench.txt";
  std::ofstream(wordFile) << allWords;
  const std::string command = "stemwords -l german -i " + wordFile + " -o /dev/null";
  const UnicodeString folder = platform::Utf8ToWide(QZ_STOPWORD_DIR);
  std::vector<double> ratios;
  for (auto _ : state) {
    for (int round = 0; round < 5; ++round) {
      const auto t0 = Clock::now();
      size_t stems = 0;
      for (const auto& text : texts) {
        TStringList list;
        TqzStrings::StemStringW(text, folder, u"de", true, false, 3, list, true);
        stems += static_cast<size_t>(list.Count());
      }
      const auto t1 = Clock::now();
      if (std::system(command.c_str()) != 0) state.SkipWithError("stemwords failed");
      const auto t2 = Clock::now();
      ratios.push_back(Ms(t0, t1) / Ms(t1, t2));
      if (round == 0) std::printf("StemStringW: 1,000 texts, %zu stems, %.1f ms; stemwords %.1f ms\n", stems, Ms(t0, t1), Ms(t1, t2));
    }
  }
  std::remove(wordFile.c_str());
  Report(state, "StemStringW vs stemwords (ours / reference)", ratios, "x");
}
BENCHMARK(BM_StemStringWVersusStemwords)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
