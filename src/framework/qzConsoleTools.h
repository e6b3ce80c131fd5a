// TqzConsoleTools: start parameters, the console and named mutexes of a program built on the
// library. The service log adds its own fields and operations to this class.
//
// Start parameters are command-line arguments written as a prefix, a name, a separator and a
// value ("--instanceid=2"): the name is matched ignoring case (UpperCaseStr of both sides), the
// prefix as the caller gives it, and the value is everything after the first separator. An
// argument without the separator never matches.
//
// The command line. The process's arguments are read once from /proc/self/cmdline; they arrive
// split by the program that started us (a shell has removed its quotes), so no further quote
// handling is done. Argument 0 is the full file name of the running executable
// (/proc/self/exe). Tests (and hosts that start us in-process) replace the whole list with
// SetCommandLine, whose first element stands for the executable's full file name, and go back
// to the process's own list with ResetCommandLine.
//
// The console. KeyPressed reads one pending key from a terminal on standard input (nothing is
// read from pipes or files: without a terminal no key is ever pressed). ClsConsole and
// SetConsoleTitle write ANSI sequences when standard output is a terminal; otherwise the screen
// is left alone and the title is written as one plain line. The console settings are kept in
// the user hive under "Console\" + the executable's full path with every "/" and "\" written as
// "_"; terminals here do not read them, but programs of the product family do.
//
// Named mutexes are flock locks on lock files (src/platform/NamedMutex.h); a name registered by
// a process stays taken until it is closed or the process ends. Ownership is the process's.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "StringList.h"
#include "Text.h"
#include "Variant.h"

class TqzConsoleTools {
 public:
  TqzConsoleTools() = default;
  virtual ~TqzConsoleTools() = default;

  // ---- Fields -------------------------------------------------------------------------------
  UnicodeString Message;               // text of the last error
  UnicodeString DefaultStartParamIni;  // optional ini file with default start parameters
  UnicodeString ServerName;            // display name (console title)
  int32_t InstanceId = 0;

  // ---- The command line ---------------------------------------------------------------------
  // Replaces the process's argument list (Args[0]: the executable's full file name).
  static void SetCommandLine(std::vector<UnicodeString> Args);
  // Goes back to the process's own arguments.
  static void ResetCommandLine();
  // The number of arguments after the program.
  static int32_t ParamCount();
  // Argument Index: 0 the executable's full file name, 1 the first argument; empty beyond the
  // last one (and for a negative index).
  static UnicodeString ParamStrW(int32_t Index);

  // ---- Start parameters ---------------------------------------------------------------------
  // The value text of the first match (a UTF-16 text Variant), Default when there is none.
  static Variant GetStartParam(const UnicodeString& Name, const Variant& Default, const AnsiString& Prefix);
  // The value of the first match converted by the storage-text conversion to ResultType (1: to
  // the type of Default); Default when there is no match.
  static Variant GetStartParamEx(const UnicodeString& Name, const Variant& Default, const AnsiString& Prefix,
                                 uint16_t ResultType);
  // Every matching value in order; the list is cleared first (and created when Values holds
  // none). Always true.
  static bool GetStartParams(const UnicodeString& Name, TStrings& Values, const AnsiString& Prefix);
  static bool GetStartParams(const UnicodeString& Name, std::unique_ptr<TStringList>& Values,
                             const AnsiString& Prefix);
  // True only for exactly one argument that is "/?", "-?" or "--?".
  static bool GetHelpStartParamState();
  // Each element as "\"" + Prefix + element + "\"", separated by one blank.
  static UnicodeString BuildParamString(const std::vector<UnicodeString>& Params, const AnsiString& Prefix);
  // Arguments 0 to the last, separated by one blank.
  static UnicodeString GetOwnCommandLine();

  // The value of the first match with this separator, converted to the type of Default. Without
  // a match, the key Name of the section "Parameters" of DefaultStartParamIni when that file
  // exists (integer types as integers, Booleans as integers where non-zero is true or as the
  // words true/false, anything else as text), else Default. Clears Message first; an error goes
  // to Message and leaves the result as it was.
  Variant GetStartParameter(const UnicodeString& Name, const Variant& Default, const AnsiString& ParamPrefix,
                            const AnsiString& ParamValueSeparator);
  // As GetStartParams; an error ends the scan and keeps the values collected so far.
  bool GetStartParameters(const UnicodeString& Name, std::unique_ptr<TStringList>& Values, const AnsiString& Prefix);

  // ---- Console ------------------------------------------------------------------------------
  // True when a key was waiting on the terminal of standard input (the key is consumed).
  static bool KeyPressed();
  // Sleeps in steps of 500 ms, testing KeyPressed after each, until a key comes or (WaitSeconds
  // above 0) more than WaitSeconds have passed. True when a key was pressed, false on time-out.
  // Without a limit it waits for a key, but returns false at once when standard input is no
  // terminal, or one whose foreground job is not ours (no key can ever come).
  static bool WaitForKeypressed(int32_t WaitSeconds);
  // Clears the terminal's screen and scroll-back and puts the cursor at the top left corner.
  static bool ClsConsole();
  // Writes the console defaults of this executable into the user hive. False on any error.
  bool RegisterConsoleSettings();
  // Sets the title to ServerName, with " (instance id " + InstanceId + ")" when InstanceId > 0.
  // Control characters are left out of the title.
  bool SetConsoleTitle();

  // ---- Named mutexes (every error gives false) -----------------------------------------------
  // True when some process holds the name.
  bool IsMutexActive(const UnicodeString& MutexName);
  // True when the name is free, or becomes free within Wait milliseconds (negative: without
  // limit), or this process holds it; false on time-out. The name is never kept by the wait.
  bool WaitForMutex(const UnicodeString& MutexName, int32_t Wait);
  // Takes the name for the rest of the process's life; false when it is held already.
  bool RegisterMutex(const UnicodeString& MutexName);
  // True when the name exists: released when this process holds it (a name held by another
  // process stays held); false when nobody holds it.
  bool CloseMutex(const UnicodeString& MutexName);
};
