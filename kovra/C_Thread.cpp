#include "kovra/C_Thread.h"

#include <process.h>

namespace kovra {

C_Thread::C_Thread() : m_runnable(this), m_alive(0) {}

C_Thread::C_Thread(I_Runnable* runnable) : m_runnable(runnable ? runnable : this), m_alive(0) {}

C_Thread::~C_Thread() { Stop(); }

unsigned __stdcall C_Thread::Thread(void* self) {
    C_Thread* thread = static_cast<C_Thread*>(self);
    InterlockedExchange(&thread->m_alive, 1);
    thread->m_runnable->Run();
    InterlockedExchange(&thread->m_alive, 0);
    _endthreadex(0);
    return 0;
}

int C_Thread::Start() {
    if (m_thread) return 0;
    InterlockedExchange(&m_alive, 1);
    uintptr_t handle = _beginthreadex(nullptr, 0, &C_Thread::Thread, this, 0, nullptr);
    if (handle == 0) {
        InterlockedExchange(&m_alive, 0);
        return 0;
    }
    m_thread.Reset(reinterpret_cast<HANDLE>(handle));
    return 1;
}

int C_Thread::Stop() { return Join(INFINITE); }

int C_Thread::Join(unsigned long milliseconds) {
    if (!m_thread) return 2;
    DWORD limit = milliseconds == 0 ? INFINITE : milliseconds;
    DWORD outcome = WaitForSingleObject(m_thread.Get(), limit);
    if (outcome == WAIT_TIMEOUT) return 1;
    if (outcome != WAIT_OBJECT_0) return 2;
    m_thread.Reset();
    return 0;
}

int C_Thread::IsAlive() const { return m_alive ? 1 : 0; }

}  // namespace kovra
