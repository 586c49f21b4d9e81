#pragma once

#include "kovra/C_CriticalSection.h"
#include "kovra/C_Event.h"
#include "kovra/I_Synchronize.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A shared/exclusive lock within one process. Shared holders only pass
// through the critical section; the exclusive holder keeps it from Lock to
// the matching Unlock, so every other thread's request waits in Enter. An
// exclusive request first waits (outside the section) on an event that is
// set while no shared lock is held. Shared requests are never held back for
// a waiting exclusive one.
//
// The exclusive holder may lock again, shared or exclusive; each Lock needs
// its Unlock.
//
// Choices where the behaviour was open:
// - No upgrade: an exclusive request from a thread that holds a shared lock
//   is refused (Lock returns 0 at once, the shared lock stays held). It
//   would otherwise wait for its own shared lock to go, for ever; and two
//   shared holders upgrading at once could only deadlock. Release the shared
//   lock and ask again.
// - The object records which threads hold it shared (and how often), which
//   is how an upgrade request is recognised. Unlock by a thread that holds
//   nothing is ignored (returns 0) instead of releasing someone else's lock.
// - An exclusive requester woken by the event checks again, inside the
//   section, that no shared lock is held before it takes the lock, and waits
//   again otherwise: two requesters woken by one event cannot both proceed
//   past shared holders that came in between.
// - When the event cannot be waited on (the system refused it), an exclusive
//   request that would have to wait is refused.
class KOVRA_API C_Synchronize : public I_Synchronize {
public:
    C_Synchronize();
    ~C_Synchronize() override;

    int Lock(const int& exclusive) override;
    int Unlock() override;
    // Read inside the section, so it waits while another thread holds the
    // exclusive lock.
    int GetLockCount() const override;
    int IsLockedByCurrentThread() const override { return m_section.IsLockedByCurrentThread(); }

private:
    C_Synchronize(const C_Synchronize&) = delete;
    C_Synchronize& operator=(const C_Synchronize&) = delete;

    struct SharedHolder {
        unsigned long thread;
        int count;
    };
    // Index of the calling thread's record, -1 when it holds no shared lock.
    // Called inside the section.
    int FindHolder(unsigned long thread) const;
    // False when memory for the record ran out.
    bool AddHolder(unsigned long thread);
    void DropHolder(int index);

    int m_count;  // shared holders, or the exclusive holder's nesting depth
    int m_mode;   // 0 shared or free, non-zero exclusive
    C_Event m_noShared;
    mutable C_CriticalSection m_section;
    SharedHolder* m_holders;
    int m_holderCount;
    int m_holderCapacity;
};

}  // namespace kovra
