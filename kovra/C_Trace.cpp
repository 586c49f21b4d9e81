#include "kovra/C_Trace.h"

#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kovra/C_Time.h"
#include "kovra/common/kovra_CreateDirectory.h"
#include "kovra/common/kovra_GetLastName.h"
#include "kovra/common/kovra_safe_vsnprintf.h"

namespace kovra {

namespace {

const wchar_t kLockPrefix[] = L"_lock_";
const int kTraceFlags = _O_BINARY | _O_APPEND | _O_CREAT | _O_RDWR;

// "%06d\t" with the row number; wide enough for any row of a 4 GiB dump.
std::wstring RowStart(unsigned long long number) {
    wchar_t text[32];
    swprintf(text, 32, L"%06llu\t", number);
    return text;
}

void AppendHex(std::wstring& row, unsigned char byte) {
    wchar_t text[4];
    swprintf(text, 4, L"%02X", static_cast<unsigned int>(byte));
    row += text;
}

// "_lock_" before the file's own name, in the file's directory: a name with
// directory parts (C:\logs\app.trc) must not turn into a path that cannot
// exist (_lock_C:\logs\app.trc).
C_WString DefaultLockName(const C_WString& traceName) {
    C_WString last = common::kovra_GetLastName(traceName);
    return traceName.SubString(0, traceName.Length() - last.Length() - 1) + kLockPrefix + last;
}

}  // namespace

C_Trace::C_Trace() : m_traceName(L"Trace.trc"), m_lockMode(0), m_lockHeld(0) {
    m_lockName = DefaultLockName(m_traceName);
}

C_Trace::~C_Trace() { TraceOFF(); }

void C_Trace::SetTraceName(const C_WString& name) {
    if (m_file.IsOpen()) return;
    m_traceName = name;
    m_lockName = DefaultLockName(name);
}

void C_Trace::SetLockName(const C_WString& name) {
    if (m_file.IsOpen()) return;
    m_lockName = name;
}

int C_Trace::TraceON(const int& timeoutSeconds) {
    if (m_file.IsOpen()) return 2;
    if (m_lockMode) {
        const __time64_t start = _time64(nullptr);
        while (!common::kovra_CreateDirectory(m_lockName)) {
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return 0;
            if (timeoutSeconds != -1 && _time64(nullptr) > start + timeoutSeconds) return 0;
            Sleep(20);
        }
        m_lockHeld = 1;
    }
    if (!m_file.Open(m_traceName, kTraceFlags)) {
        ReleaseLock();
        return 2;
    }
    return 1;
}

void C_Trace::ReleaseLock() {
    if (!m_lockHeld) return;
    _wrmdir(m_lockName.GetString());
    m_lockHeld = 0;
}

void C_Trace::TraceOFF() {
    if (!m_file.IsOpen()) return;
    m_file.Close();
    ReleaseLock();
}

void C_Trace::Trace(const wchar_t* text) {
    if (!m_file.IsOpen()) return;
    struct tm now = {};
    C_Time().GetLocalTime(&now);
    wchar_t prefix[128];
    swprintf(prefix, 128, L"[%d/%02d/%02d %02d:%02d:%02d] ", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday,
             now.tm_hour, now.tm_min, now.tm_sec);
    std::wstring entry = prefix;
    if (text) entry += text;
    entry += L'\n';
    m_file.Write(entry.data(), static_cast<int>(entry.size() * sizeof(wchar_t)));
}

void C_Trace::Tracef(const wchar_t* format, ...) {
    if (!m_file.IsOpen() || !format) return;
    wchar_t buffer[260];
    int allocated = 0;
    int length = 0;
    va_list args;
    va_start(args, format);
    wchar_t* text = common::kovra_safe_vsnprintf(buffer, 260, format, args, &allocated, &length);
    va_end(args);
    if (text) Trace(text);
    if (allocated) free(text);
}

void C_Trace::TraceDump(const void* data, const unsigned int& size) {
    if (!m_file.IsOpen() || !data) return;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const unsigned int fullRows = size / 16;
    for (unsigned int row = 0; row < fullRows; ++row) {
        std::wstring text = RowStart(row * 10ull);
        for (int i = 0; i < 16; ++i) {
            if (i > 0) text += L' ';
            AppendHex(text, bytes[row * 16 + static_cast<unsigned int>(i)]);
        }
        Trace(text.c_str());
    }
    if (size % 16 == 0) return;
    std::wstring text = RowStart(fullRows * 10ull);
    for (unsigned int i = fullRows * 16; i < size; ++i) {
        AppendHex(text, bytes[i]);
        text += L' ';
    }
    Trace(text.c_str());
}

void C_Trace::TraceClear() {
    if (m_file.IsOpen()) m_file.SetEndFile(0);
}

}  // namespace kovra
