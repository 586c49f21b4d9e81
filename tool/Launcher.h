#pragma once

#include "kovra/C_Process.h"
#include "tool/TaskSettings.h"

namespace vrek {

// The last argument of a task copy: this prefix, then the id of the process
// whose console the task attaches to.
extern const wchar_t kTaskArgumentPrefix[];  // "--pid-task--"

// The id carried by the task argument (greater than 0), or -1 when this
// invocation is not a task copy. Only the last argument counts.
[[nodiscard]] long ParseTaskPid(wchar_t** argv, int argc);

// The launcher, after a successful parse: checks the daemon table for room
// (--daemon), applies --dir, starts the detached task copy and prints
// "job: N started". Returns the exit status.
[[nodiscard]] int RunLauncher(wchar_t** argv, TaskSettings& settings, kovra::C_Process& process);

}  // namespace vrek
