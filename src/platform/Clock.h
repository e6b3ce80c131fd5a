// The injectable clock. Every "now" of the library comes from here, so tests can fix the time.
#pragma once

#include <chrono>
#include <functional>

#include "SysUtils.h"

namespace platform {

using ClockFunction = std::function<std::chrono::system_clock::time_point()>;

// The current instant (the system clock unless a test has set another).
std::chrono::system_clock::time_point ClockNow();
void SetClock(ClockFunction clock);
void ResetClock();

// Local and UTC date-times (days since 1899-12-30) of the clock's instant, local by the process TZ.
TDateTime Now();
TDateTime NowUTC();

// Conversions between Unix times in milliseconds and date-times: 64-bit all the way, so every
// date of the years 1 to 9999 converts (local by the process TZ, through localtime_r and mktime).
TDateTime UnixMsToUtcDateTime(int64_t ms);
TDateTime UnixMsToLocalDateTime(int64_t ms);
int64_t UtcDateTimeToUnixMs(TDateTime utc);
int64_t LocalDateTimeToUnixMs(TDateTime local);

// Conversions between instants and date-times. The clock's time points count nanoseconds and
// hold only the years 1678 to 2261; use the millisecond forms above for any other date.
TDateTime ToLocalDateTime(std::chrono::system_clock::time_point t);
TDateTime ToUtcDateTime(std::chrono::system_clock::time_point t);
std::chrono::system_clock::time_point FromUtcDateTime(TDateTime utc);
// Local date-time to instant through mktime (the process TZ, daylight saving decided by the library).
std::chrono::system_clock::time_point FromLocalDateTime(TDateTime local);

}  // namespace platform
