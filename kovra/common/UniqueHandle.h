#pragma once

#include <windows.h>

#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// The empty value of a handle kind. Most kernel objects (processes,
// threads, events, mutexes, jobs, mappings) are null when absent; files,
// pipes opened by name and Toolhelp snapshots are INVALID_HANDLE_VALUE.
struct NullHandleTraits {
    static HANDLE Empty() { return nullptr; }
};
struct InvalidHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
};

// The one owner of a handle: closes it when it goes or is replaced. Never
// copied; moved by Release and Reset. The size of a HANDLE, so it may stand
// where a HANDLE stood in a fixed layout.
template <class Traits>
class UniqueHandleOf {
public:
    UniqueHandleOf() : m_handle(Traits::Empty()) {}
    explicit UniqueHandleOf(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandleOf() { Reset(); }
    UniqueHandleOf(const UniqueHandleOf&) = delete;
    UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
    UniqueHandleOf(UniqueHandleOf&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != Traits::Empty(); }
    explicit operator bool() const { return Valid(); }
    // The handle, no longer owned.
    [[nodiscard]] HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = Traits::Empty();
        return handle;
    }
    // Closes the handle held and owns `handle`. The last error survives, so
    // a caller may reset on a failure path before reading it.
    void Reset(HANDLE handle = Traits::Empty()) {
        if (m_handle != Traits::Empty() && m_handle != handle) {
            const DWORD error = GetLastError();
            CloseHandle(m_handle);
            SetLastError(error);
        }
        m_handle = handle;
    }
    // For an API that stores a new handle through a pointer; the old one is
    // closed first.
    HANDLE* Put() {
        Reset();
        return &m_handle;
    }

private:
    HANDLE m_handle;
};

using UniqueHandle = UniqueHandleOf<NullHandleTraits>;
using UniqueFileHandle = UniqueHandleOf<InvalidHandleTraits>;

#if defined(_MSC_VER)
// Exported library classes hold owners: their instantiations are exported
// with them, as a class a client reaches must be.
template class KOVRA_API UniqueHandleOf<NullHandleTraits>;
template class KOVRA_API UniqueHandleOf<InvalidHandleTraits>;
#endif

static_assert(sizeof(UniqueHandle) == sizeof(HANDLE), "an owner stands where a HANDLE stood");
static_assert(sizeof(UniqueFileHandle) == sizeof(HANDLE), "an owner stands where a HANDLE stood");

// Holds a mutex-like lock (an object with Lock returning non-zero when taken,
// and Unlock) for a scope; unlocks only what it took.
template <class Lockable>
class ScopedLock {
public:
    explicit ScopedLock(Lockable* lockable) : m_lockable(lockable), m_locked(lockable && lockable->Lock() != 0) {}
    ~ScopedLock() {
        if (m_locked) m_lockable->Unlock();
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    // Whether the lock is really held (a failed wait leaves it unheld).
    bool Held() const { return m_locked; }

private:
    Lockable* m_lockable;
    bool m_locked;
};

}  // namespace common
}  // namespace kovra
