// The daemon manager's logic with its seams: the monitor wait against a
// scripted clock and keyboard, the weekday names, and whole sessions of the
// real manager loop run in a child process on a table of the test's own.
#include <windows.h>
#include <gtest/gtest.h>

#include <locale.h>
#include <stdio.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "kovra/C_Mapping.h"
#include "kovra/C_MappingMemory.h"
#include "support/TestSupport.h"
#include "tool/DaemonManager.h"
#include "tool/DaemonRegistry.h"

using namespace vrek;
using testsupport::ChildCommand;
using testsupport::SplitLines;
using testsupport::ToCodePage;
using testsupport::UniqueName;

namespace {

// --- A scripted clock and keyboard. Sleeping advances the clock; a key
// becomes available once that many sleeps have passed.
struct ScriptedKey {
    unsigned long afterSleeps;
    int code;
};

struct Script {
    DWORD now = 0;
    DWORD step = 0;  // 0: each sleep advances the clock by its own length
    unsigned long sleeps = 0;
    std::vector<ScriptedKey> keys;
    size_t nextKey = 0;
    unsigned long keysRead = 0;
};

Script g_script;

int ScriptKeyWaiting() {
    return g_script.nextKey < g_script.keys.size() && g_script.keys[g_script.nextKey].afterSleeps <= g_script.sleeps;
}

int ScriptReadKey() {
    ++g_script.keysRead;
    if (g_script.nextKey >= g_script.keys.size()) return -1;  // _getch would block: never asked here
    return g_script.keys[g_script.nextKey++].code;
}

DWORD ScriptNow() { return g_script.now; }

void ScriptSleep(DWORD ms) {
    ++g_script.sleeps;
    g_script.now += g_script.step ? g_script.step : ms;
}

ManagerSeams ScriptSeams() { return ManagerSeams{ScriptKeyWaiting, ScriptReadKey, ScriptNow, ScriptSleep}; }

void ResetScript(DWORD start, DWORD step, std::vector<ScriptedKey> keys) {
    g_script = Script();
    g_script.now = start;
    g_script.step = step;
    g_script.keys = std::move(keys);
}

}  // namespace

TEST(ManagerMonitorWait, RefreshesWhenThePeriodHasPassedOrLeavesOnEscOrLowercaseQ) {
    const int esc = 27;
    struct Case {
        const char* what;
        int period;
        DWORD start;
        DWORD step;
        std::vector<ScriptedKey> keys;
        MonitorOutcome outcome;
        unsigned long sleeps;
    };
    const Case cases[] = {
        {"one second: ten polls of 100 ms", 1, 5000, 0, {}, MONITOR_REFRESH, 10},
        {"three seconds", 3, 0, 0, {}, MONITOR_REFRESH, 30},
        {"across the wrap of the millisecond clock", 1, 0xFFFFFF00u, 0, {}, MONITOR_REFRESH, 10},
        {"slow sleeps still end on time", 1, 0, 450, {}, MONITOR_REFRESH, 3},
        {"a period below 1 refreshes at once", 0, 0, 0, {}, MONITOR_REFRESH, 0},
        {"a negative period refreshes at once", -5, 0, 0, {}, MONITOR_REFRESH, 0},
        {"lowercase q leaves at the next poll", 5, 0, 0, {{3, 'q'}}, MONITOR_LEAVE, 3},
        {"ESC leaves", 5, 0, 0, {{7, esc}}, MONITOR_LEAVE, 7},
        {"a key waiting at the start", 5, 0, 0, {{0, 'q'}}, MONITOR_LEAVE, 0},
        {"uppercase Q and other keys are dropped", 2, 0, 0, {{1, 'Q'}, {2, 'x'}, {3, ' '}}, MONITOR_REFRESH, 20},
        {"every waiting key is read at one poll", 5, 0, 0, {{4, 'x'}, {4, 'Q'}, {4, 'q'}}, MONITOR_LEAVE, 4},
        {"the second part of a two-part key is no q (Alt+F10)", 1, 0, 0, {{2, 0}, {2, 'q'}}, MONITOR_REFRESH, 10},
        {"nor after 0xE0", 1, 0, 0, {{2, 0xE0}, {2, esc}}, MONITOR_REFRESH, 10},
        {"a q after a two-part key counts", 1, 0, 0, {{2, 0xE0}, {2, 'K'}, {2, 'q'}}, MONITOR_LEAVE, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetScript(c.start, c.step, c.keys);
        EXPECT_EQ(c.outcome, MonitorWait(c.period, ScriptSeams()));
        EXPECT_EQ(c.sleeps, g_script.sleeps);
    }
}

TEST(ManagerMonitorWait, PeriodsBeyondThirtyTwoBitsOfMillisecondsRefreshOnTime) {
    struct Case {
        const char* what;
        int period;
        DWORD step;
        unsigned long sleeps;
    };
    const Case cases[] = {
        // 4 294 968 s are 2^32 + 704 ms: cut to 32 bits they would be 0.7 s.
        {"just past 2^32 ms", 4294968, 1000000, 4295},
        // The longest period a line can give, with the clock wrapping at
        // nearly every reading.
        {"INT_MAX seconds", INT_MAX, 0xFFFFFFFFu, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetScript(0x80000000u, c.step, {});
        EXPECT_EQ(MONITOR_REFRESH, MonitorWait(c.period, ScriptSeams()));
        EXPECT_EQ(c.sleeps, g_script.sleeps);
        // And a q still leaves such a period.
        ResetScript(0, c.step, {{2, 'q'}});
        EXPECT_EQ(MONITOR_LEAVE, MonitorWait(c.period, ScriptSeams()));
        EXPECT_EQ(2u, g_script.sleeps);
    }
}

namespace {

std::wstring WeekdayNames() {
    std::wstring names;
    for (int day = -8; day <= 14; ++day) names += WeekdayText(day).GetString();
    return names;
}

}  // namespace

// Code page 932 gives the names whatever the ANSI code page: this suite runs
// where it is not 932, the next one where it is.
TEST(ManagerWeekday, JapaneseNamesFromSundayWhateverTheAnsiCodePage) {
    EXPECT_EQ(
        L"\u571f\u65e5\u6708\u706b\u6c34\u6728\u91d1\u571f\u65e5\u6708\u706b\u6c34\u6728\u91d1\u571f\u65e5"
        L"\u6708\u706b\u6c34\u6728\u91d1\u571f\u65e5",
        WeekdayNames());
}

TEST(ManagerWeekdayCp932, TheSameUnderCodePage932) {
    ASSERT_EQ(932u, GetACP());
    EXPECT_EQ(L"\u65e5", std::wstring(WeekdayText(0).GetString()));
    EXPECT_EQ(L"\u706b", std::wstring(WeekdayText(2).GetString()));
    EXPECT_EQ(L"\u571f", std::wstring(WeekdayText(6).GetString()));
}

// --- Whole sessions: the real manager loop on a table of the test's own,
// with the scripted clock and keyboard, in a child whose output the test
// reads.

// Arguments: block name, mutex name, clock start, then key steps
// "<sleeps>:<code>".
TEST_CHILD(manager_session) {
    if (argc < 3) return 90;
    setlocale(LC_CTYPE, "japanese");
    std::vector<ScriptedKey> keys;
    for (int i = 3; i < argc; ++i) {
        wchar_t* end = nullptr;
        unsigned long after = wcstoul(argv[i], &end, 10);
        keys.push_back(ScriptedKey{after, static_cast<int>(wcstol(end + 1, nullptr, 10))});
    }
    ResetScript(wcstoul(argv[2], nullptr, 10), 0, keys);
    DaemonRegistry registry(argv[0], argv[1]);
    return RunDaemonManager(registry, stdin, ScriptSeams());
}

namespace {

const char kWelcome[] = "welcome to vrek daemon manager.";

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string Cp932(const std::wstring& text) { return ToCodePage(text, 932); }

// A table of the test's own, mapped by the test for the whole test.
class ManagerSession : public testing::Test {
protected:
    void SetUp() override {
        source.Open(2);
        table = static_cast<TaskStateTable*>(
            mapping.Map(&source, block.c_str(), 1, PAGE_READWRITE, 0, REGISTRY_BLOCK_SIZE));
        ASSERT_NE(nullptr, table);
    }

    // A live record. Its pid is this test program's: the manager, a copy of
    // the same program, takes it for a running task and keeps it.
    TaskState* Live(int i, unsigned char state, const std::wstring& command) {
        TaskState* record = &table->records[i];
        SetTaskState(record, state);
        SetTaskSignal(record, TASK_SIGNAL_NONE);
        SYSTEMTIME at = {2024, 2, 4, 27, 13, 5, 9, 0};
        SetTaskStartedAt(record, at);
        SetTaskCommand(kovra::C_WString(command.c_str()), record, GetCurrentProcessId());
        return record;
    }

    testsupport::RunResult Run(const std::string& input, const std::vector<std::wstring>& keys = {},
                               DWORD clockStart = 1000) {
        std::wstring args = block + L" " + mutex + L" " + std::to_wstring(clockStart);
        for (const std::wstring& key : keys) args += L" " + key;
        return testsupport::RunCaptureInput(ChildCommand(L"manager_session", args), input);
    }

    std::wstring block = UniqueName(L"mgrblock");
    std::wstring mutex = UniqueName(L"mgrmutex");
    kovra::C_MappingMemory source;
    kovra::C_Mapping mapping;
    TaskStateTable* table = nullptr;
};

}  // namespace

TEST_F(ManagerSession, MonitorModeRefreshesEachPeriodUntilALowercaseQ) {
    struct Case {
        const char* what;
        std::string input;
        std::vector<std::wstring> keys;
        DWORD clockStart;
        size_t screens;
    };
    const Case cases[] = {
        // Start, "top 1", then refreshes after 10 and 20 polls; Q and x are
        // dropped; q after 25 polls leaves.
        {"top 1, left with q", "top 1\nexit\n", {L"5:120", L"12:81", L"25:113"}, 1000, 4},
        {"the same across the clock's wrap", "top 1\nexit\n", {L"5:120", L"12:81", L"25:113"}, 0xFFFFFE00u, 4},
        {"top alone: every 3 s", "top\nexit\n", {L"65:113"}, 1000, 4},
        {"top 2, left with ESC", "top 2\nexit\n", {L"3:27"}, 1000, 2},
        {"Alt+F10 is no q", "top 1\nexit\n", {L"2:0", L"2:113", L"15:113"}, 1000, 3},
        {"twice into monitor mode", "top 1\ntop 1\nexit\n", {L"5:113", L"15:113"}, 1000, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::RunResult run = Run(c.input, c.keys, c.clockStart);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(c.screens, Count(run.out, kWelcome)) << run.out;
        // Out of monitor mode: an empty line and the prompt, then "bye.".
        EXPECT_EQ("daemon process is nothing.\r\n\r\ncommand>bye.\r\n",
                  run.out.substr(run.out.size() - std::min<size_t>(run.out.size(), 44)));
    }
}

TEST_F(ManagerSession, RowsShowTheRecordsFieldsAsTheTableHoldsThem) {
    Live(1, TASK_STATE_RUN, L"ping -t localhost");
    TaskState* slept = Live(3, TASK_STATE_SLEEP, L"\u65e5\u672c\u8a9e.exe /x");
    SetTaskSignal(slept, TASK_SIGNAL_KILL);
    Live(4, TASK_STATE_ZRUN, L"app.exe");
    // Bytes no task writes: an impossible date, unknown state and signal,
    // a command without its terminating zero.
    TaskState* foreign = Live(9, TASK_STATE_RUN, L"");
    const unsigned char date[16] = {0xFF, 0xFF, 13, 0, 9, 0, 99, 0, 25, 0, 61, 0, 99, 0, 0xFF, 0xFF};
    memcpy(foreign->startedAt, date, sizeof date);
    for (int i = 0; i < 260; ++i) {
        foreign->command[2 * i] = 'A';
        foreign->command[2 * i + 1] = 0;
    }
    SetTaskState(foreign, 9);
    SetTaskSignal(foreign, 7);

    testsupport::RunResult run = Run("exit\n");
    EXPECT_EQ(0u, run.exitCode);
    const std::string pid = std::to_string(GetCurrentProcessId());
    std::vector<std::string> lines = SplitLines(run.out);
    const std::vector<std::string> rows = {
        " 1\t2024/02/27 13:05:09\t" + pid + "\tRun\t----\tping -t localhost",
        " 2\t2024/02/27 13:05:09\t" + pid + "\tSleep\tKill\t" + Cp932(L"\u65e5\u672c\u8a9e.exe /x"),
        " 3\t2024/02/27 13:05:09\t" + pid + "\tZRun\t----\tapp.exe",
        " 4\t65535/13/99 25:61:99\t" + pid + "\t----\t----\t" + std::string(259, 'A'),
        "",
        "command>bye.",
    };
    ASSERT_EQ(12 + rows.size(), lines.size()) << run.out;
    EXPECT_EQ("----------------------------------------------------------------", lines[11]);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], lines[12 + i]) << "row " << i + 1;
}

TEST_F(ManagerSession, ARecordOfAProcessThatIsGoneIsNotListed) {
    Live(0, TASK_STATE_RUN, L"kept");
    TaskState* gone = Live(1, TASK_STATE_RUN, L"gone");
    SetTaskPid(gone, 0xFFFFFFF0u);  // no process has such an id
    testsupport::RunResult run = Run("exit\n");
    EXPECT_NE(std::string::npos, run.out.find("\tkept\r\n"));
    EXPECT_EQ(std::string::npos, run.out.find("gone")) << run.out;
    EXPECT_EQ(TASK_STATE_DEAD, GetTaskState(gone));
}

TEST_F(ManagerSession, CharactersARowCannotShowPrintAsQuestionMarksAndTheRowStaysWhole) {
    // The euro sign and the emoji have no code page 932 form; the line end
    // and the escape would break the row or drive the terminal.
    Live(0, TASK_STATE_RUN, L"a\u20ac b\U0001F600 c\r\nd\x1b[2Je\tf \u65e5 end");
    Live(1, TASK_STATE_RUN, L"next");
    testsupport::RunResult run = Run("exit\n");
    std::vector<std::string> lines = SplitLines(run.out);
    ASSERT_EQ(16u, lines.size()) << run.out;
    const std::string pid = std::to_string(GetCurrentProcessId());
    EXPECT_EQ(" 1\t2024/02/27 13:05:09\t" + pid + "\tRun\t----\ta? b?? c??d?[2Je\tf " + Cp932(L"\u65e5") + " end",
              lines[12]);
    EXPECT_EQ(" 2\t2024/02/27 13:05:09\t" + pid + "\tRun\t----\tnext", lines[13]);
}
