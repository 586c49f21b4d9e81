#include "tool/Supervision.h"

#include <windows.h>

#include <stdio.h>

#include "kovra/common/List.h"
#include "tool/DaemonRegistry.h"
#include "tool/Launcher.h"
#include "tool/TaskRunner.h"

namespace vrek {

DWORD g_watchSuspendAfterMs = 180000;

namespace {

const DWORD kWatchPeriodMs = 100;

// Whether the command is gone: its process has ended, no process has its id
// any more, or the id now belongs to a process that the task did not start.
bool CommandGone(HANDLE handle, unsigned long commandId) {
    if (handle && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return true;
    kovra::common::List<unsigned long> parents;
    GetParentProcessIds(parents, commandId);
    return parents.Empty() || parents.First() != GetCurrentProcessId();
}

// Ends the command by force: the job it runs in (everything it started, so
// no helper lives on unlisted), then its own process as before.
void KillCommand(TaskContext& context) {
    if (context.job) TerminateJobObject(context.job.Get(), 0xFFFFFFFF);
    context.process.Terminate();
}

// One attempt to suspend the command's primary thread.
unsigned char SuspendCommand(unsigned long threadId) {
    DWORD previous = static_cast<DWORD>(-1);
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
    if (thread) {
        previous = SuspendThread(thread);
        CloseHandle(thread);
    }
    return StateAfterSuspend(previous);
}

void WatchCommand(TaskContext& context, HANDLE handle, unsigned long commandId, unsigned long threadId) {
    bool suspendTried = false;
    const DWORD start = timeGetTime();
    for (;;) {
        if (CommandGone(handle, commandId)) return;
        if (GetTaskSignal(context.record) == TASK_SIGNAL_KILL) {
            KillCommand(context);
            return;
        }
        if (!suspendTried && timeGetTime() - start > g_watchSuspendAfterMs) {
            suspendTried = true;
            SetTaskState(context.record, SuspendCommand(threadId));
        }
        Sleep(kWatchPeriodMs);
    }
}

}  // namespace

// The command was started as the leader of a process group of its own, so
// the events go to that group: to the command and what it started, never to
// the shell or to the other jobs that share the shell's console (each of
// which would take the event for a stop request of its own).
bool PassStopToConsole(unsigned long commandId, ConsoleEventSender send) {
    if (commandId == kovra::NO_PROCESS || commandId == 0) return false;
    if (send(CTRL_BREAK_EVENT, commandId)) return true;
    return send(CTRL_C_EVENT, commandId) != FALSE;
}

unsigned char StateAfterSuspend(DWORD previousSuspendCount) {
    return previousSuspendCount == 0 ? TASK_STATE_ZRUN : TASK_STATE_ZOMBIE;
}

int RunStopSequence(TaskContext& context) {
    if (context.record) SetTaskState(context.record, TASK_STATE_SIGNAL);
    const unsigned long commandId = context.process.GetProcessID();
    const unsigned long threadId = context.process.GetThreadId();
    // A duplicate of the command's handle keeps the watch able to see its
    // end after Terminate's cleanup has closed the object's own.
    HANDLE handle = nullptr;
    if (context.process.GetHandle())
        DuplicateHandle(GetCurrentProcess(), context.process.GetHandle(), GetCurrentProcess(), &handle,
                        SYNCHRONIZE, FALSE, 0);

    if (!PassStopToConsole(commandId) && context.record) {
        unsigned char signal = GetTaskSignal(context.record);
        if (signal != TASK_SIGNAL_NONE && context.process.TryExit() == 1 && signal == TASK_SIGNAL_KILL)
            KillCommand(context);
    }

    if (context.record && commandId != kovra::NO_PROCESS) WatchCommand(context, handle, commandId, threadId);
    if (handle) CloseHandle(handle);
    // A Kill ends what the command started even when the command itself
    // went first (its window closed, say).
    if (context.record && context.job && GetTaskSignal(context.record) == TASK_SIGNAL_KILL)
        TerminateJobObject(context.job.Get(), 0xFFFFFFFF);

    if (!context.consoleAllocated && !context.stdoutToFile && context.newlineWritten) {
        fwrite("\n", 1, 1, stdout);
        PrintPrompt();
    }
    context.ReleaseRecord();
    return 2;
}

}  // namespace vrek
