#include "tool/TaskConsole.h"

#include <algorithm>
#include <vector>

#include "kovra/common/UniqueHandle.h"
#include "tool/PromptText.h"
#include "tool/ProcessParameters.h"
#include "tool/ProcessQueries.h"

namespace vrek {

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
    const QueryProcessFunction query = GetQueryProcess();
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

bool AttachPromptConsole(TaskContext& context) {
    if (context.attached) return true;
    for (const auto* list : {&context.prompts, &context.others}) {
        for (const ProcessRef& process : *list) {
            // Held until attached: meanwhile the id cannot pass to a
            // stranger, whose console would then get the job's output.
            const kovra::common::UniqueHandle same = OpenSameProcess(process, 0);
            if (!same) continue;
            if (AttachConsole(process.pid)) {
                context.attached = true;
                // From now on Ctrl+C, Ctrl+Break or the window's close at
                // this console are the task's stop requests, even when it
                // came only to report: otherwise they would end the task at
                // once and leave its command running.
                SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
                return true;
            }
            // Attached already (to this console or one of its own).
            if (GetLastError() == ERROR_ACCESS_DENIED) return true;
        }
    }
    return false;
}

void SetUpConsole(TaskContext& context) {
    int needsNewConsole = 0;
    int fallsBackToConsole = 0;
    int needsParent = GetConsoleNeeds(context.settings, needsNewConsole, fallsBackToConsole);
    if (needsParent) {
        if (AttachPromptConsole(context)) {
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

bool WriteToPromptConsole(TaskContext& context, const kovra::C_WString& text, bool lineEnd) {
    if (!context.consoleAllocated && !AttachPromptConsole(context)) return false;
    kovra::common::UniqueFileHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                        nullptr));
    if (!console) return false;
    const kovra::C_WString all = lineEnd ? text + L"\r\n" : text;
    DWORD written = 0;
    return WriteConsoleW(console.Get(), all.GetString(), static_cast<DWORD>(all.Length()), &written, nullptr) != 0;
}

void AnnounceEnd(TaskContext& context, const kovra::C_WString& lines) {
    if (!context.settings.showResult) return;
    // The job's own console goes with it; the prompt's is the one the user
    // watches.
    if (context.consoleAllocated) {
        FreeConsole();
        context.consoleAllocated = false;
    }
    if (!AttachPromptConsole(context)) return;
    WriteToPromptConsole(context, kovra::C_WString(L"\r\n") + lines + PromptFor(PromptFolder(context).GetString()).c_str(),
                         false);
}

kovra::C_WString PromptFolder(const TaskContext& context) {
    // The nearest prompt still on the console is the one whose prompt the
    // user sees: a nested prompt that has ended hands the console back.
    const std::vector<DWORD> onConsole = ConsoleProcessIds();
    for (const ProcessRef& prompt : context.prompts) {
        if (std::find(onConsole.begin(), onConsole.end(), prompt.pid) == onConsole.end()) continue;
        const std::wstring folder = ReadProcessCurrentDirectory(prompt);
        if (!folder.empty()) return kovra::C_WString(folder.c_str());
    }
    return context.startFolder;  // empty: the task's own, the launcher's
}

}  // namespace vrek
