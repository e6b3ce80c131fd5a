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
//
// The service log (qzConsoleToolsLog.cpp). Log formats an entry into one line, keeps the line in
// the last-500 lists (fixed rings) and queues a record; a writer thread takes the queue every
// 100 ms (at once again while it finds more queued) and sends each record to the daily log file
// (large buffered writes), to a syslog server (UDP, RFC 3164, datagrams in batches of sendmmsg),
// as an SNMPv1 trap and to the console (ANSI colours when standard output is a terminal). Log does
// no I/O: it formats everything on the caller's thread (also the file's UTF-8 line) and holds the
// queue lock only to move the ready record in.
//   * Log files are UTF-8 (no byte-order mark), one line per entry ending in CR LF:
//     <LogFile>-yyyymmdd.txt, continued in <LogFile>-yyyymmdd-1.txt, -2, ... once a file has
//     reached 100 MiB (tested at the writer's first pass and then every 1000 records).
//   * The queue is bounded (MaxQueueSize records, default 100000). A full queue while the writer
//     works through its backlog makes Log wait until the writer takes the queue, at most one
//     second per call. When the writer stalls (one pass without progress for 200 ms, e.g. on a
//     blocked file) nobody waits: the oldest queued debug or trace record is dropped, and only
//     when none is queued the oldest record of any kind; drops are counted (DroppedCount) and
//     reported as one warning line once the writer has taken the queue again.
//   * Every field that the writer thread reads while callers may change it is atomic or locked
//     (TqzLockedValue); the counters are atomic, and the "today" counters are reset by exactly
//     one thread after local midnight. Log leaves Message alone (callers on other threads own it).
//   * ParseLogFile skips the lines it cannot read and counts them in ParseSkippedLines, so one
//     broken line never makes a file unreadable.
//   * SNMP traps need SNMPServer and SNMPPort: with an empty server or port 0 nothing is sent.
//
// The document log (qzConsoleToolsDocLog.cpp) writes rows into "qz_log" and "qz_meta" on the
// caller's thread; the metadata of one document is replaced in one transaction.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StringList.h"
#include "SysUtils.h"
#include "Text.h"
#include "Variant.h"
#include "qzClassFactory.h"
#include "qzTypes.h"

namespace platform {
class DbConnection;
}

// A value that one thread may set while another reads it.
template <class T>
class TqzLockedValue {
 public:
  TqzLockedValue() = default;
  TqzLockedValue(T v) : value_(std::move(v)) {}
  TqzLockedValue& operator=(T v) {
    std::lock_guard lock(mutex_);
    value_ = std::move(v);
    return *this;
  }
  TqzLockedValue(const TqzLockedValue&) = delete;
  TqzLockedValue& operator=(const TqzLockedValue&) = delete;
  T Get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  operator T() const { return Get(); }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

// One queued log entry.
struct TqzLogRecord {
  TDateTime TimeStamp = 0;  // local, or UTC in GMT mode
  UnicodeString Address;
  TqzLogInfoType LogInfoType = qzLog_Unknown;
  UnicodeString LogType;  // the type word as written in the line
  UnicodeString Text;
  UnicodeString DocId;
  UnicodeString StackId;
  UnicodeString User;
  UnicodeString Application;
  TqzMetaData MetaData;
};

class TqzConsoleTools {
 public:
  // Starts the log's writer thread. GMTDateTime: time stamps in UTC instead of local time.
  explicit TqzConsoleTools(bool GMTDateTime = false);
  // Stops the writer after it has written everything queued.
  virtual ~TqzConsoleTools();
  TqzConsoleTools(const TqzConsoleTools&) = delete;
  TqzConsoleTools& operator=(const TqzConsoleTools&) = delete;

  // ---- Fields -------------------------------------------------------------------------------
  UnicodeString Message;               // text of the last error
  UnicodeString DefaultStartParamIni;  // optional ini file with default start parameters
  TqzLockedValue<UnicodeString> ServerName;  // display name (console title, SNMP traps)
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

  // ---- Service log: fields ------------------------------------------------------------------
  AnsiString Version = "4.4.0";
  std::atomic<uint32_t> isysErrors{0}, isysWarnings{0}, isysCriticals{0};
  std::atomic<uint32_t> isysErrorsToday{0}, isysWarningsToday{0}, isysCriticalsToday{0};
  std::atomic<int32_t> LogLevel{4};  // 0 nothing ... 5 everything
  std::atomic<uint64_t> LogCount{0};  // calls of Log
  std::atomic<uint64_t> DocLogCount{0};  // rows written into qz_log by this object
  TqzLockedValue<UnicodeString> LogFile;  // stem of the log file names (folder + name)
  // Sets LogFile and takes up the numbering of today's files under the new stem.
  void SetLogFile(const UnicodeString& Stem);
  std::atomic<bool> LogToFile{true};
  TqzLockedValue<UnicodeString> ActiveLogFile;  // full name of the file being written
  std::atomic<int32_t> LogFileNumber{0};
  std::atomic<TDateTime> LogFileDate{0};
  std::atomic<int32_t> MaxIntLog{500};
  std::atomic<int32_t> MaxQueueSize{100000};
  std::atomic<uint64_t> DroppedCount{0};  // records dropped because the queue was full
  std::atomic<bool> AsService{false};  // true: no console output
  AnsiString InstanceToken;
  TqzLockedValue<UnicodeString> ServerTechName;
  UnicodeString MutexName;
  TDateTime StartDate = 0;
  std::atomic<TDateTime> CheckDate{0};
  std::atomic<bool> SysLogActive{false};
  TqzLockedValue<UnicodeString> SysLogServer{u"localhost"};
  std::atomic<int32_t> SysLogPort{514};
  std::atomic<TIdSyslogFacility> SysLogFacility{sfLocalUseZero};
  std::atomic<int32_t> SysLogLevel{2};
  std::atomic<uint32_t> SysLogTimeOut{2000};
  std::atomic<bool> SNMPActive{false};
  TqzLockedValue<UnicodeString> SNMPServer;
  std::atomic<int32_t> SNMPPort{0};
  uint32_t ParseSkippedLines = 0;  // lines the last ParseLogFile could not read

  // ---- Document log: fields -----------------------------------------------------------------
  std::atomic<bool> WriteDocLogDatabase{true};
  std::atomic<bool> WriteDocMetaDatabase{false};
  std::atomic<int32_t> DocLogRetention{30};  // days; 0 keeps every row
  std::atomic<int32_t> DocLogLevel{4};
  // The upper-cased "META_" columns of qz_log found by the last row written.
  std::vector<UnicodeString> DocLogMetaFields() const;
  // The connection of the document log (the installation's, taken at construction).
  void SetDocLogConnectionString(const UnicodeString& ConnectionString);

  // ---- Service log: lines -------------------------------------------------------------------
  // The line: "dd.mm.yy hh:nn:ss-zzz" (":" the process's time separator), blank, the address
  // padded with blanks to 15 (with ShortenIPV6Address an address over 15 characters becomes its
  // first 12 + "..."), blank, the type cut to 10 and padded with dots to 10, ": ", the message
  // with CR LF and LF written as blanks.
  static UnicodeString CreateLogTextW(const UnicodeString& Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                      const UnicodeString& Address, bool ShortenIPV6Address);
  static UnicodeString CreateLogTextW(TqzLogInfoType Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                      const UnicodeString& Address, bool ShortenIPV6Address);
  // The same line as 8-bit text: type and message in UTF-8, the rest in the ANSI code page.
  static AnsiString CreateLogText(const UnicodeString& Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                  const UnicodeString& Address, bool ShortenIPV6Address);
  static AnsiString CreateLogText(TqzLogInfoType Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                  const UnicodeString& Address, bool ShortenIPV6Address);
  static UnicodeString GetLogTypeText(TqzLogInfoType Typ);
  static TqzLogInfoType GetLogTypeFromText(const UnicodeString& Typ);
  // Level filter: 5 and more lets everything pass; otherwise a type passes from its minimum
  // (error, critical 1; warning, note 2; debug, blob, meta, subject, unknown 4; trace 5; others 3).
  static bool IsLogTypeEnabled(int32_t Level, TqzLogInfoType Typ);

  // ---- Service log: logging -----------------------------------------------------------------
  // The line (address not shortened), or empty when LogLevel filters the entry out. A time stamp
  // of 0 means now. Errors that name an access violation become critical entries.
  UnicodeString Log(const UnicodeString& Typ, const UnicodeString& Msg, const UnicodeString& Address = u"",
                    TDateTime TimeStamp = 0, TqzLogOriginType Origin = qzLOT_System);
  UnicodeString Log(TqzLogInfoType Typ, const UnicodeString& Msg, const UnicodeString& Address = u"",
                    TDateTime TimeStamp = 0, TqzLogOriginType Origin = qzLOT_System);
  static TqzLogInfoType SelectLogType(bool Selection, TqzLogInfoType LogTypeTrue, TqzLogInfoType LogTypeFalse);
  // The last MaxIntLog lines of all entries / of error and critical entries, oldest first.
  void GetIntLog(TStrings& Lines) const;
  void GetIntErrorLog(TStrings& Lines) const;
  bool ClearIntLog();
  // Records queued and not yet taken by the writer.
  size_t QueuedRecordCount() const;
  // Waits (at most TimeoutMs) until the writer has handled every record queued before the call.
  bool WaitForWriter(uint32_t TimeoutMs);
  // Callbacks for other parts: a status line ("status") and a typed line about this machine.
  void WStringStatusCallbackProc(const UnicodeString& CurNode);
  void WStringLogCallbackProc(const UnicodeString& Typ, const UnicodeString& Msg);

  // ---- Service log: parsing -----------------------------------------------------------------
  // One line of either layout (see the .cpp); EConvertError when its time is no time (also a
  // time text shorter than "hh:nn:ss-zzz").
  static TqzLogRecord ParseLogLine(const AnsiString& Line);
  static TqzLogRecord ParseLogLineW(const UnicodeString& Line);
  // The same; Complete tells whether the line had its ":" after the type (a cut line has not).
  static TqzLogRecord ParseLogLineW(const UnicodeString& Line, bool& Complete);
  // Adds the messages of the file's entries that LogLevel lets pass (error, critical 1; warning 2;
  // debug 4; trace 5; others 3) to LogList, at most MaxRecords (0: all). False when the file does
  // not exist. Lines that cannot be read are skipped and counted in ParseSkippedLines.
  bool ParseLogFile(const UnicodeString& LogFile, TStrings& LogList, int32_t MaxRecords, int32_t LogLevel);
  static int32_t ParseLogFileMinimum(TqzLogInfoType Typ);

  // ---- Service log: counters ----------------------------------------------------------------
  uint32_t SysErrors();
  uint32_t SysWarnings();
  uint32_t SysCriticals();
  uint32_t SysErrorsToday();
  uint32_t SysWarningsToday();
  uint32_t SysCriticalsToday();
  // Resets the "today" counters after a change of the local date; true when it did.
  bool CheckErrWarnReset();
  // Whole seconds since StartDate, at least 1.
  uint32_t GetServiceUpTime();

  // ---- Document log -------------------------------------------------------------------------
  // Writes one row into qz_log (when DocLogCreate is on) and, when DocMetaCreate is on, the
  // document's metadata into qz_meta (create: added; modify: replaced in one transaction;
  // delete: removed). True only when a qz_log row was written; every error gives false.
  bool DocLog(const UnicodeString& LogTypeStr, const UnicodeString& Msg, TIdType& DocId, TIdType& StackId,
              const UnicodeString& Address, const UnicodeString& User, const UnicodeString& Application,
              const TqzMetaData& MetaData, TqzLogInfoType LogType);
  // Filtered by DocLogLevel first (true without writing when filtered out).
  bool DocLog(TqzLogInfoType LogType, const UnicodeString& Msg, TIdType& DocId, TIdType& StackId,
              const UnicodeString& Address, const UnicodeString& User, const UnicodeString& Application,
              const TqzMetaData& MetaData);

  // The console line of a record: cut to 146 + "..." above 149 characters, CR LF added, wrapped
  // in the ANSI colour of its type when Colours is set.
  static AnsiString ConsoleLine(TqzLogInfoType Typ, const UnicodeString& Line, bool Colours);
  // The syslog severity of a type (critical 2, error 3, warning 4, note 5, debug 7, others 6).
  static int32_t SysLogSeverityOf(TqzLogInfoType Typ);

  // The writer thread.
  class TqzLogThread;

 private:
  friend class TqzLogThread;
  TDateTime CurrentTime() const;
  UnicodeString GetActiveLogFileName(TDateTime Now) const;
  int32_t FindLastLogFileNumber() const;
  // A queued entry, made ready for the writer by the caller's thread.
  struct QueuedEntry {
    TDateTime TimeStamp = 0;
    TqzLogInfoType LogInfoType = qzLog_Unknown;
    std::string FileLine;  // the line of the log file, UTF-8, without CR LF
    std::string Text;      // the message, UTF-8 (syslog, SNMP)
  };
  using EntryList = std::list<QueuedEntry>;
  // The last lines of the log in a fixed ring: a new line takes the oldest one's slot, nothing
  // shifts. Guarded by LogLock.
  class LineRing {
   public:
    // Keeps Line as the newest of at most Limit lines; Line gets back the line that had to go
    // (or an empty text), so that the caller frees it after releasing the lock.
    void Add(UnicodeString& Line, std::size_t Limit);
    void CopyTo(TStrings& Lines) const;  // oldest first
    void Clear();

   private:
    void Resize(std::size_t Limit);
    std::vector<UnicodeString> slots_;
    std::size_t first_ = 0, count_ = 0;
  };
  // Holding LogLock: moves the one entry of Node into the queue; entries dropped for it go to
  // Dropped (freed by the caller after releasing the lock).
  void Enqueue(EntryList& Node, EntryList& Dropped);
  void WaitForRoom(std::unique_lock<std::mutex>& Lock);
  // Moves the queue into Entries; the number dropped since the last call goes to Dropped.
  void TakeQueuedRecords(EntryList& Entries, uint64_t& Dropped);
  bool CheckErrWarnResetOn(TDateTime Today);
  void LoadDocLogSettings();
  platform::DbConnection& DocLogConnection();
  bool DocLogWrite(const UnicodeString& LogTypeStr, const UnicodeString& Msg, const TIdType& DocId,
                   const TIdType& StackId, const UnicodeString& Address, const UnicodeString& User,
                   const UnicodeString& Application, const TqzMetaData& MetaData, TqzLogInfoType LogType);
  void WriteDocMeta(const UnicodeString& DocId, const TqzMetaData& MetaData, TqzLogInfoType LogType);

  mutable std::mutex LogLock;  // guards the queue and the two line lists
  int StdOutputHandle = 1;
  UnicodeString ConnectionString;
  bool UseGMTDateTime = false;
  LineRing IntLog, IntErrorLog;
  EntryList LogQueue;
  std::deque<EntryList::iterator> lowPriority_;  // queued debug/trace entries, oldest first
  uint64_t droppedSinceTake_ = 0;
  uint64_t queuedTotal_ = 0;          // records queued (LogLock)
  uint64_t handledTotal_ = 0;         // records taken and handled by the writer (LogLock)
  std::condition_variable handled_;   // signalled after each pass of the writer
  std::condition_variable room_;      // signalled when the writer has taken the queue
  std::atomic<int64_t> writerBeat_{0};    // steady ms of the writer's last progress
  std::atomic<bool> writerBusy_{false};   // the writer is inside a pass
  std::atomic<bool> writerRunning_{true};
  mutable std::mutex docLogLock_;
  std::vector<UnicodeString> docLogMetaFields_;
  std::unique_ptr<platform::DbConnection> docLogConnection_;
  std::unique_ptr<TqzLogThread> LogThread;
};
