#pragma once

#include "kovra/C_CriticalDummy.h"
#include "kovra/I_CriticalSection.h"
#include "kovra/KovraApi.h"

namespace kovra {

// Scope guard over a critical section: enters it on construction and, on
// destruction, leaves it as often as this guard entered it. Given null, it
// guards a do-nothing section of its own. The section must outlive the
// guard; the guard is used by the thread that made it.
class KOVRA_API C_CriticalLock {
public:
    explicit C_CriticalLock(I_CriticalSection* section);
    virtual ~C_CriticalLock();

    virtual void Lock();
    // Nothing when this guard holds nothing; `all` non-zero leaves as often
    // as it entered, 0 leaves once.
    virtual void Unlock(int all);
    virtual int IsLocked() const { return m_section->GetEnterCount() > 0 ? 1 : 0; }
    virtual int IsLockedByCurrentThread() const { return m_section->IsLockedByCurrentThread(); }

private:
    C_CriticalLock(const C_CriticalLock&) = delete;
    C_CriticalLock& operator=(const C_CriticalLock&) = delete;

    I_CriticalSection* m_section;
    C_CriticalDummy m_dummy;
    int m_count;
};

}  // namespace kovra
