#pragma once

#include "kovra/C_WArrayString.h"
#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A small shell's treatment of a program's arguments: ${NAME} is replaced
// by the environment variable's value, commands between backquotes or
// between "$(" and ")" by their output (run through "cmd /c"), each
// argument giving one argument of a fresh vector that the object owns.
//
// shell_start results: 0 success; -1 "${" without "}" in its argument (or an
// expansion that does not end); 1 a backquote or "$(" without its partner in
// its argument. hasError gives the message of the last failure. After a
// failure the vector is left as it was.
//
// Blanks, where the splitters look for them, are the space and the tab.
//
// Choices where the behaviour was open:
// - Expansion stops after 1024 replacements, or when the arguments' text
//   grows beyond 65536 characters (twice the longest command line), both
//   counted over the whole vector, with the error of a bad definition: a
//   variable whose value refers back to itself, directly or through others,
//   would otherwise be expanded for ever.
// - Values and output get the protection the arguments have: each argument
//   is expanded where it stands and stays exactly one argument. A value or
//   an output is text of that argument whatever quotes, backslashes or
//   blanks it holds (C:\dir\, say "hi" and a b come out as they are); it is
//   never split, and never read as quotes or escapes, so it cannot swallow
//   a neighbour or leave an empty argument behind. A value is still expanded
//   again for the ${NAME} it holds (hence the bound above), and the commands
//   in it run as the argument's own do. Each output is followed by one
//   blank, and an argument in which something was replaced is trimmed of
//   the blanks at its ends ("x `echo a` y" gives "x a  y", "$(echo a)" gives
//   "a"); an argument with nothing to replace is kept exactly as it came.
// - shell_run closes the command's input at once, so a command that reads
//   its standard input sees its end instead of waiting for ever; a command
//   that cannot be started gives the empty string.
// - The delimiters of the commands are checked before any command runs, so
//   a line with an unclosed backquote or "$(" runs none of its commands.
// - shell_start clears the error text first: hasError speaks of the last
//   call only.
// - The owned vector has a null entry after its last argument, as a C
//   argument vector has.
class KOVRA_API ShellMain {
public:
    ShellMain();
    ShellMain(int argc, const wchar_t** const argv);
    explicit ShellMain(const C_WString& line);
    virtual ~ShellMain();

    // Expands and substitutes argv[1..] and builds the owned vector, which
    // starts with argv[0].
    int shell_start(int argc, const wchar_t** const argv);
    // Splits `line` (quotes removed, commands kept), then shell_start.
    int shell_startex(const C_WString& line);
    // Runs "cmd /c " + command and returns its output (standard output and
    // error) trimmed, with each line end replaced by one blank.
    C_WString shell_run(const C_WString& command);
    // Frees the owned vector; 0.
    int shell_end();

    // The last failure's message, or null.
    const wchar_t* hasError() const;
    int getArgc() { return m_argc; }
    // Valid until shell_end, the next start or destruction.
    wchar_t** getArgv() { return m_argv; }
    // Owned arguments from `start` on, each followed by one blank and put in
    // double quotes when the word at the same index of `line` begins with
    // one; trimmed.
    C_WString getConcatArgv(int start, const C_WString& line, int useEx);

    // Words separated by blanks; a double-quoted part (not opened by a
    // backslash-quote) is one word, kept with its quotes.
    static C_WArrayString getCommandLineToArray(const C_WString& line);
    // Words separated by blanks; double-quoted parts, backquoted parts and
    // "$(...)" are one word each, kept with their delimiters when the flag
    // for their kind is set; a '$' without "(" starts a word that runs to
    // the next blank. An unclosed delimiter runs to the end of the line.
    static C_WArrayString getCommandLineToArrayEx(const C_WString& line, int keepQuotes, int keepBackquotes,
                                                  int keepDollarParens);

protected:
    // Copies a vector or an array into the owned vector (null entries
    // become empty arguments).
    void alloc(int argc, const wchar_t** const argv);
    void alloc(const C_WArrayString& items);
    // Splits `line` into the owned vector, after `first` when not null.
    void create(const wchar_t* first, const C_WString& line);
    void free();

private:
    ShellMain(const ShellMain&) = delete;
    ShellMain& operator=(const ShellMain&) = delete;

    // Replaces every ${NAME} of one argument, counting the replacements in
    // `replacements` (kept over the whole vector); false (with the error
    // text) when a "${" has no "}" or the expansion does not end (too many
    // replacements, or the text grows beyond `room`).
    bool ExpandVariables(C_WString* text, int* replacements, int room);
    // Puts in `result` one argument with every backquoted and "$(...)"
    // command replaced by its output (a null `result`: only checks); the
    // number of commands, or -1 (with the error text) when one is not closed.
    int SubstituteCommands(const C_WString& text, C_WString* result);

    int m_argc;
    wchar_t** m_argv;
    C_WString m_error;
};

}  // namespace kovra
