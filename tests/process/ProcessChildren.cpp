// The children the process tests run: this test program re-run with
// --child=<name>.
#include "ProcessChildren.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "kovra/C_Memory.h"
#include "support/TestSupport.h"

using namespace processtest;

namespace {

bool WriteAll(HANDLE handle, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        DWORD n = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(handle, bytes.data() + done, n, &put, nullptr) || put == 0) return false;
        done += put;
    }
    return true;
}

std::string ReadAll(HANDLE handle) {
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(handle, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    return bytes;
}

// Writes `n` pattern bytes in pieces of at most 64 KiB.
bool WritePattern(HANDLE handle, size_t n, size_t offset = 0) {
    const size_t piece = 65536;
    for (size_t done = 0; done < n; done += piece) {
        size_t count = n - done < piece ? n - done : piece;
        if (!WriteAll(handle, Pattern(count, offset + done))) return false;
    }
    return true;
}

size_t Arg(int argc, wchar_t** argv, int i, size_t fallback = 0) {
    return i < argc ? static_cast<size_t>(wcstoull(argv[i], nullptr, 10)) : fallback;
}

}  // namespace

// write_out N: N pattern bytes on standard output.
TEST_CHILD(write_out) { return WritePattern(GetStdHandle(STD_OUTPUT_HANDLE), Arg(argc, argv, 0)) ? 0 : 1; }

// write_exit N CODE: N pattern bytes on standard output, then exit with CODE.
TEST_CHILD(write_exit) {
    if (!WritePattern(GetStdHandle(STD_OUTPUT_HANDLE), Arg(argc, argv, 0))) return 1;
    return static_cast<int>(Arg(argc, argv, 1));
}

// write_both: "OUT" on standard output, then "ERR" on standard error.
TEST_CHILD(write_both) {
    (void)argc;
    (void)argv;
    bool ok = WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), "OUT");
    ok = WriteAll(GetStdHandle(STD_ERROR_HANDLE), "ERR") && ok;
    return ok ? 0 : 1;
}

// write_mixed OUT ERR: OUT pattern bytes on output and ERR on error,
// interleaved (16 KiB of error after each MiB of output).
TEST_CHILD(write_mixed) {
    size_t outTotal = Arg(argc, argv, 0);
    size_t errTotal = Arg(argc, argv, 1);
    size_t outDone = 0, errDone = 0;
    while (outDone < outTotal || errDone < errTotal) {
        size_t out = outTotal - outDone < (1u << 20) ? outTotal - outDone : (1u << 20);
        if (!WritePattern(GetStdHandle(STD_OUTPUT_HANDLE), out, outDone)) return 1;
        outDone += out;
        size_t err = errTotal - errDone < 16384 ? errTotal - errDone : 16384;
        if (!WritePattern(GetStdHandle(STD_ERROR_HANDLE), err, errDone)) return 1;
        errDone += err;
    }
    return 0;
}

// echo_stdin: copies standard input to standard output until its end.
TEST_CHILD(echo_stdin) {
    (void)argc;
    (void)argv;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        if (!WriteAll(out, std::string(chunk, got))) return 1;
    }
    return 0;
}

// echo_both: reads all of standard input, then writes "in:" and it to
// standard output and "err:" and it to standard error.
TEST_CHILD(echo_both) {
    (void)argc;
    (void)argv;
    std::string input = ReadAll(GetStdHandle(STD_INPUT_HANDLE));
    bool ok = WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), "in:" + input);
    ok = WriteAll(GetStdHandle(STD_ERROR_HANDLE), "err:" + input) && ok;
    return ok ? 0 : 1;
}

// exit_code CODE
TEST_CHILD(exit_code) { return static_cast<int>(wcstoul(argc > 0 ? argv[0] : L"0", nullptr, 10)); }

// sleep_exit MS CODE: sleeps without reading its input, then exits.
TEST_CHILD(sleep_exit) {
    Sleep(static_cast<DWORD>(Arg(argc, argv, 0)));
    return static_cast<int>(Arg(argc, argv, 1));
}

// print cmdline|cwd|env:NAME: the text on standard output.
TEST_CHILD(print) {
    std::wstring what = argc > 0 ? argv[0] : L"";
    std::wstring text;
    if (what == L"cmdline") {
        text = GetCommandLineW();
    } else if (what == L"cwd") {
        wchar_t dir[MAX_PATH * 2];
        text.assign(dir, GetCurrentDirectoryW(MAX_PATH * 2, dir));
    } else if (what.compare(0, 4, L"env:") == 0) {
        wchar_t value[256];
        DWORD n = GetEnvironmentVariableW(what.c_str() + 4, value, 256);
        text = n > 0 && n < 256 ? std::wstring(value, n) : L"(unset)";
    }
    return WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), testsupport::Narrow(text)) ? 0 : 1;
}

// spawn_holder: starts a grandchild that sleeps 20 s holding this child's
// standard output, writes its process id and a newline, and exits with 5.
TEST_CHILD(spawn_holder) {
    (void)argc;
    (void)argv;
    const DWORD grandchild =
        testsupport::StartWithOurStdHandles(testsupport::ChildCommand(L"sleep_exit", L"20000 0"), DETACHED_PROCESS);
    if (!grandchild) return 1;
    char text[32];
    snprintf(text, sizeof text, "%lu\n", grandchild);
    return WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), text) ? 5 : 1;
}

// nested FLAGS: runs write_both through C_Process with FLAGS (and no
// redirects), waits for it and exits with its code.
TEST_CHILD(nested) {
    kovra::C_Process process;
    int flags = static_cast<int>(Arg(argc, argv, 0));
    if (process.Run(testsupport::ChildCommand(L"write_both").c_str(), 0, flags, 0, nullptr, nullptr, nullptr,
                    nullptr) == 0xFFFFFFFF) {
        return 100;
    }
    if (process.Join(30000) != 0) return 101;
    int known = 0;
    return process.GetExitCode(&known);
}

namespace processtest {

Drained DrainLikeTheTask(kovra::C_Process& process, int size, int timeout, DWORD limitMs) {
    Drained result;
    kovra::C_Memory buffer;
    DWORD start = GetTickCount();
    for (;;) {
        int n = process.ReaderStream(&buffer, size, timeout);
        if (n > 0) result.out.append(static_cast<const char*>(buffer.GetMemoryEx()), static_cast<size_t>(n));
        if (n > result.largestRead) result.largestRead = n;
        unsigned long available = 0;
        bool errOpen = process.IsReadable_stderr(&available) != 0;
        if (errOpen && available > 0) {
            int m = process.ReaderErrorStream(&buffer, size, timeout);
            if (m > 0) result.err.append(static_cast<const char*>(buffer.GetMemoryEx()), static_cast<size_t>(m));
            if (m > result.largestRead) result.largestRead = m;
        }
        if (n == -1 && !errOpen) {
            result.finished = true;
            return result;
        }
        if (GetTickCount() - start > limitMs) return result;
    }
}

}  // namespace processtest
