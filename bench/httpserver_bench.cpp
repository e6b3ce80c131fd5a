// HTTP server benchmarks, side by side with nginx in interleaved rounds (min and median ratio of
// the time for the same requests, i.e. nginx's requests per second over ours):
//
//   1. A 100 KB text answer without compression, gzip level 1 and level 9 (SetHTTPResponse from
//      memory; nginx serves the same text as a file, compressing on the fly at the same levels).
//   2. A static 10 MB file from the public folder at 50 connections (goal: nginx at most 1.5x
//      our requests per second).
//   3. The minifiers and the XSS guard on 1 Mi and 2 Mi characters of text: the time must grow
//      linearly (2 Mi against twice 1 Mi; goal: at most 1.3).
//
// Our server runs in a child process (this program with --serve), nginx as a private instance on
// a free loopback port with its files in a temporary folder; both are stopped at the end. The
// load client is ours (wrk is not on the machine): one thread per connection, keep-alive, each
// reading whole answers (Content-Length or chunked). nginx (Debian package) is installed by
// scripts/install-deps --bench when missing; its own service is never started.
//
//   httpserver_bench [--rounds N] [--connections C] [--only TEXT]
#include <malloc.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "CodePage.h"
#include "HttpServer.h"
#include "qzNetMinify.h"
#include "qzNetServer.h"

namespace fs = std::filesystem;
using namespace qzbench;

namespace {

constexpr size_t kTextSize = 100 * 1024;
constexpr size_t kFileSize = 10 * 1024 * 1024;

std::string MakeText() {
  std::string text;
  std::mt19937 rng(7);
  const char* words[] = {"archive", "document ", "index", "stapling", "barcode", "page", "export ",
                         "server", "client", "value", "field", "record", "status"};
  while (text.size() < kTextSize) {
    text += words[rng() % 13];
    text += rng() % 9 == 0 ? "\n" : " ";
  }
  text.resize(kTextSize);
  return text;
}

// --serve ROOT TEXTFILE: our server on a free loopback port; prints "PORT n", runs until SIGTERM.
int Serve(const std::string& root, const std::string& textFile) {
  ::setenv("KESTASYS", root.c_str(), 1);
  ::setenv("KESTA_REGISTRY_DIR", (root + "/registry").c_str(), 1);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::string text;
  {
    FILE* f = std::fopen(textFile.c_str(), "rb");
    text.resize(kTextSize);
    if (!f || std::fread(text.data(), 1, text.size(), f) != text.size()) return 1;
    std::fclose(f);
  }
  platform::HttpServerConfig config;
  config.Bindings = {{"127.0.0.1", false}};
  platform::HttpServer server(config);
  server.SetHandler([&text](platform::HttpContext& context, platform::HttpRequestInfo& request,
                            platform::HttpResponseInfo& response) {
    if (request.Path == "/text/off")
      TqzIndyServer::SetHTTPResponse(response, 200, text, u"text/plain", u"", false, 0);
    else if (request.Path == "/text/1")
      TqzIndyServer::SetHTTPResponse(response, 200, text, u"text/plain", u"", true, 1);
    else if (request.Path == "/text/9")
      TqzIndyServer::SetHTTPResponse(response, 200, text, u"text/plain", u"", true, 9);
    else
      TqzIndyServer::SetHTTPResponse(request, response, context, u"", 1);
  });
  server.Start();
  std::printf("PORT %d\n", server.Port());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&set, &sig);
  server.Stop();
  return 0;
}

struct Child {
  pid_t pid = -1;
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

int Connect(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return s;
}

void WaitForPort(int port) {
  for (int i = 0; i < 200; ++i) {
    int s = Connect(port);
    if (s >= 0) {
      ::close(s);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  throw std::runtime_error("no server on port " + std::to_string(port));
}

// A connection's received bytes, read in large pieces: whole lines and skipped bodies.
class Reader {
 public:
  explicit Reader(int s) : s_(s), buffer_(256 * 1024) {}

  // One line without its CR LF; false when the connection ends first.
  bool Line(std::string& line) {
    line.clear();
    for (;;) {
      const char* from = buffer_.data() + pos_;
      const char* lf = static_cast<const char*>(std::memchr(from, '\n', end_ - pos_));
      if (lf != nullptr) {
        line.append(from, static_cast<size_t>(lf - from));
        pos_ += static_cast<size_t>(lf - from) + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      line.append(from, end_ - pos_);
      pos_ = end_;
      if (line.size() > 65536 || !Fill()) return false;
    }
  }

  // Reads and drops n bytes.
  bool Skip(uint64_t n) {
    while (n > 0) {
      if (pos_ == end_ && !Fill()) return false;
      const size_t k = static_cast<size_t>(std::min<uint64_t>(n, end_ - pos_));
      pos_ += k;
      n -= k;
    }
    return true;
  }

 private:
  bool Fill() {
    pos_ = end_ = 0;
    const ssize_t n = ::recv(s_, buffer_.data(), buffer_.size(), 0);
    if (n <= 0) return false;
    end_ = static_cast<size_t>(n);
    return true;
  }

  int s_;
  std::vector<char> buffer_;
  size_t pos_ = 0, end_ = 0;
};

// Reads one whole answer: "200", gzip-encoded exactly when asked for, a body of Content-Length
// or in chunks (nginx sends what it compresses on the fly chunked). Returns the body's size, or
// -1 for anything else.
int64_t ReadAnswer(Reader& reader, bool gzip) {
  std::string line;
  if (!reader.Line(line) || line.compare(0, 13, "HTTP/1.1 200 ") != 0) return -1;
  int64_t length = -1;
  bool chunked = false, gzipped = false;
  for (;;) {
    if (!reader.Line(line)) return -1;
    if (line.empty()) break;
    for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (line.compare(0, 15, "content-length:") == 0) length = std::atoll(line.c_str() + 15);
    else if (line == "transfer-encoding: chunked") chunked = true;
    else if (line == "content-encoding: gzip") gzipped = true;
  }
  if (gzipped != gzip) return -1;
  if (!chunked) return length > 0 && reader.Skip(static_cast<uint64_t>(length)) ? length : -1;
  int64_t total = 0;
  for (;;) {
    if (!reader.Line(line)) return -1;
    const uint64_t size = std::strtoull(line.c_str(), nullptr, 16);
    if (size == 0) break;
    if (!reader.Skip(size) || !reader.Line(line) || !line.empty()) return -1;
    total += static_cast<int64_t>(size);
  }
  while (reader.Line(line) && !line.empty()) {}  // trailer lines
  return line.empty() && total > 0 ? total : -1;
}

// One keep-alive connection sending `count` requests for `path` and reading each answer whole.
void Client(int port, const std::string& path, bool gzip, int count, std::atomic<bool>& failed) {
  const int s = Connect(port);
  if (s < 0) {
    failed = true;
    return;
  }
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              (gzip ? "Accept-Encoding: gzip\r\n" : "") + "\r\n";
  Reader reader(s);
  for (int i = 0; i < count && !failed; ++i) {
    if (::send(s, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()) ||
        ReadAnswer(reader, gzip) < 0) {
      failed = true;
      break;
    }
  }
  ::close(s);
}

// Seconds for `connections` clients sending `perConnection` requests each.
double Load(int port, const std::string& path, bool gzip, int connections, int perConnection) {
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  const double start = Now();
  for (int i = 0; i < connections; ++i)
    threads.emplace_back(Client, port, path, gzip, perConnection, std::ref(failed));
  for (auto& t : threads) t.join();
  const double seconds = Now() - start;
  if (failed) throw std::runtime_error("a request for " + path + " failed");
  return seconds;
}

// nginx from its Debian package, installed by scripts/install-deps --bench (which keeps the
// package's own service from starting) when it is missing.
void EnsureNginx() {
  if (std::system("command -v nginx >/dev/null 2>&1 || test -x /usr/sbin/nginx") == 0) return;
  std::printf("installing nginx (Debian package) with scripts/install-deps --bench...\n");
  std::fflush(stdout);
  if (std::system("bash " QZ_SOURCE_DIR "/scripts/install-deps --bench >/dev/null") != 0)
    throw std::runtime_error("cannot install nginx (scripts/install-deps --bench failed)");
}

void StartNginx(Child& child, const std::string& dir, const std::string& root, int port) {
  const std::string conf = dir + "/nginx.conf";
  std::string text = "worker_processes auto;\npid " + dir + "/nginx.pid;\nerror_log " + dir +
                     "/error.log;\ndaemon off;\nevents { worker_connections 4096; }\nhttp {\n"
                     "  access_log off; sendfile on; tcp_nopush on; keepalive_requests 1000000;\n"
                     "  client_body_temp_path " + dir + "/t1; proxy_temp_path " + dir + "/t2;\n"
                     "  fastcgi_temp_path " + dir + "/t3; uwsgi_temp_path " + dir + "/t4; scgi_temp_path " + dir + "/t5;\n"
                     "  types { text/plain txt; application/octet-stream bin; }\n"
                     "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n    root " + root + "/sys;\n"
                     "    location /pub/ { }\n"
                     "    location = /text/off { default_type text/plain; alias " + root + "/text.txt; }\n";
  for (int level : {1, 9})
    text += "    location = /text/" + std::to_string(level) + " { default_type text/plain; gzip on; gzip_comp_level " +
            std::to_string(level) + "; gzip_min_length 0; gzip_types text/plain; alias " + root + "/text.txt; }\n";
  text += "  }\n}\n";
  FILE* f = std::fopen(conf.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
  child.pid = ::fork();
  if (child.pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    const std::string log = dir + "/error.log";
    ::execlp("nginx", "nginx", "-c", conf.c_str(), "-p", dir.c_str(), "-e", log.c_str(), nullptr);
    ::execl("/usr/sbin/nginx", "nginx", "-c", conf.c_str(), "-p", dir.c_str(), "-e", log.c_str(), nullptr);
    ::_exit(127);
  }
  WaitForPort(port);
}

int StartOurs(Child& child, const std::string& root) {
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe");
  child.pid = ::fork();
  if (child.pid == 0) {
    ::dup2(out[1], 1);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    ::execl(self.c_str(), self.c_str(), "--serve", root.c_str(), (root + "/text.txt").c_str(), nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  FILE* f = ::fdopen(out[0], "r");
  char line[64] = {};
  int port = 0;
  if (!f || !std::fgets(line, sizeof line, f) || std::sscanf(line, "PORT %d", &port) != 1)
    throw std::runtime_error("our server did not start");
  std::fclose(f);
  return port;
}

void WebText(int rounds) {
  // glibc hands large blocks back to the system on every free and its mmap threshold moves while
  // the program runs, so the same work costs page faults at some sizes and not at others. Keeping
  // freed memory makes these timings show the algorithms, as in the other text benchmarks. (The
  // servers measured above ran with the allocator's defaults.)
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  auto build = [](size_t bytes, const char16_t* unit) {
    UnicodeString text;
    while (text.size() < bytes) text += unit;
    return text;
  };
  const char16_t* css = u"a.b > c { color: red; /* note */ margin: 0 }\r\n/*! keep */\r\n";
  const char16_t* js = u"var x = a / b; // c\r\nif (/ab+c/.test(s)) { f('/* no */'); } /* x */\r\n";
  const char16_t* xss = u"Hello &#60;b&#62; 100 % fine; #1 & more text here\r\n";
  struct Op {
    const char* name;
    const char16_t* unit;
    std::function<void(const UnicodeString&)> run;
  } ops[] = {
      {"CompressCSS", css, [](const UnicodeString& t) { TqzNetWebText::CompressCSS(t); }},
      {"CompressJavaScript", js, [](const UnicodeString& t) { TqzNetWebText::CompressJavaScript(t); }},
      {"XSSProtection (quoting)", xss,
       [](const UnicodeString& t) { TqzNetWebText::XSSProtection(t, true, false, u"", true, u""); }},
  };
  for (const auto& op : ops) {
    const UnicodeString one = build(1024 * 1024, op.unit);  // 1 Mi characters (2 MiB of UTF-16)
    const UnicodeString two = build(2 * 1024 * 1024, op.unit);
    // Each timing repeats the operation enough times to last a tenth of a second or more.
    const int repeat = std::max(1, static_cast<int>(0.1 / std::max(1e-6, Time([&] { op.run(one); }))) + 1);
    auto times = [&](const UnicodeString& text) {
      return Time([&] {
        for (int i = 0; i < repeat; ++i) op.run(text);
      });
    };
    Compare(std::string(op.name) + ": 2 Mi characters against twice 1 Mi (linear time), " + std::to_string(repeat) +
                " runs a timing",
            rounds, [&] { return times(two); }, [&] { return 2 * times(one); }, 1.3);
  }
}

// The machine's load (1, 5 and 15 minutes), printed beside the figures.
std::string LoadAverage() {
  char text[128] = {};
  FILE* f = std::fopen("/proc/loadavg", "r");
  if (f) {
    if (!std::fgets(text, sizeof text, f)) text[0] = 0;
    std::fclose(f);
  }
  std::string out = text;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--serve") return Serve(argv[2], argv[3]);
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  const int connections = IntOption(argc, argv, "--connections", 50);
  std::string only;  // --only TEXT: just the server cases whose name holds TEXT (for profiling)
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--only") only = argv[i + 1];
  std::signal(SIGPIPE, SIG_IGN);
  const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  const std::string root = (base / ("httpserver_bench-" + std::to_string(::getpid()))).string();
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleanup{root};
  fs::create_directories(root + "/sys/pub");
  fs::create_directories(root + "/registry");
  fs::create_directories(root + "/nginx");
  {
    const std::string text = MakeText();
    FILE* f = std::fopen((root + "/text.txt").c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    std::string big(kFileSize, '\0');
    std::mt19937_64 rng(1);
    for (size_t i = 0; i + 8 <= big.size(); i += 8) {
      const uint64_t v = rng();
      std::memcpy(&big[i], &v, 8);
    }
    f = std::fopen((root + "/sys/pub/big.bin").c_str(), "wb");
    std::fwrite(big.data(), 1, big.size(), f);
    std::fclose(f);
  }
  try {
    EnsureNginx();
    Child ours, nginx;
    const int ourPort = StartOurs(ours, root);
    const int nginxPort = FreePort();
    StartNginx(nginx, root + "/nginx", root, nginxPort);
    std::printf("our server on port %d, nginx on port %d, %d connections, %d cores, load average %s\n\n", ourPort,
                nginxPort, connections, static_cast<int>(std::thread::hardware_concurrency()), LoadAverage().c_str());
    struct Case {
      std::string name, path;
      bool gzip;
      int perConnection;
      double goal;
    } cases[] = {
        {"100 KB text, no compression", "/text/off", false, 200, 0},
        {"100 KB text, gzip level 1", "/text/1", true, 40, 0},
        {"100 KB text, gzip level 9", "/text/9", true, 20, 0},
        {"static 10 MB file", "/pub/big.bin", false, 4, 1.5},
    };
    for (const auto& c : cases) {
      if (!only.empty() && c.name.find(only) == std::string::npos) continue;
      const int requests = connections * c.perConnection;
      std::vector<double> ourRps, nginxRps;
      Compare(c.name + " (" + std::to_string(requests) + " requests; ratio = nginx req/s over ours)", rounds,
              [&] {
                const double s = Load(ourPort, c.path, c.gzip, connections, c.perConnection);
                ourRps.push_back(requests / s);
                return s;
              },
              [&] {
                const double s = Load(nginxPort, c.path, c.gzip, connections, c.perConnection);
                nginxRps.push_back(requests / s);
                return s;
              },
              c.goal);
      std::printf("  median requests/s: ours %.0f, nginx %.0f\n\n", Median(ourRps), Median(nginxRps));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "httpserver_bench: %s\n", e.what());
    return 1;
  }
  if (only.empty()) WebText(rounds);
  std::printf("load average at the end: %s\n", LoadAverage().c_str());
  return 0;
}
