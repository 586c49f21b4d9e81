#include "tool/TaskSettings.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "kovra/C_GetOpt.h"
#include "kovra/C_Process.h"
#include "kovra/C_WArrayString.h"
#include "tool/CommandBuilder.h"

using kovra::C_GetOpt;
using kovra::C_WArrayString;
using kovra::C_WString;

namespace vrek {

namespace {

const wchar_t kInvalidValue[] = L" の値が不正です。";
const wchar_t kBadTaskArguments[] = L"不正な引数が渡されています。";
const wchar_t kTaskMissing[] = L"--task オプションは必須です。";

// Positions of the long-option table; the pass dispatches on them.
enum LongOption {
    OPT_IN,
    OPT_OUT,
    OPT_ERR,
    OPT_DELAY,
    OPT_PAUSE,
    OPT_NOLOGO,
    OPT_NUL,
    OPT_NULL,
    OPT_CONSOLE,
    OPT_PARENT_CONSOLE,
    OPT_GUI,
    OPT_FLUSH,
    OPT_DAEMON,
    OPT_MANAGED_DAEMON,
    OPT_FLUSH2,
    OPT_HIDE,
    OPT_DIR,
    OPT_PRIORITY,
};

// The priority the option pass keeps for a level it does not know.
const int kInvalidPriority = -1;

// `_wtof` as the C runtime converts: a text that is no number gives 0.
double ToDouble(const C_WString& text) { return _wtof(text.GetString()); }

// The value of --delay: a number and nothing else. Anything else ("abc",
// "1,5", "5s") is no value at all (NaN), which the validation refuses: read
// as _wtof reads it, "1,5" would wait one second.
double ParseDelay(const C_WString& text) {
    const wchar_t* begin = text.GetString();
    wchar_t* end = nullptr;
    const double value = wcstod(begin, &end);
    const bool blankFirst = *begin == L' ' || *begin == L'\t';
    if (end == begin || *end != L'\0' || blankFirst) return std::nan("");
    return value;
}

int RunLongOptionPass(int argc, wchar_t** argv, TaskSettings& settings) {
    int matched = 0;
    C_GetOpt::option table[kLauncherOptionCount + 1];
    GetLauncherOptions(table, &matched);

    C_GetOpt parser;
    parser.setoptchar('-');
    bool inExplicit = false;
    bool outExplicit = false;
    bool errExplicit = false;
    int defaultKind = -1;

    for (;;) {
        int index = -1;
        int result = parser.getopt_long(argc, argv, "", table, &index);
        if (result < 0) break;
        if (result == '?') return 0;  // the parser has printed why; no defaults
        if (result != 0) continue;
        C_WString value(parser.optarg());
        switch (index) {
        case OPT_IN:
            settings.inTarget = value;
            inExplicit = true;
            break;
        case OPT_OUT:
            settings.outTarget = value;
            outExplicit = true;
            break;
        case OPT_ERR:
            settings.errTarget = value;
            errExplicit = true;
            break;
        case OPT_DELAY:
            settings.delaySeconds = ParseDelay(value);
            break;
        case OPT_PAUSE:
            settings.pause = 1;
            break;
        case OPT_NOLOGO:
            settings.showResult = 0;
            break;
        case OPT_NUL:
        case OPT_NULL:
            defaultKind = TARGET_NUL;
            break;
        case OPT_CONSOLE:
            defaultKind = TARGET_CONSOLE;
            break;
        case OPT_PARENT_CONSOLE:
            defaultKind = TARGET_PARENT_CONSOLE;
            break;
        case OPT_GUI:
            settings.gui = 1;
            break;
        case OPT_FLUSH:
            settings.flushMode = FLUSH_EVERY_PASS;
            break;
        case OPT_DAEMON:
            settings.daemon = 1;
            break;
        case OPT_MANAGED_DAEMON:
            settings.managedDaemon = 1;
            break;
        case OPT_FLUSH2:
            settings.flushMode = FLUSH_PASS_THROUGH;
            break;
        case OPT_HIDE:
            settings.hide = 1;
            break;
        case OPT_DIR:
            settings.workDir = value;
            break;
        case OPT_PRIORITY:
            // A level that is none would run at the default, unasked.
            settings.priority = ParsePriority(value);
            if (settings.priority == PRIORITY_NONE) settings.priority = kInvalidPriority;
            break;
        default:
            break;
        }
    }

    if (defaultKind >= 0) {
        C_WString name = DefaultTargetName(defaultKind);
        if (!inExplicit) settings.inTarget = name;
        if (!outExplicit) settings.outTarget = name;
        if (!errExplicit) settings.errTarget = name;
    }
    return 1;
}

// The settings token: one digit for each of these, in this order, then the
// delay as "%.2f". The launcher writes it and the task copy reads it from
// this one table, so the two cannot disagree on an order.
int TaskSettings::*const kTokenDigits[] = {
    &TaskSettings::inKind,     &TaskSettings::outKind,  &TaskSettings::errKind,   &TaskSettings::pause,
    &TaskSettings::showResult, &TaskSettings::gui,      &TaskSettings::flushMode, &TaskSettings::daemon,
    &TaskSettings::hide,       &TaskSettings::priority,
};
const int kTokenDigitCount = static_cast<int>(sizeof kTokenDigits / sizeof kTokenDigits[0]);
const int kTokenKindDigits = 3;  // the stream-target kinds come first, 0 to 4
static_assert(sizeof kTokenDigits / sizeof kTokenDigits[0] == 10, "the token carries ten digits");

// The launcher's settings token. The launcher parse keeps no kinds, so the
// first three digits are the kinds of the three target texts.
C_WString EncodeSettingsToken(const TaskSettings& settings) {
    const int kinds[kTokenKindDigits] = {ClassifyTarget(settings.inTarget), ClassifyTarget(settings.outTarget),
                                         ClassifyTarget(settings.errTarget)};
    C_WString token;
    for (int i = 0; i < kTokenDigitCount; ++i) token += i < kTokenKindDigits ? kinds[i] : settings.*kTokenDigits[i];
    return token + C_WString::Stringf(L"%.2f", settings.delaySeconds);
}

// Appends one element to a line, after a blank unless it is the first.
void AppendElement(C_WString& line, const C_WString& element) {
    if (!line.Empty()) line += L" ";
    line += element;
}

// Where the command starts in option form: just after the first "--task".
// kManagerRequested when "--managed-daemon" comes first (the parse ends
// there); -1, with the message set, when "--task" is missing or last.
const int kManagerRequested = -2;
int FindTaskSplit(const C_WArrayString& args, TaskSettings& settings) {
    for (int i = 0; i < args.Length(); ++i) {
        if (args[i].Equals(C_WString(L"--task"))) {
            if (i == args.Length() - 1) {
                settings.errorMessage = L"--task オプションには実行コマンドが必須です。";
                return -1;
            }
            return i + 1;
        }
        if (args[i].Equals(C_WString(L"--managed-daemon"))) {
            settings.managedDaemon = 1;
            return kManagerRequested;
        }
    }
    settings.errorMessage = kTaskMissing;
    return -1;
}

// Whether `arg` is an option that takes a value (and, last, has none).
bool LacksItsValue(const C_WString& arg) {
    int matched = 0;
    C_GetOpt::option table[kLauncherOptionCount + 1];
    GetLauncherOptions(table, &matched);
    for (int i = 0; i < kLauncherOptionCount; ++i)
        if (table[i].has_arg == 1 && arg.Equals(C_WString(L"--") + table[i].name)) return true;
    return false;
}

// The long-option pass over the arguments before "--task". The option
// parser reorders the vector it is given: it gets copies, with a null
// placeholder for the program name.
int ParseOptions(const C_WArrayString& args, int count, TaskSettings& settings) {
    if (count == 0) return 1;
    std::vector<std::vector<wchar_t>> copies(count);
    std::vector<wchar_t*> vector(count + 1, nullptr);
    for (int i = 0; i < count; ++i) {
        const wchar_t* text = args[i].GetString();
        copies[i].assign(text, text + args[i].Length() + 1);
        vector[i + 1] = copies[i].data();
    }
    return RunLongOptionPass(count + 1, vector.data(), settings);
}

// The values the option pass accepted but the task copy could not use: an
// empty target (the first in the order in, out, err), and a delay that is
// no number, negative or not finite, which would wait a time nobody asked
// for, or be printed into the settings token in a form the task copy
// rejects after the job was reported as started.
int ValidateOptions(TaskSettings& settings) {
    const struct {
        const C_WString& target;
        const wchar_t* option;
    } targets[] = {{settings.inTarget, L"--in"}, {settings.outTarget, L"--out"}, {settings.errTarget, L"--err"}};
    for (const auto& t : targets) {
        if (ClassifyTarget(t.target) == TARGET_INVALID) {
            settings.errorMessage = C_WString(t.option) + kInvalidValue;
            return 0;
        }
    }
    if (settings.priority == kInvalidPriority) {
        settings.errorMessage = C_WString(L"--priority") + kInvalidValue;
        return 0;
    }
    if (!std::isfinite(settings.delaySeconds) || settings.delaySeconds < 0) {
        settings.errorMessage = C_WString(L"--delay") + kInvalidValue;
        return 0;
    }
    // "-0" passes the test above, but "%.2f" prints it as "-0.00", which
    // the task copy rejects just the same: it is no delay at all.
    if (settings.delaySeconds == 0) settings.delaySeconds = 0;
    return 1;
}

// The task line: the settings token, the file targets (each quoted by the
// runtime's rules, so that the task copy's argument vector holds them
// exactly), then the command text as one element, which the task copy takes
// back verbatim.
void ComposeTaskLine(const C_WString& command, TaskSettings& settings) {
    settings.command = command;
    settings.taskLine = EncodeSettingsToken(settings);
    for (const C_WString* target : {&settings.inTarget, &settings.outTarget, &settings.errTarget})
        if (ClassifyTarget(*target) == TARGET_FILE) AppendElement(settings.taskLine, QuoteArgument(*target, true));
    AppendElement(settings.taskLine, QuoteArgument(command, true));
}

int ParseLauncher(const C_WArrayString& args, TaskSettings& settings, wchar_t** argv, int argc,
                  const wchar_t* commandLine) {
    settings.outTarget = L"parent";
    settings.inTarget = L"parent";
    settings.errTarget = L"parent";
    settings.delaySeconds = 0;
    int commandStart = 0;

    // Plain form (the first argument does not start with "--"): every
    // argument belongs to the command, all options keep their defaults.
    if (args.Length() > 0 && args[0].StartsWith(C_WString(L"--"))) {
        commandStart = FindTaskSplit(args, settings);
        if (commandStart == kManagerRequested) return 1;
        if (commandStart < 0) {
            // `vrek --out`: the value is what is missing first; the option
            // pass says so itself.
            if (settings.errorMessage.Equals(C_WString(kTaskMissing)) && LacksItsValue(args[args.Length() - 1]) &&
                !ParseOptions(args, args.Length(), settings))
                settings.errorMessage = L"";
            return 0;
        }
        if (!ParseOptions(args, commandStart - 1, settings) || !ValidateOptions(settings)) return 0;
    }
    // The user's own text from the command's first word on, not the words
    // the runtime split from it: those have lost the quotes that kept the
    // prompt's special characters literal.
    const C_WString command = CommandTextFrom(commandLine, argv, argc, commandStart + 1);
    // Refused now rather than as a failed job; the task checks again where
    // the command runs, as it finds the program then.
    if (!CanRunAsTyped(command, ProgramSearch::OfThisProcess(settings.workDir.GetString()))) {
        settings.errorMessage = L"コマンドに改行が含まれているため実行できません。";
        return 0;
    }
    ComposeTaskLine(command, settings);
    return 1;
}

int ParseTask(const C_WArrayString& args, TaskSettings& settings) {
    if (args.Length() == 0) {
        settings.errorMessage = L"オプションがありません";
        return 0;
    }

    const C_WString& token = args[0];
    int position = 0;
    for (; position < token.Length(); ++position) {
        int c = token.CharAt(position);
        if (!((c >= L'0' && c <= L'9') || c == L'.')) break;
        int value = c - L'0';
        if (position < kTokenKindDigits && (value < TARGET_PARENT || value > TARGET_FILE)) {
            settings.errorMessage = kBadTaskArguments;
            return 0;
        }
        if (position < kTokenDigitCount)
            settings.*kTokenDigits[position] = value;
        else if (position == kTokenDigitCount)
            settings.delaySeconds = ToDouble(token.SubString(kTokenDigitCount));
    }
    if (position < token.Length() || token.Length() <= 5) {
        settings.errorMessage = kBadTaskArguments;
        return 0;
    }

    // The last argument is the task argument, never part of the command; a
    // token that announces more file names than there are must not make the
    // parse read it, or past it.
    const int last = args.Length() - 1;
    int next = 1;
    const struct {
        int kind;
        C_WString& target;
    } files[] = {{settings.inKind, settings.inTarget},
                 {settings.outKind, settings.outTarget},
                 {settings.errKind, settings.errTarget}};
    for (const auto& f : files) {
        if (f.kind != TARGET_FILE) continue;
        if (next >= last) {
            settings.errorMessage = kBadTaskArguments;
            return 0;
        }
        f.target = args[next++];
    }

    // The command line to start. The launcher carries the user's text as
    // one element, taken as it is. Several elements (a line made by hand)
    // are joined, each quoted by the runtime's rules where it needs it, so
    // that a program started with the line receives them as they were. No
    // trim: it would cut a last argument that ends in a control character.
    settings.taskLine.Clear();
    if (last - next == 1) {
        settings.taskLine = args[next];
        return 1;
    }
    for (int i = next; i < last; ++i) AppendElement(settings.taskLine, QuoteArgument(args[i], false));
    return 1;
}

}  // namespace

void GetLauncherOptions(C_GetOpt::option (&table)[kLauncherOptionCount + 1], int* matched) {
    // By position: the option pass dispatches on LongOption.
    static const struct {
        const wchar_t* name;
        int hasArg;
    } options[kLauncherOptionCount] = {
        {L"in", 1},     {L"out", 1},   {L"err", 1},      {L"delay", 1},          {L"pause", 0},
        {L"nologo", 0}, {L"nul", 0},   {L"null", 0},     {L"console", 0},        {L"parent-console", 0},
        {L"gui", 0},    {L"flush", 0}, {L"daemon", 0},   {L"managed-daemon", 0}, {L"flush2", 0},
        {L"hide", 0},   {L"dir", 1},   {L"priority", 1},
    };
    for (int i = 0; i < kLauncherOptionCount; ++i) table[i] = {options[i].name, options[i].hasArg, matched, 0};
    table[kLauncherOptionCount] = {nullptr, 0, nullptr, 0};
}

TaskSettings::TaskSettings()
    : delaySeconds(0),
      inKind(0),
      outKind(0),
      errKind(0),
      pause(0),
      showResult(1),
      gui(0),
      flushMode(0),
      daemon(0),
      managedDaemon(0),
      hide(0),
      priority(0) {}

TaskSettings::~TaskSettings() {}

int ParseCommandLine(wchar_t** argv, int argc, TaskSettings& settings, int taskMode, const wchar_t* commandLine) {
    C_WArrayString args;
    for (int i = 1; i < argc; ++i) args.AppEnd(C_WString(argv[i]));
    return taskMode ? ParseTask(args, settings) : ParseLauncher(args, settings, argv, argc, commandLine);
}

int ClassifyTarget(const C_WString& text) {
    if (text.Empty()) return TARGET_INVALID;
    C_WString lower = text.ToLower();
    if (lower.Equals(C_WString(L"parent"))) return TARGET_PARENT;
    if (lower.Equals(C_WString(L"console"))) return TARGET_CONSOLE;
    if (lower.Equals(C_WString(L"parent-console")) || lower.Equals(C_WString(L"parent_console")))
        return TARGET_PARENT_CONSOLE;
    if (lower.Equals(C_WString(L"nul")) || lower.Equals(C_WString(L"null"))) return TARGET_NUL;
    return TARGET_FILE;
}

C_WString DefaultTargetName(int kind) {
    switch (kind) {
    case TARGET_PARENT:
        return C_WString(L"parent");
    case TARGET_CONSOLE:
        return C_WString(L"console");
    case TARGET_PARENT_CONSOLE:
        return C_WString(L"parent-console");
    case TARGET_NUL:
        return C_WString(L"nul");
    default:
        return C_WString();
    }
}

int ParsePriority(const C_WString& text) {
    static const wchar_t* const names[] = {L"idle", L"below", L"normal", L"above", L"high", L"realtime"};
    C_WString lower = text.ToLower();
    for (int level = PRIORITY_IDLE; level <= PRIORITY_REALTIME; ++level)
        if (lower.Equals(C_WString(names[level - 1]))) return level;
    // The usage text spells it so.
    if (lower.Equals(C_WString(L"bellow"))) return PRIORITY_BELOW;
    return PRIORITY_NONE;
}

int PriorityToRunFlag(int level) {
    switch (level) {
    case PRIORITY_IDLE:
        return kovra::RUN_PRIORITY_IDLE;
    case PRIORITY_BELOW:
        return kovra::RUN_PRIORITY_BELOW_NORMAL;
    case PRIORITY_ABOVE:
        return kovra::RUN_PRIORITY_ABOVE_NORMAL;
    case PRIORITY_HIGH:
        return kovra::RUN_PRIORITY_HIGH;
    case PRIORITY_REALTIME:
        return kovra::RUN_PRIORITY_REALTIME;
    default:
        return kovra::RUN_PRIORITY_NORMAL;
    }
}

int GetConsoleNeeds(const TaskSettings& settings, int& needsNewConsole, int& fallsBackToConsole) {
    needsNewConsole = 0;
    fallsBackToConsole = 0;
    int needsParent = 0;
    for (int kind : {settings.inKind, settings.outKind, settings.errKind}) {
        if (kind == TARGET_CONSOLE) needsNewConsole = 1;
        if (kind == TARGET_PARENT_CONSOLE) fallsBackToConsole = 1;
        if (kind == TARGET_PARENT || kind == TARGET_PARENT_CONSOLE) needsParent = 1;
    }
    return needsParent;
}

}  // namespace vrek
