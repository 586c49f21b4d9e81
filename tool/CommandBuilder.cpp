#include "tool/CommandBuilder.h"

#include <string>

using kovra::C_WString;

namespace vrek {

namespace {

const wchar_t* const kBuiltins[] = {
    L"dir", L"type", L"del",  L"rmdir", L"cd",    L"chdir", L"date",  L"time", L"if",   L"echo", L"sort",
    L"set", L"tree", L"chcp", L"copy",  L"ftype", L"md",    L"mkdir", L"mode", L"move", L"ver",  L"vol",
};

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

C_WString BuildCommandLine(const C_WString& line, int* consoleFlag) {
    // Only the blank splits: quotes are not interpreted, so a quoted first
    // element matches nothing and is started unchanged.
    int blank = line.IndexOf(L' ');
    C_WString first = blank < 0 ? line : line.SubString(0, blank - 1);
    if (IsShellBuiltin(first, consoleFlag)) return C_WString(L"cmd /c ") + line;
    return line;
}

}  // namespace vrek
