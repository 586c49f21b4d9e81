// Daemons observed through the shared table, as the manager sees them and
// with the stop requests it writes.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VrekRun.h"
#include "support/TestSupport.h"

using e2e::ChildTask;
using e2e::StartJob;
using namespace vrek;

using Daemons = e2e::DaemonTableTest;

TEST_F(Daemons, ARegisteredTaskShowsItsStatePidStartAndCommand) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    std::wstring command = ChildTask(L"emit", L"sleep:3000");
    e2e::Job& job = Start(L"--nul --daemon --task " + command);
    ASSERT_TRUE(WaitForState(job.pid, TASK_STATE_RUN)) << job.launcherOut;
    TaskState* record = view.RecordOf(job.pid);
    EXPECT_EQ(TASK_SIGNAL_NONE, GetTaskSignal(record));
    EXPECT_EQ(job.pid, GetTaskPid(record));
    EXPECT_EQ(command, std::wstring(GetTaskCommand(record).GetString()));
    SYSTEMTIME started = GetTaskStartedAt(record);
    EXPECT_EQ(before.wYear, started.wYear);
    EXPECT_EQ(before.wDay, started.wDay);
    EXPECT_EQ(0u, job.Wait());
    EXPECT_EQ(nullptr, view.RecordOf(job.pid)) << "freed at the end";
}

TEST_F(Daemons, TheRecordSleepsDuringTheDelay) {
    e2e::Job& job = Start(L"--nul --daemon --delay 1.5 --task " + ChildTask(L"emit", L"sleep:1500"));
    EXPECT_TRUE(WaitForState(job.pid, TASK_STATE_SLEEP));
    EXPECT_TRUE(WaitForState(job.pid, TASK_STATE_RUN, 5000));
    EXPECT_EQ(0u, job.Wait());
}

TEST_F(Daemons, TermClosesTheWindowOfADaemonWithoutConsoleAndTheTaskEndsWithTwo) {
    e2e::WindowReady ready;
    e2e::Job& job = Start(L"--nul --daemon --task " + ready.Command(30000));
    ASSERT_TRUE(WaitForState(job.pid, TASK_STATE_RUN));
    ASSERT_TRUE(ready.Wait());
    SetTaskSignal(view.RecordOf(job.pid), TASK_SIGNAL_TERM);
    EXPECT_EQ(2u, job.Wait(15000));
    EXPECT_EQ(nullptr, view.RecordOf(job.pid));
}

TEST_F(Daemons, KillEndsTheCommandByForce) {
    e2e::Job& job = Start(L"--nul --daemon --task " + ChildTask(L"stubborn", L"60000"));
    ASSERT_TRUE(WaitForState(job.pid, TASK_STATE_RUN));
    SetTaskSignal(view.RecordOf(job.pid), TASK_SIGNAL_KILL);
    EXPECT_EQ(2u, job.Wait(15000));
    EXPECT_EQ(nullptr, view.RecordOf(job.pid));
}

TEST_F(Daemons, ACommandThatIgnoresTermIsMarkedAndThenKilled) {
    // vrek-shortwatch.exe is vrek with the three-minute mark at two seconds.
    e2e::Job& job = Start(L"--nul --daemon --task " + ChildTask(L"stubborn", L"60000"), L"vrek-shortwatch.exe");
    ASSERT_TRUE(WaitForState(job.pid, TASK_STATE_RUN)) << job.launcherOut;
    const DWORD signalled = GetTickCount();
    SetTaskSignal(view.RecordOf(job.pid), TASK_SIGNAL_TERM);
    EXPECT_TRUE(WaitForState(job.pid, TASK_STATE_SIGNAL, 5000));
    EXPECT_TRUE(job.Running());
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] {
            TaskState* record = view.RecordOf(job.pid);
            unsigned char state = record ? GetTaskState(record) : 0;
            return state == TASK_STATE_ZOMBIE || state == TASK_STATE_ZRUN;
        },
        10000));
    EXPECT_EQ(TASK_STATE_ZRUN, GetTaskState(view.RecordOf(job.pid))) << "a running command is suspended";
    // The watch started after the signal was written: no sooner than its mark.
    EXPECT_GE(GetTickCount() - signalled, 2000u) << "suspended before the watch's mark";
    SetTaskSignal(view.RecordOf(job.pid), TASK_SIGNAL_KILL);
    EXPECT_EQ(2u, job.Wait(15000));
    EXPECT_EQ(nullptr, view.RecordOf(job.pid));
}

TEST_F(Daemons, AKilledTasksRecordIsFreedByTheNextLauncher) {
    testsupport::TempDir dir;
    e2e::Job& first =
        Start(L"--nul --daemon --task " + ChildTask(L"emit", L"touch:" + dir.File(L"up") + L" sleep:3000"));
    ASSERT_TRUE(WaitForState(first.pid, TASK_STATE_RUN));
    // Killed once its command runs: a process whose creator dies while
    // starting it never finishes starting under Wine.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return testsupport::FileExists(dir.File(L"up")); }, 10000));
    first.Kill();
    ASSERT_NE(nullptr, view.RecordOf(first.pid)) << "a task killed outright leaves its record";
    e2e::Job& second = Start(L"--nul --nologo --daemon --out " + dir.File(L"second.txt") + L" --task " +
                             ChildTask(L"emit", L"sleep:200"));
    EXPECT_EQ(0u, second.launcherExit);
    EXPECT_EQ(nullptr, view.RecordOf(first.pid));
    EXPECT_EQ(0u, second.Wait()) << testsupport::ReadFileBytes(dir.File(L"second.txt"));
}

TEST_F(Daemons, TwentyLiveDaemonsRefuseTheTwentyFirst) {
    e2e::Job& live = Start(L"--nul --daemon --task " + ChildTask(L"emit", L"sleep:8000"));
    ASSERT_TRUE(WaitForState(live.pid, TASK_STATE_RUN));
    // Nineteen more records of the same live task fill the table.
    int filled = 0;
    for (auto& record : view.Table()->records) {
        if (GetTaskState(&record) != TASK_STATE_DEAD) continue;
        SetTaskPid(&record, live.pid);
        SetTaskState(&record, TASK_STATE_RUN);
        ++filled;
    }
    ASSERT_EQ(19, filled);
    testsupport::RunResult run = e2e::RunVrek(L"--nul --daemon --task cmd /c exit");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(e2e::PutwsBytes(L"デーモン管理は最大で 20 プロセスです。中止しました。"), run.out);

    // With one free the launcher goes on.
    SetTaskState(&view.Table()->records[19], TASK_STATE_DEAD);
    auto next = StartJob(L"--nul --daemon --task " + ChildTask(L"emit", L"sleep:100"));
    EXPECT_EQ(0u, next->launcherExit) << next->launcherOut;
    next->Wait();
}

TEST_F(Daemons, AKillDuringHeavyOutputEndsTheTask) {
    testsupport::TempDir dir;
    e2e::Job& job =
        Start(L"--nul --daemon --out " + dir.File(L"o.txt") + L" --task " + ChildTask(L"emit", L"F:1000000"));
    ASSERT_TRUE(WaitForState(job.pid, TASK_STATE_RUN));
    // Output is flowing: more than two early emissions have reached the file.
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA data;
            return GetFileAttributesExW(dir.File(L"o.txt").c_str(), GetFileExInfoStandard, &data) &&
                   (data.nFileSizeHigh > 0 || data.nFileSizeLow > (3u << 20));
        },
        20000));
    SetTaskSignal(view.RecordOf(job.pid), TASK_SIGNAL_KILL);
    EXPECT_EQ(2u, job.Wait(30000));
    EXPECT_EQ(nullptr, view.RecordOf(job.pid));
}

TEST_F(Daemons, KillEndsWhatTheCommandStartedToo) {
    testsupport::TempDir dir;
    e2e::Job& job = Start(L"--nul --daemon --task " + e2e::FamilyTask(dir.File(L"pids.txt"), 1));
    e2e::Family command(dir.File(L"pids.txt"));
    ASSERT_TRUE(command.Found());
    SetTaskSignal(view.RecordOf(job.pid), TASK_SIGNAL_KILL);
    EXPECT_EQ(2u, job.Wait(15000));
    EXPECT_TRUE(command.AllEnd(10000)) << "the helper lives on";
}

// The command ended by itself, but a helper it left keeps the task's pipes:
// a Kill then ends the helper with the task.
TEST_F(Daemons, AKillAfterTheCommandEndedStillEndsWhatItLeftInItsJob) {
    testsupport::TempDir dir;
    e2e::Job& job = Start(L"--nul --daemon --task " + e2e::FamilyTask(dir.File(L"pids.txt"), 1) + L" hold");
    e2e::Family command(dir.File(L"pids.txt"));
    ASSERT_NE(nullptr, command.Member(1));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(command.Member(0), 15000));
    ASSERT_TRUE(job.Running()) << "the helper holds the pipes";
    SetTaskSignal(view.RecordOf(job.pid), TASK_SIGNAL_KILL);
    EXPECT_EQ(2u, job.Wait(15000));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(command.Member(1), 10000))
        << "the helper lives on";
}

TEST_F(Daemons, ACommandThatEndsByItselfLeavesWhatItStartedAlone) {
    testsupport::TempDir dir;
    e2e::Job& job = Start(L"--nul --flush2 --daemon --task " + e2e::FamilyTask(dir.File(L"pids.txt"), 1, true));
    e2e::Family command(dir.File(L"pids.txt"));
    ASSERT_NE(nullptr, command.Member(1));
    EXPECT_EQ(0u, job.Wait(15000));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(command.Member(1), 0))
        << "the task's end took the helper";
}
