#pragma once

#include "kovra/C_Process.h"
#include "tool/TaskSettings.h"

namespace vrek {

// The task copy's whole run; `shellPid` comes from the task argument.
// Returns the exit status: the command's, 1 when the options cannot be
// decoded or the command cannot be started, 2 after a stop request.
[[nodiscard]] int RunTask(wchar_t** argv, int argc, unsigned long shellPid, TaskSettings& settings,
                          kovra::C_Process& process);

}  // namespace vrek
