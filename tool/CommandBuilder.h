#pragma once

#include <string>
#include <vector>

#include "kovra/C_WString.h"
#include "tool/ProgramSearch.h"

namespace vrek {

// A job's command is the user's own text: what the prompt's first reading
// left of the line after vrek's options. It must run as if it had been typed
// there, so it is never rebuilt from its split words.

// How a command line is started: what the prompt would do with it typed.
enum CommandRoute {
    ROUTE_PROGRAM = 0,    // a program found as the prompt finds it, started directly
    ROUTE_BUILTIN = 1,    // cmd's own: a built-in command, or cmd's syntax (@, blocks)
    ROUTE_BATCH = 2,      // a file found that is no program: a batch file, or a
                          // document cmd opens by its type; only cmd can run it
    ROUTE_NOT_FOUND = 3,  // nothing the prompt would run: the start fails
};

// What the task starts for a line.
struct CommandToStart {
    CommandRoute route = ROUTE_NOT_FOUND;
    // The file CreateProcessW starts, a full path that nothing searches
    // again: the program, or the system's cmd.exe. Empty when not found.
    kovra::C_WString application;
    kovra::C_WString commandLine;  // the line it gets
    int consoleFlag = 0;           // 1: a console command (see IsShellBuiltin)
};

// The one reading of a line that decides both the route and what is
// started, as the prompt reads a line typed at it:
// - A line that starts with @, ( or ), with a label's colon or with one of
//   cmd's leading separators (, ; =) is cmd's syntax.
// - The command word: a quoted name may hold blanks; an unquoted one ends
//   at a blank or a tab. An unquoted word whose leading letters and digits
//   name a built-in, ended there by anything else (echo. echo( cd.. dir/w
//   cd\ echo:), is that built-in; so is a drive change (d:). Both Windows'
//   cmd and Wine's end a built-in's name at these; Wine's at any character
//   that is no letter or digit, Windows' at a blank, a tab and
//   ( . / \ : , ; = + [ ] (and runs a program such as echo-x.exe by its
//   whole name). Either way cmd itself reads the line, so it does what it
//   would do with the line typed.
// - Anything else is found by FindProgram in `search`: a .exe or .com file
//   is started directly; any other file (.bat, .cmd in any letter case and
//   however spelled, a script, a document) goes to cmd; a name only cmd can
//   read goes to cmd; nothing found is ROUTE_NOT_FOUND.
// Lines for cmd go to the system's cmd.exe with AutoRun off (/d), command
// extensions on and delayed expansion off, escaped by EscapeForCmd. A
// program gets the line as it is. The console flag follows what is started:
// 1 for anything cmd runs, and for a program that is cmd itself, a .com
// file, or a file whose name (without its extension) ends in "net".
CommandToStart BuildCommand(const kovra::C_WString& line, const ProgramSearch& search);

// Whether a line can be started so that it runs as typed: false for a line
// that reaches cmd and holds a line end (CR or LF), which ends cmd's reading
// and would run the rest as a command of its own. No prompt can type one; a
// calling program can.
bool CanRunAsTyped(const kovra::C_WString& line, const ProgramSearch& search);

// Whether cmd, reading "%name%", would replace it: `name` (before a
// substring's or replacement's colon) is set in this process's environment,
// one of the variables cmd makes up (cd, date, time, random, errorlevel and
// the like), a hidden one (=C:), or no name at all before a colon.
bool ExpandsInCmd(const std::wstring& name);

// The text cmd reads back as `line`, without the interpreter around it:
// outside double quotes a caret before each of & | < > ^; and where two %
// would enclose a variable that cmd expands (`expands`, ExpandsInCmd when
// null), each of them followed by a piece of a variable that expands to
// nothing, so that no % expands a variable again. Any other % stays as it
// is: the prompt's reading left it literal, and a for loop's %i must reach
// cmd as written (Wine's cmd reads a for variable before expanding).
// Parentheses stay: they are cmd's syntax for the user (if and for blocks),
// and the prompt's reading of the vrek line left them as they were typed.
kovra::C_WString EscapeForCmd(const kovra::C_WString& line,
                              bool (*expands)(const std::wstring& name) = nullptr);

// 1 when the word (compared lower-cased) is a built-in of the interpreter:
// every internal command of cmd (and those that Wine's cmd has built in),
// plus sort, tree, chcp and mode, which run through cmd as well.
// *consoleFlag (when given) becomes 1 for a built-in, or for a word that is
// "cmd" or "cmd.exe" or ends in ".bat", ".com" or "net".
int IsShellBuiltin(const kovra::C_WString& word, int* consoleFlag);

// One element of a command line, written so that the C runtime's start-up
// code and CommandLineToArgvW split it back into exactly `argument`. It is
// enclosed in double quotes when `always` is set, or when it holds a blank,
// a tab or a double quote, or is empty. Inside the quotes a run of n
// backslashes before a double quote becomes 2n+1 backslashes and the quote,
// a run of n at the end becomes 2n, and other backslashes stay single:
// without that, `C:\dir\` would swallow its closing quote and the next
// element with it.
kovra::C_WString QuoteArgument(const kovra::C_WString& argument, bool always);

// A command line split into its elements as this program's C runtime splits
// its own (the program name by its own rule): how another copy of vrek saw
// the line it was started with.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// Where element `index` of `argv` begins in `commandLine`, the raw line the
// C runtime split into argv: -1 when this process's runtime splits by rules
// other than the ones known here (the pieces found do not equal argv), so
// the caller cannot trust a position.
int FindArgumentStart(const wchar_t* commandLine, wchar_t** argv, int argc, int index);

// The user's text from element `index` on: the raw line from that element's
// start to its end, verbatim. Where the position cannot be found, the
// elements joined as QuoteArgument writes them, which a program splits back
// into the same argv.
kovra::C_WString CommandTextFrom(const wchar_t* commandLine, wchar_t** argv, int argc, int index);

}  // namespace vrek
