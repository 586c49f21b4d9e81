// Background jobs whose streams go to files or nul, as a user starts them.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "VrekRun.h"
#include "support/TestSupport.h"

using e2e::ChildTask;
using e2e::Hex;
using e2e::StartJob;
using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

// The file's text before the result line, and the result line (which
// follows the command's last text directly, even one without a line end).
struct SplitOutput {
    std::string body;
    std::string resultLine;
};

SplitOutput SplitAtResult(const std::string& text, unsigned long job, int result, size_t lineEnd = 1) {
    size_t length = std::string("[2026/12/07 05:40:07] job ").size() + std::to_string(job).size() +
                    std::string(": result ").size() + std::to_string(result).size() + lineEnd;
    if (text.size() < length) return {text, std::string()};
    return {text.substr(0, text.size() - length), text.substr(text.size() - length)};
}


}  // namespace

TEST(Jobs, OutputAndErrorReachTheirFilesByteExact) {
    TempDir dir;
    const std::string zeros("a\0b\0\n", 5);
    const std::string longLine(20000, 'x');
    const std::string utf16("h\0i\0\n\0", 6);
    const std::wstring steps = L"o:" + Hex("first line\n") + L" e:" + Hex("error one\n") + L" o:" + Hex(zeros) +
                               L" O:20000:78 o:" + Hex("\n") + L" o:" + Hex(utf16) + L" e:" + Hex("error tail") +
                               L" sleep:100 o:" + Hex("no line end");
    auto job = StartJob(L"--delay 0.3 --out o.txt --err e.txt --task " + ChildTask(L"emit", steps), dir.Path().c_str());
    ASSERT_EQ(0u, job->launcherExit) << job->launcherOut;
    ASSERT_NE(0u, job->pid) << job->launcherOut;
    EXPECT_EQ(0u, job->Wait());

    SplitOutput out = SplitAtResult(ReadFileBytes(dir.File(L"o.txt")), job->pid, 0);
    EXPECT_TRUE(testsupport::SameBytes("first line\n" + zeros + longLine + "\n" + utf16 + "no line end", out.body));
    EXPECT_TRUE(e2e::IsResultLine(out.resultLine, job->pid, 0));
    EXPECT_EQ("error one\nerror tail", ReadFileBytes(dir.File(L"e.txt")));
}

TEST(Jobs, MoreThan10240BytesWithoutALineEndArriveWhole) {
    TempDir dir;
    auto job = StartJob(L"--delay 0.3 --nologo --out o.txt --task " + ChildTask(L"emit", L"O:70000:41 sleep:700"),
                        dir.Path().c_str());
    EXPECT_EQ(0u, job->Wait());
    EXPECT_TRUE(testsupport::SameBytes(std::string(70000, 'A'), ReadFileBytes(dir.File(L"o.txt"))));
}

TEST(Jobs, TheCommandsStatusIsTheTasksStatusAndTheResultLinesNumberIsTheJob) {
    TempDir dir;
    auto job = StartJob(L"--delay 0.3 --out o.txt --task " + ChildTask(L"emit", L"o:" + Hex("x\n") + L" exit:7"),
                        dir.Path().c_str());
    ASSERT_EQ(0u, job->launcherExit);
    EXPECT_EQ("job: " + std::to_string(job->pid) + " started", job->launcherOut) << "no line end";
    EXPECT_EQ(7u, job->Wait());
    SplitOutput out = SplitAtResult(ReadFileBytes(dir.File(L"o.txt")), job->pid, 7);
    EXPECT_EQ("x\n", out.body);
    EXPECT_TRUE(e2e::IsResultLine(out.resultLine, job->pid, 7));
}

TEST(Jobs, NologoLeavesOutTheResultLine) {
    TempDir dir;
    auto job = StartJob(L"--delay 0.3 --nologo --out o.txt --task " + ChildTask(L"emit", L"o:" + Hex("only\n")),
                        dir.Path().c_str());
    EXPECT_EQ(0u, job->Wait());
    EXPECT_EQ("only\n", ReadFileBytes(dir.File(L"o.txt")));
}

TEST(Jobs, BuiltinsRunThroughTheInterpreter) {
    TempDir dir;
    testsupport::WriteFileBytes(dir.File(L"marker-file.dat"), "m");
    auto echo = StartJob(L"--delay 0.3 --nologo --out echo.txt --task echo hello world", dir.Path().c_str());
    auto listing = StartJob(L"--delay 0.3 --nologo --out dir.txt --task dir /b", dir.Path().c_str());
    EXPECT_EQ(0u, echo->Wait());
    EXPECT_EQ(0u, listing->Wait());
    EXPECT_EQ("hello world\r\n", ReadFileBytes(dir.File(L"echo.txt")));
    EXPECT_NE(std::string::npos, ReadFileBytes(dir.File(L"dir.txt")).find("marker-file.dat"));
}

TEST(Jobs, RelativeDirAndRelativeFileTargetsResolveAgainstIt) {
    TempDir dir;
    CreateDirectoryW(dir.File(L"work").c_str(), nullptr);
    auto job = StartJob(L"--delay 0.3 --dir work --nologo --out o.txt --task cd", dir.Path().c_str());
    EXPECT_EQ(0u, job->launcherExit) << job->launcherOut;
    EXPECT_EQ(0u, job->Wait());
    EXPECT_FALSE(testsupport::FileExists(dir.File(L"o.txt")));
    EXPECT_EQ(testsupport::Narrow(dir.File(L"work")) + "\r\n", ReadFileBytes(dir.File(L"work\\o.txt")));
}

// The command writes one line and then waits for the test: in the default
// mode and with --flush, that line must not wait for a later read, the
// pipe's end or a full buffer.
TEST(Jobs, ALineReachesTheFileWhileTheCommandWaits) {
    for (const wchar_t* mode : {L"", L"--flush "}) {
        SCOPED_TRACE(testsupport::Narrow(mode));
        TempDir dir;
        auto job = StartJob(
            std::wstring(mode) + L"--nologo --out o.txt --task " +
                ChildTask(L"emit", L"o:" + Hex("one\n") + L" await:" + dir.File(L"go") + L" o:" + Hex("two\n")),
            dir.Path().c_str());
        ASSERT_NE(0u, job->pid);
        EXPECT_TRUE(testsupport::WaitUntil([&] { return ReadFileBytes(dir.File(L"o.txt")) == "one\n"; }, 20000));
        testsupport::WriteFileBytes(dir.File(L"go"), "");
        EXPECT_EQ(0u, job->Wait());
        EXPECT_EQ("one\ntwo\n", ReadFileBytes(dir.File(L"o.txt")));
    }
}

TEST(Jobs, Flush2LetsTheCommandWriteTheFilesTheLauncherCreated) {
    TempDir dir;
    testsupport::WriteFileBytes(dir.File(L"o.txt"), "old content that must go");
    testsupport::WriteFileBytes(dir.File(L"in.txt"), "12345");
    auto job =
        StartJob(L"--delay 1 --flush2 --in in.txt --out o.txt --task " + ChildTask(L"readin"), dir.Path().c_str());
    ASSERT_NE(0u, job->pid);
    // Created (truncated) by the launcher, before the task has done anything.
    EXPECT_EQ("", ReadFileBytes(dir.File(L"o.txt")));
    EXPECT_EQ(0u, job->Wait());
    // The task leaves the inherited stream as it is: in the C runtime's text
    // mode its own line ends become CR LF.
    SplitOutput out = SplitAtResult(ReadFileBytes(dir.File(L"o.txt")), job->pid, 0, 2);
    EXPECT_EQ("read 5 bytes\n", out.body);
    EXPECT_TRUE(e2e::IsResultLine(out.resultLine, job->pid, 0, "\r\n"));
}

TEST(Jobs, GuiCommandsAreNotWaitedFor) {
    TempDir dir;
    // 259, still active: the task read the code while its command ran.
    auto job = StartJob(L"--delay 0.3 --gui --out o.txt --task " + ChildTask(L"window", L"4000"), dir.Path().c_str());
    EXPECT_EQ(259u, job->Wait());
    EXPECT_TRUE(e2e::IsResultLine(ReadFileBytes(dir.File(L"o.txt")), job->pid, 259));
}

// A command that starts a child outside its job (an installer, an updater)
// or makes a job of its own works as it does typed at the prompt.
TEST(Jobs, ACommandMayLetAChildLeaveTheJobOrMakeAJobOfItsOwn) {
    TempDir dir;
    auto job = StartJob(L"--delay 0.3 --nologo --out o.txt --task " + ChildTask(L"breakaway"), dir.Path().c_str());
    EXPECT_EQ(0u, job->Wait());
    EXPECT_EQ("breakaway: exit 7\nown job: exit 3\n", ReadFileBytes(dir.File(L"o.txt")));
}

TEST(Jobs, DelayCountsFromTheTasksStart) {
    TempDir dir;
    auto job = StartJob(L"--delay 1.5 --nul --task " + ChildTask(L"starttime", dir.File(L"t.txt")), dir.Path().c_str());
    ASSERT_TRUE(job->task);
    EXPECT_EQ(0u, job->Wait());
    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(GetProcessTimes(job->task.Get(), &created, &exited, &kernel, &user));
    ULARGE_INTEGER taskStart;
    taskStart.LowPart = created.dwLowDateTime;
    taskStart.HighPart = created.dwHighDateTime;
    unsigned long long commandStart = std::stoull(ReadFileBytes(dir.File(L"t.txt")));
    long long waitedMs = static_cast<long long>(commandStart - taskStart.QuadPart) / 10000;
    EXPECT_GE(waitedMs, 1500);
    EXPECT_LT(waitedMs, 3500) << "generous bound: the delay is not counted from somewhere later";
}

TEST(Jobs, ACommandReadingItsInputGetsItsEnd) {
    TempDir dir;
    auto job = StartJob(L"--delay 0.3 --nologo --out o.txt --task " + ChildTask(L"readin"), dir.Path().c_str());
    EXPECT_EQ(0u, job->Wait(20000)) << "the command waited for input";
    EXPECT_EQ("read 0 bytes\n", ReadFileBytes(dir.File(L"o.txt")));
}

TEST(Jobs, NulDiscardsEverythingAndTheJobStillRuns) {
    TempDir dir;
    auto job = StartJob(L"--delay 0.3 --nul --task " + ChildTask(L"emit", L"o:" + Hex("lost\n") + L" exit:3"),
                        dir.Path().c_str());
    EXPECT_EQ(3u, job->Wait());
}

TEST(Jobs, TheCommandReceivesItsArgumentsExactlyAsTyped) {
    TempDir dir;
    // A trailing backslash inside quotes, an embedded quote, an empty
    // argument, a trailing backslash outside quotes, blanks; and an --out
    // name that ends in a blank, so its quotes carry it.
    auto job = StartJob(L"--delay 0.3 --nologo --out \"o .txt\" --task " + ChildTask(L"args") +
                            L" \"C:\\Program Files\\\\\" \"a\\\"b\" \"\" x\\ \"two  blanks\" 日本",
                        dir.Path().c_str());
    EXPECT_EQ(0u, job->Wait());
    EXPECT_EQ("C:\\Program Files\\\na\"b\n\nx\\\ntwo  blanks\n日本\n", ReadFileBytes(dir.File(L"o .txt")));
}

TEST(Jobs, AnInputFileOrNulIsTheCommandsInputInRelayMode) {
    TempDir dir;
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"in.txt"), std::string(5000, 'i')));
    for (const auto& c : {std::make_pair(L"in.txt", "read 5000 bytes\n"), std::make_pair(L"nul", "read 0 bytes\n")}) {
        auto job = StartJob(
            L"--delay 0.3 --nologo --in " + std::wstring(c.first) + L" --out o.txt --task " + ChildTask(L"readin"),
            dir.Path().c_str());
        EXPECT_EQ(0u, job->Wait(20000)) << testsupport::Narrow(c.first);
        EXPECT_EQ(c.second, ReadFileBytes(dir.File(L"o.txt"))) << testsupport::Narrow(c.first);
    }
}

TEST(Jobs, OutputAndErrorNamingOneFileKeepEveryByte) {
    TempDir dir;
    const std::wstring steps =
        L"o:" + Hex("out one\n") + L" sleep:50 e:" + Hex("error\n") + L" sleep:50 o:" + Hex("out two\n");
    // Relayed: every line once (output comes before error within a batch).
    auto relayed = StartJob(L"--delay 0.3 --nologo --out log.txt --err LOG.TXT --task " + ChildTask(L"emit", steps),
                            dir.Path().c_str());
    EXPECT_EQ(0u, relayed->Wait());
    std::vector<std::string> lines = testsupport::SplitLines(ReadFileBytes(dir.File(L"log.txt")));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ((std::vector<std::string>{"error", "out one", "out two"}), lines);
    // Passed through: the command writes the one handle, in its own order.
    auto passed =
        StartJob(L"--delay 0.3 --nologo --flush2 --out log2.txt --err .\\log2.txt --task " + ChildTask(L"emit", steps),
                 dir.Path().c_str());
    EXPECT_EQ(0u, passed->Wait());
    EXPECT_EQ("out one\nerror\nout two\n", ReadFileBytes(dir.File(L"log2.txt")));
}

TEST(Jobs, NulDiscardsTheOutputInPassThroughModeToo) {
    TempDir dir;
    auto job = e2e::StartJobWithOutputFile(
        L"--delay 0.3 --flush2 --nul --task " + ChildTask(L"emit", L"o:" + Hex("lost\n") + L" e:" + Hex("lost too\n")),
        dir.File(L"launcher.txt"), dir.Path().c_str());
    ASSERT_NE(0u, job->pid) << job->launcherOut;
    EXPECT_EQ(0u, job->Wait());
    EXPECT_EQ("job: " + std::to_string(job->pid) + " started", ReadFileBytes(dir.File(L"launcher.txt")));
}

// A file target that cannot be opened: the command is not run, the task
// ends with 1, and a stream that works says which file and why.
TEST(Jobs, AnUnopenableFileTargetStopsTheJobWithAReport) {
    TempDir dir;
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"ro.txt"), "keep"));
    ASSERT_TRUE(SetFileAttributesW(dir.File(L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryW(dir.File(L"folder").c_str(), nullptr));
    // Wine run by root ignores the read-only attribute (the Unix file mode
    // does not bind root), so that row is checked only where it binds.
    HANDLE probe = CreateFileW(dir.File(L"ro.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    const bool readOnlyBinds = probe == INVALID_HANDLE_VALUE;
    if (!readOnlyBinds) CloseHandle(probe);
    const struct {
        const wchar_t* targets;
        const wchar_t* failed;  // the file the report names
        const wchar_t* report;  // where the report goes
        bool checked;
    } cases[] = {
        {L"--out missing\\o.txt --err e.txt", L"missing\\o.txt", L"e.txt", true},
        {L"--out folder --err e.txt", L"folder", L"e.txt", true},
        {L"--err ro.txt --out e.txt", L"ro.txt", L"e.txt", readOnlyBinds},
        {L"--in not-there.txt --out e.txt", L"not-there.txt", L"e.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Narrow(c.targets));
        if (!c.checked) {
            std::printf("skipped: Wine run as root can write a read-only file\n");
            continue;
        }
        DeleteFileW(dir.File(L"ran.txt").c_str());
        DeleteFileW(dir.File(c.report).c_str());
        auto job = StartJob(L"--delay 0.3 " + std::wstring(c.targets) + L" --task " +
                                ChildTask(L"emit", L"touch:" + dir.File(L"ran.txt")),
                            dir.Path().c_str());
        EXPECT_EQ(1u, job->Wait());
        EXPECT_FALSE(testsupport::FileExists(dir.File(L"ran.txt"))) << "the command ran";
        // In the file the report stands alone: no line end before it, no prompt after it.
        const std::string expected =
            testsupport::ToCodePage(L"ファイルを開けませんでした: " + dir.File(c.failed) + L" (", CP_ACP);
        const std::string report = ReadFileBytes(dir.File(c.report));
        EXPECT_EQ(0u, report.find(expected)) << report;
        std::regex boot("[^\n]*\\)\n\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\] job boot error\n");
        std::string rest = report.size() > expected.size() ? report.substr(expected.size()) : "";
        EXPECT_TRUE(std::regex_match(rest, boot)) << report;
    }
    EXPECT_EQ("keep", ReadFileBytes(dir.File(L"ro.txt")));
    SetFileAttributesW(dir.File(L"ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Jobs, InPassThroughModeTheLauncherReportsAnUnopenableFileAndStartsNothing) {
    TempDir dir;
    testsupport::RunResult run =
        e2e::RunVrek(L"--flush2 --out missing\\o.txt --task " + ChildTask(L"emit", L"touch:" + dir.File(L"ran.txt")),
                     dir.Path().c_str());
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(0u, run.out.find(testsupport::ToCodePage(
                      L"ファイルを開けませんでした: " + dir.File(L"missing\\o.txt") + L" (", 932)))
        << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("job:"));
}

TEST(Jobs, MegabytesOfOutputAndErrorArriveByteExact) {
    const size_t bytes = 6 << 20;  // several early emissions, and readers paused for room
    std::string mixedOut, mixedErr;
    for (const auto& piece : e2e::MixedStreams(7, bytes)) (piece.first ? mixedErr : mixedOut) += piece.second;
    const std::wstring mixed =
        L"--out o.txt --err e.txt --task " + ChildTask(L"emit", L"mixed:7:" + std::to_wstring(bytes));
    const std::string line = "a burst of lines past the relay's bound\n";
    std::string burst;
    for (int i = 0; i < 100000; ++i) burst += line;
    const struct {
        const char* what;
        std::wstring args;
        std::string out;
        std::string err;
    } rows[] = {
        {"mixed", mixed, mixedOut, mixedErr},
        {"mixed, --flush", L"--flush " + mixed, mixedOut, mixedErr},
        {"a burst larger than the bound, then a slow trickle of pieces of lines",
         L"--out o.txt --err e.txt --task " +
             ChildTask(L"emit", L"O:100000:" + Hex(line) + L" o:" + Hex("ab") + L" sleep:300 o:" + Hex("c\nde") +
                                    L" sleep:300 o:" + Hex("f\n") + L" sleep:300 o:" + Hex("no line end")),
         burst + "abc\ndef\nno line end", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        auto job = StartJob(L"--delay 0.3 --nologo " + row.args, dir.Path().c_str());
        EXPECT_EQ(0u, job->Wait(120000));
        EXPECT_TRUE(testsupport::SameBytes(row.out, ReadFileBytes(dir.File(L"o.txt"))));
        EXPECT_TRUE(testsupport::SameBytes(row.err, ReadFileBytes(dir.File(L"e.txt"))));
    }
}

TEST(Jobs, WhatAGrandchildWritesAfterTheCommandEndedIsRelayedBeforeTheResultLine) {
    TempDir dir;
    auto job = StartJob(L"--delay 0.3 --out o.txt --err e.txt --task " + ChildTask(L"orphan"), dir.Path().c_str());
    EXPECT_EQ(3u, job->Wait());
    SplitOutput out = SplitAtResult(ReadFileBytes(dir.File(L"o.txt")), job->pid, 3);
    EXPECT_EQ("the command\nthe grandchild, after the command\n", out.body);
    EXPECT_TRUE(e2e::IsResultLine(out.resultLine, job->pid, 3));
    EXPECT_EQ("the grandchild's error\n", ReadFileBytes(dir.File(L"e.txt")));
}
