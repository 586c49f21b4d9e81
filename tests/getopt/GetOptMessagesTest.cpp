#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "getopt/GetOptFixtures.h"
#include "kovra/C_GetOpt.h"
#include "support/TestSupport.h"

using getopttest::ArgVector;
using getopttest::ToolTable;
using kovra::C_GetOpt;

// The diagnostics go to standard output through wprintf, so each case runs
// in a child that sets the locale as the tool does, parses one vector to its
// end and exits with the final opterr; the parent compares the bytes.
namespace {

enum class Entry { Short, Long, Tool };

struct MessageCase {
    const char* name;
    Entry entry;
    char lead;
    const char* optstring;
    int opterr;
    std::vector<const wchar_t*> args;
    const wchar_t* expected;
    int finalOpterr;
};

const std::vector<MessageCase>& Cases() {
    static const std::vector<MessageCase> cases = {
        {"long_unknown", Entry::Tool, '-', "", 1, {L"--del"}, L"--del 無効なオプションです。\n", 1},
        {"long_bare_lead", Entry::Tool, '-', "", 1, {L"--"}, L"-- 無効なオプションです。\n", 1},
        {"long_case_and_equals",
         Entry::Tool,
         '-',
         "",
         1,
         {L"--DELAY", L"5", L"--delay=5"},
         L"--DELAY 無効なオプションです。\n--delay=5 無効なオプションです。\n",
         1},
        {"long_japanese_name", Entry::Tool, '-', "", 1, {L"--遅延"}, L"--遅延 無効なオプションです。\n", 1},
        {"long_missing_value",
         Entry::Tool,
         '-',
         "",
         1,
         {L"--nul", L"--out"},
         L"--out オプションに引数が必要です。\n",
         1},
        {"letter_unknown", Entry::Tool, '-', "", 1, {L"-x"}, L"-x 無効なオプションです。\n", 1},
        {"letter_wide", Entry::Long, '-', "X", 1, {L"-\xFF58"}, L"-\xFF58 無効なオプションです。\n", 1},
        {"letter_missing_value", Entry::Long, '-', "o:", 1, {L"a", L"-o"}, L"-o オプションに引数が必要です。\n", 1},
        {"cluster_missing_value",
         Entry::Long,
         '-',
         "xo:",
         1,
         {L"-xo", L"next"},
         L"-o オプションに引数が必要です。\n",
         1},
        {"cluster_unknown_inside", Entry::Long, '-', "a", 1, {L"-az", L"b"}, L"-z 無効なオプションです。\n", 1},
        {"cluster_unknown_last", Entry::Long, '-', "a", 1, {L"b", L"-az"}, L"-az の解析に失敗しました。\n", 2},
        {"slash_lead",
         Entry::Long,
         '/',
         "",
         1,
         {L"/x", L"//name", L"-x"},
         L"/x 無効なオプションです。\n//name 無効なオプションです。\n",
         1},
        {"short_unknown_then_missing",
         Entry::Short,
         '-',
         "o:",
         1,
         {L"-z", L"-abc", L"-o"},
         L"-z 無効なオプションです。\n-o オプションに引数が必要です。\n",
         1},
        {"short_double_lead", Entry::Short, '-', "", 1, {L"--"}, L"-- 無効なオプションです。\n", 1},
        {"silenced", Entry::Tool, '-', "", 0, {L"--del", L"-x", L"--out"}, L"", 0},
        {"silenced_cluster_last", Entry::Long, '-', "a", 0, {L"-az"}, L"", 0},
    };
    return cases;
}

// gtest names the failing case by this instead of dumping the record's bytes.
void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

// What reaches the pipe: standard output is a text-mode stream, so every
// "\n" of a message arrives as "\r\n", and the text is in code page 932.
std::string PipeBytes(const std::wstring& text) {
    std::wstring crlf;
    for (wchar_t ch : text) {
        if (ch == L'\n') crlf += L'\r';
        crlf += ch;
    }
    return testsupport::ToCodePage(crlf, 932);
}

const MessageCase* FindCase(const std::wstring& name) {
    for (const MessageCase& c : Cases()) {
        if (testsupport::Widen(c.name) == name) return &c;
    }
    return nullptr;
}

}  // namespace

TEST_CHILD(getopt_messages) {
    if (argc < 1) return 100;
    const MessageCase* c = FindCase(argv[0]);
    if (c == nullptr) return 101;
    if (setlocale(LC_CTYPE, "japanese") == nullptr) return 102;

    ArgVector args(c->args);

    ToolTable table;
    C_GetOpt parser;
    parser.setoptchar(c->lead);
    parser.opterr() = c->opterr;
    int calls = 0;
    for (;;) {
        int result = c->entry == Entry::Short
                         ? parser.getopt(args.argc(), args.argv(), c->optstring)
                         : parser.getopt_long(args.argc(), args.argv(), c->optstring,
                                              c->entry == Entry::Tool ? table.entries() : nullptr, nullptr);
        if (result == -1) break;
        if (++calls > 32) return 103;  // the parse never ended
    }
    fflush(stdout);
    return parser.opterr();
}

class GetOptMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(GetOptMessages, PrintedByteExactInTheJapaneseCodePage) {
    const MessageCase& c = GetParam();
    testsupport::RunResult run =
        testsupport::RunCapture(testsupport::ChildCommand(L"getopt_messages", testsupport::Widen(c.name)));
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(static_cast<DWORD>(c.finalOpterr), run.exitCode);
    EXPECT_EQ(PipeBytes(c.expected), run.out);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetOptMessages, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<MessageCase>& info) {
                             return std::string(info.param.name);
                         });
