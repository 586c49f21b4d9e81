#include "kovra/C_CriticalSection.h"

namespace kovra {

namespace {
const unsigned long NO_OWNER = 0xFFFFFFFF;
}

C_CriticalSection::C_CriticalSection() : m_owner(NO_OWNER), m_enterCount(0) { InitializeCriticalSection(&m_section); }

C_CriticalSection::~C_CriticalSection() { DeleteCriticalSection(&m_section); }

void C_CriticalSection::Enter() {
    EnterCriticalSection(&m_section);
    m_enterCount = m_enterCount + 1;
    m_owner = GetCurrentThreadId();
}

void C_CriticalSection::Leave() {
    if (m_enterCount == 0 || m_owner != GetCurrentThreadId()) return;
    m_enterCount = m_enterCount - 1;
    if (m_enterCount == 0) m_owner = NO_OWNER;
    LeaveCriticalSection(&m_section);
}

int C_CriticalSection::IsLockedByCurrentThread() const { return m_owner == GetCurrentThreadId() ? 1 : 0; }

}  // namespace kovra
