#pragma once

#include <string>
#include <vector>

#include "kovra/C_Process.h"
#include "tool/TaskSettings.h"

namespace vrek {

// The last argument of a task copy: this prefix, then the id of the process
// whose console the task attaches to.
extern const wchar_t kTaskArgumentPrefix[];  // "--pid-task--"

// The id carried by the task argument (greater than 0), or -1 when this
// invocation is not a task copy. Only the last argument counts.
[[nodiscard]] long ParseTaskPid(wchar_t** argv, int argc);

// What the task argument carries:
// "--pid-task--<prompt>[,<ancestor>...][;<other>[,<other>...]][|<folder>]".
// The prompt's process, then those of the launcher's further ancestors that
// share its console (`cmd /c vrek ...` is started by a prompt that ends
// before the job does; the prompt the user sees is its parent), then the
// console's other processes: the task takes the console of the first that
// still runs, and shows the folder of a prompt (an ancestor) when the job
// ends. The folder, when --dir moved the task away from it, is the one the
// launcher started in.
struct TaskArgument {
    std::vector<unsigned long> prompts;  // the launcher's parent first
    std::vector<unsigned long> others;
    std::wstring startFolder;  // empty: the task's own folder
};
TaskArgument ParseTaskArgument(const wchar_t* argument);
// The task argument for these, quoted where it needs it.
std::wstring ComposeTaskArgument(const TaskArgument& argument);

// Starts a process: C_Process::RunFile(file, commandLine, ...) when `file`
// is given, else C_Process::Run(commandLine, arguments, ...); tried again
// (up to three times in all) while it fails with ERROR_INTERNAL_ERROR:
// Wine's process creation gives that now and then when many processes start
// at once, and the next try starts the program. Windows gives no such error
// for a program that can start, so there the first try is the only one.
// `run` stands in for the process's own start, for tests: it gets the same
// arguments and returns what RunFile or Run would, with the last error set.
using StartCall = unsigned long (*)(kovra::C_Process& process, const wchar_t* file, const wchar_t* commandLine,
                                    const wchar_t* arguments, int show, int flags, const wchar_t* directory);
[[nodiscard]] unsigned long StartProcess(kovra::C_Process& process, const wchar_t* file, const wchar_t* commandLine,
                                         int show, int flags, const wchar_t* directory);
[[nodiscard]] unsigned long StartProcess(kovra::C_Process& process, const wchar_t* commandLine,
                                         const wchar_t* arguments, int show, int flags, const wchar_t* directory,
                                         StartCall run);

// The launcher, after a successful parse: checks the daemon table for room
// (--daemon), applies --dir, starts the detached task copy and prints
// "job: N started". Returns the exit status.
[[nodiscard]] int RunLauncher(wchar_t** argv, TaskSettings& settings, kovra::C_Process& process);

}  // namespace vrek
