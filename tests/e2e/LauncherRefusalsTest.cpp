#include <gtest/gtest.h>

#include "VrekRun.h"
#include "support/TestSupport.h"

using e2e::PutwsBytes;
using e2e::RunVrek;

struct Refusal {
    const wchar_t* args;
    const wchar_t* message;  // with its line end, as printed
};

class LauncherRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(LauncherRefuses, WithTheExactMessageAndStatusOne) {
    testsupport::RunResult run = RunVrek(GetParam().args);
    ASSERT_TRUE(run.started) << "error " << run.startError;
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(testsupport::ToCodePage(GetParam().message, 932), run.out);
}

INSTANTIATE_TEST_SUITE_P(OptionErrors, LauncherRefuses,
                         testing::Values(Refusal{L"--Task dir", L"--task オプションは必須です。\r\n"},
                                         Refusal{L"--nul", L"--task オプションは必須です。\r\n"},
                                         Refusal{L"--nul --task", L"--task オプションには実行コマンドが必須です。\r\n"},
                                         Refusal{L"--in \"\" --out \"\" --task x", L"--in の値が不正です。\r\n"},
                                         Refusal{L"--out \"\" --task x", L"--out の値が不正です。\r\n"},
                                         Refusal{L"--err \"\" --task x", L"--err の値が不正です。\r\n"},
                                         Refusal{L"--delay -5 --task x", L"--delay の値が不正です。\r\n"},
                                         Refusal{L"--out --task dir", L"--out オプションに引数が必要です。\r\n"},
                                         Refusal{L"--out", L"--out オプションに引数が必要です。\r\n"},
                                         Refusal{L"--priority 5 --task x", L"--priority の値が不正です。\r\n"},
                                         Refusal{L"--delay \" 5\" --task x", L"--delay の値が不正です。\r\n"},
                                         Refusal{L"--bogus --task dir", L"--bogus 無効なオプションです。\r\n"},
                                         Refusal{L"--nul -x --task dir", L"-x 無効なオプションです。\r\n"},
                                         Refusal{L"-- --task dir", L"-- 無効なオプションです。\r\n"},
                                         Refusal{L"--delay=5 --task dir", L"--delay=5 無効なオプションです。\r\n"}));

TEST(Launcher, AloneShowsTheUsageWithStatusZero) {
    testsupport::RunResult run = RunVrek(L"");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0u, run.out.rfind(PutwsBytes(L"vrek version 1.00"), 0));
}

TEST(Launcher, AnEmptyArgumentSuppressesTheUsage) {
    testsupport::RunResult run = RunVrek(L"\"\"");
    EXPECT_EQ(std::string::npos, run.out.find("vrek version"));
}

TEST(Launcher, AnUnusableDirIsRefused) {
    testsupport::RunResult run = RunVrek(L"--dir no-such-folder-here --task cmd /c exit");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(PutwsBytes(L"カレントディレクトリが認識できませんでした。"), run.out);
}

TEST(Launcher, ATaskCopyThatCannotStartIsAJobError) {
    // Each quote of the command gains a backslash in the task line: 16500
    // make a launcher line Windows accepts and a task line it would refuse.
    testsupport::RunResult run = RunVrek(L"--nul --task echo " + std::wstring(16500, L'"'));
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ("job error.", run.out) << "no line end";
}

// Any program of the session may make a block of its own under the table's
// name: a daemon's task copy then finds no record and refuses to run, since
// nobody could stop it (the launcher's refusal and the manager's empty list
// are the stress suite's SquattedNames).
TEST(ForeignTable, UnderABlockTooSmallADaemonIsRefused) {
    HANDLE holder =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, vrek::REGISTRY_BLOCK_NAME);
    ASSERT_NE(nullptr, holder);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "the real table is held elsewhere";
    testsupport::TempDir dir;
    testsupport::RunResult task = RunVrek(
        L"04001001000.00 o.txt " + e2e::ChildTask(L"emit", L"o:68690a") + L" --pid-task--1", dir.Path().c_str());
    EXPECT_EQ(1u, task.exitCode) << "the task runs unregistered";
    const std::string file = testsupport::ReadFileBytes(dir.File(L"o.txt"));
    EXPECT_EQ(0u, file.find(testsupport::ToCodePage(L"管理者権限が無いため --daemon オプションに失敗しました。\n", CP_ACP)))
        << file;
    CloseHandle(holder);
}
