#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include "kovra/common/UniqueHandle.h"

#include <string>
#include <vector>

namespace kovra {
class C_String;
}

// Helpers shared by the test programs. A test program may re-run itself as
// the child a test needs: `self.exe --child=<name> args...` runs the function
// registered under that name instead of the tests.
namespace testsupport {

using ChildMain = int (*)(int argc, wchar_t** argv);

struct ChildRegistration {
    ChildRegistration(const wchar_t* name, ChildMain main);
};

#define TEST_CHILD(name)                                                          \
    static int name(int argc, wchar_t** argv);                                    \
    static ::testsupport::ChildRegistration name##_registration(L## #name, name); \
    static int name(int argc, wchar_t** argv)

// Runs the registered child named by argv[1] ("--child=<name>"); -1 when the
// invocation is not a child run.
int RunChildIfAsked(int argc, wchar_t** argv);

// Full path of this test program, and the command line that starts it as
// the named child with the given arguments.
std::wstring SelfPath();
std::wstring ChildCommand(const wchar_t* name, const std::wstring& args = L"");

// Folder of this test program (the build folder, where vrek.exe lives too).
std::wstring ProgramDir();

// A file of the source tree, by its path relative to the tree's root (a
// build under Wine sees the Unix tree through drive Z:).
std::wstring SourcePath(const std::wstring& relative);

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

// Result of running a program to its end with its output captured.
struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;  // standard output and error, merged
    bool started = false;
    DWORD startError = 0;  // GetLastError() of a failed start
    bool timedOut = false;
};

// Starts `commandLine` hidden with standard output and error on one pipe,
// standard input on the null device, and waits at most `timeoutMs`.
RunResult RunCapture(const std::wstring& commandLine, DWORD timeoutMs = 30000, const wchar_t* directory = nullptr);

// A program run with its standard input on a pipe that the test writes (or
// on a handle the test gives), and its output and error merged on a pipe
// that the test reads while the program runs. Killed (if still running) and
// released when the object goes.
class PipedProcess {
public:
    PipedProcess() = default;
    ~PipedProcess();
    PipedProcess(const PipedProcess&) = delete;
    PipedProcess& operator=(const PipedProcess&) = delete;

    // Starts `commandLine` hidden, without a console. With `input` given,
    // that handle is the program's standard input and Write has no pipe.
    // False (GetLastError() says why) when the program cannot start.
    bool Start(const std::wstring& commandLine, const wchar_t* directory = nullptr, HANDLE input = nullptr);
    // Writes to the program's standard input; false when it cannot.
    bool Write(const std::string& bytes);
    // The program then reads the end of its input.
    void CloseInput();
    // Collects output until it holds `marker` at or after byte `from`: the
    // position just after the marker, or std::string::npos after `timeoutMs`
    // or once the program has ended without it.
    size_t WaitFor(const std::string& marker, DWORD timeoutMs = 10000, size_t from = 0);
    // Waits for the end (collecting the rest of the output): the exit code,
    // or 0xFFFFFFFF when the program did not end in time.
    DWORD Wait(DWORD timeoutMs = 30000);
    const std::string& Output() const { return out_; }
    DWORD Pid() const { return pid_; }

private:
    // Appends what the output pipe holds now; false once it is drained and
    // closed.
    bool Collect();

    kovra::common::UniqueHandle process_;
    kovra::common::UniqueHandle input_;
    kovra::common::UniqueHandle output_;
    DWORD pid_ = 0;
    std::string out_;
};

// RunCapture with `input` as the program's whole standard input.
RunResult RunCaptureInput(const std::wstring& commandLine, const std::string& input, DWORD timeoutMs = 30000,
                          const wchar_t* directory = nullptr);

// Starts `commandLine` in `directory` (null: ours) with these standard
// handles, inherited (null: none); its process handle, empty when it could
// not start. Tried again, three times in all, only while Wine fails the
// start-up with ERROR_INTERNAL_ERROR (the new process died while it was being
// set up): the program itself never ran.
kovra::common::UniqueHandle StartWithHandles(std::wstring commandLine, HANDLE input, HANDLE output, HANDLE error,
                                             DWORD creationFlags, const wchar_t* directory = nullptr);

// Starts `commandLine` with this process's standard handles, inherited (a
// helper that holds a caller's pipes); its process id, or 0.
DWORD StartWithOurStdHandles(const std::wstring& commandLine, DWORD creationFlags = 0);

// Text helpers.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);  // UTF-8
std::string ToCodePage(const std::wstring& wide, UINT codePage);
std::vector<std::string> SplitLines(const std::string& text);  // on "\n", "\r" dropped
// A narrow kovra string of exactly these bytes (zero bytes included), and
// the bytes of one.
kovra::C_String CString(const std::string& bytes);
std::string Bytes(const kovra::C_String& text);
// The elements CommandLineToArgvW finds in "program " + line, after the
// program name.
std::vector<std::wstring> SplitArguments(const std::wstring& line);

// Byte-exact comparison that reports the sizes and the first difference,
// not both texts (which may be megabytes).
::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual);

// Polls `condition` every 10 ms until it holds or `timeoutMs` passes.
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
}

// A name for a named kernel object that no other test, test run or real vrek
// uses: "vrek-test-<tag>-<pid>-<counter>".
std::wstring UniqueName(const wchar_t* tag);

// A started process, killed (if still running) and released when the object
// goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // CreateProcessW of `commandLine` with no inherited handles (and the
    // given security for the process object); false when it cannot start.
    // Detached by default: a child given a hidden console of its own gets a
    // console host process under Wine, and one whose child is killed before
    // it ever ran outlives the test and keeps CTest's output pipe open.
    bool Start(const std::wstring& commandLine, DWORD creationFlags = DETACHED_PROCESS,
               SECURITY_ATTRIBUTES* processAttributes = nullptr);
    DWORD Pid() const { return pid_; }
    HANDLE Handle() const { return process_.Get(); }
    // True when the process has ended within `timeoutMs`.
    bool Wait(DWORD timeoutMs);
    DWORD ExitCode() const;
    // TerminateProcess, then waits for the end.
    void Kill(UINT code = 99);
    // Releases the handles (the process id can then be reused).
    void Close();

private:
    kovra::common::UniqueHandle process_;
    kovra::common::UniqueHandle thread_;
    DWORD pid_ = 0;
};

}  // namespace testsupport
