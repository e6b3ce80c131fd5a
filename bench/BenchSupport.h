// Helpers of the side-by-side benchmarks: each benchmark runs its subject and a reference in
// interleaved rounds (subject, reference, subject, ...) so that load on the machine hits both
// alike, and prints every round and the min and median ratio subject/reference with its goal.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <cstring>
#include <vector>

extern char** environ;

namespace qzbench {

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Seconds taken by fn().
inline double Time(const std::function<void()>& fn) {
  const double start = Now();
  fn();
  return Now() - start;
}

struct ChildResult {
  int exitCode = -1;
  double seconds = 0;
  double peakRssMiB = 0;  // the child's own peak resident size
};

// Runs argv (argv[0] looked up in PATH) as a child process with its output as given ("" keeps
// ours), timed from spawn to exit, with the child's peak resident size.
inline ChildResult RunChild(std::vector<std::string> argv, const std::string& stdoutFile = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdoutFile.empty()) posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0644);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  ChildResult r;
  pid_t pid = -1;
  const double start = Now();
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  r.seconds = Now() - start;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.peakRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return r;
}

// `sh -c command`, timed; throws when it fails.
inline double Shell(const std::string& command) {
  const ChildResult r = RunChild({"sh", "-c", command});
  if (r.exitCode != 0) throw std::runtime_error("failed: " + command);
  return r.seconds;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs `rounds` interleaved rounds of subject and reference (each returns its seconds) and prints
// the rounds, the min and the median ratio subject/reference next to the goal.
inline void Compare(const std::string& name, int rounds, const std::function<double()>& subject,
                    const std::function<double()>& reference, double goal) {
  std::vector<double> ratios;
  std::printf("%s\n", name.c_str());
  for (int i = 0; i < rounds; ++i) {
    const double s = subject();
    const double r = reference();
    ratios.push_back(s / r);
    std::printf("  round %d: %.3f s vs %.3f s, ratio %.2f\n", i + 1, s, r, s / r);
    std::fflush(stdout);
  }
  if (goal > 0)
    std::printf("  => ratio min %.2f, median %.2f (goal: at most %.2f)\n\n", *std::min_element(ratios.begin(), ratios.end()),
                Median(ratios), goal);
  else
    std::printf("  => ratio min %.2f, median %.2f\n\n", *std::min_element(ratios.begin(), ratios.end()), Median(ratios));
  std::fflush(stdout);
}

// A file built with the benchmarks (the stand-in, the plug-in): beside this program or one folder
// up (the benchmarks build into a subfolder of the build folder).
inline std::string FindBuilt(const std::string& name) {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  for (const auto& dir : {self, self.parent_path()})
    if (std::filesystem::exists(dir / name)) return (dir / name).string();
  throw std::runtime_error(name + " not found beside " + self.string() + " or one folder up");
}

// A listening socket on a free loopback port (the port is stored in `port`).
inline int ListenLoopback(int& port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("cannot listen");
  port = ntohs(a.sin_port);
  return s;
}

// A loopback peer in a child process of its own: reads each request up to its closing tag,
// keeping nothing but the tail, and answers OK.
struct DiscardPeer {
  pid_t pid = -1;
  int port = 0;
  DiscardPeer() {
    const int s = ListenLoopback(port);
    pid = ::fork();
    if (pid == 0) {
      const std::string answer = "<RESULT><enc=mime><comp=false><UmVzdWx0PU9L><RG9jSWQ9MDEyMzQ1Njc4OUFCQ0RFRg==></RESULT>";
      std::vector<char> buf(size_t(256) << 10);
      for (;;) {
        int c = ::accept(s, nullptr, nullptr);
        if (c < 0) continue;
        std::string head, tail;
        for (;;) {
          ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
          if (n <= 0) break;
          if (head.size() < 64) head.append(buf.data(), std::min<size_t>(static_cast<size_t>(n), 64));
          tail.append(buf.data() + (n > 64 ? n - 64 : 0), static_cast<size_t>(n > 64 ? 64 : n));
          if (tail.size() > 64) tail.erase(0, tail.size() - 64);
          const auto gt = head.find('>');
          if (gt != std::string::npos) {
            const std::string close = "</" + head.substr(1, gt - 1) + ">";
            if (tail.size() >= close.size() && tail.compare(tail.size() - close.size(), close.size(), close) == 0) break;
          }
        }
        ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(c);
      }
    }
    ::close(s);
  }
  ~DiscardPeer() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

// The archive-server stand-in built with the benchmarks, storing under `store`.
struct StandIn {
  pid_t pid = -1;
  int port = 0;
  explicit StandIn(const std::string& store, const std::string& maxRequest = "2G") {
    const std::string binary = FindBuilt("archive-server");
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 2);
      ::execl(binary.c_str(), binary.c_str(), "--port", "0", "--store", store.c_str(), "--max-request", maxRequest.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    FILE* f = ::fdopen(out[0], "r");
    char line[64] = {};
    if (!f || !std::fgets(line, sizeof line, f) || std::sscanf(line, "PORT %d", &port) != 1)
      throw std::runtime_error("the stand-in did not start (" + binary + ")");
    std::fclose(f);
  }
  ~StandIn() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

// Whether `flag` stands on the command line.
inline bool HasFlag(int argc, char** argv, const std::string& flag) {
  for (int i = 1; i < argc; ++i)
    if (argv[i] == flag) return true;
  return false;
}

// The number after `flag` on the command line, or `fallback`.
inline int IntOption(int argc, char** argv, const std::string& flag, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (argv[i] == flag) return std::atoi(argv[i + 1]);
  return fallback;
}

}  // namespace qzbench
