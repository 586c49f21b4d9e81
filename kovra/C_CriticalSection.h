#pragma once

#include <windows.h>

#include "kovra/I_CriticalSection.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A system critical section that knows its holder and nesting depth.
//
// The owner and the depth are written only by the holding thread; another
// thread that reads them sees either the holder or nobody, never itself, so
// IsLockedByCurrentThread is exact for the calling thread.
//
// Choices where the behaviour was open:
// - Leave by a thread that does not hold the section is ignored like a
//   Leave without Enter: the system critical section must only be left by
//   its owner, and a stray Leave would otherwise corrupt it.
class KOVRA_API C_CriticalSection : public I_CriticalSection {
public:
    C_CriticalSection();
    ~C_CriticalSection() override;

    void Enter() override;
    void Leave() override;
    int IsLockedByCurrentThread() const override;
    int GetEnterCount() const override { return m_enterCount; }

private:
    C_CriticalSection(const C_CriticalSection&) = delete;
    C_CriticalSection& operator=(const C_CriticalSection&) = delete;

    CRITICAL_SECTION m_section;
    volatile unsigned long m_owner;  // 0xFFFFFFFF while nobody holds it
    volatile int m_enterCount;
};

}  // namespace kovra
