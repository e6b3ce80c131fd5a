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
//
// The oracle runs as a python3 child process on a free loopback port; it never shares our
// parser. Items are the decoded bytes of each request item ("name=value", "obj(ext)=bytes");
// Answer is the exact bytes the oracle sent back.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qztest {

struct ArchiveRequest {
  std::string Type;                // request type, upper-cased
  std::string Enc, Comp;           // the option values as sent ("mime", "false", ...)
  std::vector<std::string> Items;  // decoded item bytes
  std::string Answer;              // bytes of the answer sent (empty for the oversize fault)
  size_t Size = 0;                 // bytes of the request received
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
