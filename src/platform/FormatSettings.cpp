#include "FormatSettings.h"

#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/smpdtfmt.h>

#include <cstdlib>
#include <memory>
#include <atomic>
#include <mutex>

namespace platform {
namespace {

UnicodeString FromIcu(const icu::UnicodeString& s) {
  return UnicodeString(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<size_t>(s.length()));
}

// Turns an ICU date/time pattern into the platform's format letters, with "/" for the date
// separator and ":" for the time separator. `dateSep`/`timeSep` receive the separators found.
UnicodeString ConvertPattern(const UnicodeString& pattern, char16_t& dateSep, char16_t& timeSep, bool isDate) {
  UnicodeString out;
  size_t i = 0;
  while (i < pattern.size()) {
    const char16_t c = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    switch (c) {
      case u'y': out += u"yyyy"; break;
      case u'M': case u'L': out += run >= 4 ? u"mmmm" : (run == 3 ? u"mmm" : (run == 2 ? u"mm" : u"m")); break;
      case u'd': out += run >= 2 ? u"dd" : u"d"; break;
      case u'E': case u'c': out += run >= 4 ? u"dddd" : u"ddd"; break;
      case u'H': case u'h': case u'k': case u'K': out += run >= 2 ? u"hh" : u"h"; break;
      case u'm': out += run >= 2 ? u"nn" : u"n"; break;
      case u's': out += run >= 2 ? u"ss" : u"s"; break;
      case u'a': out += u"ampm"; break;
      case u'\'': {
        // Quoted literal text.
        size_t j = i + 1;
        UnicodeString lit;
        while (j < pattern.size() && pattern[j] != u'\'') lit.push_back(pattern[j++]);
        out += u'"' + lit + u'"';
        run = j - i + 1;
        break;
      }
      default:
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
          // Pattern letters without a platform counterpart (era, zone) are dropped.
        } else if (isDate && (c == u'.' || c == u'/' || c == u'-')) {
          dateSep = c;
          out += u'/';
        } else if (!isDate && (c == u':' || c == u'.')) {
          timeSep = c;
          out += u':';
        } else {
          out.append(run, c);
        }
        break;
    }
    i += run;
  }
  return out;
}

void FillEnglishNames(TFormatSettings& s) {
  static const char* kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const char* kLongMonths[] = {"January", "February", "March", "April", "May", "June", "July",
                                      "August", "September", "October", "November", "December"};
  static const char* kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kLongDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  for (int i = 0; i < 12; ++i) {
    s.ShortMonthNames[i] = ToU16(kShortMonths[i]);
    s.LongMonthNames[i] = ToU16(kLongMonths[i]);
  }
  for (int i = 0; i < 7; ++i) {
    s.ShortDayNames[i] = ToU16(kShortDays[i]);
    s.LongDayNames[i] = ToU16(kLongDays[i]);
  }
}

std::string ProcessLocaleName() {
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return v;
  }
  return "C";
}

std::mutex& SettingsMutex() {
  static std::mutex m;
  return m;
}

std::unique_ptr<TFormatSettings>& SettingsSlot() {
  static std::unique_ptr<TFormatSettings> slot;
  return slot;
}

// The time separator of the settings in force; 0 until they are first built.
std::atomic<char16_t>& TimeSeparatorCache() {
  static std::atomic<char16_t> separator{0};
  return separator;
}

}  // namespace

TFormatSettings InvariantFormatSettings() {
  TFormatSettings s;
  FillEnglishNames(s);
  return s;
}

TFormatSettings FormatSettingsForLocale(const std::string& localeName) {
  std::string name = localeName;
  const auto dot = name.find_first_of(".@");
  if (dot != std::string::npos) name.resize(dot);
  if (name.empty() || name == "C" || name == "POSIX") return InvariantFormatSettings();

  TFormatSettings s = InvariantFormatSettings();
  const icu::Locale locale(name.c_str());
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(locale, status);
  if (U_SUCCESS(status)) {
    const auto dec = symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
    const auto grp = symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
    if (dec.length() == 1) s.DecimalSeparator = dec.charAt(0);
    if (grp.length() == 1) s.ThousandSeparator = grp.charAt(0);
  }

  auto patternOf = [&](icu::DateFormat* fmt) -> UnicodeString {
    std::unique_ptr<icu::DateFormat> owner(fmt);
    auto* simple = dynamic_cast<icu::SimpleDateFormat*>(fmt);
    if (!simple) return {};
    icu::UnicodeString p;
    simple->toPattern(p);
    return FromIcu(p);
  };
  char16_t dateSep = s.DateSeparator, timeSep = s.TimeSeparator;
  const UnicodeString shortDate = patternOf(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
  const UnicodeString longDate = patternOf(icu::DateFormat::createDateInstance(icu::DateFormat::kFull, locale));
  const UnicodeString shortTime = patternOf(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale));
  const UnicodeString longTime = patternOf(icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, locale));
  if (!shortDate.empty()) s.ShortDateFormat = ConvertPattern(shortDate, dateSep, timeSep, true);
  if (!longDate.empty()) {
    char16_t ignored = dateSep;
    s.LongDateFormat = ConvertPattern(longDate, ignored, timeSep, true);
  }
  if (!shortTime.empty()) s.ShortTimeFormat = ConvertPattern(shortTime, dateSep, timeSep, false);
  if (!longTime.empty()) s.LongTimeFormat = ConvertPattern(longTime, dateSep, timeSep, false);
  s.DateSeparator = dateSep;
  s.TimeSeparator = timeSep;

  status = U_ZERO_ERROR;
  icu::DateFormatSymbols names(locale, status);
  if (U_SUCCESS(status)) {
    int32_t n = 0;
    const icu::UnicodeString* v = names.getMonths(n, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::WIDE);
    for (int i = 0; i < 12 && i < n; ++i) s.LongMonthNames[i] = FromIcu(v[i]);
    v = names.getMonths(n, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::ABBREVIATED);
    for (int i = 0; i < 12 && i < n; ++i) s.ShortMonthNames[i] = FromIcu(v[i]);
    // ICU's weekday arrays start with an empty entry at index 0; Sunday is 1.
    v = names.getWeekdays(n, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::WIDE);
    for (int i = 0; i < 7 && i + 1 < n; ++i) s.LongDayNames[i] = FromIcu(v[i + 1]);
    v = names.getWeekdays(n, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::ABBREVIATED);
    for (int i = 0; i < 7 && i + 1 < n; ++i) s.ShortDayNames[i] = FromIcu(v[i + 1]);
    const icu::UnicodeString* ampm = names.getAmPmStrings(n);
    if (n >= 2) {
      s.TimeAMString = FromIcu(ampm[0]);
      s.TimePMString = FromIcu(ampm[1]);
    }
  }
  return s;
}

TFormatSettings GetFormatSettings() {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  auto& slot = SettingsSlot();
  if (!slot) {
    slot = std::make_unique<TFormatSettings>(FormatSettingsForLocale(ProcessLocaleName()));
    TimeSeparatorCache() = slot->TimeSeparator;
  }
  return *slot;
}

void SetFormatSettings(const TFormatSettings& settings) {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  SettingsSlot() = std::make_unique<TFormatSettings>(settings);
  TimeSeparatorCache() = settings.TimeSeparator;
}

void ResetFormatSettings() {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  SettingsSlot() = std::make_unique<TFormatSettings>(FormatSettingsForLocale(ProcessLocaleName()));
  TimeSeparatorCache() = SettingsSlot()->TimeSeparator;
}

char16_t CurrentTimeSeparator() {
  const char16_t cached = TimeSeparatorCache().load();
  return cached != 0 ? cached : GetFormatSettings().TimeSeparator;
}

}  // namespace platform
