#include "SysUtils.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "Exceptions.h"

namespace platform {
namespace {

template <class View>
size_t FirstKept(View s) {
  size_t i = 0;
  while (i < s.size() && static_cast<uint32_t>(s[i]) <= 32) ++i;
  return i;
}

template <class View>
size_t EndKept(View s) {
  size_t n = s.size();
  while (n > 0 && static_cast<uint32_t>(s[n - 1]) <= 32) --n;
  return n;
}

template <class View>
bool ParseInt64(View s, int64_t& value) {
  size_t i = 0, n = s.size();
  while (i < n && s[i] == ' ') ++i;
  while (n > i && s[n - 1] == ' ') --n;
  if (i == n) return false;
  bool neg = false;
  if (s[i] == '+' || s[i] == '-') {
    neg = s[i] == '-';
    ++i;
  }
  if (i == n) return false;
  uint64_t acc = 0;
  const uint64_t limit = neg ? static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1
                             : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  for (; i < n; ++i) {
    const auto c = static_cast<uint32_t>(s[i]);
    if (c < '0' || c > '9') return false;
    const uint64_t d = c - '0';
    if (acc > (limit - d) / 10) return false;
    acc = acc * 10 + d;
  }
  value = neg ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
  return true;
}

constexpr int kDaysBefore[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
                                    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};
// Day number of 1899-12-30 counted from 0001-01-01 as day 1.
constexpr int64_t kDelta = 693594;

}  // namespace

UnicodeString Trim(std::u16string_view s) {
  const size_t a = FirstKept(s);
  if (a == s.size()) return {};
  return UnicodeString(s.substr(a, EndKept(s) - a));
}
UnicodeString TrimLeft(std::u16string_view s) { return UnicodeString(s.substr(FirstKept(s))); }
UnicodeString TrimRight(std::u16string_view s) { return UnicodeString(s.substr(0, EndKept(s))); }
AnsiString Trim(std::string_view s) {
  const size_t a = FirstKept(s);
  if (a == s.size()) return {};
  return AnsiString(s.substr(a, EndKept(s) - a));
}
AnsiString TrimLeft(std::string_view s) { return AnsiString(s.substr(FirstKept(s))); }
AnsiString TrimRight(std::string_view s) { return AnsiString(s.substr(0, EndKept(s))); }

UnicodeString IntToStr(int64_t value) { return ToU16(std::to_string(value)); }
AnsiString IntToStrA(int64_t value) { return std::to_string(value); }

bool TryStrToInt64(std::u16string_view s, int64_t& value) { return ParseInt64(s, value); }
bool TryStrToInt64(std::string_view s, int64_t& value) { return ParseInt64(s, value); }

UnicodeString IntToHex(uint64_t value, int digits) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  UnicodeString out;
  do {
    out.insert(out.begin(), kHex[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < digits) out.insert(out.begin(), u'0');
  return out;
}

std::string FloatToStrInvariant(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

bool IsLeapYear(int year) { return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  const int leap = IsLeapYear(year) ? 1 : 0;
  return kDaysBefore[leap][month] - kDaysBefore[leap][month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  const int leap = IsLeapYear(year) ? 1 : 0;
  const int64_t y = year - 1;
  const int64_t days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBefore[leap][month - 1] + day;
  result = static_cast<double>(days - kDelta);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999) return false;
  result = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / 86400000.0;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r = 0;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r = 0;
  if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

void SplitDateTime(TDateTime value, int64_t& days, int32_t& msOfDay) {
  if (!std::isfinite(value) || std::fabs(value) > 1e8) {
    days = 0;
    msOfDay = 0;
    return;
  }
  // The platform counts a negative value's fraction away from day zero: -1.25 is 1899-12-29 06:00.
  const double whole = std::trunc(value);
  double frac = std::fabs(value - whole);
  int64_t ms = std::llround(frac * 86400000.0);
  int64_t d = static_cast<int64_t>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    d += value < 0 ? -1 : 1;
  }
  days = d;
  msOfDay = static_cast<int32_t>(ms);
}

TDateTime CombineDateTime(int64_t days, int32_t msOfDay) {
  const double frac = msOfDay / 86400000.0;
  return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

void DecodeDate(TDateTime date, int& year, int& month, int& day) {
  int64_t days = 0;
  int32_t ms = 0;
  SplitDateTime(date, days, ms);
  int64_t t = days + kDelta;  // 1 = 0001-01-01
  if (t <= 0 || t > 3652059) {
    year = month = day = 0;
    return;
  }
  --t;
  int64_t y = 1;
  const int64_t d400 = 146097, d100 = 36524, d4 = 1461;
  int64_t i = t / d400;
  y += i * 400;
  t -= i * d400;
  i = t / d100;
  if (i == 4) i = 3;
  y += i * 100;
  t -= i * d100;
  i = t / d4;
  y += i * 4;
  t -= i * d4;
  i = t / 365;
  if (i == 4) i = 3;
  y += i;
  t -= i * 365;
  const int leap = IsLeapYear(static_cast<int>(y)) ? 1 : 0;
  int m = 1;
  while (t >= kDaysBefore[leap][m]) ++m;
  year = static_cast<int>(y);
  month = m;
  day = static_cast<int>(t - kDaysBefore[leap][m - 1] + 1);
}

void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec) {
  int64_t days = 0;
  int32_t ms = 0;
  SplitDateTime(time, days, ms);
  hour = ms / 3600000;
  min = (ms / 60000) % 60;
  sec = (ms / 1000) % 60;
  msec = ms % 1000;
}

int DayOfWeek(TDateTime date) {
  int64_t days = 0;
  int32_t ms = 0;
  SplitDateTime(date, days, ms);
  // 1899-12-30 was a Saturday (7).
  int64_t r = (days + 6) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

}  // namespace platform
