#pragma once

#include "kovra/I_Synchronize.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A shared/exclusive lock for code that runs on one thread: locks nothing
// and answers 0.
class KOVRA_API C_SynchronizeDummy : public I_Synchronize {
public:
    ~C_SynchronizeDummy() override {}
    int Lock(const int&) override { return 0; }
    int Unlock() override { return 0; }
    int GetLockCount() const override { return 0; }
    int IsLockedByCurrentThread() const override { return 0; }
};

}  // namespace kovra
