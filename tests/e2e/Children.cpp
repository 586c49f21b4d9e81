// Commands that the end-to-end tests have vrek run: this test program
// re-run as a child.
#include <windows.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "VrekRun.h"
#include "support/TestSupport.h"

namespace {

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return 0;
}

std::string FromHex(const wchar_t* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        bytes += static_cast<char>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1]));
    return bytes;
}

void WriteAll(HANDLE handle, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr)) return;
        done += written;
    }
}

}  // namespace

// Writes to its standard handles, one step per argument:
//   o:<hex> / e:<hex>          the bytes to output / error
//   O:<count>:<hex>            the bytes repeated count times to output
//   F:<blocks>                 that many 64 KiB blocks of lines to output
//   mixed:<seed>:<bytes>       e2e::MixedStreams, each piece to its stream
//   sleep:<ms>                 pause
//   touch:<path>               create that file (a sign of life)
//   await:<path>               wait (up to a minute) until that file exists
//   exit:<code>                end with that status
TEST_CHILD(emit) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    for (int i = 0; i < argc; ++i) {
        std::wstring step = argv[i];
        if (step.compare(0, 2, L"o:") == 0) {
            WriteAll(out, FromHex(step.c_str() + 2));
        } else if (step.compare(0, 2, L"e:") == 0) {
            WriteAll(err, FromHex(step.c_str() + 2));
        } else if (step.compare(0, 2, L"O:") == 0) {
            size_t colon = step.find(L':', 2);
            long count = wcstol(step.c_str() + 2, nullptr, 10);
            std::string piece = FromHex(step.c_str() + colon + 1);
            std::string all;
            for (long k = 0; k < count; ++k) all += piece;
            WriteAll(out, all);
        } else if (step.compare(0, 6, L"sleep:") == 0) {
            Sleep(wcstoul(step.c_str() + 6, nullptr, 10));
        } else if (step.compare(0, 2, L"F:") == 0) {
            std::string block(65536, 'f');
            for (size_t at = 63; at < block.size(); at += 64) block[at] = '\n';
            for (long k = wcstol(step.c_str() + 2, nullptr, 10); k > 0; --k) WriteAll(out, block);
        } else if (step.compare(0, 6, L"mixed:") == 0) {
            wchar_t* rest = nullptr;
            unsigned long seed = wcstoul(step.c_str() + 6, &rest, 10);
            size_t bytes = wcstoul(rest + 1, nullptr, 10);
            for (const auto& piece : e2e::MixedStreams(seed, bytes)) WriteAll(piece.first ? err : out, piece.second);
        } else if (step.compare(0, 6, L"touch:") == 0) {
            testsupport::WriteFileBytes(step.substr(6), "");
        } else if (step.compare(0, 6, L"await:") == 0) {
            testsupport::WaitUntil([&] { return testsupport::FileExists(step.substr(6)); }, 60000);
        } else if (step.compare(0, 5, L"exit:") == 0) {
            return static_cast<int>(wcstol(step.c_str() + 5, nullptr, 10));
        }
    }
    return 0;
}

// Writes each argument on a line of its own (UTF-8), as it received it.
TEST_CHILD(args) {
    std::string text;
    for (int i = 0; i < argc; ++i) text += testsupport::Narrow(argv[i]) + "\n";
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), text);
    return 0;
}

// Starts a grandchild that inherits its standard handles (the task's pipes),
// writes a line and ends; the grandchild waits for it to be gone, then
// writes one line to each stream and ends too.
TEST_CHILD(orphan) {
    if (argc >= 1) {
        HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, wcstoul(argv[0], nullptr, 10));
        if (parent) {
            WaitForSingleObject(parent, 30000);
            CloseHandle(parent);
        }
        WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), "the grandchild, after the command\n");
        WriteAll(GetStdHandle(STD_ERROR_HANDLE), "the grandchild's error\n");
        return 0;
    }
    if (!testsupport::StartWithOurStdHandles(
            testsupport::ChildCommand(L"orphan", std::to_wstring(GetCurrentProcessId()))))
        return 4;
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), "the command\n");
    return 3;
}

// Starts argv[1] helpers (this program as "stubborn") that know nothing of
// vrek, writes its own pid and theirs into the file argv[0], and lives until
// it is killed, ignoring console control events as they do (or, with argv[2]
// "end", ends at once and leaves them running; with "hold", the same with
// helpers that hold its standard handles).
TEST_CHILD(family) {
    if (argc < 1) return 2;
    SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
    std::string pids = std::to_string(GetCurrentProcessId());
    std::vector<std::unique_ptr<testsupport::ChildProcess>> helpers;
    for (long n = argc > 1 ? wcstol(argv[1], nullptr, 10) : 0; n > 0; --n) {
        helpers.push_back(std::make_unique<testsupport::ChildProcess>());
        // No helper outlives a broken test by much.
        const std::wstring helper = testsupport::ChildCommand(L"stubborn", L"120000");
        if (argc > 2 && std::wstring(argv[2]) == L"hold") {
            // On this program's standard handles: the task's pipes stay open.
            const DWORD pid = testsupport::StartWithOurStdHandles(helper);
            if (!pid) return 4;
            pids += " " + std::to_string(pid);
            continue;
        }
        if (!helpers.back()->Start(helper)) return 4;
        pids += " " + std::to_string(helpers.back()->Pid());
    }
    // Whole or not at all: the test reads the file as soon as it exists.
    const std::wstring partial = std::wstring(argv[0]) + L".part";
    if (!testsupport::WriteFileBytes(partial, pids) ||
        !MoveFileExW(partial.c_str(), argv[0], MOVEFILE_REPLACE_EXISTING))
        return 5;
    if (argc > 2 && std::wstring(argv[2]) == L"end") {
        for (auto& helper : helpers) helper->Close();
        return 0;
    }
    if (argc > 2 && std::wstring(argv[2]) == L"hold") return 0;
    Sleep(120000);
    return 0;
}

// Starts `cmd /c exit 7` asking to leave the job it runs in, then
// `cmd /c exit 3` in a job of its own (nested in any job it runs in), and
// reports how each went: what an installer or updater does.
TEST_CHILD(breakaway) {
    (void)argc;
    (void)argv;
    std::string report;
    auto run = [&report](const wchar_t* command, DWORD flags, HANDLE job) {
        std::vector<wchar_t> line(command, command + wcslen(command) + 1);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags | CREATE_SUSPENDED, nullptr, nullptr,
                            &si, &pi)) {
            report += "error " + std::to_string(GetLastError()) + "\n";
            return;
        }
        if (job && !AssignProcessToJobObject(job, pi.hProcess))
            report += "no job " + std::to_string(GetLastError()) + ", ";
        ResumeThread(pi.hThread);
        WaitForSingleObject(pi.hProcess, 30000);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        report += "exit " + std::to_string(code) + "\n";
    };
    report += "breakaway: ";
    run(L"cmd /c exit 7", CREATE_BREAKAWAY_FROM_JOB, nullptr);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    report += "own job: ";
    run(L"cmd /c exit 3", 0, job);
    if (job) CloseHandle(job);
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), report);
    return 0;
}

// Reads its standard input to the end and reports the byte count.
TEST_CHILD(readin) {
    (void)argc;
    (void)argv;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    DWORD got = 0;
    unsigned long total = 0;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) total += got;
    char line[64];
    int n = snprintf(line, sizeof line, "read %lu bytes\n", total);
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), std::string(line, n));
    return 0;
}

// Writes the time it started (FILETIME, 100 ns units) into the file named by
// its argument.
TEST_CHILD(starttime) {
    if (argc < 1) return 2;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    return testsupport::WriteFileBytes(argv[0], std::to_string(value.QuadPart)) ? 0 : 3;
}

// Ignores every console control event and lives until it is killed (or for
// the milliseconds given).
TEST_CHILD(stubborn) {
    SetConsoleCtrlHandler(nullptr, TRUE);
    SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
    Sleep(argc > 0 ? wcstoul(argv[0], nullptr, 10) : INFINITE);
    return 0;
}

// Presses keys in the console of a running program: attaches to the console
// of the first process whose image has the file name given first (e.g.
// vrek.exe) and writes a key press and release for each character code
// that follows. Keys typed at a terminal that Wine's console does not pass
// on alone (ESC) reach the program this way.
TEST_CHILD(presskeys) {
    if (argc < 2) return 2;
    DWORD pid = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 3;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !pid; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, argv[0]) == 0) pid = entry.th32ProcessID;
    CloseHandle(snapshot);
    if (!pid) return 3;
    FreeConsole();
    if (!AttachConsole(pid)) return 4;
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return 5;
    int status = 0;
    for (int i = 1; i < argc && status == 0; ++i) {
        const wchar_t ch = static_cast<wchar_t>(wcstoul(argv[i], nullptr, 0));
        INPUT_RECORD press[2] = {};
        press[0].EventType = KEY_EVENT;
        press[0].Event.KeyEvent.bKeyDown = TRUE;
        press[0].Event.KeyEvent.wRepeatCount = 1;
        press[0].Event.KeyEvent.wVirtualKeyCode = ch == 27 ? VK_ESCAPE : static_cast<WORD>(LOBYTE(VkKeyScanW(ch)));
        press[0].Event.KeyEvent.uChar.UnicodeChar = ch;
        press[1] = press[0];
        press[1].Event.KeyEvent.bKeyDown = FALSE;
        DWORD written = 0;
        if (!WriteConsoleInputW(in, press, 2, &written) || written != 2) status = 6;
    }
    CloseHandle(in);
    FreeConsole();
    return status;
}
