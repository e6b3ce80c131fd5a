#include "Clock.h"

#include <cmath>
#include <ctime>
#include <mutex>

namespace platform {
namespace {

std::mutex& ClockMutex() {
  static std::mutex m;
  return m;
}

ClockFunction& ClockSlot() {
  static ClockFunction clock;
  return clock;
}

// 1970-01-01 as a date-time.
constexpr double kUnixEpochDays = 25569.0;

}  // namespace

std::chrono::system_clock::time_point ClockNow() {
  ClockFunction clock;
  {
    std::lock_guard<std::mutex> lock(ClockMutex());
    clock = ClockSlot();
  }
  return clock ? clock() : std::chrono::system_clock::now();
}

void SetClock(ClockFunction clock) {
  std::lock_guard<std::mutex> lock(ClockMutex());
  ClockSlot() = std::move(clock);
}

void ResetClock() { SetClock(nullptr); }

namespace {

int64_t UnixMsOf(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

}  // namespace

TDateTime UnixMsToUtcDateTime(int64_t ms) {
  const int64_t dayMs = 86400000;
  int64_t days = ms / dayMs;
  int64_t rem = ms % dayMs;
  if (rem < 0) {
    rem += dayMs;
    --days;
  }
  return CombineDateTime(days + static_cast<int64_t>(kUnixEpochDays), static_cast<int32_t>(rem));
}

TDateTime UnixMsToLocalDateTime(int64_t ms) {
  int64_t secs = ms / 1000;
  int64_t msRem = ms % 1000;
  if (msRem < 0) {
    msRem += 1000;
    --secs;
  }
  const std::time_t tt = static_cast<std::time_t>(secs);
  std::tm tm{};
  localtime_r(&tt, &tm);
  TDateTime date = 0, time = 0;
  TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date);
  TryEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec, static_cast<int>(msRem), time);
  int64_t d = 0;
  int32_t unused = 0;
  SplitDateTime(date, d, unused);
  return CombineDateTime(d, static_cast<int32_t>(std::llround(time * 86400000.0)));
}

int64_t UtcDateTimeToUnixMs(TDateTime utc) {
  int64_t days = 0;
  int32_t msOfDay = 0;
  SplitDateTime(utc, days, msOfDay);
  return (days - static_cast<int64_t>(kUnixEpochDays)) * 86400000 + msOfDay;
}

int64_t LocalDateTimeToUnixMs(TDateTime local) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  DecodeDate(local, y, mo, d);
  DecodeTime(local, h, mi, s, ms);
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  const std::time_t tt = std::mktime(&tm);
  return static_cast<int64_t>(tt) * 1000 + ms;
}

TDateTime ToUtcDateTime(std::chrono::system_clock::time_point t) { return UnixMsToUtcDateTime(UnixMsOf(t)); }

TDateTime ToLocalDateTime(std::chrono::system_clock::time_point t) { return UnixMsToLocalDateTime(UnixMsOf(t)); }

std::chrono::system_clock::time_point FromUtcDateTime(TDateTime utc) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(UtcDateTimeToUnixMs(utc)));
}

std::chrono::system_clock::time_point FromLocalDateTime(TDateTime local) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(LocalDateTimeToUnixMs(local)));
}

TDateTime Now() { return ToLocalDateTime(ClockNow()); }
TDateTime NowUTC() { return ToUtcDateTime(ClockNow()); }

}  // namespace platform
