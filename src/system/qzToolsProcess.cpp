// TqzTools, process family: starting programs, the shell, and finding and ending processes.
#include "qzToolsProcess.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Desktop.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "Process.h"
#include "SysUtils.h"
#include "qzToolsEvo2.h"

using platform::SpawnedChild;
using platform::SpawnOptions;

namespace {

// The argument vector of "Filename" + " " + Params: the program, then Params split by the
// Windows rules for arguments.
std::vector<std::string> ProgramArgv(const UnicodeString& Filename, const UnicodeString& Params) {
  std::vector<std::string> argv{platform::WideToUtf8(Filename)};
  for (const UnicodeString& arg : platform::SplitCommandLine(Params, false)) argv.push_back(platform::WideToUtf8(arg));
  return argv;
}

// The nice value of a Windows priority class; nullopt for a value that is none.
std::optional<std::optional<int>> NiceOfPriorityClass(uint32_t Priority) {
  switch (Priority) {
    case 0: return std::optional<int>();  // no class given: the caller's own
    case TqzToolsProcess::NORMAL_PRIORITY_CLASS: return std::optional<int>(0);
    case TqzToolsProcess::IDLE_PRIORITY_CLASS: return std::optional<int>(19);
    case TqzToolsProcess::BELOW_NORMAL_PRIORITY_CLASS: return std::optional<int>(10);
    case TqzToolsProcess::ABOVE_NORMAL_PRIORITY_CLASS: return std::optional<int>(-5);
    case TqzToolsProcess::HIGH_PRIORITY_CLASS: return std::optional<int>(-10);
    case TqzToolsProcess::REALTIME_PRIORITY_CLASS: return std::optional<int>(-20);
    default: return std::nullopt;
  }
}

// Starts the program in a new session; false when it could not be started.
bool Start(const std::vector<std::string>& argv, const UnicodeString& WorkDirectory, std::optional<int> nice,
           SpawnedChild& child) {
  if (argv.empty() || argv[0].empty()) return false;
  SpawnOptions options;
  options.NewSession = true;
  options.WorkDirectory = platform::WideToUtf8(WorkDirectory);
  options.Nice = nice;
  return platform::Spawn(argv, options, child) == 0;
}

// Starts the program and lets it run on its own.
bool StartDetached(const std::vector<std::string>& argv, const UnicodeString& WorkDirectory) {
  SpawnedChild child;
  if (!Start(argv, WorkDirectory, 0, child)) return false;
  if (child.PidFd >= 0) ::close(child.PidFd);
  platform::ReapInBackground(child.Pid);
  return true;
}

constexpr int kOpenerGraceMs = 5000;

// Hands a file, folder or link to xdg-open. True when it ended with 0, or is still busy after
// the grace time (it then runs the opening program in its own place).
bool OpenWithDesktop(const std::string& target) {
  if (!platform::HasDesktop()) return false;
  const platform::RunResult r = platform::RunProgram({"xdg-open", target}, kOpenerGraceMs, false);
  return r.Started && (!r.Finished || r.ExitCode == 0);
}

UnicodeString FilePart(const UnicodeString& name) {
  const size_t cut = name.find_last_of(u"/\\");
  return cut == UnicodeString::npos ? name : name.substr(cut + 1);
}

// The upper-cased forms a process name given by a caller is compared in: its file part, and
// that part without a closing ".exe".
struct NameQuery {
  explicit NameQuery(const UnicodeString& ExeFileName) {
    const UnicodeString part = UpperCaseStr(FilePart(ExeFileName));
    if (!part.empty()) Forms.push_back(part);
    if (part.size() > 4 && part.ends_with(u".EXE")) Forms.push_back(part.substr(0, part.size() - 4));
  }
  bool Matches(const platform::ProcessEntry& e) const {
    if (Forms.empty()) return false;
    std::vector<UnicodeString> names;
    if (!e.ExePath.empty()) {
      const UnicodeString exe = UpperCaseStr(platform::Utf8ToWide(e.ExePath));
      names.push_back(FilePart(exe));
      names.push_back(exe);
    }
    if (!e.Argv0.empty()) names.push_back(FilePart(UpperCaseStr(platform::Utf8ToWide(e.Argv0))));
    const UnicodeString comm = UpperCaseStr(platform::Utf8ToWide(e.Comm));
    names.push_back(comm);
    for (const UnicodeString& form : Forms) {
      for (const UnicodeString& name : names) {
        if (!name.empty() && name == form) return true;
      }
      // The kernel keeps 15 bytes of a name: a longer name matches by its beginning.
      if (e.Comm.size() == 15 && platform::WideToUtf8(form).size() > 15 && !comm.empty() && form.starts_with(comm))
        return true;
    }
    return false;
  }
  std::vector<UnicodeString> Forms;
};

bool KillByName(const UnicodeString& ExeFileName) {
  const NameQuery query(ExeFileName);
  const pid_t self = ::getpid();
  bool any = false, allEnded = true;
  platform::ForEachProcess([&](const platform::ProcessEntry& e) {
    if (e.Pid == self || !query.Matches(e)) return true;
    any = true;
    if (!platform::KillProcessEntry(e)) allEnded = false;
    return true;
  });
  return any && allEnded;
}

}  // namespace

// ---- Starting programs -----------------------------------------------------------------------

bool TqzToolsProcess::ExecAndWait(const UnicodeString& Filename, const UnicodeString& Params, uint16_t WindowState,
                                  uint32_t& ExitCode, const UnicodeString& WorkDirectory) {
  (void)WindowState;
  ExitCode = 0;
  SpawnedChild child;
  if (!Start(ProgramArgv(Filename, Params), WorkDirectory, 0, child)) return false;
  platform::UniqueFd pidfd(child.PidFd);
  if (std::optional<int> code = platform::WaitForChild(child.Pid)) ExitCode = static_cast<uint32_t>(*code);
  return true;
}

bool TqzToolsProcess::ExecAndWait(const UnicodeString& Filename, const UnicodeString& Params, uint16_t WindowState,
                                  const UnicodeString& WorkDirectory) {
  uint32_t exitCode = 0;
  return ExecAndWait(Filename, Params, WindowState, exitCode, WorkDirectory);
}

bool TqzToolsProcess::ExecProcess(const UnicodeString& Filename, const UnicodeString& Params, uint16_t WindowState,
                                  const UnicodeString& WorkDirectory) {
  (void)WindowState;
  return StartDetached(ProgramArgv(Filename, Params), WorkDirectory);
}

bool TqzToolsProcess::ExecProcess(const UnicodeString& Filename, const UnicodeString& Params, uint32_t Priority,
                                  uint16_t WindowState, uint32_t& ProcessHandle, const UnicodeString& WorkDirectory) {
  (void)WindowState;
  const auto nice = NiceOfPriorityClass(Priority);
  if (!nice) return false;
  SpawnedChild child;
  if (!Start(ProgramArgv(Filename, Params), WorkDirectory, *nice, child)) return false;
  ProcessHandle = child.PidFd > 0 ? static_cast<uint32_t>(child.PidFd) : 0;
  platform::ReapInBackground(child.Pid);
  return true;
}

bool TqzToolsProcess::ExecProcess(const UnicodeString& CmdLine, uint16_t WindowState) {
  (void)WindowState;
  std::vector<std::string> argv;
  for (const UnicodeString& arg : platform::SplitCommandLine(CmdLine, true)) argv.push_back(platform::WideToUtf8(arg));
  return StartDetached(argv, u"");
}

// ---- The shell -------------------------------------------------------------------------------

bool TqzToolsProcess::ShellExecute(const UnicodeString& ShellCommand, uint16_t ShowCmd, bool IsUrl, bool Check) {
  (void)ShowCmd;
  const UnicodeString command = platform::Trim(ShellCommand);
  if (command.empty()) return false;
  UnicodeString file = command, params;
  if (Check) {
    const size_t blank = command.find(u' ');
    if (blank != UnicodeString::npos) {
      file = command.substr(0, blank);
      params = command.substr(blank + 1);
    }
  }
  if (IsUrl) {
    params.clear();
    const UnicodeString lower = LowerCaseStr(file);
    if (!lower.starts_with(u"http://") && !lower.starts_with(u"https://")) throw Exception("invalid url");
    return OpenWithDesktop(platform::WideToUtf8(file));
  }
  const std::string target = platform::WideToUtf8(file);
  if (platform::FindProgram(target)) return StartDetached(ProgramArgv(file, params), u"");
  return OpenWithDesktop(target);
}

bool TqzToolsProcess::ShowFileInExplorer(const UnicodeString& FileName) {
  if (!platform::HasDesktop() || FileName.empty()) return false;
  std::filesystem::path path;
  try {
    path = std::filesystem::absolute(std::filesystem::path(platform::WideToUtf8(FileName))).lexically_normal();
  } catch (...) {
    return false;
  }
  const platform::RunResult shown = platform::RunProgram(
      {"gdbus", "call", "--session", "--timeout", "10", "--dest", "org.freedesktop.FileManager1", "--object-path",
       "/org/freedesktop/FileManager1", "--method", "org.freedesktop.FileManager1.ShowItems",
       "['" + platform::FileUri(path.string()) + "']", "''"},
      15000);
  if (shown.Finished && shown.ExitCode == 0) return true;
  std::string folder = path.parent_path().string();
  if (folder.empty()) folder = "/";
  return OpenWithDesktop(folder);
}

bool TqzToolsProcess::InstallINF(const UnicodeString& PathName, uintptr_t hParent) {
  (void)PathName;
  (void)hParent;
  return false;
}

// ---- Processes -------------------------------------------------------------------------------

bool TqzToolsProcess::ProcessExists(const UnicodeString& ExeFileName) {
  try {
    const NameQuery query(ExeFileName);
    bool found = false;
    platform::ForEachProcess([&](const platform::ProcessEntry& e) {
      found = query.Matches(e);
      return !found;
    });
    return found;
  } catch (...) {
    return false;
  }
}

bool TqzToolsProcess::ProcessExists(uint32_t PID) {
  if (PID == 0 || PID > static_cast<uint32_t>(INT_MAX)) return false;
  return platform::WithProcess(static_cast<pid_t>(PID), [](const platform::ProcessEntry&) {});
}

bool TqzToolsProcess::ProcessExists(uint32_t PID, const UnicodeString& ExeFileName) {
  if (PID == 0 || PID > static_cast<uint32_t>(INT_MAX)) return false;
  try {
    const NameQuery query(ExeFileName);
    bool matches = false;
    platform::WithProcess(static_cast<pid_t>(PID), [&](const platform::ProcessEntry& e) { matches = query.Matches(e); });
    return matches;
  } catch (...) {
    return false;
  }
}

bool KillProcessByName(const AnsiString& ExeFileName) {
  try {
    return KillByName(platform::AnsiToWide(ExeFileName));
  } catch (...) {
    return false;
  }
}

bool KillProcessByHandle(uint32_t ProcessHandle) {
  if (ProcessHandle == 0 || ProcessHandle > static_cast<uint32_t>(INT_MAX)) return false;
  return platform::KillPidFd(static_cast<int>(ProcessHandle));
}

bool TqzToolsProcess::KillProcess(const UnicodeString& ExeFileName) {
  try {
    return KillByName(ExeFileName);
  } catch (...) {
    return false;
  }
}

bool TqzToolsProcess::KillProcess(uint32_t ProcessHandle) { return KillProcessByHandle(ProcessHandle); }

uint32_t TqzToolsProcess::GetProcessMemoryUsage(uint32_t ProcessId) {
  try {
    if (ProcessId == 0 || ProcessId > static_cast<uint32_t>(INT_MAX)) return 0;
    const std::optional<uint64_t> bytes = platform::ProcessResidentBytes(static_cast<pid_t>(ProcessId));
    if (!bytes) return 0;
    return *bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(*bytes);
  } catch (...) {
    return 0;
  }
}

bool RemoteCloseApplication(const AnsiString& WindowCaption) {
  return platform::CloseWindowByTitle(platform::AnsiToUtf8(WindowCaption));
}

bool TqzToolsProcess::RemoteCloseApplication(const UnicodeString& WindowCaption) {
  try {
    return platform::CloseWindowByTitle(platform::WideToUtf8(WindowCaption));
  } catch (...) {
    return false;
  }
}
