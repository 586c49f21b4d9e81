#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tool/TaskSettings.h"

using kovra::C_WString;
using vrek::TaskSettings;

namespace {

// Parses `args` (without the program name) in the given mode.
int Parse(const std::vector<std::wstring>& args, TaskSettings& settings, int taskMode) {
    std::vector<std::wstring> storage;
    storage.push_back(L"vrek");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<wchar_t*> argv;
    for (auto& s : storage) argv.push_back(&s[0]);
    return vrek::ParseCommandLine(argv.data(), static_cast<int>(argv.size()), settings, taskMode);
}

std::wstring W(const C_WString& s) { return s.GetString(); }

struct LauncherCase {
    std::vector<std::wstring> args;
    int result;
    std::wstring taskLine;
    std::wstring error;
};

}  // namespace

class LauncherParse : public testing::TestWithParam<LauncherCase> {};

TEST_P(LauncherParse, ComposesTheTaskLineOrTheError) {
    const LauncherCase& c = GetParam();
    TaskSettings settings;
    EXPECT_EQ(c.result, Parse(c.args, settings, 0));
    EXPECT_EQ(c.taskLine, W(settings.GetTaskLine()));
    EXPECT_EQ(c.error, W(settings.GetErrorMessage()));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, LauncherParse,
    testing::Values(
        LauncherCase{{L"dir"}, 1, L"00001000000.00 \"dir\"", L""},
        LauncherCase{{L"--delay", L"5", L"--task", L"dir"}, 1, L"00001000005.00 \"dir\"", L""},
        LauncherCase{{L"--err", L"error.txt", L"--task", L"javac", L"readme.txt"},
                     1,
                     L"00401000000.00 \"error.txt\" \"javac readme.txt\"",
                     L""},
        LauncherCase{{L"--nul", L"--out", L"daemon.log", L"--nologo", L"--task", L"dir"},
                     1,
                     L"34300000000.00 \"daemon.log\" \"dir\"",
                     L""},
        LauncherCase{{L"-x", L"dir"}, 1, L"00001000000.00 \"-x dir\"", L""},
        LauncherCase{{L"--task", L"dir"}, 1, L"00001000000.00 \"dir\"", L""},
        LauncherCase{{L"--nul", L"--task", L"--in", L"x"}, 1, L"33301000000.00 \"--in x\"", L""},
        LauncherCase{{L"--task", L"--managed-daemon"}, 1, L"00001000000.00 \"--managed-daemon\"", L""},
        LauncherCase{{L"--Task", L"dir"}, 0, L"", L"--task オプションは必須です。"},
        LauncherCase{{L"--nul"}, 0, L"", L"--task オプションは必須です。"},
        LauncherCase{{L"--nul", L"--task"}, 0, L"", L"--task オプションには実行コマンドが必須です。"},
        LauncherCase{{L"--out", L"--task", L"dir"}, 0, L"", L""},
        LauncherCase{{L"--bogus", L"--task", L"dir"}, 0, L"", L""},
        LauncherCase{{L"--in", L"", L"--out", L"", L"--task", L"x"}, 0, L"", L"--in の値が不正です。"},
        LauncherCase{{L"--err", L"", L"--task", L"x"}, 0, L"", L"--err の値が不正です。"},
        LauncherCase{{L"--priority", L"bellow", L"--task", L"x"}, 1, L"00001000020.00 \"x\"", L""},
        LauncherCase{{L"--priority", L"5", L"--task", L"x"}, 0, L"", L"--priority の値が不正です。"},
        LauncherCase{{L"--nul", L"--out"}, 0, L"", L""},
        LauncherCase{{L"--priority", L"HIGH", L"--task", L"x"}, 1, L"00001000050.00 \"x\"", L""},
        LauncherCase{{L"--nul", L"--console", L"--task", L"x"}, 1, L"11101000000.00 \"x\"", L""},
        LauncherCase{{L"--delay", L"0.004", L"--task", L"x"}, 1, L"00001000000.00 \"x\"", L""},
        LauncherCase{{L"--delay", L"abc", L"--task", L"x"}, 0, L"", L"--delay の値が不正です。"},
        LauncherCase{{L"--delay", L"1,5", L"--task", L"x"}, 0, L"", L"--delay の値が不正です。"},
        LauncherCase{{L"--delay", L"", L"--task", L"x"}, 0, L"", L"--delay の値が不正です。"},
        LauncherCase{{L"--delay", L"2e1", L"--task", L"x"}, 1, L"000010000020.00 \"x\"", L""},
        LauncherCase{{L"--delay", L"1.5", L"--task", L"x"}, 1, L"00001000001.50 \"x\"", L""},
        LauncherCase{{L"--delay", L"-5", L"--task", L"x"}, 0, L"", L"--delay の値が不正です。"},
        LauncherCase{{L"--delay", L"-0.5", L"--task", L"x"}, 0, L"", L"--delay の値が不正です。"},
        LauncherCase{{L"--nul", L"stray", L"--task", L"dir"}, 1, L"33301000000.00 \"dir\"", L""},
        LauncherCase{{L"--flush", L"--flush2", L"--daemon", L"--hide", L"--gui", L"--pause", L"--task", L"x"},
                     1,
                     L"00011121100.00 \"x\"",
                     L""},
        LauncherCase{{L"--flush2", L"--flush", L"--task", L"x"}, 1, L"00001010000.00 \"x\"", L""},
        LauncherCase{{L"--in", L"in.txt", L"--out", L"OUT.TXT", L"--err", L"NUL", L"--task", L"a b", L"c"},
                     1,
                     L"44301000000.00 \"in.txt\" \"OUT.TXT\" \"\\\"a b\\\" c\"",
                     L""},
        LauncherCase{
            {L"--parent-console", L"--out", L"parent_console", L"--task", L"x"}, 1, L"22201000000.00 \"x\"", L""}));

TEST(LauncherParse, ManagedDaemonEndsTheParseBeforeTask) {
    TaskSettings settings;
    EXPECT_EQ(1, Parse({L"--nul", L"--managed-daemon", L"--task", L"dir"}, settings, 0));
    EXPECT_EQ(1, settings.managedDaemon);
    EXPECT_TRUE(settings.taskLine.Empty());
    EXPECT_EQ(L"parent", W(settings.inTarget)) << "nothing else was parsed";
}

TEST(LauncherParse, KeepsTheValuesTheLauncherActsOn) {
    TaskSettings settings;
    ASSERT_EQ(1, Parse({L"--dir", L"sub", L"--daemon", L"--flush2", L"--out", L"o.txt", L"--task", L"x"}, settings, 0));
    EXPECT_EQ(L"sub", W(settings.workDir));
    EXPECT_EQ(1, settings.daemon);
    EXPECT_EQ(2, settings.flushMode);
    EXPECT_EQ(L"o.txt", W(settings.outTarget));
    EXPECT_EQ(0, settings.outKind) << "the launcher parse stores no kinds";
}

TEST(LauncherParse, ArgumentsAfterTaskAreNeverSeenByTheOptionParser) {
    TaskSettings settings;
    ASSERT_EQ(1, Parse({L"--task", L"--bogus", L"--out"}, settings, 0));
    EXPECT_EQ(L"00001000000.00 \"--bogus --out\"", W(settings.taskLine));
}

struct TaskCase {
    std::vector<std::wstring> args;
    int result;
    std::wstring taskLine;
    std::wstring error;
};

class TaskParse : public testing::TestWithParam<TaskCase> {};

TEST_P(TaskParse, DecodesTheTokenOrRejectsIt) {
    const TaskCase& c = GetParam();
    TaskSettings settings;
    EXPECT_EQ(c.result, Parse(c.args, settings, 1));
    EXPECT_EQ(c.taskLine, W(settings.taskLine));
    EXPECT_EQ(c.error, W(settings.errorMessage));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TaskParse,
    testing::Values(TaskCase{{L"00001000000.00", L"dir", L"--pid-task--123"}, 1, L"dir", L""},
                    TaskCase{{L"00001000000.00", L"C:\\Program Files\\app.exe", L"-x", L"--pid-task--1"},
                             1,
                             L"\"C:\\Program Files\\app.exe\" -x",
                             L""},
                    TaskCase{{L"00001000000.00", L"a\tb", L"--pid-task--1"}, 1, L"a\tb", L""},
                    TaskCase{{L"00001000000.00", L"a\tb", L"c", L"--pid-task--1"}, 1, L"\"a\tb\" c", L""},
                    TaskCase{{}, 0, L"", L"オプションがありません"},
                    TaskCase{{L"--pid-task--5"}, 0, L"", L"不正な引数が渡されています。"},
                    TaskCase{{L"50001000000.00", L"x", L"--pid-task--5"}, 0, L"", L"不正な引数が渡されています。"},
                    TaskCase{{L"00001", L"x", L"--pid-task--5"}, 0, L"", L"不正な引数が渡されています。"},
                    TaskCase{{L"0000100000x.00", L"x", L"--pid-task--5"}, 0, L"", L"不正な引数が渡されています。"},
                    TaskCase{{L"00001000000.00 ", L"x", L"--pid-task--5"}, 0, L"", L"不正な引数が渡されています。"},
                    TaskCase{{L"000010", L"x", L"--pid-task--5"}, 1, L"x", L""},
                    // A token that announces more file names than there are arguments.
                    TaskCase{{L"44401000000.00", L"a", L"--pid-task--5"}, 0, L"", L"不正な引数が渡されています。"},
                    TaskCase{{L"04001000000.00", L"--pid-task--5"}, 0, L"", L"不正な引数が渡されています。"},
                    TaskCase{{L"04001000000.00", L"out.txt", L"--pid-task--5"}, 1, L"", L""},
                    TaskCase{{L"00001000000.00", L"--pid-task--5"}, 1, L"", L""}));

TEST(TaskParse, FillsKindsFlagsDelayAndTargets) {
    TaskSettings settings;
    ASSERT_EQ(1, Parse({L"44410101116.25", L"in.txt", L"out.txt", L"err.txt", L"cmd", L"--pid-task--9"}, settings, 1));
    EXPECT_EQ(4, settings.inKind);
    EXPECT_EQ(4, settings.outKind);
    EXPECT_EQ(4, settings.errKind);
    EXPECT_EQ(1, settings.pause);
    EXPECT_EQ(0, settings.showResult);
    EXPECT_EQ(1, settings.gui);
    EXPECT_EQ(0, settings.flushMode);
    EXPECT_EQ(1, settings.daemon);
    EXPECT_EQ(1, settings.hide);
    EXPECT_EQ(1, settings.priority);
    EXPECT_DOUBLE_EQ(6.25, settings.delaySeconds);
    EXPECT_EQ(L"in.txt", W(settings.inTarget));
    EXPECT_EQ(L"out.txt", W(settings.outTarget));
    EXPECT_EQ(L"err.txt", W(settings.errTarget));
    EXPECT_EQ(L"cmd", W(settings.taskLine));
}

TEST(Targets, ClassifyAndDefaultNames) {
    struct {
        const wchar_t* text;
        int kind;
    } cases[] = {{L"parent", 0},         {L"PARENT", 0}, {L"console", 1}, {L"parent-console", 2},
                 {L"Parent_Console", 2}, {L"nul", 3},    {L"NULL", 3},    {L"out.txt", 4},
                 {L"parent ", 4},        {L"", 5},       {L"Ｎｕｌ", 4}};
    for (const auto& c : cases) EXPECT_EQ(c.kind, vrek::ClassifyTarget(C_WString(c.text))) << c.text;
    EXPECT_EQ(L"parent", W(vrek::DefaultTargetName(0)));
    EXPECT_EQ(L"console", W(vrek::DefaultTargetName(1)));
    EXPECT_EQ(L"parent-console", W(vrek::DefaultTargetName(2)));
    EXPECT_EQ(L"nul", W(vrek::DefaultTargetName(3)));
    EXPECT_EQ(L"", W(vrek::DefaultTargetName(4)));
    EXPECT_EQ(L"", W(vrek::DefaultTargetName(-1)));
}

TEST(Priority, LevelsAndRunFlags) {
    struct {
        const wchar_t* text;
        int level;
        int flag;
    } cases[] = {{L"idle", 1, 0x10000},  {L"below", 2, 0x20000},     {L"Normal", 3, 0x40000}, {L"ABOVE", 4, 0x80000},
                 {L"high", 5, 0x100000}, {L"realtime", 6, 0x200000}, {L"bellow", 2, 0x20000}, {L"5", 0, 0x40000},
                 {L"", 0, 0x40000}};
    for (const auto& c : cases) {
        int level = vrek::ParsePriority(C_WString(c.text));
        EXPECT_EQ(c.level, level) << c.text;
        EXPECT_EQ(c.flag, vrek::PriorityToRunFlag(level)) << c.text;
    }
    EXPECT_EQ(0x40000, vrek::PriorityToRunFlag(-2));
}

TEST(ConsoleNeeds, FromTheThreeKinds) {
    struct {
        int in, out, err;
        int parent, fresh, fallback;
    } cases[] = {{0, 0, 0, 1, 0, 0}, {3, 4, 3, 0, 0, 0}, {3, 1, 3, 0, 1, 0},
                 {2, 3, 3, 1, 0, 1}, {1, 2, 0, 1, 1, 1}, {4, 4, 4, 0, 0, 0}};
    for (const auto& c : cases) {
        TaskSettings settings;
        settings.inKind = c.in;
        settings.outKind = c.out;
        settings.errKind = c.err;
        int fresh = 7;
        int fallback = 7;
        EXPECT_EQ(c.parent, vrek::GetConsoleNeeds(settings, fresh, fallback));
        EXPECT_EQ(c.fresh, fresh);
        EXPECT_EQ(c.fallback, fallback);
    }
}
