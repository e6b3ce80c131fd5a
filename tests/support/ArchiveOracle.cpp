#include "ArchiveOracle.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

extern char** environ;

// The oracle script lives in tests/peers, beside this folder.
#ifndef QZ_PEERS_DIR
#define QZ_PEERS_DIR_RUNTIME 1
#endif

namespace qztest {

namespace {

// The oracle writes item bytes as latin-1 code points; turn them back into bytes.
std::string Latin1ToBytes(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
    } else {  // two-byte UTF-8 sequence for U+0080..U+00FF
      unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      out.push_back(static_cast<char>(cp));
      i += 2;
    }
  }
  return out;
}

}  // namespace

ArchiveOracle::ArchiveOracle() = default;

ArchiveOracle::~ArchiveOracle() { Stop(); }

void ArchiveOracle::Start(const std::string& fault, const std::vector<std::string>& extraArgs) {
  Stop();
  char tmpl[] = "/tmp/qz-archive-oracle-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("cannot create a temporary folder");
  dir_ = tmpl;
  record_ = dir_ + "/requests.jsonl";
  std::ofstream(record_).close();

#ifdef QZ_PEERS_DIR_RUNTIME
  const std::string peers = std::filesystem::path(__FILE__).parent_path().parent_path() / "peers";
#else
  const std::string peers = QZ_PEERS_DIR;
#endif
  std::vector<std::string> args = {"python3", peers + "/archive_oracle.py", "--port", "0",
                                   "--record", record_, "--fault", fault};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    pid_ = -1;
    throw std::runtime_error("cannot start python3");
  }
  // First line: "PORT <n>".
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buf[256];
    ssize_t n = read(out[0], buf, sizeof(buf));
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  if (line.rfind("PORT ", 0) != 0) {
    Stop();
    throw std::runtime_error("archive oracle did not start: " + line);
  }
  port_ = std::atoi(line.c_str() + 5);
}

std::vector<ArchiveRequest> ArchiveOracle::Requests() const {
  std::vector<ArchiveRequest> result;
  std::ifstream in(record_);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded()) continue;  // a line being written
    ArchiveRequest r;
    r.Type = j.value("type", "");
    r.Enc = j.value("enc", "");
    r.Comp = j.value("comp", "");
    r.Size = j.value("size", size_t(0));
    r.Md5 = j.value("md5", "");
    if (j.contains("item_md5"))
      for (const auto& digest : j["item_md5"]) r.ItemMd5.push_back(digest.get<std::string>());
    r.Answer = Latin1ToBytes(j.value("answer", ""));
    for (const auto& item : j["items"]) r.Items.push_back(Latin1ToBytes(item.get<std::string>()));
    result.push_back(std::move(r));
  }
  return result;
}

std::vector<ArchiveRequest> ArchiveOracle::WaitForRequests(size_t count, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto r = Requests();
    if (r.size() >= count || std::chrono::steady_clock::now() >= deadline) return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ArchiveOracle::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  port_ = 0;
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    dir_.clear();
  }
}

}  // namespace qztest

namespace qztest {

ArchiveStandIn::ArchiveStandIn(const std::string& binary, const std::string& store,
                               const std::vector<std::string>& extraArgs, int) {
  if (::access(binary.c_str(), X_OK) != 0) throw std::runtime_error(binary + " is not built");
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {binary, "--port", "0", "--store", store, "--bind", "127.0.0.1"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    throw std::runtime_error("cannot start " + binary);
  }
  FILE* stream = ::fdopen(out[0], "r");
  char line[64] = {};
  const bool got = stream && std::fgets(line, sizeof line, stream) != nullptr && std::sscanf(line, "PORT %d", &port_) == 1;
  if (stream) std::fclose(stream);
  if (!got) {
    Stop();
    throw std::runtime_error("the server did not report its port");
  }
}

ArchiveStandIn::~ArchiveStandIn() {
  if (pid_ > 0) Stop();
}

int ArchiveStandIn::Stop() {
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RelayOnce::RelayOnce(int serverPort, size_t after, std::function<void()> onForwarded) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 1) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("relay: cannot listen");
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this, serverPort, after, onForwarded = std::move(onForwarded)] {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) return;
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    s.sin_port = htons(static_cast<uint16_t>(serverPort));
    if (::connect(server, reinterpret_cast<sockaddr*>(&s), sizeof s) == 0) {
      std::vector<char> buf(1 << 16);
      bool called = false, clientOpen = true, serverOpen = true;
      // Both directions until both ends have closed; the request side is counted.
      while (clientOpen || serverOpen) {
        pollfd q[2] = {{clientOpen ? client : -1, POLLIN, 0}, {serverOpen ? server : -1, POLLIN, 0}};
        if (::poll(q, 2, 60000) <= 0) break;
        for (int side = 0; side < 2; ++side) {
          if (q[side].revents == 0) continue;
          const int from = side == 0 ? client : server, to = side == 0 ? server : client;
          const ssize_t n = ::recv(from, buf.data(), buf.size(), 0);
          if (n <= 0) {
            ::shutdown(to, SHUT_WR);
            (side == 0 ? clientOpen : serverOpen) = false;
            continue;
          }
          size_t done = 0;
          while (done < static_cast<size_t>(n)) {
            const ssize_t w = ::send(to, buf.data() + done, static_cast<size_t>(n) - done, MSG_NOSIGNAL);
            if (w <= 0) break;
            done += static_cast<size_t>(w);
          }
          if (side == 1) continue;
          forwarded_ += done;
          if (!called && forwarded_ >= after) {
            called = true;
            onForwarded();
          }
        }
      }
    }
    ::close(server);
    ::close(client);
  });
}

RelayOnce::~RelayOnce() {
  if (thread_.joinable()) thread_.join();
  ::close(listener_);
}

size_t RelayOnce::Forwarded() {
  if (thread_.joinable()) thread_.join();
  return forwarded_;
}

}  // namespace qztest
