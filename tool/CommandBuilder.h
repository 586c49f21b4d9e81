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

}  // namespace vrek
