// The rule users judge vrek by: `vrek <command line>` runs the command line
// as if it had been typed at that prompt. cmd.exe itself is the oracle: a
// seeded grid of command lines runs both directly and through vrek --out, for
// a built-in (echo), a batch file and a program that prints its argv, and
// both must give the same bytes.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "VrekRun.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

enum CommandKind { ECHO, BATCH, PROGRAM };

// What the prompt's first reading leaves of a line: the text the command
// receives. Quotes, backslash runs before quotes and at the end, cmd's
// special characters, variables that must not expand again, blanks, tabs,
// empty quotes and Japanese.
const wchar_t* const kAtoms[] = {L"a",    L"b1",     L"日本", L"-x", L"/y", L"\"", L"\"", L"\"\"",    L"\\",
                                 L"\\\\", L"\\\\\\", L"&",    L"|",  L"<",  L">",  L"^",  L"(",       L")",
                                 L"%",    L"%OS%",   L"!OS!", L"!",  L" ",  L"  ", L"\t", L"\"a b\"", L"C:\\My Dir\\"};

bool IsCmdSpecial(wchar_t c) { return wcschr(L"&|<>^()", c) != nullptr; }

// Wine's cmd keeps a caret outside quotes (before ^ ( or ), not & | < >)
// that has quotes before and after it in its word (up to a blank, not a
// tab): "a"^)b"c" stays as it
// is, where Windows' cmd removes the caret. Such lines cannot be compared
// here and are left out of the grid.
bool HitsWineCaretGap(const std::wstring& text) {
    bool quoted = false;
    bool quoteInWord = false;
    bool caretAfterQuote = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (!quoted && c == L' ') {  // a tab does not end the word here
            quoteInWord = caretAfterQuote = false;
        } else if (c == L'"') {
            if (caretAfterQuote) return true;
            quoted = !quoted;
            quoteInWord = true;
        } else if (!quoted && quoteInWord && wcschr(L"^()", c)) {
            caretAfterQuote = true;
        }
    }
    return false;
}

// The arguments after the command word. A batch file reads its arguments
// again (echo [%*]), so outside quotes it gets no redirection: the files it
// would make would let one run see another's.
std::wstring RandomArguments(std::mt19937& rng, CommandKind kind) {
    std::wstring text;
    bool quoted = false;
    for (unsigned n = 1 + rng() % 10; n > 0;) {
        const std::wstring atom = kAtoms[rng() % (sizeof kAtoms / sizeof kAtoms[0])];
        if (kind == BATCH && !quoted && (atom == L"<" || atom == L">")) continue;
        if (HitsWineCaretGap(text + atom)) continue;
        for (wchar_t c : atom)
            if (c == L'"') quoted = !quoted;
        text += atom;
        --n;
    }
    // echo with nothing visible would report its own state instead.
    if (kind == ECHO && text.find_first_not_of(L" \t") == std::wstring::npos) text += L"x";
    // Wine's cmd joins the next line of a batch file to one that ends in a
    // caret even inside quotes, where Windows' cmd takes the caret as it is.
    if (text.back() == L'^') text += L"a";
    return text;
}

// The same text as a batch file line must hold it for the first reading to
// give it back: % doubled, and a caret before each special character outside
// quotes (cmd's view of quotes: every " toggles).
std::wstring ForBatchFile(const std::wstring& text) {
    std::wstring line;
    bool quoted = false;
    for (wchar_t c : text) {
        if (c == L'"') quoted = !quoted;
        if (c == L'%') line += L'%';
        if (!quoted && IsCmdSpecial(c)) line += L'^';
        line += c;
    }
    return line;
}

struct Row {
    Row(CommandKind k, std::wstring a, std::wstring w = L"", std::wstring t = L"")
        : kind(k), arguments(std::move(a)), word(std::move(w)), typed(std::move(t)) {}
    CommandKind kind;
    std::wstring arguments;  // after the command word, as the command receives them
    std::wstring word;       // a batch file's spelling; empty: the kind's own word
    std::wstring typed;      // cmd's syntax, as typed in a batch file: the whole line
};

// The spellings of a batch file that the prompt finds: the name's letter
// case, no extension, a folder, quotes, a blank inside quotes, call.
const wchar_t* const kBatchSpellings[] = {
    L"printargs.bat", L"t.cmd", L"T.CMD", L"t", L".\\t.cmd", L"\"t.cmd\"", L"\"sub dir\\t.cmd\"", L"call t.cmd"};

std::wstring CommandWord(const Row& row) {
    if (!row.word.empty()) return row.word;
    switch (row.kind) {
    case ECHO:
        return L"echo";
    case BATCH:
        return L"printargs.bat";
    default:
        return e2e::ChildTask(L"args");
    }
}

std::wstring Typed(const Row& row) {
    return row.typed.empty() ? CommandWord(row) + L" " + ForBatchFile(row.arguments) : row.typed;
}

// A line whose output the batch file's log catches: a batch file that does
// not come back (run without call), or cmd's syntax, before which Wine's cmd
// drops a redirection.
bool RunsAlone(const Row& row) { return row.kind == BATCH && row.word.compare(0, 5, L"call ") != 0; }

// The cases users met, then the seeded grid.
std::vector<Row> Grid(unsigned seed, int perKind) {
    std::vector<Row> rows = {
        {ECHO, L"a&b"},
        {ECHO, L"\"a&b\""},
        {ECHO, L"x>y.txt"},
        {ECHO, L"a^b"},
        {ECHO, L"%OS% \"quoted\""},
        {BATCH, L"one \"two words\" \"three\""},
        {BATCH, L"\"C:\\My Dir\\\" x"},
        {BATCH, L"\"a\\\"b\""},
        {PROGRAM, L"one \"two words\" \"three\""},
        {PROGRAM, L"\"C:\\My Dir\\\" x"},
        {PROGRAM, L"\"a\\\"b\" \"\" \"un closed"},
    };
    // cmd's own syntax, typed whole.
    for (const wchar_t* typed : {L"if exist t.cmd (echo yes) else (echo no)", L"for %%i in (a b) do @echo [%%i]",
                                 L"echo.x", L"echo(x", L"@echo hi", L"(echo a ^& echo b)", L"rem x", L"dir/b t.cmd"})
        rows.emplace_back(BATCH, L"", L"-", typed);
    std::mt19937 rng(seed);
    for (CommandKind kind : {ECHO, BATCH, PROGRAM}) {
        for (int i = 0; i < perKind; ++i) {
            rows.emplace_back(kind, RandomArguments(rng, kind));
            if (kind == BATCH)
                rows.back().word = kBatchSpellings[rng() % (sizeof kBatchSpellings / sizeof *kBatchSpellings)];
        }
    }
    return rows;
}

bool WriteBatch(const std::wstring& path, const std::vector<std::wstring>& lines) {
    std::wstring text = L"@echo off\r\n";
    for (const auto& line : lines) text += line + L"\r\n";
    return testsupport::WriteFileBytes(path, testsupport::ToCodePage(text, 932));
}

// Runs a batch file with cmd.exe in `directory`, its output into
// <batch>.log (vrek's task copies may hold what the launcher was given: not
// a pipe). cmd
// gets a console without a window: under Wine, the console programs that a
// detached cmd starts write nothing to their redirected output.
DWORD RunBatch(const std::wstring& batch, const std::wstring& directory) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    kovra::common::UniqueFileHandle log(CreateFileW((batch + L".log").c_str(), FILE_APPEND_DATA,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    kovra::common::UniqueFileHandle in(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    kovra::common::UniqueHandle process = testsupport::StartWithHandles(
        L"cmd /d /c \"" + batch + L"\"", in.Get(), log.Get(), log.Get(), CREATE_NO_WINDOW, directory.c_str());
    DWORD code = 0xFFFFFFFF;
    if (!process) return code;
    if (WaitForSingleObject(process.Get(), 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.Get(), &code);
    return code;
}

// The part of a launcher line that names its --out file: cmd echoes it
// unchanged in the message for a line it could not start.
std::string OutputMark(const std::wstring& line) {
    const size_t from = line.find(L" --out "), to = line.find(L" --task ", from);
    return testsupport::Narrow(line.substr(from, to + 8 - from));
}

// Runs vrek's launchers from batch files in `directory`, one line each, each
// with its own --out file. cmd reports a line it could not start by echoing
// the line: Wine's process creation fails now and then when many processes
// start at once (ERROR_INTERNAL_ERROR, which cmd does not try again, where
// vrek's own starts do), and vrek never ran. Such lines are started again,
// three tries in all, and named in the output.
void RunLaunchers(const std::wstring& batch, std::vector<std::wstring> lines, const std::wstring& directory) {
    for (int attempt = 1; !lines.empty(); ++attempt) {
        const std::wstring file = batch + (attempt == 1 ? L"" : L"-try" + std::to_wstring(attempt)) + L".bat";
        ASSERT_TRUE(WriteBatch(file, lines));
        const DWORD code = RunBatch(file, directory);
        const std::string said = ReadFileBytes(file + L".log");
        std::vector<std::wstring> again;
        for (const std::wstring& line : lines) {
            const std::string mark = OutputMark(line);
            if (said.find(mark) == std::string::npos) continue;
            ASSERT_LT(attempt, 3) << "cmd could not start vrek.exe three times: " << said;
            printf("cmd could not start vrek.exe (try %d) for the line with \"%s\"; starting it again\n", attempt,
                   mark.c_str());
            again.push_back(line);
        }
        // 9009: cmd could not start the last line.
        ASSERT_EQ(again.empty() ? 0u : code, code) << said;
        lines.swap(again);
    }
}

// The job's output without its result line; false while the line is not
// there yet.
bool TakeResultLine(const std::string& text, std::string* body) {
    static const std::regex result("\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\] job \\d+: result -?\\d+\n$");
    std::smatch match;
    if (!std::regex_search(text, match, result)) return false;
    *body = text.substr(0, static_cast<size_t>(match.position(0)));
    return true;
}

std::wstring Name(const wchar_t* prefix, size_t i) { return prefix + std::to_wstring(i) + L".txt"; }

}  // namespace

TEST(CommandLineCp932, DirectlyAndThroughVrekCmdGivesTheSameBytes) {
    unsigned seed = 20261207;
    if (const char* given = getenv("VREK_GRID_SEED")) seed = static_cast<unsigned>(strtoul(given, nullptr, 10));
    const std::vector<Row> rows = Grid(seed, 90);
    printf("command-line grid: seed %u (VREK_GRID_SEED repeats it), %zu lines\n", seed, rows.size());

    TempDir dir;
    const std::wstring direct = dir.File(L"direct");
    const std::wstring through = dir.File(L"vrek");
    const std::wstring printargs = L"echo [%*]\r\necho [%1] [%2] [%3] [%4] [%5] [%6] [%7] [%8] [%9]";
    for (const auto& folder : {direct, through}) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub dir").c_str(), nullptr));
        for (const wchar_t* name : {L"printargs.bat", L"t.cmd", L"sub dir\\t.cmd"})
            ASSERT_TRUE(WriteBatch(folder + L"\\" + name, {printargs}));
    }

    // Directly: one batch file, except that a batch file run from one never
    // comes back, so each of those has a file of its own.
    std::vector<std::wstring> directLines;
    std::vector<std::wstring> jobs;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::wstring typed = Typed(rows[i]);
        const std::wstring redirected = L">" + Name(L"out", i) + L" " + typed;
        if (RunsAlone(rows[i])) {
            // cmd's syntax writes no errors: the log catches its output.
            const std::wstring own = dir.File(Name(L"direct", i) + L".bat");
            ASSERT_TRUE(WriteBatch(own, {rows[i].typed.empty() ? redirected : typed}));
            EXPECT_EQ(0u, RunBatch(own, direct) & 0xFFFF0000u) << "the batch file did not run";
            if (!rows[i].typed.empty()) {
                ASSERT_TRUE(
                    testsupport::WriteFileBytes(direct + L"\\" + Name(L"out", i), ReadFileBytes(own + L".log")));
            }
        } else {
            directLines.push_back(redirected);
        }
        jobs.push_back(L"\"" + e2e::VrekPath() + L"\" --in nul --err nul --out " + Name(L"out", i) + L" --task " +
                       typed);
    }
    ASSERT_TRUE(WriteBatch(dir.File(L"direct.bat"), directLines));
    ASSERT_NE(0xFFFFFFFFu, RunBatch(dir.File(L"direct.bat"), direct));

    // Through vrek, a few dozen jobs at a time. Only the output is compared,
    // so the jobs need no console: input and error go to nul.
    const size_t chunk = 40;
    for (size_t first = 0; first < jobs.size(); first += chunk) {
        const size_t end = std::min(jobs.size(), first + chunk);
        const std::wstring batch = dir.File(L"jobs" + std::to_wstring(first));
        const auto from = static_cast<long>(first), to = static_cast<long>(end);
        RunLaunchers(batch, std::vector<std::wstring>(jobs.begin() + from, jobs.begin() + to), through);
        if (HasFatalFailure()) return;
        for (size_t i = first; i < end; ++i) {
            std::string body;
            const std::wstring file = through + L"\\" + Name(L"out", i);
            EXPECT_TRUE(testsupport::WaitUntil([&] { return TakeResultLine(ReadFileBytes(file), &body); }, 60000))
                << "line " << i << ": " << testsupport::Narrow(Typed(rows[i])) << "\n no result line in "
                << (testsupport::FileExists(file) ? ReadFileBytes(file) : "(no file)") << "\n launchers said "
                << ReadFileBytes(batch + L".bat.log");
        }
    }

    int differing = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string body;
        TakeResultLine(ReadFileBytes(through + L"\\" + Name(L"out", i)), &body);
        const std::string expected = ReadFileBytes(direct + L"\\" + Name(L"out", i));
        if (body == expected) continue;
        if (++differing > 10) continue;
        ADD_FAILURE() << "line " << i << ": " << testsupport::Narrow(Typed(rows[i])) << "\n typed: " << expected
                      << "\n vrek:  " << body;
    }
    EXPECT_EQ(0, differing) << "of " << rows.size() << " lines; cmd said, run directly:\n"
                            << ReadFileBytes(dir.File(L"direct.bat.log")).substr(0, 3000);
}

// cmd must not take a quoted & for its own: typed directly, this deletes
// "old&new.txt" and nothing else.
TEST(CommandLine, AQuotedAmpersandNamesOneFile) {
    TempDir dir;
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"old"), "keep"));
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"old&new.txt"), "delete"));
    auto job = e2e::StartJob(L"--delay 0.3 --nologo --out o.txt --task del \"old&new.txt\"", dir.Path().c_str());
    EXPECT_EQ(0u, job->Wait());
    EXPECT_TRUE(testsupport::FileExists(dir.File(L"old")));
    EXPECT_FALSE(testsupport::FileExists(dir.File(L"old&new.txt")));
}

// A calling program's line reaches cmd with no second expansion; one that
// cmd would cut at a line end is refused before any job starts, however the
// line reaches cmd.
TEST(CommandLine, FromACallingProgramTheTextStaysLiteralOrIsRefused) {
    TempDir dir;
    auto job = e2e::StartJob(L"--delay 0.3 --nologo --out p.txt --task echo %OS% \"quoted\"", dir.Path().c_str());
    EXPECT_EQ(0u, job->Wait());
    EXPECT_EQ("%OS% \"quoted\"\r\n", ReadFileBytes(dir.File(L"p.txt")));

    ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"t.cmd"), "@echo ran\r\n"));
    for (const wchar_t* spelling : {L"echo \"a", L"@echo a", L"t.cmd. a", L"T a", L"\"t.cmd \" a"}) {
        for (const wchar_t* end : {L"\r", L"\n", L"\r\n"}) {
            testsupport::RunResult refused =
                e2e::RunVrek(L"--out q.txt --task " + std::wstring(spelling) + end + L"b\"", dir.Path().c_str());
            EXPECT_EQ(1u, refused.exitCode) << testsupport::Narrow(spelling);
            EXPECT_EQ(e2e::PutwsBytes(L"コマンドに改行が含まれているため実行できません。"), refused.out);
        }
    }
    EXPECT_FALSE(testsupport::FileExists(dir.File(L"q.txt")));
}

// However the batch file is spelled, cmd reads the rest of the line as the
// prompt left it: a trailing dot or blank, other letter cases, no extension
// or a folder with a blank typed unquoted (which names a program "d") never
// let the & of the text start a second command.
TEST(CommandLine, NoSpellingOfABatchFileRunsASecondCommand) {
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryW(dir.File(L"d s").c_str(), nullptr));
    for (const wchar_t* name : {L"t.cmd", L"d s\\t.cmd"})
        ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(name), "@echo ran\r\n"));
    const wchar_t* const spellings[] = {L"t.cmd.", L"\"t.cmd \"", L"d s\\t.cmd", L"T.CMD.", L"t"};
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < 5; ++i)
        lines.push_back(L"\"" + e2e::VrekPath() + L"\" --nul --out " + Name(L"o", i) + L" --task " + spellings[i] +
                        L" a ^& echo INJ ^> " + Name(L"inj", i));
    RunLaunchers(dir.File(L"jobs"), lines, dir.Path());
    if (HasFatalFailure()) return;
    static const std::regex ended("job (\\d+: result -?\\d+|boot error)\n");
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(testsupport::WaitUntil(
            [&] { return std::regex_search(ReadFileBytes(dir.File(Name(L"o", i))), ended); }, 30000))
            << testsupport::Narrow(spellings[i]) << ": " << ReadFileBytes(dir.File(Name(L"o", i)));
        EXPECT_FALSE(testsupport::FileExists(dir.File(Name(L"inj", i)))) << testsupport::Narrow(spellings[i]);
    }
}

// Only the prompt's search: a program that lies beside vrek.exe alone is not
// started, and a built-in outside the old table runs.
TEST(CommandLine, TheProgramIsFoundWhereThePromptLooksOnly) {
    TempDir dir;
    auto beside =
        e2e::StartJob(L"--delay 0.3 --out o.txt --task test_e2e.exe --child=emit touch:ran.txt", dir.Path().c_str());
    EXPECT_EQ(1u, beside->Wait());
    EXPECT_NE(std::string::npos, ReadFileBytes(dir.File(L"o.txt")).find("test_e2e.exe --child=emit"));
    EXPECT_FALSE(testsupport::FileExists(dir.File(L"ran.txt")));

    ASSERT_TRUE(testsupport::WriteFileBytes(dir.File(L"a.txt"), "x"));
    auto ren = e2e::StartJob(L"--delay 0.3 --nologo --nul --task ren a.txt b.txt", dir.Path().c_str());
    EXPECT_EQ(0u, ren->Wait());
    EXPECT_TRUE(testsupport::FileExists(dir.File(L"b.txt")));
}
