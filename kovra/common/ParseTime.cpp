#include "kovra/common/ParseTime.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>

namespace kovra {
namespace common {

namespace {

const wchar_t* const kDays[7] = {L"sun", L"mon", L"tue", L"wed", L"thu", L"fri", L"sat"};
const wchar_t* const kMonths[12] = {L"jan", L"feb", L"mar", L"apr", L"may", L"jun",
                                    L"jul", L"aug", L"sep", L"oct", L"nov", L"dec"};

struct Zone {
    const wchar_t* name;
    int minutes;  // east of UTC
};
const Zone kZones[] = {{L"ut", 0},     {L"gmt", 0},    {L"z", 0},      {L"est", -300}, {L"edt", -240}, {L"cst", -360},
                       {L"cdt", -300}, {L"mst", -420}, {L"mdt", -360}, {L"pst", -480}, {L"pdt", -420}, {L"jst", 540}};

const int kNoZone = 1 << 30;  // local time

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// A read position in the text; every read checks the end first.
class Cursor {
public:
    Cursor(const wchar_t* s, int n) : m_s(s), m_n(n), m_i(0) {}

    bool AtEnd() const { return m_i >= m_n; }
    wchar_t Peek() const { return AtEnd() ? 0 : m_s[m_i]; }
    bool Take(wchar_t c) {
        if (AtEnd() || Lower(m_s[m_i]) != Lower(c)) return false;
        ++m_i;
        return true;
    }
    // From `least` to `most` decimal digits.
    bool Number(int least, int most, int* value, int* count = nullptr) {
        int digits = 0;
        int v = 0;
        while (digits < most && !AtEnd() && m_s[m_i] >= L'0' && m_s[m_i] <= L'9') {
            v = v * 10 + (m_s[m_i++] - L'0');
            ++digits;
        }
        if (count) *count = digits;
        *value = v;
        return digits >= least;  // a digit after `most` fails what must follow
    }
    // Any number of digits; how many.
    int SkipDigits() {
        int count = 0;
        for (; !AtEnd() && m_s[m_i] >= L'0' && m_s[m_i] <= L'9'; ++m_i) ++count;
        return count;
    }
    // Blanks and tabs: at least `least` of them.
    bool Blanks(int least) {
        int count = 0;
        while (!AtEnd() && (m_s[m_i] == L' ' || m_s[m_i] == L'\t')) {
            ++m_i;
            ++count;
        }
        return count >= least;
    }
    // ASCII letters, lower-cased; a word too long for `size` comes back
    // empty, which matches no name.
    void Word(wchar_t* word, int size) {
        int k = 0;
        while (!AtEnd() && ((m_s[m_i] >= L'a' && m_s[m_i] <= L'z') || (m_s[m_i] >= L'A' && m_s[m_i] <= L'Z'))) {
            if (k < size - 1) word[k] = Lower(m_s[m_i]);
            ++k;
            ++m_i;
        }
        word[k < size ? k : 0] = 0;
    }

private:
    const wchar_t* m_s;
    int m_n;
    int m_i;
};

struct Fields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int zone = kNoZone;  // minutes east of UTC
};

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
int64_t DaysFromEpoch(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool InRange(const Fields& f) {
    return f.year >= 1970 && f.year <= 9999 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
           f.day <= DaysInMonth(f.year, f.month) && f.hour <= 23 && f.minute <= 59 && f.second <= 59;
}

// +hhmm, or +hh:mm with `colon`; the minutes east of UTC.
bool ReadOffset(Cursor& c, bool colon, int* minutes) {
    const wchar_t sign = c.Peek();
    if (!c.Take(L'+') && !c.Take(L'-')) return false;
    int hours = 0;
    int mins = 0;
    if (!c.Number(2, 2, &hours)) return false;
    if (colon && !c.Take(L':')) return false;
    if (!c.Number(2, 2, &mins) || hours > 23 || mins > 59) return false;
    *minutes = (sign == L'-' ? -1 : 1) * (hours * 60 + mins);
    return true;
}

// hh:mm[:ss], the hour with `hourDigits` at least.
bool ReadClock(Cursor& c, int hourDigits, bool secondsRequired, Fields* f) {
    if (!c.Number(hourDigits, 2, &f->hour) || !c.Take(L':') || !c.Number(2, 2, &f->minute)) return false;
    if (c.Take(L':')) return c.Number(2, 2, &f->second);
    return !secondsRequired;
}

// 2024/03/05 [14:30[:15]], 2024-03-05 [14:30[:15]] and ISO 8601.
bool ReadNumericDate(Cursor& c, Fields* f) {
    int monthDigits = 0;
    int dayDigits = 0;
    if (!c.Number(4, 4, &f->year)) return false;
    const wchar_t separator = c.Peek();
    if (separator != L'/' && separator != L'-') return false;
    c.Take(separator);
    if (!c.Number(1, 2, &f->month, &monthDigits) || !c.Take(separator) || !c.Number(1, 2, &f->day, &dayDigits))
        return false;
    if (c.AtEnd()) return true;
    if (separator == L'-' && c.Take(L'T')) {
        if (monthDigits != 2 || dayDigits != 2 || !ReadClock(c, 2, true, f)) return false;
        if ((c.Take(L'.') || c.Take(L',')) && c.SkipDigits() == 0) return false;
        if (c.AtEnd()) return true;
        if (c.Take(L'Z')) {
            f->zone = 0;
            return c.AtEnd();
        }
        const Cursor before = c;
        if (!ReadOffset(c, true, &f->zone)) {
            c = before;
            if (!ReadOffset(c, false, &f->zone)) return false;
        }
        return c.AtEnd();
    }
    return c.Blanks(1) && ReadClock(c, 1, false, f) && c.AtEnd();
}

int IndexOf(const wchar_t* const* names, int count, const wchar_t* word) {
    for (int i = 0; i < count; ++i)
        if (std::wcscmp(names[i], word) == 0) return i;
    return -1;
}

// [Tue, ]5 Mar 2024 14:30[:15] zone
bool ReadMailDate(Cursor& c, Fields* f) {
    wchar_t word[8];
    int weekday = -1;
    if (c.Peek() < L'0' || c.Peek() > L'9') {
        c.Word(word, 8);
        weekday = IndexOf(kDays, 7, word);
        if (weekday < 0 || !c.Take(L',')) return false;
        c.Blanks(0);
    }
    int yearDigits = 0;
    if (!c.Number(1, 2, &f->day) || !c.Blanks(1)) return false;
    c.Word(word, 8);
    f->month = IndexOf(kMonths, 12, word) + 1;
    if (f->month == 0 || !c.Blanks(1) || !c.Number(2, 4, &f->year, &yearDigits) || yearDigits == 3) return false;
    if (yearDigits == 2) f->year += f->year < 50 ? 2000 : 1900;
    if (!c.Blanks(1) || !ReadClock(c, 2, false, f) || !c.Blanks(1)) return false;
    if (c.Peek() == L'+' || c.Peek() == L'-') {
        if (!ReadOffset(c, false, &f->zone)) return false;
    } else {
        c.Word(word, 8);
        const Zone* found = nullptr;
        for (const Zone& zone : kZones)
            if (std::wcscmp(zone.name, word) == 0) found = &zone;
        if (!found) return false;
        f->zone = found->minutes;
    }
    if (!c.AtEnd() || !InRange(*f)) return false;
    // 1970-01-01 was a Thursday.
    return weekday < 0 || (DaysFromEpoch(f->year, f->month, f->day) + 4) % 7 == weekday;
}

// Seconds since 1970 of a local time, by the system's time zone.
bool LocalToSeconds(const Fields& f, int64_t* seconds) {
    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(f.year);
    local.wMonth = static_cast<WORD>(f.month);
    local.wDay = static_cast<WORD>(f.day);
    local.wHour = static_cast<WORD>(f.hour);
    local.wMinute = static_cast<WORD>(f.minute);
    local.wSecond = static_cast<WORD>(f.second);
    SYSTEMTIME utc = {};
    FILETIME file = {};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &file)) return false;
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
    *seconds = (ticks - INT64_C(116444736000000000)) / 10000000;  // whole seconds: exact
    return true;
}

}  // namespace

int kovra_ParseTime(const C_WString& text, C_Time& out) {
    const C_WString trimmed = text.Trim();
    Fields f;
    Cursor numeric(trimmed.GetString(), trimmed.Length());
    Cursor mail(trimmed.GetString(), trimmed.Length());
    if (!ReadNumericDate(numeric, &f)) {
        f = Fields();
        if (!ReadMailDate(mail, &f)) return 0;
    }
    if (!InRange(f)) return 0;
    int64_t seconds = 0;
    if (f.zone == kNoZone) {
        if (!LocalToSeconds(f, &seconds)) return 0;
    } else {
        seconds = DaysFromEpoch(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second -
                  static_cast<int64_t>(f.zone) * 60;
    }
    out.Set(seconds);
    return 1;
}

}  // namespace common
}  // namespace kovra
