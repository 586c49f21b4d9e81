#pragma once

#include <cstdint>
#include <ctime>

#include "kovra/KovraApi.h"

namespace kovra {

// A date and time as a signed 64-bit count of seconds since
// 1970-01-01 00:00 UTC.
class KOVRA_API C_Time {
public:
    C_Time();  // now
    explicit C_Time(const int64_t& seconds);
    virtual ~C_Time();

    void Set(const int64_t& seconds) { m_time = seconds; }
    void SetNow();
    int64_t Get() const { return m_time; }

    // Broken down in local time or in UTC: 1, or 0 (and *out untouched)
    // when the C runtime cannot represent the time.
    int GetLocalTime(struct tm* out) const;
    int GetGMTime(struct tm* out) const;

    // The name of a day of the week (0 is Sunday; taken modulo 7): "Sun" to
    // "Sat", or with `native` non-zero the one-character Japanese names
    // (日 to 土) as two-byte Shift_JIS strings.
    static const char* WeekofDayToStr(int day, const int& native);

private:
    int64_t m_time;
};

}  // namespace kovra
