// vrek under load: many jobs at once, one job with a huge output, many
// launchers racing for the daemon table, many daemons stopped at once.
#include <windows.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Stress.h"
#include "support/TestSupport.h"

using e2e::ChildTask;
using namespace vrek;

namespace {

double Seconds(DWORD fromTick) { return (GetTickCount() - fromTick) / 1000.0; }

}  // namespace

TEST(Load, JobsStartedAtOnceEachWriteTheirOwnFileByteExact) {
    testsupport::TempDir dir;
    const int jobs = stress::Scaled(10, 30);
    const uint64_t bytes = stress::Scaled<uint64_t>(256 << 10, 4 << 20);
    std::vector<std::wstring> args;
    for (int i = 0; i < jobs; ++i)
        args.push_back(L"--delay 1 --nul --out o" + std::to_wstring(i) + L".txt --task " +
                       ChildTask(L"stream", std::to_wstring(i) + L" " + std::to_wstring(bytes)));
    const DWORD start = GetTickCount();
    auto started = stress::StartJobsAtOnce(args, dir.Path().c_str());
    int exact = 0;
    for (int i = 0; i < jobs; ++i) {
        e2e::Job& job = *started[i];
        ASSERT_EQ(0u, job.launcherExit) << job.launcherOut;
        // A task that could not be opened had ended already (its launcher was
        // slow to go on a busy machine); its result line tells its status.
        if (job.task) {
            EXPECT_EQ(0u, job.Wait(300000)) << "job " << i;
        }
        const bool same = stress::FileHoldsStream(dir.File(L"o" + std::to_wstring(i) + L".txt"), i, bytes,
                                                  e2e::ResultLinePattern(job.pid, 0));
        EXPECT_TRUE(same) << "job " << i;
        exact += same;
    }
    stress::Figure(
        "%d jobs started at once, %llu bytes each to their own --out: %d files byte-exact with their "
        "result lines (%.1f s)",
        jobs, static_cast<unsigned long long>(bytes), exact, Seconds(start));
}

TEST(Load, OneJobRelaysHundredsOfMegabytesByteExact) {
    testsupport::TempDir dir;
    const uint64_t bytes = stress::Scaled<uint64_t>(16ull << 20, 256ull << 20);
    for (const wchar_t* mode : {L"", L"--flush "}) {
        SCOPED_TRACE(testsupport::Narrow(mode));
        const DWORD start = GetTickCount();
        auto job = e2e::StartJob(L"--delay 0.3 --nul --nologo " + std::wstring(mode) + L"--out big.txt --task " +
                                     ChildTask(L"stream", L"12 " + std::to_wstring(bytes)),
                                 dir.Path().c_str());
        ASSERT_EQ(0u, job->launcherExit) << job->launcherOut;
        EXPECT_EQ(0u, job->Wait(600000));
        const double seconds = Seconds(start);
        EXPECT_TRUE(stress::FileHoldsStream(dir.File(L"big.txt"), 12, bytes, ""));
        stress::Figure(
            "one job %lsrelayed %llu MiB of mixed lines, long lines, zero bytes and no final line end byte-exact in "
            "%.1f s (%.0f MiB/s)",
            *mode ? L"with --flush " : L"", static_cast<unsigned long long>(bytes >> 20), seconds,
            (bytes >> 20) / seconds);
    }
}

using Daemons = e2e::DaemonTableTest;

TEST_F(Daemons, TwentyFiveLaunchersRaceForTwentyRecordsAndOneSigkillAllEndsTheWinnersWithTheirHelpers) {
    testsupport::TempDir dir;
    const int launchers = 25;
    const unsigned char registrationsBefore = view.Table()->registrations;
    std::vector<std::wstring> args;
    for (int i = 0; i < launchers; ++i)
        args.push_back(L"--nul --daemon --task " + e2e::FamilyTask(dir.File(std::to_wstring(i) + L".pid"), 1));
    auto started = stress::StartJobsAtOnce(args);

    // A launcher refuses only when it finds twenty live records: the check
    // and the claim are one step, so each of them is registered or refused.
    int refused = 0;
    std::vector<std::unique_ptr<e2e::Family>> families(launchers);
    std::set<unsigned long> taskPids;
    for (int i = 0; i < launchers; ++i) {
        e2e::Job& job = *started[i];
        if (job.launcherExit == 1) {
            EXPECT_EQ(e2e::PutwsBytes(L"デーモン管理は最大で 20 プロセスです。中止しました。"), job.launcherOut);
            ++refused;
            continue;
        }
        ASSERT_EQ(0u, job.launcherExit) << job.launcherOut;
        taskPids.insert(job.pid);
        // The command runs: its task has made its claim, won or lost.
        families[i] = std::make_unique<e2e::Family>(dir.File(std::to_wstring(i) + L".pid"));
        ASSERT_TRUE(families[i]->Found()) << "job " << i << " did not start its command";
    }
    std::set<unsigned long> registered;
    for (auto& record : view.Table()->records) {
        if (GetTaskState(&record) == TASK_STATE_DEAD) continue;
        EXPECT_TRUE(taskPids.count(GetTaskPid(&record))) << "a record of no job: " << GetTaskPid(&record);
        EXPECT_TRUE(registered.insert(GetTaskPid(&record)).second) << "a task holds two records";
    }
    EXPECT_EQ(20u, registered.size());
    EXPECT_EQ(static_cast<unsigned char>(registrationsBefore + 20), view.Table()->registrations);
    const int unregistered = static_cast<int>(taskPids.size() - registered.size());
    EXPECT_EQ(0, unregistered) << "a daemon that no record lists";
    EXPECT_EQ(launchers - 20, refused);
    stress::Figure(
        "%d launchers with --daemon at once: %zu registered, %d ran unregistered, %d refused at launch "
        "(the table was full), registrations +%d",
        launchers, registered.size(), unregistered, refused,
        static_cast<unsigned char>(view.Table()->registrations - registrationsBefore));

    const DWORD start = GetTickCount();
    testsupport::RunResult manager = stress::RunManager("sigkill all\nexit\n");
    EXPECT_EQ(0u, manager.exitCode) << manager.out;
    int gone = 0;
    for (int i = 0; i < launchers; ++i) {
        e2e::Job& job = *started[i];
        if (!registered.count(job.pid)) continue;
        EXPECT_EQ(2u, job.Wait(60000)) << "job " << i;
        const bool ended = families[i]->AllEnd(30000);
        EXPECT_TRUE(ended) << "the command or its helper of job " << i << " lives on";
        gone += ended;
    }
    EXPECT_TRUE(testsupport::WaitUntil([&] { return view.LiveCount() == 0; }, 10000)) << view.LiveCount();
    stress::Figure("one sigkill all: %d of %zu daemons gone with their commands and helpers in %.1f s, table empty: %s",
                   gone, registered.size(), Seconds(start), view.LiveCount() == 0 ? "yes" : "no");
    for (int i = 0; i < launchers; ++i) {
        if (registered.count(started[i]->pid)) continue;
        started[i]->Kill();
        if (families[i]) families[i]->Kill();
    }
}
