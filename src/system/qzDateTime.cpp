// Dates and times (see qzDateTime.h for the rules and the decisions taken).
#include "qzDateTime.h"

#include <unicode/uloc.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fmt/format.h>

#include "CaseMap.h"
#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "qzConversion.h"

namespace {

using platform::ToU16;

constexpr int64_t kMsPerDay = 86400000;
constexpr int32_t kStampDelta = 693594;  // 1899-12-30 as a stamp day (0001-01-01 is day 1)
constexpr int kCenturyWindow = 70;

// ---------------------------------------------------------------------------------------------
// Constant tables

// The language table: ISO 639-1, ISO 639-2/B, ISO 639-2/T, Windows code, LCID (hex).
// (The English names of the languages are not needed by any operation.)
struct LanguageRow {
  const char16_t* Iso6391;
  const char16_t* Iso6392B;
  const char16_t* Iso6392T;
  const char16_t* WinCode;
  const char16_t* Lcid;
};

const LanguageRow kLanguageTable[] = {
    {u"AA", u"AAR", u"", u"", u""}, {u"AB", u"ABK", u"", u"", u""}, {u"AF", u"AFR", u"", u"", u""},
    {u"SQ", u"ALB", u"SQI", u"SQI", u"041C"}, {u"AM", u"AMH", u"", u"", u""},
    {u"AR", u"ARA", u"", u"ARA", u"0401"}, {u"AN", u"ARG", u"", u"ARG", u"1401"},
    {u"HY", u"ARM", u"HYE", u"HYE", u"042B"}, {u"AS", u"ASM", u"", u"", u""},
    {u"AE", u"AVE", u"", u"", u""}, {u"AY", u"AYM", u"", u"", u""},
    {u"AZ", u"AZE", u"", u"AZE", u"042C"}, {u"BA", u"BAK", u"", u"", u""},
    {u"EU", u"BAQ", u"EUS", u"", u""}, {u"BE", u"BEL", u"", u"BEL", u"0423"},
    {u"BN", u"BEN", u"", u"", u""}, {u"BH", u"BIH", u"", u"", u""}, {u"BI", u"BIS", u"", u"", u""},
    {u"BS", u"BOS", u"", u"", u""}, {u"BR", u"BRE", u"", u"", u""}, {u"BG", u"BUL", u"", u"", u""},
    {u"MY", u"BUR", u"MYA", u"", u""}, {u"CA", u"CAT", u"", u"CAT", u"0403"},
    {u"CH", u"CHA", u"", u"", u""}, {u"CE", u"CHE", u"", u"", u""},
    {u"ZH", u"CHI", u"ZHO", u"", u""}, {u"CU", u"CHU", u"", u"", u""},
    {u"CV", u"CHV", u"", u"", u""}, {u"KW", u"COR", u"", u"", u""}, {u"CO", u"COS", u"", u"", u""},
    {u"CS", u"CZE", u"CES", u"", u""}, {u"DA", u"DAN", u"", u"DAN", u"0406"},
    {u"DV", u"DIV", u"", u"DIV", u"0465"}, {u"NL", u"DUT", u"NLD", u"NLD", u"0413"},
    {u"DZ", u"DZO", u"", u"", u""}, {u"EN", u"ENG", u"", u"ENG", u"0809"},
    {u"EO", u"EPO", u"", u"", u""}, {u"ET", u"EST", u"", u"", u""}, {u"FO", u"FAO", u"", u"", u""},
    {u"FJ", u"FIJ", u"", u"", u""}, {u"FI", u"FIN", u"", u"FIN", u"040B"},
    {u"FR", u"FRE", u"FRA", u"FRA", u"040C"}, {u"FY", u"FRY", u"", u"", u""},
    {u"KA", u"GEO", u"KAT", u"KAT", u"0437"}, {u"DE", u"GER", u"DEU", u"DEU", u"0407"},
    {u"GD", u"GLA", u"", u"", u""}, {u"GA", u"GLE", u"", u"", u""}, {u"GL", u"GLG", u"", u"", u""},
    {u"GV", u"GLV", u"", u"", u""}, {u"EL", u"GRE", u"ELL", u"ELL", u"0408"},
    {u"GN", u"GRN", u"", u"", u""}, {u"GU", u"GUJ", u"", u"GUJ", u"0447"},
    {u"HT", u"HAT", u"", u"", u""}, {u"HA", u"HAU", u"", u"", u""},
    {u"HE", u"HEB", u"", u"HEB", u"040D"}, {u"HZ", u"HER", u"", u"", u""},
    {u"HI", u"HIN", u"", u"HIN", u"0439"}, {u"HO", u"HMO", u"", u"", u""},
    {u"HU", u"HUN", u"", u"HUN", u"040E"}, {u"IS", u"ICE", u"ISL", u"ISL", u"040F"},
    {u"IO", u"IDO", u"", u"", u""}, {u"II", u"III", u"", u"", u""}, {u"IU", u"IKU", u"", u"", u""},
    {u"IE", u"ILE", u"", u"", u""}, {u"IA", u"INA", u"", u"", u""},
    {u"ID", u"IND", u"", u"IND", u"0421"}, {u"IK", u"IPK", u"", u"", u""},
    {u"IT", u"ITA", u"", u"ITA", u"0410"}, {u"JV", u"JAV", u"", u"", u""},
    {u"JA", u"JPN", u"", u"JPN", u"0411"}, {u"KL", u"KAL", u"", u"", u""},
    {u"KN", u"KAN", u"", u"KAN", u"044B"}, {u"KS", u"KAS", u"", u"", u""},
    {u"KK", u"KAZ", u"", u"", u""}, {u"KM", u"KHM", u"", u"", u""}, {u"KI", u"KIK", u"", u"", u""},
    {u"RW", u"KIN", u"", u"", u""}, {u"KY", u"KIR", u"", u"", u""}, {u"KV", u"KOM", u"", u"", u""},
    {u"KO", u"KOR", u"", u"KOR", u"0412"}, {u"KJ", u"KUA", u"", u"", u""},
    {u"KU", u"KUR", u"", u"", u""}, {u"LO", u"LAO", u"", u"", u""}, {u"LA", u"LAT", u"", u"", u""},
    {u"LV", u"LAV", u"", u"", u""}, {u"LI", u"LIM", u"", u"", u""}, {u"LN", u"LIN", u"", u"", u""},
    {u"LT", u"LIT", u"", u"", u""}, {u"LB", u"LTZ", u"", u"", u""},
    {u"MK", u"MAC", u"MKD", u"", u""}, {u"MH", u"MAH", u"", u"", u""},
    {u"ML", u"MAL", u"", u"", u""}, {u"MI", u"MAO", u"MRI", u"", u""},
    {u"MR", u"MAR", u"", u"MAR", u"044E"}, {u"MS", u"MAY", u"MSA", u"", u""},
    {u"MG", u"MLG", u"", u"", u""}, {u"MT", u"MLT", u"", u"", u""}, {u"MO", u"MOL", u"", u"", u""},
    {u"MN", u"MON", u"", u"MON", u"0450"}, {u"NA", u"NAU", u"", u"", u""},
    {u"NV", u"NAV", u"", u"", u""}, {u"NR", u"NBL", u"", u"", u""}, {u"ND", u"NDE", u"", u"", u""},
    {u"NG", u"NDO", u"", u"", u""}, {u"NE", u"NEP", u"", u"", u""}, {u"NN", u"NNO", u"", u"", u""},
    {u"NB", u"NOB", u"", u"", u""}, {u"NO", u"NOR", u"", u"NOR", u"0414"},
    {u"NY", u"NYA", u"", u"", u""}, {u"OC", u"OCI", u"", u"", u""}, {u"OR", u"ORI", u"", u"", u""},
    {u"OM", u"ORM", u"", u"", u""}, {u"OS", u"OSS", u"", u"", u""},
    {u"PA", u"PAN", u"", u"PAN", u"0446"}, {u"FA", u"PER", u"FAS", u"", u""},
    {u"PI", u"PLI", u"", u"", u""}, {u"PL", u"POL", u"", u"", u""}, {u"PT", u"POR", u"", u"", u""},
    {u"PS", u"PUS", u"", u"", u""}, {u"QU", u"QUE", u"", u"", u""}, {u"RM", u"ROH", u"", u"", u""},
    {u"RO", u"RUM", u"RON", u"", u""}, {u"RN", u"RUN", u"", u"", u""},
    {u"RU", u"RUS", u"", u"RUS", u"0419"}, {u"SG", u"SAG", u"", u"", u""},
    {u"SA", u"SAN", u"", u"SAN", u"044F"}, {u"SR", u"SCC", u"SRP", u"", u""},
    {u"HR", u"SCR", u"HRV", u"HRV", u"041A"}, {u"SI", u"SIN", u"", u"", u""},
    {u"SK", u"SLO", u"SLK", u"", u""}, {u"SL", u"SLV", u"", u"SLV", u"0424"},
    {u"SE", u"SME", u"", u"", u""}, {u"SM", u"SMO", u"", u"", u""}, {u"SN", u"SNA", u"", u"", u""},
    {u"SD", u"SND", u"", u"", u""}, {u"SO", u"SOM", u"", u"", u""}, {u"ST", u"SOT", u"", u"", u""},
    {u"ES", u"SPA", u"", u"", u""}, {u"SC", u"SRD", u"", u"", u""}, {u"SS", u"SSW", u"", u"", u""},
    {u"SU", u"SUN", u"", u"", u""}, {u"SW", u"SWA", u"", u"", u""}, {u"SV", u"SWE", u"", u"", u""},
    {u"TY", u"TAH", u"", u"", u""}, {u"TA", u"TAM", u"", u"TAM", u"0449"},
    {u"TT", u"TAT", u"", u"", u""}, {u"TE", u"TEL", u"", u"TEL", u"044A"},
    {u"TG", u"TGK", u"", u"", u""}, {u"TL", u"TGL", u"", u"", u""},
    {u"TH", u"THA", u"", u"THA", u"041E"}, {u"BO", u"TIB", u"BOD", u"", u""},
    {u"TI", u"TIR", u"", u"", u""}, {u"TO", u"TON", u"", u"", u""}, {u"TN", u"TSN", u"", u"", u""},
    {u"TS", u"TSO", u"", u"", u""}, {u"TK", u"TUK", u"", u"", u""}, {u"TR", u"TUR", u"", u"", u""},
    {u"TW", u"TWI", u"", u"", u""}, {u"UG", u"UIG", u"", u"", u""},
    {u"UK", u"UKR", u"", u"UKR", u"0422"}, {u"UR", u"URD", u"", u"URD", u"0420"},
    {u"UZ", u"UZB", u"", u"UZB", u"0443"}, {u"VI", u"VIE", u"", u"", u""},
    {u"VO", u"VOL", u"", u"", u""}, {u"CY", u"WEL", u"CYM", u"", u""},
    {u"WA", u"WLN", u"", u"", u""}, {u"WO", u"WOL", u"", u"", u""}, {u"XH", u"XHO", u"", u"", u""},
    {u"YI", u"YID", u"", u"", u""}, {u"YO", u"YOR", u"", u"", u""}, {u"ZA", u"ZHA", u"", u"", u""},
    {u"ZU", u"ZUL", u"", u"", u""}, {u"AF", u"", u"", u"AFK", u"0436"},
    {u"AR", u"", u"", u"ARH", u"3C01"}, {u"AR", u"", u"", u"ARE", u"0C01"},
    {u"AR", u"", u"", u"ARI", u"0801"}, {u"AR", u"", u"", u"ARJ", u"2C01"},
    {u"AR", u"", u"", u"ARK", u"3401"}, {u"AR", u"", u"", u"ARB", u"3001"},
    {u"AR", u"", u"", u"ARL", u"1001"}, {u"AR", u"", u"", u"ARO", u"2001"},
    {u"AR", u"", u"", u"ARQ", u"4001"}, {u"AR", u"", u"", u"ARS", u"2801"},
    {u"AR", u"", u"", u"ART", u"1C01"}, {u"AR", u"", u"", u"ARU", u"3801"},
    {u"AR", u"", u"", u"ARY", u"2401"}, {u"EU", u"", u"", u"EUQ", u"042D"},
    {u"BG", u"", u"", u"BGR", u"0402"}, {u"ZH", u"", u"", u"ZHH", u"0C04"},
    {u"ZH", u"", u"", u"ZHM", u"1404"}, {u"ZH", u"", u"", u"CHS", u"0804"},
    {u"ZH", u"", u"", u"ZHI", u"1004"}, {u"ZH", u"", u"", u"CHT", u"0404"},
    {u"CS", u"", u"", u"CSY", u"0405"}, {u"NL", u"", u"", u"NLB", u"0813"},
    {u"EN", u"", u"", u"ENA", u"0C09"}, {u"EN", u"", u"", u"ENL", u"2809"},
    {u"EN", u"", u"", u"ENC", u"1009"}, {u"EN", u"", u"", u"ENB", u"2409"},
    {u"EN", u"", u"", u"ENI", u"1809"}, {u"EN", u"", u"", u"ENJ", u"2009"},
    {u"EN", u"", u"", u"ENZ", u"1409"}, {u"EN", u"", u"", u"ENP", u"3409"},
    {u"EN", u"", u"", u"ENS", u"1C09"}, {u"EN", u"", u"", u"ENT", u"2C09"},
    {u"EN", u"", u"", u"ENU", u"0409"}, {u"EN", u"", u"", u"ENW", u"3009"},
    {u"ET", u"", u"", u"ETI", u"0425"}, {u"FO", u"FAO", u"", u"FOS", u"0438"},
    {u"FR", u"", u"", u"FRB", u"080C"}, {u"FR", u"", u"", u"FRC", u"0C0C"},
    {u"FR", u"", u"", u"FRL", u"140C"}, {u"FR", u"", u"", u"FRM", u"180C"},
    {u"FR", u"", u"", u"FRS", u"100C"}, {u"MK", u"MAC", u"MKD", u"MKI", u"042F"},
    {u"GL", u"", u"", u"GLC", u"0456"}, {u"DE", u"", u"", u"DEA", u"0C07"},
    {u"DE", u"", u"", u"DEC", u"1407"}, {u"DE", u"", u"", u"DEL", u"1007"},
    {u"DE", u"", u"", u"DES", u"0807"}, {u"IT", u"", u"", u"ITS", u"0810"},
    {u"KK", u"", u"", u"KKZ", u"043F"}, {u"KY", u"KIR", u"", u"KYR", u"0440"},
    {u"LV", u"", u"", u"LVI", u"0426"}, {u"LT", u"", u"", u"LTH", u"0427"},
    {u"ML", u"", u"", u"MSB", u"083E"}, {u"ML", u"", u"", u"MSL", u"043E"},
    {u"NN", u"", u"", u"NON", u"0814"}, {u"PL", u"", u"", u"PLK", u"0415"},
    {u"PT", u"", u"", u"PTB", u"0416"}, {u"PT", u"", u"", u"PTG", u"0816"},
    {u"RO", u"", u"", u"ROM", u"0418"}, {u"SR", u"", u"", u"SRB", u"0C1A"},
    {u"SR", u"", u"", u"SRL", u"081A"}, {u"SK", u"", u"", u"SKY", u"041B"},
    {u"ES", u"", u"", u"ESS", u"2C0A"}, {u"ES", u"", u"", u"ESB", u"400A"},
    {u"ES", u"", u"", u"ESL", u"340A"}, {u"ES", u"", u"", u"ESO", u"240A"},
    {u"ES", u"", u"", u"ESC", u"140A"}, {u"ES", u"", u"", u"ESD", u"1C0A"},
    {u"ES", u"", u"", u"ESF", u"300A"}, {u"ES", u"", u"", u"ESE", u"440A"},
    {u"ES", u"", u"", u"ESG", u"100A"}, {u"ES", u"", u"", u"ESH", u"480A"},
    {u"ES", u"", u"", u"ESM", u"080A"}, {u"ES", u"", u"", u"ESI", u"4C0A"},
    {u"ES", u"", u"", u"ESA", u"180A"}, {u"ES", u"", u"", u"ESZ", u"3C0A"},
    {u"ES", u"", u"", u"ESR", u"280A"}, {u"ES", u"", u"", u"ESU", u"500A"},
    {u"ES", u"", u"", u"ESN", u"0C0A"}, {u"ES", u"", u"", u"ESP", u"040A"},
    {u"ES", u"", u"", u"ESY", u"380A"}, {u"ES", u"", u"", u"ESV", u"200A"},
    {u"SW", u"", u"", u"SWK", u"0441"}, {u"SV", u"", u"", u"SVF", u"081D"},
    {u"SV", u"", u"", u"SVE", u"041D"}, {u"TT", u"", u"", u"TTT", u"0444"},
    {u"TR", u"", u"", u"TRK", u"041F"}, {u"VI", u"", u"", u"VIT", u"042A"}
};
static_assert(std::size(kLanguageTable) == 261);

// Weekday names, Sunday first: English and German (the only columns read).
const char* const kWeekdayNames[7][2] = {
    {"Sunday", "Sonntag"},   {"Monday", "Montag"}, {"Tuesday", "Dienstag"}, {"Wednesday", "Mittwoch"},
    {"Thursday", "Donnerstag"}, {"Friday", "Freitag"}, {"Saturday", "Samstag"}};

// ---------------------------------------------------------------------------------------------
// Small helpers

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
char16_t LowerAsciiChar(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

int CurrentYear() {
  int y = 0, m = 0, d = 0;
  platform::DecodeDate(platform::Now(), y, m, d);
  return y;
}

[[noreturn]] void ThrowConvert(const std::string& utf8) { throw EConvertError(utf8.c_str()); }

// The platform's strict integer conversion: raises EConvertError for a text that is no integer.
int32_t StrictToInt(const UnicodeString& text) {
  int64_t v = 0;
  if (!platform::TryStrToInt64(text, v) || v < INT32_MIN || v > INT32_MAX)
    ThrowConvert(fmt::format("'{}' is not a valid integer value", platform::WideToUtf8(text)));
  return static_cast<int32_t>(v);
}

// Copy(s, from1, count) with 1-based start, clipped like the platform's copy.
UnicodeString Copy(const UnicodeString& s, size_t from1, size_t count) {
  if (from1 < 1 || from1 > s.size()) return {};
  return s.substr(from1 - 1, count);
}

UnicodeString Pad(int64_t value, int width) {
  return ToU16(fmt::format("{:0{}}", value, width));
}

// "yyyy-mm-dd" of a whole day number.
UnicodeString FormatDate(int64_t days, char16_t sep) {
  int y = 0, m = 0, d = 0;
  platform::DecodeDate(static_cast<double>(days), y, m, d);
  return Pad(y, 4) + sep + Pad(m, 2) + sep + Pad(d, 2);
}

// "hh:nn:ss" of a millisecond of the day.
UnicodeString FormatTime(int32_t ms, char16_t sep) {
  return Pad(ms / 3600000, 2) + sep + Pad((ms / 60000) % 60, 2) + sep + Pad((ms / 1000) % 60, 2);
}

// ---------------------------------------------------------------------------------------------
// Scanners

enum class DateOrder { DMY, MDY, YMD };

DateOrder OrderOf(std::u16string_view format) {
  for (char16_t c : format) {
    switch (LowerAsciiChar(c)) {
      case u'd': return DateOrder::DMY;
      case u'm': return DateOrder::MDY;
      case u'y':
      case u'e': return DateOrder::YMD;
      default: break;
    }
  }
  return DateOrder::MDY;
}

// The first character of the lower-cased format that is none of `letters`, else `fallback`.
char16_t SeparatorOf(std::u16string_view format, std::u16string_view letters, char16_t fallback) {
  for (char16_t c : format) {
    const char16_t l = LowerAsciiChar(c);
    if (letters.find(l) == std::u16string_view::npos) return l;
  }
  return fallback;
}

// The date separator of a lower-cased date format: a "/" stands for the date separator of the
// format settings, as it does when dates are written.
char16_t DateSeparatorOf(std::u16string_view format, char16_t fallback) {
  const char16_t sep = SeparatorOf(format, u"dmy", fallback);
  return sep == u'/' ? platform::GetFormatSettings().DateSeparator : sep;
}

struct Cursor {
  std::u16string_view s;
  size_t pos = 0;

  bool AtEnd() const { return pos >= s.size(); }
  size_t SkipBlanks() {
    const size_t start = pos;
    while (pos < s.size() && s[pos] == u' ') ++pos;
    return pos - start;
  }
  // A decimal number; reading stops before a digit once the value exceeds 999.
  bool Number(int& value, int& digits) {
    SkipBlanks();
    const size_t start = pos;
    int v = 0;
    while (pos < s.size() && IsDigit(s[pos]) && v < 1000) v = v * 10 + (s[pos++] - u'0');
    digits = static_cast<int>(pos - start);
    if (digits == 0) return false;
    value = v;
    return true;
  }
  bool Number(int& value) {
    int digits = 0;
    return Number(value, digits);
  }
  // A separator; a blank separator is matched by one or more blanks.
  bool Char(char16_t ch) {
    if (ch == u' ') return SkipBlanks() > 0;
    SkipBlanks();
    if (pos < s.size() && s[pos] == ch) {
      ++pos;
      return true;
    }
    return false;
  }
  // "AM" (1) or "PM" (2) in any case at the cursor after blanks, 0 when neither (cursor kept).
  int Marker() {
    const size_t save = pos;
    SkipBlanks();
    if (pos + 1 < s.size() && LowerAsciiChar(s[pos + 1]) == u'm') {
      const char16_t a = LowerAsciiChar(s[pos]);
      if (a == u'a' || a == u'p') {
        pos += 2;
        SkipBlanks();
        return a == u'a' ? 1 : 2;
      }
    }
    pos = save;
    return 0;
  }
};

bool ScanDate(Cursor& c, char16_t sep, DateOrder order, int window, TDateTime& out) {
  int n1 = 0, n2 = 0, n3 = 0, l1 = 0, l3 = 0;
  if (!c.Number(n1, l1) || !c.Char(sep) || !c.Number(n2)) return false;
  int y = 0, m = 0, d = 0;
  const size_t afterSecond = c.pos;
  bool three = false;
  if (c.Char(sep)) {
    const size_t afterSep = c.pos;
    three = c.Number(n3, l3);
    // A separator without a third number closes a day-and-month date ("06.05.").
    c.pos = three ? c.pos : afterSep;
  } else {
    c.pos = afterSecond;
  }
  if (three) {
    switch (order) {
      case DateOrder::DMY: d = n1; m = n2; y = n3; break;
      case DateOrder::MDY: m = n1; d = n2; y = n3; break;
      case DateOrder::YMD: y = n1; m = n2; d = n3; break;
    }
    const int yDigits = order == DateOrder::YMD ? l1 : l3;
    if (yDigits <= 2) {
      const int current = CurrentYear();
      const int base = current - window;
      y += (base / 100) * 100;
      if (window > 0 && y < base) y += 100;
    }
  } else {
    y = CurrentYear();
    if (order == DateOrder::DMY) {
      d = n1;
      m = n2;
    } else {
      m = n1;
      d = n2;
    }
  }
  if (three) c.Char(sep);
  c.SkipBlanks();
  return platform::TryEncodeDate(y, m, d, out);
}

// `presetMarker`: an AM/PM marker already read before the time (0 = none).
bool ScanTime(Cursor& c, char16_t sep, TDateTime& out, int presetMarker = 0) {
  const char16_t msSep = sep == u'.' ? 0 : u'.';
  int marker = presetMarker ? presetMarker : c.Marker();
  const bool leading = marker != 0;
  int h = 0, n = 0, s = 0, ms = 0;
  if (!c.Number(h)) return false;
  if (c.Char(sep)) {
    if (!c.Number(n)) return false;
    if (c.Char(sep)) {
      if (!c.Number(s)) return false;
      if (msSep && c.Char(msSep) && !c.Number(ms)) return false;
    }
  }
  if (!leading) marker = c.Marker();
  if (marker) {
    if (h < 1 || h > 12) return false;
    if (h == 12) h = 0;
    if (marker == 2) h += 12;
  }
  c.SkipBlanks();
  return platform::TryEncodeTime(h, n, s, ms, out);
}

bool ScanDateTime(std::u16string_view text, char16_t dateSep, DateOrder order, char16_t timeSep,
                  bool skipLeading, int window, TDateTime& out) {
  Cursor c{text, 0};
  if (skipLeading)
    while (!c.AtEnd() && !IsDigit(text[c.pos])) ++c.pos;
  TDateTime date = 0;
  if (!ScanDate(c, dateSep, order, window, date)) {
    Cursor whole{text, 0};
    TDateTime time = 0;
    if (ScanTime(whole, timeSep, time) && whole.AtEnd()) {
      out = time;
      return true;
    }
    return false;
  }
  size_t digit = c.pos;
  while (digit < text.size() && !IsDigit(text[digit])) ++digit;
  if (digit < text.size() && digit + 1 < text.size()) {
    // An AM/PM marker standing alone between the date and the time is the time's marker.
    int marker = 0;
    std::u16string_view between = text.substr(c.pos, digit - c.pos);
    while (!between.empty() && between.front() == u' ') between.remove_prefix(1);
    while (!between.empty() && between.back() == u' ') between.remove_suffix(1);
    if (between.size() == 2 && LowerAsciiChar(between[1]) == u'm') {
      const char16_t a = LowerAsciiChar(between[0]);
      marker = a == u'a' ? 1 : (a == u'p' ? 2 : 0);
    }
    Cursor t{text, digit};
    TDateTime time = 0;
    if (!ScanTime(t, timeSep, time, marker)) return false;
    out = date >= 0 ? date + time : date - time;
    return true;
  }
  out = date;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Format-list readers

TDateTime DateExt(const UnicodeString& str, const std::vector<UnicodeString>& formats, TDateTime def,
                  bool internal) {
  UnicodeString text = platform::Trim(str);
  for (const UnicodeString& f : formats) {
    const UnicodeString lower = platform::LowerAscii(f);
    char16_t sep = DateSeparatorOf(lower, 0);
    UnicodeString format = f;
    if (sep == 0) {
      sep = u'.';
      if (!internal && f == u"yyyymmdd" && text.size() == 8) {
        format = u"yyyy.mm.dd";
        text = text.substr(0, 4) + u'.' + text.substr(4, 2) + u'.' + text.substr(6);
      }
    }
    if (text.find(sep) == UnicodeString::npos) continue;
    Cursor c{text, 0};
    TDateTime d = 0;
    if (ScanDate(c, sep, OrderOf(format), kCenturyWindow, d) && c.AtEnd()) return d;
  }
  return def;
}

TDateTime TimeExt(const UnicodeString& str, const std::vector<UnicodeString>& formats, TDateTime def,
                  bool internal) {
  UnicodeString text = platform::Trim(str);
  for (const UnicodeString& f : formats) {
    const UnicodeString lower = platform::LowerAscii(f);
    char16_t sep = SeparatorOf(lower, u"hnsz", 0);
    if (sep == 0) {
      sep = u':';
      if (!internal && f == u"hhnnss" && text.size() == 6)
        text = text.substr(0, 2) + u':' + text.substr(2, 2) + u':' + text.substr(4);
    }
    if (text.find(sep) == UnicodeString::npos) continue;
    Cursor c{text, 0};
    TDateTime t = 0;
    if (ScanTime(c, sep, t) && c.AtEnd()) return t;
  }
  return def;
}

TDateTime DateTimeExt(const UnicodeString& str, const std::vector<UnicodeString>& dateFormats,
                      const std::vector<UnicodeString>& timeFormats, TDateTime def) {
  const UnicodeString text = platform::Trim(str);
  for (const UnicodeString& df : dateFormats) {
    const UnicodeString ldf = platform::LowerAscii(df);
    const char16_t dateSep = DateSeparatorOf(ldf, u'.');
    for (const UnicodeString& tf : timeFormats) {
      const char16_t timeSep = SeparatorOf(platform::LowerAscii(tf), u"hns", u':');
      if (text.find(dateSep) == UnicodeString::npos && text.find(timeSep) == UnicodeString::npos) continue;
      TDateTime r = 0;
      const bool skipLeading = ldf.empty() || ldf[0] != u'g';
      if (ScanDateTime(text, dateSep, OrderOf(df), timeSep, skipLeading, kCenturyWindow, r)) return r;
    }
  }
  return def;
}

std::vector<UnicodeString> Widen(const std::vector<AnsiString>& list) {
  std::vector<UnicodeString> r;
  r.reserve(list.size());
  for (const auto& s : list) r.push_back(platform::AnsiToWide(s));
  return r;
}

// ---------------------------------------------------------------------------------------------
// Time stamps

// Hexadecimal reading as the platform's "$" integer conversion: 1 or more hex digits, at most a
// 32-bit value (wrapping into the signed range).
bool HexToInt(std::u16string_view s, int32_t& out) {
  if (s.empty()) return false;
  uint64_t v = 0;
  for (char16_t c : s) {
    const int d = platform::HexDigitValue(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  out = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

bool DecToInt(std::u16string_view s, int32_t& out) {
  int64_t v = 0;
  if (s.empty() || !platform::TryStrToInt64(s, v) || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

// Nesting of the time-stamp fallback (time-stamp text -> date reading -> shorter time-stamp
// text ...). Each level reads a strictly shorter text, so the recursion ends; the bound keeps
// the stack small for texts with many "h" or "#" characters.
constexpr int kMaxStampNesting = 8;
thread_local int stampNesting = 0;

struct NestingGuard {
  NestingGuard() { ++stampNesting; }
  ~NestingGuard() { --stampNesting; }
};

bool StrToTimeStampImpl(const UnicodeString& stampStr, TTimeStamp& ts) {
  UnicodeString s = platform::Trim(stampStr);
  int32_t date = 0, time = 0;
  bool ok = false;
  if (s.find(u'#') == UnicodeString::npos) {
    const size_t h1 = s.find(u'h');
    const UnicodeString d = h1 == UnicodeString::npos ? UnicodeString() : s.substr(0, h1);
    if (h1 != UnicodeString::npos) s.erase(0, h1 + 1);
    const size_t h2 = s.find(u'h');
    const UnicodeString t = h2 == UnicodeString::npos ? UnicodeString() : s.substr(0, h2);
    ok = HexToInt(t, time) && HexToInt(d, date);
  } else {
    s.erase(0, s.find(u'#') + 1);
    const size_t p = s.find(u'#');
    const UnicodeString d = p == UnicodeString::npos ? UnicodeString() : s.substr(0, p);
    if (p != UnicodeString::npos) s.erase(0, p + 1);
    const UnicodeString t = s;
    ok = DecToInt(t, time) && DecToInt(d, date);
  }
  if (ok) {
    ts.Date = date;
    ts.Time = time;
    return true;
  }
  try {
    ts = TqzDateTime::DateTimeToTimeStamp(qzDateTimeDetail::ReadTypedDateText(s));
    return true;
  } catch (...) {
    ts = TTimeStamp{};
    return false;
  }
}

// ---------------------------------------------------------------------------------------------
// ISO 8601 with "T"

bool Digits(std::u16string_view s, size_t from, size_t count, int& value) {
  if (from + count > s.size()) return false;
  int v = 0;
  for (size_t i = from; i < from + count; ++i) {
    if (!IsDigit(s[i])) return false;
    v = v * 10 + (s[i] - u'0');
  }
  value = v;
  return true;
}

// Calendar date "T" time of day with optional zone; the result is the written time less its
// offset. Hour 24, second 60 and millisecond 1000 carry into the next unit.
bool ParseIsoWithT(std::u16string_view text, TDateTime& out) {
  const size_t t = text.find(u'T');
  const std::u16string_view datePart = text.substr(0, t);
  std::u16string_view rest = text.substr(t + 1);
  int y = 0, mo = 0, d = 0;
  if (datePart.size() == 10 && datePart[4] == u'-' && datePart[7] == u'-') {
    if (!Digits(datePart, 0, 4, y) || !Digits(datePart, 5, 2, mo) || !Digits(datePart, 8, 2, d)) return false;
  } else if (datePart.size() == 8) {
    if (!Digits(datePart, 0, 4, y) || !Digits(datePart, 4, 2, mo) || !Digits(datePart, 6, 2, d)) return false;
  } else {
    return false;
  }
  TDateTime date = 0;
  if (!platform::TryEncodeDate(y, mo, d, date)) return false;

  const size_t z = rest.find_first_of(u"Zz+-");
  const std::u16string_view timePart = rest.substr(0, z);
  const std::u16string_view zonePart = z == std::u16string_view::npos ? std::u16string_view() : rest.substr(z);

  int h = 0, n = 0, s = 0;
  size_t p = 0;
  if (timePart.size() >= 8 && timePart[2] == u':' && timePart[5] == u':') {
    if (!Digits(timePart, 0, 2, h) || !Digits(timePart, 3, 2, n) || !Digits(timePart, 6, 2, s)) return false;
    p = 8;
  } else if (timePart.size() >= 6) {
    if (!Digits(timePart, 0, 2, h) || !Digits(timePart, 2, 2, n) || !Digits(timePart, 4, 2, s)) return false;
    p = 6;
  } else {
    return false;
  }
  int64_t ms = 0;
  if (p < timePart.size()) {
    if (timePart[p] != u'.' && timePart[p] != u',') return false;
    ++p;
    if (p >= timePart.size()) return false;
    double frac = 0, scale = 0.1;
    for (; p < timePart.size(); ++p) {
      if (!IsDigit(timePart[p])) return false;
      frac += (timePart[p] - u'0') * scale;
      scale /= 10;
    }
    ms = std::llround(frac * 1000.0);  // may be 1000 and carry
  }
  if (h > 24 || n > 59 || s > 60) return false;

  int64_t offsetMin = 0;
  if (!zonePart.empty() && zonePart != u"Z" && zonePart != u"z") {
    const int sign = zonePart[0] == u'-' ? -1 : 1;
    if (zonePart[0] != u'+' && zonePart[0] != u'-') return false;
    int oh = 0, om = 0;
    const std::u16string_view zz = zonePart.substr(1);
    if (zz.size() == 2) {
      if (!Digits(zz, 0, 2, oh)) return false;
    } else if (zz.size() == 4) {
      if (!Digits(zz, 0, 2, oh) || !Digits(zz, 2, 2, om)) return false;
    } else if (zz.size() == 5 && zz[2] == u':') {
      if (!Digits(zz, 0, 2, oh) || !Digits(zz, 3, 2, om)) return false;
    } else {
      return false;
    }
    if (oh > 23 || om > 59) return false;
    offsetMin = sign * (oh * 60 + om);
  }
  int64_t days = 0;
  int32_t unused = 0;
  platform::SplitDateTime(date, days, unused);
  const int64_t total = days * kMsPerDay + h * 3600000LL + n * 60000LL + s * 1000LL + ms - offsetMin * 60000;
  int64_t outDays = total / kMsPerDay;
  int64_t rem = total % kMsPerDay;
  if (rem < 0) {
    rem += kMsPerDay;
    --outDays;
  }
  out = platform::CombineDateTime(outDays, static_cast<int32_t>(rem));
  return true;
}

bool ParseIso(const UnicodeString& text, TDateTime& out) {
  const bool hasColon = text.find(u':') != UnicodeString::npos;
  const bool hasDash = text.find(u'-') != UnicodeString::npos;
  if (!hasColon || hasDash) {
    if (text.find(u'T') != UnicodeString::npos) return ParseIsoWithT(text, out);
    return ScanDateTime(text, u'-', DateOrder::YMD, u':', true, kCenturyWindow, out);
  }
  // A time alone, with an optional fraction of a second.
  UnicodeString rest = text;
  int64_t ms = 0;
  const size_t dot = text.find(u'.');
  if (dot != UnicodeString::npos) {
    const UnicodeString frac = text.substr(dot + 1);
    if (frac.empty()) return false;
    double f = 0, scale = 0.1;
    for (char16_t c : frac) {
      if (!IsDigit(c)) return false;
      f += (c - u'0') * scale;
      scale /= 10;
    }
    ms = std::llround(f * 1000.0);
    rest = text.substr(0, dot);
  }
  Cursor c{rest, 0};
  TDateTime t = 0;
  if (!ScanTime(c, u':', t) || !c.AtEnd()) return false;
  out = t + static_cast<double>(ms) / kMsPerDay;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Locale formats

UnicodeString ShortDateFormatOf(const platform::TFormatSettings& fs) {
  UnicodeString f = fs.ShortDateFormat;
  for (auto& c : f)
    if (c == u'/') c = fs.DateSeparator;
  return f;
}

UnicodeString LongTimeFormatOf(const platform::TFormatSettings& fs) {
  UnicodeString f = fs.LongTimeFormat;
  for (auto& c : f)
    if (c == u':') c = fs.TimeSeparator;
  return f;
}

platform::TFormatSettings SettingsForLcid(const UnicodeString& lcidHex) {
  int32_t lcid = 0;
  HexToInt(lcidHex, lcid);
  char name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_getLocaleForLCID(static_cast<uint32_t>(lcid), name, sizeof name, &status);
  if (U_FAILURE(status) || name[0] == 0) return platform::InvariantFormatSettings();
  return platform::FormatSettingsForLocale(name);
}

// ---------------------------------------------------------------------------------------------
// ISO weeks

// ISO 8601 week number and week-based year of a day number.
void IsoWeek(TDateTime date, int& week, int& weekYear) {
  // Thursday of the same ISO week decides the year.
  const int dow = platform::DayOfWeek(date);            // 1 = Sunday
  const int isoDow = dow == 1 ? 7 : dow - 1;             // 1 = Monday .. 7 = Sunday
  const TDateTime thursday = std::floor(date) - isoDow + 4;
  int y = 0, m = 0, d = 0;
  platform::DecodeDate(thursday, y, m, d);
  weekYear = y;
  const TDateTime jan1 = platform::EncodeDate(y, 1, 1);
  week = static_cast<int>((thursday - jan1) / 7) + 1;
}

// ---------------------------------------------------------------------------------------------
// Shared implementations of the operations that both classes offer.

TDateTime YYYYMMDDHHNNSS(const UnicodeString& str, bool strict) {
  auto field = [&](size_t from, size_t count) -> int {
    const UnicodeString part = Copy(str, from, count);
    if (strict) return StrictToInt(part);
    const int64_t v = TqzConversion::StrToInt(part, 0);
    return (v < INT32_MIN || v > INT32_MAX) ? 0 : static_cast<int>(v);
  };
  const int y = field(1, 4), mo = field(5, 2), d = field(7, 2);
  const int h = field(9, 2), n = field(11, 2), s = field(13, 2);
  return platform::EncodeDate(y, mo, d) + platform::EncodeTime(h, n, s, 0);
}

UnicodeString StampNow(TDateTime now) {
  int64_t days = 0;
  int32_t ms = 0;
  platform::SplitDateTime(now, days, ms);
  int y = 0, m = 0, d = 0;
  platform::DecodeDate(static_cast<double>(days), y, m, d);
  return Pad(y, 4) + Pad(m, 2) + Pad(d, 2) + Pad(ms / 3600000, 2) + Pad((ms / 60000) % 60, 2) +
         Pad((ms / 1000) % 60, 2) + Pad(ms % 1000, 3);
}

}  // namespace

// =============================================================================================

int32_t GetTimeZoneBias() {
  const auto now = platform::ClockNow();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) {
    const int err = errno;
    throw EOSError(fmt::format("System error. Code: {}. {}", err, std::strerror(err)).c_str());
  }
  return static_cast<int32_t>(-tm.tm_gmtoff / 60);
}

namespace qzDateTimeDetail {

TDateTime ReadTypedDateText(const UnicodeString& Text) {
  TDateTime value = 0;
  if ((Text.find(u'#') != UnicodeString::npos || Text.find(u'h') != UnicodeString::npos) &&
      stampNesting < kMaxStampNesting) {
    NestingGuard guard;
    value = TqzDateTime::TimeStampStrToDateTime(Text);
  }
  if (value == 0) {
    const auto fs = platform::GetFormatSettings();
    value = TqzDateTime::StrToDateTimeExt(Text, std::vector<UnicodeString>{u"yyyy-mm-dd", ShortDateFormatOf(fs), u"dd.mm.yyyy"},
                                          std::vector<UnicodeString>{u"hh:nn:ss", LongTimeFormatOf(fs)}, 0);
  }
  return value;
}

void SplitCalendarDateTime(TDateTime Value, int64_t& Days, int32_t& MsOfDay) {
  // 0001-01-01 is day -693593, 9999-12-31 day 2958465; a time of day may not round past it.
  constexpr int64_t kFirstDay = -693593, kLastDay = 2958465;
  if (std::isfinite(Value) && Value > kFirstDay - 1 && Value < kLastDay + 1) {
    platform::SplitDateTime(Value, Days, MsOfDay);
    if (Days >= kFirstDay && Days <= kLastDay) return;
  }
  ThrowConvert(fmt::format("'{}' is not a valid date and time", Value));
}

}  // namespace qzDateTimeDetail

// --- Parsing ---

TDateTime TqzDateTime::StrToDate(const UnicodeString& Str, TDateTime Default) {
  const auto fs = platform::GetFormatSettings();
  Cursor c{Str, 0};
  TDateTime d = 0;
  if (ScanDate(c, fs.DateSeparator, OrderOf(fs.ShortDateFormat), fs.TwoDigitYearCenturyWindow, d) && c.AtEnd())
    return d;
  return Default;
}

TDateTime TqzDateTime::StrToDateExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                    TDateTime Default) {
  return DateExt(Str, Formats, Default, false);
}

TDateTime TqzDateTime::StrToDateExt(const UnicodeString& Str, const std::vector<AnsiString>& Formats,
                                    TDateTime Default) {
  return DateExt(Str, Widen(Formats), Default, false);
}

TDateTime TqzDateTime::StrToTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                    TDateTime Default) {
  return TimeExt(Str, Formats, Default, false);
}

TDateTime TqzDateTime::StrToDateTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& DateFormats,
                                        const std::vector<UnicodeString>& TimeFormats, TDateTime Default) {
  return DateTimeExt(Str, DateFormats, TimeFormats, Default);
}

TDateTime TqzDateTime::StrToDateTimeExt(const UnicodeString& Str, const std::vector<AnsiString>& DateFormats,
                                        const std::vector<AnsiString>& TimeFormats, TDateTime Default) {
  return DateTimeExt(Str, Widen(DateFormats), Widen(TimeFormats), Default);
}

// --- Time stamps ---

TTimeStamp TqzDateTime::DateTimeToTimeStamp(TDateTime Value) {
  const double scaled = Value * static_cast<double>(kMsPerDay);
  if (!std::isfinite(scaled) || std::fabs(Value) > 2.0e9)
    ThrowConvert(fmt::format("'{}' is not a valid date and time", Value));
  const int64_t m = static_cast<int64_t>(std::nearbyint(scaled));  // ties to even
  const int64_t date = kStampDelta + m / kMsPerDay;
  if (date < INT32_MIN || date > INT32_MAX) ThrowConvert(fmt::format("'{}' is not a valid date and time", Value));
  TTimeStamp ts;
  ts.Date = static_cast<int32_t>(date);
  ts.Time = static_cast<int32_t>((m < 0 ? -m : m) % kMsPerDay);
  return ts;
}

TDateTime TqzDateTime::TimeStampToDateTime(const TTimeStamp& Stamp) {
  if (Stamp.Time < 0 || Stamp.Time >= kMsPerDay || Stamp.Date < 1)
    ThrowConvert(fmt::format("'{}.{}' ist kein gültiger Zeitstempel", Stamp.Date, Stamp.Time));
  const int64_t first = (static_cast<int64_t>(Stamp.Date) - kStampDelta) * kMsPerDay;
  const int64_t m = first < 0 ? first - Stamp.Time : first + Stamp.Time;
  return static_cast<double>(m) / static_cast<double>(kMsPerDay);
}

AnsiString TqzDateTime::TimeStampToStr(const TTimeStamp& Stamp, bool CompMode) {
  if (CompMode) return fmt::format("#{}#{}", Stamp.Date, Stamp.Time);
  return fmt::format("{:08X}h{:08X}h", static_cast<uint32_t>(Stamp.Date), static_cast<uint32_t>(Stamp.Time));
}

bool TqzDateTime::StrToTimeStamp(const UnicodeString& StampStr, TTimeStamp& TimeStamp) {
  return StrToTimeStampImpl(StampStr, TimeStamp);
}

TDateTime TqzDateTime::TimeStampStrToDateTime(const UnicodeString& StampStr) {
  TTimeStamp ts;
  StrToTimeStamp(platform::Trim(StampStr), ts);
  return TimeStampToDateTime(ts);
}

AnsiString TqzDateTime::DateTimeToTimeStampStr(TDateTime MyDateTime, bool CompMode) {
  return TimeStampToStr(DateTimeToTimeStamp(MyDateTime), CompMode);
}

// --- ISO 8601 ---

UnicodeString TqzDateTime::DateTimeToISO8601Str(TDateTime MyDateTime) {
  int64_t days = 0;
  int32_t ms = 0;
  qzDateTimeDetail::SplitCalendarDateTime(MyDateTime, days, ms);
  if (ms == 0) return FormatDate(days, u'-');
  if (days == 0) return FormatTime(ms, u':');
  return FormatDate(days, u'-') + u'T' + FormatTime(ms, u':') + u'.' + Pad(ms % 1000, 3) + u'Z';
}

TDateTime TqzDateTime::ISO8601ToDateTime(const UnicodeString& ADateTime, bool ARaiseExceptions) {
  TDateTime r = 0;
  if (ParseIso(ADateTime, r)) return r;
  if (ARaiseExceptions)
    ThrowConvert(fmt::format("'{}' is not a valid ISO 8601 date and time", platform::WideToUtf8(ADateTime)));
  return 0;
}

// --- Short date format ---

UnicodeString TqzDateTime::ShortDateFormat() { return ShortDateFormatOf(platform::GetFormatSettings()); }

UnicodeString TqzDateTime::ShortDateFormat(const platform::TFormatSettings& LocaleFormat) {
  return ShortDateFormatOf(LocaleFormat);
}

UnicodeString TqzDateTime::ShortDateFormat(const UnicodeString& Locale) {
  const UnicodeString code = platform::Trim(Locale);
  if (code.size() == 2 || code.size() == 3) {
    const UnicodeString key = platform::UpperW(code);
    for (const LanguageRow& row : kLanguageTable) {
      if (row.Lcid[0] == 0) continue;
      if (key == row.Iso6391 || key == row.Iso6392B || key == row.Iso6392T || key == row.WinCode)
        return ShortDateFormatOf(SettingsForLcid(row.Lcid));
    }
    throw Exception(u"LCID for locale " + key + u" not found!");
  }
  std::string name = platform::ToAscii(code);
  for (auto& c : name)
    if (c == '-') c = '_';
  return ShortDateFormatOf(platform::FormatSettingsForLocale(name));
}

// --- Fixed forms ---

TDateTime TqzDateTime::StrToDateTime_YYYYMMDDHHNNSS(const UnicodeString& Str) { return YYYYMMDDHHNNSS(Str, false); }

TDateTime TqzDateTime::StrToDateTime_YYYYMMDD(const UnicodeString& Str) {
  return platform::EncodeDate(StrictToInt(Copy(Str, 1, 4)), StrictToInt(Copy(Str, 5, 2)), StrictToInt(Copy(Str, 7, 2)));
}

TDateTime TqzDateTime::StrToDate_ISO(const UnicodeString& Str) {
  return StrToDateExt(Str, std::vector<UnicodeString>{u"yyyy-mm-dd"}, 0);
}

TDateTime TqzDateTime::StrToDateTime_ISO(const UnicodeString& Str) {
  return StrToDateTimeExt(Str, std::vector<UnicodeString>{u"yyyy-mm-dd"}, std::vector<UnicodeString>{u"hh:nn:ss"}, 0);
}

// --- Durations, weekdays, quarters, time zones ---

UnicodeString TqzDateTime::CreateTimeStampStr() { return StampNow(platform::Now()); }

UnicodeString TqzDateTime::CreateGMTTimeStampStr() { return StampNow(GMTNow()); }

UnicodeString TqzDateTime::DateTimeToISOStr(TDateTime MyDateTime) {
  int64_t days = 0;
  int32_t ms = 0;
  qzDateTimeDetail::SplitCalendarDateTime(MyDateTime, days, ms);
  return FormatDate(days, u'-') + u' ' + FormatTime(ms, u':');
}

int32_t TqzDateTime::GetQuarter() {
  int y = 0, m = 0, d = 0;
  platform::DecodeDate(platform::Now(), y, m, d);
  return (m - 1) / 3 + 1;
}

AnsiString TqzDateTime::SecToTimeExt(int32_t S) {
  const int32_t days = S / 86400;
  const int32_t hours = S / 3600 - days * 24;
  const int32_t minutes = S / 60 - (S / 3600) * 60;
  const int32_t seconds = S % 60;
  auto two = [](int32_t v) {
    std::string t = std::to_string(v);
    if (t.size() < 2) t.insert(0, 2 - t.size(), '0');
    return t;
  };
  const std::string clock = two(hours) + ":" + two(minutes) + ":" + two(seconds);
  if (days <= 0) return clock;
  if (days == 1) return "1 day " + clock;
  return std::to_string(days) + " days " + clock;
}

AnsiString TqzDateTime::SecToLangTime(uint32_t S) {
  const uint32_t parts[4] = {S / 86400, (S / 3600) % 24, (S / 60) % 60, S % 60};
  const char* const words[4] = {"day", "hour", "minute", "second"};
  std::vector<std::string> items;
  for (int i = 0; i < 4; ++i)
    if (parts[i] != 0) items.push_back(std::to_string(parts[i]) + " " + words[i] + (parts[i] == 1 ? "" : "s"));
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += (i + 1 == items.size()) ? " and " : ", ";
    out += items[i];
  }
  return out;
}

int32_t TqzDateTime::GetDayNumberFromStr(const AnsiString& DayName) {
  if (DayName.empty()) return 0;
  const std::string key = platform::UpperAscii(DayName);
  for (int row = 0; row < 7; ++row)
    for (int col = 0; col < 2; ++col) {
      const std::string name = platform::UpperAscii(kWeekdayNames[row][col]);
      if (name.compare(0, key.size(), key) == 0 && key.size() <= name.size()) return row + 1;
    }
  return 0;
}

bool TqzDateTime::StrIsToday(const AnsiString& DayName) {
  return platform::DayOfWeek(platform::Now()) == GetDayNumberFromStr(DayName);
}

// Through 64-bit Unix milliseconds, never the clock's nanosecond time points, so that every year
// from 1 to 9999 converts.
TDateTime TqzDateTime::LocaleDateTimeToGMT(TDateTime AValue) {
  GetTimeZoneBias();  // raises when the system cannot tell its zone
  return platform::UnixMsToUtcDateTime(platform::LocalDateTimeToUnixMs(AValue));
}

TDateTime TqzDateTime::GMTToLocaleDateTime(TDateTime AValue) {
  GetTimeZoneBias();
  return platform::UnixMsToLocalDateTime(platform::UtcDateTimeToUnixMs(AValue));
}

TDateTime TqzDateTime::GMTNow() { return platform::Now() + GetTimeZoneBias() / 1440.0; }

TDateTime TqzDateTime::WeekToDate(int32_t Week, int32_t Year) {
  if (Year < 1 || Year > 9999) ThrowConvert(fmt::format("'{}' is not a valid year", Year));
  const TDateTime jan1 = platform::EncodeDate(Year, 1, 1);
  const int dow = platform::DayOfWeek(jan1);
  const int isoDow = dow == 1 ? 7 : dow - 1;
  const TDateTime start = jan1 - (isoDow - 1);
  if (Week < 1 || Week > 53) return start;
  // Week 1 is the week that holds 4 January; its Monday is the start when 1 January falls on
  // Monday to Thursday, else the Monday after it. 28 December always lies in the last week, so it
  // tells whether the year has 52 or 53 weeks. A week the year does not have is refused rather
  // than answered with a Monday of another year.
  const TDateTime week1 = isoDow <= 4 ? start : start + 7;
  int weeks = 0, weekYear = 0;
  IsoWeek(platform::EncodeDate(Year, 12, 28), weeks, weekYear);
  if (Week > weeks) ThrowConvert(fmt::format("week {} does not exist in the year {}", Week, Year));
  return week1 + 7.0 * (Week - 1);
}

TDateTime TqzDateTime::UnixTimeToDateTime(int64_t UnixTime) {
  if (UnixTime > 999999999999LL) return static_cast<double>(UnixTime) / 86400000.0 + 25569.0;
  return static_cast<double>(UnixTime) / 86400.0 + 25569.0;
}

// =============================================================================================
// The cipher unit's copy: the same code, three readers without the special forms.

namespace qzInternal {

using Main = ::TqzDateTime;

TDateTime TqzDateTime::StrToDate(const UnicodeString& Str, TDateTime Default) { return Main::StrToDate(Str, Default); }
TDateTime TqzDateTime::StrToDateExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                    TDateTime Default) {
  return DateExt(Str, Formats, Default, true);
}
TDateTime TqzDateTime::StrToDateExt(const UnicodeString& Str, const std::vector<AnsiString>& Formats,
                                    TDateTime Default) {
  return DateExt(Str, Widen(Formats), Default, true);
}
TDateTime TqzDateTime::StrToTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& Formats,
                                    TDateTime Default) {
  return TimeExt(Str, Formats, Default, true);
}
TDateTime TqzDateTime::StrToDateTimeExt(const UnicodeString& Str, const std::vector<UnicodeString>& DateFormats,
                                        const std::vector<UnicodeString>& TimeFormats, TDateTime Default) {
  return Main::StrToDateTimeExt(Str, DateFormats, TimeFormats, Default);
}
TDateTime TqzDateTime::StrToDateTimeExt(const UnicodeString& Str, const std::vector<AnsiString>& DateFormats,
                                        const std::vector<AnsiString>& TimeFormats, TDateTime Default) {
  return Main::StrToDateTimeExt(Str, DateFormats, TimeFormats, Default);
}
AnsiString TqzDateTime::TimeStampToStr(const TTimeStamp& Stamp, bool CompMode) { return Main::TimeStampToStr(Stamp, CompMode); }
bool TqzDateTime::StrToTimeStamp(const UnicodeString& StampStr, TTimeStamp& TimeStamp) {
  return Main::StrToTimeStamp(StampStr, TimeStamp);
}
TDateTime TqzDateTime::TimeStampStrToDateTime(const UnicodeString& StampStr) { return Main::TimeStampStrToDateTime(StampStr); }
AnsiString TqzDateTime::DateTimeToTimeStampStr(TDateTime MyDateTime, bool CompMode) {
  return Main::DateTimeToTimeStampStr(MyDateTime, CompMode);
}
UnicodeString TqzDateTime::ShortDateFormat() { return Main::ShortDateFormat(); }
UnicodeString TqzDateTime::ShortDateFormat(const platform::TFormatSettings& LocaleFormat) {
  return Main::ShortDateFormat(LocaleFormat);
}
UnicodeString TqzDateTime::ShortDateFormat(const UnicodeString& Locale) { return Main::ShortDateFormat(Locale); }
TDateTime TqzDateTime::StrToDateTime_YYYYMMDDHHNNSS(const UnicodeString& Str) { return YYYYMMDDHHNNSS(Str, true); }
TDateTime TqzDateTime::StrToDateTime_YYYYMMDD(const UnicodeString& Str) { return Main::StrToDateTime_YYYYMMDD(Str); }
TDateTime TqzDateTime::StrToDate_ISO(const UnicodeString& Str) { return Main::StrToDate_ISO(Str); }
UnicodeString TqzDateTime::CreateTimeStampStr() { return Main::CreateTimeStampStr(); }
UnicodeString TqzDateTime::CreateGMTTimeStampStr() { return Main::CreateGMTTimeStampStr(); }
UnicodeString TqzDateTime::DateTimeToISOStr(TDateTime MyDateTime) { return Main::DateTimeToISOStr(MyDateTime); }
int32_t TqzDateTime::GetQuarter() { return Main::GetQuarter(); }
AnsiString TqzDateTime::SecToTimeExt(int32_t S) { return Main::SecToTimeExt(S); }
AnsiString TqzDateTime::SecToLangTime(uint32_t S) { return Main::SecToLangTime(S); }
int32_t TqzDateTime::GetDayNumberFromStr(const AnsiString& DayName) { return Main::GetDayNumberFromStr(DayName); }
bool TqzDateTime::StrIsToday(const AnsiString& DayName) { return Main::StrIsToday(DayName); }
TDateTime TqzDateTime::LocaleDateTimeToGMT(TDateTime AValue) { return Main::LocaleDateTimeToGMT(AValue); }
TDateTime TqzDateTime::GMTToLocaleDateTime(TDateTime AValue) { return Main::GMTToLocaleDateTime(AValue); }
TDateTime TqzDateTime::GMTNow() { return Main::GMTNow(); }

}  // namespace qzInternal
