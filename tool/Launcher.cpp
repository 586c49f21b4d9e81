#include "tool/Launcher.h"

#include <windows.h>

#include <stdio.h>

#include "kovra/RedirectHandle.h"
#include "kovra/common/kovra_GetCurrentDirectory.h"
#include "kovra/common/kovra_GetLastName.h"
#include "tool/CommandBuilder.h"
#include "tool/DaemonRegistry.h"
#include "tool/ProcessQueries.h"
#include "tool/StdStreams.h"
#include "tool/TaskArgument.h"

using kovra::C_Process;
using kovra::C_WString;
using kovra::FileHandle;
using kovra::RedirectHandle;

namespace vrek {

namespace {

// Enough for any prompt's console: the task line stays short.
const size_t kMaxConsolePids = 8;

}  // namespace

namespace {

unsigned long RunProcess(C_Process& process, const wchar_t* file, const wchar_t* commandLine,
                         const wchar_t* arguments, int show, int flags, const wchar_t* directory) {
    if (file) return process.RunFile(file, commandLine, show, flags, 0, nullptr, directory);
    return process.Run(commandLine, arguments, show, flags, 0, nullptr, directory);
}

unsigned long StartWith(StartCall run, C_Process& process, const wchar_t* file, const wchar_t* commandLine,
                        const wchar_t* arguments, int show, int flags, const wchar_t* directory) {
    for (int attempt = 1;; ++attempt) {
        const unsigned long pid = run(process, file, commandLine, arguments, show, flags, directory);
        if (pid != kovra::NO_PROCESS || attempt == 3 || GetLastError() != ERROR_INTERNAL_ERROR) return pid;
        Sleep(50);
    }
}

}  // namespace

unsigned long StartProcess(C_Process& process, const wchar_t* file, const wchar_t* commandLine, int show, int flags,
                           const wchar_t* directory) {
    return StartWith(RunProcess, process, file, commandLine, nullptr, show, flags, directory);
}

unsigned long StartProcess(C_Process& process, const wchar_t* commandLine, const wchar_t* arguments, int show,
                           int flags, const wchar_t* directory, StartCall run) {
    return StartWith(run ? run : RunProcess, process, nullptr, commandLine, arguments, show, flags, directory);
}

namespace {

// One stream's redirect in pass-through mode: the file of a file target,
// the null device for nul (and for input left to the prompt: a command of
// the background has no keyboard), none (the launcher's own handle)
// otherwise. An output file is shared for reading only: a second writer,
// another job say, is refused instead of writing over this one. False when
// a file target cannot be opened; `failed` then names it.
bool OpenRedirect(const C_WString& target, bool input, FileHandle** handle, C_WString& failed) {
    *handle = nullptr;
    const int kind = ClassifyTarget(target);
    if (kind == TARGET_NUL || (input && kind == TARGET_PARENT)) {
        *handle = RedirectHandle::CreateRedirectHandle(
            L"NUL", (input ? kovra::FH_READ : kovra::FH_WRITE) | kovra::FH_SHARE_READ | kovra::FH_SHARE_WRITE,
            kovra::FH_OPEN_EXISTING);
        return true;
    }
    if (kind != TARGET_FILE) return true;
    *handle = input ? RedirectHandle::CreateStdin(target.GetString())
                    : RedirectHandle::CreateRedirectHandle(target.GetString(), kovra::FH_WRITE | kovra::FH_SHARE_READ,
                                                           kovra::FH_CREATE_ALWAYS);
    if (*handle) return true;
    failed = target;
    return false;
}

// Pass-through mode: the launcher opens the targets itself and hands them to
// the task copy as its standard handles, so the command writes to them
// directly. Output and error that are one file on disk, however named, share
// one handle (opened twice, each would write over the other). False, with
// `failed` and GetLastError() set, when a file cannot be opened: no job is
// started then.
bool SetFileRedirects(const TaskSettings& settings, C_Process& process, C_WString& failed) {
    FileHandle* in = nullptr;
    FileHandle* out = nullptr;
    FileHandle* err = nullptr;
    bool ok =
        OpenRedirect(settings.inTarget, true, &in, failed) && OpenRedirect(settings.outTarget, false, &out, failed);
    const bool shared = ok && out && ClassifyTarget(settings.outTarget) == TARGET_FILE &&
                        ClassifyTarget(settings.errTarget) == TARGET_FILE &&
                        IsSameFile(out->GetHandle(), settings.errTarget);
    if (shared) {
        err = out;
    } else if (ok) {
        ok = OpenRedirect(settings.errTarget, false, &err, failed);
    }
    // The process owns them from here, on failure too (each object once).
    const DWORD error = GetLastError();
    process.SetRedirectHandle(in, out, err);
    SetLastError(error);
    return ok;
}

}  // namespace

namespace {

const wchar_t kNoTable[] = L"管理者権限が無いため --daemon オプションに失敗しました。";
const wchar_t kTableFull[] = L"デーモン管理は最大で 20 プロセスです。中止しました。";

// Ctrl+C at the prompt while a daemon's task copy waits, suspended, for its
// record would leave it suspended for good: the launcher lets that moment
// pass.
BOOL WINAPI IgnoreConsoleEvent(DWORD) { return TRUE; }

// The daemon's record for the task copy the launcher started suspended, and
// then its start; false (the copy ended, the reason printed) when the table
// has no room or cannot be used.
bool RegisterAndResume(const TaskSettings& settings, C_Process& process, unsigned long pid) {
    DaemonRegistry registry;
    const DaemonRegistry::ClaimOutcome outcome = registry.ClaimFor(pid, settings.command, process.GetHandle());
    if (outcome != DaemonRegistry::CLAIM_TAKEN) {
        process.Terminate();
        _putws(outcome == DaemonRegistry::CLAIM_FULL ? kTableFull : kNoTable);
        return false;
    }
    kovra::common::UniqueHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, process.GetThreadId()));
    if (thread && ResumeThread(thread.Get()) != static_cast<DWORD>(-1)) return true;
    // Its record goes with it: nothing runs unregistered.
    process.Terminate();
    wprintf(L"job error.");
    return false;
}

}  // namespace

int RunLauncher(wchar_t** argv, TaskSettings& settings, C_Process& process) {
    // Refused before anything is opened (a --flush2 file would be emptied);
    // the record itself is taken once the task copy exists.
    if (settings.daemon) {
        const int live = DaemonRegistry().CheckRoom();
        if (live < 0 || live >= TASK_RECORD_COUNT) {
            _putws(live < 0 ? kNoTable : kTableFull);
            return 1;
        }
    }

    // The prompt's folder, for the task's redrawn prompt should it not be
    // able to read the prompt's own.
    const C_WString startFolder = kovra::common::kovra_GetCurrentDirectory();
    if (!settings.workDir.Empty()) {
        if (!SetCurrentDirectoryW(settings.workDir.GetString())) {
            _putws(L"カレントディレクトリが認識できませんでした。");
            return 1;
        }
        settings.workDir = kovra::common::kovra_GetCurrentDirectory();
    }

    // The task copy attaches to the prompt's console, so it needs the
    // prompt. A launcher whose parent cannot be found (the snapshot fails,
    // or it was started from outside Windows) names itself instead: the
    // attach then fails as the launcher is gone, and the task's fallbacks
    // apply (a new console for --parent-console, files and nul as usual).
    // The ancestors and the other processes of the prompt's console follow,
    // for a prompt that ends before the job does (`cmd /c vrek ...`).
    const TaskArgument task =
        MakeTaskArgument(CurrentProcessRef(GetCurrentProcessId()), GetAncestors(GetCurrentProcessId(), kMaxConsolePids),
                         GetConsoleProcesses(kMaxConsolePids), settings.workDir.Empty() ? L"" : startFolder.GetString());
    C_WString arguments = settings.taskLine + L" " + ComposeTaskArgument(task).c_str();

    int flags = kovra::RUN_PIPE_NONE;
    if (settings.flushMode == FLUSH_PASS_THROUGH) {
        flags |= kovra::RUN_INHERIT_HANDLES;
        C_WString failed;
        if (!SetFileRedirects(settings, process, failed)) {
            _putws(OpenFailureMessage(failed, GetLastError()).GetString());
            return 1;
        }
    }
    if (settings.daemon) {
        flags |= kovra::RUN_SUSPENDED;
        SetConsoleCtrlHandler(IgnoreConsoleEvent, TRUE);
    }

    // The bare file name, found first in this executable's own folder. A
    // name with a blank must be quoted, or the system would split it.
    C_WString program = kovra::common::kovra_GetLastName(C_WString(argv[0]));
    if (program.IndexOf(L' ') >= 0) program = C_WString(L"\"") + program + L"\"";
    const wchar_t* directory = settings.workDir.Empty() ? nullptr : settings.workDir.GetString();

    unsigned long pid =
        StartProcess(process, program.GetString(), arguments.GetString(), 0, flags, directory, nullptr);
    if (pid == kovra::NO_PROCESS) {
        wprintf(L"job error.");
        return 1;
    }
    if (settings.daemon && !RegisterAndResume(settings, process, pid)) return 1;
    wprintf(L"job: %d started", static_cast<int>(pid));
    return 0;
}

}  // namespace vrek
