#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kovra/C_Process.h"
#include "kovra/common/UniqueHandle.h"
#include "tool/DaemonRegistry.h"
#include "tool/ProcessQueries.h"
#include "tool/TaskSettings.h"

namespace vrek {

// Set to 1 by the console control handler (on the thread the system makes
// for it) and never cleared; the task's thread polls it.
extern volatile LONG g_stopRequested;
// Set with it, so that a task waiting on its pipes or its command wakes at
// once; null before the task has made it (the waits then use time-outs).
// Named (JobEventName "stop"), so that `vrek --sigterm` and `--sigkill` from
// any prompt can set it too: a stop request of its own.
extern HANDLE g_stopEvent;
// Set by `vrek --sigkill` before the stop event: the stop is forced when
// the command does not end. Named (JobEventName "kill"); null before made.
extern HANDLE g_killEvent;

// The name of a task's job-control event ("stop" or "kill"), in the
// session's namespace: its process id and creation time, so that a task
// that had the same id before is never hit, and made with the default
// security, so that another user cannot open it.
std::wstring JobEventName(const ProcessRef& task, const wchar_t* which);
// The task's own events, made at its start: an event of that name that
// exists already (made by someone else) is not taken, and the task's event
// then has no name.
void MakeJobEvents();

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
    bool tableFull = false;       // a daemon's record was refused: every record is live
    DWORD startTick = 0;
    bool consoleAllocated = false;
    bool commandInputRedirected = false;  // the command reads a file or nul, not a pipe
    // The job object the command and everything it starts run in, so that a
    // forced stop ends them all; empty when the system refused one.
    kovra::common::UniqueHandle job;
    bool stdoutToFile = false;
    bool newlineWritten = false;
    // Whose console the task takes: the first that still runs, and is the
    // same process the launcher named, of the prompts (the launcher's
    // parent, then its ancestors on that console) and then the console's
    // other processes. `attached`: the task is on that console. The redrawn
    // prompt shows the folder of the first prompt still on it;
    // `startFolder`, when not empty, the folder the launcher started in,
    // where there is none.
    std::vector<ProcessRef> prompts;
    std::vector<ProcessRef> others;
    bool attached = false;
    kovra::C_WString startFolder;
    // For the reports of a failed open or write: which of output and error
    // reach a target of their own (not nul), and which failures have been
    // reported (once each).
    bool outWorks = false;
    bool errWorks = false;
    bool writeFailed[2] = {false, false};
};

// A stop request, raised inside the task's guarded region and caught once
// around it.
struct StopRequest {};

// Whether a stop was requested: by a console event, or by job control
// through the stop event.
bool StopFlagSet();

// The stop request that came through job control rather than the console:
// TASK_SIGNAL_KILL, TASK_SIGNAL_TERM, or TASK_SIGNAL_NONE.
unsigned char JobControlSignal();
// The stop the task must carry out: the record's request for a registered
// task, job control's for any; the stronger of them.
unsigned char RequestedSignal(const TaskContext& context);

// A stop request at one of the task's checks: the console flag, and with
// `withSignal` also the record's signal byte. Throws StopRequest.
void CheckStop(const TaskContext& context, bool withSignal);

}  // namespace vrek
