#pragma once

#include <windows.h>

#include <stdio.h>

#include "kovra/C_WString.h"
#include "tool/DaemonRegistry.h"

namespace vrek {

// The interactive daemon manager (vrek --managed-daemon): lists the live
// records of the daemon table, sends stop requests (Term, Kill) by writing
// their signal bytes, watches the list in a timed monitor mode, and ends on
// "exit" or "quit". Text goes to standard output with _putws and wprintf;
// command lines come from `input` with fgets, at most 259 bytes a read.
//
// Choices where the behaviour was open:
// - End of input (a redirected file or pipe that is exhausted, or Ctrl+Z at
//   a console) ends the manager: "コマンドが不正です。" once, then "bye."
//   as after "exit", status 0. So `echo sigterm all | vrek --managed-daemon`
//   is a usable script. A failed read that is not the end of input gets the
//   message and a new prompt; a second one in a row ends the manager the
//   same way, so a stream that fails at every read cannot loop for ever.
// - The monitor period is counted in 64-bit milliseconds from the
//   differences of successive clock readings: periods beyond 32 bits of
//   milliseconds refresh on time, and the wrap of the millisecond clock
//   every 49.7 days cannot stall a refresh. ESC or a lowercase q ends
//   monitor mode at any period; every key waiting is read at each 100 ms
//   poll (a two-part key, 0 or 0xE0 and its code, is read whole and
//   dropped, so that its second part is never taken for a q).
// - The weekday comes from code page 932 whatever the system's ANSI code
//   page, since the day names are Shift_JIS text.
// - Fields of a record are printed as they are: a date the table holds
//   (month 13 and the like) prints as its numbers, the command from a
//   bounded read, unknown states and signals as "----". The pid prints as
//   an unsigned number. In the command, a character that the locale's code
//   page lacks, or a control character other than the tab, prints as '?':
//   the C runtime would end the row at the first, the second would break
//   the row or drive the terminal.

// The manager's contacts with the keyboard and the clock in monitor mode:
// _kbhit, _getch, timeGetTime and Sleep for real; tests give their own.
struct ManagerSeams {
    int (*keyWaiting)();
    int (*readKey)();
    DWORD (*now)();
    void (*sleep)(DWORD milliseconds);
};

ManagerSeams RealManagerSeams();

enum MonitorOutcome {
    MONITOR_REFRESH,  // the period has passed: refresh and wait again
    MONITOR_LEAVE,    // ESC or q: back to the prompt
};

// One monitor wait of `periodSeconds` (a period below 1 refreshes at once).
MonitorOutcome MonitorWait(int periodSeconds, const ManagerSeams& seams);

// The day-of-week name the update line shows: 日 to 土 (0 is Sunday).
kovra::C_WString WeekdayText(int dayOfWeek);

// The manager on `registry`, reading command lines from `input`; returns 0.
int RunDaemonManager(DaemonRegistry& registry, FILE* input, const ManagerSeams& seams);

// The manager on the real daemon table, standard input and the keyboard;
// returns 0.
int RunDaemonManager();

}  // namespace vrek
