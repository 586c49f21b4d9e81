#pragma once

#include "kovra/C_Process.h"
#include "tool/TaskSettings.h"

namespace vrek {

// The task copy's whole run; its prompts come from the task argument, the
// last of argv. Returns the exit status: the command's, 1 when the options
// cannot be decoded or the command cannot be started, 2 after a stop request.
[[nodiscard]] int RunTask(wchar_t** argv, int argc, TaskSettings& settings, kovra::C_Process& process);

}  // namespace vrek
