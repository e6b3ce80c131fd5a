// Archive client benchmarks. Every comparison runs interleaved rounds and prints the min and
// median ratio with its goal.
//
//   1. CREATEDOCEXT of 50 files of 2 MiB through TqzVeroruvUdizive::ArchiveDocument to the
//      archive-server stand-in (built beside this program) storing under /dev/shm, in a fresh
//      child process per round (this program again, with --child), against
//      `cat <files> | base64 -w0 > /dev/null`; the child's peak resident size is printed too.
//      A round archives the document --docs times (default 5) in its child and the reference
//      reads the files as many times in its one pipeline, so that a round lasts long enough to
//      be measured steadily; the ratio is the same per document.
//   2. The same against a loopback peer that discards the request (the client alone).
//   3. The answer parser on hostile input (1, 2 and 4 MiB of ">" with a few tokens, and of "<"):
//      the time must grow linearly with the input (the same time per MiB at every size), for the
//      archive client's parser and the com-string client's, which share the tokenizer.
//
//   archive_bench [--rounds N] [--docs N]
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CodePage.h"
#include "qzComProtocol.h"
#include "qzComTools.h"
#include "qzDocHandler.h"
#include "qzVeroruvUdizive.h"

namespace fs = std::filesystem;
using namespace qzbench;

namespace {

constexpr int kFiles = 50;
constexpr size_t kFileSize = size_t(2) << 20;

fs::path Self() { return fs::read_symlink("/proc/self/exe"); }

// --child PORT COUNT FILE...: COUNT ArchiveDocument calls, each with the files as blobs read
// from disk.
int Child(int argc, char** argv) {
  TqzDocument doc;
  doc.Subject = u"50 pages";
  doc.AddField(u"Customer", u"4711");
  for (int i = 4; i < argc; ++i) doc.AddBlob(platform::Utf8ToWide(argv[i]), u"", "", qzDO_FileSystem);
  TqzVeroruvUdizive client(u"/tmp/");
  client.Server = "127.0.0.1";
  client.Port = std::atoi(argv[2]);
  for (int n = std::atoi(argv[3]); n > 0; --n) {
    AnsiString docId;
    if (!client.ArchiveDocument(doc, "bench", "", "", false, "", "", true, docId, false)) {
      std::fprintf(stderr, "%s\n", platform::WideToUtf8(client.Message).c_str());
      return 1;
    }
  }
  return 0;
}

// Hostile answers: mostly ">" with a few tokens, or mostly "<" without ">".
std::string Hostile(size_t size, bool closers) {
  std::string text = "<RESULT><enc=mime><comp=false><UmVzdWx0PU9L>";
  text += std::string(size, closers ? '>' : '<');
  text += "<UmVzdWx0PU9L></RESULT>";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "--child") return Child(argc, argv);
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  const int docs = std::max(1, IntOption(argc, argv, "--docs", 5));
  const fs::path dir = fs::temp_directory_path() / ("qz-archive-bench-" + std::to_string(::getpid()));
  const fs::path store = fs::path("/dev/shm") / ("qz-archive-bench-store-" + std::to_string(::getpid()));
  int status = 0;
  try {
    fs::create_directories(dir);
    fs::create_directories(store);
    std::vector<std::string> files;
    std::mt19937_64 rng(42);
    std::string data(kFileSize, '\0');
    for (int i = 0; i < kFiles; ++i) {
      for (size_t k = 0; k + 8 <= data.size(); k += 8) {
        const uint64_t v = rng();
        std::memcpy(&data[k], &v, 8);
      }
      files.push_back((dir / ("page" + std::to_string(i) + ".tif")).string());
      std::ofstream(files.back(), std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    std::string base64 = "cat";
    for (int n = 0; n < docs; ++n)
      for (const auto& f : files) base64 += " '" + f + "'";
    base64 += " | base64 -w0 > /dev/null";
    Shell(base64);

    DiscardPeer discard;
    StandIn standIn(store.string());
    for (int peer = 0; peer < 2; ++peer) {
      double peak = 0;
      const int port = peer == 0 ? standIn.port : discard.port;
      const std::string perRound = " (" + std::to_string(docs) + " documents a round)";
      Compare(peer == 0 ? "1. ArchiveDocument 50 x 2 MiB to the stand-in (store under /dev/shm) vs base64 -w0" + perRound
                        : "2. ArchiveDocument 50 x 2 MiB to a peer that discards (the client alone) vs base64 -w0" + perRound,
              rounds,
              [&] {
                std::vector<std::string> args = {Self().string(), "--child", std::to_string(port), std::to_string(docs)};
                args.insert(args.end(), files.begin(), files.end());
                const ChildResult r = RunChild(args);
                if (r.exitCode != 0) throw std::runtime_error("ArchiveDocument failed");
                peak = std::max(peak, r.peakRssMiB);
                for (const auto& e : fs::directory_iterator(store)) fs::remove_all(e.path());
                return r.seconds;
              },
              [&] { return Shell(base64); }, peer == 0 ? 1.0 : 0.7);
      std::printf("   client peak RSS: %.1f MiB (goal: under 32 MiB)\n\n", peak);
    }

    // 3. Parser growth on hostile input, against Python's regular expressions over the same text.
    for (bool closers : {true, false}) {
      std::printf("3. Answer parser on %s:\n", closers ? "runs of \">\"" : "runs of \"<\"");
      for (size_t mib : {1, 2, 4}) {
        const std::string text = Hostile(mib << 20, closers);
        std::vector<double> ours, comTools;
        for (int round = 0; round < rounds; ++round) {
          ours.push_back(Time([&] {
            AnsiString typ;
            std::vector<TqzComItem> items;
            if (!TqzComProtocol::ParseAnswer(text, true, typ, items)) throw std::runtime_error("not parsed");
          }));
          comTools.push_back(Time([&] {
            AnsiString typ;
            qzComTools::TComResExt items;
            TqzComTools::ParseComAnswer(text, typ, items, true);
          }));
        }
        std::printf("   %zu MiB: TqzComProtocol %.2f ms (%.2f ms/MiB), TqzComTools %.2f ms (%.2f ms/MiB)\n", mib,
                    Median(ours) * 1000, Median(ours) * 1000 / static_cast<double>(mib), Median(comTools) * 1000,
                    Median(comTools) * 1000 / static_cast<double>(mib));
      }
      std::printf("   (linear: the time per MiB stays the same from 1 to 4 MiB)\n\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "archive_bench: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::remove_all(store, ec);
  return status;
}
