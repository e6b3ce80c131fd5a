// The service log: the line format, the parsers, the level filters, Log and its counters and
// lists, and the writer thread against real files (many producers, the 100 MiB continuation, a
// day change on the injected clock, a writer stalled on a FIFO, the final flush).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "StringList.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "qzConsoleTools.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;
using qztest::ScopedEnv;
using qztest::TempDir;

std::string U8(const UnicodeString& s) { return WideToUtf8(s); }

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
  return platform::EncodeDate(y, mo, d) + platform::EncodeTime(h, mi, s, ms);
}

// The lines of a file split at CR LF (a last line without CR LF is kept as it is).
std::vector<std::string> FileLines(const std::string& path) {
  const std::string bytes = qztest::ReadFile(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t p; (p = bytes.find("\r\n", start)) != std::string::npos; start = p + 2)
    lines.push_back(bytes.substr(start, p - start));
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

// An installation root (KESTASYS) with its log folder, its own registry folder, the program
// svc.exe on the command line, invariant format settings.
class LogEnvironment : public ::testing::Test {
 protected:
  LogEnvironment() {
    ::mkdir((dir_.Path() + "/reg").c_str(), 0755);
    ::mkdir((dir_.Path() + "/inst").c_str(), 0755);
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    TqzConsoleTools::SetCommandLine({Utf8ToWide(dir_.Path() + "/bin/svc.exe")});
  }
  ~LogEnvironment() override {
    TqzConsoleTools::ResetCommandLine();
    platform::ResetClock();
  }
  std::string LogDir() const { return dir_.Path() + "/inst/log"; }
  // The name of a day's file: svc-yyyymmdd[-n].txt in the log folder.
  std::string DayFile(const char* yyyymmdd, int number = 0) const {
    return LogDir() + "/svc-" + yyyymmdd + (number > 0 ? "-" + std::to_string(number) : "") + ".txt";
  }
  static std::string Today() { return U8(platform::FormatDateTime(u"yyyymmdd", platform::Now())); }

  TempDir dir_{"qzlog"};
  ScopedEnv registry_{"KESTA_REGISTRY_DIR", dir_.Path() + "/reg"};
  ScopedEnv root_{"KESTASYS", dir_.Path() + "/inst"};
};

// ---- Lines ---------------------------------------------------------------------------------------

TEST(LogLine, GoldenLines) {
  platform::SetFormatSettings(platform::InvariantFormatSettings());
  const TDateTime t = At(2023, 5, 6, 14, 3, 9, 42);
  struct Case {
    const char16_t *type, *address, *message;
    bool shorten;
    const char16_t* line;
  } cases[] = {
      {u"error", u"10.0.0.7", u"disk full", false, u"06.05.23 14:03:09-042 10.0.0.7        error.....: disk full"},
      {u"abcdefghij", u"", u"m", false, u"06.05.23 14:03:09-042                 abcdefghij: m"},
      {u"abcdefghijkl", u"h", u"m", false, u"06.05.23 14:03:09-042 h               abcdefghij: m"},
      {u"", u"123.123.123.123", u"", false, u"06.05.23 14:03:09-042 123.123.123.123 ..........: "},
      {u"info", u"fe80::1234:5678:9abc", u"x", false, u"06.05.23 14:03:09-042 fe80::1234:5678:9abc info......: x"},
      {u"info", u"fe80::1234:5678:9abc", u"x", true, u"06.05.23 14:03:09-042 fe80::1234:5... info......: x"},
      {u"info", u"123.123.123.123", u"x", true, u"06.05.23 14:03:09-042 123.123.123.123 info......: x"},
      {u"note", u"a", u"one\r\ntwo\nthree\rfour\n", false, u"06.05.23 14:03:09-042 a               note......: one two three\rfour "},
      {u"info", u"a", u"gr\u00fc\u00dfe \u20ac", false, u"06.05.23 14:03:09-042 a               info......: gr\u00fc\u00dfe \u20ac"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.line));
    EXPECT_EQ(TqzConsoleTools::CreateLogTextW(c.type, c.message, t, c.address, c.shorten), c.line);
    // The 8-bit line: type and message in UTF-8, the rest in the ANSI code page.
    EXPECT_EQ(TqzConsoleTools::CreateLogText(c.type, c.message, t, c.address, c.shorten), U8(c.line));
  }
  EXPECT_EQ(TqzConsoleTools::CreateLogTextW(qzLog_Warning, u"w", t, u"", false),
            u"06.05.23 14:03:09-042                 warning...: w");
  // The time separator is the process's.
  auto settings = platform::InvariantFormatSettings();
  settings.TimeSeparator = u'.';
  platform::SetFormatSettings(settings);
  EXPECT_EQ(TqzConsoleTools::CreateLogTextW(u"info", u"x", t, u"", false).substr(0, 21), u"06.05.23 14.03.09-042");
  platform::SetFormatSettings(platform::InvariantFormatSettings());
}

TEST(LogLine, RoundTripAndOlderLayout) {
  platform::SetFormatSettings(platform::InvariantFormatSettings());
  struct Case {
    const char16_t *type, *address, *message;
    TDateTime stamp;
    TqzLogInfoType kind;
  } cases[] = {
      {u"error", u"10.0.0.7", u"disk full", At(2023, 5, 6, 14, 3, 9, 42), qzLog_Error},
      {u"critical", u"::1", u"a: b: c", At(2049, 12, 31, 23, 59, 59, 999), qzLog_Critical},
      {u"status", u"", u"node 7", At(2000, 1, 1, 0, 0, 0, 0), qzLog_Unknown},
      {u"success", u"host.example.org", u"gr\u00fc\u00dfe", At(2024, 2, 29, 12, 30, 0, 500), qzLog_Success},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.message));
    const UnicodeString line = TqzConsoleTools::CreateLogTextW(c.type, c.message, c.stamp, c.address, false);
    const TqzLogRecord r = TqzConsoleTools::ParseLogLineW(line);
    EXPECT_NEAR(r.TimeStamp, c.stamp, 0.5 / 86400000.0);
    EXPECT_EQ(r.Address, c.address);
    EXPECT_EQ(r.LogType, c.type);
    EXPECT_EQ(r.LogInfoType, c.kind);
    EXPECT_EQ(r.Text, c.message);
    const TqzLogRecord r8 =
        TqzConsoleTools::ParseLogLine(TqzConsoleTools::CreateLogText(c.type, c.message, c.stamp, c.address, false));
    EXPECT_NEAR(r8.TimeStamp, c.stamp, 0.5 / 86400000.0);
    EXPECT_EQ(r8.Text, c.message);
    EXPECT_EQ(r8.LogType, c.type);
  }
  // The older layout: date with four-digit year, the address in angle brackets.
  const TqzLogRecord old = TqzConsoleTools::ParseLogLineW(u"06.05.2023 14:03:09-042 <10.0.0.7> Warning...: low on: disk ");
  EXPECT_NEAR(old.TimeStamp, At(2023, 5, 6, 14, 3, 9, 42), 0.5 / 86400000.0);
  EXPECT_EQ(old.Address, u"10.0.0.7");
  EXPECT_EQ(old.LogType, u"warning");
  EXPECT_EQ(old.LogInfoType, qzLog_Warning);
  EXPECT_EQ(old.Text, u"low on: disk");
  // A time that is no time raises the conversion error.
  EXPECT_THROW(TqzConsoleTools::ParseLogLineW(u"06.05.23 xx:03:09-042 a info......: x"), EConvertError);
  EXPECT_THROW(TqzConsoleTools::ParseLogLineW(u"06.05.23 14:0"), EConvertError);
}

// ---- Level filters -------------------------------------------------------------------------------

struct TypeMinimum {
  TqzLogInfoType type;
  int filter;  // IsLogTypeEnabled
  int file;    // ParseLogFile
};
const TypeMinimum kMinima[] = {
    {qzLog_Info, 3, 3},     {qzLog_Error, 1, 1},   {qzLog_Warning, 2, 2},  {qzLog_Success, 3, 3},
    {qzLog_Debug, 4, 4},    {qzLog_Trace, 5, 5},   {qzLog_Process, 3, 3},  {qzLog_Startup, 3, 3},
    {qzLog_Shutdown, 3, 3}, {qzLog_Critical, 1, 1}, {qzLog_Note, 2, 3},    {qzLog_User, 3, 3},
    {qzLog_Verify, 3, 3},   {qzLog_Create, 3, 3},  {qzLog_Modify, 3, 3},   {qzLog_Delete, 3, 3},
    {qzLog_Input, 3, 3},    {qzLog_Blob, 4, 3},    {qzLog_Meta, 4, 3},     {qzLog_Subject, 4, 3},
    {qzLog_Register, 3, 3}, {qzLog_Import, 3, 3},  {qzLog_Export, 3, 3},   {qzLog_Unknown, 4, 3},
};

TEST(LogLevels, IsLogTypeEnabledForAllTypesAndLevels) {
  ASSERT_EQ(std::size(kMinima), static_cast<std::size_t>(qzLog_Unknown) + 1);
  for (const auto& m : kMinima)
    for (int level = 0; level <= 5; ++level)
      EXPECT_EQ(TqzConsoleTools::IsLogTypeEnabled(level, m.type), level >= m.filter)
          << U8(TqzConsoleTools::GetLogTypeText(m.type)) << " at level " << level;
}

TEST_F(LogEnvironment, ParseLogFileMinimaForAllTypesAndLevels) {
  // One line per type, the message naming the type.
  std::string text;
  for (const auto& m : kMinima) {
    const UnicodeString word = TqzConsoleTools::GetLogTypeText(m.type);
    text += U8(TqzConsoleTools::CreateLogTextW(word, word, At(2023, 5, 6, 1, 2, 3, 4), u"h", true)) + "\r\n";
  }
  const std::string file = dir_.Path() + "/all.txt";
  qztest::WriteFile(file, text);
  TqzConsoleTools tools;
  for (int level = 0; level <= 5; ++level) {
    TStringList got;
    ASSERT_TRUE(tools.ParseLogFile(Utf8ToWide(file), got, 0, level));
    std::vector<UnicodeString> expected, actual;
    for (const auto& m : kMinima)
      if (level >= m.file) expected.push_back(TqzConsoleTools::GetLogTypeText(m.type));
    for (int i = 0; i < got.Count(); ++i) actual.push_back(got[i]);
    EXPECT_EQ(actual, expected) << "level " << level;
  }
}

TEST_F(LogEnvironment, ParseLogFileSkipsBrokenLinesAndStopsAtMaxRecords) {
  const TDateTime t = At(2023, 5, 6, 1, 2, 3, 4);
  std::string text = U8(TqzConsoleTools::CreateLogTextW(u"info", u"first", t, u"h", true)) + "\r\n";
  text += "garbage without a time\r\n\r\n";
  text += U8(TqzConsoleTools::CreateLogTextW(u"error", u"second", t, u"h", true)) + "\n";  // LF only
  text += "06.05.23 01:0";                                                               // cut short
  text += "\r\n" + U8(TqzConsoleTools::CreateLogTextW(u"warning", u"third", t, u"h", true));  // no line end
  const std::string file = dir_.Path() + "/broken.txt";
  qztest::WriteFile(file, text);
  TqzConsoleTools tools;
  struct Case {
    int max;
    std::vector<UnicodeString> messages;
  } cases[] = {{0, {u"first", u"second", u"third"}}, {2, {u"first", u"second"}}, {1, {u"first"}}};
  for (const auto& c : cases) {
    TStringList got;
    got.Add(u"kept");  // the list is neither created nor cleared
    ASSERT_TRUE(tools.ParseLogFile(Utf8ToWide(file), got, c.max, 4));
    std::vector<UnicodeString> actual;
    for (int i = 1; i < got.Count(); ++i) actual.push_back(got[i]);
    EXPECT_EQ(got[0], u"kept");
    EXPECT_EQ(actual, c.messages) << "max " << c.max;
  }
  TStringList all;
  tools.ParseLogFile(Utf8ToWide(file), all, 0, 4);
  EXPECT_EQ(tools.ParseSkippedLines, 3u);  // garbage, the empty line, the cut line
  EXPECT_FALSE(tools.ParseLogFile(Utf8ToWide(dir_.Path() + "/missing.txt"), all, 0, 4));
}

// ---- Log -----------------------------------------------------------------------------------------

TEST_F(LogEnvironment, LogFiltersCountsAndKeepsTheLastLines) {
  TqzConsoleTools tools;
  tools.AsService = true;
  tools.LogToFile = false;

  tools.LogLevel = 0;
  EXPECT_EQ(tools.Log(qzLog_Error, u"e"), u"");
  EXPECT_EQ(tools.Log(u"WARNING", u"w"), u"");
  EXPECT_EQ(tools.Log(qzLog_Info, u"i"), u"");
  EXPECT_EQ(tools.SysErrors(), 1u);
  EXPECT_EQ(tools.SysWarningsToday(), 1u);
  EXPECT_EQ(tools.LogCount.load(), 3u);

  tools.LogLevel = 4;
  // Access violations are critical, in any case and in three languages.
  for (const char16_t* m : {u"Access violation at 0x0", u"ZUGRIFFSVERLETZUNG bei", u"violazione di accesso"}) {
    const UnicodeString line = tools.Log(u"Error", m, u"10.0.0.1", At(2023, 5, 6, 1, 2, 3, 4));
    EXPECT_NE(line.find(u" critical..: "), UnicodeString::npos) << U8(line);
  }
  EXPECT_EQ(tools.SysCriticals(), 3u);
  EXPECT_EQ(tools.SysErrors(), 1u);
  EXPECT_EQ(tools.Log(qzLog_Trace, u"t"), u"");  // level 4 holds back trace entries
  EXPECT_NE(tools.Log(qzLog_Debug, u"d"), u"");
  // A type word that is no type: unknown, the line keeps the word (lower-cased).
  EXPECT_NE(tools.Log(u"Status", u"s").find(u" status....: s"), UnicodeString::npos);
  // The line Log returns keeps a long address whole.
  EXPECT_NE(tools.Log(qzLog_Info, u"x", u"fe80::1234:5678:9abc").find(u" fe80::1234:5678:9abc info......: x"),
            UnicodeString::npos);

  tools.MaxIntLog = 3;
  for (int i = 0; i < 5; ++i) tools.Log(qzLog_Error, u"e" + platform::IntToStr(i));
  TStringList all, errors;
  tools.GetIntLog(all);
  tools.GetIntErrorLog(errors);
  ASSERT_EQ(all.Count(), 3);
  ASSERT_EQ(errors.Count(), 3);
  EXPECT_NE(all[0].find(u": e2"), UnicodeString::npos);
  EXPECT_NE(errors[2].find(u": e4"), UnicodeString::npos);
  // A changed limit keeps the newest lines that fit, oldest first, and goes on from there.
  auto messages = [&tools] {
    TStringList lines;
    tools.GetIntErrorLog(lines);
    std::string out;
    for (int i = 0; i < lines.Count(); ++i) out += U8(lines[i].substr(lines[i].rfind(u": ") + 2)) + " ";
    return out;
  };
  struct Step {
    int32_t limit;
    const char16_t* message;
    const char* expected;
  } steps[] = {{5, u"e5", "e2 e3 e4 e5 "}, {5, u"e6", "e2 e3 e4 e5 e6 "}, {5, u"e7", "e3 e4 e5 e6 e7 "},
               {2, u"e8", "e7 e8 "},       {2, u"e9", "e8 e9 "},          {0, u"e10", ""},
               {1, u"e11", "e11 "}};
  for (const auto& step : steps) {
    tools.MaxIntLog = step.limit;
    tools.Log(qzLog_Error, step.message);
    EXPECT_EQ(messages(), step.expected) << "limit " << step.limit;
  }
  tools.MaxIntLog = 3;
  EXPECT_TRUE(tools.ClearIntLog());
  tools.GetIntLog(all);
  EXPECT_EQ(all.Count(), 0);
  EXPECT_EQ(TqzConsoleTools::SelectLogType(true, qzLog_Success, qzLog_Error), qzLog_Success);
  EXPECT_EQ(TqzConsoleTools::SelectLogType(false, qzLog_Success, qzLog_Error), qzLog_Error);
}

TEST_F(LogEnvironment, TodayCountersFollowTheInjectedClock) {
  auto now = std::make_shared<std::atomic<int64_t>>(platform::UtcDateTimeToUnixMs(At(2030, 3, 1, 12, 0, 0, 0)));
  platform::SetClock([now] { return std::chrono::system_clock::time_point(std::chrono::milliseconds(now->load())); });
  TqzConsoleTools tools;
  tools.AsService = true;
  tools.LogToFile = false;
  tools.Log(qzLog_Error, u"e");
  tools.Log(qzLog_Warning, u"w");
  EXPECT_EQ(tools.SysErrorsToday(), 1u);
  EXPECT_FALSE(tools.CheckErrWarnReset());
  *now += 86400000;  // a day later
  EXPECT_EQ(tools.SysErrorsToday(), 0u);
  EXPECT_EQ(tools.SysWarningsToday(), 0u);
  EXPECT_EQ(tools.SysErrors(), 1u);
  EXPECT_EQ(tools.SysWarnings(), 1u);
  EXPECT_GE(tools.GetServiceUpTime(), 86400u);
}

TEST(LogConsole, CutAndColours) {
  const UnicodeString l149(149, u'x'), l150(150, u'y');
  EXPECT_EQ(TqzConsoleTools::ConsoleLine(qzLog_Info, l149, false), std::string(149, 'x') + "\r\n");
  EXPECT_EQ(TqzConsoleTools::ConsoleLine(qzLog_Info, l150, false), std::string(146, 'y') + "...\r\n");
  struct Case {
    TqzLogInfoType type;
    const char* sgr;
  } cases[] = {{qzLog_Info, "36"},  {qzLog_Error, "91"},    {qzLog_Warning, "93"}, {qzLog_Success, "92"},
               {qzLog_Debug, "37"}, {qzLog_Trace, "90"},    {qzLog_Critical, "31"}, {qzLog_Note, "97"}};
  for (const auto& c : cases)
    EXPECT_EQ(TqzConsoleTools::ConsoleLine(c.type, u"m", true), std::string("\x1b[") + c.sgr + "mm\x1b[0m\r\n");
  EXPECT_EQ(TqzConsoleTools::SysLogSeverityOf(qzLog_Critical), 2);
  EXPECT_EQ(TqzConsoleTools::SysLogSeverityOf(qzLog_Error), 3);
  EXPECT_EQ(TqzConsoleTools::SysLogSeverityOf(qzLog_Warning), 4);
  EXPECT_EQ(TqzConsoleTools::SysLogSeverityOf(qzLog_Note), 5);
  EXPECT_EQ(TqzConsoleTools::SysLogSeverityOf(qzLog_Debug), 7);
  EXPECT_EQ(TqzConsoleTools::SysLogSeverityOf(qzLog_Success), 6);
}

// ---- The writer ----------------------------------------------------------------------------------

// With the default queue, and with a queue far smaller than the burst: a writer that is working
// makes the callers wait for room instead of losing entries.
TEST_F(LogEnvironment, ManyProducersEveryLineInQueueOrder) {
  constexpr int kThreads = 8, kPerThread = 10000;
  for (const int32_t queueSize : {100000, 64}) {
    SCOPED_TRACE("queue size " + std::to_string(queueSize));
    ::unlink(DayFile(Today().c_str()).c_str());
    {
      TqzConsoleTools tools;
      tools.AsService = true;
      tools.MaxQueueSize = queueSize;
      std::vector<std::thread> producers;
      for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([&tools, t] {
          for (int i = 0; i < kPerThread; ++i)
            tools.Log(qzLog_Info, u"t" + platform::IntToStr(t) + u" n" + platform::IntToStr(i), u"10.0.0.1");
        });
      for (auto& p : producers) p.join();
      EXPECT_TRUE(tools.WaitForWriter(60000));
      EXPECT_EQ(tools.DroppedCount.load(), 0u);
      EXPECT_EQ(U8(tools.ActiveLogFile.Get()), DayFile(Today().c_str()));
    }
    const auto lines = FileLines(DayFile(Today().c_str()));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
      const auto p = line.find(": t");
      ASSERT_NE(p, std::string::npos) << line;
      const int t = std::stoi(line.substr(p + 3));
      const int n = std::stoi(line.substr(line.find(" n", p) + 2));
      ASSERT_EQ(n, next[t]) << "thread " << t << " out of order: " << line;
      ++next[t];
    }
  }
}

TEST_F(LogEnvironment, FinalFlushOnDestroyAndContinuationAfter100MiB) {
  const std::string today = Today();
  ::mkdir(LogDir().c_str(), 0755);
  {
    // A sparse file of exactly 100 MiB: the first pass continues in "-1".
    std::ofstream(DayFile(today.c_str()), std::ios::binary) << "";
    ASSERT_EQ(::truncate(DayFile(today.c_str()).c_str(), 104857600), 0);
    TqzConsoleTools tools;
    tools.AsService = true;
    for (int i = 0; i < 3; ++i) tools.Log(qzLog_Info, u"line " + platform::IntToStr(i));
    // destroyed at once: the stop makes the writer write what is queued
  }
  EXPECT_EQ(FileLines(DayFile(today.c_str(), 1)).size(), 3u);
  struct stat st {};
  ASSERT_EQ(::stat(DayFile(today.c_str()).c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 104857600);
  {
    // The next object finds "-1" and goes on writing it (it is below 100 MiB).
    TqzConsoleTools tools;
    tools.AsService = true;
    tools.Log(qzLog_Info, u"line 3");
  }
  const auto lines = FileLines(DayFile(today.c_str(), 1));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[3].find(": line 3"), std::string::npos);
}

TEST_F(LogEnvironment, DayChangeStartsTheNewDaysFileWithoutNumber) {
  auto now = std::make_shared<std::atomic<int64_t>>(platform::LocalDateTimeToUnixMs(At(2030, 3, 1, 23, 59, 59, 0)));
  platform::SetClock([now] { return std::chrono::system_clock::time_point(std::chrono::milliseconds(now->load())); });
  ::mkdir(LogDir().c_str(), 0755);
  qztest::WriteFile(DayFile("20300301"), "");
  qztest::WriteFile(DayFile("20300301", 1), "");  // the first day continues in -1
  {
    TqzConsoleTools tools;
    tools.AsService = true;
    tools.Log(qzLog_Info, u"before midnight");
    ASSERT_TRUE(tools.WaitForWriter(10000));
    *now += 2000;
    tools.Log(qzLog_Info, u"after midnight");
    ASSERT_TRUE(tools.WaitForWriter(10000));
    EXPECT_EQ(tools.LogFileNumber.load(), 0);
  }
  const auto first = FileLines(DayFile("20300301", 1));
  const auto second = FileLines(DayFile("20300302"));
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].substr(0, 21), "01.03.30 23:59:59-000");
  EXPECT_NE(second[0].find(": after midnight"), std::string::npos);
}

// The writer blocks opening a FIFO that nobody reads: Log goes on, the bounded queue drops the
// oldest debug/trace records first, and the writer reports the drops once it is free again.
TEST_F(LogEnvironment, StalledWriterDropsLowPriorityFirst) {
  ::mkdir(LogDir().c_str(), 0755);
  const std::string fifo = DayFile(Today().c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // A second name of the same FIFO, for the reader that frees the writer.
  const std::string readerName = dir_.Path() + "/reader.fifo";
  ASSERT_EQ(::link(fifo.c_str(), readerName.c_str()), 0);
  std::string fromFifo;
  {
    TqzConsoleTools tools;
    tools.AsService = true;
    tools.MaxQueueSize = 5;
    tools.LogLevel = 5;
    tools.Log(qzLog_Info, u"staller");
    for (int i = 0; i < 200 && tools.QueuedRecordCount() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the writer now waits in open()
    const auto start = std::chrono::steady_clock::now();
    tools.Log(qzLog_Debug, u"d1");
    tools.Log(qzLog_Debug, u"d2");
    tools.Log(qzLog_Error, u"e1");
    tools.Log(qzLog_Error, u"e2");
    tools.Log(qzLog_Error, u"e3");  // full
    tools.Log(qzLog_Error, u"e4");  // drops d1
    tools.Log(qzLog_Error, u"e5");  // drops d2
    tools.Log(qzLog_Trace, u"t1");  // dropped itself: nothing less important is queued
    tools.Log(qzLog_Error, u"e6");  // drops e1
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(tools.DroppedCount.load(), 4u);
    // Free the writer: take the log file's name away first (the writer waits in open() on the
    // FIFO itself, not on its name), then read the FIFO through its second name to its end. However
    // soon the writer's next pass comes, it finds no file and creates a plain one.
    ASSERT_EQ(::unlink(fifo.c_str()), 0);
    std::thread reader([&] { fromFifo = qztest::ReadFile(readerName); });
    reader.join();
    EXPECT_TRUE(tools.WaitForWriter(10000));
  }
  EXPECT_NE(fromFifo.find(": staller"), std::string::npos);
  const auto lines = FileLines(fifo);
  std::vector<std::string> messages;
  for (const auto& l : lines) messages.push_back(l.substr(l.find(": ") + 2));
  EXPECT_EQ(messages, (std::vector<std::string>{"4 log entries were dropped because the log queue was full", "e2", "e3",
                                                "e4", "e5", "e6"}));
}

}  // namespace
