#include "tool/TaskContext.h"

namespace vrek {

volatile LONG g_stopRequested = 0;
HANDLE g_stopEvent = nullptr;

bool StopFlagSet() { return InterlockedCompareExchange(&g_stopRequested, 0, 0) != 0; }

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
