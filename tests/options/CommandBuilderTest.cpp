#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tool/CommandBuilder.h"

using kovra::C_WString;

namespace {

std::wstring SystemCmd() {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\cmd.exe";
}

// A folder as a prompt sees it: programs, batch files and a document in
// it, more programs in a folder on PATH.
struct Folder {
    testsupport::TempDir dir;
    vrek::ProgramSearch search;
    Folder() {
        CreateDirectoryW(dir.File(L"bin").c_str(), nullptr);
        CreateDirectoryW(dir.File(L"sub dir").c_str(), nullptr);
        CreateDirectoryW(dir.File(L"folder.exe").c_str(), nullptr);
        for (const wchar_t* name : {L"tool.exe", L"SETUP.COM", L"both.com", L"both.exe", L"net.exe", L"netstat.exe",
                                    L"build.bat", L"t.cmd", L"x.cmdx", L"readme.txt", L"sub dir\\run.CMD",
                                    L"bin\\tool.exe", L"bin\\onpath.exe", L"cmd.exe"})
            testsupport::WriteFileBytes(dir.File(name), "x");
        search.folder = dir.Path();
        search.path = L"\"" + dir.File(L"bin") + L"\";;" + dir.File(L"nowhere");
    }
};

}  // namespace

struct BuildCase {
    const wchar_t* line;
    vrek::CommandRoute route;
    const wchar_t* program;  // ROUTE_PROGRAM: the file started, in the folder
    int consoleFlag;
};

class CommandLine : public testing::TestWithParam<BuildCase> {};

// One reading decides the route and what is started: built-ins (however cmd
// ends their names) and cmd's syntax go to the system's cmd; other names are
// found in the folder, then on PATH, with PATHEXT; only a .exe or .com file
// is started directly. A line end is refused wherever cmd would read it.
TEST_P(CommandLine, TheRouteAndTheFileAreWhatThePromptWouldRun) {
    static Folder folder;
    const BuildCase& c = GetParam();
    SCOPED_TRACE(testsupport::Narrow(c.line));
    const vrek::CommandToStart start = vrek::BuildCommand(C_WString(c.line), folder.search);
    EXPECT_EQ(c.route, start.route);
    EXPECT_EQ(c.consoleFlag, start.consoleFlag);
    const bool viaCmd = c.route == vrek::ROUTE_BUILTIN || c.route == vrek::ROUTE_BATCH;
    if (c.route == vrek::ROUTE_PROGRAM) {
        EXPECT_EQ(0, _wcsicmp(folder.dir.File(c.program).c_str(), start.application.GetString()))
            << testsupport::Narrow(start.application.GetString());
        EXPECT_STREQ(c.line, start.commandLine.GetString());
    } else if (viaCmd) {
        EXPECT_EQ(SystemCmd(), start.application.GetString());
        EXPECT_EQ(L"cmd.exe /d /e:on /v:off /s /c \"" + std::wstring(vrek::EscapeForCmd(C_WString(c.line)).GetString()) +
                      L"\"",
                  start.commandLine.GetString());
    }
    for (const wchar_t* end : {L"\r", L"\n", L"\r\n"}) {
        const std::wstring broken = std::wstring(c.line) + L" " + end + L"echo x";
        EXPECT_EQ(!viaCmd, vrek::CanRunAsTyped(C_WString(broken.c_str()), folder.search));
    }
}

using vrek::ROUTE_BATCH;
using vrek::ROUTE_BUILTIN;
using vrek::ROUTE_NOT_FOUND;
using vrek::ROUTE_PROGRAM;
INSTANTIATE_TEST_SUITE_P(
    Examples, CommandLine,
    testing::Values(
        BuildCase{L"dir /w", ROUTE_BUILTIN, nullptr, 1}, BuildCase{L"DIR", ROUTE_BUILTIN, nullptr, 1},
        BuildCase{L"echo.hello", ROUTE_BUILTIN, nullptr, 1}, BuildCase{L"echo(x", ROUTE_BUILTIN, nullptr, 1},
        BuildCase{L"cd..", ROUTE_BUILTIN, nullptr, 1}, BuildCase{L"dir/b", ROUTE_BUILTIN, nullptr, 1},
        BuildCase{L"cd\\", ROUTE_BUILTIN, nullptr, 1}, BuildCase{L"echo-x", ROUTE_BUILTIN, nullptr, 1},
        BuildCase{L"ren a b", ROUTE_BUILTIN, nullptr, 1}, BuildCase{L"call t.cmd", ROUTE_BUILTIN, nullptr, 1},
        BuildCase{L"@echo hi", ROUTE_BUILTIN, nullptr, 1}, BuildCase{L"(echo a)", ROUTE_BUILTIN, nullptr, 1},
        BuildCase{L"d:", ROUTE_BUILTIN, nullptr, 1}, BuildCase{L"\"echo\" x", ROUTE_NOT_FOUND, nullptr, 0},
        BuildCase{L"tool a b", ROUTE_PROGRAM, L"tool.exe", 0}, BuildCase{L"onpath", ROUTE_PROGRAM, L"bin\\onpath.exe", 0},
        BuildCase{L"both", ROUTE_PROGRAM, L"both.com", 1}, BuildCase{L"setup.com x", ROUTE_PROGRAM, L"SETUP.COM", 1},
        BuildCase{L"net start", ROUTE_PROGRAM, L"net.exe", 1}, BuildCase{L"netstat -an", ROUTE_PROGRAM, L"netstat.exe", 0},
        BuildCase{L"cmd /c x", ROUTE_PROGRAM, L"cmd.exe", 1}, BuildCase{L"build release", ROUTE_BATCH, nullptr, 1},
        BuildCase{L"T.CMD. a", ROUTE_BATCH, nullptr, 1}, BuildCase{L"\"t.cmd \" a", ROUTE_BATCH, nullptr, 1},
        BuildCase{L".\\t", ROUTE_BATCH, nullptr, 1}, BuildCase{L"\"sub dir\\run.cmd\" x", ROUTE_BATCH, nullptr, 1},
        BuildCase{L"x.cmdx", ROUTE_BATCH, nullptr, 1}, BuildCase{L"readme.txt", ROUTE_BATCH, nullptr, 1},
        BuildCase{L"a/b", ROUTE_BATCH, nullptr, 1}, BuildCase{L"sub dir\\run.cmd a", ROUTE_NOT_FOUND, nullptr, 0},
        BuildCase{L"folder", ROUTE_NOT_FOUND, nullptr, 0}, BuildCase{L"\"\"", ROUTE_NOT_FOUND, nullptr, 0}));

// What cmd's first reading left literal stays literal in its second (the
// stress suite's model and the command-line grid try many more): carets
// outside quotes, a guard on each % of a variable that would expand,
// parentheses and other % as they are.
TEST(CommandLine, CmdReadsBackWhatThePromptLeft) {
    SetEnvironmentVariableW(L"VREK_SET", L"1");
    EXPECT_STREQ(L"echo %%cd:~,%VREK_SET%%cd:~,% %unset% \"a&b\" a^&b (c) ^^ %%cd:~,%CD:~1%%cd:~,%",
                 vrek::EscapeForCmd(C_WString(L"echo %VREK_SET% %unset% \"a&b\" a&b (c) ^ %CD:~1%")).GetString());
}

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

// Every built-in goes through cmd, whatever its letter case.
TEST(CommandLine, EveryBuiltinRunsThroughCmd) {
    const wchar_t* const names[] = {
        L"dir",   L"type",  L"del",   L"rmdir",    L"cd",    L"chdir", L"date",  L"time",     L"if",    L"echo",
        L"sort",  L"set",   L"tree",  L"chcp",     L"copy",  L"ftype", L"md",    L"mkdir",    L"mode",  L"move",
        L"ver",   L"vol",   L"assoc", L"break",    L"call",  L"cls",   L"color", L"endlocal", L"erase", L"exit",
        L"for",   L"goto",  L"mklink", L"path",    L"pause", L"popd",  L"prompt", L"pushd",   L"rd",    L"rem",
        L"ren",   L"rename", L"setlocal", L"shift", L"start", L"title", L"verify"};
    for (const wchar_t* name : names) {
        std::wstring word = std::wstring(name) + L"\tx";
        word[0] = static_cast<wchar_t>(towupper(word[0]));
        EXPECT_EQ(vrek::ROUTE_BUILTIN, vrek::BuildCommand(C_WString(word.c_str()), vrek::ProgramSearch()).route)
            << testsupport::Narrow(word);
    }
}
