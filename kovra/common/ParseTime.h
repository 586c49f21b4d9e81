#pragma once

#include "kovra/C_Time.h"
#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// Reads a date and time written in one of these forms (the whole text;
// blanks and control characters at either end are ignored):
//   2024/03/05 14:30:15, 2024-03-05 14:30:15, either without ":15", either
//   date alone (midnight): local time;
//   2024-03-05T14:30:15, with an optional fraction (dropped) and a zone Z,
//   +09:00, -05:00 or +0900; without a zone, local time;
//   [Tue, ]5 Mar 2024 14:30[:15] +0900 (Internet mail and HTTP): English
//   day and month names in any case; zones +hhmm, -hhmm, UT, GMT, Z, EST,
//   EDT, CST, CDT, MST, MDT, PST, PDT and JST (+0900); a two-digit year
//   00-49 is 20xx, 50-99 19xx.
// 1 with `out` set to the moment, or 0 with `out` untouched: for a field
// out of range (month 1-12, the day within its month by the Gregorian leap
// rule, hour 0-23, minute and second 0-59, a zone's hours 0-23 and minutes
// 0-59), a year outside 1970-9999, a weekday that does not fit the date, or
// any other text.
//
// Choices where the behaviour was open:
// - Local time is the system's time zone with its current daylight-saving
//   rule (TzSpecificLocalTimeToSystemTime): the rule the C runtime uses, and
//   so C_Time::GetLocalTime, when no TZ variable is set. A local time that
//   a clock change skips or repeats is placed as that function places it.
//   The C runtime's own mktime stops at the year 3000.
// - The year range applies to the year as written, so 1970-01-01T00:00:00
//   +09:00 is accepted and lies before 1970 in UTC (a negative count).
// - The slash and dash forms take one or two digits for the month, the day
//   and the hour; ISO 8601 and the mail form take two for every field but
//   the mail form's day; a year is four digits (the mail form: two or four).
//   Date and time are separated by one or more blanks or tabs, as are the
//   mail form's fields (a comma after the day name may be followed by none).
// - "T" and "Z" of ISO 8601 may be lower case, as RFC 3339 allows; the
//   fraction follows "." or "," and has any number of digits. Mail zone
//   names are read in any case.
// - A second of 60 (a leap second) is refused like any field out of range.
KOVRA_API int kovra_ParseTime(const C_WString& text, C_Time& out);

}  // namespace common
}  // namespace kovra
