#include "tool/StdStreams.h"

#include "kovra/C_String.h"
#include "kovra/common/UniqueHandle.h"
#include "kovra/common/kovra_GetCurrentDirectory.h"
#include "tool/PromptText.h"

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
    // Readers welcome (type, a tail), a second writer refused. The null
    // device is no file of the job's own.
    const bool nul = CompareStringOrdinal(fileName, -1, L"NUL", -1, TRUE) == CSTR_EQUAL;
    return CreateFileW(fileName, GENERIC_WRITE, nul ? share : FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The failed writes' reasons, stdout's and stderr's: the first of each.
unsigned long g_writeError[2] = {0, 0};

int SlotOf(FILE* stream) { return stream == stdout ? 0 : stream == stderr ? 1 : -1; }

void NoteWriteError(FILE* stream, unsigned long error) {
    const int slot = SlotOf(stream);
    if (slot >= 0 && g_writeError[slot] == 0) g_writeError[slot] = error != 0 ? error : ERROR_INVALID_HANDLE;
}

// The console handle under a stream, or null when it writes elsewhere.
HANDLE ConsoleOf(FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) return nullptr;
    const intptr_t handle = _get_osfhandle(fd);
    DWORD mode = 0;
    if (handle == -1 || handle == -2 || !GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode)) return nullptr;
    return reinterpret_cast<HANDLE>(handle);
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

// The system's text for an error code, or its number where there is none.
C_WString SystemReason(unsigned long error) {
    wchar_t* reason = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&reason), 0, nullptr);
    C_WString because = length > 0 && reason ? C_WString(reason).Trim() : C_WString::Stringf(L"error %lu", error);
    if (reason) LocalFree(reason);
    return because;
}

// "<what>: <full path> (<the system's reason>)"
C_WString FileFailureMessage(const wchar_t* what, const C_WString& name, unsigned long error) {
    const C_WString full = FullPathOf(name);
    const C_WString& shown = full.Empty() ? name : full;
    return C_WString::Stringf(L"%ls: %ls (%ls)", what, shown.GetString(), SystemReason(error).GetString());
}

}  // namespace

bool IsSameFile(HANDLE opened, const C_WString& name) {
    // Attributes only: no sharing conflict with a file open for writing.
    kovra::common::UniqueFileHandle other(CreateFileW(name.GetString(), FILE_READ_ATTRIBUTES,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION a = {};
    BY_HANDLE_FILE_INFORMATION b = {};
    if (!other || !GetFileInformationByHandle(opened, &a) || !GetFileInformationByHandle(other.Get(), &b)) return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

C_WString OpenFailureMessage(const C_WString& name, unsigned long error) {
    return FileFailureMessage(L"ファイルを開けませんでした", name, error);
}

C_WString WriteFailureMessage(const C_WString& name, unsigned long error) {
    return FileFailureMessage(L"ファイルに書き込めませんでした", name, error);
}

C_WString StreamWriteFailureMessage(int which, unsigned long error) {
    return C_WString::Stringf(
        L"%ls (%ls)", which == STREAM_ERR ? L"標準エラー出力に書き込めませんでした" : L"標準出力に書き込めませんでした",
        SystemReason(error).GetString());
}

C_WString StartFailureMessage(const C_WString& command, unsigned long error) {
    return C_WString::Stringf(L"コマンドを開始できませんでした: %ls (%ls)", command.GetString(),
                              SystemReason(error).GetString());
}

void WriteBytes(const void* data, size_t size, FILE* stream) {
    if (size == 0) return;
    _doserrno = 0;
    const size_t written = fwrite(data, 1, size, stream);
    if (written == size) return;
    const unsigned long error = _doserrno;
    // On Windows the runtime's path comes first and stays the one used.
    if (HANDLE console = ConsoleOf(stream)) {
        clearerr(stream);
        DWORD done = 0;
        const DWORD rest = static_cast<DWORD>(size - written);
        if (WriteFile(console, static_cast<const char*>(data) + written, rest, &done, nullptr) && done == rest) return;
        NoteWriteError(stream, GetLastError());
        return;
    }
    NoteWriteError(stream, error);
}

unsigned long LastWriteError(FILE* stream) {
    const int slot = SlotOf(stream);
    if (slot < 0) return 0;
    // A stream that never had a file fails without a system error.
    if (g_writeError[slot] == 0 && ferror(stream)) NoteWriteError(stream, _doserrno);
    return g_writeError[slot];
}

void PrintPromptTo(FILE* stream, const C_WString& folder) {
    const C_WString shown = folder.Empty() ? kovra::common::kovra_GetCurrentDirectory() : folder;
    if (shown.Empty()) return;
    // In the ANSI code page, as the shell's own prompt is written.
    const kovra::C_String narrow = C_WString(PromptFor(shown.GetString()).c_str()).ToString();
    WriteBytes(narrow.GetString(), static_cast<size_t>(narrow.ByteLength()), stream);
    fflush(stream);
}

bool IsConsoleStream(FILE* stream) { return ConsoleOf(stream) != nullptr; }

bool BindStdStream(int which, const wchar_t* fileName) {
    // _wfreopen would share the file for writing with anyone.
    if (fileName && which != STREAM_IN) return BindStdStreamByHandle(which, fileName);
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
