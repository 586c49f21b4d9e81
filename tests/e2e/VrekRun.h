#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kovra/C_Mapping.h"
#include "kovra/C_MappingMemory.h"
#include "support/TestSupport.h"
#include "tool/DaemonRegistry.h"

// Running the real vrek.exe from the end-to-end tests.
namespace e2e {

std::wstring VrekPath();

// vrek.exe (or another program of the build folder) with the given argument
// text, run to its end with its output captured.
testsupport::RunResult RunVrek(const std::wstring& args, const wchar_t* directory = nullptr,
                               unsigned long timeoutMs = 30000, const std::wstring& program = L"vrek.exe");

// A message as the launcher prints it with _putws under the "japanese"
// locale: code page 932 and a line end.
std::string PutwsBytes(const std::wstring& text);

// A command's writes for a relay test, as (to error?, bytes) pieces: short
// and long lines, lines past 10240 bytes, zero bytes, pieces that end
// mid-line, the two streams interleaved; about `bytes` in all, the last
// piece of each stream without a line end. The same for the same seed.
std::vector<std::pair<bool, std::string>> MixedStreams(unsigned long seed, size_t bytes);

// The pattern (ECMAScript) of a task's result line, "[yyyy/mm/dd hh:mm:ss]
// job N: result R" and its line end; and whether `line` is that line.
std::string ResultLinePattern(unsigned long job, int result, const char* lineEnd = "\n");
::testing::AssertionResult IsResultLine(const std::string& line, unsigned long job, int result,
                                        const char* lineEnd = "\n");

// This test program run as the named child, as a command for vrek's --task.
std::wstring ChildTask(const wchar_t* name, const std::wstring& args = L"");

// Bytes as the emit child's steps take them (o:<hex>, e:<hex>, ...).
std::wstring Hex(const std::string& bytes);

// This test program as the "family" child, for vrek's --task: it writes its
// pid and those of `helpers` helpers into `pidFile` and lives until it is
// killed (with `end`, it ends at once and leaves the helpers running).
std::wstring FamilyTask(const std::wstring& pidFile, int helpers = 0, bool end = false);

// The processes a "family" command wrote into its file (itself first, then
// its helpers), opened as soon as the file appears; none when it does not
// appear in time (a member that has ended already is null). Whatever still
// runs is killed when the object goes.
class Family {
public:
    explicit Family(const std::wstring& pidFile, DWORD timeoutMs = 30000);
    ~Family();
    Family(const Family&) = delete;
    Family& operator=(const Family&) = delete;

    bool Found() const { return !m_processes.empty(); }
    HANDLE Member(size_t index) const { return index < m_processes.size() ? m_processes[index] : nullptr; }
    // Whether every member has ended within `timeoutMs`.
    bool AllEnd(DWORD timeoutMs);
    void Kill();

private:
    std::vector<HANDLE> m_processes;
};

// A named event that the "window" child sets once its window exists: the
// window command for a job, with this as its readiness signal.
struct WindowReady {
    std::wstring name = testsupport::UniqueName(L"window-ready");
    kovra::common::UniqueHandle event{CreateEventW(nullptr, TRUE, FALSE, name.c_str())};
    std::wstring Command(DWORD lifetimeMs) const;
    bool Wait(DWORD timeoutMs = 15000) const { return WaitForSingleObject(event.Get(), timeoutMs) == WAIT_OBJECT_0; }
};

// One background job: the launcher's run and the task copy it started.
class Job {
public:
    Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    unsigned long pid = 0;  // the job number from "job: N started"; 0 when none
    DWORD launcherExit = 0xFFFFFFFF;
    std::string launcherOut;
    kovra::common::UniqueHandle task;  // the task copy, opened right after the launcher ended

    // Waits for the task copy's end: its exit status, or 0xFFFFFFFF when it
    // could not be watched or did not end in time.
    DWORD Wait(DWORD timeoutMs = 30000);
    bool Running() const;
    void Kill();
};

// Starts a job: vrek.exe with `args`, in `directory`. The task copy is
// opened at once; give the job a short --delay where its exit status
// matters, so that it cannot end before it is opened.
std::unique_ptr<Job> StartJob(const std::wstring& args, const wchar_t* directory = nullptr,
                              const std::wstring& program = L"vrek.exe");

// StartJob with the launcher's standard output and error on the file
// `outputFile` (as `vrek ... > file` at a prompt gives them), not on a pipe.
// The job's launcherOut is the file's text once the launcher has ended.
// With `viaCmd` the launcher is started by a `cmd /c` that ends with it, in a
// hidden console that goes with them: the job finds no console anywhere.
// (A detached cmd would do, but under Wine the programs it starts lose
// their redirected output.)
std::unique_ptr<Job> StartJobWithOutputFile(const std::wstring& args, const std::wstring& outputFile,
                                            const wchar_t* directory = nullptr, bool viaCmd = false);

// The real daemon table, mapped without the mutex and without sweeping, as
// an outside observer (and the manager's signal writes) sees it.
class TableView {
public:
    TableView();
    vrek::TaskStateTable* Table() { return table_; }
    // The live record of the task with that id, or null.
    vrek::TaskState* RecordOf(unsigned long pid);
    int LiveCount();

private:
    kovra::C_MappingMemory source_;
    kovra::C_Mapping mapping_;
    vrek::TaskStateTable* table_ = nullptr;
};

// Tests that use the real daemon table start with it empty and leave it
// empty: their daemons are stopped through their records (their commands go
// with them), killed if that did not do, and records written by hand are
// freed (they outlive their pids' owners while the test holds the table).
class DaemonTableTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a job and keeps it for the clean-up.
    Job& Start(const std::wstring& args, const std::wstring& program = L"vrek.exe");
    // Waits until the record of the task `pid` exists and is in `state`.
    bool WaitForState(unsigned long pid, unsigned char state, DWORD timeoutMs = 10000);

    TableView view;
    std::vector<std::unique_ptr<Job>> jobs;
};

}  // namespace e2e
