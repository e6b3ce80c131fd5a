// Locale-dependent formats: decimal and thousands separators, date and time formats, day and
// month names. One process-wide object, built from the process locale (LC_ALL, LC_TIME or LANG;
// C/POSIX or unset gives the invariant English settings) and settable by the program and tests.
//
// Format texts use the platform's letters: d dd ddd dddd, m mm mmm mmmm (months; minutes after h),
// yy yyyy, h hh, n nn, s ss, z zzz, am/pm. In a format, "/" stands for the date separator and ":"
// for the time separator.
#pragma once

#include <array>

#include "Text.h"

namespace platform {

struct TFormatSettings {
  char16_t DecimalSeparator = u'.';
  char16_t ThousandSeparator = u',';
  char16_t DateSeparator = u'/';
  char16_t TimeSeparator = u':';
  UnicodeString ShortDateFormat = u"mm/dd/yyyy";
  UnicodeString LongDateFormat = u"dddd, mmmm d, yyyy";
  UnicodeString ShortTimeFormat = u"hh:nn";
  UnicodeString LongTimeFormat = u"hh:nn:ss";
  UnicodeString TimeAMString = u"AM";
  UnicodeString TimePMString = u"PM";
  std::array<UnicodeString, 12> ShortMonthNames;
  std::array<UnicodeString, 12> LongMonthNames;
  std::array<UnicodeString, 7> ShortDayNames;  // Sunday first
  std::array<UnicodeString, 7> LongDayNames;   // Sunday first
  int TwoDigitYearCenturyWindow = 50;
};

// The invariant (English) settings.
TFormatSettings InvariantFormatSettings();
// Settings of a named locale ("de_DE", "en_US", "fr_FR.UTF-8"); invariant for "C"/"POSIX"/"".
TFormatSettings FormatSettingsForLocale(const std::string& localeName);

// The process-wide settings (a copy), and their replacement.
TFormatSettings GetFormatSettings();
void SetFormatSettings(const TFormatSettings& settings);
// Rebuilds the process-wide settings from the process locale.
void ResetFormatSettings();
// The process-wide time separator, read without copying the settings (for hot paths such as
// the service log's lines).
char16_t CurrentTimeSeparator();

}  // namespace platform
