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

// Attaches to the prompt's console or allocates a visible console, as the
// three stream kinds ask, and installs OnConsoleCtrl on the console it got;
// either makes the command share that console (`hide`). The prompt's
// console is the console of the first process of context.prompts, then of
// context.others, that still runs and is the same process: a prompt that
// ended before the job (`cmd /c vrek ...`) leaves its console to the
// others.
void SetUpConsole(TaskContext& context);

// Attaches to the prompt's console as SetUpConsole does, for what the task
// must say there once it has no console to write to, and installs
// OnConsoleCtrl on it: true when the task is on it now (it may have been
// already).
bool AttachPromptConsole(TaskContext& context);

// Writes `text`, and a line end with `lineEnd`, on the console the user
// looks at: the task's own, or the prompt's, which it attaches to if it
// must. False when there is none.
bool WriteToPromptConsole(TaskContext& context, const kovra::C_WString& text, bool lineEnd = true);

// The end of a job whose standard output is not the prompt's console (a
// file, nul, a console of its own): `lines` (the result line, or why the job
// never ran and its boot error line, each with its line end) and the
// redrawn prompt on the prompt's console, after a line end. Nothing with
// --nologo or when the console is gone. A console of the task's own is let
// go first.
void AnnounceEnd(TaskContext& context, const kovra::C_WString& lines);

// The folder the redrawn prompt shows: that of the nearest prompt still on
// the console, read from its process as the job ends (a `cd` typed
// meanwhile shows); where there is none, the folder the launcher started in,
// never the --dir folder.
kovra::C_WString PromptFolder(const TaskContext& context);

}  // namespace vrek
