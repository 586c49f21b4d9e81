// The children of the file tests: this test program re-run with
// --child=<name>.
#include <windows.h>

#include <fcntl.h>

#include <string>

#include "kovra/C_FileStream.h"
#include "kovra/C_Trace.h"
#include "support/TestSupport.h"

using namespace kovra;

namespace {

// Sets READY, then waits for QUIT: 0, or 6 when QUIT never came.
int SignalAndWait(const wchar_t* readyName, const wchar_t* quitName) {
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, readyName);
    HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, quitName);
    if (!ready || !quit) return 5;
    SetEvent(ready);
    return WaitForSingleObject(quit, 30000) == WAIT_OBJECT_0 ? 0 : 6;
}

}  // namespace

// hold_file PATH MODE READY QUIT: keeps PATH from READY to QUIT, opened
// read-write ("open"), read-only with its first 10 bytes locked ("lock"),
// or traced to without lock mode ("trace").
TEST_CHILD(hold_file) {
    if (argc < 4) return 2;
    std::wstring mode = argv[1];
    C_Trace trace;
    if (mode == L"trace") {
        trace.SetTraceName(argv[0]);
        return trace.TraceON(0) == 1 ? SignalAndWait(argv[2], argv[3]) : 3;
    }
    C_FileStream file;
    if (!file.Open(argv[0], mode == L"lock" ? _O_BINARY | _O_RDONLY : _O_BINARY | _O_CREAT | _O_RDWR)) return 3;
    if (mode == L"lock" && file.Lock(static_cast<int64_t>(0), 10) != 0) return 4;
    return SignalAndWait(argv[2], argv[3]);
}

// trace_periods PATH START N: once START is set, N periods of tracing in
// lock mode, each "<pid> begin", three lines and "<pid> end".
TEST_CHILD(trace_periods) {
    if (argc < 3) return 2;
    HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
    if (!start || WaitForSingleObject(start, 30000) != WAIT_OBJECT_0) return 5;
    unsigned long pid = GetCurrentProcessId();
    for (int period = 0, n = _wtoi(argv[2]); period < n; ++period) {
        C_Trace trace;
        trace.SetTraceName(argv[0]);
        trace.OnLock(1);
        if (trace.TraceON(-1) != 1) return 3;
        trace.Tracef(L"%lu begin", pid);
        for (int line = 0; line < 3; ++line) trace.Tracef(L"%lu line %d", pid, line);
        trace.Tracef(L"%lu end", pid);
        trace.TraceOFF();
    }
    return 0;
}

// trace_on PATH LOCK: TraceON(-1) in lock mode with that lock directory; its
// result.
TEST_CHILD(trace_on) {
    if (argc < 2) return 2;
    C_Trace trace;
    trace.SetTraceName(argv[0]);
    trace.SetLockName(argv[1]);
    trace.OnLock(1);
    return trace.TraceON(-1);
}
