#pragma once

#include "kovra/C_GetOpt.h"
#include "kovra/C_WString.h"

namespace vrek {

// Where a standard stream of the command goes.
enum TargetKind {
    TARGET_PARENT = 0,          // the launching shell's console (default)
    TARGET_CONSOLE = 1,         // a new console
    TARGET_PARENT_CONSOLE = 2,  // the shell's console, else a new one
    TARGET_NUL = 3,             // discarded
    TARGET_FILE = 4,            // a file of that name
    TARGET_INVALID = 5,         // the empty text; rejected at launch
};

// How the task copy handles the command's output.
enum FlushMode {
    FLUSH_NONE = 0,          // relayed in batches, every 500 ms
    FLUSH_EVERY_PASS = 1,    // --flush: relayed as it comes, streams unbuffered
    FLUSH_PASS_THROUGH = 2,  // --flush2: the command writes to the streams itself
};

enum PriorityLevel {
    PRIORITY_NONE = 0,
    PRIORITY_IDLE = 1,
    PRIORITY_BELOW = 2,
    PRIORITY_NORMAL = 3,
    PRIORITY_ABOVE = 4,
    PRIORITY_HIGH = 5,
    PRIORITY_REALTIME = 6,
};

// The parsed options of one invocation. In the launcher `taskLine` is the
// encoded argument line for the task copy; in the task copy it is the
// command line to run. `errorMessage` says why a parse failed; it stays empty
// when the option parser has already printed its own message.
class TaskSettings {
public:
    TaskSettings();
    virtual ~TaskSettings();
    TaskSettings(const TaskSettings&) = delete;
    TaskSettings& operator=(const TaskSettings&) = delete;

    kovra::C_WString GetTaskLine() const { return taskLine; }
    kovra::C_WString GetErrorMessage() const { return errorMessage; }

    kovra::C_WString outTarget;
    kovra::C_WString inTarget;
    kovra::C_WString errTarget;
    kovra::C_WString workDir;
    double delaySeconds;
    int inKind;  // the kinds are set by the task parse only
    int outKind;
    int errKind;
    int pause;
    int showResult;
    int gui;
    int flushMode;  // FlushMode
    int daemon;
    int managedDaemon;
    int hide;
    int priority;
    kovra::C_WString taskLine;
    kovra::C_WString errorMessage;
    // The launcher's: the command text, as the task copy will run it.
    kovra::C_WString command;
};

// The launcher's long options, in the order the option pass dispatches on
// (--in first, --priority last), and the null entry that ends them: every
// entry stores 0 into *matched when it is found.
constexpr int kLauncherOptionCount = 18;
void GetLauncherOptions(kovra::C_GetOpt::option (&table)[kLauncherOptionCount + 1], int* matched);

// Parses argv[1..argc-1] in launcher mode (taskMode 0) or task mode (1):
// 1 on success, 0 on failure. `commandLine` is the raw line argv was split
// from (GetCommandLineW): the launcher takes the command from it verbatim.
// Without it the command is argv's elements, quoted where they need it.
[[nodiscard]] int ParseCommandLine(wchar_t** argv, int argc, TaskSettings& settings, int taskMode,
                                   const wchar_t* commandLine = nullptr);

// The kind of a stream-target text (lower-cased, compared whole).
int ClassifyTarget(const kovra::C_WString& text);
kovra::C_WString DefaultTargetName(int kind);
// The level of a --priority value (any letter case; "bellow", as the usage
// text spells it, is "below"); PRIORITY_NONE for any other text, which the
// launcher refuses.
int ParsePriority(const kovra::C_WString& text);
// The C_Process::Run priority bit of a level; RUN_PRIORITY_NORMAL for any
// level other than idle, below, above, high and realtime.
int PriorityToRunFlag(int level);
// Which consoles the task copy needs, from the three kinds: the result is 1
// when some stream goes to the parent (it tries to attach); needsNewConsole
// when some stream is TARGET_CONSOLE; fallsBackToConsole when some stream is
// TARGET_PARENT_CONSOLE.
int GetConsoleNeeds(const TaskSettings& settings, int& needsNewConsole, int& fallsBackToConsole);

}  // namespace vrek
