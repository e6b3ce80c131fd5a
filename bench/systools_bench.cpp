// System tools on large inputs, each side by side with the least work its goal allows, in
// interleaved rounds (qzbench::Compare prints every round and the min and median ratio):
//
//   SplitCommandLine, 4 MiB command line      vs splitting the same text at blanks only   goal: within 3x
//   SplitCommandLine, 8 MiB vs 4 MiB           (linear time)                               goal: at most 2.3
//   GetServicesPort, 4 MiB services file       vs reading the file and visiting its lines  goal: within 4x
//   GetHostSettings, 4 MiB hosts file          vs reading the file and visiting its lines  goal: within 4x
//   SetServiceSettings, 4 MiB services file    vs rewriting the same bytes by temp-and-rename  goal: within 3x
//   BuildClipboardHtml, 0.99 MB of HTML        vs the UTF-8 conversion of the same text    goal: within 1.5x
//
//   nice build/bench/bench/systools_bench [--rounds N]
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CodePage.h"
#include "FileIo.h"
#include "Process.h"
#include "qzFiles.h"
#include "qzTools.h"

namespace {

UnicodeString CommandLine(size_t bytes) {
  static const UnicodeString pieces[] = {u"plain", u"\"quoted part\"", u"back\\\\slash", u"esc\\\"aped",
                                         u"\"in \"\"quotes\"\"\"", u"c:\\dir\\file.txt"};
  UnicodeString line;
  for (size_t i = 0; line.size() < bytes / 2; ++i) {
    line += pieces[i % 6];
    line += u' ';
  }
  return line;
}

// The least work of splitting: one pass that cuts at blanks.
size_t SplitAtBlanks(const UnicodeString& line) {
  std::vector<UnicodeString> out;
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(u' ', start);
    if (end == UnicodeString::npos) end = line.size();
    if (end > start) out.emplace_back(line.substr(start, end - start));
    start = end + 1;
  }
  return out.size();
}

std::string ServicesText(size_t bytes) {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i)
    text += "svc" + std::to_string(i) + "\t\t" + std::to_string(1000 + i % 60000) + "/tcp\t\talias" + std::to_string(i) +
            "\t# comment\n";
  return text + "wanted\t\t4470/tcp\n";
}

std::string HostsText(size_t bytes) {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i)
    text += "10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) +
            "\thost" + std::to_string(i) + ".example.org host" + std::to_string(i) + " # note\n";
  return text + "10.9.9.9\twanted\n";
}

// Reads the file and visits its lines: what any reader of a line-based file must do at least.
double ReadAndVisitLines(const std::string& path) {
  return qzbench::Time([&] {
    AnsiString data;
    TqzFiles::LoadFileToString(platform::Utf8ToWide(path), data);
    size_t lines = 0, start = 0;
    while (start < data.size()) {
      const void* nl = std::memchr(data.data() + start, '\n', data.size() - start);
      start = nl ? static_cast<size_t>(static_cast<const char*>(nl) - data.data()) + 1 : data.size();
      ++lines;
    }
    if (lines == 0) std::abort();
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = qzbench::IntOption(argc, argv, "--rounds", 7);
  const std::string dir = std::filesystem::temp_directory_path() / ("qzsystools-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir + "/etc");
  setenv("KESTA_SYSTEM_ROOT", dir.c_str(), 1);

  const UnicodeString line4 = CommandLine(4 << 20), line8 = CommandLine(8 << 20);
  qzbench::Compare("SplitCommandLine, 4 MiB command line vs splitting at blanks", rounds,
                   [&] { return qzbench::Time([&] { platform::SplitCommandLine(line4, true); }); },
                   [&] { return qzbench::Time([&] { SplitAtBlanks(line4); }); }, 3.0);
  qzbench::Compare("SplitCommandLine, 8 MiB vs 4 MiB (linear time)", rounds,
                   [&] { return qzbench::Time([&] { platform::SplitCommandLine(line8, true); }); },
                   [&] { return qzbench::Time([&] { platform::SplitCommandLine(line4, true); }); }, 2.3);

  const std::string services = dir + "/etc/services", hosts = dir + "/etc/hosts";
  const std::string servicesText = ServicesText(4 << 20);
  platform::ReplaceFileContent(services, servicesText, 0644);
  platform::ReplaceFileContent(hosts, HostsText(4 << 20), 0644);
  qzbench::Compare("GetServicesPort, 4 MiB services file vs reading it and visiting its lines", rounds,
                   [&] {
                     return qzbench::Time([&] {
                       if (TqzTools::GetServicesPort(u"wanted") != 4470) std::abort();
                     });
                   },
                   [&] { return ReadAndVisitLines(services); }, 4.0);
  qzbench::Compare("GetHostSettings, 4 MiB hosts file vs reading it and visiting its lines", rounds,
                   [&] {
                     return qzbench::Time([&] {
                       UnicodeString address;
                       if (!TqzTools::GetHostSettings(u"wanted", address)) std::abort();
                     });
                   },
                   [&] { return ReadAndVisitLines(hosts); }, 4.0);
  const std::string copy = dir + "/etc/services.copy";
  qzbench::Compare("SetServiceSettings, 4 MiB services file vs rewriting the same bytes", rounds,
                   [&] {
                     return qzbench::Time([&] {
                       if (!TqzTools::SetServiceSettings(u"wanted", 4470, u"tcp", u"bench")) std::abort();
                     });
                   },
                   [&] {
                     return qzbench::Time([&] {
                       AnsiString data;
                       TqzFiles::LoadFileToString(platform::Utf8ToWide(services), data);
                       platform::ReplaceFileContent(copy, data, 0644);
                     });
                   },
                   3.0);

  const UnicodeString html = UnicodeString(999999 - 83 - 2 * 100000, u'a') + UnicodeString(100000, u'\u00e4');
  qzbench::Compare("BuildClipboardHtml, 0.99 MB vs the UTF-8 conversion alone", rounds * 5,
                   [&] { return qzbench::Time([&] { for (int i = 0; i < 20; ++i) BuildClipboardHtml(html); }); },
                   [&] { return qzbench::Time([&] { for (int i = 0; i < 20; ++i) platform::WideToUtf8(html); }); }, 1.5);
  std::filesystem::remove_all(dir);
  return 0;
}
