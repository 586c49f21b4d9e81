// Command-line quoting: what QuoteArgument writes is split back into the
// same argument by both readers a Windows program may use.
#include <windows.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tool/CommandBuilder.h"

namespace {

// Every sequence of up to three pieces that the quoting rules tell apart:
// backslash runs before a quote, at the end and elsewhere, quotes, blanks,
// tabs, the empty text and Japanese text.
std::vector<std::wstring> ArgumentGrid() {
    const std::wstring pieces[] = {L"a", L" ", L"\t", L"\"", L"\\", L"\\\\", L"\\\"", L"日本", L"b c", L"\\\\\\"};
    std::vector<std::wstring> grid{L""};
    for (const auto& p : pieces) {
        grid.push_back(p);
        for (const auto& q : pieces) {
            grid.push_back(p + q);
            for (const auto& r : {std::wstring(L"\""), std::wstring(L"\\"), std::wstring(L"x")})
                grid.push_back(p + q + r);
        }
    }
    return grid;
}

std::wstring Line(const std::vector<std::wstring>& args, bool always) {
    std::wstring line;
    for (const auto& a : args)
        line += std::wstring(vrek::QuoteArgument(kovra::C_WString(a.c_str()), always).GetString()) + L" ";
    return line;
}

}  // namespace

// Writes each of its arguments as UTF-8 followed by a zero byte.
TEST_CHILD(printargs) {
    _setmode(_fileno(stdout), _O_BINARY);
    for (int i = 0; i < argc; ++i) {
        std::string text = testsupport::Narrow(argv[i]);
        fwrite(text.c_str(), 1, text.size() + 1, stdout);
    }
    return 0;
}

TEST(Quoting, EveryArgumentOfTheGridSurvivesCommandLineToArgvW) {
    const std::vector<std::wstring> grid = ArgumentGrid();
    for (bool always : {true, false}) {
        for (const auto& argument : grid) {
            const std::vector<std::wstring> args{L"before", argument, L"after"};
            EXPECT_EQ(args, testsupport::SplitArguments(Line(args, always)))
                << "always=" << always << " argument=" << testsupport::Narrow(argument);
        }
        EXPECT_EQ(grid, testsupport::SplitArguments(Line(grid, always)))
            << "the whole grid on one line, always=" << always;
    }
}

TEST(Quoting, TheCRuntimeSplitsTheWholeGridBackIntoTheSameArguments) {
    const std::vector<std::wstring> grid = ArgumentGrid();
    testsupport::RunResult run = testsupport::RunCapture(testsupport::ChildCommand(L"printargs", Line(grid, false)));
    ASSERT_EQ(0u, run.exitCode) << run.out;
    std::string expected;
    for (const auto& a : grid) expected += testsupport::Narrow(a) + std::string(1, '\0');
    EXPECT_TRUE(testsupport::SameBytes(expected, run.out));
}

TEST(Quoting, OnlyWhatNeedsQuotesIsQuotedOnTheCommandsSide) {
    const struct {
        const wchar_t* argument;
        const wchar_t* quoted;
    } cases[] = {{L"dir", L"dir"},        {L"C:\\", L"C:\\"},   {L"/w", L"/w"},
                 {L"", L"\"\""},          {L"a b", L"\"a b\""}, {L"C:\\Program Files\\", L"\"C:\\Program Files\\\\\""},
                 {L"a\"b", L"\"a\\\"b\""}};
    for (const auto& c : cases)
        EXPECT_STREQ(c.quoted, vrek::QuoteArgument(kovra::C_WString(c.argument), false).GetString());
}
