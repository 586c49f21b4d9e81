#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kovra/common/UniqueHandle.h"
#include "tool/ProcessQueries.h"

namespace vrek {

// Job control from any prompt. Every job is a running task copy of vrek
// whose own command line holds its command, its prompt and its settings:
// the process list is the job list, with no shared state of its own.
//
//   vrek --jobs [all]            the jobs of this prompt (all: every job
//                                this user can see), one line each
//   vrek --wait N [N ...]        waits until those jobs have ended; the
//                                last one's result is the exit status
//   vrek --sigterm N [N ...]|all asks the jobs (all: every job of this
//   vrek --sigkill N [N ...]|all prompt) to stop, as the manager asks a
//                                daemon: Term politely, Kill by force when
//                                the command does not end
//
// A job is its task copy's process id (the N of "job: N started"), taken
// only when that process runs vrek's image and was started with a task
// argument and a task line that parse; a registered daemon is asked through
// its record, any other job through its stop and kill events
// (JobEventName). Complaints go to standard error with status 1, checked
// before anything is waited on or sent; --jobs writes nothing but the list.
//
// The list's columns (a line per job, in process order):
//   1-10   the job number, right-aligned
//   13-31  the start, yyyy/mm/dd hh:mm:ss (local time)
//   34-41  the state: waiting (its delay), running, stopping
//   44     D for a registered daemon, - otherwise
//   47-    the folder it runs in, in double quotes; two blanks; the
//          command text (cut at 250 units, with "...", as in the table)
//
// Choices where the behaviour was open:
// - "This prompt" is the parent of `vrek --jobs`; a job is its when that
//   process is one of the job's prompts (its prompt, or the prompt's
//   ancestors on its console: a job of `cmd /c vrek ...` is listed at the
//   prompt that ran it).
// - A job's state comes from its record for a daemon; for any other job
//   from its stop event and from its start and delay.
// - --wait's status is that of the last number given; Ctrl+C ends the
//   waiting program as it ends any other (a job on the same console takes
//   the Ctrl+C typed there as its own stop request, as always).

enum JobControlMode { JOBS_NONE = 0, JOBS_LIST, JOBS_WAIT, JOBS_TERM, JOBS_KILL };

// The mode argv[1] names; JOBS_NONE for anything else.
JobControlMode GetJobControlMode(int argc, wchar_t** argv);

// Runs a mode with the arguments after it: its exit status.
int RunJobControl(JobControlMode mode, int argc, wchar_t** argv);

// A running job, as its task copy shows it.
struct JobInfo {
    ProcessRef task;
    kovra::common::UniqueHandle process;  // held: the id cannot pass on meanwhile
    std::vector<ProcessRef> prompts;
    bool daemon = false;
    double delaySeconds = 0;
    std::wstring folder;
    std::wstring command;
};

// The job whose task copy has the id `pid`; false when there is none.
bool OpenJob(unsigned long pid, JobInfo* job);

}  // namespace vrek
