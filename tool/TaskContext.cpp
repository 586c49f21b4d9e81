#include "tool/TaskContext.h"

namespace vrek {

volatile LONG g_stopRequested = 0;
HANDLE g_stopEvent = nullptr;
HANDLE g_killEvent = nullptr;

namespace {

bool IsSet(HANDLE event) { return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// The event of that name, made now; an unnamed one when the name is taken.
HANDLE MakeOwnEvent(const std::wstring& name) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    if (event && GetLastError() != ERROR_ALREADY_EXISTS) return event;
    if (event) CloseHandle(event);
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

}  // namespace

std::wstring JobEventName(const ProcessRef& task, const wchar_t* which) {
    return L"Local\\vrek-job-" + std::to_wstring(task.pid) + L"-" + std::to_wstring(task.created) + L"-" + which;
}

void MakeJobEvents() {
    const ProcessRef self = CurrentProcessRef(GetCurrentProcessId());
    // Both live as long as the process: the handler may set the stop event
    // while the task ends.
    g_stopEvent = MakeOwnEvent(JobEventName(self, L"stop"));
    g_killEvent = MakeOwnEvent(JobEventName(self, L"kill"));
}

bool StopFlagSet() { return InterlockedCompareExchange(&g_stopRequested, 0, 0) != 0 || IsSet(g_stopEvent); }

unsigned char JobControlSignal() {
    if (IsSet(g_killEvent)) return TASK_SIGNAL_KILL;
    if (IsSet(g_stopEvent) && InterlockedCompareExchange(&g_stopRequested, 0, 0) == 0) return TASK_SIGNAL_TERM;
    return TASK_SIGNAL_NONE;
}

unsigned char RequestedSignal(const TaskContext& context) {
    const unsigned char jobs = JobControlSignal();
    const unsigned char record = context.record ? GetTaskSignal(context.record) : TASK_SIGNAL_NONE;
    return jobs == TASK_SIGNAL_KILL || record == TASK_SIGNAL_KILL ? TASK_SIGNAL_KILL
           : jobs != TASK_SIGNAL_NONE                             ? jobs
                                                                  : record;
}

TaskContext::TaskContext(TaskSettings& s, kovra::C_Process& p) : settings(s), process(p) {}

TaskContext::~TaskContext() { ReleaseRecord(); }

void TaskContext::ReleaseRecord() {
    // Once only: after the release another task may claim the record, and a
    // second write of state 0 would wipe its live registration.
    if (!record) return;
    SetTaskState(record, TASK_STATE_DEAD);
    record = nullptr;
}

void CheckStop(const TaskContext& context, bool withSignal) {
    if (StopFlagSet()) throw StopRequest();
    if (withSignal && context.record && GetTaskSignal(context.record) != TASK_SIGNAL_NONE) throw StopRequest();
}

}  // namespace vrek
