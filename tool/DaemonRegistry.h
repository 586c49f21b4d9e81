#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

#include "kovra/C_Mapping.h"
#include "kovra/C_MappingMemory.h"
#include "kovra/C_Mutex.h"
#include "kovra/C_WString.h"
#include "kovra/common/Array.h"
#include "tool/ProcessQueries.h"

namespace vrek {

// The daemon table: a named pagefile-backed block of 10881 bytes shared by
// every vrek process that sees the same named kernel objects, and the named
// mutex that serialises the snapshots and the claims. The block is a format
// shared between processes, so its types are byte arrays (no padding, no
// alignment): multi-byte fields are little-endian and records start at odd
// offsets, so they are read and written byte-wise through the accessors
// below. The block is writable by any process of the session: every reader
// here stays inside the record whatever its bytes hold.

extern const wchar_t* const REGISTRY_BLOCK_NAME;  // "__vrek_memory_mapped__"
extern const wchar_t* const REGISTRY_MUTEX_NAME;  // "__vrek_memory_mapped_m__"

constexpr unsigned long REGISTRY_BLOCK_SIZE = 10881;
constexpr int TASK_RECORD_COUNT = 20;
constexpr int TASK_COMMAND_UNITS = 260;  // the field, terminating zero included
constexpr int TASK_COMMAND_KEPT = 250;   // longer commands are cut here and get "..."

// Record states.
constexpr unsigned char TASK_STATE_DEAD = 0;    // free record
constexpr unsigned char TASK_STATE_RUN = 1;     // registered, command starting or running
constexpr unsigned char TASK_STATE_SLEEP = 2;   // waiting out the delay
constexpr unsigned char TASK_STATE_SIGNAL = 3;  // ending the command after a stop request
constexpr unsigned char TASK_STATE_ZOMBIE = 4;  // command outlived the stop by 180 s
constexpr unsigned char TASK_STATE_ZRUN = 5;    // as ZOMBIE, the other outcome of that check

// Stop requests.
constexpr unsigned char TASK_SIGNAL_NONE = 0;
constexpr unsigned char TASK_SIGNAL_TERM = 1;
constexpr unsigned char TASK_SIGNAL_KILL = 2;

// One record, 544 bytes.
struct TaskState {
    unsigned char state;          // 0: free
    unsigned char signal;         // stop request
    unsigned char reserved[2];    // never written
    unsigned char pid[4];         // process id of the registered task copy, LE
    unsigned char startedAt[16];  // local time of the claim, SYSTEMTIME layout, LE
    unsigned char command[520];   // UTF-16LE, 260 units with the terminating zero
};

// The whole block, 10881 bytes.
struct TaskStateTable {
    unsigned char registrations;  // claims so far, wrapping at 256; read by nobody
    TaskState records[TASK_RECORD_COUNT];
};

static_assert(sizeof(TaskState) == 544, "record layout is shared between processes");
static_assert(offsetof(TaskState, pid) == 4, "record layout is shared between processes");
static_assert(offsetof(TaskState, startedAt) == 8, "record layout is shared between processes");
static_assert(offsetof(TaskState, command) == 24, "record layout is shared between processes");
static_assert(sizeof(TaskStateTable) == REGISTRY_BLOCK_SIZE, "block layout is shared between processes");
static_assert(offsetof(TaskStateTable, records) == 1, "block layout is shared between processes");

// The single-byte fields, read and written without the mutex while other
// processes change them: volatile so that a polling loop sees each new value.
unsigned char GetTaskState(const TaskState* record);
void SetTaskState(TaskState* record, unsigned char state);
unsigned char GetTaskSignal(const TaskState* record);
void SetTaskSignal(TaskState* record, unsigned char signal);

unsigned long GetTaskPid(const TaskState* record);
void SetTaskPid(TaskState* record, unsigned long pid);
SYSTEMTIME GetTaskStartedAt(const TaskState* record);
void SetTaskStartedAt(TaskState* record, const SYSTEMTIME& time);
// The command text up to its terminating zero; a field without one is read
// as its first 259 units, never beyond the record.
kovra::C_WString GetTaskCommand(const TaskState* record);

// Display names: "Dead", "Run", "Sleep", "Signal", "Zombie", "ZRun" and
// "----", "Term", "Kill"; "----" for any value outside the tables.
const wchar_t* TaskStateName(unsigned int state);
const wchar_t* TaskSignalName(unsigned int signal);

// Takes the first free record: state Run, no signal, started now, and one
// more registration. Null when `block` is null or every record is live. The
// caller holds the mutex.
TaskState* AcquireSlot(TaskStateTable* block);
// Stores the command text (more than 250 units: the first 250 and "...")
// and the pid into a record taken by AcquireSlot. The caller holds the mutex.
void SetTaskCommand(const kovra::C_WString& text, TaskState* record, unsigned long pid);
// Pointers to the live records (state not 0) in record order; empty for a
// null block. The caller holds the mutex.
kovra::common::Array<TaskState*> ListLiveTasks(TaskStateTable* block);

// The live record of the task `pid` among `live` (a snapshot), or null.
TaskState* FindLiveTask(const kovra::common::Array<TaskState*>& live, unsigned long pid);

// Stale records. A task that is killed outright never frees its record, which
// would then stay live as long as any process holds the block: the manager
// would list a ghost, and 20 such deaths would lock every daemon out. So the
// transactions free, under the mutex, every live record whose pid names no
// running copy of this executable.
//
// (The look-up itself: IsTaskProcessGone, tool/ProcessQueries.h.)
// Frees every live record whose pid `isGone` reports gone; the number freed.
// The caller holds the mutex.
int SweepStaleTasks(TaskStateTable* block, bool (*isGone)(unsigned long pid) = IsTaskProcessGone);

// The table as one process uses it: the pagefile source (opened with mode 2),
// the mapping and the named mutex, with the three transactions that run
// under that mutex. The names are parameters so that tests can use a table
// of their own; real callers take the defaults.
//
// A block under the table's name that is smaller than the table (made first
// by some other program of the session) counts as a table that cannot be
// mapped: nothing reads beyond its end.
//
// When the system refuses the named mutex (e.g. the name is taken by an
// object of another kind), the transactions still run, without exclusion
// between processes: a daemon then still registers and the manager still
// lists, at the small risk that two simultaneous claims race. The mutex
// object never reports a lock it does not hold, so nothing is released that
// was not taken. Stale records are freed only under the mutex: without it a
// claim may be halfway (state set, pid not yet written).
class DaemonRegistry {
public:
    explicit DaemonRegistry(const wchar_t* blockName = REGISTRY_BLOCK_NAME,
                            const wchar_t* mutexName = REGISTRY_MUTEX_NAME);
    virtual ~DaemonRegistry();

    // A room check: -1 when the table cannot be mapped, else the number of
    // live records (20: full). Reserves nothing, and releases the mutex, the
    // mapping and its source afterwards: the object is spent.
    [[nodiscard]] int CheckRoom();

    enum ClaimOutcome { CLAIM_TAKEN, CLAIM_FULL, CLAIM_NO_TABLE };
    // The launcher's claim for the task copy `pid` that it started
    // suspended: the check for room and the claim are one step under the
    // mutex, so no two launchers can both find the last record free. The
    // record gets `command` and `pid`; the task then finds it by its own
    // id. The named block lives only while some process holds it, so the
    // task (`process`, a handle with PROCESS_DUP_HANDLE) is given a handle
    // to it before it runs: the block outlives a launcher that ends before
    // the task has mapped it, and the handle goes with the task. Releases
    // everything afterwards: the object is spent.
    [[nodiscard]] ClaimOutcome ClaimFor(unsigned long pid, const kovra::C_WString& command, HANDLE process);

    // The task's claim: the record the launcher took for this process, or,
    // when there is none (a task line made by hand), a record taken now and
    // filled with `taskLine` and this process's id. Flushes, unlocks and
    // closes the mutex handle. The mapping stays open until the object goes,
    // so the record stays valid and the block alive while the daemon runs.
    // The record, or null when the table cannot be mapped or is full
    // (*full, when given, says which). One claim per object.
    [[nodiscard]] TaskState* Claim(const kovra::C_WString& taskLine, bool* full = nullptr);

    // The manager's snapshot: the live records in record order, pointers into
    // the block (values read through them later are the live ones). The block
    // is mapped at the first call and stays mapped; empty when it cannot be.
    kovra::common::Array<TaskState*> Snapshot();

    // Flushes the view after a signal write; 0 when nothing is mapped.
    int Sync() { return m_mapping.Sync(); }
    // The mapped block, null while unmapped.
    TaskStateTable* Table() { return static_cast<TaskStateTable*>(m_mapping.Pointer()); }

private:
    DaemonRegistry(const DaemonRegistry&) = delete;
    DaemonRegistry& operator=(const DaemonRegistry&) = delete;

    // Maps the block (once) and, when `locked`, frees stale records; null
    // when the block cannot be mapped.
    TaskStateTable* MapAndSweep(bool locked);

    kovra::C_WString m_blockName;
    kovra::C_MappingMemory m_source;
    kovra::C_Mapping m_mapping;
    std::unique_ptr<kovra::C_Mutex> m_mutex;  // null once the claim has closed it
};

}  // namespace vrek
