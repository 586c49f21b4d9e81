// Whole jobs through the real vrek.exe, each figure a ratio or a share
// measured side by side in one run. With VREK_BENCH_BASELINE naming another
// vrek executable in the build folder (an earlier build), or several
// separated by ';', every figure is taken for them too, in the same rounds.
//
// 1. Relay throughput, end to end with every launch included: `vrek --out f
//    --task <writer>` (64 MiB of 64-byte lines in 64 KiB writes) from the
//    launcher's start to the task's end, against a minimal copier (a
//    program that starts the writer on a pipe and copies it to the file
//    with blocking 64 KiB ReadFile then WriteFile, nothing else) and
//    against the command writing its file itself (`vrek --flush2 --out f`,
//    the same launches, the file handed to the writer); the writer alone on
//    its own file is shown too. Every file is checked whole.
// 2. Idle cost: CPU of a task whose command sleeps, over 10 s, in relay,
//    --flush, --daemon and pass-through (--flush2) modes, after the
//    command ended while a grandchild holds its pipes, and while the task
//    waits out a --delay of ten minutes (a delayed daemon); the task's own
//    (GetProcessTimes) and, under Wine when scripts/bench names it in
//    VREK_WINESERVER_PID, the wineserver's share.
// 3. Peak working set of a task relaying 512 MiB without --flush, above
//    that of an idle task.
// 4. Launch: `vrek --nul --nologo --task <no-op>` until the launcher returns
//    (the user's prompt is back), against starting the no-op and waiting
//    for its end.
//
// Usage: bench_job.exe [rounds] [MiB]
//        bench_job.exe --child write <MiB> [file] | copy <MiB> <file> |
//                      sleep <ms> | orphan <ms> | noop      (the commands)

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace {

const unsigned long kChunk = 65536;
const DWORD kIdleWindowMs = 10000;
const DWORD kSettleMs = 1500;
const int kIdleTasks = 10;  // idle tasks measured at once

HANDLE OpenNul() {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}

// Starts a command line hidden; standard input on nul, output on `output`,
// error on `error` (both nul when null, error as output when only output is
// given). The process handle, or null.
HANDLE Start(const std::wstring& commandLine, const std::wstring& directory, HANDLE output = nullptr,
             HANDLE error = nullptr) {
    HANDLE nul = OpenNul();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nul;
    startup.hStdOutput = output ? output : nul;
    startup.hStdError = error ? error : startup.hStdOutput;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, directory.c_str(),
                             &startup, &info);
    CloseHandle(nul);
    if (!ok) return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

// Runs to the end; seconds, or -1.
double RunTimed(const std::wstring& commandLine, const std::wstring& directory) {
    double start = bench::Now();
    HANDLE process = Start(commandLine, directory);
    if (!process) return -1;
    WaitForSingleObject(process, INFINITE);
    double end = bench::Now();
    CloseHandle(process);
    return end - start;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// A job whose task the bench watches: the launcher's output goes to a file,
// from which the job number is read, and the task is opened.
HANDLE LaunchTask(const std::wstring& vrek, const std::wstring& vrekArgs, const std::wstring& directory) {
    const std::wstring said = directory + L"\\launcher.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileW(said.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE launcher = Start(Quoted(vrek) + L" " + vrekArgs, directory, file);
    if (launcher) {
        WaitForSingleObject(launcher, INFINITE);
        CloseHandle(launcher);
    }
    char text[64] = {};
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    unsigned long pid = 0;
    if (sscanf(text, "job: %lu started", &pid) != 1) return nullptr;
    return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
}

// Whether `path` holds the writer's `bytes` bytes, followed by a job's
// result line with status 0 when `resultLine`: a variant that lost or added
// bytes is no figure.
bool HoldsOutput(const std::wstring& path, unsigned long long bytes, bool resultLine) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool holds = false;
    if (GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) >= bytes) {
        char tail[64] = {};
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(bytes);
        DWORD got = 0;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, tail, sizeof tail, &got, nullptr)) {
            std::string line(tail, got);
            // Written through a text-mode stream when passed through.
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.erase(line.size() - 2, 1);
            const std::string end = ": result 0\n";
            holds = resultLine ? line.size() > end.size() && line[0] == '[' && line.find('\n') == line.size() - 1 &&
                                     line.compare(line.size() - end.size(), end.size(), end) == 0
                               : line.empty();
        }
    }
    CloseHandle(file);
    return holds;
}

// A job into out.txt: seconds from starting the launcher until its task
// has ended (the result line written and the task gone), as a copier or the
// command itself is timed to its end; -1 when the file is not whole.
double RunJob(const std::wstring& vrek, const std::wstring& vrekArgs, const std::wstring& directory,
              unsigned long long bytes) {
    const std::wstring out = directory + L"\\out.txt";
    DeleteFileW(out.c_str());
    const double start = bench::Now();
    HANDLE task = LaunchTask(vrek, vrekArgs, directory);
    if (!task) return -1;
    WaitForSingleObject(task, INFINITE);
    const double end = bench::Now();
    CloseHandle(task);
    const bool whole = HoldsOutput(out, bytes, true);
    DeleteFileW(out.c_str());
    return whole ? end - start : -1;
}

// A program that writes `file` itself, timed to its end; -1 when the file
// is not whole.
double RunWriter(const std::wstring& commandLine, const std::wstring& file, const std::wstring& directory,
                 unsigned long long bytes) {
    DeleteFileW(file.c_str());
    const double seconds = RunTimed(commandLine, directory);
    const bool whole = HoldsOutput(file, bytes, false);
    DeleteFileW(file.c_str());
    return whole ? seconds : -1;
}

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double UnixCpuSeconds(unsigned long pid);

// The CPU time of the wineserver that scripts/bench names, read from the
// Unix side (drive Z: is the Unix root); -1 when not under Wine or unnamed.
double WineserverSeconds() {
    const wchar_t* pid = _wgetenv(L"VREK_WINESERVER_PID");
    if (!pid || !*pid) return -1;
    return UnixCpuSeconds(wcstoul(pid, nullptr, 10));
}

// Reads a small file of the Unix side (drive Z: is the Unix root) whole.
std::string ReadUnixFile(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// Under Wine GetProcessTimes of another process misses most of its time, so
// a task is found on the Unix side by a text of its command line, and its
// CPU time read there: the Unix process id, or 0 (not under Wine).
unsigned long UnixPidOf(const std::string& marker) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    unsigned long found = 0;
    do {
        const unsigned long pid = wcstoul(entry.cFileName, nullptr, 10);
        if (pid == 0) continue;
        const std::string line = ReadUnixFile(L"Z:\\proc\\" + std::wstring(entry.cFileName) + L"\\cmdline");
        if (line.find(marker) != std::string::npos && line.find("--pid-task--") != std::string::npos) found = pid;
    } while (!found && FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

// CPU seconds of a Unix process (all its threads), or -1.
double UnixCpuSeconds(unsigned long pid) {
    const std::string text = ReadUnixFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\schedstat");
    return text.empty() ? -1 : static_cast<double>(_strtoui64(text.c_str(), nullptr, 10)) / 1e9;
}

struct IdleCost {
    double task = -1;    // percent of one core, per task
    double server = -1;  // percent of one core, per task; -1 when unknown
    double workingSetMiB = 0;
};

// The wineserver's CPU share with no job at all (it also serves Wine's own
// services), over half a window.
double WineserverBackground() {
    const double server0 = WineserverSeconds();
    if (server0 < 0) return -1;
    const double start = bench::Now();
    Sleep(kIdleWindowMs / 2);
    return (WineserverSeconds() - server0) / (bench::Now() - start) * 100;
}

// CPU of `count` tasks over the idle window, their commands asleep (or,
// for the grandchild case, ended with a sleeping grandchild on their pipes),
// per task: several at once lift their share of the wineserver above its
// background, which is measured just before and taken off.
IdleCost MeasureIdle(const std::wstring& vrek, const std::wstring& mode, const std::wstring& command,
                     const std::wstring& directory, int count, DWORD windowMs = kIdleWindowMs, bool end = false) {
    IdleCost cost;
    const double background = windowMs > 0 ? WineserverBackground() : -1;
    std::vector<HANDLE> tasks;
    std::vector<unsigned long> unixPids;
    for (int i = 0; i < count; ++i) {
        const std::wstring out = L"idle" + std::to_wstring(i) + L".txt";
        if (HANDLE task = LaunchTask(vrek, mode + L" --out " + out + L" --task " + command, directory)) {
            tasks.push_back(task);
            unixPids.push_back(UnixPidOf(std::string(out.begin(), out.end())));
        }
    }
    if (tasks.size() != static_cast<size_t>(count)) return cost;
    auto taskSeconds = [&] {
        double total = 0;
        for (size_t i = 0; i < tasks.size(); ++i)
            total += unixPids[i] ? UnixCpuSeconds(unixPids[i]) : CpuSeconds(tasks[i]);
        return total;
    };
    Sleep(kSettleMs);
    const double task0 = taskSeconds();
    const double server0 = WineserverSeconds();
    const double start = bench::Now();
    Sleep(windowMs);
    const double elapsed = bench::Now() - start;
    const double server1 = WineserverSeconds();
    const double task1 = taskSeconds();
    cost.task = elapsed > 0 ? (task1 - task0) / elapsed * 100 / count : 0;
    if (server0 >= 0 && server1 >= 0 && background >= 0 && elapsed > 0) {
        const double share = (server1 - server0) / elapsed * 100 - background;
        cost.server = (share > 0 ? share : 0) / count;
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(tasks[0], &memory, sizeof memory))
        cost.workingSetMiB = static_cast<double>(memory.PeakWorkingSetSize) / (1 << 20);
    for (HANDLE task : tasks) {
        if (end) TerminateProcess(task, 99);  // still in its delay
        WaitForSingleObject(task, 60000);
        CloseHandle(task);
    }
    for (int i = 0; i < count; ++i) DeleteFileW((directory + L"\\idle" + std::to_wstring(i) + L".txt").c_str());
    return cost;
}

// The task's peak working set while it relays `mib` MiB to a file.
double PeakWorkingSetMiB(const std::wstring& vrek, const std::wstring& writer, const std::wstring& directory) {
    HANDLE task = LaunchTask(vrek, L"--nul --nologo --out big.txt --task " + writer, directory);
    if (!task) return -1;
    SIZE_T peak = 0;
    do {
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(task, &memory, sizeof memory) && memory.PeakWorkingSetSize > peak)
            peak = memory.PeakWorkingSetSize;
    } while (WaitForSingleObject(task, 50) == WAIT_TIMEOUT);
    CloseHandle(task);
    DeleteFileW((directory + L"\\big.txt").c_str());
    return static_cast<double>(peak) / (1 << 20);
}

std::wstring TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"vrek-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// The commands the jobs run.
int ChildMain(int argc, wchar_t** argv) {
    const std::wstring what = argc >= 3 ? argv[2] : L"";
    const unsigned long number = argc >= 4 ? wcstoul(argv[3], nullptr, 10) : 0;
    if (what == L"noop") return 0;
    if (what == L"sleep") {
        Sleep(number);
        return 0;
    }
    if (what == L"orphan") {
        // A grandchild holds both pipes and sleeps on after this ends, as
        // one that `cmd /c start /b` starts would.
        HANDLE grandchild = Start(Quoted(bench::SelfPath()) + L" --child sleep " + std::to_wstring(number), L".",
                                  GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE));
        if (!grandchild) return 4;
        CloseHandle(grandchild);
        return 0;
    }
    if (what == L"copy" && argc >= 5) {
        // The minimal relay: the writer on a pipe, copied in 64 KiB blocks.
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 3;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        HANDLE writer = Start(Quoted(bench::SelfPath()) + L" --child write " + std::to_wstring(number), L".", writeEnd);
        CloseHandle(writeEnd);
        HANDLE file = CreateFileW(argv[4], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        std::vector<char> block(kChunk);
        DWORD got = 0;
        DWORD put = 0;
        while (ReadFile(readEnd, block.data(), kChunk, &got, nullptr) && got > 0)
            WriteFile(file, block.data(), got, &put, nullptr);
        CloseHandle(file);
        CloseHandle(readEnd);
        if (writer) {
            WaitForSingleObject(writer, INFINITE);
            CloseHandle(writer);
        }
        return writer ? 0 : 3;
    }
    if (what != L"write") return 2;
    if (argc < 5) return bench::WriteMiB(GetStdHandle(STD_OUTPUT_HANDLE), number, kChunk);
    HANDLE file = CreateFileW(argv[4], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    int result = bench::WriteMiB(file, number, kChunk);
    CloseHandle(file);
    return result;
}

struct Build {
    std::wstring label;
    std::wstring vrek;
};

const wchar_t* Verdict(bool met) { return met ? L"met" : L"NOT MET"; }

// What every section shares, and what they found.
struct Run {
    std::wstring dir;
    std::wstring self;
    std::vector<Build> builds;
    int rounds = 7;
    unsigned long mib = 64;
    bool complete = true;
    bool met = true;

    void Check(bool ran, bool metTarget, size_t build) {
        complete = complete && ran;
        if (build == 0) met = met && metTarget;
    }
};

// The median of the rounds' ratios a / b: each round's pair ran under the
// same load. 0 when a round failed.
double MedianRatio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] <= 0 || b[i] <= 0) return 0;
        ratios.push_back(a[i] / b[i]);
    }
    return bench::Median(ratios);
}

void ThroughputSection(Run& run) {
    wprintf(
        L"relay throughput: %lu MiB into a file, end to end (launches included); medians of %d rounds in "
        L"alternating order, a ratio the median of the rounds' ratios\n",
        run.mib, run.rounds);
    fflush(stdout);
    const unsigned long long bytes = static_cast<unsigned long long>(run.mib) << 20;
    const std::wstring writer = run.self + L" --child write " + std::to_wstring(run.mib);
    const std::wstring copyFile = run.dir + L"\\copy.txt";
    const std::wstring selfFile = run.dir + L"\\self.txt";
    const std::wstring copier = run.self + L" --child copy " + std::to_wstring(run.mib) + L" " + Quoted(copyFile);
    // Each variant in every round; a round runs them in the opposite order
    // of the one before, so that a drifting load hits all alike.
    struct Variant {
        std::function<double()> time;
        std::vector<double> seconds;
    };
    std::vector<Variant> variants;
    variants.push_back({[&] { return RunWriter(copier, copyFile, run.dir, bytes); }, {}});
    variants.push_back({[&] { return RunWriter(writer + L" " + Quoted(selfFile), selfFile, run.dir, bytes); }, {}});
    for (const Build& build : run.builds) {
        variants.push_back(
            {[&] { return RunJob(build.vrek, L"--nul --out out.txt --task " + writer, run.dir, bytes); }, {}});
        variants.push_back(
            {[&] { return RunJob(build.vrek, L"--nul --flush2 --out out.txt --task " + writer, run.dir, bytes); }, {}});
    }
    for (Variant& variant : variants) variant.time();  // warm-up: Wine maps the programs, the disk cache fills
    for (int round = 0; round < run.rounds; ++round)
        for (size_t v = 0; v < variants.size(); ++v) {
            Variant& variant = variants[round % 2 ? variants.size() - 1 - v : v];
            variant.seconds.push_back(variant.time());
        }
    const std::vector<double>& copies = variants[0].seconds;
    const std::vector<double>& alone = variants[1].seconds;
    wprintf(L"  minimal copier (64 KiB ReadFile, then WriteFile)  %7.3f s\n", bench::Median(copies));
    wprintf(L"  the writer alone on its own file (no vrek)         %7.3f s\n", bench::Median(alone));
    for (size_t i = 0; i < run.builds.size(); ++i) {
        const std::vector<double>& jobs = variants[2 + 2 * i].seconds;
        const std::vector<double>& itself = variants[3 + 2 * i].seconds;
        const double toCopier = MedianRatio(jobs, copies);
        const double toItself = MedianRatio(jobs, itself);
        wprintf(L"  %-7ls job --out %.3f s; --flush2, the command writing its file itself, %.3f s\n",
                run.builds[i].label.c_str(), bench::Median(jobs), bench::Median(itself));
        wprintf(L"  %-7ls job/copier %.2f (target <= 1.10: %ls), job/itself %.2f (target <= 2.00: %ls)\n",
                run.builds[i].label.c_str(), toCopier, Verdict(toCopier <= 1.1), toItself, Verdict(toItself <= 2.0));
        run.Check(toCopier > 0 && toItself > 0 && MedianRatio(alone, copies) > 0, toCopier <= 1.1 && toItself <= 2.0,
                  i);
    }
    fflush(stdout);
}

void IdleSection(Run& run) {
    // Long enough for the launches, the settling and the window.
    const std::wstring lifetime = std::to_wstring(kSettleMs + kIdleWindowMs + 500 * kIdleTasks + 2000);
    const std::wstring sleeper = run.self + L" --child sleep " + lifetime;
    const std::wstring orphan = run.self + L" --child orphan " + lifetime;
    const struct {
        const wchar_t* name;
        const wchar_t* mode;
        const std::wstring& command;
        int tasks;
        bool delayed = false;  // the tasks are still waiting out their delay: ended after the window
    } idles[] = {
        {L"relay", L"--nul", sleeper, kIdleTasks},
        {L"--flush", L"--nul --flush", sleeper, kIdleTasks},
        {L"--daemon", L"--nul --daemon", sleeper, kIdleTasks},
        {L"pass-through", L"--nul --flush2", sleeper, kIdleTasks},
        {L"grandchild", L"--nul", orphan, kIdleTasks},
        // A task that spins is held back by the others on one CPU: alone.
        {L"grandchild 1", L"--nul", orphan, 1},
        {L"--delay 600", L"--nul --daemon --delay 600", sleeper, kIdleTasks, true},
    };
    wprintf(
        L"idle cost over %lu s of %d tasks at once (1 where said), per task: CPU of one core, the task + its "
        L"share of the wineserver (target < 0.30 %% together)\n",
        kIdleWindowMs / 1000, kIdleTasks);
    fflush(stdout);
    for (const auto& idle : idles) {
        for (size_t i = 0; i < run.builds.size(); ++i) {
            const IdleCost cost = MeasureIdle(run.builds[i].vrek, idle.mode, idle.command, run.dir, idle.tasks,
                                              kIdleWindowMs, idle.delayed);
            const double total = cost.task + (cost.server > 0 ? cost.server : 0);
            wprintf(L"  %-13ls %-7ls task %6.2f %%  wineserver %6.2f %%  together %6.2f %% (%ls)\n", idle.name,
                    run.builds[i].label.c_str(), cost.task, cost.server, total, Verdict(total < 0.3));
            fflush(stdout);
            run.Check(cost.task >= 0, total < 0.3, i);
        }
    }
}

void PeakSection(Run& run) {
    const unsigned long bigMiB = 512;
    wprintf(L"peak working set relaying %lu MiB without --flush, above an idle task (target < 8 MiB)\n", bigMiB);
    fflush(stdout);
    const std::wstring sleeper = run.self + L" --child sleep " + std::to_wstring(kSettleMs + 500);
    for (size_t i = 0; i < run.builds.size(); ++i) {
        const double idle = MeasureIdle(run.builds[i].vrek, L"--nul", sleeper, run.dir, 1, 0).workingSetMiB;
        const double peak =
            PeakWorkingSetMiB(run.builds[i].vrek, run.self + L" --child write " + std::to_wstring(bigMiB), run.dir);
        const double above = peak - idle;
        wprintf(L"  %-7ls peak %7.1f MiB, idle %6.1f MiB: %.1f MiB above (%ls)\n", run.builds[i].label.c_str(), peak,
                idle, above, Verdict(above < 8));
        run.Check(peak > 0 && idle > 0, above < 8, i);
    }
    fflush(stdout);
}

void LaunchSection(Run& run) {
    const int rounds = run.rounds * 8;
    wprintf(
        L"launch: vrek --nul --nologo --task <no-op> until the prompt returns, against the no-op itself; %d rounds "
        L"(target <= 2.20)\n",
        rounds);
    fflush(stdout);
    const std::wstring noop = run.self + L" --child noop";
    RunTimed(noop, run.dir);  // warm-up
    std::vector<std::vector<double>> launches(run.builds.size());
    std::vector<double> starts;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2) starts.push_back(RunTimed(noop, run.dir));
        for (size_t b = 0; b < run.builds.size(); ++b) {
            const size_t i = round % 2 ? run.builds.size() - 1 - b : b;
            launches[i].push_back(RunTimed(Quoted(run.builds[i].vrek) + L" --nul --nologo --task " + noop, run.dir));
        }
        if (round % 2 == 0) starts.push_back(RunTimed(noop, run.dir));
    }
    const double noopTime = bench::Median(starts);
    wprintf(L"  no-op started directly                          %7.4f s\n", noopTime);
    for (size_t i = 0; i < run.builds.size(); ++i) {
        const double l = bench::Median(launches[i]);
        const double ratio = noopTime > 0 ? l / noopTime : 0;
        wprintf(L"  %-7ls launcher %7.4f s: %.2f times the no-op (%ls)\n", run.builds[i].label.c_str(), l, ratio,
                Verdict(ratio <= 2.2));
        run.Check(noopTime > 0 && l > 0, ratio <= 2.2, i);
    }
    Sleep(500);  // the last tasks end
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && wcscmp(argv[1], L"--child") == 0) return ChildMain(argc, argv);
    Run run;
    run.rounds = argc >= 2 ? _wtoi(argv[1]) : 7;
    run.mib = argc >= 3 ? wcstoul(argv[2], nullptr, 10) : 64;
    if (run.rounds < 1 || run.mib < 1) {
        fwprintf(stderr, L"usage: bench_job [rounds] [MiB]\n");
        return 2;
    }
    run.dir = TempFolder();
    run.self = Quoted(bench::SelfPath());
    run.builds.push_back({L"now", bench::SelfDir() + L"\\vrek.exe"});
    // Several, separated by ';', are labelled by their names.
    if (const wchar_t* baselines = _wgetenv(L"VREK_BENCH_BASELINE")) {
        std::wstring list = baselines;
        const bool several = list.find(L';') != std::wstring::npos;
        for (size_t at = 0; at < list.size();) {
            size_t end = list.find(L';', at);
            if (end == std::wstring::npos) end = list.size();
            const std::wstring name = list.substr(at, end - at);
            if (!name.empty())
                run.builds.push_back(
                    {several ? name.substr(0, name.rfind(L'.')) : L"before", bench::SelfDir() + L"\\" + name});
            at = end + 1;
        }
    }
    // VREK_BENCH_ONLY=throughput,idle,peak,launch (any of them) runs those.
    const wchar_t* only = _wgetenv(L"VREK_BENCH_ONLY");
    auto wanted = [only](const wchar_t* section) { return !only || !*only || wcsstr(only, section); };
    if (wanted(L"throughput")) ThroughputSection(run);
    if (wanted(L"idle")) IdleSection(run);
    if (wanted(L"peak")) PeakSection(run);
    if (wanted(L"launch")) LaunchSection(run);
    DeleteFileW((run.dir + L"\\launcher.txt").c_str());
    RemoveDirectoryW(run.dir.c_str());
    if (!run.complete) wprintf(L"job: FAILED: a run did not complete\n");
    wprintf(L"job: %ls\n", run.met ? L"every target met" : L"a target NOT MET");
    return run.complete ? 0 : 1;
}
