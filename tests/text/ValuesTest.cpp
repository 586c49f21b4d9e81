#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "kovra/C_Integer.h"
#include "kovra/C_Time.h"
#include "kovra/C_WString.h"
#include "kovra/common/OsName.h"
#include "kovra/common/ParseTime.h"

using namespace kovra::common;
using kovra::C_Integer;
using kovra::C_Time;
using kovra::C_WString;

namespace {

const int64_t kMin = INT64_MIN, kMax = INT64_MAX;
const int64_t kUntouched = 123456789;

// A moment's wall clock: in UTC, or by the system's zone through
// SystemTimeToTzSpecificLocalTime (the inverse of what a local parse does).
std::string Clock(int64_t seconds, bool local) {
    const uint64_t ticks = static_cast<uint64_t>(seconds * 10000000 + INT64_C(116444736000000000));
    const FILETIME file = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc = {}, clock = {};
    FileTimeToSystemTime(&file, &utc);
    if (!local) clock = utc;
    if (local && !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &clock)) return "no local time";
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", clock.wYear, clock.wMonth, clock.wDay, clock.wHour,
             clock.wMinute, clock.wSecond);
    return text;
}

}  // namespace

// `seconds` is the moment, or for local rows the wall clock read as UTC;
// a refused text leaves the time untouched.
TEST(ParseTime, Forms) {
    const int64_t t = 1709649015;  // 2024-03-05 14:30:15 UTC, a Tuesday
    const int64_t h = 3600;
    // clang-format off
    struct Row { const wchar_t* text; bool local; int64_t seconds; } rows[] = {
        {L"2024-03-05T14:30:15Z", false, t},   {L" 2024-03-05t14:30:15.123456+09:00\t", false, t - 9 * h},
        {L"2024-03-05T14:30:15,5-0530", false, t + 5 * h + 1800}, {L"Tue, 05 Mar 2024 14:30:15 +0900", false, t - 9 * h},
        {L"tUE,5 mar 2024 14:30 gmt", false, t - 15},   {L"5 Mar 24 14:30:15 JST", false, t - 9 * h},
        {L"Sun, 06 Nov 1994 08:49:37 PST", false, 784111777 + 8 * h}, {L"01 Jan 70 00:00 UT", false, 0},
        {L"1 Jan 49 00:00 Z", false, 2493072000},  {L"2000-02-29T00:00:00Z", false, 951782400},
        {L"9999-12-31T23:59:59Z", false, 253402300799}, {L"1970-01-01T00:00:00+09:00", false, -9 * h},
        {L"2024/03/05 14:30:15", true, t}, {L"2024-3-5 14:30", true, t - 15},
        {L"2024/03/05", true, t - 52215}, {L"2024-03-05T14:30:15", true, t}};
    // clang-format on
    for (const Row& row : rows) {
        C_Time time(kUntouched);
        ASSERT_EQ(1, kovra_ParseTime(C_WString(row.text), time)) << row.text;
        EXPECT_EQ(Clock(row.seconds, false), Clock(time.Get(), row.local)) << row.text;
    }
    // clang-format off
    for (const wchar_t* text : {L"", L"2024-02-30", L"2023-02-29", L"2100-02-29", L"2024-13-01", L"2024-00-10",
            L"2024-03-05 24:00", L"2024-03-05 12:60", L"2024-03-05 12:00:60", L"1969-12-31", L"10000-01-01",
            L"2024/03-05", L"2024-03-05 14:30:15 x", L"2024-03-05T14:30", L"2024-3-05T14:30:15Z",
            L"2024-03-05T14:30:15+24:00", L"2024-03-05T14:30:15+09", L"2024-03-05T14:30:15.Z",
            L"Wed, 05 Mar 2024 14:30:15 +0900", L"05 Mar 2024 14:30:15", L"05 Foo 2024 14:30 GMT",
            L"05 Mar 024 14:30 GMT", L"01 Jan 69 00:00 GMT", L"05 Mar 2024 14:30 XST", L"Tue 05 Mar 2024 14:30 GMT"}) {
        // clang-format on
        C_Time time(kUntouched);
        EXPECT_EQ(0, kovra_ParseTime(C_WString(text), time)) << text;
        EXPECT_EQ(kUntouched, time.Get()) << text;
    }
}

// A refused text leaves the value as it was (kUntouched in the table).
TEST(Integer, ParseAndFormat) {
    // clang-format off
    struct Row { const wchar_t* text; int64_t value; } rows[] = {
        {L"0", 0}, {L"+42", 42}, {L"-0042", -42}, {L"1,234,567", 1234567}, {L"-9,223,372,036,854,775,808", kMin},
        {L"9223372036854775807", kMax}, {L"0x7FFFFFFFFFFFFFFF", kMax}, {L"-0X8000000000000000", kMin},
        {L"0x00000000000000000ff", 255}, {L"9223372036854775808", kUntouched}, {L"-9223372036854775809", kUntouched},
        {L"99999999999999999999999", kUntouched}, {L"0xFFFFFFFFFFFFFFFF", kUntouched}, {L"", kUntouched},
        {L"-", kUntouched}, {L"+-1", kUntouched}, {L"0x", kUntouched}, {L"12,34", kUntouched},
        {L"1234,567", kUntouched}, {L",123", kUntouched}, {L"1,234,", kUntouched}, {L"1,,234", kUntouched},
        {L"0x1,000", kUntouched}, {L" 1", kUntouched}, {L"1 ", kUntouched}, {L"0xG", kUntouched}, {L"１２", kUntouched}};
    // clang-format on
    for (const Row& row : rows) {
        C_Integer n(kUntouched);
        EXPECT_EQ(row.value != kUntouched ? 1 : 0, n.Parse(C_WString(row.text))) << row.text;
        EXPECT_EQ(row.value, n.Get()) << row.text;
    }
    // clang-format off
    struct Shown { int64_t value; const wchar_t *plain, *grouped, *hex; } shown[] = {
        {0, L"0", L"0", L"0x0000000000000000"}, {999, L"999", L"999", L"0x00000000000003E7"},
        {-1234567, L"-1234567", L"-1,234,567", L"0xFFFFFFFFFFED2979"},
        {kMin, L"-9223372036854775808", L"-9,223,372,036,854,775,808", L"0x8000000000000000"}};
    // clang-format on
    for (const Shown& row : shown) {
        C_Integer n(row.value), back;
        EXPECT_STREQ(row.plain, n.ToString().GetString());
        EXPECT_STREQ(row.grouped, n.ToGroupedString().GetString());
        EXPECT_STREQ(row.hex, n.ToHexString().GetString());
        EXPECT_TRUE(back.Parse(n.ToGroupedString()) && back.Get() == row.value) << row.plain;
    }
}

// An operation that is refused (done 0) leaves the value as it was.
TEST(Integer, ArithmeticRefusesOverflowAndKeepsTheValue) {
    // clang-format off
    struct Row { int64_t a; char op; int64_t b; int done; int64_t result; } rows[] = {
        {kMax, '+', 1, 0, 0}, {kMax, '+', -1, 1, kMax - 1}, {kMin, '+', -1, 0, 0}, {kMin, '-', 1, 0, 0},
        {0, '-', kMin, 0, 0}, {-1, '-', kMin, 1, kMax}, {kMax, '*', 2, 0, 0}, {kMin, '*', -1, 0, 0},
        {kMin, '*', 2, 0, 0}, {kMin, '*', kMin, 0, 0}, {kMin, '*', 1, 1, kMin}, {-(kMax / 2) - 1, '*', 2, 1, kMin},
        {kMax / 2 + 1, '*', 2, 0, 0},
        {3037000500, '*', 3037000500, 0, 0}, {-3037000499, '*', 3037000499, 1, -9223372030926249001},
        {7, '/', -2, 1, -3}, {-7, '/', 2, 1, -3}, {kMin, '/', -1, 0, 0}, {5, '/', 0, 0, 0}};
    // clang-format on
    for (const Row& row : rows) {
        C_Integer n(row.a);
        const C_Integer b(row.b);
        const int done = row.op == '+'   ? n.Add(b)
                         : row.op == '-' ? n.Subtract(b)
                         : row.op == '*' ? n.Multiply(b)
                                         : n.Divide(b);
        EXPECT_EQ(row.done, done) << row.a << row.op << row.b;
        EXPECT_EQ(row.done ? row.result : row.a, n.Get()) << row.a << row.op << row.b;
    }
    EXPECT_EQ(-1, C_Integer(kMin).Compare(C_Integer(kMax)));
    EXPECT_EQ(0, C_Integer(5).Compare(C_Integer(5)));
    EXPECT_EQ(1, C_Integer(0).Compare(C_Integer(-1)));
}

TEST(OsName, Versions) {
    // clang-format off
    struct Row { unsigned long major, minor, build; int server; const wchar_t* name; } rows[] = {
        {5, 0, 2195, 0, L"Windows 2000"}, {5, 1, 2600, 0, L"Windows XP"}, {5, 2, 3790, 0, L"Windows XP"},
        {5, 2, 3790, 1, L"Windows Server 2003"}, {6, 0, 6002, 1, L"Windows Server 2008"}, {6, 1, 7601, 0, L"Windows 7"},
        {6, 2, 9200, 1, L"Windows Server 2012"}, {6, 3, 9600, 0, L"Windows 8.1"}, {10, 0, 21999, 0, L"Windows 10"},
        {10, 0, 22000, 0, L"Windows 11"}, {10, 0, 14393, 1, L"Windows Server 2016"},
        {10, 0, 20347, 1, L"Windows Server 2019"}, {10, 0, 20348, 1, L"Windows Server 2022"},
        {10, 0, 26100, 1, L"Windows Server 2025"}, {10, 0, 14392, 1, L"Windows 10.0 (build 14392)"},
        {6, 4, 9841, 0, L"Windows 6.4 (build 9841)"}};
    // clang-format on
    for (const Row& row : rows)
        EXPECT_STREQ(row.name, kovra_OsName(row.major, row.minor, row.build, row.server).GetString()) << row.name;
}

// The kernel's shared page (KUSER_SHARED_DATA at 0x7FFE0000) holds the real
// version, which GetVersionEx does not tell a program without a
// compatibility manifest (Wine reports 6.2 there too, as Windows does).
TEST(OsName, TheRunningSystemAsTheKernelRecordsIt) {
    const BYTE* shared = reinterpret_cast<const BYTE*>(0x7FFE0000);
    auto field = [shared](size_t offset) { return *reinterpret_cast<const ULONG*>(shared + offset); };
    EXPECT_STREQ(kovra_OsName(field(0x26C), field(0x270), field(0x260), field(0x264) != VER_NT_WORKSTATION).GetString(),
                 kovra_GetOsName().GetString());
}
