// The HTTP clients side by side with the curl command line on the same loopback URLs:
//   GET of 100 MB into a file      TqzIndy::HTTPGet to a file stream   vs  curl -o FILE
//   PUT of a 1 GiB sparse file     TqzNet::HTTPPutFile (4096-byte pieces) vs curl -T FILE
// Each client runs in a child process of its own (this program started again with "get" or
// "put"), so that its time covers start-up alike and its peak resident size is its own.
// Goals: time within 1.2x of curl's, peak RSS under 32 MiB for both.
//
// The peer is a small server in a child process: GET /bytes/<n> answers n bytes, PUT reads the
// announced body and throws it away, answering 201.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CodePage.h"
#include "qzNet.h"

namespace {

struct LoopbackPeer {
  pid_t pid = -1;
  int port = 0;
  LoopbackPeer() {
    const int s = qzbench::ListenLoopback(port);
    pid = ::fork();
    if (pid == 0) {
      std::vector<char> buf(size_t{1} << 20, 'x');
      for (;;) {
        const int c = ::accept(s, nullptr, nullptr);
        if (c < 0) continue;
        std::string head;
        char ch[65536];
        size_t end = std::string::npos;
        while ((end = head.find("\r\n\r\n")) == std::string::npos) {
          const ssize_t n = ::recv(c, ch, sizeof ch, 0);
          if (n <= 0) break;
          head.append(ch, static_cast<size_t>(n));
        }
        if (end == std::string::npos) {
          ::close(c);
          continue;
        }
        if (head.starts_with("GET /bytes/")) {
          long long n = std::atoll(head.c_str() + 11);
          const std::string h = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(n) +
                                "\r\nConnection: close\r\n\r\n";
          ::send(c, h.data(), h.size(), MSG_NOSIGNAL);
          while (n > 0) {
            const ssize_t w = ::send(c, buf.data(), static_cast<size_t>(std::min<long long>(n, static_cast<long long>(buf.size()))), MSG_NOSIGNAL);
            if (w <= 0) break;
            n -= w;
          }
        } else {
          const size_t cl = head.find("Content-Length: ");
          long long left = cl == std::string::npos ? 0 : std::atoll(head.c_str() + cl + 16);
          left -= static_cast<long long>(head.size() - end - 4);
          while (left > 0) {
            const ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            left -= n;
          }
          const std::string h = "HTTP/1.1 201 Created\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
          ::send(c, h.data(), h.size(), MSG_NOSIGNAL);
        }
        ::close(c);
      }
    }
    ::close(s);
  }
  ~LoopbackPeer() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

int Client(const std::string& mode, const std::string& url, const std::string& file) {
  try {
    int32_t code = 0;
    if (mode == "get") {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      AnsiString header;
      return TqzIndy::HTTPGet(platform::Utf8ToWide(url), out, code, header, qzHHT_Raw) && code == 200 ? 0 : 1;
    }
    return TqzNet::HTTPPutFile(platform::Utf8ToWide(url), platform::Utf8ToWide(file), code, {}, false) &&
                   code == 201
               ? 0
               : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4) return Client(argv[1], argv[2], argv[3]);
  const int rounds = qzbench::IntOption(argc, argv, "--rounds", 5);
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string dir = std::filesystem::temp_directory_path() / ("qzhttpbench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  LoopbackPeer peer;
  const std::string base = "http://127.0.0.1:" + std::to_string(peer.port);

  // A 1 GiB sparse file for the upload.
  const std::string sparse = dir + "/sparse.bin";
  {
    const int fd = ::open(sparse.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t{1} << 30) != 0) throw std::runtime_error("cannot make the sparse file");
    ::close(fd);
  }
  double ourRss = 0, curlRss = 0;
  auto run = [](double& rss, std::vector<std::string> argv) {
    const qzbench::ChildResult r = qzbench::RunChild(std::move(argv));
    if (r.exitCode != 0) throw std::runtime_error("a client failed");
    rss = std::max(rss, r.peakRssMiB);
    return r.seconds;
  };

  const std::string getUrl = base + "/bytes/" + std::to_string(100'000'000);
  qzbench::Compare("GET 100 MB to a file: TqzIndy::HTTPGet vs curl -o", rounds,
                   [&] { return run(ourRss, {self, "get", getUrl, dir + "/ours.bin"}); },
                   [&] { return run(curlRss, {"curl", "-sS", "-f", "-o", dir + "/curl.bin", getUrl}); }, 1.2);
  std::printf("  peak RSS: ours %.1f MiB, curl %.1f MiB (goal: under 32 MiB)\n\n", ourRss, curlRss);

  ourRss = curlRss = 0;
  const std::string putUrl = base + "/upload";
  qzbench::Compare("PUT of a 1 GiB sparse file: TqzNet::HTTPPutFile vs curl -T", rounds,
                   [&] { return run(ourRss, {self, "put", putUrl, sparse}); },
                   [&] { return run(curlRss, {"curl", "-sS", "-f", "-H", "Expect:", "-o", "/dev/null", "-T", sparse, putUrl}); }, 1.2);
  std::printf("  peak RSS: ours %.1f MiB, curl %.1f MiB (goal: under 32 MiB)\n", ourRss, curlRss);
  std::filesystem::remove_all(dir);
  return 0;
}
