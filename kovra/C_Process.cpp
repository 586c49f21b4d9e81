#include "kovra/C_Process.h"

#include <mmsystem.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <utility>

#include "kovra/C_Memory.h"
#include "kovra/C_String.h"
#include "kovra/C_WString.h"

namespace kovra {

using common::UniqueHandle;

namespace {

// The longest command line CreateProcessW takes on Windows, terminator
// included (Wine takes longer ones, Windows refuses them).
const size_t kMaxCommandLine = 32767;
// The longest single wait of the polling loops while a pipe is empty.
const DWORD kPollWait = 10;
// For this long after a read found data, an empty pipe is polled again after
// a yield instead of a wait: a writer that keeps the pipe busy refills it
// within microseconds, and a 10 ms wait would hold it to one pipe buffer per
// wait. Past it the writer is taken to be quiet and the loops wait.
const LONGLONG kYieldWindowMicroseconds = 1000;

LONGLONG Microseconds() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency;
}

// Milliseconds left before `timeout` has passed since `start`; 0 once it is
// reached. INFINITE stays INFINITE.
DWORD Remaining(DWORD start, DWORD timeout) {
    if (timeout == INFINITE) return INFINITE;
    DWORD elapsed = timeGetTime() - start;
    return elapsed >= timeout ? 0 : timeout - elapsed;
}

// The deadline is past once more than `timeout` ms have gone by, so a time-out
// of 0 still allows one look at the pipe.
bool PastDeadline(DWORD start, DWORD timeout) { return timeout != INFINITE && timeGetTime() - start > timeout; }

// What the child's output and error pipes hold: a child that writes fast
// runs this far ahead of its reader instead of waiting on each read of a
// pipe of the system's default size (a few KiB), and a reader may take it
// in one read. The input pipe keeps the default.
const DWORD kChildOutputPipeBytes = 1 << 20;

// An anonymous pipe whose child's end (theirs) is inheritable and whose
// parent's end (ours) is a non-inheritable duplicate, so that no other child
// inherits it and keeps the pipe open. On failure nothing is left open and
// GetLastError() says why (the owners keep it while they close).
bool MakePipe(UniqueHandle& theirs, UniqueHandle& ours, bool parentWrites) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, parentWrites ? 0 : kChildOutputPipeBytes)) return false;
    UniqueHandle& parentOriginal = parentWrites ? writeEnd : readEnd;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, parentOriginal.Get(), self, ours.Put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) return false;
    theirs = std::move(parentWrites ? readEnd : writeEnd);
    return true;
}

DWORD CreationFlagsOf(int flags) {
    static const struct {
        int bit;
        DWORD creation;
    } kMap[] = {
        {RUN_NEW_PROCESS_GROUP, CREATE_NEW_PROCESS_GROUP},
        {RUN_SUSPENDED, CREATE_SUSPENDED},
        {RUN_NO_WINDOW, CREATE_NO_WINDOW},
        {RUN_PRIORITY_IDLE, IDLE_PRIORITY_CLASS},
        {RUN_PRIORITY_BELOW_NORMAL, BELOW_NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_NORMAL, NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_ABOVE_NORMAL, ABOVE_NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_HIGH, HIGH_PRIORITY_CLASS},
        {RUN_PRIORITY_REALTIME, REALTIME_PRIORITY_CLASS},
    };
    DWORD creation = 0;
    for (const auto& entry : kMap) {
        if (flags & entry.bit) creation |= entry.creation;
    }
    return creation;
}

struct WindowCloseRequest {
    DWORD processId;
};

BOOL CALLBACK CloseFirstWindowOf(HWND window, LPARAM param) {
    const WindowCloseRequest* request = reinterpret_cast<const WindowCloseRequest*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != request->processId) return TRUE;
    PostMessageW(window, WM_CLOSE, 0, 0);
    return FALSE;
}

}  // namespace

C_Process::C_Process()
    : m_processId(NO_PROCESS),
      m_threadId(NO_PROCESS),
      m_exitCodeKnown(0),
      m_in(nullptr),
      m_out(nullptr),
      m_err(nullptr),
      m_exitCode(0),
      m_stdoutState(),
      m_stderrState() {}

C_Process::~C_Process() { Cleanup(); }

unsigned long C_Process::Run(const wchar_t* commandLine, int show, int flags, int waitIdle, void* environment,
                             const wchar_t* directory, SECURITY_ATTRIBUTES* processAttributes,
                             SECURITY_ATTRIBUTES* threadAttributes) {
    return _run(nullptr, commandLine, show, flags, waitIdle, environment, directory, processAttributes,
                threadAttributes);
}

unsigned long C_Process::RunFile(const wchar_t* file, const wchar_t* commandLine, int show, int flags, int waitIdle,
                                 void* environment, const wchar_t* directory) {
    if (!file || !*file) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NO_PROCESS;
    }
    return _run(file, commandLine, show, flags, waitIdle, environment, directory, nullptr, nullptr);
}

unsigned long C_Process::_run(const wchar_t* file, const wchar_t* commandLine, int show, int flags, int waitIdle,
                              void* environment, const wchar_t* directory, SECURITY_ATTRIBUTES* processAttributes,
                              SECURITY_ATTRIBUTES* threadAttributes) {
    if (m_process.Get()) {
        SetLastError(ERROR_BUSY);
        return NO_PROCESS;
    }
    if (!commandLine) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NO_PROCESS;
    }
    size_t length = wcslen(commandLine);
    if (length + 1 > kMaxCommandLine) {
        // Cutting the line would run a different command.
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NO_PROCESS;
    }
    int mode = flags & 0xFF;
    if (mode > RUN_PIPE_IN_OUT_ERR) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NO_PROCESS;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);

    const bool pipeIn = mode == RUN_PIPE_IN || mode == RUN_PIPE_IN_OUT || mode == RUN_PIPE_IN_OUT_ERR;
    const bool pipeOut =
        mode == RUN_PIPE_OUT || mode == RUN_PIPE_IN_OUT || mode == RUN_PIPE_OUT_ERR || mode == RUN_PIPE_IN_OUT_ERR;
    const bool pipeErr = mode == RUN_PIPE_OUT_ERR || mode == RUN_PIPE_IN_OUT_ERR;

    // Child's ends (theirs, inheritable) and parent's ends (ours) of the
    // pipes of this call. Every way out closes what is still held here, and
    // the owners keep the last error while they close.
    UniqueHandle childIn, parentIn;
    UniqueHandle childOut, parentOut;
    UniqueHandle childErr, parentErr;

    BOOL inherit = FALSE;
    if (pipeIn || pipeOut) {
        inherit = TRUE;
        startup.dwFlags |= STARTF_USESTDHANDLES;
        if ((pipeIn && !MakePipe(childIn, parentIn, true)) || (pipeOut && !MakePipe(childOut, parentOut, false)) ||
            (pipeErr && !MakePipe(childErr, parentErr, false)))
            return NO_PROCESS;
        // Streams without a pipe take their redirect, else the parent's handle.
        _ifneed_redirect_set(&startup, 1, !pipeIn, !pipeOut, !pipeOut);
        if (pipeIn) startup.hStdInput = childIn.Get();
        if (pipeOut) {
            startup.hStdOutput = childOut.Get();
            startup.hStdError = pipeErr ? childErr.Get() : childOut.Get();
        }
    } else {
        int used = _ifneed_redirect_set(&startup, 1, 1, 1, 1);
        if (flags & RUN_INHERIT_HANDLES) {
            inherit = TRUE;
            startup.dwFlags |= STARTF_USESTDHANDLES;
        }
        if (used > 0) {
            // A redirect's handle means something in the child only when
            // inherited.
            inherit = TRUE;
            startup.dwFlags |= STARTF_USESTDHANDLES;
        }
    }

    DWORD creation = _creation_flags(flags, show);

    if (flags & RUN_FLUSH_OUTPUT) {
        if (startup.dwFlags & STARTF_USESTDHANDLES) {
            if (startup.hStdOutput && startup.hStdOutput != INVALID_HANDLE_VALUE) FlushFileBuffers(startup.hStdOutput);
            if (startup.hStdError && startup.hStdError != INVALID_HANDLE_VALUE) FlushFileBuffers(startup.hStdError);
        } else {
            fflush(stdout);
            fflush(stderr);
        }
    }

    // CreateProcessW may write into the command line.
    wchar_t* line = new (std::nothrow) wchar_t[length + 1];
    if (!line) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NO_PROCESS;
    }
    wmemcpy(line, commandLine, length + 1);
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessW(file, line, processAttributes, threadAttributes, inherit, creation, environment,
                                  directory, &startup, &info);
    DWORD error = GetLastError();
    delete[] line;
    if (!started) {
        SetLastError(error);
        return NO_PROCESS;
    }

    CloseHandle(info.hThread);
    // The child holds its own copies of theirs now (closed on the way out:
    // ours would keep the pipes open after the child's end).
    m_stdinWrite = std::move(parentIn);
    m_stdoutRead = std::move(parentOut);
    m_stderrRead = std::move(parentErr);
    m_process.Reset(info.hProcess);
    m_processId = info.dwProcessId;
    m_threadId = info.dwThreadId;
    m_exitCodeKnown = 0;
    m_stdoutState = PipeState();
    m_stderrState = PipeState();
    if (waitIdle) WaitForInputIdle(m_process.Get(), INFINITE);
    return m_processId;
}

unsigned long C_Process::Run(const wchar_t* application, const wchar_t* arguments, int show, int flags, int waitIdle,
                             void* environment, const wchar_t* directory) {
    if (!application) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NO_PROCESS;
    }
    C_WString line(application);
    if (arguments && *arguments) {
        line += L" ";
        line += arguments;
    }
    return Run(line.GetString(), show, flags, waitIdle, environment, directory, nullptr, nullptr);
}

unsigned long C_Process::_creation_flags(int flags, int show) {
    DWORD creation = CreationFlagsOf(flags);
    if (show == 0) {
        if (!(flags & RUN_KEEP_CONSOLE)) creation |= DETACHED_PROCESS;
    } else if ((flags & 0xFF) == RUN_NEW_CONSOLE) {
        creation |= CREATE_NEW_CONSOLE;
    }
    return creation;
}

void C_Process::SetRedirectHandle(FileHandle* in, FileHandle* out, FileHandle* err) {
    _close_redirect();
    m_in = in;
    m_out = out;
    m_err = err;
}

int C_Process::ReaderStream(C_Memory* buffer, int size, int timeout) {
    return _read_stream(m_stdoutRead.Get(), buffer, size, timeout);
}

int C_Process::ReaderErrorStream(C_Memory* buffer, int size, int timeout) {
    return _read_stream(m_stderrRead.Get(), buffer, size, timeout);
}

bool C_Process::HasEnded() const { return !m_process || WaitForSingleObject(m_process.Get(), 0) != WAIT_TIMEOUT; }

void C_Process::RecordExitCode() {
    if (m_exitCodeKnown || !m_process) return;
    DWORD state = WaitForSingleObject(m_process.Get(), 0);
    if (state == WAIT_TIMEOUT) return;
    DWORD code = 0;
    if (!GetExitCodeProcess(m_process.Get(), &code)) return;
    // Without a usable wait, only a code other than the running mark is final.
    if (state != WAIT_OBJECT_0 && code == STILL_ACTIVE) return;
    m_exitCode = static_cast<int>(code);
    m_exitCodeKnown = 1;
}

C_Process::PipeState* C_Process::StateOf(HANDLE pipe) {
    if (!pipe) return nullptr;
    if (pipe == m_stdoutRead.Get()) return &m_stdoutState;
    if (pipe == m_stderrRead.Get()) return &m_stderrState;
    return nullptr;
}

DWORD C_Process::ReadAvailable(HANDLE pipe, PipeState* state, unsigned char* data, DWORD limit) {
    if (!pipe || limit == 0) return 0;
    DWORD available = state ? state->known : 0;
    if (available == 0 && (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0)) {
        return 0;
    }
    // Only bytes known to be there are asked for, so ReadFile never blocks.
    DWORD want = available < limit ? available : limit;
    DWORD got = 0;
    if (!ReadFile(pipe, data, want, &got, nullptr)) got = 0;
    if (state) state->known = got > 0 && got <= available ? available - got : 0;
    return got;
}

void C_Process::IdleWait(LONGLONG& yieldUntil, bool recentlyActive, DWORD start, DWORD timeout) {
    if (recentlyActive) {
        LONGLONG now = Microseconds();
        if (yieldUntil == 0) yieldUntil = now + kYieldWindowMicroseconds;
        if (now < yieldUntil) {
            SwitchToThread();
            return;
        }
    }
    DWORD wait = Remaining(start, timeout);
    // One step past the deadline, so the next look sees it passed.
    if (wait != INFINITE) ++wait;
    if (wait > kPollWait) wait = kPollWait;
    if (m_process.Get()) {
        WaitForSingleObject(m_process.Get(), wait);
    } else {
        Sleep(wait);
    }
}

int C_Process::_read_stream(HANDLE pipe, C_Memory* buffer, int size, int timeout) {
    if (!buffer || size < 0) return -1;
    if (buffer->GetSize() < static_cast<unsigned long>(size)) buffer->CreateBuffer(static_cast<unsigned long>(size));
    const DWORD start = timeGetTime();
    const DWORD limit = static_cast<DWORD>(timeout);
    if (size == 0) return 0;

    unsigned char* data = static_cast<unsigned char*>(buffer->GetMemory());
    PipeState* state = StateOf(pipe);
    bool active = state && state->active;
    int count = 0;
    LONGLONG yieldUntil = 0;
    for (;;) {
        DWORD got = ReadAvailable(pipe, state, data + count, static_cast<DWORD>(size - count));
        if (got > 0) {
            count += static_cast<int>(got);
            active = true;
            yieldUntil = 0;
            if (count >= size || PastDeadline(start, limit)) break;
            continue;
        }
        if (HasEnded()) {
            // What the child wrote just before its end is in the pipe by now;
            // later bytes (from a grandchild holding the pipe) are left to the
            // next call, so that this one cannot go on while they keep coming.
            count += static_cast<int>(ReadAvailable(pipe, state, data + count, static_cast<DWORD>(size - count)));
            RecordExitCode();
            if (state) state->active = count > 0;
            return count > 0 ? count : -1;
        }
        if (PastDeadline(start, limit)) break;
        IdleWait(yieldUntil, active, start, limit);
    }
    if (state) state->active = count > 0;
    return count;
}

int C_Process::Read(C_Memory* buffer, unsigned long timeout) {
    if (!buffer) return 0;
    const DWORD start = timeGetTime();
    HANDLE pipe = m_stdoutRead.Get();
    PipeState* state = StateOf(pipe);
    bool active = state && state->active;
    unsigned long count = 0;
    LONGLONG yieldUntil = 0;
    // Reads all that the pipe holds; false when it held nothing.
    auto readAll = [&]() {
        if (!pipe) return false;
        DWORD available = state ? state->known : 0;
        if (available == 0) {
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return false;
            // Spares ReadAvailable a second peek.
            if (state) state->known = available;
        }
        if (buffer->GetSize() < count + available + 1 && !buffer->ReCreateBuffer(buffer->GetSize() + available + 1)) {
            return false;
        }
        unsigned char* data = static_cast<unsigned char*>(buffer->GetMemory());
        DWORD got = ReadAvailable(pipe, state, data + count, available);
        count += got;
        return got > 0;
    };

    for (;;) {
        // Taken before the peek: once the child has ended, what it wrote is
        // in the pipe and this pass takes it. Looked at on every pass, so
        // that a grandchild that keeps writing cannot hold the call.
        bool ended = HasEnded();
        bool got = readAll();
        if (ended) {
            RecordExitCode();
            break;
        }
        if (got) {
            active = true;
            yieldUntil = 0;
        }
        if (PastDeadline(start, timeout)) break;
        if (!got) IdleWait(yieldUntil, active, start, timeout);
    }
    if (state) state->active = count > 0;
    return static_cast<int>(count);
}

int C_Process::_is_readable(HANDLE pipe, unsigned long* available) {
    if (!pipe) return 0;
    DWORD bytes = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &bytes, nullptr)) return 0;
    if (available) *available = bytes;
    return 1;
}

int C_Process::IsReadable_stdout(unsigned long* available) { return _is_readable(m_stdoutRead.Get(), available); }

int C_Process::IsReadable_stderr(unsigned long* available) { return _is_readable(m_stderrRead.Get(), available); }

int C_Process::Write(const void* data, unsigned int size, unsigned long timeout) {
    if (!m_stdinWrite || !data || size == 0) return 0;
    const DWORD start = timeGetTime();
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    unsigned int written = 0;
    for (;;) {
        bool ended = HasEnded();
        DWORD put = 0;
        if (!WriteFile(m_stdinWrite.Get(), bytes + written, size - written, &put, nullptr)) {
            // The reading side is gone (or the handle is broken): retrying
            // cannot succeed.
            written += put;
            break;
        }
        written += put;
        if (written >= size || ended || PastDeadline(start, timeout)) break;
        if (put == 0) {
            DWORD wait = Remaining(start, timeout);
            if (wait > kPollWait) wait = kPollWait;
            WaitForSingleObject(m_process.Get(), wait);
        }
    }
    return static_cast<int>(written);
}

int C_Process::WriteLineA(const C_String& line, unsigned long timeout) {
    C_String text(line);
    text += "\n";
    return Write(text.GetString(), static_cast<unsigned int>(text.Length()), timeout);
}

int C_Process::WriteLineW(const C_WString& line, unsigned long timeout) { return WriteLineA(line.ToString(), timeout); }

int C_Process::WriteLine(const C_WString& line, unsigned long timeout) { return WriteLineW(line, timeout); }

void C_Process::EndWrite() { m_stdinWrite.Reset(); }

int C_Process::Join(unsigned long timeout) {
    if (!m_process) return 2;
    EndWrite();
    DWORD result = WaitForSingleObject(m_process.Get(), timeout);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        Cleanup();
        return 0;
    }
    return result == WAIT_TIMEOUT ? 1 : 2;
}

int C_Process::Exit(unsigned long timeout) {
    if (!m_process) return 2;
    WindowCloseRequest request = {m_processId};
    EnumWindows(CloseFirstWindowOf, reinterpret_cast<LPARAM>(&request));
    return Join(timeout);
}

int C_Process::TryExit() { return Exit(1000); }

void C_Process::Terminate() {
    if (!m_process) return;
    if (!TerminateProcess(m_process.Get(), 0xFFFFFFFF)) return;
    // Termination completes asynchronously; until it has, the system still
    // reports STILL_ACTIVE, which must not be recorded as the code.
    WaitForSingleObject(m_process.Get(), 1000);
    Cleanup();
}

int C_Process::GetExitCode(int* known) {
    RecordExitCode();
    if (m_exitCodeKnown) {
        if (known) *known = 1;
        return m_exitCode;
    }
    if (known) *known = 0;
    // A child that still runs: the system's running mark, not a final code.
    if (m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT) return static_cast<int>(STILL_ACTIVE);
    return -1;
}

int C_Process::IsExist() const { return m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT ? 1 : 0; }

void C_Process::Cleanup() {
    RecordExitCode();
    _close_redirect();
    m_stdoutRead.Reset();
    m_stdinWrite.Reset();
    m_stderrRead.Reset();
    m_process.Reset();
    m_processId = NO_PROCESS;
    m_threadId = NO_PROCESS;
    m_stdoutState = PipeState();
    m_stderrState = PipeState();
}

void C_Process::_close_redirect() {
    FileHandle** slots[3] = {&m_in, &m_out, &m_err};
    FileHandle* deleted[3] = {nullptr, nullptr, nullptr};
    int n = 0;
    for (FileHandle** slot : slots) {
        FileHandle* handle = *slot;
        *slot = nullptr;
        if (!handle) continue;
        bool seen = false;
        for (int i = 0; i < n; ++i) seen = seen || deleted[i] == handle;
        if (seen) continue;
        deleted[n++] = handle;
        FileHandle::CloseFileHandle(&handle);
    }
}

int C_Process::_ifneed_redirect_set(STARTUPINFOW* startup, int useStd, int in, int out, int err) {
    if (!startup) return 0;
    const struct {
        int wanted;
        FileHandle* redirect;
        HANDLE* field;
        DWORD standard;
    } streams[] = {
        {in, m_in, &startup->hStdInput, STD_INPUT_HANDLE},
        {out, m_out, &startup->hStdOutput, STD_OUTPUT_HANDLE},
        {err, m_err, &startup->hStdError, STD_ERROR_HANDLE},
    };
    int used = 0;
    for (const auto& stream : streams) {
        if (!stream.wanted) continue;
        if (stream.redirect) {
            *stream.field = stream.redirect->GetHandle();
            ++used;
        } else if (useStd) {
            *stream.field = GetStdHandle(stream.standard);
        }
    }
    return used;
}

}  // namespace kovra
