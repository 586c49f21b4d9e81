#include "tool/CommandBuilder.h"

#include <windows.h>

#include <string>
#include <vector>

using kovra::C_WString;

namespace vrek {

namespace {

// cmd's internal commands, those Wine's cmd also has built in (choice,
// ctty, help, label, more: programs on Windows, which cmd then finds
// itself), and sort, tree, chcp and mode, which have always gone through cmd.
const wchar_t* const kBuiltins[] = {
    L"dir",      L"type",   L"del",   L"rmdir", L"cd",    L"chdir",    L"date",  L"time",  L"if",    L"echo",
    L"sort",     L"set",    L"tree",  L"chcp",  L"copy",  L"ftype",    L"md",    L"mkdir", L"mode",  L"move",
    L"ver",      L"vol",    L"assoc", L"break", L"call",  L"cls",      L"color", L"dpath", L"erase", L"exit",
    L"endlocal", L"for",    L"goto",  L"keys",  L"mklink", L"path",    L"pause", L"popd",  L"prompt", L"pushd",
    L"rd",       L"rem",    L"ren",   L"rename", L"setlocal", L"shift", L"start", L"title", L"verify", L"choice",
    L"ctty",     L"help",   L"label", L"more",
};

// Outside double quotes cmd acts on these; a caret makes each one literal.
const wchar_t kCmdSpecials[] = L"&|<>^";
// A line that starts with one of these is cmd's syntax: echo off for the
// line, a block, a label or comment, a separator cmd skips.
const wchar_t kCmdLeaders[] = L"@():,;=";
// The variables cmd makes up as it reads them, and those it sets itself.
const wchar_t* const kDynamicVariables[] = {
    L"cd",    L"date",       L"time",    L"random",  L"errorlevel", L"cmdextversion", L"cmdcmdline",
    L"highestnumanodenumber", L"__cd__", L"__appdir__", L"prompt",  L"comspec",    L"pathext",
};
// "%cd:~,%" is an empty piece of a variable that always exists: after a %
// it leaves that % alone, and what follows can no longer form %name%. It
// needs command extensions, hence /e:on.
const wchar_t kPercentGuard[] = L"%%cd:~,%";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program word as the C runtime reads a program name: quotes toggle
// and are dropped, a blank or tab outside them ends it, backslashes are
// plain characters. `end` receives where it stops.
std::wstring ProgramWord(const wchar_t* line, size_t* end, bool* hadQuote = nullptr) {
    std::wstring word;
    bool quoted = false;
    size_t i = 0;
    for (; line[i]; ++i) {
        if (line[i] == L'"') {
            quoted = !quoted;
            if (hadQuote) *hadQuote = true;
            continue;
        }
        if (!quoted && IsBlank(line[i])) break;
        word += line[i];
    }
    if (end) *end = i;
    return word;
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
    const size_t n = wcslen(suffix);
    return text.size() >= n && CompareStringOrdinal(text.c_str() + text.size() - n, static_cast<int>(n), suffix,
                                                    static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

// The system's own cmd.exe, by its full path: a cmd.exe lying in the
// current folder or on PATH must not be run in its place.
C_WString SystemCmd() {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return C_WString(L"C:\\Windows\\System32\\cmd.exe");
    return C_WString(folder) + L"\\cmd.exe";
}

// A built-in's name at the start of an unquoted line: its leading letters
// and digits, when they name one.
bool StartsWithBuiltin(const wchar_t* line) {
    size_t n = 0;
    while (line[n] && IsCharAlphaNumericW(line[n])) ++n;
    if (n == 0) return false;
    return IsShellBuiltin(C_WString(std::wstring(line, n).c_str()), nullptr) == 1;
}

bool IsDriveChange(const std::wstring& word, bool quoted) {
    return !quoted && word.size() == 2 && word[1] == L':' && IsCharAlphaW(word[0]);
}

// The console flag of a program found: cmd itself, a .com file, or a name
// that ends in "net".
int ProgramConsoleFlag(const std::wstring& path) {
    std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    std::wstring extension;
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) {
        extension = name.substr(dot);
        name.erase(dot);
    }
    return CompareStringOrdinal(name.c_str(), -1, L"cmd", -1, TRUE) == CSTR_EQUAL ||
                   CompareStringOrdinal(extension.c_str(), -1, L".com", -1, TRUE) == CSTR_EQUAL ||
                   EndsWithNoCase(name, L"net")
               ? 1
               : 0;
}

// One element as the runtime splits it, and where it starts in the line.
struct Piece {
    size_t start;
    std::wstring text;
};

// How a runtime reads "" inside a quoted run: as a quote that keeps the run
// open (the C runtimes since 2008, and Wine's), or as one that closes it
// (the older ones).
enum DoubledQuote { DOUBLED_QUOTE_STAYS, DOUBLED_QUOTE_ENDS };

std::vector<Piece> SplitLikeRuntime(const wchar_t* line, DoubledQuote rule) {
    std::vector<Piece> pieces;
    size_t i = 0;
    pieces.push_back({0, ProgramWord(line, &i)});
    for (;;) {
        while (IsBlank(line[i])) ++i;
        if (!line[i]) break;
        Piece piece{i, std::wstring()};
        bool quoted = false;
        while (line[i] && (quoted || !IsBlank(line[i]))) {
            if (line[i] == L'\\') {
                size_t n = 0;
                while (line[i] == L'\\') ++n, ++i;
                // Before a quote, pairs are one backslash each and an odd
                // one makes the quote literal; elsewhere they are plain.
                if (line[i] != L'"') {
                    piece.text.append(n, L'\\');
                    continue;
                }
                piece.text.append(n / 2, L'\\');
                if (n % 2) piece.text += line[i++];
                continue;
            }
            if (line[i] == L'"') {
                if (quoted && line[i + 1] == L'"') {
                    piece.text += L'"';
                    i += 2;
                    if (rule == DOUBLED_QUOTE_ENDS) quoted = false;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            piece.text += line[i++];
        }
        pieces.push_back(piece);
    }
    return pieces;
}

}  // namespace

int IsShellBuiltin(const C_WString& word, int* consoleFlag) {
    if (consoleFlag) *consoleFlag = 0;
    C_WString lower = word.ToLower();
    for (const wchar_t* name : kBuiltins) {
        if (lower.Equals(C_WString(name))) {
            if (consoleFlag) *consoleFlag = 1;
            return 1;
        }
    }
    bool console = lower.Equals(C_WString(L"cmd")) || lower.Equals(C_WString(L"cmd.exe")) ||
                   lower.EndsWith(C_WString(L".bat")) || lower.EndsWith(C_WString(L".com")) ||
                   lower.EndsWith(C_WString(L"net"));
    if (console && consoleFlag) *consoleFlag = 1;
    return 0;
}

bool ExpandsInCmd(const std::wstring& name) {
    if (name.empty()) return false;  // "%%" stays as it is
    const std::wstring variable = name.substr(0, name.find(L':'));
    // No name before a substring or replacement, or a hidden one (=C:,
    // =ExitCode): taken as one that expands, to be safe.
    if (variable.empty() || variable[0] == L'=') return true;
    for (const wchar_t* dynamic : kDynamicVariables)
        if (CompareStringOrdinal(variable.c_str(), -1, dynamic, -1, TRUE) == CSTR_EQUAL) return true;
    wchar_t value[2];
    return GetEnvironmentVariableW(variable.c_str(), value, 2) != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

C_WString EscapeForCmd(const C_WString& line, bool (*expands)(const std::wstring& name)) {
    if (!expands) expands = ExpandsInCmd;
    const std::wstring text(line.GetString(), static_cast<size_t>(line.Length()));
    // Every %name% that cmd could form, as each % with the next, whichever
    // way it pairs them: both ends of one that would expand are guarded.
    std::vector<bool> guarded(text.size(), false);
    for (size_t at = text.find(L'%'); at != std::wstring::npos;) {
        const size_t next = text.find(L'%', at + 1);
        if (next == std::wstring::npos) break;
        if (expands(text.substr(at + 1, next - at - 1))) guarded[at] = guarded[next] = true;
        at = next;
    }
    std::wstring escaped;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'"') {
            quoted = !quoted;
        } else if (c == L'%' && guarded[i]) {
            escaped += kPercentGuard;
            continue;
        } else if (!quoted && wcschr(kCmdSpecials, c)) {
            escaped += L'^';
        }
        escaped += c;
    }
    return C_WString(escaped.c_str());
}

CommandToStart BuildCommand(const C_WString& line, const ProgramSearch& search) {
    CommandToStart start;
    const wchar_t* text = line.GetString();
    bool quoted = false;
    const std::wstring word = ProgramWord(text, nullptr, &quoted);
    if (*text && wcschr(kCmdLeaders, *text)) {
        start.route = ROUTE_BUILTIN;
    } else if (*text != L'"' && (StartsWithBuiltin(text) || IsDriveChange(word, quoted))) {
        start.route = ROUTE_BUILTIN;
    } else {
        std::wstring found;
        switch (FindProgram(word, search, &found)) {
        case SEARCH_NOT_FOUND:
            start.route = ROUTE_NOT_FOUND;
            return start;
        case SEARCH_FOR_CMD:
            start.route = ROUTE_BATCH;
            break;
        case SEARCH_FOUND:
            // Only an image CreateProcessW loads as such is started
            // directly: given anything else (t.cmd, and on Windows any
            // extension that merely starts with .bat or .cmd) it would run
            // cmd itself on the raw line, for a second reading nothing
            // prepared.
            if (EndsWithNoCase(found, L".exe") || EndsWithNoCase(found, L".com")) {
                start.route = ROUTE_PROGRAM;
                start.application = C_WString(found.c_str());
                start.commandLine = line;
                start.consoleFlag = ProgramConsoleFlag(found);
                return start;
            }
            start.route = ROUTE_BATCH;
            break;
        }
    }
    // With /s cmd takes the text between the first and the last quote
    // whatever it holds, so the user's own quotes stay as they are.
    start.application = SystemCmd();
    start.commandLine = C_WString(L"cmd.exe /d /e:on /v:off /s /c \"") + EscapeForCmd(line) + L"\"";
    start.consoleFlag = 1;
    return start;
}

bool CanRunAsTyped(const C_WString& line, const ProgramSearch& search) {
    if (line.IndexOf(L'\r') < 0 && line.IndexOf(L'\n') < 0) return true;
    const CommandRoute route = BuildCommand(line, search).route;
    return route == ROUTE_PROGRAM || route == ROUTE_NOT_FOUND;
}

C_WString QuoteArgument(const C_WString& argument, bool always) {
    const wchar_t* text = argument.GetString();
    const int length = argument.Length();
    const bool enclose = always || length == 0 || argument.IndexOfWhich(C_WString(L"\t \""), 0, 1) >= 0;
    if (!enclose) return argument;

    std::wstring quoted(1, L'"');
    int backslashes = 0;
    for (int i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: double them and escape it.
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    quoted += L'"';
    return C_WString(quoted.c_str());
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> elements;
    if (!commandLine) return elements;
    for (const Piece& piece : SplitLikeRuntime(commandLine, DOUBLED_QUOTE_STAYS)) elements.push_back(piece.text);
    return elements;
}

int FindArgumentStart(const wchar_t* commandLine, wchar_t** argv, int argc, int index) {
    if (!commandLine || index < 1 || index >= argc) return -1;
    for (DoubledQuote rule : {DOUBLED_QUOTE_STAYS, DOUBLED_QUOTE_ENDS}) {
        const std::vector<Piece> pieces = SplitLikeRuntime(commandLine, rule);
        if (pieces.size() != static_cast<size_t>(argc)) continue;
        // The program name is not compared: a runtime may take it from the
        // module instead of the line.
        bool same = true;
        for (int k = 1; k < argc && same; ++k) same = pieces[k].text == argv[k];
        if (same) return static_cast<int>(pieces[index].start);
    }
    return -1;
}

C_WString CommandTextFrom(const wchar_t* commandLine, wchar_t** argv, int argc, int index) {
    const int start = FindArgumentStart(commandLine, argv, argc, index);
    if (start >= 0) return C_WString(commandLine + start);
    C_WString text;
    for (int k = index; k < argc; ++k) {
        if (k > index) text += L" ";
        text += QuoteArgument(C_WString(argv[k]), false);
    }
    return text;
}

}  // namespace vrek
