// Dates and times: parsing against format lists, the two time-stamp text forms, ISO 8601,
// fixed-position forms, the short date format of a locale, durations, weekday names, quarters,
// ISO weeks, Unix times and the local/GMT conversion.
//
// Date-times are TDateTime day numbers (days since 1899-12-30, the fraction is the time of day),
// local time unless an operation says GMT. Every "now" comes from the injectable clock
// (platform::Now), every locale format from platform::GetFormatSettings(); tests set both.
//
// Format lists name only a separator and, for dates, the order of day, month and year: the
// separator is the first character of the (lower-cased) format that is no field letter, the
// order is given by the first of the letters d, m, y/e. Two-digit years fall in the century
// window 70 (in 2026: 00..55 -> 2000..2055, 56..99 -> 1956..1999).
//
// Decisions where the rules leave room:
//  * The time scanner reads milliseconds after the seconds when a '.' follows them (and '.' is
//    not the time separator itself).
//  * A blank as a separator is matched by one or more blanks.
//  * The ISO 8601 texts and the storage forms always use ':' between hours, minutes and seconds,
//    whatever the locale's time separator, so that they read back everywhere.
//  * A fraction of a second in a time-only ISO text ("12:30:45.5") is read as a decimal fraction
//    (500 ms); an unreadable fraction makes the text unreadable.
//  * The local/GMT conversion uses the time-zone offset in force at the date converted (the
//    process TZ through localtime_r/mktime), so a summer date converted in winter is right.
//  * WeekToDate gives the Monday of ISO week `Week` of the ISO week-year `Year` and raises
//    EConvertError when that year has no such week (week 53 of a 52-week year), instead of
//    stepping on into a later year or answering with a Monday of the year before.
//  * The writers of fixed date texts (ISO 8601, "yyyy-mm-dd hh:nn:ss") raise EConvertError for a
//    value that is no date of the years 1 to 9999 (not finite, or out of range) instead of
//    writing a date that was never given.
//  * A time-stamp text that is no time stamp falls back to the date formats; that fallback may
//    again meet a shorter time-stamp text. The nesting is bounded (see StrToTimeStamp).
#pragma once

#include <cstdint>
#include <vector>

#include "FormatSettings.h"
#include "SysUtils.h"
#include "Text.h"

// Milliseconds of the day and days since 0001-01-01 (counting that day as 1; 1899-12-30 is 693594).
struct TTimeStamp {
  int32_t Time = 0;
  int32_t Date = 0;
  friend bool operator==(const TTimeStamp&, const TTimeStamp&) = default;
};

using TDate = TDateTime;
using TTime = TDateTime;

// The current time-zone bias in minutes: what is added to local time to get UTC.
// Raises EOSError when the system cannot tell.
int32_t GetTimeZoneBias();

class TqzDateTime {
 public:
  TqzDateTime() = delete;

  // --- Parsing against format lists (never raise; Default when nothing parses) ---
  // The platform's date reading under the process format settings (its separator and order,
  // its century window), to the end of the text.
  static TDateTime StrToDate(const UnicodeString& Str, TDateTime Default);
  static TDateTime StrToDateExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                TDateTime Default);
  static TDateTime StrToDateExt(const UnicodeString& Str, const std::vector<AnsiString>& Formats,
                                TDateTime Default);
  static TDateTime StrToTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                TDateTime Default);
  static TDateTime StrToDateTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& DateFormats,
                                    const std::vector<UnicodeString>& TimeFormats, TDateTime Default);
  static TDateTime StrToDateTimeExt(const UnicodeString& Str, const std::vector<AnsiString>& DateFormats,
                                    const std::vector<AnsiString>& TimeFormats, TDateTime Default);

  // --- Time stamps ---
  // CompMode true: "#" Date "#" Time in decimal; false: Date and Time as 8 upper-case hex digits,
  // each followed by "h" (the form the system's writers use).
  static AnsiString TimeStampToStr(const TTimeStamp& Stamp, bool CompMode);
  // Reads either text form; a text that is neither is read as a date (date formats "yyyy-mm-dd",
  // the short date format, "dd.mm.yyyy" with "hh:nn:ss" or the long time format). False with a
  // zero stamp when nothing reads. Never raises.
  static bool StrToTimeStamp(const UnicodeString& StampStr, TTimeStamp& TimeStamp);
  // Raises EConvertError "'%d.%d' ist kein gültiger Zeitstempel" when the reading ends in an
  // unusable stamp.
  static TDateTime TimeStampStrToDateTime(const UnicodeString& StampStr);
  static AnsiString DateTimeToTimeStampStr(TDateTime MyDateTime, bool CompMode);

  // Conversions between date-times and stamps. DateTimeToTimeStamp raises EConvertError for a
  // value that has no stamp (not finite, beyond the stamp's range); TimeStampToDateTime raises it
  // for an invalid stamp.
  static TTimeStamp DateTimeToTimeStamp(TDateTime Value);
  static TDateTime TimeStampToDateTime(const TTimeStamp& Stamp);

  // --- ISO 8601 ---
  // "yyyy-mm-dd" for a whole day, "hh:nn:ss" for a time on day 0, else
  // "yyyy-mm-ddThh:nn:ss.zzzZ" (the value as it is; the "Z" is written all the same).
  // EConvertError for a value outside the years 1 to 9999.
  static UnicodeString DateTimeToISO8601Str(TDateTime MyDateTime);
  // Calendar date "T" time with optional zone (the result is the time less its offset), a date
  // with optional time, or a time alone. 0 for an unreadable text, or EConvertError when asked.
  static TDateTime ISO8601ToDateTime(const UnicodeString& ADateTime, bool ARaiseExceptions);

  // --- Short date format ("/" replaced by the date separator) ---
  static UnicodeString ShortDateFormat();
  static UnicodeString ShortDateFormat(const platform::TFormatSettings& LocaleFormat);
  // A 2- or 3-letter language code (looked up in the language table; raises
  // "LCID for locale XX not found!" when unknown) or a locale name such as "de-DE".
  static UnicodeString ShortDateFormat(const UnicodeString& Locale);

  // --- Fixed forms ---
  // Raises EConvertError for fields that make no date-time.
  static TDateTime StrToDateTime_YYYYMMDDHHNNSS(const UnicodeString& Str);
  // Raises EConvertError when a field is no integer or the fields make no date.
  static TDateTime StrToDateTime_YYYYMMDD(const UnicodeString& Str);
  static TDateTime StrToDate_ISO(const UnicodeString& Str);
  static TDateTime StrToDateTime_ISO(const UnicodeString& Str);

  // --- Durations, weekdays, quarters, time zones ---
  static UnicodeString CreateTimeStampStr();     // local now as yyyymmddhhnnsszzz
  static UnicodeString CreateGMTTimeStampStr();  // GMTNow as yyyymmddhhnnsszzz
  // yyyy-mm-dd hh:nn:ss; EConvertError for a value outside the years 1 to 9999.
  static UnicodeString DateTimeToISOStr(TDateTime MyDateTime);
  static int32_t GetQuarter();
  static AnsiString SecToTimeExt(int32_t S);      // "1 day 01:01:01"
  static AnsiString SecToLangTime(uint32_t S);    // "1 hour, 1 minute and 1 second"
  static int32_t GetDayNumberFromStr(const AnsiString& DayName);  // 1 = Sunday .. 7, 0 = none
  static bool StrIsToday(const AnsiString& DayName);
  static TDateTime LocaleDateTimeToGMT(TDateTime AValue);
  static TDateTime GMTToLocaleDateTime(TDateTime AValue);
  static TDateTime GMTNow();
  // The Monday of ISO week `Week` (1..53) of the ISO week-year `Year`; for any other week number
  // the Monday on or before 1 January of `Year`. EConvertError for a year outside 1..9999 or a
  // week the year does not have.
  static TDateTime WeekToDate(int32_t Week, int32_t Year);
  // Seconds since 1970-01-01, or milliseconds when above 999999999999; no zone conversion.
  static TDateTime UnixTimeToDateTime(int64_t UnixTime);
};

// The cipher unit's own copy of the date class. It runs the same code; it differs only in three
// readers: StrToDateExt knows no "yyyymmdd" form, StrToTimeExt no "hhnnss" form, and
// StrToDateTime_YYYYMMDDHHNNSS converts its fields strictly (an unreadable or missing field
// raises EConvertError).
namespace qzInternal {

class TqzDateTime {
 public:
  TqzDateTime() = delete;

  static TDateTime StrToDate(const UnicodeString& Str, TDateTime Default);
  static TDateTime StrToDateExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                TDateTime Default);
  static TDateTime StrToDateExt(const UnicodeString& Str, const std::vector<AnsiString>& Formats,
                                TDateTime Default);
  static TDateTime StrToTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                TDateTime Default);
  static TDateTime StrToDateTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& DateFormats,
                                    const std::vector<UnicodeString>& TimeFormats, TDateTime Default);
  static TDateTime StrToDateTimeExt(const UnicodeString& Str, const std::vector<AnsiString>& DateFormats,
                                    const std::vector<AnsiString>& TimeFormats, TDateTime Default);
  static AnsiString TimeStampToStr(const TTimeStamp& Stamp, bool CompMode);
  static bool StrToTimeStamp(const UnicodeString& StampStr, TTimeStamp& TimeStamp);
  static TDateTime TimeStampStrToDateTime(const UnicodeString& StampStr);
  static AnsiString DateTimeToTimeStampStr(TDateTime MyDateTime, bool CompMode);
  static UnicodeString ShortDateFormat();
  static UnicodeString ShortDateFormat(const platform::TFormatSettings& LocaleFormat);
  static UnicodeString ShortDateFormat(const UnicodeString& Locale);
  static TDateTime StrToDateTime_YYYYMMDDHHNNSS(const UnicodeString& Str);
  static TDateTime StrToDateTime_YYYYMMDD(const UnicodeString& Str);
  static TDateTime StrToDate_ISO(const UnicodeString& Str);

  static UnicodeString CreateTimeStampStr();
  static UnicodeString CreateGMTTimeStampStr();
  static UnicodeString DateTimeToISOStr(TDateTime MyDateTime);
  static int32_t GetQuarter();
  static AnsiString SecToTimeExt(int32_t S);
  static AnsiString SecToLangTime(uint32_t S);
  static int32_t GetDayNumberFromStr(const AnsiString& DayName);
  static bool StrIsToday(const AnsiString& DayName);
  static TDateTime LocaleDateTimeToGMT(TDateTime AValue);
  static TDateTime GMTToLocaleDateTime(TDateTime AValue);
  static TDateTime GMTNow();
};

}  // namespace qzInternal

// The date reading of a typed configuration text (variant type code 7): a text holding "#" or
// "h" is tried as a time stamp first; when that gives 0 or the text holds neither, it is read
// against the date formats "yyyy-mm-dd", the short date format and "dd.mm.yyyy", each with the
// time formats "hh:nn:ss" and the long time format; 0 when nothing fits. May raise the time-stamp
// reader's EConvertError (TqzTypes::StrToVarExt turns that into Null).
namespace qzDateTimeDetail {
TDateTime ReadTypedDateText(const UnicodeString& Text);

// Whole days and milliseconds of the day of a date-time of the years 1 to 9999, for the fixed
// text writers; raises EConvertError for a value that is not finite or lies outside that range.
void SplitCalendarDateTime(TDateTime Value, int64_t& Days, int32_t& MsOfDay);
}
