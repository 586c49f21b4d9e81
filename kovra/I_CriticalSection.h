#pragma once

#include "kovra/KovraApi.h"

namespace kovra {

// A lock that one thread holds at a time and that its holder may enter again
// (each Enter needs its Leave).
class KOVRA_API I_CriticalSection {
public:
    virtual ~I_CriticalSection() {}
    virtual void Enter() = 0;
    virtual void Leave() = 0;
    // 1 when the calling thread holds the lock, else 0.
    virtual int IsLockedByCurrentThread() const = 0;
    // The holder's nesting depth; 0 while nobody holds it.
    virtual int GetEnterCount() const = 0;
};

}  // namespace kovra
