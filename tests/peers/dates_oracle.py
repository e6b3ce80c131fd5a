#!/usr/bin/env python3
"""Independent date oracle built on Python's datetime and zoneinfo.

Prints one case per line, tab-separated: kind, inputs..., expected. The C++ tests read these
lines and compare the library's results with them.

  ordinal   y m d                    -> proleptic Gregorian ordinal (0001-01-01 = 1) and the day
                                        number counted from 1899-12-30
  iso       text                     -> UTC milliseconds counted from 1899-12-30 00:00 (Python's
                                        fromisoformat; offsets applied)
  isoweek   year week                -> the day number of that ISO week's Monday, or "none"
  weekyear  year                     -> number of ISO weeks of the year, weekday of 1 January (1=Mon)
  strptime  format text              -> day number, or "none" when strptime refuses the text
  tzoffset  zone unix_seconds        -> minutes to add to local time to get UTC at that instant
  localutc  zone y m d h n s         -> the UTC day-number milliseconds of that local wall time
  isowrite  y m d h n s ms           -> the ISO 8601 text of that wall time: the date alone at
                                        midnight, the time alone on 1899-12-30, else date "T"
                                        time with milliseconds and "Z"; then "yyyy-mm-dd hh:nn:ss"
  unix      value                    -> day-number milliseconds of a Unix time (seconds, or
                                        milliseconds above 999999999999)
"""
import datetime as dt
from zoneinfo import ZoneInfo

EPOCH = dt.datetime(1899, 12, 30)
EPOCH_DATE = dt.date(1899, 12, 30)


def day_ms(naive):
    delta = naive - EPOCH
    return delta.days * 86400000 + delta.seconds * 1000 + delta.microseconds // 1000


def main():
    out = []
    for y, m, d in [(1, 1, 1), (1899, 12, 30), (1899, 12, 29), (1900, 3, 1), (1970, 1, 1),
                    (2000, 2, 29), (2023, 5, 6), (2026, 12, 31), (9999, 12, 31)]:
        date = dt.date(y, m, d)
        out.append(("ordinal", y, m, d, date.toordinal(), (date - EPOCH_DATE).days))

    for text in ["2023-05-06T12:00:00+02:00", "2023-05-06T12:00:00Z", "2023-05-06T12:00:00",
                 "2023-05-06T12:00:00.250-05:30", "20230506T235959+0100", "2023-05-06T00:30:00+01:00",
                 "1899-12-30T06:00:00", "1850-01-01T12:00:00-03:00", "2023-12-31T23:00:00-02:00",
                 "2024-02-29T12:34:56.789+14:00"]:
        parsed = dt.datetime.fromisoformat(text)
        if parsed.tzinfo is not None:
            parsed = parsed.astimezone(dt.timezone.utc).replace(tzinfo=None)
        out.append(("iso", text, day_ms(parsed)))

    years = list(range(2015, 2032)) + [1, 1899, 9999]
    for year in sorted(set(years + [y - 1 for y in years if y > 1])):
        out.append(("weekyear", year, dt.date(year, 12, 28).isocalendar()[1], dt.date(year, 1, 1).isoweekday()))
    for year in years:
        for week in range(1, 54):
            try:
                monday = dt.date.fromisocalendar(year, week, 1)
                out.append(("isoweek", year, week, (monday - EPOCH_DATE).days))
            except ValueError:
                out.append(("isoweek", year, week, "none"))

    for fmt, text in [("%d.%m.%Y", "06.05.2023"), ("%Y-%m-%d", "2023-05-06"), ("%m/%d/%Y", "12/31/1999"),
                      ("%d.%m.%Y", "31.02.2023"), ("%d.%m.%Y", "29.02.2024"), ("%Y-%m-%d", "0001-01-01"),
                      ("%d.%m.%Y", "1.1.2000"), ("%Y-%m-%d", "2023-13-01")]:
        try:
            out.append(("strptime", fmt, text, (dt.datetime.strptime(text, fmt).date() - EPOCH_DATE).days))
        except ValueError:
            out.append(("strptime", fmt, text, "none"))

    for zone in ["Europe/Berlin", "America/New_York", "Asia/Kolkata", "UTC"]:
        for secs in [1672531200, 1688169600, 1711846799, 1711846800]:  # January, July, either side of a DST switch
            offset = dt.datetime.fromtimestamp(secs, ZoneInfo(zone)).utcoffset()
            out.append(("tzoffset", zone, secs, -int(offset.total_seconds() // 60)))
        for wall in [(2023, 1, 15, 12, 0, 0), (2023, 7, 15, 12, 0, 0), (1995, 6, 1, 3, 30, 0)]:
            local = dt.datetime(*wall, tzinfo=ZoneInfo(zone))
            utc = local.astimezone(dt.timezone.utc).replace(tzinfo=None)
            out.append(("localutc", zone, *wall, day_ms(utc)))
    # The whole calendar: before the zone's first rule (local mean time), around the ends of a
    # nanosecond count since 1970 (1677/2262), and the last year.
    for wall in [(1, 1, 1, 12, 0, 0), (1800, 7, 1, 12, 0, 0), (2262, 4, 11, 23, 47, 16), (2262, 7, 1, 12, 0, 0),
                 (2263, 1, 15, 12, 0, 0), (9999, 12, 31, 12, 30, 0)]:
        local = dt.datetime(*wall, tzinfo=ZoneInfo("Europe/Berlin"))
        utc = local.astimezone(dt.timezone.utc).replace(tzinfo=None)
        out.append(("localutc", "Europe/Berlin", *wall, day_ms(utc)))

    for wall in [(2023, 5, 6, 0, 0, 0, 0), (2023, 5, 6, 12, 0, 0, 0), (2023, 5, 6, 14, 30, 0, 250),
                 (1899, 12, 30, 12, 0, 0, 0), (1899, 12, 30, 23, 59, 59, 0), (1, 1, 1, 0, 0, 0, 0),
                 (9999, 12, 31, 23, 59, 59, 999), (1850, 6, 1, 6, 0, 1, 0), (2024, 2, 29, 7, 8, 9, 10)]:
        moment = dt.datetime(*wall[:6], wall[6] * 1000)
        if moment.time() == dt.time(0):
            iso = moment.date().isoformat()
        elif moment.date() == EPOCH_DATE:
            iso = moment.time().isoformat(timespec="seconds")
        else:
            iso = moment.isoformat(timespec="milliseconds") + "Z"
        out.append(("isowrite", *wall, iso, f"{moment.year:04d}-{moment:%m-%d %H:%M:%S}"))

    unix_epoch = dt.datetime(1970, 1, 1)
    for value in [0, 1, -86400, 1000000000, 253402300799, 1000000000000, 1683374400123, -2208988800]:
        if value > 999999999999:
            moment = unix_epoch + dt.timedelta(milliseconds=value)
        else:
            moment = unix_epoch + dt.timedelta(seconds=value)
        out.append(("unix", value, day_ms(moment)))

    for row in out:
        print("\t".join(str(x) for x in row))


if __name__ == "__main__":
    main()
