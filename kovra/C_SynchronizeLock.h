#pragma once

#include "kovra/C_SynchronizeDummy.h"
#include "kovra/I_Synchronize.h"
#include "kovra/KovraApi.h"

namespace kovra {

// Scope guard over a shared/exclusive lock: locks on construction and, on
// destruction, unlocks as often as this guard locked. Given null, it guards
// a do-nothing lock of its own. The lock must outlive the guard; the guard
// is used by the thread that made it.
//
// Choices where the behaviour was open:
// - Only locks that were granted are counted: a refused request (see
//   C_Synchronize, an exclusive request by a shared holder) is never
//   released by the guard.
class KOVRA_API C_SynchronizeLock {
public:
    C_SynchronizeLock(I_Synchronize* sync, const int& exclusive);
    virtual ~C_SynchronizeLock();

    // The lock's answer: 1 granted, 0 refused.
    virtual int Lock(const int& exclusive);
    // Nothing when this guard holds nothing; `all` non-zero unlocks as often
    // as it locked, 0 unlocks once.
    virtual void Unlock(const int& all);
    virtual int IsLocked() const { return m_sync->GetLockCount() > 0 ? 1 : 0; }
    virtual int IsLockedByCurrentThread() const { return m_sync->IsLockedByCurrentThread(); }

private:
    C_SynchronizeLock(const C_SynchronizeLock&) = delete;
    C_SynchronizeLock& operator=(const C_SynchronizeLock&) = delete;

    I_Synchronize* m_sync;
    C_SynchronizeDummy m_dummy;
    int m_count;
};

}  // namespace kovra
