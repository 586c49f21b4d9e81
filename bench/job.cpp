// Whole jobs through the real vrek.exe, side by side in alternating rounds:
//
// 1. A command that writes 64 MiB (64-byte lines, 64 KiB WriteFile calls),
//    run three ways: relayed by the task into --out (relay mode), writing to
//    the --out file the launcher opened (--flush2, pass-through), and the
//    same program writing the file itself, started directly. Seconds from
//    the start to the result line (to the program's end for the direct run).
// 2. Launch: wall time of `vrek --nul --nologo --task <no-op>` (until the
//    launcher returns, as the user waits for the prompt) against starting
//    the no-op program directly and waiting for its end.
//
// Usage: bench_job.exe [rounds] [MiB]
//        bench_job.exe --child write <MiB> [file]   (the command)
//        bench_job.exe --child noop

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace {

const unsigned long kChunk = 65536;

// Starts a command line hidden, its standard streams on the null device;
// the process handle, or null.
HANDLE Start(const std::wstring& commandLine, const std::wstring& directory) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                             directory.c_str(), &startup, &info);
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

// Whether the file ends with a result line.
bool EndsWithResultLine(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool found = false;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        char tail[64] = {};
        LARGE_INTEGER at;
        at.QuadPart = size.QuadPart > 48 ? size.QuadPart - 48 : 0;
        DWORD got = 0;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, tail, 48, &got, nullptr))
            found = std::string(tail, got).find(": result ") != std::string::npos && tail[got - 1] == '\n';
    }
    CloseHandle(file);
    return found;
}

// A job that writes to out.txt: seconds from starting the launcher until the
// result line stands at the end of the file.
double RunJob(const std::wstring& vrekArgs, const std::wstring& directory) {
    std::wstring out = directory + L"\\out.txt";
    DeleteFileW(out.c_str());
    std::wstring line = L"\"" + bench::SelfDir() + L"\\vrek.exe\" " + vrekArgs;
    double start = bench::Now();
    HANDLE launcher = Start(line, directory);
    if (!launcher) return -1;
    WaitForSingleObject(launcher, INFINITE);
    CloseHandle(launcher);
    while (!EndsWithResultLine(out)) {
        if (bench::Now() - start > 600) return -1;
        Sleep(5);
    }
    return bench::Now() - start;
}

std::wstring TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"vrek-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void Report(const wchar_t* what, const std::vector<double>& samples, double reference) {
    double median = bench::Median(samples);
    wprintf(L"  %-44ls median %7.3f s", what, median);
    if (reference > 0) wprintf(L"   ratio to direct %.2f", median / reference);
    wprintf(L"\n");
}

int ChildMain(int argc, wchar_t** argv) {
    if (argc >= 3 && wcscmp(argv[2], L"noop") == 0) return 0;
    if (argc < 4 || wcscmp(argv[2], L"write") != 0) return 2;
    unsigned long mib = wcstoul(argv[3], nullptr, 10);
    if (argc < 5) return bench::WriteMiB(GetStdHandle(STD_OUTPUT_HANDLE), mib, kChunk);
    HANDLE file = CreateFileW(argv[4], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    int result = bench::WriteMiB(file, mib, kChunk);
    CloseHandle(file);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && wcscmp(argv[1], L"--child") == 0) return ChildMain(argc, argv);
    int rounds = argc >= 2 ? _wtoi(argv[1]) : 5;
    unsigned long mib = argc >= 3 ? wcstoul(argv[2], nullptr, 10) : 64;
    if (rounds < 1 || mib < 1) {
        fwprintf(stderr, L"usage: bench_job [rounds] [MiB]\n");
        return 2;
    }
    const std::wstring dir = TempFolder();
    const std::wstring self = L"\"" + bench::SelfPath() + L"\"";
    const std::wstring writer = self + L" --child write " + std::to_wstring(mib);

    wprintf(L"job: a command writes %lu MiB to --out; %d rounds, alternating order\n", mib, rounds);
    fflush(stdout);
    std::vector<double> relay, passThrough, direct;
    bool complete = true;
    for (int round = 0; round < rounds; ++round) {
        double r = 0, p = 0, d = 0;
        auto relayRun = [&] { r = RunJob(L"--nul --out out.txt --task " + writer, dir); };
        auto passRun = [&] { p = RunJob(L"--nul --flush2 --out out.txt --task " + writer, dir); };
        auto directRun = [&] { d = RunTimed(writer + L" \"" + dir + L"\\direct.txt\"", dir); };
        if (round % 2 == 0) {
            relayRun();
            passRun();
            directRun();
        } else {
            directRun();
            passRun();
            relayRun();
        }
        complete = complete && r > 0 && p > 0 && d > 0;
        relay.push_back(r);
        passThrough.push_back(p);
        direct.push_back(d);
        wprintf(L"  round %d: relay %.3f s   pass-through %.3f s   direct %.3f s\n", round + 1, r, p, d);
        fflush(stdout);
    }
    double reference = bench::Median(direct);
    Report(L"relay (task reads pipes, writes --out)", relay, reference);
    Report(L"pass-through (--flush2, command writes --out)", passThrough, reference);
    Report(L"direct (program writes the file itself)", direct, 0);

    wprintf(L"launch: vrek --nul --nologo --task <no-op> against the no-op itself; %d rounds\n", rounds * 4);
    fflush(stdout);
    const std::wstring noop = self + L" --child noop";
    const std::wstring launch = L"\"" + bench::SelfDir() + L"\\vrek.exe\" --nul --nologo --task " + noop;
    RunTimed(launch, dir);  // warm-up
    RunTimed(noop, dir);
    std::vector<double> launches, starts;
    for (int round = 0; round < rounds * 4; ++round) {
        if (round % 2 == 0) {
            launches.push_back(RunTimed(launch, dir));
            starts.push_back(RunTimed(noop, dir));
        } else {
            starts.push_back(RunTimed(noop, dir));
            launches.push_back(RunTimed(launch, dir));
        }
    }
    double noopMedian = bench::Median(starts);
    Report(L"vrek launcher until the prompt returns", launches, noopMedian);
    Report(L"no-op started directly", starts, 0);
    Sleep(500);  // the last tasks end
    DeleteFileW((dir + L"\\out.txt").c_str());
    DeleteFileW((dir + L"\\direct.txt").c_str());
    RemoveDirectoryW(dir.c_str());
    if (!complete) wprintf(L"job: FAILED: a run did not complete\n");
    return complete ? 0 : 1;
}
