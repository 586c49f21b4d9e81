#include <gtest/gtest.h>

#include <string>

#include "tool/CommandBuilder.h"

using kovra::C_WString;

struct BuildCase {
    const wchar_t* line;
    const wchar_t* built;
    int consoleFlag;
    int builtin;  // IsShellBuiltin of the first word
};

class CommandLine : public testing::TestWithParam<BuildCase> {};

TEST_P(CommandLine, BuiltinsGoThroughTheInterpreter) {
    const BuildCase& c = GetParam();
    int flag = 7;
    EXPECT_EQ(std::wstring(c.built), vrek::BuildCommandLine(C_WString(c.line), &flag).GetString());
    EXPECT_EQ(c.consoleFlag, flag);
    EXPECT_EQ(std::wstring(c.built), vrek::BuildCommandLine(C_WString(c.line), nullptr).GetString());
    std::wstring line = c.line;
    std::wstring first = line.substr(0, line.find(L' '));
    int wordFlag = 7;
    EXPECT_EQ(c.builtin, vrek::IsShellBuiltin(C_WString(first.c_str()), &wordFlag));
    EXPECT_EQ(c.consoleFlag, wordFlag);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CommandLine,
    testing::Values(BuildCase{L"dir /w", L"cmd /c dir /w", 1, 1}, BuildCase{L"DIR", L"cmd /c DIR", 1, 1},
                    BuildCase{L"echo hello world", L"cmd /c echo hello world", 1, 1},
                    BuildCase{L"set", L"cmd /c set", 1, 1}, BuildCase{L"vol", L"cmd /c vol", 1, 1},
                    BuildCase{L"notepad readme.txt", L"notepad readme.txt", 0, 0},
                    BuildCase{L"build.bat release", L"build.bat release", 1, 0},
                    BuildCase{L"setup.COM", L"setup.COM", 1, 0}, BuildCase{L"cmd /k title x", L"cmd /k title x", 1, 0},
                    BuildCase{L"cmd.exe", L"cmd.exe", 1, 0}, BuildCase{L"net start", L"net start", 1, 0},
                    BuildCase{L"netstat -an", L"netstat -an", 0, 0},
                    BuildCase{L"C:\\Windows\\System32\\cmd.exe", L"C:\\Windows\\System32\\cmd.exe", 0, 0},
                    BuildCase{L"", L"", 0, 0}, BuildCase{L"dir\t/w", L"dir\t/w", 0, 0},
                    BuildCase{L"\"C:\\Program Files\\dir\" x", L"\"C:\\Program Files\\dir\" x", 0, 0},
                    BuildCase{L"t", L"t", 0, 0}, BuildCase{L"echo.", L"echo.", 0, 0}));
