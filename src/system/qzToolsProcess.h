// TqzTools, process family: starting programs, opening documents and links, finding and ending
// processes, services, the system's "services" and "hosts" files, the data-link dialog and
// shutting the system down.
//
// How each works on Linux:
//  * Programs are started with posix_spawn, never through a shell. The command line (Filename in
//    double quotes, a blank, Params) is split into an argument vector by the Windows rules
//    (platform::SplitCommandLine): Filename is the program (a path, or a name looked up in PATH),
//    Params its arguments. A "new console" is a new session (setsid). The program gets standard
//    input from /dev/null, the caller's standard output and error and environment, and no other
//    descriptor. WindowState has no effect (there is no start-up window state to hand over).
//    Priority classes become nice values: idle 19, below normal 10, normal 0, above normal -5,
//    high -10, real time -20; raising the priority needs the privilege, without it the program
//    keeps the caller's. Any other priority value is refused (false, nothing started).
//  * ExecAndWait waits without a time limit. ExitCode is the program's exit status, or 128 + the
//    signal number when a signal ended it. A program started without waiting is reaped in the
//    background, so it leaves no zombie.
//  * The process handle of ExecProcess is a pidfd (a descriptor that refers to the process for
//    its whole life, also after it ended); KillProcess takes it, the caller closes it with
//    close(). 0 is no handle.
//  * ShellExecute: a file that is an executable program (by path or in PATH) is started with the
//    parameters as its arguments; any other file, folder or link is handed to `xdg-open` (which
//    takes no parameters). Opening through `xdg-open` needs a desktop (DISPLAY or
//    WAYLAND_DISPLAY); without one the result is false. The result is true when the program
//    started, or `xdg-open` ended with 0 or is still busy after 5 seconds (it then runs the
//    opening program itself). With IsUrl, the trimmed command must begin with "http://" or
//    "https://" (any case), or Exception("invalid url") is raised.
//  * ShowFileInExplorer asks the file manager to show the file through the freedesktop
//    FileManager1 D-Bus call ShowItems (the file's URI, run through `gdbus`); when no file
//    manager answers, the file's folder is opened with `xdg-open`. Needs a desktop.
//  * InstallINF: Linux has no INF installer; always false.
//  * Processes are read from /proc; zombies do not count as running, and the calling process is
//    never ended by KillProcess. A process's names are its executable's file name (when it can
//    be read), the file name of the first word of its command line, and its kernel name (which
//    the kernel cuts to 15 bytes: a longer name matches by its first 15 bytes). A name given
//    matches when its file part equals one of them, or the whole executable path, ignoring case
//    (UpperCaseStr); a name ending in ".exe" also matches without that ending. Processes are
//    ended with SIGKILL (the exit code of a terminated Windows process cannot be chosen).
//  * GetProcessMemoryUsage: the resident set from /proc/<pid>/statm; a size beyond 32 bits gives
//    4294967295 instead of a wrapped value.
//  * RemoteCloseApplication asks the first top-level X11 window whose title is WindowCaption to
//    close (WM_DELETE_WINDOW, when the window takes it); false without a desktop.
//  * Services are systemd units, reached through `systemctl` run with an argument vector. A
//    service name must be a valid unit name (platform::IsValidUnitName); any other name is
//    refused without running anything. States: active or reloading 4 (running; frozen 7,
//    freezing 6, thawing 5), activating 2, deactivating 3, inactive or failed 1, a unit that is
//    not found or cannot be read 0. Another machine's services cannot be asked (0); the machine
//    is this one when Machine is empty or this computer's name. StartService and StopService ask
//    systemd without blocking and then poll the state (at most 120 times, 500 ms apart).
//  * The system files are <root>/etc/services and <root>/etc/hosts, where the root is
//    $KESTA_SYSTEM_ROOT when set (tests), else the system folder ("/"). They are read as UTF-8
//    (a file that is not valid UTF-8 as Windows-1252). Edits run under an exclusive lock on the
//    file, are written to a temporary file and renamed over it (a failed write leaves the old
//    file); every line not edited keeps its bytes, the new line takes the file's encoding and
//    line end (LF for a file without one).
//  * GetHostSettings matches whole host names after the address (ignoring case), never text in
//    the address or in a comment.
//  * EditUDLFile / EditConnectionString: Linux has no data-link dialog; they do what the dialog
//    does when the user cancels it (the file's connection string; the connection string back).
//  * SystemShutDown asks systemd: `systemctl reboot`, `poweroff` or `halt`, or for a log-off
//    `loginctl terminate-session $XDG_SESSION_ID`; QuickShutDown ignores inhibitor locks
//    (`-i`). The result is whether the request was accepted.
#pragma once

#include <cstdint>

#include "Text.h"

class TqzToolsProcess {
 public:
  TqzToolsProcess() = delete;

  // Windows priority classes.
  static constexpr uint32_t NORMAL_PRIORITY_CLASS = 0x00000020;
  static constexpr uint32_t IDLE_PRIORITY_CLASS = 0x00000040;
  static constexpr uint32_t HIGH_PRIORITY_CLASS = 0x00000080;
  static constexpr uint32_t REALTIME_PRIORITY_CLASS = 0x00000100;
  static constexpr uint32_t BELOW_NORMAL_PRIORITY_CLASS = 0x00004000;
  static constexpr uint32_t ABOVE_NORMAL_PRIORITY_CLASS = 0x00008000;

  // Windows service states.
  static constexpr uint32_t SERVICE_STOPPED = 1;
  static constexpr uint32_t SERVICE_START_PENDING = 2;
  static constexpr uint32_t SERVICE_STOP_PENDING = 3;
  static constexpr uint32_t SERVICE_RUNNING = 4;
  static constexpr uint32_t SERVICE_CONTINUE_PENDING = 5;
  static constexpr uint32_t SERVICE_PAUSE_PENDING = 6;
  static constexpr uint32_t SERVICE_PAUSED = 7;

  static bool ExecAndWait(const UnicodeString& Filename, const UnicodeString& Params, uint16_t WindowState,
                          uint32_t& ExitCode, const UnicodeString& WorkDirectory = u"");
  static bool ExecAndWait(const UnicodeString& Filename, const UnicodeString& Params, uint16_t WindowState,
                          const UnicodeString& WorkDirectory = u"");
  static bool ExecProcess(const UnicodeString& Filename, const UnicodeString& Params, uint16_t WindowState,
                          const UnicodeString& WorkDirectory = u"");
  static bool ExecProcess(const UnicodeString& Filename, const UnicodeString& Params, uint32_t Priority,
                          uint16_t WindowState, uint32_t& ProcessHandle, const UnicodeString& WorkDirectory = u"");
  static bool ExecProcess(const UnicodeString& CmdLine, uint16_t WindowState);
  static bool ShellExecute(const UnicodeString& ShellCommand, uint16_t ShowCmd, bool IsUrl, bool Check);
  static bool ShowFileInExplorer(const UnicodeString& FileName);
  static bool InstallINF(const UnicodeString& PathName, uintptr_t hParent);

  static bool ProcessExists(const UnicodeString& ExeFileName);
  static bool ProcessExists(uint32_t PID);
  static bool ProcessExists(uint32_t PID, const UnicodeString& ExeFileName);
  // True when at least one process matched and every one of them was ended.
  static bool KillProcess(const UnicodeString& ExeFileName);
  static bool KillProcess(uint32_t ProcessHandle);
  static uint32_t GetProcessMemoryUsage(uint32_t ProcessId);
  static bool RemoteCloseApplication(const UnicodeString& WindowCaption);

  static uint32_t GetServiceStatus(const UnicodeString& Machine, const UnicodeString& Service);
  static bool StartService(const UnicodeString& Service);
  static bool StopService(const UnicodeString& Service);

  // The port of the first services line for the name (any protocol): -1 without a line or for a
  // port that is no number, 0 for an empty one. Raises EInOutError when the file cannot be read.
  static int32_t GetServicesPort(const UnicodeString& Typ);
  static bool SetServiceSettings(const UnicodeString& Name, int32_t Port, const UnicodeString& ConnectionType,
                                 const UnicodeString& Comment);
  // Appends "Address  Host" to the hosts file (no check for an existing entry).
  static bool SetHostSettings(const UnicodeString& Address, const UnicodeString& Host);
  // Raises EInOutError when the file cannot be read.
  static bool GetHostSettings(const UnicodeString& Host, UnicodeString& Address);

  static UnicodeString EditUDLFile(const UnicodeString& FileName, bool Temp);
  static UnicodeString EditConnectionString(const UnicodeString& ConnectionString);

  static bool SystemShutDown(bool QuickShutDown, bool Reboot, bool PowerOff, bool LogOff);
};

// Routines of the tools unit behind the class methods.
bool KillProcessByName(const AnsiString& ExeFileName);
bool KillProcessByHandle(uint32_t ProcessHandle);
bool RemoteCloseApplication(const AnsiString& WindowCaption);
int32_t GetServicesPort(const AnsiString& Typ);
