#include "tool/StdStreams.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace vrek {

namespace {

FILE* StreamOf(int which) {
    switch (which) {
    case STREAM_IN:
        return stdin;
    case STREAM_OUT:
        return stdout;
    default:
        return stderr;
    }
}

DWORD StdHandleId(int which) {
    switch (which) {
    case STREAM_IN:
        return STD_INPUT_HANDLE;
    case STREAM_OUT:
        return STD_OUTPUT_HANDLE;
    default:
        return STD_ERROR_HANDLE;
    }
}

HANDLE OpenTarget(int which, const wchar_t* fileName) {
    // Inheritable: in pass-through mode the command receives these handles.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (!fileName) {
        // "CON" opened for read and write is refused; the console's own
        // buffer names are not.
        return CreateFileW(which == STREAM_IN ? L"CONIN$" : L"CONOUT$", GENERIC_READ | GENERIC_WRITE, share,
                           &inherit, OPEN_EXISTING, 0, nullptr);
    }
    if (which == STREAM_IN)
        return CreateFileW(fileName, GENERIC_READ, share, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return CreateFileW(fileName, GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Makes `stream` use descriptor `fd`. A stream that started without a
// descriptor keeps that mark even after _dup2 has filled the descriptor, so
// with the Microsoft C runtime (msvcrt), whose FILE layout is public, the
// stream is pointed at it directly; the Universal C runtime reopens such
// streams itself and never needs this.
bool AttachStream(FILE* stream, int fd) {
    if (_fileno(stream) == fd) return true;
#if defined(__MINGW32__) && !defined(_UCRT)
    fflush(stream);
    stream->_file = fd;
    return _fileno(stream) == fd;
#else
    return false;
#endif
}

}  // namespace

bool BindStdStreamByHandle(int which, const wchar_t* fileName) {
    HANDLE handle = OpenTarget(which, fileName);
    if (handle == INVALID_HANDLE_VALUE) return false;

    int mode = which == STREAM_IN ? _O_RDONLY : _O_WRONLY;
    mode |= (fileName && which != STREAM_IN) ? _O_BINARY : _O_TEXT;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), mode);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    // _dup2 puts an inheritable duplicate at the standard descriptor and
    // makes it the standard handle of that kind.
    int dup = _dup2(fd, which);
    _close(fd);
    if (dup != 0) return false;
    SetStdHandle(StdHandleId(which), reinterpret_cast<HANDLE>(_get_osfhandle(which)));
    return AttachStream(StreamOf(which), which);
}

bool BindStdStream(int which, const wchar_t* fileName) {
    FILE* stream = StreamOf(which);
    FILE* reopened = nullptr;
    if (fileName)
        reopened = _wfreopen(fileName, which == STREAM_IN ? L"r" : L"wb", stream);
    else
        reopened = freopen("CON", which == STREAM_IN ? "r" : "w", stream);
    if (reopened) return true;
    return BindStdStreamByHandle(which, fileName);
}

}  // namespace vrek
