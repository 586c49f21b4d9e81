#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstddef>

namespace vrek {

// RTL_USER_PROCESS_PARAMETERS as the system lays it out (the SDK's header
// declares only its first fields): the start-up parameters of a process,
// which the task patches in itself and reads in the prompt's process.
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
    UNICODE_STRING CurrentDirectoryPath;  // what SetCurrentDirectoryW keeps up to date
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
static_assert(offsetof(ProcessParametersLayout, CurrentDirectoryPath) == 0x38, "x64 process parameters layout");
static_assert(offsetof(ProcessParametersLayout, ImagePathName) == 0x60, "x64 process parameters layout");
static_assert(offsetof(ProcessParametersLayout, WindowFlags) == 0xA4, "x64 process parameters layout");
static_assert(offsetof(ProcessParametersLayout, ShowWindowFlags) == 0xA8, "x64 process parameters layout");
#endif

// NtQueryInformationProcess, found in ntdll at run time; null where absent.
using QueryProcessFunction = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
QueryProcessFunction GetQueryProcess();

}  // namespace vrek
