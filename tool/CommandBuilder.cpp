#include "tool/CommandBuilder.h"

using kovra::C_WString;

namespace vrek {

namespace {

const wchar_t* const kBuiltins[] = {
    L"dir",   L"type", L"del",   L"rmdir", L"cd",   L"chdir", L"date",  L"time", L"if",   L"echo", L"sort",
    L"set",   L"tree", L"chcp",  L"copy",  L"ftype", L"md",   L"mkdir", L"mode", L"move", L"ver",  L"vol",
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

C_WString BuildCommandLine(const C_WString& line, int* consoleFlag) {
    // Only the blank splits: quotes are not interpreted, so a quoted first
    // element matches nothing and is started unchanged.
    int blank = line.IndexOf(L' ');
    C_WString first = blank < 0 ? line : line.SubString(0, blank - 1);
    if (IsShellBuiltin(first, consoleFlag)) return C_WString(L"cmd /c ") + line;
    return line;
}

}  // namespace vrek
