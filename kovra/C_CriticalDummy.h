#pragma once

#include "kovra/I_CriticalSection.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A critical section for code that runs on one thread: locks nothing and
// answers 0.
class KOVRA_API C_CriticalDummy : public I_CriticalSection {
public:
    ~C_CriticalDummy() override {}
    void Enter() override {}
    void Leave() override {}
    int IsLockedByCurrentThread() const override { return 0; }
    int GetEnterCount() const override { return 0; }
};

}  // namespace kovra
