#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "kovra/C_CriticalLock.h"
#include "kovra/C_CriticalSection.h"
#include "kovra/C_Event.h"
#include "kovra/C_Synchronize.h"
#include "kovra/C_SynchronizeLock.h"
#include "kovra/C_Thread.h"

using namespace kovra;

namespace {

const int kLong = 10000;  // for what must happen: only a fault reaches it
// For what must NOT happen: a correct lock never gets there, the wait only
// gives a faulty one the chance to show.
const int kShort = 100;

struct Task : I_Runnable {
    explicit Task(std::function<void()> f) : work(std::move(f)) {}
    void Run() override { work(); }
    std::function<void()> work;
};

// Runs `work` on a thread of its own from construction; joined on
// destruction. A thread still blocked then is a deadlock: the program ends
// rather than hang the run.
class Worker {
public:
    explicit Worker(std::function<void()> work) : task_(std::move(work)), thread_(&task_) { thread_.Start(); }
    ~Worker() {
        if (thread_.Join(kLong) != 1) return;  // ended now, or joined before
        std::fprintf(stderr, "a test thread is still blocked: deadlock\n");
        std::fflush(stderr);
        ExitProcess(3);
    }
    int Join(unsigned long ms) { return thread_.Join(ms); }

private:
    Task task_;
    C_Thread thread_;
};

}  // namespace

TEST(CriticalSection, NestsForItsHolderAndIgnoresLeavesOfOthers) {
    C_CriticalSection section;
    section.Leave();  // without Enter: nothing
    {
        C_CriticalLock lock(&section);
        lock.Lock();
        lock.Lock();
        lock.Unlock(0);
        EXPECT_EQ(2, section.GetEnterCount());
        int otherSees = -1;
        Worker([&] {
            otherSees = section.IsLockedByCurrentThread();
            section.Leave();
        });
        EXPECT_EQ(0, otherSees);
        EXPECT_EQ(2, section.GetEnterCount());
        EXPECT_EQ(1, lock.IsLockedByCurrentThread());
    }
    EXPECT_EQ(0, section.GetEnterCount());  // the guard released what it took
    EXPECT_EQ(0, C_CriticalLock(nullptr).IsLocked());
}

TEST(Event, RemembersItsStateUntilReset) {
    C_Event event;
    EXPECT_EQ(1, event.Wait(0));
    event.SetEvent();
    EXPECT_EQ(0, event.Wait(0));
    EXPECT_EQ(1, event.IsSignal());
    event.ResetEvent();
    EXPECT_EQ(1, event.Wait(0));
    EXPECT_EQ(0, event.IsSignal());
}

TEST(Synchronize, AnExclusiveRequestWaitsUntilBothSharedHoldersHaveUnlocked) {
    C_Synchronize sync;
    C_Event locked[2], release[2], acquired;
    volatile LONG sharedInside = 0;
    LONG seenByWriter = -1;
    auto reader = [&](int i) {
        return [&, i] {
            sync.Lock(0);
            InterlockedIncrement(&sharedInside);
            locked[i].SetEvent();
            release[i].Wait(-1);
            InterlockedDecrement(&sharedInside);
            sync.Unlock();
        };
    };
    Worker first(reader(0)), second(reader(1));
    ASSERT_EQ(0, locked[0].Wait(kLong));
    ASSERT_EQ(0, locked[1].Wait(kLong));
    EXPECT_EQ(2, sync.GetLockCount());
    Worker writer([&] {
        sync.Lock(1);
        seenByWriter = sharedInside;
        acquired.SetEvent();
        sync.Unlock();
    });
    EXPECT_EQ(1, acquired.Wait(kShort));
    release[0].SetEvent();
    EXPECT_EQ(0, first.Join(kLong));
    EXPECT_EQ(1, acquired.Wait(kShort));
    release[1].SetEvent();
    EXPECT_EQ(0, acquired.Wait(kLong));
    EXPECT_EQ(0, seenByWriter);
}

TEST(Synchronize, TheExclusiveHolderNestsAndNeedsAsManyUnlocks) {
    C_Synchronize sync;
    ASSERT_EQ(1, sync.Lock(1));
    EXPECT_EQ(1, sync.Lock(1));
    EXPECT_EQ(1, sync.Lock(0));
    EXPECT_EQ(3, sync.GetLockCount());
    C_Event acquired;
    Worker other([&] {
        sync.Lock(0);
        acquired.SetEvent();
        sync.Unlock();
    });
    sync.Unlock();
    sync.Unlock();
    EXPECT_EQ(1, acquired.Wait(kShort));
    EXPECT_EQ(1, sync.Unlock());
    EXPECT_EQ(0, acquired.Wait(kLong));
    EXPECT_EQ(0, sync.Unlock());  // holds nothing
    {
        C_SynchronizeLock guard(&sync, 1);
        guard.Lock(0);
        EXPECT_EQ(2, sync.GetLockCount());
    }
    EXPECT_EQ(0, sync.GetLockCount());
}

TEST(Synchronize, ASharedHolderAskingForTheExclusiveLockIsRefusedAndKeepsItsSharedLock) {
    C_Synchronize sync;
    int refused = -1, guarded = -1, countAfter = -1, later = -1;
    Worker holder([&] {
        sync.Lock(0);
        refused = sync.Lock(1);
        {
            C_SynchronizeLock guard(&sync, 1);
            guarded = guard.IsLockedByCurrentThread();
        }
        countAfter = sync.GetLockCount();
        sync.Unlock();
        later = sync.Lock(1);
        sync.Unlock();
    });
    EXPECT_EQ(0, holder.Join(kLong));
    EXPECT_EQ(0, refused);
    EXPECT_EQ(0, guarded);
    EXPECT_EQ(1, countAfter);  // the refused guard released nothing
    EXPECT_EQ(1, later);
}

TEST(Synchronize, ManyThreadsMixingSharedAndExclusiveLocksNeverOverlap) {
    const int kThreads = 8, kRounds = 3000;
    C_Synchronize sync;
    C_Event go;
    volatile LONG readers = 0, writers = 0, overlaps = 0;
    volatile long counter = 0;  // changed by exclusive holders only
    long expected = 0;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < kThreads; ++t) {
        for (int r = 0; r < kRounds; ++r) expected += (r + t) % 3 == 0 ? 1 : 0;
        workers.emplace_back(new Worker([&, t] {
            go.Wait(-1);
            for (int r = 0; r < kRounds; ++r) {
                bool exclusive = (r + t) % 3 == 0;
                sync.Lock(exclusive ? 1 : 0);
                if (exclusive) {
                    if (InterlockedIncrement(&writers) != 1 || readers != 0) InterlockedIncrement(&overlaps);
                    long seen = counter;
                    SwitchToThread();
                    counter = seen + 1;
                    InterlockedDecrement(&writers);
                } else {
                    InterlockedIncrement(&readers);
                    if (writers != 0) InterlockedIncrement(&overlaps);
                    InterlockedDecrement(&readers);
                }
                sync.Unlock();
            }
        }));
    }
    go.SetEvent();
    for (auto& worker : workers) EXPECT_EQ(0, worker->Join(0));
    EXPECT_EQ(0, static_cast<LONG>(overlaps));
    EXPECT_EQ(expected, static_cast<long>(counter));
    EXPECT_EQ(0, sync.GetLockCount());
}

TEST(Thread, ASeparateRunnableIsAliveWhileItRuns) {
    C_Event entered, release;
    Task task([&] {
        entered.SetEvent();
        release.Wait(-1);
    });
    C_Thread thread(&task);
    ASSERT_EQ(1, thread.Start());
    EXPECT_EQ(0, thread.Start());
    ASSERT_EQ(0, entered.Wait(kLong));
    EXPECT_EQ(1, thread.IsAlive());
    EXPECT_EQ(1, thread.Join(20));  // blocked on `release`: a time-out keeps it
    release.SetEvent();
    EXPECT_EQ(0, thread.Join(0));
    EXPECT_EQ(0, thread.IsAlive());
    EXPECT_EQ(1, thread.Start());  // joined: may run again
}

TEST(Thread, ADerivedThreadRunsItsOwnWork) {
    struct Counting : C_Thread {
        ~Counting() override { Stop(); }
        void Run() override { runs = runs + 1; }
        volatile int runs = 0;
    } thread;
    ASSERT_EQ(1, thread.Start());
    EXPECT_EQ(0, thread.Join(0xFFFFFFFF));
    EXPECT_EQ(1, static_cast<int>(thread.runs));
}
