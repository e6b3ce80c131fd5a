// A private X server (Xvfb) on a free display number, for tests of the desktop: it runs while the
// object lives and DISPLAY names it for that time.
//
//   qztest::XvfbServer x(dir.Path(), 320, 240);
//   if (!x.Running()) GTEST_SKIP() << x.Reason();
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace qztest {

class XvfbServer {
 public:
  // Starts Xvfb with one screen of width x height at 24 bits and sets DISPLAY.
  XvfbServer(const std::string& workDir, int width, int height);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Running() const { return server_ != nullptr; }
  // Why it does not run (Xvfb missing or failing).
  const std::string& Reason() const { return reason_; }
  // ":N"
  const std::string& Display() const { return display_; }

 private:
  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<ScopedEnv> env_;
  std::string display_, reason_;
};

}  // namespace qztest
