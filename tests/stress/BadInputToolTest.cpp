// Seeded random and mutated input against vrek's own parsers: the task
// copy's parse of the settings token and task line, the launcher's parse,
// the option parser under it, the argument quoting and the command
// construction. Every accepted line must round-trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Stress.h"
#include "kovra/C_GetOpt.h"
#include "support/TestSupport.h"
#include "tool/CommandBuilder.h"
#include "tool/TaskSettings.h"

using kovra::C_WString;
using stress::GuardedPool;
using stress::Rng;
using stress::Show;
using vrek::TaskSettings;

namespace {

// Pieces of hostile text: quoting's special characters, blanks and line
// ends, Japanese, lone surrogates, format directives, option look-alikes.
// clang-format off
const std::vector<std::wstring> kHostile = {
    L"a", L"Z", L"0", L"7", L" ", L"\t", L"\"", L"\\", L"\\\\", L"\\\"", L"'", L"-", L"--", L"/", L"=", L".",
    L"日本", L"\x3000", L"\n", L"\r", L"\x01", L"\xD800", L"\xDC00", L"\xFFFF", L"%s", L"%n", L"$", L"`", L".bat",
    L"--pid-task--", L"C:\\Program Files\\", L"x y"};
// clang-format on

std::wstring HostileWord(Rng& rng) { return rng.Text(kHostile, 6); }

const wchar_t kNoOptions[] = L"オプションがありません";
const wchar_t kBadTaskArguments[] = L"不正な引数が渡されています。";

bool Same(const C_WString& a, const std::wstring& b) { return b == a.GetString(); }

std::string ShowAll(const std::vector<std::wstring>& texts) {
    std::string shown;
    for (const auto& t : texts) shown += Show(t) + " ";
    return shown;
}

// A settings token: valid, or one of its mutations.
std::wstring Token(Rng& rng, bool* valid) {
    std::wstring token;
    for (int i = 0; i < 10; ++i) token += static_cast<wchar_t>(L'0' + (i < 3 ? rng.Below(5) : rng.Below(10)));
    token += std::to_wstring(rng.Below(rng.OneIn(8) ? 4000000000u : 100)) + L"." + std::to_wstring(rng.Below(10)) +
             std::to_wstring(rng.Below(10));
    const uint32_t mutation = rng.Below(8);
    *valid = mutation < 3;
    const uint32_t at = rng.Below(static_cast<uint32_t>(token.size()));
    switch (mutation) {
    case 3:
        token[at] = rng.Pick(kHostile)[0];
        break;
    case 4:
        token.resize(at);
        break;
    case 5:
        token.insert(at, rng.Pick(kHostile));
        break;
    case 6:
        token = HostileWord(rng);
        break;
    case 7:
        token[rng.Below(3)] = static_cast<wchar_t>(L'5' + rng.Below(5));
        break;
    default:
        break;
    }
    return token;
}

// The task copy's parse of a task line made by a random hand: an accepted
// line names exactly its file targets, and its command line is the one
// command element, or splits back into exactly the command elements.
std::string TaskLineCase(Rng& rng, GuardedPool& pool) {
    bool valid = false;
    std::vector<std::wstring> args{Token(rng, &valid)};
    for (uint32_t n = rng.Below(7); n > 0; --n) args.push_back(HostileWord(rng));
    args.push_back(L"--pid-task--" + std::to_wstring(rng.Next() % 100000));
    if (rng.OneIn(50)) args.clear();

    TaskSettings s;
    pool.Reset();
    const int ok = vrek::ParseCommandLine(pool.Argv(args), static_cast<int>(args.size()) + 1, s, 1);
    const std::wstring token = args.empty() ? L"" : args[0];
    int files = 0;
    if (valid)
        for (int i = 0; i < 3; ++i) files += token[i] == L'4';
    if (!ok) {
        if (valid && static_cast<int>(args.size()) >= files + 2) return "a valid line was refused: " + ShowAll(args);
        if (!Same(s.errorMessage, kBadTaskArguments) && !Same(s.errorMessage, kNoOptions))
            return "unknown refusal " + Show(s.errorMessage.GetString());
        return "";
    }
    const int kinds[] = {s.inKind, s.outKind, s.errKind};
    const C_WString* targets[] = {&s.inTarget, &s.outTarget, &s.errTarget};
    size_t next = 1;
    for (int i = 0; i < 3; ++i) {
        if (kinds[i] < vrek::TARGET_PARENT || kinds[i] > vrek::TARGET_FILE) return "a kind out of range";
        if (kinds[i] != vrek::TARGET_FILE) continue;
        if (next + 1 >= args.size()) return "a file target beyond the command: " + ShowAll(args);
        if (!Same(*targets[i], args[next++])) return "a file target that is not its argument";
    }
    const std::vector<std::wstring> command(args.begin() + static_cast<long>(next), args.end() - 1);
    // One element is the launcher's verbatim text; several are joined.
    if (command.size() == 1) return Same(s.taskLine, command[0]) ? "" : "the one command element changed";
    const std::vector<std::wstring> split = testsupport::SplitArguments(s.taskLine.GetString());
    if (split != command)
        return "the command line " + Show(s.taskLine.GetString()) + " splits into " + ShowAll(split) + "instead of " +
               ShowAll(command);
    return "";
}

struct OptionSpec {
    const wchar_t* name;
    int values;  // 0 none, 1 a target, 2 a delay, 3 a priority, 4 any text
};

// clang-format off
const std::vector<OptionSpec> kOptions = {
    {L"--in", 1}, {L"--out", 1}, {L"--err", 1}, {L"--delay", 2}, {L"--pause", 0}, {L"--nologo", 0}, {L"--nul", 0},
    {L"--null", 0}, {L"--console", 0}, {L"--parent-console", 0}, {L"--gui", 0}, {L"--flush", 0}, {L"--daemon", 0},
    {L"--flush2", 0}, {L"--hide", 0}, {L"--dir", 4}, {L"--priority", 3}, {L"--managed-daemon", 0},
    // not in the table, or not options at all
    {L"--x", 0}, {L"--", 0}, {L"-x", 0}, {L"stray", 0}, {L"--Task", 0}, {L"--in=x", 0}};
// clang-format on
const std::vector<std::wstring> kTargets = {L"parent", L"console", L"PARENT-Console", L"parent_console", L"nul",
                                            L"NULL",   L"",        L"o.txt",          L"C:\\dir\\",      L"a\"b"};
const std::vector<std::wstring> kDelays = {L"5",    L"0.004",  L"1.5",   L"-1",    L"-0",
                                           L"-0.0", L"-0.001", L"1e300", L"1e400", L"abc",
                                           L"nan",  L"inf",    L"0x10",  L"",      L"99999999999"};
const std::vector<std::wstring> kPriorities = {L"idle",  L"below", L"bellow",   L"NORMAL",
                                               L"above", L"High",  L"realtime", L""};

std::wstring OptionValue(Rng& rng, int kind) {
    if (rng.OneIn(10)) return HostileWord(rng);
    switch (kind) {
    case 1:
        return rng.Pick(kTargets);
    case 2:
        return rng.Pick(kDelays);
    case 3:
        return rng.Pick(kPriorities);
    default:
        return HostileWord(rng);
    }
}

std::wstring Formatted(double delay) { return C_WString::Stringf(L"%.2f", delay).GetString(); }

// The launcher's parse of a random command line, typed with random quoting
// and blanks, and the task copy's parse of the line it composed, as the C
// runtime splits it: the copy must accept it and see the same options and
// targets, and the command exactly as the raw line has it.
std::string LauncherCase(Rng& rng, GuardedPool& pool) {
    std::vector<std::wstring> args;
    std::vector<std::wstring> command;
    if (rng.OneIn(6)) {
        for (uint32_t n = 1 + rng.Below(4); n > 0; --n) args.push_back(HostileWord(rng));
    } else {
        for (uint32_t n = rng.Below(7); n > 0; --n) {
            const OptionSpec& option = rng.Pick(kOptions);
            args.push_back(option.name);
            if (option.values) args.push_back(OptionValue(rng, option.values));
        }
        if (!rng.OneIn(10)) {
            args.push_back(L"--task");
            for (uint32_t n = rng.Below(5); n > 0; --n)
                command.push_back(rng.OneIn(5) ? std::wstring(rng.Pick(kOptions).name) : HostileWord(rng));
            args.insert(args.end(), command.begin(), command.end());
        }
    }
    // Without "--" in front the whole line is the command (plain form).
    if (args.empty() || args[0].compare(0, 2, L"--") != 0) command = args;

    static const std::vector<std::wstring> separators = {L" ", L"  ", L"\t", L" \t "};
    std::wstring raw = rng.OneIn(2) ? L"vrek" : L"\"C:\\my tools\\vrek.exe\"";
    size_t commandAt = std::wstring::npos;  // where the command starts in the raw line
    for (size_t i = 0; i < args.size(); ++i) {
        raw += rng.Pick(separators);
        if (!command.empty() && i == args.size() - command.size()) commandAt = raw.size();
        raw += vrek::QuoteArgument(C_WString(args[i].c_str()), rng.OneIn(2)).GetString();
    }
    if (rng.OneIn(4)) raw += L"  ";
    const std::wstring typed = commandAt == std::wstring::npos ? std::wstring() : raw.substr(commandAt);

    TaskSettings launcher;
    pool.Reset();
    const int ok = vrek::ParseCommandLine(pool.Argv(args), static_cast<int>(args.size()) + 1, launcher, 0, raw.c_str());
    if (!ok && launcher.errorMessage.Equals(C_WString(L"コマンドに改行が含まれているため実行できません。")))
        return vrek::CanRunAsTyped(C_WString(typed.c_str()),
                                   vrek::ProgramSearch::OfThisProcess(launcher.workDir.GetString()))
                   ? "a line end refused where cmd never reads it"
                   : "";
    if (!ok) {
        static const std::vector<std::wstring> refusals = {L"",
                                                           L"--task オプションは必須です。",
                                                           L"--task オプションには実行コマンドが必須です。",
                                                           L"--in の値が不正です。",
                                                           L"--out の値が不正です。",
                                                           L"--err の値が不正です。",
                                                           L"--delay の値が不正です。",
                                                           L"--priority の値が不正です。"};
        if (std::find(refusals.begin(), refusals.end(), launcher.errorMessage.GetString()) == refusals.end())
            return "unknown refusal " + Show(launcher.errorMessage.GetString());
        return "";
    }
    if (launcher.managedDaemon) return launcher.taskLine.Empty() ? "" : "a task line for the manager";

    std::vector<std::wstring> taskArgs =
        testsupport::SplitArguments(std::wstring(launcher.taskLine.GetString()) + L" --pid-task--123");
    TaskSettings task;
    if (!vrek::ParseCommandLine(pool.Argv(taskArgs), static_cast<int>(taskArgs.size()) + 1, task, 1))
        return "the task copy refuses " + Show(launcher.taskLine.GetString()) + " from " + ShowAll(args) + ": " +
               Show(task.errorMessage.GetString());
    const C_WString* targets[][2] = {{&launcher.inTarget, &task.inTarget},
                                     {&launcher.outTarget, &task.outTarget},
                                     {&launcher.errTarget, &task.errTarget}};
    const int kinds[] = {task.inKind, task.outKind, task.errKind};
    for (int i = 0; i < 3; ++i) {
        if (kinds[i] != vrek::ClassifyTarget(*targets[i][0])) return "a stream's kind changed";
        if (kinds[i] == vrek::TARGET_FILE && !targets[i][0]->Equals(*targets[i][1])) return "a file target changed";
    }
    const int flags[][2] = {{launcher.pause, task.pause},      {launcher.showResult, task.showResult},
                            {launcher.gui, task.gui},          {launcher.flushMode, task.flushMode},
                            {launcher.daemon, task.daemon},    {launcher.hide, task.hide},
                            {launcher.priority, task.priority}};
    for (const auto& f : flags)
        if (f[0] != f[1]) return "an option changed on the way to the task copy: " + ShowAll(args);
    if (Formatted(launcher.delaySeconds) != Formatted(task.delaySeconds))
        return "the delay changed: " + Show(Formatted(launcher.delaySeconds));
    if (!Same(task.taskLine, typed))
        return "the command changed: " + Show(task.taskLine.GetString()) + " instead of " + Show(typed);
    return vrek::CanRunAsTyped(task.taskLine, vrek::ProgramSearch::OfThisProcess(launcher.workDir.GetString()))
               ? ""
               : "a command cmd cannot run as typed was accepted";
}

// The option parser over random vectors, option strings and tables: it ends,
// keeps optind inside the vector, points optarg into an element, returns
// only what its tables hold, and leaves the vector a permutation of itself
// with the non-options last.
std::string GetOptCase(Rng& rng, GuardedPool& pool) {
    static const std::vector<std::wstring> names = {L"", L"a", L"in", L"out", L"x-y", L"日本", L"delay", L"--"};
    static const std::vector<std::wstring> letters = {L"a", L"b", L"o", L"x", L":", L"?", L"日", L"\xFF", L"-"};
    static const std::vector<std::string> optstrings = {"", "a", "ab", "o:", "ao:b", ":", "x::", "?a", "\x7f"};
    const bool longMode = !rng.OneIn(4);
    const char lead = rng.OneIn(4) ? '/' : rng.OneIn(20) ? 'x' : '-';
    const std::wstring l(1, static_cast<wchar_t>(lead));
    int flagTarget = 0;
    std::vector<kovra::C_GetOpt::option> table;
    for (uint32_t n = rng.Below(5); n > 0; --n)
        table.push_back({rng.Pick(names).c_str(), static_cast<int>(rng.Below(2)), rng.OneIn(2) ? &flagTarget : nullptr,
                         static_cast<int>(rng.Below(300))});
    table.push_back({nullptr, 0, nullptr, 0});
    std::string optstring = rng.Pick(optstrings);

    std::vector<std::wstring> texts;
    for (uint32_t n = rng.Below(9); n > 0; --n) {
        switch (rng.Below(6)) {
        case 0:
            texts.push_back(l + l + rng.Pick(names));
            break;
        case 1:
            texts.push_back(l + rng.Text(letters, 4));
            break;
        case 2:
            texts.push_back(l);
            break;
        default:
            texts.push_back(HostileWord(rng));
            break;
        }
    }
    pool.Reset();
    const int argc = static_cast<int>(texts.size()) + 1;
    wchar_t** argv = pool.Argv(texts);
    const std::vector<wchar_t*> original(argv, argv + argc);

    kovra::C_GetOpt parser;
    parser.setoptchar(lead);
    parser.opterr() = static_cast<int>(rng.Below(2));
    const kovra::C_GetOpt::option* longopts = rng.OneIn(10) ? nullptr : table.data();
    const int tableSize = static_cast<int>(table.size()) - 1;
    bool refused = false;
    // At most one result per element and per letter of a cluster.
    int limit = argc + 2;
    for (const auto& t : texts) limit += static_cast<int>(t.size());
    int calls = 0;
    for (;; ++calls) {
        if (calls > limit) return "the parse does not end: " + ShowAll(texts);
        int index = -1;
        const int result = longMode ? parser.getopt_long(argc, argv, optstring.c_str(), longopts, &index)
                                    : parser.getopt(argc, argv, optstring.c_str());
        if (parser.optind() < 1 || parser.optind() > argc) return "optind left the vector";
        std::vector<wchar_t*> now(argv, argv + argc);
        std::sort(now.begin(), now.end());
        std::vector<wchar_t*> before = original;
        std::sort(before.begin(), before.end());
        if (now != before) return "the vector is no permutation of itself";
        if (wchar_t* value = parser.optarg()) {
            bool inside = false;
            for (wchar_t* element : original)
                if (element && value >= element && value <= element + wcslen(element)) inside = true;
            if (!inside) return "optarg points outside the elements";
        }
        if (result == -1) break;
        if (result == '?') {
            refused = true;
            continue;
        }
        const bool isLetter = result != 0 && optstring.find(static_cast<char>(result)) != std::string::npos;
        const bool isLong = longMode && longopts && index >= 0 && index < tableSize &&
                            (table[index].flag ? result == 0 : result == table[index].val);
        if (!isLetter && !isLong) return "a result that no table holds: " + std::to_string(result);
    }
    if (longMode ? parser.getopt_long(argc, argv, optstring.c_str(), longopts, nullptr) != -1
                 : parser.getopt(argc, argv, optstring.c_str()) != -1)
        return "a call after the end found more";
    if (refused) return "";
    // Without errors, the elements from optind on are non-options, in the
    // order given.
    const std::vector<std::wstring> rest(argv + parser.optind(), argv + argc);
    long last = 0;
    for (int i = parser.optind(); i < argc; ++i) {
        const std::wstring element = argv[i];
        if (element.size() > 1 && element[0] == l[0] && (longMode || element.size() == 2))
            return "an option after optind: " + ShowAll(rest) + "from " + ShowAll(texts);
        const long at = std::find(original.begin(), original.end(), argv[i]) - original.begin();
        if (at < last) return "the non-options changed their order: " + ShowAll(rest) + "from " + ShowAll(texts);
        last = at;
    }
    return "";
}

// Any argument, quoted either way, comes back whole from CommandLineToArgvW,
// between neighbours.
std::string QuotingCase(Rng& rng) {
    const std::wstring first = HostileWord(rng);
    const std::wstring second = HostileWord(rng);
    const bool always = rng.OneIn(2);
    const std::wstring line = std::wstring(vrek::QuoteArgument(C_WString(first.c_str()), always).GetString()) + L" " +
                              vrek::QuoteArgument(C_WString(second.c_str()), !always).GetString() + L" end";
    const std::vector<std::wstring> expected{first, second, L"end"};
    const std::vector<std::wstring> split = testsupport::SplitArguments(line);
    if (split != expected) return "quoted as " + Show(line) + ", split into " + ShowAll(split);
    const bool plain = !first.empty() && first.find_first_of(L" \t\"") == std::wstring::npos;
    if (plain && !always && !Same(vrek::QuoteArgument(C_WString(first.c_str()), false), first))
        return "a plain argument was quoted";
    return "";
}

// cmd's second reading of an escaped line, as far as vrek relies on it: %%
// keeps its first %, the guard "%cd:~,%" is nothing, a %name% that expands
// fails the reading, any other %name% stays and the scan goes on at its
// closing % (`reopen`) or after it; then, outside quotes, a caret makes the
// next character literal and any other of & | < > acts. False when
// something would expand or act.
bool ReadLikeCmd(const std::wstring& line, bool reopen, std::wstring* result) {
    std::wstring expanded;
    for (size_t i = 0; i < line.size(); ++i) {
        const size_t close = line[i] == L'%' ? line.find(L'%', i + 1) : std::wstring::npos;
        if (close == std::wstring::npos) {
            expanded += line[i];
            continue;
        }
        const std::wstring name = line.substr(i + 1, close - i - 1);
        if (name == L"cd:~,") {
            i = close;
            continue;
        }
        if (!name.empty() && vrek::ExpandsInCmd(name)) return false;
        expanded += L'%' + name;
        if (name.empty() || reopen) {
            i = close - 1;
        } else {
            expanded += L'%';
            i = close;
        }
    }
    bool quoted = false;
    result->clear();
    for (size_t i = 0; i < expanded.size(); ++i) {
        const wchar_t c = expanded[i];
        if (c == L'"') quoted = !quoted;
        if (!quoted && c == L'^') {
            if (++i == expanded.size()) return false;
            *result += expanded[i];
            continue;
        }
        if (!quoted && wcschr(L"&|<>", c)) return false;
        *result += c;
    }
    return true;
}

// A folder with a program, a .com file and batch files in it.
const vrek::ProgramSearch& SearchFolder() {
    static testsupport::TempDir dir;
    static const vrek::ProgramSearch search = [] {
        for (const wchar_t* name : {L"x.bat", L"a.COM", L"prog.exe", L"t.cmd", L"a b.cmd"})
            testsupport::WriteFileBytes(dir.File(name), "x");
        vrek::ProgramSearch s;
        s.folder = dir.Path();
        return s;
    }();
    return search;
}

// The line started for a command: a program found gets the line itself;
// whatever cmd runs, the system's cmd with a line whose second reading is
// the line exactly, however cmd pairs its %.
std::string CommandLineCase(Rng& rng) {
    static const std::vector<std::wstring> words = {
        L"dir",   L"DIR",     L"Echo",  L"echo.",      L"cd..",        L"@echo", L"(echo", L"for %i in (a)",
        L"x.bat", L"a.COM",   L"prog",  L"t.cmd.",     L"\"t.cmd \"", L"T",     L"\"dir\"", L"",
        L"net",   L"cmd.exe\t", L"a/b", L"\"a b.cmd\""};
    static const std::vector<std::wstring> cmdText = {L"&", L"|",  L"<",    L">",       L"^", L"(", L")",     L"%",
                                                      L"!", L"\"", L"%OS%", L"%cd:~,%", L" ", L"a", L"^&",   L"%x"};
    std::wstring line = rng.OneIn(3) ? HostileWord(rng) : rng.Pick(words);
    if (rng.OneIn(2)) line += L" " + (rng.OneIn(2) ? HostileWord(rng) : rng.Text(cmdText, 8));
    const C_WString typed(line.c_str());
    const vrek::CommandToStart start = vrek::BuildCommand(typed, SearchFolder());
    if (start.route == vrek::ROUTE_NOT_FOUND) return start.application.Empty() ? "" : "a file for a line not found";
    if (start.route == vrek::ROUTE_PROGRAM) {
        if (!Same(start.commandLine, line)) return "a program's line changed: " + Show(start.commandLine.GetString());
        const std::wstring file = start.application.GetString();
        return file.size() > 4 && (_wcsicmp(file.c_str() + file.size() - 4, L".exe") == 0 ||
                                   _wcsicmp(file.c_str() + file.size() - 4, L".com") == 0)
                   ? ""
                   : "started directly, no program: " + Show(file);
    }
    const std::wstring built = start.commandLine.GetString();
    const std::wstring prefix = L"cmd.exe /d /e:on /v:off /s /c \"";
    if (built.compare(0, prefix.size(), prefix) != 0 || built.back() != L'"' || start.consoleFlag != 1)
        return "not run by cmd: " + Show(built);
    if (!vrek::CanRunAsTyped(typed, SearchFolder()))
        return line.find_first_of(L"\r\n") == std::wstring::npos ? "refused without a line end" : "";
    for (bool reopen : {false, true}) {
        std::wstring read;
        if (!ReadLikeCmd(built.substr(prefix.size(), built.size() - prefix.size() - 1), reopen, &read) || read != line)
            return "cmd would not read back " + Show(line) + " from " + Show(built);
    }
    return "";
}

}  // namespace

TEST(BadInput, TaskLinesThatTheTaskCopyAcceptsRoundTrip) {
    GuardedPool pool;
    EXPECT_EQ(0, stress::Fuzz("task-mode parse", stress::Cases(), [&](Rng& rng) { return TaskLineCase(rng, pool); }));
}

TEST(BadInput, EveryLineTheLauncherComposesIsDecodedAsItWasMeant) {
    GuardedPool pool;
    EXPECT_EQ(0, stress::Fuzz("launcher parse", stress::Cases(), [&](Rng& rng) { return LauncherCase(rng, pool); }));
}

TEST(BadInput, TheOptionParserEndsAndStaysInsideItsVector) {
    GuardedPool pool;
    EXPECT_EQ(0, stress::Fuzz("C_GetOpt", stress::Cases(), [&](Rng& rng) { return GetOptCase(rng, pool); }));
}

TEST(BadInput, QuotedArgumentsSplitBackWhole) {
    EXPECT_EQ(0, stress::Fuzz("quoting round trip", stress::Cases(), QuotingCase));
}

TEST(BadInput, OnlyProgramsStartDirectlyAndCmdReadsEveryOtherLineBack) {
    EXPECT_EQ(0, stress::Fuzz("BuildCommandLine", stress::Cases(), CommandLineCase));
}
