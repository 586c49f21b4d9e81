#pragma once

#include <windows.h>

#include "kovra/I_Runnable.h"
#include "kovra/KovraApi.h"
#include "kovra/common/UniqueHandle.h"

namespace kovra {

// A thread started with _beginthreadex that runs an I_Runnable: the object
// itself (derive and override Run) or one given to the constructor, which
// must outlive the thread. The object owns the thread handle from Start to
// the Stop or Join that sees the thread end; it never asks the thread to
// stop, so Run must end by itself.
//
// A derived class that supplies Run must Stop (or Join) in its own
// destructor: by the time this class's destructor waits, the derived part
// the thread may still use is gone.
//
// Choices where the behaviour was open:
// - The alive flag belongs to the thread object in both forms: the thread
//   body is given the C_Thread, not the runnable, so IsAlive answers for a
//   separate runnable too (and nothing is written into the runnable).
// - IsAlive is 1 from a successful Start until Run has returned, so it is
//   already true when Start returns, before the new thread got to run.
// - Join and Stop return 0 when the thread has ended (handle closed), 1 on
//   time-out (handle kept), 2 when no thread is held or the wait failed.
class KOVRA_API C_Thread : public I_Runnable {
public:
    C_Thread();
    explicit C_Thread(I_Runnable* runnable);
    ~C_Thread() override;  // as Stop

    // Does nothing: a derived class supplies the work.
    void Run() override {}

    // 0 while a thread handle is held (also after the thread ended, until
    // it is joined) or when the thread cannot be made; 1 when it started.
    int Start();
    // Waits for the thread without limit and forgets it.
    int Stop();
    // 0 and 0xFFFFFFFF wait without limit; other values wait that long and
    // forget the thread only when it ended.
    int Join(unsigned long milliseconds);
    int IsAlive() const;

private:
    C_Thread(const C_Thread&) = delete;
    C_Thread& operator=(const C_Thread&) = delete;

    static unsigned __stdcall Thread(void* self);

    I_Runnable* m_runnable;
    common::UniqueHandle m_thread;  // empty while no thread is held
    volatile LONG m_alive;
};

}  // namespace kovra
