#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "support/TestSupport.h"

using kovra::C_String;
using kovra::C_WString;

// These run in the pass where Wine's ANSI code page is 932 (a Japanese Unix
// locale): conversions between the two string types go through it.
class AnsiCp932 : public testing::Test {
protected:
    void SetUp() override {
        if (GetACP() != 932)
            GTEST_SKIP() << "the ANSI code page is " << GetACP()
                         << ", not 932: Wine takes it from the Unix locale (run with VREK_WINE_LANG=ja_JP.UTF-8)";
    }
};

TEST_F(AnsiCp932, JapaneseTextRoundTrips) {
    const std::wstring japanese = L"日本語のテキスト、半角ｶﾅ";
    C_WString wide(japanese.c_str());
    C_String narrow = wide.ToString();
    EXPECT_EQ(testsupport::ToCodePage(japanese, 932), std::string(narrow.GetString()));
    EXPECT_EQ(japanese, std::wstring(C_WString(narrow).GetString()));
    EXPECT_EQ(japanese, std::wstring(C_WString(narrow.GetString()).GetString()));
}

TEST_F(AnsiCp932, WeekdayNamesDecode) {
    EXPECT_STREQ(L"火", C_WString("\x89\xCE").GetString());
    EXPECT_STREQ(L"土", C_WString("\x93\x79").GetString());
}

TEST_F(AnsiCp932, LongJapaneseTextMovesToTheHeap) {
    std::wstring many;
    for (int i = 0; i < 40; ++i) many += L"漢";
    C_String narrow = C_WString(many.c_str()).ToString();
    EXPECT_EQ(80, narrow.ByteLength());
    char buffer[5];
    EXPECT_EQ(81u, C_WString(many.c_str()).ToCharArray(buffer, sizeof buffer));
    EXPECT_EQ(4u, std::string(buffer).size()) << "cut on a character boundary";
}
