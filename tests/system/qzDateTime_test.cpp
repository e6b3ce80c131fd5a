// Date and time conversions, checked against tables and against Python's datetime/zoneinfo
// (tests/peers/dates_oracle.py).
#include "qzDateTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"

namespace {

using platform::EncodeDate;
using platform::EncodeTime;
using U = UnicodeString;
using Formats = std::vector<UnicodeString>;

std::vector<std::vector<std::string>> Oracle() {
  static std::vector<std::vector<std::string>> rows = [] {
    std::vector<std::vector<std::string>> r;
    const std::string cmd = std::string("python3 ") + QZ_PEERS_DIR + "/dates_oracle.py";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    while (fgets(buf, sizeof buf, pipe)) {
      std::string line(buf);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      std::vector<std::string> cells;
      std::stringstream ss(line);
      std::string cell;
      while (std::getline(ss, cell, '\t')) cells.push_back(cell);
      r.push_back(cells);
    }
    EXPECT_EQ(pclose(pipe), 0);
    return r;
  }();
  return rows;
}

std::vector<std::vector<std::string>> OracleRows(const std::string& kind) {
  std::vector<std::vector<std::string>> r;
  for (const auto& row : Oracle())
    if (!row.empty() && row[0] == kind) r.push_back(row);
  EXPECT_FALSE(r.empty()) << "oracle gave no " << kind << " rows";
  return r;
}

void SetTZ(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

// Milliseconds of a date-time counted from day 0, for exact comparisons.
int64_t Ms(TDateTime v) { return std::llround(v * 86400000.0); }

// Milliseconds on a straight time line (a date before day 0 counts its time of day forward).
int64_t LinearMs(TDateTime v) {
  int64_t days = 0;
  int32_t ms = 0;
  platform::SplitDateTime(v, days, ms);
  return days * 86400000 + ms;
}

class DateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTZ("UTC");
    platform::SetFormatSettings(platform::InvariantFormatSettings());
    SetNow(2026, 3, 15, 10, 0, 0);
  }
  void TearDown() override {
    platform::ResetClock();
    platform::ResetFormatSettings();
    SetTZ("UTC");
  }
  // Fixes the clock at a UTC wall time.
  static void SetNow(int y, int m, int d, int h, int n, int s) {
    const auto t = platform::FromUtcDateTime(EncodeDate(y, m, d) + EncodeTime(h, n, s, 0));
    platform::SetClock([t] { return t; });
  }
};

// ---------------------------------------------------------------------------------------------
// Format-list readers

TEST_F(DateTimeTest, StrToDateExtTable) {
  const TDateTime def = -7;
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  struct Case {
    U text;
    Formats formats;
    TDateTime expected;
  };
  const Case cases[] = {
      {u"06.05.2023", {u"yyyy-mm-dd", u"dd.mm.yyyy"}, may6},          // first format skipped: no "-"
      {u"2023-05-06", {u"dd.mm.yyyy", u"yyyy-mm-dd"}, may6},
      {u"  06.05.2023 ", {u"dd.mm.yyyy"}, may6},                       // trimmed
      {u"05/06/2023", {u"mm/dd/yyyy"}, may6},                          // month first
      {u"20230506", {u"yyyymmdd"}, may6},                              // the 8-digit form
      {u"2023050", {u"yyyymmdd"}, def},                                // 7 characters: no date
      {u"6.5.23", {u"dd.mm.yyyy"}, may6},                              // century window 70 in 2026
      {u"6.5.56", {u"dd.mm.yyyy"}, EncodeDate(1956, 5, 6)},
      {u"6.5.55", {u"dd.mm.yyyy"}, EncodeDate(2055, 5, 6)},
      {u"06.05.", {u"dd.mm.yyyy"}, EncodeDate(2026, 5, 6)},           // current year
      {u"06.05.2023", {}, def},                                        // empty list
      {u"06.05.2023 14:30", {u"dd.mm.yyyy"}, def},                     // text not consumed
      {u"31.02.2023", {u"dd.mm.yyyy"}, def},                           // no such day
      {u"29.02.2024", {u"dd.mm.yyyy"}, EncodeDate(2024, 2, 29)},
      {u"0023-05-06", {u"yyyy-mm-dd"}, EncodeDate(23, 5, 6)},          // four digits stand as written
      {u"06 05 2023", {u"dd mm yyyy"}, may6},                          // blank separator
      {u"", {u"dd.mm.yyyy"}, def},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TqzDateTime::StrToDateExt(c.text, c.formats, def), c.expected)
        << platform::WideToUtf8(c.text);

  // 8-bit format lists give the same answers.
  EXPECT_EQ(TqzDateTime::StrToDateExt(U(u"06.05.2023"), std::vector<AnsiString>{"yyyy-mm-dd", "dd.mm.yyyy"}, def), may6);
}

// A "/" in a format stands for the date separator of the format settings, as in the formats
// dates are written with: a locale's short date format reads the dates that locale writes.
TEST_F(DateTimeTest, SlashInAFormatIsTheLocaleDateSeparator) {
  const TDateTime def = -7;
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  struct Case {
    const char* locale;
    U text;
    U format;
    TDateTime expected;
  };
  const Case cases[] = {
      {"nl_NL", u"06-05-2023", u"", may6},  // "" stands for the locale's own short date format
      {"nl_NL", u"06-05-2023", u"dd/mm/yyyy", may6},
      {"nl_NL", u"06/05/2023", u"dd/mm/yyyy", def},
      {"de_DE", u"06.05.2023", u"", may6},
      {"en_US", u"5/6/2023", u"", may6},
      {"C", u"05/06/2023", u"mm/dd/yyyy", may6},
      {"C", u"05-06-2023", u"mm-dd-yyyy", may6},  // other separators stand as written
  };
  for (const auto& c : cases) {
    const auto fs = std::string(c.locale) == "C" ? platform::InvariantFormatSettings()
                                                 : platform::FormatSettingsForLocale(c.locale);
    platform::SetFormatSettings(fs);
    const U format = c.format.empty() ? fs.ShortDateFormat : c.format;
    SCOPED_TRACE(std::string(c.locale) + " " + platform::WideToUtf8(c.text) + " " + platform::WideToUtf8(format));
    EXPECT_EQ(TqzDateTime::StrToDateExt(c.text, Formats{u"yyyy-mm-dd", format}, def), c.expected);
    EXPECT_EQ(TqzDateTime::StrToDateTimeExt(c.text + u" 14:30:00", Formats{format}, Formats{u"hh:nn:ss"}, def),
              c.expected == def ? def : c.expected + EncodeTime(14, 30, 0, 0));
  }
}

TEST_F(DateTimeTest, StrToDateExtAgreesWithStrptime) {
  const std::map<std::string, U> formats = {{"%d.%m.%Y", u"dd.mm.yyyy"}, {"%Y-%m-%d", u"yyyy-mm-dd"},
                                            {"%m/%d/%Y", u"mm/dd/yyyy"}};
  for (const auto& row : OracleRows("strptime")) {
    const TDateTime got = TqzDateTime::StrToDateExt(platform::Utf8ToWide(row[2]), Formats{formats.at(row[1])}, -1e6);
    if (row[3] == "none")
      EXPECT_EQ(got, -1e6) << row[2];
    else
      EXPECT_EQ(got, std::stod(row[3])) << row[2];
  }
}

TEST_F(DateTimeTest, StrToTimeExtAndDateTimeExt) {
  const TDateTime def = -7;
  EXPECT_EQ(Ms(TqzDateTime::StrToTimeExt(u"14:30:15", Formats{u"hh:nn:ss"}, def)), Ms(EncodeTime(14, 30, 15, 0)));
  EXPECT_EQ(Ms(TqzDateTime::StrToTimeExt(u"143015", Formats{u"hhnnss"}, def)), Ms(EncodeTime(14, 30, 15, 0)));
  EXPECT_EQ(Ms(TqzDateTime::StrToTimeExt(u"2:30 pm", Formats{u"hh:nn"}, def)), Ms(EncodeTime(14, 30, 0, 0)));
  EXPECT_EQ(Ms(TqzDateTime::StrToTimeExt(u"AM 12:05", Formats{u"hh:nn"}, def)), Ms(EncodeTime(0, 5, 0, 0)));
  EXPECT_EQ(Ms(TqzDateTime::StrToTimeExt(u"14:30:15.250", Formats{u"hh:nn:ss"}, def)), Ms(EncodeTime(14, 30, 15, 250)));
  for (const U bad : {u"24:00", u"13:00 PM", u"12:60", u"14:30 x", u"1430"})
    EXPECT_EQ(TqzDateTime::StrToTimeExt(bad, Formats{u"hh:nn:ss"}, def), def) << platform::WideToUtf8(bad);

  const Formats dates{u"dd.mm.yyyy"}, times{u"hh:nn:ss"};
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  struct Case {
    U text;
    TDateTime expected;
  };
  const Case cases[] = {
      {u"06.05.2023 14:30:00", may6 + EncodeTime(14, 30, 0, 0)},
      {u"12:30", EncodeTime(12, 30, 0, 0)},                        // a time alone: day 0
      {u"06.05.2023 2:30 PM", may6 + EncodeTime(14, 30, 0, 0)},
      {u"06.05.2023 PM 2:30", may6 + EncodeTime(14, 30, 0, 0)},    // marker before the time
      {u"Date: 06.05.2023", may6},                                 // leading text skipped
      {u"06.05.2023 rest", may6},                                  // rest ignored
      {u"06.05.2023 25:00", def},                                  // time present but invalid
      {u"2023", def},                                              // neither separator
      {u"29.12.1899 06:00", -1.25},                                // before day 0: date minus time
  };
  for (const auto& c : cases)
    EXPECT_EQ(Ms(TqzDateTime::StrToDateTimeExt(c.text, dates, times, def)), Ms(c.expected)) << platform::WideToUtf8(c.text);
  EXPECT_EQ(TqzDateTime::StrToDateTimeExt(u"06.05.2023", Formats{}, times, def), def);
  EXPECT_EQ(TqzDateTime::StrToDateTime_ISO(u"2023-05-06 14:30:00"), may6 + EncodeTime(14, 30, 0, 0));
  EXPECT_EQ(TqzDateTime::StrToDate_ISO(u"2023-05-06"), may6);
  EXPECT_EQ(TqzDateTime::StrToDate_ISO(u"06.05.2023"), 0);
}

TEST_F(DateTimeTest, StrToDateFollowsTheProcessFormats) {
  EXPECT_EQ(TqzDateTime::StrToDate(u"05/06/2023", -1), EncodeDate(2023, 5, 6));  // invariant: month first
  EXPECT_EQ(TqzDateTime::StrToDate(u"06.05.2023", -1), -1);
  platform::SetFormatSettings(platform::FormatSettingsForLocale("de_DE"));
  EXPECT_EQ(TqzDateTime::StrToDate(u"06.05.2023", -1), EncodeDate(2023, 5, 6));
  EXPECT_EQ(TqzDateTime::StrToDate(u"06.05.30", -1), EncodeDate(2030, 5, 6));  // window 50 in 2026: 76..75
}

// ---------------------------------------------------------------------------------------------
// Time stamps

TEST_F(DateTimeTest, TimeStampFormsAndOrdinalsAgreeWithPython) {
  for (const auto& row : OracleRows("ordinal")) {
    const TDateTime d = EncodeDate(std::stoi(row[1]), std::stoi(row[2]), std::stoi(row[3]));
    EXPECT_EQ(d, std::stod(row[5])) << row[1] << "-" << row[2] << "-" << row[3];
    const TDateTime noon = d >= 0 ? d + 0.5 : d - 0.5;  // before day 0 the time counts away from it
    const TTimeStamp ts = TqzDateTime::DateTimeToTimeStamp(noon);
    EXPECT_EQ(ts.Date, std::stoi(row[4]));
    EXPECT_EQ(ts.Time, 43200000);
    EXPECT_EQ(TqzDateTime::TimeStampToDateTime(ts), noon);
  }
  const TDateTime noon = EncodeDate(2023, 5, 6) + 0.5;
  EXPECT_EQ(TqzDateTime::DateTimeToTimeStampStr(noon, false), "000B4556h02932E00h");
  EXPECT_EQ(TqzDateTime::DateTimeToTimeStampStr(noon, true), "#738646#43200000");
  EXPECT_EQ(qzInternal::TqzDateTime::DateTimeToTimeStampStr(noon, false), "000B4556h02932E00h");
}

TEST_F(DateTimeTest, StrToTimeStampReadsBothFormsAndFallsBack) {
  const TDateTime noon = EncodeDate(2023, 5, 6) + 0.5;
  for (const U text : {u"000B4556h02932E00h", u"000b4556h02932e00h", u"#738646#43200000", u"abc#738646#43200000",
                       u"  000B4556h02932E00h  "}) {
    TTimeStamp ts;
    EXPECT_TRUE(TqzDateTime::StrToTimeStamp(text, ts)) << platform::WideToUtf8(text);
    EXPECT_EQ(ts, (TTimeStamp{43200000, 738646}));
    EXPECT_EQ(TqzDateTime::TimeStampStrToDateTime(text), noon);
    EXPECT_EQ(qzInternal::TqzDateTime::TimeStampStrToDateTime(text), noon);
  }
  // Not a stamp: read as a date.
  EXPECT_EQ(TqzDateTime::TimeStampStrToDateTime(u"2023-05-06"), EncodeDate(2023, 5, 6));
  EXPECT_EQ(TqzDateTime::TimeStampStrToDateTime(u"06.05.2023 12:00:00"), noon);
  EXPECT_EQ(TqzDateTime::TimeStampStrToDateTime(u""), 0);
  // A stamp that does not exist raises the German conversion error.
  try {
    TqzDateTime::TimeStampStrToDateTime(u"#0#5");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(platform::WideToUtf8(e.Message), "'0.5' ist kein gültiger Zeitstempel");
  }
  EXPECT_THROW(TqzDateTime::TimeStampStrToDateTime(u"00000001h05265C00h"), EConvertError);  // 86400000 ms
}

TEST_F(DateTimeTest, TimeStampFallbackEndsOnTextsFullOfMarkers) {
  // Each "h" or "#" could send the reading once more around the time-stamp/date cycle.
  const U many = U(20000, u'h') + U(20000, u'#') + u"06.05.2023";
  TTimeStamp ts;
  TqzDateTime::StrToTimeStamp(many, ts);
  EXPECT_EQ(qzDateTimeDetail::ReadTypedDateText(u"5 March 2023"), 0);  // read once, then given up
  EXPECT_EQ(qzDateTimeDetail::ReadTypedDateText(u"06.05.2023 hh"), EncodeDate(2023, 5, 6));
}

// ---------------------------------------------------------------------------------------------
// ISO 8601

TEST_F(DateTimeTest, ISO8601AgreesWithFromisoformat) {
  for (const auto& row : OracleRows("iso")) {
    const U text = platform::Utf8ToWide(row[1]);
    EXPECT_EQ(LinearMs(TqzDateTime::ISO8601ToDateTime(text, true)), std::stoll(row[2])) << row[1];
  }
}

TEST_F(DateTimeTest, ISO8601AndISOTextsAgreeWithIsoformat) {
  for (const auto& row : OracleRows("isowrite")) {
    const TDateTime date = EncodeDate(std::stoi(row[1]), std::stoi(row[2]), std::stoi(row[3]));
    const TDateTime time = EncodeTime(std::stoi(row[4]), std::stoi(row[5]), std::stoi(row[6]), std::stoi(row[7]));
    const TDateTime value = date >= 0 ? date + time : date - time;  // before day 0 the time counts away from it
    EXPECT_EQ(platform::WideToUtf8(TqzDateTime::DateTimeToISO8601Str(value)), row[8]);
    EXPECT_EQ(platform::WideToUtf8(TqzDateTime::DateTimeToISOStr(value)), row[9]);
    EXPECT_EQ(Ms(TqzDateTime::ISO8601ToDateTime(platform::Utf8ToWide(row[8]), true)), Ms(value)) << row[8];
  }
}

TEST_F(DateTimeTest, ISO8601WriteAndReadBack) {
  // The written form is ':'-separated even where the locale's time separator is '.'.
  auto fs = platform::InvariantFormatSettings();
  fs.TimeSeparator = u'.';
  platform::SetFormatSettings(fs);
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  EXPECT_EQ(TqzDateTime::DateTimeToISO8601Str(may6), u"2023-05-06");
  EXPECT_EQ(TqzDateTime::DateTimeToISO8601Str(0.5), u"12:00:00");
  EXPECT_EQ(TqzDateTime::DateTimeToISO8601Str(may6 + 0.5), u"2023-05-06T12:00:00.000Z");
  EXPECT_EQ(TqzDateTime::DateTimeToISOStr(may6 + EncodeTime(7, 8, 9, 0)), u"2023-05-06 07:08:09");
  EXPECT_EQ(TqzDateTime::DateTimeToISO8601Str(EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999)),
            u"9999-12-31T23:59:59.999Z");
  // A value that is no date of the years 1 to 9999 is refused instead of being written as a
  // date nobody gave.
  for (const TDateTime bad : {EncodeDate(9999, 12, 31) + 1, EncodeDate(1, 1, 1) - 1, 1.0e9, std::nan(""), -HUGE_VAL}) {
    EXPECT_THROW(TqzDateTime::DateTimeToISO8601Str(bad), EConvertError) << bad;
    EXPECT_THROW(TqzDateTime::DateTimeToISOStr(bad), EConvertError) << bad;
  }
  for (const TDateTime v : {may6, may6 + EncodeTime(14, 30, 0, 250), EncodeTime(23, 59, 59, 0),
                            EncodeDate(1850, 1, 1) - EncodeTime(6, 0, 0, 1)})
    EXPECT_EQ(Ms(TqzDateTime::ISO8601ToDateTime(TqzDateTime::DateTimeToISO8601Str(v), true)), Ms(v));

  EXPECT_EQ(Ms(TqzDateTime::ISO8601ToDateTime(u"12:30:45.250", false)), Ms(EncodeTime(12, 30, 45, 250)));
  EXPECT_EQ(Ms(TqzDateTime::ISO8601ToDateTime(u"12:30:45.5", false)), Ms(EncodeTime(12, 30, 45, 500)));
  EXPECT_EQ(Ms(TqzDateTime::ISO8601ToDateTime(u"2023-05-06T24:00:00", false)), Ms(may6 + 1));
  EXPECT_EQ(Ms(TqzDateTime::ISO8601ToDateTime(u"2023-05-06 14:30", false)), Ms(may6 + EncodeTime(14, 30, 0, 0)));
  for (const U bad : {u"12:30:45.abc", u"2023-05-06T12:00:00+2", u"2023-13-06T12:00:00", u"nonsense", u""}) {
    EXPECT_EQ(TqzDateTime::ISO8601ToDateTime(bad, false), 0) << platform::WideToUtf8(bad);
    EXPECT_THROW(TqzDateTime::ISO8601ToDateTime(bad, true), EConvertError) << platform::WideToUtf8(bad);
  }
}

// ---------------------------------------------------------------------------------------------
// Fixed forms and locale formats

TEST_F(DateTimeTest, FixedPositionForms) {
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  EXPECT_EQ(TqzDateTime::StrToDateTime_YYYYMMDD(u"20230506rest"), may6);
  EXPECT_THROW(TqzDateTime::StrToDateTime_YYYYMMDD(u"2023x506"), EConvertError);
  EXPECT_THROW(TqzDateTime::StrToDateTime_YYYYMMDD(u"20231306"), EConvertError);
  EXPECT_EQ(Ms(TqzDateTime::StrToDateTime_YYYYMMDDHHNNSS(u"20230506143015")), Ms(may6 + EncodeTime(14, 30, 15, 0)));
  EXPECT_EQ(TqzDateTime::StrToDateTime_YYYYMMDDHHNNSS(u"20230506"), may6);  // missing time fields count 0
  EXPECT_THROW(TqzDateTime::StrToDateTime_YYYYMMDDHHNNSS(u"20230506250000"), EConvertError);
  // The cipher unit's copy is strict and has no special forms.
  EXPECT_THROW(qzInternal::TqzDateTime::StrToDateTime_YYYYMMDDHHNNSS(u"20230506"), EConvertError);
  EXPECT_EQ(qzInternal::TqzDateTime::StrToDateExt(U(u"20230506"), Formats{u"yyyymmdd"}, -1), -1);
  EXPECT_EQ(qzInternal::TqzDateTime::StrToDateExt(U(u"2023.05.06"), Formats{u"yyyymmdd"}, -1), may6);
  EXPECT_EQ(qzInternal::TqzDateTime::StrToTimeExt(U(u"143015"), Formats{u"hhnnss"}, -1), -1);
}

TEST_F(DateTimeTest, ShortDateFormats) {
  EXPECT_EQ(TqzDateTime::ShortDateFormat(), u"mm/dd/yyyy");
  EXPECT_EQ(TqzDateTime::ShortDateFormat(platform::FormatSettingsForLocale("de_DE")), u"dd.mm.yyyy");
  EXPECT_EQ(TqzDateTime::ShortDateFormat(U(u"de")), u"dd.mm.yyyy");
  EXPECT_EQ(TqzDateTime::ShortDateFormat(U(u" ger ")), u"dd.mm.yyyy");
  EXPECT_EQ(TqzDateTime::ShortDateFormat(U(u"EN")), TqzDateTime::ShortDateFormat(platform::FormatSettingsForLocale("en_GB")));
  EXPECT_EQ(TqzDateTime::ShortDateFormat(U(u"de-DE")), u"dd.mm.yyyy");
  try {
    TqzDateTime::ShortDateFormat(U(u"xx"));
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"LCID for locale XX not found!");
  }
  EXPECT_THROW(TqzDateTime::ShortDateFormat(U(u"AA")), Exception);  // a row without an LCID
}

// ---------------------------------------------------------------------------------------------
// Durations, weekdays, quarters, weeks, Unix times

TEST_F(DateTimeTest, DurationTexts) {
  const std::pair<int32_t, const char*> clock[] = {{59, "00:00:59"},         {3661, "01:01:01"},
                                                   {86400, "1 day 00:00:00"}, {90061, "1 day 01:01:01"},
                                                   {172800, "2 days 00:00:00"}, {0, "00:00:00"}};
  for (const auto& [s, text] : clock) EXPECT_EQ(TqzDateTime::SecToTimeExt(s), text) << s;
  const std::pair<uint32_t, const char*> words[] = {{0, ""},
                                                    {1, "1 second"},
                                                    {62, "1 minute and 2 seconds"},
                                                    {7200, "2 hours"},
                                                    {90000, "1 day and 1 hour"},
                                                    {3661, "1 hour, 1 minute and 1 second"},
                                                    {90061, "1 day, 1 hour, 1 minute and 1 second"},
                                                    {4294967295u, "49710 days, 6 hours, 28 minutes and 15 seconds"}};
  for (const auto& [s, text] : words) EXPECT_EQ(TqzDateTime::SecToLangTime(s), text) << s;
}

TEST_F(DateTimeTest, WeekdaysAndQuarters) {
  const std::pair<const char*, int> days[] = {{"sonntag", 1}, {"tue", 3}, {"xyz", 0}, {"", 0}, {"MO", 2},
                                              {"SA", 7},      {"S", 1},   {"DO", 5},  {"Mittwoch", 4},
                                              {"Mondayy", 0}};
  for (const auto& [name, n] : days) EXPECT_EQ(TqzDateTime::GetDayNumberFromStr(name), n) << name;
  // 2026-03-15 is a Sunday.
  EXPECT_TRUE(TqzDateTime::StrIsToday("Sunday"));
  EXPECT_TRUE(TqzDateTime::StrIsToday("so"));
  EXPECT_FALSE(TqzDateTime::StrIsToday("Monday"));
  EXPECT_FALSE(TqzDateTime::StrIsToday("xyz"));
  EXPECT_EQ(TqzDateTime::GetQuarter(), 1);
  SetNow(2026, 12, 31, 23, 59, 59);
  EXPECT_EQ(TqzDateTime::GetQuarter(), 4);
  EXPECT_EQ(TqzDateTime::CreateTimeStampStr(), u"20261231235959000");
}

TEST_F(DateTimeTest, WeekToDateAgreesWithIsoCalendar) {
  std::map<int, int> weekday;  // year -> ISO weekday of 1 January
  for (const auto& row : OracleRows("weekyear")) weekday[std::stoi(row[1])] = std::stoi(row[3]);
  // Every week 1..53 of every year gives the Monday Python's ISO calendar gives; a week the year
  // does not have is refused, never answered with a Monday of another year.
  for (const auto& row : OracleRows("isoweek")) {
    const int year = std::stoi(row[1]), week = std::stoi(row[2]);
    if (row[3] == "none")
      EXPECT_THROW(TqzDateTime::WeekToDate(week, year), EConvertError) << year << " W" << week;
    else
      EXPECT_EQ(TqzDateTime::WeekToDate(week, year), std::stod(row[3])) << year << " W" << week;
  }
  // Any other week number gives the Monday on or before 1 January.
  for (const auto& [year, isoDay] : weekday) {
    const TDateTime start = EncodeDate(year, 1, 1) - (isoDay - 1);
    for (int week : {0, -1, 54, 1000}) EXPECT_EQ(TqzDateTime::WeekToDate(week, year), start) << year << " W" << week;
  }
  EXPECT_EQ(TqzDateTime::WeekToDate(1, 2024), EncodeDate(2024, 1, 1));
  EXPECT_EQ(TqzDateTime::WeekToDate(0, 2024), EncodeDate(2024, 1, 1));
  EXPECT_EQ(TqzDateTime::WeekToDate(0, 2021), EncodeDate(2020, 12, 28));
  EXPECT_EQ(TqzDateTime::WeekToDate(1, 2021), EncodeDate(2021, 1, 4));
  EXPECT_EQ(TqzDateTime::WeekToDate(52, 2022), EncodeDate(2022, 12, 26));  // not the Monday of 2021's week 52
  EXPECT_EQ(TqzDateTime::WeekToDate(53, 2020), EncodeDate(2020, 12, 28));
  EXPECT_THROW(TqzDateTime::WeekToDate(53, 2021), EConvertError);  // 28 Dec 2020 belongs to 2020
  EXPECT_THROW(TqzDateTime::WeekToDate(53, 2024), EConvertError);  // 2024 has 52 weeks
  EXPECT_EQ(TqzDateTime::WeekToDate(52, 9999), EncodeDate(9999, 12, 27));
  EXPECT_THROW(TqzDateTime::WeekToDate(53, 9999), EConvertError);
  EXPECT_THROW(TqzDateTime::WeekToDate(1, 0), EConvertError);
  EXPECT_THROW(TqzDateTime::WeekToDate(1, 10000), EConvertError);
}

TEST_F(DateTimeTest, UnixTimes) {
  for (const auto& row : OracleRows("unix"))
    EXPECT_EQ(Ms(TqzDateTime::UnixTimeToDateTime(std::stoll(row[1]))), std::stoll(row[2])) << row[1];
  EXPECT_EQ(TqzDateTime::UnixTimeToDateTime(0), EncodeDate(1970, 1, 1));
  EXPECT_EQ(Ms(TqzDateTime::UnixTimeToDateTime(1000000000000LL)), Ms(EncodeDate(2001, 9, 9) + EncodeTime(1, 46, 40, 0)));
  EXPECT_EQ(Ms(TqzDateTime::UnixTimeToDateTime(999999999999LL)), Ms(25569 + 999999999999.0 / 86400));
}

// ---------------------------------------------------------------------------------------------
// Time zones

TEST_F(DateTimeTest, TimeZoneBiasAgreesWithZoneinfo) {
  for (const auto& row : OracleRows("tzoffset")) {
    SetTZ(row[1].c_str());
    const auto t = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(std::stoll(row[2])));
    platform::SetClock([t] { return t; });
    EXPECT_EQ(GetTimeZoneBias(), std::stoi(row[3])) << row[1] << " " << row[2];
    // GMTNow is the clock's instant in UTC.
    EXPECT_EQ(Ms(TqzDateTime::GMTNow()), Ms(platform::ToUtcDateTime(t))) << row[1];
  }
}

TEST_F(DateTimeTest, LocalAndGmtUseTheOffsetOfTheDateConverted) {
  // A winter clock must not shift a summer date by the winter offset.
  SetNow(2026, 1, 10, 12, 0, 0);
  for (const auto& row : OracleRows("localutc")) {
    SetTZ(row[1].c_str());
    // Day and time of day combined as date-times count them (before day 0 the time counts forward).
    const TDateTime local = platform::CombineDateTime(
        static_cast<int64_t>(EncodeDate(std::stoi(row[2]), std::stoi(row[3]), std::stoi(row[4]))),
        ((std::stoi(row[5]) * 60 + std::stoi(row[6])) * 60 + std::stoi(row[7])) * 1000);
    const TDateTime gmt = TqzDateTime::LocaleDateTimeToGMT(local);
    EXPECT_EQ(LinearMs(gmt), std::stoll(row[8])) << row[1] << " " << row[2];
    EXPECT_EQ(LinearMs(TqzDateTime::GMTToLocaleDateTime(gmt)), LinearMs(local)) << row[1] << " " << row[2];
  }
  SetTZ("Europe/Berlin");
  EXPECT_EQ(TqzDateTime::CreateGMTTimeStampStr(), u"20260110120000000");
  EXPECT_EQ(TqzDateTime::CreateTimeStampStr(), u"20260110130000000");
}

}  // namespace
