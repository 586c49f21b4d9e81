#include "tool/CommandBuilder.h"

#include <windows.h>

#include <string>
#include <vector>

using kovra::C_WString;

namespace vrek {

namespace {

const wchar_t* const kBuiltins[] = {
    L"dir", L"type", L"del",  L"rmdir", L"cd",    L"chdir", L"date",  L"time", L"if",   L"echo", L"sort",
    L"set", L"tree", L"chcp", L"copy",  L"ftype", L"md",    L"mkdir", L"mode", L"move", L"ver",  L"vol",
};

// Outside double quotes cmd acts on these; a caret makes each one literal.
const wchar_t kCmdSpecials[] = L"&|<>^()";
// "%cd:~,%" is an empty piece of a variable that always exists: after a %
// it leaves that % alone, and what follows can no longer form %name%. It
// needs command extensions, hence /e:on.
const wchar_t kPercentGuard[] = L"%%cd:~,%";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program word as the C runtime reads a program name: quotes toggle
// and are dropped, a blank or tab outside them ends it, backslashes are
// plain characters. `end` receives where it stops.
std::wstring ProgramWord(const wchar_t* line, size_t* end) {
    std::wstring word;
    bool quoted = false;
    size_t i = 0;
    for (; line[i]; ++i) {
        if (line[i] == L'"') {
            quoted = !quoted;
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

// The system's own cmd.exe: a cmd.exe lying in the current folder or beside
// the program must not be run in its place.
C_WString SystemCmd() {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return C_WString(L"cmd.exe");
    C_WString path = C_WString(folder) + L"\\cmd.exe";
    return path.IndexOf(L' ') >= 0 ? C_WString(L"\"") + path + L"\"" : path;
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

CommandRoute RouteOf(const C_WString& line, int* consoleFlag) {
    // A blank or a tab ends a built-in's name, as at the prompt; a quoted
    // first word is none.
    int blank = line.IndexOfWhich(C_WString(L" \t"), 0, 1);
    C_WString first = blank < 0 ? line : line.SubString(0, blank - 1);
    if (IsShellBuiltin(first, consoleFlag)) return ROUTE_BUILTIN;
    // CreateProcessW would hand a batch file to cmd with the line as it is,
    // for a second reading that nothing prepared.
    const std::wstring program = ProgramWord(line.GetString(), nullptr);
    if (EndsWithNoCase(program, L".bat") || EndsWithNoCase(program, L".cmd")) {
        if (consoleFlag) *consoleFlag = 1;
        return ROUTE_BATCH;
    }
    return ROUTE_PROGRAM;
}

C_WString EscapeForCmd(const C_WString& line) {
    std::wstring escaped;
    bool quoted = false;
    const wchar_t* text = line.GetString();
    for (int i = 0; i < line.Length(); ++i) {
        const wchar_t c = text[i];
        if (c == L'"') {
            quoted = !quoted;
        } else if (c == L'%') {
            // Variables expand inside quotes too.
            escaped += kPercentGuard;
            continue;
        } else if (!quoted && wcschr(kCmdSpecials, c)) {
            escaped += L'^';
        }
        escaped += c;
    }
    return C_WString(escaped.c_str());
}

C_WString BuildCommandLine(const C_WString& line, int* consoleFlag) {
    if (RouteOf(line, consoleFlag) == ROUTE_PROGRAM) return line;
    // With /s cmd takes the text between the first and the last quote
    // whatever it holds, so the user's own quotes stay as they are.
    return SystemCmd() + L" /d /e:on /v:off /s /c \"" + EscapeForCmd(line) + L"\"";
}

bool CanRunAsTyped(const C_WString& line) {
    if (RouteOf(line, nullptr) == ROUTE_PROGRAM) return true;
    return line.IndexOf(L'\r') < 0 && line.IndexOf(L'\n') < 0;
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
