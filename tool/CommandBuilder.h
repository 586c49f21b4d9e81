#pragma once

#include "kovra/C_WString.h"

namespace vrek {

// The line the task copy starts for its command: a built-in command of the
// Windows command interpreter gets "cmd /c " in front, anything else is
// started as it is. *consoleFlag (when given) becomes 1 for a console
// command, one that must keep the task's console: a built-in, "cmd",
// "cmd.exe", or a first word ending in ".bat", ".com" or "net".
kovra::C_WString BuildCommandLine(const kovra::C_WString& line, int* consoleFlag);

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

}  // namespace vrek
