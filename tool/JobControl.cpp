#include "tool/JobControl.h"

#include <tlhelp32.h>

#include <stdio.h>

#include <algorithm>

#include "kovra/C_WString.h"
#include "tool/CommandBuilder.h"
#include "tool/DaemonRegistry.h"
#include "tool/TaskArgument.h"
#include "tool/TaskContext.h"
#include "tool/TaskSettings.h"

using kovra::C_WString;
using kovra::common::UniqueHandle;

namespace vrek {

namespace {

const wchar_t kNoJob[] = L"%ls はジョブではありません。\n";

// A job number as typed: decimal digits and nothing else, above 0.
bool ParseJobNumber(const wchar_t* text, unsigned long* pid) {
    unsigned long long value = 0;
    if (!*text) return false;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        value = value * 10 + static_cast<unsigned>(*p - L'0');
        if (value > 0xFFFFFFFFull) return false;
    }
    *pid = static_cast<unsigned long>(value);
    return value > 0;
}

// The registered daemon's record, or null.
TaskState* RecordOf(DaemonRegistry& registry, unsigned long pid) { return FindLiveTask(registry.Snapshot(), pid); }

bool EventIsSet(const ProcessRef& task, const wchar_t* which) {
    UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, JobEventName(task, which).c_str()));
    return event && WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

const wchar_t* StateOf(const JobInfo& job, DaemonRegistry& registry) {
    if (job.daemon) {
        if (TaskState* record = RecordOf(registry, job.task.pid)) {
            const unsigned char state = GetTaskState(record);
            if (GetTaskSignal(record) != TASK_SIGNAL_NONE || state >= TASK_STATE_SIGNAL) return L"stopping";
            return state == TASK_STATE_SLEEP ? L"waiting" : L"running";
        }
    }
    if (EventIsSet(job.task, L"stop")) return L"stopping";
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long at = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return at < job.task.created + static_cast<unsigned long long>(job.delaySeconds * 1e7) ? L"waiting" : L"running";
}

void PrintJob(const JobInfo& job, DaemonRegistry& registry) {
    const unsigned long long created = job.task.created;
    FILETIME utc = {static_cast<DWORD>(created), static_cast<DWORD>(created >> 32)};
    SYSTEMTIME system = {};
    SYSTEMTIME local = {};
    FileTimeToSystemTime(&utc, &system);
    SystemTimeToTzSpecificLocalTime(nullptr, &system, &local);
    std::wstring command = job.command;
    if (command.size() > static_cast<size_t>(TASK_COMMAND_KEPT)) command = command.substr(0, TASK_COMMAND_KEPT) + L"...";
    wprintf(L"%10lu  %04d/%02d/%02d %02d:%02d:%02d  %-8ls  %lc  \"%ls\"  %ls\n", job.task.pid, local.wYear,
            local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, StateOf(job, registry),
            job.daemon ? L'D' : L'-', job.folder.c_str(), command.c_str());
}

// Every job this user can see, in process order.
std::vector<JobInfo> RunningJobs() {
    std::vector<JobInfo> jobs;
    kovra::common::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return jobs;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId() || !IsThisProgramsName(entry.szExeFile)) continue;
        JobInfo job;
        if (OpenJob(entry.th32ProcessID, &job)) jobs.push_back(std::move(job));
    }
    return jobs;
}

// The prompt this program was typed at: its parent.
ProcessRef ThisPrompt() {
    const std::vector<ProcessRef> ancestors = GetAncestors(GetCurrentProcessId(), 1);
    return ancestors.empty() ? ProcessRef() : ancestors.front();
}

bool IsJobOf(const JobInfo& job, const ProcessRef& prompt) {
    return prompt.created != 0 && std::find(job.prompts.begin(), job.prompts.end(), prompt) != job.prompts.end();
}

// The jobs named by numbers, every one checked before any is used; false
// (each complaint said) when one is no job.
bool OpenNamedJobs(int count, wchar_t** numbers, std::vector<JobInfo>* jobs) {
    bool all = true;
    for (int i = 0; i < count; ++i) {
        unsigned long pid = 0;
        JobInfo job;
        if (ParseJobNumber(numbers[i], &pid) && OpenJob(pid, &job)) {
            jobs->push_back(std::move(job));
            continue;
        }
        fwprintf(stderr, kNoJob, numbers[i]);
        all = false;
    }
    return all;
}

int ListJobs(int count, wchar_t** args) {
    const bool all = count == 1 && wcscmp(args[0], L"all") == 0;
    if (count > 0 && !all) {
        fwprintf(stderr, L"--jobs の値が不正です。\n");
        return 1;
    }
    const ProcessRef prompt = ThisPrompt();
    DaemonRegistry registry;
    for (const JobInfo& job : RunningJobs())
        if (all || IsJobOf(job, prompt)) PrintJob(job, registry);
    return 0;
}

int WaitForJobs(int count, wchar_t** numbers) {
    if (count == 0) {
        fwprintf(stderr, L"--wait オプションに引数が必要です。\n");
        return 1;
    }
    std::vector<JobInfo> jobs;
    if (!OpenNamedJobs(count, numbers, &jobs)) return 1;
    for (const JobInfo& job : jobs) WaitForSingleObject(job.process.Get(), INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(jobs.back().process.Get(), &status);
    return static_cast<int>(status);
}

// Delivers one stop request: through the record of a registered daemon, as
// the manager does, else through the task's own events (the kill event
// before the stop event, so that the woken task sees both).
bool SendStop(const JobInfo& job, bool kill, DaemonRegistry& registry) {
    if (job.daemon) {
        if (TaskState* record = RecordOf(registry, job.task.pid)) {
            SetTaskSignal(record, kill ? TASK_SIGNAL_KILL : TASK_SIGNAL_TERM);
            registry.Sync();
            return true;
        }
    }
    for (const wchar_t* which : {kill ? L"kill" : nullptr, L"stop"}) {
        if (!which) continue;
        UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, JobEventName(job.task, which).c_str()));
        if (!event || !SetEvent(event.Get())) return false;
    }
    return true;
}

int StopJobs(bool kill, int count, wchar_t** args) {
    const wchar_t* option = kill ? L"--sigkill" : L"--sigterm";
    if (count == 0) {
        fwprintf(stderr, L"%ls オプションに引数が必要です。\n", option);
        return 1;
    }
    std::vector<JobInfo> jobs;
    if (count == 1 && wcscmp(args[0], L"all") == 0) {
        const ProcessRef prompt = ThisPrompt();
        for (JobInfo& job : RunningJobs())
            if (IsJobOf(job, prompt)) jobs.push_back(std::move(job));
    } else if (!OpenNamedJobs(count, args, &jobs)) {
        return 1;
    }
    DaemonRegistry registry;
    int status = 0;
    for (const JobInfo& job : jobs) {
        if (SendStop(job, kill, registry)) continue;
        fwprintf(stderr, L"ジョブ %lu に停止を要求できませんでした。\n", job.task.pid);
        status = 1;
    }
    return status;
}

}  // namespace

JobControlMode GetJobControlMode(int argc, wchar_t** argv) {
    if (argc < 2 || !argv[1]) return JOBS_NONE;
    const struct {
        const wchar_t* word;
        JobControlMode mode;
    } modes[] = {{L"--jobs", JOBS_LIST}, {L"--wait", JOBS_WAIT}, {L"--sigterm", JOBS_TERM}, {L"--sigkill", JOBS_KILL}};
    for (const auto& m : modes)
        if (wcscmp(argv[1], m.word) == 0) return m.mode;
    return JOBS_NONE;
}

int RunJobControl(JobControlMode mode, int argc, wchar_t** argv) {
    const int count = argc - 2;
    wchar_t** args = argv + 2;
    switch (mode) {
    case JOBS_LIST:
        return ListJobs(count, args);
    case JOBS_WAIT:
        return WaitForJobs(count, args);
    case JOBS_TERM:
    case JOBS_KILL:
        return StopJobs(mode == JOBS_KILL, count, args);
    default:
        return 1;
    }
}

bool OpenJob(unsigned long pid, JobInfo* job) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid));
    if (!process || WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT) return false;
    // The image first: nothing is read from a program that is not vrek.
    wchar_t image[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process.Get(), 0, image, &size) || !IsThisProgramsName(image))
        return false;
    std::vector<std::wstring> elements = SplitCommandLine(ReadProcessCommandLine(process.Get()).c_str());
    std::vector<wchar_t*> argv;
    for (std::wstring& element : elements) argv.push_back(&element[0]);
    const int argc = static_cast<int>(argv.size());
    TaskSettings settings;
    if (ParseTaskPid(argv.data(), argc) <= 0 || !ParseCommandLine(argv.data(), argc, settings, 1)) return false;
    const TaskArgument argument = ParseTaskArgument(argv.back());
    // Held, the id names this process throughout.
    job->task = CurrentProcessRef(pid);
    job->process = std::move(process);
    job->prompts = argument.prompts;
    job->daemon = settings.daemon != 0;
    job->delaySeconds = settings.delaySeconds;
    job->command = settings.taskLine.GetString();
    job->folder = ReadProcessCurrentDirectory(job->task);
    return job->task.created != 0;
}

}  // namespace vrek
