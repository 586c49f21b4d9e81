#pragma once

#include <string>
#include <vector>

#include "tool/ProcessQueries.h"

namespace vrek {

// The task argument: the last argument of a task copy's command line, which
// the launcher writes and the task reads. It names the processes whose
// console the task may take, and the folder the redrawn prompt falls back
// on.
//
//   "--pid-task--" PROMPTS [";" OTHERS] ["|" FOLDER]
//   PROMPTS, OTHERS   PROCESS ("," PROCESS)*
//   PROCESS           <id> ["@" <creation time>]    both in decimal
//   FOLDER            the rest of the argument, verbatim
//
// PROMPTS: the launcher's parent (the prompt the user typed at; the launcher
// itself when it has none), then those of its further ancestors that share
// the launcher's console, nearest first (`cmd /c vrek ...` is started by a
// prompt that ends before the job does; the prompt the user sees is its
// parent). OTHERS: the console's other processes, for a job whose prompts
// have all gone. The creation time (a FILETIME as one count) tells a process
// from a later one that was given its id: the task takes nothing from a
// process that is not the same one, and an entry without it is never used.
// FOLDER, present when --dir moved the task away from it: the folder the
// launcher started in. The whole argument is quoted by the runtime's rules
// where it needs it (a folder with blanks).

extern const wchar_t kTaskArgumentPrefix[];  // "--pid-task--"

struct TaskArgument {
    std::vector<ProcessRef> prompts;
    std::vector<ProcessRef> others;
    std::wstring startFolder;  // empty: the task's own
};

// The first process id of the task argument (greater than 0), or -1 when
// this invocation is not a task copy. Only the last argument counts.
[[nodiscard]] long ParseTaskPid(wchar_t** argv, int argc);

// The argument's parts; whatever does not follow the format ends the list it
// stands in, and an entry with the id 0 is left out.
TaskArgument ParseTaskArgument(const wchar_t* argument);

// The argument for these, quoted where it needs it.
std::wstring ComposeTaskArgument(const TaskArgument& argument);

// What the launcher hands over. `launcher` is the launcher itself;
// `ancestors` its parent, the parent's parent and so on; `console` the
// processes of its console (itself left out). The prompts are the parent
// (the launcher when it has none) and the further ancestors on the console;
// the others are the console's processes that are no ancestor.
TaskArgument MakeTaskArgument(const ProcessRef& launcher, const std::vector<ProcessRef>& ancestors,
                              const std::vector<ProcessRef>& console, const std::wstring& startFolder);

}  // namespace vrek
