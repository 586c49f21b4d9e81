#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kovra/ShellMain.h"
#include "support/TestSupport.h"

using kovra::C_WArrayString;
using kovra::C_WString;
using kovra::ShellMain;
using Words = std::vector<std::wstring>;

namespace {

const wchar_t kBadVariable[] = L"環境変数の定義が不正です。";
const wchar_t kUnpairedBackquote[] = L"バッククォートが対になっていません。";
const wchar_t kUnclosedParen[] = L") で閉じられていません。";

Words ToWords(const C_WArrayString& items) {
    Words words;
    for (int i = 0; i < items.Length(); ++i) words.push_back(items[i].GetString());
    return words;
}

Words Argv(ShellMain& shell) { return Words(shell.getArgv(), shell.getArgv() + shell.getArgc()); }

int Start(ShellMain& shell, const Words& argv) {
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& word : argv) pointers.push_back(word.c_str());
    return shell.shell_start(static_cast<int>(pointers.size()), pointers.data());
}

class Shell : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetEnvironmentVariableW(L"VREK_SH_HOME", L"C:\\Users\\x");
        SetEnvironmentVariableW(L"VREK_SH_UNSET", nullptr);
        SetEnvironmentVariableW(L"VREK_SH_SELF", L"x${VREK_SH_SELF}");
        SetEnvironmentVariableW(L"VREK_SH_PING", L"${VREK_SH_PONG}");
        SetEnvironmentVariableW(L"VREK_SH_PONG", L"${VREK_SH_PING}");
        SetEnvironmentVariableW(L"VREK_SH_DOUBLE", L"${VREK_SH_DOUBLE}${VREK_SH_DOUBLE}");
        SetEnvironmentVariableW(L"VREK_SH_TOOLS", L"C:\\tools\\");
        SetEnvironmentVariableW(L"VREK_SH_QUOTE", L"say \"hi\"");
        SetEnvironmentVariableW(L"VREK_SH_PADDED", L"  a b  ");
    }
};

}  // namespace

// read_input: "eof" once its standard input ends, "open" when it has not
// ended within 10 seconds.
TEST_CHILD(read_input) {
    (void)argc, (void)argv;
    auto drain = [](void*) -> DWORD {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) continue;
        return 0;
    };
    HANDLE reader = CreateThread(nullptr, 0, drain, nullptr, 0, nullptr);
    fputs(WaitForSingleObject(reader, 10000) == WAIT_OBJECT_0 ? "eof" : "open", stdout);
    fflush(stdout);
    ExitProcess(0);
}

TEST_F(Shell, SplittersKeepOrDropDelimitersAsAsked) {
    enum { kPlain, kBare, kKeep };
    struct Row {
        const wchar_t* line;
        int mode;  // getCommandLineToArray, Ex with no keep flag, Ex with all
        Words words;
    } rows[] = {
        {L"a \"b c\" d", kPlain, {L"a", L"\"b c\"", L"d"}},
        {L"a \"b c\" d", kBare, {L"a", L"b c", L"d"}},
        {L"x $(dir /b) y", kBare, {L"x", L"dir /b", L"y"}},
        {L"x $(dir /b) y", kKeep, {L"x", L"$(dir /b)", L"y"}},
        {L"a `b c` d", kKeep, {L"a", L"`b c`", L"d"}},
        {L"a \"b c", kBare, {L"a", L"b c"}},
        {L"a $(b c", kKeep, {L"a", L"$(b c"}},
        {L"x $HOME y", kBare, {L"x", L"$HOME", L"y"}},
        {L"\"\"", kBare, {L""}},
        {L"a\\\"b", kPlain, {L"a\\", L"b"}},
        {L"a\\\"b c", kBare, {L"a\\", L"b", L"c"}},
        {L"\"a \\\"b\\\" c\" d", kPlain, {L"\"a \\\"b\\\" c\"", L"d"}},
        {L"  a\tb  ", kPlain, {L"a", L"b"}},
        {L"", kKeep, {}},
    };
    for (const Row& row : rows) {
        C_WString line(row.line);
        C_WArrayString items = row.mode == kPlain  ? ShellMain::getCommandLineToArray(line)
                               : row.mode == kBare ? ShellMain::getCommandLineToArrayEx(line, 0, 0, 0)
                                                   : ShellMain::getCommandLineToArrayEx(line, 1, 1, 1);
        EXPECT_EQ(row.words, ToWords(items)) << testsupport::Narrow(row.line) << " mode " << row.mode;
    }
}

TEST_F(Shell, StartExpandsVariablesAndRefusesBadOrEndlessOnes) {
    struct Row {
        Words argv;
        int result;
        Words out;
        const wchar_t* error;
    } rows[] = {
        {{L"prog", L"a", L"b"}, 0, {L"prog", L"a", L"b"}, nullptr},
        {{L"prog", L"${VREK_SH_HOME}\\bin"}, 0, {L"prog", L"C:\\Users\\x\\bin"}, nullptr},
        {{L"prog", L"${VREK_SH_UNSET}"}, 0, {L"prog", L""}, nullptr},
        {{L"prog", L"100$"}, 0, {L"prog", L"100$"}, nullptr},
        {{L"prog", L"C:\\dir\\", L"${VREK_SH_HOME}"}, 0, {L"prog", L"C:\\dir\\", L"C:\\Users\\x"}, nullptr},
        {{L"prog", L"${VREK_SH_TOOLS}", L"next"}, 0, {L"prog", L"C:\\tools\\", L"next"}, nullptr},
        {{L"prog", L"${VREK_SH_QUOTE}"}, 0, {L"prog", L"say \"hi\""}, nullptr},
        {{L"prog", L"${VREK_SH_PADDED}"}, 0, {L"prog", L"a b"}, nullptr},
        {{}, 0, {}, nullptr},
        {{L"prog", L"${VREK_SH_HOME"}, -1, {}, kBadVariable},
        {{L"prog", L"${VREK_SH_SELF}"}, -1, {}, kBadVariable},
        {{L"prog", L"${VREK_SH_PING}"}, -1, {}, kBadVariable},
        {{L"prog", L"${VREK_SH_DOUBLE}"}, -1, {}, kBadVariable},
        {{L"prog", L"`echo a`", L"`echo"}, 1, {}, kUnpairedBackquote},
        {{L"prog", L"$(echo"}, 1, {}, kUnclosedParen},
    };
    for (const Row& row : rows) {
        ShellMain shell;
        std::string what = row.argv.size() > 1 ? testsupport::Narrow(row.argv.back()) : "short";
        EXPECT_EQ(row.result, Start(shell, row.argv)) << what;
        EXPECT_EQ(row.out, Argv(shell)) << what;
        EXPECT_EQ(row.error ? std::wstring(row.error) : L"(none)", shell.hasError() ? shell.hasError() : L"(none)")
            << what;
    }
}

TEST_F(Shell, AFailureLeavesTheVectorAndTheNextStartClearsTheError) {
    ShellMain shell;
    ASSERT_EQ(0, Start(shell, {L"prog", L"a", L"b"}));
    EXPECT_EQ(-1, Start(shell, {L"other", L"${X"}));
    EXPECT_NE(nullptr, shell.hasError());
    // Its own vector as the input: copied before the old one is freed.
    EXPECT_EQ(0, shell.shell_start(shell.getArgc(), const_cast<const wchar_t**>(shell.getArgv())));
    EXPECT_EQ((Words{L"prog", L"a", L"b"}), Argv(shell));
    EXPECT_EQ(nullptr, shell.hasError());
    EXPECT_EQ(nullptr, shell.getArgv()[3]) << "terminated like a C argument vector";
    EXPECT_EQ(0, shell.shell_end());
    EXPECT_EQ(nullptr, shell.getArgv());
}

TEST_F(Shell, CommandsAreReplacedByTheirOutputInsideTheirArgument) {
    struct Row {
        Words argv;
        Words out;
    } rows[] = {
        {{L"prog", L"x `echo a b` y"}, {L"prog", L"x a b  y"}},
        {{L"prog", L"$(echo hi)", L"${VREK_SH_HOME}"}, {L"prog", L"hi", L"C:\\Users\\x"}},
        {{L"prog", L"`echo \"q\"`"}, {L"prog", L"\"q\""}},
        {{L"prog", L"a\"b", L"$(echo x)"}, {L"prog", L"a\"b", L"x"}},
    };
    for (const Row& row : rows) {
        ShellMain shell;
        EXPECT_EQ(0, Start(shell, row.argv)) << testsupport::Narrow(row.argv[1]);
        EXPECT_EQ(row.out, Argv(shell)) << testsupport::Narrow(row.argv[1]);
    }
    ShellMain line(C_WString(L"prog x `echo a` \"b c\""));
    EXPECT_EQ((Words{L"prog", L"x", L"a", L"b c"}), Argv(line));
}

TEST_F(Shell, RunJoinsOutputLinesAndClosesTheCommandsInput) {
    ShellMain shell;
    EXPECT_EQ(L"a b", std::wstring(shell.shell_run(C_WString(L"echo a& echo b")).GetString()));
    C_WString reader(testsupport::ChildCommand(L"read_input").c_str());
    EXPECT_EQ(L"eof", std::wstring(shell.shell_run(reader).GetString()));
}

TEST_F(Shell, ConcatArgvQuotesWhatTheLineQuoted) {
    C_WString line(L"prog \"a b\" c");
    ShellMain shell(line);
    EXPECT_EQ(L"\"a b\" c", std::wstring(shell.getConcatArgv(1, line, 1).GetString()));
    EXPECT_EQ(L"prog \"a b\"", std::wstring(shell.getConcatArgv(0, C_WString(L"x \"y\""), 0).GetString()));
}
