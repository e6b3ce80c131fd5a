// Real receivers for the service log, each a private instance in the foreground on a free loopback
// UDP port, with its configuration and output in a folder of its own, stopped with SIGTERM:
//
//   qztest::Rsyslog rsyslog;                  // rsyslogd -n with imudp and one file action
//   ... send to 127.0.0.1:rsyslog.Port() ...
//   rsyslog.Lines("TAG");                     // "PRI|TAG:|PROGRAM|HOST| MSG" of that tag
//   qztest::SnmpTrapd trapd;                  // snmptrapd -f -Lo with format1
//   trapd.Traps();                            // "enterprise|generic|specific|agent|binds"
//
// Rsyslog can also listen on a unix datagram socket of its own (the socket glibc's syslog(3)
// writes to, when it is reached as /dev/log), without rate limits, for the log's benchmark.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace qztest {

// A UDP socket bound to a free loopback port (receives datagrams for the test itself).
class UdpReceiver {
 public:
  UdpReceiver();
  ~UdpReceiver();
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;
  int Port() const { return port_; }
  // The next datagram, or empty after timeoutMs.
  std::string Receive(int timeoutMs = 5000);

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A free UDP port on loopback (the receiver is closed again before a server binds it).
int FreeUdpPort();

// Polls done() every 50 ms until it is true or timeoutMs have passed; its last answer.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

// A receiver daemon: its folder, its port, its process (stopped with SIGTERM when it goes).
class ReceiverProcess {
 public:
  ~ReceiverProcess();
  ReceiverProcess(const ReceiverProcess&) = delete;
  ReceiverProcess& operator=(const ReceiverProcess&) = delete;
  int Port() const { return port_; }
  const std::string& Dir() const { return dir_.Path(); }

 protected:
  explicit ReceiverProcess(const std::string& name);
  // Writes the configuration file <dir>/<name>.conf and starts argv (output in <dir>/<name>.out/.err).
  void Start(const std::string& config, const std::vector<std::string>& argv,
             const std::vector<std::string>& extraEnv = {});
  std::string ConfigFile() const { return dir_.Path() + "/" + name_ + ".conf"; }
  ChildProcess& Server() const { return *server_; }

 private:
  std::string name_;
  TempDir dir_;
  int port_;
  std::unique_ptr<ChildProcess> server_;
};

// rsyslogd on 127.0.0.1:<port> (and on unixSocket when given), writing
// "PRI|TAG|PROGRAM|HOST|MSG" lines into <dir>/out.log. Ready once a probe has come through.
class Rsyslog : public ReceiverProcess {
 public:
  explicit Rsyslog(const std::string& unixSocket = "");
  std::string OutputFile() const { return Dir() + "/out.log"; }
  std::string Output() const { return ReadFile(OutputFile()); }
  // The lines of the program's own messages (probes left out).
  std::vector<std::string> Lines(const std::string& tag) const;
  // How many lines of that tag arrived so far (read in pieces, for large files).
  std::size_t CountLines(const std::string& tag) const;
};

// snmptrapd on 127.0.0.1:<port>: one "TRAP enterprise|generic|specific|agent|varbinds" line per
// SNMPv1 trap on its standard output, object identifiers numeric.
class SnmpTrapd : public ReceiverProcess {
 public:
  SnmpTrapd();
  std::vector<std::string> Traps() const;
};

}  // namespace qztest
