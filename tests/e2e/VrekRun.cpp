#include "VrekRun.h"

#include <cwchar>
#include <regex>
#include <sstream>

namespace e2e {

std::wstring VrekPath() { return testsupport::ProgramDir() + L"\\vrek.exe"; }

testsupport::RunResult RunVrek(const std::wstring& args, const wchar_t* directory, unsigned long timeoutMs,
                               const std::wstring& program) {
    std::wstring line = L"\"" + testsupport::ProgramDir() + L"\\" + program + L"\"";
    if (!args.empty()) line += L" " + args;
    return testsupport::RunCapture(line, timeoutMs, directory);
}

std::vector<std::pair<bool, std::string>> MixedStreams(unsigned long seed, size_t bytes) {
    unsigned long state = seed * 2654435761u + 1;
    auto next = [&state](unsigned long bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % bound;
    };
    std::vector<std::pair<bool, std::string>> pieces;
    size_t total = 0;
    while (total < bytes) {
        const bool toError = next(4) == 0;
        std::string piece;
        const unsigned long lines = 1 + next(8);
        for (unsigned long i = 0; i < lines; ++i) {
            const unsigned long kind = next(10);
            const size_t length = kind < 6 ? next(80) : kind < 9 ? next(4000) : 10000 + next(30000);
            for (size_t k = 0; k < length; ++k) piece += static_cast<char>(next(7) == 0 ? '\0' : 'a' + next(26));
            piece += '\n';
        }
        if (next(3) == 0) piece.resize(piece.size() - 1 - next(static_cast<unsigned long>(piece.size() - 1) + 1) / 2);
        total += piece.size();
        pieces.emplace_back(toError, std::move(piece));
    }
    for (bool stream : {false, true}) pieces.emplace_back(stream, stream ? "error without end" : "output without end");
    return pieces;
}

std::wstring WindowReady::Command(DWORD lifetimeMs) const {
    return ChildTask(L"window", std::to_wstring(lifetimeMs) + L" " + name);
}

std::string PutwsBytes(const std::wstring& text) { return testsupport::ToCodePage(text, 932) + "\r\n"; }

std::string ResultLinePattern(unsigned long job, int result, const char* lineEnd) {
    return "\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\] job " + std::to_string(job) + ": result " +
           std::to_string(result) + lineEnd;
}

::testing::AssertionResult IsResultLine(const std::string& line, unsigned long job, int result, const char* lineEnd) {
    if (std::regex_match(line, std::regex(ResultLinePattern(job, result, lineEnd))))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not the result line of job " << job << " with " << result << ": \"" << line
                                         << "\"";
}

std::wstring ChildTask(const wchar_t* name, const std::wstring& args) {
    std::wstring line = testsupport::SelfPath() + L" --child=" + name;
    if (!args.empty()) line += L" " + args;
    return line;
}

std::wstring Hex(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    for (unsigned char c : bytes) hex += std::wstring{digits[c >> 4], digits[c & 15]};
    return hex;
}

std::wstring FamilyTask(const std::wstring& pidFile, int helpers, bool end) {
    return ChildTask(L"family", pidFile + L" " + std::to_wstring(helpers) + (end ? L" end" : L""));
}

Family::Family(const std::wstring& pidFile, DWORD timeoutMs) {
    if (!testsupport::WaitUntil([&] { return testsupport::FileExists(pidFile); }, timeoutMs)) return;
    std::istringstream pids(testsupport::ReadFileBytes(pidFile));
    for (unsigned long pid; pids >> pid;)
        m_processes.push_back(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
}

Family::~Family() {
    Kill();
    for (HANDLE process : m_processes)
        if (process) CloseHandle(process);
}

bool Family::AllEnd(DWORD timeoutMs) {
    for (HANDLE process : m_processes)
        if (process && WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
    return true;
}

void Family::Kill() {
    for (HANDLE process : m_processes) {
        if (!process || WaitForSingleObject(process, 0) != WAIT_TIMEOUT) continue;
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 10000);
    }
}

DWORD Job::Wait(DWORD timeoutMs) {
    if (!task) return 0xFFFFFFFF;
    if (WaitForSingleObject(task.Get(), timeoutMs) != WAIT_OBJECT_0) return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(task.Get(), &code);
    return code;
}

bool Job::Running() const { return task && WaitForSingleObject(task.Get(), 0) == WAIT_TIMEOUT; }

void Job::Kill() {
    if (Running()) {
        TerminateProcess(task.Get(), 99);
        WaitForSingleObject(task.Get(), 5000);
    }
}

namespace {

void OpenTask(Job& job) {
    unsigned long pid = 0;
    if (sscanf(job.launcherOut.c_str(), "job: %lu started", &pid) != 1) return;
    job.pid = pid;
    job.task.Reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
}

}  // namespace

std::unique_ptr<Job> StartJob(const std::wstring& args, const wchar_t* directory, const std::wstring& program) {
    auto job = std::make_unique<Job>();
    testsupport::RunResult run = RunVrek(args, directory, 30000, program);
    job->launcherExit = run.exitCode;
    job->launcherOut = run.out;
    OpenTask(*job);
    return job;
}

std::unique_ptr<Job> StartJobWithOutputFile(const std::wstring& args, const std::wstring& outputFile,
                                            const wchar_t* directory, bool viaCmd) {
    auto job = std::make_unique<Job>();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    kovra::common::UniqueFileHandle out(CreateFileW(outputFile.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    kovra::common::UniqueFileHandle in(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    std::wstring line = L"\"" + VrekPath() + L"\" " + args;
    if (viaCmd) line = L"cmd /d /s /c \"" + line + L"\"";
    kovra::common::UniqueHandle launcher;
    if (out && in)
        launcher = testsupport::StartWithHandles(line, in.Get(), out.Get(), out.Get(),
                                                 viaCmd ? CREATE_NO_WINDOW : DETACHED_PROCESS, directory);
    if (launcher) {
        if (WaitForSingleObject(launcher.Get(), 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(launcher.Get(), &job->launcherExit);
    }
    out.Reset();
    job->launcherOut = testsupport::ReadFileBytes(outputFile);
    OpenTask(*job);
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
