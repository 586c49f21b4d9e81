#pragma once

#include <windows.h>

namespace vrek {

struct TaskContext;

// How long a stopped command may live on before the watch tries once to
// suspend it and marks its record (Zombie or ZRun). Three minutes; a test
// build of vrek sets it shorter.
extern DWORD g_watchSuspendAfterMs;

// The stop sequence after a stop request: marks the record, passes the stop
// on to the command, watches a registered task's command until it is gone
// (ending it by force on Kill), redraws the prompt where output was written,
// and frees the record. Returns 2, the exit status of a stopped task.
[[nodiscard]] int RunStopSequence(TaskContext& context);

// GenerateConsoleCtrlEvent, or a stand-in.
using ConsoleEventSender = BOOL(WINAPI*)(DWORD event, DWORD processGroup);

// Passes a stop on through the console to the command's own process group
// (the command leads one): Ctrl+Break, and Ctrl+C when Ctrl+Break cannot be
// sent. False when neither could be sent (the task has no console).
[[nodiscard]] bool PassStopToConsole(unsigned long commandId, ConsoleEventSender send = GenerateConsoleCtrlEvent);

}  // namespace vrek
