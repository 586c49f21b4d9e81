#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tool/TaskSettings.h"

using kovra::C_WString;
using vrek::TaskSettings;

namespace {

// The fields the task copy acts on, one per line, as UTF-8.
std::string Describe(const TaskSettings& s) {
    wchar_t line[256];
    swprintf(line, 256, L"%d %d %d|%d %d %d %d %d %d %d|%.2f", s.inKind, s.outKind, s.errKind, s.pause, s.showResult,
             s.gui, s.flushMode, s.daemon, s.hide, s.priority, s.delaySeconds);
    std::wstring text = line;
    text += L"\n" + std::wstring(s.inTarget.GetString()) + L"\n" + s.outTarget.GetString() + L"\n" +
            s.errTarget.GetString() + L"\n" + s.taskLine.GetString() + L"\n";
    return testsupport::Narrow(text);
}

}  // namespace

// The task copy: its arguments are split from the task line by the C
// runtime, exactly as in the real re-execution.
TEST_CHILD(taskparse) {
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<wchar_t*> args;
    args.push_back(const_cast<wchar_t*>(L"vrek"));
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    TaskSettings settings;
    if (!vrek::ParseCommandLine(args.data(), static_cast<int>(args.size()), settings, 1)) {
        std::string error = testsupport::Narrow(settings.errorMessage.GetString());
        fwrite(error.data(), 1, error.size(), stdout);
        return 1;
    }
    std::string text = Describe(settings);
    fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

struct RoundTrip {
    std::vector<std::wstring> launcherArgs;
    std::string expected;  // Describe() of the task copy's settings
};

class LauncherToTask : public testing::TestWithParam<RoundTrip> {};

TEST_P(LauncherToTask, TheTaskCopyDecodesWhatTheLauncherEncoded) {
    const RoundTrip& c = GetParam();
    std::vector<std::wstring> storage{L"vrek"};
    storage.insert(storage.end(), c.launcherArgs.begin(), c.launcherArgs.end());
    std::vector<wchar_t*> argv;
    for (auto& s : storage) argv.push_back(&s[0]);
    TaskSettings launcher;
    ASSERT_EQ(1, vrek::ParseCommandLine(argv.data(), static_cast<int>(argv.size()), launcher, 0));

    std::wstring line = std::wstring(launcher.taskLine.GetString()) + L" --pid-task--123";
    testsupport::RunResult run = testsupport::RunCapture(testsupport::ChildCommand(L"taskparse", line));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.out;
    EXPECT_EQ(c.expected, run.out) << "task line: " << testsupport::Narrow(line);
}

INSTANTIATE_TEST_SUITE_P(
    Grid, LauncherToTask,
    testing::Values(
        RoundTrip{{L"dir"}, "0 0 0|0 1 0 0 0 0 0|0.00\n\n\n\ndir\n"},
        RoundTrip{{L"cmd", L"/c", L"echo", L"a b"}, "0 0 0|0 1 0 0 0 0 0|0.00\n\n\n\ncmd /c echo \"a b\"\n"},
        RoundTrip{{L"--delay", L"1.5", L"--task", L"dir", L"/w"}, "0 0 0|0 1 0 0 0 0 0|1.50\n\n\n\ndir /w\n"},
        RoundTrip{{L"--delay", L"0.004", L"--task", L"x"}, "0 0 0|0 1 0 0 0 0 0|0.00\n\n\n\nx\n"},
        RoundTrip{{L"--delay", L"-0", L"--task", L"x"}, "0 0 0|0 1 0 0 0 0 0|0.00\n\n\n\nx\n"},
        RoundTrip{{L"--nul", L"--out", L"daemon.log", L"--nologo", L"--task", L"dir"},
                  "3 4 3|0 0 0 0 0 0 0|0.00\n\ndaemon.log\n\ndir\n"},
        RoundTrip{{L"--in", L"in file.txt", L"--out", L"o.txt", L"--err", L"e.txt", L"--task", L"sort"},
                  "4 4 4|0 1 0 0 0 0 0|0.00\nin file.txt\no.txt\ne.txt\nsort\n"},
        RoundTrip{{L"--console", L"--pause", L"--priority", L"realtime", L"--task", L"netstat", L"-an"},
                  "1 1 1|1 1 0 0 0 0 6|0.00\n\n\n\nnetstat -an\n"},
        RoundTrip{{L"--parent-console", L"--gui", L"--hide", L"--task", L"notepad"},
                  "2 2 2|0 1 1 0 0 1 0|0.00\n\n\n\nnotepad\n"},
        RoundTrip{{L"--nul", L"--flush", L"--out", L"d.log", L"--daemon", L"--task", L"app.exe"},
                  "3 4 3|0 1 0 1 1 0 0|0.00\n\nd.log\n\napp.exe\n"},
        RoundTrip{{L"--flush2", L"--err", L"parent", L"--delay", L"20", L"--task", L"C:\\Program Files\\a.exe"},
                  "0 0 0|0 1 0 2 0 0 0|20.00\n\n\n\n\"C:\\Program Files\\a.exe\"\n"},
        RoundTrip{{L"--task", L"--pid-task--77"}, "0 0 0|0 1 0 0 0 0 0|0.00\n\n\n\n--pid-task--77\n"},
        RoundTrip{{L"--out", L"日本語.txt", L"--task", L"echo", L"漢字"},
                  "0 4 0|0 1 0 0 0 0 0|0.00\n\n日本語.txt\n\necho 漢字\n"},
        // Backslashes before a closing quote, quotes and empty elements
        // reach the task copy unchanged, and its command line keeps them.
        RoundTrip{{L"dir", L"C:\\"}, "0 0 0|0 1 0 0 0 0 0|0.00\n\n\n\ndir C:\\\n"},
        RoundTrip{{L"--out", L"o dir\\", L"--task", L"robocopy", L"C:\\Program Files\\", L"D:\\x"},
                  "0 4 0|0 1 0 0 0 0 0|0.00\n\no dir\\\n\nrobocopy \"C:\\Program Files\\\\\" D:\\x\n"},
        RoundTrip{{L"say", L"a\"b", L"", L"\\\"", L"x"},
                  "0 0 0|0 1 0 0 0 0 0|0.00\n\n\n\nsay \"a\\\"b\" \"\" \"\\\\\\\"\" x\n"}));
