#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tool/Usage.h"

namespace {

std::vector<std::wstring> ExpectedLines() {
    std::string text = testsupport::ReadFileBytes(testsupport::SourcePath(L"tests/options/usage-expected.txt"));
    std::vector<std::wstring> lines;
    for (const std::string& line : testsupport::SplitLines(text)) lines.push_back(testsupport::Widen(line));
    // SplitLines drops nothing but a final empty piece; the text ends with an
    // empty line of its own.
    return lines;
}

}  // namespace

TEST(Usage, TheLinesAsWideText) {
    std::vector<std::wstring> expected = ExpectedLines();
    ASSERT_EQ(90u, expected.size()) << "expected text not found or damaged";
    ASSERT_EQ(90, vrek::kUsageLineCount);
    for (int i = 0; i < 90; ++i) EXPECT_EQ(expected[i], vrek::kUsageLines[i]) << "line " << (i + 1);
    EXPECT_EQ(std::wstring(L"  --nul  in,out.err 全てのデフォルトを nul にします。"), vrek::kUsageLines[15]);
    EXPECT_EQ(L'\xFF5E', vrek::kUsageLines[21][16]) << "full-width tilde";
}

// vrek alone, or what a new user types first, shows the help in code page
// 932; the same words anywhere else keep their ordinary meaning.
TEST(Usage, AloneOrWithAHelpFormVrekShowsTheUsageAndTheSameWordsElsewhereKeepTheirMeaning) {
    std::string usage;
    for (const std::wstring& line : ExpectedLines()) usage += testsupport::ToCodePage(line, 932) + "\r\n";
    const std::string started = "job: ";
    const struct {
        const wchar_t* args;
        std::string out;  // the whole output, or its start for a started job
        DWORD status;
    } cases[] = {
        {L"", usage, 0},
        {L"--help", usage, 0},
        {L"-h", usage, 0},
        {L"-H", usage, 0},
        {L"-?", usage, 0},
        {L"/?", usage, 0},
        {L"/h", usage, 0},
        {L"/H", usage, 0},
        {L"--version", "vrek version 1.00\r\n", 0},
        {L"--HELP", testsupport::ToCodePage(L"--task オプションは必須です。\r\n", 932), 1},
        {L"--nul --help", testsupport::ToCodePage(L"--task オプションは必須です。\r\n", 932), 1},
        {L"--nul --nologo --task cmd /?", started, 0},
        {L"--nul --nologo --task --help", started, 0},
        {L"-h more words", started, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Narrow(c.args));
        testsupport::RunResult run =
            testsupport::RunCapture(L"\"" + testsupport::ProgramDir() + L"\\vrek.exe\" " + c.args);
        EXPECT_EQ(c.status, run.exitCode);
        if (c.out == started)
            EXPECT_EQ(0u, run.out.rfind(started, 0)) << run.out;
        else
            EXPECT_TRUE(testsupport::SameBytes(c.out, run.out));
    }
}
