#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kovra/C_BinaryMemory.h"
#include "kovra/C_Memory.h"
#include "kovra/C_String.h"
#include "kovra/C_StringMemory.h"
#include "kovra/C_Time.h"
#include "kovra/C_WArrayString.h"
#include "kovra/C_WStringMemory.h"
#include "kovra/common/Array.h"
#include "kovra/common/List.h"

using namespace kovra;

TEST(NarrowString, LastIndexOfAndSubStringForTheRelay) {
    C_String s("line1\nline2\npartial");
    int nl = s.LastIndexOf("\n");
    EXPECT_EQ(11, nl);
    EXPECT_STREQ("line1\nline2\n", s.SubString(0, nl).GetString());
    EXPECT_STREQ("partial", s.SubString(nl + 1).GetString());
    EXPECT_EQ(s.Length() - 1, s.LastIndexOf(""));
    EXPECT_EQ(-1, s.LastIndexOf(static_cast<const char*>(nullptr)));
    EXPECT_EQ(-1, s.LastIndexOf("zz"));
    EXPECT_EQ(0, C_String("aaa").LastIndexOf("aaa"));
    EXPECT_STREQ("ab", (C_String("a") + "b").GetString());
    EXPECT_EQ(s.Length(), s.ByteLength());
}

TEST(NarrowString, SharesTheWideRules) {
    EXPECT_STREQ("a b", C_String(" \ta b\r\n").Trim().GetString());
    EXPECT_STREQ("", C_String("xxx").TrimLastChars("x", 1).GetString());
    EXPECT_EQ(-1, C_String("ab").CharAt(2)) << "one past the end, as C_WString";
    EXPECT_STREQ("abc", C_String("ABC").ToLower().GetString());
    EXPECT_EQ(-12, C_String("x-12y").EncloseInt(0, nullptr, 7, nullptr));
    EXPECT_EQ(-1, C_String("abc").CompareTo(C_String("abcd")));
    EXPECT_EQ(0xFF - 'a', C_String("\xFF").CompareTo(C_String("a"))) << "bytes compare unsigned";
    C_String grown(std::string(40, 'x').c_str());
    const char* heap = grown.GetString();
    grown.Clear();
    grown = "ab";
    EXPECT_EQ(heap, grown.GetString());
    EXPECT_EQ(0, grown._reserve(296));
    EXPECT_STREQ("1234567", C_String::Stringf("%d%s", 123, "4567").GetString());
    EXPECT_EQ(3000, C_String::Stringf("%s", std::string(3000, 'k').c_str()).Length());
}

TEST(NarrowString, BytesAndShiftJisRanges) {
    C_String s;
    const char raw[] = {'a', 0, 'b'};
    s.SetBytes(raw, 0, 3, 1);
    EXPECT_EQ(1, s.Length());
    s.SetBytes(raw, 0, 3, 0);
    EXPECT_EQ(3, s.Length());
    C_String sjis("\x93\xFA\x41");
    EXPECT_TRUE(sjis.IsSJIS_1(0));
    EXPECT_TRUE(sjis.IsSJIS_2(1));
    EXPECT_FALSE(sjis.IsSJIS_1(2));
    EXPECT_FALSE(sjis.IsSJIS_1(3));
    char small[3];
    EXPECT_EQ(2, sjis.ToCharArrayEx(small, sizeof small));
}

TEST(Memory, CreateRecreateCopy) {
    C_Memory m;
    EXPECT_EQ(0, m.CreateBuffer(0));
    EXPECT_EQ(0, m.DeleteBuffer());
    EXPECT_EQ(0, m.ZeroBuffer());
    EXPECT_EQ(1, m.CreateBuffer(4));
    EXPECT_EQ(1, m.CopyBuffer("abcd", 4));
    EXPECT_EQ(0, m.CopyBuffer("abcde", 5)) << "larger than the buffer";
    EXPECT_EQ(1, m.ReCreateBuffer(2));
    EXPECT_EQ(2u, m.GetSize());
    EXPECT_EQ(0, std::memcmp(m.GetMemory(), "ab", 2));
    EXPECT_EQ(1, m.ReCreateBuffer(6));
    const char expected[6] = {'a', 'b', 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(m.GetMemory(), expected, 6));
    C_Memory other(3);
    EXPECT_EQ(1, other.CopyBuffer(m, 2));
    EXPECT_EQ(0, other.CopyBuffer(m)) << "6 bytes do not fit 3";
}

TEST(StringMemory, AddGrowsByHalfAgainAndClearKeepsTheBuffer) {
    C_StringMemory text;
    text.Add("0123456789", 0, 10);
    EXPECT_EQ(16u, text.Capacity());
    EXPECT_EQ(10u, text.Length());
    EXPECT_STREQ("0123456789", text.Get());
    char* buffer = text.Get();
    text.Clear();
    EXPECT_EQ(16u, text.Capacity());
    EXPECT_EQ(0u, text.Length());
    EXPECT_EQ(buffer, text.Get());
    EXPECT_EQ('\0', text.Get()[9]) << "Clear zero-fills";
    text.Add("ab", 0, 0);
    text.Add(nullptr, 0, 5);
    EXPECT_EQ(0u, text.Length());
    text.Add("xxabyy", 2, 2);
    EXPECT_STREQ("ab", text.Get());
    text.Add(C_String("cd"));
    text.Insert("<");
    EXPECT_STREQ("<abcd", text.Get());
    EXPECT_EQ(0, text.GetType());
}

TEST(StringMemory, KeepsZeroBytesWhenAddedByCount) {
    C_StringMemory text;
    const char bytes[] = {'a', 0, 'b', '\n'};
    text.Add(bytes, 0, 4);
    EXPECT_EQ(4u, text.Length());
    EXPECT_EQ(0, std::memcmp(text.Get(), bytes, 4));
}

TEST(StringMemory, ReCreateShrinksAndTerminates) {
    C_StringMemory text;
    text.Add("abcdef");
    EXPECT_EQ(1, text.ReCreate(4));
    EXPECT_EQ(3u, text.Length());
    EXPECT_STREQ("abc", text.Get());
    C_WStringMemory wide;
    wide.Add(L"xyz");
    EXPECT_EQ(3u, wide.Length());
    EXPECT_EQ(1, wide.GetType());
    EXPECT_STREQ(L"xyz", wide.Get());
}

TEST(BinaryMemory, BytesAndComparison) {
    C_BinaryMemory a;
    C_BinaryMemory b;
    a.Add("\x01\x00\x02", 3);
    b.Add("\x01\x00\x02", 3);
    EXPECT_TRUE(a == b);
    b.Add("x", 1);
    EXPECT_TRUE(a != b);
    EXPECT_EQ(2, a.GetType());
    C_BinaryMemory w;
    w.Add(L"hi", 4);
    EXPECT_STREQ(L"hi", w.GetStringW().GetString());
}

TEST(WArrayString, GrowsIn512SlotSteps) {
    C_WArrayString array;
    EXPECT_EQ(0, array.Capacity());
    array.AppEnd(C_WString(L"first"));
    EXPECT_EQ(513, array.Capacity());
    for (int i = 1; i < 512; ++i) array.AppEnd(C_WString(L"x"));
    EXPECT_EQ(512, array.Length());
    EXPECT_EQ(513, array.Capacity());
    array.AppEnd(C_WString(L"513th"));
    EXPECT_EQ(513, array.Length());
    EXPECT_EQ(1025, array.Capacity());
    EXPECT_STREQ(L"first", array[0].GetString());
    EXPECT_STREQ(L"513th", array.GetString(512).GetString());
    EXPECT_FALSE(array.AppEnd(nullptr, 1));
    EXPECT_FALSE(array.AppEnd(&array[0], 0));
}

TEST(WArrayString, SelfAppendInsertParse) {
    C_WArrayString array;
    array << C_WString(L"a") << C_WString(L"b");
    array += array;
    EXPECT_EQ(4, array.Length());
    array.Insert(array[3]);
    EXPECT_STREQ(L"b", array[0].GetString());
    C_WArrayString parsed = C_WArrayString::ParseString(C_WString(L"a,,b,"), L',');
    ASSERT_EQ(4, parsed.Length());
    EXPECT_STREQ(L"", parsed[1].GetString());
    EXPECT_STREQ(L"b", parsed[2].GetString());
    EXPECT_EQ(0, C_WArrayString::ParseString(C_WString(), L',').Length());
    C_WArrayString copy = parsed;
    EXPECT_TRUE(copy == parsed);
    copy.Clear();
    EXPECT_EQ(0, copy.Length());
    EXPECT_TRUE(copy != parsed);
}

TEST(Array, GrowthAndIndexedExtension) {
    common::Array<int*> array;
    int value = 0;
    array.Append(&value);
    EXPECT_EQ(1024, array.Capacity());
    EXPECT_EQ(1, array.Count());
    array[1500] = &value;
    EXPECT_EQ(1501, array.Count());
    EXPECT_EQ(1756, array.Capacity());
    EXPECT_EQ(nullptr, array[1000]);
    common::Array<int*> moved(std::move(array));
    EXPECT_EQ(1501, moved.Count());
}

TEST(List, AppendsAtTheTail) {
    common::List<unsigned long> list;
    EXPECT_TRUE(list.Empty());
    list.Append(7);
    list.Append(9);
    EXPECT_EQ(7u, list.First());
    unsigned long sum = 0;
    list.ForEach([&](unsigned long v) { sum = sum * 10 + v; });
    EXPECT_EQ(79u, sum);
}

TEST(Time, WeekdayNames) {
    EXPECT_STREQ("Sun", C_Time::WeekofDayToStr(0, 0));
    EXPECT_STREQ("Sat", C_Time::WeekofDayToStr(13, 0));
    EXPECT_STREQ("\x93\x79", C_Time::WeekofDayToStr(6, 1)) << "土 in Shift_JIS";
    EXPECT_STREQ("\x89\xCE", C_Time::WeekofDayToStr(2, 1)) << "火 in Shift_JIS";
    EXPECT_STREQ("Sat", C_Time::WeekofDayToStr(-1, 0));
}

TEST(Time, BreaksDownSeconds) {
    C_Time t(int64_t(86400) * 365 + 3600);
    struct tm parts = {};
    ASSERT_EQ(1, t.GetGMTime(&parts));
    EXPECT_EQ(71, parts.tm_year);
    EXPECT_EQ(1, parts.tm_hour);
    EXPECT_EQ(5, parts.tm_wday);  // 1971-01-01 was a Friday
    C_Time now;
    EXPECT_GT(now.Get(), int64_t(1600000000));
    ASSERT_EQ(1, now.GetLocalTime(&parts));
}
