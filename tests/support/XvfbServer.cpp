#include "XvfbServer.h"

#include <signal.h>
#include <unistd.h>

#include <stdexcept>

namespace qztest {

XvfbServer::XvfbServer(const std::string& workDir, int width, int height) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0) {
    reason_ = "Xvfb is not installed (scripts/install-deps installs xvfb)";
    return;
  }
  try {
    // -displayfd picks a free display number and writes it once the server accepts clients.
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0",
                                 std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp",
                                 "-noreset"},
        workDir + "/xvfb");
    display_ = ":" + server_->WaitForOutput("", 20000);
    env_ = std::make_unique<ScopedEnv>("DISPLAY", display_);
  } catch (const std::exception& e) {
    reason_ = std::string("Xvfb did not start: ") + e.what();
    server_.reset();
  }
}

XvfbServer::~XvfbServer() {
  env_.reset();
  if (server_) {
    server_->Signal(SIGTERM);
    server_->Wait(10000);
  }
}

}  // namespace qztest
