#include "tool/Launcher.h"

#include <windows.h>

#include <stdio.h>

#include <algorithm>

#include "kovra/RedirectHandle.h"
#include "kovra/common/kovra_GetCurrentDirectory.h"
#include "kovra/common/kovra_GetLastName.h"
#include "tool/CommandBuilder.h"
#include "tool/DaemonRegistry.h"
#include "tool/ProcessQueries.h"
#include "tool/StdStreams.h"

using kovra::C_Process;
using kovra::C_WString;
using kovra::FileHandle;
using kovra::RedirectHandle;

namespace vrek {

const wchar_t kTaskArgumentPrefix[] = L"--pid-task--";

namespace {

// Enough for any prompt's console: the task line stays short.
const size_t kMaxConsolePids = 8;

}  // namespace

long ParseTaskPid(wchar_t** argv, int argc) {
    if (argc <= 1) return -1;
    C_WString last(argv[argc - 1]);
    if (!last.StartsWith(C_WString(kTaskArgumentPrefix))) return -1;
    int value = last.EncloseInt(12, nullptr, 7, nullptr);
    return value > 0 ? value : -1;
}

TaskArgument ParseTaskArgument(const wchar_t* argument) {
    TaskArgument parsed;
    const size_t prefix = wcslen(kTaskArgumentPrefix);
    if (!argument || wcsncmp(argument, kTaskArgumentPrefix, prefix) != 0) return parsed;
    const wchar_t* p = argument + prefix;
    std::vector<unsigned long>* list = &parsed.prompts;
    while (*p >= L'0' && *p <= L'9') {
        unsigned long pid = 0;
        for (; *p >= L'0' && *p <= L'9'; ++p) pid = pid * 10 + static_cast<unsigned long>(*p - L'0');
        if (pid != 0) list->push_back(pid);
        if (*p == L';') list = &parsed.others;
        if (*p != L',' && *p != L';') break;
        ++p;
    }
    if (*p == L'|') parsed.startFolder = p + 1;
    return parsed;
}

std::wstring ComposeTaskArgument(const TaskArgument& argument) {
    std::wstring text = kTaskArgumentPrefix;
    for (size_t i = 0; i < argument.prompts.size(); ++i)
        text += (i ? L"," : L"") + std::to_wstring(argument.prompts[i]);
    for (size_t i = 0; i < argument.others.size(); ++i) text += (i ? L"," : L";") + std::to_wstring(argument.others[i]);
    if (!argument.startFolder.empty()) text += L"|" + argument.startFolder;
    return QuoteArgument(C_WString(text.c_str()), false).GetString();
}

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

int RunLauncher(wchar_t** argv, TaskSettings& settings, C_Process& process) {
    if (settings.daemon) {
        DaemonRegistry registry;
        int live = registry.CheckRoom();
        if (live < 0) {
            _putws(L"管理者権限が無いため --daemon オプションに失敗しました。");
            return 1;
        }
        if (live >= TASK_RECORD_COUNT) {
            _putws(L"デーモン管理は最大で 20 プロセスです。中止しました。");
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

    // The task copy attaches to the shell's console, so it needs the shell's
    // id. A launcher whose parent cannot be found (the snapshot fails, or it
    // was started from outside Windows) carries its own id instead: the
    // attach then fails as the launcher is gone, and the task's fallbacks
    // apply (a new console for --parent-console, files and nul as usual).
    // The ancestors and the other processes of the prompt's console follow,
    // for a prompt that ends before the job does (`cmd /c vrek ...`).
    const std::vector<unsigned long> ancestors = GetAncestorIds(GetCurrentProcessId(), kMaxConsolePids);
    const std::vector<unsigned long> console = GetConsoleProcessIds(kMaxConsolePids);
    auto onConsole = [&console](unsigned long pid) {
        return std::find(console.begin(), console.end(), pid) != console.end();
    };
    TaskArgument task;
    task.prompts.push_back(ancestors.empty() ? GetCurrentProcessId() : ancestors.front());
    for (size_t i = 1; i < ancestors.size(); ++i)
        if (onConsole(ancestors[i])) task.prompts.push_back(ancestors[i]);
    for (unsigned long pid : console)
        if (std::find(ancestors.begin(), ancestors.end(), pid) == ancestors.end()) task.others.push_back(pid);
    if (!settings.workDir.Empty()) task.startFolder = startFolder.GetString();
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
    wprintf(L"job: %d started", static_cast<int>(pid));
    return 0;
}

}  // namespace vrek
