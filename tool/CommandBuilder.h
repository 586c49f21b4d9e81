#pragma once

#include "kovra/C_WString.h"

namespace vrek {

// A job's command is the user's own text: what the prompt's first reading
// left of the line after vrek's options. It must run as if it had been typed
// there, so it is never rebuilt from its split words.

// How a command line is started.
enum CommandRoute {
    ROUTE_PROGRAM = 0,  // started directly: the program splits the text itself
    ROUTE_BUILTIN = 1,  // a built-in command of the interpreter, run by cmd
    ROUTE_BATCH = 2,    // a .bat or .cmd file, which only cmd can run
};

// The route of a line. A built-in is its first word up to a blank or a tab,
// looked up lower-cased (a quoted word is none); a batch file is the program word,
// read as the C runtime reads a program name, ending in ".bat" or ".cmd".
// *consoleFlag (when given) becomes 1 for a console command, one that must
// keep the task's console: anything run by cmd, "cmd", "cmd.exe", or a first
// word ending in ".bat", ".com" or "net".
CommandRoute RouteOf(const kovra::C_WString& line, int* consoleFlag);

// The line the task copy starts. A program's line is started as it is. A
// built-in or batch file goes to the system's cmd.exe with AutoRun off (/d),
// command extensions on and delayed expansion off, the line escaped so that
// cmd's second reading gives back exactly the text its first reading gave
// the user: the characters that act outside double quotes get a caret, and
// no % can expand a variable again. *consoleFlag as for RouteOf.
kovra::C_WString BuildCommandLine(const kovra::C_WString& line, int* consoleFlag);

// Whether a line can be started so that it runs as typed: false for a line
// that cmd would run and that holds a line end, which ends cmd's reading and
// would run the rest as a command of its own. No prompt can type one; a
// calling program can.
bool CanRunAsTyped(const kovra::C_WString& line);

// The text cmd reads back as `line` (see BuildCommandLine), without the
// interpreter around it.
kovra::C_WString EscapeForCmd(const kovra::C_WString& line);

// 1 when the word (compared lower-cased) is a built-in of the interpreter.
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
