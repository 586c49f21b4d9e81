#include "kovra/C_Event.h"

namespace kovra {

C_Event::C_Event() : m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_signal(0) {}

// The owner closes the event.
C_Event::~C_Event() {}

int C_Event::SetEvent() { return Store(1, ::SetEvent); }

int C_Event::ResetEvent() { return Store(0, ::ResetEvent); }

int C_Event::Store(int signal, BOOL(WINAPI* apply)(HANDLE)) {
    m_section.Enter();
    m_signal = signal;
    BOOL done = m_event ? apply(m_event.Get()) : FALSE;
    m_section.Leave();
    return done ? 1 : 0;
}

int C_Event::Wait(int milliseconds) {
    if (!m_event) return 2;
    DWORD limit = milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds);
    switch (WaitForSingleObject(m_event.Get(), limit)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        return 0;
    case WAIT_TIMEOUT:
        return 1;
    default:
        return 2;
    }
}

int C_Event::IsSignal() const {
    m_section.Enter();
    int signal = m_signal;
    m_section.Leave();
    return signal;
}

}  // namespace kovra
