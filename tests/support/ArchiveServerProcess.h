// The built archive-server stand-in (tools/archive-server) as a test fixture: started on a free
// loopback port with a store folder of its own, stopped with SIGTERM, and its store read back.
//
//   qztest::ArchiveServerProcess server(dir.Path());        // store: <dir>/store
//   config: <DOCSERVER=127.0.0.1><DOCSERVERPORT=server.Port()>
//   for (const auto& doc : server.Documents()) ...    // what was archived
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChildProcess.h"

namespace qztest {

class ArchiveServerProcess {
 public:
  // Starts the server; throws std::runtime_error when it is not built or does not come up.
  explicit ArchiveServerProcess(const std::string& dir);
  int Port() const { return port_; }
  const std::string& Store() const { return store_; }
  // SIGTERM; the exit status (0 for an orderly end).
  int Stop();

  struct Document {
    std::string docId;
    std::string archive, title;                              // UTF-8
    std::vector<std::pair<std::string, std::string>> index;  // name, value (UTF-8), in request order
    std::vector<std::string> files;                          // the bytes of each file, in request order
  };
  // The documents in the store, ordered by title.
  std::vector<Document> Documents() const;

 private:
  std::string store_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace qztest
