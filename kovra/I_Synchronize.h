#pragma once

#include "kovra/KovraApi.h"

namespace kovra {

// A lock held either by any number of shared holders or by one exclusive
// holder.
class KOVRA_API I_Synchronize {
public:
    virtual ~I_Synchronize() {}
    // `exclusive` non-zero asks for the exclusive lock. 1 when the lock was
    // taken, 0 when it was refused.
    virtual int Lock(const int& exclusive) = 0;
    // 1 when a lock of the calling thread was released, 0 when it held none.
    virtual int Unlock() = 0;
    // Shared holders, or the exclusive holder's nesting depth.
    virtual int GetLockCount() const = 0;
    // 1 when the calling thread holds the exclusive lock.
    virtual int IsLockedByCurrentThread() const = 0;
};

}  // namespace kovra
