// Relay throughput: a child writes 64 MiB to its standard output; the parent
// drains it through C_Process::ReaderStream(buffer, 10240, 50), as the task
// copy does, and, in alternating rounds, through plain blocking ReadFile on
// an anonymous pipe made the same way. Prints the medians and their ratio.
//
// Usage: bench_relay.exe [rounds] [MiB]
//        bench_relay.exe --child <MiB> <write chunk bytes>   (the writer)
// The child's start-up is left out of both figures (the clock runs from the
// first byte), and each figure is the median of the rounds: under Wine on two
// cores single drains vary several-fold with the scheduling.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "kovra/C_Memory.h"
#include "kovra/C_Process.h"

using namespace kovra;

namespace {

const int kReadSize = 10240;

int ChildMain(unsigned long mib, unsigned long chunk) {
    return bench::WriteMiB(GetStdHandle(STD_OUTPUT_HANDLE), mib, chunk);
}

using bench::Now;
using bench::SelfPath;

struct Sample {
    double mbPerSecond = 0;
    unsigned long long bytes = 0;
};

// Clock from the first byte to the end of the stream, so that the start-up
// of the child (slow and uneven under Wine) is left out of both figures.
Sample Finish(unsigned long long bytes, double first, double last) {
    Sample s;
    s.bytes = bytes;
    double seconds = last - first;
    if (seconds > 0) s.mbPerSecond = static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
    return s;
}

Sample DrainWithLibrary(const std::wstring& command) {
    C_Process process;
    int flags = RUN_PIPE_IN_OUT_ERR | RUN_NEW_PROCESS_GROUP | RUN_INHERIT_HANDLES;
    if (process.Run(command.c_str(), L"", 0, flags, 0, nullptr, nullptr) == 0xFFFFFFFF) {
        fwprintf(stderr, L"bench_relay: Run failed (%lu)\n", GetLastError());
        return Sample();
    }
    C_Memory buffer;
    unsigned long long bytes = 0;
    double first = 0;
    for (;;) {
        int n = process.ReaderStream(&buffer, kReadSize, 50);
        if (n < 0) break;
        if (n > 0 && bytes == 0) first = Now();
        bytes += static_cast<unsigned long long>(n);
    }
    double last = Now();
    while (process.Join(100) == 1) {
    }
    return Finish(bytes, first, last);
}

Sample DrainWithReadFile(const std::wstring& command) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return Sample();
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                  DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return Sample();
    }
    CloseHandle(info.hThread);
    std::vector<char> buffer(kReadSize);
    unsigned long long bytes = 0;
    double first = 0;
    DWORD got = 0;
    while (ReadFile(readEnd, buffer.data(), kReadSize, &got, nullptr)) {
        if (got > 0 && bytes == 0) first = Now();
        bytes += got;
    }
    double last = Now();
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
    CloseHandle(readEnd);
    return Finish(bytes, first, last);
}

using bench::Median;

// One configuration: alternating rounds of both drains after one warm-up
// pair; false when a drain lost bytes.
bool Measure(int rounds, unsigned long mib, unsigned long chunk) {
    wchar_t args[64];
    swprintf(args, 64, L" --child %lu %lu", mib, chunk);
    std::wstring command = L"\"" + SelfPath() + L"\"" + args;
    const unsigned long long expected = static_cast<unsigned long long>(mib) << 20;

    wprintf(L"relay: child writes %lu MiB in %lu-byte WriteFile calls; %d rounds, alternating order\n", mib, chunk,
            rounds);
    fflush(stdout);
    // Wine starts its services and maps the program at the first runs.
    DrainWithLibrary(command);
    DrainWithReadFile(command);
    std::vector<double> library;
    std::vector<double> plain;
    bool complete = true;
    for (int round = 0; round < rounds; ++round) {
        Sample a, b;
        if (round % 2 == 0) {
            a = DrainWithLibrary(command);
            b = DrainWithReadFile(command);
        } else {
            b = DrainWithReadFile(command);
            a = DrainWithLibrary(command);
        }
        complete = complete && a.bytes == expected && b.bytes == expected;
        library.push_back(a.mbPerSecond);
        plain.push_back(b.mbPerSecond);
        wprintf(L"  round %d: ReaderStream %7.1f MB/s   ReadFile %7.1f MB/s\n", round + 1, a.mbPerSecond,
                b.mbPerSecond);
        fflush(stdout);
    }
    double a = Median(library);
    double b = Median(plain);
    wprintf(
        L"relay: %lu-byte writes: median ReaderStream(buffer, %d, 50) %.1f MB/s, blocking ReadFile %.1f MB/s, "
        L"ratio %.2f\n",
        chunk, kReadSize, a, b, b > 0 ? a / b : 0.0);
    if (!complete) wprintf(L"relay: FAILED: a drain did not deliver all %llu bytes\n", expected);
    fflush(stdout);
    return complete;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && wcscmp(argv[1], L"--child") == 0) {
        return ChildMain(wcstoul(argv[2], nullptr, 10), wcstoul(argv[3], nullptr, 10));
    }
    int rounds = argc >= 2 ? _wtoi(argv[1]) : 7;
    unsigned long mib = argc >= 3 ? wcstoul(argv[2], nullptr, 10) : 64;
    if (rounds < 1 || mib < 1) {
        fwprintf(stderr, L"usage: bench_relay [rounds] [MiB]\n");
        return 2;
    }
    // Large writes, as from a program that copies a file out; then the 4 KiB
    // writes of a C runtime's buffered output, where each refill of the pipe
    // has to be noticed by the reader.
    bool ok = Measure(rounds, mib, 65536);
    ok = Measure(rounds, mib, 4096) && ok;
    return ok ? 0 : 1;
}
