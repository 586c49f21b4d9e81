// The daemon table is writable by any process of the session. A foreign
// process writes garbage into it, or takes its names first: the manager, the
// launcher's check and the tasks keep working, and no process that is not a
// vrek task is ever signalled or ended.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "Stress.h"
#include "support/TestSupport.h"

using e2e::ChildTask;
using stress::Rng;
using namespace vrek;

namespace {

// One record's worth of garbage, in one of the shapes a foreign writer (or
// a stray pointer) leaves: random bytes; a live-looking record of another
// process, its command without a terminator; states and signals out of
// range; a free record with debris.
void Scribble(TaskState* record, Rng& rng, const std::vector<unsigned long>& pids) {
    unsigned char* bytes = reinterpret_cast<unsigned char*>(record);
    const uint32_t shape = rng.Below(5);
    if (shape == 0) {
        for (size_t i = 0; i < sizeof(TaskState); ++i) bytes[i] = static_cast<unsigned char>(rng.Next());
        return;
    }
    for (size_t i = 0; i < sizeof record->startedAt; ++i) record->startedAt[i] = static_cast<unsigned char>(rng.Next());
    for (size_t i = 0; i < sizeof record->command; ++i)
        record->command[i] = static_cast<unsigned char>(1 + rng.Below(255));
    SetTaskPid(record, rng.Pick(pids));
    const unsigned char shapes[][2] = {
        {TASK_STATE_RUN, TASK_SIGNAL_KILL},
        {static_cast<unsigned char>(6 + rng.Below(250)), static_cast<unsigned char>(3 + rng.Below(253))},
        {static_cast<unsigned char>(1 + rng.Below(5)), TASK_SIGNAL_TERM},
        {TASK_STATE_DEAD, static_cast<unsigned char>(rng.Next())}};
    SetTaskState(record, shapes[shape - 1][0]);
    SetTaskSignal(record, shapes[shape - 1][1]);
}

// A foreign process that keeps writing garbage into every record but one
// while the manager reads them.
struct Scribbler {
    TaskStateTable* table;
    const TaskState* spared;
    std::vector<unsigned long> pids;
    uint64_t seed;
    std::atomic<bool> stop{false};
    long writes = 0;

    void All(Rng& rng) {
        for (auto& record : table->records)
            if (&record != spared) Scribble(&record, rng, pids);
        table->registrations = static_cast<unsigned char>(rng.Next());
        ++writes;
    }
    static DWORD WINAPI Run(void* self) {
        auto* scribbler = static_cast<Scribbler*>(self);
        Rng rng(scribbler->seed);
        while (!scribbler->stop) scribbler->All(rng);
        return 0;
    }
};

}  // namespace

using HostileTable = e2e::DaemonTableTest;

TEST_F(HostileTable, GarbageInTheBlockStopsNoToolAndTouchesNoForeignProcess) {
    testsupport::TempDir dir;
    // A process that is no vrek task, whose pid the garbage names (a reused
    // pid, for the table), and one that has ended.
    testsupport::ChildProcess sentinel;
    ASSERT_TRUE(sentinel.Start(testsupport::ChildCommand(L"stubborn")));
    testsupport::ChildProcess ended;
    ASSERT_TRUE(ended.Start(testsupport::ChildCommand(L"stubborn", L"0")));
    ASSERT_TRUE(ended.Wait(30000));
    // A daemon whose own record the garbage spares: it must run on.
    auto witness = e2e::StartJob(L"--nul --daemon --task " + e2e::FamilyTask(dir.File(L"witness"), 1));
    ASSERT_EQ(0u, witness->launcherExit) << witness->launcherOut;
    e2e::Family witnessCommand(dir.File(L"witness"));
    ASSERT_TRUE(witnessCommand.Found());
    TaskState* witnessRecord = view.RecordOf(witness->pid);
    ASSERT_NE(nullptr, witnessRecord);

    Scribbler scribbler{view.Table(),
                        witnessRecord,
                        {0, sentinel.Pid(), ended.Pid(), GetCurrentProcessId(), 4, 0xFFFFFFFF, 8, 1000000},
                        stress::BaseSeed()};
    const int rounds = stress::Scaled(3, 20);
    int sessions = 0;
    int registered = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Rng rng(stress::BaseSeed() + static_cast<uint64_t>(round));
        scribbler.seed = rng.Next();
        scribbler.stop = false;
        HANDLE thread = CreateThread(nullptr, 0, Scribbler::Run, &scribbler, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        testsupport::RunResult manager =
            stress::RunManager("update\nsigterm 0\nsigkill 99\nsigterm ALL\ntop 0\n\x01\x02\xff\x1b[2J\n" +
                               std::string(300, 'x') + "\nsigkill \"1\" '2' <3>\nup\nexit\n");
        scribbler.stop = true;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_EQ(0u, manager.exitCode) << manager.out;
        EXPECT_NE(std::string::npos, manager.out.find("bye.")) << manager.out;
        sessions += manager.exitCode == 0;

        // The launcher's check and a new task's claim over fresh garbage.
        scribbler.All(rng);
        const std::wstring pidFile = dir.File(L"round" + std::to_wstring(round));
        auto job = e2e::StartJob(L"--nul --daemon --task " + e2e::FamilyTask(pidFile));
        ASSERT_EQ(0u, job->launcherExit) << job->launcherOut;
        e2e::Family command(pidFile);
        ASSERT_TRUE(command.Found());
        TaskState* record = view.RecordOf(job->pid);
        EXPECT_NE(nullptr, record) << "the new daemon did not register";
        if (record) {
            ++registered;
            SetTaskSignal(record, TASK_SIGNAL_KILL);
            EXPECT_EQ(2u, job->Wait(30000));
            EXPECT_TRUE(command.AllEnd(30000));
        }

        EXPECT_EQ(TASK_STATE_RUN, GetTaskState(witnessRecord));
        EXPECT_EQ(witness->pid, GetTaskPid(witnessRecord));
        EXPECT_TRUE(witness->Running()) << "the witness daemon ended";
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(sentinel.Handle(), 0))
            << "a process that is no vrek task was ended";
    }
    // The last manager stops the witness through its own record, and only it.
    Rng last(stress::BaseSeed());
    scribbler.All(last);
    EXPECT_EQ(0u, stress::RunManager("sigkill all\nexit\n").exitCode);
    EXPECT_EQ(2u, witness->Wait(30000));
    EXPECT_TRUE(witnessCommand.AllEnd(30000));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(sentinel.Handle(), 0));
    stress::Figure(
        "%d rounds of garbage in the daemon table (%ld block-wide writes, during %d manager sessions): "
        "%d launchers registered their daemons over it, the witness daemon ran on, no foreign process "
        "ended",
        rounds, scribbler.writes, sessions, registered);
}

namespace {

// An object that some other program made first under one of the table's
// names.
enum Squatter { SMALL_BLOCK, MUTEX_AS_BLOCK, EVENT_AS_MUTEX };

struct SquatCase {
    const char* what;
    Squatter squatter;
    bool tableUsable;  // the daemons register (without exclusion for EVENT_AS_MUTEX)
};

HANDLE Squat(Squatter squatter) {
    switch (squatter) {
    case SMALL_BLOCK:
        return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, REGISTRY_BLOCK_NAME);
    case MUTEX_AS_BLOCK:
        return CreateMutexW(nullptr, FALSE, REGISTRY_BLOCK_NAME);
    default:
        return CreateEventW(nullptr, TRUE, FALSE, REGISTRY_MUTEX_NAME);
    }
}

}  // namespace

class SquattedNames : public testing::TestWithParam<SquatCase> {};

TEST_P(SquattedNames, LeaveTheTableUnusableOrUnlockedButTheToolStandsUp) {
    const SquatCase& c = GetParam();
    HANDLE squatter = Squat(c.squatter);
    ASSERT_NE(nullptr, squatter);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(squatter);
        GTEST_SKIP() << "another process holds the daemon table: its names cannot be taken first";
    }
    testsupport::TempDir dir;
    auto job = e2e::StartJob(L"--nul --daemon --task " + e2e::FamilyTask(dir.File(L"pid")));
    // The command starts only after its task has claimed its record: the
    // manager must not look before that.
    e2e::Family command(dir.File(L"pid"), c.tableUsable ? 30000 : 0);
    testsupport::RunResult manager = stress::RunManager("sigkill all\nexit\n");
    EXPECT_EQ(0u, manager.exitCode) << manager.out;
    if (c.tableUsable) {
        ASSERT_EQ(0u, job->launcherExit) << job->launcherOut;
        EXPECT_TRUE(command.Found());
        EXPECT_NE(std::string::npos, manager.out.find("pid(" + std::to_string(job->pid) + ") => sigkill"))
            << manager.out;
        EXPECT_EQ(2u, job->Wait(30000));
    } else {
        EXPECT_EQ(1u, job->launcherExit);
        EXPECT_EQ(e2e::PutwsBytes(L"管理者権限が無いため --daemon オプションに失敗しました。"), job->launcherOut);
        EXPECT_NE(std::string::npos, manager.out.find("daemon process is nothing.")) << manager.out;
    }
    CloseHandle(squatter);
    stress::Figure("the table's names taken first (%s): the tool stood up", c.what);
}

INSTANTIATE_TEST_SUITE_P(Names, SquattedNames,
                         testing::Values(SquatCase{"a block smaller than the table", SMALL_BLOCK, false},
                                         SquatCase{"a mutex under the block's name", MUTEX_AS_BLOCK, false},
                                         SquatCase{"an event under the mutex's name", EVENT_AS_MUTEX, true}));
