#pragma once

#include <windows.h>

#include "kovra/FileHandle.h"
#include "kovra/KovraApi.h"
#include "kovra/common/UniqueHandle.h"

namespace kovra {

class C_Memory;
class C_String;
class C_WString;

// Pipe modes of C_Process::Run: the low byte of its flags.
//   mode                 input                  output               error
//   RUN_PIPE_NONE        redirect or parent's   redirect or parent's redirect or parent's
//   RUN_PIPE_OUT         redirect or parent's   pipe A               pipe A (same write end)
//   RUN_PIPE_IN          pipe                   redirect or parent's redirect or parent's
//   RUN_PIPE_IN_OUT      pipe                   pipe A               pipe A (same write end)
//   RUN_NEW_CONSOLE      as RUN_PIPE_NONE; with a non-zero show value the
//                        child gets a console of its own
//   RUN_PIPE_OUT_ERR     redirect or parent's   pipe A               pipe B
//   RUN_PIPE_IN_OUT_ERR  pipe                   pipe A               pipe B
constexpr int RUN_PIPE_NONE = 0;
constexpr int RUN_PIPE_OUT = 1;
constexpr int RUN_PIPE_IN = 2;
constexpr int RUN_PIPE_IN_OUT = 3;
constexpr int RUN_NEW_CONSOLE = 4;
constexpr int RUN_PIPE_OUT_ERR = 5;
constexpr int RUN_PIPE_IN_OUT_ERR = 6;

// No process: what C_Process::Run returns when it started none, and the id
// that GetProcessID and GetThreadId report while none was started.
constexpr unsigned long NO_PROCESS = 0xFFFFFFFF;

// Option bits of C_Process::Run, above the pipe mode. Set at most one
// priority bit.
constexpr int RUN_NEW_PROCESS_GROUP = 0x100;  // CREATE_NEW_PROCESS_GROUP
constexpr int RUN_SUSPENDED = 0x200;          // CREATE_SUSPENDED
constexpr int RUN_NO_WINDOW = 0x400;          // CREATE_NO_WINDOW
constexpr int RUN_KEEP_CONSOLE = 0x800;       // a hidden child is not detached
constexpr int RUN_INHERIT_HANDLES = 0x1000;   // modes 0 and 4: inherit, pass standard handles
constexpr int RUN_FLUSH_OUTPUT = 0x2000;      // flush the outputs the child shares
constexpr int RUN_PRIORITY_IDLE = 0x10000;
constexpr int RUN_PRIORITY_BELOW_NORMAL = 0x20000;
constexpr int RUN_PRIORITY_NORMAL = 0x40000;
constexpr int RUN_PRIORITY_ABOVE_NORMAL = 0x80000;
constexpr int RUN_PRIORITY_HIGH = 0x100000;
constexpr int RUN_PRIORITY_REALTIME = 0x200000;

// One child process started with CreateProcessW, its standard streams on
// anonymous pipes or on redirect handles, polled from one thread.
//
// The object owns the parent's pipe ends (never inheritable), the process
// handle and the three redirects. A child is held from a successful Run to
// the Cleanup that Join or Exit (returning 0), Terminate or the destructor
// run; Cleanup also closes the pipes, so drain them before the Join that
// reports the end. The exit code of the last child stays readable after
// Cleanup until the next successful Run.
//
// Times are milliseconds measured with timeGetTime; 0xFFFFFFFF means no
// limit.
//
// Choices where the behaviour was open:
// - Run refuses a command line of more than 32767 characters with its
//   terminator (the most CreateProcessW takes on Windows): 0xFFFFFFFF,
//   nothing made, GetLastError() ERROR_FILENAME_EXCED_RANGE. A null command
//   line, or a null application in the second form, gives 0xFFFFFFFF with
//   ERROR_INVALID_PARAMETER.
// - In pipe modes 0 and 4, redirects reach the child only through handle
//   inheritance, so setting any redirect makes the child inherit handles
//   even without RUN_INHERIT_HANDLES (otherwise the child would get handle
//   values that mean nothing, or something else, in its own table).
// - The reads peek first and wait (on the process, at most 10 ms) only while
//   the pipe is empty; after a read that found data they poll the empty pipe
//   with short yields for a moment before waiting, so a fast writer is not
//   held to one pipe buffer per wait. A child that has ended makes a read
//   return after the bytes then in the pipe (at most `size`), so repeated
//   calls drain it, then -1 even when a grandchild still holds the pipe.
// - GetExitCode on a child that still runs returns STILL_ACTIVE (259) with
//   *known = 0 and records nothing; an ended child's code is recorded, 259
//   included. Terminate waits up to 1000 ms for the end before its Cleanup,
//   so the recorded code is the real one; a Cleanup of a child that still
//   runs (the destructor of a launcher, say) records nothing.
// - Write returns 0 at once without an input pipe, and stops at a failing
//   WriteFile (the child closed its input) instead of retrying.
// - The output and error pipes are made to hold 1 MiB (CreatePipe's size),
//   the input pipe the system's default: a child that writes fast is not
//   held to a few KiB per read of its reader.
class KOVRA_API C_Process {
public:
    C_Process();
    virtual ~C_Process();

    // Starts the child; its process id, or 0xFFFFFFFF on failure (a child
    // is already held, a pipe cannot be made, the command line is too long
    // or CreateProcessW fails; every handle made in the call is closed then
    // and the state of a previous run is untouched). `flags` is a pipe mode
    // plus option bits; `show` goes to wShowWindow (0 hidden and detached
    // unless RUN_KEEP_CONSOLE); `waitIdle` non-zero waits with
    // WaitForInputIdle; `environment` (ANSI block) and `directory` null mean
    // the parent's.
    [[nodiscard]] unsigned long Run(const wchar_t* commandLine, int show, int flags, int waitIdle, void* environment,
                                    const wchar_t* directory, SECURITY_ATTRIBUTES* processAttributes,
                                    SECURITY_ATTRIBUTES* threadAttributes);
    // Starts the program `file` (a path, searched for nowhere: CreateProcessW's
    // application name) with `commandLine` as it is, its first word included;
    // otherwise as Run. A null or empty `file` gives 0xFFFFFFFF with
    // ERROR_INVALID_PARAMETER.
    [[nodiscard]] unsigned long RunFile(const wchar_t* file, const wchar_t* commandLine, int show, int flags,
                                        int waitIdle, void* environment, const wchar_t* directory);
    // `application`, then one blank and `arguments` when those are non-null
    // and non-empty.
    [[nodiscard]] unsigned long Run(const wchar_t* application, const wchar_t* arguments, int show, int flags,
                                    int waitIdle, void* environment, const wchar_t* directory);

    // Deletes the redirects held so far, then owns the three given (each may
    // be null; the same object may be given for several streams).
    void SetRedirectHandle(FileHandle* in, FileHandle* out, FileHandle* err);

    // Reads at most `size` bytes of the output (error) pipe to the start of
    // `buffer`, which is replaced by a zeroed buffer of exactly `size` bytes
    // when smaller. Returns the count once `size` bytes came or at the
    // deadline (0 when nothing came); once the child has ended, returns the
    // bytes then buffered (at most `size`), or -1 when there are none. -1 for
    // a null buffer or a negative size; 0 at once for a size of 0.
    int ReaderStream(C_Memory* buffer, int size, int timeout);
    int ReaderErrorStream(C_Memory* buffer, int size, int timeout);
    // Reads the output pipe to the start of `buffer`, growing it as needed
    // (by the bytes available and one more; content kept), until the deadline
    // or the child's end; returns the count (0 for a null buffer).
    int Read(C_Memory* buffer, unsigned long timeout);
    // 1 when the pipe exists and can be peeked, storing the bytes available
    // (also 0) through `available` when non-null; else 0.
    int IsReadable_stdout(unsigned long* available);
    int IsReadable_stderr(unsigned long* available);

    // Writes to the input pipe; the bytes written. Stops at the deadline,
    // when the child has ended or when WriteFile fails. WriteFile blocks
    // while the pipe is full.
    int Write(const void* data, unsigned int size, unsigned long timeout);
    // `line` and "\n".
    int WriteLineA(const C_String& line, unsigned long timeout);
    // `line` in the system's ANSI code page, and "\n".
    int WriteLineW(const C_WString& line, unsigned long timeout);
    int WriteLine(const C_WString& line, unsigned long timeout);
    // Closes the input pipe: the child sees the end of its input.
    void EndWrite();

    // Closes the input pipe and waits for the child: 0 it has ended (then
    // Cleanup), 1 time-out, 2 no child or the wait failed.
    int Join(unsigned long timeout);
    // Posts WM_CLOSE to the child's first top-level window (if any), then
    // as Join.
    int Exit(unsigned long timeout);
    int TryExit();  // Exit(1000)
    // Ends the child with exit code 0xFFFFFFFF, then Cleanup; nothing when
    // no child is held or TerminateProcess fails.
    void Terminate();

    // The exit code: stored 1 through `known` when it is final. -1 with 0
    // when no code is known; 259 with 0 while the child still runs.
    int GetExitCode(int* known);
    // 1 while the held child runs.
    int IsExist() const;
    HANDLE GetHandle() const { return m_process.Get(); }
    // The parent's read ends of the output and error pipes (null when the
    // pipe mode made none), for a caller that reads them in its own way:
    // from threads with blocking reads, say. Read a pipe either so or with
    // the Reader calls, not both (their peeks keep count of what they saw).
    // The object still owns the handles and closes them at Cleanup: a reader
    // that may still be blocked then reads a duplicate of its own.
    HANDLE GetStdoutPipe() const { return m_stdoutRead.Get(); }
    HANDLE GetStderrPipe() const { return m_stderrRead.Get(); }
    unsigned long GetProcessID() const { return m_processId; }
    unsigned long GetThreadId() const { return m_threadId; }

    // Records the exit code of an ended child, deletes the redirects and
    // closes every handle; the object can run another child afterwards.
    void Cleanup();

protected:
    // Deletes the three redirects, each distinct object once, and nulls them.
    void _close_redirect();
    // The body of ReaderStream and ReaderErrorStream, on any pipe end.
    int _read_stream(HANDLE pipe, C_Memory* buffer, int size, int timeout);
    // The peek of IsReadable_stdout on any handle.
    int _is_readable(HANDLE pipe, unsigned long* available);
    // Run and RunFile: `file` null lets CreateProcessW find the program by
    // the command line's first word.
    unsigned long _run(const wchar_t* file, const wchar_t* commandLine, int show, int flags, int waitIdle,
                       void* environment, const wchar_t* directory, SECURITY_ATTRIBUTES* processAttributes,
                       SECURITY_ATTRIBUTES* threadAttributes);
    // The CreateProcessW creation flags of Run: the option bits mapped, plus
    // DETACHED_PROCESS for show 0 without RUN_KEEP_CONSOLE, or
    // CREATE_NEW_CONSOLE for a non-zero show in pipe mode 4.
    static unsigned long _creation_flags(int flags, int show);
    // For each stream whose argument is non-zero: the redirect's handle when
    // set, otherwise (with `useStd` non-zero) the parent's standard handle,
    // into the startup record. Returns how many redirects were used.
    int _ifneed_redirect_set(STARTUPINFOW* startup, int useStd, int in, int out, int err);

private:
    C_Process(const C_Process&) = delete;
    C_Process& operator=(const C_Process&) = delete;

    // Whether the held child has ended (no child counts as ended).
    bool HasEnded() const;
    // Stores the code of an ended child; nothing while it runs.
    void RecordExitCode();
    // What the reads remember of one of the object's own read ends.
    struct PipeState {
        // Bytes that an earlier peek reported and no read has taken yet:
        // only this object reads its ends, so they can be read without
        // another peek and without blocking.
        DWORD known;
        // Whether the last read found data (the writer is busy).
        bool active;
    };
    PipeState* StateOf(HANDLE pipe);
    // Reads up to `limit` bytes that are in the pipe to `data` without
    // blocking; 0 when the pipe is empty or cannot be peeked.
    DWORD ReadAvailable(HANDLE pipe, PipeState* state, unsigned char* data, DWORD limit);
    // Waits while a pipe is empty: yields for about a millisecond after data
    // was seen (`yieldUntil` 0 starts that window), then on the process for
    // at most 10 ms, never much past the deadline.
    void IdleWait(LONGLONG& yieldUntil, bool recentlyActive, DWORD start, DWORD timeout);

    common::UniqueHandle m_stdoutRead;  // parent's ends: empty when none
    common::UniqueHandle m_stdinWrite;
    common::UniqueHandle m_stderrRead;
    common::UniqueHandle m_process;  // empty when no child is held
    unsigned long m_processId;
    unsigned long m_threadId;
    int m_exitCodeKnown;
    FileHandle* m_in;
    FileHandle* m_out;
    FileHandle* m_err;
    int m_exitCode;
    PipeState m_stdoutState;
    PipeState m_stderrState;
};

}  // namespace kovra
