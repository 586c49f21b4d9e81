#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ProcessChildren.h"
#include "kovra/C_Memory.h"
#include "kovra/C_Process.h"
#include "kovra/C_String.h"
#include "kovra/C_WString.h"
#include "kovra/FileHandle.h"
#include "kovra/RedirectHandle.h"
#include "support/TestSupport.h"

using namespace kovra;
using namespace processtest;
using testsupport::ChildCommand;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

const unsigned long kFailed = 0xFFFFFFFF;
const int kInfinite = -1;  // ReaderStream's "no deadline"

unsigned long Start(C_Process& process, const wchar_t* child, const std::wstring& args, int flags) {
    return process.Run(ChildCommand(child, args).c_str(), 0, flags, 0, nullptr, nullptr, nullptr, nullptr);
}

std::string Bytes(C_Memory& buffer, int n) {
    return n > 0 ? std::string(static_cast<const char*>(buffer.GetMemoryEx()), static_cast<size_t>(n)) : std::string();
}

// Waits until the held child has ended, without touching the object.
bool WaitForEnd(C_Process& process, DWORD ms = 30000) {
    return process.GetHandle() && WaitForSingleObject(process.GetHandle(), ms) == WAIT_OBJECT_0;
}

// A redirect that counts its deletions.
struct CountingHandle : FileHandle {
    explicit CountingHandle(int* deletions) : deletions_(deletions) {}
    ~CountingHandle() override { ++*deletions_; }
    int* deletions_;
};

// The handles this process has open, counted by trying every handle value
// in the low range (Wine 8's GetProcessHandleCount always answers 0).
int HandleCount() {
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x8000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

}  // namespace

TEST(Process, EmptyObject) {
    C_Process process;
    int known = 7;
    EXPECT_EQ(-1, process.GetExitCode(&known));
    EXPECT_EQ(0, known);
    EXPECT_EQ(-1, process.GetExitCode(nullptr));
    EXPECT_EQ(2, process.Join(0));
    EXPECT_EQ(2, process.Exit(0));
    EXPECT_EQ(2, process.TryExit());
    process.Terminate();
    EXPECT_EQ(0, process.IsExist());
    EXPECT_EQ(nullptr, process.GetHandle());
    EXPECT_EQ(kFailed, process.GetProcessID());
    EXPECT_EQ(kFailed, process.GetThreadId());
    unsigned long available = 99;
    EXPECT_EQ(0, process.IsReadable_stdout(&available));
    EXPECT_EQ(0, process.IsReadable_stderr(nullptr));
    EXPECT_EQ(99u, available);
    C_Memory buffer;
    EXPECT_EQ(-1, process.ReaderStream(&buffer, 16, 0)) << "no child: nothing more will come";
    EXPECT_EQ(-1, process.ReaderErrorStream(&buffer, 16, kInfinite));
    EXPECT_EQ(0, process.Read(&buffer, 0));
    EXPECT_EQ(0, process.Write("x", 1, 0));
    process.EndWrite();
    process.Cleanup();
    EXPECT_EQ(-1, process.GetExitCode(&known));
}

TEST(Process, ExitCodesAfterJoin) {
    // 259 is the system's running mark; a child that really ends with it
    // must still be reported as ended with 259.
    const unsigned long codes[] = {0, 1, 42, 259, 0x12345678};
    for (unsigned long code : codes) {
        SCOPED_TRACE(code);
        C_Process process;
        unsigned long pid = Start(process, L"exit_code", std::to_wstring(code), RUN_PIPE_IN_OUT_ERR);
        ASSERT_NE(kFailed, pid);
        EXPECT_EQ(pid, process.GetProcessID());
        EXPECT_NE(kFailed, process.GetThreadId());
        EXPECT_NE(nullptr, process.GetHandle());
        ASSERT_EQ(0, process.Join(30000));
        EXPECT_EQ(nullptr, process.GetHandle());
        EXPECT_EQ(kFailed, process.GetProcessID());
        EXPECT_EQ(kFailed, process.GetThreadId());
        int known = 0;
        EXPECT_EQ(static_cast<int>(code), process.GetExitCode(&known));
        EXPECT_EQ(1, known);
        EXPECT_EQ(2, process.Join(0)) << "the child is no longer held";
    }
}

TEST(Process, RunningChildReportsStillActiveWithoutRecordingIt) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"sleep_exit", L"300 12", RUN_PIPE_IN_OUT_ERR));
    EXPECT_EQ(1, process.IsExist());
    EXPECT_EQ(1, process.Join(0));
    int known = 5;
    EXPECT_EQ(259, process.GetExitCode(&known));
    EXPECT_EQ(0, known) << "a running child has no final code yet";
    ASSERT_EQ(0, process.Join(30000));
    EXPECT_EQ(12, process.GetExitCode(&known));
    EXPECT_EQ(1, known);
    EXPECT_EQ(0, process.IsExist());
}

TEST(Process, TerminateRecordsTheRealCode) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"sleep_exit", L"30000 0", RUN_PIPE_IN_OUT_ERR));
    process.Terminate();
    EXPECT_EQ(nullptr, process.GetHandle());
    EXPECT_EQ(kFailed, process.GetProcessID());
    int known = 0;
    EXPECT_EQ(-1, process.GetExitCode(&known)) << "0xFFFFFFFF, not a stale 259";
    EXPECT_EQ(1, known);
    process.Terminate();  // nothing held any more
    EXPECT_EQ(-1, process.GetExitCode(&known));
    EXPECT_EQ(1, known);
}

TEST(Process, CleanupLeavesARunningChildRunning) {
    // The launcher's end: its object goes, the started copy runs on.
    C_Process process;
    unsigned long pid = Start(process, L"sleep_exit", L"30000 0", RUN_PIPE_NONE);
    ASSERT_NE(kFailed, pid);
    process.Cleanup();
    int known = 1;
    EXPECT_EQ(-1, process.GetExitCode(&known)) << "no code recorded for a child that runs";
    EXPECT_EQ(0, known);
    HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(child, 0));
    TerminateProcess(child, 1);
    CloseHandle(child);
}

TEST(Process, RunWhileAChildIsHeldLeavesItAlone) {
    C_Process process;
    unsigned long pid = Start(process, L"echo_stdin", L"", RUN_PIPE_IN_OUT_ERR);
    ASSERT_NE(kFailed, pid);
    HANDLE handle = process.GetHandle();
    unsigned long thread = process.GetThreadId();

    EXPECT_EQ(kFailed, Start(process, L"exit_code", L"3", RUN_PIPE_IN_OUT_ERR));
    EXPECT_EQ(kFailed, process.Run(L"x.exe", nullptr, 0, 0, 0, nullptr, nullptr));
    EXPECT_EQ(pid, process.GetProcessID());
    EXPECT_EQ(handle, process.GetHandle());
    EXPECT_EQ(thread, process.GetThreadId());
    EXPECT_EQ(1, process.IsExist());

    // Its pipes still work.
    EXPECT_EQ(5, process.Write("still", 5, 10000));
    process.EndWrite();
    Drained d = DrainLikeTheTask(process);
    EXPECT_TRUE(d.finished);
    EXPECT_EQ("still", d.out);
    EXPECT_EQ(0, process.Join(30000));
}

TEST(Process, PipeModes) {
    struct ModeCase {
        int mode;
        bool inputPipe;
        bool errorPipe;
        const char* out;  // what the output pipe carries
    };
    // write_both writes "OUT" to its output, then "ERR" to its error.
    const ModeCase cases[] = {
        {RUN_PIPE_OUT, false, false, "OUTERR"},
        {RUN_PIPE_IN_OUT, true, false, "OUTERR"},
        {RUN_PIPE_OUT_ERR, false, true, "OUT"},
        {RUN_PIPE_IN_OUT_ERR, true, true, "OUT"},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.mode);
        C_Process process;
        ASSERT_NE(kFailed, Start(process, L"write_both", L"", c.mode));
        EXPECT_EQ(c.errorPipe ? 1 : 0, process.IsReadable_stderr(nullptr));
        if (!c.inputPipe) {
            EXPECT_EQ(0, process.Write("x", 1, 100)) << "no input pipe";
        }
        Drained d = DrainLikeTheTask(process);
        EXPECT_TRUE(d.finished);
        EXPECT_EQ(c.out, d.out);
        EXPECT_EQ(c.errorPipe ? "ERR" : "", d.err);
        C_Memory buffer;
        EXPECT_EQ(-1, process.ReaderErrorStream(&buffer, 16, 50)) << "ended: nothing (more) on the error side";
        // Our copies of the child's ends are closed, so the drained pipes
        // report their end.
        EXPECT_EQ(0, process.IsReadable_stdout(nullptr));
        EXPECT_EQ(0, process.IsReadable_stderr(nullptr));
        EXPECT_EQ(0, process.Join(30000));
    }
}

TEST(Process, InputPipeWithRedirectedOutputs) {
    TempDir dir;
    std::wstring out = dir.File(L"out.txt");
    std::wstring err = dir.File(L"err.txt");
    C_Process process;
    process.SetRedirectHandle(nullptr, RedirectHandle::CreateStdouterr(out.c_str()),
                              RedirectHandle::CreateStdouterr(err.c_str()));
    ASSERT_NE(kFailed, Start(process, L"echo_both", L"", RUN_PIPE_IN));
    EXPECT_EQ(0, process.IsReadable_stdout(nullptr));
    EXPECT_EQ(6, process.Write("piped\n", 6, 10000));
    ASSERT_EQ(0, process.Join(30000));
    EXPECT_EQ("in:piped\n", ReadFileBytes(out));
    EXPECT_EQ("err:piped\n", ReadFileBytes(err));
}

TEST(Process, RedirectsInModesWithoutPipes) {
    // Mode 0 and 4, with and without RUN_INHERIT_HANDLES: redirects only
    // reach the child through inheritance, which they bring about.
    const int flagSets[] = {RUN_PIPE_NONE | RUN_INHERIT_HANDLES, RUN_NEW_CONSOLE | RUN_INHERIT_HANDLES, RUN_PIPE_NONE};
    for (int flags : flagSets) {
        SCOPED_TRACE(flags);
        TempDir dir;
        std::wstring in = dir.File(L"in.txt");
        std::wstring out = dir.File(L"out.txt");
        std::wstring err = dir.File(L"err.txt");
        ASSERT_TRUE(WriteFileBytes(in, "from file"));
        ASSERT_TRUE(WriteFileBytes(err, "kept;"));
        C_Process process;
        process.SetRedirectHandle(
            RedirectHandle::CreateStdin(in.c_str()), RedirectHandle::CreateStdouterr(out.c_str()),
            RedirectHandle::CreateRedirectHandle(err.c_str(), FH_WRITE | FH_SHARE_READ, FH_APPEND));
        ASSERT_NE(kFailed, Start(process, L"echo_both", L"", flags));
        EXPECT_EQ(0, process.IsReadable_stdout(nullptr));
        ASSERT_EQ(0, process.Join(30000));
        int known = 0;
        EXPECT_EQ(0, process.GetExitCode(&known));
        EXPECT_EQ("in:from file", ReadFileBytes(out));
        EXPECT_EQ("kept;err:from file", ReadFileBytes(err));
    }
}

TEST(Process, ParentHandlesPassToTheChildWithInheritance) {
    // The launcher's pass-through start: mode 0 with RUN_INHERIT_HANDLES and
    // no redirects gives the child the parent's own standard handles.
    testsupport::RunResult r = testsupport::RunCapture(ChildCommand(L"nested", std::to_wstring(RUN_INHERIT_HANDLES)));
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ("OUTERR", r.out);
}

TEST(Process, EveryHandleIsClosedAfterTheRun) {
    int before = HandleCount();
    ASSERT_GT(before, 0);
    TempDir dir;
    for (int mode : {RUN_PIPE_IN_OUT_ERR, RUN_PIPE_OUT, RUN_PIPE_NONE | RUN_INHERIT_HANDLES}) {
        SCOPED_TRACE(mode);
        C_Process process;
        process.SetRedirectHandle(nullptr, RedirectHandle::CreateStdouterr(dir.File(L"out.txt").c_str()),
                                  RedirectHandle::CreateStdouterr(dir.File(L"err.txt").c_str()));
        ASSERT_NE(kFailed, Start(process, L"write_both", L"", mode));
        EXPECT_GT(HandleCount(), before);
        DrainLikeTheTask(process);
        ASSERT_EQ(0, process.Join(30000));
        EXPECT_EQ(before, HandleCount());
    }
}

TEST(Process, InvalidPipeModeIsRefused) {
    C_Process process;
    EXPECT_EQ(kFailed, Start(process, L"exit_code", L"0", 7));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, process.GetHandle());
}

TEST(Process, WriteAndEndWriteToAnEchoingChild) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"echo_stdin", L"", RUN_PIPE_IN_OUT_ERR));
    EXPECT_EQ(5, process.Write("hello", 5, 10000));
    EXPECT_EQ(0, process.Write("ignored", 0, 10000));
    EXPECT_EQ(0, process.Write(nullptr, 3, 10000));
    EXPECT_EQ(4, process.WriteLineA(C_String("abc"), 10000));
    EXPECT_EQ(3, process.WriteLineW(C_WString(L"xy"), 10000));
    EXPECT_EQ(2, process.WriteLine(C_WString(L"z"), 10000));
    process.EndWrite();
    EXPECT_EQ(0, process.Write("late", 4, 100)) << "input closed";
    Drained d = DrainLikeTheTask(process);
    EXPECT_TRUE(d.finished);
    EXPECT_EQ("helloabc\nxy\nz\n", d.out);
    EXPECT_EQ(0, process.Join(30000));
}

TEST(Process, LargeInputThroughWrite) {
    // More than a pipe holds: Write blocks in WriteFile while the child
    // echoes, so the output is drained meanwhile by nobody; keep it within
    // what both pipes hold together with the child's buffer, and read after.
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"echo_stdin", L"", RUN_PIPE_IN_OUT_ERR));
    std::string data = Pattern(3000);
    EXPECT_EQ(3000, process.Write(data.data(), 3000, 10000));
    process.EndWrite();
    Drained d = DrainLikeTheTask(process);
    EXPECT_EQ(data, d.out);
    EXPECT_EQ(0, process.Join(30000));
}

TEST(Process, ExitOnAWindowlessChild) {
    // It closes the input: a child that reads it to the end then ends in time.
    C_Process echo;
    ASSERT_NE(kFailed, Start(echo, L"echo_stdin", L"", RUN_PIPE_IN_OUT_ERR));
    EXPECT_EQ(0, echo.Exit(30000));
    EXPECT_EQ(nullptr, echo.GetHandle());
    int known = 0;
    EXPECT_EQ(0, echo.GetExitCode(&known));
    EXPECT_EQ(1, known);

    // A child that neither reads nor has a window outlasts the time-out.
    C_Process sleeper;
    ASSERT_NE(kFailed, Start(sleeper, L"sleep_exit", L"30000 0", RUN_PIPE_IN_OUT_ERR));
    EXPECT_EQ(1, sleeper.Exit(200));
    EXPECT_EQ(1, sleeper.IsExist());
    sleeper.Terminate();
    EXPECT_EQ(0, sleeper.IsExist());
}

TEST(Process, ExitClosesTheChildsWindow) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"window", L"", RUN_PIPE_IN_OUT_ERR));
    C_Memory buffer;
    std::string ready;
    while (ready.size() < 5) {
        int n = process.ReaderStream(&buffer, 5, 30000);
        if (n <= 0) break;
        ready += Bytes(buffer, n);
    }
    ASSERT_EQ("ready", ready) << "exit code " << process.GetExitCode(nullptr);
    int result = process.Exit(30000);
    if (result != 0) process.Terminate();
    ASSERT_EQ(0, result);
    int known = 0;
    EXPECT_EQ(9, process.GetExitCode(&known)) << "ended by its WM_CLOSE handler";
}

TEST(Process, ReaderStreamArguments) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"sleep_exit", L"30000 0", RUN_PIPE_IN_OUT_ERR));
    C_Memory buffer;
    DWORD start = GetTickCount();
    EXPECT_EQ(0, process.ReaderStream(&buffer, 0, 30000)) << "size 0: at once";
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_EQ(0u, buffer.GetSize());
    EXPECT_EQ(-1, process.ReaderStream(&buffer, -1, 0));
    EXPECT_EQ(-1, process.ReaderStream(nullptr, 10, 0));
    EXPECT_EQ(-1, process.ReaderErrorStream(nullptr, 10, 0));
    EXPECT_EQ(0, process.Read(nullptr, 0));

    // The deadline passes with nothing to read: 0, not -1.
    EXPECT_EQ(0, process.ReaderStream(&buffer, 100, 30));
    EXPECT_EQ(0, process.ReaderErrorStream(&buffer, 100, 0));
    EXPECT_EQ(0, process.Read(&buffer, 30));
    unsigned long available = 99;
    EXPECT_EQ(1, process.IsReadable_stdout(&available));
    EXPECT_EQ(0u, available);
    process.Terminate();
}

TEST(Process, ReadingBufferIsReusedOrReplaced) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"write_exit", L"250 0", RUN_PIPE_IN_OUT_ERR));
    ASSERT_TRUE(WaitForEnd(process));
    std::string expected = Pattern(250);

    // Large enough: the same memory, data at its start, the rest untouched.
    C_Memory big(300);
    std::memset(big.GetMemory(), 0xAA, 300);
    void* memory = big.GetMemory();
    int n = process.ReaderStream(&big, 100, 50);
    ASSERT_EQ(100, n);
    EXPECT_EQ(memory, big.GetMemory());
    EXPECT_EQ(300u, big.GetSize());
    EXPECT_EQ(expected.substr(0, 100), Bytes(big, n));
    EXPECT_EQ(static_cast<char>(0xAA), static_cast<const char*>(big.GetMemoryEx())[100]);

    // Too small: replaced by a zeroed buffer of exactly the size.
    C_Memory small(10);
    std::memset(small.GetMemory(), 0xAA, 10);
    n = process.ReaderStream(&small, 200, 50);
    ASSERT_EQ(150, n) << "what is left of the ended child's output";
    EXPECT_EQ(200u, small.GetSize());
    EXPECT_EQ(expected.substr(100), Bytes(small, n));
    EXPECT_EQ(std::string(50, '\0'), std::string(static_cast<const char*>(small.GetMemoryEx()) + 150, 50));
    EXPECT_EQ(-1, process.ReaderStream(&small, 200, 50));
}

TEST(Process, EndedChildIsDrainedByRepeatedCallsBeforeMinusOne) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"write_exit", L"2000 7", RUN_PIPE_IN_OUT_ERR));
    ASSERT_TRUE(WaitForEnd(process)) << "2000 bytes fit in the pipe";
    C_Memory buffer;
    std::string got;
    int calls = 0;
    for (;;) {
        int n = process.ReaderStream(&buffer, 100, 50);
        if (n == -1) break;
        ASSERT_EQ(100, n) << "a full piece per call while bytes are left";
        got += Bytes(buffer, n);
        ASSERT_LT(++calls, 100);
    }
    EXPECT_EQ(Pattern(2000), got);
    EXPECT_EQ(-1, process.ReaderStream(&buffer, 100, 0)) << "and stays at the end";
    int known = 0;
    EXPECT_EQ(7, process.GetExitCode(&known)) << "recorded by the read that saw the end";
    EXPECT_EQ(1, known);
    EXPECT_EQ(0, process.Join(30000));
}

TEST(Process, LargeOutputDrainedByteExact) {
    const size_t outBytes = 6u << 20;
    const size_t errBytes = 96u << 10;
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"write_mixed", std::to_wstring(outBytes) + L" " + std::to_wstring(errBytes),
                             RUN_NEW_PROCESS_GROUP | RUN_INHERIT_HANDLES | RUN_PIPE_IN_OUT_ERR));
    Drained d = DrainLikeTheTask(process, 10240, 50);
    ASSERT_TRUE(d.finished);
    EXPECT_LE(d.largestRead, 10240);
    ASSERT_EQ(outBytes, d.out.size());
    EXPECT_TRUE(d.out == Pattern(outBytes)) << "output differs";
    ASSERT_EQ(errBytes, d.err.size());
    EXPECT_TRUE(d.err == Pattern(errBytes)) << "error differs";
    EXPECT_EQ(0, process.Join(30000));
    EXPECT_EQ(0, process.GetExitCode(nullptr));
}

TEST(Process, ReadGrowsTheBufferToTheWholeOutput) {
    const size_t bytes = 300000;
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"write_exit", std::to_wstring(bytes) + L" 4", RUN_PIPE_OUT));
    C_Memory buffer;
    std::string got;
    for (int pass = 0; pass < 100 && process.IsExist(); ++pass) {
        int n = process.Read(&buffer, 200);
        ASSERT_GE(n, 0);
        // Room for what came, and more: a pass on a slow machine may bring nothing.
        if (n > 0) {
            EXPECT_GT(buffer.GetSize(), static_cast<unsigned long>(n));
        }
        got += Bytes(buffer, n);
    }
    int n = process.Read(&buffer, 200);  // after the end: the rest
    got += Bytes(buffer, n);
    EXPECT_EQ(Pattern(bytes), got);
    int known = 0;
    EXPECT_EQ(4, process.GetExitCode(&known));
    EXPECT_EQ(1, known);
}

TEST(Process, GrandchildHoldingThePipeDoesNotHoldTheRead) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"spawn_holder", L"", RUN_PIPE_IN_OUT_ERR));
    C_Memory buffer;
    std::string text;
    for (;;) {
        // No deadline: only the child's end can end these calls.
        int n = process.ReaderStream(&buffer, 64, kInfinite);
        if (n == -1) break;
        text += Bytes(buffer, n);
    }
    DWORD grandchild = strtoul(text.c_str(), nullptr, 10);
    ASSERT_NE(0u, grandchild) << text;
    // Still there: the reads ended with the child, not with the grandchild.
    kovra::common::UniqueHandle holder(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, grandchild));
    ASSERT_TRUE(holder) << "the grandchild was gone: the reads waited for it";
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(holder.Get(), 0))
        << "the reads waited for the grandchild, which holds the pipe";
    TerminateProcess(holder.Get(), 1);
    int known = 0;
    EXPECT_EQ(5, process.GetExitCode(&known));
    EXPECT_EQ(1, known);
    EXPECT_EQ(0, process.Join(30000));
}

TEST(Process, SetRedirectHandleOwnsEachObjectOnce) {
    int a = 0, b = 0, c = 0;
    {
        C_Process process;
        process.SetRedirectHandle(new CountingHandle(&a), new CountingHandle(&b), nullptr);
        FileHandle* shared = new CountingHandle(&c);
        process.SetRedirectHandle(nullptr, shared, shared);  // replaces a and b
        EXPECT_EQ(1, a);
        EXPECT_EQ(1, b);
        EXPECT_EQ(0, c);
        process.Cleanup();
        EXPECT_EQ(1, c) << "given for two streams, deleted once";
        process.Cleanup();
        EXPECT_EQ(1, c);
        FileHandle* all = new CountingHandle(&a);
        process.SetRedirectHandle(all, all, all);
    }
    EXPECT_EQ(2, a) << "the destructor deletes what is left, once";
}

TEST(Process, FailedStartKeepsRedirectsAndThePreviousCode) {
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"exit_code", L"4", RUN_PIPE_IN_OUT_ERR));
    ASSERT_EQ(0, process.Join(30000));

    int deletions = 0;
    process.SetRedirectHandle(new CountingHandle(&deletions), nullptr, nullptr);
    int before = HandleCount();
    EXPECT_EQ(kFailed, process.Run(L"C:\\no\\such\\program.exe", L"", 0, RUN_PIPE_IN_OUT_ERR, 0, nullptr, nullptr));
    EXPECT_NE(0u, GetLastError());
    EXPECT_EQ(before, HandleCount()) << "the pipes made for the start are closed";
    EXPECT_EQ(0, deletions) << "redirects stay set";
    EXPECT_EQ(nullptr, process.GetHandle());
    EXPECT_EQ(0, process.IsReadable_stdout(nullptr));
    int known = 0;
    EXPECT_EQ(4, process.GetExitCode(&known));
    EXPECT_EQ(1, known);
    process.Cleanup();
    EXPECT_EQ(1, deletions);
}

TEST(Process, CommandLineLengthLimit) {
    // 32767 characters with the terminator is the most Windows takes.
    std::wstring head = ChildCommand(L"exit_code", L"3 ");
    std::wstring longest = head + std::wstring(32766 - head.size(), L'x');
    ASSERT_EQ(32766u, longest.size());
    C_Process process;
    ASSERT_NE(kFailed, process.Run(longest.c_str(), 0, RUN_PIPE_IN_OUT_ERR, 0, nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, process.Join(30000));
    EXPECT_EQ(3, process.GetExitCode(nullptr));

    // One more is refused before anything is made; Wine would run it.
    std::wstring tooLong = longest + L"x";
    int before = HandleCount();
    EXPECT_EQ(kFailed, process.Run(tooLong.c_str(), 0, RUN_PIPE_IN_OUT_ERR, 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    EXPECT_EQ(before, HandleCount());
    EXPECT_EQ(nullptr, process.GetHandle());
    EXPECT_EQ(kFailed, process.Run(tooLong.c_str(), L"", 0, 0, 0, nullptr, nullptr));
    // Built from the two parts, too.
    EXPECT_EQ(kFailed, process.Run(longest.c_str(), L"y", 0, 0, 0, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    EXPECT_EQ(kFailed, process.Run(nullptr, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
}

TEST(Process, SecondRunFormJoinsApplicationAndArguments) {
    struct FormCase {
        const wchar_t* arguments;
        std::wstring expectedTail;
    };
    const std::wstring application = ChildCommand(L"print", L"cmdline");
    const FormCase cases[] = {{nullptr, L""}, {L"", L""}, {L"a  \"b c\"", L" a  \"b c\""}};
    for (const FormCase& c : cases) {
        C_Process process;
        ASSERT_NE(kFailed, process.Run(application.c_str(), c.arguments, 0, RUN_PIPE_OUT, 0, nullptr, nullptr));
        Drained d = DrainLikeTheTask(process);
        EXPECT_EQ(testsupport::Narrow(application + c.expectedTail), d.out) << "no trailing blank";
        EXPECT_EQ(0, process.Join(30000));
    }
    C_Process process;
    EXPECT_EQ(kFailed, process.Run(nullptr, L"x", 0, 0, 0, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(Process, DirectoryAndEnvironmentReachTheChild) {
    TempDir dir;
    C_Process process;
    ASSERT_NE(kFailed, process.Run(ChildCommand(L"print", L"cwd").c_str(), L"", 0, RUN_PIPE_OUT, 0, nullptr,
                                   dir.Path().c_str()));
    EXPECT_EQ(testsupport::Narrow(dir.Path()), DrainLikeTheTask(process).out);
    EXPECT_EQ(0, process.Join(30000));

    // An ANSI block: no CREATE_UNICODE_ENVIRONMENT.
    char block[] = "VREK_PROCESS_TEST=42\0SystemRoot=C:\\windows\0";
    ASSERT_NE(kFailed, process.Run(ChildCommand(L"print", L"env:VREK_PROCESS_TEST").c_str(), L"", 0, RUN_PIPE_OUT, 0,
                                   block, nullptr));
    EXPECT_EQ("42", DrainLikeTheTask(process).out);
    EXPECT_EQ(0, process.Join(30000));
}

namespace {

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

struct FlagProbe : C_Process {
    using C_Process::_creation_flags;
};

}  // namespace

TEST(Process, CreationFlagsFromOptionBits) {
    struct FlagCase {
        int flags;
        int show;
        unsigned long creation;
    };
    const FlagCase cases[] = {
        {RUN_PIPE_NONE, 0, DETACHED_PROCESS},
        {RUN_PIPE_IN_OUT_ERR | RUN_KEEP_CONSOLE, 0, 0},
        {RUN_PIPE_NONE, SW_SHOW, 0},
        {RUN_NEW_CONSOLE, SW_SHOW, CREATE_NEW_CONSOLE},
        {RUN_NEW_CONSOLE, 0, DETACHED_PROCESS},
        {RUN_NEW_CONSOLE | RUN_KEEP_CONSOLE, 0, 0},
        {RUN_NEW_PROCESS_GROUP | RUN_INHERIT_HANDLES | RUN_KEEP_CONSOLE | RUN_PIPE_IN_OUT_ERR, 0,
         CREATE_NEW_PROCESS_GROUP},
        {RUN_SUSPENDED | RUN_NO_WINDOW | RUN_FLUSH_OUTPUT, SW_SHOW, CREATE_SUSPENDED | CREATE_NO_WINDOW},
        {RUN_PRIORITY_IDLE, SW_SHOW, IDLE_PRIORITY_CLASS},
        {RUN_PRIORITY_BELOW_NORMAL, SW_SHOW, BELOW_NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_NORMAL, SW_SHOW, NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_ABOVE_NORMAL, SW_SHOW, ABOVE_NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_HIGH, SW_SHOW, HIGH_PRIORITY_CLASS},
        {RUN_PRIORITY_REALTIME, SW_SHOW, REALTIME_PRIORITY_CLASS},
        {0x40000000 | 0x4000 | RUN_PIPE_OUT, SW_SHOW, 0},  // unknown bits are ignored
    };
    for (const FlagCase& c : cases) {
        EXPECT_EQ(c.creation, FlagProbe::_creation_flags(c.flags, c.show)) << std::hex << c.flags << " show " << c.show;
    }
}

TEST(Process, PriorityClassOfTheChild) {
    if (UnderWine())
        GTEST_SKIP() << "Wine 8 starts every child at normal priority whatever CreateProcessW is given; "
                        "the mapping is covered by CreationFlagsFromOptionBits";
    struct PriorityCase {
        int bit;
        DWORD priorityClass;
    };
    const PriorityCase cases[] = {
        {RUN_PRIORITY_IDLE, IDLE_PRIORITY_CLASS},     {RUN_PRIORITY_BELOW_NORMAL, BELOW_NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_NORMAL, NORMAL_PRIORITY_CLASS}, {RUN_PRIORITY_ABOVE_NORMAL, ABOVE_NORMAL_PRIORITY_CLASS},
        {RUN_PRIORITY_HIGH, HIGH_PRIORITY_CLASS},
    };
    for (const PriorityCase& c : cases) {
        SCOPED_TRACE(c.bit);
        C_Process process;
        ASSERT_NE(kFailed, Start(process, L"sleep_exit", L"30000 0", c.bit | RUN_PIPE_IN_OUT_ERR));
        EXPECT_EQ(c.priorityClass, GetPriorityClass(process.GetHandle()));
        process.Terminate();
    }
}

TEST(Process, SuspendedChildAndWaitForIdle) {
    // Suspended: it runs only once its thread is resumed.
    C_Process process;
    ASSERT_NE(kFailed, Start(process, L"exit_code", L"6", RUN_SUSPENDED | RUN_PIPE_IN_OUT_ERR));
    EXPECT_EQ(1, process.Join(300));
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, process.GetThreadId());
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(1u, ResumeThread(thread));
    CloseHandle(thread);
    ASSERT_EQ(0, process.Join(30000));
    EXPECT_EQ(6, process.GetExitCode(nullptr));

    // Waiting for input idle returns for a console child.
    ASSERT_NE(kFailed, process.Run(ChildCommand(L"exit_code", L"8").c_str(), 0, RUN_PIPE_IN_OUT_ERR, 1, nullptr,
                                   nullptr, nullptr, nullptr));
    ASSERT_EQ(0, process.Join(30000));
    EXPECT_EQ(8, process.GetExitCode(nullptr));
}

TEST(Process, ObjectRunsAgainAfterCleanup) {
    C_Process process;
    for (int code = 1; code <= 3; ++code) {
        ASSERT_NE(kFailed, Start(process, L"write_exit", L"10 " + std::to_wstring(code), RUN_PIPE_IN_OUT_ERR));
        int known = 1;
        process.GetExitCode(&known);
        EXPECT_EQ(0, known) << "a new run clears the previous code";
        Drained d = DrainLikeTheTask(process);
        EXPECT_EQ(Pattern(10), d.out);
        ASSERT_EQ(0, process.Join(30000));
        EXPECT_EQ(code, process.GetExitCode(nullptr));
    }
}
