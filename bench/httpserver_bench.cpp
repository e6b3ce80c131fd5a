// HTTP server benchmarks, side by side with nginx in interleaved rounds (min and median ratio of
// the time for the same requests, i.e. nginx's requests per second over ours):
//
//   1. A 100 KB text answer without compression, gzip level 1 and level 9 (SetHTTPResponse from
//      memory; nginx serves the same text as a file, compressing on the fly at the same levels).
//   2. A static 10 MB file from the public folder at 50 connections (goal: nginx at most 1.5x
//      our requests per second).
//   3. The minifiers and the XSS guard on 1 MiB and 2 MiB of text: the time must grow linearly
//      (2 MiB against twice 1 MiB).
//
// Our server runs in a child process (this program with --serve), nginx as a private instance on
// a free loopback port with its files in a temporary folder; both are stopped at the end. The
// load client is ours: one thread per connection, keep-alive, each reading whole answers.
// nginx is installed (Debian package) when missing; its own service is kept stopped.
//
//   httpserver_bench [--rounds N] [--connections C]
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

// One keep-alive connection sending `count` requests for `path` and reading each answer whole.
void Client(int port, const std::string& path, bool gzip, int count, std::atomic<bool>& failed) {
  const int s = Connect(port);
  if (s < 0) {
    failed = true;
    return;
  }
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              (gzip ? "Accept-Encoding: gzip\r\n" : "") + "\r\n";
  std::vector<char> buffer(256 * 1024);
  std::string head;
  for (int i = 0; i < count && !failed; ++i) {
    if (::send(s, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) break;
    head.clear();
    size_t extra = 0;
    size_t end = std::string::npos;
    while (end == std::string::npos) {
      const ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
      if (n <= 0) {
        failed = true;
        break;
      }
      head.append(buffer.data(), static_cast<size_t>(n));
      end = head.find("\r\n\r\n");
    }
    if (failed) break;
    extra = head.size() - end - 4;
    head.resize(end + 2);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = head.find("content-length:");
    if (head.compare(0, 12, "http/1.1 200") != 0 || at == std::string::npos ||
        gzip != (head.find("content-encoding: gzip") != std::string::npos)) {
      failed = true;
      break;
    }
    size_t left = std::stoull(head.substr(at + 15)) - extra;
    while (left > 0) {
      const ssize_t n = ::recv(s, buffer.data(), std::min(buffer.size(), left), 0);
      if (n <= 0) {
        failed = true;
        break;
      }
      left -= static_cast<size_t>(n);
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

void EnsureNginx() {
  if (std::system("command -v nginx >/dev/null 2>&1 || test -x /usr/sbin/nginx") == 0) return;
  std::printf("installing nginx (Debian package) for the comparison...\n");
  std::fflush(stdout);
  if (std::system("DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends nginx-light >/dev/null 2>&1 || "
                  "DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends nginx >/dev/null") != 0)
    throw std::runtime_error("cannot install nginx");
  // The package may start its own service on port 80: it is not ours to keep running.
  std::system("if [ -f /run/nginx.pid ]; then kill $(cat /run/nginx.pid) 2>/dev/null; fi");
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
    ::execlp("nginx", "nginx", "-c", conf.c_str(), "-p", dir.c_str(), nullptr);
    ::execl("/usr/sbin/nginx", "nginx", "-c", conf.c_str(), "-p", dir.c_str(), nullptr);
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
    const UnicodeString one = build(512 * 1024, op.unit);  // 1 MiB of UTF-16
    const UnicodeString two = build(1024 * 1024, op.unit);
    Compare(std::string(op.name) + ": 2 MiB against twice 1 MiB (linear time)", rounds,
            [&] { return Time([&] { op.run(two); }); },
            [&] { return 2 * Time([&] { op.run(one); }); }, 1.3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--serve") return Serve(argv[2], argv[3]);
  const int rounds = IntOption(argc, argv, "--rounds", 5);
  const int connections = IntOption(argc, argv, "--connections", 50);
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
    std::printf("our server on port %d, nginx on port %d, %d connections\n\n", ourPort, nginxPort, connections);
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
  WebText(rounds);
  return 0;
}
