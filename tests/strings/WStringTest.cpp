#include <gtest/gtest.h>

#include <string>

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "kovra/common/kovra_GetLastName.h"

using kovra::C_String;
using kovra::C_WString;

namespace {

std::wstring W(const C_WString& s) { return s.GetString(); }

}  // namespace

// Growth that a caller can observe: the heap buffer a string keeps, through
// the pointer it hands out and through _reserve, which reports 0 when the
// capacity already suffices.
TEST(WStringStorage, FortyCharactersGetCapacity296AndKeepItAcrossClearAndShortAssignment) {
    std::wstring forty(40, L'x');
    C_WString s(forty.c_str());
    const wchar_t* heap = s.GetString();
    EXPECT_EQ(0, s._reserve(296));
    s.Clear();
    EXPECT_EQ(0, s.Length());
    EXPECT_EQ(heap, s.GetString()) << "Clear keeps the heap buffer";
    s = L"ab";
    EXPECT_EQ(L"ab", W(s));
    EXPECT_EQ(heap, s.GetString()) << "a short text reuses the heap buffer";
    EXPECT_EQ(0, s._reserve(296));
    EXPECT_EQ(1, s._reserve(297));
    EXPECT_EQ(L"ab", W(s)) << "_reserve keeps the text";
}

TEST(WStringStorage, ShortTextStaysInlineAndAppendingGrowsWith256Slack) {
    C_WString s(std::wstring(31, L'a').c_str());
    EXPECT_EQ(1, s._reserve(33)) << "31 units from a C string live inline: any heap request allocates";

    C_WString grown(std::wstring(30, L'a').c_str());
    grown += L"b";  // 31 units: beyond the inline limit for appends
    EXPECT_EQ(0, grown._reserve(31 + 256));
    EXPECT_EQ(1, grown._reserve(31 + 257));

    C_WString many;
    for (int i = 0; i < 1000; ++i) many += L"0123456789";
    EXPECT_EQ(10000, many.Length());
    EXPECT_EQ(L'9', many.CharAt(9999));
}

TEST(WStringStorage, AppendingAStringToItselfDoubles) {
    C_WString small(L"abc");
    small += small;
    EXPECT_EQ(L"abcabc", W(small));
    C_WString large(std::wstring(300, L'z').c_str());
    large += large;
    EXPECT_EQ(std::wstring(600, L'z'), W(large));
    large = large.GetString() + 590;  // assignment from its own text
    EXPECT_EQ(std::wstring(10, L'z'), W(large));
}

// Operations that build a new string size it exactly: 40 units need a heap
// buffer of 41, so _reserve(41) finds nothing to do and _reserve(42) grows.
TEST(WStringStorage, NewStringsOfFortyUnitsHoldExactly41) {
    const C_WString forty(std::wstring(40, L'a').c_str());
    const C_WString padded((L" " + std::wstring(40, L'a') + L" ").c_str());
    const C_String narrow(std::string(40, 'a').c_str());
    struct Row {
        const char* operation;
        C_WString result;
    } rows[] = {
        {"SubString", padded.SubString(1, 40)},
        {"Trim", padded.Trim()},
        {"ToUpper", forty.ToUpper()},
        {"Replace(wchar_t, wchar_t)", forty.Replace(L'a', L'b')},
        {"Replace(text, text)", forty.Replace(C_WString(L"a"), C_WString(L"b"))},
        {"operator+", C_WString(std::wstring(20, L'a').c_str()) + C_WString(std::wstring(20, L'a').c_str())},
    };
    for (Row& row : rows) {
        EXPECT_EQ(40, row.result.Length()) << row.operation;
        EXPECT_EQ(0, row.result._reserve(41)) << row.operation;
        EXPECT_EQ(1, row.result._reserve(42)) << row.operation;
    }
    C_String replaced = narrow.Replace('a', 'b');
    EXPECT_EQ(0, replaced._reserve(41));
    EXPECT_EQ(1, replaced._reserve(42)) << "the narrow Replace(char, char) too";
    EXPECT_EQ(L"ab", W(C_WString(L"abcd").Replace(L'c', L'\0'))) << "a 0 replacement ends the text";
}

TEST(WStringBasics, NullAndEmptyInputs) {
    C_WString fromNull(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(fromNull.Empty());
    EXPECT_NE(nullptr, fromNull.GetString());
    C_WString s(L"keep");
    s = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(L"keep", W(s));
    s += static_cast<const wchar_t*>(nullptr);
    s += L"";
    EXPECT_EQ(L"keep", W(s));
    EXPECT_EQ(-1, s.CharAt(-1));
    EXPECT_EQ(-1, s.CharAt(4));
    EXPECT_EQ(L'k', s.CharAt(0));
}

TEST(WStringBasics, NumbersAndCharactersFormatAsPrintfDoes) {
    C_WString s;
    s = -42;
    EXPECT_EQ(L"-42", W(s));
    s += 'x';
    EXPECT_EQ(L"-42x", W(s));
    s = 1.5;
    EXPECT_EQ(L"1.500000", W(s));
    EXPECT_EQ(L"a7", W(C_WString(L"a") + 7));
    EXPECT_EQ(L"ab", W(C_WString(L"a").ConcatWChar(L'b')));
}

TEST(WStringSubString, Boundaries) {
    C_WString s(L"abcdef");
    EXPECT_EQ(L"abcdef", W(s.SubString(0, s.Length())));
    EXPECT_EQ(L"abcdef", W(s.SubString(0, s.Length() - 1)));
    EXPECT_EQ(L"", W(s.SubString(2, 1)));
    EXPECT_EQ(L"", W(s.SubString(s.Length())));
    EXPECT_EQ(L"", W(s.SubString(-1)));
    EXPECT_EQ(L"c", W(s.SubString(2, 2)));
    EXPECT_EQ(L"cdef", W(s.SubString(2)));
    EXPECT_EQ(L"", W(s.SubString(0, 7)));
    EXPECT_EQ(L"", W(C_WString().SubString(0, 0)));
}

TEST(WStringTrim, RemovesControlsAndBlanksOnly) {
    EXPECT_EQ(L"a b", W(C_WString(L" \ta b\r\n").Trim()));
    EXPECT_EQ(L"", W(C_WString(L" \t\r\n ").Trim()));
    EXPECT_EQ(L"", W(C_WString().Trim()));
    EXPECT_EQ(L"\x3000x\x3000", W(C_WString(L"\x3000x\x3000").Trim())) << "U+3000 is not blank";
    EXPECT_EQ(L"x", W(C_WString(L"\x01x\x1f").Trim()));
}

TEST(WStringCase, OnlyAsciiIsFolded) {
    EXPECT_EQ(L"abc", W(C_WString(L"ABC").ToLower()));
    EXPECT_EQ(L"ABC", W(C_WString(L"abc").ToUpper()));
    EXPECT_EQ(L"\xFF21", W(C_WString(L"\xFF21").ToLower())) << "full-width A stays";
    EXPECT_EQ(L"\x00C0", W(C_WString(L"\x00C0").ToLower())) << "above 127 stays";
}

TEST(WStringSearch, StartsEndsIndexOf) {
    C_WString s(L"hello world");
    EXPECT_TRUE(s.StartsWith(C_WString(L"")));
    EXPECT_TRUE(s.EndsWith(C_WString(L"")));
    EXPECT_TRUE(s.StartsWith(C_WString(L"hello")));
    EXPECT_TRUE(s.StartsWith(C_WString(L"world"), 6));
    EXPECT_FALSE(C_WString(L"ab").EndsWith(C_WString(L"xab")));
    EXPECT_TRUE(s.EndsWith("world"));
    EXPECT_EQ(-1, s.IndexOf(C_WString(L"")));
    EXPECT_EQ(-1, C_WString().IndexOf(C_WString(L"a")));
    EXPECT_EQ(4, s.IndexOf(C_WString(L"o")));
    EXPECT_EQ(7, s.IndexOf(L'o', 5));
    EXPECT_EQ(7, s.LastIndexOf(L'o'));
    EXPECT_EQ(4, s.LastIndexOf(L'o', 6));
    EXPECT_EQ(6, s.IndexOf("world"));
    EXPECT_EQ(-1, s.IndexOf(L'z'));
}

TEST(WStringSearch, IndexOfWhichReadsTokensOfWidth) {
    C_WString s(L"a b\tc");
    EXPECT_EQ(1, s.IndexOfWhich(C_WString(L"\t "), 0, 1));
    EXPECT_EQ(3, s.IndexOfWhich(C_WString(L"\t "), 2, 1));
    EXPECT_EQ(-1, s.IndexOfWhich(C_WString(L"\t "), 0, 0));
    EXPECT_EQ(-1, C_WString(L"abc").IndexOfWhich(C_WString(L"\t "), 0, 1));
    EXPECT_EQ(2, C_WString(L"xyab").IndexOfWhich(C_WString(L"zzab"), 0, 2));
    EXPECT_EQ(-1, C_WString(L"xya").IndexOfWhich(C_WString(L"ab"), 0, 2)) << "no match across the end";
    EXPECT_EQ(-1, C_WString(L"xyc").IndexOfWhich(C_WString(L"abc"), 0, 2)) << "a short last piece never matches";
    EXPECT_EQ(2, C_WString(L"  x").IndexOfSkip(C_WString(L" "), 0, 1));
    EXPECT_EQ(6, C_WString(L"a'b c' c").IndexOfSkipQuote(C_WString(L" "), 0));
}

TEST(WStringCompare, OrdinalWithPrefixAndEmptyRules) {
    EXPECT_EQ(0, C_WString(L"abc").CompareTo(C_WString(L"abc")));
    EXPECT_EQ(L'b' - L'd', C_WString(L"abc").CompareTo(C_WString(L"adc")));
    EXPECT_EQ(1, C_WString(L"abcd").CompareTo(C_WString(L"abc")));
    EXPECT_EQ(-1, C_WString(L"abc").CompareTo(C_WString(L"abcd")));
    EXPECT_EQ(3, C_WString(L"abc").CompareTo(C_WString()));
    EXPECT_EQ(-3, C_WString().CompareTo(C_WString(L"abc")));
    EXPECT_EQ(0, C_WString().CompareTo(C_WString()));
    EXPECT_GT(C_WString(L"\xFF21").CompareTo(C_WString(L"A")), 0) << "units compare unsigned";
    EXPECT_TRUE(C_WString(L"a") < C_WString(L"b"));
    EXPECT_TRUE(C_WString(L"b") >= C_WString(L"b"));
    EXPECT_TRUE(C_WString(L"ab") == "ab");
}

struct EncloseCase {
    const wchar_t* text;
    int start;
    int flags;
    long long value;
    int end;
    int digits;
};

class WStringEnclose : public testing::TestWithParam<EncloseCase> {};

TEST_P(WStringEnclose, FindsTheFirstNumber) {
    const EncloseCase& c = GetParam();
    int end = 99;
    int digits = 99;
    C_WString text(c.text);
    EXPECT_EQ(c.value, text.EncloseInt64(c.start, &end, c.flags, &digits));
    EXPECT_EQ(c.end, end);
    EXPECT_EQ(c.digits, digits);
    EXPECT_EQ(static_cast<int>(static_cast<unsigned long long>(c.value) & 0xFFFFFFFFu),
              text.EncloseInt(c.start, nullptr, c.flags, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Cases, WStringEnclose,
                         testing::Values(EncloseCase{L"x-12y", 0, 7, -12, 4, 2}, EncloseCase{L"--5", 0, 7, 5, 3, 1},
                                         EncloseCase{L"- 5", 0, 7, 5, 3, 1}, EncloseCase{L"+-+7", 0, 7, -7, 4, 1},
                                         EncloseCase{L"'7' 8", 0, 7, 8, 5, 1}, EncloseCase{L"'7' 8", 0, 0, 7, 2, 1},
                                         EncloseCase{L"\"7\" 8", 0, 2, 8, 5, 1}, EncloseCase{L"\"7\" 8", 0, 1, 7, 2, 1},
                                         EncloseCase{L"'a\\'7' 9", 0, 1, 9, 8, 1}, EncloseCase{L"-'7'5", 0, 7, 5, 5, 1},
                                         EncloseCase{L"<a href='1'>2", 0, 7, 2, 13, 1},
                                         EncloseCase{L"<a href='>1'>2", 0, 7, 2, 14, 1},
                                         EncloseCase{L"<a>2", 0, 3, 2, 4, 1}, EncloseCase{L"abc", 0, 7, -1, -1, 0},
                                         EncloseCase{L"'123", 0, 7, -1, -1, 0}, EncloseCase{L"12", 5, 7, -1, -1, 0},
                                         EncloseCase{L"--pid-task--1234", 12, 7, 1234, 16, 4},
                                         EncloseCase{L"--pid-task---5", 12, 7, -5, 14, 1},
                                         EncloseCase{L"99999999999", 0, 7, 99999999999LL, 11, 11},
                                         EncloseCase{L"a007b", 0, 7, 7, 4, 3}));

TEST(WStringEditing, TrimTokensSqueezeReplaceEnclose) {
    EXPECT_EQ(L"x", W(C_WString(L"ababxab").TrimChars(C_WString(L"ab"), 2)));
    EXPECT_EQ(L"xab", W(C_WString(L"ababxab").TrimFirstChars("ab", 2)));
    EXPECT_EQ(L"ababx", W(C_WString(L"ababxab").TrimLastChars("ab", 2)));
    EXPECT_EQ(L"", W(C_WString(L"xxx").TrimLastChars("x", 1)));
    EXPECT_EQ(L"a b c", W(C_WString(L"a  b   c").Squeeze(C_WString(L" "))));
    EXPECT_EQ(L"abc", W(C_WString(L"aabbcc").Squeeze(C_WString())));
    EXPECT_EQ(L"a-b-c", W(C_WString(L"a b c").Replace(L' ', L'-')));
    EXPECT_EQ(L"xyxy", W(C_WString(L"abab").Replace(C_WString(L"ab"), C_WString(L"xy"))));
    EXPECT_EQ(L"abab", W(C_WString(L"abab").Replace(C_WString(), C_WString(L"q"))));
    int next = 0;
    EXPECT_EQ(L"b", W(C_WString(L"a[b]c").Enclose(C_WString(L"["), C_WString(L"]"), 0, &next, 0)));
    EXPECT_EQ(4, next);
    EXPECT_EQ(L"[b]", W(C_WString(L"a[b]c").Enclose(C_WString(L"["), C_WString(L"]"), 0, &next, 1)));
    EXPECT_EQ(L"", W(C_WString(L"a[b").Enclose(C_WString(L"["), C_WString(L"]"), 0, &next, 0)));
    EXPECT_EQ(-1, next);
    C_WString opens[2] = {C_WString(L"("), C_WString(L"{")};
    C_WString closes[2] = {C_WString(L")"), C_WString(L"}")};
    int which = -1;
    EXPECT_EQ(L"q", W(C_WString(L"x{q}(r)").EncloseWhich(opens, closes, 2, 0, &next, 0, &which)));
    EXPECT_EQ(1, which);
}

TEST(WStringFormat, StringfNeverCutsLongText) {
    EXPECT_EQ(L"00001000005.00 ",
              W(C_WString::Stringf(L"%d%d%d%d%d%d%d%d%d%d%.2f ", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 5.0)));
    EXPECT_EQ(L" --pid-task--42", W(C_WString::Stringf(L" --pid-task--%u", 42u)));
    EXPECT_EQ(L"", W(C_WString::Stringf(nullptr)));
    std::wstring longText(5000, L'q');
    C_WString formatted = C_WString::Stringf(L"<%ls>", longText.c_str());
    EXPECT_EQ(5002, formatted.Length());
    EXPECT_EQ(L'>', formatted.CharAt(5001));
    C_WString edge = C_WString::Stringf(L"%ls", std::wstring(1023, L'e').c_str());
    EXPECT_EQ(1023, edge.Length());
    C_WString over = C_WString::Stringf(L"%ls", std::wstring(1024, L'e').c_str());
    EXPECT_EQ(1024, over.Length());
    wchar_t small[4];
    EXPECT_EQ(-1, C_WString::StringfEx(small, 4, L"%d", 12345));
    EXPECT_EQ(3, C_WString::StringfEx(small, 4, L"%d", 123));
    EXPECT_STREQ(L"123", small);
}

TEST(WStringConversion, AsciiRoundTripAndMeasures) {
    C_WString s(L"dir /w");
    C_String narrow = s.ToString();
    EXPECT_STREQ("dir /w", narrow.GetString());
    EXPECT_EQ(L"dir /w", W(C_WString(narrow)));
    EXPECT_EQ(12, s.WByteLength());
    EXPECT_EQ(4, C_WString(L"a\x3042"
                           L"b")
                     .ByteLength());
    EXPECT_TRUE(C_WString().ToString().Empty());
    char buffer[4];
    EXPECT_EQ(7u, s.ToCharArray(buffer, sizeof buffer));
    EXPECT_STREQ("dir", buffer);
}

TEST(LastName, LastPathComponent) {
    using kovra::common::kovra_GetLastName;
    EXPECT_EQ(L"tool.exe", W(kovra_GetLastName(C_WString(L"C:\\dir\\sub\\tool.exe"))));
    EXPECT_EQ(L"tool.exe", W(kovra_GetLastName(C_WString(L"tool.exe"))));
    EXPECT_EQ(L"", W(kovra_GetLastName(C_WString(L"C:\\dir\\"))));
    EXPECT_EQ(L"b.exe", W(kovra_GetLastName(C_WString(L"a\\x/b.exe"))));
    EXPECT_EQ(L"", W(kovra_GetLastName(C_WString())));
}
