// A program run in the background while the test goes on: its standard output and error go to
// files, the test can wait for a line, send it a signal and collect its exit status.
//
//   qztest::ChildProcess server({binary, "--port", "0"}, dir.Path() + "/server");
//   std::string port = server.WaitForOutput("PORT ");   // the first stdout line starting so
//   server.Signal(SIGTERM);
//   int status = server.Wait();                         // exit code, or 128 + signal number
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qztest {

class ChildProcess {
 public:
  // Starts argv[0] (a path) with the extra environment entries ("NAME=value"); stdout and stderr
  // go to <outputPrefix>.out and <outputPrefix>.err. Throws std::runtime_error when it cannot.
  ChildProcess(const std::vector<std::string>& argv, const std::string& outputPrefix,
               const std::vector<std::string>& extraEnv = {});
  // Kills a child that is still running (SIGKILL) and reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // The rest of the first stdout line that starts with `prefix`, once the line is complete;
  // throws std::runtime_error when none came within timeoutMs or the child ended first.
  std::string WaitForOutput(const std::string& prefix, int timeoutMs = 10000);
  void Signal(int sig) const;
  // Waits for the end: the exit code, or 128 + the number of the signal that ended it. -1 when
  // it did not end within timeoutMs (it is still running then).
  int Wait(int timeoutMs = 60000);
  bool Running();
  std::string Out() const;  // what it wrote so far
  std::string Err() const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string out_, err_;
};

}  // namespace qztest
