// vrek --managed-daemon driven through its standard input against real
// daemons in the real table: the screen line by line (code page 932 bytes),
// the stop requests it writes, and how a session ends.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "VrekRun.h"
#include "support/TestSupport.h"

using e2e::ChildTask;
using e2e::StartJob;
using testsupport::SplitLines;
using testsupport::ToCodePage;
using namespace vrek;

namespace {

std::string Cp932(const std::wstring& text) { return ToCodePage(text, 932); }

std::wstring ManagerCommand() { return L"\"" + e2e::VrekPath() + L"\" --managed-daemon"; }

const char kRule[] = "----------------------------------------------------------------";

// The screen's lines before the rows; the update line (index 1) is matched
// by CheckScreen.
std::vector<std::string> ScreenHead() {
    return {
        "welcome to vrek daemon manager.",
        "update: <checked apart>",
        "",
        " <command lists>",
        Cp932(L"   sigterm: <No or 'all'> デーモンを出来るだけ安全に終了させます。"),
        Cp932(L"   sigkill: <No or 'all'> デーモンを終了できない場合は強制終了させます。"),
        Cp932(L"    update: デーモン一覧を更新します。"),
        Cp932(L"       top: <Second> 監視モードに入ります。終了は Q 又は ESC"),
        Cp932(L"      exit: 本コマンドを終了します。"),
        "",
        "No\tdaemon-started-date\tpid\tstate\tsignal\tcommand",
        kRule,
    };
}

// The update line: a date and time close to now, with the Japanese name of
// that date's day of the week.
testing::AssertionResult UpdateLineIsNow(const std::string& line) {
    static const std::regex pattern(R"(^update: (\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})\((.+)\)$)");
    std::smatch m;
    if (!std::regex_match(line, m, pattern)) return testing::AssertionFailure() << "update line: " << line;
    SYSTEMTIME shown = {};
    shown.wYear = static_cast<WORD>(std::stoi(m[1]));
    shown.wMonth = static_cast<WORD>(std::stoi(m[2]));
    shown.wDay = static_cast<WORD>(std::stoi(m[3]));
    shown.wHour = static_cast<WORD>(std::stoi(m[4]));
    shown.wMinute = static_cast<WORD>(std::stoi(m[5]));
    shown.wSecond = static_cast<WORD>(std::stoi(m[6]));
    FILETIME shownFile;
    if (!SystemTimeToFileTime(&shown, &shownFile)) return testing::AssertionFailure() << "no such date: " << line;
    SYSTEMTIME withDay;
    FileTimeToSystemTime(&shownFile, &withDay);
    static const wchar_t* const days[] = {L"日", L"月", L"火", L"水", L"木", L"金", L"土"};
    if (m[7].str() != Cp932(days[withDay.wDayOfWeek]))
        return testing::AssertionFailure() << "weekday of " << line << " is not " << Cp932(days[withDay.wDayOfWeek]);
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME nowFile;
    SystemTimeToFileTime(&now, &nowFile);
    const auto ticks = [](const FILETIME& f) {
        return static_cast<long long>((static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    const long long apartSeconds = (ticks(nowFile) - ticks(shownFile)) / 10000000;
    if (apartSeconds < -5 || apartSeconds > 120)
        return testing::AssertionFailure() << "the update line is " << apartSeconds << " s from now: " << line;
    return testing::AssertionSuccess();
}

// Compares the screen that starts at lines[at] (its first line possibly
// after a prompt) and returns the index after it.
size_t CheckScreen(const std::vector<std::string>& lines, size_t at, const std::vector<std::string>& rows,
                   const std::string& firstLinePrefix = "") {
    std::vector<std::string> expected = ScreenHead();
    expected[0] = firstLinePrefix + expected[0];
    if (rows.empty()) {
        expected.push_back("daemon process is nothing.");
    } else {
        expected.insert(expected.end(), rows.begin(), rows.end());
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (at + i >= lines.size()) {
            ADD_FAILURE() << "the screen ends early, before: " << expected[i];
            return lines.size();
        }
        if (i == 1) {
            EXPECT_TRUE(UpdateLineIsNow(lines[at + i]));
        } else {
            EXPECT_EQ(expected[i], lines[at + i]) << "screen line " << i;
        }
    }
    return at + expected.size();
}

void CheckTail(const std::vector<std::string>& lines, size_t at, const std::vector<std::string>& tail) {
    ASSERT_EQ(at + tail.size(), lines.size()) << "lines after the screen";
    for (size_t i = 0; i < tail.size(); ++i) EXPECT_EQ(tail[i], lines[at + i]) << "line " << at + i;
}

// A row as the manager prints it, from the record's live fields.
std::string Row(int number, TaskState* record) {
    const SYSTEMTIME t = GetTaskStartedAt(record);
    char head[96];
    snprintf(head, sizeof head, "%2d\t%d/%02d/%02d %02d:%02d:%02d\t%lu\t", number, t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond, GetTaskPid(record));
    return head + Cp932(TaskStateName(GetTaskState(record))) + "\t" + Cp932(TaskSignalName(GetTaskSignal(record))) +
           "\t" + Cp932(GetTaskCommand(record).GetString());
}

std::string SignalLine(int number, unsigned long pid, const char* word) {
    return "No." + std::to_string(number) + "  pid(" + std::to_string(pid) + ") => " + word;
}

// Every test starts and leaves the real table empty.
class ManagerSessions : public e2e::DaemonTableTest {
protected:
    // A real daemon whose command is a window that closes on request, so
    // that Term ends it; returns once its record is in use.
    e2e::Job& StartDaemon() {
        e2e::WindowReady ready;
        e2e::Job& job = Start(L"--nul --daemon --task " + ready.Command(60000));
        EXPECT_TRUE(WaitForState(job.pid, TASK_STATE_RUN)) << job.launcherOut;
        // The window is up: a Term sent now finds it.
        EXPECT_TRUE(ready.Wait());
        return job;
    }

    // Record i made live for a running task's pid, as a copy of its claim.
    TaskState* CopyRecord(int i, unsigned long pid, unsigned char state, unsigned char signal,
                          const std::wstring& command) {
        TaskState* record = &view.Table()->records[i];
        SetTaskPid(record, pid);
        SYSTEMTIME at = {2023, 12, 0, 31, 23, 59, 58, 0};
        SetTaskStartedAt(record, at);
        SetTaskCommand(kovra::C_WString(command.c_str()), record, pid);
        SetTaskSignal(record, signal);
        SetTaskState(record, state);
        return record;
    }

    testsupport::RunResult Session(const std::string& input) {
        return testsupport::RunCaptureInput(ManagerCommand(), input);
    }
};

}  // namespace

TEST_F(ManagerSessions, NoDaemonsListsNothingAndEveryNumberIsInvalid) {
    testsupport::RunResult run = Session("sigterm 1\nexit\n");
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = SplitLines(run.out);
    size_t at = CheckScreen(lines, 0, {});
    CheckTail(lines, at, {"", "command>Invalid no: 1", "command>bye."});
}

TEST_F(ManagerSessions, DaemonsInRecordsZeroFourAndSevenAreNumberedOneToThree) {
    e2e::Job& daemon = StartDaemon();
    TaskState* first = view.RecordOf(daemon.pid);
    ASSERT_EQ(&view.Table()->records[0], first);
    // Records 4 and 7 carry the same live task's pid, so that no sweep
    // takes them for leftovers.
    TaskState* fourth = CopyRecord(4, daemon.pid, TASK_STATE_SLEEP, TASK_SIGNAL_NONE, L"sleeper.exe 4");
    TaskState* seventh = CopyRecord(7, daemon.pid, TASK_STATE_ZRUN, TASK_SIGNAL_TERM, L"日本語.exe /7");
    const std::vector<std::string> rows = {Row(1, first), Row(2, fourth), Row(3, seventh)};

    testsupport::RunResult run = Session("sigkill 2\nexit\n");
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = SplitLines(run.out);
    size_t at = CheckScreen(lines, 0, rows);
    CheckTail(lines, at, {"", "command>" + SignalLine(2, daemon.pid, "sigkill"), "command>bye."});

    EXPECT_EQ(TASK_SIGNAL_KILL, GetTaskSignal(fourth)) << "No 2 is record 4";
    EXPECT_EQ(TASK_SIGNAL_NONE, GetTaskSignal(first));
    EXPECT_EQ(TASK_SIGNAL_TERM, GetTaskSignal(seventh));
    for (int i : {1, 2, 3, 5, 6, 8}) EXPECT_EQ(0, view.Table()->records[i].signal) << "record " << i;
    EXPECT_TRUE(daemon.Running()) << "the real daemon watches its own record only";
}

TEST_F(ManagerSessions, RejectedLinesWriteNothing) {
    e2e::Job& daemon = StartDaemon();
    TaskState* record = view.RecordOf(daemon.pid);
    const std::string row = Row(1, record);
    testsupport::RunResult run =
        Session("sigterm ALL\nsigterm\nsigkill 0\nsigterm -3\ntop 0\ntopx\nExit\n\nquit now\n  exit  \n");
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = SplitLines(run.out);
    size_t at = CheckScreen(lines, 0, {row});
    CheckTail(lines, at,
              {"", "command>Invalid no: -1", "command>Invalid no: -1", "command>Invalid no: 0",
               "command>Invalid no: -3", "command>Invalid time: 0", "command>Invalid time: -1",
               "command>unknwon command:", "command>unknwon command:", "command>unknwon command:", "command>bye."});
    EXPECT_EQ(TASK_SIGNAL_NONE, GetTaskSignal(record));
    EXPECT_TRUE(daemon.Running());
}

TEST_F(ManagerSessions, StopsFollowTheNumbersOfTheLastRefreshAndSkipRecordsFreedSince) {
    e2e::Job& one = StartDaemon();
    e2e::Job& two = StartDaemon();
    e2e::Job& three = StartDaemon();
    const std::vector<std::string> rows = {Row(1, view.RecordOf(one.pid)), Row(2, view.RecordOf(two.pid)),
                                           Row(3, view.RecordOf(three.pid))};

    testsupport::PipedProcess manager;
    ASSERT_TRUE(manager.Start(ManagerCommand()));
    size_t seen = manager.WaitFor("command>");
    ASSERT_NE(std::string::npos, seen) << manager.Output();

    // No 2 is killed and its record freed; the numbers stay until a refresh.
    ASSERT_TRUE(manager.Write("sigkill 2\n"));
    seen = manager.WaitFor("command>", 10000, seen);
    ASSERT_NE(std::string::npos, seen) << manager.Output();
    EXPECT_EQ(2u, two.Wait(15000));
    EXPECT_EQ(nullptr, view.RecordOf(two.pid));

    ASSERT_TRUE(manager.Write("sigterm 2\nsigterm all\n"));
    seen = manager.WaitFor("command>", 10000, manager.WaitFor("command>", 10000, seen));
    ASSERT_NE(std::string::npos, seen) << manager.Output();
    EXPECT_EQ(2u, one.Wait(15000)) << "Term closes the daemon's window";
    EXPECT_EQ(2u, three.Wait(15000));
    EXPECT_EQ(0, view.LiveCount());

    ASSERT_TRUE(manager.Write("update\nexit\n"));
    EXPECT_EQ(0u, manager.Wait());

    std::vector<std::string> lines = SplitLines(manager.Output());
    size_t at = CheckScreen(lines, 0, rows);
    const std::vector<std::string> between = {
        "",
        "command>" + SignalLine(2, two.pid, "sigkill"),
        "command>" + Cp932(L"プロセスは終了処理が行われています。"),
        "command>" + SignalLine(1, one.pid, "sigterm"),
        SignalLine(3, three.pid, "sigterm"),
    };
    ASSERT_GT(lines.size(), at + between.size());
    for (size_t i = 0; i < between.size(); ++i) EXPECT_EQ(between[i], lines[at + i]) << "line " << at + i;
    at = CheckScreen(lines, at + between.size(), {}, "command>");
    CheckTail(lines, at, {"", "command>bye."});
}

TEST_F(ManagerSessions, AScriptOnStandardInputStopsEveryDaemonAndEndsAtTheEndOfInput) {
    e2e::Job& one = StartDaemon();
    e2e::Job& two = StartDaemon();
    const std::vector<std::string> rows = {Row(1, view.RecordOf(one.pid)), Row(2, view.RecordOf(two.pid))};
    // As `echo sigterm all | vrek --managed-daemon`.
    testsupport::RunResult run = Session("sigterm all\r\n");
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::string> lines = SplitLines(run.out);
    size_t at = CheckScreen(lines, 0, rows);
    CheckTail(lines, at,
              {"", "command>" + SignalLine(1, one.pid, "sigterm"), SignalLine(2, two.pid, "sigterm"),
               "command>" + Cp932(L"コマンドが不正です。"), "bye."});
    EXPECT_EQ(2u, one.Wait(15000));
    EXPECT_EQ(2u, two.Wait(15000));
    EXPECT_EQ(0, view.LiveCount());
}

TEST_F(ManagerSessions, LinesAreReadIn259BytePiecesAndTheEndOfInputEndsTheSession) {
    struct Case {
        const char* what;
        std::string input;
        std::vector<std::string> tail;
    };
    const std::string invalid = "command>" + Cp932(L"コマンドが不正です。");
    const Case cases[] = {
        // 259 bytes, then the rest of the 300-byte line: "exit" after blanks.
        {"a 300-byte line",
         std::string(259, 'x') + std::string(36, ' ') + "exit\n",
         {"", "command>unknwon command:", "command>bye."}},
        {"a last line without its line end", "sigterm 1", {"", "command>Invalid no: 1", invalid, "bye."}},
        {"no input at all", "", {"", invalid, "bye."}},
        {"a 259-byte line ends where its line end is read alone",
         std::string(259, ' ') + "\n",
         {"", "command>unknwon command:", "command>unknwon command:", invalid, "bye."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::RunResult run = Session(c.input);
        EXPECT_EQ(0u, run.exitCode);
        std::vector<std::string> lines = SplitLines(run.out);
        CheckTail(lines, CheckScreen(lines, 0, {}), c.tail);
    }
}

TEST_F(ManagerSessions, AnInputThatFailsEveryReadEndsAfterTheSecondFailure) {
    testsupport::TempDir dir;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    // Open for writing only: every read of it fails, without an end of file.
    HANDLE writeOnly =
        CreateFileW(dir.File(L"in.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writeOnly);
    testsupport::PipedProcess manager;
    ASSERT_TRUE(manager.Start(ManagerCommand(), nullptr, writeOnly));
    CloseHandle(writeOnly);
    EXPECT_EQ(0u, manager.Wait(15000)) << manager.Output();
    std::vector<std::string> lines = SplitLines(manager.Output());
    const std::string invalid = Cp932(L"コマンドが不正です。");
    CheckTail(lines, CheckScreen(lines, 0, {}), {"", "command>" + invalid, "command>" + invalid, "bye."});
}
