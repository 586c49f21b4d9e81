#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kovra/C_WString.h"
#include "tool/DaemonRegistry.h"

using kovra::C_WString;
using namespace vrek;

namespace {

const size_t kRecordSize = 544;

size_t RecordOffset(int i) { return 1 + kRecordSize * static_cast<size_t>(i); }

// A zero-filled block, as the system provides a new mapping.
std::unique_ptr<TaskStateTable> FreshTable() {
    std::unique_ptr<TaskStateTable> table(new TaskStateTable());
    std::memset(table.get(), 0, sizeof(TaskStateTable));
    return table;
}

unsigned char* Raw(TaskStateTable* table) { return reinterpret_cast<unsigned char*>(table); }

unsigned int Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

ULONGLONG Ticks(const SYSTEMTIME& time) {
    FILETIME file;
    SystemTimeToFileTime(&time, &file);
    return (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

std::wstring Repeat(wchar_t c, int n) { return std::wstring(static_cast<size_t>(n), c); }

}  // namespace

TEST(TaskTable, AClaimWritesItsFieldsAtTheirExactOffsets) {
    auto table = FreshTable();
    unsigned char* raw = Raw(table.get());
    // Records 0 to 2 live, record 3 free but holding an old task's bytes.
    raw[RecordOffset(0)] = 1;
    raw[RecordOffset(1)] = 5;
    raw[RecordOffset(2)] = 200;
    std::memset(raw + RecordOffset(3), 0xEE, kRecordSize);
    raw[RecordOffset(3)] = 0;
    raw[RecordOffset(3) + 2] = 0;
    raw[RecordOffset(3) + 3] = 0;

    SYSTEMTIME before, after;
    GetLocalTime(&before);
    TaskState* record = AcquireSlot(table.get());
    GetLocalTime(&after);
    ASSERT_EQ(static_cast<void*>(raw + RecordOffset(3)), static_cast<void*>(record));
    // "日本" checks the byte order of units above 0xFF.
    SetTaskCommand(C_WString(L"ping -t \u65e5\u672c"), record, 0x12345678);

    const unsigned char* r = raw + RecordOffset(3);
    EXPECT_EQ(1, raw[0]) << "registrations";
    EXPECT_EQ(1, r[0]) << "state Run";
    EXPECT_EQ(0, r[1]) << "signal reset";
    EXPECT_EQ(0, r[2]) << "reserved";
    EXPECT_EQ(0, r[3]) << "reserved";
    EXPECT_EQ(0x78, r[4]);
    EXPECT_EQ(0x56, r[5]);
    EXPECT_EQ(0x34, r[6]);
    EXPECT_EQ(0x12, r[7]);

    SYSTEMTIME stored;
    stored.wYear = static_cast<WORD>(Le16(r + 8));
    stored.wMonth = static_cast<WORD>(Le16(r + 10));
    stored.wDayOfWeek = static_cast<WORD>(Le16(r + 12));
    stored.wDay = static_cast<WORD>(Le16(r + 14));
    stored.wHour = static_cast<WORD>(Le16(r + 16));
    stored.wMinute = static_cast<WORD>(Le16(r + 18));
    stored.wSecond = static_cast<WORD>(Le16(r + 20));
    stored.wMilliseconds = static_cast<WORD>(Le16(r + 22));
    EXPECT_LE(Ticks(before), Ticks(stored));
    EXPECT_GE(Ticks(after), Ticks(stored));
    EXPECT_TRUE(stored.wDayOfWeek == before.wDayOfWeek || stored.wDayOfWeek == after.wDayOfWeek);

    // UTF-16LE, low byte first: "ping -t ", U+65E5, U+672C, then the zero
    // unit (the literal's own terminator is its second byte).
    const char expected[] = "p\0i\0n\0g\0 \0-\0t\0 \0\xE5\x65\x2C\x67\0";
    static_assert(sizeof expected == 22, "eleven units");
    EXPECT_EQ(0, std::memcmp(expected, r + 24, sizeof expected));

    // Nothing else moved.
    EXPECT_EQ(1, raw[RecordOffset(0)]);
    EXPECT_EQ(5, raw[RecordOffset(1)]);
    EXPECT_EQ(200, raw[RecordOffset(2)]);
    for (size_t i = RecordOffset(4); i < sizeof(TaskStateTable); ++i) ASSERT_EQ(0, raw[i]) << "offset " << i;

    // The accessors read what was written.
    EXPECT_EQ(0x12345678u, GetTaskPid(record));
    EXPECT_EQ(Ticks(stored), Ticks(GetTaskStartedAt(record)));
    EXPECT_STREQ(L"ping -t \u65e5\u672c", GetTaskCommand(record).GetString());
    EXPECT_EQ(10337u, RecordOffset(19)) << "the last record";
}

TEST(TaskTable, CommandsLongerThan250UnitsAreCutWithAnEllipsis) {
    struct Case {
        int length;
        int storedLength;
        bool ellipsis;
    };
    const Case cases[] = {{0, 0, false},    {1, 1, false},    {249, 249, false}, {250, 250, false},
                          {251, 253, true}, {259, 253, true}, {260, 253, true},  {1000, 253, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        auto table = FreshTable();
        TaskState* record = AcquireSlot(table.get());
        ASSERT_NE(nullptr, record);
        std::memset(record->command, 0xAB, sizeof record->command);  // an old, longer command
        std::wstring text;
        for (int i = 0; i < c.length; ++i) text += static_cast<wchar_t>(L'a' + i % 26);
        SetTaskCommand(C_WString(text.c_str()), record, 1);

        std::wstring expected = text.substr(0, 250);
        if (c.ellipsis) expected += L"...";
        ASSERT_EQ(static_cast<size_t>(c.storedLength), expected.size());
        EXPECT_EQ(0u, Le16(record->command + 2 * c.storedLength)) << "terminated right after the text";
        EXPECT_STREQ(expected.c_str(), GetTaskCommand(record).GetString());
    }
}

TEST(TaskTable, FreshBlockAndFullBlock) {
    auto table = FreshTable();
    EXPECT_EQ(0, ListLiveTasks(table.get()).Count());
    for (int i = 0; i < TASK_RECORD_COUNT; ++i) {
        TaskState* record = AcquireSlot(table.get());
        ASSERT_EQ(&table->records[i], record) << "records are taken in order";
        EXPECT_EQ(i + 1, table->registrations);
    }
    EXPECT_EQ(nullptr, AcquireSlot(table.get())) << "all 20 live";
    EXPECT_EQ(20, table->registrations) << "a failed claim counts nothing";
    kovra::common::Array<TaskState*> live = ListLiveTasks(table.get());
    ASSERT_EQ(20, live.Count());
    for (int i = 0; i < live.Count(); ++i) EXPECT_EQ(&table->records[i], live.At(i));

    EXPECT_EQ(nullptr, AcquireSlot(nullptr));
    EXPECT_EQ(0, ListLiveTasks(nullptr).Count());
    SetTaskCommand(C_WString(L"x"), nullptr, 1);  // no record: nothing to write
}

TEST(TaskTable, RegistrationsWrapAt256) {
    auto table = FreshTable();
    for (int i = 1; i <= 256; ++i) {
        TaskState* record = AcquireSlot(table.get());
        ASSERT_EQ(&table->records[0], record);
        ASSERT_EQ(i % 256, table->registrations);
        SetTaskState(record, TASK_STATE_DEAD);  // the task ends and frees it
    }
    EXPECT_EQ(0, table->registrations);
}

TEST(TaskTable, AFreedRecordInTheMiddleIsTakenFirstAndListedInRecordOrder) {
    auto table = FreshTable();
    ASSERT_NE(nullptr, AcquireSlot(table.get()));
    TaskState* middle = AcquireSlot(table.get());
    ASSERT_NE(nullptr, AcquireSlot(table.get()));
    SetTaskSignal(middle, TASK_SIGNAL_KILL);
    SetTaskState(middle, TASK_STATE_DEAD);
    EXPECT_EQ(2, ListLiveTasks(table.get()).Count());

    EXPECT_EQ(middle, AcquireSlot(table.get()));
    EXPECT_EQ(TASK_SIGNAL_NONE, GetTaskSignal(middle)) << "the old stop request is gone";
    kovra::common::Array<TaskState*> live = ListLiveTasks(table.get());
    ASSERT_EQ(3, live.Count());
    EXPECT_EQ(&table->records[0], live.At(0));
    EXPECT_EQ(&table->records[1], live.At(1));
    EXPECT_EQ(&table->records[2], live.At(2));
}

TEST(TaskTable, AnUnterminatedCommandIsReadInsideTheRecord) {
    // The block ends right before a page that cannot be read, so a read past
    // the last record's command would fault.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t pages = (sizeof(TaskStateTable) + page - 1) / page;
    unsigned char* base = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, (pages + 1) * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &old));
    TaskStateTable* table = reinterpret_cast<TaskStateTable*>(base + pages * page - sizeof(TaskStateTable));

    TaskState* last = &table->records[TASK_RECORD_COUNT - 1];
    for (int i = 0; i < TASK_COMMAND_UNITS; ++i) {
        last->command[2 * i] = 'A';
        last->command[2 * i + 1] = 0;
    }
    C_WString text = GetTaskCommand(last);
    EXPECT_EQ(259, text.Length());
    EXPECT_EQ(std::wstring(Repeat(L'A', 259)), text.GetString());

    // Units that are not zero in either byte.
    std::memset(last->command, 0xFF, sizeof last->command);
    EXPECT_EQ(259, GetTaskCommand(last).Length());
    EXPECT_EQ(0xFFFF, GetTaskCommand(last).CharAt(258));
    VirtualFree(base, 0, MEM_RELEASE);
}

TEST(TaskTable, DisplayNamesForEveryByteValue) {
    const wchar_t* const states[] = {L"Dead", L"Run", L"Sleep", L"Signal", L"Zombie", L"ZRun"};
    const wchar_t* const signals[] = {L"----", L"Term", L"Kill"};
    for (unsigned int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        EXPECT_STREQ(value < 6 ? states[value] : L"----", TaskStateName(value));
        EXPECT_STREQ(value < 3 ? signals[value] : L"----", TaskSignalName(value));
    }
    EXPECT_STREQ(L"----", TaskStateName(0xFFFFFFFFu));
    EXPECT_STREQ(L"----", TaskSignalName(0x80000000u));
    EXPECT_EQ(3, TASK_STATE_SIGNAL);
    EXPECT_EQ(5, TASK_STATE_ZRUN);
    EXPECT_EQ(2, TASK_SIGNAL_KILL);
}

TEST(TaskTable, PidAndStartTimeRoundTripByteWise) {
    auto table = FreshTable();
    TaskState* record = &table->records[7];
    SetTaskPid(record, 0xFFFFFFFEu);
    EXPECT_EQ(0xFEu, record->pid[0]);
    EXPECT_EQ(0xFFu, record->pid[3]);
    EXPECT_EQ(0xFFFFFFFEu, GetTaskPid(record));
    SYSTEMTIME time = {2026, 12, 1, 8, 23, 59, 58, 999};
    SetTaskStartedAt(record, time);
    const unsigned char expected[] = {0xEA, 0x07, 12, 0, 1, 0, 8, 0, 23, 0, 59, 0, 58, 0, 0xE7, 0x03};
    EXPECT_EQ(0, std::memcmp(expected, record->startedAt, sizeof expected));
    SYSTEMTIME back = GetTaskStartedAt(record);
    EXPECT_EQ(0, std::memcmp(&time, &back, sizeof time));
    EXPECT_STREQ(L"__vrek_memory_mapped__", REGISTRY_BLOCK_NAME);
    EXPECT_STREQ(L"__vrek_memory_mapped_m__", REGISTRY_MUTEX_NAME);
}
