// The children of the file tests: this test program re-run with
// --child=<name>.
#include <windows.h>

#include <fcntl.h>

#include <cstdio>
#include <string>

#include "kovra/C_FileStream.h"
#include "kovra/C_Trace.h"
#include "support/TestSupport.h"

using namespace kovra;

namespace {

// Says "ready", then waits for the end of the input: 0.
int ReadyUntilEndOfInput() {
    fputs("ready\n", stdout);
    fflush(stdout);
    while (getchar() != EOF) continue;
    return 0;
}

}  // namespace

// hold_file PATH MODE: holds PATH until the end of its input, read-only
// with its first 10 bytes locked ("lock") or traced to without lock mode
// ("trace").
TEST_CHILD(hold_file) {
    if (argc < 2) return 2;
    C_Trace trace;
    C_FileStream file;
    if (std::wstring(argv[1]) == L"trace") {
        trace.SetTraceName(argv[0]);
        if (trace.TraceON(0) != 1) return 3;
    } else if (!file.Open(argv[0], _O_BINARY | _O_RDONLY) || file.Lock(static_cast<int64_t>(0), 10) != 0) {
        return 3;
    }
    return ReadyUntilEndOfInput();
}

// trace_periods PATH N: says "ready"; at the end of its input, N periods of
// tracing in lock mode, each "<pid> begin", three lines and "<pid> end".
TEST_CHILD(trace_periods) {
    if (argc < 2) return 2;
    ReadyUntilEndOfInput();
    unsigned long pid = GetCurrentProcessId();
    for (int period = 0, n = _wtoi(argv[1]); period < n; ++period) {
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
