#include "tool/TaskRunner.h"

#include <windows.h>
#include <winternl.h>

#include <conio.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <cstddef>
#include <string>

#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "tool/CommandBuilder.h"
#include "tool/StdStreams.h"
#include "tool/Supervision.h"

using kovra::C_Memory;
using kovra::C_Process;
using kovra::C_String;
using kovra::C_StringMemory;
using kovra::C_WString;

namespace vrek {

volatile LONG g_stopRequested = 0;

namespace {

const int kReadSize = 10240;      // one pipe read, and the longest line kept back
const int kReadTimeoutMs = 50;    // the longest one pipe read waits
const DWORD kEmitPeriodMs = 500;  // relay mode without --flush batches writes
const DWORD kJoinPeriodMs = 100;  // the wait for the command's end polls

// RTL_USER_PROCESS_PARAMETERS as the system lays it out; the SDK's header
// declares only its first fields.
struct ProcessParametersLayout {
    ULONG MaximumLength;
    ULONG Length;
    ULONG Flags;
    ULONG DebugFlags;
    HANDLE ConsoleHandle;
    ULONG ConsoleFlags;
    HANDLE StandardInput;
    HANDLE StandardOutput;
    HANDLE StandardError;
    UNICODE_STRING CurrentDirectoryPath;
    HANDLE CurrentDirectoryHandle;
    UNICODE_STRING DllPath;
    UNICODE_STRING ImagePathName;
    UNICODE_STRING CommandLine;
    PVOID Environment;
    ULONG StartingX;
    ULONG StartingY;
    ULONG CountX;
    ULONG CountY;
    ULONG CountCharsX;
    ULONG CountCharsY;
    ULONG FillAttribute;
    ULONG WindowFlags;
    ULONG ShowWindowFlags;
};
#if defined(_WIN64)
static_assert(offsetof(ProcessParametersLayout, ImagePathName) == 0x60, "x64 process parameters layout");
static_assert(offsetof(ProcessParametersLayout, WindowFlags) == 0xA4, "x64 process parameters layout");
static_assert(offsetof(ProcessParametersLayout, ShowWindowFlags) == 0xA8, "x64 process parameters layout");
#endif

bool StopFlagSet() { return InterlockedCompareExchange(&g_stopRequested, 0, 0) != 0; }

// A stop request at one of the task's polling points: the console flag, and
// with `withSignal` also the record's signal byte.
void CheckStop(const TaskContext& context, bool withSignal) {
    if (StopFlagSet()) throw StopRequest();
    if (withSignal && context.record && GetTaskSignal(context.record) != TASK_SIGNAL_NONE) throw StopRequest();
}

void WriteBytes(const void* data, size_t size, FILE* stream) {
    if (size > 0) fwrite(data, 1, size, stream);
}

// The result and boot-error lines are formatted wide and written in the
// ANSI code page.
void WriteResultText(const C_WString& text) {
    C_String narrow = text.ToString();
    WriteBytes(narrow.GetString(), static_cast<size_t>(narrow.ByteLength()), stdout);
}

C_WString DatePrefix() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return C_WString::Stringf(L"[%d/%02d/%02d %02d:%02d:%02d] ", now.wYear, now.wMonth, now.wDay, now.wHour,
                              now.wMinute, now.wSecond);
}

void WaitOutDelay(TaskContext& context) {
    const double delay = context.settings.delaySeconds;
    if (!(delay > 0)) return;
    if (context.record) SetTaskState(context.record, TASK_STATE_SLEEP);
    timeBeginPeriod(1);
    // Counted in 64 bits from the task's start, so that a delay beyond the
    // 49.7 days of the millisecond tick still waits its full length.
    const double ms = delay * 1000.0;
    const uint64_t wait = ms >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(ms);
    uint64_t waited = 0;
    DWORD last = context.startTick;
    if (!StopFlagSet()) {
        for (;;) {
            DWORD now = timeGetTime();
            waited += static_cast<DWORD>(now - last);
            last = now;
            if (waited >= wait) break;
            Sleep(1);
            if (StopFlagSet()) break;
        }
    }
    timeEndPeriod(1);
    if (context.record) SetTaskState(context.record, TASK_STATE_RUN);
}

void SetUpConsole(TaskContext& context, unsigned long shellPid) {
    int needsNewConsole = 0;
    int fallsBackToConsole = 0;
    int needsParent = GetConsoleNeeds(context.settings, needsNewConsole, fallsBackToConsole);
    if (needsParent) {
        if (AttachConsole(shellPid)) {
            SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
            context.settings.hide = 1;
        } else if (fallsBackToConsole) {
            context.consoleAllocated = AllocVisibleConsole() != FALSE;
        }
    }
    if (needsNewConsole && !context.consoleAllocated) context.consoleAllocated = AllocVisibleConsole() != FALSE;
    if (context.consoleAllocated) {
        SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
        context.settings.hide = 1;
    }
}

void SetUpStreams(TaskContext& context) {
    const TaskSettings& s = context.settings;
    const struct {
        int which;
        int kind;
        const C_WString& target;
    } streams[] = {{STREAM_IN, s.inKind, s.inTarget}, {STREAM_OUT, s.outKind, s.outTarget},
                   {STREAM_ERR, s.errKind, s.errTarget}};
    for (const auto& stream : streams) {
        if (stream.kind == TARGET_NUL) continue;
        if (stream.kind == TARGET_FILE) {
            // In pass-through mode the launcher handed the file over as this
            // process's standard handle already.
            if (s.flushMode != 2) BindStdStream(stream.which, stream.target.GetString());
            if (stream.which == STREAM_OUT) context.stdoutToFile = true;
        } else {
            BindStdStream(stream.which, nullptr);
        }
        if (stream.which != STREAM_IN && s.flushMode != 0)
            setvbuf(stream.which == STREAM_OUT ? stdout : stderr, nullptr, _IONBF, 0);
    }
    if (context.stdoutToFile) context.newlineWritten = true;
}

unsigned long StartCommand(TaskContext& context) {
    const TaskSettings& s = context.settings;
    int priorityBits = s.priority != PRIORITY_NONE ? PriorityToRunFlag(s.priority) : 0;
    if (s.gui) {
        C_WString command = BuildCommandLine(s.taskLine, nullptr);
        return context.process.Run(command.GetString(), L"", 5, priorityBits, 0, nullptr, nullptr);
    }
    int consoleFlag = 0;
    C_WString command = BuildCommandLine(s.taskLine, &consoleFlag);
    int flags = priorityBits | kovra::RUN_NEW_PROCESS_GROUP | kovra::RUN_INHERIT_HANDLES;
    if (s.flushMode != 2) flags |= kovra::RUN_PIPE_IN_OUT_ERR;
    if (consoleFlag == 1 || s.hide) flags |= kovra::RUN_KEEP_CONSOLE;
    unsigned long pid = context.process.Run(command.GetString(), L"", 0, flags, 0, nullptr, nullptr);
    // The task never writes to the command's input: close it at once, so a
    // command that reads its input sees its end instead of waiting forever.
    if (pid != 0xFFFFFFFF) context.process.EndWrite();
    return pid;
}

void ReportBootError(TaskContext& context) {
    if (context.settings.showResult) {
        if (!context.consoleAllocated) WriteBytes("\n", 1, stdout);
        WriteResultText(DatePrefix() + L"job boot error\n");
        if (!context.consoleAllocated) PrintPrompt();
    }
}

void AppendRead(C_StringMemory& pending, C_Memory& buffer, int count) {
    if (count > 0) pending.Add(static_cast<const char*>(buffer.GetMemory()), 0, count);
}

// Reads the command's output and error until it has ended and both pipes
// are drained, writing whole lines as they come.
void RelayOutput(TaskContext& context, C_StringMemory& outPending, C_StringMemory& errPending, C_Memory& buffer) {
    DWORD lastEmit = timeGetTime();
    for (;;) {
        CheckStop(context, true);
        int n = context.process.ReaderStream(&buffer, kReadSize, kReadTimeoutMs);
        AppendRead(outPending, buffer, n);
        unsigned long available = 0;
        bool errorOpen = context.process.IsReadable_stderr(&available) != 0;
        if (errorOpen && available > 0)
            AppendRead(errPending, buffer, context.process.ReaderErrorStream(&buffer, kReadSize, kReadTimeoutMs));
        if (n == -1 && !errorOpen) break;
        if (context.settings.flushMode == 0 && timeGetTime() - lastEmit < kEmitPeriodMs) continue;
        EmitPending(context, outPending, stdout);
        EmitPending(context, errPending, stderr);
        lastEmit = timeGetTime();
    }
}

void WaitForEnd(TaskContext& context) {
    int state = 1;
    do {
        CheckStop(context, true);
        state = context.process.Join(kJoinPeriodMs);
        if (context.settings.flushMode != 0) FlushFileBuffers(GetStdHandle(STD_OUTPUT_HANDLE));
    } while (state == 1);
}

// The guarded region: console, streams, start, relay, wait and completion.
// A stop request anywhere in it is thrown and ends in the stop sequence.
int RunGuarded(TaskContext& context, unsigned long shellPid) {
    CheckStop(context, false);
    SetUpConsole(context, shellPid);
    SetUpStreams(context);

    if (StartCommand(context) == 0xFFFFFFFF) {
        ReportBootError(context);
        return 1;
    }

    C_StringMemory outPending;
    C_StringMemory errPending;
    C_Memory readBuffer;
    if (!context.settings.gui) {
        if (context.settings.flushMode != 2) RelayOutput(context, outPending, errPending, readBuffer);
        WaitForEnd(context);
    }

    CheckStop(context, false);
    WriteLeadingNewline(context);
    int code = context.process.GetExitCode(nullptr);
    WriteBytes(outPending.Get(), outPending.Length(), stdout);
    WriteBytes(errPending.Get(), errPending.Length(), stderr);
    if (context.settings.showResult) {
        WriteResultText(DatePrefix() + C_WString::Stringf(L"job %d: result %d\n",
                                                          static_cast<int>(GetCurrentProcessId()), code));
    }
    if (context.consoleAllocated) {
        if (context.settings.pause) {
            fflush(stdout);
            _getch();
        }
    } else if (!context.stdoutToFile) {
        PrintPrompt();
    }
    return code;
}

}  // namespace

TaskContext::TaskContext(TaskSettings& s, C_Process& p) : settings(s), process(p) {}

TaskContext::~TaskContext() {
    if (record) SetTaskState(record, TASK_STATE_DEAD);
}

BOOL WINAPI OnConsoleCtrl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        InterlockedExchange(&g_stopRequested, 1);
        break;
    default:
        break;
    }
    return TRUE;
}

StartupWindowFields GetStartupWindowFields() {
    StartupWindowFields fields = {nullptr, nullptr};
    // The process environment block, through ntdll's documented query.
    using QueryProcess = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
        return fields;
    PPEB peb = basic.PebBaseAddress;
    if (!peb || !peb->ProcessParameters) return fields;
    auto* params = reinterpret_cast<ProcessParametersLayout*>(peb->ProcessParameters);
    fields.windowFlags = &params->WindowFlags;
    fields.showWindowFlags = &params->ShowWindowFlags;
    return fields;
}

void PatchStartupWindowFields(const StartupWindowFields& fields) {
    if (!fields.windowFlags || !fields.showWindowFlags) return;
    *fields.windowFlags |= STARTF_USESHOWWINDOW;
    *fields.showWindowFlags = SW_SHOW;
}

BOOL AllocVisibleConsole() {
    PatchStartupWindowFields(GetStartupWindowFields());
    return AllocConsole();
}

void PrintPrompt() {
    char directory[1024];
    memset(directory, 0, sizeof directory);
    DWORD n = GetCurrentDirectoryA(sizeof directory, directory);
    if (n == 0 || n >= sizeof directory) return;
    WriteBytes(directory, n, stdout);
    WriteBytes(">", 1, stdout);
    fflush(stdout);
}

void WriteLeadingNewline(TaskContext& context) {
    if (context.consoleAllocated || context.newlineWritten) return;
    WriteBytes("\n", 1, stdout);
    context.newlineWritten = true;
}

void EmitPending(TaskContext& context, C_StringMemory& pending, FILE* stream) {
    const size_t length = pending.Length();
    if (length == 0) return;
    const char* bytes = pending.Get();
    size_t lineEnd = length;
    while (lineEnd > 0 && bytes[lineEnd - 1] != '\n') --lineEnd;
    if (lineEnd > 0) {
        WriteLeadingNewline(context);
        WriteBytes(bytes, lineEnd, stream);
        // Clear zero-fills the buffer: keep the rest aside first.
        std::string rest(bytes + lineEnd, length - lineEnd);
        pending.Clear();
        pending.Add(rest.data(), 0, static_cast<int>(rest.size()));
        return;
    }
    if (length > static_cast<size_t>(kReadSize)) {
        WriteLeadingNewline(context);
        WriteBytes(bytes, length, stream);
        pending.Clear();
    }
}

int RunTask(wchar_t** argv, int argc, unsigned long shellPid, TaskSettings& settings, C_Process& process) {
    TaskContext context(settings, process);
    context.startTick = timeGetTime();
    if (!ParseCommandLine(argv, argc, settings, 1)) {
        _putws(settings.errorMessage.GetString());
        return 1;
    }
    if (settings.daemon) context.record = context.registry.Claim(settings.taskLine);
    WaitOutDelay(context);

    try {
        return RunGuarded(context, shellPid);
    } catch (...) {
        return RunStopSequence(context);
    }
}

}  // namespace vrek
