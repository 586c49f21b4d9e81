#pragma once

#include "kovra/C_FileStream.h"
#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {

// The library's diagnostic log: a file ("Trace.trc" unless another name is
// set) to which entries are appended in UTF-16LE without a byte-order mark.
// An entry is "[yyyy/mm/dd hh:mm:ss] " in local time, the text and one line
// feed (no carriage return). TraceDump writes hexadecimal rows of 16 bytes,
// numbered 000000, 000010, ...
//
// The file is opened for appending and deny-write, so without lock mode a
// second process's TraceON fails (2) while one has the file. In lock mode a
// trace object holds a lock directory ("_lock_" and the trace name unless
// set otherwise, beside the file) from TraceON to TraceOFF: creating a directory succeeds
// for exactly one process, so whole periods of tracing are serialised.
//
// Choices where the behaviour was open:
// - The default lock name puts "_lock_" before the last component of the
//   trace name, so the lock directory lies beside the trace file
//   (logs\app.trc locks with logs\_lock_app.trc); prefixing the whole name
//   would make an absolute name a path that cannot exist. The lock
//   directory is created with its missing parents; TraceOFF removes only
//   the lock directory itself.
// - TraceON waits (polling every 20 ms, measured in whole seconds with
//   _time64) only while creating the lock directory fails because it exists
//   or is being removed (ERROR_ALREADY_EXISTS, ERROR_ACCESS_DENIED); any
//   other failure (a bad name, a missing drive) cannot pass by waiting and
//   gives 0 at once, also with the time-out -1.
// - TraceOFF and the destructor remove the lock directory that this object
//   took, whatever the lock mode has been switched to since; they never
//   remove one that another process holds. The destructor ends tracing like
//   TraceOFF, so an object that goes out of scope while on does not leave
//   its lock directory behind for other processes to wait on.
// - Each entry reaches the file in one write, so an entry is never split by
//   a failure between its prefix and its text.
// - Trace of a null text writes an entry with an empty text.
class KOVRA_API C_Trace {
public:
    C_Trace();
    virtual ~C_Trace();

    // Ignored while tracing is on. The trace name also makes the lock name
    // ("_lock_" before its last component).
    void SetTraceName(const C_WString& name);
    void SetLockName(const C_WString& name);
    void OnLock(int mode) { m_lockMode = mode; }
    int IsLockMode() const { return m_lockMode; }
    C_WString GetTraceName() { return m_traceName; }

    // 1 started; 2 already on, or the file could not be opened; 0 the lock
    // directory could not be taken within `timeoutSeconds` (-1: no limit).
    int TraceON(const int& timeoutSeconds);
    // Closes the file and gives up the lock directory.
    void TraceOFF();
    // Appends one entry (nothing while off).
    void Trace(const wchar_t* text);
    void Tracef(const wchar_t* format, ...);
    // Appends the dump rows of `size` bytes.
    void TraceDump(const void* data, const unsigned int& size);
    // Cuts the file to length 0; later entries start it afresh.
    void TraceClear();

private:
    C_Trace(const C_Trace&) = delete;
    C_Trace& operator=(const C_Trace&) = delete;

    void ReleaseLock();

    C_FileStream m_file;
    C_WString m_traceName;
    C_WString m_lockName;
    int m_lockMode;
    int m_lockHeld;  // this object created the lock directory
};

}  // namespace kovra
