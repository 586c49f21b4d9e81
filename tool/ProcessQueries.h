#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kovra/common/List.h"
#include "kovra/common/UniqueHandle.h"

namespace vrek {

// What vrek asks the system about processes other than its own children.

// Appends the parent id of process `pid` to `list`; leaves the list
// unchanged when the process is not found or the snapshot fails.
void GetParentProcessIds(kovra::common::List<unsigned long>& list, unsigned long pid);

// A process by its id and its creation time (a FILETIME as one count): ids
// are reused, the pair is not. `created` 0 is unknown.
struct ProcessRef {
    unsigned long pid = 0;
    unsigned long long created = 0;
    bool operator==(const ProcessRef& other) const { return pid == other.pid && created == other.created; }
};

// The process that has the id `pid` now; `created` 0 when it cannot be read.
ProcessRef CurrentProcessRef(unsigned long pid);

// The process `process` names, opened with `access` (plus what the check
// needs), while it runs and is the same one: an empty handle when it has
// ended, its id now names another process, or its creation time is unknown.
// While the handle is held, the id cannot pass to another process.
kovra::common::UniqueHandle OpenSameProcess(const ProcessRef& process, DWORD access);

// The parent of process `pid`, its parent, and so on (at most `limit`, the
// parent first), from one snapshot; none when `pid` is not found. A chain
// stops at a process that is gone, at an id seen before, and at a "parent"
// created after its child (its id was reused).
std::vector<ProcessRef> GetAncestors(unsigned long pid, size_t limit);

// Whether a task's command is gone: its process has ended (`handle`, when
// not null, is signalled), no process has its id any more, or the id now
// belongs to a process that this task did not start (a reused id).
bool IsCommandGone(HANDLE handle, unsigned long commandId);

// What one look-up of a record's pid found.
struct ProcessLookup {
    DWORD openError;  // 0 when OpenProcess succeeded, else its GetLastError()
    bool exited;      // the opened process has ended
    bool imageKnown;  // imagePath holds the process's image path
    const wchar_t* imagePath;
};
// The decision: gone when OpenProcess says there is no such process
// (ERROR_INVALID_PARAMETER), when the process has exited, or when it runs an
// executable of another file name than `ownImagePath` (a reused pid; the
// file name parts are compared case-insensitively). Any other failure,
// access denied above all, and an unreadable image path count as alive:
// a live daemon's record is never freed on a guess.
bool IsLookupGone(const ProcessLookup& lookup, const wchar_t* ownImagePath);
// The look-up with the real system calls, then IsLookupGone against this
// process's own executable; both paths in their long form, since a copy
// started through a short (8.3) path may know itself by that name.
//
// Limit: a copy of the executable under another file name counts as another
// program, so its records are freed by the others' transactions.
bool IsTaskProcessGone(unsigned long pid);

// The current folder of another process (the prompt's), as it keeps it in
// its start-up parameters: cmd.exe's `cd` changes it there. A 32-bit
// process (the SysWOW64 cmd.exe that 32-bit programs open) keeps it in its
// 32-bit parameters. Empty when the process is gone, is not the same one,
// or cannot be read. Without its trailing backslash, as a prompt shows it,
// except for a drive's root (C:\).
std::wstring ReadProcessCurrentDirectory(const ProcessRef& process);

// The command line of another process (opened with
// PROCESS_QUERY_INFORMATION and PROCESS_VM_READ), as it was started, from
// its start-up parameters; empty when it cannot be read, and for a 32-bit
// process, which is never a copy of this program.
std::wstring ReadProcessCommandLine(HANDLE process);

// Reads `size` bytes at `address` of another process; false when it cannot.
using MemoryReader = bool (*)(void* context, unsigned long long address, void* buffer, size_t size);
// The folder as ReadProcessCurrentDirectory reads it, from the process
// environment block at `peb`, laid out for 64-bit code or, with `wow64`,
// for 32-bit code. The process may be changing its folder meanwhile: the
// length and the text are read until two readings agree (empty when they
// never do).
std::wstring ReadCurrentDirectoryAt(MemoryReader read, void* context, unsigned long long peb, bool wow64);

// The ids of the processes on this process's console (itself included);
// none without a console.
std::vector<DWORD> ConsoleProcessIds();

// Whether `path` (an image path, or a bare file name) has this program's
// own file name, compared case-insensitively: a copy of vrek.
bool IsThisProgramsName(const wchar_t* path);

// The other processes of this process's console, the ones most recently
// attached first (at most `limit`), each still on the console once its
// creation time was read; none without a console.
std::vector<ProcessRef> GetConsoleProcesses(size_t limit);

}  // namespace vrek
