#include "Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FileIo.h"

extern char** environ;

namespace platform {

// ---- Command lines ---------------------------------------------------------------------------

namespace {
constexpr bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
}  // namespace

std::vector<UnicodeString> SplitCommandLine(std::u16string_view s, bool withProgramName) {
  std::vector<UnicodeString> out;
  const size_t n = s.size();
  size_t i = 0;
  while (i < n && IsBlank(s[i])) ++i;
  if (withProgramName && i < n) {
    UnicodeString program;
    bool quoted = false;
    for (; i < n; ++i) {
      const char16_t c = s[i];
      if (c == u'"') {
        quoted = !quoted;
      } else if (!quoted && IsBlank(c)) {
        break;
      } else {
        program.push_back(c);
      }
    }
    out.push_back(std::move(program));
  }
  for (;;) {
    while (i < n && IsBlank(s[i])) ++i;
    if (i >= n) break;
    UnicodeString arg;
    bool quoted = false;
    while (i < n) {
      const char16_t c = s[i];
      if (!quoted && IsBlank(c)) break;
      if (c == u'\\') {
        size_t backslashes = 0;
        while (i < n && s[i] == u'\\') {
          ++backslashes;
          ++i;
        }
        if (i < n && s[i] == u'"') {
          arg.append(backslashes / 2, u'\\');
          if (backslashes % 2 == 1) {
            arg.push_back(u'"');
            ++i;
          }
          // With an even count the quote is read next as a delimiter.
        } else {
          arg.append(backslashes, u'\\');
        }
        continue;
      }
      if (c == u'"') {
        if (quoted && i + 1 < n && s[i + 1] == u'"') {
          arg.push_back(u'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      arg.push_back(c);
      ++i;
    }
    out.push_back(std::move(arg));
  }
  return out;
}

// ---- Starting programs -----------------------------------------------------------------------

namespace {

int PidFdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

int PidFdSendKill(int fd) {
#ifdef SYS_pidfd_send_signal
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0));
#else
  (void)fd;
  errno = ENOSYS;
  return -1;
#endif
}

std::vector<char*> CStringArray(const std::vector<std::string>& items) {
  std::vector<char*> out;
  out.reserve(items.size() + 1);
  for (const std::string& s : items) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnAttributes() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
};

}  // namespace

int Spawn(const std::vector<std::string>& argv, const SpawnOptions& options, SpawnedChild& child) {
  child = SpawnedChild{};
  if (argv.empty() || argv[0].empty()) return ENOENT;
  for (const std::string& a : argv) {
    if (a.find('\0') != std::string::npos) return EINVAL;
  }
  std::string program = argv[0];
  // A relative path names a file below the caller's folder, also when the program is to run in
  // another folder.
  if (program.find('/') != std::string::npos && program[0] != '/' && !options.WorkDirectory.empty()) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) program = std::string(cwd) + "/" + program;
  }

  int out[2] = {-1, -1};
  if (options.CaptureStdout && ::pipe2(out, O_CLOEXEC) != 0) return errno;

  SpawnAttributes sa;
  int rc = posix_spawn_file_actions_addopen(&sa.actions, 0, "/dev/null", O_RDONLY, 0);
  if (!rc && options.CaptureStdout) rc = posix_spawn_file_actions_adddup2(&sa.actions, out[1], 1);
  if (!rc && options.QuietStderr) rc = posix_spawn_file_actions_addopen(&sa.actions, 2, "/dev/null", O_WRONLY, 0);
  if (!rc && !options.WorkDirectory.empty())
    rc = posix_spawn_file_actions_addchdir_np(&sa.actions, options.WorkDirectory.c_str());
  if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&sa.actions, 3);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.NewSession) flags |= POSIX_SPAWN_SETSID;
  if (!rc) rc = posix_spawnattr_setsigmask(&sa.attr, &none);
  if (!rc) rc = posix_spawnattr_setsigdefault(&sa.attr, &all);
  if (!rc) rc = posix_spawnattr_setflags(&sa.attr, flags);

  std::vector<char*> args = CStringArray(argv);
  args[0] = const_cast<char*>(argv[0].c_str());
  pid_t pid = -1;
  if (!rc) {
    if (program.find('/') != std::string::npos)
      rc = posix_spawn(&pid, program.c_str(), &sa.actions, &sa.attr, args.data(), environ);
    else
      rc = posix_spawnp(&pid, program.c_str(), &sa.actions, &sa.attr, args.data(), environ);
  }
  if (out[1] >= 0) ::close(out[1]);
  if (rc != 0) {
    if (out[0] >= 0) ::close(out[0]);
    return rc;
  }
  child.Pid = pid;
  child.PidFd = PidFdOpen(pid);
  child.StdoutFd = out[0];
  // The priority is set once the program runs; a value the caller may not set (a higher priority
  // without the privilege) leaves the caller's own.
  if (options.Nice) ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), *options.Nice);
  return 0;
}

std::optional<int> WaitForChild(pid_t pid) {
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, 0);
    if (r == pid) break;
    if (r < 0 && errno == EINTR) continue;
    return std::nullopt;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return std::nullopt;
}

void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] { (void)WaitForChild(pid); }).detach();
  } catch (...) {
    // Without a thread the child stays a zombie until this process ends; nothing else is lost.
  }
}

RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs, bool killOnTimeout, size_t maxOutput) {
  RunResult result;
  SpawnOptions options;
  options.CaptureStdout = true;
  options.QuietStderr = true;
  SpawnedChild child;
  if (Spawn(argv, options, child) != 0) return result;
  result.Started = true;
  UniqueFd pidfd(child.PidFd);
  UniqueFd out(child.StdoutFd);

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outputOpen = true;
  bool exited = false;
  char buffer[16384];
  auto readOutput = [&] {
    const ssize_t got = ::read(out.get(), buffer, sizeof buffer);
    if (got > 0) {
      const size_t room = maxOutput > result.Out.size() ? maxOutput - result.Out.size() : 0;
      result.Out.append(buffer, std::min(room, static_cast<size_t>(got)));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      outputOpen = false;
    }
  };
  while (!exited) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd fds[2];
    nfds_t count = 0;
    if (outputOpen) fds[count++] = {out.get(), POLLIN, 0};
    if (pidfd.ok()) fds[count++] = {pidfd.get(), POLLIN, 0};
    // Without a pidfd the end is looked for every 20 ms.
    const int wait = pidfd.ok() ? static_cast<int>(std::min<long long>(left, 60000))
                                : static_cast<int>(std::min<long long>(left, 20));
    int r = 0;
    if (count) {
      r = ::poll(fds, count, wait);
    } else {
      ::usleep(static_cast<useconds_t>(wait) * 1000);
    }
    if (r < 0 && errno != EINTR) break;
    for (nfds_t k = 0; r > 0 && k < count; ++k) {
      if (!fds[k].revents) continue;
      if (outputOpen && fds[k].fd == out.get()) readOutput();
      else if (pidfd.ok() && fds[k].fd == pidfd.get()) exited = true;
    }
    if (!pidfd.ok()) {
      int status = 0;
      if (::waitpid(child.Pid, &status, WNOHANG) == child.Pid) {
        exited = true;
        result.Finished = true;
        result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        child.Pid = -1;
      }
    }
  }
  // What the program wrote before it ended is in the pipe; a program it left running may keep the
  // pipe open, so only what is there now is read.
  while (exited && outputOpen) {
    pollfd fd{out.get(), POLLIN, 0};
    if (::poll(&fd, 1, 0) <= 0) break;
    readOutput();
  }
  if (child.Pid > 0) {
    if (exited) {
      if (auto code = WaitForChild(child.Pid)) {
        result.Finished = true;
        result.ExitCode = *code;
      }
    } else if (killOnTimeout) {
      ::kill(child.Pid, SIGKILL);
      (void)WaitForChild(child.Pid);
    } else {
      ReapInBackground(child.Pid);
    }
  }
  return result;
}

bool FindProgram(const std::string& name, std::string* path) {
  auto executable = [](const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
  };
  if (name.empty()) return false;
  if (name.find('/') != std::string::npos) {
    if (!executable(name)) return false;
    if (path) *path = name;
    return true;
  }
  const char* env = std::getenv("PATH");
  const std::string dirs = env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + name;
    if (executable(candidate)) {
      if (path) *path = candidate;
      return true;
    }
    start = end + 1;
  }
  return false;
}

// ---- Running processes ---------------------------------------------------------------------

namespace {

// Reads a small file below a /proc folder (at most `limit` bytes).
std::string ReadAt(int dirFd, const char* name, size_t limit) {
  const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  UniqueFd guard(fd);
  std::string data;
  char buffer[4096];
  while (data.size() < limit) {
    const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, limit - data.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    data.append(buffer, static_cast<size_t>(got));
  }
  return data;
}

// Fills the entry from the open /proc folder; false for a zombie or a process that is gone.
bool ReadEntry(int dirFd, pid_t pid, ProcessEntry& entry) {
  const std::string stat = ReadAt(dirFd, "stat", 4096);
  const size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return false;
  const char state = stat[close + 2];
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  entry.Pid = pid;
  entry.DirFd = dirFd;
  entry.Comm = ReadAt(dirFd, "comm", 256);
  while (!entry.Comm.empty() && entry.Comm.back() == '\n') entry.Comm.pop_back();
  char link[PATH_MAX];
  const ssize_t len = ::readlinkat(dirFd, "exe", link, sizeof link);
  entry.ExePath.clear();
  if (len > 0) {
    entry.ExePath.assign(link, static_cast<size_t>(len));
    static constexpr std::string_view deleted = " (deleted)";
    if (entry.ExePath.size() > deleted.size() && entry.ExePath.ends_with(deleted))
      entry.ExePath.resize(entry.ExePath.size() - deleted.size());
  }
  const std::string cmdline = ReadAt(dirFd, "cmdline", 4096);
  entry.Argv0 = cmdline.substr(0, cmdline.find('\0'));
  return true;
}

bool ParsePid(const char* name, pid_t& pid) {
  if (!*name) return false;
  long value = 0;
  for (const char* p = name; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 0x7FFFFFFF) return false;
  }
  pid = static_cast<pid_t>(value);
  return pid > 0;
}

}  // namespace

void ForEachProcess(const std::function<bool(const ProcessEntry&)>& visit) {
  DIR* dir = ::opendir("/proc");
  if (!dir) return;
  struct Closer {
    DIR* d;
    ~Closer() { ::closedir(d); }
  } closer{dir};
  while (dirent* e = ::readdir(dir)) {
    pid_t pid = 0;
    if (!ParsePid(e->d_name, pid)) continue;
    const int fd = ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    UniqueFd guard(fd);
    ProcessEntry entry;
    if (!ReadEntry(fd, pid, entry)) continue;
    if (!visit(entry)) return;
  }
}

bool WithProcess(pid_t pid, const std::function<void(const ProcessEntry&)>& visit) {
  if (pid <= 0) return false;
  const std::string path = "/proc/" + std::to_string(pid);
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  UniqueFd guard(fd);
  // /proc also answers for the ids of threads; only a process's own id names it.
  const std::string status = ReadAt(fd, "status", 8192);
  const size_t tgid = status.find("\nTgid:");
  if (tgid == std::string::npos || std::strtol(status.c_str() + tgid + 6, nullptr, 10) != pid) return false;
  ProcessEntry entry;
  if (!ReadEntry(fd, pid, entry)) return false;
  visit(entry);
  return true;
}

bool KillProcessEntry(const ProcessEntry& entry) {
  if (entry.DirFd >= 0) {
    if (PidFdSendKill(entry.DirFd) == 0) return true;
    if (errno != ENOSYS && errno != EBADF && errno != EINVAL) return false;
  }
  return entry.Pid > 0 && ::kill(entry.Pid, SIGKILL) == 0;
}

bool KillPidFd(int pidfd) { return pidfd > 0 && PidFdSendKill(pidfd) == 0; }

std::optional<uint64_t> ProcessResidentBytes(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  const std::string path = "/proc/" + std::to_string(pid);
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  UniqueFd guard(fd);
  const std::string statm = ReadAt(fd, "statm", 256);
  uint64_t size = 0, resident = 0;
  const char* p = statm.c_str();
  char* end = nullptr;
  errno = 0;
  size = std::strtoull(p, &end, 10);
  if (end == p || errno) return std::nullopt;
  p = end;
  resident = std::strtoull(p, &end, 10);
  if (end == p || errno) return std::nullopt;
  (void)size;
  return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

// ---- systemd -----------------------------------------------------------------------------------

bool IsValidUnitName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name[0] == '-' || name[0] == '.') return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' ||
                    c == '-' || c == '_' || c == '.' || c == '\\' || c == '@';
    if (!ok) return false;
  }
  return true;
}

namespace {
constexpr int kSystemctlQueryTimeoutMs = 15000;
}

std::optional<UnitStatus> QueryUnit(const std::string& name) {
  if (!IsValidUnitName(name)) return std::nullopt;
  const RunResult r = RunProgram({"systemctl", "--no-ask-password", "show", "--property=LoadState",
                                  "--property=ActiveState", "--property=FreezerState", "--", name},
                                 kSystemctlQueryTimeoutMs);
  if (!r.Finished || r.ExitCode != 0) return std::nullopt;
  UnitStatus status;
  size_t start = 0;
  while (start < r.Out.size()) {
    size_t end = r.Out.find('\n', start);
    if (end == std::string::npos) end = r.Out.size();
    const std::string_view line(r.Out.data() + start, end - start);
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "LoadState") status.LoadState = value;
      else if (key == "ActiveState") status.ActiveState = value;
      else if (key == "FreezerState") status.FreezerState = value;
    }
    start = end + 1;
  }
  if (status.LoadState.empty() || status.ActiveState.empty()) return std::nullopt;
  return status;
}

bool RunSystemctl(const std::vector<std::string>& args, int timeoutMs) {
  std::vector<std::string> argv{"systemctl", "--no-ask-password"};
  argv.insert(argv.end(), args.begin(), args.end());
  const RunResult r = RunProgram(argv, timeoutMs);
  return r.Finished && r.ExitCode == 0;
}

}  // namespace platform
