#include "kovra/C_Synchronize.h"

#include <cstring>
#include <new>

namespace kovra {

C_Synchronize::C_Synchronize() : m_count(0), m_mode(0), m_holders(nullptr), m_holderCount(0), m_holderCapacity(0) {
    m_noShared.SetEvent();
}

C_Synchronize::~C_Synchronize() { delete[] m_holders; }

int C_Synchronize::Lock(const int& exclusive) {
    if (m_section.IsLockedByCurrentThread()) {
        // The exclusive holder nests, whatever it asks for.
        ++m_count;
        return 1;
    }
    unsigned long me = GetCurrentThreadId();
    m_section.Enter();
    if (!exclusive) {
        if (!AddHolder(me)) {
            m_section.Leave();
            return 0;
        }
        ++m_count;
        m_section.Leave();
        return 1;
    }
    if (FindHolder(me) >= 0) {
        m_section.Leave();
        return 0;
    }
    while (m_count > 0) {
        m_noShared.ResetEvent();
        m_section.Leave();
        if (m_noShared.Wait(-1) != 0) return 0;
        m_section.Enter();
    }
    m_count = 1;
    m_mode = exclusive;
    return 1;
}

int C_Synchronize::Unlock() {
    if (m_section.IsLockedByCurrentThread()) {
        if (m_count > 1) {
            --m_count;
            return 1;
        }
        m_count = 0;
        m_mode = 0;
        m_section.Leave();
        return 1;
    }
    m_section.Enter();
    int index = FindHolder(GetCurrentThreadId());
    if (index < 0) {
        m_section.Leave();
        return 0;
    }
    DropHolder(index);
    if (--m_count == 0) m_noShared.SetEvent();
    m_section.Leave();
    return 1;
}

int C_Synchronize::GetLockCount() const {
    m_section.Enter();
    int count = m_count;
    m_section.Leave();
    return count;
}

int C_Synchronize::FindHolder(unsigned long thread) const {
    for (int i = 0; i < m_holderCount; ++i)
        if (m_holders[i].thread == thread) return i;
    return -1;
}

bool C_Synchronize::AddHolder(unsigned long thread) {
    int index = FindHolder(thread);
    if (index >= 0) {
        ++m_holders[index].count;
        return true;
    }
    if (m_holderCount == m_holderCapacity) {
        int capacity = m_holderCapacity + 16;
        SharedHolder* grown = new (std::nothrow) SharedHolder[capacity];
        if (!grown) return false;
        if (m_holderCount > 0) std::memcpy(grown, m_holders, sizeof(SharedHolder) * m_holderCount);
        delete[] m_holders;
        m_holders = grown;
        m_holderCapacity = capacity;
    }
    m_holders[m_holderCount].thread = thread;
    m_holders[m_holderCount].count = 1;
    ++m_holderCount;
    return true;
}

void C_Synchronize::DropHolder(int index) {
    if (--m_holders[index].count > 0) return;
    m_holders[index] = m_holders[m_holderCount - 1];
    --m_holderCount;
}

}  // namespace kovra
