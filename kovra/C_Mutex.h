#pragma once

#include <windows.h>

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {

// A system mutex, named (shared by every process that uses the name) or
// unnamed (private to this object), with a record of which thread locked
// it through this object. Locks through one object do not nest.
//
// When the system refuses the mutex (CreateMutexW fails, e.g. because the
// name belongs to an object of another kind), the object has no handle:
// Lock and Unlock then return 0 and never report a lock that is not held;
// callers that go on do so without exclusion.
class KOVRA_API C_Mutex {
public:
    C_Mutex();                                // unnamed
    explicit C_Mutex(const C_WString& name);  // unnamed when the name is empty
    // Closes the handle. A lock still held stays with the locking thread
    // until it ends; other waiters then get it as abandoned.
    virtual ~C_Mutex();

    // 1 when this call acquired the lock (an abandoned mutex, whose holder
    // ended without releasing it, counts as acquired); 0 when the calling
    // thread already holds it through this object, when there is no handle
    // and when the wait fails. Waits without a time limit.
    [[nodiscard]] int Lock();
    // 0 when the calling thread does not hold the lock through this object;
    // else the result of ReleaseMutex.
    int Unlock();
    int IsLockedByCurrentThread() const { return m_owner == GetCurrentThreadId() ? 1 : 0; }
    // The thread id that holds the lock through this object, 0xFFFFFFFF
    // when this object does not hold it.
    unsigned long GetLockedID() const { return m_owner; }
    // The mutex handle, null when the system refused to create it.
    HANDLE GetHandle() const { return m_mutex; }

private:
    C_Mutex(const C_Mutex&) = delete;
    C_Mutex& operator=(const C_Mutex&) = delete;

    void Create(const wchar_t* name);

    HANDLE m_mutex;
    unsigned long m_owner;
};

}  // namespace kovra
