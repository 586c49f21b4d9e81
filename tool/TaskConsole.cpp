#include "tool/TaskConsole.h"

#include <winternl.h>

#include <cstddef>

namespace vrek {

namespace {

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

}  // namespace

BOOL WINAPI OnConsoleCtrl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        InterlockedExchange(&g_stopRequested, 1);
        if (g_stopEvent) SetEvent(g_stopEvent);
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

}  // namespace vrek
