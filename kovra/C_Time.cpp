#include "kovra/C_Time.h"

#include <time.h>

namespace kovra {

namespace {

const char* const kWeekdays[14] = {
    "Sun",
    "Mon",
    "Tue",
    "Wed",
    "Thu",
    "Fri",
    "Sat",
    // 日 月 火 水 木 金 土 in Shift_JIS
    "\x93\xFA",
    "\x8C\x8E",
    "\x89\xCE",
    "\x90\x85",
    "\x96\xD8",
    "\x8B\xE0",
    "\x93\x79",
};

}  // namespace

C_Time::C_Time() : m_time(0) { SetNow(); }

C_Time::C_Time(const int64_t& seconds) : m_time(seconds) {}

C_Time::~C_Time() {}

void C_Time::SetNow() { m_time = static_cast<int64_t>(_time64(nullptr)); }

int C_Time::GetLocalTime(struct tm* out) const {
    if (!out) return 0;
    __time64_t t = static_cast<__time64_t>(m_time);
    struct tm parts;
    if (_localtime64_s(&parts, &t) != 0) return 0;
    *out = parts;
    return 1;
}

int C_Time::GetGMTime(struct tm* out) const {
    if (!out) return 0;
    __time64_t t = static_cast<__time64_t>(m_time);
    struct tm parts;
    if (_gmtime64_s(&parts, &t) != 0) return 0;
    *out = parts;
    return 1;
}

const char* C_Time::WeekofDayToStr(int day, const int& native) {
    int index = ((day % 7) + 7) % 7;  // a negative day must not index before the table
    return kWeekdays[index + (native ? 7 : 0)];
}

}  // namespace kovra
