#pragma once

#include <windows.h>

#include "kovra/C_CriticalSection.h"
#include "kovra/KovraApi.h"
#include "kovra/common/UniqueHandle.h"

namespace kovra {

// An unnamed manual-reset event that also remembers whether it is set, so
// the state can be asked without a wait. Private to the process.
//
// Choices where the behaviour was open:
// - SetEvent and ResetEvent return the system call's result (1 or 0). When
//   the system refused the event (CreateEventW failed, no handle), they
//   still keep the flag, and Wait returns 2 at once.
// - Wait treats every negative time as no limit.
class KOVRA_API C_Event {
public:
    C_Event();  // not signalled
    virtual ~C_Event();

    virtual int SetEvent();
    virtual int ResetEvent();
    // 0 signalled (also when abandoned), 1 time-out, 2 failure.
    virtual int Wait(int milliseconds);
    virtual int IsSignal() const;
    virtual HANDLE GetHandle() const { return m_event.Get(); }

protected:
    C_CriticalSection& GetCriticalSection() const { return m_section; }

private:
    C_Event(const C_Event&) = delete;
    C_Event& operator=(const C_Event&) = delete;

    // Sets the flag and applies SetEvent or ResetEvent, inside the section.
    int Store(int signal, BOOL(WINAPI* apply)(HANDLE));

    common::UniqueHandle m_event;  // empty when the system refused it
    int m_signal;
    mutable C_CriticalSection m_section;  // guards m_signal
};

}  // namespace kovra
