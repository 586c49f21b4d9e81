#include "support/TestSupport.h"

#include <shellapi.h>

#include <map>

#include "kovra/C_String.h"

namespace testsupport {

namespace {

std::map<std::wstring, ChildMain>& Children() {
    static std::map<std::wstring, ChildMain> children;
    return children;
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

}  // namespace

ChildRegistration::ChildRegistration(const wchar_t* name, ChildMain main) { Children()[name] = main; }

int RunChildIfAsked(int argc, wchar_t** argv) {
    static const wchar_t prefix[] = L"--child=";
    if (argc < 2 || wcsncmp(argv[1], prefix, wcslen(prefix)) != 0) return -1;
    auto found = Children().find(argv[1] + wcslen(prefix));
    if (found == Children().end()) return 250;
    return found->second(argc - 2, argv + 2);
}

namespace {

LRESULT CALLBACK ClosableWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(9);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

// window [lifetime ms] [event]: a top-level window whose WM_CLOSE ends the
// program with 9 (6 when the lifetime, 60000 ms by default, passes first).
// Once the window exists it writes "ready" to its output and sets the named
// event, so that a test waits for it instead of guessing a time.
TEST_CHILD(window) {
    const DWORD lifetime = argc > 0 ? wcstoul(argv[0], nullptr, 10) : 60000;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ClosableWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"vrek-test-closable";
    if (!RegisterClassW(&windowClass)) return 1;
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"closable", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return 2;
    SetTimer(window, 1, lifetime, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready", 5, &written, nullptr);
    if (argc > 1) {
        kovra::common::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
        if (!ready || !SetEvent(ready.Get())) return 3;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER) return 6;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

kovra::common::UniqueHandle StartWithHandles(std::wstring commandLine, HANDLE input, HANDLE output, HANDLE error,
                                             DWORD creationFlags, const wchar_t* directory) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = input;
    si.hStdOutput = output;
    si.hStdError = error;
    PROCESS_INFORMATION pi = {};
    for (int attempt = 1;; ++attempt) {
        // CreateProcessW needs a writable command line (commandLine is our copy).
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, creationFlags, nullptr, directory, &si,
                           &pi))
            break;
        if (attempt == 3 || GetLastError() != ERROR_INTERNAL_ERROR) return kovra::common::UniqueHandle();
    }
    CloseHandle(pi.hThread);
    return kovra::common::UniqueHandle(pi.hProcess);
}

DWORD StartWithOurStdHandles(const std::wstring& commandLine, DWORD creationFlags) {
    kovra::common::UniqueHandle process =
        StartWithHandles(commandLine, GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                         GetStdHandle(STD_ERROR_HANDLE), creationFlags);
    return process ? GetProcessId(process.Get()) : 0;
}

std::wstring SelfPath() {
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
    return std::wstring(buffer, n);
}

std::wstring ProgramDir() {
    std::wstring self = SelfPath();
    return self.substr(0, self.find_last_of(L"\\/"));
}

std::wstring SourcePath(const std::wstring& relative) {
    std::wstring root = Widen(VREK_SOURCE_DIR);
    if (!root.empty() && root[0] == L'/') root = L"Z:" + root;
    std::wstring path = root + L"/" + relative;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring ChildCommand(const wchar_t* name, const std::wstring& args) {
    std::wstring line = L"\"" + SelfPath() + L"\" --child=" + name;
    if (!args.empty()) line += L" " + args;
    return line;
}

TempDir::TempDir() {
    static LONG counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    for (;;) {
        wchar_t name[64];
        swprintf(name, 64, L"vrek-test-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
        path_ = std::wstring(base) + name;
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    // Keep the long form of the name: some tests compare paths as printed.
    wchar_t full[MAX_PATH * 2];
    DWORD n = GetLongPathNameW(path_.c_str(), full, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) path_.assign(full, n);
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string ReadFileBytes(const std::wstring& path) {
    kovra::common::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::string();
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    kovra::common::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

RunResult RunCapture(const std::wstring& commandLine, DWORD timeoutMs, const wchar_t* directory) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    kovra::common::UniqueFileHandle nul(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    RunResult result;
    PipedProcess process;
    result.started = process.Start(commandLine, directory, nul.Get());
    if (!result.started) {
        result.startError = GetLastError();
        return result;
    }
    result.exitCode = process.Wait(timeoutMs);
    result.timedOut = result.exitCode == 0xFFFFFFFF;
    result.out = process.Output();
    return result;
}

PipedProcess::~PipedProcess() {
    if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.Get(), 99);
        WaitForSingleObject(process_.Get(), 5000);
    }
}

bool PipedProcess::Start(const std::wstring& commandLine, const wchar_t* directory, HANDLE input) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    kovra::common::UniqueHandle outWrite;
    if (!CreatePipe(output_.Put(), outWrite.Put(), &inherit, 0)) return false;
    SetHandleInformation(output_.Get(), HANDLE_FLAG_INHERIT, 0);
    HANDLE childInput = input;
    kovra::common::UniqueHandle inRead;
    if (!input) {
        if (!CreatePipe(inRead.Put(), input_.Put(), &inherit, 0)) return false;
        SetHandleInformation(input_.Get(), HANDLE_FLAG_INHERIT, 0);
        childInput = inRead.Get();
    } else {
        SetHandleInformation(input, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = childInput;
    si.hStdOutput = outWrite.Get();
    si.hStdError = outWrite.Get();
    PROCESS_INFORMATION pi = {};
    // CreateProcessW needs a writable command line.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    BOOL ok = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, directory, &si,
                            &pi);
        if (ok) break;
        error = GetLastError();
        // Seen once under Wine on a busy machine: a start refused for no
        // reason of the test's. Say so, and try again.
        fprintf(stderr, "PipedProcess: CreateProcessW failed with %lu, attempt %d\n", error, attempt + 1);
        Sleep(200);
    }
    // Only the child may hold the ends it was given, or the pipes stay open.
    outWrite.Reset();
    inRead.Reset();
    if (!ok) {
        SetLastError(error);
        return false;
    }
    CloseHandle(pi.hThread);
    process_.Reset(pi.hProcess);
    pid_ = pi.dwProcessId;
    return true;
}

bool PipedProcess::Write(const std::string& bytes) {
    size_t done = 0;
    while (input_ && done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(input_.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr))
            return false;
        done += written;
    }
    return input_.Valid();
}

void PipedProcess::CloseInput() { input_.Reset(); }

bool PipedProcess::Collect() {
    if (!output_) return false;
    DWORD available = 0;
    if (!PeekNamedPipe(output_.Get(), nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    std::vector<char> chunk(available);
    DWORD got = 0;
    if (!ReadFile(output_.Get(), chunk.data(), available, &got, nullptr)) return false;
    out_.append(chunk.data(), got);
    return true;
}

size_t PipedProcess::WaitFor(const std::string& marker, DWORD timeoutMs, size_t from) {
    DWORD start = GetTickCount();
    for (;;) {
        bool open = Collect();
        if (from <= out_.size()) {
            size_t at = out_.find(marker, from);
            if (at != std::string::npos) return at + marker.size();
        }
        if (!open || GetTickCount() - start > timeoutMs) return std::string::npos;
        Sleep(10);
    }
}

DWORD PipedProcess::Wait(DWORD timeoutMs) {
    if (!process_) return 0xFFFFFFFF;
    DWORD start = GetTickCount();
    for (;;) {
        Collect();
        if (WaitForSingleObject(process_.Get(), 10) == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > timeoutMs) return 0xFFFFFFFF;
    }
    // What the program wrote just before it ended.
    while (Collect()) {
        DWORD available = 0;
        if (!PeekNamedPipe(output_.Get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) break;
    }
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process_.Get(), &code);
    return code;
}

RunResult RunCaptureInput(const std::wstring& commandLine, const std::string& input, DWORD timeoutMs,
                          const wchar_t* directory) {
    RunResult result;
    PipedProcess process;
    if (!process.Start(commandLine, directory)) return result;
    result.started = true;
    process.Write(input);
    process.CloseInput();
    result.exitCode = process.Wait(timeoutMs);
    result.timedOut = result.exitCode == 0xFFFFFFFF;
    result.out = process.Output();
    return result;
}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string ToCodePage(const std::wstring& wide, UINT codePage) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

std::string Narrow(const std::wstring& wide) { return ToCodePage(wide, CP_UTF8); }

::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    auto around = [at](const std::string& s) {
        std::string shown;
        for (unsigned char c : s.substr(at < s.size() ? at : s.size(), 24)) {
            char piece[8];
            if (c >= 32 && c < 127)
                snprintf(piece, sizeof piece, "%c", c);
            else
                snprintf(piece, sizeof piece, "\\x%02x", c);
            shown += piece;
        }
        return shown;
    };
    return ::testing::AssertionFailure() << "sizes " << expected.size() << " and " << actual.size()
                                         << ", first difference at byte " << at << ": expected \"" << around(expected)
                                         << "\", got \"" << around(actual) << "\"";
}

kovra::C_String CString(const std::string& bytes) {
    kovra::C_String text;
    text.SetBytes(bytes.data(), 0, static_cast<int>(bytes.size()), 0);
    return text;
}

std::string Bytes(const kovra::C_String& text) {
    return std::string(text.GetString(), static_cast<size_t>(text.Length()));
}

std::vector<std::wstring> SplitArguments(const std::wstring& line) {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW((L"program " + line).c_str(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < count; ++i) args.push_back(argv[i]);
    LocalFree(argv);
    return args;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::wstring UniqueName(const wchar_t* tag) {
    static LONG counter = 0;
    wchar_t name[128];
    swprintf(name, 128, L"vrek-test-%ls-%lu-%ld", tag, GetCurrentProcessId(), InterlockedIncrement(&counter));
    return name;
}

ChildProcess::~ChildProcess() {
    if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) Kill();
    Close();
}

bool ChildProcess::Start(const std::wstring& commandLine, DWORD creationFlags, SECURITY_ATTRIBUTES* processAttributes) {
    Close();
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), processAttributes, nullptr, FALSE, creationFlags, nullptr, nullptr, &si,
                        &pi))
        return false;
    process_.Reset(pi.hProcess);
    thread_.Reset(pi.hThread);
    pid_ = pi.dwProcessId;
    return true;
}

bool ChildProcess::Wait(DWORD timeoutMs) {
    return process_ && WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = 0xFFFFFFFF;
    if (process_) GetExitCodeProcess(process_.Get(), &code);
    return code;
}

void ChildProcess::Kill(UINT code) {
    if (!process_) return;
    TerminateProcess(process_.Get(), code);
    WaitForSingleObject(process_.Get(), 10000);
}

void ChildProcess::Close() {
    thread_.Reset();
    process_.Reset();
}

}  // namespace testsupport
