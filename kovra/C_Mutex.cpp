#include "kovra/C_Mutex.h"

namespace kovra {

namespace {
const unsigned long NO_OWNER = 0xFFFFFFFF;
}

C_Mutex::C_Mutex() : m_mutex(nullptr), m_owner(NO_OWNER) { Create(nullptr); }

C_Mutex::C_Mutex(const C_WString& name) : m_mutex(nullptr), m_owner(NO_OWNER) {
    Create(name.Empty() ? nullptr : name.GetString());
}

C_Mutex::~C_Mutex() {
    if (m_mutex) CloseHandle(m_mutex);
}

void C_Mutex::Create(const wchar_t* name) {
    // An existing mutex of that name is opened instead of created.
    m_mutex = CreateMutexW(nullptr, FALSE, name);
}

int C_Mutex::Lock() {
    if (m_owner == GetCurrentThreadId()) return 0;
    if (!m_mutex) return 0;
    DWORD outcome = WaitForSingleObject(m_mutex, INFINITE);
    // WAIT_ABANDONED: the holder ended without releasing; we own it now.
    if (outcome != WAIT_OBJECT_0 && outcome != WAIT_ABANDONED) return 0;
    m_owner = GetCurrentThreadId();
    return 1;
}

int C_Mutex::Unlock() {
    if (m_owner != GetCurrentThreadId()) return 0;
    m_owner = NO_OWNER;
    return ReleaseMutex(m_mutex) ? 1 : 0;
}

}  // namespace kovra
