#include "VrekRun.h"

#include <cwchar>

namespace e2e {

std::wstring VrekPath() { return testsupport::ProgramDir() + L"\\vrek.exe"; }

testsupport::RunResult RunVrek(const std::wstring& args, const wchar_t* directory, unsigned long timeoutMs,
                               const std::wstring& program) {
    std::wstring line = L"\"" + testsupport::ProgramDir() + L"\\" + program + L"\"";
    if (!args.empty()) line += L" " + args;
    return testsupport::RunCapture(line, timeoutMs, directory);
}

std::string PutwsBytes(const std::wstring& text) { return testsupport::ToCodePage(text, 932) + "\r\n"; }

std::wstring ChildTask(const wchar_t* name, const std::wstring& args) {
    std::wstring line = testsupport::SelfPath() + L" --child=" + name;
    if (!args.empty()) line += L" " + args;
    return line;
}

Job::~Job() {
    if (task) CloseHandle(task);
}

DWORD Job::Wait(DWORD timeoutMs) {
    if (!task) return 0xFFFFFFFF;
    if (WaitForSingleObject(task, timeoutMs) != WAIT_OBJECT_0) return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(task, &code);
    return code;
}

bool Job::Running() const { return task && WaitForSingleObject(task, 0) == WAIT_TIMEOUT; }

void Job::Kill() {
    if (Running()) {
        TerminateProcess(task, 99);
        WaitForSingleObject(task, 5000);
    }
}

std::unique_ptr<Job> StartJob(const std::wstring& args, const wchar_t* directory, const std::wstring& program) {
    auto job = std::make_unique<Job>();
    testsupport::RunResult run = RunVrek(args, directory, 30000, program);
    job->launcherExit = run.exitCode;
    job->launcherOut = run.out;
    unsigned long pid = 0;
    if (sscanf(run.out.c_str(), "job: %lu started", &pid) == 1) {
        job->pid = pid;
        job->task = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    }
    return job;
}

TableView::TableView() {
    source_.Open(2);
    table_ = static_cast<vrek::TaskStateTable*>(
        mapping_.Map(&source_, vrek::REGISTRY_BLOCK_NAME, 1, PAGE_READWRITE, 0, vrek::REGISTRY_BLOCK_SIZE));
}

vrek::TaskState* TableView::RecordOf(unsigned long pid) {
    if (!table_) return nullptr;
    for (auto& record : table_->records)
        if (vrek::GetTaskState(&record) != vrek::TASK_STATE_DEAD && vrek::GetTaskPid(&record) == pid) return &record;
    return nullptr;
}

int TableView::LiveCount() {
    int live = 0;
    if (table_)
        for (auto& record : table_->records)
            if (vrek::GetTaskState(&record) != vrek::TASK_STATE_DEAD) ++live;
    return live;
}

void DaemonTableTest::SetUp() {
    ASSERT_NE(nullptr, view.Table());
    ASSERT_EQ(0, view.LiveCount()) << "a daemon from elsewhere is registered";
}

void DaemonTableTest::TearDown() {
    for (auto& job : jobs) {
        if (!job->Running()) continue;
        if (vrek::TaskState* record = view.RecordOf(job->pid)) vrek::SetTaskSignal(record, vrek::TASK_SIGNAL_KILL);
        job->Wait(15000);
        job->Kill();
    }
    if (view.Table())
        for (auto& record : view.Table()->records) vrek::SetTaskState(&record, vrek::TASK_STATE_DEAD);
}

Job& DaemonTableTest::Start(const std::wstring& args, const std::wstring& program) {
    jobs.push_back(StartJob(args, nullptr, program));
    return *jobs.back();
}

bool DaemonTableTest::WaitForState(unsigned long pid, unsigned char state, DWORD timeoutMs) {
    return testsupport::WaitUntil(
        [&] {
            vrek::TaskState* record = view.RecordOf(pid);
            return record && vrek::GetTaskState(record) == state;
        },
        timeoutMs);
}

}  // namespace e2e
