#include "LogReceivers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "Clock.h"
#include "Exceptions.h"
#include "Syslog.h"

namespace qztest {

UdpReceiver::UdpReceiver() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("cannot bind a loopback UDP socket");
  port_ = ntohs(a.sin_port);
}

UdpReceiver::~UdpReceiver() { ::close(fd_); }

std::string UdpReceiver::Receive(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return {};
  std::string buf(65536, '\0');
  const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
  buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return buf;
}

int FreeUdpPort() { return UdpReceiver().Port(); }

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

ReceiverProcess::ReceiverProcess(const std::string& name) : name_(name), dir_("qz" + name), port_(FreeUdpPort()) {}

ReceiverProcess::~ReceiverProcess() {
  if (!server_) return;
  server_->Signal(SIGTERM);
  server_->Wait(10000);
}

void ReceiverProcess::Start(const std::string& config, const std::vector<std::string>& argv,
                            const std::vector<std::string>& extraEnv) {
  WriteFile(ConfigFile(), config);
  server_ = std::make_unique<ChildProcess>(argv, dir_.Path() + "/" + name_, extraEnv);
}

// ---- rsyslogd ----------------------------------------------------------------------------------

Rsyslog::Rsyslog(const std::string& unixSocket) : ReceiverProcess("rsyslogd") {
  const std::string d = Dir();
  std::string config = "global(workDirectory=\"" + d + "\")\n"
                       "module(load=\"imudp\")\n"
                       "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" + std::to_string(Port()) + "\")\n";
  if (!unixSocket.empty())
    config += "module(load=\"imuxsock\" SysSock.Use=\"off\")\n"
              "input(type=\"imuxsock\" Socket=\"" + unixSocket + "\" RateLimit.Interval=\"0\")\n";
  config += "template(name=\"t\" type=\"string\" string=\"%pri%|%syslogtag%|%programname%|%hostname%|%msg%\\n\")\n"
            "*.* action(type=\"omfile\" file=\"" + OutputFile() + "\" template=\"t\")\n";
  Start(config, {"/usr/sbin/rsyslogd", "-n", "-f", ConfigFile(), "-i", d + "/rsyslogd.pid"});
  platform::SyslogClient probe;
  probe.Host = "127.0.0.1";
  probe.Port = Port();
  const bool ready = WaitFor([&] {
    try {
      probe.Send(1, 6, platform::Now(), "PROBE", "ready");
    } catch (const Exception&) {
      // not listening yet (an earlier probe came back as "port unreachable")
    }
    return Output().find("| ready") != std::string::npos;
  }, 15000);
  if (!ready) throw std::runtime_error("rsyslogd did not start: " + Server().Err());
}

std::vector<std::string> Rsyslog::Lines(const std::string& tag) const {
  std::vector<std::string> out;
  const std::string all = Output();
  const std::string marker = "|" + tag + ":|";
  std::size_t start = 0;
  for (std::size_t p; (p = all.find('\n', start)) != std::string::npos; start = p + 1) {
    const std::string line = all.substr(start, p - start);
    if (line.find(marker) != std::string::npos) out.push_back(line);
  }
  return out;
}

std::size_t Rsyslog::CountLines(const std::string& tag) const {
  std::ifstream in(OutputFile(), std::ios::binary);
  const std::string marker = "|" + tag + ":|";
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find(marker) != std::string::npos) ++count;
  return count;
}

// ---- snmptrapd ---------------------------------------------------------------------------------

SnmpTrapd::SnmpTrapd() : ReceiverProcess("snmptrapd") {
  const std::string d = Dir();
  Start("disableAuthorization yes\n"
        "format1 TRAP %N|%w|%q|%a|%V~%v\\n\n",
        {"/usr/sbin/snmptrapd", "-f", "-Lo", "-On", "-C", "-c", ConfigFile(), "-M", "/dev/null", "-m", "",
         "udp:127.0.0.1:" + std::to_string(Port())},
        {"SNMP_PERSISTENT_DIR=" + d + "/persist"});
  Server().WaitForOutput("NET-SNMP version", 15000);
}

std::vector<std::string> SnmpTrapd::Traps() const {
  std::vector<std::string> out;
  const std::string all = Server().Out();
  std::size_t start = 0;
  for (std::size_t p; (p = all.find('\n', start)) != std::string::npos; start = p + 1)
    if (all.compare(start, 5, "TRAP ") == 0) out.push_back(all.substr(start + 5, p - start - 5));
  return out;
}

}  // namespace qztest
