#pragma once

#include <string>
#include <vector>

#include "kovra/C_Process.h"
#include "tool/TaskSettings.h"

namespace vrek {

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
