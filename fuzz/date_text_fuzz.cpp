// Date and time texts: the format-list readers with the formats the system uses, time stamps,
// ISO 8601 and the fixed forms. The first line of the input, when there is one, is also tried
// as a format.
#include <cstdint>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzDateTime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const UnicodeString all = qzfuzz::Wide(data, size);
  const size_t nl = all.find(u'\n');
  const UnicodeString format = nl == UnicodeString::npos ? UnicodeString() : all.substr(0, nl);
  const UnicodeString text = nl == UnicodeString::npos ? all : all.substr(nl + 1);
  std::vector<UnicodeString> dateFormats = {u"yyyy-mm-dd", u"dd.mm.yyyy", u"dd/mm/yyyy", u"yyyymmdd", u"d.m.yy"};
  std::vector<UnicodeString> timeFormats = {u"hh:nn:ss", u"hh:nn", u"hh:nn:ss.zzz", u"hhnnss"};
  if (!format.empty()) {
    dateFormats.push_back(format);
    timeFormats.push_back(format);
  }
  for (const UnicodeString& t : {text, all}) {
    TqzDateTime::StrToDate(t, 0);
    TqzDateTime::StrToDateExt(t, dateFormats, 0);
    TqzDateTime::StrToTimeExt(t, timeFormats, 0);
    TqzDateTime::StrToDateTimeExt(t, dateFormats, timeFormats, 0);
    TTimeStamp stamp{};
    TqzDateTime::StrToTimeStamp(t, stamp);
    TqzDateTime::ISO8601ToDateTime(t, false);
    auto guarded = [](auto&& call) {
      try {
        call();
      } catch (const Exception&) {
      }
    };
    guarded([&] { TqzDateTime::TimeStampStrToDateTime(t); });
    guarded([&] { TqzDateTime::ISO8601ToDateTime(t, true); });
    guarded([&] { TqzDateTime::StrToDateTime_YYYYMMDDHHNNSS(t); });
    guarded([&] { TqzDateTime::StrToDateTime_YYYYMMDD(t); });
    guarded([&] { TqzDateTime::StrToDate_ISO(t); });
    guarded([&] { TqzDateTime::StrToDateTime_ISO(t); });
  }
  return 0;
}
