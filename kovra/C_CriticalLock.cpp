#include "kovra/C_CriticalLock.h"

namespace kovra {

C_CriticalLock::C_CriticalLock(I_CriticalSection* section) : m_section(section ? section : &m_dummy), m_count(0) {
    Lock();
}

C_CriticalLock::~C_CriticalLock() { Unlock(1); }

void C_CriticalLock::Lock() {
    m_section->Enter();
    ++m_count;
}

void C_CriticalLock::Unlock(int all) {
    if (m_count == 0) return;
    int times = all ? m_count : 1;
    for (int i = 0; i < times; ++i) m_section->Leave();
    m_count -= times;
}

}  // namespace kovra
