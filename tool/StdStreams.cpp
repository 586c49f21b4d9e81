#include "tool/StdStreams.h"

#include "kovra/common/UniqueHandle.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

using kovra::C_WString;

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
        return CreateFileW(which == STREAM_IN ? L"CONIN$" : L"CONOUT$", GENERIC_READ | GENERIC_WRITE, share, &inherit,
                           OPEN_EXISTING, 0, nullptr);
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
    kovra::common::UniqueFileHandle handle(OpenTarget(which, fileName));
    if (!handle) return false;

    int mode = which == STREAM_IN ? _O_RDONLY : _O_WRONLY;
    mode |= (fileName && which != STREAM_IN) ? _O_BINARY : _O_TEXT;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), mode);
    if (fd < 0) return false;
    (void)handle.Release();  // the descriptor owns it now
    // _dup2 puts an inheritable duplicate at the standard descriptor and
    // makes it the standard handle of that kind.
    int dup = _dup2(fd, which);
    _close(fd);
    if (dup != 0) return false;
    SetStdHandle(StdHandleId(which), reinterpret_cast<HANDLE>(_get_osfhandle(which)));
    return AttachStream(StreamOf(which), which);
}

void ClearStdHandle(int which) { SetStdHandle(StdHandleId(which), nullptr); }

bool ShareStdStream(int which, int from) {
    fflush(StreamOf(from));
    const int fd = _fileno(StreamOf(from));
    if (fd < 0 || _get_osfhandle(fd) == -1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    fflush(StreamOf(which));
    if (_dup2(fd, which) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    SetStdHandle(StdHandleId(which), reinterpret_cast<HANDLE>(_get_osfhandle(which)));
    return AttachStream(StreamOf(which), which);
}

namespace {

// The full path of a file name; empty when the system cannot make one.
C_WString FullPathOf(const C_WString& name) {
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(name.GetString(), MAX_PATH * 4, full, nullptr);
    return n > 0 && n < MAX_PATH * 4 ? C_WString(full) : C_WString();
}

bool SameText(const C_WString& a, const C_WString& b) {
    return CompareStringOrdinal(a.GetString(), a.Length(), b.GetString(), b.Length(), TRUE) == CSTR_EQUAL;
}

// "<what>: <full path> (<the system's reason>)"
C_WString FileFailureMessage(const wchar_t* what, const C_WString& name, unsigned long error) {
    const C_WString full = FullPathOf(name);
    const C_WString& shown = full.Empty() ? name : full;
    wchar_t* reason = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&reason), 0, nullptr);
    C_WString because = length > 0 && reason ? C_WString(reason).Trim() : C_WString::Stringf(L"error %lu", error);
    if (reason) LocalFree(reason);
    return C_WString::Stringf(L"%ls: %ls (%ls)", what, shown.GetString(), because.GetString());
}

}  // namespace

bool IsSameFile(const C_WString& a, const C_WString& b) {
    const C_WString fullA = FullPathOf(a);
    const C_WString fullB = FullPathOf(b);
    if (fullA.Empty() || fullB.Empty()) return SameText(a, b);
    return SameText(fullA, fullB);
}

C_WString OpenFailureMessage(const C_WString& name, unsigned long error) {
    return FileFailureMessage(L"ファイルを開けませんでした", name, error);
}

C_WString WriteFailureMessage(const C_WString& name, unsigned long error) {
    return FileFailureMessage(L"ファイルに書き込めませんでした", name, error);
}

void WriteBytes(const void* data, size_t size, FILE* stream) {
    if (size > 0) fwrite(data, 1, size, stream);
}

void PrintPrompt() { PrintPromptTo(stdout); }

void PrintPromptTo(FILE* stream) {
    char directory[1024];
    memset(directory, 0, sizeof directory);
    DWORD n = GetCurrentDirectoryA(sizeof directory, directory);
    if (n == 0 || n >= sizeof directory) return;
    fwrite(directory, 1, n, stream);
    fwrite(">", 1, 1, stream);
    fflush(stream);
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
