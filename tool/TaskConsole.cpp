#include "tool/TaskConsole.h"

#include "kovra/common/UniqueHandle.h"
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
    for (const auto* list : {&context.prompts, &context.others}) {
        for (unsigned long pid : *list) {
            if (AttachConsole(pid)) {
                if (list == &context.prompts) context.promptPid = pid;
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

bool WriteToPromptConsole(TaskContext& context, const kovra::C_WString& line) {
    if (!context.consoleAllocated && !AttachPromptConsole(context)) return false;
    kovra::common::UniqueFileHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                        nullptr));
    if (!console) return false;
    const kovra::C_WString text = line + L"\r\n";
    DWORD written = 0;
    return WriteConsoleW(console.Get(), text.GetString(), static_cast<DWORD>(text.Length()), &written, nullptr) != 0;
}

kovra::C_WString PromptFolder(const TaskContext& context) {
    if (context.promptPid != 0) {
        const std::wstring folder = ReadProcessCurrentDirectory(context.promptPid);
        if (!folder.empty()) return kovra::C_WString(folder.c_str());
    }
    return context.startFolder;  // empty: the task's own, the launcher's
}

}  // namespace vrek
