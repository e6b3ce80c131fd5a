// Small runtime helpers in the manner of the platform's system unit: trimming, integer texts,
// and the TDateTime day-number arithmetic (days since 30 December 1899, fraction = time of day).
#pragma once

#include <cstdint>
#include <optional>

#include "Text.h"

using TDateTime = double;

namespace platform {

// Trimming removes characters with codes 0 to 32 at the ends.
UnicodeString Trim(std::u16string_view s);
UnicodeString TrimLeft(std::u16string_view s);
UnicodeString TrimRight(std::u16string_view s);
AnsiString Trim(std::string_view s);
AnsiString TrimLeft(std::string_view s);
AnsiString TrimRight(std::string_view s);

UnicodeString IntToStr(int64_t value);
AnsiString IntToStrA(int64_t value);
// Decimal integer: optional blanks around, optional sign, digits only; false on overflow.
bool TryStrToInt64(std::u16string_view s, int64_t& value);
bool TryStrToInt64(std::string_view s, int64_t& value);
// Upper-case hexadecimal with at least `digits` digits.
UnicodeString IntToHex(uint64_t value, int digits);
// The value of one hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
constexpr int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  return -1;
}

// The shortest text that reads back as the same double, "." as decimal sign.
std::string FloatToStrInvariant(double value);

// Dates. Years 1..9999.
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
// Raise EConvertError on invalid arguments.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
void DecodeDate(TDateTime date, int& year, int& month, int& day);
void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime date);
// Whole days and milliseconds of the day, rounded to the millisecond like the platform does.
void SplitDateTime(TDateTime value, int64_t& days, int32_t& msOfDay);
TDateTime CombineDateTime(int64_t days, int32_t msOfDay);

}  // namespace platform
