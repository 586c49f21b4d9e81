#pragma once

#include <windows.h>

#include <stdio.h>

#include "kovra/C_Memory.h"
#include "kovra/C_Process.h"
#include "kovra/C_StringMemory.h"
#include "kovra/common/UniqueHandle.h"
#include "tool/DaemonRegistry.h"
#include "tool/TaskSettings.h"

namespace vrek {

// Set to 1 by the console control handler (on the thread the system makes
// for it) and never cleared; the task's thread polls it.
extern volatile LONG g_stopRequested;
// Set with it, so that a task waiting on its pipes or its command wakes at
// once; null before the task has made it (the waits then use time-outs).
extern HANDLE g_stopEvent;

// The run state of one task copy, from the decoding of its options to its
// exit.
struct TaskContext {
    TaskContext(TaskSettings& settings, kovra::C_Process& process);
    // Frees the task's record in the daemon table: every way out of the task
    // passes here, an unexpected exception included.
    ~TaskContext();
    // Sets the record's state to 0 and forgets it; nothing when there is
    // none. Every path frees the record through here, so it is freed once.
    void ReleaseRecord();
    TaskContext(const TaskContext&) = delete;
    TaskContext& operator=(const TaskContext&) = delete;

    TaskSettings& settings;
    kovra::C_Process& process;
    DaemonRegistry registry;      // keeps `record` valid while the task runs
    TaskState* record = nullptr;  // null: not registered
    DWORD startTick = 0;
    bool consoleAllocated = false;
    bool commandInputRedirected = false;  // the command reads a file or nul, not a pipe
    // The job object the command and everything it starts run in, so that a
    // forced stop ends them all; empty when the system refused one.
    kovra::common::UniqueHandle job;
    bool stdoutToFile = false;
    bool newlineWritten = false;
    // For the report of a failed write: the shell whose console is the last
    // resort, which of output and error reach a target of their own (not
    // nul), and which failures have been reported (once each).
    unsigned long shellPid = 0;
    bool outWorks = false;
    bool errWorks = false;
    bool writeFailed[2] = {false, false};
};

// A stop request, raised inside the task's guarded region and caught once
// around it.
struct StopRequest {};

// The handler given to SetConsoleCtrlHandler: Ctrl+C, Ctrl+Break, console
// close and shutdown request a stop; every event is taken as handled.
BOOL WINAPI OnConsoleCtrl(DWORD type);

// AllocConsole with the new window shown, although the task itself was
// started hidden: the system takes the console window's show state from the
// process's start-up parameters, which are patched first.
BOOL AllocVisibleConsole();

// The part of RTL_USER_PROCESS_PARAMETERS that AllocVisibleConsole patches.
struct StartupWindowFields {
    ULONG* windowFlags;
    ULONG* showWindowFlags;
};
// Where those fields lie in this process's start-up parameters (both null
// when they cannot be found); and the patch itself, on any such fields.
StartupWindowFields GetStartupWindowFields();
void PatchStartupWindowFields(const StartupWindowFields& fields);

// Writes the current directory and ">" to standard output (or `stream`),
// without a line end; nothing when the directory cannot be read.
void PrintPrompt();
void PrintPromptTo(FILE* stream);

// A stop request at one of the task's checks: the console flag, and with
// `withSignal` also the record's signal byte. Throws StopRequest.
void CheckStop(const TaskContext& context, bool withSignal);

// After a write to `stream` (stdout or stderr): the first failure of each
// (a disk that went away or filled up, a pipe whose reader left) is
// reported once, through the other stream when it reaches a target of its
// own, else on the shell's console. What the command writes there is lost,
// but the task goes on relaying, so that the command never blocks on a full
// pipe, and ends as usual.
void CheckWritten(TaskContext& context, FILE* stream);

// The task copy's whole run; `shellPid` comes from the task argument.
// Returns the exit status: the command's, 1 when the options cannot be
// decoded or the command cannot be started, 2 after a stop request.
int RunTask(wchar_t** argv, int argc, unsigned long shellPid, TaskSettings& settings, kovra::C_Process& process);

}  // namespace vrek
