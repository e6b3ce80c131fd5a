// The independent archive-server oracle (tests/peers/archive_oracle.py) as a test fixture.
//
//   qztest::ArchiveOracle oracle;
//   oracle.Start("none");                       // or a fault switch: "close", "reset",
//                                               // "lowerclose", "drip", "stall", "oversize",
//                                               // "error", "emptyblob", "badname", "noend"
//   client.Server = "127.0.0.1"; client.Port = oracle.Port();
//   ... exchange ...
//   auto reqs = oracle.Requests();              // one entry per request, in arrival order
//   EXPECT_EQ(reqs[0].Type, "CREATEDOCEXT");
//   EXPECT_EQ(reqs[0].Items[0], "Archive=box7");  // decoded item bytes
//   oracle.Stop();                              // also done by the destructor
//   oracle.Start("none", {"--digests"});        // large requests: MD5s only, no item texts
//
// The oracle runs as a python3 child process on a free loopback port; it never shares our
// parser. Items are the decoded bytes of each request item ("name=value", "obj(ext)=bytes");
// Answer is the exact bytes the oracle sent back.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qztest {

struct ArchiveRequest {
  std::string Type;                // request type, upper-cased
  std::string Enc, Comp;           // the option values as sent ("mime", "false", ...)
  std::vector<std::string> Items;  // decoded item bytes
  std::string Answer;              // bytes of the answer sent (empty for the oversize fault)
  size_t Size = 0;                 // bytes of the request received
  std::string Md5;                 // hex MD5 of the request bytes (Python's hashlib)
  std::vector<std::string> ItemMd5;  // hex MD5 of each decoded item
};

class ArchiveOracle {
 public:
  ArchiveOracle();
  ~ArchiveOracle();
  ArchiveOracle(const ArchiveOracle&) = delete;
  ArchiveOracle& operator=(const ArchiveOracle&) = delete;

  // Starts the oracle with a fault switch and optional extra arguments ("--badname", "x/y");
  // returns once it listens. Throws std::runtime_error when it does not come up.
  void Start(const std::string& fault = "none", const std::vector<std::string>& extraArgs = {});
  int Port() const { return port_; }
  // The requests recorded so far (reads the oracle's record file).
  std::vector<ArchiveRequest> Requests() const;
  // Waits up to timeoutMs until at least `count` requests are recorded.
  std::vector<ArchiveRequest> WaitForRequests(size_t count, int timeoutMs = 5000) const;
  void Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
  std::string record_;
};

}  // namespace qztest

namespace qztest {

// The built archive-server stand-in (tools/archive-server) as a child process on a free loopback
// port, storing under `store`; stopped with SIGTERM by Stop() or the destructor. Throws
// std::runtime_error when it does not report its port.
class ArchiveStandIn {
 public:
#ifdef QZ_BINARY_DIR
  explicit ArchiveStandIn(const std::string& store, const std::vector<std::string>& extraArgs = {},
                          const std::string& binary = QZ_BINARY_DIR "/archive-server")
#else
  ArchiveStandIn(const std::string& store, const std::vector<std::string>& extraArgs, const std::string& binary)
#endif
      : ArchiveStandIn(binary, store, extraArgs, 0) {
  }
  ~ArchiveStandIn();
  ArchiveStandIn(const ArchiveStandIn&) = delete;
  ArchiveStandIn& operator=(const ArchiveStandIn&) = delete;
  int Port() const { return port_; }
  // SIGTERM; the exit status (0 for an orderly end).
  int Stop();

 private:
  ArchiveStandIn(const std::string& binary, const std::string& store, const std::vector<std::string>& extraArgs, int);
  pid_t pid_ = -1;
  int port_ = 0;
};

// A loopback relay between a client and a server that calls `onForwarded` once, after it has
// passed `after` bytes of the request on and before it passes on more. The answer travels back
// unchanged. Serves one connection.
class RelayOnce {
 public:
  RelayOnce(int serverPort, size_t after, std::function<void()> onForwarded);
  ~RelayOnce();
  int Port() const { return port_; }
  // Bytes of the request passed on to the server (after the connection ended).
  size_t Forwarded();

 private:
  int listener_ = -1;
  int port_ = 0;
  size_t forwarded_ = 0;
  std::thread thread_;
};

}  // namespace qztest
