#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tool/CommandBuilder.h"

using kovra::C_WString;

namespace {

// The system's cmd.exe and the switches every line run through it gets.
std::wstring Cmd() {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\cmd.exe /d /e:on /v:off /s /c ";
}

}  // namespace

struct BuildCase {
    const wchar_t* line;
    const wchar_t* built;  // after the cmd prefix when `viaCmd`
    bool viaCmd;
    int consoleFlag;
    int builtin;  // IsShellBuiltin of the first word
};

class CommandLine : public testing::TestWithParam<BuildCase> {};

TEST_P(CommandLine, BuiltinsAndBatchFilesGoThroughTheInterpreter) {
    const BuildCase& c = GetParam();
    const std::wstring built = (c.viaCmd ? Cmd() : std::wstring()) + c.built;
    int flag = 7;
    EXPECT_EQ(built, vrek::BuildCommandLine(C_WString(c.line), &flag).GetString());
    EXPECT_EQ(c.consoleFlag, flag);
    EXPECT_EQ(built, vrek::BuildCommandLine(C_WString(c.line), nullptr).GetString());
    std::wstring line = c.line;
    std::wstring first = line.substr(0, line.find_first_of(L" \t"));
    EXPECT_EQ(c.builtin, vrek::IsShellBuiltin(C_WString(first.c_str()), nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CommandLine,
    testing::Values(
        BuildCase{L"dir /w", L"\"dir /w\"", true, 1, 1}, BuildCase{L"DIR", L"\"DIR\"", true, 1, 1},
        BuildCase{L"echo hello world", L"\"echo hello world\"", true, 1, 1}, BuildCase{L"set", L"\"set\"", true, 1, 1},
        BuildCase{L"notepad readme.txt", L"notepad readme.txt", false, 0, 0},
        BuildCase{L"build.bat release", L"\"build.bat release\"", true, 1, 0},
        BuildCase{L"\"C:\\My Dir\\run.CMD\" \"C:\\x\\\" y", L"\"\"C:\\My Dir\\run.CMD\" \"C:\\x\\\" y\"", true, 1, 0},
        BuildCase{L"setup.COM", L"setup.COM", false, 1, 0},
        BuildCase{L"cmd /k title x", L"cmd /k title x", false, 1, 0}, BuildCase{L"cmd.exe", L"cmd.exe", false, 1, 0},
        BuildCase{L"net start", L"net start", false, 1, 0}, BuildCase{L"netstat -an", L"netstat -an", false, 0, 0},
        BuildCase{L"C:\\Windows\\System32\\cmd.exe", L"C:\\Windows\\System32\\cmd.exe", false, 0, 0},
        BuildCase{L"", L"", false, 0, 0}, BuildCase{L"dir\t/w", L"\"dir\t/w\"", true, 1, 1},
        BuildCase{L"\"C:\\Program Files\\dir\" x", L"\"C:\\Program Files\\dir\" x", false, 0, 0},
        BuildCase{L"t", L"t", false, 0, 0}, BuildCase{L"echo.", L"echo.", false, 0, 0},
        // What cmd's first reading left literal stays literal in its second
        // (the stress suite's model and the command-line grid try many more).
        BuildCase{L"echo %OS% \"a&b\" (c)", L"\"echo %%cd:~,%OS%%cd:~,% \"a&b\" ^(c^)\"", true, 1, 1}));

// Where an element starts in the raw line, by the runtime's rules: quotes,
// backslashes before quotes, doubled quotes, blanks and tabs, the program
// name's own rule. A split that does not give argv back gives no position.
TEST(CommandLine, TheCommandStartsWhereTheRuntimeFoundItsFirstElement) {
    struct {
        const wchar_t* raw;
        std::vector<std::wstring> argv;
        int index;
        const wchar_t* text;  // from the element on; null: no position
    } cases[] = {
        {L"\"C:\\a b\\vrek.exe\"\t--task  \"x\\\"y\" z ",
         {L"C:\\a b\\vrek.exe", L"--task", L"x\"y", L"z"},
         2,
         L"\"x\\\"y\" z "},
        {L"\"v\"rek\" x\" --task a", {L"vrek x", L"--task", L"a"}, 2, L"a"},
        {L"vrek \"a\"\"b\" \"\" c\\\\\" d", {L"vrek", L"a\"b", L"", L"c\\ d"}, 2, L"\"\" c\\\\\" d"},
        {L"vrek \"a\"\"b c\" d", {L"vrek", L"a\"b", L"c d"}, 2, L"c\" d"},
        {L"vrek \"un\\\\\\\"closed", {L"vrek", L"un\\\"closed"}, 1, L"\"un\\\\\\\"closed"},
        {L"vrek echo a", {L"vrek", L"echo", L"b"}, 1, nullptr},
        {L"vrek echo a", {L"vrek", L"echo"}, 1, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> storage = c.argv;
        std::vector<wchar_t*> argv;
        for (auto& a : storage) argv.push_back(&a[0]);
        const int argc = static_cast<int>(argv.size());
        const int start = vrek::FindArgumentStart(c.raw, argv.data(), argc, c.index);
        if (!c.text) {
            EXPECT_EQ(-1, start) << testsupport::Narrow(c.raw);
            continue;
        }
        ASSERT_GE(start, 0) << testsupport::Narrow(c.raw);
        EXPECT_EQ(std::wstring(c.text), c.raw + start);
        EXPECT_EQ(std::wstring(c.text), vrek::CommandTextFrom(c.raw, argv.data(), argc, c.index).GetString());
    }
    // Without a position, the elements quoted where they need it.
    std::vector<std::wstring> storage{L"vrek", L"a b", L"c\\", L""};
    std::vector<wchar_t*> argv;
    for (auto& a : storage) argv.push_back(&a[0]);
    EXPECT_STREQ(L"\"a b\" c\\ \"\"", vrek::CommandTextFrom(nullptr, argv.data(), 4, 1).GetString());
}

// Every built-in of the table goes through cmd, whatever its letter case.
TEST(CommandLine, EveryBuiltinOfTheTableRunsThroughCmd) {
    const wchar_t* const names[] = {L"dir", L"type",  L"del",  L"rmdir", L"cd",   L"chdir", L"date", L"time",
                                    L"if",  L"echo",  L"sort", L"set",   L"tree", L"chcp",  L"copy", L"ftype",
                                    L"md",  L"mkdir", L"mode", L"move",  L"ver",  L"vol"};
    for (const wchar_t* name : names) {
        for (std::wstring word : {std::wstring(name), std::wstring(name) + L"\tx"}) {
            word[0] = static_cast<wchar_t>(towupper(word[0]));
            int flag = 0;
            EXPECT_EQ(vrek::ROUTE_BUILTIN, vrek::RouteOf(C_WString(word.c_str()), &flag)) << testsupport::Narrow(word);
            EXPECT_EQ(1, flag);
            EXPECT_EQ(Cmd() + L"\"" + word + L"\"",
                      vrek::BuildCommandLine(C_WString(word.c_str()), nullptr).GetString());
        }
    }
    EXPECT_EQ(vrek::ROUTE_PROGRAM, vrek::RouteOf(C_WString(L"dirx"), nullptr));
}
