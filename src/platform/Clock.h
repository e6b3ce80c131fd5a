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

// Conversions between instants and date-times.
TDateTime ToLocalDateTime(std::chrono::system_clock::time_point t);
TDateTime ToUtcDateTime(std::chrono::system_clock::time_point t);
std::chrono::system_clock::time_point FromUtcDateTime(TDateTime utc);
// Local date-time to instant through mktime (the process TZ, daylight saving decided by the library).
std::chrono::system_clock::time_point FromLocalDateTime(TDateTime local);

}  // namespace platform
