#include "tool/DaemonRegistry.h"

#include <string>
#include <vector>

#include "kovra/common/UniqueHandle.h"
#include "tool/ProcessQueries.h"

namespace vrek {

// The table's transactions hold the named mutex for their scope; without
// the mutex (the system refused it) they run unlocked.
using TableLock = kovra::common::ScopedLock<kovra::C_Mutex>;

const wchar_t* const REGISTRY_BLOCK_NAME = L"__vrek_memory_mapped__";
const wchar_t* const REGISTRY_MUTEX_NAME = L"__vrek_memory_mapped_m__";

namespace {

unsigned int ReadLE16(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | (static_cast<unsigned int>(p[1]) << 8);
}

void WriteLE16(unsigned char* p, unsigned int value) {
    p[0] = static_cast<unsigned char>(value & 0xFF);
    p[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

unsigned long ReadLE32(const unsigned char* p) {
    return static_cast<unsigned long>(ReadLE16(p)) | (static_cast<unsigned long>(ReadLE16(p + 2)) << 16);
}

void WriteLE32(unsigned char* p, unsigned long value) {
    WriteLE16(p, value & 0xFFFF);
    WriteLE16(p + 2, (value >> 16) & 0xFFFF);
}

void SetCommandUnit(TaskState* record, int index, unsigned int unit) { WriteLE16(record->command + 2 * index, unit); }

}  // namespace

unsigned char GetTaskState(const TaskState* record) {
    return *static_cast<const volatile unsigned char*>(&record->state);
}

void SetTaskState(TaskState* record, unsigned char state) {
    *static_cast<volatile unsigned char*>(&record->state) = state;
}

unsigned char GetTaskSignal(const TaskState* record) {
    return *static_cast<const volatile unsigned char*>(&record->signal);
}

void SetTaskSignal(TaskState* record, unsigned char signal) {
    *static_cast<volatile unsigned char*>(&record->signal) = signal;
}

unsigned long GetTaskPid(const TaskState* record) { return ReadLE32(record->pid); }

void SetTaskPid(TaskState* record, unsigned long pid) { WriteLE32(record->pid, pid); }

SYSTEMTIME GetTaskStartedAt(const TaskState* record) {
    const unsigned char* p = record->startedAt;
    SYSTEMTIME time;
    time.wYear = static_cast<WORD>(ReadLE16(p));
    time.wMonth = static_cast<WORD>(ReadLE16(p + 2));
    time.wDayOfWeek = static_cast<WORD>(ReadLE16(p + 4));
    time.wDay = static_cast<WORD>(ReadLE16(p + 6));
    time.wHour = static_cast<WORD>(ReadLE16(p + 8));
    time.wMinute = static_cast<WORD>(ReadLE16(p + 10));
    time.wSecond = static_cast<WORD>(ReadLE16(p + 12));
    time.wMilliseconds = static_cast<WORD>(ReadLE16(p + 14));
    return time;
}

void SetTaskStartedAt(TaskState* record, const SYSTEMTIME& time) {
    unsigned char* p = record->startedAt;
    WriteLE16(p, time.wYear);
    WriteLE16(p + 2, time.wMonth);
    WriteLE16(p + 4, time.wDayOfWeek);
    WriteLE16(p + 6, time.wDay);
    WriteLE16(p + 8, time.wHour);
    WriteLE16(p + 10, time.wMinute);
    WriteLE16(p + 12, time.wSecond);
    WriteLE16(p + 14, time.wMilliseconds);
}

kovra::C_WString GetTaskCommand(const TaskState* record) {
    // Any process of the session may have written the field: stop at the
    // last unit that still leaves room for our own terminator.
    wchar_t text[TASK_COMMAND_UNITS];
    int n = 0;
    for (; n < TASK_COMMAND_UNITS - 1; ++n) {
        unsigned int unit = ReadLE16(record->command + 2 * n);
        if (unit == 0) break;
        text[n] = static_cast<wchar_t>(unit);
    }
    text[n] = L'\0';
    return kovra::C_WString(text);
}

const wchar_t* TaskStateName(unsigned int state) {
    static const wchar_t* const names[] = {L"Dead", L"Run", L"Sleep", L"Signal", L"Zombie", L"ZRun"};
    if (state >= sizeof names / sizeof names[0]) return L"----";
    return names[state];
}

const wchar_t* TaskSignalName(unsigned int signal) {
    static const wchar_t* const names[] = {L"----", L"Term", L"Kill"};
    if (signal >= sizeof names / sizeof names[0]) return L"----";
    return names[signal];
}

TaskState* AcquireSlot(TaskStateTable* block) {
    if (!block) return nullptr;
    for (int i = 0; i < TASK_RECORD_COUNT; ++i) {
        TaskState* record = &block->records[i];
        if (GetTaskState(record) != TASK_STATE_DEAD) continue;
        SetTaskState(record, TASK_STATE_RUN);
        SetTaskSignal(record, TASK_SIGNAL_NONE);
        SYSTEMTIME now;
        GetLocalTime(&now);
        SetTaskStartedAt(record, now);
        block->registrations = static_cast<unsigned char>(block->registrations + 1);
        return record;
    }
    return nullptr;
}

void SetTaskCommand(const kovra::C_WString& text, TaskState* record, unsigned long pid) {
    if (!record) return;
    const int n = text.Length();
    const int kept = n < TASK_COMMAND_KEPT ? n : TASK_COMMAND_KEPT;
    const wchar_t* units = text.GetString();
    int at = 0;
    for (; at < kept; ++at) SetCommandUnit(record, at, static_cast<unsigned int>(units[at]) & 0xFFFF);
    if (n > TASK_COMMAND_KEPT) {
        for (int dot = 0; dot < 3; ++dot) SetCommandUnit(record, at++, L'.');
    }
    SetCommandUnit(record, at, 0);
    SetTaskPid(record, pid);
}

kovra::common::Array<TaskState*> ListLiveTasks(TaskStateTable* block) {
    kovra::common::Array<TaskState*> live;
    if (!block) return live;
    for (int i = 0; i < TASK_RECORD_COUNT; ++i) {
        if (GetTaskState(&block->records[i]) != TASK_STATE_DEAD) live.Append(&block->records[i]);
    }
    return live;
}

TaskState* FindLiveTask(const kovra::common::Array<TaskState*>& live, unsigned long pid) {
    for (int i = 0; i < live.Count(); ++i)
        if (GetTaskPid(live.At(i)) == pid) return live.At(i);
    return nullptr;
}

int SweepStaleTasks(TaskStateTable* block, bool (*isGone)(unsigned long pid)) {
    if (!block || !isGone) return 0;
    int freed = 0;
    for (int i = 0; i < TASK_RECORD_COUNT; ++i) {
        TaskState* record = &block->records[i];
        if (GetTaskState(record) == TASK_STATE_DEAD) continue;
        if (!isGone(GetTaskPid(record))) continue;
        SetTaskState(record, TASK_STATE_DEAD);
        ++freed;
    }
    return freed;
}

DaemonRegistry::DaemonRegistry(const wchar_t* blockName, const wchar_t* mutexName)
    : m_blockName(blockName ? blockName : L""),
      m_mutex(std::make_unique<kovra::C_Mutex>(kovra::C_WString(mutexName ? mutexName : L""))) {
    m_source.Open(2);
}

DaemonRegistry::~DaemonRegistry() {
    // The mutex is never held between calls; the mapping goes before its
    // source by member order.
}

TaskStateTable* DaemonRegistry::MapAndSweep(bool locked) {
    void* view = m_mapping.Map(&m_source, m_blockName.Empty() ? nullptr : m_blockName.GetString(), 1, PAGE_READWRITE, 0,
                               REGISTRY_BLOCK_SIZE);
    // Null too for a smaller block that another process made under the
    // name: it counts as a table that cannot be mapped.
    if (!view) return nullptr;
    TaskStateTable* table = static_cast<TaskStateTable*>(view);
    // Without the mutex a claim may be halfway (state set, pid not yet):
    // judging its pid then could free a record that is being taken.
    if (locked) SweepStaleTasks(table);
    return table;
}

int DaemonRegistry::CheckRoom() {
    int live = -1;
    {
        TableLock lock(m_mutex.get());
        if (TaskStateTable* table = MapAndSweep(lock.Held())) live = ListLiveTasks(table).Count();
    }
    m_mutex.reset();
    m_mapping.Unmap(1);
    return live;
}

DaemonRegistry::ClaimOutcome DaemonRegistry::ClaimFor(unsigned long pid, const kovra::C_WString& command,
                                                      HANDLE process) {
    ClaimOutcome outcome = CLAIM_NO_TABLE;
    {
        TableLock lock(m_mutex.get());
        if (TaskStateTable* table = MapAndSweep(lock.Held())) {
            TaskState* record = AcquireSlot(table);
            HANDLE given = nullptr;
            if (!record) {
                outcome = CLAIM_FULL;
            } else if (DuplicateHandle(GetCurrentProcess(), m_mapping.Handle(), process, &given, 0, FALSE,
                                       DUPLICATE_SAME_ACCESS)) {
                SetTaskCommand(command, record, pid);
                outcome = CLAIM_TAKEN;
            } else {
                SetTaskState(record, TASK_STATE_DEAD);
            }
            m_mapping.Sync();
        }
    }
    m_mutex.reset();
    m_mapping.Unmap(1);
    return outcome;
}

TaskState* DaemonRegistry::Claim(const kovra::C_WString& taskLine, bool* full) {
    TaskState* record = nullptr;
    if (full) *full = false;
    {
        TableLock lock(m_mutex.get());
        if (TaskStateTable* table = MapAndSweep(lock.Held())) {
            const unsigned long self = GetCurrentProcessId();
            record = FindLiveTask(ListLiveTasks(table), self);
            if (!record) {
                record = AcquireSlot(table);
                if (record) SetTaskCommand(taskLine, record, self);
                if (!record && full) *full = true;
            }
            m_mapping.Sync();
        }
    }
    // The task has no further use for the mutex.
    m_mutex.reset();
    return record;
}

kovra::common::Array<TaskState*> DaemonRegistry::Snapshot() {
    TableLock lock(m_mutex.get());
    return ListLiveTasks(MapAndSweep(lock.Held()));
}

}  // namespace vrek
