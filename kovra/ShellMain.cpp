#include "kovra/ShellMain.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "kovra/C_Memory.h"
#include "kovra/C_Process.h"

namespace kovra {

namespace {

const wchar_t kBadVariable[] = L"環境変数の定義が不正です。";
const wchar_t kUnpairedBackquote[] = L"バッククォートが対になっていません。";
const wchar_t kUnclosedParen[] = L") で閉じられていません。";

// Bounds of ${NAME} expansion: a self-referring value never ends otherwise.
const int kMaxExpansions = 1024;
const int kMaxExpandedLength = 65536;

const int kReadPiece = 10240;
const int kNoDeadline = -1;

// Units [from, to) of `s`; empty when the range is empty.
C_WString Range(const C_WString& s, int from, int to) {
    if (to > s.Length()) to = s.Length();
    if (from < 0) from = 0;
    return to > from ? s.SubString(from, to - 1) : C_WString();
}

bool IsBlank(int c) { return c == L' ' || c == L'\t'; }

// The first position >= from holding one of `set`; -1 when none.
int NextOf(const C_WString& s, int from, const wchar_t* set) {
    const wchar_t* text = s.GetString();
    for (int i = from; i < s.Length(); ++i)
        if (std::wcschr(set, text[i])) return i;
    return -1;
}

// The next double quote at or after `from` (> 0) that no backslash
// precedes; the length when there is none.
int ClosingQuote(const C_WString& s, int from) {
    const wchar_t* text = s.GetString();
    for (int i = from; i < s.Length(); ++i)
        if (text[i] == L'"' && text[i - 1] != L'\\') return i;
    return s.Length();
}

// The final stretch of a line: appended untrimmed when it holds a word.
void AppendRest(C_WArrayString& items, const C_WString& line, int from) {
    C_WString rest = line.SubString(from);
    if (!rest.Trim().Empty()) items.AppEnd(rest);
}

void AppendWord(C_WArrayString& items, const C_WString& line, int from, int to) {
    C_WString word = Range(line, from, to).Trim();
    if (!word.Empty()) items.AppEnd(word);
}

// The walk shared by the splitters: the stretch before each stop (one of
// `stops`) is a word when it holds one; `atStop(p)` takes what the stop at p
// opens and returns where the walk goes on. The final stretch is kept
// untrimmed when asked.
template <typename AtStop>
void Walk(C_WArrayString& items, const C_WString& line, const wchar_t* stops, bool untrimmedRest, AtStop atStop) {
    int g = 0;
    for (;;) {
        int p = NextOf(line, g, stops);
        if (p < 0) break;
        AppendWord(items, line, g, p);
        g = atStop(p);
    }
    if (untrimmedRest)
        AppendRest(items, line, g);
    else
        AppendWord(items, line, g, line.Length());
}

C_WString EnvironmentValue(const C_WString& name) {
    if (name.Empty()) return C_WString();
    std::vector<wchar_t> value(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD got = GetEnvironmentVariableW(name.GetString(), value.data(), static_cast<DWORD>(value.size()));
        if (got == 0) return C_WString();
        if (got < value.size()) return C_WString(value.data());
        value.resize(got);  // the size needed, terminator included
    }
    return C_WString();
}

wchar_t* CopyText(const wchar_t* text) {
    size_t n = text ? std::wcslen(text) : 0;
    wchar_t* copy = new wchar_t[n + 1];
    if (n > 0) std::memcpy(copy, text, n * sizeof(wchar_t));
    copy[n] = L'\0';
    return copy;
}

}  // namespace

ShellMain::ShellMain() : m_argc(0), m_argv(nullptr) {}

ShellMain::ShellMain(int argc, const wchar_t** const argv) : ShellMain() { shell_start(argc, argv); }

ShellMain::ShellMain(const C_WString& line) : ShellMain() { shell_startex(line); }

ShellMain::~ShellMain() { free(); }

const wchar_t* ShellMain::hasError() const { return m_error.Empty() ? nullptr : m_error.GetString(); }

int ShellMain::shell_end() {
    free();
    return 0;
}

// The owned vector -----------------------------------------------------------

void ShellMain::alloc(int argc, const wchar_t** const argv) {
    // The source may be this object's own vector: copy before freeing.
    if (argc < 0 || !argv) argc = 0;
    wchar_t** fresh = argc > 0 ? new wchar_t*[argc + 1] : nullptr;
    for (int i = 0; i < argc; ++i) fresh[i] = CopyText(argv[i]);
    if (fresh) fresh[argc] = nullptr;
    free();
    m_argv = fresh;
    m_argc = argc;
}

void ShellMain::alloc(const C_WArrayString& items) {
    std::vector<const wchar_t*> pointers;
    for (int i = 0; i < items.Length(); ++i) pointers.push_back(items[i].GetString());
    alloc(static_cast<int>(pointers.size()), pointers.data());
}

void ShellMain::free() {
    for (int i = 0; i < m_argc; ++i) delete[] m_argv[i];
    delete[] m_argv;
    m_argv = nullptr;
    m_argc = 0;
}

void ShellMain::create(const wchar_t* first, const C_WString& line) {
    C_WArrayString items;
    if (first) items.AppEnd(C_WString(first));
    const wchar_t* text = line.GetString();
    Walk(items, line, L" \t\"", false, [&](int p) {
        if (text[p] != L'"') return p + 1;
        int end = ClosingQuote(line, p + 1);
        items.AppEnd(Range(line, p + 1, end).Replace(C_WString(L"\\\""), C_WString(L"\"")).Trim());
        return end + 1;
    });
    alloc(items);
}

// Starting ---------------------------------------------------------------------

int ShellMain::shell_start(int argc, const wchar_t** const argv) {
    m_error.Clear();
    if (!argv) argc = 0;
    if (argc <= 1) {
        alloc(argc, argv);
        return 0;
    }
    // Each argument is expanded on its own and stays one argument: joining
    // them and splitting the result again would read the quotes, backslashes
    // and blanks of a value or of a command's output as the line's syntax.
    std::vector<C_WString> texts;
    std::vector<bool> expanded;
    int replacements = 0;
    int length = 0;
    for (int i = 1; i < argc; ++i) {
        C_WString text(argv[i] ? argv[i] : L"");
        const int before = replacements;
        if (!ExpandVariables(&text, &replacements, kMaxExpandedLength - length)) return -1;
        length += text.Length();
        texts.push_back(text);
        expanded.push_back(replacements != before);
    }
    // Every argument's delimiters first: a line with an unclosed one runs
    // none of its commands.
    for (const C_WString& text : texts)
        if (SubstituteCommands(text, nullptr) < 0) return 1;
    C_WArrayString items;
    items.AppEnd(C_WString(argv[0] ? argv[0] : L""));
    for (size_t i = 0; i < texts.size(); ++i) {
        C_WString text;
        const bool substituted = SubstituteCommands(texts[i], &text) > 0;
        items.AppEnd(expanded[i] || substituted ? text.Trim() : text);
    }
    alloc(items);
    return 0;
}

int ShellMain::shell_startex(const C_WString& line) {
    C_WArrayString items = getCommandLineToArrayEx(line, 0, 1, 1);
    std::vector<const wchar_t*> argv;
    for (int i = 0; i < items.Length(); ++i) argv.push_back(items[i].GetString());
    return shell_start(static_cast<int>(argv.size()), argv.data());
}

bool ShellMain::ExpandVariables(C_WString* text, int* replacements, int room) {
    const C_WString opening(L"${");
    for (;;) {
        int at = text->IndexOf(opening);
        if (at < 0) return true;
        int close = text->IndexOf(L'}', at);
        if (close < 0 || *replacements >= kMaxExpansions) break;
        C_WString value = EnvironmentValue(Range(*text, at + 2, close));
        *text = Range(*text, 0, at) + value + text->SubString(close + 1);
        ++*replacements;
        if (text->Length() > room) break;
    }
    m_error = kBadVariable;
    return false;
}

int ShellMain::SubstituteCommands(const C_WString& text, C_WString* result) {
    C_WString out;
    int commands = 0;
    for (int at = 0;; ++commands) {
        int tick = text.IndexOf(L'`', at);
        int dollar = text.IndexOf(C_WString(L"$("), at);
        int start = tick < 0 || (dollar >= 0 && dollar < tick) ? dollar : tick;
        if (start < 0) {
            out += text.SubString(at);
            break;
        }
        out += Range(text, at, start);
        bool backquote = start == tick;
        int open = backquote ? 1 : 2;
        int end = text.IndexOf(backquote ? L'`' : L')', start + open);
        if (end < 0) {
            m_error = backquote ? kUnpairedBackquote : kUnclosedParen;
            return -1;
        }
        if (result) out += shell_run(Range(text, start + open, end)) + L" ";
        at = end + 1;
    }
    if (result) *result = out;
    return commands;
}

C_WString ShellMain::shell_run(const C_WString& command) {
    C_Process process;
    C_WString line = C_WString(L"cmd /c ") + command;
    if (process.Run(line.GetString(), 5, RUN_PIPE_IN_OUT, 0, nullptr, nullptr, nullptr, nullptr) == NO_PROCESS)
        return C_WString();
    // A command that reads its input must see its end, not wait for ever.
    process.EndWrite();
    std::string bytes;
    C_Memory piece;
    for (;;) {
        int n = process.ReaderStream(&piece, kReadPiece, kNoDeadline);
        if (n < 0) break;
        if (n > 0) bytes.append(static_cast<const char*>(piece.GetMemoryEx()), static_cast<size_t>(n));
    }
    process.Join(INFINITE);
    C_WString output = C_WString(bytes.c_str()).Trim();
    output = output.Replace(C_WString(L"\r\n"), C_WString(L" "))
                 .Replace(C_WString(L"\n"), C_WString(L" "))
                 .Replace(C_WString(L"\r"), C_WString(L" "));
    return output.Trim();
}

// Splitting ---------------------------------------------------------------------

C_WString ShellMain::getConcatArgv(int start, const C_WString& line, int useEx) {
    C_WArrayString words = useEx ? getCommandLineToArrayEx(line, 1, 0, 0) : getCommandLineToArray(line);
    C_WString out;
    for (int i = start < 0 ? 0 : start; i < words.Length() && i < m_argc; ++i) {
        bool quoted = words[i].CharAt(0) == L'"';
        if (quoted) out += L"\"";
        out += m_argv[i];
        if (quoted) out += L"\"";
        out += L" ";
    }
    return out.Trim();
}

C_WArrayString ShellMain::getCommandLineToArray(const C_WString& line) {
    C_WArrayString items;
    const wchar_t* text = line.GetString();
    Walk(items, line, L" \t\"", true, [&](int p) {
        // A blank, or a quote after a backslash, only separates.
        if (text[p] != L'"' || (p > 0 && text[p - 1] == L'\\')) return p + 1;
        int end = ClosingQuote(line, p + 1);
        items.AppEnd(Range(line, p, end + 1).Trim());
        return end + 1;
    });
    return items;
}

C_WArrayString ShellMain::getCommandLineToArrayEx(const C_WString& line, int keepQuotes, int keepBackquotes,
                                                  int keepDollarParens) {
    C_WArrayString items;
    const wchar_t* text = line.GetString();
    const int n = line.Length();
    Walk(items, line, L" \t\"`$", true, [&](int p) {
        const wchar_t c = text[p];
        if (IsBlank(c) || (c == L'"' && p > 0 && text[p - 1] == L'\\')) return p + 1;
        int open = 1;
        int end = n;
        int keep = 0;
        if (c == L'"') {
            end = ClosingQuote(line, p + 1);
            keep = keepQuotes;
        } else if (c == L'`') {
            end = line.IndexOf(L'`', p + 1);
            keep = keepBackquotes;
        } else if (p + 1 < n && text[p + 1] == L'(') {
            open = 2;
            end = line.IndexOf(L')', p + 2);
            keep = keepDollarParens;
        } else {
            // A '$' without "(": a word up to the next blank.
            end = NextOf(line, p + 1, L" \t");
            if (end < 0) end = n;
            items.AppEnd(Range(line, p, end).Trim());
            return end;
        }
        if (end < 0) end = n;  // unclosed: to the end of the line
        items.AppEnd((keep ? Range(line, p, end + 1) : Range(line, p + open, end)).Trim());
        return end + 1;
    });
    return items;
}

}  // namespace kovra
