#include "tool/TaskRunner.h"

#include <windows.h>
#include <versionhelpers.h>

#include <conio.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>

#include <memory>

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "kovra/RedirectHandle.h"
#include "tool/CommandBuilder.h"
#include "tool/Launcher.h"
#include "tool/Relay.h"
#include "tool/StdStreams.h"
#include "tool/Supervision.h"
#include "tool/TaskArgument.h"
#include "tool/TaskConsole.h"
#include "tool/TaskContext.h"

using kovra::C_Process;
using kovra::C_String;
using kovra::C_WString;

namespace vrek {

namespace {

const DWORD kCheckPeriodMs = 100;  // a registered or flushing task looks up this often

// The result and boot-error lines are formatted wide and written in the
// ANSI code page.
void WriteResultText(const C_WString& text, FILE* stream = stdout) {
    C_String narrow = text.ToString();
    WriteBytes(narrow.GetString(), static_cast<size_t>(narrow.ByteLength()), stream);
}

C_WString DatePrefix() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return C_WString::Stringf(L"[%d/%02d/%02d %02d:%02d:%02d] ", now.wYear, now.wMonth, now.wDay, now.wHour,
                              now.wMinute, now.wSecond);
}

// A delay is waited out in pieces no longer than this: the 32-bit tick
// difference of each stays exact, and the 64-bit sum with it.
const DWORD kLongestWaitPiece = 3600000;

void WaitOutDelay(TaskContext& context) {
    const double delay = context.settings.delaySeconds;
    if (!(delay > 0)) return;
    if (context.record) SetTaskState(context.record, TASK_STATE_SLEEP);
    timeBeginPeriod(1);
    // Counted in 64 bits from the task's start, so that a delay beyond the
    // 49.7 days of the millisecond tick still waits its full length. The
    // task sleeps on the stop event for the time that is left: a delayed
    // task costs nothing, and a stop request still ends the wait at once.
    const double ms = delay * 1000.0;
    const uint64_t wait = ms >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(ms);
    uint64_t waited = 0;
    DWORD last = context.startTick;
    while (!StopFlagSet()) {
        const DWORD now = timeGetTime();
        waited += static_cast<DWORD>(now - last);
        last = now;
        if (waited >= wait) break;
        const uint64_t left = wait - waited;
        const DWORD piece = left > kLongestWaitPiece ? kLongestWaitPiece : static_cast<DWORD>(left);
        if (!g_stopEvent || WaitForSingleObject(g_stopEvent, piece) == WAIT_FAILED) Sleep(piece);
    }
    timeEndPeriod(1);
    if (context.record) SetTaskState(context.record, TASK_STATE_RUN);
}

// The first file target that could not be opened: the command must not
// run, or every byte it writes there would be lost unseen.
struct OpenFailure {
    C_WString failedFile;
    DWORD failedError = 0;

    void Fail(const C_WString& name, DWORD error) {
        if (!failedFile.Empty()) return;
        failedFile = name;
        failedError = error;
    }
};

// The command's input outside pass-through mode: a file or nul target is
// opened as the command's redirect; the others leave the input pipe, which
// is closed at once.
bool OpenCommandInput(TaskContext& context, OpenFailure& failure) {
    const TaskSettings& s = context.settings;
    if (s.inKind != TARGET_FILE && s.inKind != TARGET_NUL) return true;
    const wchar_t* name = s.inKind == TARGET_NUL ? L"NUL" : s.inTarget.GetString();
    kovra::FileHandle* input = kovra::RedirectHandle::CreateStdin(name);
    if (!input) {
        failure.Fail(s.inTarget, GetLastError());
        return false;
    }
    context.process.SetRedirectHandle(input, nullptr, nullptr);
    context.commandInputRedirected = true;
    return true;
}

// Binds the task's standard streams to their targets and notes in the
// context which reach a target of their own (not nul).
OpenFailure SetUpStreams(TaskContext& context) {
    const TaskSettings& s = context.settings;
    OpenFailure failure;
    const bool passThrough = s.flushMode == FLUSH_PASS_THROUGH;
    if (!passThrough) OpenCommandInput(context, failure);

    const struct {
        int which;
        int kind;
        const C_WString& target;
        bool* works;
    } streams[] = {{STREAM_IN, s.inKind, s.inTarget, nullptr},
                   {STREAM_OUT, s.outKind, s.outTarget, &context.outWorks},
                   {STREAM_ERR, s.errKind, s.errTarget, &context.errWorks}};
    for (const auto& stream : streams) {
        bool bound = true;
        // A command of the background gets no keyboard: its input ends at
        // once, as the input pipe of the other modes does.
        if (stream.kind == TARGET_NUL || (passThrough && stream.which == STREAM_IN && stream.kind == TARGET_PARENT)) {
            // Discarded: the null device, so that nothing reaches a handle
            // this process may have been given anyway; where even that
            // fails, no standard handle at all for the command to inherit.
            if (!BindStdStream(stream.which, L"NUL")) ClearStdHandle(stream.which);
            continue;
        }
        if (stream.kind == TARGET_FILE) {
            // In pass-through mode the launcher handed the file over as this
            // process's standard handle already. The command's input is
            // its own redirect.
            if (stream.which == STREAM_OUT) context.stdoutToFile = true;
            if (stream.which == STREAM_IN || passThrough) {
                bound = true;
            } else if (stream.which == STREAM_ERR && s.outKind == TARGET_FILE && context.outWorks &&
                       IsSameFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))), stream.target)) {
                // One file on disk for both, however named: opened twice, each
                // stream would write from offset 0 over the other.
                bound = ShareStdStream(STREAM_ERR, STREAM_OUT);
                if (!bound) failure.Fail(stream.target, GetLastError());
            } else {
                bound = BindStdStream(stream.which, stream.target.GetString());
                if (!bound) failure.Fail(stream.target, GetLastError());
            }
        } else {
            bound = BindStdStream(stream.which, nullptr);
        }
        if (stream.works) *stream.works = bound;
        if (stream.which != STREAM_IN && s.flushMode != FLUSH_NONE)
            setvbuf(stream.which == STREAM_OUT ? stdout : stderr, nullptr, _IONBF, 0);
    }
    if (context.stdoutToFile) context.newlineWritten = true;
    return failure;
}

// The command was started suspended: it joins a job of the task's own
// before it can start anything, so that a forced stop can end all it
// started. A child that asks to leave the job (CREATE_BREAKAWAY_FROM_JOB:
// installers, updaters, service helpers) may; a Kill still ends all the
// others. Where the system refuses the job (the task itself runs in a job
// that allows no nesting), the command runs without one, as it always
// could; so it does before Windows 8, where a process is in one job only
// and a command that makes a job of its own would fail inside vrek's.
// False, the command ended, when its thread cannot be resumed.
bool JoinJobAndResume(TaskContext& context) {
    if (IsWindows8OrGreater()) {
        kovra::common::UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
        if (job && SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
            AssignProcessToJobObject(job.Get(), context.process.GetHandle()))
            context.job = std::move(job);
    }
    kovra::common::UniqueHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, context.process.GetThreadId()));
    if (thread && ResumeThread(thread.Get()) != static_cast<DWORD>(-1)) return true;
    const DWORD error = GetLastError();
    context.process.Terminate();
    SetLastError(error);
    return false;
}

unsigned long StartCommand(TaskContext& context) {
    const TaskSettings& s = context.settings;
    // Found now, in the folder the command runs in, as the prompt would find
    // it were the line typed there at this moment.
    const ProgramSearch search = ProgramSearch::OfThisProcess();
    if (!CanRunAsTyped(s.taskLine, search)) {
        // A task line made by hand: the launcher refuses such a command.
        SetLastError(ERROR_INVALID_PARAMETER);
        return kovra::NO_PROCESS;
    }
    const CommandToStart command = BuildCommand(s.taskLine, search);
    if (command.route == ROUTE_NOT_FOUND) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return kovra::NO_PROCESS;
    }
    int priorityBits = s.priority != PRIORITY_NONE ? PriorityToRunFlag(s.priority) : 0;
    if (s.gui)
        return StartProcess(context.process, command.application.GetString(), command.commandLine.GetString(),
                            SW_SHOW, priorityBits, nullptr);
    int flags = priorityBits | kovra::RUN_NEW_PROCESS_GROUP | kovra::RUN_INHERIT_HANDLES | kovra::RUN_SUSPENDED;
    if (s.flushMode != FLUSH_PASS_THROUGH)
        flags |= context.commandInputRedirected ? kovra::RUN_PIPE_OUT_ERR : kovra::RUN_PIPE_IN_OUT_ERR;
    if (command.consoleFlag == 1 || s.hide) flags |= kovra::RUN_KEEP_CONSOLE;
    unsigned long pid = StartProcess(context.process, command.application.GetString(),
                                     command.commandLine.GetString(), 0, flags, nullptr);
    if (pid == kovra::NO_PROCESS) return pid;
    if (!JoinJobAndResume(context)) return kovra::NO_PROCESS;
    // The task never writes to the command's input: close it at once, so a
    // command that reads its input sees its end instead of waiting forever.
    context.process.EndWrite();
    return pid;
}

// A job that never ran: the line that says why, so that with several jobs
// running the user can tell which one failed, then the boot error line. On
// the prompt's console they stand below the prompt's line and the prompt is
// redrawn after them; anywhere else (a file) they stand alone, and the
// prompt's console hears of the end as well.
void ReportBootFailure(TaskContext& context, FILE* stream, const C_WString& why) {
    const bool promptConsole = !context.consoleAllocated && IsConsoleStream(stream);
    C_WString lines = why + L"\n";
    if (context.settings.showResult) lines += DatePrefix() + L"job boot error\n";
    if (promptConsole) WriteBytes("\n", 1, stream);
    WriteResultText(lines, stream);
    if (promptConsole) PrintPromptTo(stream, PromptFolder(context));
    fflush(stream);
    if (!promptConsole) AnnounceEnd(context, lines.Replace(L"\n", L"\r\n"));
}

// A file target could not be opened: reported through a stream that still
// works, else on the prompt's console.
void ReportOpenFailure(TaskContext& context, const OpenFailure& failure) {
    FILE* stream = context.outWorks ? stdout : context.errWorks ? stderr : nullptr;
    if (!stream && !context.consoleAllocated && AttachPromptConsole(context) && BindStdStream(STREAM_OUT, nullptr))
        stream = stdout;
    if (stream) ReportBootFailure(context, stream, OpenFailureMessage(failure.failedFile, failure.failedError));
}

// Waits for the command's end on its process and the stop event; a task
// that must look at its signal byte or flush its output also wakes every
// 100 ms, any other sleeps until something happens.
void WaitForEnd(TaskContext& context) {
    const bool flushing = context.settings.flushMode != FLUSH_NONE;
    const DWORD timeout = context.record || flushing ? kCheckPeriodMs : INFINITE;
    for (;;) {
        CheckStop(context, true);
        HANDLE process = context.process.GetHandle();
        if (!process) return;
        HANDLE waits[] = {process, g_stopEvent};
        const DWORD result = WaitForMultipleObjects(g_stopEvent ? 2 : 1, waits, FALSE, timeout);
        if (flushing) FlushFileBuffers(GetStdHandle(STD_OUTPUT_HANDLE));
        if (result == WAIT_FAILED) {
            // Nothing to sleep on: the polling wait.
            if (context.process.Join(kCheckPeriodMs) != 1) return;
        } else if (result == WAIT_OBJECT_0 && context.process.Join(0) != 1) {
            return;
        }
    }
}

// The guarded region: console, streams, start, relay, wait and completion.
// A stop request anywhere in it is thrown and ends in the stop sequence.
int RunGuarded(TaskContext& context) {
    CheckStop(context, false);
    SetUpConsole(context);
    const OpenFailure failure = SetUpStreams(context);
    if (!failure.failedFile.Empty()) {
        ReportOpenFailure(context, failure);
        return 1;
    }
    // A daemon that no record lists could be stopped by nobody.
    if (context.settings.daemon && !context.record) {
        ReportBootFailure(context, stdout,
                          context.tableFull ? L"デーモン管理は最大で 20 プロセスです。中止しました。"
                                            : L"管理者権限が無いため --daemon オプションに失敗しました。");
        return 1;
    }

    if (StartCommand(context) == kovra::NO_PROCESS) {
        ReportBootFailure(context, stdout, StartFailureMessage(context.settings.taskLine, GetLastError()));
        return 1;
    }

    std::unique_ptr<Relay> relay;
    if (!context.settings.gui) {
        if (context.settings.flushMode != FLUSH_PASS_THROUGH) {
            relay = std::make_unique<Relay>(context);
            relay->Run();
        }
        WaitForEnd(context);
    }

    CheckStop(context, false);
    WriteLeadingNewline(context);
    int code = context.process.GetExitCode(nullptr);
    if (relay) relay->WriteRest();
    // A failure may show only when the buffered rest is written.
    for (FILE* stream : {stdout, stderr}) {
        fflush(stream);
        CheckWritten(context, stream);
    }
    const C_WString result =
        DatePrefix() + C_WString::Stringf(L"job %d: result %d\n", static_cast<int>(GetCurrentProcessId()), code);
    if (context.settings.showResult) {
        WriteResultText(result);
        // Out now: nothing that happens while the process ends can lose it.
        fflush(stdout);
    }
    if (context.consoleAllocated && context.settings.pause) {
        fflush(stdout);
        _getch();
    }
    // The result went where the output went; the user at the prompt hears
    // of the end on the prompt's console either way.
    if (!context.consoleAllocated && IsConsoleStream(stdout))
        PrintPromptTo(stdout, PromptFolder(context));
    else
        AnnounceEnd(context, result.Replace(L"\n", L"\r\n"));
    return code;
}

}  // namespace

int RunTask(wchar_t** argv, int argc, TaskSettings& settings, C_Process& process) {
    TaskContext context(settings, process);
    context.startTick = timeGetTime();
    // Lives as long as the process: the handler may still set it while the
    // task ends.
    MakeJobEvents();
    if (!ParseCommandLine(argv, argc, settings, 1)) {
        _putws(settings.errorMessage.GetString());
        return 1;
    }
    const TaskArgument task = ParseTaskArgument(argv[argc - 1]);
    context.prompts = task.prompts;
    context.others = task.others;
    context.startFolder = task.startFolder.c_str();
    if (settings.daemon) context.record = context.registry.Claim(settings.taskLine, &context.tableFull);
    // A daemon without a record is refused in the guarded region, at once.
    if (!settings.daemon || context.record) WaitOutDelay(context);

    try {
        return RunGuarded(context);
    } catch (...) {
        return RunStopSequence(context);
    }
}

}  // namespace vrek
