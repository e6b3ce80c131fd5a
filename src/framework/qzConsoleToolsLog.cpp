// TqzConsoleTools: the service log (lines, the queue, the writer thread, files, syslog, SNMP
// traps, console output, parsing, counters). See qzConsoleTools.h for the behaviour.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>

#include "Clock.h"
#include "CodePage.h"
#include "Database.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "SnmpTrap.h"
#include "Syslog.h"
#include "qzConsoleTools.h"
#include "qzConversion.h"
#include "qzDateTime.h"
#include "qzFiles.h"
#include "qzKesta.h"
#include "qzToolsEvo2.h"

namespace {

constexpr int64_t kContinueSize = 104857600;  // 100 MiB: the next file number starts
constexpr const char* kEnterpriseOid = "1.3.6.1.4.1.32473";
// A full queue makes Log wait for the writer while it works, at most this long per call ...
constexpr int64_t kRoomWaitMs = 1000;
// ... and not at all once the writer has been inside one pass without progress for this long.
constexpr int64_t kStallMs = 200;

// Takes the queue lock, trying a little while before sleeping: it is held only to move a ready
// entry in, so a caller that finds it taken nearly always gets it sooner this way than after a
// sleep and a wake-up (which is what makes a call slow when many threads log at once).
void LockBriefly(std::mutex& m) {
  for (int i = 0; i < 100; ++i) {
    if (m.try_lock()) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  m.lock();
}

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Local time now, as platform::Now() gives it; the time zone is asked once per second and thread
// (it takes the C library's time zone lock).
TDateTime LocalNow() {
  const int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(platform::ClockNow().time_since_epoch()).count();
  const int64_t second = ms >= 0 ? ms / 1000 : -((999 - ms) / 1000);
  thread_local int64_t cachedSecond = INT64_MIN;
  thread_local int64_t days = 0;
  thread_local int32_t msOfDay = 0;
  if (second != cachedSecond) {
    platform::SplitDateTime(platform::UnixMsToLocalDateTime(second * 1000), days, msOfDay);
    cachedSecond = second;
  }
  return platform::CombineDateTime(days, msOfDay + static_cast<int32_t>(ms - second * 1000));
}

void AppendDigits(UnicodeString& out, int64_t value, int width) {
  char16_t buffer[20];
  int n = 0;
  uint64_t v = value < 0 ? 0 : static_cast<uint64_t>(value);
  do {
    buffer[n++] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v > 0 && n < 20);
  for (int i = n; i < width; ++i) out.push_back(u'0');
  while (n > 0) out.push_back(buffer[--n]);
}

// Appends "dd.mm.yy hh:nn:ss-zzz" with the process's time separator.
void AppendStamp(UnicodeString& out, TDateTime stamp) {
  int64_t days = 0;
  int32_t ms = 0;
  platform::SplitDateTime(stamp, days, ms);
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(static_cast<TDateTime>(days), year, month, day);
  const char16_t sep = platform::CurrentTimeSeparator();
  AppendDigits(out, day, 2);
  out.push_back(u'.');
  AppendDigits(out, month, 2);
  out.push_back(u'.');
  AppendDigits(out, year % 100, 2);
  out.push_back(u' ');
  AppendDigits(out, ms / 3600000, 2);
  out.push_back(sep);
  AppendDigits(out, ms / 60000 % 60, 2);
  out.push_back(sep);
  AppendDigits(out, ms / 1000 % 60, 2);
  out.push_back(u'-');
  AppendDigits(out, ms % 1000, 3);
}

UnicodeString StampText(TDateTime stamp) {
  UnicodeString out;
  out.reserve(21);
  AppendStamp(out, stamp);
  return out;
}

// Appends the message with CR LF and LF as one blank each (a lone CR stays).
void AppendOneLine(UnicodeString& out, const UnicodeString& msg) {
  for (std::size_t i = 0; i < msg.size(); ++i) {
    if (msg[i] == u'\r' && i + 1 < msg.size() && msg[i + 1] == u'\n') {
      out.push_back(u' ');
      ++i;
    } else {
      out.push_back(msg[i] == u'\n' ? u' ' : msg[i]);
    }
  }
}

UnicodeString OneLine(const UnicodeString& msg) {
  UnicodeString out;
  out.reserve(msg.size());
  AppendOneLine(out, msg);
  return out;
}

UnicodeString LineAddress(const UnicodeString& address, bool shorten) {
  if (shorten && address.size() > 15) return address.substr(0, 12) + u"...";
  return address;
}

bool IsLowPriority(TqzLogInfoType t) { return t == qzLog_Debug || t == qzLog_Trace; }

// Writes everything, retrying partial writes; false with errno set on failure.
bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void StdOut(const std::string& text) { WriteAll(STDOUT_FILENO, text + "\r\n"); }

int AnsiColourOf(TqzLogInfoType t) {
  int attribute = 15;
  switch (t) {
    case qzLog_Info: attribute = 3; break;
    case qzLog_Error: attribute = 12; break;
    case qzLog_Warning: attribute = 14; break;
    case qzLog_Success: attribute = 10; break;
    case qzLog_Debug: attribute = 7; break;
    case qzLog_Trace: attribute = 8; break;
    case qzLog_Critical: attribute = 4; break;
    default: break;
  }
  // Console attribute bits: 1 blue, 2 green, 4 red, 8 bright; ANSI colours: 1 red, 2 green, 4 blue.
  const int index = ((attribute & 4) ? 1 : 0) | ((attribute & 2) ? 2 : 0) | ((attribute & 1) ? 4 : 0);
  return ((attribute & 8) ? 90 : 30) + index;
}

TDateTime Today() { return std::floor(platform::Now()); }

// The parts of a line of either layout, in the line's own text type.
template <class S>
struct LineParts {
  S date, time, address, type, message;
  bool oldLayout = false;
  bool complete = false;  // the ":" after the type was found
};

template <class S>
S Cut(S& rest, typename S::value_type sep) {
  const auto p = rest.find(sep);
  S head = rest.substr(0, p);
  rest.erase(0, p == S::npos ? rest.size() : p + 1);
  return head;
}

template <class S>
LineParts<S> SplitLine(const S& line) {
  using C = typename S::value_type;
  LineParts<S> parts;
  const auto lt = line.find(C('<'));
  if (lt == S::npos || lt + 1 >= 30) {
    S rest = line;
    parts.date = Cut(rest, C(' '));
    parts.time = Cut(rest, C(' '));
    parts.address = Cut(rest, C(' '));
    const auto colon = rest.find(C(':'));
    S type = rest.substr(0, colon);
    std::erase(type, C('.'));
    parts.type = platform::Trim(type);
    parts.complete = colon != S::npos;
    if (colon != S::npos && colon + 2 <= rest.size()) parts.message = platform::Trim(rest.substr(colon + 2));
  } else {
    parts.oldLayout = true;
    S rest = line;
    parts.date = Cut(rest, C(' '));
    parts.time = Cut(rest, C(' '));
    const auto gt = line.find(C('>'), lt);
    parts.address = line.substr(lt + 1, gt == S::npos ? S::npos : gt - lt - 1);
    rest = gt == S::npos || gt + 2 > line.size() ? S() : line.substr(gt + 2);
    const auto dot = rest.find(C('.'));
    parts.type = rest.substr(0, dot);
    const auto colon = rest.find(C(':'), dot == S::npos ? rest.size() : dot);
    parts.complete = gt != S::npos && colon != S::npos;
    if (colon != S::npos && colon + 2 <= rest.size()) parts.message = platform::Trim(rest.substr(colon + 2));
  }
  return parts;
}

// The time text is "hh:nn:ss-zzz"; a shorter one (a cut line) is no time.
TqzLogRecord RecordOf(const UnicodeString& date, const UnicodeString& time, bool oldLayout) {
  if (time.size() < 12) throw EConvertError(u"'" + time + u"' is not a valid log time");
  TqzLogRecord r;
  const TDateTime day = TqzDateTime::StrToDateExt(
      date, std::vector<UnicodeString>{oldLayout ? u"dd.mm.yyyy" : u"dd.mm.yy"}, 0.0);
  auto field = [&](std::size_t pos, std::size_t len) {
    return static_cast<int>(TqzConversion::StrToInt(pos < time.size() ? time.substr(pos, len) : UnicodeString(), -1));
  };
  const TDateTime t = platform::EncodeTime(field(0, 2), field(3, 2), field(6, 2), field(9, 3));
  r.TimeStamp = day + t;
  return r;
}

}  // namespace

// ---- The writer thread -------------------------------------------------------------------------

class TqzConsoleTools::TqzLogThread {
 public:
  explicit TqzLogThread(TqzConsoleTools* owner) : FOwner(owner) {}
  ~TqzLogThread() { Stop(); }

  void Start() { thread_ = std::thread([this] { Execute(); }); }
  // Ends the writer's wait between passes (never called holding LogLock).
  void Wake() {
    {
      std::lock_guard lock(mutex_);
      wakeRequested_ = true;
    }
    wake_.notify_one();
  }
  // Asks the thread to stop and waits for it; it writes what is still queued first.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  uint64_t FLogCount = 0;  // records written since the thread started (writer thread only)

 private:
  // A pass every 100 ms; while a pass finds more queued behind it, the next one starts at once,
  // and a caller waiting for room in a full queue ends the wait early (Wake). The wait is bounded
  // whatever happens, and the writer never holds mutex_ while it takes LogLock.
  void Execute() {
    for (;;) {
      const bool busy = FlushLogQueue() && FOwner->QueuedRecordCount() > 0;
      std::unique_lock lock(mutex_);
      if (!busy) wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_ || wakeRequested_; });
      wakeRequested_ = false;
      if (stop_) break;
    }
    FlushLogQueue();
    FOwner->writerRunning_ = false;
  }

  // One pass: takes the queue and writes it; false when there was nothing to write.
  bool FlushLogQueue();
  void WriteSysLog(const EntryList& entries);
  void WriteTrap(const QueuedEntry& r);

  TqzConsoleTools* FOwner;
  platform::SyslogClient FSysLogClient;
  platform::SnmpTrapSender FSnmpClient;
  std::vector<platform::SyslogClient::Message> syslogBatch_;
  uint64_t lastBlock_ = UINT64_MAX;  // FLogCount / 1000 at the last size test
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool wakeRequested_ = false;
};

bool TqzConsoleTools::TqzLogThread::FlushLogQueue() {
  TqzConsoleTools& o = *FOwner;
  EntryList records;
  uint64_t dropped = 0;
  o.writerBeat_ = SteadyMs();
  o.writerBusy_ = true;
  struct Idle {
    TqzConsoleTools& o;
    ~Idle() { o.writerBusy_ = false; }
  } idle{o};
  o.TakeQueuedRecords(records, dropped);
  o.room_.notify_all();
  if (records.empty() && dropped == 0) return false;
  const std::size_t taken = records.size();
  if (dropped > 0) {
    QueuedEntry note;
    note.TimeStamp = o.CurrentTime();
    note.LogInfoType = qzLog_Warning;
    note.Text = std::to_string(dropped) + " log entries were dropped because the log queue was full";
    note.FileLine = platform::WideToUtf8(CreateLogTextW(qzLog_Warning, platform::Utf8ToWide(note.Text),
                                                        note.TimeStamp, UnicodeString(), true));
    records.push_front(std::move(note));
  }

  const bool toFile = o.LogToFile.load();
  const TDateTime today = Today();
  const UnicodeString stem = o.LogFile.Get();
  // The size and folder tests run at the first pass and whenever the count has passed another
  // thousand records since the last test.
  const bool blockStart = FLogCount == 0 || FLogCount / 1000 != lastBlock_;
  if (FLogCount == 0) o.LogFileNumber = o.FindLastLogFileNumber();
  if (toFile && (blockStart || today != o.LogFileDate.load())) TqzFiles::CreatePath(stem, true);
  if (today != o.LogFileDate.load()) {
    o.LogFileDate = today;
    o.LogFileNumber = 0;
  }
  UnicodeString active = o.GetActiveLogFileName(o.CurrentTime());
  if (blockStart) {
    lastBlock_ = FLogCount / 1000;
    if (toFile && TqzFiles::GetSizeOfFile(active) >= kContinueSize) {
      ++o.LogFileNumber;
      o.LogFileDate = today;
      active = o.GetActiveLogFileName(o.CurrentTime());
    }
  }
  o.ActiveLogFile = active;

  int fd = -1;
  if (toFile) {
    const std::string path = platform::WideToUtf8(active);
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      TqzFiles::CreatePath(active, true);
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0) StdOut("rewrite file exception (" + std::to_string(errno) + ")");
    } else if (fd < 0) {
      StdOut("could not append file for write operation (" + std::to_string(errno) + ")");
    }
  }

  // The file in large writes.
  if (fd >= 0) {
    constexpr std::size_t kWriteSize = 1u << 20;
    std::string fileBuffer;
    fileBuffer.reserve(kWriteSize + 4096);
    bool writeFailed = false;
    auto flushFile = [&] {
      if (!fileBuffer.empty() && !writeFailed && !WriteAll(fd, fileBuffer)) {
        writeFailed = true;
        StdOut(std::string("EXCEPTION: writing logfile exception (") + std::strerror(errno) + ")");
      }
      fileBuffer.clear();
      o.writerBeat_ = SteadyMs();
    };
    for (const QueuedEntry& r : records) {
      fileBuffer += r.FileLine;
      fileBuffer += "\r\n";
      if (fileBuffer.size() >= kWriteSize) flushFile();
    }
    flushFile();
    if (::close(fd) != 0) StdOut("EXCEPTION: closefile exception (ioresult " + std::to_string(errno) + ")");
  }
  FLogCount += records.size();

  if (o.SysLogActive.load()) WriteSysLog(records);
  if (o.SNMPActive.load())
    for (const QueuedEntry& r : records)
      if (r.LogInfoType == qzLog_Error || r.LogInfoType == qzLog_Warning || r.LogInfoType == qzLog_Critical)
        WriteTrap(r);

  if (!o.AsService.load()) {
    const bool colours = ::isatty(o.StdOutputHandle) == 1;
    const int32_t level = o.LogLevel.load();
    std::string consoleBuffer;
    for (const QueuedEntry& r : records)
      if (!(r.LogInfoType == qzLog_Debug && level <= 3) && !(r.LogInfoType == qzLog_Trace && level <= 4))
        consoleBuffer += ConsoleLine(r.LogInfoType, platform::Utf8ToWide(r.FileLine), colours);
    if (!consoleBuffer.empty()) WriteAll(o.StdOutputHandle, consoleBuffer);
  }

  {
    std::lock_guard lock(o.LogLock);
    o.handledTotal_ += taken + dropped;
  }
  o.handled_.notify_all();
  return true;
}

// The entries that pass the syslog level go out in batches of datagrams.
void TqzConsoleTools::TqzLogThread::WriteSysLog(const EntryList& entries) {
  TqzConsoleTools& o = *FOwner;
  constexpr std::size_t kBatch = 1024;
  const int32_t level = o.SysLogLevel.load();
  const int facility = o.SysLogFacility.load();
  const bool gmt = o.UseGMTDateTime;
  std::string tag;
  try {
    FSysLogClient.Host = platform::WideToUtf8(o.SysLogServer.Get());
    FSysLogClient.Port = o.SysLogPort.load();
    FSysLogClient.ReceiveTimeOut = o.SysLogTimeOut.load();
    tag = platform::WideToUtf8(UpperCaseStr(o.ServerTechName.Get()));
  } catch (const std::exception& e) {
    StdOut(std::string("EXCEPTION: could not contact syslog server (") + e.what() + ")");
    return;
  }
  auto send = [&] {
    try {
      FSysLogClient.SendBatch(facility, tag, syslogBatch_);
    } catch (const std::exception& e) {
      StdOut(std::string("EXCEPTION: could not contact syslog server (") + e.what() + ")");
    }
    syslogBatch_.clear();
    o.writerBeat_ = SteadyMs();
  };
  syslogBatch_.clear();
  for (const QueuedEntry& r : entries) {
    if (r.LogInfoType == qzLog_Trace || !IsLogTypeEnabled(level, r.LogInfoType)) continue;
    const TDateTime local =
        gmt ? platform::UnixMsToLocalDateTime(platform::UtcDateTimeToUnixMs(r.TimeStamp)) : r.TimeStamp;
    syslogBatch_.push_back({SysLogSeverityOf(r.LogInfoType), local, r.Text});
    if (syslogBatch_.size() >= kBatch) send();
  }
  if (!syslogBatch_.empty()) send();
}

void TqzConsoleTools::TqzLogThread::WriteTrap(const QueuedEntry& r) {
  TqzConsoleTools& o = *FOwner;
  const UnicodeString server = o.SNMPServer.Get();
  const int32_t port = o.SNMPPort.load();
  if (server.empty() || port <= 0) return;  // not configured
  try {
    FSnmpClient.Host = platform::WideToUtf8(server);
    FSnmpClient.Port = port;
    const double seconds = (o.CurrentTime() - o.StartDate) * 86400.0;
    const std::string oid = kEnterpriseOid;
    std::vector<platform::SnmpVarBind> binds = {
        {oid + ".0", platform::WideToUtf8(o.ServerName.Get())},
        {oid + ".1", platform::WideToUtf8(o.ServerTechName.Get())},
        {oid + ".2", platform::WideToUtf8(platform::FormatDateTime(u"yyyy-mm-dd hh:nn:ss", o.StartDate))},
        {oid + ".3", std::to_string(std::llround(std::max(0.0, seconds)))},
        {oid + ".4", platform::WideToUtf8(TqzTypes::GetLogTypeText(r.LogInfoType))},
        {oid + ".5", r.Text},
    };
    const auto ticks = static_cast<uint32_t>(static_cast<uint64_t>(std::llround(std::max(0.0, seconds) * 100.0)));
    FSnmpClient.Send(kEnterpriseOid, 6, 1, ticks, binds);
  } catch (const std::exception& e) {
    StdOut(std::string("EXCEPTION: could not contact snmp server (") + e.what() + ")");
  }
  o.writerBeat_ = SteadyMs();
}

// ---- Construction ------------------------------------------------------------------------------

TqzConsoleTools::TqzConsoleTools(bool GMTDateTime) : UseGMTDateTime(GMTDateTime) {
  ConnectionString = TqzKesta::GetConnectionString(false);
  const UnicodeString exeName = TqzFiles::ExtractPureFileName(ParamStrW(0));
  ServerName = TqzKesta::GetProgramName();
  ServerTechName = TqzKesta::GetProgramTechName();
  MutexName = exeName;
  StartDate = CurrentTime();
  CheckDate = Today();
  LogFileDate = Today();
  SetLogFile(TqzKesta::GetLogPath() + exeName);
  LogThread = std::make_unique<TqzLogThread>(this);
  LogThread->Start();
}

TqzConsoleTools::~TqzConsoleTools() {
  if (LogThread) LogThread->Stop();
}

void TqzConsoleTools::SetLogFile(const UnicodeString& Stem) {
  LogFile = Stem;
  LogFileNumber = FindLastLogFileNumber();
  ActiveLogFile = GetActiveLogFileName(CurrentTime());
}

TDateTime TqzConsoleTools::CurrentTime() const { return UseGMTDateTime ? platform::NowUTC() : LocalNow(); }

UnicodeString TqzConsoleTools::GetActiveLogFileName(TDateTime Now) const {
  UnicodeString name = LogFile.Get() + u"-" + platform::FormatDateTime(u"yyyymmdd", Now);
  const int32_t number = LogFileNumber.load();
  if (number > 0) name += u"-" + platform::IntToStr(number);
  return name + u".txt";
}

int32_t TqzConsoleTools::FindLastLogFileNumber() const {
  const UnicodeString stem = LogFile.Get() + u"-" + platform::FormatDateTime(u"yyyymmdd", CurrentTime());
  if (!TqzFiles::FileExists(stem + u".txt")) return 0;
  int32_t last = 0;
  for (int32_t n = 1; n < 1000000; ++n) {
    if (!TqzFiles::FileExists(stem + u"-" + platform::IntToStr(n) + u".txt")) break;
    last = n;
  }
  return last;
}

// ---- Lines -------------------------------------------------------------------------------------

UnicodeString TqzConsoleTools::CreateLogTextW(const UnicodeString& Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                              const UnicodeString& Address, bool ShortenIPV6Address) {
  // Built in place in one buffer (Log calls this for every entry).
  const std::size_t typeLength = std::min<std::size_t>(Typ.size(), 10);
  const bool shorten = ShortenIPV6Address && Address.size() > 15;
  const std::size_t addressLength = shorten ? 15 : Address.size();
  UnicodeString line;
  line.reserve(21 + 1 + std::max<std::size_t>(addressLength, 15) + 1 + 10 + 2 + Msg.size());
  AppendStamp(line, TimeStamp);
  line.push_back(u' ');
  if (shorten) {
    line.append(Address, 0, 12);
    line += u"...";
  } else {
    line += Address;
  }
  if (addressLength < 15) line.append(15 - addressLength, u' ');
  line.push_back(u' ');
  line.append(Typ, 0, typeLength);
  line.append(10 - typeLength, u'.');
  line += u": ";
  AppendOneLine(line, Msg);
  return line;
}

UnicodeString TqzConsoleTools::CreateLogTextW(TqzLogInfoType Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                              const UnicodeString& Address, bool ShortenIPV6Address) {
  return CreateLogTextW(GetLogTypeText(Typ), Msg, TimeStamp, Address, ShortenIPV6Address);
}

AnsiString TqzConsoleTools::CreateLogText(const UnicodeString& Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                          const UnicodeString& Address, bool ShortenIPV6Address) {
  const UnicodeString type = Typ.substr(0, 10);
  const UnicodeString address = LineAddress(Address, ShortenIPV6Address);
  AnsiString line = platform::WideToAnsi(StampText(TimeStamp));
  line.push_back(' ');
  line += platform::WideToAnsi(address);
  if (address.size() < 15) line.append(15 - address.size(), ' ');
  line.push_back(' ');
  line += platform::WideToUtf8(type);
  line.append(10 - type.size(), '.');
  line += ": ";
  line += platform::WideToUtf8(OneLine(Msg));
  return line;
}

AnsiString TqzConsoleTools::CreateLogText(TqzLogInfoType Typ, const UnicodeString& Msg, TDateTime TimeStamp,
                                          const UnicodeString& Address, bool ShortenIPV6Address) {
  return CreateLogText(GetLogTypeText(Typ), Msg, TimeStamp, Address, ShortenIPV6Address);
}

UnicodeString TqzConsoleTools::GetLogTypeText(TqzLogInfoType Typ) { return TqzTypes::GetLogTypeText(Typ); }

TqzLogInfoType TqzConsoleTools::GetLogTypeFromText(const UnicodeString& Typ) { return TqzTypes::GetLogTypeFromText(Typ); }

bool TqzConsoleTools::IsLogTypeEnabled(int32_t Level, TqzLogInfoType Typ) {
  if (Level >= 5) return true;
  int32_t minimum = 3;
  switch (Typ) {
    case qzLog_Error:
    case qzLog_Critical: minimum = 1; break;
    case qzLog_Warning:
    case qzLog_Note: minimum = 2; break;
    case qzLog_Debug:
    case qzLog_Blob:
    case qzLog_Meta:
    case qzLog_Subject:
    case qzLog_Unknown: minimum = 4; break;
    case qzLog_Trace: minimum = 5; break;
    default: break;
  }
  return Level >= minimum;
}

int32_t TqzConsoleTools::ParseLogFileMinimum(TqzLogInfoType Typ) {
  switch (Typ) {
    case qzLog_Error:
    case qzLog_Critical: return 1;
    case qzLog_Warning: return 2;
    case qzLog_Debug: return 4;
    case qzLog_Trace: return 5;
    default: return 3;
  }
}

int32_t TqzConsoleTools::SysLogSeverityOf(TqzLogInfoType Typ) {
  switch (Typ) {
    case qzLog_Critical: return 2;
    case qzLog_Error: return 3;
    case qzLog_Warning: return 4;
    case qzLog_Note: return 5;
    case qzLog_Debug: return 7;
    default: return 6;
  }
}

AnsiString TqzConsoleTools::ConsoleLine(TqzLogInfoType Typ, const UnicodeString& Line, bool Colours) {
  const UnicodeString text = Line.size() > 149 ? Line.substr(0, 146) + u"..." : Line;
  if (!Colours) return platform::WideToUtf8(text) + "\r\n";
  return "\x1b[" + std::to_string(AnsiColourOf(Typ)) + "m" + platform::WideToUtf8(text) + "\x1b[0m\r\n";
}

// ---- Logging -----------------------------------------------------------------------------------

TqzLogInfoType TqzConsoleTools::SelectLogType(bool Selection, TqzLogInfoType LogTypeTrue,
                                              TqzLogInfoType LogTypeFalse) {
  return Selection ? LogTypeTrue : LogTypeFalse;
}

UnicodeString TqzConsoleTools::Log(TqzLogInfoType Typ, const UnicodeString& Msg, const UnicodeString& Address,
                                   TDateTime TimeStamp, TqzLogOriginType Origin) {
  return Log(GetLogTypeText(Typ), Msg, Address, TimeStamp, Origin);
}

UnicodeString TqzConsoleTools::Log(const UnicodeString& Typ, const UnicodeString& Msg, const UnicodeString& Address,
                                   TDateTime TimeStamp, TqzLogOriginType /*Origin*/) {
  LogCount.fetch_add(1, std::memory_order_relaxed);
  UnicodeString word = LowerCaseStr(Typ);
  TqzLogInfoType type = GetLogTypeFromText(word);
  if (TimeStamp == 0) {
    TimeStamp = CurrentTime();
    // A local time stamp of now also gives today's date.
    if (UseGMTDateTime) CheckErrWarnReset(); else CheckErrWarnResetOn(std::floor(TimeStamp));
  } else {
    CheckErrWarnReset();
  }
  if (type == qzLog_Error) {
    const UnicodeString upper = UpperCaseStr(Msg);
    if (upper.find(u"ACCESS VIOLATION") != UnicodeString::npos ||
        upper.find(u"ZUGRIFFSVERLETZUNG") != UnicodeString::npos ||
        upper.find(u"VIOLAZIONE DI ACCESSO") != UnicodeString::npos) {
      type = qzLog_Critical;
      word = GetLogTypeText(qzLog_Critical);
    }
  }
  if (type == qzLog_Error) {
    ++isysErrors;
    ++isysErrorsToday;
  } else if (type == qzLog_Warning) {
    ++isysWarnings;
    ++isysWarningsToday;
  } else if (type == qzLog_Critical) {
    ++isysCriticals;
    ++isysCriticalsToday;
  }
  if (!IsLogTypeEnabled(LogLevel.load(), type)) return UnicodeString();

  // Everything is made ready here, on the caller's thread: the line, the file's line (long
  // addresses shortened) in UTF-8, the queue node and the copies for the last-lines lists. The
  // lock below only moves them in; what they replace is freed after it.
  UnicodeString line = CreateLogTextW(word, Msg, TimeStamp, Address, false);
  EntryList node;
  QueuedEntry& entry = node.emplace_back();
  entry.TimeStamp = TimeStamp;
  entry.LogInfoType = type;
  entry.FileLine = platform::WideToUtf8(Address.size() > 15 ? CreateLogTextW(word, Msg, TimeStamp, Address, true) : line);
  entry.Text = platform::WideToUtf8(Msg);
  const bool isError = type == qzLog_Error || type == qzLog_Critical;
  UnicodeString forAll = line, forErrors = isError ? line : UnicodeString();
  const std::size_t maxLines = static_cast<std::size_t>(std::max<int32_t>(MaxIntLog.load(), 0));
  EntryList dropped;
  {
    LockBriefly(LogLock);
    std::unique_lock lock(LogLock, std::adopt_lock);
    WaitForRoom(lock);
    Enqueue(node, dropped);
    IntLog.Add(forAll, maxLines);
    if (isError) IntErrorLog.Add(forErrors, maxLines);
  }
  return line;
}

// Holding LogLock (Lock). A full queue is the writer's backlog while it works: the caller waits
// for the writer to take the queue, at most kRoomWaitMs. A writer that has been inside one pass
// without progress for kStallMs is stalled (a blocked file, say): then nobody waits and Enqueue
// drops. An idle writer is woken first.
void TqzConsoleTools::WaitForRoom(std::unique_lock<std::mutex>& Lock) {
  auto full = [this] {
    return LogQueue.size() >= static_cast<std::size_t>(std::max<int32_t>(MaxQueueSize.load(), 1));
  };
  if (!full()) return;
  const int64_t deadline = SteadyMs() + kRoomWaitMs;
  bool woken = false;
  while (full() && writerRunning_.load()) {
    const int64_t now = SteadyMs();
    if (now >= deadline) return;
    if (writerBusy_.load()) {
      if (now - writerBeat_.load() > kStallMs) return;
    } else if (!woken) {
      Lock.unlock();
      LogThread->Wake();
      Lock.lock();
      woken = true;
      continue;
    }
    room_.wait_for(Lock, std::chrono::milliseconds(std::min<int64_t>(10, deadline - now)));
  }
}

// Holding LogLock.
void TqzConsoleTools::Enqueue(EntryList& Node, EntryList& Dropped) {
  ++queuedTotal_;
  const std::size_t limit = static_cast<std::size_t>(std::max<int32_t>(MaxQueueSize.load(), 1));
  const bool low = IsLowPriority(Node.front().LogInfoType);
  if (LogQueue.size() >= limit) {
    ++droppedSinceTake_;
    DroppedCount.fetch_add(1);
    if (!lowPriority_.empty()) {
      Dropped.splice(Dropped.end(), LogQueue, lowPriority_.front());
      lowPriority_.pop_front();
    } else if (low) {
      return;  // the new entry is the least important one (it stays in Node)
    } else {
      Dropped.splice(Dropped.end(), LogQueue, LogQueue.begin());
    }
  }
  LogQueue.splice(LogQueue.end(), Node);
  if (low) lowPriority_.push_back(std::prev(LogQueue.end()));
}

void TqzConsoleTools::TakeQueuedRecords(EntryList& Entries, uint64_t& Dropped) {
  std::deque<EntryList::iterator> lowPriority;  // freed after the lock
  std::lock_guard lock(LogLock);
  Entries.splice(Entries.end(), LogQueue);
  lowPriority.swap(lowPriority_);
  Dropped = droppedSinceTake_;
  droppedSinceTake_ = 0;
}

size_t TqzConsoleTools::QueuedRecordCount() const {
  std::lock_guard lock(LogLock);
  return LogQueue.size();
}

bool TqzConsoleTools::WaitForWriter(uint32_t TimeoutMs) {
  std::unique_lock lock(LogLock);
  const uint64_t target = queuedTotal_;
  return handled_.wait_for(lock, std::chrono::milliseconds(TimeoutMs), [&] { return handledTotal_ >= target; });
}

void TqzConsoleTools::LineRing::Add(UnicodeString& Line, std::size_t Limit) {
  if (Limit != slots_.size()) Resize(Limit);
  if (Limit == 0) return;  // Line is not kept
  if (count_ < Limit) {
    slots_[(first_ + count_) % Limit].swap(Line);
    ++count_;
  } else {
    slots_[first_].swap(Line);
    first_ = (first_ + 1) % Limit;
  }
}

// A new limit (rare): the newest lines that fit are kept, oldest first from slot 0.
void TqzConsoleTools::LineRing::Resize(std::size_t Limit) {
  std::vector<UnicodeString> slots(Limit);
  const std::size_t keep = std::min(count_, Limit);
  for (std::size_t i = 0; i < keep; ++i) slots[i].swap(slots_[(first_ + count_ - keep + i) % slots_.size()]);
  slots_.swap(slots);
  first_ = 0;
  count_ = keep;
}

void TqzConsoleTools::LineRing::CopyTo(TStrings& Lines) const {
  for (std::size_t i = 0; i < count_; ++i) Lines.Add(slots_[(first_ + i) % slots_.size()]);
}

void TqzConsoleTools::LineRing::Clear() {
  for (UnicodeString& slot : slots_) UnicodeString().swap(slot);
  first_ = count_ = 0;
}

void TqzConsoleTools::GetIntLog(TStrings& Lines) const {
  std::lock_guard lock(LogLock);
  Lines.Clear();
  IntLog.CopyTo(Lines);
}

void TqzConsoleTools::GetIntErrorLog(TStrings& Lines) const {
  std::lock_guard lock(LogLock);
  Lines.Clear();
  IntErrorLog.CopyTo(Lines);
}

bool TqzConsoleTools::ClearIntLog() {
  try {
    std::lock_guard lock(LogLock);
    IntLog.Clear();
    IntErrorLog.Clear();
    return true;
  } catch (...) {
    return false;
  }
}

void TqzConsoleTools::WStringStatusCallbackProc(const UnicodeString& CurNode) { Log(u"status", CurNode, u"localhost"); }

void TqzConsoleTools::WStringLogCallbackProc(const UnicodeString& Typ, const UnicodeString& Msg) {
  Log(platform::AnsiToWide(platform::WideToAnsi(Typ)), Msg, u"localhost");
}

// ---- Parsing -----------------------------------------------------------------------------------

// Current layout (no "<", or the first "<" at position 30 or later):
//   date blank time blank address blanks type dots ": " message     (date "dd.mm.yy")
// Older layout ("<" before position 30):
//   date blank time blank "<" address ">" blank type dots ": " message   (date "dd.mm.yyyy")
TqzLogRecord TqzConsoleTools::ParseLogLineW(const UnicodeString& Line) {
  bool complete = false;
  return ParseLogLineW(Line, complete);
}

TqzLogRecord TqzConsoleTools::ParseLogLineW(const UnicodeString& Line, bool& Complete) {
  const LineParts<UnicodeString> p = SplitLine(Line);
  TqzLogRecord r = RecordOf(p.date, p.time, p.oldLayout);
  r.LogInfoType = GetLogTypeFromText(p.type);
  r.LogType = LowerCaseStr(p.type);
  r.Address = p.address;
  r.Text = p.message;
  Complete = p.complete;
  return r;
}

TqzLogRecord TqzConsoleTools::ParseLogLine(const AnsiString& Line) {
  const LineParts<AnsiString> p = SplitLine(Line);
  TqzLogRecord r = RecordOf(platform::AnsiToWide(p.date), platform::AnsiToWide(p.time), p.oldLayout);
  const UnicodeString type = platform::Utf8ToWide(p.type);
  r.LogInfoType = GetLogTypeFromText(type);
  r.LogType = LowerCaseStr(type);
  r.Address = platform::AnsiToWide(p.address);
  r.Text = platform::Utf8ToWide(p.message);
  return r;
}

bool TqzConsoleTools::ParseLogFile(const UnicodeString& LogFile, TStrings& LogList, int32_t MaxRecords,
                                   int32_t LogLevel) {
  ParseSkippedLines = 0;
  if (!TqzFiles::FileExists(LogFile)) return false;
  std::ifstream in(platform::WideToUtf8(LogFile), std::ios::binary);
  if (!in) return false;
  int32_t added = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TqzLogRecord r;
    bool complete = false;
    try {
      r = ParseLogLineW(platform::Utf8ToWide(line), complete);
    } catch (const Exception&) {
      complete = false;
    }
    if (!complete) {
      ++ParseSkippedLines;
      continue;
    }
    if (LogLevel >= ParseLogFileMinimum(r.LogInfoType)) {
      LogList.Add(r.Text);
      if (MaxRecords > 0 && ++added >= MaxRecords) break;
    }
  }
  return true;
}

// ---- Counters ----------------------------------------------------------------------------------

bool TqzConsoleTools::CheckErrWarnReset() { return CheckErrWarnResetOn(Today()); }

bool TqzConsoleTools::CheckErrWarnResetOn(TDateTime today) {
  TDateTime seen = CheckDate.load();
  if (seen == today || !CheckDate.compare_exchange_strong(seen, today)) return false;
  isysErrorsToday = 0;
  isysWarningsToday = 0;
  isysCriticalsToday = 0;
  return true;
}

uint32_t TqzConsoleTools::SysErrors() {
  CheckErrWarnReset();
  return isysErrors.load();
}
uint32_t TqzConsoleTools::SysWarnings() {
  CheckErrWarnReset();
  return isysWarnings.load();
}
uint32_t TqzConsoleTools::SysCriticals() {
  CheckErrWarnReset();
  return isysCriticals.load();
}
uint32_t TqzConsoleTools::SysErrorsToday() {
  CheckErrWarnReset();
  return isysErrorsToday.load();
}
uint32_t TqzConsoleTools::SysWarningsToday() {
  CheckErrWarnReset();
  return isysWarningsToday.load();
}
uint32_t TqzConsoleTools::SysCriticalsToday() {
  CheckErrWarnReset();
  return isysCriticalsToday.load();
}

uint32_t TqzConsoleTools::GetServiceUpTime() {
  const double seconds = (CurrentTime() - StartDate) * 86400.0;
  return seconds < 1 ? 1u : static_cast<uint32_t>(std::min(seconds, 4294967295.0));
}
