// What a job's input, output files and reports hold, as a user at a prompt
// meets them: no keyboard for a job, one writer per output file, one file
// under two names, no report in the command's output, a start failure that
// says why, a delay that is a number.
#include <windows.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "VrekRun.h"
#include "support/TestSupport.h"

using e2e::ChildTask;
using e2e::Hex;
using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

// A result line with this status, as a pattern (passed through, the line
// end is the text-mode one).
std::string Result(int status) {
    return "\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\] job \\d+: result " + std::to_string(status) + "\r?\n";
}
const char kBootError[] = "\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\] job boot error\n";

std::string Escaped(const std::wstring& text) {
    return std::regex_replace(testsupport::Narrow(text), std::regex("[\\\\.()\\[\\]^$|?*+{}]"), "\\$&");
}

enum Prompt {
    DETACHED,    // a launcher without a console
    HIDDEN_CMD,  // a prompt (cmd) with a console of its own, no window, whose keyboard no one uses
    NO_CONSOLE,  // a `cmd /c` that ends with the launcher: no console anywhere
};

// Starts the launcher from a hidden prompt that stays a few seconds: the job
// gets that prompt's console and keyboard.
std::unique_ptr<e2e::Job> StartBehindHiddenPrompt(const std::wstring& args, const std::wstring& dir) {
    auto job = std::make_unique<e2e::Job>();
    const std::wstring log = dir + L"\\launcher.log";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    kovra::common::UniqueFileHandle out(CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::wstring line =
        L"cmd /d /s /c \"\"" + e2e::VrekPath() + L"\" " + args + L" & " + ChildTask(L"emit", L"sleep:4000") + L"\"";
    kovra::common::UniqueHandle prompt =
        testsupport::StartWithHandles(line, nullptr, out.Get(), out.Get(), CREATE_NO_WINDOW, dir.c_str());
    if (!prompt) return job;
    std::smatch match;
    const std::regex started("job: (\\d+) started");
    if (testsupport::WaitUntil(
            [&] {
                job->launcherOut = ReadFileBytes(log);
                return std::regex_search(job->launcherOut, match, started);
            },
            20000)) {
        job->launcherExit = 0;
        job->pid = std::stoul(match[1].str());
        job->task.Reset(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, job->pid));
    }
    return job;
}

struct StreamRow {
    const char* what;
    std::wstring args;         // the job, in the row's folder ({dir} is that folder)
    std::wstring holder;       // a job that holds its files while the row's job starts; empty: none
    Prompt prompt;             // where the launcher is started
    DWORD launcherExit;        // the launcher's status
    DWORD status;              // the job's status (when a job started)
    std::string launcherSaid;  // pattern of the launcher's output; empty: "job: N started"
    std::vector<std::pair<std::wstring, std::string>> files;  // a file and the pattern of all its bytes
    std::vector<std::wstring> absent;                         // files that must not exist
};

std::wstring InDir(std::wstring text, const std::wstring& dir) {
    for (size_t at; (at = text.find(L"{dir}")) != std::wstring::npos;) text.replace(at, 5, dir);
    return text;
}

}  // namespace

TEST(StreamRules, InputOutputFilesAndReportsOfAJob) {
    const std::wstring emit = ChildTask(L"emit");
    const std::wstring mixed =
        emit + L" o:" + Hex("out1\n") + L" e:" + Hex("err1\n") + L" sleep:200 o:" + Hex("out2\n");
    const StreamRow rows[] = {
        {"--flush2 gives the command no keyboard",
         L"--flush2 --out o.txt --task " + ChildTask(L"readin"),
         L"",
         HIDDEN_CMD,
         0,
         0,
         "",
         {{L"o.txt", "read 0 bytes\n" + Result(0)}},
         {}},
        {"an output file another job writes is refused, and that job's file is intact",
         L"--out shared.txt --err e.txt --task " + emit + L" touch:{dir}\\ran.txt",
         L"--out shared.txt --task " + emit + L" o:" + Hex("first\n") + L" sleep:2500 o:" + Hex("second\n"),
         DETACHED,
         0,
         1,
         "",
         {{L"e.txt", "[^\n]*shared\\.txt \\([^\n]+\\)\n" + std::string(kBootError)},
          {L"shared.txt", "first\nsecond\n" + Result(0)}},
         {L"ran.txt"}},
        {"one file under two names (a hard link) takes both streams",
         L"--out s.txt --err link.txt --task " + mixed,
         L"",
         DETACHED,
         0,
         0,
         "",
         {{L"s.txt", "(out1\nout2\nerr1\n|out1\nerr1\nout2\n|err1\nout1\nout2\n)" + Result(0)}},
         {}},
        {"one file under two spellings takes both streams in order, passed through",
         L"--flush2 --out p.txt --err \\\\?\\{dir}\\P.TXT --task " + mixed,
         L"",
         DETACHED,
         0,
         0,
         "",
         {{L"p.txt", "out1\nerr1\nout2\n" + Result(0)}},
         {}},
        {"with no console the command's output alone fills its file",
         L"--out o.txt --task " + mixed,
         L"",
         NO_CONSOLE,
         0,
         0,
         "",
         {{L"o.txt", "out1\nout2\n" + Result(0)}},
         {}},
        {"a command that cannot start says why",
         L"--out o.txt --task no-such-program-anywhere.exe",
         L"",
         DETACHED,
         0,
         1,
         "",
         {{L"o.txt", "[^\n]*no-such-program-anywhere\\.exe \\([^\n]+\\)\n" + std::string(kBootError)}},
         {}},
        {"and says why without --nologo's boot error line",
         L"--nologo --out o.txt --task no-such-program-anywhere.exe",
         L"",
         DETACHED,
         0,
         1,
         "",
         {{L"o.txt", "[^\n]*no-such-program-anywhere\\.exe \\([^\n]+\\)\n"}},
         {}},
        {"a delay that is no number (junk after a number) is refused",
         L"--delay 1,5 --out o.txt --task " + emit,
         L"",
         DETACHED,
         1,
         0,
         e2e::PutwsBytes(L"--delay の値が不正です。"),
         {},
         {L"o.txt"}},
    };
    for (const StreamRow& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"s.txt"), ""));
        ASSERT_TRUE(CreateHardLinkW(dir.File(L"link.txt").c_str(), dir.File(L"s.txt").c_str(), nullptr));
        std::unique_ptr<e2e::Job> holder;
        if (!row.holder.empty()) {
            holder = e2e::StartJob(L"--delay 0.3 " + InDir(row.holder, dir.Path()), dir.Path().c_str());
            EXPECT_TRUE(
                testsupport::WaitUntil([&] { return ReadFileBytes(dir.File(L"shared.txt")) == "first\n"; }, 20000));
        }
        const std::wstring args = L"--delay 0.3 " + InDir(row.args, dir.Path());
        auto job = row.prompt == HIDDEN_CMD ? StartBehindHiddenPrompt(args, dir.Path())
                                            : e2e::StartJobWithOutputFile(args, dir.File(L"launcher.log"),
                                                                          dir.Path().c_str(), row.prompt == NO_CONSOLE);
        EXPECT_EQ(row.launcherExit, job->launcherExit) << job->launcherOut;
        if (row.launcherSaid.empty()) {
            EXPECT_TRUE(std::regex_match(job->launcherOut, std::regex("job: \\d+ started"))) << job->launcherOut;
            EXPECT_EQ(row.status, job->Wait()) << "the job's status";
        } else {
            EXPECT_EQ(row.launcherSaid, job->launcherOut);
        }
        if (holder) {
            EXPECT_EQ(0u, holder->Wait()) << "the job that held the file";
        }
        for (const auto& file : row.files) {
            const std::string pattern =
                std::regex_replace(file.second, std::regex("\\{prompt\\}"), Escaped(dir.Path()) + ">");
            const std::string text = ReadFileBytes(dir.File(file.first));
            EXPECT_TRUE(std::regex_match(text, std::regex(pattern))) << testsupport::Narrow(file.first) << ":\n"
                                                                     << text;
        }
        for (const auto& file : row.absent) {
            EXPECT_FALSE(testsupport::FileExists(dir.File(file))) << testsupport::Narrow(file);
        }
    }
}
