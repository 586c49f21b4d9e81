#pragma once

#include <string>
#include <vector>

namespace vrek {

// Finding a program as the command prompt finds it, so that a job starts the
// file the prompt would have started, never one CreateProcessW's own search
// would pick (the launcher's folder, the system folders, a batch file under
// a spelling it completes itself).
//
// The search, for a name that holds no folder: the folder the command runs
// in, then each folder of PATH in order (entries may be quoted; empty ones
// are skipped; relative ones count from the command's folder). A name with a
// folder (a backslash, or a drive) is looked for there only. In each folder:
// - a name whose extension is one of PATHEXT's is that file only;
// - any other name gets each extension of PATHEXT in order, then, when it
//   has an extension of its own, the name itself (cmd opens a document by
//   its type).
// Trailing dots and blanks of the name are dropped first, as Windows drops
// them when it opens the file: "t.cmd." and "t.cmd " are t.cmd. A folder is
// never a match.
//
// Choices where the behaviour was open:
// - A name that holds a wildcard (* ?), a forward slash, a colon other than a
//   drive's, or one of cmd's argument separators (, ; =) is not looked up at
//   all (SEARCH_FOR_CMD): the prompt reads such names in ways of its own, so
//   the caller leaves them to cmd itself.
// - PATHEXT unset or empty is cmd's default list.
struct ProgramSearch {
    std::wstring folder;   // where the command runs: absolute
    std::wstring path;     // PATH's value
    std::wstring pathext;  // PATHEXT's value

    // This process's: its current folder (or `folder`, made absolute against
    // it), PATH and PATHEXT, which the command inherits.
    static ProgramSearch OfThisProcess(const wchar_t* folder = nullptr);
};

enum SearchOutcome {
    SEARCH_FOUND = 0,
    SEARCH_NOT_FOUND = 1,
    SEARCH_FOR_CMD = 2,  // a name only cmd can read (see above)
};

// The full path of the program `name` (quotes already dropped) in *found.
SearchOutcome FindProgram(const std::wstring& name, const ProgramSearch& search, std::wstring* found);

// The value of this process's environment variable `name`; empty when it
// is not set.
std::wstring EnvironmentValue(const wchar_t* name);

// PATHEXT's extensions in order, lower-cased, each with its dot.
std::vector<std::wstring> PathExtensions(const std::wstring& pathext);

}  // namespace vrek
