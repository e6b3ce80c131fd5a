#include "TestSupport.h"

#include "CodePage.h"
#include "Exceptions.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace qztest {

namespace fs = std::filesystem;

std::vector<char*> CStrings(std::vector<std::string>& items) {
  std::vector<char*> out;
  for (auto& s : items) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         const std::vector<std::string>& extraEnv) {
  int in[2], out[2], err[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> args = argv;
  std::vector<char*> cargs = CStrings(args);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& e : extraEnv) env.push_back(e);
  std::vector<char*> cenv = CStrings(env);

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    ::execvpe(cargs[0], cargs.data(), cenv.data());
    std::fprintf(stderr, "cannot run %s: %s\n", cargs[0], std::strerror(errno));
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  ProcessResult result;
  size_t written = 0;
  int inFd = in[1];
  if (input.empty()) {
    ::close(inFd);
    inFd = -1;
  } else {
    ::fcntl(inFd, F_SETFL, ::fcntl(inFd, F_GETFL) | O_NONBLOCK);
  }
  int outFd = out[0], errFd = err[0];
  char buf[65536];
  while (outFd >= 0 || errFd >= 0 || inFd >= 0) {
    pollfd fds[3];
    int n = 0;
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    if (::poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        ssize_t w = ::write(inFd, input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 && errno != EAGAIN) written = input.size();
        if (written >= input.size()) {
          ::close(inFd);
          inFd = -1;
        }
      } else {
        ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
        if (r > 0) {
          (fds[i].fd == outFd ? result.Out : result.Err).append(buf, static_cast<size_t>(r));
        } else if (r == 0 || errno != EINTR) {
          ::close(fds[i].fd);
          (fds[i].fd == outFd ? outFd : errFd) = -1;
        }
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

namespace {

// Debian's interpreter: the Python modules the tests rely on are installed for it.
const char* const kPython = "/usr/bin/python3";

}  // namespace

std::string RunPython(const std::string& script, const std::vector<std::string>& args,
                      const std::string& input) {
  std::vector<std::string> argv = {kPython, "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult r = RunProcess(argv, input);
  if (r.ExitCode != 0) throw std::runtime_error("python3 failed: " + r.Err);
  return r.Out;
}

std::vector<nlohmann::json> RunOracle(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {kPython, std::string(QZ_PEERS_DIR) + "/" + script};
  argv.insert(argv.end(), args.begin(), args.end());
  const ProcessResult r = RunProcess(argv);
  std::string command;
  for (const auto& a : argv) command += (command.empty() ? "" : " ") + a;
  EXPECT_EQ(r.ExitCode, 0) << command << "\n" << r.Err;
  std::vector<nlohmann::json> rows;
  std::istringstream lines(r.Out);
  for (std::string line; std::getline(lines, line);) rows.push_back(nlohmann::json::parse(line));
  return rows;
}

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  value ? ::setenv(name_.c_str(), value->c_str(), 1) : ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str());
}

std::u16string W(const std::string& utf8) { return platform::Utf8ToWide(utf8); }

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string LowerHex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string FromHex(std::string_view hex) {
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

std::string ExceptionText(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.what();
  }
  return "no exception";
}

std::string RandomBytes(std::mt19937_64& rng, std::size_t n, bool nonZero) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(nonZero ? 1 + rng() % 255 : rng() & 0xFF);
  return s;
}

}  // namespace qztest
