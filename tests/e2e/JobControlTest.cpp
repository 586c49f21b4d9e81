// Job control from any prompt: vrek --jobs, --wait, --sigterm and --sigkill
// on real jobs, this test program being their prompt.
#include <windows.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "VrekRun.h"
#include "support/TestSupport.h"

using e2e::ChildTask;
using e2e::RunVrek;

namespace {

// The command a task started: the task's child, opened while it runs.
kovra::common::UniqueHandle OpenCommandOf(DWORD task) {
    kovra::common::UniqueHandle command;
    testsupport::WaitUntil(
        [&] {
            kovra::common::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
            PROCESSENTRY32W entry = {};
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more && !command;
                 more = Process32NextW(snapshot.Get(), &entry))
                if (entry.th32ParentProcessID == task)
                    command.Reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
            return command.Valid();
        },
        15000);
    return command;
}

// Whether `holder` has a handle to the process `pid` (for --wait: it has
// checked that job and waits on it).
bool HoldsProcess(DWORD holder, DWORD pid) {
    kovra::common::UniqueHandle process(OpenProcess(PROCESS_DUP_HANDLE, FALSE, holder));
    for (ULONG_PTR value = 4; process && value < 4096; value += 4) {
        kovra::common::UniqueHandle copy;
        if (DuplicateHandle(process.Get(), reinterpret_cast<HANDLE>(value), GetCurrentProcess(), copy.Put(), 0, FALSE,
                            DUPLICATE_SAME_ACCESS) &&
            GetProcessId(copy.Get()) == pid)
            return true;
    }
    return false;
}

std::string Line(unsigned long job, const char* state, char daemon, const std::wstring& command) {
    return "\\s*" + std::to_string(job) + "  \\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}  " + state + "\\s+" + daemon +
           "  \"[^\"]+\"  " + std::regex_replace(testsupport::Narrow(command), std::regex("[\\\\.^$()]"), "\\$&") +
           "\r\n";
}

}  // namespace

using JobControl = e2e::DaemonTableTest;

TEST_F(JobControl, JobsAreListedWaitedForAndStoppedFromAnyPrompt) {
    testsupport::TempDir dir;
    // Two jobs of this prompt (waiting, and a registered daemon with a
    // helper), one of another prompt (a cmd that ran vrek and ended).
    e2e::Job& waiting = Start(L"--nul --delay 60 --task cmd /c exit 3");
    const std::wstring family = e2e::FamilyTask(dir.File(L"pids.txt"), 1);
    e2e::Job& daemon = Start(L"--nul --daemon --task " + family);
    e2e::Family members(dir.File(L"pids.txt"));
    ASSERT_TRUE(members.Found());
    auto other = e2e::StartJobWithOutputFile(L"--nul --task " + ChildTask(L"emit", L"sleep:60000"),
                                             dir.File(L"other.txt"), nullptr, true);
    ASSERT_NE(0u, other->pid) << other->launcherOut;

    const std::string mine = Line(waiting.pid, "waiting", '-', L"cmd /c exit 3") + "|" +
                             Line(daemon.pid, "running", 'D', family);
    const std::string theirs = Line(other->pid, "running", '-', ChildTask(L"emit", L"sleep:60000"));
    for (const wchar_t* which : {L"", L" all"}) {
        testsupport::RunResult list = RunVrek(std::wstring(L"--jobs") + which);
        EXPECT_EQ(0u, list.exitCode);
        std::smatch found;
        int seen = 0;
        bool stranger = false;
        for (std::string rest = list.out; std::regex_search(rest, found, std::regex(mine + "|" + theirs));
             rest = found.suffix()) {
            ++seen;
            stranger = stranger || std::regex_match(found.str(), std::regex(theirs));
        }
        EXPECT_EQ(*which ? 3 : 2, seen) << list.out;
        EXPECT_EQ(*which != 0, stranger) << list.out;
    }

    // --wait: the command's status; 2 for a job stopped meanwhile (a Kill
    // that ends the command and its helper).
    auto three = e2e::StartJob(L"--nul --delay 1 --task cmd /c exit 3");
    EXPECT_EQ(3u, RunVrek(L"--wait " + std::to_wstring(three->pid)).exitCode);
    testsupport::PipedProcess waiter;
    ASSERT_TRUE(waiter.Start(L"\"" + e2e::VrekPath() + L"\" --wait " + std::to_wstring(daemon.pid)));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return HoldsProcess(waiter.Pid(), daemon.pid); }, 15000));
    EXPECT_EQ(0u, RunVrek(L"--sigkill " + std::to_wstring(daemon.pid)).exitCode);
    EXPECT_EQ(2u, waiter.Wait());
    EXPECT_TRUE(members.AllEnd(15000)) << "the command or its helper lives on";

    // --sigterm: polite; the window's own close handler ends the command (9).
    e2e::WindowReady ready;
    e2e::Job& window = Start(L"--nul --task " + ready.Command(60000));
    ASSERT_TRUE(ready.Wait());
    kovra::common::UniqueHandle command = OpenCommandOf(window.pid);
    ASSERT_TRUE(command.Valid());
    EXPECT_EQ(0u, RunVrek(L"--sigterm " + std::to_wstring(window.pid)).exitCode);
    EXPECT_EQ(2u, window.Wait(15000));
    DWORD code = 0;
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(command.Get(), 15000));
    EXPECT_TRUE(GetExitCodeProcess(command.Get(), &code) && code == 9) << code;

    // What is no job of vrek's is refused, before anything waits or is sent.
    const struct {
        std::wstring args;
        std::wstring named;
    } refusals[] = {{L"--wait 4000000000", L"4000000000"},
                    {L"--sigterm " + std::to_wstring(GetCurrentProcessId()), std::to_wstring(GetCurrentProcessId())},
                    {L"--wait abc", L"abc"},
                    {L"--sigkill " + std::to_wstring(waiting.pid) + L" x", L"x"}};
    for (const auto& r : refusals) {
        testsupport::RunResult run = RunVrek(r.args);
        EXPECT_EQ(1u, run.exitCode) << testsupport::Narrow(r.args);
        EXPECT_EQ(e2e::PutwsBytes(r.named + L" はジョブではありません。"), run.out);
    }
    EXPECT_TRUE(waiting.Running()) << "a refused request was sent";
    EXPECT_EQ(0u, RunVrek(L"--sigkill all").exitCode);
    EXPECT_EQ(2u, waiting.Wait(15000));
    other->Kill();
}
