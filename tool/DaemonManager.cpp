#include "tool/DaemonManager.h"

#include <windows.h>

#include <conio.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "kovra/C_Console.h"
#include "kovra/C_Time.h"
#include "kovra/common/Array.h"

using kovra::C_WString;

namespace vrek {

namespace {

const int kInputBytes = 260;          // fgets reads at most 259 bytes at a time
const int kDefaultPeriodSeconds = 3;  // "top" alone
const DWORD kKeyPollMs = 100;
const int kKeyEscape = 27;
const int kKeyQuit = 'q';
const int kReadFailuresToEnd = 2;  // failed reads in a row that end the manager

int RealKeyWaiting() { return _kbhit(); }
int RealReadKey() { return _getch(); }
DWORD RealNow() { return timeGetTime(); }
void RealSleep(DWORD milliseconds) { Sleep(milliseconds); }

// The command text as a row can show it. A character that the C runtime
// cannot convert to the locale's code page would end the row's output there
// (the rest of the text lost), and a line end or another control character
// would break the row or move the cursor: each prints as '?'. Tabs stay.
C_WString PrintableText(const C_WString& text) {
    std::wstring shown(text.GetString(), static_cast<size_t>(text.Length()));
    for (wchar_t& unit : shown) {
        char bytes[MB_LEN_MAX];
        const bool control = (unit < 0x20 && unit != L'\t') || unit == 0x7F;
        if (control || wctomb(bytes, unit) < 0) unit = L'?';
    }
    return C_WString(shown.c_str());
}

// What the prompt asks for next.
enum Next {
    NEXT_PROMPT,   // read another line, without an empty line or a refresh
    NEXT_REFRESH,  // redraw the screen (and watch, in monitor mode)
    NEXT_END,      // leave the manager
};

class Manager {
public:
    Manager(DaemonRegistry& registry, FILE* input, const ManagerSeams& seams)
        : m_registry(registry), m_input(input), m_seams(seams), m_console(0), m_periodSeconds(0), m_failedReads(0) {}

    int Run() {
        Next next = NEXT_REFRESH;
        while (next != NEXT_END) {
            if (next == NEXT_REFRESH) {
                RefreshAndWatch();
                _putws(L"");
            }
            next = ReadCommand();
        }
        return 0;
    }

private:
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    void RefreshAndWatch() {
        Refresh();
        while (m_periodSeconds != 0) {
            if (MonitorWait(m_periodSeconds, m_seams) == MONITOR_LEAVE) {
                m_periodSeconds = 0;
                return;
            }
            Refresh();
        }
    }

    void Refresh() {
        m_console.Cls();
        m_console.Locate(0, 0);
        m_snapshot = m_registry.Snapshot();

        SYSTEMTIME now;
        GetLocalTime(&now);
        _putws(L"welcome to vrek daemon manager.");
        wprintf(L"update: %d/%02d/%02d %02d:%02d:%02d(%ls)\n", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond, WeekdayText(now.wDayOfWeek).GetString());
        _putws(L"");
        _putws(L" <command lists>");
        _putws(L"   sigterm: <No or 'all'> デーモンを出来るだけ安全に終了させます。");
        _putws(L"   sigkill: <No or 'all'> デーモンを終了できない場合は強制終了させます。");
        _putws(L"    update: デーモン一覧を更新します。");
        _putws(L"       top: <Second> 監視モードに入ります。終了は Q 又は ESC");
        _putws(L"      exit: 本コマンドを終了します。");
        _putws(L"");
        _putws(L"No\tdaemon-started-date\tpid\tstate\tsignal\tcommand");
        _putws(L"----------------------------------------------------------------");
        for (int i = 0; i < m_snapshot.Count(); ++i) PrintRow(i + 1, m_snapshot.At(i));
        if (m_snapshot.Empty()) _putws(L"daemon process is nothing.");
        // Seen at once where standard output is a pipe or a file, too.
        fflush(stdout);
    }

    // The fields are read live, without the mutex: each through a reader
    // that stays inside the record whatever its bytes hold.
    static void PrintRow(int number, const TaskState* record) {
        const SYSTEMTIME started = GetTaskStartedAt(record);
        const C_WString command = PrintableText(GetTaskCommand(record));
        wprintf(L"%2d\t%d/%02d/%02d %02d:%02d:%02d\t%lu\t%ls\t%ls\t%ls\n", number, started.wYear, started.wMonth,
                started.wDay, started.wHour, started.wMinute, started.wSecond, GetTaskPid(record),
                TaskStateName(GetTaskState(record)), TaskSignalName(GetTaskSignal(record)), command.GetString());
    }

    Next ReadCommand() {
        wprintf(L"command>");
        fflush(stdout);
        char buffer[kInputBytes];
        if (!fgets(buffer, kInputBytes, m_input)) return ReadFailed();
        m_failedReads = 0;

        const C_WString line = C_WString(buffer).Trim();
        if (line == "exit" || line == "quit") {
            _putws(L"bye.");
            return NEXT_END;
        }
        if (line == "update" || line == "up") return NEXT_REFRESH;
        if (line.StartsWith("sigterm") || line.StartsWith("sigkill")) {
            Signal(line);
            return NEXT_PROMPT;
        }
        if (line.StartsWith("top")) return Top(line);
        wprintf(L"unknwon command:\n");
        return NEXT_PROMPT;
    }

    // A stream at its end fails every read at once: without this ending,
    // the message and the prompt would repeat for ever.
    Next ReadFailed() {
        _putws(L"コマンドが不正です。");
        const bool atEnd = feof(m_input) != 0;
        clearerr(m_input);
        if (atEnd || ++m_failedReads >= kReadFailuresToEnd) {
            _putws(L"bye.");
            fflush(stdout);
            return NEXT_END;
        }
        return NEXT_PROMPT;
    }

    void Signal(const C_WString& line) {
        unsigned char signal = TASK_SIGNAL_TERM;
        const wchar_t* word = L"sigterm";
        if (line.StartsWith("sigkill")) {
            signal = TASK_SIGNAL_KILL;
            word = L"sigkill";
        }
        int end = 0;
        int digits = 0;
        const int number = line.EncloseInt(8, &end, 7, &digits);
        const C_WString argument = line.SubString(8).Trim();

        if (argument == "all") {
            for (int i = 0; i < m_snapshot.Count(); ++i) {
                TaskState* record = m_snapshot.At(i);
                // Freed since the refresh: nobody to stop.
                if (GetTaskState(record) == TASK_STATE_DEAD) continue;
                SetTaskSignal(record, signal);
                wprintf(L"No.%d  pid(%lu) => %ls\n", i + 1, GetTaskPid(record), word);
            }
            m_registry.Sync();
            return;
        }
        if (number < 1 || number > m_snapshot.Count()) {
            wprintf(L"Invalid no: %d\n", number);
            return;
        }
        TaskState* record = m_snapshot.At(number - 1);
        if (GetTaskState(record) == TASK_STATE_DEAD) {
            wprintf(L"プロセスは終了処理が行われています。\n");
            return;
        }
        SetTaskSignal(record, signal);
        m_registry.Sync();
        wprintf(L"No.%d  pid(%lu) => %ls\n", number, GetTaskPid(record), word);
    }

    Next Top(const C_WString& line) {
        int period = kDefaultPeriodSeconds;
        if (line != "top") {
            int end = 0;
            int digits = 0;
            period = line.EncloseInt(3, &end, 7, &digits);
            if (period < 1) {
                wprintf(L"Invalid time: %d\n", period);
                return NEXT_PROMPT;
            }
        }
        m_periodSeconds = period;
        return NEXT_REFRESH;
    }

    DaemonRegistry& m_registry;
    FILE* m_input;
    const ManagerSeams m_seams;
    kovra::C_Console m_console;  // on standard output; never allocates a console
    kovra::common::Array<TaskState*> m_snapshot;
    int m_periodSeconds;  // 0: monitor mode off
    int m_failedReads;    // failed reads since the last good one
};

}  // namespace

ManagerSeams RealManagerSeams() { return ManagerSeams{RealKeyWaiting, RealReadKey, RealNow, RealSleep}; }

MonitorOutcome MonitorWait(int periodSeconds, const ManagerSeams& seams) {
    const uint64_t wait = periodSeconds > 0 ? static_cast<uint64_t>(periodSeconds) * 1000u : 0;
    uint64_t waited = 0;
    DWORD last = seams.now();
    for (;;) {
        if (waited >= wait) return MONITOR_REFRESH;
        while (seams.keyWaiting()) {
            const int key = seams.readKey();
            if (key == kKeyEscape || key == kKeyQuit) return MONITOR_LEAVE;
            // The second part of a two-part key could read as a q.
            if (key == 0 || key == 0xE0) seams.readKey();
        }
        seams.sleep(kKeyPollMs);
        // Differences of successive readings stay right across the clock's
        // wrap, where a fixed deadline would lie in the past or far ahead.
        const DWORD now = seams.now();
        waited += static_cast<DWORD>(now - last);
        last = now;
    }
}

C_WString WeekdayText(int dayOfWeek) {
    const int native = 1;
    const char* name = kovra::C_Time::WeekofDayToStr(dayOfWeek, native);
    // The names are Shift_JIS bytes: read as the ANSI code page they would
    // be garbage on any system whose code page is not 932.
    wchar_t wide[8];
    const int units = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, name, -1, wide, 8);
    if (units > 0) return C_WString(wide);
    return C_WString(name);
}

int RunDaemonManager(DaemonRegistry& registry, FILE* input, const ManagerSeams& seams) {
    Manager manager(registry, input, seams);
    return manager.Run();
}

int RunDaemonManager() {
    DaemonRegistry registry;
    return RunDaemonManager(registry, stdin, RealManagerSeams());
}

}  // namespace vrek
