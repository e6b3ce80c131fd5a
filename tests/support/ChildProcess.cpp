#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestSupport.h"

extern char** environ;

namespace qztest {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputPrefix,
                           const std::vector<std::string>& extraEnv)
    : out_(outputPrefix + ".out"), err_(outputPrefix + ".err") {
  std::vector<std::string> args = argv;
  std::vector<char*> cargs = CStrings(args);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> cenv = CStrings(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // The child starts with the default signal dispositions and no signal blocked.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int rc = posix_spawn(&pid_, cargs[0], &actions, &attr, cargs.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv.at(0));
  }
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || status_ >= 0) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return r == 0;
}

std::string ChildProcess::WaitForOutput(const std::string& prefix, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::istringstream lines(Out());
    std::string line;
    while (std::getline(lines, line)) {
      if (lines.eof()) break;  // not complete yet
      if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    if (!Running() && status_ >= 0)
      throw std::runtime_error("the child ended (" + std::to_string(status_) + ") before writing " + prefix + ": " + Err());
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no output line " + prefix);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void ChildProcess::Signal(int sig) const {
  if (pid_ > 0 && status_ < 0) ::kill(pid_, sig);
}

int ChildProcess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

std::string ChildProcess::Out() const { return ReadFile(out_); }
std::string ChildProcess::Err() const { return ReadFile(err_); }

}  // namespace qztest
