#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kovra/C_WString.h"
#include "support/TestSupport.h"
#include "tool/DaemonRegistry.h"

using kovra::C_WString;
using namespace vrek;
using testsupport::ChildCommand;
using testsupport::ChildProcess;
using testsupport::UniqueName;

namespace {

// A table of the test's own, never the real one.
struct TestTable {
    std::wstring block = UniqueName(L"block");
    std::wstring mutex = UniqueName(L"blockmutex");
};

std::wstring CmdPath() {
    wchar_t dir[MAX_PATH];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir, n) + L"\\cmd.exe";
}

// Security for a process object that grants others only the limited query:
// no waiting on it (SYNCHRONIZE).
class QueryOnlySecurity {
public:
    QueryOnlySecurity() {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone_);
        InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION);
        AddAccessAllowedAce(reinterpret_cast<ACL*>(acl_), ACL_REVISION, PROCESS_QUERY_LIMITED_INFORMATION, everyone_);
        InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE);
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    }
    ~QueryOnlySecurity() {
        if (everyone_) FreeSid(everyone_);
    }
    QueryOnlySecurity(const QueryOnlySecurity&) = delete;
    QueryOnlySecurity& operator=(const QueryOnlySecurity&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    PSID everyone_ = nullptr;
    alignas(DWORD) unsigned char acl_[256] = {};
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
};

// Makes record i live for `pid`, as a claim would.
void MakeLive(TaskStateTable* table, int i, unsigned long pid) {
    SetTaskState(&table->records[i], TASK_STATE_RUN);
    SetTaskPid(&table->records[i], pid);
}

}  // namespace

TEST_CHILD(exit_now) {
    (void)argc;
    (void)argv;
    return 0;
}

TEST_CHILD(sleep_long) {
    (void)argc;
    (void)argv;
    Sleep(120000);
    return 20;
}

// Claims a record in the table named by argv[0] and argv[1] with the command
// argv[2], signals the event argv[3] and waits to be killed.
TEST_CHILD(claim_and_wait) {
    if (argc < 4) return 10;
    DaemonRegistry registry(argv[0], argv[1]);
    TaskState* record = registry.Claim(C_WString(argv[2]));
    if (!record) return 11;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!ready) return 12;
    SetEvent(ready);
    CloseHandle(ready);
    Sleep(120000);
    return 20;
}

TEST(Registry, ClaimCheckAndSnapshotShareOneTable) {
    TestTable names;
    DaemonRegistry manager(names.block.c_str(), names.mutex.c_str());
    EXPECT_EQ(0, manager.Snapshot().Count()) << "a fresh table";
    ASSERT_NE(nullptr, manager.Table());

    DaemonRegistry task(names.block.c_str(), names.mutex.c_str());
    TaskState* record = task.Claim(C_WString(L"sleep 10"));
    ASSERT_NE(nullptr, task.Table());
    ASSERT_EQ(&task.Table()->records[0], record);
    // The task's view and the manager's (another address) show one block.
    EXPECT_EQ(GetCurrentProcessId(), GetTaskPid(&manager.Table()->records[0]));
    EXPECT_STREQ(L"sleep 10", GetTaskCommand(&manager.Table()->records[0]).GetString());
    EXPECT_EQ(1, manager.Table()->registrations);

    kovra::common::Array<TaskState*> live = manager.Snapshot();
    ASSERT_EQ(1, live.Count());
    EXPECT_EQ(&manager.Table()->records[0], live.At(0));

    DaemonRegistry launcher(names.block.c_str(), names.mutex.c_str());
    EXPECT_EQ(1, launcher.CheckRoom());
    EXPECT_EQ(nullptr, launcher.Table()) << "the check keeps nothing mapped";
    EXPECT_EQ(1, manager.Snapshot().Count()) << "the check reserves nothing";

    // The task frees its record by a plain store; the manager sees it go.
    SetTaskState(record, TASK_STATE_DEAD);
    EXPECT_EQ(0, manager.Snapshot().Count());
    EXPECT_EQ(0, DaemonRegistry(names.block.c_str(), names.mutex.c_str()).CheckRoom());
}

// The launcher's claims take the records in turn for the tasks they name
// (this process, which is alive, so no claim sweeps the others); with twenty
// live the next is refused, and a task finds the record taken for it.
TEST(Registry, TheTwentyFirstClaimFindsNoRoom) {
    TestTable names;
    DaemonRegistry manager(names.block.c_str(), names.mutex.c_str());
    manager.Snapshot();
    auto claim = [&](const wchar_t* command) {
        return DaemonRegistry(names.block.c_str(), names.mutex.c_str())
            .ClaimFor(GetCurrentProcessId(), C_WString(command), GetCurrentProcess());
    };
    for (int i = 0; i < TASK_RECORD_COUNT; ++i) ASSERT_EQ(DaemonRegistry::CLAIM_TAKEN, claim(L"task"));
    EXPECT_EQ(20, DaemonRegistry(names.block.c_str(), names.mutex.c_str()).CheckRoom());
    EXPECT_EQ(DaemonRegistry::CLAIM_FULL, claim(L"late"));
    EXPECT_EQ(20, manager.Snapshot().Count());
    DaemonRegistry task(names.block.c_str(), names.mutex.c_str());
    TaskState* record = task.Claim(C_WString(L"not this"));
    ASSERT_NE(nullptr, task.Table());
    EXPECT_EQ(&task.Table()->records[0], record);
    EXPECT_STREQ(L"task", GetTaskCommand(record).GetString());

    SetTaskState(&manager.Table()->records[4], TASK_STATE_DEAD);
    EXPECT_EQ(19, DaemonRegistry(names.block.c_str(), names.mutex.c_str()).CheckRoom());
}

TEST(Registry, AnUnmappableTableGivesNoRoomNoRecordAndAnEmptySnapshot) {
    // The block's name belongs to an event, so the mapping cannot be made;
    // or to a foreign block too small for the table, which must never be
    // read past its end.
    for (bool event : {true, false}) {
        SCOPED_TRACE(event ? "event" : "100-byte block");
        TestTable names;
        HANDLE holder =
            event ? CreateEventW(nullptr, TRUE, FALSE, names.block.c_str())
                  : CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, names.block.c_str());
        ASSERT_NE(nullptr, holder);
        EXPECT_EQ(-1, DaemonRegistry(names.block.c_str(), names.mutex.c_str()).CheckRoom());
        DaemonRegistry task(names.block.c_str(), names.mutex.c_str());
        EXPECT_EQ(nullptr, task.Claim(C_WString(L"x")));
        DaemonRegistry manager(names.block.c_str(), names.mutex.c_str());
        EXPECT_EQ(0, manager.Snapshot().Count());
        EXPECT_EQ(nullptr, manager.Table());
        EXPECT_EQ(0, manager.Sync());
        CloseHandle(holder);
    }
}

TEST(Registry, WithoutTheNamedMutexTheTransactionsStillRunButSweepNothing) {
    TestTable names;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, names.mutex.c_str());
    ASSERT_NE(nullptr, event);
    DaemonRegistry manager(names.block.c_str(), names.mutex.c_str());
    EXPECT_EQ(0, manager.Snapshot().Count());
    DaemonRegistry task(names.block.c_str(), names.mutex.c_str());
    TaskState* record = task.Claim(C_WString(L"unlocked"));
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(1, manager.Snapshot().Count());
    EXPECT_EQ(1, DaemonRegistry(names.block.c_str(), names.mutex.c_str()).CheckRoom());

    // A record of a vanished process stays: without the lock a claim might be
    // halfway through.
    ChildProcess gone;
    ASSERT_TRUE(gone.Start(ChildCommand(L"exit_now")));
    ASSERT_TRUE(gone.Wait(30000));
    gone.Close();
    MakeLive(manager.Table(), 5, gone.Pid());
    EXPECT_EQ(2, manager.Snapshot().Count());
    CloseHandle(event);
}

TEST(Registry, ARecordLeftByAKilledTaskIsFreedAtTheNextTransaction) {
    TestTable names;
    DaemonRegistry manager(names.block.c_str(), names.mutex.c_str());
    manager.Snapshot();
    std::wstring readyName = UniqueName(L"ready");
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    ASSERT_NE(nullptr, ready);

    ChildProcess child;
    ASSERT_TRUE(
        child.Start(ChildCommand(L"claim_and_wait", names.block + L" " + names.mutex + L" \"copy a b\" " + readyName)));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 30000)) << "child exit " << child.ExitCode();
    CloseHandle(ready);

    kovra::common::Array<TaskState*> live = manager.Snapshot();
    ASSERT_EQ(1, live.Count());
    EXPECT_EQ(child.Pid(), GetTaskPid(live.At(0)));
    EXPECT_STREQ(L"copy a b", GetTaskCommand(live.At(0)).GetString());

    child.Kill();  // no chance to free its record
    EXPECT_EQ(TASK_STATE_RUN, GetTaskState(&manager.Table()->records[0]));
    EXPECT_EQ(0, manager.Snapshot().Count()) << "the ghost is not listed";
    EXPECT_EQ(TASK_STATE_DEAD, GetTaskState(&manager.Table()->records[0]));
}

TEST(Registry, TwentyDeadTasksDoNotLockOutTheNextDaemon) {
    TestTable names;
    DaemonRegistry manager(names.block.c_str(), names.mutex.c_str());
    manager.Snapshot();
    ChildProcess gone;
    ASSERT_TRUE(gone.Start(ChildCommand(L"exit_now")));
    ASSERT_TRUE(gone.Wait(30000));
    for (int i = 0; i < TASK_RECORD_COUNT; ++i) MakeLive(manager.Table(), i, gone.Pid());

    EXPECT_EQ(0, DaemonRegistry(names.block.c_str(), names.mutex.c_str()).CheckRoom());
    for (int i = 0; i < TASK_RECORD_COUNT; ++i) MakeLive(manager.Table(), i, gone.Pid());
    DaemonRegistry task(names.block.c_str(), names.mutex.c_str());
    TaskState* record = task.Claim(C_WString(L"next"));
    ASSERT_NE(nullptr, task.Table());
    EXPECT_EQ(&task.Table()->records[0], record);
    EXPECT_EQ(1, manager.Snapshot().Count());
}

TEST(Registry, WhoCountsAsGone) {
    // Exited, with a handle still open (the id stays taken), and then with
    // no handle left (the id names nothing).
    ChildProcess exited;
    ASSERT_TRUE(exited.Start(ChildCommand(L"exit_now")));
    ASSERT_TRUE(exited.Wait(30000));
    EXPECT_TRUE(IsTaskProcessGone(exited.Pid()));
    exited.Close();
    EXPECT_TRUE(IsTaskProcessGone(exited.Pid()));

    // A live process of another executable holds a reused id.
    ChildProcess other;
    ASSERT_TRUE(other.Start(L"\"" + CmdPath() + L"\" /c exit", CREATE_SUSPENDED | DETACHED_PROCESS));
    EXPECT_TRUE(IsTaskProcessGone(other.Pid()));

    // A process that may not be opened is never judged gone, whatever it
    // runs: an empty access list denies every access to other openers.
    SECURITY_DESCRIPTOR descriptor;
    ACL emptyAcl;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(InitializeAcl(&emptyAcl, sizeof emptyAcl, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE));
    SECURITY_ATTRIBUTES denyAll = {sizeof denyAll, &descriptor, FALSE};
    ChildProcess guarded;
    ASSERT_TRUE(guarded.Start(L"\"" + CmdPath() + L"\" /c exit", CREATE_SUSPENDED | DETACHED_PROCESS, &denyAll));
    HANDLE probe = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, guarded.Pid());
    if (probe) CloseHandle(probe);
    ASSERT_EQ(nullptr, probe) << "the process object should refuse other openers";
    EXPECT_FALSE(IsTaskProcessGone(guarded.Pid()));

    // Running copies of this executable are alive, this process included.
    ChildProcess copy;
    ASSERT_TRUE(copy.Start(ChildCommand(L"sleep_long")));
    EXPECT_FALSE(IsTaskProcessGone(copy.Pid()));
    EXPECT_FALSE(IsTaskProcessGone(GetCurrentProcessId()));

    // The sweep frees exactly the gone ones.
    std::unique_ptr<TaskStateTable> table(new TaskStateTable());
    std::memset(table.get(), 0, sizeof(TaskStateTable));
    MakeLive(table.get(), 0, exited.Pid());
    MakeLive(table.get(), 1, copy.Pid());
    MakeLive(table.get(), 2, other.Pid());
    MakeLive(table.get(), 3, GetCurrentProcessId());
    MakeLive(table.get(), 5, guarded.Pid());
    SetTaskPid(&table->records[4], exited.Pid());  // free already: untouched
    SetTaskSignal(&table->records[4], TASK_SIGNAL_TERM);
    EXPECT_EQ(2, SweepStaleTasks(table.get()));
    EXPECT_EQ(TASK_STATE_DEAD, GetTaskState(&table->records[0]));
    EXPECT_EQ(TASK_STATE_RUN, GetTaskState(&table->records[1]));
    EXPECT_EQ(TASK_STATE_DEAD, GetTaskState(&table->records[2]));
    EXPECT_EQ(TASK_STATE_RUN, GetTaskState(&table->records[3]));
    EXPECT_EQ(TASK_SIGNAL_TERM, GetTaskSignal(&table->records[4]));
    EXPECT_EQ(TASK_STATE_RUN, GetTaskState(&table->records[5]));
    EXPECT_EQ(exited.Pid(), GetTaskPid(&table->records[0])) << "a freed record keeps its old bytes";
    EXPECT_EQ(0, SweepStaleTasks(nullptr));
}

TEST(Registry, AProcessThatCannotBeWaitedOnIsJudgedByExitCodeAndImage) {
    QueryOnlySecurity queryOnly;
    ChildProcess other, copy, exited;
    ASSERT_TRUE(
        other.Start(L"\"" + CmdPath() + L"\" /c exit", CREATE_SUSPENDED | DETACHED_PROCESS, queryOnly.Attributes()));
    ASSERT_TRUE(copy.Start(ChildCommand(L"sleep_long"), DETACHED_PROCESS, queryOnly.Attributes()));
    ASSERT_TRUE(exited.Start(ChildCommand(L"exit_now"), DETACHED_PROCESS, queryOnly.Attributes()));
    ASSERT_TRUE(exited.Wait(30000));
    HANDLE waitable = OpenProcess(SYNCHRONIZE, FALSE, copy.Pid());
    if (waitable) {
        CloseHandle(waitable);
        GTEST_SKIP() << "Wine grants SYNCHRONIZE on a process whatever its access list, so the look-up without "
                        "waiting (exit code instead) is reached only on Windows";
    }
    EXPECT_TRUE(IsTaskProcessGone(other.Pid()));
    EXPECT_FALSE(IsTaskProcessGone(copy.Pid()));
    EXPECT_TRUE(IsTaskProcessGone(exited.Pid()));
}

// Judges the process ids argv[0] and argv[1]: bit 1 and bit 2 set when they
// are judged gone; bit 4 when this process knows its own path in a short
// form.
TEST_CHILD(judge_alive) {
    if (argc < 2) return 10;
    int result = 0;
    if (IsTaskProcessGone(wcstoul(argv[0], nullptr, 10))) result |= 1;
    if (IsTaskProcessGone(wcstoul(argv[1], nullptr, 10))) result |= 2;
    wchar_t own[MAX_PATH * 2];
    wchar_t longForm[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH * 2);
    DWORD m = GetLongPathNameW(own, longForm, MAX_PATH * 2);
    if (n > 0 && m > 0 && m < MAX_PATH * 2 && _wcsicmp(own, longForm) != 0) result |= 4;
    return result;
}

TEST(Registry, CopiesStartedThroughAShortPathAndALongOneKnowEachOther) {
    // Both directions: this process judges a copy started through the short
    // form of its path, and that copy judges this process and itself.
    testsupport::TempDir dir;
    std::wstring self = testsupport::SelfPath();
    std::wstring copyPath = dir.File(self.substr(self.find_last_of(L"\\/") + 1));
    ASSERT_TRUE(CopyFileW(self.c_str(), copyPath.c_str(), TRUE));
    wchar_t shortPath[MAX_PATH];
    DWORD n = GetShortPathNameW(copyPath.c_str(), shortPath, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    if (_wcsicmp(shortPath, copyPath.c_str()) == 0) GTEST_SKIP() << "the file system gives no short names";

    ChildProcess copy;
    ASSERT_TRUE(copy.Start(L"\"" + std::wstring(shortPath) + L"\" --child=sleep_long"));
    EXPECT_FALSE(IsTaskProcessGone(copy.Pid()));

    ChildProcess judge;
    ASSERT_TRUE(judge.Start(L"\"" + std::wstring(shortPath) + L"\" --child=judge_alive " +
                            std::to_wstring(GetCurrentProcessId()) + L" " + std::to_wstring(copy.Pid())));
    ASSERT_TRUE(judge.Wait(30000));
    EXPECT_EQ(0u, judge.ExitCode() & ~4u) << "1: this process judged gone, 2: the other copy judged gone";

    wchar_t image[MAX_PATH * 2];
    DWORD units = MAX_PATH * 2;
    ASSERT_TRUE(QueryFullProcessImageNameW(copy.Handle(), 0, image, &units));
    if (!(judge.ExitCode() & 4) && _wcsicmp(image, copyPath.c_str()) == 0)
        GTEST_SKIP() << "Wine reports the long path as image and module name even for a process started through "
                        "its short path, so the short form is met only on Windows";
}

TEST(Registry, TheDecisionOnOneLookUp) {
    // Every outcome of the look-up, including those the system gives only
    // rarely.
    const wchar_t* own = L"C:\\tools\\vrek.exe";
    struct Case {
        const char* what;
        ProcessLookup lookup;
        const wchar_t* ownPath;
        bool gone;
    };
    const Case cases[] = {
        {"no such process", {ERROR_INVALID_PARAMETER, false, false, nullptr}, own, true},
        {"access denied", {ERROR_ACCESS_DENIED, false, false, nullptr}, own, false},
        {"other open failure", {ERROR_NOT_ENOUGH_MEMORY, false, false, nullptr}, own, false},
        {"exited", {0, true, false, nullptr}, own, true},
        {"same file name, other case and folder", {0, false, true, L"D:\\x\\VREK.EXE"}, own, false},
        {"another executable", {0, false, true, L"C:\\windows\\system32\\cmd.exe"}, own, true},
        {"longer file name", {0, false, true, L"C:\\tools\\vrek.exe.old"}, own, true},
        {"image path unknown", {0, false, false, nullptr}, own, false},
        {"own path unknown", {0, false, true, L"C:\\windows\\system32\\cmd.exe"}, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.gone, IsLookupGone(c.lookup, c.ownPath));
    }
}
