#include "tool/Supervision.h"

#include <windows.h>

#include <stdio.h>

#include "tool/DaemonRegistry.h"
#include "tool/ProcessQueries.h"
#include "tool/StdStreams.h"
#include "tool/TaskConsole.h"
#include "tool/TaskContext.h"

namespace vrek {

DWORD g_watchSuspendAfterMs = 180000;

namespace {

const DWORD kWatchPeriodMs = 100;

// Ends the command by force: the job it runs in (everything it started, so
// no helper lives on unlisted), then its own process as before.
void KillCommand(TaskContext& context) {
    if (context.job) TerminateJobObject(context.job.Get(), 0xFFFFFFFF);
    context.process.Terminate();
}

// One attempt to suspend the command's primary thread: the record's state
// afterwards, 5 (ZRun) when the command was running and is now suspended
// (previous suspend count 0), 4 (Zombie) when the attempt failed or it was
// already suspended.
unsigned char SuspendCommand(unsigned long threadId) {
    kovra::common::UniqueHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId));
    const DWORD previous = thread ? SuspendThread(thread.Get()) : static_cast<DWORD>(-1);
    return previous == 0 ? TASK_STATE_ZRUN : TASK_STATE_ZOMBIE;
}

void WatchCommand(TaskContext& context, HANDLE handle, unsigned long commandId, unsigned long threadId) {
    bool suspendTried = false;
    const DWORD start = timeGetTime();
    for (;;) {
        if (IsCommandGone(handle, commandId)) return;
        if (RequestedSignal(context) == TASK_SIGNAL_KILL) {
            KillCommand(context);
            return;
        }
        if (!suspendTried && timeGetTime() - start > g_watchSuspendAfterMs) {
            suspendTried = true;
            const unsigned char state = SuspendCommand(threadId);
            if (context.record) SetTaskState(context.record, state);
        }
        // A Kill by job control wakes the watch at once; the record's is
        // looked at every period.
        if (g_killEvent) {
            WaitForSingleObject(g_killEvent, kWatchPeriodMs);
        } else {
            Sleep(kWatchPeriodMs);
        }
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

int RunStopSequence(TaskContext& context) {
    if (context.record) SetTaskState(context.record, TASK_STATE_SIGNAL);
    const unsigned long commandId = context.process.GetProcessID();
    const unsigned long threadId = context.process.GetThreadId();
    // A duplicate of the command's handle keeps the watch able to see its
    // end after Terminate's cleanup has closed the object's own.
    kovra::common::UniqueHandle handle;
    if (context.process.GetHandle())
        DuplicateHandle(GetCurrentProcess(), context.process.GetHandle(), GetCurrentProcess(), handle.Put(),
                        SYNCHRONIZE, FALSE, 0);

    // The manager's request through the record, or job control's from any
    // prompt: the command is seen to its end. A Ctrl+C at the console only
    // passes the event on, as typed at the prompt.
    const bool managed = context.record || JobControlSignal() != TASK_SIGNAL_NONE;
    if (!PassStopToConsole(commandId) && managed) {
        unsigned char signal = RequestedSignal(context);
        if (signal != TASK_SIGNAL_NONE && context.process.TryExit() == 1 && signal == TASK_SIGNAL_KILL)
            KillCommand(context);
    }

    if (managed && commandId != kovra::NO_PROCESS) WatchCommand(context, handle.Get(), commandId, threadId);
    // A Kill ends what the command started even when the command itself
    // went first (its window closed, say).
    if (managed && context.job && RequestedSignal(context) == TASK_SIGNAL_KILL)
        TerminateJobObject(context.job.Get(), 0xFFFFFFFF);

    if (!context.consoleAllocated && !context.stdoutToFile && context.newlineWritten) {
        WriteBytes("\n", 1, stdout);
        PrintPromptTo(stdout, PromptFolder(context));
    }
    context.ReleaseRecord();
    return 2;
}

}  // namespace vrek
