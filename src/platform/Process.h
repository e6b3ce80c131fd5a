// Processes on Linux: command lines split by the Windows rules, programs started with posix_spawn
// (never through a shell), waiting for them, the running processes as /proc shows them, and the
// systemd service manager reached through `systemctl` run with an argument vector.
//
// A started program gets: standard input from /dev/null, the caller's standard output and error
// (helper tools run by RunProgram get /dev/null for their errors), no other descriptor of the
// caller, default signal dispositions and an empty signal mask, and the caller's environment.
// Nothing is ever handed to /bin/sh.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"

namespace platform {

// ---- Command lines ---------------------------------------------------------------------------

// Splits a Windows command line into its arguments, by the rules of the Microsoft C runtime:
//  * arguments are separated by blanks and tabs;
//  * a double quote starts or ends a quoted part, in which blanks and tabs belong to the
//    argument; inside a quoted part two double quotes give one literal double quote;
//  * 2n backslashes before a double quote give n backslashes and the quote acts as above;
//    2n+1 backslashes before a double quote give n backslashes and a literal double quote;
//    backslashes anywhere else are literal;
//  * a command line that ends inside a quoted part ends the last argument there.
// With `withProgramName` the first word is the program name, read by the simpler rule for it:
// up to the first blank or tab outside double quotes, the quotes removed, backslashes literal.
// Leading blanks are skipped.
std::vector<UnicodeString> SplitCommandLine(std::u16string_view commandLine, bool withProgramName);

// ---- Starting programs -----------------------------------------------------------------------

struct SpawnOptions {
  std::string WorkDirectory;     // empty: the caller's current folder
  bool NewSession = false;       // setsid: the program leaves the caller's session and terminal
  std::optional<int> Nice;       // the program's nice value (-20 .. 19); best effort
  bool CaptureStdout = false;    // standard output into a pipe (SpawnedChild::StdoutFd)
  bool QuietStderr = false;      // standard error to /dev/null
};

struct SpawnedChild {
  pid_t Pid = -1;
  int PidFd = -1;     // a pidfd of the child (-1 where the kernel has none); the caller closes it
  int StdoutFd = -1;  // with CaptureStdout; the caller closes it
};

// Starts argv[0] (a path when it holds "/", else looked up in PATH) with the arguments. Returns 0,
// or the errno of the failure (the program could not be found or executed, the working folder is
// missing ...); nothing runs then.
int Spawn(const std::vector<std::string>& argv, const SpawnOptions& options, SpawnedChild& child);

// Waits for a child of this process to end. Its exit code, or 128 + the number of the signal that
// ended it; nullopt when it cannot be waited for (not a child, or reaped elsewhere).
std::optional<int> WaitForChild(pid_t pid);

// Reaps the child in the background once it ends, so that a program started without waiting
// leaves no zombie behind.
void ReapInBackground(pid_t pid);

struct RunResult {
  bool Started = false;
  bool Finished = false;  // ended within the time
  int ExitCode = -1;      // when Finished
  std::string Out;        // standard output, up to the cap
};

// Runs a program and waits up to `timeoutMs` for it, collecting at most `maxOutput` bytes of its
// standard output (the rest is read and dropped, so the program never blocks on a full pipe).
// Standard error goes to /dev/null. A program still running at the time-out is killed when
// `killOnTimeout`, else left running (and reaped in the background).
RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs, bool killOnTimeout = true,
                     size_t maxOutput = 1 << 20);

// True when a program of that name is found in PATH (or the path names an executable file).
bool FindProgram(const std::string& name, std::string* path = nullptr);

// ---- Running processes ---------------------------------------------------------------------

// One process as /proc shows it. Names are read from the process's folder, so they stay those of
// the same process while the visitor runs, even if its id is reused afterwards.
struct ProcessEntry {
  pid_t Pid = 0;
  std::string Comm;     // the kernel's name (at most 15 bytes)
  std::string ExePath;  // the executable's path; empty when it cannot be read (another user's)
  std::string Argv0;    // the first word of its command line; empty for kernel threads
  int DirFd = -1;       // the process's /proc folder, open while the visitor runs
};

// Calls `visit` for every running process (zombies are left out) until it returns false.
void ForEachProcess(const std::function<bool(const ProcessEntry&)>& visit);
// Calls `visit` for the process with that id when it runs; false when there is none.
bool WithProcess(pid_t pid, const std::function<void(const ProcessEntry&)>& visit);
// Sends SIGKILL to the process of the entry (through its /proc folder, so never to another
// process that took over its id). True when the signal was delivered.
bool KillProcessEntry(const ProcessEntry& entry);
// Sends SIGKILL through a pidfd. True when it was delivered.
bool KillPidFd(int pidfd);
// The resident memory of a process in bytes; nullopt when it cannot be read.
std::optional<uint64_t> ProcessResidentBytes(pid_t pid);

// ---- systemd -----------------------------------------------------------------------------------

// True for a name that systemd accepts as a unit name: 1 to 255 characters from A-Z a-z 0-9 and
// ":-_.\@", not beginning with "-" or ".". Anything else (quotes, blanks, "&", ";", "/") is refused.
bool IsValidUnitName(std::string_view name);

struct UnitStatus {
  std::string LoadState;     // "loaded", "not-found", "masked", ...
  std::string ActiveState;   // "active", "inactive", "failed", "activating", "deactivating", ...
  std::string FreezerState;  // "running", "freezing", "frozen", "thawing" (may be empty)
};
// The unit's states from `systemctl show`; nullopt when systemctl cannot be run or answers
// with an error (no service manager). The name must pass IsValidUnitName.
std::optional<UnitStatus> QueryUnit(const std::string& name);
// Runs `systemctl` with the arguments (after "--no-ask-password"), waiting up to `timeoutMs`.
// True when it ran and exited with 0.
bool RunSystemctl(const std::vector<std::string>& args, int timeoutMs);

}  // namespace platform
