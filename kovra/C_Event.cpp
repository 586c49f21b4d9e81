#include "kovra/C_Event.h"

namespace kovra {

C_Event::C_Event() : m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_signal(0) {}

C_Event::~C_Event() {
    if (m_event) CloseHandle(m_event);
}

int C_Event::SetEvent() {
    m_section.Enter();
    m_signal = 1;
    BOOL done = m_event ? ::SetEvent(m_event) : FALSE;
    m_section.Leave();
    return done ? 1 : 0;
}

int C_Event::ResetEvent() {
    m_section.Enter();
    m_signal = 0;
    BOOL done = m_event ? ::ResetEvent(m_event) : FALSE;
    m_section.Leave();
    return done ? 1 : 0;
}

int C_Event::Wait(int milliseconds) {
    if (!m_event) return 2;
    DWORD limit = milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds);
    switch (WaitForSingleObject(m_event, limit)) {
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
