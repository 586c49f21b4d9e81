#include "kovra/C_SynchronizeLock.h"

namespace kovra {

C_SynchronizeLock::C_SynchronizeLock(I_Synchronize* sync, const int& exclusive)
    : m_sync(sync ? sync : &m_dummy), m_count(0) {
    Lock(exclusive);
}

C_SynchronizeLock::~C_SynchronizeLock() { Unlock(1); }

int C_SynchronizeLock::Lock(const int& exclusive) {
    if (!m_sync->Lock(exclusive)) return 0;
    ++m_count;
    return 1;
}

void C_SynchronizeLock::Unlock(const int& all) {
    if (m_count == 0) return;
    int times = all ? m_count : 1;
    for (int i = 0; i < times; ++i) m_sync->Unlock();
    m_count -= times;
}

}  // namespace kovra
