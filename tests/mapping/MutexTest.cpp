#include <gtest/gtest.h>

#include <string>

#include "kovra/C_Mutex.h"
#include "support/TestSupport.h"

using namespace kovra;
using testsupport::ChildCommand;
using testsupport::ChildProcess;
using testsupport::UniqueName;

namespace {

// Whether some other owner holds the named mutex right now: a thread of its
// own waits on a separate handle without blocking (a mutex is recursive for
// the thread that holds it, so the test's thread cannot ask).
struct Probe {
    std::wstring name;
    DWORD outcome;
};

DWORD WINAPI ProbeThread(void* arg) {
    Probe* probe = static_cast<Probe*>(arg);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, probe->name.c_str());
    if (!mutex) {
        probe->outcome = WAIT_FAILED;
        return 0;
    }
    probe->outcome = WaitForSingleObject(mutex, 0);
    if (probe->outcome == WAIT_OBJECT_0 || probe->outcome == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

bool HeldElsewhere(const std::wstring& name) {
    Probe probe = {name, WAIT_FAILED};
    HANDLE thread = CreateThread(nullptr, 0, ProbeThread, &probe, 0, nullptr);
    if (!thread) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return probe.outcome == WAIT_TIMEOUT;
}

// Runs `f(arg)` on a thread of its own and waits at most `timeoutMs`;
// false when the thread is still running then (it is left to finish).
bool RunOnThread(LPTHREAD_START_ROUTINE f, void* arg, DWORD timeoutMs) {
    HANDLE thread = CreateThread(nullptr, 0, f, arg, 0, nullptr);
    if (!thread) return false;
    bool done = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return done;
}

struct ThreadCall {
    C_Mutex* mutex;
    volatile LONG result;
    HANDLE release;  // when set, the thread holds its lock until this is signalled
};

DWORD WINAPI LockOnThread(void* arg) {
    ThreadCall* call = static_cast<ThreadCall*>(arg);
    call->result = call->mutex->Lock();
    if (call->release) {
        WaitForSingleObject(call->release, INFINITE);
        call->mutex->Unlock();
    }
    return 0;
}

DWORD WINAPI UnlockOnThread(void* arg) {
    ThreadCall* call = static_cast<ThreadCall*>(arg);
    call->result = call->mutex->Unlock();
    return 0;
}

}  // namespace

// Locks the named mutex argv[0], signals the event argv[1] and then either
// waits for the event argv[2] and unlocks, or (without argv[2]) sleeps until
// it is killed.
TEST_CHILD(mutex_holder) {
    if (argc < 2) return 10;
    C_Mutex mutex(argv[0]);
    if (mutex.Lock() != 1) return 11;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (!ready) return 12;
    SetEvent(ready);
    CloseHandle(ready);
    if (argc < 3) {
        Sleep(120000);
        return 20;
    }
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
    if (!release) return 13;
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
    return mutex.Unlock() ? 0 : 14;
}

TEST(Mutex, LocksDoNotNestThroughOneObject) {
    std::wstring name = UniqueName(L"mutex");
    C_Mutex mutex(name.c_str());
    ASSERT_NE(nullptr, mutex.GetHandle());
    EXPECT_EQ(0xFFFFFFFFu, mutex.GetLockedID());
    EXPECT_EQ(0, mutex.IsLockedByCurrentThread());

    EXPECT_EQ(1, mutex.Lock());
    EXPECT_EQ(GetCurrentThreadId(), mutex.GetLockedID());
    EXPECT_EQ(1, mutex.IsLockedByCurrentThread());
    EXPECT_EQ(0, mutex.Lock()) << "the holder's second Lock neither waits nor nests";
    EXPECT_TRUE(HeldElsewhere(name));

    EXPECT_NE(0, mutex.Unlock());
    EXPECT_EQ(0xFFFFFFFFu, mutex.GetLockedID());
    EXPECT_FALSE(HeldElsewhere(name)) << "one Unlock releases the system mutex";
    EXPECT_EQ(0, mutex.Unlock());
}

TEST(Mutex, UnlockFromAThreadThatNeverLockedReleasesNothing) {
    std::wstring name = UniqueName(L"mutex");
    C_Mutex mutex(name.c_str());
    ASSERT_EQ(1, mutex.Lock());
    ThreadCall call = {&mutex, -1, nullptr};
    ASSERT_TRUE(RunOnThread(UnlockOnThread, &call, 30000));
    EXPECT_EQ(0, call.result);
    EXPECT_EQ(GetCurrentThreadId(), mutex.GetLockedID());
    EXPECT_TRUE(HeldElsewhere(name)) << "still held by the locking thread";
    EXPECT_NE(0, mutex.Unlock());
}

TEST(Mutex, AnEmptyNameGivesAPrivateMutexAndANameASharedOne) {
    struct Case {
        const char* what;
        std::wstring name;
        bool shared;
    };
    const Case cases[] = {
        {"empty name", L"", false},
        {"same name", UniqueName(L"mutex"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        C_Mutex first(c.name.c_str());
        C_Mutex second(c.name.c_str());
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, release);
        ThreadCall holder = {&first, -1, release};
        HANDLE holderThread = CreateThread(nullptr, 0, LockOnThread, &holder, 0, nullptr);
        ASSERT_NE(nullptr, holderThread);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return holder.result == 1; }, 30000));

        // Another thread locks the second object: at once when the mutexes
        // are distinct, only after the holder lets go when they are one.
        ThreadCall contender = {&second, -1, release};
        HANDLE contenderThread = CreateThread(nullptr, 0, LockOnThread, &contender, 0, nullptr);
        ASSERT_NE(nullptr, contenderThread);
        bool lockedWhileHeld = testsupport::WaitUntil([&] { return contender.result == 1; }, c.shared ? 500 : 30000);
        EXPECT_EQ(!c.shared, lockedWhileHeld);
        SetEvent(release);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holderThread, 30000));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(contenderThread, 30000));
        EXPECT_EQ(1, contender.result);
        CloseHandle(holderThread);
        CloseHandle(contenderThread);
        CloseHandle(release);
    }
    C_Mutex unnamed;
    EXPECT_NE(nullptr, unnamed.GetHandle());
    EXPECT_EQ(1, unnamed.Lock());
    EXPECT_NE(0, unnamed.Unlock());
}

TEST(Mutex, ExcludesAnotherProcessUntilItUnlocks) {
    std::wstring name = UniqueName(L"mutex");
    std::wstring readyName = UniqueName(L"ready");
    std::wstring releaseName = UniqueName(L"release");
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
    ASSERT_NE(nullptr, ready);
    ASSERT_NE(nullptr, release);
    C_Mutex mutex(name.c_str());

    ChildProcess child;
    ASSERT_TRUE(child.Start(ChildCommand(L"mutex_holder", name + L" " + readyName + L" " + releaseName)));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 30000)) << "child exit " << child.ExitCode();
    EXPECT_TRUE(HeldElsewhere(name));
    SetEvent(release);
    EXPECT_EQ(1, mutex.Lock());
    ASSERT_TRUE(child.Wait(30000));
    EXPECT_EQ(0u, child.ExitCode());
    EXPECT_NE(0, mutex.Unlock());
    CloseHandle(ready);
    CloseHandle(release);
}

TEST(Mutex, AMutexLeftByAKilledProcessIsTakenOver) {
    std::wstring name = UniqueName(L"mutex");
    std::wstring readyName = UniqueName(L"ready");
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    ASSERT_NE(nullptr, ready);

    ChildProcess child;
    ASSERT_TRUE(child.Start(ChildCommand(L"mutex_holder", name + L" " + readyName)));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 30000)) << "child exit " << child.ExitCode();
    CloseHandle(ready);
    C_Mutex mutex(name.c_str());
    EXPECT_TRUE(HeldElsewhere(name));

    child.Kill();
    EXPECT_EQ(1, mutex.Lock()) << "WAIT_ABANDONED counts as acquired";
    EXPECT_EQ(1, mutex.IsLockedByCurrentThread());
    EXPECT_TRUE(HeldElsewhere(name));
    EXPECT_NE(0, mutex.Unlock());
    EXPECT_FALSE(HeldElsewhere(name));
}

TEST(Mutex, ARefusedMutexNeverReportsALock) {
    // The name belongs to an event, so CreateMutexW fails.
    std::wstring name = UniqueName(L"mutex");
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_NE(nullptr, event);
    C_Mutex mutex(name.c_str());
    EXPECT_EQ(nullptr, mutex.GetHandle());
    EXPECT_EQ(0, mutex.Lock());
    EXPECT_EQ(0xFFFFFFFFu, mutex.GetLockedID());
    EXPECT_EQ(0, mutex.IsLockedByCurrentThread());
    EXPECT_EQ(0, mutex.Unlock());
    CloseHandle(event);
}
