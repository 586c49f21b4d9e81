// The task copy's building blocks, in processes of this test program.
#include <windows.h>
#include <winternl.h>
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "kovra/C_Process.h"
#include "kovra/C_StringMemory.h"
#include "support/TestSupport.h"
#include "tool/DaemonRegistry.h"
#include "tool/Launcher.h"
#include "tool/ProcessQueries.h"
#include "tool/PromptText.h"
#include "tool/Relay.h"
#include "tool/StdStreams.h"
#include "tool/Supervision.h"
#include "tool/TaskArgument.h"
#include "tool/TaskConsole.h"
#include "tool/TaskContext.h"
#include "tool/TaskSettings.h"

using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Starts this program as the named child with no console and no standard
// handles, as the launcher starts a task copy, and waits for its status.
DWORD RunDetachedChild(const wchar_t* name, const std::wstring& args) {
    std::wstring line = testsupport::ChildCommand(name, args);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    CloseHandle(pi.hThread);
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return code;
}

std::string CurrentDirectoryA() {
    char directory[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(MAX_PATH, directory);
    return std::string(directory, n);
}

}  // namespace

// Binds its standard output to the file argv[0] (argv[1] "handle": by handle
// only), then writes through fwrite, _putws and PrintPrompt.
TEST_CHILD(bindout) {
    if (argc < 2) return 2;
    bool bound = std::wstring(argv[1]) == L"handle" ? vrek::BindStdStreamByHandle(vrek::STREAM_OUT, argv[0])
                                                    : vrek::BindStdStream(vrek::STREAM_OUT, argv[0]);
    if (!bound) return 3;
    fwrite("bytes\0\n", 1, 7, stdout);
    _putws(L"wide");
    vrek::PrintPromptTo(stdout);
    fflush(stdout);
    // The standard handle follows the stream: a command started with
    // inherited handles writes to the same file.
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "|handle", 7, &written, nullptr);
    return 0;
}

// EmitPending on a bound standard output, in the order the relay uses it.
TEST_CHILD(emitpending) {
    if (argc < 1 || !vrek::BindStdStreamByHandle(vrek::STREAM_OUT, argv[0])) return 3;
    vrek::TaskSettings settings;
    kovra::C_Process process;
    vrek::TaskContext context(settings, process);
    kovra::C_StringMemory pending;
    pending.Add("a\0b\nc", 0, 5);
    vrek::EmitPending(context, pending, stdout);  // "\n", then the line with its zero byte
    if (pending.Length() != 1) return 4;
    std::string longText(10240, 'z');
    pending.Add(longText.data(), 0, static_cast<int>(longText.size()));
    vrek::EmitPending(context, pending, stdout);  // 10241 bytes without a line end: all of it
    if (pending.Length() != 0) return 5;
    pending.Add("short", 0, 5);
    vrek::EmitPending(context, pending, stdout);  // waits for the rest of the line
    if (pending.Length() != 5) return 6;
    vrek::WriteLeadingNewline(context);  // once only
    fflush(stdout);
    return 0;
}

// Writes lines to output and error: 3 MiB of output in 100-byte lines,
// then one error line, then output without a line end.
TEST_CHILD(writelines) {
    (void)argc;
    (void)argv;
    std::string line(99, 'x');
    line += '\n';
    std::string block;
    for (int i = 0; i < 10000; ++i) block += line;
    DWORD put = 0;
    for (int i = 0; i < 3; ++i) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), block.data(), 1000000, &put, nullptr);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "error\n", 6, &put, nullptr);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "tail", 4, &put, nullptr);
    return 0;
}

// The relay of a "writelines" child into the file argv[0] (output and
// error), with reader threads or (argv[1] "poll") with the polling fallback.
TEST_CHILD(relay) {
    if (argc < 2 || !vrek::BindStdStreamByHandle(vrek::STREAM_OUT, argv[0]) ||
        !vrek::ShareStdStream(vrek::STREAM_ERR, vrek::STREAM_OUT))
        return 3;
    vrek::TaskSettings settings;
    kovra::C_Process process;
    vrek::TaskContext context(settings, process);
    int flags = kovra::RUN_PIPE_IN_OUT_ERR | kovra::RUN_INHERIT_HANDLES;
    if (process.Run(testsupport::ChildCommand(L"writelines").c_str(), L"", 0, flags, 0, nullptr, nullptr) ==
        kovra::NO_PROCESS)
        return 4;
    vrek::Relay relay(context, std::wstring(argv[1]) != L"poll");
    relay.Run();
    while (process.Join(1000) == 1) {
    }
    relay.WriteRest();
    fflush(stdout);
    return 0;
}

TEST(Relay, ReaderThreadsAndThePollingFallbackRelayTheSameBytes) {
    std::string lines;
    for (int i = 0; i < 30000; ++i) lines += std::string(99, 'x') + "\n";
    for (const wchar_t* way : {L"threads", L"poll"}) {
        TempDir dir;
        EXPECT_EQ(0u, RunDetachedChild(L"relay", dir.File(L"o.txt") + L" " + way));
        // The error line goes once its pass comes; the output before it is
        // whole, and the text without a line end comes last.
        std::string text = ReadFileBytes(dir.File(L"o.txt"));
        size_t error = text.find("error\n");
        ASSERT_NE(std::string::npos, error) << testsupport::Narrow(way);
        std::string output = text.substr(0, error) + text.substr(error + 6);
        EXPECT_TRUE(testsupport::SameBytes("\n" + lines + "tail", output)) << testsupport::Narrow(way);
    }
}

TEST(StdStreams, BindingByHandleReachesFwritePutwsPromptAndTheStandardHandle) {
    TempDir dir;
    testsupport::RunResult run = testsupport::RunCapture(
        testsupport::ChildCommand(L"bindout", dir.File(L"o.txt") + L" handle"), 30000, dir.Path().c_str());
    ASSERT_EQ(0u, run.exitCode) << run.out;
    // On a binary stream the C runtime's _putws writes UTF-16.
    EXPECT_TRUE(testsupport::SameBytes(
        std::string("bytes\0\nw\0i\0d\0e\0\n\0", 17) + testsupport::Narrow(dir.Path()) + ">|handle",
        ReadFileBytes(dir.File(L"o.txt"))));
}

TEST(StdStreams, ADetachedProcessBindsItsOutputToAFile) {
    // The task copy's situation: no console and no standard handles. Real
    // Windows reopens the stream; under Wine the reopening fails for such a
    // stream and the binding by handle takes over.
    TempDir dir;
    EXPECT_EQ(0u, RunDetachedChild(L"bindout", dir.File(L"o.txt") + L" reopen"));
    std::string text = ReadFileBytes(dir.File(L"o.txt"));
    EXPECT_TRUE(
        testsupport::SameBytes(std::string("bytes\0\nw\0i\0d\0e\0\n\0", 17) + CurrentDirectoryA() + ">|handle", text));
}

TEST(Relay, EmitPendingWritesWholeLinesByCountAndKeepsTheRest) {
    TempDir dir;
    EXPECT_EQ(0u, RunDetachedChild(L"emitpending", dir.File(L"o.txt")));
    EXPECT_TRUE(testsupport::SameBytes(std::string("\na\0b\nc", 6) + std::string(10240, 'z'),
                                       ReadFileBytes(dir.File(L"o.txt"))));
}

TEST(Relay, ALineWithoutItsEndIsHeldUpTo10240BytesAndWrittenPastThem) {
    const std::string held(10240, 'z');
    const std::string past(10241, 'z');
    EXPECT_EQ(0u, vrek::LinesReadyToWrite(held.data(), held.size()));
    EXPECT_EQ(past.size(), vrek::LinesReadyToWrite(past.data(), past.size()));
    EXPECT_EQ(3u, vrek::LinesReadyToWrite("ab\ncd", 5));
}

TEST(Console, TheControlHandlerRequestsAStopForTheFourEventsAndTakesAll) {
    const DWORD stopping[] = {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_SHUTDOWN_EVENT};
    for (DWORD type : stopping) {
        vrek::g_stopRequested = 0;
        EXPECT_TRUE(vrek::OnConsoleCtrl(type));
        EXPECT_EQ(1, vrek::g_stopRequested) << type;
    }
    vrek::g_stopRequested = 0;
    EXPECT_TRUE(vrek::OnConsoleCtrl(CTRL_LOGOFF_EVENT));
    EXPECT_EQ(0, vrek::g_stopRequested);
}

// Exits with the show state its start-up parameters record (100 when none
// is recorded, 101 when the fields cannot be found).
TEST_CHILD(showstate) {
    (void)argc;
    (void)argv;
    vrek::StartupWindowFields own = vrek::GetStartupWindowFields();
    if (!own.windowFlags || !own.showWindowFlags) return 101;
    return (*own.windowFlags & STARTF_USESHOWWINDOW) ? static_cast<int>(*own.showWindowFlags) : 100;
}

TEST(Console, TheFieldsThePatchChangesAreTheStartupParametersTheSystemRecorded) {
    std::wstring line = testsupport::ChildCommand(L"showstate");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    DWORD code = 0;
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(pi.hProcess, 30000));
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(static_cast<DWORD>(SW_SHOWMINNOACTIVE), code);
}

TEST(Console, ANewConsoleWindowIsShownAlthoughTheTaskStartedHidden) {
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine takes a new console's show state from a copy of the start-up information made at "
                        "process start, so the start-up parameter patch has no effect there (and without a display "
                        "its console windows are virtual)";
    // On Windows: a hidden, detached child allocates a visible console.
    EXPECT_EQ(0u, RunDetachedChild(L"visibleconsole", L""));
}

TEST_CHILD(visibleconsole) {
    (void)argc;
    (void)argv;
    if (!vrek::AllocVisibleConsole()) return 2;
    HWND window = GetConsoleWindow();
    return window && IsWindowVisible(window) ? 0 : 3;
}

namespace {

std::vector<std::pair<DWORD, DWORD>> g_sent;
BOOL g_breakWorks = TRUE;
BOOL g_ctrlCWorks = TRUE;

BOOL WINAPI RecordingSender(DWORD event, DWORD group) {
    g_sent.push_back({event, group});
    return event == CTRL_BREAK_EVENT ? g_breakWorks : g_ctrlCWorks;
}

}  // namespace

TEST(Supervision, TheStopGoesToTheCommandsGroupBreakFirst) {
    g_sent.clear();
    g_breakWorks = TRUE;
    EXPECT_TRUE(vrek::PassStopToConsole(4242, RecordingSender));
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_EQ(static_cast<DWORD>(CTRL_BREAK_EVENT), g_sent[0].first);
    EXPECT_EQ(4242u, g_sent[0].second) << "never group 0: the shell and other jobs share the console";

    // Wine implements only Ctrl+C: then Ctrl+C.
    g_sent.clear();
    g_breakWorks = FALSE;
    g_ctrlCWorks = TRUE;
    EXPECT_TRUE(vrek::PassStopToConsole(4242, RecordingSender));
    ASSERT_EQ(2u, g_sent.size());
    EXPECT_EQ(static_cast<DWORD>(CTRL_C_EVENT), g_sent[1].first);
    EXPECT_EQ(4242u, g_sent[1].second);

    // No console: both fail, and the caller turns to the window and force.
    g_sent.clear();
    g_ctrlCWorks = FALSE;
    EXPECT_FALSE(vrek::PassStopToConsole(4242, RecordingSender));
    g_sent.clear();
    EXPECT_FALSE(vrek::PassStopToConsole(0xFFFFFFFF, RecordingSender)) << "no command";
    EXPECT_TRUE(g_sent.empty());
}

TEST(Supervision, TheStopSequenceFreesTheRecordOnceSoALaterClaimSurvivesTheTasksEnd) {
    vrek::DaemonRegistry table(testsupport::UniqueName(L"block").c_str(), testsupport::UniqueName(L"mutex").c_str());
    vrek::TaskSettings settings;
    kovra::C_Process process;
    vrek::TaskState* record = nullptr;
    {
        vrek::TaskContext context(settings, process);
        context.record = table.Claim(kovra::C_WString(L"x"));
        ASSERT_NE(nullptr, context.record);
        record = context.record;
        EXPECT_EQ(2, vrek::RunStopSequence(context));
        EXPECT_EQ(vrek::TASK_STATE_DEAD, vrek::GetTaskState(record));
        // Another task claims the freed record before this one has ended.
        vrek::SetTaskState(record, vrek::TASK_STATE_RUN);
    }
    EXPECT_EQ(vrek::TASK_STATE_RUN, vrek::GetTaskState(record)) << "the ending task wiped another's record";
}

TEST(Launcher, TheTaskArgumentIsTheLastArgumentWithAPositiveId) {
    struct {
        std::vector<const wchar_t*> args;
        long pid;
    } cases[] = {
        {{L"vrek"}, -1},
        {{L"vrek", L"--pid-task--123"}, 123},
        {{L"vrek", L"x", L"--pid-task--77"}, 77},
        {{L"vrek", L"--pid-task--"}, -1},
        {{L"vrek", L"--pid-task--0"}, -1},
        {{L"vrek", L"--pid-task---5"}, -1},
        {{L"vrek", L"--pid-task--12", L"dir"}, -1},
        {{L"vrek", L"--PID-task--12"}, -1},
        {{L"vrek", L"--pid-task--'9'10"}, 10},
    };
    for (auto& c : cases) {
        std::vector<wchar_t*> argv;
        for (const wchar_t* a : c.args) argv.push_back(const_cast<wchar_t*>(a));
        EXPECT_EQ(c.pid, vrek::ParseTaskPid(argv.data(), static_cast<int>(argv.size())))
            << testsupport::Narrow(c.args.back());
    }
}

TEST(Launcher, TheParentOfAProcessIsFoundAndAMissingOneLeavesTheListEmpty) {
    testsupport::RunResult run = testsupport::RunCapture(testsupport::ChildCommand(L"parentof", L""));
    EXPECT_EQ(0u, run.exitCode) << "a child finds this process as its parent";
    kovra::common::List<unsigned long> none;
    vrek::GetParentProcessIds(none, 0xFFFFFFF0);
    EXPECT_TRUE(none.Empty());
}

TEST_CHILD(parentof) {
    (void)argc;
    (void)argv;
    kovra::common::List<unsigned long> parents;
    vrek::GetParentProcessIds(parents, GetCurrentProcessId());
    if (parents.Empty()) return 2;
    HANDLE parent = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parents.First());
    if (!parent) return 3;
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    BOOL ok = QueryFullProcessImageNameW(parent, 0, path, &size);
    CloseHandle(parent);
    const std::wstring image(path, ok ? size : 0);
    if (image != testsupport::SelfPath()) return 4;
    // The chain of ancestors starts with the same parent, as it is now.
    const vrek::ProcessRef parentRef = vrek::CurrentProcessRef(parents.First());
    const std::vector<vrek::ProcessRef> ancestors = vrek::GetAncestors(GetCurrentProcessId(), 8);
    if (ancestors.empty()) return 5;
    return ancestors.front() == parentRef ? 0 : 6;
}

TEST(Launcher, TheTaskArgumentCarriesThePromptsTheConsolesOthersAndTheStartFolder) {
    using Refs = std::vector<vrek::ProcessRef>;
    struct {
        const wchar_t* argument;
        Refs prompts;
        Refs others;
        const wchar_t* folder;
    } cases[] = {
        {L"--pid-task--12@5;56@6", {{12, 5}}, {{56, 6}}, L""},
        {L"--pid-task--12|Z:\\w|x", {{12, 0}}, {}, L"Z:\\w|x"},
        {L"--pid-task--12@x,34", {}, {}, L""},
        {L"--pid-task--12@99999999999999999999999", {}, {}, L""},
        {L"--pid-task--", {}, {}, L""},
    };
    for (const auto& c : cases) {
        const vrek::TaskArgument parsed = vrek::ParseTaskArgument(c.argument);
        EXPECT_EQ(c.prompts, parsed.prompts) << testsupport::Narrow(c.argument);
        EXPECT_EQ(c.others, parsed.others) << testsupport::Narrow(c.argument);
        EXPECT_EQ(std::wstring(c.folder), parsed.startFolder) << testsupport::Narrow(c.argument);
    }
    // Composed, it is one last argument from which the prompt's id is read.
    const vrek::TaskArgument task{{{7, 70}, {8, 80}}, {{9, 133000000000000000ull}}, L"C:\\with space\\"};
    const std::vector<std::wstring> split = testsupport::SplitArguments(L"x " + vrek::ComposeTaskArgument(task));
    ASSERT_EQ(2u, split.size());
    std::vector<wchar_t*> argv{const_cast<wchar_t*>(L"vrek"), const_cast<wchar_t*>(split[1].c_str())};
    EXPECT_EQ(7, vrek::ParseTaskPid(argv.data(), 2));
    const vrek::TaskArgument back = vrek::ParseTaskArgument(split[1].c_str());
    EXPECT_EQ(task.prompts, back.prompts);
    EXPECT_EQ(task.others, back.others);
    EXPECT_EQ(task.startFolder, back.startFolder);
}

// The parent is the prompt whatever its console; further ancestors count
// only on the launcher's console, and no ancestor is among the others.
TEST(Launcher, TheTaskArgumentNamesTheAncestorsOnTheConsoleAsPromptsAndTheRestAsOthers) {
    using Refs = std::vector<vrek::ProcessRef>;
    const vrek::ProcessRef self{10, 1}, parent{20, 2}, elsewhere{30, 3}, outer{40, 4}, other{50, 5};
    struct {
        Refs ancestors, console, prompts, others;
    } cases[] = {
        {{parent, elsewhere, outer}, {other, outer, parent}, {parent, outer}, {other}},
        {{parent, outer}, {other}, {parent}, {other}},
        {{}, {self, other}, {self}, {other}},
    };
    for (const auto& c : cases) {
        const vrek::TaskArgument task = vrek::MakeTaskArgument(self, c.ancestors, c.console, L"C:\\w");
        EXPECT_EQ(c.prompts, task.prompts) << c.ancestors.size() << " ancestors";
        EXPECT_EQ(c.others, task.others) << c.ancestors.size() << " ancestors";
        EXPECT_EQ(L"C:\\w", task.startFolder);
    }
}

// Wine's process creation fails now and then with ERROR_INTERNAL_ERROR and
// starts the program on the next try; any other failure is the answer.
TEST(Launcher, AStartIsTriedAgainOnlyAfterAnInternalErrorAndAtMostThreeTimes) {
    // Fails `failures` times with `error`, then starts process 42.
    static int calls, failures;
    static DWORD error;
    const vrek::StartCall run = [](kovra::C_Process&, const wchar_t*, const wchar_t*, const wchar_t*, int, int,
                                   const wchar_t*) -> unsigned long {
        if (++calls > failures) return 42;
        SetLastError(error);
        return kovra::NO_PROCESS;
    };
    struct {
        DWORD error;
        int failures, calls;
        unsigned long pid;
    } cases[] = {
        {ERROR_INTERNAL_ERROR, 2, 3, 42},
        {ERROR_INTERNAL_ERROR, 3, 3, kovra::NO_PROCESS},
        {ERROR_FILE_NOT_FOUND, 2, 1, kovra::NO_PROCESS},
    };
    for (const auto& c : cases) {
        calls = 0;
        failures = c.failures;
        error = c.error;
        kovra::C_Process process;
        EXPECT_EQ(c.pid, vrek::StartProcess(process, L"x", L"", 0, 0, nullptr, run)) << c.error;
        EXPECT_EQ(c.calls, calls) << c.error << " failing " << c.failures << " times";
    }
}

// A process is used only while it is the one the launcher named: the same
// id with another creation time (a reused id) or none is not it.
TEST(ProcessQueries, AProcessIsTheSameOnlyWithItsOwnCreationTime) {
    const vrek::ProcessRef self = vrek::CurrentProcessRef(GetCurrentProcessId());
    ASSERT_NE(0u, self.created);
    EXPECT_TRUE(vrek::OpenSameProcess(self, 0));
    EXPECT_FALSE(vrek::OpenSameProcess({self.pid, self.created + 1}, 0));
    EXPECT_FALSE(vrek::OpenSameProcess({self.pid, 0}, 0));
    EXPECT_EQ(L"", vrek::ReadProcessCurrentDirectory({self.pid, self.created - 1}));
}

namespace {

// A process's memory as a map from address to bytes; each reading of the
// folder's text may be another one (a prompt in the middle of a cd).
struct FakeMemory {
    std::vector<std::pair<unsigned long long, std::string>> blocks;
    std::vector<std::wstring> texts;  // the folder at each reading of it
    unsigned long long textAt = 0;
    size_t reads = 0;
    static bool Read(void* self, unsigned long long address, void* buffer, size_t size) {
        auto* memory = static_cast<FakeMemory*>(self);
        if (address == memory->textAt) {
            std::wstring text = memory->texts[std::min(memory->reads++, memory->texts.size() - 1)];
            text.resize(size / 2);
            memcpy(buffer, text.data(), size);
            return true;
        }
        for (const auto& block : memory->blocks) {
            if (address < block.first || address + size > block.first + block.second.size()) continue;
            memcpy(buffer, block.second.data() + (address - block.first), size);
            return true;
        }
        return false;
    }
};

std::string Bytes(std::initializer_list<std::pair<size_t, unsigned long long>> fields, size_t size, size_t width) {
    std::string bytes(size, '\0');
    for (const auto& field : fields) memcpy(&bytes[field.first], &field.second, width);
    return bytes;
}

}  // namespace

// The folder of a 32-bit prompt lies in its 32-bit start-up block (a cd
// never updates the 64-bit one), and a reading while the prompt changes it
// waits for two that agree. Wine runs no 32-bit cmd.exe here: the layouts
// are given as memory. The folder's backslash at its end goes, but not a
// drive root's: the prompt reads "C:\>", never "C:>".
TEST(ProcessQueries, TheFolderIsReadFromEitherLayoutWhenTwoReadingsAgree) {
    const std::pair<std::wstring, std::wstring> folders[] = {{L"C:\\Windows\\SysWOW64\\", L"C:\\Windows\\SysWOW64"},
                                                             {L"C:\\", L"C:\\"}};
    for (const auto& [folder, shown] : folders) {
        for (bool wow64 : {true, false}) {
            for (bool torn : {false, true}) {
                FakeMemory memory;
                memory.textAt = 0x9000;
                memory.texts =
                    torn ? std::vector<std::wstring>{L"C:\\Windows\\Sys", L"C:\\other\\folder1", folder, folder}
                         : std::vector<std::wstring>{folder};
                const unsigned long long length = folder.size() * 2;
                if (wow64) {
                    memory.blocks = {{0x1000, Bytes({{0x10, 0x2000}}, 0x20, 4)},
                                     {0x2000, Bytes({{0x24, length}, {0x28, 0x9000}}, 0x30, 4)}};
                } else {
                    memory.blocks = {{0x1000, Bytes({{0x20, 0x2000}}, sizeof(PEB), 8)},
                                     {0x2000, Bytes({{0x38, length}, {0x40, 0x9000}}, 0x100, 8)}};
                }
                EXPECT_EQ(shown, vrek::ReadCurrentDirectoryAt(FakeMemory::Read, &memory, 0x1000, wow64))
                    << testsupport::Narrow(folder) << " wow64 " << wow64 << " torn " << torn;
            }
        }
    }
}

// PROMPT's codes, as cmd draws them.
TEST(Prompt, TheCodesOfPromptAreDrawnAsCmdDrawsThem) {
    vrek::PromptFacts facts;
    facts.folder = L"C:\\work";
    facts.now.wHour = 9;
    facts.now.wMinute = 5;
    facts.now.wSecond = 7;
    facts.now.wMilliseconds = 250;
    facts.version = L"V";
    EXPECT_EQ(L"C:\\work>", vrek::ExpandPrompt(L"", facts));
    EXPECT_EQ(L"[C:\\work]>< C$ =|()&\x1B\b V\r\n 9:05:07.25",
              vrek::ExpandPrompt(L"[$p]$G$L$S$N$$$S$Q$B$C$F$A$E$H$S$V$M$+$X$_$T$", facts));
}

// The redrawn prompt shows the prompt's own folder: read from its process,
// a `cd` typed there included.
TEST(ProcessQueries, AProcesssCurrentFolderIsReadFromItAsItChanges) {
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryW(dir.File(L"sub dir").c_str(), nullptr));
    testsupport::PipedProcess shell;
    ASSERT_TRUE(shell.Start(L"cmd.exe /d /q /k", dir.Path().c_str()));
    auto folderIs = [&](const std::wstring& folder) {
        return testsupport::WaitUntil(
            [&] {
                const std::wstring read = vrek::ReadProcessCurrentDirectory(vrek::CurrentProcessRef(shell.Pid()));
                return CompareStringOrdinal(read.c_str(), -1, folder.c_str(), -1, TRUE) == CSTR_EQUAL;
            },
            10000);
    };
    const vrek::ProcessRef prompt = vrek::CurrentProcessRef(shell.Pid());
    EXPECT_TRUE(folderIs(dir.Path())) << testsupport::Narrow(vrek::ReadProcessCurrentDirectory(prompt));
    ASSERT_TRUE(shell.Write("cd \"sub dir\"\r\n"));
    EXPECT_TRUE(folderIs(dir.File(L"sub dir")));
    ASSERT_TRUE(shell.Write("exit\r\n"));
    shell.Wait();
    EXPECT_EQ(L"", vrek::ReadProcessCurrentDirectory(prompt)) << "a process that is gone";
}
