#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kovra/common/List.h"

namespace vrek {

// What vrek asks the system about processes other than its own children.

// Appends the parent id of process `pid` to `list`; leaves the list
// unchanged when the process is not found or the snapshot fails.
void GetParentProcessIds(kovra::common::List<unsigned long>& list, unsigned long pid);

// The parent of process `pid`, its parent, and so on (at most `limit`, the
// parent first), from one snapshot; none when `pid` is not found. A chain
// stops at a process that is gone, and at an id seen before (ids are
// reused).
std::vector<unsigned long> GetAncestorIds(unsigned long pid, size_t limit);

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
// its start-up parameters: cmd.exe's `cd` changes it there. Empty when the
// process is gone or cannot be read. Without its trailing backslash, as a
// prompt shows it, except for a drive's root (C:\).
std::wstring ReadProcessCurrentDirectory(unsigned long pid);

// The other processes of this process's console, the ones most recently
// attached first (at most `limit`); none without a console.
std::vector<unsigned long> GetConsoleProcessIds(size_t limit);

}  // namespace vrek
