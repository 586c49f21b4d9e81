#pragma once

#include <windows.h>

#include "tool/TaskContext.h"

namespace vrek {

// The task copy's console start-up: it attaches to the shell's console or
// makes a console of its own, and takes console control events as stop
// requests.

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

// Attaches to the console of `shellPid` or allocates a visible console, as
// the three stream kinds ask, and installs OnConsoleCtrl on the console it
// got; either makes the command share that console (`hide`).
void SetUpConsole(TaskContext& context, unsigned long shellPid);

}  // namespace vrek
